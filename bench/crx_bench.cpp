// crx_bench: times the archive engine against gzip and zip on real files of
// this machine.
//
// The corpus is the regular files of /usr/share/doc (texts) and /usr/lib
// (binaries), each tree walked in sorted path order: up to half the budget
// from the texts, the rest from the binaries. Files over 64 MB, unreadable
// files and names a Windows machine cannot hold are skipped. CRX_BENCH_MB
// sets the budget (default 150).
//
// The steps, each timed as the best of three rounds, with its output
// moved aside and the disk written before every round (SetAside):
//   cratex create    ArchiveEngine "+Z": CreateArchive, AddDirectory of a
//                    staged copy of the corpus, CloseArchive, on a fresh
//                    emulated machine; once with every core, once with
//                    CRX_JOBS=1 (the two archives must be byte-identical)
//   tar | gzip -6    the staged copy through tar and gzip -6
//   tar -xzf         that archive into an empty folder
//   cratex extract   ExtractArchive into an empty output folder, replace
//                    mode always (a program of its own: crx_bench extract)
//   stub extract     a setup archive of the corpus behind the build's full
//                    stub, run silently; its setup program keeps the files
//   gzip             gzip -6 -k of a copy of every file
//   gunzip           gzip -d -k of those .gz files
//   zip              zip -6 -q of all files into one archive
//   unzip            unzip -q of that archive into an empty folder
//   makensis zlib    an installer of the staged copy, zlib compression
// The create steps run in a forked child each; the other steps are
// programs started through a small copy of this one that reports their
// peak resident memory (wait4), which is compared with the largest member.
//
// Nothing is installed: a missing gzip, zip, unzip or makensis is reported
// and its steps are skipped.

#include <dirent.h>
#include <fcntl.h>
#include <ftw.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "platform/posix/host_paths.h"

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";
constexpr uint64_t kMaxMemberSize = 64ull << 20;
constexpr int kRounds = 3;

struct CorpusFile {
  std::string path;  // absolute host path
  uint64_t size = 0;
};

struct Corpus {
  std::vector<CorpusFile> files;
  uint64_t total = 0;
  uint64_t largest = 0;
  std::string largest_path;
};

double Now() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) / 1e9;
}

double Mb(uint64_t bytes) { return static_cast<double>(bytes) / (1024.0 * 1024.0); }

// ---------------------------------------------------------------------------
// Corpus selection

// True when every element of path can be a Windows file name: printable
// ASCII without the characters Windows refuses, no trailing dot or space,
// no device name.
bool WindowsCanHold(const std::string& path) {
  if (path.size() > 200) return false;
  for (char c : path) {
    unsigned char u = static_cast<unsigned char>(c);
    if (u < 0x20 || u > 0x7E) return false;
    if (std::strchr("\\:*?\"<>|", c)) return false;
  }
  static const char* const kDevices[] = {"con", "prn", "aux", "nul", "com1", "com2",
                                         "com3", "com4", "com5", "com6", "com7", "com8",
                                         "com9", "lpt1", "lpt2", "lpt3", "lpt4", "lpt5",
                                         "lpt6", "lpt7", "lpt8", "lpt9", "clock$"};
  size_t start = 1;
  while (start <= path.size()) {
    size_t end = path.find('/', start);
    if (end == std::string::npos) end = path.size();
    std::string element = path.substr(start, end - start);
    if (element.empty() || element.back() == '.' || element.back() == ' ') return false;
    std::string stem = element.substr(0, element.find('.'));
    for (char& c : stem) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* device : kDevices) {
      if (stem == device) return false;
    }
    start = end + 1;
  }
  return true;
}

// Every regular file below folder (symbolic links are not followed), with
// its size.
void Walk(const std::string& folder, std::vector<CorpusFile>* out) {
  DIR* dir = opendir(folder.c_str());
  if (!dir) return;
  std::vector<std::string> names;
  while (dirent* entry = readdir(dir)) {
    if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0) continue;
    names.push_back(entry->d_name);
  }
  closedir(dir);
  for (const std::string& name : names) {
    std::string path = folder + "/" + name;
    struct stat st;
    if (lstat(path.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      Walk(path, out);
    } else if (S_ISREG(st.st_mode)) {
      out->push_back({path, static_cast<uint64_t>(st.st_size)});
    }
  }
}

bool Readable(const std::string& path) {
  int fd = open(path.c_str(), O_RDONLY);
  if (fd < 0) return false;
  char byte;
  bool ok = read(fd, &byte, 1) >= 0;
  close(fd);
  return ok;
}

// Adds files of root in sorted path order until the corpus holds limit
// bytes; a file that would pass the limit is skipped, smaller ones after it
// may still fit.
void Select(const std::string& root, uint64_t limit, std::set<std::string>* seen,
            Corpus* corpus) {
  std::vector<CorpusFile> found;
  Walk(root, &found);
  std::sort(found.begin(), found.end(),
            [](const CorpusFile& a, const CorpusFile& b) { return a.path < b.path; });
  for (const CorpusFile& f : found) {
    if (corpus->total >= limit) break;
    if (f.size > kMaxMemberSize || corpus->total + f.size > limit) continue;
    if (!WindowsCanHold(f.path)) continue;
    // The machine finds names without regard to case: two names that
    // differ only in case would be one file there.
    std::string folded = f.path;
    for (char& c : folded) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (seen->count(folded)) continue;
    if (!Readable(f.path)) continue;
    seen->insert(folded);
    corpus->files.push_back(f);
    corpus->total += f.size;
    if (f.size > corpus->largest) {
      corpus->largest = f.size;
      corpus->largest_path = f.path;
    }
  }
}

