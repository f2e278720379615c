// The builder's main window shown for real (Windows builds; skips itself
// without a desktop), on a scripted document: the menus show the
// document's enabling rules and check marks each time they open, a command
// the document refuses never reaches it (accelerators and toolbar
// included), dropped and pasted file lists arrive in order, the list shows
// the document's rows, background and title, and closing asks the
// document.
#include <windows.h>
#include <commctrl.h>
#include <ole2.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "ui/win32/main_frame_win32.h"
#include "ui/win32_gui.h"

namespace crx {
namespace {

using ui::FrameCommand;

class ScriptedDocument : public ui::MainFrameDocument {
 public:
  bool Enabled(FrameCommand command, bool clipboard_has_files) override {
    if (command == FrameCommand::kPaste) return paste_enabled && clipboard_has_files;
    auto it = enabled.find(command);
    return it == enabled.end() ? true : it->second;
  }
  bool Checked(FrameCommand command) override { return checked[command]; }
  void Run(FrameCommand command) override { runs.push_back(command); }
  void Drop(const std::vector<std::string>& paths) override { dropped = paths; }
  void Paste(const std::vector<std::string>& paths) override { pasted = paths; }
  bool CloseRequested() override {
    ++close_questions;
    return may_close;
  }
  std::vector<ui::FrameRow> Rows() override { return rows; }
  bool ViewWhite() override { return white; }
  std::string Title() override { return title; }
  void SortBy(int column) override { sorted_by.push_back(column); }

  std::map<FrameCommand, bool> enabled;
  std::map<FrameCommand, bool> checked;
  bool paste_enabled = true;
  std::vector<FrameCommand> runs;
  std::vector<std::string> dropped;
  std::vector<std::string> pasted;
  int close_questions = 0;
  bool may_close = false;
  std::vector<ui::FrameRow> rows;
  bool white = true;
  std::string title;
  std::vector<int> sorted_by;
};

// The thread has OLE while a test runs, as the builder's thread has: the
// list registers as a drop target.
class OleOn {
 public:
  OleOn() : result_(::OleInitialize(nullptr)) {}
  ~OleOn() {
    if (SUCCEEDED(result_)) ::OleUninitialize();
  }

