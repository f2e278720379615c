#include "ui/win32/interpreter_window.h"

#include "platform/win32/win32_platform.h"
#include <commctrl.h>
#include <commdlg.h>

#include "ui/win32/feedback_win32.h"
#include "ui/win32/window_class.h"

#include <cstring>
#include <memory>
#include <vector>

namespace crx::ui {

namespace {

constexpr int kViewMargin = 16;
// The caption's document part before the script sets a title; it also
// keeps the main window's name apart from the message boxes' "Kestrova".
constexpr const char* kUntitled = "Untitled";

HWND AsWindow(void* handle) { return static_cast<HWND>(handle); }

bool RegisterFrameClass(HINSTANCE instance) {
  return RegisterWindowClass(instance, InterpreterWindow::kClassName, RoutedWindowProc<InterpreterWindow>,
                             COLOR_WINDOW);
}

}  // namespace

InterpreterWindow::~InterpreterWindow() {
  if (window_ != nullptr && ::IsWindow(AsWindow(window_))) {
    // Detach first: the procedure must not reach a half-destroyed object.
    ::SetWindowLongPtrA(AsWindow(window_), GWLP_USERDATA, 0);
    ::DestroyWindow(AsWindow(window_));
  }
  if (font_ != nullptr) ::DeleteObject(static_cast<HFONT>(font_));
}

bool InterpreterWindow::Create(bool minimized) {
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES;
  ::InitCommonControlsEx(&controls);

  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!RegisterFrameClass(instance)) return false;
  // window_ is set by the first message the procedure sees for this
  // object: until then the procedure falls back to the default one.
  const std::string caption = std::string(kUntitled) + " - " + kApplication;
  HWND window = ::CreateWindowExA(0, kClassName, caption.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 640, 420, nullptr, nullptr,
                                  instance, this);
  if (window == nullptr) return false;
  window_ = window;
  HWND bar = ::CreateWindowExA(0, STATUSCLASSNAMEA, "Ready",
                               WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window,
                               nullptr, instance, nullptr);
  status_bar_ = bar;
  NONCLIENTMETRICSA metrics = {};
  metrics.cbSize = sizeof metrics;
  LOGFONTA face = {};
  if (::SystemParametersInfoA(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0)) {
    face = metrics.lfMessageFont;
  } else {
    std::strcpy(face.lfFaceName, "Arial");
  }
  face.lfHeight = -28;
  face.lfWeight = FW_BOLD;
  font_ = ::CreateFontIndirectA(&face);
  LayOut();
  ::ShowWindow(window, minimized ? SW_SHOWMINNOACTIVE : SW_SHOWNORMAL);
  ::UpdateWindow(window);
  return true;
}

int InterpreterWindow::RunMessageLoop(const std::function<InterpreterRunEnd()>& run) {
  run_ = run;
  if (window_ == nullptr || !::PostMessageA(AsWindow(window_), kStartRunMessage, 0, 0)) {
    // Without a window the run still happens, only without a status bar.
    const InterpreterRunEnd end = run_();
    return end.exit_code;
  }
  MSG msg;
  while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return exit_code_;
}

long long InterpreterWindow::HandleMessage(unsigned message, unsigned long long wparam,
                                           long long lparam) {
  HWND window = AsWindow(window_);
  switch (message) {
    case kStartRunMessage: {
      if (started_ || !run_) return 0;
      started_ = true;
      running_ = true;
      const InterpreterRunEnd end = run_();
      running_ = false;
      exit_code_ = end.exit_code;
      if (!end.keep_window || close_requested_ || quit_seen_) {
        ::DestroyWindow(window);
      } else {
        SetStatus("Ready");
      }
      return 0;
    }
    case WM_SIZE:
      LayOut();
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_ERASEBKGND:
      // The view paints all of itself; the status bar is a window of its own.
      return 1;
    case WM_CLOSE:
      // Closing in the middle of a run would leave a half-made
      // installation: the window goes once the run has ended.
      if (running_) {
        close_requested_ = true;
        return 0;
      }
      ::DestroyWindow(window);
      return 0;
    case WM_DESTROY:
      ::PostQuitMessage(exit_code_);
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      window_ = nullptr;
      status_bar_ = nullptr;
      return ::DefWindowProcA(window, message, static_cast<WPARAM>(wparam),
                              static_cast<LPARAM>(lparam));
    default:
      break;
  }
  return ::DefWindowProcA(window, message, static_cast<WPARAM>(wparam),
                          static_cast<LPARAM>(lparam));
}

