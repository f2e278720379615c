#include "ui/win32/main_frame_win32.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <ole2.h>
#include <shellapi.h>

#include <cstring>
#include <iterator>

#include "ui/win32/dialog_template.h"
#include "ui/win32/window_class.h"

namespace crx::ui {

namespace {

constexpr int kViewId = 100;
constexpr int kToolbarId = 101;
constexpr int kStatusBarId = 102;
constexpr UINT_PTR kToolbarTimer = 1;
// Hands a file list taken by the drop target to the document.
constexpr UINT kQueuedDropMessage = WM_APP + 1;
constexpr COLORREF kWhite = RGB(255, 255, 255);
constexpr COLORREF kGrey = RGB(192, 192, 192);
// The caption's document part while no archive or script names it.
constexpr const char* kUntitled = "Untitled";
constexpr const char* kReady = "Ready";

HWND AsWindow(void* handle) { return static_cast<HWND>(handle); }
int Id(FrameCommand command) { return static_cast<int>(command); }

struct PromptEntry {
  FrameCommand command;
  const char* prompt;
};

const PromptEntry kPrompts[] = {
    {FrameCommand::kNewArchive, "Create a new archive\nnew archive"},
    {FrameCommand::kAddFolder, "Add a folder to the archive\nadd folder"},
    {FrameCommand::kAddFiles, "Add files to the archive\nadd files"},
    {FrameCommand::kScript, "process an archive script fiile\nrun script"},
    {FrameCommand::kSaveArchive, "Save and close the archive\nsave"},
    {FrameCommand::kAbortArchive, "Abort the archive\nabort"},
    {FrameCommand::kBrowse, "Browse and optionaly extract files from an archive\nbrowse"},
    {FrameCommand::kPaste, "Paste files and directories from the clipboard into the archive"},
    {FrameCommand::kCompress, "Save files in the archive in compressed format"},
    {FrameCommand::kSubdirectories, "Include all subdirectories in the archive"},
    {FrameCommand::kProjectBackup, "Exclude VC++ compiler generated  files from the archive"},
    {FrameCommand::kVerify, "Read the archive after createion to ensure it is valid"},
    {FrameCommand::kSetupArchive,
     "Automatically run a setup program after the archive is extracted"},
    {FrameCommand::kFlatten,
     "Store files on the archive with a filename only, and not a full pathname"},
    {FrameCommand::kEncrypt, "Set a password and encrypt files stored on the archive"},
    {FrameCommand::kPasswordOnly,
     "Protect the archive with a password, but do not encrypt files"},
    {FrameCommand::kQuitProcessing, "Quit current processing archive\nquit processing"},
    {FrameCommand::kPreferences, "Set application preferences"},
    // The framework's own commands carry prompts of the same kind.
    {FrameCommand::kExit, "Quit the application; prompts to save the archive\nexit"},
    {FrameCommand::kAbout, "Display program information, version number and copyright\nabout"},
    {FrameCommand::kDocumentation, "Open the builder's documentation"},
    {FrameCommand::kGetOffset, "Measure the stubs of the build tree"},
};

// One entry of a menu: a command with its label, or a separator (label
// null).
struct MenuEntry {
  FrameCommand command;
  const char* label;
};

constexpr MenuEntry kSeparator = {FrameCommand::kExit, nullptr};

const MenuEntry kFileMenu[] = {
    {FrameCommand::kNewArchive, "&New Archive\tCtrl+N"},
    {FrameCommand::kScript, "Create Archive using s&cript-file"},
    kSeparator,
    {FrameCommand::kAddFolder, "Add &Folder\tCtrl+O"},
    {FrameCommand::kAddFiles, "Add F&iles"},
    {FrameCommand::kSaveArchive, "&Save Archive\tCtrl+S"},
    {FrameCommand::kAbortArchive, "A&bort Archive"},
    kSeparator,
    {FrameCommand::kBrowse, "&Extract/Browse Archive"},
    kSeparator,
    {FrameCommand::kExit, "E&xit"},
};

const MenuEntry kOptionsMenu[] = {
    {FrameCommand::kSetupArchive, "&Generate Installation/Setup Archive"},
    {FrameCommand::kCompress, "&Compress Files"},
    {FrameCommand::kSubdirectories, "&Include Subdirectories"},
    {FrameCommand::kProjectBackup, "&Project Backup Mode"},
    {FrameCommand::kVerify, "&Verify Archive After Creation"},
    {FrameCommand::kFlatten, "&Flatten folder hierarchy"},
    {FrameCommand::kMinimize, "&Minimize output archive size"},
    {FrameCommand::kEncrypt, "&Encrypt / Password Protect"},
    {FrameCommand::kPasswordOnly, "Password Protect - &no encryption"},
    kSeparator,
    {FrameCommand::kQuitProcessing, "&Quit Processing"},
};

const MenuEntry kEditMenu[] = {
    {FrameCommand::kPaste, "&Paste\tCtrl+V"},
    kSeparator,
    {FrameCommand::kPreferences, "P&references"},
};

const MenuEntry kHelpMenu[] = {
    {FrameCommand::kDocumentation, "&Documentation..."},
    {FrameCommand::kAbout, "&About Cratex..."},
};

// The hidden test item: shown at the end of the Help menu only when the
// menu is opened with Shift held down.
constexpr const char* kGetOffsetLabel = "&Test - Get Offset";

// The options that show a check mark while on.
const FrameCommand kToggles[] = {
    FrameCommand::kSetupArchive, FrameCommand::kCompress,  FrameCommand::kSubdirectories,
    FrameCommand::kProjectBackup, FrameCommand::kVerify,   FrameCommand::kFlatten,
    FrameCommand::kMinimize,     FrameCommand::kEncrypt,   FrameCommand::kPasswordOnly,
};

bool IsToggle(int id) {
  for (FrameCommand command : kToggles) {
    if (Id(command) == id) return true;
  }
  return false;
}

bool IsCommand(int id) {
  return id >= Id(FrameCommand::kNewArchive) && id <= Id(FrameCommand::kGetOffset);
}

// The toolbar in its order; a zero command is a gap.
struct ToolEntry {
  int command;
  int image;  // index into the toolbar's image list; see CreateToolbar
};

HMENU BuildPopup(const MenuEntry* entries, size_t count) {
  HMENU popup = ::CreatePopupMenu();
  for (size_t i = 0; i < count; ++i) {
    if (entries[i].label == nullptr) {
      ::AppendMenuA(popup, MF_SEPARATOR, 0, nullptr);
    } else {
      ::AppendMenuA(popup, MF_STRING, static_cast<UINT_PTR>(Id(entries[i].command)),
                    entries[i].label);
    }
  }
  return popup;
}

HMENU BuildMenuBar() {
  HMENU bar = ::CreateMenu();
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(kFileMenu, std::size(kFileMenu))),
                "&File");
  ::AppendMenuA(bar, MF_POPUP,
                reinterpret_cast<UINT_PTR>(BuildPopup(kOptionsMenu, std::size(kOptionsMenu))),
                "&Options");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(kEditMenu, std::size(kEditMenu))),
                "&Edit");
  ::AppendMenuA(bar, MF_POPUP, reinterpret_cast<UINT_PTR>(BuildPopup(kHelpMenu, std::size(kHelpMenu))),
                "&Help");
  return bar;
}

