// Reading across volumes: the next volume file of an archive that goes on
// past the end of the current one, asked for disk by disk on a removable
// drive and taken from beside the first volume on a fixed disk, and the
// questions of a multi-volume listing. Every reader has it, both
// self-extractors included.
#include <algorithm>

#include "common/format.h"
#include "engine/archive_reader.h"
#include "engine/archive_source.h"
#include "engine/user_interface.h"
#include "engine/volumes.h"
#include "platform/platform.h"

namespace crx {

namespace {

constexpr const char* kCaption = "Cratex";

}  // namespace

bool ArchiveReader::MultiVolumeListing(bool begin) {
  if (!begin) {
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
  if (identification_.block_count == 0) multi_volume_listing_ = true;
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
