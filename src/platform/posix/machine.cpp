#include "platform/posix/machine.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <set>

#include "common/format.h"
#include "common/profile.h"
#include "common/winpath.h"

extern char** environ;

namespace crx {

namespace {

const char kSettingsFile[] = "machine.ini";
const char kShortNameXattr[] = "user.crx.shortname";

bool IsFolderOnHost(const std::string& path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool ReadHostFile(const std::string& path, std::string* text) {
  int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return false;
  text->clear();
  char buf[8192];
  for (;;) {
    ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      ::close(fd);
      return false;
    }
    if (n == 0) break;
    text->append(buf, static_cast<size_t>(n));
  }
  ::close(fd);
  return true;
}

// mkdir -p on the host.
bool MakeHostFolders(const std::string& path) {
  if (path.empty() || IsFolderOnHost(path)) return true;
  size_t slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0 && !MakeHostFolders(path.substr(0, slash))) {
    return false;
  }
  return ::mkdir(path.c_str(), 0777) == 0 || errno == EEXIST;
}

// Lexically normalises an absolute host path ("/a/./b/../c" -> "/a/c").
std::string NormalizeHostPath(const std::string& path) {
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= path.size()) {
    size_t j = path.find('/', i);
    if (j == std::string::npos) j = path.size();
    std::string part = path.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  std::string out;
  for (const std::string& p : parts) out += "/" + p;
  return out.empty() ? "/" : out;
}

std::string AbsoluteHostPath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return NormalizeHostPath(path);
  char cwd[PATH_MAX];
  if (!::getcwd(cwd, sizeof cwd)) return NormalizeHostPath("/" + path);
  return NormalizeHostPath(std::string(cwd) + "/" + path);
}

DriveType DriveTypeFromName(const std::string& name) {
  if (winpath::EqualsNoCase(name, "removable")) return DriveType::kRemovable;
  if (winpath::EqualsNoCase(name, "remote")) return DriveType::kRemote;
  if (winpath::EqualsNoCase(name, "cdrom")) return DriveType::kCdRom;
  if (winpath::EqualsNoCase(name, "ramdisk")) return DriveType::kRamDisk;
  return DriveType::kFixed;
}

// A stable serial number for a drive that has none in the settings.
uint32_t DefaultSerial(const std::string& machine, char letter, int media) {
  uint32_t h = 2166136261u;
  for (char c : machine) h = (h ^ static_cast<unsigned char>(c)) * 16777619u;
  h = (h ^ static_cast<unsigned char>(letter)) * 16777619u;
  h = (h ^ static_cast<uint32_t>(media)) * 16777619u;
  return h;
}

std::string HostUserName() {
  struct passwd* pw = ::getpwuid(::getuid());
  std::string name = pw && pw->pw_name ? pw->pw_name : "";
  return name.empty() ? "user" : name;
}

std::string HostComputerName() {
  char host[256] = {0};
  if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') return "CRXMACHINE";
  std::string name = winpath::ToUpperAscii(host);
  size_t dot = name.find('.');
  if (dot != std::string::npos) name.resize(dot);
  if (name.size() > 15) name.resize(15);  // NetBIOS names are at most 15
  return name;
}

// Characters Windows refuses in a file name.
bool HasInvalidNameCharacter(std::string_view element) {
  for (unsigned char c : element) {
    switch (c) {
      case '<':
      case '>':
      case ':':
      case '"':
      case '|':
      case '?':
      case '*':
        return true;
      default:
        if (c < 32) return true;
    }
  }
  return false;
}

// 8.3 names.

bool IsShortChar(char c) {
  unsigned char u = static_cast<unsigned char>(c);
  return u > 32 && std::strchr(" .\"*+,/:;<=>?[\\]|", c) == nullptr;
}

std::string ShortPart(const std::string& s) {
  std::string out;
  for (char c : s) {
    if (c == ' ' || c == '.') continue;
    if (!IsShortChar(c)) {
      out += '_';
    } else {
      out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

// The 8.3 aliases of the names in a host folder that need one, kept with
// each file so they stay the same while other names come and go.
}  // namespace

const char* DriveTypeName(DriveType type) {
  switch (type) {
    case DriveType::kRemovable: return "removable";
    case DriveType::kFixed: return "fixed";
    case DriveType::kRemote: return "remote";
    case DriveType::kCdRom: return "cdrom";
    case DriveType::kRamDisk: return "ramdisk";
    default: return "unknown";
  }
}

std::map<std::string, std::string> Machine::ShortNames(const std::string& host_folder) {
  std::vector<std::string> names;
  if (DIR* dir = ::opendir(host_folder.c_str())) {
    while (struct dirent* e = ::readdir(dir)) {
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0) {
        names.push_back(e->d_name);
      }
    }
    ::closedir(dir);
  }
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    int c = winpath::CompareNoCase(a, b);
    return c != 0 ? c < 0 : a < b;
  });
  std::set<std::string> taken;
  std::vector<std::string> need;
  for (const std::string& n : names) {
    if (winpath::IsShortName(n)) {
      taken.insert(winpath::ToUpperAscii(n));
    } else {
      need.push_back(n);
    }
  }
  std::map<std::string, std::string> result;
  std::string folder = host_folder == "/" ? "" : host_folder;
  // Aliases given earlier first, then new ones. An alias is kept as
  // "ALIAS/name" with the name it was made for: a file renamed since (the
  // attribute travels with it) gets a new alias from its new name, as
  // Windows gives one. A bare "ALIAS" (machines made before) is kept.
  for (const std::string& n : need) {
    char buf[512];
    ssize_t len = ::getxattr((folder + "/" + n).c_str(), kShortNameXattr, buf, sizeof buf);
    if (len <= 0) continue;
    std::string value(buf, static_cast<size_t>(len));
    size_t slash = value.find('/');
    if (slash != std::string::npos && value.compare(slash + 1, std::string::npos, n) != 0) continue;
    std::string alias = value.substr(0, slash);
    if (winpath::IsShortName(alias) && taken.insert(winpath::ToUpperAscii(alias)).second) {
      result[n] = alias;
    }
  }
  for (const std::string& n : need) {
    if (result.count(n)) continue;
    size_t dot = n.find_last_of('.');
    std::string base = ShortPart(dot == std::string::npos ? n : n.substr(0, dot));
    std::string ext = dot == std::string::npos ? "" : ShortPart(n.substr(dot + 1));
    if (base.empty()) {
      base = ext;
      ext.clear();
    }
    if (base.empty()) base = "_";
    if (ext.size() > 3) ext.resize(3);
    for (int k = 1; k < 1000000; ++k) {
      std::string tail = Format("~%d", k);
      size_t keep = std::min(base.size(), 8 - tail.size());
      std::string alias = base.substr(0, keep) + tail + (ext.empty() ? "" : "." + ext);
      if (taken.insert(alias).second) {
        result[n] = alias;
        const std::string value = alias + "/" + n;
        ::setxattr((folder + "/" + n).c_str(), kShortNameXattr, value.data(), value.size(), 0);
        break;
      }
    }
  }
  return result;
}

