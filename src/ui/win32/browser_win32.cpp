#include "ui/win32/browser_win32.h"

// The portable headers come before <windows.h>, whose macros (GetFreeSpace,
// MessageBox, ...) would rename their members.
#include "engine/extract_policy.h"
#include "platform/platform.h"
#include "ui/browser.h"

#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <ddeml.h>

#include <string>
#include <vector>

#include "ui/win32/dialog_template.h"

namespace crx::ui {

namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kListBoxClass = 0x0083;
constexpr WORD kNoId = 0xFFFF;
constexpr int kIconCount = 4;

// The radio buttons in control order and the replace modes they stand for.
const char* const kRadioLabels[] = {"always", "never", "prompt", "only if newer"};
const int32_t kRadioModes[] = {kReplaceAlways, kReplaceNever, kReplacePrompt, kReplaceIfNewer};

// The controls that list-only mode hides.
const int kExtractionControls[] = {kBrowserFolderId,    kBrowserChooseId,     kBrowserFlattenId,
                                   kBrowserReadOnlyId,  kBrowserToLocationsId, kBrowserGetSelectedId,
                                   kBrowserGetAllId,    kBrowserAlwaysId,     kBrowserAlwaysId + 1,
                                   kBrowserAlwaysId + 2, kBrowserAlwaysId + 3, 1120,
                                   1121};

DialogTemplate BuildTemplate(bool minimal) {
  DialogTemplate t(WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_SETFONT,
                   0, 380, 250, "Cratex - Browse Archive");
  if (minimal) {
    t.Item(WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | LBS_NOTIFY |
               LBS_WANTKEYBOARDINPUT | LBS_NOINTEGRALHEIGHT,
           7, 7, 366, 140, kBrowserListId, kListBoxClass, nullptr, "");
  } else {
    t.Item(WS_VISIBLE | WS_BORDER | WS_TABSTOP | LVS_REPORT | LVS_SHOWSELALWAYS, 7, 7, 366, 140,
           kBrowserListId, 0, WC_LISTVIEWA, "");
  }
  t.Item(WS_VISIBLE | BS_GROUPBOX, 7, 152, 200, 60, 1120, kButtonClass, nullptr,
         "Set Output Location");
  t.Item(WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 14, 163, 180, 10, kBrowserToLocationsId,
         kButtonClass, nullptr, "output to locations on archive");
  t.Item(WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, 14, 177, minimal ? 186 : 162, 12,
         kBrowserFolderId, kEditClass, nullptr, "");
  if (!minimal) {
    t.Item(WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 180, 177, 20, 12, kBrowserChooseId,
           kButtonClass, nullptr, "...");
  }
  t.Item(WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, 14, 195, 180, 10, kBrowserFlattenId,
         kButtonClass, nullptr, "flatten file paths into one folder");
  t.Item(WS_VISIBLE | BS_GROUPBOX, 213, 152, 90, 70, 1121, kButtonClass, nullptr,
         "replacement options");
  for (int i = 0; i < 4; ++i) {
    t.Item(WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0), 220,
           163 + 14 * i, 78, 10, static_cast<WORD>(kBrowserAlwaysId + i), kButtonClass, nullptr,
           kRadioLabels[i]);
  }
  t.Item(WS_VISIBLE | WS_TABSTOP | WS_GROUP | BS_AUTOCHECKBOX, 14, 217, 180, 10,
         kBrowserReadOnlyId, kButtonClass, nullptr, "Overwrite ReadOnly Files");
  t.Item(WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON, 313, 156, 60, 14, kBrowserGetAllId,
         kButtonClass, nullptr, "Get All");
  t.Item(WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 313, 176, 60, 14, kBrowserGetSelectedId,
         kButtonClass, nullptr, "Get Selected");
  t.Item(WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON, 313, 229, 60, 14, kBrowserCloseId,
         kButtonClass, nullptr, "Close");
  (void)kNoId;
  return t;
}

