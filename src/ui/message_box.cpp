#include "ui/message_box.h"

#include "engine/user_interface.h"
#include "ui/front_end.h"

namespace crx::ui {

MessageBoxDialog::MessageBoxDialog(const std::string& text,
                                   const std::string& caption, uint32_t flags)
    : Dialog(kName, caption, text), flags_(flags) {
  SetTopmost((flags & kMbTopmost) != 0);
  switch (flags & kMbTypeMask) {
    case kMbOkCancel:
      AddButton("OK", "OK", kIdOk);
      AddButton("Cancel", "Cancel", kIdCancel);
      SetRefusingButton(1);
      break;
    case kMbAbortRetryIgnore:
      AddButton("Abort", "Abort", kIdAbort);
      AddButton("Retry", "Retry", kIdRetry);
      AddButton("Ignore", "Ignore", kIdIgnore);
      SetRefusingButton(0);
      break;
    case kMbYesNoCancel:
      AddButton("Yes", "Yes", kIdYes);
      AddButton("No", "No", kIdNo);
      AddButton("Cancel", "Cancel", kIdCancel);
      SetRefusingButton(2);
      break;
    case kMbYesNo:
      AddButton("Yes", "Yes", kIdYes);
      AddButton("No", "No", kIdNo);
      SetRefusingButton(1);
      break;
    case kMbRetryCancel:
      AddButton("Retry", "Retry", kIdRetry);
      AddButton("Cancel", "Cancel", kIdCancel);
      SetRefusingButton(1);
      break;
    default:  // MB_OK, and types this system never uses
      AddButton("OK", "OK", kIdOk);
      SetRefusingButton(0);
      break;
  }
  size_t def = 0;
  switch (flags & kMbDefMask) {
    case kMbDefButton2: def = 1; break;
    case kMbDefButton3: def = 2; break;
    default: def = 0; break;
  }
  SetDefaultButton(def < Buttons().size() ? def : 0);
}

MessageIcon MessageBoxDialog::Icon() const {
  switch (flags_ & kMbIconMask) {
    case kMbIconHand: return MessageIcon::kError;
    case kMbIconQuestion: return MessageIcon::kQuestion;
    case kMbIconExclamation: return MessageIcon::kWarning;
    case kMbIconAsterisk: return MessageIcon::kInformation;
    default: return MessageIcon::kNone;
  }
}

int ShowMessageBox(FrontEnd& front_end, const std::string& text, const std::string& caption,
                   uint32_t flags) {
  MessageBoxDialog dialog(text, caption, flags);
  return front_end.Show(dialog);
}

}  // namespace crx::ui
