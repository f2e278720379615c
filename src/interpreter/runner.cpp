// The script runner: choosing the script, the log, reading script lines
// (continuation, comments, quoting, splitting), call and return between
// script files, the pre-scan, the main loop, executing one command with the
// error report and clean-up, the end-of-run report and the finalize
// hand-off.

#include <array>
#include <cstdarg>
#include <cstring>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Kestrova\\1.00";
constexpr const char* kDefaultScript = "install.txt";
constexpr size_t kReadChunk = 4096;
constexpr int kMaxWords = 10;

}  // namespace

// One open script file with its read-ahead buffer.
struct ScriptInterpreter::ScriptSlot {
  std::unique_ptr<File> file;
  std::string path;
  std::string delete_on_close;  // a file called with call -r
  std::string buffer;
  size_t position = 0;
  uint32_t read_error = 0;  // the error of a read that failed

  // The next byte of the file, or -1 at its end or after a read error.
  int Get() {
    if (position == buffer.size()) {
      if (!file || read_error != 0) return -1;
      buffer.resize(kReadChunk);
      size_t got = 0;
      if (!file->Read(buffer.data(), buffer.size(), &got)) {
        read_error = LastError() != 0 ? LastError() : kErrorReadFault;
        got = 0;
      }
      buffer.resize(got);
      position = 0;
      if (got == 0) return -1;
    }
    return static_cast<unsigned char>(buffer[position++]);
  }
  // The next byte without taking it.
  int Peek() {
    int c = Get();
    if (c >= 0) --position;
    return c;
  }
  bool Rewind() {
    buffer.clear();
    position = 0;
    read_error = 0;
    return file && file->Seek(0, SeekFrom::kBegin, nullptr);
  }
  void Close() {
    file.reset();
    buffer.clear();
    position = 0;
    path.clear();
  }
};

ScriptInterpreter::ScriptInterpreter(Platform& platform_in, ui::FrontEnd& front_end_in,
                                     InterpreterHost& host_in)
    : platform(platform_in), front_end(front_end_in), host(host_in) {
  for (int i = 0; i < kScriptSlots; ++i) slots.push_back(std::make_unique<ScriptSlot>());
}

ScriptInterpreter::~ScriptInterpreter() {
  CloseRenameBatch();
  WriteLogBuffer();
}

int ParsedCommand::ArgCount() const {
  if (command.empty()) return -1;
  int n = 0;
  while (n < kArgumentFields && !args[n].empty()) ++n;
  return n;
}

bool ParsedCommand::HasOption(char letter) const {
  return !option.empty() && option[0] == '-' && option.find(letter) != std::string::npos;
}

void ParsedCommand::Clear() {
  option.clear();
  command.clear();
  for (std::string& a : args) a.clear();
}

// ---------------------------------------------------------------------------
// The log

namespace {

// The system's temporary folder without its trailing back-slash.
std::string TempFolder(Platform& platform) {
  std::string temp = platform.environment.TempPath();
  if (!temp.empty() && (temp.back() == '\\' || temp.back() == '/')) temp.pop_back();
  return temp;
}

}  // namespace

bool ScriptInterpreter::OpenLog() {
  const std::string path = TempFolder(platform) + "\\Kestrova.log";
  WriteLogBuffer();
  log_.reset();
  // TEMP is shared with other users: never follow a link planted there.
  log_ = platform.files.Open(path, kAccessWrite, kShareRead, Disposition::kCreateAlways,
                             kOpenNoFollow);
  return log_ != nullptr;
}

// Log lines are gathered and written a few kilobytes, or a fraction of a
// second, at a time: a copy of a small file logs five lines, and a write
// for each would cost more than the copy.
void ScriptInterpreter::Log(const std::string& text) {
  if (!logging || !log_ || text.empty()) return;
  log_buffer_ += text;
  Logged();
}

// Writes the buffered lines out when there are many or they have waited.
void ScriptInterpreter::Logged() {
  const uint32_t now = platform.clock.TickCount();
  if (log_buffer_.size() >= kLogBufferSize || now - log_written_at_ >= kLogBufferMilliseconds) {
    WriteLogBuffer();
  }
}

