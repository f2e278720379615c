#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::MayRun() const { return false; }
bool ScriptInterpreter::CmdIf() { return false; }
bool ScriptInterpreter::CmdElseif() { return false; }
bool ScriptInterpreter::CmdElse() { return false; }
bool ScriptInterpreter::CmdEndif() { return false; }
bool ScriptInterpreter::FileStatusTest(const std::string& path, const std::string& spec) { (void)path; (void)spec; return false; }

}  // namespace crx::interp
