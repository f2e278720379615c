#include "interpreter/command_table.h"

#include <cstring>
#include <string_view>
#include <unordered_map>

#include "engine/user_interface.h"

namespace crx::interp {

namespace {

using K = ScriptInterpreter;

constexpr uint32_t kStop = kMbIconHand;
constexpr uint32_t kStopTopmost = kMbIconHand | kMbTopmost;

constexpr const char* kHiveMessage =
    "BAD HKEY OPTION (%s)\nYOU MUST SUPPLY ONE OF...\n    -lm: HKEY_LOCAL_MACHINE\n"
    "    -cr: HKEY_CLASSES_ROOT\n    -cc: HKEY_CURRENT_CONFIG\n";

// oktoinstallex marks the uninstall script for the extended confirmation
// even on a line whose branch does not run.
void MarkExtendedConfirmation(ScriptInterpreter& k) { k.extended_confirmation = true; }

constexpr RowKind kLogged = RowKind::kLogged;
constexpr RowKind kUnlogged = RowKind::kUnlogged;
constexpr RowKind kAlways = RowKind::kAlways;
constexpr RowKind kBlock = RowKind::kBlock;
constexpr OptionRule kNone = OptionRule::kNone;
constexpr OptionRule kAny = OptionRule::kAny;
constexpr OptionRule kWords = OptionRule::kWords;
constexpr OptionRule kLetters = OptionRule::kLetters;
constexpr OptionRule kSomeLetter = OptionRule::kSomeLetter;
constexpr OptionRule kPrefix = OptionRule::kPrefix;

// clang-format off
const CommandRow kRows[] = {
  // keyword         kind       option rule  options              req.   min max        handler
  {"set",            kLogged,   kLetters,    "e",                 false, 2, 2,          &K::CmdSet},
  {"updating",       kAlways,   kAny,        "",                  false, 0, kAnyCount,  &K::CmdUpdating},
  {"setenv",         kLogged,   kNone,       "",                  false, 2, 2,          &K::CmdSetenv},
  {"eval",           kLogged,   kLetters,    "d",                 false, 5, 5,          &K::CmdEval},
  {"odbc",           kLogged,   kWords,      "-s|-x|-sx|-xs",     false, 3, 3,          &K::CmdOdbc},
  // filegroup: the definition form (no option, or one with m) needs
  // exactly two arguments, which the handler tests; options without m, d
  // or e do nothing and succeed.
  {"filegroup",      kLogged,   kAny,        "",                  false, 1, kAnyCount,  &K::CmdFilegroup},
  {"display",        kLogged,   kLetters,    "cl",                false, 1, 2,          &K::CmdDisplay},
  {"browse",         kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdBrowse},
  {"run",            kLogged,   kLetters,    "xw",                false, 1, kAnyCount,  &K::CmdRun},
  {"regdll",         kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdRegdll},
  {"unregdll",       kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdUnregdll},
  {"message",        kLogged,   kNone,       "",                  false, 1, kAnyCount,  &K::CmdMessage},
  {"uninstalling",   kAlways,   kAny,        "",                  false, 0, kAnyCount,  &K::CmdUninstalling},
  {"oktouninstall",  kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdOktouninstall},
  {"oktouninstallex",kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdOktouninstallex},
  {"onuninstall",    kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdOnuninstall},
  {"query",          kLogged,   kSomeLetter, "yo",                true,  2, kAnyCount,  &K::CmdQuery,
                     nullptr, 0, "BAD OPTION IN query COMMAND", kStop},
  {"input",          kLogged,   kNone,       "",                  false, 4, 4,          &K::CmdInput},
  {"fread",          kLogged,   kNone,       "",                  false, 2, 3,          &K::CmdFread},
  {"fedit",          kLogged,   kLetters,    "f",                 false, 3, kAnyCount,  &K::CmdFedit},
  {"rm",             kLogged,   kLetters,    "f",                 false, 1, 1,          &K::CmdRm},
  {"fwrite",         kLogged,   kWords,      "-t|-a|-T|-A",       true,  2, 2,          &K::CmdFwrite},
  {"chmod",          kLogged,   kLetters,    "f",                 false, 2, 2,          &K::CmdChmod},
  {"select",         kLogged,   kNone,       "",                  false, 5, 5,          &K::CmdSelect},
  {"choosefiles",    kLogged,   kNone,       "",                  false, 0, 0,          &K::CmdChoosefiles},
  {"choosedir",      kLogged,   kNone,       "",                  false, 3, 3,          &K::CmdChoosedir},
  // copy: an option must contain s (q, r and a add to it); without s the
  // command fails quietly.
  {"copy",           kLogged,   kSomeLetter, "s",                 false, 2, 3,          &K::CmdCopy,
                     "Copy command syntax error, arg count = %d, needs 2 or 3", kStopTopmost},
  {"_alias",         kLogged,   kNone,       "",                  false, 2, 2,          &K::CmdAlias},
  {"getdllref",      kLogged,   kNone,       "",                  false, 2, kAnyCount,  &K::CmdGetdllref},
  // setreg, rmkey and rmregtree read the first three characters of the
  // option (-lmi: a number value; -lmS: rmkey's quiet form); getreg needs
  // the hive word exactly.
  {"setreg",         kLogged,   kPrefix,     "-lm|-cr|-cc",       true,  3, 3,          &K::CmdSetreg,
                     nullptr, 0, kHiveMessage, 0},
  {"getreg",         kLogged,   kWords,      "-lm|-cr|-cc",       true,  3, 3,          &K::CmdGetreg,
                     nullptr, 0, kHiveMessage, 0},
  {"if",             kBlock,    kNone,       "",                  false, 3, 3,          &K::CmdIf},
  {"endif",          kBlock,    kNone,       "",                  false, 0, 0,          &K::CmdEndif},
  {"fi",             kBlock,    kNone,       "",                  false, 0, 0,          &K::CmdEndif},
  {"else",           kBlock,    kNone,       "",                  false, 0, 0,          &K::CmdElse},
  {"elseif",         kBlock,    kNone,       "",                  false, 3, 3,          &K::CmdElseif},
  {"elif",           kBlock,    kNone,       "",                  false, 3, 3,          &K::CmdElseif},
  // banner: -clear takes no arguments, the other forms at least one (the
  // handler tells them apart).
  {"banner",         kLogged,   kAny,        "",                  false, 0, 4,          &K::CmdBanner},
  {"title",          kLogged,   kNone,       "",                  false, 1, kAnyCount,  &K::CmdTitle},
  {"progress",       kLogged,   kWords,      "-i|-c|-a",          true,  0, 1,          &K::CmdProgress},
  {"background",     kLogged,   kWords,      "-b",                false, 1, 1,          &K::CmdBackground},
  {"desktop",        kLogged,   kLetters,    "fps",               false, 1, kAnyCount,  &K::CmdDesktop},
  {"rmdesktop",      kLogged,   kLetters,    "s",                 false, 1, 1,          &K::CmdRmdesktop},
  {"progmenu",       kLogged,   kLetters,    "fs",                false, 1, kAnyCount,  &K::CmdProgmenu},
  {"rmprogmenu",     kLogged,   kLetters,    "s",                 false, 1, 1,          &K::CmdRmprogmenu},
  {"setsvc",         kLogged,   kSomeLetter, "amd",               true,  1, 1,          &K::CmdSetsvc,
                     nullptr, 0,
                     "ERROR\nOption argument of -a(automatic) -m(manual) or -d(disabled) required", kStop},
  {"rmkey",          kLogged,   kPrefix,     "-lm|-cr|-cc",       true,  1, 1,          &K::CmdRmkey,
                     nullptr, 0, kHiveMessage, 0},
  {"rmregtree",      kLogged,   kPrefix,     "-lm|-cr|-cc",       true,  1, 1,          &K::CmdRmregtree,
                     nullptr, 0, kHiveMessage, 0},
  {"remove",         kLogged,   kNone,       "",                  false, 1, 1,          &K::CmdRemove},
  {"rmtree",         kLogged,   kSomeLetter, "!",                 false, 1, 1,          &K::CmdRmtree,
                     nullptr, 0, "incorrect option with 'rmtree' command", 0},
  {"oktoinstall",    kLogged,   kWords,      "-advise",           false, 0, 1,          &K::CmdOktoinstall},
  {"oktoinstallex",  kLogged,   kWords,      "-advise",           false, 0, 1,          &K::CmdOktoinstallex,
                     nullptr, 0, nullptr, 0, &MarkExtendedConfirmation},
  {"single_step",    kUnlogged, kNone,       "",                  false, 1, 1,          &K::CmdSingleStep},
  {"maximize",       kLogged,   kNone,       "",                  false, 0, 0,          &K::CmdMaximize},
  {"locateobj",      kLogged,   kLetters,    "io",                false, 2, 2,          &K::CmdLocateobj},
  {"locate",         kLogged,   kNone,       "",                  false, 2, 2,          &K::CmdLocate},
  // associate: four arguments, or two with -u (recognised by its first two
  // characters); the handler tells the forms apart.
  {"associate",      kLogged,   kPrefix,     "-u",                false, 2, 4,          &K::CmdAssociate},
  // dcomcfg: -e takes none, -l one, -r/-rl/-lr two (the handler's forms).
  {"dcomcfg",        kLogged,   kWords,      "-e|-l|-r|-rl|-lr",  true,  0, 2,          &K::CmdDcomcfg},
  // restart: the option's second character chooses the form; conditional
  // forms need a second argument, which the handler tests.
  {"restart",        kLogged,   kAny,        "",                  false, 1, kAnyCount,  &K::CmdRestart},
  {"sms_on",         kAlways,   kAny,        "",                  false, 0, kAnyCount,  &K::CmdSmsOn},
  {"sms_off",        kAlways,   kAny,        "",                  false, 0, kAnyCount,  &K::CmdSmsOff},
  {"cancel",         kLogged,   kNone,       "",                  false, 0, 0,          &K::CmdCancel},
  {"finalize",       kLogged,   kNone,       "",                  false, 0, 0,          &K::CmdFinalize},
};
// clang-format on

// True when word is one of the '|'-separated words of list; with prefix,
// when word begins with one of them.
bool MatchesWordList(const char* list, const std::string& word, bool prefix) {
  const char* p = list;
  while (*p != '\0') {
    const char* end = std::strchr(p, '|');
    size_t n = end != nullptr ? static_cast<size_t>(end - p) : std::strlen(p);
    if (prefix ? word.compare(0, n, p, n) == 0 && word.size() >= n
               : word.size() == n && word.compare(0, n, p, n) == 0) {
      return true;
    }
    if (end == nullptr) break;
    p = end + 1;
  }
  return false;
}

// Replaces the first occurrence of marker in text.
std::string Fill(const char* text, const char* marker, const std::string& value) {
  std::string out = text;
  size_t at = out.find(marker);
  if (at != std::string::npos) out.replace(at, std::strlen(marker), value);
  return out;
}

}  // namespace

std::span<const CommandRow> CommandTable() { return kRows; }

const CommandRow* FindCommandRow(const std::string& keyword) {
  // Every command line asks: the rows by keyword, made on the first call.
  static const std::unordered_map<std::string_view, const CommandRow*> by_keyword = [] {
    std::unordered_map<std::string_view, const CommandRow*> map;
    for (const CommandRow& row : kRows) map.emplace(row.keyword, &row);
    return map;
  }();
  auto it = by_keyword.find(keyword);
  return it == by_keyword.end() ? nullptr : it->second;
}

bool OptionFitsRow(const CommandRow& row, const std::string& option) {
  if (option.empty()) return !row.option_required;
  switch (row.option_rule) {
    case OptionRule::kNone:
      return false;
    case OptionRule::kAny:
      return true;
    case OptionRule::kWords:
      return MatchesWordList(row.options, option, false);
    case OptionRule::kPrefix:
      return MatchesWordList(row.options, option, true);
    case OptionRule::kLetters:
      if (option.size() < 2 || option[0] != '-') return false;
      for (size_t i = 1; i < option.size(); ++i) {
        if (std::strchr(row.options, option[i]) == nullptr || option[i] == '\0') return false;
      }
      return true;
    case OptionRule::kSomeLetter:
      if (option[0] != '-') return false;
      for (const char* l = row.options; *l != '\0'; ++l) {
        if (option.find(*l, 1) != std::string::npos) return true;
      }
      return false;
  }
  return false;
}

RegKey HiveOfOption(const std::string& option) {
  std::string head = option.substr(0, 3);
  if (head == "-lm") return kHKeyLocalMachine;
  if (head == "-cr") return kHKeyClassesRoot;
  if (head == "-cc") return kHKeyCurrentConfig;
  return 0;
}

bool ScriptInterpreter::CheckCommandRow() {
  const CommandRow* row = FindCommandRow(cmd.command);
  if (row == nullptr) return false;
  int count = cmd.ArgCount();
  if (count < row->min_args || count > row->max_args) {
    LogF("# %s: %d arguments, needs %d to %d\n", cmd.command.c_str(), count, row->min_args,
         row->max_args);
    if (row->count_message != nullptr) {
      Message(Fill(row->count_message, "%d", std::to_string(count)), row->count_flags);
    }
    return false;
  }
  if (!OptionFitsRow(*row, cmd.option)) {
    LogF("# %s: option <%s> not accepted\n", cmd.command.c_str(), cmd.option.c_str());
    if (row->option_message != nullptr) {
      Message(Fill(row->option_message, "%s", cmd.option), row->option_flags);
    }
    return false;
  }
  return true;
}

// The cancelled flag is cleared by Execute, not here: the commands that
// draw the cancelled window are dispatched after a cancel and must keep it.
bool ScriptInterpreter::Dispatch() {
  const CommandRow* row = FindCommandRow(cmd.command);
  if (row == nullptr) {
    LogF("# unknown command <%s>\n", cmd.command.c_str());
    return false;
  }
  if (row->first != nullptr) row->first(*this);
  switch (row->kind) {
    case RowKind::kAlways:
      return (this->*row->handler)();
    case RowKind::kBlock:
      // `if` checks its row itself once it knows its branch is evaluated;
      // the other block keywords are checked even in a dead branch.
      if (cmd.command != "if" && !CheckCommandRow()) return false;
      return (this->*row->handler)();
    case RowKind::kLogged:
    case RowKind::kUnlogged:
      break;
  }
  if (!MayRun()) {
    if (single_step) {
      Message("The last command will not run becuase\nit is in the body of a failed 'if' clause.",
              kMbIconAsterisk);
    }
    return true;
  }
  if (row->kind == RowKind::kLogged) LogCommandRecord();
  if (!CheckCommandRow()) return false;
  return (this->*row->handler)();
}

}  // namespace crx::interp
