#include "ui/feedback.h"

#include <gtest/gtest.h>

#include "support/test_platform.h"
#include "ui/console/feedback_console.h"
#include "ui/fakes.h"

namespace crx::ui {
namespace {

// A clock the test moves by hand; starts near the tick counter's wrap so
// that elapsed times are computed across it.
class FakeClock : public Clock {
 public:
  uint32_t ticks = 0xFFFFFFFFu - 4000;
  SystemTime UtcNow() override { return SystemTime(); }
  SystemTime LocalNow() override { return SystemTime(); }
  uint32_t TickCount() override { return ticks; }
  void Sleep(uint32_t milliseconds) override { ticks += milliseconds; }
  void Seconds(uint32_t s) { ticks += s * 1000; }
};

TEST(FeedbackModel, BarFollowsTheTextsAndStaysFull) {
  FakeClock clock;
  FeedbackModel m(clock);
  m.Start("Adding", 100);
  m.Initialise();
  EXPECT_EQ(m.caption(), "Adding");
  EXPECT_TRUE(m.bar_enabled());
  EXPECT_EQ(m.bar_maximum(), 101);
  EXPECT_EQ(m.bar_position(), 0);
  for (int i = 1; i <= 150; ++i) {
    m.SetText("file " + std::to_string(i));
    ASSERT_EQ(m.bar_position(), i <= 100 ? i : 101) << i;
  }
  EXPECT_EQ(m.count(), 150);
  EXPECT_EQ(m.main_text(), "file 150");

  // Range 0: no bar, the texts still change.
  FeedbackModel none(clock);
  none.Start("Listing", 0);
  none.Initialise();
  none.SetText("a");
  none.SetText("b");
  EXPECT_FALSE(none.bar_enabled());
  EXPECT_EQ(none.bar_position(), 0);
  EXPECT_EQ(none.main_text(), "b");

  // Texts counted before the window initialises put the bar one behind.
  FeedbackModel early(clock);
  early.Start("x", 10);
  early.SetText("1");
  early.SetText("2");
  EXPECT_EQ(early.bar_position(), 0);
  early.Initialise();
  EXPECT_EQ(early.bar_position(), 1);

  // The range is 16 bits: out-of-range values are clamped, not wrapped.
  FeedbackModel big(clock);
  big.Start("x", 70000);
  EXPECT_EQ(big.range(), 65535);
  big.Start("x", -5);
  EXPECT_EQ(big.range(), 0);
}

TEST(FeedbackModel, ElapsedTimeLines) {
  FakeClock clock;
  FeedbackModel m(clock);
  m.Start("t", 10);
  m.Initialise();
  m.SetText("big file");
  clock.Seconds(9);
  m.Tick();
  EXPECT_EQ(m.detail_text(), "");  // 9 seconds is not more than 9
  clock.Seconds(1);
  m.Tick();
  EXPECT_EQ(m.detail_text(), "time in current operation: 00:10 ");
  clock.Seconds(10);
  m.Tick();
  EXPECT_EQ(m.detail_text(), "time in current operation: 00:20 ");
  clock.Seconds(65);
  m.Tick();
  EXPECT_EQ(m.detail_text(), "time in current operation: 01:25 ");

  // A new item clears the timer line and starts its own time.
  m.SetText("next");
  EXPECT_EQ(m.detail_text(), "");
  clock.Seconds(5);
  m.Tick();
  EXPECT_EQ(m.detail_text(), "");

  // A caller's detail suppresses the line and survives new texts; an
  // empty detail gives the line back.
  m.SetDetail("reading volume 2");
  EXPECT_TRUE(m.detail_present());
  clock.Seconds(30);
  m.Tick();
  m.SetText("third");
  EXPECT_EQ(m.detail_text(), "reading volume 2");
  m.SetDetail("");
  EXPECT_FALSE(m.detail_present());
  clock.Seconds(12);
  m.Tick();
  EXPECT_EQ(m.detail_text(), "time in current operation: 00:12 ");
}

TEST(FeedbackModel, EndStates) {
  struct Row {
    int result;
    uint32_t seconds;
    const char* main;
    const char* detail;
  };
  const Row rows[] = {
      {0, 8, "completed, ERRORS HAVE OCCURRED", ""},
      {0, 10, "completed, ERRORS HAVE OCCURRED", ""},
      {0, 11, "completed, ERRORS HAVE OCCURRED", "time taken by task: 00:11 "},
      {5, 75, "completed, ERRORS HAVE OCCURRED", "time taken by task: 01:15 "},
      {-1, 75, "completed", "time taken by task: 01:15 "},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.result);
    SCOPED_TRACE(r.seconds);
    FakeClock clock;
    FeedbackModel m(clock);
    m.Start("t", 100);
    m.Initialise();
    m.SetText("one");
    clock.Seconds(r.seconds);
    m.End(r.result);
    EXPECT_EQ(m.main_text(), r.main);
    EXPECT_EQ(m.detail_text(), r.detail);
    EXPECT_TRUE(m.ok_visible());
    EXPECT_TRUE(m.main_text_half_height());
    EXPECT_EQ(m.bar_position(), 101);
    EXPECT_FALSE(m.timer_running());
    EXPECT_FALSE(m.animating());
    EXPECT_FALSE(m.closed());
    // The timer and animation stay stopped.
    m.SetAnimationStopped(false);
    EXPECT_FALSE(m.animating());
    clock.Seconds(20);
    m.RunDueTicks();
    EXPECT_EQ(m.detail_text(), r.detail);
    m.PressOk();
    EXPECT_TRUE(m.closed());
  }

