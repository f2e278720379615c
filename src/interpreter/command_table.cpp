#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::Dispatch() { return false; }

}  // namespace crx::interp
