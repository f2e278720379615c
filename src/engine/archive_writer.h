// The writing half of the archive engine: creates a self-extracting archive
// (the stub copied in front, then the identification and type records),
// adds files and folders as member records, and ends the archive with the
// end marker and the final counts, or abandons it by deleting the file.
//
// The writer works on the EngineCore it shares with the rest of the engine
// object (options, password digest, setup information, the open archive
// file, the logs and the reusable buffers). What only the writer needs - the
// running counts and the names already on the archive - lives here.
#ifndef CRX_ENGINE_ARCHIVE_WRITER_H
#define CRX_ENGINE_ARCHIVE_WRITER_H

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_set>
#include <vector>

#include "engine/archive_engine.h"
#include "platform/platform.h"

namespace crx {

class Registry;

// The stub file the machine's settings (HKLM "SOFTWARE\Velmora\Cratex\1.00",
// value mdatafile for the minimal stub, else datafile) name, and the
// process-wide default archive offset set to that stub's size. When the key
// cannot be opened it shows "Can't open registry key", when the value is
// missing or empty "datafile not define corectly in registry" (plain
// message boxes, also in silent mode), and the result is "".
std::string StubFile(Registry& registry, UserInterface& ui, bool minimal);

class DeflatePipeline;

// The engine makes its writer on the first write call and reaches the
// calls a reading engine also makes (Close, Abort, ClearNames and the
// counts) through virtual functions: a program that never writes - a
// self-extractor stub - then links none of the writer.
//
// A new archive never replaces an existing one before it is complete: it
// is written under a temporary name in the same folder (the archive's name
// followed by ".crx-<process id>.tmp") and renamed over the archive's name
// only once it was closed without error (and, when the caller asked for
// it, verified: see set_defer_replace). Abort, a failure, an interruption
// or a killed process leave the old archive as it was.
class ArchiveWriter {
 public:
  explicit ArchiveWriter(EngineCore& core);
  // A closed archive still waiting for CommitPending is deleted.
  virtual ~ArchiveWriter();
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // Copies the stub named in the registry to the temporary file and writes
  // the two header records after it. On a false return after the file was
  // opened the partial archive is still open (core.creating is set): the
  // caller aborts or closes it, and either way it is deleted.
  bool Create(const std::string& path);

  // Adds one file, stored under name_on_archive (empty: under path, or only
  // its last element with option F). A file left out on purpose (project
  // mode, a duplicate name, the user choosing to go on past a file that
  // cannot be opened) still returns true. A member that fails part-way is
  // cut off the archive again, so the archive stays whole; a failed write
  // to the archive abandons the whole archive (its temporary file is
  // deleted at once, and every later add and the close fail).
  bool AddFile(const std::string& path, const std::string& name_on_archive);

  // Adds every file of a folder; descends into sub-folders with option D.
  bool AddDirectory(const std::string& path);

  // Ends the archive being written: the end marker, then (unless it went on
  // to a second volume) the block and file counts patched into the
  // identification record; closes the file, clears core.creating and puts
  // the archive in place (or leaves it pending, see set_defer_replace). An
  // archive whose creation failed or that was abandoned is deleted and the
  // result is false. The activity log is left to the caller.
  virtual bool Close();

  // Closes and deletes the archive being written.
  virtual void Abort();

  // Forgets the names already on the archive.
  virtual void ClearNames();

  // The members written since ClearRecent (the builder's view lists them
  // after each add).
  const std::vector<MemberEntry>& recent() const { return recent_; }
  void ClearRecent() { recent_.clear(); }

  virtual int32_t file_count() const { return file_count_; }
  virtual int32_t block_count() const { return block_count_; }

  // With defer on, Close leaves a complete archive under its temporary
  // name (pending_path) until CommitPending renames it over the archive's
  // name or DiscardPending deletes it: the builder's command-line mode
  // verifies it first. A pending archive is committed when the next
  // archive is created.
  void set_defer_replace(bool defer) { defer_replace_ = defer; }
  const std::string& pending_path() const { return pending_path_; }
  const std::string& completed_path() const { return completed_path_; }
  int32_t volumes_written() const { return volumes_written_; }
  bool CommitPending();
  void DiscardPending();

 private:
  // ---- CreateArchive steps --------------------------------------------------
  bool CopyStub(const std::string& stub, const std::string& path);
  bool OpenArchiveForAppend(const std::string& path);
  bool WriteArchiveId();
  bool WriteArchiveType();

  // ---- AddFile steps ----------------------------------------------------------
  bool IgnoredInProjectMode(const std::string& path);
  void LoadIgnoreList();
  bool WriteEmptyMember(const std::string& name, FileTime modified);
  bool WriteMemberHeader(const MemberHeader& header);
  // Adds a member just written to the list of recent members.
  void RememberMember(const MemberHeader& header);
  // The member's data after its header: compressed (and scrambled) or
  // stored, read from file in bounded pieces. On success *header holds the
  // sizes and checksum to patch into the record.
  enum class DataResult { kOk, kShortRead, kFailed, kQuit, kWriteFailed };
  // With collect given, the data goes there instead of onto the archive.
  DataResult WriteCompressedData(const std::string& path, File& file, MemberHeader* header,
                                 int64_t* got, std::vector<uint8_t>* collect = nullptr);
  DataResult WriteStoredData(File& file, MemberHeader* header, int64_t* got,
                             std::vector<uint8_t>* collect = nullptr);
  // The activity log's account of a member whose data was compressed (and,
  // in an encrypted archive, scrambled): size bytes became *header's
  // compressed size. Nothing for a stored member.
  void LogCompressedData(int64_t size, const MemberHeader& header);
  // Between pieces of a member: window messages, and whether to stop.
  bool QuitBetweenPieces();
  DeflatePipeline& Pipeline();

