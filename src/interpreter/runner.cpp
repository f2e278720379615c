#include "interpreter/script_interpreter.h"

#include <cstdarg>

#include "common/format.h"

// Not written yet: every function fails until its family lands.

namespace crx::interp {

struct ScriptInterpreter::ScriptSlot {
  std::unique_ptr<File> file;
  std::string delete_on_close;  // a file called with call -r
};

ScriptInterpreter::ScriptInterpreter(Platform& platform_in, ui::FrontEnd& front_end_in,
                                     InterpreterHost& host_in)
    : platform(platform_in), front_end(front_end_in), host(host_in) {}

ScriptInterpreter::~ScriptInterpreter() = default;

int ParsedCommand::ArgCount() const {
  if (command.empty()) return -1;
  int n = 0;
  while (n < kArgumentFields && !args[n].empty()) ++n;
  return n;
}

bool ParsedCommand::HasOption(char letter) const {
  return !option.empty() && option[0] == '-' && option.find(letter) != std::string::npos;
}

void ParsedCommand::Clear() {
  option.clear();
  command.clear();
  for (std::string& a : args) a.clear();
}

void ScriptInterpreter::LogF(const char* format, ...) {
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  Log(text);
}

RunResult ScriptInterpreter::Run(const std::string& command_line) { (void)command_line; return RunResult{1, false}; }
void ScriptInterpreter::SplitLine(const std::string& expanded) { (void)expanded; }
bool ScriptInterpreter::Execute() { return false; }
void ScriptInterpreter::LogCommandRecord() { }
void ScriptInterpreter::SetStatus(const std::string& text) { (void)text; }
bool ScriptInterpreter::OpenLog() { return false; }
void ScriptInterpreter::Log(const std::string& text) { (void)text; }
void ScriptInterpreter::FlushLog() { }

}  // namespace crx::interp
