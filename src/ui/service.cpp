#include "ui/service.h"

#include <cstdlib>

#include "common/terminal_text.h"
#include "platform/platform.h"
#include "ui/answers/disk_insert.h"
#include "ui/console/console_front_end.h"
#include "ui/disk_dialog.h"
#include "ui/message_box.h"
#include "ui/replace_dialog.h"
#include "ui/setup_info_dialogs.h"

namespace crx::ui {

int UserInterfaceService::MessageBox(const std::string& text,
                                     const std::string& caption, uint32_t flags) {
  return ShowMessageBox(*front_end_, text, caption, flags);
}

int UserInterfaceService::ReplaceExistingFile(const std::string& path) {
  return RunReplaceExistingFileDialog(*front_end_, path);
}

int UserInterfaceService::SetupInformation(SetupInfo* info) {
  return RunSetupInfoDialog(*front_end_, info);
}

int UserInterfaceService::AskForDisk(bool reading, int disk_number) {
  return RunDiskDialog(*front_end_, reading, disk_number);
}

int TerminalNotices::MessageBox(const std::string& text, const std::string& caption,
                                uint32_t flags) {
  // Questions, and notices that ask the person to do something before
  // going on (put a disk back), need the person, not the terminal.
  if ((flags & kMbTypeMask) != kMbOk || (flags & kMbSetForeground) != 0) {
    return service_.MessageBox(text, caption, flags);
  }
  // The engine's notices quote member names and paths from the archive.
  if ((flags & kMbIconMask) == kMbIconAsterisk) {
    terminal_.Write(TerminalMessage(text) + "\n");
  } else {
    ++errors_;
    terminal_.WriteError(prefix_ + ": " + TerminalMessage(text) + "\n");
  }
  return kIdOk;
}

std::unique_ptr<UserInterfaceService> StartUserInterface(
    Platform& platform, const UserInterfaceOptions& options, std::string* error) {
  std::unique_ptr<FrontEnd> front_end;
  std::unique_ptr<AnswersFrontEnd> answers =
      OpenAnswersFrontEnd(platform, options.answers_alternative, options.end, error);
  if (!answers && !error->empty()) return nullptr;
  // Answers may change the emulated machine's disks (Insert=N).
  if (answers) front_end = std::make_unique<DiskInsertingFrontEnd>(std::move(answers), platform);
  if (!front_end) {
    if (options.terminal_only) {
      front_end = std::make_unique<ConsoleFrontEnd>(platform);
    } else {
      front_end = MakeNativeFrontEnd(platform);
    }
  }

  front_end = RecordWhenAsked(platform, std::move(front_end), options.record_alternative, error);
  if (!front_end) return nullptr;
  return std::make_unique<UserInterfaceService>(std::move(front_end));
}

}  // namespace crx::ui
