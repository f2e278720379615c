#include "ui/feedback.h"

#include "common/format.h"
#include "platform/platform.h"
#include "ui/console/feedback_console.h"

namespace crx::ui {

namespace {

constexpr int kMaxRange = 0xFFFF;  // the bar's range is 16 bits

int Minutes(uint32_t seconds) { return static_cast<int>(seconds / 60); }
int Seconds(uint32_t seconds) { return static_cast<int>(seconds % 60); }

}  // namespace

// ---------------------------------------------------------------------------
// FeedbackModel

uint32_t FeedbackModel::SecondsSince(uint32_t start) const {
  // Unsigned difference: right across the tick counter's wrap.
  return (clock_.TickCount() - start) / 1000;
}

void FeedbackModel::Start(const std::string& title, int range) {
  caption_ = title;
  range_ = range < 0 ? 0 : (range > kMaxRange ? kMaxRange : range);
  count_ = 0;
  position_ = 0;
  main_text_.clear();
  task_start_ = item_start_ = clock_.TickCount();
}

void FeedbackModel::Initialise() {
  initialised_ = true;
  if (range_ != 0 && count_ > 0) position_ = count_ - 1;
  timer_running_ = true;
  next_tick_ = clock_.TickCount() + kFeedbackTimerPeriod;
  animating_ = true;
}

bool FeedbackModel::Apply(int code, const std::string& text, int number) {
  switch (code) {
    case kFeedbackSetText:
      SetText(text);
      return true;
    case kFeedbackSetDetail:
      SetDetail(text);
      return true;
    case kFeedbackEnd:
      End(number);
      return true;
    case kFeedbackAnimate:
      SetAnimationStopped(number != 0);
      return true;
    default:
      return false;
  }
}

void FeedbackModel::SetText(const std::string& text) {
  main_text_ = text;
  if (!detail_present_) detail_text_.clear();
  ++count_;
  if (initialised_) {
    item_start_ = clock_.TickCount();
    if (range_ != 0) position_ = count_;
  }
}

void FeedbackModel::SetDetail(const std::string& text) {
  detail_text_ = text;
  detail_present_ = !text.empty();
}

void FeedbackModel::SetAnimationStopped(bool stop) {
  if (ended_) return;  // the animation stays stopped once the task ended
  animating_ = !stop;
}

void FeedbackModel::Tick() {
  if (!timer_running_) return;
  uint32_t seconds = SecondsSince(item_start_);
  if (!detail_present_ && seconds > 9) {
    detail_text_ = Format("time in current operation: %02d:%02d ", Minutes(seconds),
                          Seconds(seconds));
  }
}

void FeedbackModel::RunDueTicks() {
  if (!timer_running_) return;
  uint32_t now = clock_.TickCount();
  // The signed difference tells whether next_tick_ has passed, across the
  // counter's wrap; a long pause fires once, not once per missed period.
  if (static_cast<int32_t>(now - next_tick_) < 0) return;
  Tick();
  uint32_t behind = now - next_tick_;
  next_tick_ += (behind / kFeedbackTimerPeriod + 1) * kFeedbackTimerPeriod;
}

void FeedbackModel::End(int result) {
  if (ended_) return;
  ended_ = true;
  result_ = result;
  timer_running_ = false;
  animating_ = false;
  if (result == kFeedbackSuccess) {
    main_text_ = "completed";
    closed_ = true;
    return;
  }
  main_text_ = result == kFeedbackCompleted ? "completed" : "completed, ERRORS HAVE OCCURRED";
  main_text_half_height_ = true;
  position_ = range_ + 1;
  ok_visible_ = true;
  uint32_t seconds = SecondsSince(task_start_);
  if (!detail_present_ && seconds > 10) {
    detail_text_ = Format("time taken by task: %02d:%02d ", Minutes(seconds), Seconds(seconds));
  }
}

void FeedbackModel::PressOk() {
  if (ok_visible_) closed_ = true;
}

int FeedbackModel::bar_position() const {
  return position_ > range_ + 1 ? range_ + 1 : position_;
}

// ---------------------------------------------------------------------------
// Feedback

int Feedback::AddRef() {
  if (references_ != -1) ++references_;
  return references_;
}

int Feedback::Release() {
  if (references_ == -1) return -1;
  int left = --references_;
  if (left == 0) delete this;
  return left;
}

// ---------------------------------------------------------------------------
// DirectFeedback

bool DirectFeedback::Open(const std::string& title, int range) {
  if (phase_ != FeedbackPhase::kNotStarted) return false;
  phase_ = FeedbackPhase::kStarting;
  model_.Start(title, range);
  model_.Initialise();
  phase_ = FeedbackPhase::kRunning;
  Show(0);
  return true;
}

bool DirectFeedback::Request(int code, const std::string& text, int number) {
  if (phase_ != FeedbackPhase::kRunning && phase_ != FeedbackPhase::kWaitingForOk) return false;
  model_.RunDueTicks();
  model_.Apply(code, text, number);
  if (model_.ended() && phase_ == FeedbackPhase::kRunning) {
    phase_ = FeedbackPhase::kWaitingForOk;
    if (!model_.closed() && !WaitsForOk()) model_.PressOk();
  }
  Show(code);
  if (model_.closed()) phase_ = FeedbackPhase::kFinished;
  return true;
}

bool DirectFeedback::SetText(const std::string& text) {
  return Request(kFeedbackSetText, text, 0);
}

bool DirectFeedback::SetDetail(const std::string& text) {
  return Request(kFeedbackSetDetail, text, 0);
}

bool DirectFeedback::End(int result) { return Request(kFeedbackEnd, std::string(), result); }

bool DirectFeedback::Animate(bool stop) {
  return Request(kFeedbackAnimate, std::string(), stop ? 1 : 0);
}

bool DirectFeedback::PressOk() {
  if (phase_ != FeedbackPhase::kWaitingForOk) return false;
  model_.PressOk();
  phase_ = FeedbackPhase::kFinished;
  return true;
}

// ---------------------------------------------------------------------------
// RecordingFeedback

bool RecordingFeedback::Record(int request, const std::string& text, int number,
                               bool accepted) {
  calls_.push_back({request, text, number, accepted});
  return accepted;
}

bool RecordingFeedback::Open(const std::string& title, int range) {
  return Record(0, title, range, DirectFeedback::Open(title, range));
}

bool RecordingFeedback::SetText(const std::string& text) {
  return Record(kFeedbackSetText, text, 0, DirectFeedback::SetText(text));
}

bool RecordingFeedback::SetDetail(const std::string& text) {
  return Record(kFeedbackSetDetail, text, 0, DirectFeedback::SetDetail(text));
}

bool RecordingFeedback::End(int result) {
  return Record(kFeedbackEnd, std::string(), result, DirectFeedback::End(result));
}

bool RecordingFeedback::Animate(bool stop) {
  return Record(kFeedbackAnimate, std::string(), stop ? 1 : 0, DirectFeedback::Animate(stop));
}

std::string RecordingFeedback::Transcript() const {
  std::string out;
  for (const FeedbackCall& c : calls_) {
    int ok = c.accepted ? 1 : 0;
    switch (c.request) {
      case 0:
        AppendFormat(&out, "Open(\"%s\",%d)=%d\n", c.text.c_str(), c.number, ok);
        break;
      case kFeedbackSetText:
        AppendFormat(&out, "SetText(\"%s\")=%d\n", c.text.c_str(), ok);
        break;
      case kFeedbackSetDetail:
        AppendFormat(&out, "SetDetail(\"%s\")=%d\n", c.text.c_str(), ok);
        break;
      case kFeedbackEnd:
        AppendFormat(&out, "End(%d)=%d\n", c.number, ok);
        break;
      default:
        AppendFormat(&out, "Animate(%d)=%d\n", c.number, ok);
        break;
    }
  }
  return out;
}

// ---------------------------------------------------------------------------

std::unique_ptr<Feedback> MakeFeedback(Platform& platform, bool unattended,
                                       FeedbackMaker native) {
  if (unattended) return std::make_unique<RecordingFeedback>(platform.clock);
  if (native) return native(platform);
  return std::make_unique<ConsoleFeedback>(platform.terminal, platform.clock);
}

}  // namespace crx::ui
