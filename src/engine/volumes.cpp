#include "engine/volumes.h"

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx {

namespace {

constexpr const char* kCaption = "Cratex";

}  // namespace

int64_t MediaReserve(int64_t media_size) {
  return media_size <= kSmallMediaLimit ? kSmallMediaReserve : kLargeMediaReserve;
}

std::string ContinuationName(const std::string& archive_path, int32_t volume) {
  return Format("%s-%d", archive_path.c_str(), static_cast<int>(volume));
}

bool AskForDisk(EngineCore& core, bool reading, int disk_number) {
  core.hooks->Animate(false);
  int answer = core.ui.AskForDisk(reading, disk_number);
  if (answer == kDialogUnavailable) {
    answer = core.ui.MessageBox(
        Format("The end of the disk has been reached. Please insert a new disk in the "
               "appropriate drive\n\nINSERT DISK NUMBER  %d",
               disk_number),
        reading ? "Cratex - End Of Disk" : "Cratex - Disk Full", kMbOkCancel | kMbTopmost);
  }
  core.hooks->Animate(true);
  return answer == kIdOk;
}

bool AskVolumeQuestion(EngineCore& core, const std::string& text) {
  core.hooks->Animate(false);
  const int answer = core.ui.MessageBox(text, kCaption, kMbOkCancel | kMbTopmost);
  core.hooks->Animate(true);
  return answer == kIdOk;
}

void TellVolumeNotice(EngineCore& core, const std::string& text, uint32_t flags) {
  core.hooks->Animate(false);
  core.ui.MessageBox(text, kCaption, kMbOk | kMbTopmost | flags);
  core.hooks->Animate(true);
}

void WaitForDisk(EngineCore& core) {
  core.hooks->ProcessMessages();
  core.platform.clock.Sleep(kDiskChangeWaitMs);
}

}  // namespace crx
