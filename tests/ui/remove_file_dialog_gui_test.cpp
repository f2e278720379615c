// The "Remove Unused File" dialog shown for real by the Win32 front-end:
// its four buttons sit in one row inside the window without overlapping,
// the texts and the path are shown, and Enter keeps the file. Needs a
// desktop that can make windows (under wine: an X display); skipped
// otherwise.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "ui/remove_file_dialog.h"
#include "ui/win32/win32_dialog.h"
#include "ui/win32_gui.h"

namespace crx::ui {
namespace {

using test::ShowsText;
using test::TextOf;
using test::WaitForDialog;

TEST(RemoveFileDialogWindow, FourButtonsInOneRowAndEnterKeepsTheFile) {
  SKIP_WITHOUT_DESKTOP();
  const std::string path = "C:\\WINDOWS\\SYSTEM32\\a rather long name of a shared library.dll";
  RemoveUnusedFileDialog dialog(path);
  std::string failures;
  std::thread driver([&] {
    HWND dlg = WaitForDialog("Remove Unused File");
    if (!dlg) {
      failures = "no window";
      return;
    }
    RECT client = {};
    ::GetClientRect(dlg, &client);
    RECT previous = {};
    bool first = true;
    for (int id : {kIdRemoveYes, kIdRemoveNo, kIdRemoveYesToAll, kIdRemoveNoToAll}) {
      HWND button = ::GetDlgItem(dlg, id);
      if (!button || !::IsWindowVisible(button)) {
        failures += "button " + std::to_string(id) + " missing; ";
        continue;
      }
      RECT r = {};
      ::GetWindowRect(button, &r);
      ::MapWindowPoints(nullptr, dlg, reinterpret_cast<POINT*>(&r), 2);
      if (r.left < client.left || r.right > client.right || r.top < client.top ||
          r.bottom > client.bottom) {
        failures += "button " + TextOf(button) + " outside the window; ";
      }
      if (!first && (r.top != previous.top || r.left < previous.right)) {
        failures += "button " + TextOf(button) + " not right of the one before; ";
      }
      previous = r;
      first = false;
    }
    if (!ShowsText(dlg, dialog.Text())) failures += "text not shown; ";
    if (!ShowsText(dlg, path)) failures += "path field not shown; ";
    // The path is read-only: the focus starts on the default button.
    GUITHREADINFO info = {};
    info.cbSize = sizeof info;
    ::GetGUIThreadInfo(::GetWindowThreadProcessId(dlg, nullptr), &info);
    ::PostMessageA(info.hwndFocus ? info.hwndFocus : dlg, WM_KEYDOWN, VK_RETURN, 0);
  });
  int result = ShowDialogWindow(dialog);
  driver.join();
  EXPECT_EQ(failures, "");
  EXPECT_EQ(result, kIdRemoveNo);
}

}  // namespace
}  // namespace crx::ui
