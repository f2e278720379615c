// What the program's own top-level windows share: the window procedure that
// hands every message to the C++ object named at creation, the class
// registration, and the one-line form of texts for a caption or status pane.
#ifndef CRX_UI_WIN32_WINDOW_CLASS_H
#define CRX_UI_WIN32_WINDOW_CLASS_H

#include <windows.h>

#include <string>

namespace crx::ui {

// The object passed as the creation parameter gets every message from
// WM_NCCREATE on; it needs Handle() and HandleMessage(message, w, l).
template <class Window>
LRESULT CALLBACK RoutedWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const CREATESTRUCTA* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    ::SetWindowLongPtrA(window, GWLP_USERDATA,
                        reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  Window* self = reinterpret_cast<Window*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  if (self != nullptr && self->Handle() == window) {
    return static_cast<LRESULT>(self->HandleMessage(message, wparam, lparam));
  }
  return ::DefWindowProcA(window, message, wparam, lparam);
}

// Registers the class once per process (a second call finds it).
inline bool RegisterWindowClass(HINSTANCE instance, const char* name, WNDPROC procedure,
                                int background_colour) {
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof existing;
  if (::GetClassInfoExA(instance, name, &existing)) return true;
  WNDCLASSEXA wc = {};
  wc.cbSize = sizeof wc;
  wc.style = CS_HREDRAW | CS_VREDRAW;
  wc.lpfnWndProc = procedure;
  wc.hInstance = instance;
  wc.hIcon = ::LoadIconA(nullptr, reinterpret_cast<LPCSTR>(IDI_APPLICATION));
  wc.hCursor = ::LoadCursorA(nullptr, reinterpret_cast<LPCSTR>(IDC_ARROW));
  wc.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(background_colour + 1));
  wc.lpszClassName = name;
  wc.hIconSm = wc.hIcon;
  return ::RegisterClassExA(&wc) != 0;
}

// A status pane or caption holds one line: line breaks and tabs become blanks.
inline std::string OneLine(const std::string& text) {
  std::string line = text;
  for (char& c : line) {
    if (c == '\r' || c == '\n' || c == '\t') c = ' ';
  }
  return line;
}

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_WINDOW_CLASS_H
