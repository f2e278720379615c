// The commands of the script language that belong to no family of their
// own: update mode, file groups, running programs, small text-file edits,
// attributes, shared-file counts, on-uninstall records, single-step mode,
// the window, cancel and finalize; and the two plain interaction commands
// message and query. Argument counts and options are checked by the
// command table before any of these runs.
#include <cstdlib>
#include <memory>

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

// Arguments first..last-1 of the current command joined with line breaks.
std::string JoinLines(const ParsedCommand& cmd, int first) {
  std::string text;
  int count = cmd.ArgCount();
  for (int i = first; i < count; ++i) {
    if (i > first) text += '\n';
    text += cmd.args[i];
  }
  return text;
}

// Reads a file line by line through the platform layer. Each line comes
// with its line end ("\n", "\r\n" or nothing at the end of the file) kept
// apart, so a rewrite can keep every byte it does not change.
class LineReader {
 public:
  explicit LineReader(File& file) : file_(file) {}

  // The next line without its end; false at the end of the file (or when
  // reading fails, which *failed then tells).
  bool Next(std::string* line, std::string* end) {
    line->clear();
    end->clear();
    bool any = false;
    for (;;) {
      if (pos_ == size_ && !Fill()) return any;
      any = true;
      char c = buffer_[pos_++];
      if (c == '\n') {
        if (!line->empty() && line->back() == '\r') {
          line->pop_back();
          *end = "\r\n";
        } else {
          *end = "\n";
        }
        return true;
      }
      line->push_back(c);
    }
  }
  bool failed() const { return failed_; }

 private:
  bool Fill() {
    size_t got = 0;
    if (!file_.Read(buffer_, sizeof buffer_, &got)) {
      failed_ = true;
      return false;
    }
    pos_ = 0;
    size_ = got;
    return got > 0;
  }

  File& file_;
  char buffer_[4096];
  size_t pos_ = 0;
  size_t size_ = 0;
  bool failed_ = false;
};

// Every occurrence of from in text replaced by to, scanning on after each
// replacement (so a to that contains from cannot repeat forever).
std::string ReplaceAll(const std::string& text, const std::string& from, const std::string& to) {
  if (from.empty()) return text;
  std::string out;
  size_t at = 0;
  for (;;) {
    size_t hit = text.find(from, at);
    if (hit == std::string::npos) break;
    out.append(text, at, hit - at);
    out += to;
    at = hit + from.size();
  }
  out.append(text, at, std::string::npos);
  return out;
}

// A decimal number as the C library's atoi reads it (leading blanks, a
// sign, digits up to the first other character; 0 when there are none).
int DecimalOf(const std::string& text) { return std::atoi(text.c_str()); }

// The command line of run: each word holding a blank or a tab in double
// quotes, words separated by one blank, no blanks at either end.
std::string RunCommandLine(const ParsedCommand& cmd) {
  std::string line;
  int count = cmd.ArgCount();
  for (int i = 0; i < count; ++i) {
    const std::string& word = cmd.args[i];
    if (i > 0) line += ' ';
    if (word.find_first_of(" \t") != std::string::npos) {
      line += '"' + word + '"';
    } else {
      line += word;
    }
  }
  size_t first = line.find_first_not_of(' ');
  if (first == std::string::npos) return std::string();
  size_t last = line.find_last_not_of(' ');
  return line.substr(first, last - first + 1);
}

}  // namespace

bool ScriptInterpreter::CmdUpdating() {
  update_mode = true;
  return true;
}

bool ScriptInterpreter::CmdFilegroup() {
  const std::string& id = cmd.args[0];
  if (id.empty() || id[0] != 'G') {
    Message("Incorrect File Group Specified\n", kMbIconHand);
    return false;
  }
  // Only decimal digits may follow the G: "Gx" or "G1x" names no group.
  std::string digits = id.substr(1);
  if (digits.empty() || digits.size() > 3 ||
      digits.find_first_not_of("0123456789") != std::string::npos ||
      std::atoi(digits.c_str()) >= kFileGroups) {
    Message("ERROR: file group ID out of range", kMbIconHand);
    return false;
  }
  FileGroup& group = groups[std::atoi(digits.c_str())];
  if (cmd.option.empty() || cmd.HasOption('m')) {
    if (cmd.ArgCount() != 2) return false;
    group.description = cmd.args[1];
    group.mandatory = cmd.HasOption('m');
  } else if (cmd.HasOption('d')) {
    group.deselected = true;
  } else if (cmd.HasOption('e')) {
    group.deselected = false;
  }
  return true;
}