void ScriptInterpreter::WriteLogBuffer() {
  log_written_at_ = platform.clock.TickCount();
  if (log_buffer_.empty()) return;
  if (log_) log_->Write(log_buffer_.data(), log_buffer_.size());
  log_buffer_.clear();
}

void ScriptInterpreter::LogF(const char* format, ...) {
  if (!logging || !log_) return;
  const size_t before = log_buffer_.size();
  va_list args;
  va_start(args, format);
  AppendFormatV(&log_buffer_, format, args);
  va_end(args);
  if (log_buffer_.size() != before) Logged();
}

void ScriptInterpreter::FlushLog() { WriteLogBuffer(); }

void ScriptInterpreter::SyncLog() {
  WriteLogBuffer();
  if (log_) log_->Flush();
}

void ScriptInterpreter::LogCommandRecord() {
  LogF("\ncmd<%s> opt<%s> a1<%s> a2<%s> a3<%s> a4<%s> a5<%s> a6<%s> a7<%s> a8<%s>\n",
       cmd.command.c_str(), cmd.option.c_str(), cmd.args[0].c_str(), cmd.args[1].c_str(),
       cmd.args[2].c_str(), cmd.args[3].c_str(), cmd.args[4].c_str(), cmd.args[5].c_str(),
       cmd.args[6].c_str(), cmd.args[7].c_str());
}

void ScriptInterpreter::SetStatus(const std::string& text) {
  if (silent_mode.silent()) return;
  host.SetStatus(text);
}

void ScriptInterpreter::SetStatusF(const char* format, ...) {
  if (silent_mode.silent()) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  host.SetStatus(text);
}

// ---------------------------------------------------------------------------
// Reading script files

namespace {

// Reads one line of at most kLineLimit characters into *line, joining lines
// continued with a trailing back-slash. A longer line is cut and the rest of
// it dropped (a trace line says so), so its tail never becomes a command of
// its own. False at the end of the file when nothing was read.
bool ReadScriptLine(ScriptInterpreter& k, ScriptInterpreter::ScriptSlot& slot,
                    std::string* line) {
  line->clear();
  bool read_any = false;
  bool cut = false;
  int last = -1;  // the last character of the line, kept or dropped
  for (;;) {
    // A run of ordinary characters is taken from the read-ahead buffer at
    // once; line ends go through Get below.
    if (slot.position < slot.buffer.size()) {
      const char* begin = slot.buffer.data() + slot.position;
      const char* end = slot.buffer.data() + slot.buffer.size();
      const char* p = static_cast<const char*>(std::memchr(begin, '\n', end - begin));
      if (!p) p = end;
      if (const void* cr = std::memchr(begin, '\r', p - begin)) p = static_cast<const char*>(cr);
      if (p > begin) {
        const size_t n = static_cast<size_t>(p - begin);
        const size_t room = line->size() < kLineLimit ? kLineLimit - line->size() : 0;
        line->append(begin, n < room ? n : room);
        if (n > room) cut = true;
        last = static_cast<unsigned char>(p[-1]);
        read_any = true;
        slot.position += n;
        continue;
      }
    }
    int c = slot.Get();
    if (c < 0) break;
    read_any = true;
    if (c == '\r' && slot.Peek() == '\n') c = slot.Get();  // a CR LF line end
    if (c == '\n') {
      if (last == '\\') {
        if (!line->empty() && line->back() == '\\' && !cut) line->pop_back();
        last = -1;
        continue;
      }
      break;
    }
    last = c;
    if (line->size() < kLineLimit) {
      line->push_back(static_cast<char>(c));
    } else {
      cut = true;
    }
  }
  // A back-slash at the very end of the file continues onto nothing.
  if (last == '\\' && !line->empty() && line->back() == '\\' && !cut) line->pop_back();
  if (cut) {
    k.LogF("# line longer than %d characters cut <%s>\n", static_cast<int>(kLineLimit),
           line->c_str());
  }
  return read_any;
}

// Puts a split word (size bytes at word) into its field *out: protected
// blanks become blanks, grave accents go, and a word longer than the field
// is cut to it.
void ToField(ScriptInterpreter& k, const char* word, size_t size, size_t field,
             std::string* out) {
  if (std::memchr(word, '`', size) == nullptr &&
      std::memchr(word, kProtectedBlank, size) == nullptr) {
    out->assign(word, size);
  } else {
    out->clear();
    for (size_t i = 0; i < size; ++i) {
      const char c = word[i];
      if (c == '`') continue;
      out->push_back(c == kProtectedBlank ? ' ' : c);
    }
  }
  if (out->size() > field) {
    out->resize(field);
    k.LogF("# word cut to %d characters <%s>\n", static_cast<int>(field), out->c_str());
  }
}

}  // namespace

