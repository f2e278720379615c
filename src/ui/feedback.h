// The feedback window: the small progress window every long operation
// shows (creating, adding, listing, extracting, installing).
//
// Callers use it through a Feedback handle with a fixed set of operations:
// Open once, then SetText / SetDetail / Animate while the work goes on, and
// End to finish. The handle only passes requests on; FeedbackModel decides
// every text, the bar and the end state, and the front-ends (console/,
// win32/, the recording one below) only show what the model says.
#ifndef CRX_UI_FEEDBACK_H
#define CRX_UI_FEEDBACK_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace crx {
class Clock;
struct Platform;
}  // namespace crx

namespace crx::ui {

// The private window message that carries a request to the window's thread
// (WM_USER + 1000): first parameter the argument (a text buffer handed over,
// or a number), second parameter the request code.
inline constexpr unsigned kFeedbackMessage = 0x0400 + 1000;

// Request codes.
enum FeedbackRequest : int {
  kFeedbackSetText = 1,
  kFeedbackSetDetail = 2,
  kFeedbackEnd = 3,
  kFeedbackAnimate = 4,
};

// End results with a meaning of their own; any other value means the task
// finished with errors.
inline constexpr int kFeedbackSuccess = 1;    // the window closes at once
inline constexpr int kFeedbackCompleted = -1; // "completed", wait for OK

// Control identifiers of the window.
inline constexpr int kFeedbackBarId = 1016;
inline constexpr int kFeedbackMainTextId = 1017;
inline constexpr int kFeedbackDetailId = 1018;
inline constexpr int kFeedbackAnimationId = 1019;
inline constexpr int kFeedbackOkId = 1020;
inline constexpr unsigned kFeedbackTimerId = 999;
inline constexpr uint32_t kFeedbackTimerPeriod = 10000;  // milliseconds

// Window titles.
inline constexpr const char* kFeedbackFrameTitle = "AppFeedbkDlgFrm";
inline constexpr const char* kFeedbackInitialCaption = "Feedback Dialog";

// Where a feedback window is in its life.
enum class FeedbackPhase {
  kNotStarted,    // handle created, Open not called
  kStarting,      // Open called, the window is not ready yet
  kRunning,       // ready: requests are accepted
  kWaitingForOk,  // ended with a result other than 1; the user reads it
  kFinished,      // closed; requests are refused
};

// The state of one feedback window and every rule that changes it. Not
// thread-safe: it lives on the thread that shows the window. Times come
// from the clock's TickCount, so tests can move time.
class FeedbackModel {
 public:
  explicit FeedbackModel(Clock& clock) : clock_(clock) {}

  // The window is built: caption = title, the range (clamped to 0..65535),
  // count 0, empty main text, both start times now.
  void Start(const std::string& title, int range);
  // The window is about to show: the bar, the 10-second timer and the
  // animation start.
  void Initialise();

  // Carries out one request (code 1 to 4); false for an unknown code.
  bool Apply(int code, const std::string& text, int number);
  void SetText(const std::string& text);
  void SetDetail(const std::string& text);  // empty = no caller detail
  void End(int result);
  void SetAnimationStopped(bool stop);
  // The 10-second timer fired.
  void Tick();
  // For a front-end without a timer of its own: fires the timer as many
  // times as it has come due by now.
  void RunDueTicks();
  // The OK button was pressed; the window closes.
  void PressOk();

  const std::string& caption() const { return caption_; }
  const std::string& main_text() const { return main_text_; }
  const std::string& detail_text() const { return detail_text_; }
  int range() const { return range_; }
  int count() const { return count_; }
  bool initialised() const { return initialised_; }
  bool detail_present() const { return detail_present_; }
  bool bar_enabled() const { return range_ != 0; }
  int bar_maximum() const { return range_ + 1; }
  // The bar's position as the control shows it (never past the maximum).
  int bar_position() const;
  bool ok_visible() const { return ok_visible_; }
  bool main_text_half_height() const { return main_text_half_height_; }
  bool animating() const { return animating_; }
  bool timer_running() const { return timer_running_; }
  bool ended() const { return ended_; }
  bool closed() const { return closed_; }
  int result() const { return result_; }

 private:
  uint32_t SecondsSince(uint32_t start) const;

