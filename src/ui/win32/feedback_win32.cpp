#include "ui/win32/feedback_win32.h"

#include "platform/win32/win32_platform.h"
#include <commctrl.h>

#include "ui/win32/dialog_template.h"

#include <atomic>
#include <cstring>
#include <new>
#include <vector>

namespace crx::ui {

// The window's thread and everything it shares with the worker. Kept alive
// by the handle and by the running thread, whichever lets go last.
struct FeedbackThread {
  explicit FeedbackThread(Clock& clock) : model(clock) {}

  // Shared with the worker: written by the window's thread, read by the
  // worker before it posts. A stale read at most loses one request.
  std::atomic<DWORD> ready{0};        // the thread's identifier while it runs
  std::atomic<HWND> frame{nullptr};   // the hidden frame that takes requests
  std::atomic<bool> waiting{false};   // ended, waiting for OK
  std::atomic<bool> closed{false};    // the window has closed
  std::atomic<bool> finished{false};  // the thread is done (or failed)

  // Worker only.
  HANDLE handle = nullptr;
  HWND main_window = nullptr;  // brought back to the front at the end

  // Window's thread only.
  FeedbackModel model;
  HWND dialog = nullptr;
  FeedbackPainter painter = nullptr;  // null: the moving block
  int block = 0;          // position of the animation's moving block
  bool modeless = false;  // a window of the caller's thread, no thread of its own
};

namespace {

// The start parameters, set by Open just before the thread starts. One
// window starts at a time.
std::string g_start_title;
int g_start_range = 0;
FeedbackPainter g_painter = nullptr;

constexpr const char* kFrameClass = "CAppFeedbackDlgFrame";
constexpr UINT_PTR kAnimationTimerId = 998;
constexpr UINT kAnimationPeriod = 80;  // milliseconds per frame
constexpr int kBlockWidth = 10;        // pixels
constexpr int kBlockStep = 3;

// Predefined window classes of dialog items, by atom.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kNoId = 0xFFFF;

// 186 x 150 dialog units: a "processing" group with the animation, the
// centred main text, the detail line and the bar; the OK button below it,
// hidden until the task ends with something to read.
DialogTemplate BuildTemplate() {
  DialogTemplate t(DS_SETFONT | DS_MODALFRAME | DS_CENTER | DS_SETFOREGROUND | WS_POPUP |
                       WS_CAPTION,
                   0, 186, 150, kFeedbackInitialCaption);
  t.Item(BS_GROUPBOX | WS_VISIBLE, 7, 5, 172, 116, kNoId, kButtonClass, nullptr, "processing");
  t.Item(SS_OWNERDRAW | WS_VISIBLE, 63, 18, 60, 24, kFeedbackAnimationId, kStaticClass, nullptr,
         "");
  t.Item(SS_CENTER | SS_NOPREFIX | WS_VISIBLE, 14, 48, 158, 32, kFeedbackMainTextId,
         kStaticClass, nullptr, "");
  t.Item(SS_LEFT | SS_NOPREFIX | WS_VISIBLE, 14, 84, 158, 10, kFeedbackDetailId, kStaticClass,
         nullptr, "");
  t.Item(WS_BORDER | WS_VISIBLE, 14, 100, 158, 12, kFeedbackBarId, 0, PROGRESS_CLASSA, "");
  t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 68, 128, 50, 14, kFeedbackOkId, kButtonClass, nullptr,
         "OK");
  return t;
}

// Model -> controls.
void Refresh(FeedbackThread* t) {
  HWND d = t->dialog;
  if (!d) return;
  const FeedbackModel& m = t->model;
  ::SetWindowTextA(d, m.caption().c_str());
  ::SetDlgItemTextA(d, kFeedbackMainTextId, m.main_text().c_str());
  ::SetDlgItemTextA(d, kFeedbackDetailId, m.detail_text().c_str());
  if (m.bar_enabled()) {
    ::SendDlgItemMessageA(d, kFeedbackBarId, PBM_SETPOS, static_cast<WPARAM>(m.bar_position()),
                          0);
  }
}

void StartAnimation(FeedbackThread* t, bool on) {
  if (!t->dialog) return;
  if (on) {
    ::SetTimer(t->dialog, kAnimationTimerId, kAnimationPeriod, nullptr);
  } else {
    ::KillTimer(t->dialog, kAnimationTimerId);
  }
}

// The moving block, painted over the dialog's own background so that the
// animation looks transparent.
void PaintAnimation(FeedbackThread* t, const DRAWITEMSTRUCT* item) {
  if (t->painter) {
    t->painter(item, t->block / kBlockStep);
    return;
  }
  RECT r = item->rcItem;
  ::FillRect(item->hDC, &r, ::GetSysColorBrush(COLOR_BTNFACE));
  int width = r.right - r.left;
  int height = r.bottom - r.top;
  if (width <= kBlockWidth || height <= 4) return;
  // Back and forth across the control.
  int span = width - kBlockWidth;
  int p = t->block % (2 * span);
  int x = p < span ? p : 2 * span - p;
  RECT block = {r.left + x, r.top + height / 4, r.left + x + kBlockWidth, r.bottom - height / 4};
  ::FillRect(item->hDC, &block, ::GetSysColorBrush(COLOR_HIGHLIGHT));
}

// Closes the window: a modal one ends its thread's dialog loop, a
// modeless one is destroyed.
void CloseWindow(FeedbackThread* t, int result) {
  t->closed.store(true);
  if (t->modeless) {
    ::DestroyWindow(t->dialog);
  } else {
    ::EndDialog(t->dialog, result);
  }
}

// End with a result other than 1: the dialog stays for the user to read.
void ShowEnded(FeedbackThread* t) {
  HWND d = t->dialog;
  ::SetForegroundWindow(d);
  HWND main_text = ::GetDlgItem(d, kFeedbackMainTextId);
  RECT r;
  if (main_text && ::GetWindowRect(main_text, &r)) {
    ::MapWindowPoints(nullptr, d, reinterpret_cast<POINT*>(&r), 2);
    ::MoveWindow(main_text, r.left, r.top, r.right - r.left, (r.bottom - r.top) / 2, TRUE);
  }
  ::SendDlgItemMessageA(d, kFeedbackBarId, PBM_SETPOS,
                        static_cast<WPARAM>(t->model.bar_maximum()), 0);
  HWND ok = ::GetDlgItem(d, kFeedbackOkId);
  ::ShowWindow(ok, SW_SHOW);
  ::SetFocus(ok);
  t->waiting.store(true);
  Refresh(t);
}

// Carries out one request on the model and shows the result.
void ApplyRequest(FeedbackThread* t, int code, const std::string& text, int number) {
  bool was_ended = t->model.ended();
  if (!t->model.Apply(code, text, number)) return;
  if (code == kFeedbackEnd && !was_ended && t->dialog) {
    ::KillTimer(t->dialog, kFeedbackTimerId);
    StartAnimation(t, false);
    if (t->model.closed()) {
      CloseWindow(t, number);
      return;
    }
    ShowEnded(t);
    return;
  }
  if (code == kFeedbackAnimate) StartAnimation(t, t->model.animating());
  Refresh(t);
}

// One request arrived at the frame. The text buffer came with the message
// and is freed here, also when there is no window any more (t null).
void HandleRequest(FeedbackThread* t, int code, WPARAM argument) {
  std::string text;
  int number = 0;
  if (code == kFeedbackSetText || code == kFeedbackSetDetail) {
    char* buffer = reinterpret_cast<char*>(argument);
    if (buffer) text = buffer;
    delete[] buffer;
  } else {
    number = static_cast<int>(static_cast<INT_PTR>(argument));
  }
  if (t) ApplyRequest(t, code, text, number);
}

LRESULT CALLBACK FrameProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == kFeedbackMessage) {
    auto* t = reinterpret_cast<FeedbackThread*>(::GetWindowLongPtrA(hwnd, GWLP_USERDATA));
    HandleRequest(t, static_cast<int>(lparam), wparam);
    return 0;
  }
  return ::DefWindowProcA(hwnd, message, wparam, lparam);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* t = reinterpret_cast<FeedbackThread*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG: {
      t = reinterpret_cast<FeedbackThread*>(lparam);
      ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
      t->dialog = hwnd;
      t->model.Initialise();
      HWND bar = ::GetDlgItem(hwnd, kFeedbackBarId);
      if (t->model.bar_enabled()) {
        ::SendMessageA(bar, PBM_SETRANGE32, 0, t->model.bar_maximum());
      } else {
        ::EnableWindow(bar, FALSE);
      }
      ::SetTimer(hwnd, kFeedbackTimerId, kFeedbackTimerPeriod, nullptr);
      StartAnimation(t, true);
      Refresh(t);
      return TRUE;
    }
    case WM_TIMER:
      if (!t) return FALSE;
      if (wparam == kFeedbackTimerId) {
        t->model.Tick();
        Refresh(t);
      } else if (wparam == kAnimationTimerId) {
        t->block += kBlockStep;
        ::InvalidateRect(::GetDlgItem(hwnd, kFeedbackAnimationId), nullptr, FALSE);
      }
      return TRUE;
    case WM_DRAWITEM:
      if (!t || wparam != kFeedbackAnimationId) return FALSE;
      PaintAnimation(t, reinterpret_cast<const DRAWITEMSTRUCT*>(lparam));
      return TRUE;
    case WM_COMMAND: {
      int id = LOWORD(wparam);
      // Enter and the OK button; nothing closes the window before the end
      // (it has no cancel button, and Escape is ignored).
      if (t && (id == kFeedbackOkId || id == IDOK) && t->model.ok_visible()) {
        t->model.PressOk();
        CloseWindow(t, t->model.result());
      }
      return TRUE;
    }
    case WM_CLOSE:
      return TRUE;
    case WM_DESTROY:
      if (t && t->modeless) {
        t->dialog = nullptr;
        t->closed.store(true);
        t->finished.store(true);
      }
      return FALSE;
    default:
      return FALSE;
  }
}

