// The feedback window on a user-interface thread of its own. Open starts
// the thread, which makes a hidden topmost frame window ("AppFeedbkDlgFrm")
// to receive requests and runs the window modally; the worker only posts
// requests to the frame (each text in a buffer of its own that the thread
// frees), so it never waits for the window after Open. No lock is taken:
// the two threads share only the ready field and the frame's handle.
#ifndef CRX_UI_WIN32_FEEDBACK_WIN32_H
#define CRX_UI_WIN32_FEEDBACK_WIN32_H

#include <cstdint>
#include <memory>
#include <string>

#include "ui/feedback.h"

struct tagDRAWITEMSTRUCT;

namespace crx::ui {

struct FeedbackThread;

// Draws frame number frame (counting up while the animation runs) of the
// feedback window's animation into its control, on the window's thread.
using FeedbackPainter = void (*)(const tagDRAWITEMSTRUCT* item, int frame);
// The painter of the threaded windows opened from now on; null (what every
// program but the interpreter keeps) draws a block moving to and fro.
void SetFeedbackPainter(FeedbackPainter painter);

class Win32Feedback : public Feedback {
 public:
  explicit Win32Feedback(Platform& platform, bool counted = false);
  // Does not wait: a window that ended with errors stays until its OK is
  // pressed, also after the handle is gone.
  ~Win32Feedback() override;

  bool Open(const std::string& title, int range) override;
  bool SetText(const std::string& text) override;
  bool SetDetail(const std::string& text) override;
  bool End(int result) override;
  bool Animate(bool stop) override;
  FeedbackPhase Phase() const override;

  // Waits up to the given time for the window's thread to end; true when it
  // has ended (or was never started).
  bool WaitForEnd(uint32_t milliseconds);

 private:
  // Posts one request; text is copied into a new buffer when given.
  bool Post(int code, const std::string* text, int number);

  Platform& platform_;
  std::shared_ptr<FeedbackThread> thread_;
};

// The same window without a thread of its own, for a program that has only
// one thread: Open makes it as a modeless window of the caller's thread and
// every request acts on it at once. The caller must keep processing window
// messages (the engine does between steps) for it to paint, animate and
// take the OK press.
class Win32ModelessFeedback : public Feedback {
 public:
  explicit Win32ModelessFeedback(Platform& platform, bool counted = false);
  // Destroys a window that is still open.
  ~Win32ModelessFeedback() override;

  bool Open(const std::string& title, int range) override;
  bool SetText(const std::string& text) override;
  bool SetDetail(const std::string& text) override;
  bool End(int result) override;
  bool Animate(bool stop) override;
  FeedbackPhase Phase() const override;

 private:
  bool Request(int code, const std::string& text, int number);

  Platform& platform_;
  std::unique_ptr<FeedbackThread> window_;
};

// The FeedbackMaker of Windows builds.
std::unique_ptr<Feedback> MakeWin32Feedback(Platform& platform);

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_FEEDBACK_WIN32_H