HACCEL BuildAccelerators() {
  ACCEL keys[] = {
      {FVIRTKEY | FCONTROL, 'N', static_cast<WORD>(Id(FrameCommand::kNewArchive))},
      {FVIRTKEY | FCONTROL, 'O', static_cast<WORD>(Id(FrameCommand::kAddFolder))},
      {FVIRTKEY | FCONTROL, 'S', static_cast<WORD>(Id(FrameCommand::kSaveArchive))},
      {FVIRTKEY | FCONTROL, 'V', static_cast<WORD>(Id(FrameCommand::kPaste))},
  };
  return ::CreateAcceleratorTableA(keys, static_cast<int>(std::size(keys)));
}

bool RegisterFrameClass(HINSTANCE instance) {
  return RegisterWindowClass(instance, MainFrame::kClassName, RoutedWindowProc<MainFrame>,
                             COLOR_BTNFACE);
}

// The paths of a dropped or pasted file list, in order.
std::vector<std::string> DropPaths(HDROP drop) {
  std::vector<std::string> paths;
  const UINT count = ::DragQueryFileA(drop, 0xFFFFFFFF, nullptr, 0);
  for (UINT i = 0; i < count; ++i) {
    const UINT length = ::DragQueryFileA(drop, i, nullptr, 0);
    if (length == 0) continue;
    std::string path(static_cast<size_t>(length) + 1, '\0');
    const UINT got = ::DragQueryFileA(drop, i, &path[0], length + 1);
    path.resize(got);
    if (!path.empty()) paths.push_back(path);
  }
  return paths;
}

bool HasFileList(IDataObject* data) {
  FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
  return data != nullptr && data->QueryGetData(&format) == S_OK;
}

// The view's drop target: file lists are copied onto the archive.
class ViewDropTarget final : public IDropTarget {
 public:
  explicit ViewDropTarget(MainFrame& frame) : frame_(frame) {}