  // 1 closes at once, without OK or a task-time line.
  FakeClock clock;
  FeedbackModel ok(clock);
  ok.Start("t", 100);
  ok.Initialise();
  clock.Seconds(75);
  ok.End(1);
  EXPECT_EQ(ok.main_text(), "completed");
  EXPECT_TRUE(ok.closed());
  EXPECT_FALSE(ok.ok_visible());
  EXPECT_EQ(ok.detail_text(), "");

  // A caller detail wins over the task-time line.
  FeedbackModel detail(clock);
  detail.Start("t", 100);
  detail.Initialise();
  detail.SetDetail("3 files skipped");
  clock.Seconds(75);
  detail.End(0);
  EXPECT_EQ(detail.detail_text(), "3 files skipped");
}

TEST(FeedbackModel, DueTicksFollowTheTimerPeriod) {
  FakeClock clock;
  FeedbackModel m(clock);
  m.Start("t", 0);
  m.Initialise();
  m.SetText("x");
  clock.Seconds(9);
  m.RunDueTicks();  // not due yet
  clock.Seconds(2);
  m.RunDueTicks();  // the tick at 10 s sees 11 s > 9
  EXPECT_EQ(m.detail_text(), "time in current operation: 00:11 ");
  clock.Seconds(5);
  m.RunDueTicks();  // next tick at 20 s
  EXPECT_EQ(m.detail_text(), "time in current operation: 00:11 ");
  clock.Seconds(100);
  m.RunDueTicks();
  EXPECT_EQ(m.detail_text(), "time in current operation: 01:56 ");
  EXPECT_FALSE(m.Apply(9, "", 0));
}

TEST(DirectFeedback, RequestsAreRefusedBeforeReadyAndAfterTheEnd) {
  FakeClock clock;
  RecordingFeedback f(clock);
  EXPECT_EQ(f.Phase(), FeedbackPhase::kNotStarted);
  EXPECT_FALSE(f.SetText("too early"));
  EXPECT_FALSE(f.End(1));
  EXPECT_EQ(f.model().main_text(), "");
  EXPECT_EQ(f.model().count(), 0);

  EXPECT_TRUE(f.Open("Add folder", 100));
  EXPECT_FALSE(f.Open("again", 5));  // one Open per handle
  EXPECT_EQ(f.Phase(), FeedbackPhase::kRunning);
  EXPECT_TRUE(f.SetText("a.txt"));
  EXPECT_TRUE(f.SetDetail("details"));
  EXPECT_TRUE(f.Animate(true));
  EXPECT_FALSE(f.model().animating());
  EXPECT_TRUE(f.Animate(false));
  EXPECT_TRUE(f.model().animating());
  EXPECT_TRUE(f.End(0));
  EXPECT_EQ(f.Phase(), FeedbackPhase::kWaitingForOk);
  // Still open while the user reads it.
  EXPECT_TRUE(f.SetDetail("late"));
  EXPECT_TRUE(f.PressOk());
  EXPECT_EQ(f.Phase(), FeedbackPhase::kFinished);
  EXPECT_FALSE(f.SetText("after"));
  EXPECT_FALSE(f.PressOk());
  EXPECT_EQ(f.model().main_text(), "completed, ERRORS HAVE OCCURRED");
  EXPECT_EQ(f.Transcript(),
            "SetText(\"too early\")=0\n"
            "End(1)=0\n"
            "Open(\"Add folder\",100)=1\n"
            "Open(\"again\",5)=0\n"
            "SetText(\"a.txt\")=1\n"
            "SetDetail(\"details\")=1\n"
            "Animate(1)=1\n"
            "Animate(0)=1\n"
            "End(0)=1\n"
            "SetDetail(\"late\")=1\n"
            "SetText(\"after\")=0\n");
  ASSERT_EQ(f.calls().size(), 11u);
  EXPECT_EQ(f.calls()[8].number, 0);

  RecordingFeedback quick(clock);
  ASSERT_TRUE(quick.Open("t", 0));
  EXPECT_TRUE(quick.End(1));
  EXPECT_EQ(quick.Phase(), FeedbackPhase::kFinished);
  EXPECT_FALSE(quick.End(1));
  EXPECT_FALSE(quick.PressOk());
}

class CountedFeedback : public RecordingFeedback {
 public:
  CountedFeedback(Clock& clock, bool* gone) : RecordingFeedback(clock, true), gone_(gone) {}
  ~CountedFeedback() override { *gone_ = true; }

