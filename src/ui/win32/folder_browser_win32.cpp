#include "ui/win32/folder_browser_win32.h"

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "ui/win32/dialog_template.h"
#include "ui/win32/win32_front_end.h"

namespace crx::ui {

namespace {

// Controls and layout (dialog units).
constexpr WORD kTreeId = 100;
constexpr WORD kPathId = 101;
constexpr WORD kGotoId = 102;
constexpr WORD kHelpId = 103;
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr int kWidth = 240;
constexpr int kHeight = 212;
constexpr UINT kRebuildMessage = WM_APP + 1;

// The icons, 21 by 16 pixels on white (the transparent colour).
constexpr int kIconWidth = 21;
constexpr int kIconHeight = 16;
enum Icon { kIconRemovable, kIconFixed, kIconFolder };

struct Window {
  FolderBrowserDialog* browser = nullptr;
  HIMAGELIST images = nullptr;
  bool filling = false;  // the tree is being rebuilt: ignore its notices
};

void FillBox(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  RECT r = {left, top, right, bottom};
  HBRUSH brush = ::CreateSolidBrush(colour);
  ::FillRect(dc, &r, brush);
  ::DeleteObject(brush);
}

// Draws one icon into a new bitmap; null when the bitmap cannot be made.
HBITMAP DrawIcon(HDC screen, Icon icon) {
  HBITMAP bitmap = ::CreateCompatibleBitmap(screen, kIconWidth, kIconHeight);
  if (!bitmap) return nullptr;
  HDC dc = ::CreateCompatibleDC(screen);
  if (!dc) {
    ::DeleteObject(bitmap);
    return nullptr;
  }
  HGDIOBJ old = ::SelectObject(dc, bitmap);
  FillBox(dc, 0, 0, kIconWidth, kIconHeight, RGB(255, 255, 255));
  const COLORREF dark = RGB(64, 64, 64);
  switch (icon) {
    case kIconRemovable:
      // A disk drive with a slot and a disk half in it.
      FillBox(dc, 2, 5, 19, 13, dark);
      FillBox(dc, 3, 6, 18, 12, RGB(192, 192, 192));
      FillBox(dc, 5, 8, 16, 9, dark);
      FillBox(dc, 7, 2, 14, 8, RGB(0, 0, 160));
      FillBox(dc, 9, 3, 12, 5, RGB(255, 255, 254));
      break;
    case kIconFixed:
      // A hard-disk case with its light.
      FillBox(dc, 1, 6, 20, 13, dark);
      FillBox(dc, 2, 7, 19, 12, RGB(192, 192, 192));
      FillBox(dc, 15, 9, 17, 10, RGB(0, 200, 0));
      break;
    case kIconFolder:
      // A yellow folder with its tab.
      FillBox(dc, 2, 3, 9, 5, RGB(128, 128, 0));
      FillBox(dc, 2, 5, 19, 14, RGB(128, 128, 0));
      FillBox(dc, 3, 6, 18, 13, RGB(255, 255, 128));
      break;
  }
  ::SelectObject(dc, old);
  ::DeleteDC(dc);
  return bitmap;
}

// The image list of the three icons; null (after saying why) when one
// cannot be made or added.
HIMAGELIST MakeImages(HWND owner) {
  HIMAGELIST list = ImageList_Create(kIconWidth, kIconHeight, ILC_COLOR24 | ILC_MASK, 3, 0);
  if (!list) return nullptr;
  HDC screen = ::GetDC(nullptr);
  for (Icon icon : {kIconRemovable, kIconFixed, kIconFolder}) {
    HBITMAP bitmap = DrawIcon(screen, icon);
    if (!bitmap) {
      ::MessageBoxA(owner, "Failed To Load BitMap", "Select Directory", MB_OK | MB_ICONSTOP);
      ImageList_Destroy(list);
      list = nullptr;
      break;
    }
    int added = ImageList_AddMasked(list, bitmap, RGB(255, 255, 255));
    ::DeleteObject(bitmap);
    if (added < 0) {
      ::MessageBoxA(owner, "failed to add bmap", "Select Directory", MB_OK | MB_ICONSTOP);
      ImageList_Destroy(list);
      list = nullptr;
      break;
    }
  }
  ::ReleaseDC(nullptr, screen);
  return list;
}

int IconOf(const FolderNode& node) {
  switch (node.kind) {
    case FolderKind::kRemovableDrive: return kIconRemovable;
    case FolderKind::kFixedDrive: return kIconFixed;
    case FolderKind::kFolder: break;
  }
  return kIconFolder;
}

std::string PathText(HWND hwnd) {
  HWND edit = ::GetDlgItem(hwnd, kPathId);
  int n = ::GetWindowTextLengthA(edit);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    n = ::GetWindowTextA(edit, &text[0], n + 1);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  return text;
}

// The tree from the model's rows: each row under the last row one level
// up; rows not yet open get a "+" so they can be opened with it.
void Rebuild(HWND hwnd, Window& w) {
  HWND tree = ::GetDlgItem(hwnd, kTreeId);
  w.filling = true;
  ::SendMessageA(tree, WM_SETREDRAW, FALSE, 0);
  TreeView_DeleteAllItems(tree);
  const std::vector<FolderNode>& nodes = w.browser->Nodes();
  std::vector<HTREEITEM> parents;
  std::vector<HTREEITEM> items;
  HTREEITEM selected = nullptr;
  for (size_t i = 0; i < nodes.size(); ++i) {
    const FolderNode& node = nodes[i];
    parents.resize(static_cast<size_t>(node.depth));
    TVINSERTSTRUCTA insert = {};
    insert.hParent = parents.empty() ? TVI_ROOT : parents.back();
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_CHILDREN | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<char*>(node.name.c_str());
    insert.item.lParam = static_cast<LPARAM>(i);
    insert.item.cChildren = node.open ? (i + 1 < nodes.size() && nodes[i + 1].depth > node.depth)
                                      : 1;
    insert.item.iImage = insert.item.iSelectedImage = IconOf(node);
    HTREEITEM item = reinterpret_cast<HTREEITEM>(
        ::SendMessageA(tree, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&insert)));
    items.push_back(item);
    parents.push_back(item);
    if (i == w.browser->Selected()) selected = item;
  }
  for (size_t i = 0; i < nodes.size(); ++i) {
    if (nodes[i].open) TreeView_Expand(tree, items[i], TVE_EXPAND);
  }
  if (selected) {
    TreeView_SelectItem(tree, selected);
    TreeView_EnsureVisible(tree, selected);
  }
  ::SetDlgItemTextA(hwnd, kPathId, w.browser->Path().c_str());
  ::SendMessageA(tree, WM_SETREDRAW, TRUE, 0);
  ::InvalidateRect(tree, nullptr, TRUE);
  w.filling = false;
}

size_t ItemIndex(HWND tree, HTREEITEM item) {
  TVITEMA data = {};
  data.mask = TVIF_PARAM;
  data.hItem = item;
  if (!item || !::SendMessageA(tree, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&data))) {
    return static_cast<size_t>(-1);
  }
  return static_cast<size_t>(data.lParam);
}

