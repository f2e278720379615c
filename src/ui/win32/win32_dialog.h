// A Win32 dialog window built at run time for any dialog model: an
// in-memory dialog template (no resources) laid out from the model's text,
// fields and buttons, shown modally. Each button press copies the controls
// into the model and asks it to validate; a refused press shows the model's
// message and keeps the window open.
#ifndef CRX_UI_WIN32_WIN32_DIALOG_H
#define CRX_UI_WIN32_WIN32_DIALOG_H

#include "ui/dialog.h"

namespace crx::ui {

// Shows dialog until a press is accepted; Escape and the close box press
// the refusing button. When no window can be made the dialog is closed with
// its refusing answer. Returns dialog.Result(); dialog.Closed() is true.
int ShowDialogWindow(Dialog& dialog);

// The control identifier of field number index in the window of dialog:
// chosen so that it never equals a button's identifier.
int FieldControlId(const Dialog& dialog, size_t index);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_WIN32_DIALOG_H
