// rmtree and the boot-time removal of what it could not remove, the
// restart command (saving the script's state, scheduling the interpreter
// to start again after the next logon, suspending the run), and the
// start-up and resuming of a restarted run.

#include <algorithm>
#include <string>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/command_table.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr const char* kEnvironmentFile = "__restart_env__.tmp";
// The state of an evaluated if block whose branch runs (conditionals.cpp).
constexpr uint8_t kBranchRuns = 1;

// Variables that describe the machine and are set afresh by every run.
bool IsMachineVariable(const std::string& name) {
  static const char* const kNames[] = {"?",       "USER",    "HOST",          "WINDIR",
                                       "SYSDIR",  "TEMP",    "VER_MAJ",       "VER_MIN",
                                       "VER_BLD", "VER_PLATFORM", "NEEDS_RE_BOOT",
                                       "EMPTYSTRING", "ADMIN_RIGHTS"};
  for (const char* n : kNames) {
    if (name == n) return true;
  }
  return false;
}

// A value as the environment file writes it: one grave accent at each end
// removed, protected blanks as blanks.
std::string SavedForm(const std::string& stored) {
  std::string value = stored;
  if (!value.empty() && value.front() == '`') value.erase(0, 1);
  if (!value.empty() && value.back() == '`') value.pop_back();
  std::replace(value.begin(), value.end(), kProtectedBlank, ' ');
  return value;
}

// A word in quotes that keep it whole when the line is read back: double
// quotes, or, for a text that holds a double quote, apostrophes or grave
// accents (a quote character is literal inside the other kinds).
std::string Quoted(const std::string& text) {
  char quote = '"';
  if (text.find('"') != std::string::npos) {
    quote = text.find('\'') == std::string::npos ? '\'' : '`';
  }
  return quote + text + quote;
}

// Why a field cannot travel on the restart command line (split at blanks
// and "$") and in the batch line that carries it (quotes, "%"); empty when
// it can.
std::string FieldProblem(const std::string& field) {
  if (field.empty()) return "it is empty";
  for (char c : field) {
    if (c == ' ' || c == '\t') return "it contains a blank";
    if (c == '$') return "it contains '$'";
    if (c == '"') return "it contains a double quote";
    if (c == '%') return "it contains '%'";
  }
  return std::string();
}

// Carries out a window command as the interpreter's own step: through its
// row of the keyword table, without a command record; its result does not
// matter.
void CarryOut(ScriptInterpreter& k, const char* keyword, const char* option,
              std::initializer_list<const char*> args) {
  const CommandRow* row = FindCommandRow(keyword);
  if (row == nullptr) return;
  ParsedCommand saved = k.cmd;
  k.cmd.Clear();
  k.cmd.command = keyword;
  k.cmd.option = option;
  int i = 0;
  for (const char* a : args) k.cmd.args[i++] = a;
  if (k.CheckCommandRow()) (k.*row->handler)();
  k.cmd = saved;
}

// The delete batch: removes at the next logon what is left of the pending
// files and folders. False when it cannot be written.
bool WriteDeleteBatch(ScriptInterpreter& k) {
  std::string path;
  std::unique_ptr<File> file = k.CreateStartupBatch("ks_delete", &path);
  if (!file) return false;
  const std::string app = k.VariableText("APP");
  const std::string current = k.platform.files.CurrentFolder();
  auto full = [&](const std::string& p) {
    return winpath::IsAbsolute(p) ? p : Format("%s\\%s", current.c_str(), p.c_str());
  };
  std::string text = Format("echo off\necho.Complete removal of %s...\n", app.c_str());
  for (const std::string& f : k.pending_files) {
    const std::string p = full(f);
    k.LogF("# RM-FILE-ON-BOOT(batch) <%s>\n", p.c_str());
    AppendFormat(&text, "if exist \"%s\" del \"%s\"\n", p.c_str(), p.c_str());
  }
  for (const std::string& d : k.pending_folders) {
    const std::string p = full(d);
    k.LogF("# RM-DIR-ON-BOOT(batch) <%s>\n", p.c_str());
    AppendFormat(&text, "rmdir \"%s\"\n", p.c_str());
  }
  AppendFormat(&text, "echo.\necho.Removal of %s is complete\n", app.c_str());
  text += "pause\necho.task completed successfully\necho.subsequent error messages can be ignored...\n";
  AppendFormat(&text, "del \"%s\"\n", path.c_str());
  if (!file->Write(text.data(), text.size()) || !file->Flush()) {
    const uint32_t error = LastError();
    file.reset();
    k.LogF("# can't write delete batch <%s> %d[0x%x]\n", path.c_str(), static_cast<int>(error),
           error);
    // A cut batch would miss removals and never delete itself.
    k.platform.files.DeleteFile(path);
    return false;
  }
  return true;
}

