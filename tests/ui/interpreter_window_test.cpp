// The interpreter's main window shown for real (Windows builds; skips
// itself without a desktop): the start message runs the run once, the
// status pane and the caption follow the host calls, and the window goes
// or stays as the run's end says; the progress display draws the chosen
// animation.
// Before the system headers: they define a macro named like one of its
// members.
#include "platform/platform.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "ui/win32/feedback_win32.h"
#include "ui/win32/interpreter_window.h"
#include "ui/win32_gui.h"

namespace crx {
namespace {

// What the status pane held when the timer below closed the window.
std::string status_at_close;
ui::InterpreterWindow* closing = nullptr;

void CALLBACK CloseFromTimer(HWND w, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(w, id);
  if (closing) status_at_close = closing->StatusText();
  ::PostMessageA(w, WM_CLOSE, 0, 0);
}

std::string Caption(void* window) {
  char text[256] = {};
  ::GetWindowTextA(static_cast<HWND>(window), text, sizeof text);
  return text;
}

TEST(InterpreterWindow, RunsOnceFromItsStartMessageAndEndsWithTheRunsCode) {
  SKIP_WITHOUT_DESKTOP();
  ui::InterpreterWindow window;
  ASSERT_TRUE(window.Create(true));
  HWND handle = static_cast<HWND>(window.Handle());
  char class_name[64] = {};
  ::GetClassNameA(handle, class_name, sizeof class_name);
  EXPECT_STREQ(class_name, "KS.Document");
  EXPECT_EQ(Caption(handle), "Untitled - Kestrova");
  EXPECT_EQ(window.StatusText(), "Ready");
  // Silent runs start minimised.
  EXPECT_TRUE(::IsIconic(handle));

  int runs = 0;
  std::string seen_status;
  std::string seen_caption;
  const int code = window.RunMessageLoop([&]() {
    ++runs;
    // The window exists while the run goes on; a message posted meanwhile
    // is handled by the status service's pumping.
    ::PostMessageA(handle, ui::InterpreterWindow::kStartRunMessage, 0, 0);
    window.SetStatus("copy file: C:\\x\\a.txt...\nsecond line");
    seen_status = window.StatusText();
    window.SetTitle("Widget Tools");
    seen_caption = Caption(handle);
    return ui::InterpreterRunEnd{3, false};
  });
  EXPECT_EQ(code, 3);
  EXPECT_EQ(runs, 1);  // the second start message did not run it again
  EXPECT_EQ(seen_status, "copy file: C:\\x\\a.txt... second line");
  EXPECT_EQ(seen_caption, "Widget Tools - Kestrova");
  // Without keep_window the window is gone.
  EXPECT_FALSE(::IsWindow(handle));
  EXPECT_EQ(window.Handle(), nullptr);
}

TEST(InterpreterWindow, StaysAfterAnInteractiveRunUntilItIsClosed) {
  SKIP_WITHOUT_DESKTOP();
  ui::InterpreterWindow window;
  ASSERT_TRUE(window.Create(false));
  HWND handle = static_cast<HWND>(window.Handle());
  EXPECT_FALSE(::IsIconic(handle));
  bool stayed = false;
  // Closing during the run is held back until the run has ended.
  const int code = window.RunMessageLoop([&]() {
    ::PostMessageA(handle, WM_CLOSE, 0, 0);
    window.SetStatus("working");
    stayed = ::IsWindow(handle) != FALSE;
    return ui::InterpreterRunEnd{0, true};
  });
  EXPECT_TRUE(stayed);
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(::IsWindow(handle));

  // An interactive run that keeps the window: it shows "Ready" and stays
  // until the user closes it.
  ui::InterpreterWindow second;
  ASSERT_TRUE(second.Create(false));
  HWND other = static_cast<HWND>(second.Handle());
  closing = &second;
  const int second_code = second.RunMessageLoop([&]() {
    second.Maximize();  // the maximize command
    EXPECT_TRUE(::IsZoomed(other));
    second.SetStatus("Installation Completed");
    // Fires after the run has ended: the window must still be there.
    ::SetTimer(other, 1, 200, CloseFromTimer);
    return ui::InterpreterRunEnd{5, true};
  });
  closing = nullptr;
  EXPECT_EQ(second_code, 5);
  EXPECT_EQ(status_at_close, "Ready");
  EXPECT_FALSE(::IsWindow(other));
}

// Ends a message loop that would otherwise wait for ever.
bool watchdog_fired = false;
void CALLBACK Watchdog(HWND, UINT, UINT_PTR id, DWORD) {
  ::KillTimer(nullptr, id);
  watchdog_fired = true;
  ::PostQuitMessage(99);
}

TEST(InterpreterWindow, EndsWhenItsCloseWaitedInTheQueueWhileTheRunEnded) {
  SKIP_WITHOUT_DESKTOP();
  // The user closes the window while the run finishes without looking at
  // its messages (a busy machine): the close is taken when "Ready" is
  // set after the run. The window goes, and the program must end too.
  ui::InterpreterWindow window;
  ASSERT_TRUE(window.Create(false));
  HWND handle = static_cast<HWND>(window.Handle());
  watchdog_fired = false;
  const UINT_PTR watchdog = ::SetTimer(nullptr, 0, 10000, Watchdog);
  const int code = window.RunMessageLoop([&]() {
    ::PostMessageA(handle, WM_CLOSE, 0, 0);
    return ui::InterpreterRunEnd{4, true};
  });
  if (!watchdog_fired) ::KillTimer(nullptr, watchdog);
  EXPECT_FALSE(watchdog_fired) << "the message loop went on without a window";
  EXPECT_EQ(code, 4);
  EXPECT_FALSE(::IsWindow(handle));
  // No quit was left behind for a later loop of the thread.
  MSG msg;
  EXPECT_FALSE(::PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
}

// The view as the screen shows it, read back pixel by pixel.
COLORREF PixelAt(HWND window, int x, int y) {
  HDC dc = ::GetDC(window);
  const COLORREF c = ::GetPixel(dc, x, y);
  ::ReleaseDC(window, dc);
  return c;
}

TEST(InterpreterWindow, PaintsTheBackgroundTheTiledBitmapAndTheBannerLines) {
  SKIP_WITHOUT_DESKTOP();
  ui::InterpreterWindow window;
  ASSERT_TRUE(window.Create(false));
  HWND handle = static_cast<HWND>(window.Handle());
  RECT client;
  ::GetClientRect(handle, &client);
  // Below the banner lines, above the status bar.
  const int y = client.bottom - 60;

  ui::WindowLook look;
  look.SetColour(ui::MakeColour(0, 64, 128));
  look.AddBanner(ui::BannerLine{"WWWWWWWW", "Arial", 240, ui::BannerAlign::kLeft, 0xFFFFFF});
  window.SetLook(look);
  window.Wait(300);
  EXPECT_EQ(PixelAt(handle, 5, y), RGB(0, 64, 128));
  // Some of the first line's band is the banner's white text.
  int white = 0;
  for (int x = 0; x < 200; ++x) {
    for (int row = 0; row < 40; ++row) white += PixelAt(handle, x, row) == RGB(255, 255, 255);
  }
  EXPECT_GT(white, 0);

  // A 2 x 1 bitmap, red then blue, repeated from the top-left corner.
  auto tile = std::make_shared<ui::Bitmap>();
  tile->width = 2;
  tile->height = 1;
  tile->pixels = {0xFF0000, 0x0000FF};
  look.SetBitmap(tile);
  look.ClearBanners();
  window.SetLook(look);
  window.Wait(300);
  EXPECT_EQ(PixelAt(handle, 0, y), RGB(255, 0, 0));
  EXPECT_EQ(PixelAt(handle, 1, y), RGB(0, 0, 255));
  EXPECT_EQ(PixelAt(handle, 10, y), RGB(255, 0, 0));
  EXPECT_EQ(PixelAt(handle, 11, y + 1), RGB(0, 0, 255));
}

// The colours of a built-in animation's frame, drawn into a bitmap.
std::vector<COLORREF> DrawFrame(ui::BuiltInAnimation animation, int frame) {
  constexpr int kW = 90, kH = 40;
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kW, kH);
  ::ReleaseDC(nullptr, screen);
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  RECT all = {0, 0, kW, kH};
  ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
  ui::DrawBuiltInAnimation(animation, dc, 0, 0, kW, kH, frame);
  std::vector<COLORREF> pixels;
  for (int y = 0; y < kH; ++y) {
    for (int x = 0; x < kW; ++x) pixels.push_back(::GetPixel(dc, x, y));
  }
  ::SelectObject(dc, old);
  ::DeleteObject(bitmap);
  ::DeleteDC(dc);
  return pixels;
}

bool Has(const std::vector<COLORREF>& pixels, COLORREF colour) {
  return std::find(pixels.begin(), pixels.end(), colour) != pixels.end();
}

// A video clip of frames uncompressed frames of w by h pixels at 24 bits
// (each frame one colour, red getting lighter), as an AVI file's bytes.
std::string SmallClip(int w, int h, int frames) {
  std::string out;
  auto u32 = [](std::string* s, uint32_t v) {
    for (int i = 0; i < 4; ++i) s->push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
  };
  auto u16 = [](std::string* s, uint16_t v) {
    s->push_back(static_cast<char>(v & 0xFF));
    s->push_back(static_cast<char>(v >> 8));
  };
  auto chunk = [&](const char* id, const std::string& body) {
    std::string c(id, 4);
    u32(&c, static_cast<uint32_t>(body.size()));
    c += body;
    if (body.size() % 2) c.push_back('\0');
    return c;
  };
  auto list = [&](const char* type, const std::string& body) {
    return chunk("LIST", std::string(type, 4) + body);
  };
  const uint32_t row = static_cast<uint32_t>((w * 3 + 3) / 4 * 4);
  const uint32_t frame_size = row * static_cast<uint32_t>(h);
  std::string avih;
  for (uint32_t v : {100000u, frame_size * 10, 0u, 0x10u /* has index */,
                     static_cast<uint32_t>(frames), 0u, 1u, frame_size,
                     static_cast<uint32_t>(w), static_cast<uint32_t>(h), 0u, 0u, 0u, 0u}) {
    u32(&avih, v);
  }
  std::string strh = "vidsDIB ";
  u32(&strh, 0);  // flags
  u16(&strh, 0);  // priority
  u16(&strh, 0);  // language
  for (uint32_t v : {0u, 1u, 10u, 0u, static_cast<uint32_t>(frames), frame_size, 0u, 0u}) {
    u32(&strh, v);  // initial frames, scale, rate, start, length, buffer, quality, sample size
  }
  for (uint16_t v : {uint16_t(0), uint16_t(0), static_cast<uint16_t>(w), static_cast<uint16_t>(h)}) {
    u16(&strh, v);
  }
  std::string strf;
  u32(&strf, 40);
  u32(&strf, static_cast<uint32_t>(w));
  u32(&strf, static_cast<uint32_t>(h));
  u16(&strf, 1);
  u16(&strf, 24);
  for (uint32_t v : {0u, frame_size, 0u, 0u, 0u, 0u}) u32(&strf, v);
  std::string movi = "movi";
  std::string index;
  for (int f = 0; f < frames; ++f) {
    std::string pixels;
    for (int y = 0; y < h; ++y) {
      std::string line;
      for (int x = 0; x < w; ++x) {
        line += static_cast<char>(0);                       // blue
        line += static_cast<char>(0);                       // green
        line += static_cast<char>(128 + f * 127 / frames);  // red
      }
      line.resize(row, '\0');
      pixels += line;
    }
    index += "00db";
    u32(&index, 0x10);  // key frame
    u32(&index, static_cast<uint32_t>(movi.size()));
    u32(&index, frame_size);
    movi += chunk("00db", pixels);
  }
  std::string body = "AVI " + list("hdrl", chunk("avih", avih) +
                                               list("strl", chunk("strh", strh) +
                                                                chunk("strf", strf))) +
                     chunk("LIST", movi) + chunk("idx1", index);
  return chunk("RIFF", body);
}

// The two built-in animations look different and move; the feedback
// window draws the one chosen last (the folders of "@files" in its
// animation control), and a clip that cannot be played leaves the pistons.
TEST(InterpreterWindow, TheProgressDisplayDrawsTheChosenAnimation) {
  SKIP_WITHOUT_DESKTOP();
  const COLORREF folder = RGB(255, 255, 128);
  const COLORREF piston = RGB(0, 64, 160);
  const std::vector<COLORREF> files0 = DrawFrame(ui::BuiltInAnimation::kFiles, 0);
  const std::vector<COLORREF> pistons0 = DrawFrame(ui::BuiltInAnimation::kPistons, 0);
  EXPECT_TRUE(Has(files0, folder));
  EXPECT_FALSE(Has(files0, piston));
  EXPECT_TRUE(Has(pistons0, piston));
  EXPECT_FALSE(Has(pistons0, folder));
  EXPECT_NE(files0, DrawFrame(ui::BuiltInAnimation::kFiles, 5));
  EXPECT_NE(pistons0, DrawFrame(ui::BuiltInAnimation::kPistons, 3));

  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  ASSERT_TRUE(host) << error;
  struct Case {
    const char* choice;
    COLORREF wanted, unwanted;
  };
  // A clip the animation control plays: it takes the drawn control's place.
  char temp[MAX_PATH] = {};
  ::GetTempPathA(sizeof temp, temp);
  const std::string clip = std::string(temp) + "crx-animation-test.avi";
  const std::string bytes = SmallClip(32, 16, 4);
  FILE* file = std::fopen(clip.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  std::fclose(file);
  const std::string broken = std::string(temp) + "crx-animation-test-broken.avi";
  file = std::fopen(broken.c_str(), "wb");
  ASSERT_NE(file, nullptr);
  std::fwrite("RIFF", 1, 4, file);
  std::fclose(file);

  for (const Case& c : {Case{"@files", folder, piston}, Case{"@pistons", piston, folder},
                        Case{"Z:\\no such folder\\clip.avi", piston, folder},
                        Case{broken.c_str(), piston, folder}, Case{clip.c_str(), 0, 0}}) {
    ui::UseProgressAnimation(c.choice);
    ui::Win32Feedback feedback(host->Get());
    ASSERT_TRUE(feedback.Open("Cratex animation test", 3)) << c.choice;
    HWND dialog = nullptr;
    for (int i = 0; i < 250 && !dialog; ++i) {
      dialog = ::FindWindowA(nullptr, "Cratex animation test");
      if (!dialog) ::Sleep(20);
    }
    ASSERT_NE(dialog, nullptr) << c.choice;
    ::Sleep(400);  // a few frames
    HWND control = ::GetDlgItem(dialog, ui::kFeedbackAnimationId);
    if (c.choice == clip.c_str()) {
      HWND player = ::FindWindowExA(dialog, nullptr, ANIMATE_CLASSA, nullptr);
      EXPECT_NE(player, nullptr);
      EXPECT_TRUE(player && ::IsWindowVisible(player));
      EXPECT_FALSE(::IsWindowVisible(control));
      feedback.End(1);
      EXPECT_TRUE(feedback.WaitForEnd(5000));
      continue;
    }
    RECT r = {};
    ::GetClientRect(control, &r);
    std::vector<COLORREF> shown;
    HDC dc = ::GetDC(control);
    for (int y = 0; y < r.bottom; ++y) {
      for (int x = 0; x < r.right; ++x) shown.push_back(::GetPixel(dc, x, y));
    }
    ::ReleaseDC(control, dc);
    EXPECT_TRUE(Has(shown, c.wanted)) << c.choice;
    EXPECT_FALSE(Has(shown, c.unwanted)) << c.choice;
    feedback.End(1);
    EXPECT_TRUE(feedback.WaitForEnd(5000));
  }
  ui::SetFeedbackPainter(nullptr);
  std::remove(clip.c_str());
  std::remove(broken.c_str());
}

}  // namespace
}  // namespace crx
