// The reading half of ArchiveEngine: locating an archive, checking its
// identification and type records, and walking its member records to list,
// verify or extract them. The builder (verify, browse, automation) and both
// self-extractor stubs read through it.
//
// The walk for one ExtractArchive:
//
//   locate (probe offsets) -> identification record -> password rule
//     -> type record -> member loop:
//          read member record ---- END_OF_ARCHIVE ------> done
//            |   \---- bad marker -> resynchronise (builder) or stop (stub)
//            v
//          list | skip (not selected) | extract compressed/stored/empty
//            -> output path -> what is there (one look-up) -> replace?
//            read-only? space? -> folders -> temporary file beside the target
//            -> data streamed in pieces (unscramble, inflate, checksum)
//            -> rename over the target once the member is complete
//
// Member data never sits in memory whole: it moves in pieces of at most
// kDataChunk bytes, so memory stays bounded whatever the member's size. A
// member is written under a temporary name in its own folder and renamed
// over the target only when all of it arrived intact, so a damaged member
// never replaces, truncates or half-writes a file. Every length taken from
// the archive is held against what remains of the file, so a damaged or
// hostile archive ends in a clear error, never in a huge allocation or an
// endless loop.
//
// Volumes: an archive without a block count (written across several
// volumes) is read volume-aware. Its data may run on past the end of a
// volume file into the next one, "<archive>-1", "<archive>-2" ..., and a
// VOLUME_CONTINUATION marker sends the member walk to the next file. On a
// removable drive the reader asks for each disk in turn (the disk dialog
// and its retry questions); on a fixed disk the volume files are taken
// from beside the first one without a question, and a missing one ends the
// walk with an error.
#ifndef CRX_ENGINE_ARCHIVE_READER_H
#define CRX_ENGINE_ARCHIVE_READER_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/format.h"

namespace crx {

class ArchiveSource;
class Scrambler;

// The largest piece of member data the reader holds at once (compressed,
// and again uncompressed; scrambled data takes twice as much).
inline constexpr size_t kDataChunk = 256 * 1024;

class ArchiveReader {
 public:
  explicit ArchiveReader(EngineCore& core);
  ~ArchiveReader();
  ArchiveReader(const ArchiveReader&) = delete;
  ArchiveReader& operator=(const ArchiveReader&) = delete;

  // Lists, verifies (option V) or extracts the archive at path (empty: the
  // running program's own file). selection null: every member; otherwise
  // only the members named in it (exact names), and the walk stops once as
  // many members as it names have been handled. output_folder empty: the
  // locations stored on the archive. The archive stays open afterwards.
  bool Extract(const std::string& path, const std::vector<std::string>* selection,
               const std::string& output_folder);
  // Walks the archive in list mode: fills the member list, writes nothing.
  bool List(const std::string& path);
  // Reads only the identification and type records (the digest is kept even
  // when a password is set) and closes the archive again. True when the
  // archive carries a non-empty company string (a setup archive).
  bool ReadInfo(const std::string& path);

  // CloseArchive for an archive being read: "(close extracting archive)\n",
  // flush the log, close the archive file. The activity log itself is
  // closed by the engine.
  void Close();
  // AbortArchive for an archive being read: "(close/abort extracting
  // archive)\n" and close the archive file.
  void Abort();

  // Stubs read only at their own length, demand MAGIC right there and stop
  // at a bad member marker; the builder probes several offsets, tolerates
  // stray dwords before the identification record and offers
  // resynchronisation.
  void set_stub_reader(bool stub, int32_t own_offset);
  // Set by the caller once the user gave the right password.
  void set_password_accepted(bool accepted) { password_accepted_ = accepted; }

  const IdentificationRecord& identification() const { return identification_; }
  const TypeRecord& type_record() const { return type_; }
  bool open_failed() const { return open_failed_; }
  std::vector<MemberEntry>& members() { return members_; }

 private:
  // What one step of the member walk came to.
  enum class Step { kMember, kEnd, kError };

  bool UserQuit();
  // Opens the archive at the offsets to try and leaves it positioned at
  // the first that passes the probe.
  bool LocateArchive(const std::string& path);
  bool ProbeAt(const std::string& path, int32_t offset);
  bool ProcessArchive();
  Step ReadNextMember();
  Step Resynchronise();
  Step MemberFromResult(const FormatResult& result);
  // Logs a decoder's lines and reports its message, if any.
  void Report(const FormatResult& result);
  bool ProcessMember();
  bool ListMember();
  bool SkipMember();
  bool SkipData();
  bool ReadData(uint8_t* buffer, size_t size, size_t* got);
  MemberEntry* FindEntry();
  void SetStatus(MemberEntry* entry, int32_t status);
  static constexpr int32_t kKeepStatus = -2;
  // Where the data of the member being extracted goes.
  struct Output {
    bool write = false;            // into file (a temporary name beside path)
    int32_t status = kKeepStatus;  // the entry's status once the data proved good
    std::string path;              // the target
    std::string temporary;
    std::unique_ptr<File> file;
    OutputTarget target;
  };

