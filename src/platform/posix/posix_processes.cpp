// Processes of the emulated machine. A program on the machine is a native
// Linux executable (its host file may or may not end in ".exe"). Start()
// splits the Windows command line by the Windows rules and starts the
// program with posix_spawn; the raw command line travels to the child in
// CRX_COMMAND_LINE, so that the child can give back the exact tail its
// parent wrote (see CommandLineTail). The machine's command interpreter is
// the host shell: RunShellCommand runs /bin/sh -c.
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "common/cmdline.h"
#include "common/format.h"
#include "common/winpath.h"
#include "platform/posix/posix_platform.h"

extern char** environ;

namespace crx {

namespace {

const char kCommandLineVariable[] = "CRX_COMMAND_LINE";
const char kImageLockVariable[] = "CRX_IMAGE_LOCK_FD";

// The command line this process was started with, taken out of the
// environment the first time the platform opens (so that the programs this
// one starts do not see it).
struct StartCommandLine {
  bool taken = false;
  bool present = false;
  std::string line;
};

StartCommandLine& TakeStartCommandLine() {
  static StartCommandLine start;
  static std::mutex mutex;
  std::lock_guard<std::mutex> lock(mutex);
  if (!start.taken) {
    start.taken = true;
    if (const char* line = std::getenv(kCommandLineVariable)) {
      start.present = true;
      start.line = line;
      ::unsetenv(kCommandLineVariable);
    }
  }
  return start;
}

// The real arguments of this process, from /proc/self/cmdline.
std::vector<std::string> OwnArguments() {
  std::vector<std::string> args;
  FILE* f = std::fopen("/proc/self/cmdline", "rb");
  if (!f) return args;
  std::string data;
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) data.append(buf, n);
  std::fclose(f);
  size_t pos = 0;
  while (pos < data.size()) {
    size_t end = data.find('\0', pos);
    if (end == std::string::npos) end = data.size();
    args.push_back(data.substr(pos, end - pos));
    pos = end + 1;
  }
  return args;
}

// The part of a Windows command line after the program name and the blanks
// that follow it.
std::string TailOf(const std::string& line) {
  size_t i = 0;
  bool quoted = false;
  while (i < line.size()) {
    char c = line[i];
    if (c == '"') {
      quoted = !quoted;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      break;
    }
    ++i;
  }
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  return line.substr(i);
}

// The environment for a child, with `extra` ("NAME=value" entries) set.
std::vector<std::string> ChildEnvironment(const std::vector<std::string>& extra) {
  std::vector<std::string> env;
  for (char** e = environ; e && *e; ++e) {
    std::string entry = *e;
    std::string name = entry.substr(0, entry.find('='));
    bool replaced = false;
    for (const std::string& x : extra) {
      if (x.compare(0, name.size() + 1, name + "=") == 0) replaced = true;
    }
    if (name != kCommandLineVariable && name != kImageLockVariable && !replaced) {
      env.push_back(entry);
    }
  }
  for (const std::string& x : extra) env.push_back(x);
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
  std::vector<char*> out;
  for (std::string& s : strings) out.push_back(s.data());
  out.push_back(nullptr);
  return out;
}

bool IsRegularFile(const std::string& host) {
  struct stat st;
  return ::stat(host.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

uint32_t ExitCodeFromStatus(int status) {
  if (WIFEXITED(status)) return static_cast<uint32_t>(WEXITSTATUS(status));
  if (WIFSIGNALED(status)) return 128u + static_cast<uint32_t>(WTERMSIG(status));
  return 1;
}

class PosixProcess : public Process {
 public:
  explicit PosixProcess(pid_t pid) : pid_(pid) {}

  uint32_t Id() const override { return static_cast<uint32_t>(pid_); }

  WaitResult Wait(uint32_t milliseconds) override {
    if (done_) return WaitResult::kDone;
    if (milliseconds == kInfinite) {
      int status = 0;
      pid_t r;
      while ((r = ::waitpid(pid_, &status, 0)) < 0 && errno == EINTR) {
      }
      if (r != pid_) {
        Fail(kErrorInvalidHandle);
        return WaitResult::kFailed;
      }
      Finish(status);
      return WaitResult::kDone;
    }
    struct timespec start;
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    long pause_us = 200;
    for (;;) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) {
        Finish(status);
        return WaitResult::kDone;
      }
      if (r < 0 && errno != EINTR) {
        Fail(kErrorInvalidHandle);
        return WaitResult::kFailed;
      }
      struct timespec now;
      ::clock_gettime(CLOCK_MONOTONIC, &now);
      int64_t elapsed = (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
      if (elapsed >= static_cast<int64_t>(milliseconds)) return WaitResult::kTimeout;
      ::usleep(static_cast<useconds_t>(pause_us));
      if (pause_us < 10000) pause_us *= 2;
    }
  }

  bool ExitCode(uint32_t* code) override {
    if (!done_) {
      int status = 0;
      pid_t r = ::waitpid(pid_, &status, WNOHANG);
      if (r == pid_) Finish(status);
      if (r < 0 && errno != EINTR) return Fail(kErrorInvalidHandle);
    }
    *code = done_ ? code_ : kStillActive;
    return true;
  }

  bool Terminate(uint32_t exit_code) override {
    if (done_) return Fail(kErrorAccessDenied);  // as for a process that has ended
    if (::kill(pid_, SIGKILL) != 0) return Fail(Win32ErrorFromErrno(errno));
    int status = 0;
    while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
    }
    done_ = true;
    code_ = exit_code;
    return true;
  }

 private:
  void Finish(int status) {
    done_ = true;
    code_ = ExitCodeFromStatus(status);
  }

  pid_t pid_;
  bool done_ = false;
  uint32_t code_ = 0;
};

class PosixProcesses : public Processes {
 public:
  PosixProcesses(Machine& machine, FileSystem& files, Environment& environment)
      : machine_(machine), environment_(environment) {
    (void)files;
    const StartCommandLine& start = TakeStartCommandLine();
    std::vector<std::string> argv = OwnArguments();
    std::vector<std::string> args(argv.size() > 1 ? argv.begin() + 1 : argv.end(), argv.end());
    if (start.present) {
      // The parent's line counts only when it says what this process really
      // got; a stray variable from elsewhere must not change the arguments.
      std::vector<std::string> split = cmdline::Split(start.line);
      if (!split.empty() && std::vector<std::string>(split.begin() + 1, split.end()) == args) {
        tail_ = TailOf(start.line);
        return;
      }
    }
    for (size_t i = 0; i < args.size(); ++i) {
      if (i > 0) tail_ += ' ';
      tail_ += cmdline::Quote(args[i]);
    }
  }