  Clock& clock_;
  std::string caption_ = kFeedbackInitialCaption;
  std::string main_text_;
  std::string detail_text_;
  int range_ = 0;
  int count_ = 0;
  int position_ = 0;
  bool initialised_ = false;
  bool detail_present_ = false;
  bool ok_visible_ = false;
  bool main_text_half_height_ = false;
  bool animating_ = false;
  bool timer_running_ = false;
  bool ended_ = false;
  bool closed_ = false;
  int result_ = 0;
  uint32_t task_start_ = 0;  // TickCount milliseconds
  uint32_t item_start_ = 0;
  uint32_t next_tick_ = 0;
};

// The handle every caller holds. Handles made by the system are not
// reference-counted (count -1); a handle made with counted = true starts at
// 1 and deletes itself when Release brings it to 0 (it must then have been
// made with new).
class Feedback {
 public:
  explicit Feedback(bool counted = false) : references_(counted ? 1 : -1) {}
  virtual ~Feedback() = default;
  Feedback(const Feedback&) = delete;
  Feedback& operator=(const Feedback&) = delete;

  // Count + 1 unless the handle is not counted; returns the count.
  int AddRef();
  // Count - 1 unless the handle is not counted, deleting the handle at 0;
  // returns the count left.
  int Release();

  // Shows the window with a title and a range (the number of texts that
  // fill the bar; 0 = no bar) and waits until it is ready. A handle opens
  // once; false when already opened or the window cannot be started.
  virtual bool Open(const std::string& title, int range) = 0;
  // The four requests. Each returns false, and does nothing, before the
  // window is ready and after it has closed.
  virtual bool SetText(const std::string& text) = 0;
  virtual bool SetDetail(const std::string& text) = 0;  // empty = none
  virtual bool End(int result) = 0;
  virtual bool Animate(bool stop) = 0;

  virtual FeedbackPhase Phase() const = 0;

 private:
  int references_;
};

// A feedback window shown on the caller's own thread: every request is
// carried out on the model at once, then Show() presents the new state.
// The base of the console and recording front-ends.
class DirectFeedback : public Feedback {
 public:
  explicit DirectFeedback(Clock& clock, bool counted = false)
      : Feedback(counted), model_(clock) {}

  bool Open(const std::string& title, int range) override;
  bool SetText(const std::string& text) override;
  bool SetDetail(const std::string& text) override;
  bool End(int result) override;
  bool Animate(bool stop) override;
  FeedbackPhase Phase() const override { return phase_; }

  // The user read the ended window and pressed OK.
  bool PressOk();

  const FeedbackModel& model() const { return model_; }

 protected:
  // Presents the model after it changed; request is 0 after Open, else the
  // code of the request just carried out.
  virtual void Show(int request) = 0;
  // Whether a window that ended with a result other than 1 waits for an OK
  // press (false: it is taken as read at once).
  virtual bool WaitsForOk() const { return true; }

 private:
  bool Request(int code, const std::string& text, int number);

  FeedbackModel model_;
  FeedbackPhase phase_ = FeedbackPhase::kNotStarted;
};

// One operation on a handle as the recording front-end saw it.
struct FeedbackCall {
  int request = 0;  // 0 = Open, else the request code
  std::string text;  // Open's title, or the text of SetText / SetDetail
  int number = 0;    // Open's range, End's result, Animate's stop flag
  bool accepted = false;
};

// Shows nothing; records every operation with its arguments and whether it
// was accepted, and keeps the model so that the state can be checked. Used
// for unattended runs and by tests. An ended window waits for PressOk.
class RecordingFeedback : public DirectFeedback {
 public:
  explicit RecordingFeedback(Clock& clock, bool counted = false)
      : DirectFeedback(clock, counted) {}

  bool Open(const std::string& title, int range) override;
  bool SetText(const std::string& text) override;
  bool SetDetail(const std::string& text) override;
  bool End(int result) override;
  bool Animate(bool stop) override;

  const std::vector<FeedbackCall>& calls() const { return calls_; }
  // The calls as text, one a line: Open("title",100)=1, SetText("x")=0 ...
  std::string Transcript() const;

 protected:
  void Show(int) override {}

 private:
  bool Record(int request, const std::string& text, int number, bool accepted);

  std::vector<FeedbackCall> calls_;
};

// Makes the system's own feedback window (the Win32 window on its thread on
// Windows). Each program passes the maker of the build it is part of.
using FeedbackMaker = std::unique_ptr<Feedback> (*)(Platform& platform);

// Picks the feedback window the way StartUserInterface picks dialogs:
// unattended (an answers file or recording) -> RecordingFeedback; a native
// maker given (Windows) -> its window; otherwise the progress line on the
// platform's terminal.
std::unique_ptr<Feedback> MakeFeedback(Platform& platform, bool unattended,
                                       FeedbackMaker native = nullptr);

}  // namespace crx::ui

#endif  // CRX_UI_FEEDBACK_H