// ---------------------------------------------------------------------------
// Host helpers

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

void RemoveTree(const std::string& path) {
  nftw(path.c_str(), RemoveEntry, 32, FTW_DEPTH | FTW_PHYS);
}

// Where SetAside moves earlier outputs; emptied with the work folder.
std::string g_trash;

// Makes way for a timed step's output: what an earlier round left there is
// moved into the trash folder rather than deleted, and everything written
// so far goes to the disk. Each step then starts from the same state: a
// file system that deleted many files moments ago allocates new ones more
// slowly (some skip recently freed inodes one by one), and the write-back
// of the step before would otherwise run during this one.
void MoveAside(const std::string& path) {
  static unsigned counter = 0;
  if (g_trash.empty() || ::access(path.c_str(), F_OK) != 0) return;
  mkdir(g_trash.c_str(), 0755);
  std::string to = g_trash + "/" + std::to_string(++counter);
  if (::rename(path.c_str(), to.c_str()) != 0) RemoveTree(path);
}

void SetAside(const std::string& path) {
  MoveAside(path);
  ::sync();
}

bool MakeFolders(const std::string& path) {
  for (size_t i = 1; i <= path.size(); ++i) {
    if (i == path.size() || path[i] == '/') {
      std::string part = path.substr(0, i);
      if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return false;
    }
  }
  return true;
}

std::string Parent(const std::string& path) { return path.substr(0, path.rfind('/')); }

bool CopyHostFile(const std::string& from, const std::string& to) {
  if (!MakeFolders(Parent(to))) return false;
  int in = open(from.c_str(), O_RDONLY);
  if (in < 0) return false;
  int out = open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (out < 0) {
    close(in);
    return false;
  }
  std::vector<char> buffer(1 << 20);
  bool ok = true;
  for (;;) {
    ssize_t got = read(in, buffer.data(), buffer.size());
    if (got < 0) ok = false;
    if (got <= 0) break;
    if (write(out, buffer.data(), static_cast<size_t>(got)) != got) {
      ok = false;
      break;
    }
  }
  close(in);
  if (close(out) != 0) ok = false;
  return ok;
}

// Byte comparison of two host files.
bool SameContent(const std::string& a, const std::string& b) {
  FILE* fa = std::fopen(a.c_str(), "rb");
  FILE* fb = std::fopen(b.c_str(), "rb");
  bool same = fa && fb;
  std::vector<char> ba(1 << 16), bb(1 << 16);
  while (same) {
    size_t ga = std::fread(ba.data(), 1, ba.size(), fa);
    size_t gb = std::fread(bb.data(), 1, bb.size(), fb);
    if (ga != gb || std::memcmp(ba.data(), bb.data(), ga) != 0) same = false;
    if (ga == 0) break;
  }
  if (fa) std::fclose(fa);
  if (fb) std::fclose(fb);
  return same;
}

int64_t FileSize(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? static_cast<int64_t>(st.st_size) : -1;
}

bool OnPath(const char* program) {
  const char* path = std::getenv("PATH");
  std::string list = path ? path : "/usr/bin:/bin";
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(':', start);
    if (end == std::string::npos) end = list.size();
    std::string candidate = list.substr(start, end - start) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0) return true;
    start = end + 1;
  }
  return false;
}