// The four row icons, drawn at run time: a small page with a coloured
// corner mark (grey unread, green extracted, red failed, amber skipped).
// White is the transparent colour.
HIMAGELIST MakeIcons() {
  HIMAGELIST list = ::ImageList_Create(16, 16, ILC_COLOR24 | ILC_MASK, kIconCount, 0);
  if (!list) return nullptr;
  const COLORREF marks[kIconCount] = {RGB(160, 160, 160), RGB(0, 160, 0), RGB(200, 0, 0),
                                      RGB(230, 160, 0)};
  HDC screen = ::GetDC(nullptr);
  HDC dc = ::CreateCompatibleDC(screen);
  for (int i = 0; i < kIconCount; ++i) {
    HBITMAP bitmap = ::CreateCompatibleBitmap(screen, 16, 16);
    HGDIOBJ old = ::SelectObject(dc, bitmap);
    RECT all = {0, 0, 16, 16};
    ::FillRect(dc, &all, static_cast<HBRUSH>(::GetStockObject(WHITE_BRUSH)));
    RECT page = {2, 1, 12, 15};
    ::FrameRect(dc, &page, static_cast<HBRUSH>(::GetStockObject(BLACK_BRUSH)));
    HBRUSH brush = ::CreateSolidBrush(marks[i]);
    RECT mark = {7, 7, 15, 15};
    ::FillRect(dc, &mark, brush);
    ::DeleteObject(brush);
    ::SelectObject(dc, old);
    ::ImageList_AddMasked(list, bitmap, RGB(255, 255, 255));
    ::DeleteObject(bitmap);
  }
  ::DeleteDC(dc);
  ::ReleaseDC(nullptr, screen);
  return list;
}

std::string ControlText(HWND hwnd, int id) {
  HWND control = ::GetDlgItem(hwnd, id);
  int n = ::GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(n > 0 ? n : 0) + 1, '\0');
  n = ::GetWindowTextA(control, &text[0], n + 1);
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  return text;
}

// The dialog in its two forms, chosen when compiled: the list view
// (kMinimal false) and the minimal stub's list box. A program that shows
// only the list box links nothing of the list view (icons, columns,
// sorting, the right-click menu, the folder chooser).
template <bool kMinimal>
class BrowserWindow {
 public:
  explicit BrowserWindow(ArchiveBrowser& browser) : browser_(browser) {}

