// The platform layer: the only code in Cratex that talks to an operating
// system. Every program builds one HostPlatform at start-up and passes a
// Platform (a bundle of references) down to the subsystems. Two
// implementations exist, chosen by the build: platform/win32 (the real Win32
// API) and platform/posix (an emulated Windows machine on Linux).
//
// All paths are Windows paths ("C:\\dir\\file", "\\\\server\\share\\x",
// relative names resolved against the current folder). All strings are byte
// strings in the ANSI code page. Failures return false (or a Win32 error code
// for the registry, as RegXxx does) and leave a Win32 error code for
// LastError(), so callers can print it in the "%d[0x%x]" forms.
#ifndef CRX_PLATFORM_PLATFORM_H
#define CRX_PLATFORM_PLATFORM_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/filetime.h"

namespace crx {

// ---------------------------------------------------------------------------
// Win32 error codes and constants that portable code needs. The values are
// Windows' own, so they can be shown to users and compared with real
// GetLastError() results.
enum : uint32_t {
  kErrorSuccess = 0,
  kErrorInvalidFunction = 1,
  kErrorFileNotFound = 2,
  kErrorPathNotFound = 3,
  kErrorTooManyOpenFiles = 4,
  kErrorAccessDenied = 5,
  kErrorInvalidHandle = 6,
  kErrorNotEnoughMemory = 8,
  kErrorNotReady = 21,
  kErrorWriteFault = 29,
  kErrorReadFault = 30,
  kErrorSharingViolation = 32,
  kErrorLockViolation = 33,
  kErrorHandleEof = 38,
  kErrorHandleDiskFull = 39,
  kErrorNotSupported = 50,
  kErrorFileExists = 80,
  kErrorInvalidParameter = 87,
  kErrorBrokenPipe = 109,
  kErrorDiskFull = 112,
  kErrorInvalidName = 123,
  kErrorModNotFound = 126,
  kErrorProcNotFound = 127,
  kErrorDirNotEmpty = 145,
  kErrorBadPathname = 161,
  kErrorAlreadyExists = 183,
  kErrorBadExeFormat = 193,
  kErrorFilenameExcedRange = 206,
  kErrorMoreData = 234,
  kErrorNoMoreItems = 259,
  kErrorDirectory = 267,
  kErrorKeyDeleted = 1018,
  kErrorCantAccessFile = 1920,  // a link refused by Open with kOpenNoFollow
};

// The calling thread's last Win32 error code, as GetLastError() returns it.
uint32_t LastError();
// Sets the calling thread's last error (SetLastError). Tests and fakes use it.
void SetLastError(uint32_t code);

// ---------------------------------------------------------------------------
// Files

// File attribute bits (FILE_ATTRIBUTE_*).
enum : uint32_t {
  kAttrReadOnly = 0x01,
  kAttrHidden = 0x02,
  kAttrSystem = 0x04,
  kAttrDirectory = 0x10,
  kAttrArchive = 0x20,
  kAttrNormal = 0x80,
  // A symbolic link or junction (FILE_ATTRIBUTE_REPARSE_POINT): the
  // attributes describe the link itself, not what it points at.
  kAttrReparsePoint = 0x400,
  kInvalidAttributes = 0xFFFFFFFFu,  // INVALID_FILE_ATTRIBUTES
};

// Drive types (DRIVE_*), as GetDriveType returns them.
enum class DriveType : uint32_t {
  kUnknown = 0,
  kNoRootDir = 1,
  kRemovable = 2,
  kFixed = 3,
  kRemote = 4,
  kCdRom = 5,
  kRamDisk = 6,
};

// Access and sharing (GENERIC_READ/WRITE, FILE_SHARE_*) and creation
// dispositions (CREATE_NEW ... TRUNCATE_EXISTING), with Windows' semantics.
enum : uint32_t {
  kAccessRead = 1,
  kAccessWrite = 2,
  kShareNone = 0,
  kShareRead = 1,
  kShareWrite = 2,
  kShareDelete = 4,
};
// A flag for Open's attributes argument (FILE_FLAG_OPEN_REPARSE_POINT):
// a path whose last element is a symbolic link (or another reparse point)
// is refused with kErrorCantAccessFile instead of followed, whatever the
// disposition; links earlier in the path are followed as usual. Used for
// files in shared folders (TEMP), where another user may have planted a
// link.
inline constexpr uint32_t kOpenNoFollow = 0x00200000u;

enum class Disposition {
  kCreateNew,         // fails with kErrorFileExists if it exists
  kCreateAlways,      // creates or truncates
  kOpenExisting,      // fails with kErrorFileNotFound if missing
  kOpenAlways,        // opens or creates
  kTruncateExisting,  // opens and truncates; fails if missing
};
enum class SeekFrom { kBegin, kCurrent, kEnd };

// An open file. Closing happens in the destructor.
class File {
 public:
  virtual ~File() = default;
  // Reads up to size bytes; *got receives the count (0 at end of file).
  virtual bool Read(void* buffer, size_t size, size_t* got) = 0;
  // Writes all size bytes or fails (kErrorDiskFull on a full drive).
  virtual bool Write(const void* data, size_t size) = 0;
  // Moves the file pointer; *position (optional) receives the new offset.
  virtual bool Seek(int64_t offset, SeekFrom from, int64_t* position) = 0;
  virtual bool Size(int64_t* size) = 0;
  // Cuts or extends the file at the current position (SetEndOfFile).
  virtual bool SetEnd() = 0;
  virtual bool Flush() = 0;
  virtual bool GetLastWriteTime(FileTime* time) = 0;
  virtual bool SetLastWriteTime(FileTime time) = 0;
  // The attributes of the open file (GetFileInformationByHandle), without
  // a second look-up of its path. False with kErrorNotSupported where a
  // file cannot tell; callers then ask the file system by path.
  virtual bool GetAttributes(uint32_t* attributes) {
    (void)attributes;
    SetLastError(kErrorNotSupported);
    return false;
  }
  // The system's descriptor of the file on the emulated machine; -1 where
  // there is none.
  virtual int Descriptor() const { return -1; }
};

// One entry of a folder listing.
struct FolderEntry {
  std::string name;        // long name, no folder part
  std::string short_name;  // 8.3 name, empty when the long name is one
  uint32_t attributes = 0;
  uint64_t size = 0;
  FileTime last_write = 0;
};

struct FreeSpace {
  uint64_t free_to_caller = 0;
  uint64_t total = 0;
  uint64_t total_free = 0;
};

// Copies the rest of source (from its position to its end) into
// destination at its position; false with the error of the read or write
// that stopped it. The emulated machine lets the system move the data
// without passing it through the program; CopyFileDataByReading is the
// plain loop of bounded pieces that works for any pair of files.
bool CopyFileData(File& source, File& destination);
bool CopyFileDataByReading(File& source, File& destination);

class FileSystem {
 public:
  virtual ~FileSystem() = default;