// Runs a program (no shell) in folder cwd with standard input from
// stdin_path when given; returns its exit code, -1 when it could not run.
int Run(const std::vector<std::string>& argv, const std::string& cwd,
        const std::string& stdin_path = std::string()) {
  std::vector<char*> args;
  for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = fork();
  if (pid < 0) return -1;
  if (pid == 0) {
    if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(126);
    if (!stdin_path.empty()) {
      int fd = open(stdin_path.c_str(), O_RDONLY);
      if (fd < 0 || dup2(fd, 0) < 0) _exit(126);
      close(fd);
    }
    execvp(args[0], args.data());
    _exit(127);
  }
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return -1;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Runs program + fixed arguments over every file of files, a batch of
// arguments at a time; false at the first failing batch.
bool RunBatched(const std::vector<std::string>& fixed, const std::vector<std::string>& files) {
  size_t i = 0;
  while (i < files.size()) {
    std::vector<std::string> argv = fixed;
    size_t length = 0;
    while (i < files.size() && argv.size() < fixed.size() + 512 && length < 100000) {
      length += files[i].size() + 1;
      argv.push_back(files[i++]);
    }
    int code = Run(argv, std::string());
    if (code != 0) {
      std::fprintf(stderr, "crx_bench: %s exited with %d\n", fixed[0].c_str(), code);
      return false;
    }
  }
  return true;
}

// ---------------------------------------------------------------------------
// The Cratex steps, each in a forked child on the emulated machine.

// Prints every question and answers it so the operation stops: the
// benchmark expects none.
class BenchUi : public crx::UserInterface {
 public:
  int MessageBox(const std::string& text, const std::string& caption,
                 uint32_t flags) override {
    ++calls;
    std::fprintf(stderr, "crx_bench: [%s] %s\n", caption.c_str(), text.c_str());
    switch (flags & crx::kMbTypeMask) {
      case crx::kMbOk: return crx::kIdOk;
      case crx::kMbYesNo: return crx::kIdNo;
      case crx::kMbAbortRetryIgnore: return crx::kIdAbort;
      default: return crx::kIdCancel;
    }
  }
  int calls = 0;
};

std::unique_ptr<crx::HostPlatform> OpenMachine() {
  std::string error;
  std::unique_ptr<crx::HostPlatform> host = crx::OpenHostPlatform(&error);
  if (!host) std::fprintf(stderr, "crx_bench: cannot open the machine: %s\n", error.c_str());
  return host;
}

// Points the engine at the stub file (host path).
int SetUpMachine(const std::string& stub) {
  std::unique_ptr<crx::HostPlatform> host = OpenMachine();
  if (!host) return 2;
  crx::Registry& registry = host->Get().registry;
  crx::ScopedRegKey key(registry);
  if (registry.CreateKey(crx::kHKeyLocalMachine, kSettingsKey, crx::RegAccess::kAll, key.Out(),
                         nullptr) != crx::kErrorSuccess ||
      registry.SetString(key.Get(), "datafile", crx::HostToWindowsPath(stub)) !=
          crx::kErrorSuccess) {
    std::fprintf(stderr, "crx_bench: cannot write the datafile setting\n");
    return 3;
  }
  // The stubs read the activity-log setting from the registry: off, as in
  // the engine steps.
  crx::ScopedRegKey user(registry);
  if (registry.CreateKey(crx::kHKeyCurrentUser, kSettingsKey, crx::RegAccess::kAll, user.Out(),
                         nullptr) != crx::kErrorSuccess ||
      registry.SetString(user.Get(), "Logging", "0") != crx::kErrorSuccess) {
    std::fprintf(stderr, "crx_bench: cannot write the logging setting\n");
    return 3;
  }
  return 0;
}

#ifdef CRX_FULL_STUB_FILE
// A setup archive of the staged corpus behind this build's full stub, whose
// setup program (a shell script) leaves the restart marker, so the stub
// keeps what it extracted instead of cleaning it up.
int CratexCreateSetup(const std::string& staged, const std::string& archive,
                      const std::string& program) {
  int code = SetUpMachine(CRX_FULL_STUB_FILE);
  if (code != 0) return code;
  std::unique_ptr<crx::HostPlatform> host = OpenMachine();
  if (!host) return 2;
  crx::SetLoggingSetting(0);
  BenchUi ui;
  host->Get().files.AllowAllWrites();
  crx::ArchiveEngine engine(host->Get(), ui);
  engine.SetOptions("+SZ");
  crx::SetupInfo& info = engine.setup_info();
  info.company = "Bench";
  info.product = "Corpus";
  info.description = "The benchmark's corpus";
  info.setup_program = "setup.exe";
  info.wait_program = "setup.exe";
  if (!engine.CreateArchive(crx::HostToWindowsPath(archive))) return 3;
  if (!engine.AddFile(crx::HostToWindowsPath(program), "setup.exe") ||
      !engine.AddDirectory(crx::HostToWindowsPath(staged))) {
    engine.AbortArchive();
    return 4;
  }
  if (!engine.CloseArchive()) return 5;
  return chmod(archive.c_str(), 0755) == 0 ? 0 : 6;
}
#endif

// Builds the archive from the staged copy of the corpus with one folder
// line, as a builder script does; jobs empty: as many as the machine has
// cores.
int CratexCreate(const Corpus* corpus, const std::string& staged, const std::string& archive,
                 const char* jobs) {
  if (jobs) {
    setenv("CRX_JOBS", jobs, 1);
  } else {
    unsetenv("CRX_JOBS");
  }
  std::unique_ptr<crx::HostPlatform> host = OpenMachine();
  if (!host) return 2;
  crx::SetLoggingSetting(0);
  BenchUi ui;
  // The builder writes where it is told.
  host->Get().files.AllowAllWrites();
  crx::ArchiveEngine engine(host->Get(), ui);
  // One creation time for every build, so the archives can be compared.
  engine.set_creation_time(crx::SystemTime{2026, 1, 4, 1, 0, 0, 0, 0});
  engine.SetOptions("+Z");
  if (!engine.CreateArchive(crx::HostToWindowsPath(archive))) return 3;
  if (!engine.AddDirectory(crx::HostToWindowsPath(staged))) {
    std::fprintf(stderr, "crx_bench: AddDirectory failed for %s\n", staged.c_str());
    engine.AbortArchive();
    return 4;
  }
  if (!engine.CloseArchive()) return 5;
  // The engine counts the members that carry data; empty files are stored
  // as members without blocks.
  size_t with_data = 0;
  if (corpus) {
    for (const CorpusFile& f : corpus->files) with_data += f.size > 0;
  }
  if (corpus && engine.file_count() != static_cast<int32_t>(with_data)) {
    std::fprintf(stderr, "crx_bench: the archive counts %d files with data, not %zu\n",
                 engine.file_count(), with_data);
    return 6;
  }
  return ui.calls ? 7 : 0;
}

int CratexExtract(const std::string& archive, const std::string& output) {
  std::unique_ptr<crx::HostPlatform> host = OpenMachine();
  if (!host) return 2;
  crx::SetLoggingSetting(0);
  BenchUi ui;
  // The output folder is the one the user named.
  host->Get().files.AllowWritesBelow(crx::HostToWindowsPath(output));
  crx::ArchiveEngine engine(host->Get(), ui);
  engine.policy().set_replace_mode(crx::kReplaceAlways);
  if (!engine.ExtractArchive(crx::HostToWindowsPath(archive), nullptr,
                             crx::HostToWindowsPath(output))) {
    return 3;
  }
  return ui.calls ? 4 : 0;
}

long StatusKb(const char* field) {
  FILE* f = std::fopen("/proc/self/status", "r");
  if (!f) return 0;
  char line[256];
  long kb = 0;
  const size_t length = std::strlen(field);
  while (std::fgets(line, sizeof line, f)) {
    if (std::strncmp(line, field, length) == 0) kb = std::strtol(line + length, nullptr, 10);
  }
  std::fclose(f);
  return kb;
}

struct ChildResult {
  bool ok = false;
  double seconds = 0;
  long peak_kb = 0;   // the child's peak resident memory (wait4)
  long start_kb = 0;  // its resident memory when it began, inherited from the benchmark
};

// Runs step in a forked child; the child reports its starting resident
// memory through a pipe, the parent reads the peak from wait4.
template <typename Step>
ChildResult InChild(Step step) {
  ChildResult result;
  int fds[2];
  if (pipe(fds) != 0) return result;
  std::fflush(nullptr);
  double start = Now();
  pid_t pid = fork();
  if (pid < 0) {
    close(fds[0]);
    close(fds[1]);
    return result;
  }
  if (pid == 0) {
    close(fds[0]);
    long kb = StatusKb("VmRSS:");
    if (write(fds[1], &kb, sizeof kb) != static_cast<ssize_t>(sizeof kb)) _exit(125);
    close(fds[1]);
    _exit(step());
  }
  close(fds[1]);
  long kb = 0;
  if (read(fds[0], &kb, sizeof kb) == static_cast<ssize_t>(sizeof kb)) result.start_kb = kb;
  close(fds[0]);
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) return result;
  result.seconds = Now() - start;
  result.peak_kb = usage.ru_maxrss;
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result.ok) std::fprintf(stderr, "crx_bench: the step's child failed (status 0x%x)\n", status);
  return result;
}

