// Files of the emulated machine.
//
// Share modes: every open handle is its own open file description, and it
// announces its access and sharing with shared open-file-description locks
// (F_OFD_SETLK) on single bytes far beyond any real file data: "has read
// access", "has write access", "denies read" (opened without read
// sharing), "denies write", "denies delete". A new open asks with
// F_OFD_GETLK whether another description holds a byte that conflicts
// with it, so conflicts are seen across processes as well as between two
// handles of one process; the locks go away when the handle closes. The
// check and the taking of the locks happen under the machine's share lock,
// so two programs cannot slip past each other: a process-shared mutex kept
// in the machine's share.lock file, which costs no system call while no
// other program holds it (a file lock there costs two per open).
//
// Attributes: read-only is a file without write permission bits (folders
// keep it with the other bits); hidden, system and archive are kept in the
// extended attribute user.crx.attributes. A file that has none (made
// outside the machine) counts as archive. Deleting a read-only file is
// refused, as Windows refuses it.
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

#include "common/format.h"
#include "common/winpath.h"
#include "platform/posix/machine_mutex.h"
#include "platform/posix/posix_platform.h"

namespace crx {

namespace {

constexpr uint32_t kErrorNegativeSeek = 131;
constexpr uint32_t kErrorNotSameDevice = 17;
constexpr uint32_t kErrorBadNetPath = 53;

const char kAttributesXattr[] = "user.crx.attributes";
constexpr uint32_t kStoredBits = kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive;

// The lock bytes, counted back from the largest offset a lock can name.
constexpr off_t kLockBase = INT64_MAX - 16;
// The order makes the common sets runs, each taken or asked with one call:
// a reader that shares reading holds 0-2 and asks about 3-4, a writer that
// shares nothing holds 1-4.
enum LockByte : off_t {
  kHasRead = 0,
  kDeniesWrite = 1,
  kDeniesDelete = 2,
  kHasWrite = 3,
  kDeniesRead = 4,
};

// Sets of lock bytes, one bit per byte.
constexpr unsigned Bit(LockByte byte) { return 1u << byte; }

// Calls step(first, count) for each run of consecutive bytes in the set,
// so that one lock call covers a run: a lock on a run conflicts with, and
// is seen by, exactly the single-byte questions and locks its bytes would.
template <typename Step>
bool ForEachRun(unsigned bytes, Step step) {
  for (off_t b = 0; b < 8; ++b) {
    if (!(bytes & (1u << b))) continue;
    off_t n = 1;
    while (bytes & (1u << (b + n))) ++n;
    if (!step(b, n)) return false;
    b += n;
  }
  return true;
}

// True when another open file description holds a lock on any of the bytes.
bool AnyHeldByOther(int fd, unsigned bytes) {
  return !ForEachRun(bytes, [fd](off_t first, off_t count) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_WRLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockBase + first;
    fl.l_len = count;
    if (::fcntl(fd, F_OFD_GETLK, &fl) != 0) return true;
    return fl.l_type == F_UNLCK;
  });
}

bool ByteHeldByOther(int fd, LockByte byte) { return AnyHeldByOther(fd, Bit(byte)); }

bool HoldBytes(int fd, unsigned bytes) {
  return ForEachRun(bytes, [fd](off_t first, off_t count) {
    struct flock fl;
    std::memset(&fl, 0, sizeof fl);
    fl.l_type = F_RDLCK;
    fl.l_whence = SEEK_SET;
    fl.l_start = kLockBase + first;
    fl.l_len = count;
    return ::fcntl(fd, F_OFD_SETLK, &fl) == 0;
  });
}

bool HoldByte(int fd, LockByte byte) { return HoldBytes(fd, Bit(byte)); }

// The machine-wide share lock (see above): the machine's mutex in
// share.lock. What it guards are the open-file-description locks, and the
// kernel drops a dead program's with its handles, so a program that died
// holding it leaves nothing to repair. Where the file cannot be mapped, a
// file lock on it serves instead; failing that, only this process's
// threads are kept apart.
class ShareLock {
 public:
  explicit ShareLock(const std::string& path) : mutex_(path) {}

  void Lock() {
    ThreadMutex().lock();
    if (mutex_.Shared()) {
      mutex_.Lock(-1);
    } else if (mutex_.Fd() >= 0) {
      while (::flock(mutex_.Fd(), LOCK_EX) != 0 && errno == EINTR) {
      }
    }
  }
  void Unlock() {
    if (mutex_.Shared()) {
      mutex_.Unlock();
    } else if (mutex_.Fd() >= 0) {
      ::flock(mutex_.Fd(), LOCK_UN);
    }
    ThreadMutex().unlock();
  }

 private:
  static std::mutex& ThreadMutex() {
    static std::mutex mutex;
    return mutex;
  }

  MachineMutex mutex_;
};

// Holds the share lock while it lives.
class ShareGuard {
 public:
  explicit ShareGuard(ShareLock& lock) : lock_(lock) { lock_.Lock(); }
  ~ShareGuard() { lock_.Unlock(); }

 private:
  ShareLock& lock_;
};

// Stored attribute bits from the text of the attribute (n bytes read into
// buf, which has room for one more); false when the file has none.
bool ParseStoredBits(char* buf, ssize_t n, uint32_t* bits) {
  if (n <= 0) return false;
  buf[n] = '\0';
  *bits = static_cast<uint32_t>(std::strtoul(buf, nullptr, 10)) & kStoredBits;
  return true;
}

bool ReadStoredBits(const std::string& host, uint32_t* bits) {
  char buf[32];
  return ParseStoredBits(buf, ::getxattr(host.c_str(), kAttributesXattr, buf, sizeof buf - 1),
                         bits);
}

// The same for an open file.
bool ReadStoredBits(int fd, uint32_t* bits) {
  char buf[32];
  return ParseStoredBits(buf, ::fgetxattr(fd, kAttributesXattr, buf, sizeof buf - 1), bits);
}

int WriteStoredBits(const std::string& host, uint32_t bits) {
  std::string text = Format("%u", bits & kStoredBits);
  if (::setxattr(host.c_str(), kAttributesXattr, text.data(), text.size(), 0) != 0) return errno;
  return 0;
}

// The attributes of a symbolic link: they describe the link itself, a
// folder link also being a folder, as Windows shows them.
uint32_t LinkAttributes(const std::string& host) {
  struct stat target;
  bool folder = ::stat(host.c_str(), &target) == 0 && S_ISDIR(target.st_mode);
  return kAttrReparsePoint | (folder ? kAttrDirectory : kAttrArchive);
}

// The attributes of a file or folder (not a link) of the given mode whose
// stored bits are `stored` (has: it has some).
uint32_t AttributesFrom(mode_t mode, bool has, uint32_t stored) {
  uint32_t attrs = 0;
  if (S_ISDIR(mode)) {
    attrs = kAttrDirectory | (stored & kStoredBits);
  } else {
    attrs = has ? (stored & (kAttrHidden | kAttrSystem | kAttrArchive)) : kAttrArchive;
    if ((mode & 0222) == 0) attrs |= kAttrReadOnly;
  }
  return attrs == 0 ? kAttrNormal : attrs;
}

uint32_t AttributesOf(const std::string& host, const struct stat& st) {
  if (S_ISLNK(st.st_mode)) return LinkAttributes(host);
  uint32_t stored = 0;
  bool has = ReadStoredBits(host, &stored);
  return AttributesFrom(st.st_mode, has, stored);
}

bool IsReadOnlyFile(const struct stat& st) {
  return !S_ISDIR(st.st_mode) && (st.st_mode & 0222) == 0;
}

FileTime MtimeOf(const struct stat& st) {
  return UnixToFileTime(st.st_mtim.tv_sec, static_cast<uint32_t>(st.st_mtim.tv_nsec));
}

struct timespec ToTimespec(FileTime time) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(FileTimeToUnixSeconds(time));
  ts.tv_nsec = static_cast<long>(FileTimeSubsecondNanos(time));
  return ts;
}

