#include "builder/script.h"

#include <cctype>
#include <memory>
#include <vector>

#include "common/format.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx::builder {

namespace {

// Reads a script line by line; a carriage return before a line feed is
// dropped. A line longer than kScriptPieceLength characters is not split
// into pieces (the rest of it would run as a line of its own, so that a
// long file name could hide a command): NextLine reports it instead.
class ScriptReader {
 public:
  explicit ScriptReader(File& file) : file_(file) {}

  enum class Result { kLine, kEnd, kTooLong };

  Result NextLine(std::string* line) {
    line->clear();
    int c = Get();
    if (c < 0) return Result::kEnd;
    ++line_number_;
    while (c >= 0 && c != '\n') {
      if (!(c == '\r' && Peek() == '\n')) {
        if (line->size() == kScriptPieceLength) return Result::kTooLong;
        line->push_back(static_cast<char>(c));
      }
      c = Get();
    }
    return Result::kLine;
  }

  int line_number() const { return line_number_; }

 private:
  bool Fill() {
    if (end_of_file_) return false;
    size_t got = 0;
    if (!file_.Read(buffer_, sizeof buffer_, &got) || got == 0) {
      end_of_file_ = true;
      return false;
    }
    begin_ = 0;
    end_ = got;
    return true;
  }
  int Peek() {
    if (begin_ == end_ && !Fill()) return -1;
    return static_cast<unsigned char>(buffer_[begin_]);
  }
  int Get() {
    int c = Peek();
    if (c >= 0) ++begin_;
    return c;
  }

  File& file_;
  char buffer_[4096];
  size_t begin_ = 0;
  size_t end_ = 0;
  bool end_of_file_ = false;
  int line_number_ = 0;
};

// Why a script file is not a script the processor can read: empty, UTF-16
// text, or holding NUL bytes (a binary file named by mistake). Empty when
// it is fine. Reads the file once; the caller rewinds it.
std::string NotAScript(File& file, const std::string& path) {
  char buffer[4096];
  int64_t total = 0;
  int line = 1;
  unsigned char first[64];
  size_t first_size = 0;
  int64_t first_nul = -1;
  for (;;) {
    size_t got = 0;
    if (!file.Read(buffer, sizeof buffer, &got) || got == 0) break;
    for (size_t i = 0; i < got; ++i) {
      const unsigned char c = static_cast<unsigned char>(buffer[i]);
      if (first_size < sizeof first) first[first_size++] = c;
      if (c == 0 && first_nul < 0) first_nul = total + static_cast<int64_t>(i);
      if (c == '\n' && first_nul < 0) ++line;
    }
    total += static_cast<int64_t>(got);
  }
  if (total == 0) return Format("SCRIPT ERROR\nThe script file <%s> is empty.", path.c_str());
  // UTF-16: a byte-order mark, or ASCII text with a zero byte beside every
  // character.
  bool utf16 = first_size >= 2 && ((first[0] == 0xFF && first[1] == 0xFE) ||
                                   (first[0] == 0xFE && first[1] == 0xFF));
  if (!utf16 && first_nul >= 0 && first_nul <= 1 && first_size >= 4) {
    size_t zeros = 0;
    for (size_t i = static_cast<size_t>(first_nul); i < first_size; i += 2) {
      if (first[i] == 0) ++zeros;
    }
    utf16 = zeros * 2 + 2 >= first_size - static_cast<size_t>(first_nul);
  }
  if (utf16) {
    return Format("SCRIPT ERROR\nThe script file <%s> is UTF-16 text.\nSave it as ANSI "
                  "(8-bit) text.",
                  path.c_str());
  }
  if (first_nul >= 0) {
    return Format("SCRIPT ERROR\nThe script file <%s> holds NUL bytes (line %d): it is not a "
                  "text file.",
                  path.c_str(), line);
  }
  return std::string();
}

// The line up to its first control character or non-ASCII byte.
std::string CutAtControl(const std::string& piece) {
  size_t n = 0;
  while (n < piece.size()) {
    unsigned char c = static_cast<unsigned char>(piece[n]);
    if (c < 32 || c >= 128) break;
    ++n;
  }
  return piece.substr(0, n);
}

std::string Cut(const std::string& text, size_t length) {
  return text.size() > length ? text.substr(0, length) : text;
}

class ScriptRun {
 public:
  ScriptRun(ArchiveEngine& engine, ScriptHost& host, std::string* archive_path)
      : engine_(engine), host_(host), platform_(host.platform()), ui_(host.ui()),
        archive_path_(archive_path) {}

  ~ScriptRun() { CloseOwnFeedback(); }