// Where a measured program's peak memory is written (see MeasureMain).
std::string g_peak_file;

// Runs a program in a child and measures it like a Cratex step: wall time
// and the peak resident memory of the largest of its processes. A process
// started from this one (fork or posix_spawn) would count this program's
// own peak as its own: the kernel carries the peak of the memory a process
// replaces across exec. So the program is started from a fresh, small copy
// of this benchmark (MeasureMain), which reports its child's peak.
ChildResult SpawnInChild(const std::vector<std::string>& args, const std::string& label) {
  ChildResult result;
  char self[4096];
  ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
  if (n <= 0) return result;
  self[n] = '\0';
  std::vector<std::string> copy = {self, "measure", g_peak_file};
  // A step of this program's own ("extract ...") runs in a copy of it.
  if (!args.empty() && args[0][0] != '/') copy.push_back(self);
  copy.insert(copy.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  ::remove(g_peak_file.c_str());
  const double start = Now();
  pid_t pid = 0;
  if (posix_spawn(&pid, self, nullptr, nullptr, argv.data(), environ) != 0) return result;
  int status = 0;
  if (waitpid(pid, &status, 0) < 0) return result;
  result.seconds = Now() - start;
  if (FILE* f = std::fopen(g_peak_file.c_str(), "r")) {
    if (std::fscanf(f, "%ld", &result.peak_kb) != 1) result.peak_kb = 0;
    std::fclose(f);
  }
  result.ok = WIFEXITED(status) && WEXITSTATUS(status) == 0;
  if (!result.ok) std::fprintf(stderr, "crx_bench: %s failed (status 0x%x)\n", label.c_str(), status);
  return result;
}

// crx_bench measure FILE PROGRAM ARGS...: runs PROGRAM, writes the peak
// resident memory (KB) of it and its descendants to FILE, and exits as it
// did.
int MeasureMain(int argc, char** argv) {
  pid_t pid = fork();
  if (pid < 0) return 126;
  if (pid == 0) {
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0;
  struct rusage usage;
  if (wait4(pid, &status, 0, &usage) < 0) return 126;
  if (FILE* f = std::fopen(argv[2], "w")) {
    std::fprintf(f, "%ld\n", usage.ru_maxrss);
    std::fclose(f);
  }
  (void)argc;
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

// A shell command line, measured.
ChildResult ShellInChild(const std::string& command) {
  return SpawnInChild({"/bin/sh", "-c", command}, "'" + command + "'");
}

// A program (no shell), measured.
ChildResult ProgramInChild(const std::vector<std::string>& args) {
  return SpawnInChild(args, args[0]);
}

std::string Quoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += "'\\''";
    } else {
      out += c;
    }
  }
  return out + "'";
}

// ---------------------------------------------------------------------------
// Results

struct Step {
  const char* name;
  bool run = false;    // attempted
  bool ok = true;      // every round succeeded
  double best = 0;     // seconds
  long peak_kb = 0;    // Cratex steps: the largest peak of the rounds
  long start_kb = 0;   // and the child's resident memory when it began
  void Record(bool round_ok, double seconds, long kb = 0, long at_start_kb = 0) {
    run = true;
    if (!round_ok) ok = false;
    if (round_ok && (best == 0 || seconds < best)) best = seconds;
    if (kb > peak_kb) {
      peak_kb = kb;
      start_kb = at_start_kb;
    }
  }
  bool Usable() const { return run && ok && best > 0; }
};

void PrintRatio(const char* label, const Step& a, const Step& b) {
  if (a.Usable() && b.Usable()) {
    std::printf("  %-28s %6.2f\n", label, a.best / b.best);
  } else {
    std::printf("  %-28s   n/a\n", label);
  }
}

