#include "ui/answers/disk_insert.h"

#include <cstdlib>

#include "common/format.h"
#include "platform/platform.h"
#include "ui/dialog.h"

namespace crx::ui {

namespace {

// "N" or "X:N": the drive letter (0: the only removable drive) and the
// disk number. False when the value is neither.
bool ParseInsert(const std::string& value, char* letter, int* disk) {
  std::string number = value;
  *letter = 0;
  if (value.size() > 2 && value[1] == ':' &&
      ((value[0] >= 'A' && value[0] <= 'Z') || (value[0] >= 'a' && value[0] <= 'z'))) {
    *letter = static_cast<char>(value[0] & ~0x20);
    number = value.substr(2);
  }
  if (number.empty() || number.size() > 4) return false;
  for (char c : number) {
    if (c < '0' || c > '9') return false;
  }
  *disk = std::atoi(number.c_str());
  return true;
}

// Carries out and removes the Insert pair of line, if any. False with
// *error when it cannot be done.
bool InsertFromAnswer(Platform& platform, AnswerLine* line, std::string* error) {
  for (size_t i = 0; i < line->fields.size(); ++i) {
    if (!SameName(line->fields[i].first, "Insert")) continue;
    const std::string value = line->fields[i].second;
    line->fields.erase(line->fields.begin() + static_cast<std::ptrdiff_t>(i));
    char letter = 0;
    int disk = 0;
    if (!ParseInsert(value, &letter, &disk)) {
      *error = Format("line %d: Insert=%s is not a disk number (Insert=2, or Insert=A:2)",
                      line->line_number, value.c_str());
      return false;
    }
    if (!platform.disks) {
      *error = Format("line %d: Insert=%s: disks can only be changed this way on the emulated "
                      "machine",
                      line->line_number, value.c_str());
      return false;
    }
    if (!platform.disks->InsertDisk(letter, disk)) {
      *error = Format("line %d: Insert=%s: there is no such disk (or no single removable drive "
                      "with disks; name it as Insert=A:%d)",
                      line->line_number, value.c_str(), disk);
      return false;
    }
    return true;
  }
  return true;
}

}  // namespace

int DiskInsertingFrontEnd::Show(Dialog& dialog) {
  if (AnswerLine* line = answers_->NextLine()) {
    std::string error;
    if (!InsertFromAnswer(platform_, line, &error)) {
      answers_->EndRun(dialog, error);
      return dialog.Result();
    }
  }
  return answers_->Show(dialog);
}

}  // namespace crx::ui