namespace {

// Host paths longer than this go through an open folder (PATH_MAX is the
// limit of a path handed to a system call).
constexpr size_t kLongHostPath = PATH_MAX - 256;

// More names than this in the lookup cache empty it.
constexpr size_t kMaxCachedNames = 1u << 18;

// More open folders than this kept for lookups close them all.
constexpr size_t kMaxOpenFolders = 64;

FolderStamp StampOf(const struct stat& st) {
  FolderStamp f;
  f.dev = st.st_dev;
  f.ino = st.st_ino;
  f.mtime = st.st_mtim;
  f.ctime = st.st_ctim;
  f.size = st.st_size;
  return f;
}

std::string FdPath(int fd) { return Format("/proc/self/fd/%d", fd); }

// Opens the folder that the first `count` elements name below root, for a
// path too long for one system call: in steps of as many whole elements
// as one call takes, each relative to the folder before (links followed).
// -1 when a step fails.
int OpenInSteps(const std::string& root, const std::vector<std::string_view>& elements,
                size_t count) {
  int fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  size_t i = 0;
  while (fd >= 0 && i < count) {
    std::string step(elements[i++]);
    while (i < count && step.size() + 1 + elements[i].size() < kLongHostPath) {
      step.append(1, '/').append(elements[i++]);
    }
    int next = ::openat(fd, step.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    ::close(fd);
    fd = next;
  }
  return fd;
}

}  // namespace

HostFolder::~HostFolder() {
  if (fd_ >= 0) ::close(fd_);
}

bool FolderStamp::Same(const FolderStamp& o) const {
  return dev == o.dev && ino == o.ino && mtime.tv_sec == o.mtime.tv_sec &&
         mtime.tv_nsec == o.mtime.tv_nsec && ctime.tv_sec == o.ctime.tv_sec &&
         ctime.tv_nsec == o.ctime.tv_nsec && size == o.size;
}

std::string ResolvedPath::Sibling(const std::string& name) const {
  if (host.size() < kLongHostPath || !folder) {
    size_t slash = host.find_last_of('/');
    std::string parent = slash == std::string::npos || slash == 0 ? "" : host.substr(0, slash);
    return parent + "/" + name;
  }
  return FdPath(folder->fd()) + "/" + name;
}

// Finds `name` in the open folder dir_fd: the exact spelling first, else a
// case-insensitive match from the folder's cached names (read again when
// the folder changed), else an 8.3 alias. `last`, when given, receives the
// folder's stamp when the cache was consulted. A folder trusted in a batch
// (`trusted`: its stamp as the batch saw it) whose cached names are the
// ones of that stamp is not asked about a name they lack; nor is a folder
// just looked at (dir_st) when the caller is `creating` the name (see
// Resolve).
bool Machine::FindEntry(int dir_fd, const struct stat* dir_st, const FolderStamp* trusted,
                        bool creating, const std::string& name, ResolvedPath* last,
                        std::string* actual) const {
  const bool may_be_alias = name.find('~') != std::string::npos && winpath::IsShortName(name);
  FolderStamp now;
  if (creating && !trusted && dir_st) {
    now = StampOf(*dir_st);
    trusted = &now;
  }
  if (trusted && !may_be_alias) {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    auto it = cache_.find({trusted->dev, trusted->ino});
    if (it != cache_.end() && it->second.stamp.Same(*trusted) &&
        it->second.names.find(winpath::ToUpperAscii(name)) == it->second.names.end()) {
      if (last) {
        last->stamp = *trusted;
        last->stamp_known = true;
      }
      errno = ENOENT;
      return false;
    }
  }
  struct stat st;
  if (::fstatat(dir_fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    *actual = name;
    if (last) {
      last->leaf_stat = st;
      last->leaf_stat_known = true;
    }
    return true;
  }
  if (errno != ENOENT) return false;  // no search permission, say
  if (dir_st) {
    st = *dir_st;
  } else if (::fstat(dir_fd, &st) != 0) {
    return false;
  }
  FolderStamp stamp = StampOf(st);
  if (last) {
    last->stamp = stamp;
    last->stamp_known = true;
  }
  const std::string key = winpath::ToUpperAscii(name);
  bool found = false;
  bool current = false;  // the cached names are the folder's names now
  {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    auto it = cache_.find({stamp.dev, stamp.ino});
    if (it != cache_.end() && it->second.stamp.Same(stamp)) {
      auto hit = it->second.names.find(key);
      if (hit != it->second.names.end()) {
        *actual = hit->second;
        return true;
      }
      if (!may_be_alias) return false;
      current = true;
    }
  }
  bool complete = false;
  FolderNames names;
  names.stamp = stamp;
  int read_fd = current ? -1 : ::openat(dir_fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (read_fd >= 0) {
    if (DIR* dir = ::fdopendir(read_fd)) {
      while (struct dirent* e = ::readdir(dir)) {
        if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
        if (!names.names.emplace(winpath::ToUpperAscii(e->d_name), e->d_name).second) {
          names.case_twins = true;
        }
      }
      ::closedir(dir);
      complete = true;
    } else {
      ::close(read_fd);
    }
  }
  if (complete) {
    auto hit = names.names.find(key);
    if (hit != names.names.end()) {
      *actual = hit->second;
      found = true;
    }
    std::lock_guard<std::mutex> lock(cache_mutex_);
    ++folder_reads_;
    if (cached_names_ + names.names.size() > kMaxCachedNames) {
      cache_.clear();
      cached_names_ = 0;
    }
    FolderNames& slot = cache_[{stamp.dev, stamp.ino}];
    cached_names_ -= std::min(cached_names_, slot.names.size());
    cached_names_ += names.names.size();
    slot = std::move(names);
  }
  if (!found && may_be_alias) {
    // An 8.3 alias names its long file.
    for (const auto& [long_name, alias] : Machine::ShortNames(FdPath(dir_fd))) {
      if (winpath::EqualsNoCase(alias, name)) {
        *actual = long_name;
        return true;
      }
    }
  }
  return found;
}

void Machine::BeginBatch() const {
  std::lock_guard<std::mutex> lock(cache_mutex_);
  if (batch_depth_++ == 0) ++batch_;
}

void Machine::EndBatch() const {
  std::lock_guard<std::mutex> lock(cache_mutex_);
  if (batch_depth_ > 0) --batch_depth_;
}

void Machine::ForgetFolderChecks() const {
  std::lock_guard<std::mutex> lock(cache_mutex_);
  if (batch_depth_ > 0) ++batch_;
}

std::shared_ptr<const HostFolder> Machine::OpenFolderAt(const std::string& path, struct stat* st,
                                                        bool* checked,
                                                        FolderStamp* trusted) const {
  *checked = true;
  {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    if (batch_depth_ > 0) {
      auto it = open_folders_.find(path);
      if (it != open_folders_.end() && it->second.checked_in == batch_) {
        *checked = false;
        *trusted = it->second.seen;
        return it->second.folder;
      }
    }
  }
  if (::stat(path.c_str(), st) != 0 || !S_ISDIR(st->st_mode)) return nullptr;
  {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    auto it = open_folders_.find(path);
    if (it != open_folders_.end()) {
      if (it->second.dev == st->st_dev && it->second.ino == st->st_ino) {
        it->second.checked_in = batch_depth_ > 0 ? batch_ : 0;
        it->second.seen = StampOf(*st);
        return it->second.folder;
      }
      open_folders_.erase(it);  // another folder is there now
    }
  }
  // The handle's own stat names the folder kept: the path may have
  // changed between the stat above and the open.
  int fd = ::open(path.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return nullptr;
  auto folder = std::make_shared<const HostFolder>(fd);
  if (::fstat(fd, st) != 0) return nullptr;
  std::lock_guard<std::mutex> lock(cache_mutex_);
  if (open_folders_.size() >= kMaxOpenFolders) open_folders_.clear();
  open_folders_[path] =
      OpenFolder{folder, st->st_dev, st->st_ino, batch_depth_ > 0 ? batch_ : 0, StampOf(*st)};
  return folder;
}

bool Machine::StampFolder(ResolvedPath* p) const {
  struct stat st;
  if (!p->folder || ::fstat(p->folder->fd(), &st) != 0) return false;
  p->stamp = StampOf(st);
  p->stamp_known = true;
  return true;
}

void Machine::NoteNames(const ResolvedPath& p, const std::string& removed,
                        const std::string& added) const {
  struct stat st;
  if (!p.folder || ::fstat(p.folder->fd(), &st) != 0) return;
  std::lock_guard<std::mutex> lock(cache_mutex_);
  auto it = cache_.find({st.st_dev, st.st_ino});
  if (it == cache_.end()) return;
  FolderNames& f = it->second;
  auto forget = [&] {
    cached_names_ -= std::min(cached_names_, f.names.size());
    cache_.erase(it);
  };
  // The cached names stay good only when nothing else changed the folder
  // since this process last looked; otherwise they are read again.
  if (!p.stamp_known || !f.stamp.Same(p.stamp)) {
    forget();
    return;
  }
  if (!removed.empty()) {
    auto hit = f.names.find(winpath::ToUpperAscii(removed));
    if (hit != f.names.end()) {
      // Another spelling of the same name may remain: then the folder is
      // read again when it is next needed.
      if (f.case_twins) {
        forget();
        return;
      }
      if (hit->second != removed) {
        forget();  // not the spelling this process knew
        return;
      }
      f.names.erase(hit);
      cached_names_ -= std::min<size_t>(cached_names_, 1);
    }
  }
  if (!added.empty()) {
    auto [hit, inserted] = f.names.emplace(winpath::ToUpperAscii(added), added);
    if (inserted) {
      ++cached_names_;
    } else if (hit->second != added) {
      f.case_twins = true;  // the first spelling read stays the one found
    }
  }
  // A batch that trusts this folder as it saw it goes on trusting it with
  // this change: nothing else changed it in between. The folder is kept
  // under the path Resolve opened it by, p's own folder path; should it
  // also be kept under another path (through a link), the batch only looks
  // at it again there.
  const FolderStamp now = StampOf(st);
  if (batch_depth_ > 0) {
    const size_t slash = p.host.find_last_of('/');
    if (slash != std::string::npos) {
      auto open = open_folders_.find(slash == 0 ? std::string_view("/")
                                                : std::string_view(p.host).substr(0, slash));
      if (open != open_folders_.end() && open->second.dev == st.st_dev &&
          open->second.ino == st.st_ino && open->second.seen.Same(p.stamp)) {
        open->second.seen = now;
      }
    }
  }
  f.stamp = now;
}

void Machine::NoteAdded(const ResolvedPath& p) const { NoteNames(p, std::string(), p.leaf); }

void Machine::NoteRemoved(const ResolvedPath& p) const { NoteNames(p, p.leaf, std::string()); }

const std::string& MachineDrive::Root() const {
  static const std::string kNone;
  if (type == DriveType::kRemovable && !media.empty()) {
    if (current_media < 1 || current_media > static_cast<int>(media.size())) return kNone;
    return media[static_cast<size_t>(current_media - 1)];
  }
  return folder;
}

uint32_t Win32ErrorFromErrno(int err) {
  switch (err) {
    case 0: return kErrorSuccess;
    case ENOENT: return kErrorFileNotFound;
    case ENOTDIR: return kErrorPathNotFound;
    case EACCES:
    case EPERM:
    case EROFS: return kErrorAccessDenied;
    case ENOSPC:
    case EDQUOT: return kErrorDiskFull;
    case EEXIST: return kErrorAlreadyExists;
    case ENOTEMPTY: return kErrorDirNotEmpty;
    case EISDIR: return kErrorAccessDenied;
    case EMFILE:
    case ENFILE: return kErrorTooManyOpenFiles;
    case ENOMEM: return kErrorNotEnoughMemory;
    case ENAMETOOLONG: return kErrorFilenameExcedRange;
    case EINVAL: return kErrorInvalidParameter;
    case EBADF: return kErrorInvalidHandle;
    case EPIPE: return kErrorBrokenPipe;
    case ENOEXEC: return kErrorBadExeFormat;
    case EXDEV: return 17;  // ERROR_NOT_SAME_DEVICE
    case EBUSY:
    case ETXTBSY: return kErrorSharingViolation;
    case ENOTSUP: return kErrorNotSupported;
    case EIO: return kErrorWriteFault;
    default: return kErrorInvalidFunction;
  }
}

std::unique_ptr<Machine> Machine::Open(const std::string& folder, std::string* error) {
  if (folder.empty()) {
    *error = "no machine folder is named (set CRX_MACHINE)";
    return nullptr;
  }
  std::string path = AbsoluteHostPath(folder);
  const bool existed = IsFolderOnHost(path);
  if (!MakeHostFolders(path)) {
    *error = Format("cannot create the machine folder %s: %s", path.c_str(), std::strerror(errno));
    return nullptr;
  }
  // A new machine folder is the user's alone to change whatever the umask
  // (a group-writable one would make the stubs refuse the machine library
  // kept in it).
  struct stat made;
  if (!existed && ::stat(path.c_str(), &made) == 0)
    ::chmod(path.c_str(), made.st_mode & 0755);
  // The real path, so that host folders reached through links (the current
  // folder, for one) map back to the machine's drives.
  char real[PATH_MAX];
  if (::realpath(path.c_str(), real)) path = real;
  if (::access(path.c_str(), W_OK | X_OK) != 0) {
    *error = Format("the machine folder %s is not writable: %s", path.c_str(), std::strerror(errno));
    return nullptr;
  }
  std::unique_ptr<Machine> machine(new Machine());
  machine->folder_ = path;
  std::string settings_path = path + "/" + kSettingsFile;
  struct stat st;
  if (::stat(settings_path.c_str(), &st) == 0) {
    if (!machine->Load(error)) return nullptr;
  } else if (!machine->Create(error)) {
    return nullptr;
  }
  char cwd[PATH_MAX];
  std::string current;
  if (::getcwd(cwd, sizeof cwd)) current = machine->HostToWindows(cwd);
  machine->current_folder_ = current.empty() ? "C:\\" : current;
  return machine;
}

bool Machine::Load(std::string* error) {
  std::string settings_path = folder_ + "/" + kSettingsFile;
  std::string text;
  if (!ReadHostFile(settings_path, &text)) {
    *error = Format("cannot read the machine settings %s: %s", settings_path.c_str(),
                    std::strerror(errno));
    return false;
  }
  Profile ini(text);
  if (!ini.HasSection("Machine")) {
    *error = Format("%s is not a machine settings file (no [Machine] section)",
                    settings_path.c_str());
    return false;
  }
  MachineSettings& s = settings_;
  s.user_name = ini.GetString("Machine", "UserName", "user");
  s.computer_name = ini.GetString("Machine", "ComputerName", "CRXMACHINE");
  std::string version = ini.GetString("Machine", "Version", "5.1.2600");
  unsigned major = 0, minor = 0, build = 0;
  if (std::sscanf(version.c_str(), "%u.%u.%u", &major, &minor, &build) < 2) {
    *error = Format("%s: Version=%s is not major.minor.build", settings_path.c_str(),
                    version.c_str());
    return false;
  }
  s.version.major = major;
  s.version.minor = minor;
  s.version.build = build;
  s.version.platform_id = static_cast<uint32_t>(ini.GetInt("Machine", "PlatformId", 2));
  s.version.service_pack = ini.GetString("Machine", "ServicePack", "");
  s.administrator = ini.GetInt("Machine", "Administrator", 1) != 0;
  s.boot_moves = ini.GetInt("Machine", "BootMoves", 1) != 0;
  s.host_writes = ini.GetInt("Machine", "HostWrites", 0) != 0;
  s.drives.clear();
  for (const std::string& section : ini.Sections()) {
    if (section.size() != 7 || !winpath::EqualsNoCase(section.substr(0, 6), "Drive ")) continue;
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(section[6])));
    if (letter < 'A' || letter > 'Z' || FindDrive(letter)) continue;
    MachineDrive d;
    d.letter = letter;
    d.type = DriveTypeFromName(ini.GetString(section, "Type", "fixed"));
    std::string host = ini.GetString(section, "Folder", "");
    if (!host.empty()) d.folder = host[0] == '/' ? NormalizeHostPath(host)
                                                 : NormalizeHostPath(folder_ + "/" + host);
    d.label = ini.GetString(section, "Label", "");
    std::string serial = ini.GetString(section, "Serial", "");
    d.serial = serial.empty() ? DefaultSerial(folder_, letter, 0)
                              : static_cast<uint32_t>(std::strtoul(serial.c_str(), nullptr, 16));
    d.capacity = std::strtoull(ini.GetString(section, "Capacity", "0").c_str(), nullptr, 10);
    for (int n = 1;; ++n) {
      std::string media = ini.GetString(section, Format("Media%d", n), "");
      if (media.empty()) break;
      d.media.push_back(media[0] == '/' ? NormalizeHostPath(media)
                                        : NormalizeHostPath(folder_ + "/" + media));
      d.media_labels.push_back(ini.GetString(section, Format("Label%d", n), d.label));
      std::string ms = ini.GetString(section, Format("Serial%d", n), "");
      d.media_serials.push_back(ms.empty() ? DefaultSerial(folder_, letter, n)
                                           : static_cast<uint32_t>(std::strtoul(ms.c_str(), nullptr, 16)));
    }
    d.current_media = ini.GetInt(section, "CurrentMedia", d.media.empty() ? 0 : 1);
    if (d.folder.empty() && d.media.empty()) {
      *error = Format("%s: drive %c: has neither Folder nor Media1", settings_path.c_str(), letter);
      return false;
    }
    s.drives.push_back(d);
  }
  if (!FindDrive('C')) {
    *error = Format("%s: the machine has no drive C:", settings_path.c_str());
    return false;
  }
  s.environment.clear();
  for (const std::string& key : ini.Keys("Environment")) {
    s.environment.emplace_back(key, ini.GetString("Environment", key, ""));
  }
  return true;
}

bool Machine::Create(std::string* error) {
  MachineSettings& s = settings_;
  s.user_name = HostUserName();
  s.computer_name = HostComputerName();
  s.version.major = 5;
  s.version.minor = 1;
  s.version.build = 2600;
  s.version.platform_id = 2;
  s.version.service_pack = "Service Pack 3";
  s.administrator = true;
  s.boot_moves = true;
  MachineDrive c;
  c.letter = 'C';
  c.folder = folder_ + "/drive_c";
  c.serial = DefaultSerial(folder_, 'C', 0);
  MachineDrive z;
  z.letter = 'Z';
  z.folder = "/";
  z.serial = DefaultSerial(folder_, 'Z', 0);
  s.drives = {c, z};
  std::string profile = "C:\\Documents and Settings\\" + s.user_name;
  s.environment = {
      {"ALLUSERSPROFILE", "C:\\Documents and Settings\\All Users"},
      {"CommonProgramFiles", "C:\\Program Files\\Common Files"},
      {"COMPUTERNAME", s.computer_name},
      {"ComSpec", "C:\\WINDOWS\\system32\\cmd.exe"},
      {"HOMEDRIVE", "C:"},
      {"HOMEPATH", profile.substr(2)},
      {"OS", "Windows_NT"},
      {"PATH", "C:\\WINDOWS\\system32;C:\\WINDOWS;C:\\WINDOWS\\System32\\Wbem"},
      {"PATHEXT", ".COM;.EXE;.BAT;.CMD"},
      {"ProgramFiles", "C:\\Program Files"},
      {"SystemDrive", "C:"},
      {"SystemRoot", "C:\\WINDOWS"},
      {"TEMP", "C:\\WINDOWS\\TEMP"},
      {"TMP", "C:\\WINDOWS\\TEMP"},
      {"USERNAME", s.user_name},
      {"USERPROFILE", profile},
      {"windir", "C:\\WINDOWS"},
  };
  // The folders of a Windows installation; the registry defaults name the
  // profile folders, which are made with them.
  static const char* const kFolders[] = {"WINDOWS/system32", "WINDOWS/TEMP", "Program Files"};
  for (const char* f : kFolders) {
    std::string host = c.folder + "/" + f;
    if (!MakeHostFolders(host)) {
      *error = Format("cannot create %s: %s", host.c_str(), std::strerror(errno));
      return false;
    }
  }
  is_new_ = true;
  return true;
}

bool Machine::SaveSettings(std::string* error) {
  const MachineSettings& s = settings_;
  std::string text =
      "; Settings of this emulated Windows machine (see crxmachine --help).\n"
      "[Machine]\n";
  AppendFormat(&text, "UserName=%s\nComputerName=%s\nVersion=%u.%u.%u\nPlatformId=%u\n",
               s.user_name.c_str(), s.computer_name.c_str(), s.version.major, s.version.minor,
               s.version.build, s.version.platform_id);
  AppendFormat(&text, "ServicePack=%s\nAdministrator=%d\nBootMoves=%d\nHostWrites=%d\n",
               s.version.service_pack.c_str(), s.administrator ? 1 : 0, s.boot_moves ? 1 : 0,
               s.host_writes ? 1 : 0);
  for (const MachineDrive& d : s.drives) {
    AppendFormat(&text, "\n[Drive %c]\nType=%s\n", d.letter, DriveTypeName(d.type));
    if (!d.folder.empty()) {
      std::string prefix = folder_ + "/";
      std::string shown = d.folder.compare(0, prefix.size(), prefix) == 0
                              ? d.folder.substr(prefix.size())
                              : d.folder;
      AppendFormat(&text, "Folder=%s\n", shown.c_str());
    }
    AppendFormat(&text, "Label=%s\nSerial=%08X\n", d.label.c_str(), d.serial);
    if (!d.media.empty()) {
      AppendFormat(&text, "Capacity=%llu\n", static_cast<unsigned long long>(d.capacity));
      for (size_t i = 0; i < d.media.size(); ++i) {
        AppendFormat(&text, "Media%zu=%s\n", i + 1, d.media[i].c_str());
        if (i < d.media_labels.size() && !d.media_labels[i].empty()) {
          AppendFormat(&text, "Label%zu=%s\n", i + 1, d.media_labels[i].c_str());
        }
        if (i < d.media_serials.size()) {
          AppendFormat(&text, "Serial%zu=%08X\n", i + 1, d.media_serials[i]);
        }
      }
      AppendFormat(&text, "CurrentMedia=%d\n", d.current_media);
    }
  }
  text += "\n[Environment]\n";
  for (const auto& [name, value] : s.environment) {
    AppendFormat(&text, "%s=%s\n", name.c_str(), value.c_str());
  }
  std::string path = folder_ + "/" + kSettingsFile;
  std::string temp = Format("%s.%d.tmp", path.c_str(), static_cast<int>(::getpid()));
  int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) {
    *error = Format("cannot write %s: %s", temp.c_str(), std::strerror(errno));
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      *error = Format("cannot write %s: %s", temp.c_str(), std::strerror(errno));
      ::close(fd);
      ::unlink(temp.c_str());
      return false;
    }
    done += static_cast<size_t>(n);
  }
  ::close(fd);
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    *error = Format("cannot replace %s: %s", path.c_str(), std::strerror(errno));
    ::unlink(temp.c_str());
    return false;
  }
  is_new_ = false;
  return true;
}