void PrintMemoryRatio(const char* label, const Step& a, const Step& b) {
  if (a.Usable() && b.Usable() && b.peak_kb > 0) {
    std::printf("  %-28s %6.2f\n", label,
                static_cast<double>(a.peak_kb) / static_cast<double>(b.peak_kb));
  } else {
    std::printf("  %-28s   n/a\n", label);
  }
}

// Copies every file below the folder from (host path) to the same place
// below to, one FileSystem::CopyFile per file and CreateFolder per folder,
// as an installation script's copy of a folder does.
bool CopyTree(crx::FileSystem& files, const std::string& from, const std::string& to) {
  if (!files.CreateFolder(to) && crx::LastError() != crx::kErrorAlreadyExists) return false;
  std::vector<crx::FolderEntry> entries;
  if (!files.ListFolder(from + "\\*", &entries)) return crx::LastError() == crx::kErrorFileNotFound;
  for (const crx::FolderEntry& e : entries) {
    const std::string source = from + "\\" + e.name;
    const std::string target = to + "\\" + e.name;
    const bool ok = (e.attributes & crx::kAttrDirectory) ? CopyTree(files, source, target)
                                                         : files.CopyFile(source, target, false);
    if (!ok) {
      std::fprintf(stderr, "crx_bench: cannot copy %s (error %u)\n", source.c_str(),
                   crx::LastError());
      return false;
    }
  }
  return true;
}

int PlatformCopy(const std::string& from, const std::string& to) {
  std::unique_ptr<crx::HostPlatform> host = OpenMachine();
  if (!host) return 2;
  host->Get().files.AllowWritesBelow(crx::HostToWindowsPath(to));
  return CopyTree(host->Get().files, crx::HostToWindowsPath(from), crx::HostToWindowsPath(to))
             ? 0 : 3;
}

