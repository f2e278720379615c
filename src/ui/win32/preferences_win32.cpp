#include "ui/win32/preferences_win32.h"

#include <windows.h>

#include <string>

#include "engine/user_interface.h"
#include "ui/win32/dialog_template.h"

namespace crx::ui {

namespace {

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kNoId = 0xFFFF;

// Control identifiers; OK and Cancel keep IDOK and IDCANCEL.
constexpr WORD kLoggingBox = 0x7101;
constexpr WORD kListEdit = 0x7102;
constexpr WORD kDropBox = 0x7103;
constexpr WORD kBlockEdit = 0x7104;
constexpr WORD kSoftEomBox = 0x7105;
constexpr WORD kDefaultsButton = static_cast<WORD>(kPreferencesSetDefaults);

struct Control {
  WORD id;
  const char* field;
  bool check;
};

const Control kControls[] = {
    {kLoggingBox, PreferencesDialog::kLoggingField, true},
    {kListEdit, PreferencesDialog::kIgnoreFilesField, false},
    {kDropBox, PreferencesDialog::kCreateOnDropField, true},
    {kBlockEdit, PreferencesDialog::kBlockSizeField, false},
    {kSoftEomBox, PreferencesDialog::kSoftEomField, true},
};

DialogTemplate BuildTemplate(const PreferencesDialog& dialog) {
  const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                      DS_SETFOREGROUND | DS_SETFONT;
  DialogTemplate t(style, 0, 260, 156, dialog.Caption());
  const DWORD check = BS_AUTOCHECKBOX | WS_VISIBLE | WS_TABSTOP;
  const DWORD edit = ES_AUTOHSCROLL | WS_BORDER | WS_VISIBLE | WS_TABSTOP;
  const DWORD label = SS_LEFT | WS_VISIBLE;
  t.Item(check, 7, 7, 200, 10, kLoggingBox, kButtonClass, nullptr, "Enable activity log");
  t.Item(BS_GROUPBOX | WS_VISIBLE, 7, 22, 246, 36, kNoId, kButtonClass, nullptr,
         "project mode exclusion list");
  t.Item(edit, 13, 36, 170, 12, kListEdit, kEditClass, nullptr, "");
  t.Item(BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP, 189, 35, 58, 14, kDefaultsButton, kButtonClass,
         nullptr, "SetDefaults");
  t.Item(check, 7, 64, 200, 10, kDropBox, kButtonClass, nullptr,
         "Enable archive creation on drop");
  t.Item(label, 7, 81, 160, 8, kNoId, kStaticClass, nullptr,
         "Blocksize for removable media i/o (in bytes)");
  t.Item(edit, 170, 79, 60, 12, kBlockEdit, kEditClass, nullptr, "");
  t.Item(label, 7, 94, 246, 8, kNoId, kStaticClass, nullptr,
         "A value of 0 indicates default value based on media size");
  t.Item(check, 7, 110, 220, 10, kSoftEomBox, kButtonClass, nullptr,
         "Detect END-OF-REMOVABLE-MEDIA in software");
  t.Item(BS_DEFPUSHBUTTON | WS_VISIBLE | WS_TABSTOP, 75, 135, 50, 14, IDOK, kButtonClass, nullptr,
         "OK");
  t.Item(BS_PUSHBUTTON | WS_VISIBLE | WS_TABSTOP, 135, 135, 50, 14, IDCANCEL, kButtonClass,
         nullptr, "Cancel");
  return t;
}

void LoadControls(HWND hwnd, const PreferencesDialog& dialog) {
  for (const Control& c : kControls) {
    const std::string& value = dialog.FindField(c.field)->value;
    if (c.check) {
      ::CheckDlgButton(hwnd, c.id, value == "1" ? BST_CHECKED : BST_UNCHECKED);
    } else {
      ::SetDlgItemTextA(hwnd, c.id, value.c_str());
    }
  }
}

std::string ControlText(HWND hwnd, WORD id) {
  HWND control = ::GetDlgItem(hwnd, id);
  int n = ::GetWindowTextLengthA(control);
  std::string text;
  if (n > 0) {
    text.resize(static_cast<size_t>(n) + 1);
    n = ::GetWindowTextA(control, &text[0], n + 1);
    text.resize(n > 0 ? static_cast<size_t>(n) : 0);
  }
  return text;
}

void StoreControls(HWND hwnd, PreferencesDialog& dialog) {
  std::string error;
  for (const Control& c : kControls) {
    const std::string value =
        c.check ? (::IsDlgButtonChecked(hwnd, c.id) == BST_CHECKED ? "1" : "0")
                : ControlText(hwnd, c.id);
    dialog.SetField(c.field, value, &error);
  }
}

void Press(HWND hwnd, PreferencesDialog& dialog, int id) {
  StoreControls(hwnd, dialog);
  std::string error;
  if (dialog.Press(id, &error)) {
    ::EndDialog(hwnd, id);
    return;
  }
  ::MessageBoxA(hwnd, error.c_str(), dialog.Caption().c_str(), MB_OK | MB_ICONEXCLAMATION);
  ::SetFocus(::GetDlgItem(hwnd, kListEdit));
}

INT_PTR CALLBACK PreferencesProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    LoadControls(hwnd, *reinterpret_cast<PreferencesDialog*>(lparam));
    return TRUE;
  }
  auto* dialog = reinterpret_cast<PreferencesDialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!dialog) return FALSE;
  if (message == WM_CLOSE) {
    Press(hwnd, *dialog, IDCANCEL);
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
    const int id = LOWORD(wparam);
    if (id == kDefaultsButton) {
      // Only the edit box changes; nothing is stored until OK.
      ::SetDlgItemTextA(hwnd, kListEdit, kDefaultExclusionList);
      return TRUE;
    }
    if (id == IDOK || id == IDCANCEL) {
      Press(hwnd, *dialog, id);
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

int ShowPreferencesWindow(PreferencesDialog& dialog) {
  DialogTemplate t = BuildTemplate(dialog);
  ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), nullptr, PreferencesProc,
                            reinterpret_cast<LPARAM>(&dialog));
  if (!dialog.Closed()) dialog.Refuse();
  return dialog.Result();
}

bool RunPreferencesWindow(PreferenceValues* values) {
  PreferencesDialog dialog(*values);
  ShowPreferencesWindow(dialog);
  if (!dialog.Closed() || dialog.Result() != kIdOk) return false;
  *values = dialog.Values();
  return true;
}

}  // namespace crx::ui
