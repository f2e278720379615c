#include "engine/archive_reader.h"

#include <zlib.h>

#include <algorithm>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/archive_source.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx {

namespace {

// The caption of the questions the reader asks itself.
constexpr const char* kCaption = "Cratex";

}  // namespace

namespace {

// Reads until size bytes have arrived, the file ends or a read fails;
// returns the count read.
size_t ReadFully(ByteSource& source, uint8_t* buffer, size_t size) {
  size_t total = 0;
  while (total < size) {
    size_t got = 0;
    if (!source.Read(buffer + total, size - total, &got) || got == 0) break;
    total += std::min(got, size - total);
  }
  return total;
}

}  // namespace

ArchiveReader::ArchiveReader(EngineCore& core) : core_(core) {}

ArchiveReader::~ArchiveReader() = default;

void ArchiveReader::set_stub_reader(bool stub, int32_t own_offset) {
  stub_reader_ = stub;
  own_offset_ = own_offset;
}

bool ArchiveReader::UserQuit() {
  if (core_.hooks->UserQuit()) core_.user_quit = true;
  return core_.user_quit;
}

// ---------------------------------------------------------------------------
// The three read operations.

bool ArchiveReader::Extract(const std::string& path, const std::vector<std::string>* selection,
                            const std::string& output_folder) {
  // A setup archive's member list is rebuilt by every extraction; a plain
  // archive's list stays, with the statuses the browser put into it.
  if (!core_.setup_info.company.empty()) members_.clear();
  core_.user_quit = false;

  ActivityKind kind = ActivityKind::kExtract;
  if (core_.options.verify) {
    kind = ActivityKind::kVerify;
  } else if (list_mode_) {
    kind = ActivityKind::kList;
  }
  core_.log.OpenActivityLog(kind, path);
  core_.ShowStatus("extract archive...");

  const std::string archive = path.empty() ? core_.platform.processes.ProgramPath() : path;
  core_.log.LogLine("Read Archive File (%s)...\n", archive.c_str());

  open_failed_ = false;
  if (!LocateArchive(archive)) {
    core_.log.CloseActivityLog(ActivityEnd::kCannotOpenRead);
    open_failed_ = true;
    return false;
  }

  selection_ = selection;
  temporary_base_ = core_.platform.processes.CurrentProcessId() & 0xFFFFu;
  core_.creating = false;
  core_.policy.set_output_folder(output_folder);
  core_.policy.BeginExtraction();
  core_.archive_path = archive;
  const std::string root = winpath::Root(core_.platform.files.FullPath(archive));
  removable_ =
      !root.empty() && core_.platform.files.GetDriveType(root) == DriveType::kRemovable;
  volume_ = 1;
  volume_failed_ = multi_volume_listing_ = false;
  core_.volume_number = removable_ ? 1 : 0;
  if (removable_) core_.log.LogText("(input from removable media)\n");

  const bool ok = ProcessArchive();
  selection_ = nullptr;
  core_.log.LogLine("ExtractArchive... %s\n", ok ? "Done" : "Errors");
  // Any later read starts again from the first volume.
  MultiVolumeListing(false);
  core_.ShowStatus("Ready");
  return ok;
}

bool ArchiveReader::List(const std::string& path) {
  list_mode_ = true;
  const bool ok = Extract(path, nullptr, std::string());
  list_mode_ = false;
  return ok;
}