 private:
  HRESULT result_;
};

std::string Caption(HWND window) {
  char text[512] = {};
  ::GetWindowTextA(window, text, sizeof text);
  return text;
}

// Every popup of the menu bar, as the window prepares it when it opens.
void OpenAllMenus(HWND window) {
  HMENU bar = ::GetMenu(window);
  for (int i = 0; i < ::GetMenuItemCount(bar); ++i) {
    ::SendMessageA(window, WM_INITMENUPOPUP, reinterpret_cast<WPARAM>(::GetSubMenu(bar, i)),
                   MAKELPARAM(i, 0));
  }
}

UINT State(HWND window, FrameCommand command) {
  return ::GetMenuState(::GetMenu(window), static_cast<UINT>(command), MF_BYCOMMAND);
}

std::string ItemText(HMENU menu, int position) {
  char text[256] = {};
  ::GetMenuStringA(menu, static_cast<UINT>(position), text, sizeof text, MF_BYPOSITION);
  return text;
}

void Pump() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

HGLOBAL FileList(const std::vector<std::string>& paths) {
  size_t bytes = sizeof(DROPFILES) + 1;
  for (const std::string& p : paths) bytes += p.size() + 1;
  HGLOBAL memory = ::GlobalAlloc(GMEM_MOVEABLE | GMEM_ZEROINIT, bytes);
  char* base = static_cast<char*>(::GlobalLock(memory));
  reinterpret_cast<DROPFILES*>(base)->pFiles = sizeof(DROPFILES);
  char* at = base + sizeof(DROPFILES);
  for (const std::string& p : paths) {
    std::memcpy(at, p.c_str(), p.size() + 1);
    at += p.size() + 1;
  }
  ::GlobalUnlock(memory);
  return memory;
}

TEST(MainFrame, MenusShowTheDocumentsRulesEachTimeTheyOpen) {
  SKIP_WITHOUT_DESKTOP();
  OleOn ole;
  ScriptedDocument doc;
  ui::MainFrame frame;
  ASSERT_TRUE(frame.Create(doc, SW_SHOWNOACTIVATE));
  HWND window = static_cast<HWND>(frame.Handle());

  HMENU bar = ::GetMenu(window);
  ASSERT_EQ(::GetMenuItemCount(bar), 4);
  EXPECT_EQ(ItemText(bar, 0), "&File");
  EXPECT_EQ(ItemText(bar, 1), "&Options");
  EXPECT_EQ(ItemText(bar, 2), "&Edit");
  EXPECT_EQ(ItemText(bar, 3), "&Help");
  EXPECT_EQ(ItemText(::GetSubMenu(bar, 0), 0), "&New Archive\tCtrl+N");
  EXPECT_EQ(ItemText(::GetSubMenu(bar, 0), ::GetMenuItemCount(::GetSubMenu(bar, 0)) - 1),
            "E&xit");

  // Setup archive ticked with flatten; encryption on, compress ticked and
  // greyed: what the document says is what the menus show.
  doc.enabled[FrameCommand::kNewArchive] = false;
  doc.enabled[FrameCommand::kCompress] = false;
  doc.checked[FrameCommand::kSetupArchive] = true;
  doc.checked[FrameCommand::kFlatten] = true;
  doc.checked[FrameCommand::kEncrypt] = true;
  doc.checked[FrameCommand::kCompress] = true;
  OpenAllMenus(window);
  EXPECT_TRUE(State(window, FrameCommand::kNewArchive) & MF_GRAYED);
  EXPECT_FALSE(State(window, FrameCommand::kScript) & MF_GRAYED);
  EXPECT_TRUE(State(window, FrameCommand::kCompress) & MF_GRAYED);
  EXPECT_TRUE(State(window, FrameCommand::kCompress) & MF_CHECKED);
  EXPECT_TRUE(State(window, FrameCommand::kSetupArchive) & MF_CHECKED);
  EXPECT_TRUE(State(window, FrameCommand::kFlatten) & MF_CHECKED);
  EXPECT_FALSE(State(window, FrameCommand::kPasswordOnly) & MF_CHECKED);
  // Commands are not toggles: no check mark, whatever Checked says.
  doc.checked[FrameCommand::kSaveArchive] = true;
  // Paste needs files on the clipboard as well as the document's consent.
  if (::OpenClipboard(window)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }
  OpenAllMenus(window);
  EXPECT_TRUE(State(window, FrameCommand::kPaste) & MF_GRAYED);
  EXPECT_FALSE(State(window, FrameCommand::kSaveArchive) & MF_CHECKED);

  // The rules change (the archive is saved): the next opening shows it.
  doc.enabled[FrameCommand::kNewArchive] = true;
  doc.checked[FrameCommand::kSetupArchive] = false;
  OpenAllMenus(window);
  EXPECT_FALSE(State(window, FrameCommand::kNewArchive) & MF_GRAYED);
  EXPECT_FALSE(State(window, FrameCommand::kSetupArchive) & MF_CHECKED);
  // The hidden test item is not on the menu while Shift is up.
  EXPECT_EQ(State(window, FrameCommand::kGetOffset), static_cast<UINT>(-1));
}

TEST(MainFrame, CommandsTheDocumentRefusesNeverReachIt) {
  SKIP_WITHOUT_DESKTOP();
  OleOn ole;
  ScriptedDocument doc;
  ui::MainFrame frame;
  ASSERT_TRUE(frame.Create(doc, SW_SHOWNOACTIVATE));
  HWND window = static_cast<HWND>(frame.Handle());
  doc.enabled[FrameCommand::kAddFolder] = false;
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(static_cast<int>(FrameCommand::kAddFolder), 1),
                 0);  // the Ctrl+O accelerator
  EXPECT_TRUE(doc.runs.empty());
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(static_cast<int>(FrameCommand::kNewArchive), 0),
                 0);
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(static_cast<int>(FrameCommand::kEncrypt), 0), 0);
  EXPECT_EQ(doc.runs, (std::vector<FrameCommand>{FrameCommand::kNewArchive,
                                                 FrameCommand::kEncrypt}));

  // The toolbar in its order with its gaps, and the tool tips.
  HWND toolbar = ::FindWindowExA(window, nullptr, TOOLBARCLASSNAMEA, nullptr);
  ASSERT_NE(toolbar, nullptr);
  const int count = static_cast<int>(::SendMessageA(toolbar, TB_BUTTONCOUNT, 0, 0));
  std::vector<int> order;
  for (int i = 0; i < count; ++i) {
    TBBUTTON button = {};
    ::SendMessageA(toolbar, TB_GETBUTTON, static_cast<WPARAM>(i),
                   reinterpret_cast<LPARAM>(&button));
    order.push_back((button.fsStyle & BTNS_SEP) ? 0 : button.idCommand);
  }
  auto id = [](FrameCommand c) { return static_cast<int>(c); };
  EXPECT_EQ(order, (std::vector<int>{id(FrameCommand::kNewArchive), id(FrameCommand::kAddFolder),
                                     id(FrameCommand::kAddFiles), id(FrameCommand::kSaveArchive),
                                     0, id(FrameCommand::kScript), 0, id(FrameCommand::kBrowse), 0,
                                     id(FrameCommand::kAbout)}));
  EXPECT_EQ(ui::ToolTip(FrameCommand::kScript), "run script");
  EXPECT_EQ(ui::ToolTip(FrameCommand::kQuitProcessing), "quit processing");
  EXPECT_EQ(ui::ToolTip(FrameCommand::kPaste), "");
  // The toolbar follows the rules too (brought up to date with the view).
  frame.Refresh();
  EXPECT_FALSE(::SendMessageA(toolbar, TB_ISBUTTONENABLED, id(FrameCommand::kAddFolder), 0));
  EXPECT_TRUE(::SendMessageA(toolbar, TB_ISBUTTONENABLED, id(FrameCommand::kNewArchive), 0));

  // A highlighted item shows its prompt; leaving the menu brings back the
  // engine's last text.
  frame.SetStatus("create archive...");
  ::SendMessageA(window, WM_ENTERMENULOOP, 0, 0);
  ::SendMessageA(window, WM_MENUSELECT,
                 MAKEWPARAM(static_cast<int>(FrameCommand::kSaveArchive), MF_HILITE),
                 reinterpret_cast<LPARAM>(::GetMenu(window)));
  EXPECT_EQ(frame.StatusText(), "Save and close the archive");
  frame.SetStatus("C:\\work\\a.txt");  // the engine goes on meanwhile
  EXPECT_EQ(frame.StatusText(), "Save and close the archive");
  ::SendMessageA(window, WM_EXITMENULOOP, 0, 0);
  EXPECT_EQ(frame.StatusText(), "C:\\work\\a.txt");
}

