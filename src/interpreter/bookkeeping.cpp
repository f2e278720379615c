#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::FinalizeInstallation() { return false; }
bool ScriptInterpreter::RegisterUninstall() { return false; }
bool ScriptInterpreter::RemoveTree(const std::string& folder) { (void)folder; return false; }
bool ScriptInterpreter::RemoveFile(const std::string& path) { (void)path; return false; }
void ScriptInterpreter::CleanUpAfterFailure() { }

}  // namespace crx::interp
