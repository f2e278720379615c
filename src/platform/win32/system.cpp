// Environment, Clock and Terminal over kernel32 and advapi32.
#include "platform/win32/win32_platform.h"

namespace crx {
namespace win32 {

namespace {

// GetWindowsDirectory and friends end in a back-slash only at a drive
// root; the interface promises none except there ("C:\\" stays).
std::string WithoutTrailingSlash(std::string path) {
  while (path.size() > 3 && (path.back() == '\\' || path.back() == '/')) path.pop_back();
  return path;
}

std::string WideToAnsi(const wchar_t* text) {
  int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  ::WideCharToMultiByte(CP_ACP, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.resize(static_cast<size_t>(size) - 1);
  return out;
}

class Win32Environment final : public Environment {
 public:
  bool Get(const std::string& name, std::string* value) override {
    // A variable set to the empty text also yields 0: only
    // ERROR_ENVVAR_NOT_FOUND means it is missing.
    char probe[1];
    ::SetLastError(ERROR_SUCCESS);
    DWORD n = ::GetEnvironmentVariableA(name.c_str(), probe, sizeof probe);
    if (n == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      value->clear();
      return true;
    }
    std::string out;
    bool ok = FillString(&out, [&name](char* buf, DWORD size) {
      return ::GetEnvironmentVariableA(name.c_str(), buf, size);
    });
    if (!ok) {
      // Removed or emptied between the two calls.
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return false;
      out.clear();
    }
    *value = out;
    return true;
  }

  bool Set(const std::string& name, const std::string& value) override {
    return ::SetEnvironmentVariableA(name.c_str(), value.c_str()) != FALSE;
  }

  bool Unset(const std::string& name) override {
    return ::SetEnvironmentVariableA(name.c_str(), nullptr) != FALSE;
  }

  std::string UserName() override {
    char buffer[257];  // UNLEN + 1
    DWORD size = sizeof buffer;
    if (::GetUserNameA(buffer, &size)) return buffer;
    if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return std::string();
    std::string out(size, '\0');
    if (!::GetUserNameA(&out[0], &size)) return std::string();
    out.resize(out.find('\0') == std::string::npos ? out.size() : out.find('\0'));
    return out;
  }

  std::string ComputerName() override {
    char buffer[MAX_COMPUTERNAME_LENGTH + 1];
    DWORD size = sizeof buffer;
    if (::GetComputerNameA(buffer, &size)) return std::string(buffer, size);
    if (::GetLastError() != ERROR_BUFFER_OVERFLOW || size == 0) return std::string();
    std::string out(size, '\0');
    if (!::GetComputerNameA(&out[0], &size)) return std::string();
    out.resize(size);
    return out;
  }

  std::string WindowsFolder() override {
    std::string out;
    FillString(&out, [](char* buf, DWORD size) { return ::GetWindowsDirectoryA(buf, size); });
    return WithoutTrailingSlash(out);
  }

  std::string SystemFolder() override {
    std::string out;
    FillString(&out, [](char* buf, DWORD size) { return ::GetSystemDirectoryA(buf, size); });
    return WithoutTrailingSlash(out);
  }

  std::string TempPath() override {
    std::string out;
    FillString(&out, [](char* buf, DWORD size) { return ::GetTempPathA(size, buf); });
    if (!out.empty() && out.back() != '\\') out += '\\';
    return out;
  }

  OsVersion Version() override {
    OsVersion v;
    // GetVersionEx reports the version the program is manifested for;
    // RtlGetVersion tells the truth on every NT system.
    using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
    HMODULE ntdll = ::GetModuleHandleA("ntdll.dll");
    FARPROC proc = ntdll ? ::GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
    if (proc) {
      auto rtl_get_version =
          reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(proc));
      OSVERSIONINFOW info;
      ::ZeroMemory(&info, sizeof info);
      info.dwOSVersionInfoSize = sizeof info;
      if (rtl_get_version(&info) == 0) {
        v.major = info.dwMajorVersion;
        v.minor = info.dwMinorVersion;
        v.build = info.dwBuildNumber;
        v.platform_id = info.dwPlatformId;
        v.service_pack = WideToAnsi(info.szCSDVersion);
        return v;
      }
    }
    OSVERSIONINFOA info;
    ::ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    if (::GetVersionExA(&info)) {
      v.major = info.dwMajorVersion;
      v.minor = info.dwMinorVersion;
      v.build = info.dwBuildNumber;
      v.platform_id = info.dwPlatformId;
      // Windows 95 systems keep the version in the build number's high word.
      if (v.platform_id == VER_PLATFORM_WIN32_WINDOWS) v.build &= 0xFFFF;
      v.service_pack = info.szCSDVersion;
    }
    return v;
  }

  bool IsAdministrator() override {
    SID_IDENTIFIER_AUTHORITY nt_authority = SECURITY_NT_AUTHORITY;
    PSID administrators = nullptr;
    if (!::AllocateAndInitializeSid(&nt_authority, 2, SECURITY_BUILTIN_DOMAIN_RID,
                                    DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0,
                                    &administrators)) {
      return false;
    }
    // A null token means the calling thread's own (impersonation or
    // process) token; a filtered token holds the group for denial only
    // and is not counted as a member.
    BOOL member = FALSE;
    if (!::CheckTokenMembership(nullptr, administrators, &member)) member = FALSE;
    ::FreeSid(administrators);
    return member != FALSE;
  }
};

SystemTime FromSystemtime(const SYSTEMTIME& st) {
  SystemTime t;
  t.year = st.wYear;
  t.month = st.wMonth;
  t.day_of_week = st.wDayOfWeek;
  t.day = st.wDay;
  t.hour = st.wHour;
  t.minute = st.wMinute;
  t.second = st.wSecond;
  t.milliseconds = st.wMilliseconds;
  return t;
}

class Win32Clock final : public Clock {
 public:
  SystemTime UtcNow() override {
    SYSTEMTIME st;
    ::GetSystemTime(&st);
    return FromSystemtime(st);
  }
  SystemTime LocalNow() override {
    SYSTEMTIME st;
    ::GetLocalTime(&st);
    return FromSystemtime(st);
  }
  uint32_t TickCount() override { return ::GetTickCount(); }
  void Sleep(uint32_t milliseconds) override { ::Sleep(milliseconds); }
};

bool IsUsable(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }

bool IsConsole(HANDLE h) {
  DWORD mode = 0;
  // The NUL device is a character device too, but has no console mode.
  return IsUsable(h) && ::GetFileType(h) == FILE_TYPE_CHAR && ::GetConsoleMode(h, &mode);
}

void WriteAll(HANDLE h, const std::string& text) {
  // A window program started without a console has no standard handles:
  // its output goes nowhere.
  if (!IsUsable(h)) return;
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    DWORD step = left > 0x10000 ? 0x10000 : static_cast<DWORD>(left);
    DWORD written = 0;
    if (!::WriteFile(h, p, step, &written, nullptr) || written == 0) return;
    p += written;
    left -= written;
  }
}

// Set by the first Ctrl-C after CatchInterrupt; the second one is left to
// the system, which ends the program.
volatile LONG interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT) return FALSE;
  return ::InterlockedExchange(&interrupted, 1) == 0 ? TRUE : FALSE;
}