  int Run() {
    INITCOMMONCONTROLSEX init = {sizeof init, ICC_LISTVIEW_CLASSES};
    ::InitCommonControlsEx(&init);
    DialogTemplate t = BuildTemplate(kMinimal);
    browser_.process_messages = [this] { Pump(); };
    browser_.busy_changed = [this] { BusyChanged(); };
    INT_PTR result = ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), nullptr,
                                               Proc, reinterpret_cast<LPARAM>(this));
    browser_.process_messages = nullptr;
    browser_.busy_changed = nullptr;
    if (icons_) ::ImageList_Destroy(icons_);
    // No window could be made: the browser closes as if Close was pressed.
    if (result <= 0) browser_.PressClose();
    return kBrowserClosed;
  }

 private:
  static INT_PTR CALLBACK Proc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_INITDIALOG) {
      ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
      reinterpret_cast<BrowserWindow*>(lparam)->Init(hwnd);
      return TRUE;
    }
    auto* self = reinterpret_cast<BrowserWindow*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
    return self ? self->Handle(message, wparam, lparam) : FALSE;
  }

  HWND List() const { return ::GetDlgItem(hwnd_, kBrowserListId); }

  void Init(HWND hwnd) {
    hwnd_ = hwnd;
    ::SetWindowTextA(hwnd_, browser_.caption().c_str());
    if (browser_.list_only()) {
      for (int id : kExtractionControls) ::ShowWindow(::GetDlgItem(hwnd_, id), SW_HIDE);
    } else {
      ::CheckDlgButton(hwnd_, kBrowserToLocationsId, BST_CHECKED);
      ::CheckRadioButton(hwnd_, kBrowserAlwaysId, kBrowserAlwaysId + 3, kBrowserAlwaysId + 2);
      EnableFolderControls();
      ::EnableWindow(::GetDlgItem(hwnd_, kBrowserGetSelectedId), FALSE);
    }
    if constexpr (kMinimal) {
      for (const BrowserRow& row : browser_.rows()) {
        ::SendMessageA(List(), LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(row.name.c_str()));
      }
    } else {
      InitListView();
    }
  }

  void InitListView() {
    HWND list = List();
    ::SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT,
                   LVS_EX_FULLROWSELECT);
    icons_ = MakeIcons();
    if (!icons_) {
      ::MessageBoxA(hwnd_, "failed to create image list", "Cratex", MB_OK);
    } else {
      ::SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(icons_));
    }
    RECT client;
    ::GetClientRect(list, &client);
    struct Column {
      const char* name;
      int width;
      int format;
    } columns[] = {{"file", client.right - 326, LVCFMT_LEFT},
                   {"modtime", 160, LVCFMT_LEFT},
                   {"size", 80, LVCFMT_RIGHT},
                   {"zsize", 70, LVCFMT_RIGHT}};
    for (int i = 0; i < 4; ++i) {
      LVCOLUMNA c = {};
      c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT | LVCF_SUBITEM;
      c.fmt = columns[i].format;
      c.cx = columns[i].width;
      c.pszText = const_cast<char*>(columns[i].name);
      c.iSubItem = i;
      if (::SendMessageA(list, LVM_INSERTCOLUMNA, i, reinterpret_cast<LPARAM>(&c)) < 0) {
        ::MessageBoxA(hwnd_, "column insert error", "Cratex", MB_OK);
        break;
      }
    }
    FillRows();
  }

  void FillRows() {
    HWND list = List();
    filling_ = true;
    ::SendMessageA(list, LVM_DELETEALLITEMS, 0, 0);
    const std::vector<BrowserRow>& rows = browser_.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
      const BrowserRow& row = rows[i];
      LVITEMA item = {};
      item.mask = LVIF_TEXT | LVIF_PARAM | (icons_ ? LVIF_IMAGE : 0u);
      item.iItem = static_cast<int>(i);
      item.pszText = const_cast<char*>(row.name.c_str());
      item.iImage = row.icon;
      item.lParam = static_cast<LPARAM>(i);
      int at = static_cast<int>(::SendMessageA(list, LVM_INSERTITEMA, 0,
                                               reinterpret_cast<LPARAM>(&item)));
      const std::string* texts[] = {&row.time_text, &row.size_text, &row.stored_text};
      for (int s = 0; s < 3; ++s) {
        LVITEMA sub = {};
        sub.iSubItem = s + 1;
        sub.pszText = const_cast<char*>(texts[s]->c_str());
        ::SendMessageA(list, LVM_SETITEMTEXTA, at, reinterpret_cast<LPARAM>(&sub));
      }
    }
    ShowSelection(false);
    filling_ = false;
  }

  void UpdateIcons() {
    if constexpr (kMinimal) return;
    if (!icons_) return;
    const std::vector<BrowserRow>& rows = browser_.rows();
    for (size_t i = 0; i < rows.size(); ++i) {
      LVITEMA item = {};
      item.mask = LVIF_IMAGE;
      item.iItem = static_cast<int>(i);
      item.iImage = rows[i].icon;
      ::SendMessageA(List(), LVM_SETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    }
  }

  // Model selection -> control; scroll to the mark when asked.
  void ShowSelection(bool scroll) {
    bool was = filling_;
    filling_ = true;
    int mark = browser_.mark();
    if constexpr (kMinimal) {
      ::SendMessageA(List(), LB_SETCURSEL, static_cast<WPARAM>(browser_.FirstSelected()), 0);
    } else {
      const std::vector<BrowserRow>& rows = browser_.rows();
      for (size_t i = 0; i < rows.size(); ++i) {
        LVITEMA item = {};
        item.stateMask = LVIS_SELECTED | LVIS_FOCUSED;
        item.state = (rows[i].selected ? LVIS_SELECTED : 0u) |
                     (static_cast<int>(i) == mark ? LVIS_FOCUSED : 0u);
        ::SendMessageA(List(), LVM_SETITEMSTATE, i, reinterpret_cast<LPARAM>(&item));
      }
      if (mark >= 0) {
        ::SendMessageA(List(), LVM_SETSELECTIONMARK, 0, mark);
        if (scroll) ::SendMessageA(List(), LVM_ENSUREVISIBLE, static_cast<WPARAM>(mark), FALSE);
      }
    }
    filling_ = was;
  }

  void EnableFolderControls() {
    BOOL off = ::IsDlgButtonChecked(hwnd_, kBrowserToLocationsId) != BST_CHECKED;
    ::EnableWindow(::GetDlgItem(hwnd_, kBrowserFolderId), off);
    ::EnableWindow(::GetDlgItem(hwnd_, kBrowserChooseId), off);
    ::EnableWindow(::GetDlgItem(hwnd_, kBrowserFlattenId), off);
  }

  void TakeControls() {
    ExtractionSettings& s = browser_.settings();
    s.to_locations = ::IsDlgButtonChecked(hwnd_, kBrowserToLocationsId) == BST_CHECKED;
    s.output_folder = ControlText(hwnd_, kBrowserFolderId);
    s.flatten = ::IsDlgButtonChecked(hwnd_, kBrowserFlattenId) == BST_CHECKED;
    for (int i = 0; i < 4; ++i) {
      if (::IsDlgButtonChecked(hwnd_, kBrowserAlwaysId + i) == BST_CHECKED) {
        s.replace_mode = kRadioModes[i];
      }
    }
    s.overwrite_read_only = ::IsDlgButtonChecked(hwnd_, kBrowserReadOnlyId) == BST_CHECKED;
  }

  void BusyChanged() {
    bool busy = browser_.busy();
    ::SetDlgItemTextA(hwnd_, kBrowserCloseId, browser_.CloseLabel());
    ::EnableWindow(::GetDlgItem(hwnd_, kBrowserGetAllId), !busy);
    ::EnableWindow(::GetDlgItem(hwnd_, kBrowserGetSelectedId),
                   !busy && browser_.get_selected_enabled());
  }

  // Lets waiting messages through while the engine works, so that "Quit"
  // can be pressed.
  void Pump() {
    MSG msg;
    while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        ::PostQuitMessage(static_cast<int>(msg.wParam));
        break;
      }
      if (!hwnd_ || !::IsDialogMessageA(hwnd_, &msg)) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
      }
    }
  }

  void Extract(bool all) {
    TakeControls();
    if (all) {
      browser_.GetAll();
    } else {
      browser_.GetSelected();
    }
    UpdateIcons();
  }

  void Find() {
    if (browser_.busy()) return;
    browser_.FindWithDialog();
    ShowSelection(true);
    ::SetFocus(List());
  }

  void ContextMenu() {
    std::vector<BrowserMenuItem> items = browser_.ContextMenu();
    if (items.empty()) return;
    HMENU menu = ::CreatePopupMenu();
    for (const BrowserMenuItem& item : items) {
      if (item.command == 0) {
        ::AppendMenuA(menu, MF_SEPARATOR, 0, nullptr);
      } else {
        ::AppendMenuA(menu, MF_STRING | (item.enabled ? 0u : MF_GRAYED),
                      static_cast<UINT_PTR>(item.command), item.text.c_str());
      }
    }
    POINT at;
    ::GetCursorPos(&at);
    int command = static_cast<int>(::TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x,
                                                    at.y, 0, hwnd_, nullptr));
    ::DestroyMenu(menu);
    if (command == kCommandFind) {
      Find();
    } else if (command == kCommandExtract) {
      Extract(false);
    } else if (command != 0) {
      browser_.RunCommand(command);
    }
  }

  void ChooseFolder();

  INT_PTR Handle(UINT message, WPARAM wparam, LPARAM lparam) {
    switch (message) {
      case WM_CLOSE:
        if (browser_.PressClose()) ::EndDialog(hwnd_, kBrowserClosed);
        return TRUE;
      case WM_COMMAND: {
        int id = LOWORD(wparam);
        int code = HIWORD(wparam);
        if constexpr (kMinimal) {
          if (id == kBrowserListId) {
            if (code == LBN_SELCHANGE && !filling_) {
              int sel = static_cast<int>(::SendMessageA(List(), LB_GETCURSEL, 0, 0));
              if (sel >= 0) browser_.SelectOnly(static_cast<size_t>(sel));
              if (!browser_.busy()) {
                ::EnableWindow(::GetDlgItem(hwnd_, kBrowserGetSelectedId), TRUE);
              }
            } else if (code == LBN_DBLCLK && !browser_.list_only()) {
              browser_.ViewMinimal();
            }
            return TRUE;
          }
        }
        if (code != BN_CLICKED) return FALSE;
        switch (id) {
          case kBrowserCloseId:
            if (browser_.PressClose()) ::EndDialog(hwnd_, kBrowserClosed);
            return TRUE;
          case kBrowserGetAllId:
            if (!browser_.busy() && !browser_.list_only()) Extract(true);
            return TRUE;
          case kBrowserGetSelectedId:
            if (!browser_.busy() && !browser_.list_only()) Extract(false);
            return TRUE;
          case kBrowserToLocationsId: EnableFolderControls(); return TRUE;
          case kBrowserChooseId:
            if constexpr (!kMinimal) ChooseFolder();
            return TRUE;
          default: return FALSE;
        }
      }
      case WM_VKEYTOITEM:
        if (LOWORD(wparam) == VK_F3) {
          Find();
          return -2;
        }
        return -1;
      case WM_NOTIFY: {
        if constexpr (kMinimal) return FALSE;
        const NMHDR* header = reinterpret_cast<const NMHDR*>(lparam);
        if (header->idFrom != kBrowserListId) return FALSE;
        switch (header->code) {
          case LVN_ITEMCHANGED: {
            const NMLISTVIEW* change = reinterpret_cast<const NMLISTVIEW*>(lparam);
            if (filling_ || change->iItem < 0 || !(change->uChanged & LVIF_STATE)) return FALSE;
            browser_.Select(static_cast<size_t>(change->iItem),
                            (change->uNewState & LVIS_SELECTED) != 0);
            int mark = static_cast<int>(::SendMessageA(List(), LVM_GETSELECTIONMARK, 0, 0));
            browser_.set_mark(mark);
            browser_.RowStateChanged();
            if (!browser_.busy() && !browser_.list_only()) {
              ::EnableWindow(::GetDlgItem(hwnd_, kBrowserGetSelectedId), TRUE);
            }
            return FALSE;
          }
          case NM_RCLICK: ContextMenu(); return TRUE;
          case LVN_KEYDOWN:
            if (reinterpret_cast<const NMLVKEYDOWN*>(lparam)->wVKey == VK_F3) Find();
            return FALSE;
          case LVN_COLUMNCLICK: {
            const NMLISTVIEW* click = reinterpret_cast<const NMLISTVIEW*>(lparam);
            if (browser_.SortBy(static_cast<BrowserColumn>(click->iSubItem))) FillRows();
            return TRUE;
          }
          default: return FALSE;
        }
      }
      default: return FALSE;
    }
  }

  ArchiveBrowser& browser_;
  HWND hwnd_ = nullptr;
  HIMAGELIST icons_ = nullptr;
  bool filling_ = false;
};

