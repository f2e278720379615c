// Engine hooks that send an engine's progress to a feedback window.
//
// A caller attaches a feedback window for the duration of a long operation
// (a script run, adding a folder, extracting); while one is attached the
// engine sets its main text to the member it works on instead of showing a
// status text. The window is not owned: the caller that opened it ends and
// destroys it after detaching it.
#ifndef CRX_UI_FEEDBACK_HOOKS_H
#define CRX_UI_FEEDBACK_HOOKS_H

#include <functional>
#include <memory>
#include <string>

#include "engine/archive_engine.h"
#include "ui/feedback.h"

namespace crx::ui {

class FeedbackHooks : public EngineHooks {
 public:
  // Makes the window a listing of a multi-volume archive shows on its own
  // when no window is attached (none: it shows none).
  void set_feedback_maker(std::function<std::unique_ptr<Feedback>()> maker) {
    maker_ = std::move(maker);
  }
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
  bool OpenOwnFeedback(const std::string& title, int range) override {
    if (feedback_ != nullptr || !maker_) return false;
    own_ = maker_();
    if (!own_ || !own_->Open(title, range)) {
      own_.reset();
      return false;
    }
    feedback_ = own_.get();
    return true;
  }
  void CloseOwnFeedback() override {
    if (!own_) return;
    own_->End(kFeedbackSuccess);
    if (feedback_ == own_.get()) feedback_ = nullptr;
    own_.reset();
  }

 private:
  Feedback* feedback_ = nullptr;
  std::function<std::unique_ptr<Feedback>()> maker_;
  std::unique_ptr<Feedback> own_;
};

}  // namespace crx::ui

#endif  // CRX_UI_FEEDBACK_HOOKS_H