  STDMETHODIMP QueryInterface(REFIID riid, void** out) override {
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDropTarget)) {
      *out = static_cast<IDropTarget*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
  STDMETHODIMP_(ULONG) Release() override {
    const LONG left = --refs_;
    if (left == 0) delete this;
    return static_cast<ULONG>(left);
  }

  STDMETHODIMP DragEnter(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    files_ = HasFileList(data);
    *effect = files_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
    return S_OK;
  }
  STDMETHODIMP DragOver(DWORD, POINTL, DWORD* effect) override {
    *effect = files_ ? DROPEFFECT_COPY : DROPEFFECT_NONE;
    return S_OK;
  }
  STDMETHODIMP DragLeave() override {
    files_ = false;
    return S_OK;
  }
  STDMETHODIMP Drop(IDataObject* data, DWORD, POINTL, DWORD* effect) override {
    files_ = false;
    *effect = DROPEFFECT_NONE;
    FORMATETC format = {CF_HDROP, nullptr, DVASPECT_CONTENT, -1, TYMED_HGLOBAL};
    STGMEDIUM medium = {};
    if (data == nullptr || data->GetData(&format, &medium) != S_OK) return S_OK;
    std::vector<std::string> paths = DropPaths(static_cast<HDROP>(medium.hGlobal));
    ::ReleaseStgMedium(&medium);
    if (paths.empty()) return S_OK;
    *effect = DROPEFFECT_COPY;
    frame_.QueueDrop(std::move(paths));
    return S_OK;
  }

 private:
  MainFrame& frame_;
  LONG refs_ = 1;
  bool files_ = false;
};

INT_PTR CALLBACK AboutProc(HWND dialog, UINT message, WPARAM wparam, LPARAM) {
  switch (message) {
    case WM_INITDIALOG:
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL) {
        ::EndDialog(dialog, LOWORD(wparam));
        return TRUE;
      }
      return FALSE;
    default:
      return FALSE;
  }
}

}  // namespace

const char* CommandPrompt(FrameCommand command) {
  for (const PromptEntry& entry : kPrompts) {
    if (entry.command == command) return entry.prompt;
  }
  return "";
}

std::string ToolTip(FrameCommand command) {
  const char* prompt = CommandPrompt(command);
  const char* line_break = std::strchr(prompt, '\n');
  return line_break ? std::string(line_break + 1) : std::string();
}

void ShowAboutBox(void* owner) {
  DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
                   0, 220, 78, "About Cratex");
  constexpr WORD kStatic = 0x0082;
  constexpr WORD kButton = 0x0080;
  constexpr WORD kNoId = 0xFFFF;
  t.Item(WS_VISIBLE | SS_ICON, 10, 10, 20, 20, kNoId, kStatic, nullptr, "");
  t.Item(WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 40, 10, 170, 10, kNoId, kStatic, nullptr,
         "Cratex Version 1.00");
  t.Item(WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 40, 22, 170, 20, kNoId, kStatic, nullptr,
         "Builds self-extracting archives and setup archives.");
  t.Item(WS_VISIBLE | SS_LEFT | SS_NOPREFIX, 40, 42, 170, 10, kNoId, kStatic, nullptr,
         "Copyright (C) Velmora");
  t.Item(WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 164, 58, 48, 14, IDOK, kButton, nullptr,
         "OK");
  ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), AsWindow(owner), AboutProc, 0);
}

std::string DialogFilter(const std::string& filter) {
  std::string out;
  if (filter.find('|') == std::string::npos) {
    // "Cratex file (*.exe)": the pattern is what the parentheses hold.
    std::string pattern = "*.*";
    const size_t open = filter.rfind('(');
    const size_t close = filter.rfind(')');
    if (open != std::string::npos && close != std::string::npos && close > open + 1) {
      pattern = filter.substr(open + 1, close - open - 1);
    }
    if (!filter.empty()) {
      out = filter;
      out.push_back('\0');
      out += pattern;
      out.push_back('\0');
    }
  } else {
    // "a|b|c|d||": every bar ends a part; the empty part ends the list.
    size_t start = 0;
    while (start < filter.size()) {
      size_t bar = filter.find('|', start);
      if (bar == std::string::npos) bar = filter.size();
      if (bar == start) break;
      out.append(filter, start, bar - start);
      out.push_back('\0');
      start = bar + 1;
    }
  }
  // "All files" keeps every other file reachable.
  out += "All files (*.*)";
  out.push_back('\0');
  out += "*.*";
  out.push_back('\0');
  out.push_back('\0');
  return out;
}

std::vector<std::string> SelectedFiles(const char* buffer, size_t size) {
  std::vector<std::string> parts;
  size_t at = 0;
  while (at < size && buffer[at] != '\0') {
    size_t end = at;
    while (end < size && buffer[end] != '\0') ++end;
    parts.emplace_back(buffer + at, end - at);
    at = end + 1;
  }
  if (parts.size() <= 1) return parts;
  // A folder, then the names chosen in it.
  std::string folder = parts[0];
  if (!folder.empty() && folder.back() != '\\') folder.push_back('\\');
  std::vector<std::string> files;
  for (size_t i = 1; i < parts.size(); ++i) files.push_back(folder + parts[i]);
  return files;
}

