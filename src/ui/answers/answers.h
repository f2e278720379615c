// The answers front-end and the recorder. An answers file holds one line
// per dialog, in the order the dialogs come up:
//
//   # a comment
//   MessageBox Yes
//   SetupInfo OK Company="Velmora Ltd" Product=Widget
//
// Each line is split by the Windows command-line rules (crx::cmdline): the
// dialog's name, the name of the button to press, then name=value pairs
// for the dialog's fields (check boxes take 1 or 0). Blank lines and lines
// whose first non-blank character is '#' are skipped. docs/answers-file.md
// describes the format for users.
#ifndef CRX_UI_ANSWERS_ANSWERS_H
#define CRX_UI_ANSWERS_ANSWERS_H

#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ui/front_end.h"

namespace crx {
class File;
class Terminal;
}

namespace crx::ui {

// The exit code of a program ended because its answers did not fit.
inline constexpr int kAnswersExitCode = 97;

// Ends the program with exit_code after showing message. Tests install one
// that records the call and returns; the front-end then closes the dialog
// with its refusing answer.
using EndProgram = std::function<void(int exit_code, const std::string& message)>;

struct AnswerLine {
  int line_number = 0;
  std::string dialog;
  std::string button;
  std::vector<std::pair<std::string, std::string>> fields;
};

// Parses the text of an answers file. False with *error naming the line
// when a line is not a dialog name, a button and name=value pairs.
bool ParseAnswers(const std::string& text, std::vector<AnswerLine>* answers,
                  std::string* error);

// The line (with its line feed) that answers a closed dialog as it was
// answered: its name, the name of its result button and every field a
// person can edit.
std::string FormatAnswer(const Dialog& dialog);

// Fills in the fields of line and presses its button. False with *error
// when the line names another dialog, a button or field the dialog lacks,
// or the dialog refuses the press.
bool ApplyAnswer(const AnswerLine& line, Dialog& dialog, std::string* error);

// Reads a whole file through the platform. False with *error on failure.
bool ReadAnswersFile(Platform& platform, const std::string& path,
                     std::string* text, std::string* error);

class AnswersFrontEnd;

// The answers front-end of a program run with CRX_ANSWERS set: the file it
// names (or, when that cannot be read, alternative, a host path translated
// by the entry point), parsed. Null and *error empty when CRX_ANSWERS is
// not set; null with *error when the file cannot be read or parsed. An
// empty end writes the message to the terminal's error stream and exits
// with the code given.
std::unique_ptr<AnswersFrontEnd> OpenAnswersFrontEnd(Platform& platform,
                                                     const std::string& alternative,
                                                     EndProgram end, std::string* error);

class AnswersFrontEnd : public FrontEnd {
 public:
  // source names the file in messages.
  AnswersFrontEnd(std::string source, std::vector<AnswerLine> answers,
                  EndProgram end);
  int Show(Dialog& dialog) override;
  // Answers not yet used.
  size_t Remaining() const { return answers_.size() - next_; }
  // The line that answers the next dialog (null when none is left), for a
  // front-end that acts on it first (DiskInsertingFrontEnd).
  AnswerLine* NextLine() { return next_ < answers_.size() ? &answers_[next_] : nullptr; }
  // Ends the run as an answer that does not fit does; when the handler
  // returns (tests), the dialog is refused and the line is used up.
  void EndRun(Dialog& dialog, const std::string& message) {
    ++next_;
    Fail(dialog, "answers file \"" + source_ + "\", " + message);
  }

 private:
  void Fail(Dialog& dialog, const std::string& message);

  std::string source_;
  std::vector<AnswerLine> answers_;
  size_t next_ = 0;
  EndProgram end_;
};

// Passes each dialog to another front-end and appends the answer it got to
// a file, in the answers-file syntax, with a comment naming the dialog's
// caption and text. A write that fails is reported once on the terminal's
// error stream; the dialogs go on.
class RecordingFrontEnd : public FrontEnd {
 public:
  RecordingFrontEnd(std::unique_ptr<FrontEnd> inner, std::unique_ptr<File> file,
                    std::string path, Terminal& terminal);
  ~RecordingFrontEnd() override;
  int Show(Dialog& dialog) override;

 private:
  std::unique_ptr<FrontEnd> inner_;
  std::unique_ptr<File> file_;
  std::string path_;
  Terminal& terminal_;
  bool write_failed_ = false;
};

// Opens a record file for appending (created when missing). Null with
// *error on failure.
std::unique_ptr<File> OpenRecordFile(Platform& platform, const std::string& path,
                                     std::string* error);

// front_end as it is, or, with CRX_RECORD set, inside a recording
// front-end that appends to the file it names (or to alternative, a host
// path translated by the entry point, when that cannot be opened). Every
// program's start-up calls it. Null with *error ("CRX_RECORD: ...") when
// the record file cannot be opened.
std::unique_ptr<FrontEnd> RecordWhenAsked(Platform& platform, std::unique_ptr<FrontEnd> front_end,
                                          const std::string& alternative, std::string* error);

}  // namespace crx::ui

#endif  // CRX_UI_ANSWERS_ANSWERS_H
