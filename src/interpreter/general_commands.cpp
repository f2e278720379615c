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

}  // namespace

bool ScriptInterpreter::CmdUpdating() {
  update_mode = true;
  return true;
}

bool ScriptInterpreter::CmdFilegroup() { return false; }
bool ScriptInterpreter::CmdRun() { return false; }
bool ScriptInterpreter::CmdFread() { return false; }
bool ScriptInterpreter::CmdFedit() { return false; }
bool ScriptInterpreter::CmdRm() { return false; }
bool ScriptInterpreter::CmdFwrite() { return false; }
bool ScriptInterpreter::CmdChmod() { return false; }
bool ScriptInterpreter::CmdGetdllref() { return false; }

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
  if (!silent) host.Maximize();
  return true;
}

bool ScriptInterpreter::CmdCancel() {
  cancelled = true;
  // The pending rename batch of the boot-time replacements is deleted here
  // once the boot-move family keeps one.
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

bool ScriptInterpreter::CmdNotAvailable() {
  std::string text = Format("The '%s' command is not available yet", cmd.command.c_str());
  LogF("# %s\n", text.c_str());
  Message(text, kMbIconHand);
  return false;
}

}  // namespace crx::interp
