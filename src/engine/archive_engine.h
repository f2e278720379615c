// ArchiveEngine: one object per archive operation, for writing (the builder)
// and for reading, verifying and extracting (the builder, its browser and
// both self-extractor stubs). It is not shared between threads.
//
// The object is made of halves that each live in their own file:
//   archive_engine.cpp   options, ShowStatus, close and abort, the shared state
//   archive_writer.cpp   CreateArchive, AddFile, AddDirectory, closing a new archive
//   archive_reader.cpp   ExtractArchive, ListArchive, ReadArchiveInfo
//   extract_policy.cpp   where members go and whether they may be written
//   scramble.cpp         password digests and member scrambling
//   format*.cpp          the records on the archive
//   logs.cpp             ReportError and the activity log
// The halves share an EngineCore, which holds everything the object owns.
#ifndef CRX_ENGINE_ARCHIVE_ENGINE_H
#define CRX_ENGINE_ARCHIVE_ENGINE_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/filetime.h"
#include "engine/extract_policy.h"
#include "engine/format.h"
#include "engine/logs.h"

namespace crx {

struct Platform;
class File;
class UserInterface;
class ArchiveWriter;
class ArchiveReader;

// The archive offset the builder's reader tries first: the length of the
// stub chosen when an archive was last created in this process (initially
// FULL_STUB_SIZE).
int32_t DefaultArchiveOffset();
void SetDefaultArchiveOffset(int32_t offset);

// Member statuses kept in MemberEntry::status.
enum : int32_t {
  kMemberNotExtracted = 0,
  kMemberExtracted = 1,
  kMemberReplaceRefused = 2,  // refused by OkToReplaceFile
  kMemberReadOnly = 3,        // the existing file is read-only
  kMemberFailed = -1,
  kMemberView = 100,          // set by the caller: extract to a temporary copy
};

// One member of an archive as the reader lists it.
struct MemberEntry {
  std::string name;  // as stored
  int32_t size = 0;
  int32_t compressed_size = 0;
  FileTime modified = 0;
  int32_t status = kMemberNotExtracted;
};

// The file count a listing leaves when the user declined to list a
// removable-media archive.
inline constexpr int32_t kListCancelledByUser = -999;

// What the engine needs from the program around it while it works: the
// status text, the window messages that keep the program responsive, and
// the feedback window of a long operation. The defaults do nothing.
class EngineHooks : public PolicyHooks {
 public:
  // Shows a status text (the builder's status bar); only called when no
  // feedback text is wanted instead.
  virtual void StatusText(const std::string& text) { (void)text; }
  // True when a feedback window is attached to the operation.
  virtual bool HasFeedback() { return false; }
  // Sets the feedback window's main text.
  virtual void FeedbackText(const std::string& text) { (void)text; }
  // Ends the feedback window of the operation (abort, or a listing that
  // needs the first volume again).
  virtual void EndFeedback() {}
};

// A feedback window the reader opens of its own accord: when it lists an
// archive that may span several disks of a removable drive, outside silent
// mode and with no window attached by the caller, it shows "List Archive"
// while it walks the disks and closes it at the end. The program supplies
// it (ui::OwnFeedbackWindow shows the window of the program's front-end);
// without one the listing shows none.
class OwnFeedback {
 public:
  virtual ~OwnFeedback() = default;
  // Opens a new window with a title and a range; false when none can be
  // shown.
  virtual bool Open(const std::string& title, int range) = 0;
  virtual void SetText(const std::string& text) = 0;
  // Stops (false) or restarts (true) the animation while a question is up.
  virtual void Animate(bool on) = 0;
  // Ends the window and destroys it.
  virtual void Close() = 0;
};

// The option letters of SetOptions.
struct EngineOptions {
  bool subdirectories = true;  // D
  bool encrypt = false;        // E
  bool flatten = false;        // F
  bool minimal_stub = false;   // M
  bool project = false;        // P
  bool setup = false;          // S
  bool verify = false;         // V
  bool compress = false;       // Z
};

// Everything an engine object owns, shared by its halves.
struct EngineCore {
  EngineCore(Platform& platform, UserInterface& ui);

  Platform& platform;
  UserInterface& ui;
  EngineLog log;
  ExtractPolicy policy;
  EngineHooks default_hooks;
  EngineHooks* hooks = &default_hooks;  // never null
  // The reader's own listing window (not owned); null: none.
  OwnFeedback* own_feedback = nullptr;

  EngineOptions options;
  std::string ignore_list;      // ":OBJ:EXE:" (upper case), loaded on first use
  std::string password_digest;  // empty, or the 13-character digest
  SetupInfo setup_info;         // company, product, description, setup, wait
  int32_t block_size = kDefaultBlockSize;
  bool user_quit = false;
  // A creation time given by the caller (reproducible builds) instead of
  // the clock.
  bool fixed_creation_time = false;
  SystemTime creation_time;

  // The archive file: open for writing while creating, for reading while
  // an extraction's archive stays open.
  std::string archive_path;
  std::unique_ptr<File> archive;
  bool creating = false;
  int64_t archive_offset = FULL_STUB_SIZE;  // where the identification record is

  // Removable media (volumes.h): 0 on a fixed disk, 1 for the first
  // removable volume, raised by one at each switch to the next disk.
  int32_t volume_number = 0;
  // Writer: true predicts the end of each disk from its free space; false
  // (hard mode) writes until the system reports the disk full, and
  // measures only from the first switch on.
  bool soft_eom = true;
  int64_t media_size = 0;       // total bytes of the current disk
  int64_t media_free = 0;       // bytes the writer may put on this volume; 0: not measured
  int64_t bytes_on_volume = 0;  // archive bytes written to this volume's file
  // Reader: the length of the volume file open for reading.
  int64_t open_file_size = 0;

