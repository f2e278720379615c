#include "ui/win32/win32_dialog.h"

#include <windows.h>

#include "ui/win32/dialog_template.h"

#include <string>
#include <vector>

namespace crx::ui {

namespace {

// Layout in dialog units. Widths of texts are estimated from their length:
// the dialog font's average character is 4 units wide; wrapping is counted
// with 5 so that a wrapped text always gets enough lines.
constexpr int kMargin = 7;
constexpr int kCharWidth = 4;
constexpr int kWrapCharWidth = 5;
constexpr int kLineHeight = 8;
constexpr int kMinWidth = 200;       // inner width of the smallest dialog
constexpr int kMaxTextWidth = 320;   // text lines wider than this wrap
constexpr int kMaxLabelWidth = 120;
constexpr int kMinEditWidth = 120;
constexpr int kEditHeight = 12;
constexpr int kCheckHeight = 10;
constexpr int kButtonHeight = 14;
constexpr int kMinButtonWidth = 50;
constexpr int kButtonGap = 4;

// Predefined window classes of dialog items, by atom.
constexpr WORD kButtonClass = 0x0080;
constexpr WORD kEditClass = 0x0081;
constexpr WORD kStaticClass = 0x0082;
constexpr WORD kComboBoxClass = 0x0085;
constexpr int kChoiceRows = 8;  // rows of a dropped-down choice list
constexpr WORD kNoId = 0xFFFF;

int TextWidth(const std::string& s) { return static_cast<int>(s.size()) * kCharWidth; }

int ButtonWidth(const DialogButton& b) {
  int w = TextWidth(b.label) + 12;
  return w < kMinButtonWidth ? kMinButtonWidth : w;
}

// Lengths of the text's lines (a line ends at LF; a CR before it is ignored;
// a final line end adds no empty line).
std::vector<int> LineLengths(const std::string& text) {
  std::vector<int> lengths;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    size_t len = end - start;
    if (len > 0 && text[end - 1] == '\r') --len;
    lengths.push_back(static_cast<int>(len));
    start = end + 1;
  }
  return lengths;
}

bool Editable(const DialogField& f) { return !f.read_only; }

// A read-only text without a label: a line of text the model keeps up to
// date, shown as a static line rather than an edit box.
bool IsModelLine(const DialogField& f) {
  return f.read_only && f.kind == FieldKind::kText && f.label.empty();
}

// Lays the model out into a template: the text, one row per field, and the
// buttons centred in a row at the bottom.
DialogTemplate BuildTemplate(const Dialog& dialog) {
  const std::vector<DialogField>& fields = dialog.Fields();
  const std::vector<DialogButton>& buttons = dialog.Buttons();

  int buttons_width = 0;
  for (const DialogButton& b : buttons) buttons_width += ButtonWidth(b) + kButtonGap;
  buttons_width -= kButtonGap;

  int label_width = 0;
  for (const DialogField& f : fields) {
    if (f.kind != FieldKind::kCheck && !IsModelLine(f) && TextWidth(f.label) + 4 > label_width) {
      label_width = TextWidth(f.label) + 4;
    }
  }
  if (label_width > kMaxLabelWidth) label_width = kMaxLabelWidth;

  std::vector<int> lines = LineLengths(dialog.Text());
  int width = kMinWidth;
  if (buttons_width > width) width = buttons_width;
  for (int len : lines) {
    int w = len * kCharWidth;
    if (w > kMaxTextWidth) w = kMaxTextWidth;
    if (w > width) width = w;
  }
  if (label_width > 0 && label_width + 4 + kMinEditWidth > width) {
    width = label_width + 4 + kMinEditWidth;
  }
  int text_lines = 0;
  for (int len : lines) {
    int w = len * kWrapCharWidth;
    text_lines += w <= width ? 1 : (w + width - 1) / width;
  }

  // Heights first: the template header carries the dialog's size.
  int height = kMargin;
  if (text_lines > 0) height += text_lines * kLineHeight + 6;
  for (const DialogField& f : fields) {
    height += f.kind == FieldKind::kCheck ? 14 : IsModelLine(f) ? kLineHeight + 2 : 16;
  }
  if (!fields.empty()) height += 4;
  height += kButtonHeight + kMargin;

  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER |
                DS_SETFOREGROUND | DS_SETFONT;
  DialogTemplate t(style, dialog.Topmost() ? WS_EX_TOPMOST : 0, width + 2 * kMargin, height,
             dialog.Caption());

  int y = kMargin;
  if (text_lines > 0) {
    t.Item(SS_LEFT | SS_NOPREFIX | WS_VISIBLE, kMargin, y, width, text_lines * kLineHeight,
           kNoId, kStaticClass, nullptr, dialog.Text());
    y += text_lines * kLineHeight + 6;
  }
  for (size_t i = 0; i < fields.size(); ++i) {
    const DialogField& f = fields[i];
    WORD id = static_cast<WORD>(FieldControlId(dialog, i));
    if (f.kind == FieldKind::kCheck) {
      DWORD check = BS_AUTOCHECKBOX | WS_TABSTOP | (f.read_only ? WS_DISABLED : 0);
      t.Item(check | WS_VISIBLE, kMargin, y, width, kCheckHeight, id, kButtonClass, nullptr,
             f.label);
      y += 14;
      continue;
    }
    if (IsModelLine(f)) {
      t.Item(SS_LEFT | SS_NOPREFIX | WS_VISIBLE, kMargin, y, width, kLineHeight, id,
             kStaticClass, nullptr, f.value);
      y += kLineHeight + 2;
      continue;
    }
    t.Item(SS_LEFT | SS_NOPREFIX | WS_VISIBLE, kMargin, y + 2, label_width, kLineHeight, kNoId,
           kStaticClass, nullptr, f.label);
    if (f.kind == FieldKind::kChoice) {
      // The template's height of a drop-down list is its dropped height.
      t.Item(CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP | WS_VISIBLE |
                 (f.read_only ? WS_DISABLED : 0),
             kMargin + label_width + 4, y, width - label_width - 4,
             kEditHeight + kChoiceRows * kLineHeight, id, kComboBoxClass, nullptr, std::string());
      y += 16;
      continue;
    }
    DWORD edit = WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL |
                 (f.kind == FieldKind::kPassword ? ES_PASSWORD : 0) |
                 (f.read_only ? ES_READONLY : 0);
    t.Item(edit | WS_VISIBLE, kMargin + label_width + 4, y, width - label_width - 4, kEditHeight,
           id, kEditClass, nullptr, std::string());
    y += 16;
  }
  if (!fields.empty()) y += 4;
  int x = kMargin + (width - buttons_width) / 2;
  for (size_t i = 0; i < buttons.size(); ++i) {
    DWORD push = WS_TABSTOP | (i == dialog.DefaultButton() ? BS_DEFPUSHBUTTON : BS_PUSHBUTTON);
    t.Item(push | WS_VISIBLE, x, y, ButtonWidth(buttons[i]), kButtonHeight,
           static_cast<WORD>(buttons[i].id), kButtonClass, nullptr, buttons[i].label);
    x += ButtonWidth(buttons[i]) + kButtonGap;
  }
  return t;
}

// Model -> controls. Texts are set here rather than in the template so that
// passwords and values in the system's code page go through the A calls.
void LoadFields(HWND hwnd, const Dialog& dialog) {
  const std::vector<DialogField>& fields = dialog.Fields();
  for (size_t i = 0; i < fields.size(); ++i) {
    int id = FieldControlId(dialog, i);
    if (fields[i].kind == FieldKind::kCheck) {
      ::CheckDlgButton(hwnd, id, fields[i].value == "1" ? BST_CHECKED : BST_UNCHECKED);
    } else if (fields[i].kind == FieldKind::kChoice) {
      HWND list = ::GetDlgItem(hwnd, id);
      ::SendMessageA(list, CB_RESETCONTENT, 0, 0);
      const std::vector<std::string>* choices = dialog.FieldChoices(fields[i].name);
      WPARAM selected = static_cast<WPARAM>(-1);  // none
      for (size_t c = 0; choices && c < choices->size(); ++c) {
        ::SendMessageA(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>((*choices)[c].c_str()));
        if (selected == static_cast<WPARAM>(-1) && (*choices)[c] == fields[i].value) selected = c;
      }
      ::SendMessageA(list, CB_SETCURSEL, selected, 0);
    } else {
      ::SetDlgItemTextA(hwnd, id, fields[i].value.c_str());
    }
  }
}

// Controls -> model, for the fields a person may change.
bool StoreFields(HWND hwnd, Dialog& dialog, std::string* error) {
  for (size_t i = 0; i < dialog.Fields().size(); ++i) {
    const DialogField& f = dialog.Fields()[i];
    if (!Editable(f)) continue;
    HWND control = ::GetDlgItem(hwnd, FieldControlId(dialog, i));
    std::string value;
    if (f.kind == FieldKind::kCheck) {
      value = ::SendMessageA(control, BM_GETCHECK, 0, 0) == BST_CHECKED ? "1" : "0";
    } else {
      // An edit box, or a drop-down list, whose text is its selected entry.
      int n = ::GetWindowTextLengthA(control);
      if (n > 0) {
        value.resize(static_cast<size_t>(n) + 1);
        n = ::GetWindowTextA(control, &value[0], n + 1);
        value.resize(n > 0 ? static_cast<size_t>(n) : 0);
      }
    }
    std::string name = f.name;  // SetField may change the vector's element
    if (!dialog.SetField(name, value, error)) return false;
  }
  return true;
}

// Focus to the first field a person may change, else the default button.
void FocusFirst(HWND hwnd, const Dialog& dialog) {
  HWND target = nullptr;
  for (size_t i = 0; i < dialog.Fields().size() && !target; ++i) {
    if (Editable(dialog.Fields()[i])) target = ::GetDlgItem(hwnd, FieldControlId(dialog, i));
  }
  if (!target && !dialog.Buttons().empty()) {
    target = ::GetDlgItem(hwnd, dialog.Buttons()[dialog.DefaultButton()].id);
  }
  if (target) ::SendMessageA(hwnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(target), TRUE);
}

void PressButton(HWND hwnd, Dialog& dialog, int id) {
  std::string error;
  if (StoreFields(hwnd, dialog, &error) && dialog.Press(id, &error)) {
    ::EndDialog(hwnd, id);
    return;
  }
  ::MessageBoxA(hwnd, error.c_str(), dialog.Caption().c_str(), MB_OK | MB_ICONEXCLAMATION);
  LoadFields(hwnd, dialog);  // the model may have emptied fields
  FocusFirst(hwnd, dialog);
}

INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    ::SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    Dialog& dialog = *reinterpret_cast<Dialog*>(lparam);
    // The dialog manager takes the BS_DEFPUSHBUTTON button as the one Enter
    // presses.
    LoadFields(hwnd, dialog);
    FocusFirst(hwnd, dialog);
    return FALSE;  // focus is set
  }
  Dialog* dialog = reinterpret_cast<Dialog*>(::GetWindowLongPtrA(hwnd, DWLP_USER));
  if (!dialog) return FALSE;
  int refusing = dialog->Buttons()[dialog->RefusingButton()].id;
  if (message == WM_CLOSE) {
    PressButton(hwnd, *dialog, refusing);
    return TRUE;
  }
  if (message == WM_COMMAND && HIWORD(wparam) == BN_CLICKED) {
    int id = LOWORD(wparam);
    // A check box changed: the model may bring its other fields up to date
    // (a running total).
    for (size_t i = 0; i < dialog->Fields().size(); ++i) {
      if (id != FieldControlId(*dialog, i) || dialog->Fields()[i].kind != FieldKind::kCheck) {
        continue;
      }
      std::string error;
      StoreFields(hwnd, *dialog, &error);
      LoadFields(hwnd, *dialog);
      return TRUE;
    }
    // Escape sends IDCANCEL; without a button of that identifier it means
    // the refusing button.
    if (id == IDCANCEL && !dialog->FindButtonById(IDCANCEL)) id = refusing;
    if (dialog->FindButtonById(id)) {
      PressButton(hwnd, *dialog, id);
      return TRUE;
    }
  }
  return FALSE;
}

}  // namespace

int FieldControlId(const Dialog& dialog, size_t index) {
  // Buttons keep their own identifiers; fields take a block above them that
  // no button uses.
  int count = static_cast<int>(dialog.Fields().size());
  int base = 0x7000;
  for (bool clash = true; clash;) {
    clash = false;
    for (const DialogButton& b : dialog.Buttons()) {
      if (b.id >= base && b.id < base + count) {
        base = b.id + 1;
        clash = true;
      }
    }
  }
  return base + static_cast<int>(index);
}

int ShowDialogWindow(Dialog& dialog) {
  if (dialog.Buttons().empty()) {
    dialog.Refuse();
    return dialog.Result();
  }
  DialogTemplate t = BuildTemplate(dialog);
  ::DialogBoxIndirectParamA(::GetModuleHandleA(nullptr), t.Get(), nullptr, DialogProc,
                            reinterpret_cast<LPARAM>(&dialog));
  // Still open: no window could be made (no desktop, out of memory). The
  // dialog then takes its refusing answer, as when nobody can be asked.
  if (!dialog.Closed()) dialog.Refuse();
  return dialog.Result();
}

}  // namespace crx::ui