bool ScriptInterpreter::OpenScript(const std::string& path) {
  LogF("# OPEN <%s>\n", path.c_str());
  ScriptSlot& slot = *slots[depth];
  slot.Close();
  slot.delete_on_close.clear();
  slot.file = platform.files.Open(path, kAccessRead, kShareRead | kShareWrite | kShareDelete,
                                  Disposition::kOpenExisting);
  if (!slot.file) {
    const uint32_t error = LastError();
    LogF("Can't open script file 0x%x[%d]\n(%s)\ncurrent directory: %s\n", error,
         static_cast<int>(error), path.c_str(), platform.files.CurrentFolder().c_str());
    SetLastError(error);
    return false;
  }
  slot.path = platform.files.FullPath(path);
  return true;
}

void ScriptInterpreter::SplitLine(std::string line) {
  cmd.Clear();
  // Quote characters toggle their state only outside the other two kinds
  // and turn into blanks; blanks inside any quotes are protected.
  bool in_double = false;
  bool in_single = false;
  bool in_back = false;
  // Most characters are none of the four that matter here.
  static constexpr auto kMatters = [] {
    std::array<bool, 256> table{};
    table['"'] = table['\''] = table['`'] = table[' '] = true;
    return table;
  }();
  for (char& c : line) {
    if (!kMatters[static_cast<unsigned char>(c)]) continue;
    if (c == '"' && !in_single && !in_back) {
      in_double = !in_double;
      c = ' ';
    } else if (c == '\'' && !in_double && !in_back) {
      in_single = !in_single;
      c = ' ';
    } else if (c == '`' && !in_double && !in_single) {
      in_back = !in_back;
      c = ' ';
    } else if (c == ' ' && (in_double || in_single || in_back)) {
      c = kProtectedBlank;
    }
  }

  // The words: where each begins in line, and its length.
  struct Word {
    size_t begin;
    size_t size;
  } words[kMaxWords];
  int count = 0;
  size_t i = 0;
  while (count < kMaxWords) {
    while (i < line.size() && line[i] == ' ') ++i;
    if (i == line.size()) break;
    size_t end = line.find(' ', i);
    if (end == std::string::npos) end = line.size();
    words[count++] = Word{i, end - i};
    i = end;
  }
  if (count == 0) return;

  const char* text = line.data();
  auto field = [&](int w, size_t size, std::string* out) {
    ToField(*this, text + words[w].begin, words[w].size, size, out);
  };
  field(0, kKeywordField, &cmd.command);
  int first_arg = 1;
  if (count > 1 && text[words[1].begin] == '-') {
    field(1, kKeywordField, &cmd.option);
    first_arg = 2;
  }
  for (int a = 0; a < kArgumentFields && first_arg + a < count; ++a) {
    field(first_arg + a, kArgumentField, &cmd.args[a]);
  }
}

