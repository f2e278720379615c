// The interpreter's main window shown for real (Windows builds; skips
// itself without a desktop): the start message runs the run once, the
// status pane and the caption follow the host calls, and the window goes
// or stays as the run's end says.
#include <windows.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

}  // namespace
}  // namespace crx