// The environment file: every variable the script may need again, the
// restart label, every alias.
bool WriteEnvironmentFile(ScriptInterpreter& k, const std::string& path, const std::string& label) {
  std::string text;
  for (const ScriptInterpreter::Pair& v : k.variables) {
    if (IsMachineVariable(v.name)) continue;
    AppendFormat(&text, "set \"%s\" %s\n", v.name.c_str(), Quoted(SavedForm(v.value)).c_str());
  }
  AppendFormat(&text, "set \"RESTARTED\" \"%s\"\n", label.c_str());
  for (const ScriptInterpreter::Pair& a : k.aliases) {
    AppendFormat(&text, "_alias \"%s\" %s\n", a.name.c_str(), Quoted(a.value).c_str());
  }
  std::unique_ptr<File> file =
      k.platform.files.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
  if (!file) return false;
  if (!file->Write(text.data(), text.size()) || !file->Flush()) {
    file.reset();
    k.platform.files.DeleteFile(path);
    return false;
  }
  return true;
}

}  // namespace

int ScriptInterpreter::SchedulePendingRemovals() {
  if (pending_files.empty() && pending_folders.empty()) return 0;
  int scheduled = 0;
  if (BootMoveSupported()) {
    // Folders were recorded after their contents: the system removes the
    // contents first.
    for (const std::string& f : pending_files) {
      LogF("# RM-FILE-ON-BOOT(fwd) <%s>\n", f.c_str());
      if (DeleteOnBoot(f)) ++scheduled;
    }
    for (const std::string& d : pending_folders) {
      LogF("# RM-DIR-ON-BOOT(fwd) <%s>\n", d.c_str());
      if (DeleteOnBoot(d)) ++scheduled;
    }
    return scheduled;
  }
  Log("Write Delete Bat File...\n");
  const bool batch = WriteDeleteBatch(*this);
  // Each entry goes to the top of the initialisation file's section: in
  // reverse they end up in recording order.
  for (auto it = pending_files.rbegin(); it != pending_files.rend(); ++it) {
    LogF("# RM-FILE-ON-BOOT(bwd) <%s>\n", it->c_str());
    if (DeleteOnBoot(*it)) ++scheduled;
  }
  // Folders go only by the batch; they too wait for the next start.
  if (batch) scheduled += static_cast<int>(pending_folders.size());
  return scheduled;
}

bool ScriptInterpreter::CmdRmtree() {
  const std::string folder = cmd.args[0];
  // The keyword table refuses options without '!'.
  if (cmd.option.empty()) {
    const std::string question = Format(
        "REMOVE DIRECTORY TREE?\n\n\"%s\"\n\nAll files and directories bellow the \nabove named "
        "directory will be removed.\n\nDO YOU WANT TO DO THIS?",
        folder.c_str());
    if (Message(question, kMbYesNo | kMbIconQuestion) != kIdYes) return true;
  }
  RemoveTree(folder);
  if (!pending_files.empty() || !pending_folders.empty()) {
    Message(Format("WARNING: DIRECTORY TREE COULD BE REMOVED...\n\"%s\"\n\nMake sure no "
                   "applications are using the directory tree,\nincluding the one you are trying "
                   "to remove, as well as\nExplorer or a Command prompt, then press OK to "
                   "retry.\n\n(Any files or  folders that still can't be removed\nwill be "
                   "deleted at the next system boot.)",
                   folder.c_str()),
            kMbOk);
    pending_files.clear();
    pending_folders.clear();
    RemoveTree(folder);
    if (SchedulePendingRemovals() > 0) {
      MarkRebootNeeded();
      pending_files.clear();
      pending_folders.clear();
    }
  }
  return true;
}