bool ScriptInterpreter::CmdRun() {
  const std::string& program = cmd.args[0];
  if (!platform.files.Exists(program)) {
    std::string text =
        Format("ERROR - can't run program...\nfile does not exist <%s>", program.c_str());
    Message(text, kMbIconHand);
    Log(text + "\n");
    return false;
  }
  if (cmd.HasOption('x')) {
    // Uninstall scripts unregister a shared server only when no other
    // application still counts on it.
    int count = SharedRefCount(platform.files.FullPath(program));
    if (count > 1) {
      LogF("# cmd <%s> (to unregister object) will not run...\n", program.c_str());
      LogF("# ... files ref count is %d\n", count);
      return true;
    }
  }
  std::string line = RunCommandLine(cmd);
  LogF("# run<%s>\n", line.c_str());
  StartOptions options;
  options.folder = platform.files.CurrentFolder();
  std::unique_ptr<Process> process = platform.processes.Start(line, options);
  if (!process) {
    uint32_t error = LastError();
    std::string text = Format("error creating process %d[0x%x]\n%s", static_cast<int>(error),
                              error, program.c_str());
    Message(text, kMbIconHand);
    Log(text + "\n");
    return false;
  }
  if (cmd.HasOption('w')) {
    SetVariable("?", "(empty)");
    return true;
  }
  uint32_t code = 0;
  if (process->Wait(kInfinite) != WaitResult::kDone || !process->ExitCode(&code)) {
    uint32_t error = LastError();
    LogF("# run: can't get the exit code of <%s> error=%d\n", line.c_str(),
         static_cast<int>(error));
    SetVariable("?", "(empty)");
    return true;
  }
  SetVariable("?", Format("%d", static_cast<int>(code)));
  return true;
}

bool ScriptInterpreter::CmdFread() {
  const std::string& path = cmd.args[0];
  const std::string& name = cmd.args[1];
  int wanted = cmd.args[2].empty() ? 1 : DecimalOf(cmd.args[2]);
  if (wanted < 1) wanted = 1;
  std::unique_ptr<File> file = platform.files.Open(path, kAccessRead, kShareRead | kShareWrite,
                                                   Disposition::kOpenExisting);
  if (!file) {
    SetVariable(name, "(nofile)");
    LogF("# Can't open file for read <%s> error=%d\n", path.c_str(),
         static_cast<int>(LastError()));
    return true;
  }
  LineReader reader(*file);
  std::string line;
  std::string end;
  for (int number = 1;; ++number) {
    if (!reader.Next(&line, &end)) {
      SetVariable(name, "(eof)");
      return true;
    }
    if (number == wanted) break;
  }
  if (line.size() > kArgumentField) line.resize(kArgumentField);
  SetVariable(name, line);
  return true;
}