bool ArchiveReader::ReadInfo(const std::string& path) {
  core_.password_digest.clear();
  core_.setup_info.company.clear();
  core_.setup_info.product.clear();
  core_.setup_info.description.clear();
  core_.setup_info.setup_program.clear();

  const std::string archive = path.empty() ? core_.platform.processes.ProgramPath() : path;
  open_failed_ = false;
  if (!LocateArchive(archive)) {
    open_failed_ = true;
    return false;
  }
  core_.archive_path = archive;

  // The digest is wanted here even when a password is set: the caller
  // learns from it whether to ask for the password.
  FormatResult result = ReadIdentificationRecord(
      *source_, stub_reader_ ? HeaderSearch::kAtOffset : HeaderSearch::kSkipToMagic,
      &identification_);
  Report(result);
  bool ok = result.ok();
  if (ok) {
    core_.password_digest = identification_.password_digest;
    result = ReadTypeRecord(*source_, &type_);
    Report(result);
    ok = result.ok();
    if (ok && type_.IsSetup()) core_.setup_info = type_.setup;
    if (ok) core_.policy.set_setup(type_.IsSetup());
  }
  // As CloseArchive does for an archive being read.
  Close();
  core_.log.EndActivityLog();
  return ok && !core_.setup_info.company.empty();
}

void ArchiveReader::Close() {
  core_.log.LogText("(close extracting archive)\n");
  core_.log.FlushActivityLog();
  source_.reset();
  core_.archive.reset();
}

void ArchiveReader::Abort() {
  core_.log.LogText("(close/abort extracting archive)\n");
  source_.reset();
  core_.archive.reset();
}

// ---------------------------------------------------------------------------
// Locating the archive.

bool ArchiveReader::LocateArchive(const std::string& path) {
  if (stub_reader_) return ProbeAt(path, own_offset_);
  for (int32_t offset : ArchiveOffsetsToProbe(DefaultArchiveOffset(), core_.options.minimal_stub)) {
    if (ProbeAt(path, offset)) return true;
  }
  return false;
}

bool ArchiveReader::ProbeAt(const std::string& path, int32_t offset) {
  source_.reset();
  core_.archive = core_.platform.files.Open(path, kAccessRead, kShareRead,
                                            Disposition::kOpenExisting);
  if (!core_.archive) {
    const uint32_t error = LastError();
    core_.log.ReportError(Format("Failed to open file for read\n'%s'\nError number: %d[0x%x]",
                                 path.c_str(), static_cast<int>(error), error));
    core_.log.LogLine("(open error '%s': 0x%x[%d])\n", path.c_str(), error,
                      static_cast<int>(error));
    return false;
  }
  core_.log.LogLine("(seek to 0x%x[%d] in archive)\n", static_cast<unsigned>(offset),
                    static_cast<int>(offset));
  if (!core_.archive->Seek(offset, SeekFrom::kBegin, nullptr)) {
    const uint32_t error = LastError();
    core_.log.LogLine("(seek error 0x%x in '%s' 0x%x[%d])\n", static_cast<unsigned>(offset),
                      path.c_str(), error, static_cast<int>(error));
    core_.archive.reset();
    return false;
  }
  uint8_t start[kProbeBytes];
  size_t got = 0;
  size_t total = 0;
  while (total < sizeof start && core_.archive->Read(start + total, sizeof start - total, &got) &&
         got > 0) {
    total += got;
  }
  int64_t size = 0;
  if (total != sizeof start || !ProbeArchiveStart(std::span<const uint8_t>(start, total)) ||
      !core_.archive->Seek(offset, SeekFrom::kBegin, nullptr) || !core_.archive->Size(&size)) {
    core_.archive.reset();
    return false;
  }
  source_ = std::make_unique<ArchiveSource>(*core_.archive, size, offset);
  core_.archive_offset = offset;
  core_.open_file_size = size;
  return true;
}

// ---------------------------------------------------------------------------
// The walk.

void ArchiveReader::Report(const FormatResult& result) {
  core_.log.LogText(result.log);
  if (!result.message.empty()) core_.log.ReportError(result.message);
}