void InterpreterWindow::PumpMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      if (!running_) {
        // Outside a run (the status set after it) the quit is the program
        // loop's: a close that waited in the queue while the run ended
        // destroys the window here, and without its quit that loop would
        // wait for ever with no window left. It goes back for that loop.
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        return;
      }
      // During a run it is not this loop's to end: noted, and the window
      // goes after the run.
      quit_seen_ = true;
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

void InterpreterWindow::SetStatus(const std::string& text) {
  if (status_bar_ != nullptr) {
    const std::string line = OneLine(text);
    ::SendMessageA(AsWindow(status_bar_), SB_SETTEXTA, 0,
                   reinterpret_cast<LPARAM>(line.c_str()));
  }
  PumpMessages();
}

std::string InterpreterWindow::StatusText() const {
  if (status_bar_ == nullptr) return std::string();
  HWND bar = AsWindow(status_bar_);
  const LRESULT length = ::SendMessageA(bar, SB_GETTEXTLENGTHA, 0, 0);
  std::vector<char> buffer(static_cast<size_t>(LOWORD(length)) + 1, '\0');
  ::SendMessageA(bar, SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(buffer.data()));
  return std::string(buffer.data());
}

bool InterpreterWindow::AskScriptFile(const std::string& initial_file,
                                      const std::string& initial_folder,
                                      std::string* chosen) {
  // Room for a long path; the initial file is cut to fit.
  std::vector<char> file(32768, '\0');
  initial_file.copy(file.data(), file.size() - 1);
  static const char kFilter[] = "Kestrovas (*.txt)\0*.txt\0";
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = AsWindow(window_);
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  ofn.lpstrInitialDir = initial_folder.empty() ? nullptr : initial_folder.c_str();
  ofn.lpstrTitle = "Run Install Script";
  ofn.lpstrDefExt = "TXT";
  // The interpreter changes to the script's folder itself.
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (!::GetOpenFileNameA(&ofn)) return false;
  *chosen = file.data();
  return true;
}

void InterpreterWindow::SetTitle(const std::string& title) {
  title_ = title;
  if (window_ == nullptr) return;
  const std::string caption = (title.empty() ? std::string(kUntitled) : OneLine(title)) + " - " +
                              kApplication;
  ::SetWindowTextA(AsWindow(window_), caption.c_str());
  ::InvalidateRect(AsWindow(window_), nullptr, TRUE);
}

void InterpreterWindow::Maximize() {
  if (window_ != nullptr) ::ShowWindow(AsWindow(window_), SW_SHOWMAXIMIZED);
}

void InterpreterWindow::LayOut() {
  if (status_bar_ != nullptr) {
    // The status bar places itself at the bottom of its parent.
    ::SendMessageA(AsWindow(status_bar_), WM_SIZE, 0, 0);
  }
  if (window_ != nullptr) ::InvalidateRect(AsWindow(window_), nullptr, TRUE);
}

void InterpreterWindow::SetLook(const WindowLook& look) {
  look_ = look;
  if (window_ != nullptr) ::InvalidateRect(AsWindow(window_), nullptr, FALSE);
}

void InterpreterWindow::Wait(uint32_t milliseconds) {
  const DWORD start = ::GetTickCount();
  for (;;) {
    PumpMessages();
    const DWORD elapsed = ::GetTickCount() - start;
    if (elapsed >= milliseconds) break;
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, milliseconds - elapsed, QS_ALLINPUT);
  }
}