// ---- the output-folder chooser: a file-open dialog turned into a folder
// chooser by a hook -------------------------------------------------------

struct Chooser {
  ArchiveBrowser* browser;
  std::string start_folder;
  std::string chosen;
};

// Control identifiers of the explorer-style file dialog.
constexpr int kFileTypeLabel = 0x441;  // stc2
constexpr int kFileTypeCombo = 0x470;  // cmb1
constexpr int kNameLabel = 0x442;      // stc3
constexpr int kNameEdit = 0x480;       // edt1
constexpr int kNameCombo = 0x47c;      // cmb13

std::string DialogText(HWND parent, UINT message, WPARAM size_hint = MAX_PATH) {
  std::string text(size_hint + 1, '\0');
  LRESULT n = ::SendMessageA(parent, message, size_hint, reinterpret_cast<LPARAM>(&text[0]));
  text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  while (!text.empty() && text.back() == '\0') text.pop_back();
  return text;
}

UINT_PTR CALLBACK ChooserHook(HWND hdlg, UINT message, WPARAM, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    const OPENFILENAMEA* ofn = reinterpret_cast<const OPENFILENAMEA*>(lparam);
    ::SetWindowLongPtrA(hdlg, GWLP_USERDATA, static_cast<LONG_PTR>(ofn->lCustData));
    return 0;
  }
  if (message != WM_NOTIFY) return 0;
  auto* chooser = reinterpret_cast<Chooser*>(::GetWindowLongPtrA(hdlg, GWLP_USERDATA));
  const OFNOTIFYA* note = reinterpret_cast<const OFNOTIFYA*>(lparam);
  HWND parent = ::GetParent(hdlg);
  switch (note->hdr.code) {
    case CDN_INITDONE:
      ::SendMessageA(parent, CDM_SETCONTROLTEXT, IDOK, reinterpret_cast<LPARAM>("cd"));
      ::SendMessageA(parent, CDM_HIDECONTROL, kFileTypeLabel, 0);
      ::SendMessageA(parent, CDM_HIDECONTROL, kFileTypeCombo, 0);
      ::SendMessageA(parent, CDM_SETCONTROLTEXT, kNameLabel, reinterpret_cast<LPARAM>("Folder:"));
      return 0;
    case CDN_SELCHANGE: {
      std::string path = DialogText(parent, CDM_GETFILEPATH);
      DWORD attributes = ::GetFileAttributesA(path.c_str());
      if (!path.empty() && attributes != INVALID_FILE_ATTRIBUTES &&
          (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        ::SendMessageA(parent, CDM_SETCONTROLTEXT, kNameCombo,
                       reinterpret_cast<LPARAM>(path.c_str()));
        ::SendMessageA(parent, CDM_SETCONTROLTEXT, kNameEdit,
                       reinterpret_cast<LPARAM>(path.c_str()));
      }
      return 0;
    }
    case CDN_FILEOK: {
      std::string typed = ControlText(parent, kNameCombo);
      if (typed.empty()) typed = ControlText(parent, kNameEdit);
      std::string folder = DialogText(parent, CDM_GETFOLDERPATH);
      bool taken = chooser && chooser->browser->AcceptChosenFolder(
                                  typed, folder, chooser->start_folder, &chooser->chosen);
      ::SetWindowLongPtrA(hdlg, DWLP_MSGRESULT, taken ? 0 : 1);
      return 1;
    }
    default: return 0;
  }
}