namespace {

// Closes the file of a slot; a file called with call -r is deleted (not
// during the pre-scan, which reads it again in the real run).
void CloseSlot(ScriptInterpreter& k, int index) {
  ScriptInterpreter::ScriptSlot& slot = *k.slots[index];
  slot.Close();
  if (index == k.restore_depth) k.restore_depth = -1;
  if (!slot.delete_on_close.empty()) {
    if (!k.prescan) {
      k.platform.files.DeleteFile(slot.delete_on_close);
      k.LogF("# RM CALLED FILE <%s> [%d]\n", slot.delete_on_close.c_str(), index);
    }
    slot.delete_on_close.clear();
  }
}

// The end of the main script (its end of file, or return at depth 0).
void EndOfScript(ScriptInterpreter& k) {
  if (!k.prescan && !k.resume_marker.empty()) {
    // A restarted run that never met its restart line has done nothing:
    // it must not finish the installation.
    k.LogF("# restart label <%s> not found in the script\n", k.resume_marker.c_str());
    k.Message("Fatal errors have occured while trying to restart", kMbOk | kMbIconHand);
    k.ReportStatusMIF(false, "Errors occured");
    k.run_end = ScriptInterpreter::RunEnd::kFailed;
    return;
  }
  if (!k.prescan) {
    k.FinalizeInstallation();
    k.ReportStatusMIF(true, "Completed successfully");
    k.SetStatus("Ready");
  }
  k.run_end = ScriptInterpreter::RunEnd::kCompleted;
}

// Leaves the file at the current depth, at its end or on return: the main
// script's end ends the run (false); a called file goes back to the line
// after its call (true).
bool LeaveFile(ScriptInterpreter& k) {
  if (k.depth == 0) {
    EndOfScript(k);
    return false;
  }
  CloseSlot(k, k.depth);
  --k.depth;
  return true;
}

enum class CallResult { kEntered, kTooDeep, kCantOpen };

// Opens a called script file one level deeper (logged as the call line).
CallResult EnterCall(ScriptInterpreter& k, const std::string& file, const std::string& option,
                     bool delete_after) {
  if (k.depth == kScriptSlots - 1) return CallResult::kTooDeep;
  k.LogF("cmd<call> opt<%s> a1<%s> [%d]\n", option.c_str(), file.c_str(), k.depth + 1);
  ++k.depth;
  if (!k.OpenScript(file)) {
    k.slots[k.depth]->Close();
    --k.depth;
    return CallResult::kCantOpen;
  }
  if (delete_after) k.slots[k.depth]->delete_on_close = k.slots[k.depth]->path;
  return CallResult::kEntered;
}

// A call that cannot be carried out ends the run as a failure.
void FailedCall(ScriptInterpreter& k, const std::string& text) {
  k.Message(text, kMbOk | kMbIconHand);
  k.SetStatus("Ready");
  k.ReportStatusMIF(false, "Errors occured");
  k.run_end = ScriptInterpreter::RunEnd::kFailed;
}

}  // namespace

bool ScriptInterpreter::ReadNextCommand() {
  for (;;) {
    if (cancelled) {
      SetStatus("Cancelled");
      ReportStatusMIF(false, "Cancelled");
      run_end = RunEnd::kCancelled;
      return false;
    }
    if (suspended) {
      SetStatus("Will restart after reboot");
      run_end = RunEnd::kSuspended;
      return false;
    }

    std::string line;
    const bool got_line = ReadScriptLine(*this, *slots[depth], &line);
    if (slots[depth]->read_error != 0) {
      // A script that cannot be read to its end must not pass for a
      // finished one: the line in hand may be cut short, and the commands
      // after it never ran. The run fails and is cleaned up.
      if (prescan) {
        run_end = RunEnd::kCompleted;
        return false;
      }
      const uint32_t error = slots[depth]->read_error;
      ShowAndLog(Format("ERROR:\ncan't read script file\n%s\nerror %u",
                        slots[depth]->path.c_str(), static_cast<unsigned>(error)),
                 kMbOk | kMbIconHand);
      ReportStatusMIF(false, "Errors occured");
      if (!uninstalling && !update_mode) CleanUpAfterFailure();
      SetStatus("Ready");
      run_end = RunEnd::kFailed;
      return false;
    }
    if (!got_line) {
      if (!LeaveFile(*this)) return false;
      continue;
    }
    if (line.empty() || line[0] == '#') continue;
    for (char& c : line) c = static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    if (single_step && !prescan) Message("read input line...\n<" + line + ">", kMbIconAsterisk);

    raw_line = line;
    // The saved state of a restarted run is read back as written: its
    // values are not expanded again.
    SplitLine(depth == restore_depth ? line : ExpandLine(line));
    SubstituteAliases();

    // While a restarted run skips to its restart line, a return must not
    // end the script early; a call is followed (the restart line may be in
    // the called file) when its file is there, but the file is kept.
    if (!resume_marker.empty() && !prescan) {
      if (cmd.command == "call" && MayRun()) {
        if (EnterCall(*this, cmd.args[0], cmd.option, false) == CallResult::kEntered) continue;
      }
      return true;
    }

    // call and return are carried out here. Inside a branch that does not
    // run they are skipped like any other command: a return in a branch
    // not taken must not end the script.
    if (cmd.command == "call" && MayRun()) {
      const std::string file = cmd.args[0];
      switch (EnterCall(*this, file, cmd.option, cmd.HasOption('r'))) {
        case CallResult::kEntered:
          continue;
        case CallResult::kTooDeep:
          if (prescan) return true;  // the pre-scan ignores the call line
          FailedCall(*this, Format("ERROR:\nfailed to call script file\n%s\nNESTING TOO DEEP",
                                   file.c_str()));
          return false;
        case CallResult::kCantOpen:
          if (prescan) return true;
          FailedCall(*this, Format("ERROR:\nfailed to call script file\n%s\n", file.c_str()));
          return false;
      }
    }
    if (cmd.command == "return" && MayRun()) {
      if (!LeaveFile(*this)) return false;
      continue;
    }
    return true;
  }
}