bool ArchiveReader::ProcessArchive() {
  core_.log.LogText("(processing archive)\n");

  FormatResult result = ReadIdentificationRecord(
      *source_, stub_reader_ ? HeaderSearch::kAtOffset : HeaderSearch::kSkipToMagic,
      &identification_);
  Report(result);
  if (!result.ok()) return false;
  if (identification_.HasPassword() && !password_accepted_ && !core_.options.verify) {
    core_.log.LogText("ERROR PASSWORD NOT OK\n");
    return false;
  }
  core_.password_digest = identification_.password_digest;
  if (!MultiVolumeListing(true)) return false;

  result = ReadTypeRecord(*source_, &type_);
  Report(result);
  if (!result.ok()) {
    core_.log.LogText("ERROR READING ARCHIVE TYPE\n");
    return false;
  }
  core_.setup_info = type_.setup;
  core_.policy.set_setup(type_.IsSetup());
  ReadInBlocks();

  member_index_ = -1;
  end_reached_ = false;
  for (;;) {
    const Step step = ReadNextMember();
    if (step == Step::kEnd) {
      end_reached_ = true;
      break;
    }
    if (step == Step::kError) break;
    if (!ProcessMember()) break;
    if (selection_ != nullptr &&
        member_index_ + 1 == static_cast<int64_t>(selection_->size())) {
      end_reached_ = true;  // every selected member is done
      break;
    }
    if (UserQuit()) {
      core_.ui.MessageBox("USER QUIT...", kCaption, kMbOk | kMbTopmost);
      core_.log.LogText("(USER QUIT)\n");
      end_reached_ = true;
      break;
    }
  }
  if (end_reached_) {
    core_.log.LogText("(EndOfArchive)\n");
    return true;
  }
  core_.log.LogText("(ERRORS READING ARCHIVE)\n");
  return false;
}

ArchiveReader::Step ArchiveReader::ReadNextMember() {
  MemberReadOptions options;
  options.encrypted = type_.IsEncrypted();
  // Without a block count the data may go on in a continuation volume.
  options.data_may_continue = identification_.block_count == 0;
  const FormatResult result = ReadMemberRecord(*source_, options, &member_);
  switch (result.status) {
    case FormatStatus::kEndOfArchive:
      return Step::kEnd;
    case FormatStatus::kVolumeContinuation:
      // The next member record starts the next volume file.
      return NextVolume(VolumeNeed::kMarker) ? ReadNextMember() : Step::kError;
    case FormatStatus::kResyncNeeded:
      Report(result);  // "Invalid File Header (1)"
      if (stub_reader_) return Step::kError;
      return Resynchronise();
    default:
      return MemberFromResult(result);
  }
}

ArchiveReader::Step ArchiveReader::Resynchronise() {
  if (core_.ui.MessageBox("Attempt Resync...", kCaption, kMbYesNo | kMbTopmost) != kIdYes) {
    return Step::kError;
  }
  FormatResult result = FindNextMagic(*source_);
  if (!result.ok()) {
    Report(result);  // the end of the file came first
    return Step::kError;
  }
  MemberReadOptions options;
  options.encrypted = type_.IsEncrypted();
  options.data_may_continue = identification_.block_count == 0;
  return MemberFromResult(ReadMemberAfterMagic(*source_, options, &member_));
}

ArchiveReader::Step ArchiveReader::MemberFromResult(const FormatResult& result) {
  Report(result);
  // With a block count the decoder held the data against what remains of
  // the file; without one the data may go on in the next volume, and the
  // volume-aware read finds out when it gets there.
  return result.ok() ? Step::kMember : Step::kError;
}

// ---------------------------------------------------------------------------
// Volumes.

bool ArchiveReader::OpenVolumeFile(const std::string& path) {
  std::unique_ptr<File> file =
      core_.platform.files.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  int64_t size = 0;
  if (!file || !file->Size(&size)) return false;
  core_.archive = std::move(file);
  core_.open_file_size = size;
  source_ = std::make_unique<ArchiveSource>(*core_.archive, size, 0);
  return true;
}

bool ArchiveReader::SkipBytes(int64_t distance) {
  if (distance == 0) return true;
  // Only an archive without a block count goes on past this file.
  if (VolumeAware() && distance > source_->Remaining()) {
    if (VolumeSkip(distance)) return true;
    if (volume_failed_) return false;
  } else if (source_->Skip(distance)) {
    return true;
  }
  const uint32_t error = LastError();
  core_.log.LogLine("(seek error %d[0x%x])\n", static_cast<int>(error), error);
  return false;
}