// Where system calls find p's last element: by name in its open folder,
// so that the folder the checks looked at is the one changed and no path
// is walked again; a root by its path.
struct AtName {
  int dir;
  const char* name;
};
AtName At(const ResolvedPath& p) {
  if (p.folder && !p.leaf.empty()) return AtName{p.folder->fd(), p.leaf.c_str()};
  return AtName{AT_FDCWD, p.at.c_str()};
}

// lstat of p's last element: what the lookup saw a moment ago when it
// found the name as spelled, else asked now.
bool LeafStat(const ResolvedPath& p, struct stat* st) {
  if (p.leaf_stat_known) {
    *st = p.leaf_stat;
    return true;
  }
  const AtName at = At(p);
  return ::fstatat(at.dir, at.name, st, AT_SYMLINK_NOFOLLOW) == 0;
}

// stat of p's last element (a link followed): what the lookup saw when it
// is no link, else asked now.
bool TargetStat(const ResolvedPath& p, struct stat* st) {
  if (p.leaf_stat_known && !S_ISLNK(p.leaf_stat.st_mode)) {
    *st = p.leaf_stat;
    return true;
  }
  const AtName at = At(p);
  return ::fstatat(at.dir, at.name, st, 0) == 0;
}

// The error for a path that does not exist: the file, or a folder on the
// way to it, is missing.
uint32_t MissingError(const ResolvedPath& p) {
  return p.parent_exists ? kErrorFileNotFound : kErrorPathNotFound;
}


// ---------------------------------------------------------------------------

class PosixFile : public File {
 public:
  PosixFile(int fd, bool can_read, bool can_write, std::string host, const MachineDrive* drive)
      : fd_(fd), can_read_(can_read), can_write_(can_write), host_(std::move(host)),
        drive_(drive) {}
  ~PosixFile() override { ::close(fd_); }

  int fd() const { return fd_; }
  int Descriptor() const override { return fd_; }

  // Data copied into the file by CopyFileData sets the archive bit as a
  // write does.
  void DataWritten() { MarkArchive(); }
  // The size the handle's last stat saw while the file position is still
  // at the start (nothing read, written or sought but back to 0); else -1.
  int64_t SizeFromStart() const { return at_start_ ? size_seen_ : -1; }
  void Moved() { at_start_ = false; }
  bool CanWrite() const { return can_write_; }
  const MachineDrive* Drive() const { return drive_; }

  void ArchiveMarked() { archive_marked_ = true; }

  bool Read(void* buffer, size_t size, size_t* got) override {
    *got = 0;
    if (!can_read_) return Fail(kErrorAccessDenied);
    at_start_ = false;
    char* out = static_cast<char*>(buffer);
    while (*got < size) {
      ssize_t n = ::read(fd_, out + *got, size - *got);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail(Win32ErrorFromErrno(errno));
      if (n == 0) break;
      *got += static_cast<size_t>(n);
    }
    return true;
  }

  bool Write(const void* data, size_t size) override {
    if (!can_write_) return Fail(kErrorAccessDenied);
    if (size == 0) return true;
    at_start_ = false;
    if (drive_ && drive_->IsEmulatedRemovable() && drive_->capacity > 0) {
      // The emulated disk is full when the write would grow its files past
      // the capacity.
      struct stat st;
      off_t pos = ::lseek(fd_, 0, SEEK_CUR);
      if (::fstat(fd_, &st) == 0 && pos >= 0) {
        uint64_t end = static_cast<uint64_t>(pos) + size;
        uint64_t growth = end > static_cast<uint64_t>(st.st_size)
                              ? end - static_cast<uint64_t>(st.st_size) : 0;
        if (growth > 0 && Machine::UsedBytes(drive_->Root()) + growth > drive_->capacity) {
          return Fail(kErrorDiskFull);
        }
      }
    }
    const char* in = static_cast<const char*>(data);
    size_t done = 0;
    while (done < size) {
      ssize_t n = ::write(fd_, in + done, size - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) return Fail(Win32ErrorFromErrno(errno));
      done += static_cast<size_t>(n);
    }
    MarkArchive();
    return true;
  }

  bool Seek(int64_t offset, SeekFrom from, int64_t* position) override {
    int whence = from == SeekFrom::kBegin ? SEEK_SET : from == SeekFrom::kCurrent ? SEEK_CUR
                                                                                  : SEEK_END;
    off_t base = from == SeekFrom::kBegin ? 0 : ::lseek(fd_, 0, whence);
    if (base < 0) return Fail(Win32ErrorFromErrno(errno));
    if (from != SeekFrom::kBegin && base + offset < 0) return Fail(kErrorNegativeSeek);
    if (from == SeekFrom::kBegin && offset < 0) return Fail(kErrorNegativeSeek);
    off_t result = ::lseek(fd_, static_cast<off_t>(from == SeekFrom::kBegin ? offset
                                                                            : base + offset),
                           SEEK_SET);
    if (result < 0) return Fail(Win32ErrorFromErrno(errno));
    if (result != 0) at_start_ = false;
    if (position) *position = result;
    return true;
  }

  bool Size(int64_t* size) override {
    struct stat st;
    if (::fstat(fd_, &st) != 0) return Fail(Win32ErrorFromErrno(errno));
    *size = st.st_size;
    size_seen_ = st.st_size;
    return true;
  }

  bool SetEnd() override {
    if (!can_write_) return Fail(kErrorAccessDenied);
    at_start_ = false;
    off_t pos = ::lseek(fd_, 0, SEEK_CUR);
    if (pos < 0) return Fail(Win32ErrorFromErrno(errno));
    if (::ftruncate(fd_, pos) != 0) return Fail(Win32ErrorFromErrno(errno));
    MarkArchive();
    return true;
  }

  bool Flush() override {
    if (::fdatasync(fd_) != 0 && errno != EINVAL) return Fail(Win32ErrorFromErrno(errno));
    return true;
  }

  // The handle's stat when it was opened answers GetLastWriteTime (see
  // OpenResolved).
  void KeepOpenedTime(const struct stat& st) {
    opened_time_ = MtimeOf(st);
    opened_time_known_ = true;
    size_seen_ = st.st_size;
    mode_seen_ = st.st_mode;
  }

  bool GetLastWriteTime(FileTime* time) override {
    if (opened_time_known_) {
      *time = opened_time_;
      return true;
    }
    struct stat st;
    if (::fstat(fd_, &st) != 0) return Fail(Win32ErrorFromErrno(errno));
    *time = MtimeOf(st);
    size_seen_ = st.st_size;
    mode_seen_ = st.st_mode;
    return true;
  }

