// The writing half of the archive engine: CreateArchive, AddFile,
// AddDirectory and the end of an archive being written.
#include "engine/archive_writer.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <limits>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/deflate_blocks.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"

namespace crx {

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";
constexpr const char* kCaption = "Cratex";
constexpr const char* kDefaultIgnoreList =
    "EXE:OBJ:RES:TLB:PDB:SBR:BSC:ILK:NCB:OPT:PLG:APS:IDB:PCH:LIB:DLL:OCX:CLASS";

// Sizes on the archive are signed 32-bit numbers.
constexpr int64_t kLargestMember = std::numeric_limits<int32_t>::max();

// Stored (uncompressed) members are copied in pieces of this size.
constexpr size_t kStoredPiece = 256 * 1024;

// The text after the last back-slash or forward slash.
std::string LastPathElement(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

char UpperAscii(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

int AsInt(int64_t value) { return static_cast<int>(value); }

}  // namespace

ArchiveWriter::ArchiveWriter(EngineCore& core) : core_(core) {}

ArchiveWriter::~ArchiveWriter() {
  pipeline_.reset();
  DiscardPending();
}

void ArchiveWriter::ClearNames() { names_added_.clear(); }

void ArchiveWriter::Report(const std::string& message) { core_.ReportAndLog(message); }

bool ArchiveWriter::WriteArchive(const void* data, size_t size) {
  if (broken_ || core_.archive == nullptr) return false;
  if (core_.archive->Write(data, size)) {
    if (removable_) core_.bytes_on_volume += static_cast<int64_t>(size);
    return true;
  }
  Abandon(LastError());
  return false;
}

bool ArchiveWriter::WriteFailed() {
  // A full disk was reported when it was found; any other write error is
  // shown here.
  if (!DiskFull()) {
    core_.ui.MessageBox(Format("Write Error: %d (0x%x)", static_cast<int>(write_error_),
                               write_error_),
                        kCaption, kMbOk);
  }
  core_.ShowStatus("Ready");
  return false;
}

bool ArchiveWriter::DiskFull() const {
  return write_error_ == kErrorDiskFull || write_error_ == kErrorHandleDiskFull;
}

void ArchiveWriter::Abandon(uint32_t code) {
  write_error_ = code;
  broken_ = true;
  // Nothing of a half-written archive stays behind, and the space it took
  // is free again at once.
  core_.archive.reset();
  DeleteTemporary();
  if (DiskFull()) {
    Report(Format("ERROR: the disk is full; the archive cannot be written\n<%s>\nNothing was "
                  "written under that name: an archive already there is unchanged.",
                  core_.archive_path.c_str()));
  } else {
    core_.log.LogLine("(archive <%s> abandoned after a write error %d; an archive already "
                      "there is unchanged)\n",
                      core_.archive_path.c_str(), static_cast<int>(code));
  }
  SetLastError(code);
}

void ArchiveWriter::DeleteTemporary() {
  if (temporary_path_.empty()) return;
  core_.platform.files.DeleteFile(temporary_path_);
  temporary_path_.clear();
}

bool ArchiveWriter::CommitPending() {
  if (pending_path_.empty()) return true;
  const std::string from = pending_path_;
  const std::string to = pending_target_;
  pending_path_.clear();
  pending_target_.clear();
  // An archive on removable disks was written under its own name.
  if (from == to) return true;
  FileSystem& files = core_.platform.files;
  if (files.ReplaceFile(from, to)) return true;
  const uint32_t code = LastError();
  files.DeleteFile(from);
  Report(Format("ERROR: the new archive could not take the place of\n<%s>\nError number: "
                "%d[0x%x]\nAn archive already there is unchanged.",
                to.c_str(), static_cast<int>(code), code));
  return false;
}

void ArchiveWriter::DiscardPending() {
  if (pending_path_.empty()) return;
  core_.platform.files.DeleteFile(pending_path_);
  pending_path_.clear();
  pending_target_.clear();
}

// ---------------------------------------------------------------------------
// CreateArchive

bool ArchiveWriter::Create(const std::string& path) {
  EngineLog& log = core_.log;
  ClearNames();
  // An archive closed earlier and still waiting for its verification is
  // not going to be verified any more: it takes its place now.
  CommitPending();
  if (core_.hooks->HasFeedback()) core_.hooks->FeedbackText("creating archive...");
  core_.user_quit = false;

  log.OpenActivityLog(ActivityKind::kCreate, path);
  core_.ShowStatus("create archive...");
  if (core_.user_quit) return false;

  // Scrambling is keyed by the first eight characters of the password
  // digest, so an encrypted archive without one (a script or automation
  // client that set E but no password) cannot be written. Refuse it before
  // the stub is copied, rather than writing members nobody can unscramble.
  if (core_.options.encrypt && core_.password_digest.size() < kPasswordLength) {
    Report(core_.password_digest.empty()
               ? "ERROR: encryption needs a password; no password was given for the archive"
               : "ERROR: encryption needs a password; the password digest given for the "
                 "archive is too short");
    core_.ShowStatus("Ready");
    return false;
  }

  file_count_ = 0;
  block_count_ = 0;
  created_ = false;
  broken_ = false;
  volume_failed_ = false;
  write_error_ = 0;
  // What the identification and type records are about to say decides
  // how every member is stored; later option or password changes cannot
  // change this archive.
  encrypted_ = core_.options.encrypt;
  digest_ = core_.password_digest;
  const std::string root = core_.policy.RootDirectoryFromPath(path);
  removable_ = !root.empty() && core_.platform.files.GetDriveType(root) == DriveType::kRemovable;
  root_ = root;
  core_.volume_number = 0;
  volumes_written_ = 0;
  if (removable_) {
    ReadVolumeSettings();
    if (log.ActivityLogOpen() && core_.soft_eom) {
      int64_t total = 0;
      int64_t free_space = 0;
      MeasureDisk(&total, &free_space);
      log.LogLine("(disk-space-free before archive creation = %d)\n", AsInt(free_space));
    }
  }

  const std::string stub =
      StubFile(core_.platform.registry, core_.ui, core_.options.minimal_stub);
  // Full paths: the current folder may change before the archive is put
  // in place (a script's "@" line).
  target_ = core_.platform.files.FullPath(path);
  // Removable disks: the archive is written under its own name (see
  // PrepareRemovableOutput).
  const std::string temporary =
      removable_ ? target_
                 : Format("%s.crx-%u.tmp", target_.c_str(),
                          core_.platform.processes.CurrentProcessId());
  if (!CopyStub(stub, temporary)) return false;
  temporary_path_ = temporary;

  core_.archive_path = path;
  if (removable_) PrepareRemovableOutput();

  if (!OpenArchiveForAppend(path)) {
    DeleteTemporary();
    return false;
  }

  core_.creating = true;
  if (!WriteArchiveId()) {
    log.LogText("ERROR: WriteArchiveId failed\n");
    core_.ShowStatus("Ready");
    return false;
  }

  SetupInfo& setup = core_.setup_info;
  if (core_.options.setup && (setup.company.empty() || setup.product.empty() ||
                              setup.description.empty() || setup.setup_program.empty())) {
    // The program around the engine asks the user for the setup
    // information; Cancel abandons the archive. A program that has no such
    // dialog cannot make a setup archive from incomplete texts: say so
    // rather than fail without a word.
    const int answer = core_.ui.SetupInformation(&setup);
    if (answer == kDialogUnavailable) {
      Report("ERROR: the setup information is incomplete.\n\nA setup archive needs a company, "
             "a product, a description and a setup program.");
    }
    if (answer != kIdOk) {
      core_.ShowStatus("Ready");
      return false;
    }
  }

  if (!WriteArchiveType()) {
    log.LogText("ERROR: WriteArchiveType failed\n");
    core_.ShowStatus("Ready");
    return false;
  }

  core_.ShowStatus("Ready");
  if (core_.user_quit) return false;
  created_ = true;
  // They are on the archive now.
  core_.setup_info.company.clear();
  core_.setup_info.product.clear();
  core_.setup_info.description.clear();
  core_.setup_info.setup_program.clear();
  return true;
}

std::string StubFile(Registry& registry, UserInterface& ui, bool minimal) {
  SetDefaultArchiveOffset(minimal ? MIN_STUB_SIZE : FULL_STUB_SIZE);
  ScopedRegKey key(registry);
  if (registry.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kRead, key.Out()) !=
      kErrorSuccess) {
    ui.MessageBox("Can't open registry key", kCaption, kMbOk);
    return std::string();
  }
  std::string stub;
  if (registry.GetString(key.Get(), minimal ? "mdatafile" : "datafile", &stub) !=
      kErrorSuccess) {
    stub.clear();
  }
  if (stub.empty()) {
    ui.MessageBox("datafile not define corectly in registry", kCaption, kMbOk);
  }
  return stub;
}

bool ArchiveWriter::CopyStub(const std::string& stub, const std::string& path) {
  FileSystem& files = core_.platform.files;
  if (files.CopyFile(stub, path, false)) return true;
  const uint32_t code = LastError();
  // A copy cut short (a full disk) leaves nothing behind.
  files.DeleteFile(path);
  core_.hooks->ProcessMessages();
  if (!core_.user_quit) core_.platform.clock.Sleep(1000);
  Report(Format("Error creating archive 0x%x[%d]", code, static_cast<int>(code)));
  core_.log.LogLine("datafile <%s> attribute status = 0x%x", stub.c_str(),
                    files.GetAttributes(stub));
  core_.ShowStatus("Ready");
  return false;
}

bool ArchiveWriter::OpenArchiveForAppend(const std::string& path) {
  EngineLog& log = core_.log;
  // The archive is written under its temporary name; messages name the
  // archive the user asked for.
  core_.archive = core_.platform.files.Open(temporary_path_, kAccessWrite, kShareNone,
                                            Disposition::kOpenExisting);
  if (!core_.archive) {
    const uint32_t code = LastError();
    Report(Format("failed to open <%s> for append\nERROR %d[0x%x]", path.c_str(),
                  static_cast<int>(code), code));
    log.LogText("CreateArchive... Errors (failed to open archive)\n");
    log.EndActivityLog();
    log.ReportError("failed to open archive file");
    core_.ShowStatus("Ready");
    return false;
  }
  int64_t end = 0;
  if (!core_.archive->Seek(0, SeekFrom::kEnd, &end)) end = 0;
  log.LogLine("(seek to end-of-file 0x%x[%d])\n", static_cast<unsigned>(end), AsInt(end));
  if (end == 0) log.ReportError("SEEK FAILED");
  core_.archive_offset = end;
  return true;
}

bool ArchiveWriter::WriteArchiveId() {
  IdentificationRecord record;
  record.version = kArchiveVersion;
  // A block size of 0 (or less) cannot divide anything: blocks are then
  // counted in units of the default size, and the record says so, so that
  // the count and the size on the archive agree.
  record.block_size = core_.block_size > 0 ? core_.block_size : kDefaultBlockSize;
  record.block_count = 0;
  record.file_count = 0;
  record.created =
      core_.fixed_creation_time ? core_.creation_time : core_.platform.clock.UtcNow();
  record.password_digest = core_.password_digest;
  Bytes bytes;
  AppendIdentificationRecord(record, &bytes);
  return WriteArchive(bytes.data(), bytes.size());
}

bool ArchiveWriter::WriteArchiveType() {
  EngineLog& log = core_.log;
  TypeRecord record;
  record.archive_type = (core_.options.setup ? TYPE_SETUP : 0) |
                        (core_.options.encrypt ? TYPE_ENCRYPTED : 0);
  log.LogLine("(write archieve type information 0x%x) <%s>\n", record.archive_type,
              core_.archive_path.c_str());
  if (record.IsSetup()) {
    record.setup = core_.setup_info;
    const SetupInfo& s = record.setup;
    log.LogLine("setup info [%d]...\n<%s> <%s> <%s> <%s> <%s>\n", SetupInfoLength(s),
                s.company.c_str(), s.product.c_str(), s.description.c_str(),
                s.setup_program.c_str(), s.wait_program.c_str());
  }
  Bytes bytes;
  AppendTypeRecord(record, &bytes);
  return WriteArchive(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------
// AddFile

void ArchiveWriter::LoadIgnoreList() {
  Registry& registry = core_.platform.registry;
  ScopedRegKey key(registry);
  std::string value;
  const bool found =
      registry.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead, key.Out()) ==
          kErrorSuccess &&
      registry.GetString(key.Get(), "IgnoreFiles", &value) == kErrorSuccess;
  if (!found) value = kDefaultIgnoreList;
  core_.ignore_list = ":" + winpath::ToUpperAscii(value) + ":";
}

bool ArchiveWriter::IgnoredInProjectMode(const std::string& path) {
  if (core_.ignore_list.empty()) LoadIgnoreList();
  const std::string& list = core_.ignore_list;
  // The extension follows the last dot of the last element; a leading dot
  // (".profile") starts a name, not an extension.
  const std::string last = LastPathElement(path);
  std::string extension;
  const size_t dot = last.rfind('.');
  if (dot != std::string::npos && dot != 0) extension = last.substr(dot + 1);
  if (list.find(":" + winpath::ToUpperAscii(extension) + ":") != std::string::npos) return true;
  // An entry "*c" matches every name that ends in the character c.
  if (path.empty()) return false;
  std::string any_ending = ":*";
  any_ending += UpperAscii(path.back());
  any_ending += ':';
  return list.find(any_ending) != std::string::npos;
}

bool ArchiveWriter::AddFile(const std::string& path, const std::string& name_on_archive) {
  EngineLog& log = core_.log;
  FileSystem& files = core_.platform.files;
  // An archive abandoned after a failed write was reported then; the rest
  // of a script's files fail without a message each.
  if (core_.creating && broken_) return false;
  // Files can only be added between CreateArchive and the end of the
  // archive; anything else is a caller's mistake, refused with a report.
  if (!core_.creating || !core_.archive) {
    Report(Format("ERROR: no archive is being created; cannot add\n<%s>", path.c_str()));
    return false;
  }
  core_.user_quit = false;

  if (core_.options.project && IgnoredInProjectMode(path)) {
    log.LogLine("(ignore <%s>)\n", path.c_str());
    return true;
  }

  const bool renamed = !name_on_archive.empty();
  std::string name = renamed ? name_on_archive : path;
  if (core_.options.flatten) name = LastPathElement(name);
  // A name readers would refuse (none at all, or too long for a record)
  // never reaches the archive.
  if (name.empty() || name.size() + 1 > static_cast<size_t>(kMaxMemberNameLength)) {
    Report(Format("ERROR: invalid name on the archive for the file\n'%s'\n(empty, or longer "
                  "than %d characters)",
                  path.c_str(), kMaxMemberNameLength - 1));
    return false;
  }

  if (names_added_.count(name) != 0) {
    if (renamed) {
      Report(Format("ERROR\n\nA file already exists on the archive with this name...\n\n'%s'"
                    "\n\nMultiple files cannot have the same name\non an archive. Choose an "
                    "alternative name.",
                    name.c_str()));
    } else {
      Report(Format("ERROR\n\nA file already exists on the archive with this name...\n\n'%s'"
                    "\n\nMultiple files cannot have the same name on an archive.\nIf you are "
                    "processing a Script, you can give the file an \nalternative name on the "
                    "archive, see the documentation.\n",
                    name.c_str()));
    }
    return true;
  }

  if (core_.hooks->HasFeedback()) core_.hooks->FeedbackText(LastPathElement(path));

  // A file the folder walk had read ahead is still open: its handle serves
  // as the member's own, which saves opening it again.
  std::unique_ptr<File> file =
      pipeline_ && core_.options.compress ? pipeline_->TakeReadAhead(path) : nullptr;
  if (!file) file = files.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  int64_t size = 0;
  if (file && !file->Size(&size)) file.reset();
  if (!file) {
    const uint32_t code = LastError();
    log.ReportError(Format("Failed to open file for read\n'%s'\nError number: %d[0x%x]",
                           path.c_str(), static_cast<int>(code), code));
    log.LogLine("ERROR OPENING FILE <%s> 0x%x[%d]\n", path.c_str(), code,
                static_cast<int>(code));
    if (log.silent()) return false;
    const int answer = core_.ui.MessageBox(
        Format("CAN'T ADD FILE TO ARCHIVE...\n'%s'\nContinue adding other files or Cancel",
               path.c_str()),
        kCaption, kMbOkCancel);
    return answer != kIdCancel;
  }
  // Sizes on the archive are signed 32-bit numbers: a file of 2 GB or more
  // would be stored with a wrong size, so it is refused instead.
  if (size > kLargestMember) {
    Report(Format("File too large for an archive (2 GB or more)...\n<%s>", path.c_str()));
    core_.ShowStatus("Ready");
    return false;
  }
  log.LogLine("EOF OF ARCHIVE FILE IS AT %d\n", AsInt(size));

  FileTime modified = 0;
  if (!file->GetLastWriteTime(&modified)) modified = 0;
  if (core_.options.compress) {
    log.LogLine("add and compress <%s> [%d]\n", path.c_str(), AsInt(size));
  } else {
    log.LogLine("add <%s> [%d]\n", path.c_str(), AsInt(size));
  }
  if (renamed) log.LogLine("...name on archive changed to <%s>\n", name_on_archive.c_str());
  core_.ShowStatus(path);
  if (core_.user_quit) return false;

  if (size == 0) {
    file.reset();
    if (removable_ && !HeaderFits(renamed ? name_on_archive : path)) {
      core_.ShowStatus("Ready");
      return false;
    }
    return WriteEmptyMember(name, modified);
  }
  if (removable_) {
    return AddMemberToVolumes(path, renamed ? name_on_archive : path, name, std::move(file), size,
                              modified);
  }

  // Where this member's record starts: a member that fails part-way is cut
  // off again, so that the archive stays whole.
  int64_t start = 0;
  if (!core_.archive->Seek(0, SeekFrom::kCurrent, &start)) {
    Abandon(LastError());
    core_.ShowStatus("Ready");
    return false;
  }
  // The sizes and the checksum are known once the data is written; the
  // record is written first with the name and patched afterwards.
  MemberHeader header;
  header.name = name;
  header.size = static_cast<int32_t>(size);
  header.modified = modified;
  if (!WriteMemberHeader(header)) {
    return WriteFailed();
  }
  int64_t got = 0;
  const DataResult result = core_.options.compress
                                ? WriteCompressedData(path, *file, &header, &got)
                                : WriteStoredData(*file, &header, &got);
  file.reset();
  if (result == DataResult::kWriteFailed) {
    return WriteFailed();
  }
  if (result != DataResult::kOk) {
    if (result == DataResult::kShortRead) {
      log.ReportError("failed to read file fully");
      log.LogLine("failed to read fully file, got %d wanted %d\n", AsInt(got), AsInt(size));
    }
    if (!core_.archive->Seek(start, SeekFrom::kBegin, nullptr) || !core_.archive->SetEnd()) {
      Abandon(LastError());
    }
    core_.ShowStatus("Ready");
    return false;
  }

  LogCompressedData(size, header);
  if (!core_.archive->Seek(start, SeekFrom::kBegin, nullptr)) {
    Abandon(LastError());
    core_.ShowStatus("Ready");
    return false;
  }
  if (!WriteMemberHeader(header)) {
    core_.ShowStatus("Ready");
    return false;
  }
  if (!core_.archive->Seek(0, SeekFrom::kEnd, nullptr)) {
    Abandon(LastError());
    core_.ShowStatus("Ready");
    return false;
  }
  file_count_ += 1;
  block_count_ += BlockCount(size, core_.block_size);
  names_added_.insert(name);
  RememberMember(header);
  core_.ShowStatus("Ready");
  return true;
}

bool ArchiveWriter::QuitBetweenPieces() {
  core_.hooks->ProcessMessages();
  if (core_.hooks->UserQuit()) core_.user_quit = true;
  return core_.user_quit;
}

DeflatePipeline& ArchiveWriter::Pipeline() {
  if (!pipeline_) {
    std::string value;
    const bool set = core_.platform.environment.Get("CRX_JOBS", &value);
    std::string bad;
    const int jobs = DeflateJobs(set ? &value : nullptr, &bad);
    if (!bad.empty()) {
      core_.log.LogLine("(CRX_JOBS <%s> is not a number from 1 to 64: %d jobs)\n", bad.c_str(),
                        jobs);
    }
    pipeline_ = std::make_unique<DeflatePipeline>(core_.platform.files, jobs);
  }
  return *pipeline_;
}

ArchiveWriter::DataResult ArchiveWriter::WriteCompressedData(const std::string& path,
                                                             File& file, MemberHeader* header,
                                                             int64_t* got,
                                                             std::vector<uint8_t>* collect) {
  // The keystream starts afresh with every member and runs on across its
  // pieces.
  Scrambler scrambler(digest_);
  bool scramble_failed = false;
  int64_t total = 0;
  auto sink = [&](const uint8_t* data, size_t size) {
    total += static_cast<int64_t>(size);
    // The compressed size is a signed 32-bit field too.
    if (total > kLargestMember) return false;
    if (!encrypted_) {
      if (!collect) return WriteArchive(data, size);
      collect->insert(collect->end(), data, data + size);
      return true;
    }
    size_t scrambled = 0;
    if (!Scrambler::ScrambledSize(size, &scrambled) ||
        !core_.GrowBuffer(&core_.scramble_buffer, scrambled, false) ||
        !scrambler.Scramble(data, size, core_.scramble_buffer.data())) {
      scramble_failed = true;
      return false;
    }
    if (!collect) return WriteArchive(core_.scramble_buffer.data(), scrambled);
    collect->insert(collect->end(), core_.scramble_buffer.data(),
                    core_.scramble_buffer.data() + scrambled);
    return true;
  };
  int64_t compressed = 0;
  const DeflateOutcome outcome =
      Pipeline().Compress(path, file, header->size, sink, [this] { return QuitBetweenPieces(); },
                          got, &compressed);
  switch (outcome) {
    case DeflateOutcome::kOk:
      header->compressed_size = static_cast<int32_t>(compressed);
      header->checksum = 0;
      return DataResult::kOk;
    case DeflateOutcome::kShortRead:
    case DeflateOutcome::kReadError:
      return DataResult::kShortRead;
    case DeflateOutcome::kQuit:
      return DataResult::kQuit;
    case DeflateOutcome::kZlibError:
      break;
    case DeflateOutcome::kSinkFailed:
      if (broken_) return DataResult::kWriteFailed;
      if (scramble_failed) {
        Report("ERROR: Not enough memory to encrypt file");
        Report(Format("Error encrypting file...\n<%s>", path.c_str()));
        return DataResult::kFailed;
      }
      break;
  }
  // zlib's refusal, or compressed data too large for its size field.
  Report(Format("Error compressing file...\n<%s>", path.c_str()));
  return DataResult::kFailed;
}

ArchiveWriter::DataResult ArchiveWriter::WriteStoredData(File& file, MemberHeader* header,
                                                         int64_t* got,
                                                         std::vector<uint8_t>* collect) {
  const int64_t size = header->size;
  const size_t piece = static_cast<size_t>(std::min<int64_t>(size, kStoredPiece));
  if (!core_.GrowBuffer(&core_.data_buffer, piece, true)) {
    // After a quit the request fails on purpose and nothing is said; a
    // real shortage of memory is told.
    if (core_.user_quit) return DataResult::kQuit;
    Report(Format("ERROR: Not enough memory to add file...\n<%s>", header->name.c_str()));
    return DataResult::kFailed;
  }
  uint8_t* data = core_.data_buffer.data();
  uLong adler = adler32(0L, Z_NULL, 0);
  *got = 0;
  while (*got < size) {
    const size_t want = static_cast<size_t>(std::min<int64_t>(size - *got, piece));
    size_t n = 0;
    if (!file.Read(data, want, &n) || n == 0) return DataResult::kShortRead;
    adler = adler32(adler, data, static_cast<uInt>(n));
    if (collect) {
      collect->insert(collect->end(), data, data + n);
    } else if (!WriteArchive(data, n)) {
      return DataResult::kWriteFailed;
    }
    *got += static_cast<int64_t>(n);
    if (*got < size && QuitBetweenPieces()) return DataResult::kQuit;
  }
  header->compressed_size = 0;
  header->checksum = static_cast<uint32_t>(adler);
  return DataResult::kOk;
}

bool ArchiveWriter::WriteEmptyMember(const std::string& name, FileTime modified) {
  MemberHeader header;
  header.name = name;
  header.modified = modified;
  if (!WriteMemberHeader(header)) return false;
  RememberMember(header);
  return true;
}

void ArchiveWriter::RememberMember(const MemberHeader& header) {
  MemberEntry entry;
  entry.name = header.name;
  entry.size = header.size;
  entry.compressed_size = header.compressed_size;
  entry.modified = header.modified;
  recent_.push_back(std::move(entry));
}

void ArchiveWriter::LogCompressedData(int64_t size, const MemberHeader& header) {
  if (!core_.options.compress) return;
  EngineLog& log = core_.log;
  log.LogLine("(compress [%d] %d -> %d)\n", Z_OK, AsInt(size), header.compressed_size);
  if (encrypted_) {
    log.LogLine("(encrypt file, %d compressed bytes)\n", header.compressed_size);
    log.LogText("(scramble...)\n");
    log.LogLine("(save encrypted file, %d bytes)\n", 2 * header.compressed_size);
  }
}

bool ArchiveWriter::WriteMemberHeader(const MemberHeader& header) {
  Bytes bytes;
  if (!AppendMemberHeader(header, &bytes)) return false;  // names are checked before
  return WriteArchive(bytes.data(), bytes.size());
}

// ---------------------------------------------------------------------------
// AddDirectory

bool ArchiveWriter::ListEntries(const std::string& pattern, const std::string& folder,
                                std::vector<FolderEntry>* entries) {
  FileSystem& files = core_.platform.files;
  if (files.ListFolder(pattern, entries)) return true;
  const uint32_t code = LastError();
  // The listing leaves out "." and "..", so an empty folder lists nothing
  // and the call fails; for the walk it is a folder with no files.
  if (code == kErrorFileNotFound && files.IsFolder(folder)) {
    entries->clear();
    return true;
  }
  SetLastError(code);
  return false;
}

bool ArchiveWriter::AddDirectory(const std::string& path) {
  EngineLog& log = core_.log;
  if (core_.creating && broken_) return false;
  if (!core_.creating || !core_.archive) {
    Report(Format("ERROR: no archive is being created; cannot add\n<%s>", path.c_str()));
    return false;
  }
  core_.user_quit = false;
  log.LogLine("add directory<%s>\n", path.c_str());
  log.LogLine("(processing input directory<%s>)\n", path.c_str());

  Listing listing;
  bool result = false;
  if (ListEntries(Format("%s\\*.*", path.c_str()), path, &listing.entries)) {
    // The whole tree is listed first: the files of the walk, in the walk's
    // order, can then be compressed ahead on the other cores.
    std::vector<std::string> files;
    ListTree(path, &listing, &files);
    if (core_.options.compress) Pipeline().Plan(files);
    result = Walk(path, listing);
    if (pipeline_) pipeline_->ClearPlan();
  } else {
    const uint32_t code = LastError();
    Report(Format("ERROR: cannot read the folder...\n<%s>\nError number: %d[0x%x]",
                  path.c_str(), static_cast<int>(code), code));
  }
  log.LogLine("AddDirectory... %s\n", result ? "Done" : "Errors");
  core_.ShowStatus("Ready");
  return core_.user_quit ? false : result;
}

void ArchiveWriter::ListTree(const std::string& path, Listing* listing,
                             std::vector<std::string>* files) {
  listing->folders.resize(listing->entries.size());
  for (size_t i = 0; i < listing->entries.size(); ++i) {
    const FolderEntry& entry = listing->entries[i];
    if (entry.name == "." || entry.name == "..") continue;
    const std::string full = Format("%s\\%s", path.c_str(), entry.name.c_str());
    if ((entry.attributes & kAttrDirectory) != 0 && core_.options.subdirectories) {
      auto inner = std::make_unique<Listing>();
      // A sub-folder that cannot be listed is skipped by the walk.
      if (ListEntries(Format("%s\\%s\\*", path.c_str(), entry.name.c_str()), full,
                      &inner->entries)) {
        ListTree(full, inner.get(), files);
        listing->folders[i] = std::move(inner);
      }
      continue;
    }
    if ((entry.attributes & kAttrDirectory) == 0 &&
        !(core_.options.project && IgnoredInProjectMode(full))) {
      files->push_back(full);
    }
  }
}

bool ArchiveWriter::Walk(const std::string& path, const Listing& listing) {
  EngineLog& log = core_.log;
  if (core_.user_quit) {
    log.LogText("(USER QUIT)\n");
    return true;
  }
  for (size_t i = 0; i < listing.entries.size(); ++i) {
    const FolderEntry& entry = listing.entries[i];
    if (entry.name == "." || entry.name == "..") continue;
    const std::string full = Format("%s\\%s", path.c_str(), entry.name.c_str());
    if ((entry.attributes & kAttrDirectory) != 0 && core_.options.subdirectories) {
      if (core_.user_quit) {
        log.LogText("(USER QUIT)\n");
        return true;
      }
      if (!listing.folders[i]) continue;  // a sub-folder that cannot be listed is skipped
      if (!Walk(full, *listing.folders[i])) return false;
      continue;
    }
    if (core_.user_quit) {
      log.LogText("(USER QUIT)\n");
      return true;
    }
    if (!AddFile(full, std::string()) || core_.user_quit) return false;
  }
  return true;
}

// ---------------------------------------------------------------------------
// Close and abort

bool ArchiveWriter::Close() {
  EngineLog& log = core_.log;
  ClearNames();
  if (pipeline_) pipeline_->ClearPlan();
  if (!core_.creating) return true;
  if (broken_ || !created_ || !core_.archive) {
    // An archive abandoned after a failed write, or one whose creation
    // failed half-way, never takes the place of anything.
    log.LogText("(close created archive)\n");
    log.LogLine("(archive <%s> not written: it was not complete)\n", core_.archive_path.c_str());
    core_.archive.reset();
    DeleteTemporary();
    core_.creating = false;
    if (removable_) core_.block_size = engine_block_size_;
    return false;
  }
  log.LogText("(close created archive)\n");
  log.FlushActivityLog();

  bool ok = true;
  Bytes end;
  AppendEndOfArchive(&end);
  if (removable_ ? !WriteVolumeEnd(end.data(), end.size()) : !WriteArchive(end.data(), end.size())) {
    const uint32_t code = write_error_;
    // A disk change that failed or was cancelled has told the user already.
    if (!DiskFull() && !volume_failed_) {
      log.ReportError(Format("Error Closing Archive\nerror number = %d[0x%x]",
                             static_cast<int>(code), code));
      log.LogLine("Error Closing Archive 0x%x[%d]\n", code, static_cast<int>(code));
    }
    ok = false;
  } else if (core_.volume_number < 2) {
    // An archive that went on to further volumes keeps zero counts, which
    // tells readers to read it volume by volume.
    log.LogLine("(added %d files, %d blocks of data)\n", file_count_, block_count_);
    Bytes count;
    AppendI32(&count, block_count_);
    Bytes files;
    AppendI32(&files, file_count_);
    // The counts go where this archive's identification record really is:
    // the end of the stub copy. With a stub of the expected length that is
    // the default archive offset; with any other stub, patching at the
    // default offset would overwrite bytes of the stub program.
    if (!core_.archive->Seek(core_.archive_offset + kBlockCountOffset, SeekFrom::kBegin,
                             nullptr)) {
      Report("failed to set file pointer for block info");
      ok = false;
    } else if (!WriteArchive(count.data(), count.size())) {
      Report("failed to write block information to archive");
      ok = false;
    } else if (!WriteArchive(files.data(), files.size())) {
      Report("failed to write file count information to archive");
      ok = false;
    }
  }
  // Everything must be on the disk before the archive takes its name: a
  // failed flush is a failed write.
  if (ok && core_.archive && !core_.archive->Flush()) {
    const uint32_t code = LastError();
    log.ReportError(Format("Error Closing Archive\nerror number = %d[0x%x]",
                           static_cast<int>(code), code));
    Abandon(code);
    ok = false;
  }
  // The file is closed whatever happened, so that a second close (the
  // engine's destructor) cannot write a second end marker.
  core_.archive.reset();
  core_.creating = false;
  if (removable_) core_.block_size = engine_block_size_;
  if (!ok) {
    DeleteTemporary();
    return false;
  }
  volumes_written_ = core_.volume_number;
  pending_path_ = temporary_path_;
  pending_target_ = target_;
  completed_path_ = target_;
  temporary_path_.clear();
  return defer_replace_ ? true : CommitPending();
}

void ArchiveWriter::Abort() {
  ClearNames();
  if (pipeline_) pipeline_->ClearPlan();
  if (!core_.creating) return;
  core_.log.LogText("(abort created archive)\n");
  core_.archive.reset();
  core_.creating = false;
  if (removable_) core_.block_size = engine_block_size_;
  // Only the temporary file goes: an archive of the same name from an
  // earlier build stays as it was.
  DeleteTemporary();
}

// ---------------------------------------------------------------------------
// The engine's write calls. They live here, with the writer they make, so
// that a program that only reads (a stub) does not link the writer at all.

ArchiveWriter& ArchiveEngine::Writer() {
  if (!writer_) writer_ = std::make_unique<ArchiveWriter>(core_);
  return *writer_;
}

bool ArchiveEngine::CreateArchive(const std::string& path) { return Writer().Create(path); }

bool ArchiveEngine::AddFile(const std::string& path, const std::string& name_on_archive) {
  return Writer().AddFile(path, name_on_archive);
}

bool ArchiveEngine::AddDirectory(const std::string& path) { return Writer().AddDirectory(path); }

void ArchiveEngine::set_defer_replace(bool defer) { Writer().set_defer_replace(defer); }

std::string ArchiveEngine::pending_archive() const {
  return writer_ ? writer_->pending_path() : std::string();
}

const std::vector<MemberEntry>& ArchiveEngine::recent_members() const {
  static const std::vector<MemberEntry> kNone;
  return writer_ ? writer_->recent() : kNone;
}

void ArchiveEngine::ClearRecentMembers() {
  if (writer_) writer_->ClearRecent();
}

bool ArchiveEngine::CommitArchive() { return writer_ ? writer_->CommitPending() : true; }

int32_t ArchiveEngine::completed_volumes() const {
  return writer_ ? writer_->volumes_written() : 0;
}

std::string ArchiveEngine::completed_archive() const {
  return writer_ ? writer_->completed_path() : std::string();
}

void ArchiveEngine::DiscardArchive() {
  if (writer_) writer_->DiscardPending();
}

}  // namespace crx
