// Environment, clock, terminal and shell services of the emulated machine.
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <sys/ioctl.h>
#include <time.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/format.h"
#include "common/winpath.h"
#include "platform/posix/posix_platform.h"
#include "platform/posix/shell_link.h"

extern char** environ;

namespace crx {

namespace {

constexpr uint32_t kErrorEnvvarNotFound = 203;

// The names of the variables whose name equals `name` without regard to
// case, as Windows compares them.
std::vector<std::string> MatchingNames(const std::string& name) {
  std::vector<std::string> names;
  for (char** e = environ; e && *e; ++e) {
    const char* eq = std::strchr(*e, '=');
    if (!eq || eq == *e) continue;
    std::string n(*e, static_cast<size_t>(eq - *e));
    if (winpath::EqualsNoCase(n, name)) names.push_back(n);
  }
  return names;
}

class PosixEnvironment : public Environment {
 public:
  explicit PosixEnvironment(Machine& machine) : machine_(machine) {}

  bool Get(const std::string& name, std::string* value) override {
    if (name.empty()) return Fail(kErrorEnvvarNotFound);
    if (const char* v = std::getenv(name.c_str())) {
      *value = v;
      return true;
    }
    std::vector<std::string> names = MatchingNames(name);
    if (names.empty()) return Fail(kErrorEnvvarNotFound);
    *value = std::getenv(names[0].c_str());
    return true;
  }

  bool Set(const std::string& name, const std::string& value) override {
    if (name.empty() || name.find('=') != std::string::npos) return Fail(kErrorInvalidParameter);
    std::vector<std::string> names = MatchingNames(name);
    // An existing variable keeps the spelling of its name.
    std::string use = names.empty() ? name : names[0];
    for (size_t i = 1; i < names.size(); ++i) ::unsetenv(names[i].c_str());
    if (::setenv(use.c_str(), value.c_str(), 1) != 0) return Fail(Win32ErrorFromErrno(errno));
    return true;
  }

  bool Unset(const std::string& name) override {
    if (name.empty() || name.find('=') != std::string::npos) return Fail(kErrorInvalidParameter);
    for (const std::string& n : MatchingNames(name)) ::unsetenv(n.c_str());
    return true;
  }

  std::string UserName() override { return machine_.Settings().user_name; }
  std::string ComputerName() override { return machine_.Settings().computer_name; }
  std::string WindowsFolder() override { return "C:\\WINDOWS"; }
  std::string SystemFolder() override { return "C:\\WINDOWS\\system32"; }

  std::string TempPath() override {
    std::string path;
    if (!Get("TMP", &path) && !Get("TEMP", &path) && !Get("USERPROFILE", &path)) {
      path = WindowsFolder();
    }
    path = machine_.FullPath(path);
    if (path.empty() || path.back() != '\\') path += '\\';
    return path;
  }

  OsVersion Version() override { return machine_.Settings().version; }
  bool IsAdministrator() override { return machine_.Settings().administrator; }

 private:
  Machine& machine_;
};

SystemTime FromTm(const struct tm& t, long nanoseconds) {
  SystemTime s;
  s.year = static_cast<uint16_t>(t.tm_year + 1900);
  s.month = static_cast<uint16_t>(t.tm_mon + 1);
  s.day_of_week = static_cast<uint16_t>(t.tm_wday);
  s.day = static_cast<uint16_t>(t.tm_mday);
  s.hour = static_cast<uint16_t>(t.tm_hour);
  s.minute = static_cast<uint16_t>(t.tm_min);
  s.second = static_cast<uint16_t>(t.tm_sec > 59 ? 59 : t.tm_sec);
  s.milliseconds = static_cast<uint16_t>(nanoseconds / 1000000);
  return s;
}

class PosixClock : public Clock {
 public:
  SystemTime UtcNow() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    ::gmtime_r(&ts.tv_sec, &t);
    return FromTm(t, ts.tv_nsec);
  }

  SystemTime LocalNow() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_REALTIME, &ts);
    struct tm t;
    ::localtime_r(&ts.tv_sec, &t);
    return FromTm(t, ts.tv_nsec);
  }

  uint32_t TickCount() override {
    struct timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
  }

  void Sleep(uint32_t milliseconds) override {
    struct timespec ts;
    ts.tv_sec = milliseconds / 1000;
    ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
    while (::nanosleep(&ts, &ts) != 0 && errno == EINTR) {
    }
  }
};

// Set by the first Ctrl-C after CatchInterrupt; the second one ends the
// program as the default action does.
volatile sig_atomic_t interrupted = 0;

void OnInterrupt(int signal_number) {
  if (interrupted) {
    ::signal(signal_number, SIG_DFL);
    ::raise(signal_number);
    return;
  }
  interrupted = 1;
}