  // CreateFile: access is a mix of kAccessRead/kAccessWrite, share of
  // kShare*. A file that another open handle does not share the requested
  // access with fails with kErrorSharingViolation. New files get attributes
  // (kAttrNormal when 0).
  virtual std::unique_ptr<File> Open(const std::string& path, uint32_t access,
                                     uint32_t share, Disposition disposition,
                                     uint32_t attributes = 0) = 0;

  virtual bool CopyFile(const std::string& from, const std::string& to,
                        bool fail_if_exists) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  // MoveFile: renames a file or folder; fails if the target exists.
  virtual bool MoveFile(const std::string& from, const std::string& to) = 0;
  // MoveFileEx with MOVEFILE_REPLACE_EXISTING (files only).
  virtual bool ReplaceFile(const std::string& from, const std::string& to) = 0;

  // kInvalidAttributes (and LastError) when the path does not exist.
  virtual uint32_t GetAttributes(const std::string& path) = 0;
  virtual bool SetAttributes(const std::string& path, uint32_t attributes) = 0;
  virtual bool GetLastWriteTime(const std::string& path, FileTime* time) = 0;
  virtual bool SetLastWriteTime(const std::string& path, FileTime time) = 0;

  // CreateDirectory: one level; kErrorAlreadyExists when it exists.
  virtual bool CreateFolder(const std::string& path) = 0;
  // CreateDirectory for a folder that only the current user may enter
  // (mode 0700 on the emulated machine whatever the umask). Atomic like
  // CreateFolder: kErrorAlreadyExists when it exists.
  virtual bool CreatePrivateFolder(const std::string& path) { return CreateFolder(path); }
  // RemoveDirectory: the folder must be empty.
  virtual bool RemoveFolder(const std::string& path) = 0;
  // FindFirstFile/FindNextFile over a pattern such as "C:\\dir\\*.*" or
  // "C:\\dir\\a?.txt" (Windows wildcard rules; "." and ".." are left out).
  // Returns false with kErrorFileNotFound / kErrorPathNotFound when nothing
  // matches or the folder is missing.
  virtual bool ListFolder(const std::string& pattern,
                          std::vector<FolderEntry>* entries) = 0;