bool ArchiveReader::SelectionHas(const std::string& name) const {
  return std::find(selection_->begin(), selection_->end(), name) != selection_->end();
}

bool ArchiveReader::ProcessMember() {
  if (core_.options.verify) {
    core_.ShowStatus(Format("verify: %s", member_.name.c_str()));
  } else {
    core_.ShowStatus(member_.name);
  }
  if (list_mode_) return ListMember();
  if (core_.hooks->HasFeedback() && !core_.options.verify) {
    core_.hooks->FeedbackText(winpath::LastElement(member_.name));
  }
  if (selection_ != nullptr && !SelectionHas(member_.name)) return SkipMember();
  if (!core_.setup_info.company.empty()) {
    // The stubs delete the extracted files of a setup archive by this list.
    members_.push_back(MemberEntry{member_.name, member_.size, member_.compressed_size,
                                   member_.modified, kMemberNotExtracted});
  }
  ++member_index_;
  switch (KindOf(member_)) {
    case MemberKind::kCompressed: return ExtractCompressed();
    case MemberKind::kStored: return ExtractStored();
    case MemberKind::kEmpty: return ExtractEmpty();
  }
  return false;
}

bool ArchiveReader::ListMember() {
  core_.log.LogLine("list <%s> [%d,%d]\n", member_.name.c_str(), member_.compressed_size,
                    member_.size);
  if (identification_.block_count == 0 && core_.hooks->HasFeedback()) {
    core_.hooks->FeedbackText(winpath::LastElement(member_.name));
  }
  members_.push_back(MemberEntry{member_.name, member_.size, member_.compressed_size,
                                 member_.modified, kMemberNotExtracted});
  return SkipData();
}

bool ArchiveReader::SkipMember() {
  core_.log.LogLine("skip <%s> [%d,%d]\n", member_.name.c_str(), member_.compressed_size,
                    member_.size);
  if (core_.hooks->HasFeedback()) {
    core_.hooks->FeedbackText(winpath::LastElement(member_.name));
  }
  return SkipData();
}

bool ArchiveReader::SkipData() {
  return SkipBytes(MemberDataSize(member_, type_.IsEncrypted()));
}

bool ArchiveReader::ReadData(uint8_t* buffer, size_t size, size_t* got) {
  // From a removable drive, block by block, ready for the next disk.
  if (removable_ && VolumeAware()) {
    *got = 0;
    return VolumeRead(buffer, size, got);
  }
  *got = ReadFully(*source_, buffer, size);
  // Without a block count the data may go on in the next volume.
  return *got == size || (VolumeAware() && VolumeRead(buffer, size, got));
}

// ---------------------------------------------------------------------------
// Extraction.

MemberEntry* ArchiveReader::FindEntry() {
  if (member_index_ >= 0 && static_cast<size_t>(member_index_) < members_.size() &&
      members_[static_cast<size_t>(member_index_)].name == member_.name) {
    return &members_[static_cast<size_t>(member_index_)];
  }
  for (MemberEntry& entry : members_) {
    if (entry.name == member_.name) return &entry;
  }
  return nullptr;
}

void ArchiveReader::SetStatus(MemberEntry* entry, int32_t status) {
  if (entry != nullptr) entry->status = status;
}

bool ArchiveReader::ReadCompressed(size_t n, Scrambler* scrambler) {
  size_t got = 0;
  if (scrambler == nullptr) return ReadData(core_.compress_buffer.data(), n, &got);
  // Every byte was scrambled into a 16-bit word.
  if (!ReadData(core_.scramble_buffer.data(), 2 * n, &got)) return false;
  return scrambler->Unscramble(core_.scramble_buffer.data(), n, core_.compress_buffer.data());
}