  bool Run(const std::string& path) {
    engine_.set_hooks(&host_.hooks());
    std::unique_ptr<File> file =
        platform_.files.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
    if (!file) {
      const uint32_t error = LastError();
      engine_.ReportError(Format("Can't open script file<%s> 0x%x", path.c_str(), error));
      return false;
    }
    // Nothing runs from a file that is not a script at all.
    const std::string why = NotAScript(*file, path);
    if (!why.empty()) {
      engine_.ReportError(why);
      return false;
    }
    if (!file->Seek(0, SeekFrom::kBegin, nullptr)) {
      const uint32_t error = LastError();
      engine_.ReportError(Format("Can't open script file<%s> 0x%x", path.c_str(), error));
      return false;
    }
    ScriptReader reader(*file);
    engine_.ClearUserQuit();

    std::string text;
    for (;;) {
      const ScriptReader::Result read = reader.NextLine(&text);
      if (read == ScriptReader::Result::kEnd) break;
      host_.hooks().ProcessMessages();
      if (host_.hooks().UserQuit()) engine_.SetUserQuit();
      if (engine_.user_quit()) {
        engine_.log().LogText("(USER QUIT)\n");
        return true;
      }
      line_number_ = reader.line_number();
      if (read == ScriptReader::Result::kTooLong) {
        ReportAndLog(Format("SCRIPT ERROR\nLine %d of the script is longer than %d characters; "
                            "the script stops here.",
                            line_number_, static_cast<int>(kScriptPieceLength)));
        return false;
      }
      Outcome outcome = Line(CutAtControl(text));
      if (outcome == Outcome::kFailed) return false;
      if (outcome == Outcome::kEnded) return true;
    }
    return EndOfScript();
  }

 private:
  enum class Outcome { kNext, kFailed, kEnded };

  void Log(const std::string& text) { engine_.log().LogText(text); }

  void ReportAndLog(const std::string& message) {
    engine_.ReportError(message);
    engine_.log().LogLine("%s\n", message.c_str());
  }

  // An option or password line after the ">" line cannot change the
  // archive being written: its stub, type record and password digest are
  // on it already. The line is reported; it applies to archives created
  // later.
  void ReportTooLate(const std::string& line) {
    ReportAndLog(Format("SCRIPT ERROR (line %d)\nThe line '%s' comes after the archive was "
                        "created: encryption (E), the minimal stub (M), the setup type (S) and "
                        "the password cannot change an open archive.\nIt has no effect on <%s>.",
                        line_number_, line.c_str(), engine_.archive_path().c_str()));
  }

  void Options(const std::string& line) {
    bool encrypt = false;
    bool compress = false;
    bool fixed_at_creation = false;
    for (size_t i = 1; i < line.size(); ++i) {
      const char c = static_cast<char>(std::toupper(static_cast<unsigned char>(line[i])));
      encrypt = encrypt || c == 'E';
      compress = compress || c == 'Z';
      fixed_at_creation = fixed_at_creation || c == 'E' || c == 'M' || c == 'S';
    }
    if (fixed_at_creation && engine_.writing()) ReportTooLate(line);
    // An archive marked encrypted must not hold its data in the clear: +E
    // switches compression on, as the automation interface does.
    engine_.SetOptions(line[0] == '+' && encrypt && !compress ? line + "Z" : line);
  }

  Outcome Line(const std::string& line) {
    if (line.empty() || line[0] == '#') return Outcome::kNext;
    const std::string rest = line.substr(1);
    switch (line[0]) {
      case '>':
        return CreateArchive(rest);
      case '+':
      case '-':
        Options(line);
        return Outcome::kNext;
      case ':':
        SetupText(rest);
        return Outcome::kNext;
      case '~':
        engine_.SetIgnoreList(rest);
        return Outcome::kNext;
      case '@':
        // A folder that cannot be entered leaves the current one; the
        // lines that follow then fail on their own paths.
        platform_.files.SetCurrentFolder(ResolveLogged(Trimmed(rest)));
        return Outcome::kNext;
      case '*':
        if (engine_.writing()) ReportTooLate(line);
        engine_.set_password_digest(DigestFromPaddedPassword(rest.substr(0, rest.find(' '))));
        return Outcome::kNext;
      case '!':
        return Command(line);
      default:
        return PathLine(line);
    }
  }