  virtual std::string CurrentFolder() = 0;
  virtual bool SetCurrentFolder(const std::string& path) = 0;
  // GetFullPathName: makes a path absolute against the current folder and
  // resolves "." and ".." elements. Does not touch the disk.
  virtual std::string FullPath(const std::string& path) = 0;
  // GetShortPathName: the 8.3 form of an existing path.
  virtual bool ShortPath(const std::string& path, std::string* short_path) = 0;

  // root is "C:\\" or "\\\\server\\share\\".
  virtual DriveType GetDriveType(const std::string& root) = 0;
  // Letters of the drives that exist, as GetLogicalDrives (bit 0 = A:).
  virtual uint32_t LogicalDrives() = 0;
  virtual bool GetFreeSpace(const std::string& root, FreeSpace* space) = 0;
  // GetVolumeInformation: volume label and serial number.
  virtual bool GetVolumeInfo(const std::string& root, std::string* label,
                             uint32_t* serial) = 0;

  // Where a program run from an archive may write on the emulated machine:
  // inside the machine's own folders, and on host folders (Z: and other
  // drives mapped to host folders) only below folders the user named as a
  // destination, or everywhere when the machine's owner allowed host
  // writes. Windows itself has no such guard, so both are no-ops there.
  // The user named folder as a destination (an output folder, -o).
  virtual void AllowWritesBelow(const std::string& folder) { (void)folder; }
  // The program writes where its user tells it (the builder, crx).
  virtual void AllowAllWrites() {}

  // GetFileAttributesEx: the attributes, size and last-write time of a
  // file or folder in one look (info->name and short_name stay empty). A
  // file system that has no such look answers false with
  // kErrorNotSupported; callers then use the calls above.
  virtual bool GetFileInfo(const std::string& path, FolderEntry* info) {
    (void)path;
    (void)info;
    SetLastError(kErrorNotSupported);
    return false;
  }

  // GetFileInfo for callers that only count bytes: the size, the
  // last-write time and whether the path is a folder (the attributes hold
  // kAttrDirectory or kAttrNormal, nothing else), where that costs less
  // than the full answer.
  virtual bool GetFileSizeInfo(const std::string& path, FolderEntry* info) {
    return GetFileInfo(path, info);
  }

  // Several calls about the same few folders in a row (one command of a
  // script): from BeginBatch to its EndBatch the emulated machine looks at
  // a folder's path once and then trusts the folder it found, instead of
  // looking again for every call; while the names it keeps of that folder
  // are the ones of that look (or follow this process's own changes since),
  // a name they lack is missing without a question to the system. This
  // process's own renames and removals of folders end that trust at once;
  // another program's rename of a folder, or new file in it, during the
  // batch is seen from the next batch on, as if it had come a moment later.
  // Batches nest. No-ops where lookups cost nothing to repeat. FileBatch
  // below keeps one open for a scope.
  virtual void BeginBatch() {}
  virtual void EndBatch() {}

  // A call refused by this guard fails with kErrorAccessDenied and writes
  // one line to standard error naming the path and how to allow it.

  // Convenience built on the calls above.
  bool Exists(const std::string& path) {
    return GetAttributes(path) != kInvalidAttributes;
  }
  bool IsFolder(const std::string& path) {
    uint32_t a = GetAttributes(path);
    return a != kInvalidAttributes && (a & kAttrDirectory) != 0;
  }
  bool IsFile(const std::string& path) {
    uint32_t a = GetAttributes(path);
    return a != kInvalidAttributes && (a & kAttrDirectory) == 0;
  }
};

// A batch of file-system calls (FileSystem::BeginBatch) for a scope.
class FileBatch {
 public:
  explicit FileBatch(FileSystem& files) : files_(files) { files_.BeginBatch(); }
  ~FileBatch() { files_.EndBatch(); }
  FileBatch(const FileBatch&) = delete;
  FileBatch& operator=(const FileBatch&) = delete;

