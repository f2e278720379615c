// What a stub takes from its command line and its response file: the
// shared silent option (ui/silent_mode.h) with the stub's own rules.
//
// Only one form means anything: a tail that begins with "/sms:" (after any
// blanks or tabs; exactly so: "/SMS:" is not recognised) selects silent
// mode; the word after it, up to the first blank, is "silent" (no response
// file) or the response file's path. Everything else on the line is
// ignored, and a line that does not begin with "/sms:" starts an
// interactive run.
#ifndef CRX_STUB_STUB_COMMAND_LINE_H
#define CRX_STUB_STUB_COMMAND_LINE_H

#include <string>

#include "ui/silent_mode.h"

namespace crx {
struct Platform;
}

namespace crx::stub {

using StubCommand = ui::SilentOption;

// tail: the command line after the program name (leading blanks allowed).
StubCommand ParseStubCommandLine(const std::string& tail);

// The response file's "password" lookup, as the stub does it: section
// "Cratex", default "-", a 32-character buffer (so at most 31 characters
// come back). False when there is no response file, it cannot be read, the
// section or key is missing, or the value is exactly "-".
bool ReadResponse(Platform& platform, const std::string& response_file,
                  const std::string& key, std::string* value);

}  // namespace crx::stub

#endif  // CRX_STUB_STUB_COMMAND_LINE_H