void GotoTyped(HWND hwnd, Window& w) {
  std::string typed = PathText(hwnd);
  w.browser->SetPath(typed);
  if (!w.browser->Goto(typed)) ::MessageBeep(MB_ICONEXCLAMATION);
  Rebuild(hwnd, w);
}

void Finish(HWND hwnd, Window& w, int id) {
  if (id == FolderBrowserDialog::kOk) w.browser->SetPath(PathText(hwnd));
  std::string error;
  if (w.browser->Press(id, &error)) {
    ::EndDialog(hwnd, id);
    return;
  }
  ::MessageBoxA(hwnd, error.c_str(), w.browser->Caption().c_str(), MB_OK | MB_ICONSTOP);
  ::SetFocus(::GetDlgItem(hwnd, kPathId));
}

INT_PTR OnNotify(HWND hwnd, Window& w, const NMHDR* header) {
  if (header->idFrom != kTreeId || w.filling) return FALSE;
  HWND tree = header->hwndFrom;
  switch (header->code) {
    case TVN_SELCHANGEDA:
    case TVN_SELCHANGEDW: {
      const NMTREEVIEWA* change = reinterpret_cast<const NMTREEVIEWA*>(header);
      if (w.browser->Select(ItemIndex(tree, change->itemNew.hItem))) {
        ::SetDlgItemTextA(hwnd, kPathId, w.browser->Path().c_str());
      }
      return FALSE;
    }
    case TVN_ITEMEXPANDINGA:
    case TVN_ITEMEXPANDINGW: {
      // The "+" and "-" buttons open and close rows through the model; the
      // tree is rebuilt once the notice has returned.
      const NMTREEVIEWA* change = reinterpret_cast<const NMTREEVIEWA*>(header);
      size_t index = ItemIndex(tree, change->itemNew.hItem);
      if (index >= w.browser->Nodes().size()) return FALSE;
      bool open = w.browser->Nodes()[index].open;
      bool expand = (change->action & TVE_EXPAND) != 0;
      if (expand == open) return FALSE;
      w.browser->Open(index);
      ::PostMessageA(hwnd, kRebuildMessage, 0, 0);
      ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    case NM_DBLCLK: {
      size_t index = ItemIndex(tree, TreeView_GetSelection(tree));
      if (index >= w.browser->Nodes().size()) return FALSE;
      w.browser->Open(index);
      ::PostMessageA(hwnd, kRebuildMessage, 0, 0);
      ::SetWindowLongPtrA(hwnd, DWLP_MSGRESULT, TRUE);
      return TRUE;
    }
    default:
      return FALSE;
  }
}

INT_PTR CALLBACK BrowserProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    Window& w = *reinterpret_cast<Window*>(lparam);
    w.images = MakeImages(hwnd);
    if (w.images) {
      TreeView_SetImageList(::GetDlgItem(hwnd, kTreeId), w.images, TVSIL_NORMAL);
    }
    Rebuild(hwnd, w);
    ::SetFocus(::GetDlgItem(hwnd, kTreeId));
    return FALSE;
  }
  Window* w = reinterpret_cast<Window*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!w) return FALSE;
  switch (message) {
    case kRebuildMessage:
      Rebuild(hwnd, *w);
      return TRUE;
    case WM_NOTIFY:
      return OnNotify(hwnd, *w, reinterpret_cast<const NMHDR*>(lparam));
    case WM_CLOSE:
      Finish(hwnd, *w, FolderBrowserDialog::kCancel);
      return TRUE;
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED) return FALSE;
      switch (LOWORD(wparam)) {
        case IDOK:
          // Enter in the path's box moves the tree there, as "Help..." says.
          if (::GetFocus() == ::GetDlgItem(hwnd, kPathId)) {
            GotoTyped(hwnd, *w);
          } else {
            Finish(hwnd, *w, FolderBrowserDialog::kOk);
          }
          return TRUE;
        case IDCANCEL:
          Finish(hwnd, *w, FolderBrowserDialog::kCancel);
          return TRUE;
        case kGotoId:
          GotoTyped(hwnd, *w);
          return TRUE;
        case kHelpId:
          ::MessageBoxA(hwnd, FolderBrowserDialog::HelpText(), w->browser->Caption().c_str(),
                        MB_OK | MB_ICONINFORMATION);
          return TRUE;
        default:
          return FALSE;
      }
    default:
      return FALSE;
  }
}

}  // namespace