TEST(MainFrame, ListsRowsAndHandsDroppedAndPastedFilesOver) {
  SKIP_WITHOUT_DESKTOP();
  OleOn ole;
  ScriptedDocument doc;
  doc.rows = {{"docs\\a.txt", "8/12/2026 9:5", "1200", "300"},
              {"b.bin", "1/1/2026 0:0", "7", "0"}};
  doc.title = "C:\\out\\crx.exe";
  ui::MainFrame frame;
  ASSERT_TRUE(frame.Create(doc, SW_SHOWNOACTIVATE));
  HWND window = static_cast<HWND>(frame.Handle());
  EXPECT_EQ(Caption(window), "C:\\out\\crx.exe - Cratex");
  HWND view = ::FindWindowExA(window, nullptr, WC_LISTVIEWA, nullptr);
  ASSERT_NE(view, nullptr);
  ASSERT_EQ(::SendMessageA(view, LVM_GETITEMCOUNT, 0, 0), 2);
  char text[256] = {};
  LVITEMA item = {};
  item.iSubItem = 3;
  item.pszText = text;
  item.cchTextMax = sizeof text;
  ::SendMessageA(view, LVM_GETITEMTEXTA, 0, reinterpret_cast<LPARAM>(&item));
  EXPECT_STREQ(text, "300");
  EXPECT_EQ(::SendMessageA(view, LVM_GETBKCOLOR, 0, 0), RGB(255, 255, 255));
  LVCOLUMNA column = {};
  column.mask = LVCF_FMT | LVCF_WIDTH;
  ::SendMessageA(view, LVM_GETCOLUMNA, 2, reinterpret_cast<LPARAM>(&column));
  EXPECT_EQ(column.fmt & LVCFMT_JUSTIFYMASK, LVCFMT_RIGHT);
  EXPECT_EQ(column.cx, 80);

  // Saved: grey, untitled; the view empties when the document's rows do.
  doc.white = false;
  doc.title.clear();
  doc.rows.clear();
  frame.Refresh();
  EXPECT_EQ(::SendMessageA(view, LVM_GETBKCOLOR, 0, 0), RGB(192, 192, 192));
  EXPECT_EQ(Caption(window), "Untitled - Cratex");
  EXPECT_EQ(::SendMessageA(view, LVM_GETITEMCOUNT, 0, 0), 0);

  // A heading click sorts through the document.
  NMLISTVIEW click = {};
  click.hdr.hwndFrom = view;
  click.hdr.idFrom = static_cast<UINT_PTR>(::GetDlgCtrlID(view));
  click.hdr.code = LVN_COLUMNCLICK;
  click.iItem = -1;
  click.iSubItem = 2;
  ::SendMessageA(window, WM_NOTIFY, click.hdr.idFrom, reinterpret_cast<LPARAM>(&click));
  EXPECT_EQ(doc.sorted_by, std::vector<int>{2});

  // A drop keeps its order, folders and files alike.
  const std::vector<std::string> paths = {"C:\\src\\tree", "C:\\src\\one.txt",
                                          "C:\\src\\two.txt"};
  ASSERT_TRUE(::PostMessageA(window, WM_DROPFILES, reinterpret_cast<WPARAM>(FileList(paths)), 0));
  Pump();
  EXPECT_EQ(doc.dropped, paths);
  // The list is the OLE drop target; what it takes reaches the document
  // from the window's own message, after the drop has returned.
  // (The system keeps a registered target as this window property.)
  EXPECT_NE(::GetPropA(view, "OleDropTargetInterface"), nullptr);
  doc.dropped.clear();
  frame.QueueDrop({"C:\\ole\\a.txt"});
  EXPECT_TRUE(doc.dropped.empty());
  Pump();
  EXPECT_EQ(doc.dropped, std::vector<std::string>{"C:\\ole\\a.txt"});

  // Paste takes the clipboard's file list.
  ASSERT_TRUE(::OpenClipboard(window));
  ::EmptyClipboard();
  ASSERT_NE(::SetClipboardData(CF_HDROP, FileList({"C:\\p\\x.dat", "C:\\p\\sub"})), nullptr);
  ::CloseClipboard();
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(static_cast<int>(FrameCommand::kPaste), 0), 0);
  EXPECT_EQ(doc.pasted, (std::vector<std::string>{"C:\\p\\x.dat", "C:\\p\\sub"}));
  if (::OpenClipboard(window)) {
    ::EmptyClipboard();
    ::CloseClipboard();
  }

  // Closing asks the document; a refusal keeps the window.
  ::SendMessageA(window, WM_CLOSE, 0, 0);
  EXPECT_EQ(doc.close_questions, 1);
  EXPECT_TRUE(::IsWindow(window));
  doc.may_close = true;
  ::SendMessageA(window, WM_COMMAND, MAKEWPARAM(static_cast<int>(FrameCommand::kExit), 0), 0);
  Pump();
  EXPECT_EQ(doc.close_questions, 2);
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_EQ(frame.Handle(), nullptr);
}

