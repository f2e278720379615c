#include "ui/win32/dialog_template.h"

namespace crx::ui {

DialogTemplate::DialogTemplate(DWORD style, DWORD ex_style, int cx, int cy,
                               const std::string& caption) {
  Dword(style);
  Dword(ex_style);
  Word(0);  // item count, counted up by Item()
  Word(0);
  Word(0);
  Word(static_cast<WORD>(cx));
  Word(static_cast<WORD>(cy));
  Word(0);  // no menu
  Word(0);  // the standard dialog class
  String(caption);
  Word(8);  // font size in points
  String("MS Shell Dlg");
}

void DialogTemplate::Item(DWORD style, int x, int y, int cx, int cy, WORD id, WORD cls,
                          const char* class_name, const std::string& title) {
  if (words_.size() % 2 != 0) Word(0);
  Dword(style | WS_CHILD);
  Dword(0);
  Word(static_cast<WORD>(x));
  Word(static_cast<WORD>(y));
  Word(static_cast<WORD>(cx));
  Word(static_cast<WORD>(cy));
  Word(id);
  if (cls != 0) {
    Word(0xFFFF);
    Word(cls);
  } else {
    String(class_name);
  }
  String(title);
  Word(0);  // no creation data
  ++words_[4];
}

void DialogTemplate::String(const std::string& s) {
  int n = s.empty() ? 0
                    : ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()),
                                            nullptr, 0);
  size_t at = words_.size();
  words_.resize(at + static_cast<size_t>(n > 0 ? n : 0) + 1, 0);
  if (n > 0) {
    ::MultiByteToWideChar(CP_ACP, 0, s.data(), static_cast<int>(s.size()),
                          reinterpret_cast<wchar_t*>(&words_[at]), n);
  }
}

}  // namespace crx::ui
