// Fakes for the ui tests: a terminal with scripted input and captured
// output, an in-memory file, and a small form dialog with validation.
#ifndef CRX_TESTS_UI_FAKES_H
#define CRX_TESTS_UI_FAKES_H

#include <gtest/gtest.h>

#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "platform/platform.h"
#include "ui/answers/answers.h"
#include "ui/dialog.h"

namespace crx::test {

class FakeTerminal : public Terminal {
 public:
  bool interactive = true;
  std::deque<std::string> input;
  std::string output;
  std::string errors;
  int reads = 0;

  bool IsInteractive() override { return interactive; }
  bool ReadLine(std::string* line) override {
    ++reads;
    if (input.empty()) return false;
    *line = input.front();
    input.pop_front();
    return true;
  }
  void Write(const std::string& text) override { output += text; }
  void WriteError(const std::string& text) override { errors += text; }
  int Width() override { return 80; }
};

// A file in memory; fail_writes makes every write fail.
class MemoryFile : public File {
 public:
  explicit MemoryFile(std::string* data) : data_(data) {}
  bool fail_writes = false;

  bool Read(void* buffer, size_t size, size_t* got) override {
    size_t n = pos_ < data_->size() ? std::min(size, data_->size() - pos_) : 0;
    std::memcpy(buffer, data_->data() + pos_, n);
    pos_ += n;
    *got = n;
    return true;
  }
  bool Write(const void* data, size_t size) override {
    if (fail_writes) {
      SetLastError(kErrorDiskFull);
      return false;
    }
    if (data_->size() < pos_ + size) data_->resize(pos_ + size);
    std::memcpy(data_->data() + pos_, data, size);
    pos_ += size;
    return true;
  }
  bool Seek(int64_t offset, SeekFrom from, int64_t* position) override {
    int64_t base = from == SeekFrom::kBegin ? 0
                   : from == SeekFrom::kCurrent ? static_cast<int64_t>(pos_)
                                                : static_cast<int64_t>(data_->size());
    pos_ = static_cast<size_t>(base + offset);
    if (position) *position = static_cast<int64_t>(pos_);
    return true;
  }
  bool Size(int64_t* size) override {
    *size = static_cast<int64_t>(data_->size());
    return true;
  }
  bool SetEnd() override {
    data_->resize(pos_);
    return true;
  }
  bool Flush() override { return true; }
  bool GetLastWriteTime(FileTime*) override { return false; }
  bool SetLastWriteTime(FileTime) override { return false; }

 private:
  std::string* data_;
  size_t pos_ = 0;
};

// A form in the shape later dialogs take: a read-only path, two text
// fields, a check box, and OK refused while Company is empty.
class FormDialog : public ui::Dialog {
 public:
  static constexpr int kOk = 1;
  static constexpr int kCancel = 2;
  static constexpr int kSkip = 1031;

  FormDialog() : Dialog("TestForm", "Form caption", "Fill in the form") {
    AddField({"Path", "Path", ui::FieldKind::kText, "C:\\x\\y.txt", true});
    AddField({"Company", "Company", ui::FieldKind::kText, "", false});
    AddField({"Product", "Product", ui::FieldKind::kText, "Widget", false});
    AddField({"Wait", "Wait for setup", ui::FieldKind::kCheck, "0", false});
    AddButton("OK", "OK", kOk);
    AddButton("Cancel", "Cancel", kCancel);
    AddButton("SkipAll", "Skip All", kSkip, 'a');
    SetRefusingButton(1);
  }
  int validations = 0;

 protected:
  bool Validate(int id, std::string* error) override {
    ++validations;
    if (id == kOk && FindField("Company")->value.empty()) {
      *error = "ERROR: 'Company' field cannot be empty";
      return false;
    }
    return true;
  }
};

}  // namespace crx::test


namespace crx::test {

// How an answers front-end ended the program, for tests that let it "end"
// without exiting.
struct Ended {
  int calls = 0;
  int code = 0;
  std::string message;
  ui::EndProgram Handler() {
    return [this](int c, const std::string& m) {
      ++calls;
      code = c;
      message = m;
    };
  }
};

// An answers front-end over the lines of text (which must parse).
inline ui::AnswersFrontEnd Answers(const char* text, Ended& ended) {
  std::vector<ui::AnswerLine> lines;
  std::string error;
  EXPECT_TRUE(ui::ParseAnswers(text, &lines, &error)) << error;
  return ui::AnswersFrontEnd("C:\\answers.txt", std::move(lines), ended.Handler());
}

}  // namespace crx::test

#endif  // CRX_TESTS_UI_FAKES_H