namespace {

// Runs one of the two file dialogs. The buffer holds the proposed name and
// takes a selection of many files: the dialog refuses selections that do
// not fit, so it is far larger than one path.
bool RunFileDialog(bool save, bool multiple, void* owner, const std::string& title,
                   const std::string& filter, const std::string& default_extension,
                   const std::string& proposed, std::vector<char>* buffer) {
  buffer->assign(multiple ? 65536 : MAX_PATH * 4, '\0');
  if (proposed.size() < buffer->size() - 1) {
    std::memcpy(buffer->data(), proposed.data(), proposed.size());
  }
  const std::string filters = DialogFilter(filter);
  std::string extension = default_extension;
  if (!extension.empty() && extension[0] == '.') extension.erase(0, 1);
  OPENFILENAMEA ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = AsWindow(owner);
  ofn.lpstrFilter = filters.c_str();
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = buffer->data();
  ofn.nMaxFile = static_cast<DWORD>(buffer->size());
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrDefExt = extension.empty() ? nullptr : extension.c_str();
  ofn.Flags = OFN_EXPLORER | OFN_HIDEREADONLY | OFN_NOCHANGEDIR;
  if (save) {
    ofn.Flags |= OFN_OVERWRITEPROMPT | OFN_PATHMUSTEXIST;
    return ::GetSaveFileNameA(&ofn) != 0;
  }
  ofn.Flags |= OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST;
  if (multiple) ofn.Flags |= OFN_ALLOWMULTISELECT;
  return ::GetOpenFileNameA(&ofn) != 0;
}

}  // namespace

bool ShowSaveFileDialog(void* owner, const std::string& title, const std::string& filter,
                        const std::string& default_extension, std::string* path) {
  std::vector<char> buffer;
  if (!RunFileDialog(true, false, owner, title, filter, default_extension, *path, &buffer)) {
    return false;
  }
  *path = buffer.data();
  return !path->empty();
}

bool ShowOpenFileDialog(void* owner, const std::string& title, const std::string& filter,
                        const std::string& default_extension, std::string* path) {
  std::vector<char> buffer;
  if (!RunFileDialog(false, false, owner, title, filter, default_extension, *path, &buffer)) {
    return false;
  }
  *path = buffer.data();
  return !path->empty();
}

bool ShowOpenFilesDialog(void* owner, const std::string& title, const std::string& filter,
                         std::vector<std::string>* paths) {
  std::vector<char> buffer;
  if (!RunFileDialog(false, true, owner, title, filter, std::string(), std::string(), &buffer)) {
    return false;
  }
  *paths = SelectedFiles(buffer.data(), buffer.size());
  return !paths->empty();
}

MainFrame::~MainFrame() {
  if (window_ != nullptr && ::IsWindow(AsWindow(window_))) {
    RevokeDropTarget();
    ::SetWindowLongPtrA(AsWindow(window_), GWLP_USERDATA, 0);
    ::DestroyWindow(AsWindow(window_));
  }
  if (accelerators_ != nullptr) ::DestroyAcceleratorTable(static_cast<HACCEL>(accelerators_));
}

bool MainFrame::Create(MainFrameDocument& document, int show_command) {
  document_ = &document;
  INITCOMMONCONTROLSEX controls = {};
  controls.dwSize = sizeof controls;
  controls.dwICC = ICC_BAR_CLASSES | ICC_LISTVIEW_CLASSES;
  ::InitCommonControlsEx(&controls);

  HINSTANCE instance = ::GetModuleHandleA(nullptr);
  if (!RegisterFrameClass(instance)) return false;
  const std::string caption = std::string(kUntitled) + " - " + kApplication;
  HWND window = ::CreateWindowExA(0, kClassName, caption.c_str(), WS_OVERLAPPEDWINDOW,
                                  CW_USEDEFAULT, CW_USEDEFAULT, 720, 460, nullptr,
                                  BuildMenuBar(), instance, this);
  if (window == nullptr) return false;
  window_ = window;
  accelerators_ = BuildAccelerators();
  CreateToolbar();
  status_ = kReady;
  status_bar_ = ::CreateWindowExA(0, STATUSCLASSNAMEA, kReady,
                                  WS_CHILD | WS_VISIBLE | SBARS_SIZEGRIP, 0, 0, 0, 0, window,
                                  reinterpret_cast<HMENU>(static_cast<INT_PTR>(kStatusBarId)),
                                  instance, nullptr);
  if (!CreateView()) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
    ::DestroyWindow(window);
    window_ = nullptr;
    return false;
  }
  // Files dropped anywhere on the window, the list included, arrive as
  // WM_DROPFILES from programs that drop the older way; the list's drop
  // target takes the others and shows the copy effect while they are over
  // it.
  ::DragAcceptFiles(window, TRUE);
  RegisterDropTarget();
  ::SetTimer(window, kToolbarTimer, 250, nullptr);
  LayOut();
  Refresh();
  ::ShowWindow(window, show_command);
  ::UpdateWindow(window);
  return true;
}

