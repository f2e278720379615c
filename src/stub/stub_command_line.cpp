#include "stub/stub_command_line.h"

namespace crx::stub {

namespace {

// The response file's section for the stubs, and the buffer the stub has
// always passed for its lookups.
constexpr const char kResponseSection[] = "Cratex";
constexpr size_t kResponseBuffer = 32;

}  // namespace

StubCommand ParseStubCommandLine(const std::string& tail) {
  const size_t start = tail.find_first_not_of(" \t");
  if (start == std::string::npos) return StubCommand();
  return ui::ParseSilentOption(tail.substr(start));
}

bool ReadResponse(Platform& platform, const std::string& response_file, const std::string& key,
                  std::string* value) {
  return ui::ReadResponseText(platform, response_file, kResponseSection, key, kResponseBuffer,
                              value);
}

}  // namespace crx::stub
