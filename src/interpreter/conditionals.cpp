// Conditional blocks: if / elseif (elif) / else / endif (fi), the
// conditions they test and the file-status test.
//
// Two indexes describe the open blocks: active_index is the innermost
// evaluated block (its state in levels[]), depth_index the innermost open
// block of any kind, counting blocks opened inside a branch that does not
// run. They are equal exactly when the innermost block was evaluated. Both
// stay at -1 or above.

#include <cstdlib>

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

constexpr uint8_t kBranchRuns = 1;
constexpr uint8_t kBranchWaits = 0;  // no branch ran yet
constexpr uint8_t kBlockDone = 255;  // a branch ran; no later one runs

// A number as the numeric comparisons read it: leading blanks and a sign,
// then digits up to the first other character; 0 without digits.
long long Number(const std::string& text) { return std::strtoll(text.c_str(), nullptr, 10); }

// The block keywords check their own argument counts, because whether they
// act depends on the block state.
bool NoArgumentsNoOption(const ParsedCommand& cmd) {
  return cmd.ArgCount() == 0 && cmd.option.empty();
}
bool ConditionArguments(const ParsedCommand& cmd) {
  return cmd.ArgCount() == 3 && cmd.option.empty();
}

bool NoOpenBlock(ScriptInterpreter& k) {
  k.ShowAndLog(Format("ERROR\n'%s' without an open 'if' block", k.cmd.command.c_str()),
               kMbOk | kMbIconHand);
  return false;
}

bool UnknownOperator(ScriptInterpreter& k, const std::string& op) {
  k.Message(Format("UNKNOWN IF OPERANTOR '%s'", op.c_str()), kMbOk | kMbIconHand);
  return false;
}

// Opens an evaluated level in the given state.
void PushLevel(ScriptInterpreter& k, uint8_t state) {
  ++k.active_index;
  k.levels[k.active_index] = state;
}

}  // namespace

// True when the innermost evaluated branch runs (or no block is open). The
// dispatcher shows the single-step notice for commands it skips.
bool ScriptInterpreter::MayRun() const {
  return active_index < 0 || levels[active_index] == kBranchRuns;
}

bool ScriptInterpreter::CmdIf() {
  // A block inside a branch that does not run is only counted.
  if (!MayRun()) {
    ++depth_index;
    return true;
  }
  if (active_index == kConditionalLevels - 1) {
    Message("IF STATEMENTS TOO DEEPLY NESTED", kMbOk | kMbIconHand);
    return false;
  }
  ++depth_index;
  LogCommandRecord();
  // A malformed if still opens its block, with no branch to run, so that an
  // uninstallation (which goes on after a failed command) skips its body
  // and its endif closes it.
  if (!CheckCommandRow()) {
    PushLevel(*this, kBlockDone);
    return false;
  }
  const std::string& a = cmd.args[0];
  const std::string& op = cmd.args[1];
  const std::string& b = cmd.args[2];
  bool holds = false;
  if (op == "=" || op == "==") {
    holds = a == b;
  } else if (op == "!=") {
    holds = a != b;
  } else if (op == ">") {
    holds = Number(a) > Number(b);
  } else if (op == ">=") {
    holds = Number(a) >= Number(b);
  } else if (op == "<") {
    holds = Number(a) < Number(b);
  } else if (op == "<=") {
    holds = Number(a) <= Number(b);
  } else if (op == "?") {
    holds = FileStatusTest(a, b);
  } else if (op == "^") {
    holds = a.find(b) != std::string::npos;  // b occurs in a
  } else {
    PushLevel(*this, kBlockDone);
    return UnknownOperator(*this, op);
  }
  PushLevel(*this, holds ? kBranchRuns : kBranchWaits);
  return true;
}

bool ScriptInterpreter::CmdElseif() {
  if (!ConditionArguments(cmd)) return false;
  if (depth_index != active_index) return true;  // a block that was only counted
  if (active_index < 0) return NoOpenBlock(*this);
  LogCommandRecord();
  uint8_t& state = levels[active_index];
  if (state == kBlockDone) return true;
  if (state == kBranchRuns) {
    state = kBlockDone;
    return true;
  }
  const std::string& op = cmd.args[1];
  if (op == "=" || op == "==") {
    if (cmd.args[0] == cmd.args[2]) state = kBranchRuns;
  } else if (op == "!=") {
    if (cmd.args[0] != cmd.args[2]) state = kBranchRuns;
  } else {
    return UnknownOperator(*this, op);
  }
  return true;
}

bool ScriptInterpreter::CmdElse() {
  if (!NoArgumentsNoOption(cmd)) return false;
  if (depth_index != active_index) return true;
  if (active_index < 0) return NoOpenBlock(*this);
  LogCommandRecord();
  uint8_t& state = levels[active_index];
  if (state == kBranchRuns) {
    state = kBranchWaits;
  } else if (state == kBranchWaits) {
    state = kBranchRuns;
  }
  return true;
}

bool ScriptInterpreter::CmdEndif() {
  if (!NoArgumentsNoOption(cmd)) return false;
  if (depth_index < 0) return NoOpenBlock(*this);
  if (depth_index == active_index) {
    LogCommandRecord();
    --active_index;
  }
  --depth_index;
  return true;
}

bool ScriptInterpreter::FileStatusTest(const std::string& path, const std::string& test) {
  const uint32_t attributes = platform.files.GetAttributes(path);
  const bool exists = attributes != kInvalidAttributes;
  if (test == "EXISTS" || test == "exists") return exists;
  if (test == "FILE" || test == "file") return (attributes & kAttrDirectory) == 0;
  if (test == "DIRECTORY" || test == "directory") {
    return exists && (attributes & kAttrDirectory) != 0;
  }
  if (test == "SYSTEM" || test == "system") return exists && (attributes & kAttrSystem) != 0;
  if (test == "READONLY" || test == "readonly") return exists && (attributes & kAttrReadOnly) != 0;
  if (test.size() > 2 && test[0] == '0' && (test[1] == 'x' || test[1] == 'X')) {
    const uint32_t mask = static_cast<uint32_t>(std::strtoul(test.c_str() + 2, nullptr, 16));
    return (attributes & mask) == mask;
  }
  ShowAndLog(Format("unknown file-status test '%s'", test.c_str()), kMbOk | kMbIconHand);
  return false;
}

}  // namespace crx::interp
