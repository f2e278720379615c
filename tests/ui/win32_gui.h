// Helpers of the tests that show real Win32 windows (Windows builds only).
#ifndef CRX_TESTS_UI_WIN32_GUI_H
#define CRX_TESTS_UI_WIN32_GUI_H

#include <windows.h>

#include <gtest/gtest.h>

namespace crx::test {

// True when this process can make windows (under wine: a display is set).
inline bool CanMakeWindows() {
  HWND w = ::CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             ::GetModuleHandleA(nullptr), nullptr);
  if (!w) return false;
  ::DestroyWindow(w);
  return true;
}

}  // namespace crx::test

#define SKIP_WITHOUT_DESKTOP()           \
  if (!::crx::test::CanMakeWindows()) \
  GTEST_SKIP() << "no desktop to make windows on (no DISPLAY?)"

#endif  // CRX_TESTS_UI_WIN32_GUI_H
