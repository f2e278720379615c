// Reading across volumes: the next volume file of an archive that goes on
// past the end of the current one, asked for disk by disk on a removable
// drive and taken from beside the first volume on a fixed disk, and the
// questions of a multi-volume listing. Every reader has it, both
// self-extractors included.
#include <algorithm>
#include <memory>

#include "common/format.h"
#include "engine/archive_reader.h"
#include "engine/archive_source.h"
#include "engine/user_interface.h"
#include "engine/volumes.h"
#include "platform/platform.h"

namespace crx {

namespace {

constexpr const char* kCaption = "Cratex";

// The reader's own listing window: "List Archive", with a bar of this range.
constexpr const char* kOwnFeedbackTitle = "List Archive";
constexpr int kOwnFeedbackRange = 100;

// The hooks of a listing that shows the reader's own window: the member
// texts and the animation go to that window, everything else to the
// caller's hooks.
class OwnWindowHooks : public EngineHooks {
 public:
  OwnWindowHooks(EngineHooks& caller, OwnFeedback& window) : caller_(caller), window_(window) {}
  void ProcessMessages() override { caller_.ProcessMessages(); }
  bool UserQuit() override { return caller_.UserQuit(); }
  void Animate(bool on) override { window_.Animate(on); }
  void StatusText(const std::string& text) override { caller_.StatusText(text); }
  bool HasFeedback() override { return true; }
  void FeedbackText(const std::string& text) override { window_.SetText(text); }
  void EndFeedback() override { caller_.EndFeedback(); }

 private:
  EngineHooks& caller_;
  OwnFeedback& window_;
};

// A volume file on a removable drive, read at most a block at a time, so
// that the end of each volume is met block by block.
class BlockFile : public File {
 public:
  BlockFile(std::unique_ptr<File> file, size_t block) : file_(std::move(file)), block_(block) {}
  bool Read(void* buffer, size_t size, size_t* got) override {
    return file_->Read(buffer, std::min(size, block_), got);
  }
  bool Write(const void* data, size_t size) override { return file_->Write(data, size); }
  bool Seek(int64_t offset, SeekFrom from, int64_t* position) override {
    return file_->Seek(offset, from, position);
  }
  bool Size(int64_t* size) override { return file_->Size(size); }
  bool SetEnd() override { return file_->SetEnd(); }
  bool Flush() override { return file_->Flush(); }
  bool GetLastWriteTime(FileTime* time) override { return file_->GetLastWriteTime(time); }
  bool SetLastWriteTime(FileTime time) override { return file_->SetLastWriteTime(time); }

