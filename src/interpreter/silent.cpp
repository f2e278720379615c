#include "interpreter/script_interpreter.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

bool ScriptInterpreter::ParseSilentOption(const std::string& command_line, std::string* rest) { (void)command_line; (void)rest; return false; }
bool ScriptInterpreter::GetResponse(const std::string& key, std::string* value) { (void)key; (void)value; return false; }
bool ScriptInterpreter::GetResponseInt(const std::string& key, int* value) { (void)key; (void)value; return false; }
void ScriptInterpreter::ReportStatusMIF(bool success, const std::string& text) { (void)success; (void)text; }
int ScriptInterpreter::Message(const std::string& text, uint32_t flags) { (void)text; (void)flags; return -1; }
bool ScriptInterpreter::CmdSmsOn() { return false; }
bool ScriptInterpreter::CmdSmsOff() { return false; }

}  // namespace crx::interp