// ---------------------------------------------------------------------------
// Executing one command

bool ScriptInterpreter::Execute() {
  if (cmd.command.empty() || cmd.command[0] == '#') return true;
  // The reader carries out call and return; one that reaches this point
  // stands in a branch that does not run, and is skipped like any other
  // command there (it has no row in the keyword table).
  if ((cmd.command == "call" || cmd.command == "return") && !MayRun()) return true;

  if (cmd.command == "copy") {
    SetStatusF("copy file: %s...", cmd.args[1].c_str());
  } else {
    SetStatusF("%s %s %s %s %s %s %s", cmd.command.c_str(), cmd.option.c_str(),
               cmd.args[0].c_str(), cmd.args[1].c_str(), cmd.args[2].c_str(),
               cmd.args[3].c_str(), cmd.args[4].c_str());
  }

  cancelled = false;
  bool ok = true;
  bool ask_cancelled = false;
  if (single_step) {
    std::string line = cmd.command + " " + cmd.option + " ";
    for (int a = 0; a < 5; ++a) line += cmd.args[a] + " ";
    const std::string text = Format(
        "ABOUT TO PROCESS...\n\n%s\n\ncommand<%s> option<%s>\narguments: 1<%s> 2<%s> 3<%s> "
        "4<%s> 5<%s> 6<%s> 7<%s> 8<%s>",
        line.c_str(), cmd.command.c_str(), cmd.option.c_str(), cmd.args[0].c_str(),
        cmd.args[1].c_str(), cmd.args[2].c_str(), cmd.args[3].c_str(), cmd.args[4].c_str(),
        cmd.args[5].c_str(), cmd.args[6].c_str(), cmd.args[7].c_str());
    if (Message(text, kMbOkCancel | kMbIconQuestion) == kIdCancel) {
      cancelled = true;
      ask_cancelled = true;
    }
  }
  if (!ask_cancelled) ok = Dispatch();

  if (!ok && !uninstalling) {
    // The distribution system hears of every failure, also in update mode.
    ReportStatusMIF(false, "Errors occured");
    CloseProgress();
    if (!update_mode) {
      ShowAndLog(Format("SCRIPT ERROR: can't process command\n\n%s %s %s %s %s %s\n\nThe install "
                        "procedure will now cleanup any\nfiles and registry entries already "
                        "copied...",
                        cmd.command.c_str(), cmd.option.c_str(), cmd.args[0].c_str(),
                        cmd.args[1].c_str(), cmd.args[2].c_str(), cmd.args[3].c_str()),
                 kMbOk | kMbIconHand);
      CleanUpAfterFailure();
      Message("CLEANUP PHASE COMPLETED SUCCESSFULLY", kMbOk);
    }
  }

  if (cancelled) ShowCancelledLook();
  return uninstalling ? true : ok;
}

// ---------------------------------------------------------------------------
// The run

namespace {

// The script dialog for a missing install.txt. False when the program is
// to quit (cancelled, or the chosen folder cannot be entered; *failed tells
// which).
bool ChooseScript(ScriptInterpreter& k, std::string* path, bool* failed) {
  *failed = false;
  Registry& registry = k.platform.registry;
  ScopedRegKey key(registry);
  std::string last;
  if (registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(), nullptr) !=
      kErrorSuccess) {
    k.Message("Error accessing registry", kMbOk | kMbIconHand);
    key.Reset();
  } else if (registry.GetString(key.Get(), "LastScriptFile", &last) != kErrorSuccess) {
    last.clear();
  }
  std::string chosen;
  if (!k.host.AskScriptFile(last, k.platform.files.CurrentFolder(), &chosen)) return false;
  chosen = k.platform.files.FullPath(chosen);
  const std::string folder = winpath::Parent(chosen);
  if (folder.empty() || !k.platform.files.SetCurrentFolder(folder)) {
    k.Message(Format("Can't change directory to run script...\n\"%s\"", folder.c_str()),
              kMbOk | kMbIconHand);
    *failed = true;
    return false;
  }
  if (key.Get() != 0) registry.SetString(key.Get(), "LastScriptFile", chosen);
  *path = chosen;
  return true;
}

