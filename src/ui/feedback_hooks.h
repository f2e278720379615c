// Engine hooks that send an engine's progress to a feedback window.
//
// A caller attaches a feedback window for the duration of a long operation
// (a script run, adding a folder, extracting); while one is attached the
// engine sets its main text to the member it works on instead of showing a
// status text. The window is not owned: the caller that opened it ends and
// destroys it after detaching it.
#ifndef CRX_UI_FEEDBACK_HOOKS_H
#define CRX_UI_FEEDBACK_HOOKS_H

#include <string>

#include "engine/archive_engine.h"
#include "ui/feedback.h"

namespace crx::ui {

class FeedbackHooks : public EngineHooks {
 public:
  void Attach(Feedback* feedback) { feedback_ = feedback; }
  void Detach() { feedback_ = nullptr; }
  Feedback* attached() const { return feedback_; }

  // A window counts while it runs: one that has ended takes no texts.
  bool HasFeedback() override {
    return feedback_ != nullptr && feedback_->Phase() == FeedbackPhase::kRunning;
  }
  void FeedbackText(const std::string& text) override {
    if (feedback_) feedback_->SetText(text);
  }
  // The engine gave up the operation (abort): the window ends, reporting
  // errors, and is detached.
  void EndFeedback() override {
    if (feedback_) feedback_->End(0);
    feedback_ = nullptr;
  }
  // The engine stops the animation while a question is on the screen.
  void Animate(bool on) override {
    if (feedback_) feedback_->Animate(!on);
  }

 private:
  Feedback* feedback_ = nullptr;
};

}  // namespace crx::ui

#endif  // CRX_UI_FEEDBACK_HOOKS_H