bool ArchiveReader::ExtractCompressed() {
  const char* name = member_.name.c_str();
  core_.log.LogLine("extract and uncompress <%s>\n", name);
  MemberEntry* entry = FindEntry();

  const size_t compressed = static_cast<size_t>(member_.compressed_size);
  const size_t size = static_cast<size_t>(member_.size);
  const size_t in_piece = std::min(compressed, kDataChunk);
  const size_t out_piece = std::min(size, kDataChunk);
  const bool encrypted = type_.IsEncrypted();
  if (!core_.GrowBuffer(&core_.compress_buffer, in_piece, false) ||
      (encrypted && !core_.GrowBuffer(&core_.scramble_buffer, 2 * in_piece, false))) {
    SetStatus(entry, kMemberFailed);
    core_.ReportAndLog("ERROR: ran out of memory uncompressing file");
    return false;
  }
  // (A request made after the user has quit fails.)
  if (!core_.GrowBuffer(&core_.data_buffer, out_piece, true)) {
    SetStatus(entry, kMemberFailed);
    core_.ReportAndLog("ERROR: ran out of memory");
    return false;
  }
  Scrambler scrambler(core_.password_digest);
  if (encrypted && !scrambler.Usable()) {
    // Encrypted data needs the eight digest characters as its key.
    SetStatus(entry, kMemberFailed);
    core_.ReportAndLog(Format(
        "ERROR EXTRACTING FILE\n<%s>\nThe archive is encrypted but holds no password digest.",
        name));
    return false;
  }
  z_stream stream{};
  if (inflateInit(&stream) != Z_OK) {
    SetStatus(entry, kMemberFailed);
    core_.ReportAndLog("ERROR: ran out of memory uncompressing file");
    return false;
  }

  Output out;
  if (!PrepareOutput(entry, static_cast<uint32_t>(size), true, &out)) {
    inflateEnd(&stream);
    return false;
  }
  if (encrypted) core_.log.LogText("(unscramble...)\n");

  // Inflate piece by piece into at most size bytes. The result code is the
  // one a single uncompress() call into a buffer of size bytes gives: the
  // end of the stream is Z_OK; a stream that wants more room than size is
  // Z_BUF_ERROR; one that ends early, or is damaged, Z_DATA_ERROR.
  size_t unread = compressed;  // compressed bytes not yet read
  size_t produced = 0;
  uint8_t spare = 0;
  int code = Z_OK;
  bool read_failed = false;
  bool write_failed = false;
  for (;;) {
    if (stream.avail_in == 0 && unread > 0) {
      const size_t n = std::min(unread, in_piece);
      if (!ReadCompressed(n, encrypted ? &scrambler : nullptr)) {
        read_failed = true;
        break;
      }
      stream.next_in = core_.compress_buffer.data();
      stream.avail_in = static_cast<uInt>(n);
      unread -= n;
    }
    const size_t room = std::min(out_piece, size - produced);
    stream.next_out = room != 0 ? core_.data_buffer.data() : &spare;
    stream.avail_out = static_cast<uInt>(room);
    const int result = inflate(&stream, Z_NO_FLUSH);
    const size_t made = room - stream.avail_out;
    if (made != 0) {
      if (!WriteOutput(&out, core_.data_buffer.data(), made)) {
        write_failed = true;
        break;
      }
      produced += made;
    }
    if (result == Z_STREAM_END) break;
    if (result == Z_OK) continue;
    if (result == Z_BUF_ERROR) {
      if (stream.avail_in == 0 && unread > 0) continue;  // more input to come
      code = stream.avail_in == 0 && produced < size ? Z_DATA_ERROR : Z_BUF_ERROR;
    } else {
      code = result == Z_NEED_DICT ? Z_DATA_ERROR : result;
    }
    break;
  }
  inflateEnd(&stream);

  if (write_failed) {
    DiscardOutput(&out, entry);
    return false;
  }
  if (read_failed) {
    DiscardOutput(&out, entry);
    // The next volume could not be had (reported): the archive itself is
    // not known to be damaged.
    if (volume_failed_) return false;
    core_.ReportAndLog(Format("ERROR EXTRACTING FILE\n<%s>\nCouldn't read full extent of file "
                              "from media.\nMedia error or archive file corruption.",
                              name));
    return false;
  }
  core_.log.LogLine("(uncompress [%d] %d -> %d)\n", code, member_.compressed_size,
                    static_cast<int>(produced));
  if (code != Z_OK) {
    DiscardOutput(&out, entry);
    core_.log.ReportError(Format("Error uncompressing file...\n<%s>", name));
    return false;
  }
  if (produced != size) {
    DiscardOutput(&out, entry);
    core_.ReportAndLog("uncompress error");
    return false;
  }
  // Bytes after the end of the stream belong to the member all the same.
  if (unread > 0 && !SkipBytes(static_cast<int64_t>(unread) * (encrypted ? 2 : 1))) {
    DiscardOutput(&out, entry);
    return false;
  }
  return FinishOutput(&out, entry);
}

