#include "ui/document_browser.h"

namespace crx::ui {

bool IsAddress(const std::string& target) {
  if (target.compare(0, 4, "www.") == 0 || target.compare(0, 4, "WWW.") == 0) return true;
  size_t colon = target.find(':');
  // "C:\..." has a one-letter scheme: a drive, not an address.
  if (colon == std::string::npos || colon < 2) return false;
  for (size_t i = 0; i < colon; ++i) {
    char c = target[i];
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
              (i > 0 && ((c >= '0' && c <= '9') || c == '+' || c == '-' || c == '.'));
    if (!ok) return false;
  }
  return true;
}

std::string ShellQuoted(const std::string& text) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') out += "'\\''";
    else out += c;
  }
  out += '\'';
  return out;
}

}  // namespace crx::ui
