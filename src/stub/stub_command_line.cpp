#include "stub/stub_command_line.h"

#include <memory>

#include "common/profile.h"
#include "platform/platform.h"

namespace crx::stub {

namespace {

constexpr const char kSilentOption[] = "/sms:";
constexpr size_t kSilentOptionLength = sizeof kSilentOption - 1;
// The response-file lookup's buffer, as the stub has always passed it.
constexpr size_t kResponseBuffer = 32;
// A response file is a few lines; anything larger is not one.
constexpr int64_t kLargestResponseFile = 1 << 20;

bool ReadWholeFile(Platform& platform, const std::string& path, std::string* text) {
  std::unique_ptr<File> file =
      platform.files.Open(path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
  if (!file) return false;
  int64_t size = 0;
  if (!file->Size(&size) || size < 0 || size > kLargestResponseFile) return false;
  text->assign(static_cast<size_t>(size), '\0');
  size_t total = 0;
  while (total < text->size()) {
    size_t got = 0;
    if (!file->Read(&(*text)[total], text->size() - total, &got)) return false;
    if (got == 0) break;
    total += got;
  }
  text->resize(total);
  return true;
}

}  // namespace

StubCommand ParseStubCommandLine(const std::string& tail) {
  StubCommand command;
  size_t start = tail.find_first_not_of(" \t");
  if (start == std::string::npos || tail.compare(start, kSilentOptionLength, kSilentOption) != 0) {
    return command;
  }
  command.silent = true;
  start += kSilentOptionLength;
  const size_t blank = tail.find(' ', start);
  const std::string word =
      tail.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
  if (word != "silent") {
    command.has_response_file = true;
    command.response_file = word;
  }
  return command;
}

bool ReadResponse(Platform& platform, const std::string& response_file, const std::string& key,
                  std::string* value) {
  value->clear();
  if (response_file.empty()) return false;  // no response file, or an unnamed one
  std::string text;
  if (!ReadWholeFile(platform, response_file, &text)) return false;
  const Profile profile(text);
  const std::string found = profile.GetString("Cratex", key, "-", kResponseBuffer);
  if (found == "-") return false;
  *value = found;
  return true;
}

}  // namespace crx::stub
