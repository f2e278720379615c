#include "ui/message_service.h"

#include "common/format.h"
#include "engine/user_interface.h"
#include "ui/front_end.h"
#include "ui/message_box.h"
#include "ui/silent_mode.h"

namespace crx::ui {

bool MessageService::silent() const { return mode_.silent(); }

int MessageService::Message(const std::string& text, uint32_t flags) {
  if (!mode_.silent()) return ShowMessageBox(front_end_, text, caption_, flags);
  // The MB_YESNO bit decides: MB_RETRYCANCEL shares it and also gets IDYES.
  const bool yes = (flags & kMbYesNo) != 0;
  std::string entry = Format("\n%s (flags=0x%x)\n%s\n", texts_.heading, flags, text.c_str());
  const char* answer = yes ? texts_.yes_answer : texts_.ok_answer;
  if (answer != nullptr) entry += answer;
  if (log_.IsOpen()) {
    log_.Write(entry);
    log_.Flush();
  } else {
    unlogged_ += entry;
  }
  return yes ? kIdYes : kIdOk;
}

}  // namespace crx::ui