  Outcome Command(const std::string& line) {
    const char kind = line.size() > 1 ? line[1] : '\0';
    const std::string text = line.size() > 2 ? line.substr(2) : std::string();
    switch (kind) {
      case '!': {
        engine_.log().LogLine("run cmd<%s>\n", line.c_str() + 1);
        uint32_t code = 0;
        int status = -1;
        if (platform_.processes.RunShellCommand(text, std::string(), &code)) {
          status = static_cast<int>(code);
        }
        engine_.log().LogLine("...cmd returned %d\n", status);
        return Outcome::kNext;
      }
      case '#':
        engine_.log().LogLine("show msg on exit<%s>\n", line.c_str() + 1);
        exit_message_ = ScriptLineBreaks(Cut(text, kScriptExitTextLength));
        return Outcome::kNext;
      case '$':
        engine_.log().LogLine("run cmd on exit<%s>\n", line.c_str() + 1);
        exit_command_ = Cut(text, kScriptExitTextLength);
        return Outcome::kNext;
      case '(':
        OpenFeedback(text);
        return Outcome::kNext;
      case '?':
        return Question(ScriptLineBreaks(text));
      default:
        return PathLine(line);
    }
  }

  Outcome CreateArchive(const std::string& text) {
    std::string with_drive;
    std::string name =
        ArchiveNameFromScript(platform_, text, platform_.clock.UtcNow(), &with_drive);
    // The engine writes one archive at a time: an archive still open from
    // an earlier ">" line is finished (end marker and counts) before the
    // next one starts, never left half-written.
    std::string closed_first;
    if (engine_.writing()) {
      closed_first = engine_.archive_path();
      if (!engine_.CloseArchive()) {
        engine_.ReportError(Format("SCRIPT ERROR\nFailed to close archive <%s> before "
                                   "creating the next one.",
                                   closed_first.c_str()));
        return Outcome::kFailed;
      }
    }
    if (!engine_.CreateArchive(name)) {
      engine_.ReportError("SCRIPT ERROR\nFailed to create archive.");
      return Outcome::kFailed;
    }
    // Written into the new archive's activity log once it exists: creating
    // the archive starts the log afresh.
    if (!with_drive.empty()) {
      engine_.log().LogLine("[replaced '%s' with '%s']\n", text.c_str(), with_drive.c_str());
    }
    if (!closed_first.empty()) {
      engine_.log().LogLine("(archive <%s> was still open: closed before this one)\n",
                            closed_first.c_str());
    }
    // The full path, so that verifying later finds the archive even when
    // an "@" line has changed the current folder meanwhile.
    if (archive_path_) *archive_path_ = platform_.files.FullPath(name);
    return Outcome::kNext;
  }

  void SetupText(const std::string& text) {
    SetupInfo& setup = engine_.setup_info();
    std::string* fields[] = {&setup.company, &setup.product, &setup.description,
                             &setup.setup_program, &setup.wait_program};
    for (size_t i = 0; i < 5; ++i) {
      if (fields[i]->empty()) {
        *fields[i] = i == 4 ? Trimmed(text) : text;
        return;
      }
    }
  }

  // "?:" resolved by the drive search, and the replacement logged.
  std::string ResolveLogged(const std::string& path) {
    std::string resolved = ResolveDriveSearch(platform_.files, path);
    if (resolved != path) {
      engine_.log().LogLine("[replaced '%s' with '%s']\n", path.c_str(), resolved.c_str());
    }
    return resolved;
  }

  Outcome PathLine(const std::string& raw) {
    if (!engine_.writing()) {
      engine_.ReportError("SCRIPT ERROR\nAttempt to add a file but no archive is open.");
      return Outcome::kFailed;
    }
    std::string line = Trimmed(raw);
    std::string name_on_archive;
    const size_t close = line.find('>');
    const size_t equals = line.find('=');
    if (!line.empty() && line[0] == '<' && close != std::string::npos &&
        equals == close + 1) {
      const std::string source = line.substr(equals + 1);
      if (platform_.files.Exists(source)) {
        name_on_archive = line.substr(1, close - 1);
        engine_.log().LogLine("processing rename request...\n<%s> saved as <%s>\n",
                              source.c_str(), name_on_archive.c_str());
        line = source;
      } else {
        engine_.log().LogLine(
            "ignore archive rename instruction...\n%s\nsource file <%s> does not exists\n",
            line.c_str(), source.c_str());
      }
    }
    if (line.empty()) return Outcome::kNext;

    const std::string path = ResolveLogged(line);
    const uint32_t attributes = platform_.files.GetAttributes(path);
    if (attributes == kInvalidAttributes) {
      // Shown to the user even when the engine is silent.
      ui_.MessageBox(Format("SCRIPT ERROR: can't find specified file...\n\n%s", path.c_str()),
                     host_.Caption(), kMbOk | kMbIconHand);
      return Outcome::kNext;
    }
    if (attributes & kAttrDirectory) {
      engine_.AddDirectory(path);
    } else {
      engine_.AddFile(path, name_on_archive);
    }
    // The archive stays open; the caller closes it.
    return engine_.user_quit() ? Outcome::kFailed : Outcome::kNext;
  }

