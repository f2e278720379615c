#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::CmdCopy() { return false; }
void ScriptInterpreter::CountCopySpace() { }
void ScriptInterpreter::UpdateFreeSpace(const std::string& home) { (void)home; }
bool ScriptInterpreter::CreateFolders(const std::string& folder) { (void)folder; return false; }
int ScriptInterpreter::SharedRefCount(const std::string& path) { (void)path; return -1; }
long ScriptInterpreter::SetSharedRefCount(const std::string& path, int count) { (void)path; (void)count; return -1; }

}  // namespace crx::interp