bool ScriptInterpreter::CmdRestart() {
  const std::string& option = cmd.option;
  const int count = cmd.ArgCount();
  bool reboot_required = false;
  bool conditional = false;
  if (option == "-rc" || option == "-cr") {
    reboot_required = conditional = true;
  } else if (option.size() >= 2 && option[1] == 'c') {
    conditional = true;
  } else if (option.size() >= 2 && option[1] == 'r') {
    reboot_required = true;
  }
  if (conditional && count < 2) return false;

  bool finalize = false;
  if (reboot_required) {
    if (cmd.args[1] == "finalize") {
      Log("enable: finalize\n");
      finalize = true;
    }
    if (VariableText("NEEDS_RE_BOOT") != "TRUE") {
      Log("restart rejected, a reboot is not required\n");
      return true;
    }
  }
  if (conditional) {
    if (cmd.args[2] == "finalize") {
      Log("enable: finalize\n");
      finalize = true;
    }
    if (cmd.args[1] != "TRUE" && cmd.args[1] != "1") {
      Log("Conditional restart rejected, condition not 'TRUE' or '1'\n");
      return true;
    }
  }
  if (!reboot_required && !conditional && cmd.args[1] == "finalize") {
    Log("enable: finalize\n");
    finalize = true;
  }

  // Everything the restarted interpreter needs must fit its command line:
  // "-r<label>$<mode>$<script>", started from the script's folder.
  const std::string label = cmd.args[0];
  const std::string mode = silent_mode.silent() ? silent_mode.Option() : std::string("@");
  const std::string current = platform.files.CurrentFolder();
  const std::string script_name = winpath::LastElement(main_script);
  std::string problem;
  std::string what;
  if (!(problem = FieldProblem(label)).empty()) {
    what = Format("the restart label '%s'", label.c_str());
  } else if (mode != "@" && !(problem = FieldProblem(mode.substr(5))).empty()) {
    what = Format("the response file '%s'", silent_mode.response_file().c_str());
  } else if (!(problem = FieldProblem(script_name)).empty()) {
    what = Format("the script name '%s'", script_name.c_str());
  } else if (!winpath::EqualsNoCase(winpath::Parent(main_script), current)) {
    what = Format("the script '%s'", main_script.c_str());
    problem = Format("it is not in the current folder '%s'", current.c_str());
  } else if (current.find_first_of("\"%") != std::string::npos) {
    what = Format("the current folder '%s'", current.c_str());
    problem = "it contains a double quote or '%'";
  }
  if (!problem.empty()) {
    ShowAndLog(Format("ERROR\nrestart '%s' refused:\n%s cannot be carried to the restarted "
                      "run:\n%s.",
                      label.c_str(), what.c_str(), problem.c_str()),
               kMbOk | kMbIconHand);
    return false;
  }

  const std::string environment = Format("%s\\%s", current.c_str(), kEnvironmentFile);
  if (!WriteEnvironmentFile(*this, environment, label)) {
    const uint32_t error = LastError();
    ShowAndLog(Format("ERROR\nrestart '%s': can't write the restart environment file %d[0x%x]\n%s",
                      label.c_str(), static_cast<int>(error), error, environment.c_str()),
               kMbOk | kMbIconHand);
    return false;
  }

  std::string block;
  if (current.size() >= 2 && winpath::HasDriveLetter(current)) {
    AppendFormat(&block, "%c%c\n", current[0], current[1]);
  }
  AppendFormat(&block, "cd \"%s\"\n", current.c_str());
  block += "echo.restarting Kestrova...\n";
  AppendFormat(&block, "\"%s\" -r%s$%s$%s\n", platform.processes.ProgramPath().c_str(),
               label.c_str(), mode.c_str(), script_name.c_str());
  block += "echo.Kestrova completed after restart\n";
  if (!OpenRenameBatch()) {
    // Without the batch nothing starts the run again: the saved state
    // would only keep the setup's folder from being cleaned up.
    platform.files.DeleteFile(environment);
    return false;
  }
  LogF("SCHED RESTART \"%s\"\n", label.c_str());
  if (!WriteRenameBatch(block)) {
    platform.files.DeleteFile(environment);
    return false;
  }

  CarryOut(*this, "background", "", {"128:128:128"});
  CarryOut(*this, "banner", "-l",
           {"...suspended awaiting reboot", "Times New Roman", "240", "255:255:255"});
  suspended = true;
  // A finalize carried out earlier is cancelled unless this line asks for it.
  finalize_requested = finalize;
  return true;
}

