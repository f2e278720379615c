#include "ui/win32/win32_front_end.h"

#include <windows.h>

#include "ui/message_box.h"
#include "ui/win32/win32_dialog.h"

namespace crx::ui {

namespace {

int (*g_display_window)(Dialog&) = nullptr;
FolderBrowserWindow folder_browser_window = nullptr;

}  // namespace

void SetDisplayWindow(int (*show)(Dialog& dialog)) { g_display_window = show; }
void SetFolderBrowserWindow(FolderBrowserWindow window) { folder_browser_window = window; }

int Win32FrontEnd::Show(Dialog& dialog) {
  if (dialog.AsDisplay() && g_display_window) return g_display_window(dialog);
  if (folder_browser_window) {
    if (FolderBrowserDialog* browser = dialog.AsFolderBrowser()) {
      return folder_browser_window(*browser);
    }
  }
  const MessageBoxDialog* box = dialog.AsMessageBox();
  if (!box) return ShowDialogWindow(dialog);
  int id = ::MessageBoxA(nullptr, box->Text().c_str(), box->Caption().c_str(), box->Flags());
  std::string error;
  // 0 means the box could not be shown; so does an identifier the model
  // does not have. Either way the box ends with its refusing answer.
  if (id == 0 || !dialog.Press(id, &error)) dialog.Refuse();
  return dialog.Result();
}

std::unique_ptr<FrontEnd> MakeNativeFrontEnd(Platform&) {
  return std::make_unique<Win32FrontEnd>();
}

}  // namespace crx::ui
