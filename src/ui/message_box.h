// The message box: a text, a caption and the buttons and icon chosen by
// Win32 MB_* flags; it ends with the Win32 identifier of the button pressed.
#ifndef CRX_UI_MESSAGE_BOX_H
#define CRX_UI_MESSAGE_BOX_H

#include <cstdint>
#include <string>

#include "ui/dialog.h"

namespace crx::ui {

enum class MessageIcon { kNone, kError, kQuestion, kWarning, kInformation };

class MessageBoxDialog : public Dialog {
 public:
  // The dialog's stable name.
  static constexpr const char* kName = "MessageBox";

  // Buttons by the type in flags (MB_OK ... MB_RETRYCANCEL; an unknown type
  // gives OK alone). MB_DEFBUTTON2/3 choose the default button, falling
  // back to the first when the box has fewer buttons. The refusing answer
  // is Cancel where there is one, else No, else Abort, else OK.
  MessageBoxDialog(const std::string& text, const std::string& caption,
                   uint32_t flags);

  uint32_t Flags() const { return flags_; }
  MessageIcon Icon() const;

  const MessageBoxDialog* AsMessageBox() const override { return this; }

 private:
  uint32_t flags_;
};

class FrontEnd;

// Shows a message box on front_end; returns the identifier of the button
// pressed.
int ShowMessageBox(FrontEnd& front_end, const std::string& text, const std::string& caption,
                   uint32_t flags);

}  // namespace crx::ui

#endif  // CRX_UI_MESSAGE_BOX_H