template <bool kMinimal>
void BrowserWindow<kMinimal>::ChooseFolder() {
  using GetOpenFileNameProc = BOOL(WINAPI*)(LPOPENFILENAMEA);
  // Loaded when needed: the chooser is the browser's only use of the
  // common dialog library.
  HMODULE library = ::LoadLibraryA("comdlg32.dll");
  if (!library) return;
  auto open = reinterpret_cast<GetOpenFileNameProc>(
      reinterpret_cast<void*>(::GetProcAddress(library, "GetOpenFileNameA")));
  if (open) {
    Chooser chooser{&browser_, browser_.platform().files.CurrentFolder(), std::string()};
    char file[MAX_PATH] = "SelectFolder";
    OPENFILENAMEA ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = hwnd_;
    ofn.lpstrFile = file;
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrTitle = "Choose an Output Folder";
    ofn.Flags = OFN_EXPLORER | OFN_ENABLEHOOK | OFN_HIDEREADONLY | OFN_NOVALIDATE |
                OFN_NOCHANGEDIR;
    ofn.lpfnHook = ChooserHook;
    ofn.lCustData = reinterpret_cast<LPARAM>(&chooser);
    if (open(&ofn) && !chooser.chosen.empty()) {
      ::SetDlgItemTextA(hwnd_, kBrowserFolderId, chooser.chosen.c_str());
      browser_.settings().output_folder = chooser.chosen;
    }
  }
  ::FreeLibrary(library);
}

