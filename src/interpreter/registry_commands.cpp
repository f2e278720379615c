#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::CmdSetreg() { return false; }
bool ScriptInterpreter::CmdGetreg() { return false; }
bool ScriptInterpreter::CmdRmkey() { return false; }
bool ScriptInterpreter::CmdRmregtree() { return false; }
bool ScriptInterpreter::RemoveRegistryTree(RegKey hive, const std::string& key) { (void)hive; (void)key; return false; }

}  // namespace crx::interp
