// The Insert=N pair of answer lines: puts a disk into the emulated
// machine's removable drive before the answer's button is pressed.
#include <cstdlib>

#include "common/format.h"
#include "platform/platform.h"
#include "ui/answers/answers.h"
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

bool InsertFromAnswer(Platform& platform, AnswerLine* line, std::string* error) {
  for (size_t i = 0; i < line->fields.size(); ++i) {
    if (!SameName(line->fields[i].first, "Insert")) continue;
    const std::string value = line->fields[i].second;
    line->fields.erase(line->fields.begin() + static_cast<long>(i));
    char letter = 0;
    int disk = 0;
    if (!ParseInsert(value, &letter, &disk)) {
      *error = Format("line %d: Insert=%s is not a disk number (Insert=2, or Insert=A:2)",
                      line->line_number, value.c_str());
      return false;
    }
    if (!platform.files.InsertDisk(letter, disk)) {
      const uint32_t code = LastError();
      *error = code == kErrorNotSupported
                   ? Format("line %d: Insert=%s: disks can only be changed this way on the "
                            "emulated machine",
                            line->line_number, value.c_str())
                   : Format("line %d: Insert=%s: there is no such disk (or no single "
                            "removable drive with disks; name it as Insert=A:%d)",
                            line->line_number, value.c_str(), disk);
      return false;
    }
    return true;
  }
  return true;
}

}  // namespace

void EnableDiskInsertAnswers() { SetAnswerInsertHandler(&InsertFromAnswer); }

}  // namespace crx::ui