  std::unique_ptr<Process> Start(const std::string& command_line,
                                 const StartOptions& options) override {
    std::vector<std::string> args = cmdline::Split(command_line);
    if (args.empty() || args[0].empty()) {
      Fail(kErrorFileNotFound);
      return nullptr;
    }
    std::string host;
    if (!FindProgram(args[0], &host)) return nullptr;
    std::string folder;
    if (!options.folder.empty()) {
      ResolvedPath p;
      uint32_t error = 0;
      struct stat st;
      if (!machine_.Resolve(options.folder, &p, &error) || !p.exists ||
          ::stat(p.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        Fail(kErrorDirectory);
        return nullptr;
      }
      folder = p.host;
    }
    std::vector<std::string> argv;
    argv.push_back(host);
    argv.insert(argv.end(), args.begin() + 1, args.end());
    // The program's file stays undeletable while the child runs: the
    // child inherits a description of it that denies delete, and the lock
    // goes when the child's copy closes (at its end).
    int image = ::open(host.c_str(), O_RDONLY | O_CLOEXEC);
    if (image >= 0 && !HoldDeniesDelete(image)) {
      ::close(image);
      image = -1;
    }
    std::vector<std::string> extra = {std::string(kCommandLineVariable) + "=" + command_line};
    if (image >= 0) extra.push_back(Format("%s=%d", kImageLockVariable, image));
    std::vector<std::string> env = ChildEnvironment(extra);
    pid_t pid = 0;
    bool started = Spawn(host, folder, argv, env, image, &pid);
    if (image >= 0) ::close(image);
    if (!started) return nullptr;
    return std::make_unique<PosixProcess>(pid);
  }

  bool RunShellCommand(const std::string& command, const std::string& folder,
                       uint32_t* exit_code) override {
    std::string host_folder;
    if (!folder.empty()) {
      ResolvedPath p;
      uint32_t error = 0;
      struct stat st;
      if (!machine_.Resolve(folder, &p, &error) || !p.exists ||
          ::stat(p.host.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
        return Fail(kErrorDirectory);
      }
      host_folder = p.host;
    }
    // The shell finds host commands through the host's PATH, after the
    // machine's own PATH folders.
    std::string path;
    std::string windows_path;
    if (environment_.Get("PATH", &windows_path)) {
      size_t i = 0;
      while (i <= windows_path.size()) {
        size_t j = windows_path.find(';', i);
        if (j == std::string::npos) j = windows_path.size();
        std::string element = windows_path.substr(i, j - i);
        ResolvedPath p;
        uint32_t error = 0;
        if (!element.empty() && machine_.Resolve(element, &p, &error) && p.exists) {
          path += p.host + ":";
        }
        i = j + 1;
      }
    }
    const char* host_path = std::getenv("CRX_HOST_PATH");
    path += host_path ? host_path : "/usr/local/bin:/usr/bin:/bin";
    std::vector<std::string> argv = {"/bin/sh", "-c", command};
    std::vector<std::string> env = ChildEnvironment({"PATH=" + path});
    pid_t pid = 0;
    if (!Spawn("/bin/sh", host_folder, argv, env, -1, &pid)) return false;
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
      if (errno != EINTR) return Fail(kErrorInvalidHandle);
    }
    *exit_code = ExitCodeFromStatus(status);
    return true;
  }

  uint32_t CurrentProcessId() override { return static_cast<uint32_t>(::getpid()); }

  std::string ProgramPath() override {
    char buf[PATH_MAX];
    ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
    if (n <= 0) return "";
    return machine_.HostToWindows(std::string(buf, static_cast<size_t>(n)));
  }

  std::string CommandLineTail() override { return tail_; }

 private:
  // Finds the program's host file as CreateProcess finds it.
  bool FindProgram(const std::string& name, std::string* host) {
    std::string program = name;
    if (winpath::Extension(program).empty()) program += ".exe";
    std::vector<std::string> candidates;
    bool has_folder = program.find_first_of("\\/") != std::string::npos ||
                      winpath::HasDriveLetter(program);
    if (has_folder) {
      candidates.push_back(program);
    } else {
      candidates.push_back(winpath::Join(winpath::Parent(ProgramPath()), program));
      candidates.push_back(winpath::Join(machine_.CurrentFolder(), program));
      candidates.push_back(winpath::Join(environment_.SystemFolder(), program));
      candidates.push_back(winpath::Join(environment_.WindowsFolder(), program));
      std::string path;
      if (environment_.Get("PATH", &path)) {
        size_t i = 0;
        while (i <= path.size()) {
          size_t j = path.find(';', i);
          if (j == std::string::npos) j = path.size();
          if (j > i) candidates.push_back(winpath::Join(path.substr(i, j - i), program));
          i = j + 1;
        }
      }
    }
    for (const std::string& candidate : candidates) {
      ResolvedPath p;
      uint32_t error = 0;
      if (!machine_.Resolve(candidate, &p, &error)) {
        if (has_folder) {
          Fail(error);
          return false;
        }
        continue;
      }
      // The host file may carry the ".exe" or not.
      std::vector<std::string> tries = {p.host, p.host + ".exe"};
      if (p.host.size() > 4 && winpath::EqualsNoCase(p.host.substr(p.host.size() - 4), ".exe")) {
        tries.push_back(p.host.substr(0, p.host.size() - 4));
      }
      for (const std::string& t : tries) {
        std::string found = t;
        if (t != p.host) {
          // The other spelling may differ in case from the name as written.
          ResolvedPath q;
          uint32_t e2 = 0;
          std::string parent = winpath::Parent(p.windows);
          std::string last = t.substr(t.find_last_of('/') + 1);
          if (machine_.Resolve(winpath::Join(parent, last), &q, &e2)) found = q.host;
        }
        if (IsRegularFile(found)) {
          if (::access(found.c_str(), X_OK) != 0 && !MakeProgramRunnable(found)) {
            Fail(kErrorBadExeFormat);
            return false;
          }
          *host = found;
          return true;
        }
      }
      if (has_folder && !p.parent_exists) {
        Fail(kErrorPathNotFound);
        return false;
      }
    }
    Fail(kErrorFileNotFound);
    return false;
  }

  // Windows runs any file in a program's format; the host wants execute
  // permission, which files written on the machine (copied stubs, members
  // extracted from an archive) do not get. A file that starts like a host
  // program (ELF, or a "#!" script) is given execute permission wherever
  // it may be read; anything else stays no program.
  static bool MakeProgramRunnable(const std::string& host) {
    char start[4] = {};
    FILE* f = std::fopen(host.c_str(), "rb");
    if (!f) return false;
    const size_t got = std::fread(start, 1, sizeof start, f);
    std::fclose(f);
    const bool elf = got == 4 && std::memcmp(start, "\x7f" "ELF", 4) == 0;
    const bool script = got >= 2 && start[0] == '#' && start[1] == '!';
    struct stat st;
    if ((!elf && !script) || ::stat(host.c_str(), &st) != 0) return false;
    const mode_t readable = st.st_mode & (S_IRUSR | S_IRGRP | S_IROTH);
    if (::chmod(host.c_str(), st.st_mode | (readable >> 2)) != 0) return false;
    return ::access(host.c_str(), X_OK) == 0;
  }

  // keep_fd (>= 0): a descriptor the child keeps under the same number.
  static bool Spawn(const std::string& program, const std::string& folder,
                    std::vector<std::string>& argv, std::vector<std::string>& env, int keep_fd,
                    pid_t* pid) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // A dup2 onto itself clears close-on-exec in the child only.
    if (keep_fd >= 0) posix_spawn_file_actions_adddup2(&actions, keep_fd, keep_fd);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    std::vector<char*> argp = Pointers(argv);
    std::vector<char*> envp = Pointers(env);
    int err = ::posix_spawn(pid, program.c_str(), &actions, nullptr, argp.data(), envp.data());
    posix_spawn_file_actions_destroy(&actions);
    if (err != 0) {
      return Fail(err == ENOENT ? kErrorFileNotFound
                  : err == ENOEXEC ? kErrorBadExeFormat
                                   : Win32ErrorFromErrno(err));
    }
    return true;
  }

