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

// Waits up to 10 s for a visible dialog-class window with this caption.
HWND WaitForDialog(const char* caption) {
  for (int i = 0; i < 1000; ++i) {
    HWND w = ::FindWindowA("#32770", caption);
    if (w && ::IsWindowVisible(w)) return w;
    ::Sleep(10);
  }
  return nullptr;
}

std::string TextOf(HWND w) {
  std::string text(static_cast<size_t>(::GetWindowTextLengthA(w)) + 1, '\0');
  text.resize(static_cast<size_t>(::GetWindowTextA(w, &text[0], static_cast<int>(text.size()))));
  return text;
}

struct Search {
  const std::string* text;
  bool found;
};

BOOL CALLBACK MatchText(HWND child, LPARAM p) {
  Search* s = reinterpret_cast<Search*>(p);
  if (TextOf(child) == *s->text) s->found = true;
  return !s->found;
}

bool ShowsText(HWND w, const std::string& text) {
  Search search = {&text, false};
  ::EnumChildWindows(w, MatchText, reinterpret_cast<LPARAM>(&search));
  return search.found;
}

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
