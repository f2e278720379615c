// The Win32 front-end: real Windows dialogs. A message box is MessageBoxA
// with the model's flags as given; every other dialog is a window built at
// run time from its model (win32_dialog.h).
#ifndef CRX_UI_WIN32_WIN32_FRONT_END_H
#define CRX_UI_WIN32_WIN32_FRONT_END_H

#include "ui/front_end.h"

namespace crx::ui {

class Win32FrontEnd : public FrontEnd {
 public:
  int Show(Dialog& dialog) override;
};

// The window of the text viewer (display_win32.h). The program that shows
// the viewer sets it before its first use (ui::PrepareDocumentViewer);
// until then the viewer is shown as a generic dialog. The stubs never set
// it, which keeps the rich-edit window out of them.
void SetDisplayWindow(int (*show)(Dialog& dialog));

class FolderBrowserDialog;

// The window that shows the folder browser as a tree
// (folder_browser_win32.h). Its code stays out of programs that never
// browse for a folder (the self-extractors, which have no room for it): a
// program that does installs it at start-up. Without it the browser is a
// dialog of its path field, OK and Cancel.
using FolderBrowserWindow = int (*)(FolderBrowserDialog& browser);
void SetFolderBrowserWindow(FolderBrowserWindow window);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_WIN32_FRONT_END_H
