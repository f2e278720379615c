#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::BootMoveSupported() { return false; }
bool ScriptInterpreter::MoveOnBoot(const std::string& source, const std::string* destination) { (void)source; (void)destination; return false; }
bool ScriptInterpreter::DeleteOnBoot(const std::string& path) { (void)path; return false; }

}  // namespace crx::interp
