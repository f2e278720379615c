// The feedback window as one progress line on the terminal: the bar, the
// count against the range, a spinner while the animation runs, the main
// text and the detail (or elapsed-time) text, redrawn in place after every
// request. Nothing is written when no person is at the terminal.
#ifndef CRX_UI_CONSOLE_FEEDBACK_CONSOLE_H
#define CRX_UI_CONSOLE_FEEDBACK_CONSOLE_H

#include <string>

#include "ui/feedback.h"

namespace crx {
class Terminal;
}

namespace crx::ui {

class ConsoleFeedback : public DirectFeedback {
 public:
  ConsoleFeedback(Terminal& terminal, Clock& clock, bool counted = false)
      : DirectFeedback(clock, counted), terminal_(terminal) {}

  // The progress line for the model as it is now (without the leading
  // carriage return or padding), at most width - 1 characters.
  static std::string Line(const FeedbackModel& model, int frame, int width);

 protected:
  void Show(int request) override;
  // The terminal keeps the final line on the screen; nobody has to press
  // OK for the worker to go on.
  bool WaitsForOk() const override { return false; }

 private:
  Terminal& terminal_;
  size_t last_length_ = 0;  // of the line on the screen, for overwriting
  int frame_ = 0;           // spinner position
};

}  // namespace crx::ui

#endif  // CRX_UI_CONSOLE_FEEDBACK_CONSOLE_H