// The view is drawn into an off-screen bitmap first and copied to the
// window in one piece, so a repaint does not flicker.
void InterpreterWindow::Paint() {
  HWND window = AsWindow(window_);
  PAINTSTRUCT ps;
  HDC dc = ::BeginPaint(window, &ps);
  RECT client;
  ::GetClientRect(window, &client);
  int height = client.bottom - client.top;
  if (status_bar_ != nullptr) {
    RECT bar;
    ::GetWindowRect(AsWindow(status_bar_), &bar);
    height -= bar.bottom - bar.top;
  }
  const int width = client.right - client.left;
  if (width > 0 && height > 0) {
    HDC memory = ::CreateCompatibleDC(dc);
    HBITMAP canvas = memory != nullptr ? ::CreateCompatibleBitmap(dc, width, height) : nullptr;
    if (canvas != nullptr) {
      HGDIOBJ old = ::SelectObject(memory, canvas);
      DrawView(memory, width, height);
      ::BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
      ::SelectObject(memory, old);
      ::DeleteObject(canvas);
    } else {
      // Without memory for the copy the view is drawn straight on.
      DrawView(dc, width, height);
    }
    if (memory != nullptr) ::DeleteDC(memory);
  }
  ::EndPaint(window, &ps);
}

void InterpreterWindow::DrawView(void* target, int width, int height) {
  HDC dc = static_cast<HDC>(target);
  RECT view = {0, 0, width, height};

  // The background: the bitmap tiled from the top-left corner (a pattern
  // brush repeats it from the origin), else the colour, else the window's.
  HBRUSH brush = nullptr;
  if (const std::shared_ptr<const Bitmap>& bitmap = look_.bitmap();
      bitmap && bitmap->width > 0 && bitmap->height > 0) {
    // A packed bitmap: the header and then the 32-bit top-down pixels.
    std::vector<uint8_t> packed(sizeof(BITMAPINFOHEADER) + bitmap->pixels.size() * 4);
    BITMAPINFOHEADER header = {};
    header.biSize = sizeof header;
    header.biWidth = bitmap->width;
    header.biHeight = -bitmap->height;
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    std::memcpy(packed.data(), &header, sizeof header);
    std::memcpy(packed.data() + sizeof header, bitmap->pixels.data(), bitmap->pixels.size() * 4);
    brush = ::CreateDIBPatternBrushPt(packed.data(), DIB_RGB_COLORS);
  } else if (look_.has_colour()) {
    brush = ::CreateSolidBrush(static_cast<COLORREF>(look_.colour()));
  }
  ::FillRect(dc, &view, brush != nullptr ? brush : ::GetSysColorBrush(COLOR_WINDOW));
  if (brush != nullptr) ::DeleteObject(brush);
  ::SetBkMode(dc, TRANSPARENT);

  if (look_.IsDefault()) {
    // Before the script sets a look, the view shows the title.
    RECT inner = view;
    ::InflateRect(&inner, -kViewMargin, -kViewMargin);
    const std::string text = title_.empty() ? std::string(kApplication) : title_;
    HGDIOBJ old_font = font_ != nullptr ? ::SelectObject(dc, static_cast<HFONT>(font_)) : nullptr;
    ::SetTextColor(dc, ::GetSysColor(COLOR_WINDOWTEXT));
    ::DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &inner,
                DT_CENTER | DT_VCENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (old_font != nullptr) ::SelectObject(dc, old_font);
    return;
  }

  // The banner lines from the top, each in its own font, colour and
  // alignment across the full width.
  const int dpi = ::GetDeviceCaps(dc, LOGPIXELSY);
  std::vector<HFONT> fonts;
  std::vector<int> heights;
  for (const BannerLine& line : look_.lines()) {
    const int pixels = -FontPixelHeight(line.size, dpi > 0 ? dpi : 96);
    HFONT font = ::CreateFontA(pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                               OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                               DEFAULT_PITCH | FF_DONTCARE, line.font.c_str());
    if (font == nullptr) {
      font = ::CreateFontA(pixels, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                           OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                           DEFAULT_PITCH | FF_DONTCARE, kDefaultBannerFont);
    }
    HGDIOBJ old = font != nullptr ? ::SelectObject(dc, font) : nullptr;
    TEXTMETRICA metrics = {};
    ::GetTextMetricsA(dc, &metrics);
    if (old != nullptr) ::SelectObject(dc, old);
    fonts.push_back(font);
    heights.push_back(static_cast<int>(metrics.tmHeight));
  }
  const std::vector<BannerBand> bands = LayOutBanners(heights);
  for (size_t i = 0; i < bands.size(); ++i) {
    const BannerLine& line = look_.lines()[i];
    RECT band = {0, bands[i].top, width, bands[i].bottom};
    UINT align = DT_LEFT;
    if (line.align == BannerAlign::kCentre) align = DT_CENTER;
    if (line.align == BannerAlign::kRight) align = DT_RIGHT;
    HGDIOBJ old = fonts[i] != nullptr ? ::SelectObject(dc, fonts[i]) : nullptr;
    ::SetTextColor(dc, static_cast<COLORREF>(line.colour));
    ::DrawTextA(dc, line.text.c_str(), static_cast<int>(line.text.size()), &band,
                align | DT_TOP | DT_SINGLELINE | DT_NOPREFIX);
    if (old != nullptr) ::SelectObject(dc, old);
    if (fonts[i] != nullptr) ::DeleteObject(fonts[i]);
  }
}

