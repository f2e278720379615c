// Reproducible archives: the environment variable SOURCE_DATE_EPOCH (the
// common convention of reproducible builds: seconds since 1970-01-01 UTC)
// fixes the creation time an archive records, so building the same input
// twice gives byte-identical archives.
#ifndef CRX_BUILDER_REPRODUCIBLE_H
#define CRX_BUILDER_REPRODUCIBLE_H

#include <string>

#include "common/filetime.h"

namespace crx {

class Environment;

enum class SourceDate { kUnset, kSet, kInvalid };

// kSet with the moment in *utc when SOURCE_DATE_EPOCH holds a decimal
// number of seconds that a SYSTEMTIME can show; kInvalid (with the reason
// in *error) for anything else; kUnset when the variable is not set or
// empty.
SourceDate SourceDateEpoch(Environment& environment, SystemTime* utc, std::string* error);

}  // namespace crx

#endif  // CRX_BUILDER_REPRODUCIBLE_H