void MainFrame::CreateToolbar() {
  HWND window = AsWindow(window_);
  HWND bar = ::CreateWindowExA(0, TOOLBARCLASSNAMEA, nullptr,
                               WS_CHILD | WS_VISIBLE | TBSTYLE_FLAT | TBSTYLE_TOOLTIPS |
                                   CCS_TOP,
                               0, 0, 0, 0, window,
                               reinterpret_cast<HMENU>(static_cast<INT_PTR>(kToolbarId)),
                               ::GetModuleHandleA(nullptr), nullptr);
  if (bar == nullptr) return;
  toolbar_ = bar;
  ::SendMessageA(bar, TB_BUTTONSTRUCTSIZE, sizeof(TBBUTTON), 0);
  // The system's small images: the standard set first, then the view set
  // (for the folder).
  TBADDBITMAP standard = {HINST_COMMCTRL, IDB_STD_SMALL_COLOR};
  const int std_base = static_cast<int>(
      ::SendMessageA(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&standard)));
  TBADDBITMAP view = {HINST_COMMCTRL, IDB_VIEW_SMALL_COLOR};
  const int view_base = static_cast<int>(
      ::SendMessageA(bar, TB_ADDBITMAP, 0, reinterpret_cast<LPARAM>(&view)));
  const ToolEntry tools[] = {
      {Id(FrameCommand::kNewArchive), std_base + STD_FILENEW},
      {Id(FrameCommand::kAddFolder), view_base + VIEW_NEWFOLDER},
      {Id(FrameCommand::kAddFiles), std_base + STD_FILEOPEN},
      {Id(FrameCommand::kSaveArchive), std_base + STD_FILESAVE},
      {0, 0},
      {Id(FrameCommand::kScript), std_base + STD_PROPERTIES},
      {0, 0},
      {Id(FrameCommand::kBrowse), std_base + STD_FIND},
      {0, 0},
      {Id(FrameCommand::kAbout), std_base + STD_HELP},
  };
  TBBUTTON buttons[std::size(tools)] = {};
  for (size_t i = 0; i < std::size(tools); ++i) {
    if (tools[i].command == 0) {
      buttons[i].fsStyle = BTNS_SEP;
    } else {
      buttons[i].iBitmap = tools[i].image;
      buttons[i].idCommand = tools[i].command;
      buttons[i].fsState = TBSTATE_ENABLED;
      buttons[i].fsStyle = BTNS_BUTTON;
    }
  }
  ::SendMessageA(bar, TB_ADDBUTTONSA, std::size(buttons), reinterpret_cast<LPARAM>(buttons));
  ::SendMessageA(bar, TB_AUTOSIZE, 0, 0);
}

bool MainFrame::CreateView() {
  HWND window = AsWindow(window_);
  HWND view = ::CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "",
                                WS_CHILD | WS_VISIBLE | WS_TABSTOP | LVS_REPORT |
                                    LVS_SHOWSELALWAYS,
                                0, 0, 100, 100, window,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(kViewId)),
                                ::GetModuleHandleA(nullptr), nullptr);
  if (view == nullptr) return false;
  view_ = view;
  ::SendMessageA(view, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  RECT client;
  ::GetClientRect(window, &client);
  const struct {
    const char* heading;
    int width;
    int format;
  } columns[] = {{"file", (client.right - client.left) - 310, LVCFMT_LEFT},
                 {"modtime", 160, LVCFMT_LEFT},
                 {"size", 80, LVCFMT_RIGHT},
                 {"zsize", 70, LVCFMT_RIGHT}};
  for (int i = 0; i < 4; ++i) {
    LVCOLUMNA c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
    c.fmt = columns[i].format;
    c.cx = columns[i].width > 40 ? columns[i].width : 40;
    c.pszText = const_cast<char*>(columns[i].heading);
    c.iSubItem = i;
    if (::SendMessageA(view, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                       reinterpret_cast<LPARAM>(&c)) < 0) {
      ::MessageBoxA(window, "column insert error", kApplication, MB_OK | MB_ICONSTOP);
      return false;
    }
  }
  return true;
}