  void OpenFeedback(const std::string& title) {
    if (host_.hooks().HasFeedback()) return;
    ui::Feedback* feedback = host_.NewFeedback();
    if (!feedback) return;
    if (!feedback->Open(title, 100)) {
      host_.DeleteFeedback(feedback);
      return;
    }
    host_.hooks().Attach(feedback);
    own_feedback_ = feedback;
  }

  // Ends the script's own feedback window with success and destroys it.
  void CloseOwnFeedback() {
    if (!own_feedback_) return;
    own_feedback_->End(ui::kFeedbackSuccess);
    if (host_.hooks().attached() == own_feedback_) host_.hooks().Detach();
    host_.DeleteFeedback(own_feedback_);
    own_feedback_ = nullptr;
  }

  Outcome Question(const std::string& text) {
    const std::string caption = host_.Caption();
    if (ui_.MessageBox(text, caption, kMbYesNo | kMbIconQuestion | kMbTopmost) == kIdYes) {
      return Outcome::kNext;
    }
    ui_.MessageBox("The backup procedure will quit", caption, kMbOk | kMbIconHand | kMbTopmost);
    host_.RequestQuit();
    return Outcome::kEnded;
  }

  bool EndOfScript() {
    engine_.log().LogText("(script file complete)\n");
    const bool closed = engine_.CloseArchive();
    CloseOwnFeedback();
    if (!closed) {
      if (!exit_command_.empty() && engine_.log().ActivityLogOpen()) {
        engine_.log().LogLine("exit cmd <%s> not run due to archive error\n",
                              exit_command_.c_str());
      }
      return false;
    }
    if (!exit_command_.empty()) {
      uint32_t code = 0;
      platform_.processes.RunShellCommand(exit_command_, std::string(), &code);
    }
    if (!exit_message_.empty()) {
      ui_.MessageBox(exit_message_, host_.Caption(), kMbOk | kMbIconAsterisk | kMbTopmost);
    }
    return true;
  }

  ArchiveEngine& engine_;
  ScriptHost& host_;
  Platform& platform_;
  UserInterface& ui_;
  std::string* archive_path_;
  std::string exit_command_;
  std::string exit_message_;
  ui::Feedback* own_feedback_ = nullptr;
  int line_number_ = 0;
};

// A name for the archive: at most 64 characters of what the system says,
// or the fallback when it says nothing.
std::string NameOr(const std::string& name, const char* fallback) {
  return name.empty() ? std::string(fallback) : Cut(name, 64);
}

}  // namespace

std::string ArchiveNameFromScript(Platform& platform, const std::string& text,
                                  const SystemTime& utc, std::string* with_drive) {
  std::string source = text;
  with_drive->clear();
  if (source.size() >= 2 && source[0] == '?' && source[1] == ':') {
    const std::string windows = platform.environment.WindowsFolder();
    if (!windows.empty()) {
      source[0] = windows[0];
      *with_drive = source;
    }
  }
  std::string name;
  for (char c : source) {
    switch (c) {
      case '#': AppendFormat(&name, "%02d%02d%04d", utc.day, utc.month, utc.year); break;
      case '$': AppendFormat(&name, "%02d%02d%04d", utc.month, utc.day, utc.year); break;
      case '~': AppendFormat(&name, "%04d%02d%02d", utc.year, utc.month, utc.day); break;
      case '%': AppendFormat(&name, "%02d%02d%02d", utc.hour, utc.minute, utc.second); break;
      case '*': name += NameOr(platform.environment.UserName(), "USR"); break;
      case '@': name += NameOr(platform.environment.ComputerName(), "HOST"); break;
      default: name.push_back(c); break;
    }
  }
  return Trimmed(name);
}

std::string ResolveDriveSearch(FileSystem& files, const std::string& path) {
  if (path.size() < 2 || path[0] != '?' || path[1] != ':') return path;
  std::string candidate = path;
  for (char drive = 'C'; drive <= 'Z'; ++drive) {
    candidate[0] = drive;
    if (files.Exists(candidate)) return candidate;
  }
  return candidate;  // left with Z:
}

std::string ScriptLineBreaks(const std::string& text) {
  std::string out = text;
  for (size_t i = 0; i + 1 < out.size(); ++i) {
    if (out[i] == '\\' && out[i + 1] == 'n') {
      out[i] = ' ';
      out[i + 1] = '\n';
    }
  }
  return out;
}

bool ProcessScript(ArchiveEngine& engine, ScriptHost& host, const std::string& path,
                   std::string* archive_path) {
  if (archive_path) archive_path->clear();
  ScriptRun run(engine, host, archive_path);
  return run.Run(path);
}

}  // namespace crx::builder
