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
#include <utility>

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

// The window the engine's reader shows of its own accord while it lists an
// archive that spans disks (ArchiveEngine::set_own_feedback): a new window
// of the program's front-end for each listing, made by maker (the Win32
// window, the terminal's progress line, or the recording one of unattended
// runs), ended and destroyed when the listing is over.
class OwnFeedbackWindow : public OwnFeedback {
 public:
  using Maker = std::function<std::unique_ptr<Feedback>()>;
  explicit OwnFeedbackWindow(Maker maker) : maker_(std::move(maker)) {}

  bool Open(const std::string& title, int range) override {
    window_ = maker_ ? maker_() : nullptr;
    if (window_ && window_->Open(title, range)) return true;
    window_.reset();
    return false;
  }
  void SetText(const std::string& text) override {
    if (window_) window_->SetText(text);
  }
  void Animate(bool on) override {
    if (window_) window_->Animate(!on);
  }
  void Close() override {
    if (!window_) return;
    if (window_->Phase() == FeedbackPhase::kRunning) window_->End(kFeedbackSuccess);
    window_.reset();
  }

 private:
  Maker maker_;
  std::unique_ptr<Feedback> window_;
};

}  // namespace crx::ui

#endif  // CRX_UI_FEEDBACK_HOOKS_H
