#include "ui/win32/display_win32.h"

#include <windows.h>
#include <richedit.h>

#include <string>

#include "ui/display_dialog.h"
#include "ui/win32/dialog_template.h"

namespace crx::ui {

namespace {

// Layout in dialog units.
constexpr int kWidth = 360;
constexpr int kTextHeight = 220;
constexpr int kMargin = 7;
constexpr int kButtonWidth = 50;
constexpr int kButtonHeight = 14;
constexpr int kButtonGap = 4;
constexpr int kCheckHeight = 10;

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kTextId = 0x7100;
constexpr WORD kTickId = 0x7101;

// The rich-edit library stays loaded for the program's life: the control
// class it registers is needed by every viewer window.
bool LoadRichEdit() {
  static HMODULE library = ::LoadLibraryA("RICHED32.DLL");
  return library != nullptr;
}

struct StreamSource {
  const std::string* text;
  size_t offset;
};

DWORD CALLBACK ReadStream(DWORD_PTR cookie, LPBYTE buffer, LONG size, LONG* got) {
  StreamSource* source = reinterpret_cast<StreamSource*>(cookie);
  size_t left = source->text->size() - source->offset;
  size_t n = left < static_cast<size_t>(size) ? left : static_cast<size_t>(size);
  if (n > 0) ::memcpy(buffer, source->text->data() + source->offset, n);
  source->offset += n;
  *got = static_cast<LONG>(n);
  return 0;
}

// Fills the control from the model; false when the control refuses it.
bool LoadText(HWND control, const DisplayDialog& display) {
  ::SendMessageA(control, EM_EXLIMITTEXT, 0,
                 static_cast<LPARAM>(display.Content().size() + 1024));
  StreamSource source{&display.Content(), 0};
  EDITSTREAM stream = {};
  stream.dwCookie = reinterpret_cast<DWORD_PTR>(&source);
  stream.pfnCallback = ReadStream;
  ::SendMessageA(control, EM_STREAMIN, display.Rich() ? SF_RTF : SF_TEXT,
                 reinterpret_cast<LPARAM>(&stream));
  return stream.dwError == 0;
}

DialogTemplate BuildTemplate(const Dialog& dialog) {
  const bool tick = dialog.FindField("Read") != nullptr;
  int height = kMargin + kTextHeight + 6;
  if (tick) height += kCheckHeight + 6;
  height += kButtonHeight + kMargin;
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                DS_SETFOREGROUND | DS_SETFONT;
  DialogTemplate t(style, 0, kWidth + 2 * kMargin, height, dialog.Caption());
  int y = kMargin;
  t.Item(WS_VISIBLE | WS_BORDER | WS_VSCROLL | WS_TABSTOP | ES_MULTILINE | ES_READONLY |
             ES_AUTOVSCROLL,
         kMargin, y, kWidth, kTextHeight, kTextId, 0, "RICHEDIT", std::string());
  y += kTextHeight + 6;
  if (tick) {
    t.Item(WS_VISIBLE | WS_TABSTOP | BS_AUTOCHECKBOX, kMargin, y, kWidth, kCheckHeight, kTickId,
           kButtonClass, nullptr, DisplayDialog::kTickLabel);
    y += kCheckHeight + 6;
  }
  const int count = static_cast<int>(dialog.Buttons().size());
  const int row = count * kButtonWidth + (count - 1) * kButtonGap;
  int x = kMargin + kWidth - row;  // buttons at the right
  for (size_t i = 0; i < dialog.Buttons().size(); ++i) {
    const DialogButton& b = dialog.Buttons()[i];
    DWORD push = WS_TABSTOP | (i == dialog.DefaultButton() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    t.Item(push | WS_VISIBLE, x, y, kButtonWidth, kButtonHeight, static_cast<WORD>(b.id),
           kButtonClass, nullptr, b.label);
    x += kButtonWidth + kButtonGap;
  }
  return t;
}

void Press(HWND hwnd, Dialog& dialog, int id) {
  std::string error;
  if (dialog.FindField("Read")) {
    bool ticked = ::IsDlgButtonChecked(hwnd, kTickId) == BST_CHECKED;
    dialog.SetField("Read", ticked ? "1" : "0", &error);
  }
  if (dialog.Press(id, &error)) {
    ::EndDialog(hwnd, id);
    return;
  }
  ::MessageBoxA(hwnd, error.c_str(), dialog.Caption().c_str(), MB_OK | MB_ICONEXCLAMATION);
}

INT_PTR CALLBACK DisplayProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    Dialog& dialog = *reinterpret_cast<Dialog*>(lparam);
    HWND text = ::GetDlgItem(hwnd, kTextId);
    const char* failure = nullptr;
    if (!text) {
      failure = DisplayDialog::kControlError;
    } else if (!LoadText(text, *dialog.AsDisplay())) {
      failure = DisplayDialog::kCannotView;
    }
    if (failure) {
      ::MessageBoxA(hwnd, failure, dialog.Caption().c_str(), MB_OK | MB_ICONSTOP);
      dialog.Refuse();
      ::EndDialog(hwnd, dialog.Result());
      return TRUE;
    }
    ::SendMessageA(text, EM_SETSEL, 0, 0);
    HWND button = ::GetDlgItem(hwnd, dialog.Buttons()[dialog.DefaultButton()].id);
    if (button) ::SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(button), TRUE);
    return FALSE;  // focus is set
  }
  Dialog* dialog = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!dialog) return FALSE;
  int refusing = dialog->Buttons()[dialog->RefusingButton()].id;
  if (message == WM_CLOSE) {
    Press(hwnd, *dialog, refusing);
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
    int id = LOWORD(wparam);
    if (id == IDCANCEL && !dialog->FindButtonById(IDCANCEL)) id = refusing;
    if (dialog->FindButtonById(id)) {
      Press(hwnd, *dialog, id);
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

int ShowDisplayWindow(Dialog& dialog) {
  if (!dialog.AsDisplay() || dialog.Buttons().empty()) {
    dialog.Refuse();
    return dialog.Result();
  }
  if (!LoadRichEdit()) {
    ::MessageBoxA(nullptr, DisplayDialog::kControlError, dialog.Caption().c_str(),
                  MB_OK | MB_ICONSTOP);
    dialog.Refuse();
    return dialog.Result();
  }
  DialogTemplate t = BuildTemplate(dialog);
  INT_PTR result = ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), nullptr,
                                             DisplayProc, reinterpret_cast<LPARAM>(&dialog));
  if (result == -1 && !dialog.Closed()) {
    // The window could not be made: most often the control was refused.
    ::MessageBoxA(nullptr, DisplayDialog::kControlError, dialog.Caption().c_str(),
                  MB_OK | MB_ICONSTOP);
  }
  if (!dialog.Closed()) dialog.Refuse();
  return dialog.Result();
}

}  // namespace crx::ui