int ShowFolderBrowserWindow(FolderBrowserDialog& browser) {
  INITCOMMONCONTROLSEX controls = {sizeof controls, ICC_TREEVIEW_CLASSES};
  ::InitCommonControlsEx(&controls);

  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                DS_SETFOREGROUND | DS_SETFONT;
  DialogTemplate t(style, 0, kWidth, kHeight, browser.Caption());
  t.Item(WS_VISIBLE | WS_BORDER | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
             TVS_LINESATROOT | TVS_SHOWSELALWAYS,
         7, 7, kWidth - 14, 158, kTreeId, 0, WC_TREEVIEWA, std::string());
  t.Item(WS_VISIBLE | WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 171, kWidth - 14, 12, kPathId,
         kEditClass, nullptr, std::string());
  const struct {
    WORD id;
    const char* label;
    DWORD style;
  } buttons[] = {{kGotoId, "Goto", BS_PUSHBUTTON},
                 {kHelpId, "Help...", BS_PUSHBUTTON},
                 {IDOK, "OK", BS_DEFPUSHBUTTON},
                 {IDCANCEL, "Cancel", BS_PUSHBUTTON}};
  int x = 7;
  for (const auto& b : buttons) {
    t.Item(WS_VISIBLE | WS_TABSTOP | b.style, x, 190, 50, 14, b.id, kButtonClass, nullptr,
           b.label);
    x += 58;
  }

  Window w;
  w.browser = &browser;
  ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), nullptr, BrowserProc,
                            reinterpret_cast<LPARAM>(&w));
  if (w.images) ImageList_Destroy(w.images);
  if (!browser.Closed()) browser.Refuse();
  return browser.Result();
}

void UseFolderBrowserWindow() { SetFolderBrowserWindow(&ShowFolderBrowserWindow); }

}  // namespace crx::ui