bool ArchiveReader::ExtractStored() {
  const char* name = member_.name.c_str();
  core_.log.LogLine("extract <%s> [%d,%d]\n", name, member_.size, member_.compressed_size);
  MemberEntry* entry = FindEntry();

  const size_t size = static_cast<size_t>(member_.size);
  const size_t piece = std::min(size, kDataChunk);
  if (!core_.GrowBuffer(&core_.data_buffer, piece, false)) {
    SetStatus(entry, kMemberFailed);
    core_.ReportAndLog("ERROR: ran out of memory extracting file");
    return false;
  }
  Output out;
  if (!PrepareOutput(entry, static_cast<uint32_t>(size), false, &out)) return false;

  StoredChecksums sums;
  for (size_t left = size; left > 0;) {
    const size_t n = std::min(left, piece);
    size_t got = 0;
    if (!ReadData(core_.data_buffer.data(), n, &got)) {
      DiscardOutput(&out, entry);
      if (volume_failed_) return false;
      core_.ReportAndLog(Format("ERROR EXTRACTING FILE\n<%s>\nCouldn't read full extent of file "
                                "from media\nMedia error or archive file corruption.",
                                name));
      return false;
    }
    sums.Update(std::span<const uint8_t>(core_.data_buffer.data(), n));
    if (!WriteOutput(&out, core_.data_buffer.data(), n)) {
      DiscardOutput(&out, entry);
      return false;
    }
    left -= n;
  }
  if (!sums.Accepts(member_.checksum)) {
    DiscardOutput(&out, entry);
    core_.log.ReportError(Format("Error: checksum incorrect in file...\n<%s>", name));
    core_.log.LogLine("Error: checksum incorrect in file...\n%s", name);
    return false;
  }
  return FinishOutput(&out, entry);
}

bool ArchiveReader::ExtractEmpty() {
  core_.log.LogLine("extract(empty) <%s> [%d,%d]\n", member_.name.c_str(), member_.size,
                    member_.compressed_size);
  MemberEntry* entry = FindEntry();
  Output out;
  if (!PrepareOutput(entry, 0, false, &out)) return false;
  return FinishOutput(&out, entry);
}

