// The writer on removable media: an archive that does not fit on one disk
// goes on to further disks, one continuation file on each (volumes.h).
//
// Soft end-of-media (the default) predicts the end of each disk from its
// free space, less a reserve, and never splits a block across two disks;
// hard end-of-media writes until the system reports the disk full, and
// measures the disks from the first change on. Either way the member data
// is written in blocks of the block size, and a member header that does
// not fit ends the volume with VOLUME_CONTINUATION.
#include <algorithm>
#include <cstdlib>

#include "common/format.h"
#include "engine/archive_writer.h"
#include "engine/deflate_blocks.h"
#include "engine/user_interface.h"
#include "engine/volumes.h"

namespace crx {

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

// What the log shows for a soft end of media in place of a write result.
constexpr int kSoftEndResult = -9999;

int AsInt(int64_t value) { return static_cast<int>(value); }

// A decimal setting: text that is not a number gives 0.
int32_t DecimalSetting(const std::string& text) {
  return static_cast<int32_t>(std::strtol(text.c_str(), nullptr, 10));
}

}  // namespace

void ArchiveWriter::ReadVolumeSettings() {
  Registry& registry = core_.platform.registry;
  ScopedRegKey key(registry);
  std::string block_size = "0";
  std::string soft = "1";
  if (registry.CreateKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kAll, key.Out(), nullptr) == kErrorSuccess) {
    if (registry.GetString(key.Get(), "BlockSize", &block_size) != kErrorSuccess) {
      block_size = "0";
      registry.SetString(key.Get(), "BlockSize", block_size);
    }
    if (registry.GetString(key.Get(), "SoftEOM", &soft) != kErrorSuccess) {
      soft = "1";
      registry.SetString(key.Get(), "SoftEOM", soft);
    }
  }
  engine_block_size_ = core_.block_size;
  // A negative size is as good as none: the default for the media.
  core_.block_size = std::max<int32_t>(DecimalSetting(block_size), 0);
  core_.soft_eom = DecimalSetting(soft) != 0;
}

bool ArchiveWriter::MeasureDisk(int64_t* total, int64_t* free_space) {
  FreeSpace space;
  if (!core_.platform.files.GetFreeSpace(root_, &space)) {
    *total = 0;
    *free_space = 0;
    return false;
  }
  *total = static_cast<int64_t>(space.total);
  *free_space = static_cast<int64_t>(space.free_to_caller);
  return true;
}

void ArchiveWriter::PrepareRemovableOutput() {
  core_.volume_number = 1;
  core_.bytes_on_volume = 0;
  if (core_.soft_eom) {
    int64_t total = 0;
    int64_t free_space = 0;
    if (!MeasureDisk(&total, &free_space)) {
      const uint32_t code = LastError();
      core_.log.LogLine("(can't measure the removable disk %d[0x%x])\n", static_cast<int>(code),
                        code);
    }
    core_.media_size = total;
    core_.media_free = std::max<int64_t>(free_space - MediaReserve(total), 0);
    if (core_.block_size == 0) {
      core_.block_size = total <= kSmallMediaLimit ? kSmallMediaBlockSize : kLargeMediaBlockSize;
    }
    core_.log.LogLine("(output to removable media, blksize=%d SoftEOM mediasize=%d mediafree=%d)\n",
                      core_.block_size, AsInt(core_.media_size), AsInt(core_.media_free));
    return;
  }
  core_.media_free = 0;
  core_.media_size = 0;
  // Hard mode has no default by media size; blocks of 0 bytes would never
  // end, so a setting of 0 writes in blocks of 1024 bytes.
  if (core_.block_size == 0) core_.block_size = kHardModeDefaultBlockSize;
  core_.log.LogLine("(output to removable media, blksize=%d HardEOM mediasize=%d mediafree=%d)\n",
                    core_.block_size, 0, 0);
}

void ArchiveWriter::BreakVolumes() {
  core_.archive.reset();
  broken_ = true;
  volume_failed_ = true;
}

