#include "common/terminal_text.h"

namespace crx {

namespace {

std::string Escape(const std::string& text, bool keep_layout) {
  static const char kHex[] = "0123456789abcdef";
  // C escapes for 0x07 ... 0x0d: BEL, BS, TAB, LF, VT, FF, CR.
  static const char kLetters[] = "abtnvfr";
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    if (keep_layout && (c == '\n' || c == '\t')) {
      out += static_cast<char>(c);
    } else if (c >= 0x07 && c <= 0x0d) {
      out += '\\';
      out += kLetters[c - 0x07];
    } else if (c < 0x20 || c == 0x7f) {
      out += "\\x";
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else if (c == 0xc2 && i + 1 < text.size() &&
               (static_cast<unsigned char>(text[i + 1]) & 0xe0) == 0x80) {
      // A C1 control character in UTF-8.
      const unsigned char next = static_cast<unsigned char>(text[++i]);
      out += "\\xc2\\x";
      out += kHex[next >> 4];
      out += kHex[next & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

}  // namespace

std::string TerminalText(const std::string& text) { return Escape(text, false); }

std::string TerminalMessage(const std::string& text) { return Escape(text, true); }

}  // namespace crx