class PosixTerminal : public Terminal {
 public:
  bool CatchInterrupt() override {
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    return ::sigaction(SIGINT, &action, nullptr) == 0;
  }
  bool Interrupted() override { return interrupted != 0; }

  bool IsInteractive() override { return ::isatty(0) && ::isatty(1); }
  bool ErrorIsTerminal() override { return ::isatty(2) != 0; }

  bool ReadLine(std::string* line) override {
    line->clear();
    std::fflush(stdout);
    int c;
    bool any = false;
    while ((c = std::fgetc(stdin)) != EOF) {
      any = true;
      if (c == '\n') break;
      line->push_back(static_cast<char>(c));
    }
    if (!line->empty() && line->back() == '\r') line->pop_back();
    return any;
  }

  void Write(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
  }

  void WriteError(const std::string& text) override {
    std::fwrite(text.data(), 1, text.size(), stderr);
    std::fflush(stderr);
  }

  int Width() override {
    struct winsize ws;
    if (::ioctl(1, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 0) return ws.ws_col;
    return 80;
  }
};

class PosixLibrary : public Library {
 public:
  explicit PosixLibrary(void* handle) : handle_(handle) {}
  ~PosixLibrary() override { ::dlclose(handle_); }

  bool CallEntry(const std::string& name, long* result) override {
    void* entry = Entry(name);
    if (!entry) return false;
    // Entry points such as DllRegisterServer take nothing and return a
    // 32-bit result.
    auto function = reinterpret_cast<int32_t (*)()>(entry);
    *result = function();
    return true;
  }

  void* Entry(const std::string& name) override {
    void* entry = ::dlsym(handle_, name.c_str());
    if (!entry) Fail(kErrorProcNotFound);
    return entry;
  }

 private:
  void* handle_;
};

const char kSessionManagerKey[] = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char kPendingValue[] = "PendingFileRenameOperations";

class PosixShell : public Shell {
 public:
  PosixShell(Machine& machine, Registry& registry, FileSystem& files, Environment& environment)
      : machine_(machine), registry_(registry), files_(files), environment_(environment) {}

  // Records the move where Windows records it: pairs of "\\??\\source" and
  // "\\??\\target" (an empty target deletes) in the session manager's
  // PendingFileRenameOperations, carried out in order at the next boot.
  bool MoveAtBoot(const std::string& from, const std::string& to) override {
    if (!machine_.Settings().boot_moves) return Fail(kErrorInvalidParameter);
    if (from.empty()) return Fail(kErrorInvalidParameter);
    if (!machine_.Settings().administrator) return Fail(kErrorAccessDenied);
    std::string source = "\\??\\" + machine_.FullPath(from);
    std::string target = to.empty() ? "" : "\\??\\" + machine_.FullPath(to);
    RegKey key = 0;
    long rc = registry_.CreateKey(kHKeyLocalMachine, kSessionManagerKey, RegAccess::kAll, &key,
                                  nullptr);
    if (rc != kErrorSuccess) return Fail(static_cast<uint32_t>(rc));
    uint32_t type = 0;
    std::string data;
    std::string pairs;
    if (registry_.QueryValue(key, kPendingValue, &type, &data) == kErrorSuccess &&
        type == kRegMultiSz) {
      // Keep the pairs already there; the list ends at an empty source.
      size_t pos = 0;
      while (pos < data.size()) {
        size_t end = data.find('\0', pos);
        if (end == std::string::npos || end == pos) break;
        size_t end2 = data.find('\0', end + 1);
        if (end2 == std::string::npos) break;
        pairs.append(data, pos, end2 + 1 - pos);
        pos = end2 + 1;
      }
    }
    pairs += source;
    pairs += '\0';
    pairs += target;
    pairs += '\0';
    pairs += '\0';
    rc = registry_.SetValue(key, kPendingValue, kRegMultiSz, pairs.data(), pairs.size());
    registry_.CloseKey(key);
    if (rc != kErrorSuccess) return Fail(static_cast<uint32_t>(rc));
    return true;
  }

