#include "stub/stub_interface.h"

#include <utility>

#include "platform/platform.h"
#include "ui/answers/answers.h"
#include "ui/message_box.h"
#include "ui/password_dialogs.h"
#include "ui/replace_dialog.h"

namespace crx::stub {

int StubInterface::MessageBox(const std::string& text, const std::string& caption,
                              uint32_t flags) {
  ui::MessageBoxDialog dialog(text, caption, flags);
  return front_end_->Show(dialog);
}

int StubInterface::ReplaceExistingFile(const std::string& path) {
  return ui::RunReplaceExistingFileDialog(*front_end_, path);
}

bool StubInterface::UnlockArchive(const std::string& digest) {
  return ui::RunUnlockDialog(*front_end_, digest);
}

bool UnattendedRun(Platform& platform) {
  std::string value;
  return platform.environment.Get("CRX_ANSWERS", &value) && !value.empty();
}

std::unique_ptr<StubInterface> StartStubInterface(Platform& platform,
                                                  const std::string& alternative,
                                                  std::string* error) {
  std::unique_ptr<ui::AnswersFrontEnd> answers =
      ui::OpenAnswersFrontEnd(platform, alternative, nullptr, error);
  if (answers) return std::make_unique<StubInterface>(std::move(answers));
  if (!error->empty()) return nullptr;
  return std::make_unique<StubInterface>(ui::MakeNativeFrontEnd(platform));
}

}  // namespace crx::stub