HDDEDATA CALLBACK DdeCallback(UINT, UINT, HCONV, HSZ, HSZ, HDDEDATA, ULONG_PTR, ULONG_PTR) {
  return nullptr;
}

}  // namespace

int RunWin32Browser(ArchiveBrowser& browser) {
  return browser.minimal() ? BrowserWindow<true>(browser).Run()
                           : BrowserWindow<false>(browser).Run();
}

int RunWin32ListBoxBrowser(ArchiveBrowser& browser) { return BrowserWindow<true>(browser).Run(); }

bool SendDdeExecute(const std::string& application, const std::string& topic,
                    const std::string& command, uint32_t timeout) {
  DWORD instance = 0;
  if (::DdeInitializeA(&instance, DdeCallback, APPCMD_CLIENTONLY, 0) != DMLERR_NO_ERROR) {
    return false;
  }
  HSZ service = ::DdeCreateStringHandleA(instance, application.c_str(), CP_WINANSI);
  HSZ subject = ::DdeCreateStringHandleA(instance, topic.c_str(), CP_WINANSI);
  bool accepted = false;
  HCONV conversation = ::DdeConnect(instance, service, subject, nullptr);
  if (conversation) {
    DWORD result = 0;
    HDDEDATA data = ::DdeClientTransaction(
        reinterpret_cast<LPBYTE>(const_cast<char*>(command.c_str())),
        static_cast<DWORD>(command.size() + 1), conversation, nullptr, 0, XTYP_EXECUTE,
        timeout, &result);
    accepted = data != nullptr;
    ::DdeDisconnect(conversation);
  }
  if (service) ::DdeFreeStringHandle(instance, service);
  if (subject) ::DdeFreeStringHandle(instance, subject);
  ::DdeUninitialize(instance);
  return accepted;
}

}  // namespace crx::ui
