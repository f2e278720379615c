// The installation-script interpreter's main window on Windows: a
// single-document frame (window class "KS.Document") with a view that
// shows the installation's title and a status bar whose first pane shows
// what the interpreter is doing. The run starts from a private message
// (WM_USER + 1) that the window posts to itself once it is up, so that the
// window exists and paints before the first command runs. The entry point
// adapts this window to the interpreter's host interface.
#ifndef CRX_UI_WIN32_INTERPRETER_WINDOW_H
#define CRX_UI_WIN32_INTERPRETER_WINDOW_H

#include <cstdint>
#include <functional>
#include <string>

#include "ui/window_look.h"

namespace crx::ui {

// How a run ended: the program's exit code, and whether the window stays
// until the user closes it.
struct InterpreterRunEnd {
  int exit_code = 0;
  bool keep_window = false;
};

class InterpreterWindow {
 public:
  static constexpr const char* kClassName = "KS.Document";
  static constexpr const char* kApplication = "Kestrova";
  // The private message that starts the run (WM_USER + 1).
  static constexpr unsigned kStartRunMessage = 1025;

  InterpreterWindow() = default;
  ~InterpreterWindow();
  InterpreterWindow(const InterpreterWindow&) = delete;
  InterpreterWindow& operator=(const InterpreterWindow&) = delete;

  // Creates the window with its status bar ("Ready") and shows it:
  // minimised and not activated for a silent run, else normally. False
  // when the window cannot be made.
  bool Create(bool minimized);

  // Posts the start message and runs the message loop. run is called once,
  // from the start message; when it ends without keep_window (or the user
  // asked to close the window meanwhile) the window is destroyed, else it
  // stays until the user closes it. Returns the run's exit code.
  int RunMessageLoop(const std::function<InterpreterRunEnd()>& run);

  // The status service: sets the first pane, then processes the window
  // messages that are waiting so the window stays live between commands.
  void SetStatus(const std::string& text);
  // The "Run Install Script" file dialog (filter "Kestrovas (*.txt)",
  // default extension TXT). False when the user cancels.
  bool AskScriptFile(const std::string& initial_file, const std::string& initial_folder,
                     std::string* chosen);
  // The document title: shown in the caption ("TITLE - Kestrova", before
  // any "Untitled - Kestrova") and in the view.
  void SetTitle(const std::string& title);
  void Maximize();
  // The view's look (background colour or tiled bitmap, banner lines);
  // the view is repainted. While the look is the default one the view
  // shows the title instead.
  void SetLook(const WindowLook& look);
  // Waits the given time while the window keeps processing its messages.
  void Wait(uint32_t milliseconds);

  // The window handle (HWND), for tests and screenshots; null before Create.
  void* Handle() const { return window_; }
  // The text of the first status pane.
  std::string StatusText() const;

  // The window procedure's work (public for the procedure only).
  long long HandleMessage(unsigned message, unsigned long long wparam, long long lparam);

 private:
  void PumpMessages();
  void LayOut();
  void Paint();
  // Draws the view (the client area above the status bar) into dc.
  void DrawView(void* dc, int width, int height);

  void* window_ = nullptr;      // HWND of the frame
  void* status_bar_ = nullptr;  // HWND of the status bar
  void* font_ = nullptr;        // HFONT of the view's title
  std::string title_;
  WindowLook look_;
  std::function<InterpreterRunEnd()> run_;
  bool started_ = false;
  bool running_ = false;
  bool close_requested_ = false;  // the user closed the window during the run
  bool quit_seen_ = false;        // a WM_QUIT taken out while pumping
  int exit_code_ = 0;
};

// The progress display's animation. "@files" shows a sheet flying from one
// folder into another, "@pistons" three pistons working in their
// cylinders; any other choice names a video clip (AVI) that the system's
// animation control plays, with the pistons where it cannot. Applies to the
// progress displays opened from now on.
void UseProgressAnimation(const std::string& choice);

enum class BuiltInAnimation { kPistons, kFiles };
// Draws frame number frame of a built-in animation into the rectangle
// (left, top, right, bottom) of the device context dc (an HDC).
void DrawBuiltInAnimation(BuiltInAnimation animation, void* dc, int left, int top, int right,
                          int bottom, int frame);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_INTERPRETER_WINDOW_H
