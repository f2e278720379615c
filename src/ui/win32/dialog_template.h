// An in-memory dialog template for DialogBoxIndirectParamA and
// CreateDialogIndirectParamA, so the programs need no resource files: a
// DLGTEMPLATE with DS_SETFONT ("MS Shell Dlg", 8 points), then one
// DWORD-aligned DLGITEMTEMPLATE per control, every string in UTF-16.
#ifndef CRX_UI_WIN32_DIALOG_TEMPLATE_H
#define CRX_UI_WIN32_DIALOG_TEMPLATE_H

#include <windows.h>

#include <string>
#include <vector>

namespace crx::ui {

class DialogTemplate {
 public:
  // style should include DS_SETFONT; cx and cy are dialog units.
  DialogTemplate(DWORD style, DWORD ex_style, int cx, int cy, const std::string& caption);

  // Adds a child control (WS_CHILD is added to style). cls is a predefined
  // class atom (0x0080 button, 0x0081 edit, 0x0082 static, ...), or 0 with
  // the class named by class_name.
  void Item(DWORD style, int x, int y, int cx, int cy, WORD id, WORD cls,
            const char* class_name, const std::string& title);

  LPCDLGTEMPLATEA Get() const { return reinterpret_cast<LPCDLGTEMPLATEA>(words_.data()); }

 private:
  void Word(WORD w) { words_.push_back(w); }
  void Dword(DWORD d) {
    Word(LOWORD(d));
    Word(HIWORD(d));
  }
  void String(const std::string& s);

  // WORDs keep every field WORD-aligned; the vector's own storage is
  // aligned enough for the DWORD header.
  std::vector<WORD> words_;
};

}  // namespace crx::ui

#endif  // CRX_UI_WIN32_DIALOG_TEMPLATE_H