// The single steps, for profiling one of them (strace, perf) on its own:
//   crx_bench create FOLDER ARCHIVE   builds ARCHIVE from FOLDER (host paths)
//   crx_bench extract ARCHIVE FOLDER  extracts it into FOLDER
//   crx_bench copy FOLDER TARGET      copies FOLDER's files one CopyFile
//                                     each, as a script's copy does
//   crx_bench setup FOLDER ARCHIVE    builds the stub step's setup archive
//                                     (run it with /sms:silent)
// on the machine CRX_MACHINE names (a fresh one when the folder is new);
// create points the machine's datafile setting at a zero-filled stub
// written beside the archive (ARCHIVE.stub).
int SingleStep(const std::string& command, const std::string& from, const std::string& to) {
  auto absolute = [](const std::string& path) {
    if (!path.empty() && path[0] == '/') return path;
    char cwd[4096];
    return std::string(getcwd(cwd, sizeof cwd) ? cwd : ".") + "/" + path;
  };
  if (command == "extract") return CratexExtract(absolute(from), absolute(to));
  if (command == "copy") return PlatformCopy(absolute(from), absolute(to));
#ifdef CRX_FULL_STUB_FILE
  if (command == "setup") {
    const std::string program = absolute(to) + ".sh";
    FILE* f = std::fopen(program.c_str(), "w");
    if (!f) return 1;
    std::fputs("#!/bin/sh\n: > __restart_env__.tmp\n", f);
    std::fclose(f);
    return CratexCreateSetup(absolute(from), absolute(to), program);
  }
#endif
  if (command != "create") return 2;
  const std::string archive = absolute(to);
  const std::string stub = archive + ".stub";
  std::vector<char> zeros(crx::FULL_STUB_SIZE, 0);
  FILE* f = std::fopen(stub.c_str(), "wb");
  bool ok = f && std::fwrite(zeros.data(), 1, zeros.size(), f) == zeros.size();
  if (f && std::fclose(f) != 0) ok = false;
  if (!ok) return 1;
  int code = SetUpMachine(stub);
  return code != 0 ? code : CratexCreate(nullptr, absolute(from), archive, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc >= 4 && std::strcmp(argv[1], "measure") == 0) return MeasureMain(argc, argv);
  if (argc == 4) return SingleStep(argv[1], argv[2], argv[3]);
  if (argc != 1) {
    std::fprintf(stderr, "usage: crx_bench                        the whole benchmark\n"
                         "       crx_bench create FOLDER ARCHIVE  one build\n"
                         "       crx_bench extract ARCHIVE FOLDER one extraction\n"
                         "       crx_bench copy FOLDER TARGET     one copy of a folder\n");
    return 2;
  }
  uint64_t budget_mb = 150;
  if (const char* v = std::getenv("CRX_BENCH_MB")) {
    char* end = nullptr;
    unsigned long long n = std::strtoull(v, &end, 10);
    if (!*v || *end || n == 0 || n > 4096) {
      std::fprintf(stderr, "crx_bench: CRX_BENCH_MB must be a number of megabytes (1-4096)\n");
      return 2;
    }
    budget_mb = n;
  }
  const uint64_t budget = budget_mb << 20;

  Corpus corpus;
  std::set<std::string> seen;
  Select("/usr/share/doc", budget / 2, &seen, &corpus);
  const size_t text_count = corpus.files.size();
  const uint64_t text_bytes = corpus.total;
  Select("/usr/lib", budget, &seen, &corpus);
  if (corpus.files.empty()) {
    std::fprintf(stderr, "crx_bench: no files found for the corpus\n");
    return 1;
  }
  std::printf("corpus: %zu files, %.1f MB (texts: %zu files %.1f MB from /usr/share/doc; "
              "binaries: %zu files %.1f MB from /usr/lib)\n",
              corpus.files.size(), Mb(corpus.total), text_count, Mb(text_bytes),
              corpus.files.size() - text_count, Mb(corpus.total - text_bytes));
  std::printf("largest member: %.1f MB (%s)\n", Mb(corpus.largest), corpus.largest_path.c_str());

  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/crxbench.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    std::fprintf(stderr, "crx_bench: cannot create a work folder\n");
    return 1;
  }
  const std::string work = buf.data();
  g_peak_file = work + "/peak.txt";
  g_trash = work + "/trash";
  const std::string stub = work + "/stub.dat";
  const std::string archive = work + "/corpus.exe";
  const std::string crx_out = work + "/crx_out";
  const std::string gz_dir = work + "/gz";
  const std::string gunzip_dir = work + "/gunzip";
  const std::string zip_file = work + "/corpus.zip";
  const std::string unzip_out = work + "/unzip_out";
  const std::string zip_list = work + "/zip_list.txt";
  const std::string staged_dir = work + "/src";  // the corpus copied into one folder
  const std::string archive_one = work + "/corpus1.exe";  // built with one job
  const std::string tar_file = work + "/corpus.tar.gz";
  const std::string tar_out = work + "/tar_out";
  int exit_code = 0;

  // A fresh emulated machine for this run, and its stub.
  setenv("CRX_MACHINE", (work + "/machine").c_str(), 1);
  unsetenv("CRX_MACHINE_SESSION");
  {
    std::vector<char> zeros(crx::FULL_STUB_SIZE, 0);
    FILE* f = std::fopen(stub.c_str(), "wb");
    bool ok = f && std::fwrite(zeros.data(), 1, zeros.size(), f) == zeros.size();
    if (f && std::fclose(f) != 0) ok = false;
    if (!ok || !InChild([&] { return SetUpMachine(stub); }).ok) {
      std::fprintf(stderr, "crx_bench: cannot prepare the emulated machine\n");
      RemoveTree(work);
      return 1;
    }
  }

  // Every tool that builds from a folder reads the same staged copy.
  for (const CorpusFile& f : corpus.files) {
    if (!CopyHostFile(f.path, staged_dir + f.path)) {
      std::fprintf(stderr, "crx_bench: cannot stage %s\n", f.path.c_str());
      RemoveTree(work);
      return 1;
    }
  }
  const bool have_tar = OnPath("tar") && OnPath("gzip");
  if (!have_tar) std::printf("tar or gzip is not installed: the tar steps are skipped\n");
  const bool have_gzip = OnPath("gzip");
  const bool have_zip = OnPath("zip");
  const bool have_unzip = OnPath("unzip");
  if (!have_gzip) std::printf("gzip is not installed: the gzip and gunzip steps are skipped\n");
  if (!have_zip) std::printf("zip is not installed: the zip and unzip steps are skipped\n");
  if (have_zip && !have_unzip) std::printf("unzip is not installed: the unzip step is skipped\n");

  // gzip works on copies named "<file>.raw", so that a corpus holding both
  // "x" and "x.gz" gives "x.raw.gz" and "x.gz.raw.gz".
  std::vector<std::string> gz_inputs, gz_outputs, gunzip_inputs, gunzip_outputs;
  if (have_gzip) {
    for (const CorpusFile& f : corpus.files) {
      gz_inputs.push_back(gz_dir + f.path + ".raw");
      gz_outputs.push_back(gz_inputs.back() + ".gz");
      gunzip_inputs.push_back(gunzip_dir + f.path + ".raw.gz");
      gunzip_outputs.push_back(gunzip_dir + f.path + ".raw");
      if (!CopyHostFile(f.path, gz_inputs.back())) {
        std::fprintf(stderr, "crx_bench: cannot copy %s for gzip\n", f.path.c_str());
        RemoveTree(work);
        return 1;
      }
    }
  }
  if (have_zip) {
    FILE* f = std::fopen(zip_list.c_str(), "w");
    if (f) {
      for (const CorpusFile& c : corpus.files) std::fprintf(f, "%s\n", c.path.c_str() + 1);
      std::fclose(f);
    }
  }

  // A setup archive of the corpus behind the real full stub, built once;
  // each round runs it silently, and it extracts into the machine's TEMP.
  const std::string setup_archive = work + "/setup.exe";
  const std::string setup_program = work + "/setup.sh";
  const std::string stub_out = work + "/machine/drive_c/WINDOWS/TEMP/__CRX_tmp_0__";
  bool have_stub = false;
#ifdef CRX_FULL_STUB_FILE
  {
    FILE* f = std::fopen(setup_program.c_str(), "w");
    if (f) {
      std::fputs("#!/bin/sh\n: > __restart_env__.tmp\n", f);
      std::fclose(f);
    }
    struct stat st;
    have_stub = f && stat(CRX_FULL_STUB_FILE, &st) == 0 &&
                InChild([&] { return CratexCreateSetup(staged_dir, setup_archive, setup_program); })
                    .ok &&
                InChild([&] { return SetUpMachine(stub); }).ok;
  }