void MainFrame::LayOut() {
  if (window_ == nullptr) return;
  HWND window = AsWindow(window_);
  RECT client;
  ::GetClientRect(window, &client);
  int top = 0;
  int bottom = client.bottom;
  if (toolbar_ != nullptr) {
    ::SendMessageA(AsWindow(toolbar_), TB_AUTOSIZE, 0, 0);
    RECT r;
    ::GetWindowRect(AsWindow(toolbar_), &r);
    top = r.bottom - r.top;
  }
  if (status_bar_ != nullptr) {
    ::SendMessageA(AsWindow(status_bar_), WM_SIZE, 0, 0);
    RECT r;
    ::GetWindowRect(AsWindow(status_bar_), &r);
    bottom -= r.bottom - r.top;
  }
  if (view_ != nullptr) {
    const int width = client.right - client.left;
    ::MoveWindow(AsWindow(view_), 0, top, width, bottom > top ? bottom - top : 0, TRUE);
    // The name column takes what the three fixed columns leave of the
    // list's inside.
    RECT inside;
    ::GetClientRect(AsWindow(view_), &inside);
    const int name_width = (inside.right - inside.left) - 310;
    ::SendMessageA(AsWindow(view_), LVM_SETCOLUMNWIDTH, 0, name_width > 40 ? name_width : 40);
  }
}

void MainFrame::Refresh() {
  if (window_ == nullptr || document_ == nullptr) return;
  FillView();
  UpdateTitle();
  UpdateToolbar();
}

