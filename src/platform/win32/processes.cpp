// Processes over CreateProcessA and the process handle it returns.
#include "platform/win32/win32_platform.h"

#include <vector>

namespace crx {
namespace win32 {

namespace {

class Win32Process final : public Process {
 public:
  Win32Process(HANDLE handle, DWORD id) : handle_(handle), id_(id) {}
  ~Win32Process() override { ::CloseHandle(handle_); }
  Win32Process(const Win32Process&) = delete;
  Win32Process& operator=(const Win32Process&) = delete;

  uint32_t Id() const override { return id_; }

  WaitResult Wait(uint32_t milliseconds) override {
    switch (::WaitForSingleObject(handle_, milliseconds)) {
      case WAIT_OBJECT_0: return WaitResult::kDone;
      case WAIT_TIMEOUT: return WaitResult::kTimeout;
      default: return WaitResult::kFailed;
    }
  }

  bool ExitCode(uint32_t* code) override {
    DWORD value = 0;
    if (!::GetExitCodeProcess(handle_, &value)) return false;
    *code = value;
    return true;
  }

  bool Terminate(uint32_t exit_code) override {
    return ::TerminateProcess(handle_, exit_code) != FALSE;
  }

 private:
  HANDLE handle_;
  DWORD id_;
};

// The part of a command line after the program name, by the rule the C
// runtime uses for WinMain's command line: a quoted name ends at its
// closing quote, an unquoted one at the first blank; blanks after the name
// are skipped.
const char* SkipProgramName(const char* line) {
  auto blank = [](char c) { return c != '\0' && static_cast<unsigned char>(c) <= ' '; };
  if (*line == '"') {
    ++line;
    while (*line != '\0' && *line != '"') ++line;
    if (*line == '"') ++line;
  } else {
    while (*line != '\0' && !blank(*line)) ++line;
  }
  while (blank(*line)) ++line;
  return line;
}

class Win32Processes final : public Processes {
 public:
  std::unique_ptr<Process> Start(const std::string& command_line,
                                 const StartOptions& options) override {
    // CreateProcessA may write into the command line: hand it a copy.
    std::vector<char> line(command_line.begin(), command_line.end());
    line.push_back('\0');
    STARTUPINFOA startup;
    ::ZeroMemory(&startup, sizeof startup);
    startup.cb = sizeof startup;
    if (options.hidden) {
      startup.dwFlags = STARTF_USESHOWWINDOW;
      startup.wShowWindow = SW_HIDE;
    }
    PROCESS_INFORMATION info;
    ::ZeroMemory(&info, sizeof info);
    if (!::CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr,
                          options.folder.empty() ? nullptr : options.folder.c_str(), &startup,
                          &info)) {
      return nullptr;
    }
    ::CloseHandle(info.hThread);
    return std::make_unique<Win32Process>(info.hProcess, info.dwProcessId);
  }

  bool RunShellCommand(const std::string& command, const std::string& folder,
                       uint32_t* exit_code) override {
    std::string shell;
    bool found = FillString(&shell, [](char* buf, DWORD size) {
      return ::GetEnvironmentVariableA("COMSPEC", buf, size);
    });
    if (!found || shell.empty()) shell = "cmd.exe";
    std::string line;
    if (shell.find(' ') != std::string::npos && shell.front() != '"') {
      line = "\"" + shell + "\"";
    } else {
      line = shell;
    }
    line += " /c ";
    line += command;
    StartOptions options;
    options.folder = folder;
    std::unique_ptr<Process> process = Start(line, options);
    if (!process) return false;
    if (process->Wait(kInfinite) != WaitResult::kDone) return false;
    uint32_t code = 0;
    if (!process->ExitCode(&code)) return false;
    if (exit_code) *exit_code = code;
    return true;
  }

  uint32_t CurrentProcessId() override { return ::GetCurrentProcessId(); }

  std::string ProgramPath() override {
    std::string path;
    FillString(&path, [](char* buf, DWORD size) { return ::GetModuleFileNameA(nullptr, buf, size); });
    return path;
  }

  std::string CommandLineTail() override {
    const char* line = ::GetCommandLineA();
    return line ? std::string(SkipProgramName(line)) : std::string();
  }
};

}  // namespace

std::unique_ptr<Processes> NewProcesses() { return std::make_unique<Win32Processes>(); }

}  // namespace win32
}  // namespace crx
