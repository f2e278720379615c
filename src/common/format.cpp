#include "common/format.h"

#include <cstdio>

namespace crx {

std::string FormatV(const char* format, va_list args) {
  std::string out;
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return out;
  if (static_cast<size_t>(n) < sizeof small) {
    out.assign(small, static_cast<size_t>(n));
    return out;
  }
  out.resize(static_cast<size_t>(n) + 1);
  std::vsnprintf(out.data(), out.size(), format, args);
  out.resize(static_cast<size_t>(n));
  return out;
}

std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string out = FormatV(format, args);
  va_end(args);
  return out;
}

void AppendFormat(std::string* out, const char* format, ...) {
  va_list args;
  va_start(args, format);
  *out += FormatV(format, args);
  va_end(args);
}

std::string Trimmed(const std::string& text) {
  size_t begin = 0;
  size_t end = text.size();
  auto blank = [](char c) { return c == ' ' || c == '\t'; };
  while (begin < end && blank(text[begin])) ++begin;
  while (end > begin && blank(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

}  // namespace crx
