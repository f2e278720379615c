#include "ui/answers/answers.h"

#include <cstdlib>

#include "common/cmdline.h"
#include "common/format.h"
#include "platform/platform.h"

namespace crx::ui {

namespace {

// Largest answers file read; anything bigger is not an answers file.
constexpr int64_t kMaxAnswersFile = 16 * 1024 * 1024;

bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r'; }

// The first line of a text, cut to a readable length, for messages.
std::string FirstLine(const std::string& text) {
  size_t end = text.find('\n');
  std::string line = text.substr(0, end);
  if (!line.empty() && line.back() == '\r') line.pop_back();
  if (line.size() > 70) line = line.substr(0, 67) + "...";
  if (end != std::string::npos) line += " ...";
  return line;
}

std::string Describe(const Dialog& dialog) {
  return "\"" + dialog.Name() + "\" (\"" + dialog.Caption() + "\": \"" +
         FirstLine(dialog.Text()) + "\")";
}

// The message for the terminal: it quotes dialog texts, which may hold
// names from an archive, so every control character but the message's own
// line breaks is shown as '?' (the stubs link this file, and the full
// escaping of common/terminal_text costs them more room than they have).
std::string Masked(std::string message) {
  for (size_t i = 0; i < message.size(); ++i) {
    unsigned char c = static_cast<unsigned char>(message[i]);
    bool c1 = c == 0xc2 && i + 1 < message.size() &&
              (static_cast<unsigned char>(message[i + 1]) & 0xe0) == 0x80;
    if ((c < 0x20 && c != '\n') || c == 0x7f) message[i] = '?';
    if (c1) message[i] = message[i + 1] = '?';
  }
  return message;
}

std::string ButtonList(const Dialog& dialog) {
  std::string list;
  for (const DialogButton& b : dialog.Buttons()) {
    if (!list.empty()) list += ", ";
    list += b.name;
  }
  return list;
}

}  // namespace

bool ParseAnswers(const std::string& text, std::vector<AnswerLine>* answers,
                  std::string* error) {
  answers->clear();
  // Editors on Windows often start a UTF-8 file with a byte-order mark; it
  // is not part of the first line. UTF-16 text would only give confusing
  // line errors, so it is named for what it is.
  size_t pos = text.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
  if (text.compare(0, 2, "\xFF\xFE") == 0 || text.compare(0, 2, "\xFE\xFF") == 0) {
    *error = "the file is UTF-16 text; save it as ANSI or UTF-8 text";
    return false;
  }
  int number = 0;
  while (pos < text.size()) {
    size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(pos, end - pos);
    pos = end + 1;
    ++number;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    size_t first = 0;
    while (first < line.size() && IsBlank(line[first])) ++first;
    if (first == line.size() || line[first] == '#') continue;

    std::vector<std::string> words = cmdline::SplitArguments(line);
    if (words.size() < 2) {
      *error = Format("line %d: expected a dialog name and a button, got \"%s\"",
                      number, line.c_str());
      return false;
    }
    AnswerLine answer;
    answer.line_number = number;
    answer.dialog = words[0];
    answer.button = words[1];
    for (size_t i = 2; i < words.size(); ++i) {
      size_t eq = words[i].find('=');
      if (eq == std::string::npos || eq == 0) {
        *error = Format("line %d: \"%s\" is not a field=value pair", number,
                        words[i].c_str());
        return false;
      }
      answer.fields.emplace_back(words[i].substr(0, eq), words[i].substr(eq + 1));
    }
    answers->push_back(std::move(answer));
  }
  return true;
}

std::string FormatAnswer(const Dialog& dialog) {
  std::string line = cmdline::Quote(dialog.Name());
  const DialogButton* button = dialog.FindButtonById(dialog.Result());
  line += ' ';
  line += button ? cmdline::Quote(button->name) : Format("%d", dialog.Result());
  for (const DialogField& f : dialog.Fields()) {
    if (f.read_only) continue;
    line += ' ';
    // Only the value is quoted (Company="Velmora Ltd"): a quoted part may
    // start inside a word, and names hold no spaces.
    line += f.name + "=" + cmdline::Quote(f.value);
  }
  line += '\n';
  return line;
}

bool ApplyAnswer(const AnswerLine& line, Dialog& dialog, std::string* error) {
  if (!SameName(line.dialog, dialog.Name())) {
    *error = Format("line %d answers the dialog \"%s\", but the dialog shown is %s",
                    line.line_number, line.dialog.c_str(), Describe(dialog).c_str());
    return false;
  }
  const DialogButton* button = dialog.FindButton(line.button);
  if (!button) {
    *error = Format("line %d: the dialog %s has no button \"%s\" (its buttons: %s)",
                    line.line_number, Describe(dialog).c_str(), line.button.c_str(),
                    ButtonList(dialog).c_str());
    return false;
  }
  for (const auto& [name, value] : line.fields) {
    std::string why;
    if (!dialog.SetField(name, value, &why)) {
      *error = Format("line %d: %s", line.line_number, why.c_str());
      return false;
    }
  }
  int id = button->id;
  std::string name = button->name;
  std::string why;
  if (!dialog.Press(id, &why)) {
    *error = Format("line %d: the dialog %s refused \"%s\": %s", line.line_number,
                    Describe(dialog).c_str(), name.c_str(), why.c_str());
    return false;
  }
  return true;
}

bool ReadAnswersFile(Platform& platform, const std::string& path,
                     std::string* text, std::string* error) {
  std::unique_ptr<File> file = platform.files.Open(
      path, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
  if (!file) {
    uint32_t code = LastError();
    *error = Format("cannot open the answers file \"%s\": error %u[0x%x]",
                    path.c_str(), code, code);
    return false;
  }
  int64_t size = 0;
  if (!file->Size(&size) || size > kMaxAnswersFile) {
    *error = Format("the answers file \"%s\" is too large or unreadable", path.c_str());
    return false;
  }
  text->clear();
  char buffer[4096];
  for (;;) {
    size_t got = 0;
    if (!file->Read(buffer, sizeof buffer, &got)) {
      uint32_t code = LastError();
      *error = Format("cannot read the answers file \"%s\": error %u[0x%x]",
                      path.c_str(), code, code);
      return false;
    }
    if (got == 0) break;
    text->append(buffer, got);
    if (static_cast<int64_t>(text->size()) > kMaxAnswersFile) {
      *error = Format("the answers file \"%s\" is too large", path.c_str());
      return false;
    }
  }
  return true;
}

AnswersFrontEnd::AnswersFrontEnd(std::string source, std::vector<AnswerLine> answers,
                                 EndProgram end)
    : source_(std::move(source)), answers_(std::move(answers)), end_(std::move(end)) {}

void AnswersFrontEnd::Fail(Dialog& dialog, const std::string& message) {
  if (end_) end_(kAnswersExitCode, message);
  // Only reached when the handler lets the program go on (tests).
  if (!dialog.Closed()) dialog.Refuse();
}

int AnswersFrontEnd::Show(Dialog& dialog) {
  if (next_ >= answers_.size()) {
    Fail(dialog, Format("answers file \"%s\": no answer left for the dialog %s",
                        source_.c_str(), Describe(dialog).c_str()));
    return dialog.Result();
  }
  const AnswerLine& line = answers_[next_++];
  std::string error;
  if (!ApplyAnswer(line, dialog, &error)) {
    Fail(dialog, Format("answers file \"%s\", %s", source_.c_str(), error.c_str()));
  }
  return dialog.Result();
}

std::unique_ptr<File> OpenRecordFile(Platform& platform, const std::string& path,
                                     std::string* error) {
  std::unique_ptr<File> file = platform.files.Open(
      path, kAccessWrite, kShareRead | kShareWrite, Disposition::kOpenAlways);
  if (!file || !file->Seek(0, SeekFrom::kEnd, nullptr)) {
    uint32_t code = LastError();
    *error = Format("cannot open the record file \"%s\": error %u[0x%x]",
                    path.c_str(), code, code);
    return nullptr;
  }
  return file;
}

std::unique_ptr<FrontEnd> RecordWhenAsked(Platform& platform, std::unique_ptr<FrontEnd> front_end,
                                          const std::string& alternative, std::string* error) {
  std::string record_path;
  if (!platform.environment.Get("CRX_RECORD", &record_path) || record_path.empty()) {
    return front_end;
  }
  std::unique_ptr<File> file = OpenRecordFile(platform, record_path, error);
  if (!file && !alternative.empty()) {
    const std::string first_error = *error;
    record_path = alternative;
    file = OpenRecordFile(platform, record_path, error);
    if (!file) *error = first_error;
  }
  if (!file) {
    *error = "CRX_RECORD: " + *error;
    return nullptr;
  }
  return std::make_unique<RecordingFrontEnd>(std::move(front_end), std::move(file), record_path,
                                             platform.terminal);
}

RecordingFrontEnd::RecordingFrontEnd(std::unique_ptr<FrontEnd> inner,
                                     std::unique_ptr<File> file, std::string path,
                                     Terminal& terminal)
    : inner_(std::move(inner)), file_(std::move(file)), path_(std::move(path)),
      terminal_(terminal) {}

RecordingFrontEnd::~RecordingFrontEnd() = default;

int RecordingFrontEnd::Show(Dialog& dialog) {
  int result = inner_->Show(dialog);
  std::string text = "# " + dialog.Caption() + ": " + FirstLine(dialog.Text());
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  text += '\n';
  text += FormatAnswer(dialog);
  if (!write_failed_ && !(file_->Write(text.data(), text.size()) && file_->Flush())) {
    write_failed_ = true;
    uint32_t code = LastError();
    terminal_.WriteError(Format("cannot write to the record file \"%s\": error %u[0x%x]; "
                                "the answers that follow are not recorded\n",
                                path_.c_str(), code, code));
  }
  return result;
}

std::unique_ptr<AnswersFrontEnd> OpenAnswersFrontEnd(Platform& platform,
                                                     const std::string& alternative,
                                                     EndProgram end, std::string* error) {
  error->clear();
  std::string path;
  if (!platform.environment.Get("CRX_ANSWERS", &path) || path.empty()) return nullptr;
  std::string text;
  if (!ReadAnswersFile(platform, path, &text, error)) {
    const std::string first_error = *error;
    if (alternative.empty() || !ReadAnswersFile(platform, alternative, &text, error)) {
      *error = "CRX_ANSWERS: " + first_error;
      return nullptr;
    }
    path = alternative;
  }
  std::vector<AnswerLine> answers;
  std::string why;
  if (!ParseAnswers(text, &answers, &why)) {
    *error = "answers file \"" + path + "\", " + why;
    return nullptr;
  }
  if (!end) {
    Terminal& terminal = platform.terminal;
    end = [&terminal](int code, const std::string& message) {
      terminal.WriteError(Masked(message) + "\n");
      std::exit(code);
    };
  }
  return std::make_unique<AnswersFrontEnd>(path, std::move(answers), std::move(end));
}

}  // namespace crx::ui