 private:
  bool* gone_;
};

TEST(Feedback, ReferenceCounting) {
  FakeClock clock;
  bool gone = false;
  Feedback* f = new CountedFeedback(clock, &gone);
  EXPECT_EQ(f->AddRef(), 2);
  EXPECT_EQ(f->Release(), 1);
  EXPECT_FALSE(gone);
  EXPECT_EQ(f->Release(), 0);
  EXPECT_TRUE(gone);

  // System handles are not counted and never delete themselves.
  RecordingFeedback plain(clock);
  EXPECT_EQ(plain.AddRef(), -1);
  EXPECT_EQ(plain.Release(), -1);
  EXPECT_EQ(plain.Release(), -1);
  EXPECT_TRUE(plain.Open("still here", 1));
}

TEST(ConsoleFeedback, DrawsOneLineInPlace) {
  FakeClock clock;
  test::FakeTerminal terminal;
  ConsoleFeedback f(terminal, clock);
  EXPECT_FALSE(f.SetText("early"));
  EXPECT_EQ(terminal.output, "");
  ASSERT_TRUE(f.Open("Cratex - Extracting Files", 4));
  EXPECT_EQ(terminal.output, "Cratex - Extracting Files\n\r[....................] 0/4 | ");
  terminal.output.clear();
  f.SetText("readme.txt");
  EXPECT_EQ(terminal.output, "\r[####................] 1/4 / readme.txt");
  terminal.output.clear();
  clock.Seconds(12);
  f.SetText("a.dll");
  // The timer tick came due before the new text: the line belongs to the
  // previous item and is cleared by the new text; the shorter line is
  // padded over the old one.
  EXPECT_EQ(terminal.output, "\r[########............] 2/4 - a.dll" + std::string(5, ' '));
  terminal.output.clear();
  clock.Seconds(11);
  f.Animate(true);  // the spinner stops; the due tick adds the elapsed line
  EXPECT_EQ(terminal.output,
            "\r[########............] 2/4 a.dll - time in current operation: 00:11 ");
  terminal.output.clear();
  clock.Seconds(1);
  f.End(0);
  // Cut to the 80-column terminal (79 characters), then the line is kept.
  EXPECT_EQ(terminal.output,
            "\r[####################] 2/4 completed, ERRORS HAVE OCCURRED - "
            "time taken by task\n");
  EXPECT_EQ(f.Phase(), FeedbackPhase::kFinished);  // nobody has to press OK
  EXPECT_FALSE(f.SetText("late"));

  // Long texts are cut to the terminal's width; line breaks do not break
  // the line; no bar without a range.
  std::string line;
  FeedbackModel m(clock);
  m.Start("t", 0);
  m.Initialise();
  m.SetText(std::string(200, 'x') + "\n");
  line = ConsoleFeedback::Line(m, 0, 80);
  EXPECT_EQ(line, "| " + std::string(77, 'x'));
  m.SetText("a\r\nb");
  EXPECT_EQ(ConsoleFeedback::Line(m, 1, 80), "/ a  b");
  EXPECT_EQ(ConsoleFeedback::Line(m, 1, 0), "");
}

TEST(ConsoleFeedback, WritesNothingWithoutAPerson) {
  FakeClock clock;
  test::FakeTerminal terminal;
  terminal.interactive = false;
  ConsoleFeedback f(terminal, clock);
  ASSERT_TRUE(f.Open("Adding", 3));
  EXPECT_TRUE(f.SetText("one"));
  EXPECT_TRUE(f.SetDetail("two"));
  EXPECT_TRUE(f.End(0));
  EXPECT_EQ(f.model().main_text(), "completed, ERRORS HAVE OCCURRED");
  EXPECT_EQ(terminal.output, "");
  EXPECT_EQ(terminal.errors, "");
}

std::unique_ptr<Feedback> MakeTestNative(Platform& platform) {
  return std::make_unique<RecordingFeedback>(platform.clock, true);
}

TEST(MakeFeedback, PicksTheFrontEnd) {
  test::TestPlatform machine;
  Platform& p = machine.Get();
  std::unique_ptr<Feedback> unattended = MakeFeedback(p, true, MakeTestNative);
  auto* recording = dynamic_cast<RecordingFeedback*>(unattended.get());
  ASSERT_NE(recording, nullptr);
  EXPECT_EQ(recording->AddRef(), -1);  // the system's own, not counted
  std::unique_ptr<Feedback> native = MakeFeedback(p, false, MakeTestNative);
  EXPECT_EQ(native->AddRef(), 2);      // the native maker's
  native->Release();
  std::unique_ptr<Feedback> console = MakeFeedback(p, false);
  EXPECT_NE(dynamic_cast<ConsoleFeedback*>(console.get()), nullptr);
}

}  // namespace
}  // namespace crx::ui
