// The emulated Windows machine: a host folder that plays the part of a
// Windows computer.
//
// Layout of the machine folder:
//   machine.ini   the settings (below), written when the machine is created
//   registry.db   the registry (sqlite_registry.h)
//   share.lock    the mutex that serialises share-mode checks between the
//                 machine's programs (posix_files.cpp)
//   registry.db.lock  the mutex and change count that tell the machine's
//                 programs when the registry changed (sqlite_registry.cpp)
//   drive_c/      drive C:
//
// The settings file is an INI file:
//   [Machine]      UserName, ComputerName, Version (major.minor.build),
//                  PlatformId (2 = NT, 1 = Windows 95 family), ServicePack,
//                  Administrator (0/1), BootMoves (0/1: whether boot-time
//                  moves are supported), HostWrites (0/1, see below)
//   [Drive X]      one section per drive letter X: Type (fixed, removable,
//                  cdrom, remote, ramdisk), Folder (the host folder; relative
//                  to the machine folder unless absolute), Label, Serial
//                  (hexadecimal). A removable drive has no Folder but
//                  Capacity (bytes), Media1..MediaN (host folders, one per
//                  disk) and CurrentMedia (1..N, 0 = no disk in the drive);
//                  LabelN/SerialN name each disk.
//   [Environment]  the variables the machine gives its programs.
//
// Host writes: C: and every other drive whose folder lies inside the
// machine folder (and the disks of emulated removable drives) belong to
// the machine. Z: and other drives mapped to host folders outside it are
// the host's files. A program on the machine may create, change or delete
// host files only below a folder its user named as a destination
// (FileSystem::AllowWritesBelow), when it writes wherever its user tells it
// (FileSystem::AllowAllWrites: the builder, crx, crxmachine), or when the
// machine's HostWrites setting is 1 (off by default; `crxmachine set
// HostWrites 1`). Anything else fails with ERROR_ACCESS_DENIED and a line on
// standard error. Whether a path is inside is decided on the real host
// folders (links and ".." cannot lead out).
//
// Environment rule: when a program opens the platform and the variable
// CRX_MACHINE_SESSION is not the machine folder's path, the machine's
// [Environment] values are set in the process environment (replacing host
// values such as a host TEMP) and CRX_MACHINE_SESSION is set to the machine
// folder. Child processes inherit both, so changes a program makes (even
// removing TEMP) pass on to its children unchanged. The host's own PATH is
// kept in CRX_HOST_PATH for the host shell that runs shell commands, and
// TMPDIR (which Windows programs do not read) is set to the host's
// temporary folder when it is not set, so host libraries that look for a
// temporary folder keep finding one.
#ifndef CRX_PLATFORM_POSIX_MACHINE_H
#define CRX_PLATFORM_POSIX_MACHINE_H

#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace crx {

struct MachineDrive {
  char letter = 'C';
  DriveType type = DriveType::kFixed;
  std::string folder;               // fixed drives: the host folder (absolute)
  uint64_t capacity = 0;            // removable drives: emulated size in bytes
  std::vector<std::string> media;   // removable drives: host folder per disk
  int current_media = 0;            // 1-based; 0 = no disk
  std::string label;
  uint32_t serial = 0;
  std::vector<std::string> media_labels;
  std::vector<uint32_t> media_serials;

  // The host folder the drive's root is at now ("" when no disk is in).
  const std::string& Root() const;
  bool IsEmulatedRemovable() const { return type == DriveType::kRemovable && !media.empty(); }
};

struct MachineSettings {
  std::string user_name;
  std::string computer_name;
  OsVersion version;
  bool administrator = true;
  bool boot_moves = true;
  bool host_writes = false;  // programs may write anywhere on host drives
  std::vector<MachineDrive> drives;
  std::vector<std::pair<std::string, std::string>> environment;
};

// An open host folder (an O_PATH descriptor), closed when the last
// reference goes.
class HostFolder {
 public:
  explicit HostFolder(int fd) : fd_(fd) {}
  ~HostFolder();
  HostFolder(const HostFolder&) = delete;
  HostFolder& operator=(const HostFolder&) = delete;
  int fd() const { return fd_; }

 private:
  int fd_;
};

// What a folder looked like when its names were read: a change of entries
// changes its modification time (and on most file systems its size).
struct FolderStamp {
  dev_t dev = 0;
  ino_t ino = 0;
  struct timespec mtime = {0, 0};
  struct timespec ctime = {0, 0};
  off_t size = 0;
  bool Same(const FolderStamp& o) const;
};

// What a caller of Machine::Resolve does with the last element of the path.
enum class LeafUse { kLook, kCreate, kOpen };

