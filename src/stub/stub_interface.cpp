#include "stub/stub_interface.h"

#include <utility>

#include "platform/platform.h"
#include "ui/answers/answers.h"
#include "ui/message_box.h"
#include "ui/replace_dialog.h"

namespace crx::stub {

int StubInterface::MessageBox(const std::string& text, const std::string& caption,
                              uint32_t flags) {
  return ui::ShowMessageBox(*front_end_, text, caption, flags);
}

int StubInterface::ReplaceExistingFile(const std::string& path) {
  return ui::RunReplaceExistingFileDialog(*front_end_, path);
}

bool UnattendedRun(Platform& platform) {
  std::string value;
  return platform.environment.Get("CRX_ANSWERS", &value) && !value.empty();
}

std::unique_ptr<StubInterface> StartStubInterface(Platform& platform,
                                                  const std::string& answers_alternative,
                                                  const std::string& record_alternative,
                                                  std::string* error,
                                                  AnswersWrapper wrap_answers) {
  std::unique_ptr<ui::FrontEnd> front_end;
  if (std::unique_ptr<ui::AnswersFrontEnd> answers =
          ui::OpenAnswersFrontEnd(platform, answers_alternative, nullptr, error)) {
    if (wrap_answers) {
      front_end = wrap_answers(std::move(answers), platform);
    } else {
      front_end = std::move(answers);
    }
  }
  if (!front_end) {
    if (!error->empty()) return nullptr;
    front_end = ui::MakeNativeFrontEnd(platform);
  }
  // The answers given, appended to the file CRX_RECORD names, as every
  // program of the system does, so a run can be replayed unattended.
  front_end = ui::RecordWhenAsked(platform, std::move(front_end), record_alternative, error);
  if (!front_end) return nullptr;
  return std::make_unique<StubInterface>(std::move(front_end));
}

}  // namespace crx::stub
