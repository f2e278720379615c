// The folder browser "Select Directory" as a Win32 dialog: a tree view of
// drives and folders with 21 by 16 icons, the path's edit box, "Goto",
// "Help...", OK and Cancel. Enter in the edit box goes to the typed path.
#ifndef CRX_UI_WIN32_FOLDER_BROWSER_WIN32_H
#define CRX_UI_WIN32_FOLDER_BROWSER_WIN32_H

#include "ui/folder_browser.h"

namespace crx::ui {

// Shows the browser until OK (with a path) or Cancel; returns its result.
// When no window can be made the browser takes its refusing answer.
int ShowFolderBrowserWindow(FolderBrowserDialog& browser);

// Makes the Win32 front-end show folder browsers with this window.
void UseFolderBrowserWindow();

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_FOLDER_BROWSER_WIN32_H