// ---------------------------------------------------------------------------
// The progress display's animations.

namespace {

// The clip a progress display opened now plays (set before the display's
// thread starts, read on it).
std::string g_clip;

// The drawn animation control's user data once the clip was tried: 1 it
// plays, 2 it could not be played (the pistons are drawn instead).

void Box(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  if (right <= left || bottom <= top) return;
  RECT r = {left, top, right, bottom};
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &r, brush);
  ::DeleteObject(brush);
}

// 0, 1, ..., period/2, ..., 1, 0: a to-and-fro position.
int Triangle(int frame, int period) {
  int p = frame % period;
  if (p < 0) p += period;
  return p <= period / 2 ? p : period - p;
}

// Three cylinders, each with its piston going up and down a third of a
// stroke after the one before, the rod below it.
void DrawPistons(HDC dc, int left, int top, int width, int height, int frame) {
  constexpr int kPeriod = 12;
  const COLORREF wall = RGB(96, 96, 96);
  const COLORREF bore = RGB(224, 224, 224);
  const COLORREF piston = RGB(0, 64, 160);
  const int cylinder = width / 5;
  const int gap = (width - 3 * cylinder) / 4;
  const int head = height / 4 > 2 ? height / 4 : 2;
  const int stroke = height - 4 - head - height / 4;
  for (int i = 0; i < 3; ++i) {
    const int x = left + gap + i * (cylinder + gap);
    Box(dc, x, top + 1, x + cylinder, top + height - 1, wall);
    Box(dc, x + 2, top + 1, x + cylinder - 2, top + height - 3, bore);
    const int y = top + 2 + stroke * Triangle(frame + i * kPeriod / 3, kPeriod) / (kPeriod / 2);
    Box(dc, x + 2, y, x + cylinder - 2, y + head, piston);
    const int rod = cylinder / 6 > 1 ? cylinder / 6 : 1;
    Box(dc, x + cylinder / 2 - rod, y + head, x + cylinder / 2 + rod, top + height - 1, wall);
  }
}

void DrawFolder(HDC dc, int left, int top, int width, int height) {
  const COLORREF edge = RGB(128, 128, 0);
  Box(dc, left, top, left + width / 3, top + height / 6 + 1, edge);
  Box(dc, left, top + height / 6, left + width, top + height, edge);
  Box(dc, left + 1, top + height / 6 + 1, left + width - 1, top + height - 1, RGB(255, 255, 128));
}

// Two folders, a sheet leaving the left one in an arc and dropping into
// the right one.
void DrawFiles(HDC dc, int left, int top, int width, int height, int frame) {
  constexpr int kSteps = 16;
  const int folder_w = width / 4;
  const int folder_h = height * 2 / 3;
  const int folder_top = top + height - folder_h;
  DrawFolder(dc, left + 1, folder_top, folder_w, folder_h);
  DrawFolder(dc, left + width - 1 - folder_w, folder_top, folder_w, folder_h);
  int step = frame % kSteps;
  if (step < 0) step += kSteps;
  const int sheet_w = folder_w / 2 > 4 ? folder_w / 2 : 4;
  const int sheet_h = folder_h * 3 / 4 > 4 ? folder_h * 3 / 4 : 4;
  const int from = left + 1 + folder_w / 4;
  const int to = left + width - 1 - folder_w + folder_w / 4;
  const int x = from + (to - from) * step / kSteps;
  // Highest half-way across.
  const int lift = (folder_top - top + sheet_h / 2) * Triangle(step, kSteps) / (kSteps / 2);
  const int y = folder_top - lift;
  Box(dc, x, y, x + sheet_w, y + sheet_h, RGB(0, 0, 0));
  Box(dc, x + 1, y + 1, x + sheet_w - 1, y + sheet_h - 1, RGB(255, 255, 255));
  for (int line = y + 3; line + 1 < y + sheet_h - 1; line += 3) {
    Box(dc, x + 2, line, x + sheet_w - 2, line + 1, RGB(128, 128, 128));
  }
}