// A Windows path resolved to the host file system.
struct ResolvedPath {
  std::string windows;     // full Windows path, no trailing separator but a root's
  std::string host;        // host path: existing elements in their host spelling
  const MachineDrive* drive = nullptr;
  bool exists = false;         // the whole path exists (a link counts, whatever it points at)
  bool parent_exists = false;  // the folder that holds the last element exists
  bool is_root = false;
  // When parent_exists (and not is_root): the open folder that holds the
  // last element and the element's host name in it.
  std::shared_ptr<const HostFolder> folder;
  std::string leaf;
  // A host path of the last element that system calls accept however deep
  // the path is: host itself when it is short, else a path through the open
  // folder ("/proc/self/fd/N/leaf").
  std::string at;
  // The stamp of `folder` when the lookup cache was consulted for the last
  // element (stamp_known), for keeping the cache current after a change.
  FolderStamp stamp;
  bool stamp_known = false;
  // What lstat said of the last element when the lookup found it in the
  // spelling given (leaf_stat_known), so the call that asked need not ask
  // again.
  struct stat leaf_stat = {};
  bool leaf_stat_known = false;
  // LeafUse::kOpen: the path is the one given, not looked at (there is no
  // `folder`); exists and parent_exists say nothing then.
  bool leaf_unverified = false;

  // The system-call path of another name in the same folder.
  std::string Sibling(const std::string& name) const;
};

class Machine {
 public:
  // Opens the machine in host folder `folder`. A folder without a settings
  // file gets the folders of a new machine and default settings in memory,
  // and IsNew() is true: the caller then writes the registry defaults and
  // saves the settings, which marks the machine as complete.
  static std::unique_ptr<Machine> Open(const std::string& folder, std::string* error);
  bool IsNew() const { return is_new_; }
  // The folder named by CRX_MACHINE, else $XDG_DATA_HOME/cratex/machine or
  // ~/.local/share/cratex/machine.
  static std::string DefaultFolder();

  const std::string& Folder() const { return folder_; }
  const MachineSettings& Settings() const { return settings_; }
  MachineSettings& MutableSettings() { return settings_; }
  // Writes the settings file (atomically: a new file renamed over the old).
  bool SaveSettings(std::string* error);
  const MachineDrive* FindDrive(char letter) const;

  // The per-process current folder (Windows path).
  const std::string& CurrentFolder() const { return current_folder_; }
  void SetCurrentFolderText(const std::string& path) { current_folder_ = path; }

  // GetFullPathName: absolute against the current folder, "." and ".."
  // resolved, '/' turned into '\\', trailing dots and blanks of the last
  // element removed. A trailing separator is kept. "" for "".
  std::string FullPath(const std::string& path) const;
  // Resolves a Windows path to the host file system. Existing elements are
  // found case-insensitively (the exact spelling first); missing ones keep
  // the spelling given. False with a Win32 error code in *error when the
  // path cannot name anything on this machine (no such drive, no disk in
  // the drive, an invalid character).
  // Costs one stat of the folder path and one of the last element when
  // every folder on the way exists in the spelling given: the folder's open
  // handle is kept and used again while a stat of its path finds the same
  // folder (so a folder renamed, deleted or replaced by anyone is opened
  // afresh). Else one lookup per element: each folder is opened relative
  // to the one before, the exact spelling is tried first, and a folder's
  // names are read only on a miss and then kept (see NoteAdded) until the
  // folder changes.
  // `use` says what the caller does with the last element next. kCreate:
  // it makes the element exclusively when missing, which itself tells
  // whether that exact name is there, so a name the folder's current cached
  // names lack counts as missing unasked. kOpen: it opens the path as
  // spelled, which tells the same; a path short enough for one system call
  // is then not looked at (leaf_unverified), and the caller looks it up
  // should the open find nothing.
  bool Resolve(const std::string& path, ResolvedPath* out, uint32_t* error,
               LeafUse use = LeafUse::kLook) const;
  // Keeping the lookup cache current when this process changes a folder:
  // StampFolder takes the stamp of p's folder (call it just before the
  // change when Resolve did not take it: an exact hit of the last element
  // takes none); NoteNames then says that the name `removed` (deleted,
  // renamed away) left the folder and `added` (created, renamed to) came
  // in, either may be empty. The folder's names are kept, updated, when the
  // stamp before the change is the one they were read or last updated at,
  // and dropped (read again on the next miss) otherwise; changes by other
  // processes are seen through the stamp. NoteAdded and NoteRemoved note
  // p's last element.
  bool StampFolder(ResolvedPath* p) const;
  // A batch of lookups (FileSystem::BeginBatch): while one is open, a kept
  // folder whose path was looked at in this batch is used without looking
  // again, and its cached names, while they are the ones of that look,
  // answer for a name they lack. ForgetFolderChecks ends that for the rest of the batch (this
  // process renamed or removed a folder).
  void BeginBatch() const;
  void EndBatch() const;
  void ForgetFolderChecks() const;
  // How many times a folder's names were read for a lookup (for tests).
  size_t FolderReads() const {
    std::lock_guard<std::mutex> lock(cache_mutex_);
    return folder_reads_;
  }
  void NoteNames(const ResolvedPath& p, const std::string& removed,
                 const std::string& added) const;
  void NoteAdded(const ResolvedPath& p) const;
  void NoteRemoved(const ResolvedPath& p) const;
  // A host path as a Windows path through the drive with the longest
  // matching host folder; "" when no drive holds it.
  std::string HostToWindows(const std::string& host_path) const;