 private:
  FileSystem& files_;
};

// ---------------------------------------------------------------------------
// Registry. Mirrors the RegXxxA functions: calls return a Win32 error code
// (kErrorSuccess on success) and do not touch LastError(). Key and value
// names compare case-insensitively. Handles are opaque numbers; the
// predefined hives are valid handles that need no closing.

using RegKey = uintptr_t;
inline constexpr RegKey kHKeyClassesRoot = 0x80000000u;
inline constexpr RegKey kHKeyCurrentUser = 0x80000001u;
inline constexpr RegKey kHKeyLocalMachine = 0x80000002u;
inline constexpr RegKey kHKeyUsers = 0x80000003u;
inline constexpr RegKey kHKeyCurrentConfig = 0x80000005u;

// Value types (REG_*).
enum : uint32_t {
  kRegNone = 0,
  kRegSz = 1,
  kRegExpandSz = 2,
  kRegBinary = 3,
  kRegDword = 4,
  kRegMultiSz = 7,
};

enum class RegAccess { kRead, kAll };

class Registry {
 public:
  virtual ~Registry() = default;

  // RegOpenKeyEx. An empty sub_key opens a new handle to parent.
  virtual long OpenKey(RegKey parent, const std::string& sub_key,
                       RegAccess access, RegKey* key) = 0;
  // RegCreateKeyEx: opens or creates every missing key on the path;
  // *created (optional) tells whether the last key was new.
  virtual long CreateKey(RegKey parent, const std::string& sub_key,
                         RegAccess access, RegKey* key, bool* created) = 0;
  virtual long CloseKey(RegKey key) = 0;
  // RegDeleteKey: removes a key that has no subkeys (kErrorAccessDenied
  // otherwise, as on Windows NT).
  virtual long DeleteKey(RegKey parent, const std::string& sub_key) = 0;
  // RegDeleteValue. An empty name is the key's default value.
  virtual long DeleteValue(RegKey key, const std::string& name) = 0;
  // RegQueryValueEx: *data receives the stored bytes exactly (a REG_SZ
  // written with its terminating zero keeps it). kErrorFileNotFound when
  // the value is missing.
  virtual long QueryValue(RegKey key, const std::string& name, uint32_t* type,
                          std::string* data) = 0;
  // RegSetValueEx: stores the bytes as given.
  virtual long SetValue(RegKey key, const std::string& name, uint32_t type,
                        const void* data, size_t size) = 0;
  // RegEnumKeyEx: subkeys in case-insensitive alphabetical order;
  // kErrorNoMoreItems past the end.
  virtual long EnumKey(RegKey key, uint32_t index, std::string* name) = 0;
  // RegEnumValue: values in the order they were first written.
  virtual long EnumValue(RegKey key, uint32_t index, std::string* name,
                         uint32_t* type, std::string* data) = 0;

  // Helpers built on the calls above.
  // Writes a REG_SZ with its terminating zero, as RegSetValueEx callers do.
  long SetString(RegKey key, const std::string& name, const std::string& value);
  long SetDword(RegKey key, const std::string& name, uint32_t value);
  // Reads REG_SZ/REG_EXPAND_SZ, cutting the text at its first zero byte.
  long GetString(RegKey key, const std::string& name, std::string* value);
  long GetDword(RegKey key, const std::string& name, uint32_t* value);
  // Removes a key with all its subkeys (RegDeleteTree).
  long DeleteTree(RegKey parent, const std::string& sub_key);
};

// Closes a registry key when it goes out of scope.
class ScopedRegKey {
 public:
  explicit ScopedRegKey(Registry& registry) : registry_(registry) {}
  ~ScopedRegKey() { Reset(); }
  ScopedRegKey(const ScopedRegKey&) = delete;
  ScopedRegKey& operator=(const ScopedRegKey&) = delete;
  RegKey* Out() { Reset(); return &key_; }
  RegKey Get() const { return key_; }
  void Reset() {
    if (key_ != 0) registry_.CloseKey(key_);
    key_ = 0;
  }