class Win32Terminal final : public Terminal {
 public:
  bool CatchInterrupt() override { return ::SetConsoleCtrlHandler(OnConsoleControl, TRUE) != 0; }
  bool Interrupted() override { return interrupted != 0; }

  bool IsInteractive() override {
    return IsConsole(::GetStdHandle(STD_INPUT_HANDLE)) &&
           IsConsole(::GetStdHandle(STD_OUTPUT_HANDLE));
  }
  bool ErrorIsTerminal() override { return IsConsole(::GetStdHandle(STD_ERROR_HANDLE)); }

  bool ReadLine(std::string* line) override {
    HANDLE in = ::GetStdHandle(STD_INPUT_HANDLE);
    for (;;) {
      size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        size_t cut = end > 0 && pending_[end - 1] == '\r' ? end - 1 : end;
        line->assign(pending_, 0, cut);
        pending_.erase(0, end + 1);
        return true;
      }
      char buffer[512];
      DWORD got = 0;
      // ReadFile on a console reads one edited line and reports Ctrl+Z at
      // the start of a line as the end of input.
      if (at_end_ || !IsUsable(in) || !::ReadFile(in, buffer, sizeof buffer, &got, nullptr) ||
          got == 0) {
        at_end_ = true;
        if (pending_.empty()) return false;
        size_t cut = pending_.back() == '\r' ? pending_.size() - 1 : pending_.size();
        line->assign(pending_, 0, cut);
        pending_.clear();
        return true;
      }
      pending_.append(buffer, got);
    }
  }

  void Write(const std::string& text) override {
    WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), text);
  }

  void WriteError(const std::string& text) override {
    WriteAll(::GetStdHandle(STD_ERROR_HANDLE), text);
  }

  int Width() override {
    CONSOLE_SCREEN_BUFFER_INFO info;
    HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (IsUsable(out) && ::GetConsoleScreenBufferInfo(out, &info)) {
      int width = info.srWindow.Right - info.srWindow.Left + 1;
      if (width > 0) return width;
    }
    return 80;
  }

 private:
  std::string pending_;  // bytes read past the last line handed out
  bool at_end_ = false;
};

}  // namespace

std::unique_ptr<Environment> NewEnvironment() { return std::make_unique<Win32Environment>(); }
std::unique_ptr<Clock> NewClock() { return std::make_unique<Win32Clock>(); }
std::unique_ptr<Terminal> NewTerminal() { return std::make_unique<Win32Terminal>(); }

}  // namespace win32
}  // namespace crx
