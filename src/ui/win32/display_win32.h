// The text viewer's window: the display model's text in a read-only
// rich-edit control (rich text for .RTF files, plain otherwise), its
// licence tick box and its buttons.
#ifndef CRX_UI_WIN32_DISPLAY_WIN32_H
#define CRX_UI_WIN32_DISPLAY_WIN32_H

#include "ui/dialog.h"

namespace crx::ui {

// Shows dialog (whose AsDisplay() is not null) until a press is accepted;
// Escape and the close box press the refusing button. When the rich-edit
// control cannot be made, "EDIT CONTROL INIT ERROR" is shown and the
// dialog ends with its refusing answer. Returns dialog.Result().
int ShowDisplayWindow(Dialog& dialog);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_DISPLAY_WIN32_H
