#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

void ScriptInterpreter::SetBuiltInVariables() { }
bool ScriptInterpreter::SetVariable(const std::string& name, const std::string& value, bool environment) { (void)name; (void)value; (void)environment; return false; }
bool ScriptInterpreter::GetVariable(const std::string& name, std::string* value) { (void)name; (void)value; return false; }
std::string ScriptInterpreter::VariableText(const std::string& name) { (void)name; return std::string(); }
std::string ScriptInterpreter::ExpandLine(const std::string& raw) { (void)raw; return std::string(); }
void ScriptInterpreter::AddAlias(const std::string& name, const std::string& text) { (void)name; (void)text; }
void ScriptInterpreter::SubstituteAliases() { }
bool ScriptInterpreter::CmdSet() { return false; }
bool ScriptInterpreter::CmdSetenv() { return false; }
bool ScriptInterpreter::CmdEval() { return false; }
bool ScriptInterpreter::CmdAlias() { return false; }

}  // namespace crx::interp
