// Helpers of the tests that show real Win32 windows (Windows builds only).
#ifndef CRX_TESTS_UI_WIN32_GUI_H
#define CRX_TESTS_UI_WIN32_GUI_H

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace crx::test {

// True when this process can make windows (under wine: a display is set).
inline bool CanMakeWindows() {
  HWND w = ::CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                             ::GetModuleHandleA(nullptr), nullptr);
  if (!w) return false;
  ::DestroyWindow(w);
  return true;
}

// Waits up to 10 s for a visible dialog-class window with this caption
// whose owner is owner.
inline HWND WaitForWindow(const char* caption, HWND owner) {
  for (int i = 0; i < 1000; ++i) {
    HWND w = nullptr;
    while ((w = ::FindWindowExA(nullptr, w, "#32770", caption)) != nullptr) {
      if (::GetWindow(w, GW_OWNER) == owner && ::IsWindowVisible(w)) return w;
    }
    ::Sleep(10);
  }
  return nullptr;
}

// Waits up to 10 s for a visible dialog-class window with this caption,
// whoever owns it.
inline HWND WaitForDialog(const char* caption) {
  for (int i = 0; i < 1000; ++i) {
    HWND w = ::FindWindowA("#32770", caption);
    if (w && ::IsWindowVisible(w)) return w;
    ::Sleep(10);
  }
  return nullptr;
}

inline bool WaitGone(HWND w) {
  for (int i = 0; i < 1000 && ::IsWindow(w); ++i) ::Sleep(10);
  return !::IsWindow(w);
}

// Returns once the window's thread has handled everything posted so far.
inline void Sync(HWND w) {
  DWORD_PTR ignored = 0;
  ::SendMessageTimeoutA(w, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
}

inline std::string TextOf(HWND w) {
  std::string text(static_cast<size_t>(::GetWindowTextLengthA(w)) + 1, '\0');
  text.resize(static_cast<size_t>(::GetWindowTextA(w, &text[0], static_cast<int>(text.size()))));
  return text;
}

// The first child of w (at any depth) that shows exactly text, or whose
// window class is cls (case-insensitive) when text is empty.
struct ChildSearch {
  std::string text;
  std::string cls;
  HWND found = nullptr;
};

inline BOOL CALLBACK MatchChild(HWND child, LPARAM p) {
  ChildSearch* s = reinterpret_cast<ChildSearch*>(p);
  char cls[64] = {};
  ::GetClassNameA(child, cls, sizeof cls);
  bool hit = s->cls.empty() ? TextOf(child) == s->text : ::lstrcmpiA(cls, s->cls.c_str()) == 0;
  if (hit) s->found = child;
  return s->found == nullptr;
}

inline HWND ChildWithText(HWND w, const std::string& text) {
  ChildSearch s{text, "", nullptr};
  ::EnumChildWindows(w, MatchChild, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

inline HWND ChildOfClass(HWND w, const std::string& cls) {
  ChildSearch s{"", cls, nullptr};
  ::EnumChildWindows(w, MatchChild, reinterpret_cast<LPARAM>(&s));
  return s.found;
}

// True when some child of w shows exactly text.
inline bool ShowsText(HWND w, const std::string& text) { return ChildWithText(w, text) != nullptr; }

// Closes whatever a failed run left open so the test ends instead of hanging.
inline void CloseLeftovers(const char* caption) {
  for (int i = 0; i < 20; ++i) {
    HWND w = ::FindWindowA("#32770", caption);
    if (!w) return;
    ::PostMessageA(w, WM_CLOSE, 0, 0);
    ::PostMessageA(w, WM_COMMAND, IDOK, 0);
    ::Sleep(100);
  }
}

}  // namespace crx::test

#define SKIP_WITHOUT_DESKTOP()           \
  if (!::crx::test::CanMakeWindows()) \
  GTEST_SKIP() << "no desktop to make windows on (no DISPLAY?)"

#endif  // CRX_TESTS_UI_WIN32_GUI_H