  // The file's own attributes (an open link is the file it leads to). The
  // mode comes from the handle's last stat when it had one: the copy that
  // asks has just read the file's time.
  bool GetAttributes(uint32_t* attributes) override {
    if (mode_seen_ == 0) {
      struct stat st;
      if (::fstat(fd_, &st) != 0) return Fail(Win32ErrorFromErrno(errno));
      mode_seen_ = st.st_mode;
    }
    uint32_t stored = 0;
    const bool has = ReadStoredBits(fd_, &stored);
    *attributes = AttributesFrom(mode_seen_, has, stored);
    return true;
  }

  bool SetLastWriteTime(FileTime time) override {
    struct timespec ts[2];
    ts[0].tv_sec = 0;
    ts[0].tv_nsec = UTIME_OMIT;
    ts[1] = ToTimespec(time);
    if (::futimens(fd_, ts) != 0) return Fail(Win32ErrorFromErrno(errno));
    opened_time_known_ = false;
    return true;
  }

 private:
  void MarkArchive() {
    if (archive_marked_) return;
    archive_marked_ = true;
    uint32_t bits = 0;
    if (ReadStoredBits(fd_, &bits) && (bits & kAttrArchive)) return;
    std::string text = Format("%u", (bits | kAttrArchive) & kStoredBits);
    ::fsetxattr(fd_, kAttributesXattr, text.data(), text.size(), 0);
  }

  int fd_;
  bool can_read_;
  bool can_write_;
  bool archive_marked_ = false;
  bool at_start_ = true;
  int64_t size_seen_ = -1;
  mode_t mode_seen_ = 0;  // the mode the handle's last stat saw; 0: none yet
  FileTime opened_time_ = 0;
  bool opened_time_known_ = false;
  std::string host_;
  const MachineDrive* drive_;
};

}  // namespace

// copy_file_range moves the data inside the kernel (or shares it, on file
// systems that can). Only files of the machine have descriptors; emulated
// removable disks count every write against their capacity, and file
// systems that refuse the call get the plain loop.
bool CopyFileData(File& source, File& destination) {
  const int in = source.Descriptor();
  const int out_fd = destination.Descriptor();
  if (in < 0 || out_fd < 0) return CopyFileDataByReading(source, destination);
  auto& out = static_cast<PosixFile&>(destination);
  if (!out.CanWrite() || (out.Drive() && out.Drive()->IsEmulatedRemovable())) {
    return CopyFileDataByReading(source, destination);
  }
  // A source still at its start whose size was just asked (the copy asks
  // for its time) copies that many bytes, without the call that would only
  // find the end; a file that grew since is copied as it was then.
  auto& from = static_cast<PosixFile&>(source);
  int64_t left = from.SizeFromStart();
  from.Moved();
  bool copied = false;
  while (left != 0 || !copied) {
    const size_t chunk = left > 0 && left < (int64_t{1} << 30) ? static_cast<size_t>(left)
                                                               : size_t{1} << 30;
    ssize_t n = ::copy_file_range(in, nullptr, out_fd, nullptr, chunk, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      if (!copied && (errno == EXDEV || errno == EINVAL || errno == ENOSYS ||
                      errno == EOPNOTSUPP || errno == EBADF)) {
        return CopyFileDataByReading(source, destination);
      }
      return Fail(Win32ErrorFromErrno(errno));
    }
    // Some file systems (proc, sys and other generated files) answer 0
    // at once whatever they hold: a first 0 is checked by reading.
    if (n == 0 && !copied) return CopyFileDataByReading(source, destination);
    if (n == 0) break;
    copied = true;
    if (left > 0) left -= std::min<int64_t>(left, n);
  }
  out.DataWritten();
  return true;
}

namespace {

// A folder by device and inode, so that links and ".." cannot disguise it.
struct FolderId {
  dev_t dev = 0;
  ino_t ino = 0;
};

class PosixFileSystem : public FileSystem, public DiskChanger {
 public:
  explicit PosixFileSystem(Machine& machine)
      : machine_(machine), share_lock_(machine_.Folder() + "/share.lock") {}

  std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                             Disposition disposition, uint32_t attributes) override {
    return OpenFile(path, access, share, disposition, attributes, true);
  }

  bool CopyFile(const std::string& from, const std::string& to, bool fail_if_exists) override {
    ResolvedPath src, dst;
    if (!Resolve(from, &src) || !Resolve(to, &dst)) return false;
    struct stat sst;
    if (!src.exists || !TargetStat(src, &sst)) return Fail(MissingError(src));
    if (S_ISDIR(sst.st_mode)) return Fail(kErrorAccessDenied);
    struct stat dst_st;
    bool dst_exists = dst.exists && TargetStat(dst, &dst_st);
    if (dst_exists) {
      if (fail_if_exists) return Fail(kErrorFileExists);
      if (S_ISDIR(dst_st.st_mode) || IsReadOnlyFile(dst_st)) return Fail(kErrorAccessDenied);
      if (dst_st.st_ino == sst.st_ino && dst_st.st_dev == sst.st_dev) {
        return Fail(kErrorSharingViolation);  // a file copied onto itself
      }
    }
    // Both names were looked up just now: the opens use those lookups.
    std::unique_ptr<PosixFile> in = OpenResolved(src, from, kAccessRead, kShareRead | kShareDelete,
                                                 Disposition::kOpenExisting, 0, true);
    if (!in) return false;
    uint32_t attrs = AttributesOf(src.at, sst);
    std::unique_ptr<PosixFile> out = OpenResolved(dst, to, kAccessWrite, kShareNone,
                                                  Disposition::kCreateAlways, 0, false);
    if (!out) return false;
    if (!CopyFileData(*in, *out)) {
      uint32_t err = LastError();
      out.reset();
      ResolvedPath again;
      if (Resolve(to, &again) && again.exists && ::unlink(again.at.c_str()) == 0) {
        machine_.NoteRemoved(again);
      }
      return Fail(err);
    }
    FileTime time = MtimeOf(sst);
    if (!out->SetLastWriteTime(time)) return false;
    // The copy takes the original's attributes, read-only included. The
    // new file has the archive bit already: only other attributes, or a
    // file the umask left without write permission, need more.
    const uint32_t wanted = (attrs & kStoredBits) | kAttrArchive;
    struct stat made_st;
    const bool done = wanted == kAttrArchive && ::fstat(out->fd(), &made_st) == 0 &&
                      (made_st.st_mode & 0222) != 0;
    out.reset();
    if (done) return true;
    ResolvedPath made;
    if (!Resolve(to, &made)) return false;
    return ApplyAttributes(made.at, wanted, false);
  }