bool ArchiveReader::PrepareOutput(MemberEntry* entry, uint32_t size, bool uncompressed,
                                  Output* out) {
  ExtractPolicy& policy = core_.policy;
  const bool viewing = entry != nullptr && entry->status == kMemberView;
  if (!policy.OutputPath(member_.name, viewing, &out->path)) {
    // A name that would land outside the output folder (reported by the
    // policy): this member fails, the others go on.
    out->status = kMemberFailed;
    return true;
  }
  const std::string& path = out->path;
  core_.log.LogLine("...<%s>\n", path.c_str());
  if (core_.options.verify) {
    core_.log.LogText("(veryfy only - no file write)\n");
    return true;
  }
  if (!policy.LookUpTarget(member_.name, path, &out->target)) {
    out->status = kMemberFailed;  // it would be written through a link
    return true;
  }
  if (!policy.OkToReplaceFile(path, member_.modified, &out->target)) {
    out->status = kMemberReplaceRefused;
    core_.log.LogLine("(overwrite of '%s' REJECTED)\n", path.c_str());
    return true;
  }
  if (!policy.ReadOnlyAllows(path, &out->target)) {
    out->status = kMemberReadOnly;
    if (uncompressed) {
      core_.log.LogLine("(replace of '%s' NOT ALLOWED)\n", path.c_str());
    } else {
      core_.log.LogLine("(overwrite of '%s' NOT ALLOWED)\n", path.c_str());
    }
    return true;
  }
  switch (policy.CheckSpaceFor(path, size)) {
    case SpaceAnswer::kAbort: return false;
    case SpaceAnswer::kSkip: return true;  // the status stays as it was
    case SpaceAnswer::kEnough: break;
  }

  uint32_t error = 0;
  if (out->target.IsFolder() && !out->target.IsLink()) {
    // A folder where the file should go cannot be replaced by it.
    error = kErrorAccessDenied;
  } else {
    if (!policy.PrepareFolders(&out->path, out->target)) {
      SetStatus(entry, kMemberFailed);
      return false;
    }
    // A new name in the target's folder; an existing file of that name is
    // never opened (a planted link is not followed).
    const size_t cut = path.find_last_of("\\/");
    const std::string folder = cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
    static uint32_t counter = 0;
    const uint32_t base = temporary_base_;
    for (int attempt = 0; attempt < 100 && !out->file; ++attempt) {
      out->temporary = Format("%s~crx%04x%04x.tmp", folder.c_str(), static_cast<unsigned>(base),
                              static_cast<unsigned>(++counter & 0xFFFFu));
      out->file = core_.platform.files.Open(out->temporary, kAccessWrite, kShareNone,
                                            Disposition::kCreateNew);
      if (!out->file && LastError() != kErrorFileExists) break;
    }
    if (!out->file) error = LastError();
  }
  if (!out->file) {
    ReportCreateFailure(path, error, entry);
    return false;
  }
  out->write = true;
  return true;
}

void ArchiveReader::ReportCreateFailure(const std::string& path, uint32_t error,
                                        MemberEntry* entry) {
  core_.ReportAndLog(Format("failed to open <%s> for write\nERROR %d[0x%x]", path.c_str(),
                            static_cast<int>(error), error));
  SetStatus(entry, kMemberFailed);
  core_.ReportAndLog(Format("Failed to create file <%s>\n%d[0x%x]", path.c_str(),
                            static_cast<int>(error), error));
}

bool ArchiveReader::WriteOutput(Output* out, const uint8_t* data, size_t size) {
  if (!out->file || size == 0) return true;
  if (out->file->Write(data, size)) return true;
  const uint32_t error = LastError();
  core_.ui.MessageBox(Format("Write Error: %d (0x%x)", static_cast<int>(error), error),
                      kCaption, kMbOk | kMbTopmost);
  return false;
}

void ArchiveReader::DiscardOutput(Output* out, MemberEntry* entry) {
  SetStatus(entry, kMemberFailed);
  if (!out->file) return;
  out->file.reset();
  core_.platform.files.DeleteFile(out->temporary);
}

bool ArchiveReader::FinishOutput(Output* out, MemberEntry* entry) {
  if (!out->file) {
    if (out->status != kKeepStatus) SetStatus(entry, out->status);
    return true;
  }
  FileSystem& files = core_.platform.files;
  out->file->SetLastWriteTime(member_.modified);
  out->file.reset();
  if (out->target.IsLink() && !core_.policy.RemoveLink(member_.name, out->path)) {
    // Refused like a name that leads outside: the walk goes on.
    files.DeleteFile(out->temporary);
    SetStatus(entry, kMemberFailed);
    return true;
  }
  if (!files.ReplaceFile(out->temporary, out->path)) {
    const uint32_t error = LastError();
    files.DeleteFile(out->temporary);
    ReportCreateFailure(out->path, error, entry);
    return false;
  }
  SetStatus(entry, kMemberExtracted);
  return true;
}

}  // namespace crx
