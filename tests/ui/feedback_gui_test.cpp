// The feedback window on its own thread, shown for real: the test thread is
// the worker that posts requests, and reads the window back through its
// controls. Needs a desktop that can make windows (under wine: an X
// display); skipped otherwise.
#include "platform/win32/win32_platform.h"
#include <commctrl.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "ui/win32/feedback_win32.h"
#include "ui/win32_gui.h"

namespace crx::ui {
namespace {

// Polls for up to five seconds.
bool Eventually(const std::function<bool()>& done) {
  for (int i = 0; i < 250; ++i) {
    if (done()) return true;
    ::Sleep(20);
  }
  return done();
}

std::string ItemText(HWND dialog, int id) {
  char buffer[256] = {};
  ::GetDlgItemTextA(dialog, id, buffer, sizeof(buffer));
  return buffer;
}

int BarPosition(HWND dialog) {
  return static_cast<int>(::SendDlgItemMessageA(dialog, kFeedbackBarId, PBM_GETPOS, 0, 0));
}

class FeedbackWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    host_ = OpenHostPlatform(&error);
    ASSERT_NE(host_, nullptr) << error;
  }
  Platform& platform() { return host_->Get(); }

 private:
  std::unique_ptr<HostPlatform> host_;
};

TEST_F(FeedbackWindow, ShowsTextsAndWaitsForOkAfterErrors) {
  SKIP_WITHOUT_DESKTOP();
  const char* caption = "Cratex gui test - Feedback";
  Win32Feedback f(platform());
  EXPECT_FALSE(f.SetText("too early"));
  EXPECT_EQ(f.Phase(), FeedbackPhase::kNotStarted);
  ASSERT_TRUE(f.Open(caption, 3));
  EXPECT_FALSE(f.Open("again", 3));
  EXPECT_EQ(f.Phase(), FeedbackPhase::kRunning);

  HWND frame = ::FindWindowA(nullptr, kFeedbackFrameTitle);
  ASSERT_NE(frame, nullptr);
  EXPECT_FALSE(::IsWindowVisible(frame));
  EXPECT_TRUE(::GetWindowLongA(frame, GWL_EXSTYLE) & WS_EX_TOPMOST);

  EXPECT_TRUE(f.SetText("one"));
  EXPECT_TRUE(f.SetText("two"));
  EXPECT_TRUE(f.SetDetail("reading"));
  HWND dialog = nullptr;
  ASSERT_TRUE(Eventually([&] { return (dialog = ::FindWindowA(nullptr, caption)) != nullptr; }));
  EXPECT_TRUE(Eventually([&] {
    return ItemText(dialog, kFeedbackMainTextId) == "two" &&
           ItemText(dialog, kFeedbackDetailId) == "reading";
  }));
  EXPECT_EQ(BarPosition(dialog), 2);
  EXPECT_EQ(::SendDlgItemMessageA(dialog, kFeedbackBarId, PBM_GETRANGE, FALSE, 0), 4);
  HWND ok = ::GetDlgItem(dialog, kFeedbackOkId);
  ASSERT_NE(ok, nullptr);
  EXPECT_FALSE(::IsWindowVisible(ok));
  EXPECT_TRUE(f.Animate(true));
  EXPECT_TRUE(f.Animate(false));

  // Escape and closing do not end a running window.
  ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
  ::PostMessageA(dialog, WM_CLOSE, 0, 0);
  EXPECT_TRUE(f.End(0));
  EXPECT_TRUE(Eventually([&] {
    return ItemText(dialog, kFeedbackMainTextId) == "completed, ERRORS HAVE OCCURRED" &&
           ::IsWindowVisible(ok);
  }));
  EXPECT_EQ(BarPosition(dialog), 4);
  EXPECT_EQ(f.Phase(), FeedbackPhase::kWaitingForOk);
  EXPECT_FALSE(f.WaitForEnd(200));  // stays until OK is pressed
  EXPECT_NE(::FindWindowA(nullptr, caption), nullptr);

  ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFeedbackOkId, BN_CLICKED),
                 reinterpret_cast<LPARAM>(ok));
  ASSERT_TRUE(f.WaitForEnd(5000));
  EXPECT_EQ(f.Phase(), FeedbackPhase::kFinished);
  EXPECT_EQ(::FindWindowA(nullptr, caption), nullptr);
  EXPECT_EQ(::FindWindowA(nullptr, kFeedbackFrameTitle), nullptr);
  EXPECT_FALSE(f.SetText("after the end"));
  EXPECT_FALSE(f.End(1));
}