void WriteLogHead(ScriptInterpreter& k) {
  const SystemTime now = k.platform.clock.LocalNow();
  k.LogF("Kestrova log %02d/%02d/%04d %02d:%02d:%02d [14/11/00]\n", now.day, now.month, now.year,
         now.hour, now.minute, now.second);
}

// The pre-scan: every command is read as in the real run, with the log
// off, and only copy commands are given to the disk-space accounting. It
// is one batch of file look-ups: it only counts bytes, and its script
// lines name a few folders many times.
void Prescan(ScriptInterpreter& k) {
  FileBatch batch(k.platform.files);
  const bool was_logging = k.logging;
  k.logging = false;
  k.prescan = true;
  while (k.ReadNextCommand()) {
    if (k.cmd.command == "copy") k.CountCopySpace();
  }
  while (k.depth > 0) {
    CloseSlot(k, k.depth);
    --k.depth;
  }
  k.slots[0]->Rewind();
  k.cmd.Clear();
  k.prescan = false;
  k.logging = was_logging;
  k.run_end = ScriptInterpreter::RunEnd::kNone;
}

// The end-of-run report after a loop that ended without a failed command.
void ReportEndOfRun(ScriptInterpreter& k) {
  const bool family95 = k.platform.environment.Version().platform_id == 1;
  if (k.cancelled) {
    k.Message(k.uninstalling ? "The uninstall procedure was calcelled"
                             : "The installation was calcelled",
              kMbOk | kMbIconHand);
  } else if (k.suspended) {
    std::string text =
        "The installation procedure has been suspended.\nIt will be restarted after the system "
        "has been rebooted.\n\nYou must reboot the system in order to complete the "
        "installation.\n\n";
    if (!family95) text += "Logon as the same user after the reboot.\n\n";
    text += "(Don't try to uninstall or reinstall the application until you have rebooted!)";
    k.Message(text, kMbOk | kMbIconHand);
  } else if (k.reboot_needed) {
    std::string text;
    if (!k.uninstalling) {
      text = family95 ? "Installation Completed\nThe system must be rebooted for the installation "
                        "to fully take effect\n\n(Don't try to uninstall the application until "
                        "you have rebooted!)"
                      : "Installation Completed\nThe system must be rebooted for the installation "
                        "to fully take effect.\n\nLogon as the same user after the reboot.\n\n"
                        "(Don't try to uninstall the application until you have rebooted!)";
    } else {
      text = "Uninstall Procedure Completed\nThe system must be rebooted for the procedure to "
             "fully take effect.\n\n";
      if (!family95) text += "Logon as the same user after the reboot.\n\n";
      text += "(Don't try to reinstall the application until you have rebooted!)";
    }
    k.Message(text, kMbOk | kMbIconAsterisk);
  } else {
    k.Message(k.uninstalling ? "The uninstall procedure has completed" : "Installation Completed",
              kMbOk);
  }
}