  Machine& machine_;
  Environment& environment_;
  std::string tail_;
};

}  // namespace

void LockOwnImage() {
  static std::once_flag once;
  std::call_once(once, [] {
    struct stat self;
    bool known = ::stat("/proc/self/exe", &self) == 0;
    int fd = -1;
    if (const char* text = std::getenv(kImageLockVariable)) {
      // Only a descriptor of this very program counts: a stray variable
      // passed on by a program that is not ours names something else.
      char* end = nullptr;
      long n = std::strtol(text, &end, 10);
      struct stat st;
      if (end && *end == '\0' && n > 2 && n < INT_MAX && known &&
          ::fstat(static_cast<int>(n), &st) == 0 && st.st_dev == self.st_dev &&
          st.st_ino == self.st_ino) {
        fd = static_cast<int>(n);
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);  // not for the programs this one starts
      }
      ::unsetenv(kImageLockVariable);
    }
    if (fd < 0) {
      // Started some other way: lock the file now.
      fd = ::open("/proc/self/exe", O_RDONLY | O_CLOEXEC);
      if (fd >= 0 && !HoldDeniesDelete(fd)) {
        ::close(fd);
        fd = -1;
      }
    }
    (void)fd;  // kept open until the program ends
  });
}

std::unique_ptr<Processes> NewPosixProcesses(Machine& machine, FileSystem& files,
                                             Environment& environment) {
  return std::make_unique<PosixProcesses>(machine, files, environment);
}

}  // namespace crx
