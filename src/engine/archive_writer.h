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

// The engine makes its writer on the first write call and reaches the
// calls a reading engine also makes (Close, Abort, ClearNames and the
// counts) through virtual functions: a program that never writes - a
// self-extractor stub - then links none of the writer.
class ArchiveWriter {
 public:
  explicit ArchiveWriter(EngineCore& core);
  virtual ~ArchiveWriter() = default;
  ArchiveWriter(const ArchiveWriter&) = delete;
  ArchiveWriter& operator=(const ArchiveWriter&) = delete;

  // Copies the stub named in the registry to path and writes the two
  // header records after it. On a false return after the file was opened
  // the partial archive is still open (core.creating is set): the caller
  // aborts (deleting it) or closes it.
  bool Create(const std::string& path);

  // Adds one file, stored under name_on_archive (empty: under path, or only
  // its last element with option F). A file left out on purpose (project
  // mode, a duplicate name, the user choosing to go on past a file that
  // cannot be opened) still returns true.
  bool AddFile(const std::string& path, const std::string& name_on_archive);

  // Adds every file of a folder; descends into sub-folders with option D.
  bool AddDirectory(const std::string& path);

  // Ends the archive being written: the end marker, then (unless it went on
  // to a second volume) the block and file counts patched into the
  // identification record; closes the file and clears core.creating. The
  // activity log is left to the caller.
  virtual bool Close();

  // Closes and deletes the archive being written.
  virtual void Abort();

  // Forgets the names already on the archive.
  virtual void ClearNames();

  virtual int32_t file_count() const { return file_count_; }
  virtual int32_t block_count() const { return block_count_; }

 private:
  // ---- CreateArchive steps --------------------------------------------------
  bool CopyStub(const std::string& stub, const std::string& path);
  bool OpenArchiveForAppend(const std::string& path);
  bool WriteArchiveId();
  bool WriteArchiveType();

  // ---- AddFile steps ----------------------------------------------------------
  bool IgnoredInProjectMode(const std::string& path);
  void LoadIgnoreList();
  // Opens a source file for reading; *size receives its length. Null when
  // the file cannot be opened (reported) or is too large for an archive
  // (reported, *too_large set).
  std::unique_ptr<File> OpenForRead(const std::string& path, int64_t* size, bool* too_large);
  bool WriteEmptyMember(const std::string& name, FileTime modified);
  bool WriteMemberHeader(const MemberHeader& header);
  bool WriteMemberData(const uint8_t* data, size_t size);

  // ---- AddDirectory -----------------------------------------------------------
  // Lists pattern; false when nothing can be listed. An existing folder
  // without entries is an empty listing.
  bool ListEntries(const std::string& pattern, const std::string& folder,
                   std::vector<FolderEntry>* entries);
  bool Walk(const std::string& path, const std::vector<FolderEntry>& entries);

  // ---- Removable media ----------------------------------------------------------
  void PrepareRemovableOutput(const std::string& root);

  // One plain write to the archive file.
  bool WriteArchive(const void* data, size_t size);
  // The engine's ReportError plus the same text in the activity log.
  void Report(const std::string& message);

  EngineCore& core_;
  int32_t file_count_ = 0;
  int32_t block_count_ = 0;
  std::unordered_set<std::string> names_added_;
};

}  // namespace crx

#endif  // CRX_ENGINE_ARCHIVE_WRITER_H