  // Writes the link file itself (shell_link.h), naming the target by its
  // drive and full path as the shell would. Failures come back as the
  // HRESULT the shell gives for the Win32 error.
  long CreateShellLink(const std::string& target, const std::string& link,
                       const std::string& description, const std::string& working_folder,
                       uint32_t* failed_steps) override {
    if (failed_steps) *failed_steps = 0;
    auto hresult = [](uint32_t error) {
      return static_cast<long>(static_cast<int32_t>(0x80070000u | (error & 0xFFFFu)));
    };
    // The shell takes the link's path through a buffer of MAX_PATH wide
    // characters; a longer one is refused rather than cut.
    if (link.empty() || link.size() >= 260) return hresult(kErrorFilenameExcedRange);
    ShellLinkData data;
    if (target.empty() || target.size() >= 260) {
      if (failed_steps) *failed_steps |= kLinkPathFailed;
    } else {
      data.target = files_.FullPath(target);
      std::string root = winpath::Root(data.target);
      data.drive_type = static_cast<uint32_t>(files_.GetDriveType(root));
      files_.GetVolumeInfo(root, &data.volume_label, &data.drive_serial);
      std::vector<FolderEntry> found;
      if (files_.ListFolder(data.target, &found) && found.size() == 1) {
        data.attributes = found[0].attributes;
        data.write_time = found[0].last_write;
        data.size = found[0].size;
      }
    }
    data.description = description;
    data.working_folder = working_folder;
    std::string bytes;
    if (!BuildShellLink(data, &bytes)) return hresult(kErrorInvalidParameter);
    std::unique_ptr<File> file =
        files_.Open(link, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    if (!file) return hresult(LastError());
    if (!file->Write(bytes.data(), bytes.size())) {
      uint32_t error = LastError();
      file.reset();
      files_.DeleteFile(link);
      return hresult(error);
    }
    return 0;
  }

  std::unique_ptr<Library> LoadLibrary(const std::string& path) override {
    std::string name = path;
    if (winpath::Extension(winpath::LastElement(name)).empty()) name += ".dll";
    std::vector<std::string> candidates;
    if (name.find_first_of("\\/") != std::string::npos || winpath::HasDriveLetter(name)) {
      candidates.push_back(name);
    } else {
      candidates.push_back(winpath::Join(environment_.SystemFolder(), name));
      candidates.push_back(winpath::Join(environment_.WindowsFolder(), name));
      candidates.push_back(winpath::Join(machine_.CurrentFolder(), name));
    }
    for (const std::string& candidate : candidates) {
      ResolvedPath p;
      uint32_t error = 0;
      if (!machine_.Resolve(candidate, &p, &error) || !p.exists) continue;
      void* handle = ::dlopen(p.host.c_str(), RTLD_NOW | RTLD_LOCAL);
      if (!handle) {
        Fail(kErrorBadExeFormat);
        return nullptr;
      }
      return std::make_unique<PosixLibrary>(handle);
    }
    // The ODBC installer library the machine lacks is the host's: unixODBC's
    // libodbcinst has SQLConfigDataSource with the same argument shapes.
    if (winpath::EqualsNoCase(winpath::LastElement(name), "odbccp32.dll")) {
      if (void* handle = ::dlopen("libodbcinst.so.2", RTLD_NOW | RTLD_LOCAL)) {
        return std::make_unique<PosixLibrary>(handle);
      }
    }
    Fail(kErrorModNotFound);
    return nullptr;
  }

  // The class identifier a programmatic identifier names: the default value
  // of HKCR\<ProgID>\CLSID, which must be a well-formed class identifier.
  // It is handed back in the canonical upper-case form.
  bool ClassIdFromProgId(const std::string& prog_id, std::string* clsid, long* result) override {
    const long kClassString = static_cast<long>(0x800401F3L);  // CO_E_CLASSSTRING
    *result = kClassString;
    if (prog_id.empty()) return false;
    RegKey key = 0;
    if (registry_.OpenKey(kHKeyClassesRoot, prog_id + "\\CLSID", RegAccess::kRead, &key) !=
        kErrorSuccess) {
      return false;
    }
    std::string text;
    long rc = registry_.GetString(key, "", &text);
    registry_.CloseKey(key);
    if (rc != kErrorSuccess) return false;
    static const char kShape[] = "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}";
    if (text.size() != sizeof kShape - 1) return false;
    for (size_t i = 0; i < text.size(); ++i) {
      char c = text[i];
      if (kShape[i] == 'X') {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        text[i] = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      } else if (c != kShape[i]) {
        return false;
      }
    }
    *clsid = text;
    *result = 0;
    return true;
  }

 private:
  Machine& machine_;
  Registry& registry_;
  FileSystem& files_;
  Environment& environment_;
};

}  // namespace

std::unique_ptr<Environment> NewPosixEnvironment(Machine& machine) {
  return std::make_unique<PosixEnvironment>(machine);
}

std::unique_ptr<Clock> NewPosixClock() { return std::make_unique<PosixClock>(); }

std::unique_ptr<Terminal> NewPosixTerminal() { return std::make_unique<PosixTerminal>(); }

std::unique_ptr<Shell> NewPosixShell(Machine& machine, Registry& registry, FileSystem& files,
                                     Environment& environment) {
  return std::make_unique<PosixShell>(machine, registry, files, environment);
}

}  // namespace crx