bool RegisterFrameClass(HINSTANCE instance) {
  WNDCLASSA wc = {};
  wc.lpfnWndProc = FrameProc;
  wc.hInstance = instance;
  wc.lpszClassName = kFrameClass;
  return ::RegisterClassA(&wc) != 0 || ::GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

DWORD WINAPI ThreadMain(void* parameter) {
  auto* holder = static_cast<std::shared_ptr<FeedbackThread>*>(parameter);
  std::shared_ptr<FeedbackThread> keep = std::move(*holder);
  delete holder;
  FeedbackThread* t = keep.get();

  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  HWND frame = nullptr;
  if (RegisterFrameClass(instance)) {
    frame = ::CreateWindowExA(0, kFrameClass, kFeedbackFrameTitle, WS_OVERLAPPEDWINDOW,
                              CW_USEDEFAULT, CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance,
                              nullptr);
  }
  if (!frame) {
    t->finished.store(true);
    return 1;
  }
  ::SetWindowPos(frame, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
  t->model.Start(g_start_title, g_start_range);
  ::SetWindowLongPtrA(frame, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(t));
  t->frame.store(frame);
  t->ready.store(::GetCurrentThreadId());

  DialogTemplate dialog = BuildTemplate();
  ::DialogBoxIndirectParamA(instance, dialog.Get(), frame, DialogProc,
                            reinterpret_cast<LPARAM>(t));

  t->closed.store(true);
  t->ready.store(0);
  t->frame.store(nullptr);
  t->dialog = nullptr;
  ::DestroyWindow(frame);
  // Requests that were still queued: their buffers are freed unread.
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, kFeedbackMessage, kFeedbackMessage, PM_REMOVE)) {
    HandleRequest(nullptr, static_cast<int>(msg.lParam), msg.wParam);
  }
  if (t->main_window && ::IsWindow(t->main_window)) ::SetForegroundWindow(t->main_window);
  t->waiting.store(false);
  t->finished.store(true);
  return 0;
}

}  // namespace

