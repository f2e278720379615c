// printf-style formatting into std::string, and trimming. The system's texts are printf
// formats and stay as they are written; the attribute lets the compiler
// check every call's arguments against its format.
#ifndef CRX_COMMON_FORMAT_H
#define CRX_COMMON_FORMAT_H

#include <cstdarg>
#include <string>

#if defined(__GNUC__)
#define CRX_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define CRX_PRINTF(fmt, args)
#endif

namespace crx {

std::string Format(const char* format, ...) CRX_PRINTF(1, 2);
std::string FormatV(const char* format, va_list args) CRX_PRINTF(1, 0);
// Appends to *out instead of returning a new string.
void AppendFormat(std::string* out, const char* format, ...) CRX_PRINTF(2, 3);
void AppendFormatV(std::string* out, const char* format, va_list args) CRX_PRINTF(2, 0);

// text without its leading and trailing spaces and tabs (the fields of
// dialogs and the lines of builder scripts are trimmed this way).
std::string Trimmed(const std::string& text);

}  // namespace crx

#endif  // CRX_COMMON_FORMAT_H