const MachineDrive* Machine::FindDrive(char letter) const {
  letter = static_cast<char>(std::toupper(static_cast<unsigned char>(letter)));
  for (const MachineDrive& d : settings_.drives) {
    if (d.letter == letter) return &d;
  }
  return nullptr;
}

namespace {

// True when path is already a full path as FullPath would give it: a drive
// root, then elements that are neither empty (but for one trailing
// separator) nor "." or "..", with backslashes only, and no trailing dot
// or blank on a last element. Most paths the programs use look like that.
bool IsPlainFullPath(const std::string& path) {
  if (path.size() < 3 || path[1] != ':' || path[2] != '\\' ||
      !std::isalpha(static_cast<unsigned char>(path[0]))) {
    return false;
  }
  if (path.find('/') != std::string::npos) return false;
  const char* text = path.data();
  size_t start = 3;  // of the current element
  while (start <= path.size()) {
    // The element ends at the next separator, or at the end of the path.
    const void* separator = std::memchr(text + start, '\\', path.size() - start);
    const size_t i =
        separator ? static_cast<size_t>(static_cast<const char*>(separator) - text) : path.size();
    const size_t n = i - start;
    if (i == path.size()) {
      // The last element: none (a root, or one trailing separator), or one
      // that keeps its last character.
      if (n > 0 && (path[i - 1] == '.' || path[i - 1] == ' ')) return false;
    } else if (n == 0) {
      return false;
    }
    if (n == 1 && path[start] == '.') return false;
    if (n == 2 && path[start] == '.' && path[start + 1] == '.') return false;
    start = i + 1;
  }
  return true;
}

}  // namespace