  // A symbolic link is deleted itself, never what it points at.
  bool DeleteFile(const std::string& path) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    const AtName at = At(p);
    if (!p.exists || !LeafStat(p, &st)) return Fail(MissingError(p));
    if (S_ISDIR(st.st_mode)) return Fail(kErrorAccessDenied);
    if (!S_ISLNK(st.st_mode) && IsReadOnlyFile(st)) return Fail(kErrorAccessDenied);
    if (!MayWrite(p, false)) return false;
    ShareGuard guard(share_lock_);
    if (DeleteBlocked(at)) return Fail(kErrorSharingViolation);
    if (S_ISLNK(st.st_mode)) machine_.ForgetFolderChecks();  // it may lead to a folder
    machine_.StampFolder(&p);
    if (::unlinkat(at.dir, at.name, 0) != 0) return Fail(Win32ErrorFromErrno(errno));
    machine_.NoteRemoved(p);
    return true;
  }

  bool MoveFile(const std::string& from, const std::string& to) override {
    return Move(from, to, false);
  }

  bool ReplaceFile(const std::string& from, const std::string& to) override {
    return Move(from, to, true);
  }

  bool GetFileInfo(const std::string& path, FolderEntry* info) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    if (!p.exists || !LeafStat(p, &st)) return Fail(MissingError(p));
    *info = FolderEntry();
    info->attributes = AttributesOf(p.at, st);
    // A link is described by what it points at, as for an open file.
    if (S_ISLNK(st.st_mode) && !TargetStat(p, &st)) return Fail(MissingError(p));
    info->size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    info->last_write = MtimeOf(st);
    return true;
  }

  // As GetFileInfo without reading the stored attribute bits.
  bool GetFileSizeInfo(const std::string& path, FolderEntry* info) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    if (!p.exists || !LeafStat(p, &st)) return Fail(MissingError(p));
    if (S_ISLNK(st.st_mode) && !TargetStat(p, &st)) return Fail(MissingError(p));
    *info = FolderEntry();
    info->attributes = S_ISDIR(st.st_mode) ? kAttrDirectory : kAttrNormal;
    info->size = S_ISREG(st.st_mode) ? static_cast<uint64_t>(st.st_size) : 0;
    info->last_write = MtimeOf(st);
    return true;
  }

  void BeginBatch() override { machine_.BeginBatch(); }
  void EndBatch() override { machine_.EndBatch(); }

  uint32_t GetAttributes(const std::string& path) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return kInvalidAttributes;
    struct stat st;
    if (!p.exists || !LeafStat(p, &st)) {
      SetLastError(MissingError(p));
      return kInvalidAttributes;
    }
    return AttributesOf(p.at, st);
  }

  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    if (!p.exists || !LeafStat(p, &st)) return Fail(MissingError(p));
    // A link keeps no attributes of its own here, and changing its
    // target's through it is what a planted link would want.
    if (S_ISLNK(st.st_mode)) return Fail(kErrorAccessDenied);
    if (!MayWrite(p, false)) return false;
    return ApplyAttributes(p.at, attributes, true);
  }

  bool GetLastWriteTime(const std::string& path, FileTime* time) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    if (!p.exists || ::stat(p.at.c_str(), &st) != 0) return Fail(MissingError(p));
    *time = MtimeOf(st);
    return true;
  }

  bool SetLastWriteTime(const std::string& path, FileTime time) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    if (!p.exists) return Fail(MissingError(p));
    if (!MayWrite(p, true)) return false;
    struct timespec ts[2];
    ts[0].tv_sec = 0;
    ts[0].tv_nsec = UTIME_OMIT;
    ts[1] = ToTimespec(time);
    if (::utimensat(AT_FDCWD, p.at.c_str(), ts, 0) != 0) return Fail(Win32ErrorFromErrno(errno));
    return true;
  }

  bool CreateFolder(const std::string& path) override { return MakeFolder(path, false); }

  bool CreatePrivateFolder(const std::string& path) override { return MakeFolder(path, true); }

  // A link to a folder is removed itself, as Windows removes a folder link.
  bool RemoveFolder(const std::string& path) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    if (!p.exists || !LeafStat(p, &st)) return Fail(MissingError(p));
    if (S_ISLNK(st.st_mode)) {
      struct stat target;
      if (::stat(p.at.c_str(), &target) != 0 || !S_ISDIR(target.st_mode)) {
        return Fail(kErrorDirectory);
      }
      if (!MayWrite(p, false)) return false;
      machine_.ForgetFolderChecks();
      machine_.StampFolder(&p);
      if (::unlink(p.at.c_str()) != 0) return Fail(Win32ErrorFromErrno(errno));
      machine_.NoteRemoved(p);
      return true;
    }
    if (!S_ISDIR(st.st_mode)) return Fail(kErrorDirectory);
    uint32_t stored = 0;
    if (ReadStoredBits(p.at, &stored) && (stored & kAttrReadOnly)) {
      return Fail(kErrorAccessDenied);
    }
    // Windows will not remove a process's own current folder.
    struct stat cwd;
    if (::stat(".", &cwd) == 0 && cwd.st_ino == st.st_ino && cwd.st_dev == st.st_dev) {
      return Fail(kErrorSharingViolation);
    }
    if (!MayWrite(p, false)) return false;
    machine_.ForgetFolderChecks();
    machine_.StampFolder(&p);
    if (::rmdir(p.at.c_str()) != 0) {
      return Fail(errno == EEXIST ? kErrorDirNotEmpty : Win32ErrorFromErrno(errno));
    }
    machine_.NoteRemoved(p);
    return true;
  }

  bool ListFolder(const std::string& pattern, std::vector<FolderEntry>* entries) override {
    entries->clear();
    std::string full = machine_.FullPath(pattern);
    std::string name = winpath::LastElement(full);
    std::string folder = winpath::Parent(full);
    if (full.empty() || folder.empty()) return Fail(kErrorPathNotFound);
    ResolvedPath p;
    if (!Resolve(folder, &p)) return false;
    struct stat st;
    if (!p.exists || ::stat(p.at.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
      return Fail(kErrorPathNotFound);
    }
    if (name.empty()) return Fail(kErrorFileNotFound);
    std::map<std::string, std::string> shorts = Machine::ShortNames(p.at);
    DIR* dir = ::opendir(p.at.c_str());
    if (!dir) return Fail(Win32ErrorFromErrno(errno));
    std::string base = p.at == "/" ? "" : p.at;
    while (struct dirent* e = ::readdir(dir)) {
      std::string entry_name = e->d_name;
      if (entry_name == "." || entry_name == "..") continue;
      auto alias = shorts.find(entry_name);
      std::string short_name = alias == shorts.end() ? "" : alias->second;
      if (!winpath::MatchWildcard(name, entry_name) &&
          (short_name.empty() || !winpath::MatchWildcard(name, short_name))) {
        continue;
      }
      std::string host = base + "/" + entry_name;
      struct stat est;
      if (::lstat(host.c_str(), &est) != 0) continue;
      FolderEntry fe;
      fe.name = entry_name;
      fe.short_name = short_name;
      fe.attributes = AttributesOf(host, est);
      // A link shows as itself (dangling ones too), with no size of its own.
      fe.size = S_ISREG(est.st_mode) ? static_cast<uint64_t>(est.st_size) : 0;
      fe.last_write = MtimeOf(est);
      entries->push_back(fe);
    }
    ::closedir(dir);
    if (entries->empty()) return Fail(kErrorFileNotFound);
    std::sort(entries->begin(), entries->end(), [](const FolderEntry& a, const FolderEntry& b) {
      return winpath::CompareNoCase(a.name, b.name) < 0;
    });
    return true;
  }

  std::string CurrentFolder() override { return machine_.CurrentFolder(); }

  bool SetCurrentFolder(const std::string& path) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    struct stat st;
    if (!p.exists || ::stat(p.at.c_str(), &st) != 0) return Fail(MissingError(p));
    if (!S_ISDIR(st.st_mode)) return Fail(kErrorDirectory);
    if (::chdir(p.at.c_str()) != 0) return Fail(Win32ErrorFromErrno(errno));
    machine_.SetCurrentFolderText(p.windows);
    return true;
  }

  std::string FullPath(const std::string& path) override { return machine_.FullPath(path); }

  bool ShortPath(const std::string& path, std::string* short_path) override {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    if (!p.exists) return Fail(MissingError(p));
    std::string full = winpath::StripTrailingSeparator(machine_.FullPath(path));
    std::string out = winpath::Root(full);
    std::string prefix = out;
    std::vector<std::string> elements = winpath::Elements(full);
    for (size_t i = 0; i < elements.size(); ++i) {
      // Each element as the machine finds it (its host spelling, also when
      // the path gives it by its 8.3 alias), then its alias in its folder.
      prefix = winpath::Join(prefix, elements[i]);
      ResolvedPath q;
      std::string actual = elements[i];
      std::string host_folder;
      if (Resolve(prefix, &q) && q.exists && !q.is_root) {
        size_t slash = q.at.find_last_of('/');
        actual = q.at.substr(slash + 1);
        host_folder = slash == 0 ? "/" : q.at.substr(0, slash);
      }
      std::map<std::string, std::string> shorts = Machine::ShortNames(host_folder);
      auto alias = shorts.find(actual);
      if (i > 0) out += '\\';
      out += alias == shorts.end() ? elements[i] : alias->second;
    }
    *short_path = out;
    return true;
  }

  DriveType GetDriveType(const std::string& root) override {
    std::string r = root.empty() ? winpath::Root(machine_.CurrentFolder()) : root;
    bool is_root = r.size() >= 2 && winpath::HasDriveLetter(r) &&
                   (r.size() == 2 || (r.size() == 3 && winpath::IsSeparator(r[2])));
    if (!is_root) return DriveType::kNoRootDir;
    const MachineDrive* d = machine_.FindDrive(r[0]);
    return d ? d->type : DriveType::kNoRootDir;
  }

  uint32_t LogicalDrives() override {
    uint32_t bits = 0;
    for (const MachineDrive& d : machine_.Settings().drives) bits |= 1u << (d.letter - 'A');
    return bits;
  }

  bool GetFreeSpace(const std::string& root, FreeSpace* space) override {
    ResolvedPath p;
    if (!Resolve(root, &p)) return false;
    const MachineDrive* d = p.drive;
    if (d->IsEmulatedRemovable() && d->capacity > 0) {
      uint64_t used = Machine::UsedBytes(d->Root());
      space->total = d->capacity;
      space->total_free = used >= d->capacity ? 0 : d->capacity - used;
      space->free_to_caller = space->total_free;
      return true;
    }
    if (!p.exists) return Fail(MissingError(p));
    struct statvfs vfs;
    if (::statvfs(p.at.c_str(), &vfs) != 0) return Fail(Win32ErrorFromErrno(errno));
    uint64_t unit = vfs.f_frsize ? vfs.f_frsize : vfs.f_bsize;
    space->total = static_cast<uint64_t>(vfs.f_blocks) * unit;
    space->total_free = static_cast<uint64_t>(vfs.f_bfree) * unit;
    space->free_to_caller = static_cast<uint64_t>(vfs.f_bavail) * unit;
    return true;
  }

  bool GetVolumeInfo(const std::string& root, std::string* label, uint32_t* serial) override {
    ResolvedPath p;
    if (!Resolve(root, &p)) return false;
    const MachineDrive* d = p.drive;
    if (d->IsEmulatedRemovable()) {
      size_t i = static_cast<size_t>(d->current_media - 1);
      if (label) *label = i < d->media_labels.size() ? d->media_labels[i] : d->label;
      if (serial) *serial = i < d->media_serials.size() ? d->media_serials[i] : d->serial;
      return true;
    }
    if (label) *label = d->label;
    if (serial) *serial = d->serial;
    return true;
  }

  void AllowWritesBelow(const std::string& folder) override {
    NamedFolder named;
    named.windows = winpath::StripTrailingSeparator(machine_.FullPath(folder));
    if (!named.windows.empty()) named_.push_back(named);
  }

  void AllowAllWrites() override { all_writes_ = true; }

  bool InsertDisk(char letter, int disk) override {
    MachineDrive* drive = nullptr;
    int found = 0;
    for (MachineDrive& d : machine_.MutableSettings().drives) {
      if (!d.IsEmulatedRemovable()) continue;
      if (letter == 0 || d.letter == (letter & ~0x20)) {
        drive = &d;
        ++found;
      }
    }
    if (found != 1 || disk < 0 || disk > static_cast<int>(drive->media.size())) {
      return Fail(kErrorInvalidParameter);
    }
    drive->current_media = disk;
    // Later programs on the machine find the disk that is in the drive now,
    // as after `crxmachine drive insert`.
    std::string error;
    if (!machine_.SaveSettings(&error)) return Fail(kErrorWriteFault);
    return true;
  }

 private:
  bool Resolve(const std::string& path, ResolvedPath* out, LeafUse use = LeafUse::kLook) {
    uint32_t error = 0;
    if (!machine_.Resolve(path, out, &error, use)) return Fail(error);
    return true;
  }

  // The host-write guard (machine.h). follow_last: the call acts on what a
  // link in the last element points at. creating_folder: the call creates
  // the folder, which may be a named folder or one on the way to it.
  bool MayWrite(const ResolvedPath& p, bool follow_last, bool creating_folder = false) {
    if (all_writes_ || machine_.Settings().host_writes) return true;
    if (Inside(p, follow_last)) return true;
    if (creating_folder) {
      for (const NamedFolder& n : named_) {
        const std::string& named = n.windows;
        if (winpath::EqualsNoCase(named, p.windows) ||
            (named.size() > p.windows.size() &&
             winpath::EqualsNoCase(named.substr(0, p.windows.size()), p.windows) &&
             (named[p.windows.size()] == '\\' || p.windows.back() == '\\'))) {
          return true;
        }
      }
    }
    std::fprintf(stderr,
                 "refused to write outside the machine: %s (name the folder as the output "
                 "folder, or allow host writes with: crxmachine set HostWrites 1)\n",
                 p.windows.c_str());
    return Fail(kErrorAccessDenied);
  }

  // A folder writes may go below, by device and inode and by its real path
  // (empty when too long to read back).
  struct Writable {
    dev_t dev = 0;
    ino_t ino = 0;
    std::string real;
  };

  static bool RealPathOf(int fd, std::string* real) {
    char buf[PATH_MAX];
    ssize_t n = ::readlink(Format("/proc/self/fd/%d", fd).c_str(), buf, sizeof buf);
    if (n <= 0 || n >= static_cast<ssize_t>(sizeof buf) || buf[0] != '/') return false;
    real->assign(buf, static_cast<size_t>(n));
    return true;
  }

  static bool AddWritable(const std::string& host, std::vector<Writable>* out) {
    int fd = ::open(host.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat st;
    Writable w;
    bool ok = ::fstat(fd, &st) == 0;
    if (ok) {
      w.dev = st.st_dev;
      w.ino = st.st_ino;
      if (!RealPathOf(fd, &w.real)) w.real.clear();
      out->push_back(w);
    }
    ::close(fd);
    return ok;
  }

  // The folders writes may go below: the machine folder, the disks of
  // emulated removable drives and the named folders that exist (a named
  // folder that does not exist yet is looked for again on the next check).
  const std::vector<Writable>& WritableFolders() {
    if (!writable_known_) {
      writable_known_ = true;
      AddWritable(machine_.Folder(), &writable_);
      for (const MachineDrive& d : machine_.Settings().drives) {
        if (d.IsEmulatedRemovable()) {
          for (const std::string& m : d.media) AddWritable(m, &writable_);
        }
      }
    }
    all_writable_ = writable_;
    std::vector<Writable>& all = all_writable_;
    for (NamedFolder& named : named_) {
      if (!named.found) {
        ResolvedPath p;
        uint32_t error = 0;
        std::vector<Writable> one;
        if (machine_.Resolve(named.windows, &p, &error) && p.exists && AddWritable(p.at, &one)) {
          named.found = true;
          named.folder = one[0];
        }
      }
      if (named.found) all.push_back(named.folder);
    }
    return all;
  }

  // True when the object p names (or, following a link, the object the
  // link leads to) lies in a writable folder.
  bool Inside(const ResolvedPath& p, bool follow_last) {
    int start = -1;
    bool borrowed = false;  // start is p.folder's own descriptor
    if (p.is_root) {
      start = ::open(p.at.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    } else if (!p.parent_exists) {
      return true;  // the call fails on its own and writes nothing
    } else {
      struct stat st;
      bool exists = p.exists && LeafStat(p, &st);
      if (exists && S_ISLNK(st.st_mode) && follow_last) {
        int target = ::open(p.at.c_str(), O_PATH | O_CLOEXEC);
        if (target < 0) return true;  // a dangling link: the call fails on its own
        struct stat tst;
        if (::fstat(target, &tst) == 0 && S_ISDIR(tst.st_mode)) {
          start = target;
        } else {
          // A file: its folder, through the link's real path.
          std::string text;
          bool known = RealPathOf(target, &text);
          ::close(target);
          if (!known) return false;
          size_t slash = text.find_last_of('/');
          text = slash == 0 ? "/" : text.substr(0, slash);
          start = ::open(text.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
        }
      } else if (exists && S_ISDIR(st.st_mode)) {
        start = ::openat(p.folder->fd(), p.leaf.c_str(),
                         O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      } else {
        // The folder itself: its open descriptor answers the first
        // question; a copy is made only for the walk below. The machine
        // hands out the same open folder while its path leads to that
        // folder, so one found inside stays inside (only a folder moved
        // out of the machine by someone else, a link to it put in its
        // place, would slip past).
        if (p.folder && p.folder == inside_folder_.lock()) return true;
        start = p.folder->fd();
        borrowed = true;
      }
    }
    if (start < 0) return false;
    const std::vector<Writable>& all = WritableFolders();
    // The real path, where it can be read, settles it in one step.
    std::string real;
    bool every_real = true;
    for (const Writable& w : all) every_real = every_real && !w.real.empty();
    const bool of_folder = borrowed;
    if (every_real && RealPathOf(start, &real)) {
      if (!borrowed) ::close(start);
      for (const Writable& w : all) {
        if (w.real == "/" || real == w.real ||
            (real.size() > w.real.size() && real.compare(0, w.real.size(), w.real) == 0 &&
             real[w.real.size()] == '/')) {
          if (of_folder) inside_folder_ = p.folder;
          return true;
        }
      }
      return false;
    }
    // Else up through the real parents until a writable folder or the top.
    if (borrowed) start = ::fcntl(start, F_DUPFD_CLOEXEC, 0);
    if (start < 0) return false;
    int fd = start;
    bool inside = false;
    for (;;) {
      struct stat st;
      if (::fstat(fd, &st) != 0) break;
      bool hit = false;
      for (const Writable& w : all) hit = hit || (w.dev == st.st_dev && w.ino == st.st_ino);
      if (hit) {
        inside = true;
        break;
      }
      int up = ::openat(fd, "..", O_PATH | O_DIRECTORY | O_CLOEXEC);
      struct stat ust;
      if (up < 0 || ::fstat(up, &ust) != 0 || (ust.st_dev == st.st_dev && ust.st_ino == st.st_ino)) {
        if (up >= 0) ::close(up);
        break;  // the top of the host's tree
      }
      ::close(fd);
      fd = up;
    }
    ::close(fd);
    if (inside && of_folder) inside_folder_ = p.folder;
    return inside;
  }

  bool MakeFolder(const std::string& path, bool private_folder) {
    ResolvedPath p;
    if (!Resolve(path, &p)) return false;
    if (p.exists) return Fail(kErrorAlreadyExists);
    if (!p.parent_exists) return Fail(kErrorPathNotFound);
    if (!MayWrite(p, false, true)) return false;
    // A private folder is made with mode 0700: the umask can only take
    // bits away, so nobody else can enter it at any moment, and an existing
    // folder (or link) of that name is never taken over.
    if (::mkdirat(p.folder->fd(), p.leaf.c_str(), private_folder ? 0700 : 0777) != 0) {
      return Fail(errno == EEXIST ? kErrorAlreadyExists : Win32ErrorFromErrno(errno));
    }
    machine_.NoteAdded(p);
    if (private_folder) {
      // An umask that took the owner's own bits is undone on the folder
      // just made (opened without following a link put in its place).
      int fd = ::openat(p.folder->fd(), p.leaf.c_str(),
                        O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
      struct stat st;
      bool ok = fd >= 0 && ::fstat(fd, &st) == 0 &&
                ((st.st_mode & 07777) == 0700 || ::fchmod(fd, 0700) == 0);
      uint32_t err = ok ? 0 : Win32ErrorFromErrno(errno);
      if (fd >= 0) ::close(fd);
      if (!ok) return Fail(err);
    }
    return true;
  }

  // True when a handle open on the file does not share delete access.
  // Call with the share lock held.
  static bool DeleteBlocked(const AtName& at) {
    int fd = ::openat(at.dir, at.name, O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOFOLLOW);
    if (fd < 0) return false;
    bool blocked = ByteHeldByOther(fd, kDeniesDelete);
    ::close(fd);
    return blocked;
  }

  bool ApplyAttributes(const std::string& host, uint32_t attributes, bool keep_archive_default) {
    (void)keep_archive_default;
    struct stat st;
    if (::stat(host.c_str(), &st) != 0) return Fail(Win32ErrorFromErrno(errno));
    uint32_t bits = attributes & kStoredBits;
    if (!S_ISDIR(st.st_mode)) {
      mode_t mode = st.st_mode & 07777;
      mode_t wanted = (bits & kAttrReadOnly) ? (mode & ~static_cast<mode_t>(0222))
                                             : ((mode & 0222) ? mode : (mode | 0200));
      if (wanted != mode && ::chmod(host.c_str(), wanted) != 0) {
        return Fail(Win32ErrorFromErrno(errno));
      }
      bits &= ~kAttrReadOnly;
    }
    int err = WriteStoredBits(host, bits);
    if (err == ENOTSUP || err == EOPNOTSUPP) {
      // No extended attributes on this host file system: only the
      // read-only bit can be kept.
      if (bits & (kAttrHidden | kAttrSystem)) return Fail(kErrorNotSupported);
      return true;
    }
    if (err != 0) return Fail(Win32ErrorFromErrno(err));
    return true;
  }

  std::unique_ptr<File> OpenFile(const std::string& path, uint32_t access, uint32_t share,
                                 Disposition disposition, uint32_t attributes,
                                 bool check_hidden) {
    ResolvedPath p;
    // A new file is made exclusively (below), which settles whether it is
    // there; a file opened for reading as it exists is opened as spelled,
    // and looked up only when that finds nothing.
    const bool reading = disposition == Disposition::kOpenExisting &&
                         (access & kAccessWrite) == 0 && (attributes & kOpenNoFollow) == 0;
    const LeafUse use = disposition == Disposition::kCreateNew ? LeafUse::kCreate
                        : reading                               ? LeafUse::kOpen
                                                                : LeafUse::kLook;
    if (!Resolve(path, &p, use)) return nullptr;
    if (p.leaf_unverified) {
      std::unique_ptr<PosixFile> file =
          OpenResolved(p, path, access, share, disposition, attributes, check_hidden);
      if (file || LastError() != kErrorFileNotFound) return file;
      if (!Resolve(path, &p)) return nullptr;
    }
    return OpenResolved(p, path, access, share, disposition, attributes, check_hidden);
  }

  // OpenFile of the path p is the lookup of.
  std::unique_ptr<PosixFile> OpenResolved(const ResolvedPath& p, const std::string& path,
                                          uint32_t access, uint32_t share,
                                          Disposition disposition, uint32_t attributes,
                                          bool check_hidden) {
    if (p.is_root) {
      Fail(kErrorAccessDenied);
      return nullptr;
    }
    // A path with a trailing separator names a folder, not a file (p is
    // not a root, so the full path keeps the separator).
    if (winpath::IsSeparator(path.back())) {
      Fail(kErrorInvalidName);
      return nullptr;
    }
    const bool no_follow = (attributes & kOpenNoFollow) != 0;
    bool want_write = (access & kAccessWrite) != 0;
    bool want_read = (access & kAccessRead) != 0;
    bool truncate = disposition == Disposition::kCreateAlways ||
                    disposition == Disposition::kTruncateExisting;
    if (disposition == Disposition::kTruncateExisting && !want_write) {
      Fail(kErrorInvalidParameter);
      return nullptr;
    }
    struct stat st;
    const AtName at = At(p);
    if (no_follow && p.exists && LeafStat(p, &st) && S_ISLNK(st.st_mode)) {
      Fail(kErrorCantAccessFile);
      return nullptr;
    }
    // A path not looked at (reading only) is looked at through the handle,
    // below.
    bool exists = p.leaf_unverified || (p.exists && TargetStat(p, &st));
    if (exists && !p.leaf_unverified) {
      if (S_ISDIR(st.st_mode)) {
        Fail(kErrorAccessDenied);
        return nullptr;
      }
      if (disposition == Disposition::kCreateNew) {
        Fail(kErrorFileExists);
        return nullptr;
      }
      if (IsReadOnlyFile(st) && (want_write || truncate)) {
        Fail(kErrorAccessDenied);
        return nullptr;
      }
      if (check_hidden && disposition == Disposition::kCreateAlways) {
        // CREATE_ALWAYS refuses a hidden or system file unless the caller
        // asks for those attributes too.
        uint32_t have = AttributesOf(p.at, st);
        uint32_t hs = have & (kAttrHidden | kAttrSystem);
        if (hs != 0 && (attributes & hs) != hs) {
          Fail(kErrorAccessDenied);
          return nullptr;
        }
      }
    } else if (!exists) {
      if (disposition == Disposition::kOpenExisting ||
          disposition == Disposition::kTruncateExisting) {
        Fail(MissingError(p));
        return nullptr;
      }
      if (!p.parent_exists) {
        Fail(kErrorPathNotFound);
        return nullptr;
      }
      if (p.drive->IsEmulatedRemovable() && p.drive->capacity > 0 &&
          Machine::UsedBytes(p.drive->Root()) >= p.drive->capacity) {
        Fail(kErrorDiskFull);
        return nullptr;
      }
    }
    if ((want_write || truncate || !exists) && !MayWrite(p, !no_follow)) return nullptr;
    ShareGuard guard(share_lock_);
    const int follow = no_follow ? O_NOFOLLOW : 0;
    int flags = O_CLOEXEC | follow | (want_write ? O_RDWR : O_RDONLY);
    // A new file is always made exclusively: never through a link or over
    // a file that appeared meanwhile.
    if (!exists) flags |= O_CREAT | O_EXCL;
    int fd = ::openat(at.dir, at.name, flags, 0666);
    if (fd < 0 && want_write && errno == EACCES && exists) {
      fd = ::openat(at.dir, at.name, O_CLOEXEC | follow | O_WRONLY);
    }
    if (fd < 0) {
      Fail(errno == EEXIST             ? kErrorFileExists
           : (errno == ENOENT || errno == ENOTDIR) && p.leaf_unverified ? kErrorFileNotFound
           : errno == ELOOP && no_follow ? kErrorCantAccessFile
                                         : Win32ErrorFromErrno(errno));
      return nullptr;
    }
    if (!exists) machine_.NoteAdded(p);
    if (exists && (want_read || want_write)) {
      const unsigned against = (want_read ? Bit(kDeniesRead) : 0) |
                               (want_write ? Bit(kDeniesWrite) : 0) |
                               ((share & kShareRead) ? 0 : Bit(kHasRead)) |
                               ((share & kShareWrite) ? 0 : Bit(kHasWrite));
      if (AnyHeldByOther(fd, against)) {
        ::close(fd);
        Fail(kErrorSharingViolation);
        return nullptr;
      }
    }
    if (want_read || want_write) {
      const unsigned held = (want_read ? Bit(kHasRead) : 0) | (want_write ? Bit(kHasWrite) : 0) |
                            ((share & kShareRead) ? 0 : Bit(kDeniesRead)) |
                            ((share & kShareWrite) ? 0 : Bit(kDeniesWrite)) |
                            ((share & kShareDelete) ? 0 : Bit(kDeniesDelete));
      HoldBytes(fd, held);  // a description opened write-only cannot hold read locks
    }
    struct stat opened;
    if (p.leaf_unverified) {
      if (::fstat(fd, &opened) != 0 || S_ISDIR(opened.st_mode)) {
        ::close(fd);
        Fail(kErrorAccessDenied);
        return nullptr;
      }
    }
    if (exists && truncate && ::ftruncate(fd, 0) != 0) {
      uint32_t err = Win32ErrorFromErrno(errno);
      ::close(fd);
      Fail(err);
      return nullptr;
    }
    bool archive_set = false;
    if (!exists || disposition == Disposition::kCreateAlways) {
      // New files, and files CREATE_ALWAYS replaces, take the attributes
      // asked for, with the archive bit as Windows sets it.
      // A file without stored bits reads as archive only: a new file that
      // wants nothing more needs none written.
      uint32_t bits = (attributes & (kAttrHidden | kAttrSystem)) | kAttrArchive;
      if (!exists && bits == kAttrArchive) {
        archive_set = true;
      } else {
        std::string text = Format("%u", bits);
        archive_set = ::fsetxattr(fd, kAttributesXattr, text.data(), text.size(), 0) == 0;
      }
      if ((attributes & kAttrReadOnly) && !exists) {
        struct stat now;
        if (::fstat(fd, &now) == 0) ::fchmod(fd, now.st_mode & ~static_cast<mode_t>(0222) & 07777);
      }
    }
    bool can_read = want_read;
    auto file = std::make_unique<PosixFile>(fd, can_read, want_write, p.host, p.drive);
    // Writes need not mark a file whose archive bit was just set.
    if (archive_set) file->ArchiveMarked();
    // While a handle that shares no writing is open, no program of the
    // machine can write the file: its time stays what the open saw.
    if (p.leaf_unverified && !(share & kShareWrite)) file->KeepOpenedTime(opened);
    // OPEN_ALWAYS and CREATE_ALWAYS tell the caller that the file existed.
    SetLastError(exists && (disposition == Disposition::kOpenAlways ||
                            disposition == Disposition::kCreateAlways)
                     ? kErrorAlreadyExists : kErrorSuccess);
    return file;
  }

  bool Move(const std::string& from, const std::string& to, bool replace) {
    ResolvedPath src, dst;
    if (!Resolve(from, &src) || !Resolve(to, &dst)) return false;
    struct stat sst;
    const AtName from_at = At(src);
    if (!src.exists || !LeafStat(src, &sst)) return Fail(MissingError(src));
    if (src.is_root || dst.is_root) return Fail(kErrorAccessDenied);
    std::string target = dst.at;
    std::string target_host = dst.host;
    std::string target_leaf = dst.leaf;
    struct stat dst_st;
    const AtName to_at = At(dst);
    bool dst_exists = dst.exists && LeafStat(dst, &dst_st);
    bool same_file = dst_exists && dst_st.st_ino == sst.st_ino && dst_st.st_dev == sst.st_dev;
    if (same_file) {
      // A change of case only: rename to the spelling given.
      const std::string name = winpath::LastElement(dst.windows);
      target = dst.Sibling(name);
      target_host = dst.host.substr(0, dst.host.size() - dst.leaf.size()) + name;
      target_leaf = name;
      if (target == src.at) return true;
    } else if (dst_exists) {
      if (!replace) return Fail(kErrorAlreadyExists);
      if (S_ISDIR(dst_st.st_mode) || S_ISDIR(sst.st_mode) || IsReadOnlyFile(dst_st)) {
        return Fail(kErrorAccessDenied);
      }
    } else if (!dst.parent_exists) {
      return Fail(kErrorPathNotFound);
    }
    if (S_ISDIR(sst.st_mode)) {
      std::string prefix = src.host + "/";
      if (target_host.compare(0, prefix.size(), prefix) == 0) return Fail(kErrorAccessDenied);
    }
    if (!MayWrite(src, false) || !MayWrite(dst, false)) return false;
    ShareGuard guard(share_lock_);
    if (!S_ISDIR(sst.st_mode) && DeleteBlocked(from_at)) return Fail(kErrorSharingViolation);
    if (dst_exists && !same_file && DeleteBlocked(to_at)) return Fail(kErrorSharingViolation);
    // A folder (or a link, which may lead to one) changes the paths below it.
    if (S_ISDIR(sst.st_mode) || S_ISLNK(sst.st_mode) || (dst_exists && S_ISLNK(dst_st.st_mode))) {
      machine_.ForgetFolderChecks();
    }
    // The folders' stamps just before the change keep the lookup cache
    // current: one look when both names are in the same folder.
    auto same_folder = [&] {
      return src.stamp_known && dst.stamp_known && src.stamp.dev == dst.stamp.dev &&
             src.stamp.ino == dst.stamp.ino;
    };
    machine_.StampFolder(&src);
    if (!same_folder()) machine_.StampFolder(&dst);
    const bool one_folder = same_folder();
    if (one_folder) dst.stamp = src.stamp;
    // dst is never a root here, so its folder is open.
    const AtName into{dst.folder->fd(), target_leaf.c_str()};
    bool moved = false;
    if (!replace && !same_file) {
      // rename() would replace a file that appeared meanwhile.
      moved = ::renameat2(from_at.dir, from_at.name, into.dir, into.name, RENAME_NOREPLACE) == 0;
      if (!moved && (errno == EINVAL || errno == ENOSYS)) {
        moved = ::renameat(from_at.dir, from_at.name, into.dir, into.name) == 0;
      }
    } else {
      moved = ::renameat(from_at.dir, from_at.name, into.dir, into.name) == 0;
    }
    if (moved) {
      if (one_folder) {
        machine_.NoteNames(src, src.leaf, target_leaf);
      } else {
        machine_.NoteRemoved(src);
        machine_.NoteNames(dst, std::string(), target_leaf);
      }
      return true;
    }
    if (errno == EEXIST) return Fail(kErrorAlreadyExists);
    if (errno != EXDEV) return Fail(Win32ErrorFromErrno(errno));
    // Another host file system: files move by copy and delete, folders
    // cannot move.
    if (S_ISDIR(sst.st_mode)) return Fail(kErrorNotSameDevice);
    return MoveByCopy(from, to, src, replace);
  }

  bool MoveByCopy(const std::string& from, const std::string& to, const ResolvedPath& src,
                  bool replace) {
    uint32_t attrs = GetAttributes(from);
    if (attrs == kInvalidAttributes) return false;
    if (attrs & kAttrReadOnly) SetAttributes(from, attrs & ~kAttrReadOnly);
    bool copied = CopyFile(from, to, !replace);
    if (attrs & kAttrReadOnly) SetAttributes(from, attrs);
    if (!copied) return false;
    if (attrs & kAttrReadOnly) SetAttributes(to, attrs);
    if (::unlink(src.at.c_str()) != 0) return Fail(Win32ErrorFromErrno(errno));
    machine_.NoteRemoved(src);
    return true;
  }

  Machine& machine_;
  ShareLock share_lock_;
  bool all_writes_ = false;
  // The machine's own writable folders, found on the first check.
  bool writable_known_ = false;
  std::vector<Writable> writable_;
  // Those and the named folders found, as the last check saw them.
  std::vector<Writable> all_writable_;
  // Folders named with AllowWritesBelow (full Windows paths), each found
  // once it exists.
  struct NamedFolder {
    std::string windows;
    bool found = false;
    Writable folder;
  };
  std::vector<NamedFolder> named_;
  // The open folder Inside last found inside (see there).
  std::weak_ptr<const HostFolder> inside_folder_;
};

}  // namespace

bool HoldDeniesDelete(int fd) { return HoldByte(fd, kDeniesDelete); }

std::unique_ptr<FileSystem> NewPosixFileSystem(Machine& machine) {
  return std::make_unique<PosixFileSystem>(machine);
}

}  // namespace crx
