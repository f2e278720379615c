// The list-view browser shown for real on a small archive and inspected
// from a second thread through Win32 calls: caption, columns, rows, icons
// after Get All, the folder controls that follow "output to locations on
// archive", and Close. Needs a desktop (under wine: an X display); skipped
// otherwise.
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"
#include "ui/answers/answers.h"
#include "ui/browser.h"
#include "ui/fakes.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>

// After the portable declarations: <windows.h> renames MessageBox.
#include <windows.h>
#include <commctrl.h>

#include "ui/win32/browser_win32.h"
#include "ui/win32_gui.h"

// The engine interface's MessageBox, not the Win32 macro.
#undef MessageBox

namespace crx::ui {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class QuietUi : public UserInterface {
 public:
  int messages = 0;
  int MessageBox(const std::string&, const std::string&, uint32_t) override {
    ++messages;
    return kIdOk;
  }
};

HWND WaitForCaption(const std::string& caption) {
  for (int i = 0; i < 1000; ++i) {
    HWND w = ::FindWindowA(nullptr, caption.c_str());
    if (w && ::IsWindowVisible(w)) return w;
    ::Sleep(10);
  }
  return nullptr;
}

std::string ItemText(HWND list, int item, int sub) {
  char buffer[260] = {};
  LVITEMA lv = {};
  lv.iSubItem = sub;
  lv.pszText = buffer;
  lv.cchTextMax = sizeof buffer;
  ::SendMessageA(list, LVM_GETITEMTEXTA, item, reinterpret_cast<LPARAM>(&lv));
  return buffer;
}

int ItemImage(HWND list, int item) {
  LVITEMA lv = {};
  lv.mask = LVIF_IMAGE;
  lv.iItem = item;
  ::SendMessageA(list, LVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&lv));
  return lv.iImage;
}

TEST(BrowserGui, ListViewShowsTheRowsAndExtracts) {
  SKIP_WITHOUT_DESKTOP();
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  ResetLogState();
  SetLoggingSetting(0);
  auto write = [&](const std::string& path, const std::string& data) {
    ASSERT_TRUE(test::WriteWholeFile(p.files, path, data));
  };
  std::string stub = tp.Scratch() + "\\full.dat";
  write(stub, std::string(FULL_STUB_SIZE, 'S'));
  std::string saved;
  bool had = false;
  {
    ScopedRegKey key(p.registry);
    ASSERT_EQ(p.registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(),
                                   nullptr),
              kErrorSuccess);
    had = p.registry.GetString(key.Get(), "datafile", &saved) == kErrorSuccess;
    ASSERT_EQ(p.registry.SetString(key.Get(), "datafile", stub), kErrorSuccess);
  }
  write(tp.Scratch() + "\\one.txt", "first");
  write(tp.Scratch() + "\\two.txt", "second member");
  std::string archive = tp.Scratch() + "\\gui.exe";
  QuietUi ui;
  {
    ArchiveEngine e(p, ui);
    SystemTime created;
    created.year = 2026;
    created.month = 12;
    created.day = 6;
    created.hour = 14;
    created.minute = 5;
    e.set_creation_time(created);
    ASSERT_TRUE(e.CreateArchive(archive));
    ASSERT_TRUE(e.AddFile(tp.Scratch() + "\\one.txt", "one.txt"));
    ASSERT_TRUE(e.AddFile(tp.Scratch() + "\\two.txt", "two.txt"));
    ASSERT_TRUE(e.CloseArchive());
  }

  test::Ended ended;
  AnswersFrontEnd answers("C:\\none.txt", {}, ended.Handler());
  BrowserOptions options;
  options.path = archive;
  options.locale = 1033;
  ArchiveBrowser browser(p, ui, answers, options);
  ASSERT_TRUE(browser.Open());

  std::string caption = "Cratex Archive - gui.exe (12/06/2026 14:05)";
  std::string out = tp.Scratch() + "\\out";
  struct Seen {
    int rows = -1;
    std::string name0, size1, column0;
    int image_before = -1, image_after = -1;
    BOOL folder_enabled_before = TRUE, folder_enabled_after = FALSE;
    bool found = false;
  } seen;
  std::thread driver([&] {
    HWND w = WaitForCaption(caption);
    if (!w) return;
    seen.found = true;
    HWND list = ::GetDlgItem(w, kBrowserListId);
    seen.rows = static_cast<int>(::SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    seen.name0 = ItemText(list, 0, 0);
    seen.size1 = ItemText(list, 1, 2);
    char column[32] = {};
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT;
    c.pszText = column;
    c.cchTextMax = sizeof column;
    ::SendMessageA(list, LVM_GETCOLUMNA, 0, reinterpret_cast<LPARAM>(&c));
    seen.column0 = column;
    seen.image_before = ItemImage(list, 1);
    HWND folder = ::GetDlgItem(w, kBrowserFolderId);
    seen.folder_enabled_before = ::IsWindowEnabled(folder);
    // Clear "output to locations on archive", type a folder, Get All.
    ::SendMessageA(::GetDlgItem(w, kBrowserToLocationsId), BM_CLICK, 0, 0);
    seen.folder_enabled_after = ::IsWindowEnabled(folder);
    ::SendMessageA(folder, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(out.c_str()));
    ::SendMessageA(::GetDlgItem(w, kBrowserGetAllId), BM_CLICK, 0, 0);
    seen.image_after = ItemImage(list, 1);
    ::PostMessageA(w, WM_COMMAND, MAKEWPARAM(kBrowserCloseId, BN_CLICKED),
                   reinterpret_cast<LPARAM>(::GetDlgItem(w, kBrowserCloseId)));
  });
  int result = RunWin32Browser(browser);
  driver.join();
  EXPECT_EQ(result, kBrowserClosed);
  ASSERT_TRUE(seen.found) << "no window \"" << caption << "\"";
  EXPECT_EQ(seen.rows, 2);
  EXPECT_EQ(seen.name0, "one.txt");
  EXPECT_EQ(seen.size1, "13");
  EXPECT_EQ(seen.column0, "file");
  EXPECT_EQ(seen.image_before, kIconUnread);
  EXPECT_FALSE(seen.folder_enabled_before);
  EXPECT_TRUE(seen.folder_enabled_after);
  EXPECT_EQ(seen.image_after, kIconExtracted);
  EXPECT_TRUE(p.files.IsFile(out + "\\two.txt"));
  EXPECT_EQ(ui.messages, 0);

  ScopedRegKey key(p.registry);
  if (p.registry.OpenKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out()) ==
      kErrorSuccess) {
    if (had) {
      p.registry.SetString(key.Get(), "datafile", saved);
    } else {
      p.registry.DeleteValue(key.Get(), "datafile");
    }
  }
}

}  // namespace
}  // namespace crx::ui