  bool ExtractCompressed();
  bool ExtractStored();
  bool ExtractEmpty();
  // Asks the policy where the member goes and whether it may be written
  // there, creates its folders and opens the temporary file. False ends
  // the walk (reported); otherwise *out says whether the data is written
  // or only checked. uncompressed: the compressed-member routine (its own
  // read-only line).
  bool PrepareOutput(MemberEntry* entry, uint32_t size, bool uncompressed, Output* out);
  // The file at path cannot be created (or renamed into place): the
  // opening routine's report and the member's, and the member failed.
  void ReportCreateFailure(const std::string& path, uint32_t error, MemberEntry* entry);
  // A piece of the member's data; false (reported) when it cannot be
  // written.
  bool WriteOutput(Output* out, const uint8_t* data, size_t size);
  // The data was good: the time is set and the file renamed over the
  // target (or, when nothing is written, the status set).
  bool FinishOutput(Output* out, MemberEntry* entry);
  // The data was bad: the temporary file goes, the target stays as it was,
  // and the member is marked failed.
  void DiscardOutput(Output* out, MemberEntry* entry);
  // Reads the next n bytes of compressed data into the compress buffer,
  // unscrambling them when the archive is encrypted.
  bool ReadCompressed(size_t n, Scrambler* scrambler);
  // Moves distance bytes forward; volume-aware when the archive has no
  // block count. False (logged) when that fails or the user cancelled.
  bool SkipBytes(int64_t distance);

  // ---- volumes ------------------------------------------------------------
  // Why the reader needs the next volume; each asks with its own texts.
  enum class VolumeNeed { kData, kSkip, kMarker };
  bool VolumeAware() const { return identification_.block_count == 0; }
  // Reads the rest of size bytes, of which *got have been read when this
  // volume file ended (or failed), in block-size pieces, going on in the
  // next volume whenever a volume file ends. *got counts the bytes read.
  bool VolumeRead(uint8_t* buffer, size_t size, size_t* got);
  // Skips distance bytes past the end of the current volume file, going
  // on in the next volumes as far as needed.
  bool VolumeSkip(int64_t distance);
  // Closes the current volume file and opens the next one (asking for its
  // disk on a removable drive). False when the user cancelled or, on a
  // fixed disk, the file cannot be opened (reported).
  bool NextVolume(VolumeNeed need);
  bool OpenVolumeFile(const std::string& path);
  // Listing a multi-volume archive on a removable drive: at the start
  // (begin) whether to go on (false: the user declined or quit), and at the
  // end the first volume asked back. Does nothing for other walks.
  bool MultiVolumeListing(bool begin);
  // The reader's own "List Archive" window for a multi-volume listing on a
  // removable drive, when the caller attached none: opened and put in
  // place of the caller's hooks for the walk, closed (and the caller's
  // hooks back) at its end.
  void OpenOwnFeedback();
  void CloseOwnFeedback();
  // On a removable drive an archive without a block count is read a block
  // at a time from here on: the current volume file is read through a
  // file that hands out at most a block per read.
  void ReadInBlocks();
  bool SelectionHas(const std::string& name) const;

  EngineCore& core_;
  std::unique_ptr<ArchiveSource> source_;

  bool stub_reader_ = false;
  int32_t own_offset_ = FULL_STUB_SIZE;
  bool password_accepted_ = false;
  bool list_mode_ = false;
  bool open_failed_ = false;
  bool end_reached_ = false;
  // The archive is on a removable drive (disk prompts) rather than a fixed
  // disk (volume files side by side).
  bool removable_ = false;
  // The number of the volume file being read: 1 for the first.
  int32_t volume_ = 1;
  // The walk could not go on in the next volume (the user cancelled at a
  // disk prompt, or a volume file is missing, reported there): it ends
  // without the damaged-archive reports a short read would otherwise give.
  bool volume_failed_ = false;
  // A multi-volume listing on a removable drive is under way: it ends by
  // asking for the first volume again.
  bool multi_volume_listing_ = false;
  // While the own listing window is up: the hooks that send texts and the
  // animation to it, and the caller's hooks they stand in for.
  std::unique_ptr<EngineHooks> own_hooks_;
  EngineHooks* caller_hooks_ = nullptr;

  IdentificationRecord identification_;
  TypeRecord type_;
  MemberHeader member_;
  int32_t member_index_ = -1;
  const std::vector<std::string>* selection_ = nullptr;
  // Temporary output names start with the process id's low 16 bits.
  uint32_t temporary_base_ = 0;
  std::vector<MemberEntry> members_;
};

}  // namespace crx

#endif  // CRX_ENGINE_ARCHIVE_READER_H