  // Buffers reused for every member; each grows to the largest size asked
  // for and never shrinks.
  std::vector<uint8_t> data_buffer;
  std::vector<uint8_t> compress_buffer;
  std::vector<uint8_t> scramble_buffer;

  // Grows buffer to at least size bytes. False (the buffer released and
  // left empty) when the memory cannot be had, or when the user has quit
  // and quit_fails is set.
  bool GrowBuffer(std::vector<uint8_t>* buffer, size_t size, bool quit_fails);

  // Lets waiting window messages be processed; then, unless the user has
  // quit or a feedback window is attached, shows text as the status.
  void ShowStatus(const std::string& text);
  // ReportError and the same text as one line of the activity log.
  void ReportAndLog(const std::string& message);
};

class ArchiveEngine {
 public:
  // Not silent until log().set_silent(true).
  ArchiveEngine(Platform& platform, UserInterface& ui);
  // Closes an open archive as CloseArchive does.
  ~ArchiveEngine();
  ArchiveEngine(const ArchiveEngine&) = delete;
  ArchiveEngine& operator=(const ArchiveEngine&) = delete;

  // ---- settings -----------------------------------------------------------
  // "+" first switches the letters of the text on, anything else off.
  void SetOptions(const std::string& text);
  const EngineOptions& options() const { return core_.options; }
  // ":" + text + ":" in upper case, and project mode on.
  void SetIgnoreList(const std::string& text);
  void set_password_digest(const std::string& digest) { core_.password_digest = digest; }
  const std::string& password_digest() const { return core_.password_digest; }
  SetupInfo& setup_info() { return core_.setup_info; }
  void set_block_size(int32_t size) { core_.block_size = size; }
  // Archives created from now on record this UTC time as their creation
  // time instead of the clock's, so the same input gives the same bytes.
  void set_creation_time(const SystemTime& utc) {
    core_.fixed_creation_time = true;
    core_.creation_time = utc;
  }
  int32_t block_size() const { return core_.block_size; }
  // Not owned; null goes back to the do-nothing hooks.
  void set_hooks(EngineHooks* hooks);
  // The window a multi-volume listing shows when the caller attached none
  // (not owned; null: none).
  void set_own_feedback(OwnFeedback* feedback) { core_.own_feedback = feedback; }

  // The user asked to stop (the Quit Processing command, the browser's Quit
  // button); the operation stops at its next checkpoint.
  void SetUserQuit() { core_.user_quit = true; }
  void ClearUserQuit() { core_.user_quit = false; }
  bool user_quit() const { return core_.user_quit; }

  EngineLog& log() { return core_.log; }
  ExtractPolicy& policy() { return core_.policy; }
  void ReportError(const std::string& message) { core_.log.ReportError(message); }

  // ---- writing --------------------------------------------------------------
  bool CreateArchive(const std::string& path);
  // name_on_archive empty: the file is stored under its path.
  bool AddFile(const std::string& path, const std::string& name_on_archive = std::string());
  bool AddDirectory(const std::string& path);
  // Ends the archive being written (end marker, counts) or closes the one
  // being read.
  bool CloseArchive();
  // Deletes the archive being written, or closes the one being read.
  bool AbortArchive();
  int32_t file_count() const;
  // The members added since ClearRecentMembers: name, sizes (stored size 0
  // for a member stored uncompressed) and modification time.
  // (Kept by the writer, so that programs that only read never carry it.)
  const std::vector<MemberEntry>& recent_members() const;
  void ClearRecentMembers();
  int32_t block_count() const;
  // True while an archive is being written (between a successful
  // CreateArchive and CloseArchive or AbortArchive).
  bool writing() const { return core_.creating; }
  // A new archive is written under a temporary name beside its own and
  // takes its name only when it is complete, so an existing archive of that
  // name survives any failure. With defer on, CloseArchive leaves the
  // complete archive under the temporary name (pending_archive) until
  // CommitArchive renames it over its own name (false, reported, when that
  // fails) or DiscardArchive deletes it; the builder verifies it between.
  void set_defer_replace(bool defer);
  std::string pending_archive() const;
  bool CommitArchive();
  void DiscardArchive();
  // The name of the last archive this engine closed complete (committed or
  // pending); empty when none was.
  std::string completed_archive() const;
  // How many removable volumes the last archive closed complete spans: 0
  // on a fixed disk, 1 when it fitted on its first disk, 2 or more when
  // it went on to further disks (verifying it starts from the first).
  int32_t completed_volumes() const;
  Platform& platform() { return core_.platform; }
  const std::string& archive_path() const { return core_.archive_path; }

  // ---- reading --------------------------------------------------------------
  // path empty: the running program's own file. selection null: every
  // member. output_folder empty: the locations stored on the archive.
  bool ExtractArchive(const std::string& path, const std::vector<std::string>* selection,
                      const std::string& output_folder);
  bool ListArchive(const std::string& path);
  bool ReadArchiveInfo(const std::string& path);

  // Stubs read only at their own length and stop at a bad member marker;
  // the builder probes several offsets and offers resynchronisation.
  void set_stub_reader(bool stub, int32_t own_offset);
  void set_password_accepted(bool accepted);
  // What the last read found on the archive.
  const IdentificationRecord& identification() const;
  const TypeRecord& type_record() const;
  bool open_failed() const;
  std::vector<MemberEntry>& members();

 private:
  // The writer, made on the first write call.
  ArchiveWriter& Writer();

  EngineCore core_;
  std::unique_ptr<ArchiveWriter> writer_;
  std::unique_ptr<ArchiveReader> reader_;
};

}  // namespace crx

#endif  // CRX_ENGINE_ARCHIVE_ENGINE_H