  // The 8.3 aliases of the names in a host folder that need one (long
  // name -> alias), unique in the folder. An alias, once given, is kept
  // with its file (user.crx.shortname, with the name it was made for) so
  // it stays while others change; a renamed file gets a new one.
  static std::map<std::string, std::string> ShortNames(const std::string& host_folder);

  // Bytes of all files below a host folder (the used space of a disk).
  static uint64_t UsedBytes(const std::string& host_folder);

  // Applies the environment rule described above.
  void ApplyEnvironment() const;

 private:
  bool Load(std::string* error);
  bool Create(std::string* error);

  // The names of one folder, upper-cased -> host spelling (the first in
  // reading order when several differ only in case).
  struct FolderNames {
    FolderStamp stamp;
    std::unordered_map<std::string, std::string> names;
    bool case_twins = false;  // some names differ only in case
  };
  bool FindEntry(int dir_fd, const struct stat* dir_st, const FolderStamp* trusted,
                 bool creating, const std::string& name, ResolvedPath* last,
                 std::string* actual) const;
  // The open folder at a host path (links followed) and its stat; nullptr
  // when there is none. Kept open for the next lookup (see Resolve). Inside
  // a batch a folder already looked at in it comes without a look:
  // *checked is then false, *st not filled, and *trusted receives the
  // folder's stamp as that look saw it (moved on by this process's own
  // changes since, see NoteNames).
  std::shared_ptr<const HostFolder> OpenFolderAt(const std::string& path, struct stat* st,
                                                 bool* checked, FolderStamp* trusted) const;

  std::string folder_;
  bool is_new_ = false;
  MachineSettings settings_;
  std::string current_folder_;
  mutable std::mutex cache_mutex_;
  mutable std::map<std::pair<dev_t, ino_t>, FolderNames> cache_;
  mutable size_t cached_names_ = 0;
  mutable size_t folder_reads_ = 0;
  struct OpenFolder {
    std::shared_ptr<const HostFolder> folder;
    dev_t dev = 0;
    ino_t ino = 0;
    uint64_t checked_in = 0;  // the batch whose look found it (0: none)
    FolderStamp seen;         // the folder's stamp at that look
  };
  mutable int batch_depth_ = 0;
  mutable uint64_t batch_ = 0;  // the current batch's number, when batch_depth_ > 0
  // By host path; looked up by the parts of longer paths too.
  struct PathHash {
    using is_transparent = void;
    size_t operator()(std::string_view path) const {
      return std::hash<std::string_view>()(path);
    }
  };
  mutable std::unordered_map<std::string, OpenFolder, PathHash, std::equal_to<>> open_folders_;
};

// Writes the values a Windows installation has that programs read (shell
// folders, program files folders, the Uninstall key, version values) and
// creates the folders they name. Used when a machine is created.
bool WriteDefaultRegistry(Registry& registry, FileSystem& files,
                          const MachineSettings& settings, std::string* error);

// Points the builder's stub paths (HKLM "SOFTWARE\Velmora\Cratex\1.00",
// values datafile and mdatafile) at Cratex.dat and Cratexm.dat in the
// machine folder given (a Windows path). A new machine gets the stubs of
// the build its programs come from; crxmachine can point them at another
// build's (the Windows stubs, to build archives for Windows).
bool WriteBuilderStubs(Registry& registry, FileSystem& files, const std::string& folder,
                       std::string* error);

// The settings file's name of a drive type ("fixed", "removable", ...).
const char* DriveTypeName(DriveType type);

// The Win32 error code for an errno value.
uint32_t Win32ErrorFromErrno(int err);

}  // namespace crx

#endif  // CRX_PLATFORM_POSIX_MACHINE_H