bool ArchiveWriter::OpenNextVolume() {
  FileSystem& files = core_.platform.files;
  core_.archive.reset();
  core_.bytes_on_volume = 0;
  if (!AskForDisk(core_, false, core_.volume_number + 1)) {
    TellVolumeNotice(core_, "You have chosen to cancel the archive.", 0);
    return false;
  }
  WaitForDisk(core_);
  const std::string name = ContinuationName(target_, core_.volume_number);
  // A disk is taken only when a whole block fits on it after the
  // continuation file's first header: with less room than that the writer
  // would ask for another disk at once, and again for every disk of that
  // size.
  const int64_t least = std::max<int64_t>(kNewDiskMinimumFree, core_.block_size);
  for (;;) {
    std::unique_ptr<File> file =
        files.Open(name, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    if (!file) {
      if (!AskVolumeQuestion(core_, "DRIVE NOT READY (or disk full)\nRetry or Cancel")) {
        return false;
      }
      continue;
    }
    int64_t total = 0;
    int64_t free_space = 0;
    MeasureDisk(&total, &free_space);
    core_.media_size = total;
    core_.media_free = free_space - MediaReserve(total);
    if (core_.media_free <= least) {
      file.reset();
      files.DeleteFile(name);
      if (!AskVolumeQuestion(core_, "Not enough free space on this disk.\nInsert a new disk or "
                                    "Cancel")) {
        return false;
      }
      continue;
    }
    core_.archive = std::move(file);
    break;
  }
  core_.log.LogLine("SPACE ON NEW DISK = %d/%d\n", AsInt(core_.media_free),
                    AsInt(core_.media_size));
  core_.volume_number += 1;
  core_.hooks->Animate(true);
  return true;
}

bool ArchiveWriter::HeaderFits(const std::string& needed_name) {
  if (broken_ || !core_.archive) return false;
  const int64_t needed = static_cast<int64_t>(needed_name.size()) + kHeaderOverhead;
  if (core_.media_free < 1) {
    // Hard mode on the first disk: only the system knows how much is left.
    int64_t total = 0;
    int64_t free_space = 0;
    MeasureDisk(&total, &free_space);
    if (free_space > needed) return true;
    core_.hooks->Animate(false);
  } else if (core_.bytes_on_volume + needed < core_.media_free) {
    // Counted now and again by the header's own writes: the estimate errs
    // on the side of room to spare.
    core_.bytes_on_volume += needed;
    return true;
  }
  core_.log.LogText("(END-Of-MEDIA when about to write header)\n");
  Bytes marker;
  AppendI32(&marker, static_cast<int32_t>(VOLUME_CONTINUATION));
  if (!core_.archive->Write(marker.data(), marker.size())) {
    const uint32_t code = LastError();
    if (code != kErrorDiskFull && code != kErrorHandleDiskFull) {
      const std::string text = Format("ERROR WRITING VOLUM CONTINUATION FLAG\nerror number = "
                                      "%d[0x%d]\n",
                                      static_cast<int>(code), static_cast<int>(code));
      Report(text);
      BreakVolumes();
      return false;
    }
    // A disk filled to its last bytes (hard mode) ends without the marker:
    // readers reach the end of its file where a record starts and go on in
    // the next file just the same.
    core_.log.LogLine("(no room for the continuation flag 0x%x[%d])\n", code,
                      static_cast<int>(code));
  }
  if (!OpenNextVolume()) {
    BreakVolumes();
    return false;
  }
  return true;
}

bool ArchiveWriter::VolumeWrite(const uint8_t* data, size_t length) {
  if (broken_ || !core_.archive) return false;
  size_t chunk = std::min(static_cast<size_t>(std::max<int32_t>(core_.block_size, 1)), length);
  size_t done = 0;
  while (done < length) {
    uint32_t code = 0;
    int result = kSoftEndResult;
    const bool soft_end = core_.media_free > 0 &&
                          core_.bytes_on_volume + static_cast<int64_t>(chunk) > core_.media_free;
    if (!soft_end) {
      int64_t before = 0;
      const bool known = core_.archive->Seek(0, SeekFrom::kCurrent, &before);
      if (core_.archive->Write(data + done, chunk)) {
        done += chunk;
        core_.bytes_on_volume += static_cast<int64_t>(chunk);
        chunk = std::min(chunk, length - done);
        continue;
      }
      code = LastError();
      result = -1;
      // A write that failed part-way must not leave part of the block on
      // this disk: the whole block goes on the next one.
      if (known && core_.archive->Seek(before, SeekFrom::kBegin, nullptr)) {
        core_.archive->SetEnd();
      }
    }
    core_.log.LogLine("(error writting floppy disk 0x%x[%d] <%d>)\n", code,
                      static_cast<int>(code), result);
    const bool full = soft_end || code == kErrorDiskFull || code == kErrorHandleDiskFull;
    if (!full) {
      core_.ui.MessageBox(Format("Write Error: %d (0x%x)", static_cast<int>(code), code),
                          "Cratex", kMbOk);
      TellVolumeNotice(core_,
                       Format("ERROR WRITING REMOVABLE MEDIA\nerror number = %d (0x%x)\n",
                              static_cast<int>(code), code),
                       kMbIconHand);
      BreakVolumes();
      return false;
    }
    core_.hooks->Animate(false);
    if (!OpenNextVolume()) {
      BreakVolumes();
      return false;
    }
  }
  return true;
}

bool ArchiveWriter::WriteVolumeEnd(const uint8_t* data, size_t length) {
  // Like a member header: on this volume when there is room, else after
  // VOLUME_CONTINUATION on the next one.
  return HeaderFits(std::string()) && WriteArchive(data, length);
}

bool ArchiveWriter::AddMemberToVolumes(const std::string& path, const std::string& fit_name,
                                       const std::string& name, std::unique_ptr<File> file,
                                       int64_t size, FileTime modified) {
  EngineLog& log = core_.log;
  MemberHeader header;
  header.name = name;
  header.size = static_cast<int32_t>(size);
  header.modified = modified;
  std::vector<uint8_t> data;
  int64_t got = 0;
  const DataResult result = core_.options.compress
                                ? WriteCompressedData(path, *file, &header, &got, &data)
                                : WriteStoredData(*file, &header, &got, &data);
  file.reset();
  if (result != DataResult::kOk) {
    // Nothing of this member has reached the archive yet.
    if (result == DataResult::kShortRead) {
      log.ReportError("failed to read file fully");
      log.LogLine("failed to read fully file, got %d wanted %d\n", AsInt(got), AsInt(size));
    }
    core_.ShowStatus("Ready");
    return false;
  }
  LogCompressedData(size, header);
  if (!HeaderFits(fit_name) || !WriteMemberHeader(header)) {
    core_.ShowStatus("Ready");
    return false;
  }
  if (!VolumeWrite(data.data(), data.size())) {
    core_.ShowStatus("Ready");
    return false;
  }
  file_count_ += 1;
  block_count_ += BlockCount(size, core_.block_size);
  names_added_.insert(name);
  core_.ShowStatus("Ready");
  return true;
}

}  // namespace crx