bool ScriptInterpreter::CmdFedit() {
  const std::string& path = cmd.args[0];
  const std::string& from = cmd.args[1];
  const std::string& to = cmd.args[2];
  int only_line = cmd.args[3].empty() ? 0 : DecimalOf(cmd.args[3]);

  // The original is kept in a temporary copy in the current folder and the
  // file itself rewritten, so it keeps its identity (links, security).
  std::string temp;
  bool copied = false;
  uint32_t error = 0;
  for (uint32_t extra = 0; extra < 16 && !copied; ++extra) {
    temp = Format("_tmp_%x%x", platform.processes.CurrentProcessId(),
                  platform.clock.TickCount() + extra);
    copied = platform.files.CopyFile(path, temp, true);
    error = LastError();
    if (!copied && error != kErrorFileExists && error != kErrorAlreadyExists) break;
  }
  if (!copied) {
    LogF("# fedit failed(%s), error %d\n", path.c_str(), static_cast<int>(error));
    if (!platform.files.Exists(path)) LogF("# fedit file(%s), does not exist\n", path.c_str());
    return cmd.HasOption('f');
  }
  std::unique_ptr<File> input =
      platform.files.Open(temp, kAccessRead, kShareRead, Disposition::kOpenExisting);
  if (!input) {
    LogF("# fedit failed(no tempinput file) '%s' error %d", temp.c_str(),
         static_cast<int>(LastError()));
    platform.files.DeleteFile(temp);
    return false;
  }
  uint32_t attributes = platform.files.GetAttributes(path);
  if (attributes != kInvalidAttributes && (attributes & kAttrReadOnly) != 0) {
    platform.files.SetAttributes(path, attributes & ~kAttrReadOnly);
  }
  // Opened as it is and cut after the last line written: a new file would
  // lose a hidden or system attribute's protection on Windows.
  std::unique_ptr<File> output =
      platform.files.Open(path, kAccessWrite, kShareNone, Disposition::kOpenExisting);
  bool ok = output != nullptr;
  if (!ok) {
    LogF("# fedit failed(%s), error %d\n", path.c_str(), static_cast<int>(LastError()));
  } else {
    LineReader reader(*input);
    std::string line;
    std::string end;
    for (int number = 1; ok && reader.Next(&line, &end); ++number) {
      if (only_line == 0 || number == only_line) line = ReplaceAll(line, from, to);
      line += end;
      ok = output->Write(line.data(), line.size());
    }
    ok = ok && !reader.failed() && output->SetEnd() && output->Flush();
    if (!ok) {
      LogF("# fedit failed(%s), error %d\n", path.c_str(), static_cast<int>(LastError()));
      // Put the original back rather than leave a half-written file.
      output.reset();
      input.reset();
      platform.files.CopyFile(temp, path, false);
    }
  }
  output.reset();
  input.reset();
  platform.files.DeleteFile(temp);
  if (attributes != kInvalidAttributes) platform.files.SetAttributes(path, attributes);
  return ok;
}

bool ScriptInterpreter::CmdRm() {
  const std::string& path = cmd.args[0];
  uint32_t attributes = platform.files.GetAttributes(path);
  if (attributes == kInvalidAttributes) {
    if (cmd.HasOption('f')) return true;
    LogF("# Can't delete file <%s> error=%d\n", path.c_str(), static_cast<int>(LastError()));
    return false;
  }
  if ((attributes & kAttrReadOnly) != 0) {
    platform.files.SetAttributes(path, attributes & ~kAttrReadOnly);
  }
  if (!platform.files.DeleteFile(path)) {
    uint32_t error = LastError();
    LogF("# Can't delete file <%s> error=%d\n", path.c_str(), static_cast<int>(error));
    if ((attributes & kAttrReadOnly) != 0) platform.files.SetAttributes(path, attributes);
    return false;
  }
  return true;
}

bool ScriptInterpreter::CmdFwrite() {
  const std::string& path = cmd.args[0];
  char mode = cmd.option[1];  // the row allows -t, -a, -T and -A only
  bool append = mode == 'a' || mode == 'A';
  bool keep_attributes = mode == 'T' || mode == 'A';
  uint32_t attributes = kInvalidAttributes;
  if (keep_attributes) {
    attributes = platform.files.GetAttributes(path);
    if (attributes != kInvalidAttributes && (attributes & kAttrReadOnly) != 0) {
      platform.files.SetAttributes(path, attributes & ~kAttrReadOnly);
    }
  }
  // Opened (or created) as it is, then cut or wound to its end: a new file
  // would lose a hidden or system attribute's protection on Windows.
  std::unique_ptr<File> file =
      platform.files.Open(path, kAccessWrite, kShareRead, Disposition::kOpenAlways);
  bool ok = file != nullptr;
  if (!ok) {
    LogF("# Can't open file for write <%s> error=%d\n", path.c_str(),
         static_cast<int>(LastError()));
  } else {
    std::string line = cmd.args[1] + "\r\n";
    ok = (append ? file->Seek(0, SeekFrom::kEnd, nullptr) : file->SetEnd()) &&
         file->Write(line.data(), line.size()) && file->Flush();
    if (!ok) {
      LogF("# Can't write file <%s> error=%d\n", path.c_str(), static_cast<int>(LastError()));
    }
    file.reset();
  }
  if (keep_attributes && attributes != kInvalidAttributes) {
    platform.files.SetAttributes(path, attributes);
  }
  return ok;
}