  // ---- AddDirectory -----------------------------------------------------------
  // Lists pattern; false when nothing can be listed. An existing folder
  // without entries is an empty listing.
  bool ListEntries(const std::string& pattern, const std::string& folder,
                   std::vector<FolderEntry>* entries);
  // A folder's listing with the listings of its sub-folders (listed when D
  // is on), made before anything is added so that the files of the whole
  // walk are known and can be compressed ahead.
  struct Listing {
    std::vector<FolderEntry> entries;
    std::vector<std::unique_ptr<Listing>> folders;  // per entry; null: not walked into
  };
  void ListTree(const std::string& path, Listing* listing, std::vector<std::string>* files);
  bool Walk(const std::string& path, const Listing& listing);

  // ---- Removable media (volume_writer.cpp) ----------------------------------------
  // An archive on a removable drive is written in blocks onto as many disks
  // as it needs: the first volume is the archive file, each further disk
  // holds one continuation file (volumes.h). It is written under its own
  // name from the start, as its continuations are: a temporary name could
  // not be renamed once its disk has left the drive.
  //
  // BlockSize and SoftEOM from the builder's settings (written with their
  // defaults when missing).
  void ReadVolumeSettings();
  // After the stub copy: volume 1, the block size and the first disk's
  // room (soft mode), logged.
  void PrepareRemovableOutput();
  // Total and free bytes of the archive's drive now; false when the system
  // cannot tell (both 0).
  bool MeasureDisk(int64_t* total, int64_t* free_space);
  // Before a member header of needed_name: true when it fits on this
  // volume, else the volume is ended with VOLUME_CONTINUATION and the next
  // disk is asked for. False (the archive broken) when that fails or is
  // cancelled.
  bool HeaderFits(const std::string& needed_name);
  // Writes data in blocks, going on to the next disk at the end of each
  // (soft or hard); false (the archive broken) on a write error or when a
  // disk change fails or is cancelled.
  bool VolumeWrite(const uint8_t* data, size_t length);
  // The current volume file is closed: asks for the next disk and creates
  // the continuation file on it, with the retry questions. False when the
  // user cancels.
  bool OpenNextVolume();
  // AddFile on removable media: the member's data is made in memory first
  // (its sizes and checksum must be in its header, which cannot be patched
  // once the data has gone on to another disk), then the header and the
  // data are written.
  bool AddMemberToVolumes(const std::string& path, const std::string& fit_name,
                          const std::string& name, std::unique_ptr<File> file, int64_t size,
                          FileTime modified);
  // The end marker on removable media (it may have to go on the next disk
  // in hard mode).
  bool WriteVolumeEnd(const uint8_t* data, size_t length);
  // Marks the archive broken after a failed volume step: nothing more is
  // written and Close deletes what it can.
  void BreakVolumes();

  // One plain write to the archive file. A failure abandons the archive
  // (see Abandon); write_error_ keeps the system's code for the caller's
  // message.
  bool WriteArchive(const void* data, size_t size);
  // After a failed write: reports a full disk as such, closes and deletes
  // the temporary file and marks the archive broken.
  void Abandon(uint32_t code);
  bool DiskFull() const;
  // Shows a write error that was not a full disk and ends the member: false.
  bool WriteFailed();
  // Deletes the temporary file of the archive being written.
  void DeleteTemporary();
  // The engine's ReportError plus the same text in the activity log.
  void Report(const std::string& message);

  EngineCore& core_;
  int32_t file_count_ = 0;
  int32_t block_count_ = 0;
  std::unordered_set<std::string> names_added_;
  std::vector<MemberEntry> recent_;

  std::string target_;           // the full path of the archive being written
  std::string temporary_path_;   // where it is written until it is complete
  std::string pending_path_;     // a closed archive waiting for CommitPending
  std::string pending_target_;   // ... and the name it gets then
  std::string completed_path_;   // the last archive closed complete
  bool defer_replace_ = false;
  // Removable media: the archive's drive, and the block size the engine
  // had before this archive chose its own (restored at close and abort).
  bool removable_ = false;
  bool volume_failed_ = false;  // a volume step failed and has told the user
  std::string root_;
  int32_t engine_block_size_ = kDefaultBlockSize;
  // Volumes the last archive closed complete spans (0: fixed disk).
  int32_t volumes_written_ = 0;
  bool created_ = false;         // Create succeeded for the archive being written
  bool broken_ = false;          // a write failed: the archive was abandoned
  uint32_t write_error_ = 0;
  // The archive as created: only these decide whether members are
  // scrambled, whatever the options say later.
  bool encrypted_ = false;
  std::string digest_;
  std::unique_ptr<DeflatePipeline> pipeline_;
};

}  // namespace crx

#endif  // CRX_ENGINE_ARCHIVE_WRITER_H
