#include "builder/reproducible.h"

#include <cstdint>

#include "platform/platform.h"

namespace crx {

SourceDate SourceDateEpoch(Environment& environment, SystemTime* utc, std::string* error) {
  std::string text;
  if (!environment.Get("SOURCE_DATE_EPOCH", &text) || text.empty()) return SourceDate::kUnset;
  // Digits only: a sign, spaces or a fraction are mistakes a build should
  // hear about rather than a time quietly taken from the clock.
  int64_t seconds = 0;
  for (char c : text) {
    if (c < '0' || c > '9' || seconds > (INT64_C(1) << 40)) {
      *error = "SOURCE_DATE_EPOCH must be a number of seconds since 1970, not '" + text + "'";
      return SourceDate::kInvalid;
    }
    seconds = seconds * 10 + (c - '0');
  }
  if (!FileTimeToSystemTime(UnixToFileTime(seconds), utc)) {
    *error = "SOURCE_DATE_EPOCH is past the last time an archive can record: '" + text + "'";
    return SourceDate::kInvalid;
  }
  return SourceDate::kSet;
}

}  // namespace crx