std::string Machine::FullPath(const std::string& path) const {
  if (path.empty()) return "";
  if (IsPlainFullPath(path)) return path;
  std::string p = winpath::ToBackslashes(path);
  std::string root;
  std::string rest;
  if (winpath::IsUnc(p)) {
    root = winpath::StripTrailingSeparator(winpath::Root(p));
    if (root.back() != '\\') root += '\\';
    rest = winpath::WithoutRoot(p);
  } else if (winpath::HasDriveLetter(p)) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(p[0])));
    if (p.size() > 2 && p[2] == '\\') {
      root = std::string(1, p[0]) + ":\\";
      rest = p.substr(3);
    } else if (!current_folder_.empty() &&
               std::toupper(static_cast<unsigned char>(current_folder_[0])) == letter) {
      // "C:x" is relative to the current folder when that is on C:.
      root = winpath::Root(current_folder_);
      rest = winpath::WithoutRoot(current_folder_) + "\\" + p.substr(2);
    } else {
      root = std::string(1, p[0]) + ":\\";
      rest = p.substr(2);
    }
  } else if (p[0] == '\\') {
    root = winpath::Root(current_folder_);
    if (root.empty()) root = "C:\\";
    rest = p.substr(1);
  } else {
    root = winpath::Root(current_folder_);
    rest = winpath::WithoutRoot(current_folder_) + "\\" + p;
  }
  bool trailing = winpath::IsSeparator(p.back());
  std::vector<std::string> parts;
  size_t i = 0;
  while (i <= rest.size()) {
    size_t j = rest.find('\\', i);
    if (j == std::string::npos) j = rest.size();
    std::string part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j + 1;
  }
  if (!trailing && !parts.empty()) {
    // Windows drops trailing dots and blanks of the last element.
    std::string& last = parts.back();
    while (!last.empty() && (last.back() == '.' || last.back() == ' ')) last.pop_back();
    if (last.empty()) parts.pop_back();
  }
  std::string out = root;
  for (size_t k = 0; k < parts.size(); ++k) {
    if (k > 0) out += '\\';
    out += parts[k];
  }
  if (trailing && !parts.empty()) out += '\\';
  return out;
}