Win32Feedback::Win32Feedback(Platform& platform, bool counted)
    : Feedback(counted), platform_(platform) {}

Win32Feedback::~Win32Feedback() {
  if (thread_ && thread_->handle) ::CloseHandle(thread_->handle);
}

bool Win32Feedback::Open(const std::string& title, int range) {
  if (thread_) return false;  // one Open per handle
  std::shared_ptr<FeedbackThread> t(new (std::nothrow) FeedbackThread(platform_.clock));
  if (!t) return false;
  // The program's window in front now comes back to the front at the end.
  HWND front = ::GetForegroundWindow();
  DWORD process = 0;
  if (front && ::GetWindowThreadProcessId(front, &process) && process == ::GetCurrentProcessId()) {
    t->main_window = front;
  }
  g_start_title = title;
  g_start_range = range;
  t->painter = g_painter;
  auto* holder = new (std::nothrow) std::shared_ptr<FeedbackThread>(t);
  if (!holder) return false;
  DWORD id = 0;
  HANDLE handle = ::CreateThread(nullptr, 0, ThreadMain, holder, 0, &id);
  if (!handle) {
    delete holder;
    return false;
  }
  t->handle = handle;
  thread_ = t;
  while (t->ready.load() == 0) {
    if (t->finished.load()) return false;  // the window could not be made
    platform_.clock.Sleep(10);
  }
  return true;
}

