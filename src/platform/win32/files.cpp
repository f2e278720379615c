// FileSystem and File over the Win32 file API (the "A" functions, so paths
// are ANSI byte strings as everywhere in Cratex).
#include "platform/win32/win32_platform.h"

namespace crx {
namespace win32 {

namespace {

// ReadFile and WriteFile take 32-bit counts; larger requests go in steps.
constexpr size_t kMaxChunk = 1u << 30;

class Win32File final : public File {
 public:
  explicit Win32File(HANDLE handle) : handle_(handle) {}
  ~Win32File() override { ::CloseHandle(handle_); }
  Win32File(const Win32File&) = delete;
  Win32File& operator=(const Win32File&) = delete;

  bool Read(void* buffer, size_t size, size_t* got) override {
    auto* out = static_cast<char*>(buffer);
    size_t total = 0;
    while (total < size) {
      size_t want = size - total;
      if (want > kMaxChunk) want = kMaxChunk;
      DWORD n = 0;
      if (!::ReadFile(handle_, out + total, static_cast<DWORD>(want), &n, nullptr)) {
        if (got) *got = total;
        return false;
      }
      total += n;
      if (n < want) break;  // end of file
    }
    if (got) *got = total;
    return true;
  }

  bool Write(const void* data, size_t size) override {
    const auto* in = static_cast<const char*>(data);
    while (size > 0) {
      size_t step = size > kMaxChunk ? kMaxChunk : size;
      DWORD n = 0;
      if (!::WriteFile(handle_, in, static_cast<DWORD>(step), &n, nullptr)) return false;
      if (n == 0) {
        // A successful write of nothing means there is no room left.
        ::SetLastError(ERROR_DISK_FULL);
        return false;
      }
      in += n;
      size -= n;
    }
    return true;
  }

  bool Seek(int64_t offset, SeekFrom from, int64_t* position) override {
    DWORD method = from == SeekFrom::kBegin     ? FILE_BEGIN
                   : from == SeekFrom::kCurrent ? FILE_CURRENT
                                                : FILE_END;
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    LARGE_INTEGER now;
    now.QuadPart = 0;
    if (!::SetFilePointerEx(handle_, distance, &now, method)) return false;
    if (position) *position = now.QuadPart;
    return true;
  }

  bool Size(int64_t* size) override {
    LARGE_INTEGER value;
    if (!::GetFileSizeEx(handle_, &value)) return false;
    *size = value.QuadPart;
    return true;
  }

  bool SetEnd() override { return ::SetEndOfFile(handle_) != FALSE; }
  bool Flush() override { return ::FlushFileBuffers(handle_) != FALSE; }

  bool GetLastWriteTime(FileTime* time) override {
    FILETIME ft;
    if (!::GetFileTime(handle_, nullptr, nullptr, &ft)) return false;
    *time = FromFiletime(ft);
    return true;
  }

  bool SetLastWriteTime(FileTime time) override {
    FILETIME ft = ToFiletime(time);
    return ::SetFileTime(handle_, nullptr, nullptr, &ft) != FALSE;
  }

  bool GetAttributes(uint32_t* attributes) override {
    BY_HANDLE_FILE_INFORMATION info;
    if (!::GetFileInformationByHandle(handle_, &info)) return false;
    *attributes = info.dwFileAttributes;
    return true;
  }