 private:
  Registry& registry_;
  RegKey key_ = 0;
};

// ---------------------------------------------------------------------------
// Processes

inline constexpr uint32_t kStillActive = 259;  // STILL_ACTIVE
inline constexpr uint32_t kInfinite = 0xFFFFFFFFu;

enum class WaitResult { kDone, kTimeout, kFailed };

class Process {
 public:
  virtual ~Process() = default;  // closes the handle; the process goes on
  virtual uint32_t Id() const = 0;
  virtual WaitResult Wait(uint32_t milliseconds) = 0;
  // GetExitCodeProcess: kStillActive while the process runs.
  virtual bool ExitCode(uint32_t* code) = 0;
  virtual bool Terminate(uint32_t exit_code) = 0;
};

struct StartOptions {
  std::string folder;    // working folder; empty = the caller's
  bool hidden = false;   // SW_HIDE for window programs
};

class Processes {
 public:
  virtual ~Processes() = default;
  // CreateProcess with a Windows command line. The program is the first
  // element of the line (quoted if it holds spaces); ".exe" is added when
  // the name has no extension, and a name without a folder is searched in
  // the program's folder, the current folder, the system folders and PATH.
  virtual std::unique_ptr<Process> Start(const std::string& command_line,
                                         const StartOptions& options) = 0;
  // Runs a command through the system command interpreter ("cmd /c" on
  // Windows, /bin/sh on the emulated machine), waits for it and returns its
  // exit code in *exit_code.
  virtual bool RunShellCommand(const std::string& command,
                               const std::string& folder,
                               uint32_t* exit_code) = 0;
  virtual uint32_t CurrentProcessId() = 0;
  // GetModuleFileName(NULL): the running program's own path.
  virtual std::string ProgramPath() = 0;
  // The running program's arguments after the program name, as the
  // Windows command-line tail (GetCommandLine without the program).
  virtual std::string CommandLineTail() = 0;
};

// ---------------------------------------------------------------------------
// Environment and system information

struct OsVersion {
  uint32_t major = 0;
  uint32_t minor = 0;
  uint32_t build = 0;
  uint32_t platform_id = 0;  // VER_PLATFORM_WIN32_NT = 2, WINDOWS = 1
  std::string service_pack;
};

class Environment {
 public:
  virtual ~Environment() = default;
  // GetEnvironmentVariable: false when the variable is not set.
  virtual bool Get(const std::string& name, std::string* value) = 0;
  // SetEnvironmentVariable; a null value removes the variable. Child
  // processes inherit the change.
  virtual bool Set(const std::string& name, const std::string& value) = 0;
  virtual bool Unset(const std::string& name) = 0;
  virtual std::string UserName() = 0;
  virtual std::string ComputerName() = 0;
  // GetWindowsDirectory / GetSystemDirectory, no trailing back-slash.
  virtual std::string WindowsFolder() = 0;
  virtual std::string SystemFolder() = 0;
  // GetTempPath: TMP, TEMP, USERPROFILE or the Windows folder, with a
  // trailing back-slash.
  virtual std::string TempPath() = 0;
  virtual OsVersion Version() = 0;
  // True when the process runs with administrator rights.
  virtual bool IsAdministrator() = 0;
};

// ---------------------------------------------------------------------------
// Time

class Clock {
 public:
  virtual ~Clock() = default;
  virtual SystemTime UtcNow() = 0;
  virtual SystemTime LocalNow() = 0;
  // Milliseconds since some fixed moment (GetTickCount).
  virtual uint32_t TickCount() = 0;
  virtual void Sleep(uint32_t milliseconds) = 0;
};

// ---------------------------------------------------------------------------
// The terminal, for console front-ends and command-line tools.

class Terminal {
 public:
  virtual ~Terminal() = default;
  // True when standard input and output are a terminal a person can answer.
  virtual bool IsInteractive() = 0;
  // True when the error stream is a terminal (a status line drawn there is
  // seen, not written into a file or pipe).
  virtual bool ErrorIsTerminal() { return IsInteractive(); }
  // Reads one line from standard input without its line end; false at end
  // of input.
  virtual bool ReadLine(std::string* line) = 0;
  virtual void Write(const std::string& text) = 0;
  virtual void WriteError(const std::string& text) = 0;
  // Columns of the terminal (80 when unknown).
  virtual int Width() = 0;
  // From now on the first Ctrl-C does not end the program but is noted
  // for Interrupted() to report; a second one ends it as usual. False when
  // the system refuses.
  virtual bool CatchInterrupt() { return false; }
  // True once Ctrl-C was pressed after CatchInterrupt.
  virtual bool Interrupted() { return false; }
};

// ---------------------------------------------------------------------------
// Shell services

class Library {
 public:
  virtual ~Library() = default;  // FreeLibrary
  // Calls an entry point that takes no arguments and returns a 32-bit
  // result (DllRegisterServer and the like). False when it is missing.
  virtual bool CallEntry(const std::string& name, long* result) = 0;
  // The address of an entry point, for callers that know its signature.
  virtual void* Entry(const std::string& name) = 0;
};

// Steps of Shell::CreateShellLink that failed without stopping it.
enum : uint32_t {
  kLinkPathFailed = 1,
  kLinkDescriptionFailed = 2,
  kLinkWorkingFolderFailed = 4,
};

class Shell {
 public:
  virtual ~Shell() = default;
  // MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT: to empty deletes at boot.
  // Fails (kErrorInvalidParameter on Windows 95 systems, or where the
  // machine does not support boot-time moves) when not available.
  virtual bool MoveAtBoot(const std::string& from, const std::string& to) = 0;
  virtual std::unique_ptr<Library> LoadLibrary(const std::string& path) = 0;
  // Creates a shell shortcut (.LNK) at link to target with a description
  // and, when working_folder is not empty, that working folder. Returns 0
  // or the failing system result (an HRESULT, also on the emulated
  // machine: 0x8007xxxx for a Win32 error). Setting the target, the
  // description or the working folder can fail without stopping the
  // creation; *failed_steps (optional) receives those as kLink* bits, so
  // the caller can tell its user.
  virtual long CreateShellLink(const std::string& target, const std::string& link,
                               const std::string& description,
                               const std::string& working_folder, uint32_t* failed_steps) {
    (void)target, (void)link, (void)description, (void)working_folder;
    if (failed_steps) *failed_steps = 0;
    return static_cast<long>(0x80004001L);  // E_NOTIMPL
  }
  // CLSIDFromProgID: the class identifier of a programmatic identifier as
  // "{XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}". False with *result set to
  // the system result when there is none.
  virtual bool ClassIdFromProgId(const std::string& prog_id, std::string* clsid, long* result) {
    (void)prog_id, (void)clsid;
    *result = static_cast<long>(0x800401F3L);  // CO_E_CLASSSTRING
    return false;
  }
};

// ---------------------------------------------------------------------------
// Removable disks

// The emulated machine's removable drives, whose disks a program may
// change as a person would (answers files do, since nobody else can).
// Windows has none: Platform::disks is null there.
class DiskChanger {
 public:
  virtual ~DiskChanger() = default;
  // Puts disk number disk (1-based; 0 takes the disk out) into the
  // removable drive letter and keeps the choice in the machine's settings,
  // as `crxmachine drive insert` does. letter 0 means the machine's only
  // removable drive with disks. False (kErrorInvalidParameter) when there
  // is no such drive or disk, or letter 0 finds none or several.
  virtual bool InsertDisk(char letter, int disk) = 0;
};

// ---------------------------------------------------------------------------
// The bundle handed to subsystems. Tests build one from fakes where needed.

struct Platform {
  FileSystem& files;
  Registry& registry;
  Processes& processes;
  Environment& environment;
  Clock& clock;
  Terminal& terminal;
  Shell& shell;
  // The emulated machine's disk changes; null on Windows.
  DiskChanger* disks = nullptr;
};

// The real platform of the running program: on Windows the Win32 API, on
// Linux the emulated machine named by CRX_MACHINE (created on first use).
class HostPlatform {
 public:
  virtual ~HostPlatform() = default;
  virtual Platform& Get() = 0;
};

// Opens the host platform. On failure returns null and a message in *error.
std::unique_ptr<HostPlatform> OpenHostPlatform(std::string* error);

}  // namespace crx

#endif  // CRX_PLATFORM_PLATFORM_H