// A literal with its inner NULs, without the one the compiler adds.
template <size_t N>
std::string Bytes(const char (&text)[N]) {
  return std::string(text, N - 1);
}

TEST(MainFrame, FileDialogFiltersAndMultipleSelections) {
  EXPECT_EQ(ui::DialogFilter("script file (*.txt)|*.txt||"),
            Bytes("script file (*.txt)\0*.txt\0All files (*.*)\0*.*\0\0"));
  EXPECT_EQ(ui::DialogFilter("self extracting archive (*.exe)|*.exe|other (*.x)|*.x||"),
            Bytes("self extracting archive (*.exe)\0*.exe\0other (*.x)\0*.x\0"
                  "All files (*.*)\0*.*\0\0"));
  EXPECT_EQ(ui::DialogFilter("Cratex file (*.exe)"),
            Bytes("Cratex file (*.exe)\0*.exe\0All files (*.*)\0*.*\0\0"));
  // One file: the full path as it stands.
  const char one[] = "C:\\a\\b.txt\0\0";
  EXPECT_EQ(ui::SelectedFiles(one, sizeof one), std::vector<std::string>{"C:\\a\\b.txt"});
  // Several: the folder, then the names in the order given.
  const char many[] = "C:\\a\0z.txt\0b.txt\0\0";
  EXPECT_EQ(ui::SelectedFiles(many, sizeof many),
            (std::vector<std::string>{"C:\\a\\z.txt", "C:\\a\\b.txt"}));
  // A drive's root already ends with its back-slash.
  const char root[] = "C:\\\0x\0y\0\0";
  EXPECT_EQ(ui::SelectedFiles(root, sizeof root),
            (std::vector<std::string>{"C:\\x", "C:\\y"}));
  const char none[] = "\0\0";
  EXPECT_TRUE(ui::SelectedFiles(none, sizeof none).empty());
}

}  // namespace
}  // namespace crx