 private:
  std::unique_ptr<File> file_;
  size_t block_;
};

}  // namespace

void ArchiveReader::OpenOwnFeedback() {
  // Only for a person at the screen, and never over the caller's window.
  if (core_.log.silent() || core_.hooks->HasFeedback() || core_.own_feedback == nullptr) return;
  if (!core_.own_feedback->Open(kOwnFeedbackTitle, kOwnFeedbackRange)) return;
  caller_hooks_ = core_.hooks;
  own_hooks_ = std::make_unique<OwnWindowHooks>(*caller_hooks_, *core_.own_feedback);
  core_.hooks = own_hooks_.get();
  core_.policy.set_hooks(core_.hooks);
}

void ArchiveReader::CloseOwnFeedback() {
  if (!own_hooks_) return;
  core_.hooks = caller_hooks_;
  core_.policy.set_hooks(core_.hooks);
  own_hooks_.reset();
  caller_hooks_ = nullptr;
  core_.own_feedback->Close();
}

void ArchiveReader::ReadInBlocks() {
  if (!removable_ || !VolumeAware() || identification_.block_size <= 0 || !core_.archive) return;
  // What the source has read ahead is dropped: the file goes back to the
  // next byte the walk wants.
  const int64_t position = source_->Position();
  if (!core_.archive->Seek(position, SeekFrom::kBegin, nullptr)) return;
  core_.archive = std::make_unique<BlockFile>(std::move(core_.archive),
                                              static_cast<size_t>(identification_.block_size));
  source_ = std::make_unique<ArchiveSource>(*core_.archive, core_.open_file_size, position);
}

bool ArchiveReader::MultiVolumeListing(bool begin) {
  if (!begin) {
    // The own window goes before the first volume is asked back.
    CloseOwnFeedback();
    if (!multi_volume_listing_) return true;
    multi_volume_listing_ = false;
    core_.hooks->Animate(false);
    core_.ui.MessageBox(
        "List operation completed.\n\nRE-INSERT THE FIRST VOLUME OF THE ARCHIVE", kCaption,
        kMbOk | kMbTopmost | kMbSetForeground);
    core_.hooks->Animate(true);
    return true;
  }
  if (!list_mode_ || !removable_) return true;
  if (identification_.file_count == 0) {
    // Nothing says whether the archive goes on onto further disks.
    core_.hooks->Animate(false);
    core_.hooks->ProcessMessages();
    if (UserQuit()) return false;
    if (core_.ui.MessageBox("INFORMATION\nThis is a removable media archive.It may span "
                            "multiple volumes.\n\nDo you want to continue to list it?",
                            kCaption, kMbYesNo | kMbTopmost) != kIdYes) {
      identification_.file_count = kListCancelledByUser;
      return false;
    }
    core_.hooks->Animate(true);
  }
  if (identification_.block_count == 0) {
    multi_volume_listing_ = true;
    OpenOwnFeedback();
  }
  return true;
}

bool ArchiveReader::NextVolume(VolumeNeed need) {
  // Continuation files are named after the volume they continue.
  const std::string path = ContinuationName(core_.archive_path, volume_);
  source_.reset();
  core_.archive.reset();

  if (!removable_) {
    // A volume set on a fixed disk (copied from its disks): the volume
    // files lie side by side and nobody needs to be asked.
    if (!OpenVolumeFile(path)) {
      const uint32_t error = LastError();
      core_.ReportAndLog(Format("The archive goes on in another volume file, which cannot be "
                                "opened\n'%s'\nError number: %d[0x%x]",
                                path.c_str(), static_cast<int>(error), error));
      volume_failed_ = true;
      return false;
    }
    ++volume_;
    core_.log.LogLine("(continue in volume %d '%s')\n", static_cast<int>(volume_), path.c_str());
    return true;
  }

  if (!AskForDisk(core_, true, volume_ + 1)) {
    volume_failed_ = true;
    const char* text = need == VolumeNeed::kData
                           ? "You have chosen to cancel extracting the archive."
                       : need == VolumeNeed::kSkip ? "You have chosen to cancel listing the archive."
                                                   : "You have chosen to cancel reading the archive.";
    TellVolumeNotice(core_, text, 0);
    return false;
  }
  // The drive needs a moment to settle on the new disk (not after a
  // continuation marker, where the next read is only a record's start).
  if (need != VolumeNeed::kMarker) WaitForDisk(core_);
  while (!OpenVolumeFile(path)) {
    const uint32_t error = LastError();
    std::string question;
    if (need != VolumeNeed::kMarker && error == kErrorNotReady) {
      question = "DRIVE NOT READY\nRetry or Cancel";
    } else if (need == VolumeNeed::kData) {
      question = Format("Incorrect Volume in drive\n\nInsert volume containing continuation "
                        "archive,\nrequired filename = '%s'",
                        path.c_str());
    } else if (need == VolumeNeed::kSkip) {
      question = Format("Incorrect Volume in drive\n\nInsert volume containg continuation "
                        "archive,\nrequired filename = '%s'",
                        path.c_str());
    } else {
      question = Format("Incorrect Volume in drive\n\nInsert volume containg continuation "
                        "archive,\nrequired filename: '%s'",
                        path.c_str());
    }
    if (!AskVolumeQuestion(core_, question)) {
      volume_failed_ = true;
      return false;
    }
  }
  ++volume_;
  core_.volume_number = volume_;
  ReadInBlocks();
  return true;
}

bool ArchiveReader::VolumeRead(uint8_t* buffer, size_t size, size_t* got) {
  const size_t block =
      identification_.block_size > 0 ? static_cast<size_t>(identification_.block_size) : size;
  while (*got < size) {
    const size_t chunk = std::min(block, size - *got);
    size_t n = 0;
    if (!source_->Read(buffer + *got, chunk, &n)) n = 0;
    if (n > 0) {
      *got += std::min(n, chunk);
      continue;
    }
    const uint32_t error = source_->ErrorCode();
    core_.log.LogLine("(error reading floppy disk 0x%x[%d])\n", error, static_cast<int>(error));
    if (error != 0) {
      TellVolumeNotice(core_,
                       Format("ERROR READING REMOVABLE MEDIA\nerror number = %d (0x%x)\n",
                              static_cast<int>(error), error),
                       kMbIconHand);
      return false;
    }
    // The end of this volume file: the data goes on in the next one.
    if (!NextVolume(VolumeNeed::kData)) return false;
  }
  return true;
}

bool ArchiveReader::VolumeSkip(int64_t distance) {
  for (;;) {
    const int64_t left = source_->Remaining();
    if (distance <= left) return source_->Skip(distance);
    distance -= left;
    if (!NextVolume(VolumeNeed::kSkip)) return false;
  }
}

}  // namespace crx