TEST_F(FeedbackWindow, EndOneClosesAtOnceAndRangeZeroHasNoBar) {
  SKIP_WITHOUT_DESKTOP();
  const char* caption = "Cratex gui test - Quick";
  Win32Feedback f(platform());
  ASSERT_TRUE(f.Open(caption, 0));
  HWND dialog = nullptr;
  ASSERT_TRUE(Eventually([&] { return (dialog = ::FindWindowA(nullptr, caption)) != nullptr; }));
  EXPECT_FALSE(::IsWindowEnabled(::GetDlgItem(dialog, kFeedbackBarId)));
  EXPECT_TRUE(f.SetText("only text"));
  EXPECT_TRUE(Eventually([&] { return ItemText(dialog, kFeedbackMainTextId) == "only text"; }));
  EXPECT_TRUE(f.End(1));
  ASSERT_TRUE(f.WaitForEnd(5000));
  EXPECT_EQ(f.Phase(), FeedbackPhase::kFinished);
  EXPECT_EQ(::FindWindowA(nullptr, caption), nullptr);
  EXPECT_FALSE(f.Animate(true));
}

// The single-thread variant: every request acts on the window at once, on
// the test's own thread.
TEST_F(FeedbackWindow, ModelessWindowOnTheCallersThread) {
  SKIP_WITHOUT_DESKTOP();
  const char* caption = "Cratex gui test - Modeless";
  {
    Win32ModelessFeedback f(platform());
    EXPECT_FALSE(f.SetText("too early"));
    ASSERT_TRUE(f.Open(caption, 2));
    HWND dialog = ::FindWindowA(nullptr, caption);
    ASSERT_NE(dialog, nullptr);
    EXPECT_TRUE(f.SetText("first"));
    EXPECT_TRUE(f.SetText("second"));
    EXPECT_TRUE(f.SetText("third"));
    EXPECT_EQ(ItemText(dialog, kFeedbackMainTextId), "third");
    EXPECT_EQ(BarPosition(dialog), 3);  // range 2: full from the third text
    EXPECT_TRUE(f.End(-1));
    EXPECT_EQ(ItemText(dialog, kFeedbackMainTextId), "completed");
    HWND ok = ::GetDlgItem(dialog, kFeedbackOkId);
    EXPECT_TRUE(::IsWindowVisible(ok));
    EXPECT_EQ(f.Phase(), FeedbackPhase::kWaitingForOk);
    ::SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(kFeedbackOkId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(ok));
    EXPECT_EQ(f.Phase(), FeedbackPhase::kFinished);
    EXPECT_FALSE(::IsWindow(dialog));
    EXPECT_FALSE(f.SetText("after the end"));
  }
  {
    Win32ModelessFeedback f(platform());
    ASSERT_TRUE(f.Open(caption, 5));
    EXPECT_TRUE(f.End(1));
    EXPECT_EQ(f.Phase(), FeedbackPhase::kFinished);
    EXPECT_EQ(::FindWindowA(nullptr, caption), nullptr);
  }
  {
    // A handle that goes away takes its open window with it.
    auto f = std::make_unique<Win32ModelessFeedback>(platform());
    ASSERT_TRUE(f->Open(caption, 5));
    f.reset();
    EXPECT_EQ(::FindWindowA(nullptr, caption), nullptr);
  }
}

}  // namespace
}  // namespace crx::ui
