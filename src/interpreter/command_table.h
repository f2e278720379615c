// The interpreter's keyword table: one row per keyword of the script
// language, in the order the dispatcher searches it. A row is the single
// place that knows a keyword's options and argument counts; handlers never
// count their own arguments.
//
// How the dispatcher uses a row (ScriptInterpreter::Dispatch):
//   - kAlways rows (updating, uninstalling, sms_on, sms_off) run their
//     handler at once, even in a branch that does not run, without the
//     command record and without any check (their arguments are ignored).
//   - kBlock rows (if / elseif / elif / else / endif / fi) go straight to
//     their handler, which does its own condition handling. For elseif,
//     else and endif the dispatcher first checks the row (also inside a
//     branch that does not run); `if` checks its row itself, after the
//     nesting test and only when its enclosing branch runs, by calling
//     CheckCommandRow().
//   - kLogged rows: MayRun() (false: success without doing anything, with
//     the single-step notice), the command record, the row check, the
//     handler. kUnlogged rows (single_step) are the same without the record.
// A row's `first` hook runs before any of this, whatever the branch
// (oktoinstallex sets the extended-confirmation mark that way).
#ifndef CRX_INTERPRETER_COMMAND_TABLE_H
#define CRX_INTERPRETER_COMMAND_TABLE_H

#include <cstdint>
#include <span>
#include <string>

#include "interpreter/script_interpreter.h"

namespace crx::interp {

using CommandHandler = bool (ScriptInterpreter::*)();

enum class RowKind : uint8_t { kLogged, kUnlogged, kAlways, kBlock };

// What a row accepts as the option word. `options` holds the words
// ("-i|-c|-a") or the letters ("xw") the rule reads. Unless the row says
// the option is required, an empty option is always accepted.
enum class OptionRule : uint8_t {
  kNone,        // no option at all
  kAny,         // any option; the handler reads its letters
  kWords,       // exactly one of the words
  kLetters,     // '-' followed by one or more of the letters, nothing else
  kSomeLetter,  // '-' and anything that contains at least one of the letters
  kPrefix,      // begins with one of the words (the hive rule: "-lm|-cr|-cc")
};

// A row's upper count for "at least n arguments".
inline constexpr int kAnyCount = kArgumentFields;

struct CommandRow {
  const char* keyword;
  RowKind kind;
  OptionRule option_rule;
  const char* options;
  bool option_required;
  int min_args;
  int max_args;
  CommandHandler handler;
  // Shown through the message service when the count does not fit ("%d"
  // is replaced by the argument count); null: the command fails quietly.
  const char* count_message = nullptr;
  uint32_t count_flags = 0;
  // Shown when the option does not fit ("%s" is replaced by the option);
  // null: quiet.
  const char* option_message = nullptr;
  uint32_t option_flags = 0;
  // Runs before anything else, also in a branch that does not run.
  void (*first)(ScriptInterpreter&) = nullptr;
};

// The whole table, in search order.
std::span<const CommandRow> CommandTable();
// The row of a keyword (exact, case-sensitive), or null.
const CommandRow* FindCommandRow(const std::string& keyword);
// True when option fits the row's option rule (an empty option fits unless
// the row requires one).
bool OptionFitsRow(const CommandRow& row, const std::string& option);

// The hive named by the first three characters of a registry command's
// option ("-lm", "-cr", "-cc"); 0 for anything else.
RegKey HiveOfOption(const std::string& option);

}  // namespace crx::interp

#endif  // CRX_INTERPRETER_COMMAND_TABLE_H