// Paints through an off-screen bitmap so the animation does not flicker.
void PaintBuffered(const DRAWITEMSTRUCT* item, BuiltInAnimation animation, int frame) {
  const RECT& r = item->rcItem;
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  if (width <= 0 || height <= 0) return;
  HDC memory = ::CreateCompatibleDC(item->hDC);
  HBITMAP bitmap = memory ? ::CreateCompatibleBitmap(item->hDC, width, height) : nullptr;
  if (!bitmap) {
    if (memory) ::DeleteDC(memory);
    ::FillRect(item->hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
    DrawBuiltInAnimation(animation, item->hDC, r.left, r.top, r.right, r.bottom, frame);
    return;
  }
  HGDIOBJ old = ::SelectObject(memory, bitmap);
  RECT all = {0, 0, width, height};
  ::FillRect(memory, &all, ::GetSysColorBrush(COLOR_BTNFACE));
  DrawBuiltInAnimation(animation, memory, 0, 0, width, height, frame);
  ::BitBlt(item->hDC, r.left, r.top, width, height, memory, 0, 0, SRCCOPY);
  ::SelectObject(memory, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(memory);
}

void PaintPistons(const DRAWITEMSTRUCT* item, int frame) {
  PaintBuffered(item, BuiltInAnimation::kPistons, frame);
}

void PaintFiles(const DRAWITEMSTRUCT* item, int frame) {
  PaintBuffered(item, BuiltInAnimation::kFiles, frame);
}

// The clip: at the first frame an animation control takes the place of
// the drawn one and plays the clip in an endless loop; a clip it cannot
// open leaves the pistons.
void PaintClip(const DRAWITEMSTRUCT* item, int frame) {
  HWND placeholder = item->hwndItem;
  const LONG_PTR state = ::GetWindowLongPtrA(placeholder, GWLP_USERDATA);
  if (state == 0) {
    INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_ANIMATE_CLASS};
    ::InitCommonControlsEx(&controls);
    HWND parent = ::GetParent(placeholder);
    RECT r;
    ::GetWindowRect(placeholder, &r);
    ::MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
    HWND clip = ::CreateWindowExA(0, ANIMATE_CLASSA, "",
                                  WS_CHILD | WS_VISIBLE | ACS_CENTER | ACS_TRANSPARENT, r.left,
                                  r.top, r.right - r.left, r.bottom - r.top, parent, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
    const bool playing =
        clip && ::SendMessageA(clip, ACM_OPENA, 0, reinterpret_cast<LPARAM>(g_clip.c_str())) &&
        ::SendMessageA(clip, ACM_PLAY, static_cast<WPARAM>(-1), MAKELONG(0, 0xFFFF));
    ::SetWindowLongPtrA(placeholder, GWLP_USERDATA, playing ? 1 : 2);
    if (playing) {
      ::ShowWindow(placeholder, SW_HIDE);
      return;
    }
    if (clip) ::DestroyWindow(clip);
  } else if (state == 1) {
    return;
  }
  PaintPistons(item, frame);
}

}  // namespace

void UseProgressAnimation(const std::string& choice) {
  if (choice == "@files") {
    SetFeedbackPainter(PaintFiles);
  } else if (choice == "@pistons" || choice.empty()) {
    SetFeedbackPainter(PaintPistons);
  } else {
    g_clip = choice;
    SetFeedbackPainter(PaintClip);
  }
}

void DrawBuiltInAnimation(BuiltInAnimation animation, void* dc, int left, int top, int right,
                          int bottom, int frame) {
  HDC hdc = static_cast<HDC>(dc);
  if (animation == BuiltInAnimation::kFiles) {
    DrawFiles(hdc, left, top, right - left, bottom - top, frame);
  } else {
    DrawPistons(hdc, left, top, right - left, bottom - top, frame);
  }
}

}  // namespace crx::ui