bool ScriptInterpreter::CmdChmod() {
  const std::string& path = cmd.args[0];
  const std::string& word = cmd.args[1];
  uint32_t attributes = platform.files.GetAttributes(path);
  if (attributes == kInvalidAttributes) {
    LogF("# Can't access file <%s> for chmod error=%d\n", path.c_str(),
         static_cast<int>(LastError()));
    return cmd.HasOption('f');
  }
  // Only the bits a script may change take part; a folder stays a folder.
  uint32_t changed = attributes & ~(kAttrDirectory | kAttrNormal | kAttrReparsePoint);
  struct Bit {
    const char* name;
    uint32_t bit;
  };
  static const Bit kBits[] = {
      {"hidden", kAttrHidden}, {"ro", kAttrReadOnly}, {"system", kAttrSystem},
      {"archive", kAttrArchive}};
  bool known = false;
  for (const Bit& b : kBits) {
    if (word == b.name) {
      changed |= b.bit;
      known = true;
    } else if (word.size() > 1 && word[0] == '!' && word.compare(1, std::string::npos, b.name) == 0) {
      changed &= ~b.bit;
      known = true;
    }
  }
  if (!known && word.size() > 2 && word[0] == '0' && word[1] == 'x' &&
      word.find_first_not_of("0123456789abcdefABCDEF", 2) == std::string::npos) {
    changed = static_cast<uint32_t>(std::strtoul(word.c_str() + 2, nullptr, 16));
    known = true;
  }
  if (!known) return true;
  if (changed == 0) changed = kAttrNormal;
  if (!platform.files.SetAttributes(path, changed)) {
    LogF("# Can't access file <%s> for chmod error=%d\n", path.c_str(),
         static_cast<int>(LastError()));
    return false;
  }
  return true;
}

bool ScriptInterpreter::CmdGetdllref() {
  int count = SharedRefCount(platform.files.FullPath(cmd.args[0]));
  SetVariable(cmd.args[1], Format("%d", count));
  return true;
}

bool ScriptInterpreter::CmdOnuninstall() {
  on_uninstall.push_back(cmd.args[0]);
  return true;
}

bool ScriptInterpreter::CmdSingleStep() {
  if (cmd.args[0] == "on") {
    single_step = true;
  } else if (cmd.args[0] == "off") {
    single_step = false;
  } else {
    Message(Format("ERROR - unknown single_step argument <%s>", cmd.args[0].c_str()),
            kMbIconHand);
    return false;
  }
  return true;
}

bool ScriptInterpreter::CmdMaximize() {
  if (!silent_mode.silent()) host.Maximize();
  return true;
}

bool ScriptInterpreter::CmdCancel() {
  cancelled = true;
  // The long names of replaced files and a scheduled restart are given up.
  DeleteRenameBatch();
  return true;
}

bool ScriptInterpreter::CmdFinalize() {
  finalize_requested = true;
  return true;
}

bool ScriptInterpreter::CmdMessage() {
  Message(JoinLines(cmd, 0), kMbIconAsterisk);
  return true;
}

bool ScriptInterpreter::CmdQuery() {
  // y is tested first: an option holding both letters asks Yes/No.
  uint32_t buttons = cmd.HasOption('y') ? kMbYesNo : kMbOkCancel;
  int answer = Message(JoinLines(cmd, 1), buttons | kMbIconQuestion);
  const char* word = "UNSET";
  switch (answer) {
    case kIdOk: word = "OK"; break;
    case kIdCancel: word = "CANCEL"; break;
    case kIdYes: word = "YES"; break;
    case kIdNo: word = "NO"; break;
    default: break;
  }
  SetVariable(cmd.args[0], word);
  return true;
}

}  // namespace crx::interp