 private:
  HANDLE handle_;
};

DWORD CreationDisposition(Disposition d) {
  switch (d) {
    case Disposition::kCreateNew: return CREATE_NEW;
    case Disposition::kCreateAlways: return CREATE_ALWAYS;
    case Disposition::kOpenExisting: return OPEN_EXISTING;
    case Disposition::kOpenAlways: return OPEN_ALWAYS;
    case Disposition::kTruncateExisting: return TRUNCATE_EXISTING;
  }
  return OPEN_EXISTING;
}

// A null pointer for an empty string, where the API treats null as "the
// current drive" or similar.
const char* OrNull(const std::string& s) { return s.empty() ? nullptr : s.c_str(); }

class Win32FileSystem final : public FileSystem {
 public:
  std::unique_ptr<File> Open(const std::string& path, uint32_t access, uint32_t share,
                             Disposition disposition, uint32_t attributes) override {
    DWORD desired = 0;
    if (access & kAccessRead) desired |= GENERIC_READ;
    if (access & kAccessWrite) desired |= GENERIC_WRITE;
    DWORD share_mode = 0;
    if (share & kShareRead) share_mode |= FILE_SHARE_READ;
    if (share & kShareWrite) share_mode |= FILE_SHARE_WRITE;
    if (share & kShareDelete) share_mode |= FILE_SHARE_DELETE;
    DWORD flags = attributes == 0 ? FILE_ATTRIBUTE_NORMAL : attributes;
    const bool no_follow = (attributes & kOpenNoFollow) != 0;
    if (no_follow) {
      // A link (or junction) in the last element is refused, not followed.
      // The check before catches an existing one; opening with
      // FILE_FLAG_OPEN_REPARSE_POINT makes one planted meanwhile open as
      // itself, and the check after refuses that too.
      DWORD existing = ::GetFileAttributesA(path.c_str());
      if (existing != INVALID_FILE_ATTRIBUTES && (existing & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return nullptr;
      }
      flags |= FILE_FLAG_OPEN_REPARSE_POINT;
    }
    HANDLE h = ::CreateFileA(path.c_str(), desired, share_mode, nullptr,
                             CreationDisposition(disposition), flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return nullptr;
    if (no_follow) {
      DWORD opened_error = ::GetLastError();  // ERROR_ALREADY_EXISTS for some dispositions
      BY_HANDLE_FILE_INFORMATION info;
      if (!::GetFileInformationByHandle(h, &info) ||
          (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        ::CloseHandle(h);
        ::SetLastError(ERROR_CANT_ACCESS_FILE);
        return nullptr;
      }
      ::SetLastError(opened_error);
    }
    return std::make_unique<Win32File>(h);
  }

  bool CopyFile(const std::string& from, const std::string& to, bool fail_if_exists) override {
    return ::CopyFileA(from.c_str(), to.c_str(), fail_if_exists ? TRUE : FALSE) != FALSE;
  }

  bool DeleteFile(const std::string& path) override {
    return ::DeleteFileA(path.c_str()) != FALSE;
  }

  bool MoveFile(const std::string& from, const std::string& to) override {
    return ::MoveFileA(from.c_str(), to.c_str()) != FALSE;
  }

  bool ReplaceFile(const std::string& from, const std::string& to) override {
    // MoveFile moves files across drives too; keep that ability here.
    return ::MoveFileExA(from.c_str(), to.c_str(),
                         MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) != FALSE;
  }

  uint32_t GetAttributes(const std::string& path) override {
    return ::GetFileAttributesA(path.c_str());
  }

  bool SetAttributes(const std::string& path, uint32_t attributes) override {
    return ::SetFileAttributesA(path.c_str(), attributes) != FALSE;
  }

  bool GetLastWriteTime(const std::string& path, FileTime* time) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    *time = FromFiletime(data.ftLastWriteTime);
    return true;
  }

  bool SetLastWriteTime(const std::string& path, FileTime time) override {
    // Opening for attribute writes only leaves other handles undisturbed;
    // backup semantics let the same call open a folder.
    HANDLE h = ::CreateFileA(path.c_str(), FILE_WRITE_ATTRIBUTES,
                             FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                             OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    FILETIME ft = ToFiletime(time);
    BOOL ok = ::SetFileTime(h, nullptr, nullptr, &ft);
    DWORD error = ::GetLastError();
    ::CloseHandle(h);
    if (!ok) ::SetLastError(error);
    return ok != FALSE;
  }

  bool CreateFolder(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
  }

  // The folder inherits the security of its parent: private folders are
  // made in the user's own TEMP (in the profile), which only the user, the
  // administrators and the system may enter. CreateDirectory never reuses
  // an existing folder.
  bool CreatePrivateFolder(const std::string& path) override {
    return ::CreateDirectoryA(path.c_str(), nullptr) != FALSE;
  }

  bool RemoveFolder(const std::string& path) override {
    return ::RemoveDirectoryA(path.c_str()) != FALSE;
  }

  bool ListFolder(const std::string& pattern, std::vector<FolderEntry>* entries) override {
    entries->clear();
    WIN32_FIND_DATAA data;
    HANDLE h = ::FindFirstFileA(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    do {
      const char* name = data.cFileName;
      if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
      FolderEntry e;
      e.name = name;
      e.short_name = data.cAlternateFileName;
      e.attributes = data.dwFileAttributes;
      e.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
      e.last_write = FromFiletime(data.ftLastWriteTime);
      entries->push_back(std::move(e));
    } while (::FindNextFileA(h, &data));
    DWORD error = ::GetLastError();
    ::FindClose(h);
    if (error != ERROR_NO_MORE_FILES) {
      entries->clear();
      ::SetLastError(error);
      return false;
    }
    if (entries->empty()) {
      // Only "." and ".." matched: for the caller nothing did.
      ::SetLastError(ERROR_FILE_NOT_FOUND);
      return false;
    }
    return true;
  }

  std::string CurrentFolder() override {
    std::string out;
    FillString(&out, [](char* buf, DWORD size) { return ::GetCurrentDirectoryA(size, buf); });
    return out;
  }

  bool SetCurrentFolder(const std::string& path) override {
    return ::SetCurrentDirectoryA(path.c_str()) != FALSE;
  }

  std::string FullPath(const std::string& path) override {
    std::string out;
    FillString(&out, [&path](char* buf, DWORD size) {
      return ::GetFullPathNameA(path.c_str(), size, buf, nullptr);
    });
    return out;
  }

  bool ShortPath(const std::string& path, std::string* short_path) override {
    return FillString(short_path, [&path](char* buf, DWORD size) {
      return ::GetShortPathNameA(path.c_str(), buf, size);
    });
  }

  DriveType GetDriveType(const std::string& root) override {
    return static_cast<DriveType>(::GetDriveTypeA(OrNull(root)));
  }

  uint32_t LogicalDrives() override { return ::GetLogicalDrives(); }

  bool GetFreeSpace(const std::string& root, FreeSpace* space) override {
    ULARGE_INTEGER caller, total, free;
    if (!::GetDiskFreeSpaceExA(OrNull(root), &caller, &total, &free)) return false;
    space->free_to_caller = caller.QuadPart;
    space->total = total.QuadPart;
    space->total_free = free.QuadPart;
    return true;
  }

  bool GetVolumeInfo(const std::string& root, std::string* label, uint32_t* serial) override {
    char name[MAX_PATH + 1] = {};
    DWORD number = 0;
    if (!::GetVolumeInformationA(OrNull(root), name, sizeof name, &number, nullptr, nullptr,
                                 nullptr, 0)) {
      return false;
    }
    if (label) *label = name;
    if (serial) *serial = number;
    return true;
  }
};

}  // namespace

std::unique_ptr<FileSystem> NewFileSystem() { return std::make_unique<Win32FileSystem>(); }

}  // namespace win32

// Windows has no copy between open handles; the loop does it.
bool CopyFileData(File& source, File& destination) {
  return CopyFileDataByReading(source, destination);
}

}  // namespace crx
