#include "common/format.h"

#include <cstdio>
#include <cstring>
#include <type_traits>

namespace crx {

namespace {

template <typename T>
void AppendNumber(std::string* out, T value) {
  char digits[24];
  char* end = digits + sizeof digits;
  char* p = end;
  // A negative number's digits are taken on the negative side, so that the
  // smallest one needs no special case.
  bool negative = false;
  if constexpr (std::is_signed_v<T>) negative = value < 0;
  if (negative) {
    do {
      *--p = static_cast<char>('0' - value % 10);
      value /= 10;
    } while (value != 0);
    *--p = '-';
  } else {
    do {
      *--p = static_cast<char>('0' + value % 10);
      value /= 10;
    } while (value != 0);
  }
  out->append(p, static_cast<size_t>(end - p));
}

// Appends what vsnprintf would write, without its general machinery (log
// lines are formatted by the thousand), for formats whose conversions are
// all %%, %s, %c or the integers %d, %i, %u with no size or with l, ll or
// z (%zu only); no flags, width or precision. False, with part of the
// text appended, at the first conversion of another kind.
bool AppendPlain(std::string* out, const char* format, va_list args) {
  const char* run = format;
  for (const char* f = std::strchr(format, '%'); f; f = std::strchr(f + 1, '%')) {
    out->append(run, static_cast<size_t>(f - run));
    ++f;
    int longs = 0;
    bool size = false;
    if (*f == 'l') {
      ++f;
      ++longs;
      if (*f == 'l') {
        ++f;
        ++longs;
      }
    } else if (*f == 'z') {
      ++f;
      size = true;
    }
    const char conversion = *f;
    const bool sized = longs > 0 || size;
    if (sized && conversion != 'd' && conversion != 'i' && conversion != 'u') return false;
    if (size && conversion != 'u') return false;
    switch (conversion) {
      case '%':
        out->push_back('%');
        break;
      case 's': {
        const char* text = va_arg(args, const char*);
        out->append(text ? text : "(null)");
        break;
      }
      case 'c':
        out->push_back(static_cast<char>(va_arg(args, int)));
        break;
      case 'd':
      case 'i':
        if (longs == 2) {
          AppendNumber(out, va_arg(args, long long));
        } else if (longs == 1) {
          AppendNumber(out, va_arg(args, long));
        } else {
          AppendNumber(out, va_arg(args, int));
        }
        break;
      case 'u':
        if (size) {
          AppendNumber(out, va_arg(args, size_t));
        } else if (longs == 2) {
          AppendNumber(out, va_arg(args, unsigned long long));
        } else if (longs == 1) {
          AppendNumber(out, va_arg(args, unsigned long));
        } else {
          AppendNumber(out, va_arg(args, unsigned));
        }
        break;
      default:
        return false;
    }
    run = f + 1;
  }
  out->append(run);
  return true;
}

}  // namespace

void AppendFormatV(std::string* out, const char* format, va_list args) {
  {
    const size_t before = out->size();
    va_list copy;
    va_copy(copy, args);
    const bool plain = AppendPlain(out, format, copy);
    va_end(copy);
    if (plain) return;
    out->resize(before);
  }
  va_list copy;
  va_copy(copy, args);
  char small[256];
  int n = std::vsnprintf(small, sizeof small, format, copy);
  va_end(copy);
  if (n < 0) return;
  if (static_cast<size_t>(n) < sizeof small) {
    out->append(small, static_cast<size_t>(n));
    return;
  }
  const size_t old = out->size();
  out->resize(old + static_cast<size_t>(n) + 1);
  std::vsnprintf(out->data() + old, static_cast<size_t>(n) + 1, format, args);
  out->resize(old + static_cast<size_t>(n));
}

std::string FormatV(const char* format, va_list args) {
  std::string out;
  AppendFormatV(&out, format, args);
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
  AppendFormatV(out, format, args);
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