void MainFrame::FillView() {
  HWND view = AsWindow(view_);
  if (view == nullptr) return;
  const bool white = document_->ViewWhite();
  const COLORREF colour = white ? kWhite : kGrey;
  ::SendMessageA(view, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(colour));
  ::SendMessageA(view, LVM_SETTEXTBKCOLOR, 0, static_cast<LPARAM>(colour));
  white_ = white;
  const std::vector<FrameRow> rows = document_->Rows();
  ::SendMessageA(view, WM_SETREDRAW, FALSE, 0);
  ::SendMessageA(view, LVM_DELETEALLITEMS, 0, 0);
  for (size_t i = 0; i < rows.size(); ++i) {
    LVITEMA item = {};
    item.mask = LVIF_TEXT;
    item.iItem = static_cast<int>(i);
    item.pszText = const_cast<char*>(rows[i].name.c_str());
    const int at = static_cast<int>(
        ::SendMessageA(view, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    if (at < 0) continue;
    const std::string* texts[] = {&rows[i].modtime, &rows[i].size, &rows[i].zsize};
    for (int column = 1; column <= 3; ++column) {
      LVITEMA sub = {};
      sub.iSubItem = column;
      sub.pszText = const_cast<char*>(texts[column - 1]->c_str());
      ::SendMessageA(view, LVM_SETITEMTEXTA, static_cast<WPARAM>(at),
                     reinterpret_cast<LPARAM>(&sub));
    }
  }
  ::SendMessageA(view, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(view, nullptr, TRUE);
}

void MainFrame::UpdateTitle() {
  std::string title = document_->Title();
  if (title.empty()) title = kUntitled;
  const std::string caption = title + " - " + kApplication;
  char current[1024] = {};
  ::GetWindowTextA(AsWindow(window_), current, sizeof current);
  if (caption != current) ::SetWindowTextA(AsWindow(window_), caption.c_str());
}

void MainFrame::UpdateToolbar() {
  if (toolbar_ == nullptr) return;
  const bool clipboard = ::IsClipboardFormatAvailable(CF_HDROP) != 0;
  const FrameCommand tools[] = {FrameCommand::kNewArchive, FrameCommand::kAddFolder,
                                FrameCommand::kAddFiles,   FrameCommand::kSaveArchive,
                                FrameCommand::kScript,     FrameCommand::kBrowse,
                                FrameCommand::kAbout};
  for (FrameCommand command : tools) {
    const bool enabled = document_->Enabled(command, clipboard);
    const bool shown =
        ::SendMessageA(AsWindow(toolbar_), TB_ISBUTTONENABLED, Id(command), 0) != 0;
    if (enabled != shown) {
      ::SendMessageA(AsWindow(toolbar_), TB_ENABLEBUTTON, Id(command), MAKELPARAM(enabled, 0));
    }
  }
}

void MainFrame::InitMenu(void* handle) {
  HMENU menu = static_cast<HMENU>(handle);
  // The hidden test item belongs to the Help menu while Shift is held.
  bool help_menu = false;
  const int count = ::GetMenuItemCount(menu);
  for (int i = 0; i < count; ++i) {
    if (static_cast<int>(::GetMenuItemID(menu, i)) == Id(FrameCommand::kAbout)) help_menu = true;
  }
  if (help_menu) {
    ::DeleteMenu(menu, Id(FrameCommand::kGetOffset), MF_BYCOMMAND);
    if (::GetKeyState(VK_SHIFT) < 0) {
      ::AppendMenuA(menu, MF_STRING, Id(FrameCommand::kGetOffset), kGetOffsetLabel);
    }
  }
  const bool clipboard = ::IsClipboardFormatAvailable(CF_HDROP) != 0;
  const int items = ::GetMenuItemCount(menu);
  for (int i = 0; i < items; ++i) {
    const int id = static_cast<int>(::GetMenuItemID(menu, i));
    if (!IsCommand(id)) continue;
    const FrameCommand command = static_cast<FrameCommand>(id);
    const bool enabled = document_->Enabled(command, clipboard);
    ::EnableMenuItem(menu, static_cast<UINT>(i), MF_BYPOSITION | (enabled ? MF_ENABLED : MF_GRAYED));
    if (IsToggle(id)) {
      ::CheckMenuItem(menu, static_cast<UINT>(i),
                      MF_BYPOSITION | (document_->Checked(command) ? MF_CHECKED : MF_UNCHECKED));
    }
  }
}

void MainFrame::MenuSelect(int id, unsigned flags) {
  if (status_bar_ == nullptr) return;
  std::string text;
  if ((flags & MF_POPUP) == 0 && (flags & MF_SEPARATOR) == 0 && IsCommand(id)) {
    const char* prompt = CommandPrompt(static_cast<FrameCommand>(id));
    const char* line_break = std::strchr(prompt, '\n');
    text = line_break ? std::string(prompt, line_break) : std::string(prompt);
  }
  ::SendMessageA(AsWindow(status_bar_), SB_SETTEXTA, 0, reinterpret_cast<LPARAM>(text.c_str()));
}

void MainFrame::Command(int id) {
  if (!IsCommand(id) || document_ == nullptr) return;
  const FrameCommand command = static_cast<FrameCommand>(id);
  // The rule is asked again: an accelerator or a toolbar button must not
  // start what the menu would not.
  const bool clipboard = ::IsClipboardFormatAvailable(CF_HDROP) != 0;
  if (!document_->Enabled(command, clipboard)) {
    ::MessageBeep(MB_OK);
    return;
  }
  switch (command) {
    case FrameCommand::kExit:
      ::PostMessageA(AsWindow(window_), WM_CLOSE, 0, 0);
      return;
    case FrameCommand::kAbout:
      ShowAboutBox(window_);
      return;
    case FrameCommand::kPaste:
      PasteFromClipboard();
      break;
    default:
      document_->Run(command);
      break;
  }
  if (window_ != nullptr) Refresh();
}

void MainFrame::RegisterDropTarget() {
  ViewDropTarget* target = new ViewDropTarget(*this);
  if (FAILED(::RegisterDragDrop(AsWindow(view_), target))) {
    target->Release();
    ::MessageBoxA(AsWindow(window_), "Failed to register View as a drop target", kApplication,
                  MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  drop_target_ = target;
}

void MainFrame::RevokeDropTarget() {
  if (drop_target_ == nullptr) return;
  if (view_ != nullptr) ::RevokeDragDrop(AsWindow(view_));
  static_cast<ViewDropTarget*>(drop_target_)->Release();
  drop_target_ = nullptr;
}

void MainFrame::QueueDrop(std::vector<std::string> paths) {
  queued_drops_.push_back(std::move(paths));
  if (window_ != nullptr) ::PostMessageA(AsWindow(window_), kQueuedDropMessage, 0, 0);
}

void MainFrame::RunQueuedDrop() {
  if (queued_drops_.empty()) return;
  std::vector<std::string> paths = std::move(queued_drops_.front());
  queued_drops_.erase(queued_drops_.begin());
  if (document_ == nullptr) return;
  ::SetForegroundWindow(AsWindow(window_));
  document_->Drop(paths);
  if (window_ != nullptr) Refresh();
}

void MainFrame::DropFiles(void* handle) {
  HDROP drop = static_cast<HDROP>(handle);
  const std::vector<std::string> paths = DropPaths(drop);
  ::DragFinish(drop);
  if (paths.empty() || document_ == nullptr) return;
  ::SetForegroundWindow(AsWindow(window_));
  document_->Drop(paths);
  if (window_ != nullptr) Refresh();
}

void MainFrame::PasteFromClipboard() {
  std::vector<std::string> paths;
  if (::OpenClipboard(AsWindow(window_))) {
    HANDLE data = ::GetClipboardData(CF_HDROP);
    if (data != nullptr) paths = DropPaths(static_cast<HDROP>(data));
    ::CloseClipboard();
  }
  if (!paths.empty()) document_->Paste(paths);
}

void MainFrame::SetStatus(const std::string& text) {
  status_ = OneLine(text);
  if (status_bar_ != nullptr && !in_menu_) {
    ::SendMessageA(AsWindow(status_bar_), SB_SETTEXTA, 0,
                   reinterpret_cast<LPARAM>(status_.c_str()));
  }
  ProcessMessages();
}

void MainFrame::ProcessMessages() {
  MSG msg;
  while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
    if (msg.message == WM_QUIT) {
      // Not this loop's to end: put back for the main loop.
      ::PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
}

std::string MainFrame::StatusText() const {
  if (status_bar_ == nullptr) return std::string();
  char text[1024] = {};
  ::SendMessageA(AsWindow(status_bar_), SB_GETTEXTA, 0, reinterpret_cast<LPARAM>(text));
  return text;
}

int MainFrame::RunMessageLoop() {
  MSG msg;
  int code = 0;
  while (true) {
    const BOOL got = ::GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      code = static_cast<int>(msg.wParam);
      break;
    }
    if (got < 0) break;
    if (window_ != nullptr && accelerators_ != nullptr &&
        ::TranslateAcceleratorA(AsWindow(window_), static_cast<HACCEL>(accelerators_), &msg)) {
      continue;
    }
    ::TranslateMessage(&msg);
    ::DispatchMessageA(&msg);
  }
  return code;
}

long long MainFrame::HandleMessage(unsigned message, unsigned long long wparam, long long lparam) {
  HWND window = AsWindow(window_);
  const WPARAM w = static_cast<WPARAM>(wparam);
  const LPARAM l = static_cast<LPARAM>(lparam);
  switch (message) {
    case WM_SIZE:
      LayOut();
      return 0;
    case WM_SETFOCUS:
      if (view_ != nullptr) ::SetFocus(AsWindow(view_));
      return 0;
    case WM_TIMER:
      if (w == kToolbarTimer) UpdateToolbar();
      return 0;
    case WM_INITMENUPOPUP:
      if (HIWORD(l) == 0) InitMenu(reinterpret_cast<void*>(w));
      return 0;
    case WM_MENUSELECT:
      if (HIWORD(w) == 0xFFFF && l == 0) return 0;  // the menu is closing
      MenuSelect(LOWORD(w), HIWORD(w));
      return 0;
    case WM_ENTERMENULOOP:
      in_menu_ = true;
      return 0;
    case WM_EXITMENULOOP:
      in_menu_ = false;
      if (status_bar_ != nullptr) {
        ::SendMessageA(AsWindow(status_bar_), SB_SETTEXTA, 0,
                       reinterpret_cast<LPARAM>(status_.c_str()));
      }
      return 0;
    case WM_COMMAND:
      if (l == 0 || reinterpret_cast<HWND>(l) == AsWindow(toolbar_)) {
        Command(LOWORD(w));
        return 0;
      }
      break;
    case WM_NOTIFY: {
      const NMHDR* header = reinterpret_cast<const NMHDR*>(l);
      if (header->code == TTN_GETDISPINFOA) {
        NMTTDISPINFOA* info = reinterpret_cast<NMTTDISPINFOA*>(l);
        static std::string tip;
        tip = IsCommand(static_cast<int>(header->idFrom))
                  ? ToolTip(static_cast<FrameCommand>(header->idFrom))
                  : std::string();
        info->lpszText = const_cast<char*>(tip.c_str());
        return 0;
      }
      if (header->code == TTN_GETDISPINFOW) {
        NMTTDISPINFOW* info = reinterpret_cast<NMTTDISPINFOW*>(l);
        static wchar_t tip[128];
        const std::string text = IsCommand(static_cast<int>(header->idFrom))
                                     ? ToolTip(static_cast<FrameCommand>(header->idFrom))
                                     : std::string();
        ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, tip, 128);
        info->lpszText = tip;
        return 0;
      }
      if (header->hwndFrom == AsWindow(view_) && header->code == LVN_COLUMNCLICK) {
        const NMLISTVIEW* click = reinterpret_cast<const NMLISTVIEW*>(l);
        document_->SortBy(click->iSubItem);
        FillView();
        return 0;
      }
      break;
    }
    case WM_DROPFILES:
      DropFiles(reinterpret_cast<void*>(w));
      return 0;
    case kQueuedDropMessage:
      RunQueuedDrop();
      return 0;
    case WM_CLOSE:
      if (document_ == nullptr || document_->CloseRequested()) ::DestroyWindow(window);
      // The document may have closed or aborted the archive before saying
      // no (an operation still runs): show what is left.
      if (window_ != nullptr) Refresh();
      return 0;
    case WM_QUERYENDSESSION:
      return (document_ == nullptr || document_->CloseRequested()) ? TRUE : FALSE;
    case WM_DESTROY:
      ::KillTimer(window, kToolbarTimer);
      RevokeDropTarget();
      ::PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      ::SetWindowLongPtrA(window, GWLP_USERDATA, 0);
      window_ = nullptr;
      toolbar_ = nullptr;
      status_bar_ = nullptr;
      view_ = nullptr;
      return ::DefWindowProcA(window, message, w, l);
    default:
      break;
  }
  return ::DefWindowProcA(window, message, w, l);
}

}  // namespace crx::ui
