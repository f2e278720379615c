#include "ui/silent_mode.h"

#include <cstdint>
#include <memory>

#include "common/profile.h"
#include "platform/platform.h"

namespace crx::ui {

namespace {

constexpr const char kSilentOption[] = "/sms:";
constexpr size_t kSilentOptionLength = sizeof kSilentOption - 1;
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

bool ReadProfile(Platform& platform, const std::string& path, Profile* profile) {
  if (path.empty()) return false;  // no response file, or an unnamed one
  std::string text;
  if (!ReadWholeFile(platform, path, &text)) return false;
  *profile = Profile(text);
  return true;
}

}  // namespace

SilentOption ParseSilentOption(const std::string& command_line) {
  SilentOption option;
  if (command_line.compare(0, kSilentOptionLength, kSilentOption) != 0) {
    option.rest = command_line;
    return option;
  }
  option.silent = true;
  const size_t start = kSilentOptionLength;
  const size_t blank = command_line.find(' ', start);
  const std::string word =
      command_line.substr(start, blank == std::string::npos ? std::string::npos : blank - start);
  if (word != "silent") {
    option.has_response_file = true;
    option.response_file = word;
  }
  if (blank != std::string::npos) {
    const size_t rest = command_line.find_first_not_of(' ', blank);
    if (rest != std::string::npos) option.rest = command_line.substr(rest);
  }
  return option;
}

std::string SilentMode::Option() const {
  if (!silent_) return std::string();
  return std::string(kSilentOption) + (response_file_.empty() ? "silent" : response_file_);
}

bool ReadResponseText(Platform& platform, const std::string& path, const std::string& section,
                      const std::string& key, size_t buffer_size, std::string* value) {
  value->clear();
  Profile profile;
  if (!ReadProfile(platform, path, &profile)) return false;
  const std::string found = profile.GetString(section, key, "-", buffer_size);
  if (found == "-") return false;
  *value = found;
  return true;
}

bool ReadResponseInt(Platform& platform, const std::string& path, const std::string& section,
                     const std::string& key, int* value) {
  *value = -1;
  Profile profile;
  if (!ReadProfile(platform, path, &profile)) return false;
  *value = profile.GetInt(section, key, -1);
  return *value != -1;
}

}  // namespace crx::ui
