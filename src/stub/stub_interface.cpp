#include "stub/stub_interface.h"

#include <cstdlib>
#include <utility>
#include <vector>

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
  std::string path;
  if (!platform.environment.Get("CRX_ANSWERS", &path) || path.empty()) {
    return std::make_unique<StubInterface>(ui::MakeNativeFrontEnd(platform));
  }
  std::string text;
  if (!ui::ReadAnswersFile(platform, path, &text, error)) {
    const std::string first_error = *error;
    if (alternative.empty() || !ui::ReadAnswersFile(platform, alternative, &text, error)) {
      *error = "CRX_ANSWERS: " + first_error;
      return nullptr;
    }
    path = alternative;
  }
  std::vector<ui::AnswerLine> answers;
  std::string why;
  if (!ui::ParseAnswers(text, &answers, &why)) {
    *error = "answers file \"" + path + "\", " + why;
    return nullptr;
  }
  Terminal& terminal = platform.terminal;
  ui::EndProgram end = [&terminal](int code, const std::string& message) {
    terminal.WriteError(message + "\n");
    std::exit(code);
  };
  return std::make_unique<StubInterface>(
      std::make_unique<ui::AnswersFrontEnd>(path, std::move(answers), std::move(end)));
}

}  // namespace crx::stub