bool ScriptInterpreter::StartRestartedRun(const std::string& command_line, std::string* script) {
  std::string line = command_line;
  int replaced = 0;
  for (char& c : line) {
    if (c == '$' && replaced < 3) {
      c = ' ';
      ++replaced;
    }
  }
  std::vector<std::string> words;
  size_t i = 0;
  while (words.size() < 3) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    if (i == line.size()) break;
    size_t end = line.find_first_of(" \t", i);
    if (end == std::string::npos) end = line.size();
    words.push_back(line.substr(i, end - i));
    i = end;
  }
  words.resize(3);
  const std::string& first = words[0];
  const std::string& mode = words[1];
  if (first.compare(0, 2, "-r") == 0) resume_marker = first.substr(2);
  if (!resume_marker.empty() && !mode.empty() && mode[0] != '@') {
    std::string rest;
    if (!ParseSilentOption(mode, &rest)) return false;
  }
  if (words[2].empty()) {
    Message(Format("Kestrova - restart command line <%s>\nThe command line names no script.",
                   command_line.c_str()),
            kMbOk | kMbIconHand);
    return false;
  }
  *script = words[2];
  return true;
}

bool ScriptInterpreter::ResumeCheck() {
  if (cmd.command == "restart" && cmd.args[0] == resume_marker) {
    resume_marker.clear();
    resumed = true;
    Log("INITIATING RESTART\n");
    // The restart line ran inside the branches that enclose it: they are
    // open and running again, so their else and endif lines find them.
    const int open = std::min(resume_if_depth, kConditionalLevels);
    for (int level = 0; level < open; ++level) levels[level] = kBranchRuns;
    active_index = depth_index = open - 1;
    resume_if_depth = 0;
    return true;
  }
  if (cmd.command == "if") {
    ++resume_if_depth;
  } else if ((cmd.command == "endif" || cmd.command == "fi") && resume_if_depth > 0) {
    --resume_if_depth;
  }
  return false;
}

void ScriptInterpreter::RemoveKeptSetupFolder() {
  if (!resumed || suspended || main_script.empty()) return;
  // Only the stub's own folder: "__CRX_tmp_<number>__" right in the
  // temporary folder (TEMP or TMP, as the stub names it).
  const std::string folder = winpath::Parent(main_script);
  const std::string name = winpath::LastElement(folder);
  constexpr const char* kPrefix = "__CRX_tmp_";
  const size_t prefix = std::char_traits<char>::length(kPrefix);
  if (name.size() <= prefix + 2 || name.compare(0, prefix, kPrefix) != 0 ||
      name.compare(name.size() - 2, 2, "__") != 0 ||
      name.find_first_not_of("0123456789", prefix) != name.size() - 2) {
    return;
  }
  const std::string parent = winpath::Parent(folder);
  bool in_temp = winpath::EqualsNoCase(
      parent, winpath::StripTrailingSeparator(platform.environment.TempPath()));
  for (const char* variable : {"TEMP", "TMP"}) {
    std::string temp;
    if (platform.environment.Get(variable, &temp) && !temp.empty()) {
      in_temp = in_temp || winpath::EqualsNoCase(
                               parent, winpath::StripTrailingSeparator(platform.files.FullPath(temp)));
    }
  }
  // Another restart waits in it, or it is gone already.
  if (!in_temp || !platform.files.IsFolder(folder) ||
      platform.files.Exists(Format("%s\\%s", folder.c_str(), kEnvironmentFile))) {
    return;
  }
  LogF("# remove the setup's folder kept for the restart <%s>\n", folder.c_str());
  // A folder that is the current one cannot be removed.
  platform.files.SetCurrentFolder(parent);
  pending_files.clear();
  pending_folders.clear();
  RemoveTree(folder);
  // The running interpreter is among what is left for the next start.
  SchedulePendingRemovals();
  pending_files.clear();
  pending_folders.clear();
  FlushLog();
}

}  // namespace crx::interp