// The self-extractor's finishing program: started when the script ran
// finalize and it is there, otherwise its files are removed.
// The self-extractor leaves its files in the folder named by TEMP (or
// TMP); the system's temporary path, which the interpreter uses, takes TMP
// first. Both are looked at, so the files are found when the two differ.
void FinalizeHandOff(ScriptInterpreter& k) {
  std::vector<std::string> folders = {TempFolder(k.platform)};
  for (const char* name : {"TEMP", "TMP"}) {
    std::string folder;
    if (!k.platform.environment.Get(name, &folder) || folder.empty()) continue;
    folder = k.platform.files.FullPath(folder);
    if (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
    bool known = false;
    for (const std::string& f : folders) known = known || winpath::EqualsNoCase(f, folder);
    if (!known) folders.push_back(folder);
  }
  if (k.finalize_requested) {
    for (const std::string& temp : folders) {
      const std::string program = temp + "\\crxfinalize.exe";
      if (!k.platform.files.IsFile(program)) continue;
      k.LogF("# start finalize program <%s>\n", program.c_str());
      StartOptions options;
      options.folder = temp;
      if (!k.platform.processes.Start("\"" + program + "\"", options)) {
        const uint32_t error = LastError();
        k.LogF("# can't start finalize program %d[0x%x]\n", static_cast<int>(error), error);
      }
      k.FlushLog();
      return;
    }
  }
  for (const std::string& temp : folders) {
    k.platform.files.DeleteFile(temp + "\\crxfin.dat");
    k.platform.files.DeleteFile(temp + "\\crxfinalize.exe");
  }
  k.FlushLog();
}

RunResult Ended(ScriptInterpreter& k, int exit_code, bool keep_window) {
  // The script files are not held open while the window waits.
  for (std::unique_ptr<ScriptInterpreter::ScriptSlot>& slot : k.slots) slot->Close();
  // The run is over: the rename batch gets its trailer now, not only when
  // the window closes (the user may reboot with the window still open).
  k.CloseRenameBatch();
  FinalizeHandOff(k);
  k.RemoveKeptSetupFolder();
  k.SyncLog();
  RunResult result;
  result.exit_code = exit_code;
  result.keep_window = keep_window;
  return result;
}

}  // namespace

RunResult ScriptInterpreter::Run(const std::string& command_line) {
  std::string rest;
  if (!ParseSilentOption(command_line, &rest)) return Ended(*this, 1, false);
  rest = Trimmed(rest);

  if (!rest.empty() && rest[0] == '-') {
    // The command line of a restarted run: the resume marker, the mode and
    // the script's file name.
    std::string script;
    if (!StartRestartedRun(rest, &script)) return Ended(*this, 1, false);
    rest = script;
  }

  std::string path = rest.empty() ? std::string(kDefaultScript) : rest;
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = path.substr(1, path.size() - 2);
  }
  // Nobody can answer the script dialog of a silent run; the missing
  // script is then reported like any other.
  if (path == kDefaultScript && !silent_mode.silent() && !platform.files.Exists(path)) {
    bool failed = false;
    if (!ChooseScript(*this, &path, &failed)) return Ended(*this, failed ? 1 : 0, false);
  }

  SetBuiltInVariables();
  if (OpenLog()) logging = true;
  WriteLogHead(*this);
  if (silent_mode.silent()) Log("\nSMS SETUP MODE\n\n");
  LogF("# setenv <TEMP> = <%s>\n", TempFolder(platform).c_str());

  depth = 0;
  if (!OpenScript(path)) {
    const uint32_t error = LastError();
    Message(Format("can't open script <%s> (%d)", path.c_str(), static_cast<int>(error)),
            kMbOk | kMbIconHand);
    return Ended(*this, 1, false);
  }
  main_script = slots[0]->path;

  Prescan(*this);

  bool failed = false;
  while (ReadNextCommand()) {
    if (!resume_marker.empty()) {
      // A restarted run skips every command up to its restart line, which
      // becomes `call -r __restart_env__.tmp`: the saved state is read
      // back (and deleted), then the run goes on after the restart line.
      if (!ResumeCheck()) continue;
      if (EnterCall(*this, "__restart_env__.tmp", "-r", true) != CallResult::kEntered) {
        Message("Fatal errors have occured while trying to restart", kMbOk | kMbIconHand);
        FlushLog();
        return Ended(*this, 1, false);
      }
      restore_depth = depth;
      continue;
    }
    if (!Execute()) {
      Message("Fatal errors have occured while running the instalation", kMbOk | kMbIconHand);
      failed = true;
      break;
    }
  }
  // A progress display the script left open does not outlast the run.
  CloseProgress(0);
  FlushLog();
  // A silent run, or one told to exit at its end, quits; an interactive
  // window stays open after its last message until the user closes it.
  const bool quit = exit_at_end || silent_mode.silent();
  if (failed || run_end == RunEnd::kFailed) return Ended(*this, 1, !quit);

  ReportEndOfRun(*this);
  return Ended(*this, 0, !quit);
}

}  // namespace crx::interp