#endif
  if (!have_stub) std::printf("no setup archive behind the full stub: the stub step is skipped\n");

  // makensis (zlib) builds an installer of the same staged copy.
  const bool have_nsis = OnPath("makensis");
  const std::string nsis_script = work + "/corpus.nsi";
  const std::string nsis_file = work + "/corpus-nsis.exe";
  if (have_nsis) {
    FILE* f = std::fopen(nsis_script.c_str(), "w");
    if (f) {
      std::fprintf(f,
                   "SetCompressor zlib\nOutFile \"%s\"\nInstallDir \"$TEMP\\corpus\"\n"
                   "RequestExecutionLevel user\nSection\nSetOutPath \"$INSTDIR\"\n"
                   "File /r \"%s/*\"\nSectionEnd\n",
                   nsis_file.c_str(), staged_dir.c_str());
      std::fclose(f);
    }
  } else {
    std::printf("makensis is not installed (Debian package nsis): its step is skipped\n");
  }

  Step create{"cratex create"}, create_one{"cratex create, 1 job"}, extract{"cratex extract"},
      stub_x{"stub extract"}, tar_gzip{"tar | gzip -6"}, tar_x{"tar -xzf"}, gzip{"gzip -6"},
      gunzip{"gunzip"}, zip{"zip -6"}, unzip{"unzip"}, nsis{"makensis zlib"};
  bool same_bytes = true;

  for (int round = 1; round <= kRounds; ++round) {
    std::printf("round %d of %d...\n", round, kRounds);
    std::fflush(stdout);

    SetAside(archive);
    ChildResult c = InChild([&] { return CratexCreate(&corpus, staged_dir, archive, nullptr); });
    create.Record(c.ok, c.seconds, c.peak_kb, c.start_kb);
    SetAside(archive_one);
    ChildResult one = InChild([&] { return CratexCreate(&corpus, staged_dir, archive_one, "1"); });
    create_one.Record(one.ok, one.seconds, one.peak_kb, one.start_kb);
    // Any number of jobs must give the same archive.
    if (c.ok && one.ok && !SameContent(archive, archive_one)) same_bytes = false;

    if (have_tar) {
      SetAside(tar_file);
      ChildResult t = ShellInChild("tar -cf - -C " + Quoted(staged_dir) + " . | gzip -6 > " +
                                   Quoted(tar_file));
      tar_gzip.Record(t.ok, t.seconds, t.peak_kb, t.start_kb);
      if (t.ok) {
        SetAside(tar_out);
        MakeFolders(tar_out);
        ChildResult x = ShellInChild("tar -xzf " + Quoted(tar_file) + " -C " + Quoted(tar_out));
        tar_x.Record(x.ok, x.seconds, x.peak_kb, x.start_kb);
      }
    }

    if (create.ok) {
      SetAside(crx_out);
      MakeFolders(crx_out);
      // A program of its own, as tar is: its time includes starting it, and
      // its peak memory is its own.
      ChildResult x = SpawnInChild({"extract", archive, crx_out}, "cratex extract");
      extract.Record(x.ok, x.seconds, x.peak_kb, x.start_kb);
    }

    if (have_stub) {
      SetAside(stub_out);
      ChildResult x = ProgramInChild({setup_archive, "/sms:silent"});
      stub_x.Record(x.ok, x.seconds, x.peak_kb, x.start_kb);
    }

    if (have_nsis) {
      SetAside(nsis_file);
      ChildResult n = ShellInChild("makensis -V1 " + Quoted(nsis_script) + " >/dev/null");
      nsis.Record(n.ok, n.seconds, n.peak_kb, n.start_kb);
    }

    if (have_gzip) {
      for (const std::string& out : gz_outputs) MoveAside(out);
      ::sync();
      double start = Now();
      bool ok = RunBatched({"gzip", "-6", "-k"}, gz_inputs);
      gzip.Record(ok, Now() - start);

      if (ok) {
        SetAside(gunzip_dir);
        bool staged = true;
        for (size_t i = 0; i < gz_outputs.size() && staged; ++i) {
          staged = CopyHostFile(gz_outputs[i], gunzip_inputs[i]);
        }
        ::sync();
        start = Now();
        ok = staged && RunBatched({"gzip", "-d", "-k"}, gunzip_inputs);
        gunzip.Record(ok, Now() - start);
      }
    }

    if (have_zip) {
      SetAside(zip_file);
      double start = Now();
      int code = Run({"zip", "-6", "-q", zip_file, "-@"}, "/", zip_list);
      zip.Record(code == 0, Now() - start);
      if (code != 0) std::fprintf(stderr, "crx_bench: zip exited with %d\n", code);

      if (code == 0 && have_unzip) {
        SetAside(unzip_out);
        start = Now();
        code = Run({"unzip", "-q", zip_file, "-d", unzip_out}, std::string());
        unzip.Record(code == 0, Now() - start);
        if (code != 0) std::fprintf(stderr, "crx_bench: unzip exited with %d\n", code);
      }
    }
  }

  // Every tool must give back the files it was given.
  size_t crx_bad = 0, stub_bad = 0, gz_bad = 0, zip_bad = 0;
  for (size_t i = 0; i < corpus.files.size(); ++i) {
    const std::string& path = corpus.files[i].path;
    if (extract.Usable() && !SameContent(path, crx_out + staged_dir + path)) {
      if (crx_bad++ < 5) std::fprintf(stderr, "crx_bench: cratex extracted %s wrongly\n", path.c_str());
    }
    // The stub drops the drive and root of the stored names.
    if (stub_x.Usable() && !SameContent(path, stub_out + staged_dir + path)) {
      if (stub_bad++ < 5) std::fprintf(stderr, "crx_bench: the stub extracted %s wrongly\n", path.c_str());
    }
    if (gunzip.Usable() && !SameContent(path, gunzip_outputs[i])) ++gz_bad;
    if (unzip.Usable() && !SameContent(path, unzip_out + path)) ++zip_bad;
  }
  if (crx_bad) extract.ok = false;
  if (stub_bad) stub_x.ok = false;
  if (gz_bad) gunzip.ok = false;
  if (zip_bad) unzip.ok = false;

  int64_t archive_size = create.Usable() ? FileSize(archive) : -1;
  int64_t gz_total = 0;
  if (gzip.Usable()) {
    for (const std::string& out : gz_outputs) gz_total += std::max<int64_t>(0, FileSize(out));
  }
  int64_t zip_size = zip.Usable() ? FileSize(zip_file) : -1;
  int64_t nsis_size = nsis.Usable() ? FileSize(nsis_file) : -1;

  std::printf("\nwall time, best of %d (seconds):\n", kRounds);
  for (const Step* s : {&create, &create_one, &extract, &stub_x, &tar_gzip, &tar_x, &gzip,
                        &gunzip, &zip, &unzip, &nsis}) {
    if (!s->run) {
      std::printf("  %-16s skipped\n", s->name);
    } else if (!s->Usable()) {
      std::printf("  %-16s FAILED\n", s->name);
      exit_code = 1;
    } else {
      std::printf("  %-16s %8.3f\n", s->name, s->best);
    }
  }
  if (crx_bad) std::printf("  cratex extract: %zu files differ from the originals\n", crx_bad);
  if (stub_bad) std::printf("  stub extract: %zu files differ from the originals\n", stub_bad);
  if (gz_bad) std::printf("  gunzip: %zu files differ from the originals\n", gz_bad);
  if (zip_bad) std::printf("  unzip: %zu files differ from the originals\n", zip_bad);

  std::printf("\nratios (Cratex time / peer time):\n");
  if (!same_bytes) {
    std::printf("  cratex create: the archives built with 1 job and with all cores DIFFER\n");
    exit_code = 1;
  }
  PrintRatio("create / tar | gzip -6", create, tar_gzip);
  PrintRatio("create, 1 job / tar | gzip", create_one, tar_gzip);
  PrintRatio("extract / tar -xzf", extract, tar_x);
  PrintRatio("stub extract / tar -xzf", stub_x, tar_x);
  PrintRatio("create / makensis zlib", create, nsis);
  PrintRatio("create, 1 job / makensis", create_one, nsis);
  PrintRatio("create / gzip -6", create, gzip);
  PrintRatio("create / zip -6", create, zip);
  PrintRatio("extract / gunzip", extract, gunzip);
  PrintRatio("extract / unzip", extract, unzip);

  std::printf("\nsizes (MB):\n  %-28s %9.2f\n", "corpus", Mb(corpus.total));
  if (archive_size >= 0) {
    std::printf("  %-28s %9.2f  (%.1f%%; %.2f without the %d-byte stub)\n", "cratex archive",
                Mb(static_cast<uint64_t>(archive_size)),
                100.0 * static_cast<double>(archive_size) / static_cast<double>(corpus.total),
                Mb(static_cast<uint64_t>(archive_size - crx::FULL_STUB_SIZE)), crx::FULL_STUB_SIZE);
  }
  if (gzip.Usable()) {
    std::printf("  %-28s %9.2f  (%.1f%%)\n", ".gz files, total", Mb(static_cast<uint64_t>(gz_total)),
                100.0 * static_cast<double>(gz_total) / static_cast<double>(corpus.total));
  }
  if (zip_size >= 0) {
    std::printf("  %-28s %9.2f  (%.1f%%)\n", "zip archive", Mb(static_cast<uint64_t>(zip_size)),
                100.0 * static_cast<double>(zip_size) / static_cast<double>(corpus.total));
  }

  if (nsis_size >= 0) {
    std::printf("  %-28s %9.2f  (%.1f%%)\n", "makensis installer", Mb(static_cast<uint64_t>(nsis_size)),
                100.0 * static_cast<double>(nsis_size) / static_cast<double>(corpus.total));
  }

  std::printf("\npeak resident memory (MB; goal: below 2.5 x the largest member = %.1f):\n",
              2.5 * Mb(corpus.largest));
  const double goal_kb = 2.5 * static_cast<double>(corpus.largest) / 1024.0;
  for (const Step* s : {&create, &create_one, &extract, &stub_x, &tar_gzip, &tar_x, &nsis}) {
    if (!s->run) continue;
    std::printf("  %-16s %8.1f  %.2f x largest member  %s  (%.1f above the %.1f the child "
                "inherited)\n",
                s->name, static_cast<double>(s->peak_kb) / 1024.0,
                static_cast<double>(s->peak_kb) * 1024.0 / static_cast<double>(corpus.largest),
                static_cast<double>(s->peak_kb) < goal_kb ? "within goal" : "ABOVE GOAL",
                static_cast<double>(s->peak_kb - s->start_kb) / 1024.0,
                static_cast<double>(s->start_kb) / 1024.0);
  }

  std::printf("\npeak memory ratios (Cratex / peer):\n");
  PrintMemoryRatio("create / tar | gzip -6", create, tar_gzip);
  PrintMemoryRatio("extract / tar -xzf", extract, tar_x);
  PrintMemoryRatio("stub extract / tar -xzf", stub_x, tar_x);

  RemoveTree(work);
  return exit_code;
}
