#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::CmdUpdating() { return false; }
bool ScriptInterpreter::CmdFilegroup() { return false; }
bool ScriptInterpreter::CmdRun() { return false; }
bool ScriptInterpreter::CmdFread() { return false; }
bool ScriptInterpreter::CmdFedit() { return false; }
bool ScriptInterpreter::CmdRm() { return false; }
bool ScriptInterpreter::CmdFwrite() { return false; }
bool ScriptInterpreter::CmdChmod() { return false; }
bool ScriptInterpreter::CmdGetdllref() { return false; }
bool ScriptInterpreter::CmdOnuninstall() { return false; }
bool ScriptInterpreter::CmdSingleStep() { return false; }
bool ScriptInterpreter::CmdMaximize() { return false; }
bool ScriptInterpreter::CmdCancel() { return false; }
bool ScriptInterpreter::CmdFinalize() { return false; }
bool ScriptInterpreter::CmdMessage() { return false; }
bool ScriptInterpreter::CmdQuery() { return false; }
bool ScriptInterpreter::CmdNotAvailable() { return false; }

}  // namespace crx::interp
