#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::CmdCopy() { return false; }
void ScriptInterpreter::CountCopySpace() { }
void ScriptInterpreter::UpdateFreeSpace(const std::string& home) { (void)home; }
bool ScriptInterpreter::CreateFolders(const std::string& folder) { (void)folder; return false; }

}  // namespace crx::interp