bool Win32Feedback::Post(int code, const std::string* text, int number) {
  if (!thread_ || thread_->ready.load() == 0) return false;
  HWND frame = thread_->frame.load();
  if (!frame || !::IsWindow(frame)) return false;
  char* buffer = nullptr;
  WPARAM argument;
  if (text) {
    buffer = new (std::nothrow) char[text->size() + 1];
    if (!buffer) return false;
    std::memcpy(buffer, text->data(), text->size());
    buffer[text->size()] = '\0';
    argument = reinterpret_cast<WPARAM>(buffer);
  } else {
    argument = static_cast<WPARAM>(static_cast<INT_PTR>(number));
  }
  if (!::PostMessageA(frame, kFeedbackMessage, argument, static_cast<LPARAM>(code))) {
    delete[] buffer;
    return false;
  }
  return true;
}

bool Win32Feedback::SetText(const std::string& text) {
  return Post(kFeedbackSetText, &text, 0);
}

bool Win32Feedback::SetDetail(const std::string& text) {
  return Post(kFeedbackSetDetail, &text, 0);
}

bool Win32Feedback::End(int result) { return Post(kFeedbackEnd, nullptr, result); }

bool Win32Feedback::Animate(bool stop) { return Post(kFeedbackAnimate, nullptr, stop ? 1 : 0); }

FeedbackPhase Win32Feedback::Phase() const {
  if (!thread_) return FeedbackPhase::kNotStarted;
  if (thread_->closed.load() || thread_->finished.load()) return FeedbackPhase::kFinished;
  if (thread_->ready.load() == 0) return FeedbackPhase::kStarting;
  return thread_->waiting.load() ? FeedbackPhase::kWaitingForOk : FeedbackPhase::kRunning;
}

bool Win32Feedback::WaitForEnd(uint32_t milliseconds) {
  if (!thread_ || !thread_->handle) return true;
  return ::WaitForSingleObject(thread_->handle, milliseconds) == WAIT_OBJECT_0;
}

Win32ModelessFeedback::Win32ModelessFeedback(Platform& platform, bool counted)
    : Feedback(counted), platform_(platform) {}

Win32ModelessFeedback::~Win32ModelessFeedback() {
  if (window_ && window_->dialog) ::DestroyWindow(window_->dialog);
}

bool Win32ModelessFeedback::Open(const std::string& title, int range) {
  if (window_) return false;  // one Open per handle
  std::unique_ptr<FeedbackThread> w(new (std::nothrow) FeedbackThread(platform_.clock));
  if (!w) return false;
  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_PROGRESS_CLASS};
  ::InitCommonControlsEx(&controls);
  w->modeless = true;
  w->model.Start(title, range);
  DialogTemplate dialog = BuildTemplate();
  FeedbackThread* t = w.get();
  window_ = std::move(w);
  HWND hwnd = ::CreateDialogIndirectParamA(instance, dialog.Get(), nullptr, DialogProc,
                                           reinterpret_cast<LPARAM>(t));
  if (!hwnd) {
    t->closed.store(true);
    t->finished.store(true);
    return false;
  }
  ::SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
  ::ShowWindow(hwnd, SW_SHOWNORMAL);
  return true;
}

bool Win32ModelessFeedback::Request(int code, const std::string& text, int number) {
  if (!window_ || !window_->dialog || !::IsWindow(window_->dialog)) return false;
  ApplyRequest(window_.get(), code, text, number);
  return true;
}

bool Win32ModelessFeedback::SetText(const std::string& text) {
  return Request(kFeedbackSetText, text, 0);
}

bool Win32ModelessFeedback::SetDetail(const std::string& text) {
  return Request(kFeedbackSetDetail, text, 0);
}

bool Win32ModelessFeedback::End(int result) { return Request(kFeedbackEnd, std::string(), result); }

bool Win32ModelessFeedback::Animate(bool stop) {
  return Request(kFeedbackAnimate, std::string(), stop ? 1 : 0);
}

FeedbackPhase Win32ModelessFeedback::Phase() const {
  if (!window_) return FeedbackPhase::kNotStarted;
  if (window_->closed.load() || !window_->dialog) return FeedbackPhase::kFinished;
  return window_->model.ended() ? FeedbackPhase::kWaitingForOk : FeedbackPhase::kRunning;
}

void SetFeedbackPainter(FeedbackPainter painter) { g_painter = painter; }

std::unique_ptr<Feedback> MakeWin32Feedback(Platform& platform) {
  return std::make_unique<Win32Feedback>(platform);
}

}  // namespace crx::ui