bool Machine::Resolve(const std::string& path, ResolvedPath* out, uint32_t* error,
                      LeafUse use) const {
  *out = ResolvedPath();
  std::string full = FullPath(path);
  if (full.empty()) {
    *error = kErrorPathNotFound;
    return false;
  }
  if (!winpath::HasDriveLetter(full)) {
    // Network paths have no place on the emulated machine.
    *error = 53;  // ERROR_BAD_NETPATH
    return false;
  }
  const MachineDrive* drive = FindDrive(full[0]);
  if (!drive) {
    *error = kErrorPathNotFound;
    return false;
  }
  const std::string& root = drive->Root();
  if (root.empty()) {
    *error = kErrorNotReady;
    return false;
  }
  if (full.size() > 3 && winpath::IsSeparator(full.back())) {
    out->windows = winpath::StripTrailingSeparator(full);
  } else {
    out->windows = std::move(full);
  }
  // The elements, as views into out->windows.
  std::vector<std::string_view> elements;
  elements.reserve(16);
  winpath::ElementViews(out->windows, &elements);
  for (std::string_view e : elements) {
    if (HasInvalidNameCharacter(e)) {
      *error = kErrorInvalidName;
      return false;
    }
  }
  out->drive = drive;
  out->is_root = elements.empty();
  // Each folder is opened relative to the one before (links on the way are
  // followed, as Windows follows folder links), so a lookup costs one step
  // per element however deep the path is.
  if (out->is_root) {
    int dir_fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    out->exists = dir_fd >= 0;
    out->parent_exists = out->exists;
    out->host = root;
    out->at = root;
    if (dir_fd >= 0) ::close(dir_fd);
    return true;
  }
  // The host path of the root ("" for the host's root) with room for the rest.
  static const std::string kHostRoot;
  const std::string& host_root = root == "/" ? kHostRoot : root;
  auto host_path = [&]() {
    std::string start;
    start.reserve(host_root.size() + out->windows.size() + 1);
    start = host_root;
    return start;
  };
  if (use == LeafUse::kOpen) {
    // The whole path as spelled, opened in one call by the caller; should
    // that find nothing, the caller looks the path up. A path too long for
    // one call is looked up at once.
    std::string whole = host_path();
    for (std::string_view e : elements) whole.append(1, '/').append(e);
    if (whole.size() < kLongHostPath) {
      out->at = whole;
      out->host = std::move(whole);
      out->leaf.assign(elements.back());
      out->exists = true;
      out->parent_exists = true;
      out->leaf_unverified = true;
      return true;
    }
  }
  std::string host;
  // Usually every folder on the way exists in the spelling given: then the
  // folder's kept handle (or one open of the whole folder path, links
  // followed as below) stands for the walk. Any failure walks element by
  // element from the root, which finds other spellings and says what is
  // missing.
  std::shared_ptr<const HostFolder> kept;  // the handle dir_fd belongs to, if not this call
  struct stat kept_st;
  bool kept_checked = false;  // kept_st is the stat of the kept folder now
  FolderStamp kept_trusted;   // else: its stamp as this batch trusts it
  int dir_fd = -1;
  size_t first = 0;
  {
    std::string parent = host_path();
    for (size_t i = 0; i + 1 < elements.size(); ++i) parent.append(1, '/').append(elements[i]);
    if (parent.size() < kLongHostPath) {
      kept = OpenFolderAt(parent.empty() ? root : parent, &kept_st, &kept_checked, &kept_trusted);
      if (kept) dir_fd = kept->fd();
    } else {
      dir_fd = OpenInSteps(root, elements, elements.size() - 1);
    }
    if (dir_fd >= 0) {
      host = std::move(parent);
      first = elements.size() - 1;
    }
  }
  if (dir_fd < 0) {
    host = host_path();
    dir_fd = ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  }
  bool all_found = dir_fd >= 0;
  for (size_t i = first; i < elements.size(); ++i) {
    const std::string element(elements[i]);
    const bool last = i + 1 == elements.size();
    std::string actual;
    if (all_found && !last) {
      // The exact spelling of a folder opens in one step.
      int next = ::openat(dir_fd, element.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (next >= 0) {
        host.append(1, '/').append(element);
        ::close(dir_fd);
        dir_fd = next;
        continue;
      }
      if (errno != ENOENT) {
        // A file (or a link to nothing) in the middle of a path: not found.
        all_found = false;
        host.append(1, '/').append(element);
        continue;
      }
    }
    // Only the last element is looked up in a kept folder.
    // A folder trusted in a batch may have changed since its look: the
    // cache then asks the open folder itself.
    const struct stat* dir_st = kept && kept_checked ? &kept_st : nullptr;
    const FolderStamp* trusted = kept && !kept_checked ? &kept_trusted : nullptr;
    if (all_found &&
        FindEntry(dir_fd, dir_st, trusted, use == LeafUse::kCreate && last, element,
                  last ? out : nullptr, &actual)) {
      host.append(1, '/').append(actual);
      if (last) {
        out->parent_exists = true;
        out->exists = true;
        out->leaf = actual;
        continue;
      }
      int next = ::openat(dir_fd, actual.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
      if (next < 0) {
        // A file (or a dangling link) in the middle of a path: not found.
        all_found = false;
        continue;
      }
      ::close(dir_fd);
      dir_fd = next;
    } else {
      if (last && all_found) {
        out->parent_exists = true;
        out->leaf = element;
      }
      all_found = false;
      host.append(1, '/').append(element);
    }
  }
  if (out->parent_exists) {
    out->folder = kept ? kept : std::make_shared<HostFolder>(dir_fd);
    dir_fd = -1;
    // host ends in the leaf: a short one is the system-call path itself.
    out->host = std::move(host);
    out->at = out->host.size() < kLongHostPath ? out->host : out->Sibling(out->leaf);
  } else {
    out->at = host;
    out->host = std::move(host);
  }
  if (dir_fd >= 0 && !kept) ::close(dir_fd);
  return true;
}

std::string Machine::HostToWindows(const std::string& host_path) const {
  std::string path = AbsoluteHostPath(host_path);
  const MachineDrive* best = nullptr;
  std::string best_root;
  for (const MachineDrive& d : settings_.drives) {
    std::string root = d.Root();
    if (root.empty()) continue;
    bool inside = root == "/" || path == root ||
                  (path.compare(0, root.size(), root) == 0 && path[root.size()] == '/');
    if (inside && (!best || root.size() > best_root.size())) {
      best = &d;
      best_root = root;
    }
  }
  if (!best) return "";
  std::string rest = best_root == "/" ? path.substr(1) : path.substr(best_root.size());
  if (!rest.empty() && rest[0] == '/') rest.erase(0, 1);
  std::string out = std::string(1, best->letter) + ":\\";
  for (char ch : rest) out += ch == '/' ? '\\' : ch;
  return winpath::StripTrailingSeparator(out);
}

uint64_t Machine::UsedBytes(const std::string& host_folder) {
  uint64_t total = 0;
  DIR* dir = ::opendir(host_folder.c_str());
  if (!dir) return 0;
  while (struct dirent* e = ::readdir(dir)) {
    if (std::strcmp(e->d_name, ".") == 0 || std::strcmp(e->d_name, "..") == 0) continue;
    std::string child = host_folder + "/" + e->d_name;
    struct stat st;
    if (::lstat(child.c_str(), &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      total += UsedBytes(child);
    } else if (S_ISREG(st.st_mode)) {
      total += static_cast<uint64_t>(st.st_size);
    }
  }
  ::closedir(dir);
  return total;
}

void Machine::ApplyEnvironment() const {
  const char* session = std::getenv("CRX_MACHINE_SESSION");
  if (session && folder_ == session) return;
  const char* host_path = std::getenv("CRX_HOST_PATH");
  if (!host_path) {
    const char* path = std::getenv("PATH");
    ::setenv("CRX_HOST_PATH", path ? path : "/usr/local/bin:/usr/bin:/bin", 1);
  }
  if (!std::getenv("TMPDIR")) {
    // Host libraries look for their temporary folder in TMPDIR before TMP
    // and TEMP, which are about to name a Windows folder.
    std::string host_temp = "/tmp";
    for (const char* name : {"TMP", "TEMP"}) {
      const char* v = std::getenv(name);
      if (v && v[0] == '/' && IsFolderOnHost(v)) {
        host_temp = v;
        break;
      }
    }
    ::setenv("TMPDIR", host_temp.c_str(), 1);
  }
  for (const auto& [name, value] : settings_.environment) {
    // Windows names compare without case: replace a variable of the same
    // name in another spelling (a host "Temp", say) rather than add one.
    std::vector<std::string> others;
    for (char** e = environ; e && *e; ++e) {
      const char* eq = std::strchr(*e, '=');
      if (!eq) continue;
      std::string existing(*e, static_cast<size_t>(eq - *e));
      if (existing != name && winpath::EqualsNoCase(existing, name)) others.push_back(existing);
    }
    for (const std::string& other : others) ::unsetenv(other.c_str());
    ::setenv(name.c_str(), value.c_str(), 1);
  }
  ::setenv("CRX_MACHINE_SESSION", folder_.c_str(), 1);
}

}  // namespace crx
