// Variables and aliases: the stored form of values, the computed and
// built-in variables, line expansion, alias substitution, and the commands
// set, setenv, eval and _alias.

#include <cctype>
#include <cstdlib>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

// The longest value taken from a process environment variable.
constexpr size_t kEnvironmentValueLimit = 128;

// Every blank becomes a protected blank, so a substituted value is always
// one word; an empty or blank value is one protected blank.
std::string StoredForm(const std::string& value) {
  bool blank = true;
  for (char c : value) {
    if (static_cast<unsigned char>(c) > 0x20) blank = false;
  }
  if (blank) return std::string(1, kProtectedBlank);
  std::string out = value;
  for (char& c : out) {
    if (c == ' ') c = kProtectedBlank;
  }
  return out;
}

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_';
}

void Store(std::vector<ScriptInterpreter::Pair>* table, const std::string& name,
           const std::string& value) {
  for (ScriptInterpreter::Pair& pair : *table) {
    if (pair.name == name) {
      pair.value = value;
      return;
    }
  }
  table->push_back({name, value});
}

// Computed variables: evaluated at every use, looked up before the table.
bool ComputedVariable(ScriptInterpreter& k, const std::string& name, std::string* value) {
  if (name == "SMSMODE") {
    *value = k.silent_mode.response_file().empty() ? "FALSE" : "TRUE";
    return true;
  }
  if (name == "SMS_INI_FILE") {
    const std::string& file = k.silent_mode.response_file();
    if (file.empty()) {
      *value = "(empty)";
    } else if (file[0] == '\\' || (file.size() > 1 && file[1] == ':')) {
      *value = file;
    } else {
      *value = k.platform.files.CurrentFolder() + "\\" + file;
    }
    return true;
  }
  if (name != "USDATE" && name != "UKDATE" && name != "IDATE" && name != "TIME" &&
      name != "ITIME") {
    return false;
  }
  const SystemTime t = k.platform.clock.LocalNow();
  if (name == "USDATE") {
    *value = Format("%02d/%02d/%04d", t.month, t.day, t.year);
  } else if (name == "UKDATE") {
    *value = Format("%02d/%02d/%04d", t.day, t.month, t.year);
  } else if (name == "IDATE") {
    *value = Format("%04d%02d%02d", t.year, t.month, t.day);
  } else if (name == "TIME") {
    *value = Format("%02d:%02d:%02d", t.hour, t.minute, t.second);
  } else {
    *value = Format("%02d%02d%02d", t.hour, t.minute, t.second);
  }
  return true;
}

// The first word of a raw line, without quote characters; empty when the
// line has none.
std::string FirstWord(const std::string& raw) {
  const char* const kSeparators = " \"'`";
  const size_t start = raw.find_first_not_of(kSeparators);
  if (start == std::string::npos) return std::string();
  const size_t end = raw.find_first_of(kSeparators, start);
  return raw.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

// Whether the command of a raw line will act, judged before the line is
// expanded and split: the block keywords are processed in every branch, so
// for them it matters whether they evaluate a condition or change a block
// that was evaluated; every other command runs when its branch runs; a
// comment never runs.
bool LineWouldRun(const ScriptInterpreter& k, const std::string& raw) {
  const std::string word = FirstWord(raw);
  if (word.empty()) return false;
  if (word.find('$') != std::string::npos) return k.MayRun();  // a keyword made by a variable
  if (word[0] == '#') return false;
  if (word == "elseif" || word == "elif") {
    if (k.active_index < 0) return true;  // fails: no open block
    return k.depth_index == k.active_index && k.levels[k.active_index] == 0;
  }
  if (word == "else" || word == "endif" || word == "fi") return k.depth_index == k.active_index;
  return k.MayRun();  // "if" included: it evaluates when its enclosing branch runs
}

// Integer operands of eval: 0x hexadecimal, a leading 0 octal, else decimal.
uint32_t EvalInteger(const std::string& text) {
  const char* s = text.c_str();
  if (s[0] == '0' && (s[1] == 'x' || s[1] == 'X')) {
    return static_cast<uint32_t>(std::strtoull(s + 2, nullptr, 16));
  }
  if (s[0] == '0') return static_cast<uint32_t>(std::strtoll(s, nullptr, 8));
  return static_cast<uint32_t>(std::strtoll(s, nullptr, 10));
}

}  // namespace

bool ScriptInterpreter::IsReadOnlyVariable(const std::string& name) {
  static const char* const kReadOnly[] = {
      "?",       "USER",    "HOST",         "WINDIR",        "SYSDIR",
      "TEMP",    "PWD",     "VER_MAJ",      "VER_MIN",       "VER_BLD",
      "VER_PLATFORM", "NEEDS_RE_BOOT", "EMPTYSTRING", "ADMIN_RIGHTS"};
  for (const char* read_only : kReadOnly) {
    if (name == read_only) return true;
  }
  return false;
}

void ScriptInterpreter::SetBuiltInVariables() {
  Environment& env = platform.environment;
  std::string temp = env.TempPath();
  if (!temp.empty() && (temp.back() == '\\' || temp.back() == '/')) temp.pop_back();
  const OsVersion version = env.Version();
  Store(&variables, "?", StoredForm("(empty)"));
  Store(&variables, "TEMP", StoredForm(temp));
  Store(&variables, "WINDIR", StoredForm(env.WindowsFolder()));
  Store(&variables, "SYSDIR", StoredForm(env.SystemFolder()));
  Store(&variables, "PWD", StoredForm(platform.files.CurrentFolder()));
  Store(&variables, "NEEDS_RE_BOOT", StoredForm("FALSE"));
  Store(&variables, "RESTARTED", StoredForm("FALSE"));
  Store(&variables, "USER", StoredForm(env.UserName()));
  Store(&variables, "HOST", StoredForm(env.ComputerName()));
  Store(&variables, "VER_MAJ", Format("%u", version.major));
  Store(&variables, "VER_MIN", Format("%u", version.minor));
  Store(&variables, "VER_BLD", Format("%u", version.build));
  Store(&variables, "VER_PLATFORM", Format("%u", version.platform_id));
  const bool admin = version.platform_id == 1 || env.IsAdministrator();
  Store(&variables, "ADMIN_RIGHTS", admin ? "TRUE" : "FALSE");
}

bool ScriptInterpreter::SetVariable(const std::string& name, const std::string& value_in,
                                    bool environment) {
  LogF("# setenv <%s> = <%s>\n", name.c_str(), value_in.c_str());
  std::string value = value_in;
  if (environment && !value.empty() && value[0] == '%') {
    std::string from_environment;
    if (platform.environment.Get(value.substr(1), &from_environment)) {
      if (from_environment.size() > kEnvironmentValueLimit) {
        from_environment.resize(kEnvironmentValueLimit);
      }
      value = from_environment;
    } else {
      value = "(empty)";
    }
    LogF("# env subsitution <%s> = <%s>\n", name.c_str(), value.c_str());
  }

  if (name == "HOME") {
    const char letter = value.size() >= 2 ? value[0] : '\0';
    if (value.size() >= 2 && value[1] == ':' &&
        (std::isalpha(static_cast<unsigned char>(letter)) || letter == '?') &&
        (letter == '?' || !platform.files.Exists(std::string(1, letter) + ":\\"))) {
      char replacement = '\0';
      if (letter == '?') {
        const std::string windows = platform.environment.WindowsFolder();
        if (winpath::HasDriveLetter(windows) && platform.files.Exists(windows.substr(0, 2) + "\\")) {
          replacement = windows[0];
        }
      }
      for (char d = 'C'; replacement == '\0' && d <= 'Z'; ++d) {
        if (platform.files.Exists(std::string(1, d) + ":\\")) replacement = d;
      }
      if (replacement != '\0') {
        value[0] = replacement;
        LogF("# HOME drive %c: does not exist, using <%s>\n", letter, value.c_str());
      }
    }
    UpdateFreeSpace(value);
    space_checked = false;
  }

  if (name == "EXIT_AT_END" && std::strtol(value.c_str(), nullptr, 10) != 0) exit_at_end = true;

  Store(&variables, name, StoredForm(value));
  return true;
}

bool ScriptInterpreter::GetVariable(const std::string& name, std::string* value) {
  std::string computed;
  if (ComputedVariable(*this, name, &computed)) {
    *value = StoredForm(computed);
    return true;
  }
  for (const Pair& pair : variables) {
    if (pair.name == name) {
      *value = pair.value;
      return true;
    }
  }
  return false;
}

std::string ScriptInterpreter::VariableText(const std::string& name) {
  std::string value;
  if (!GetVariable(name, &value)) return std::string();
  if (!value.empty() && value.front() == '`') value.erase(0, 1);
  if (!value.empty() && value.back() == '`') value.pop_back();
  for (char& c : value) {
    if (c == kProtectedBlank) c = ' ';
  }
  return value;
}

std::string ScriptInterpreter::ExpandLine(const std::string& raw) {
  std::string out;
  out.reserve(raw.size() + 64);
  size_t i = 0;
  while (i < raw.size()) {
    if (raw[i] != '$') {
      // The characters up to the next '$', as many as the limit leaves room for.
      size_t stop = raw.find('$', i);
      if (stop == std::string::npos) stop = raw.size();
      const size_t room = out.size() + 1 < kExpandedLimit ? kExpandedLimit - 1 - out.size() : 0;
      out.append(raw, i, stop - i < room ? stop - i : room);
      i = stop;
      continue;
    }
    size_t end = i + 1;
    // `$?` is the exit code of the last program run: the one name that is
    // not made of name characters.
    if (end < raw.size() && raw[end] == '?') {
      ++end;
    } else {
      while (end < raw.size() && IsNameChar(raw[end])) ++end;
    }
    const std::string name = raw.substr(i + 1, end - i - 1);
    i = end;
    std::string value;
    if (GetVariable(name, &value)) {
      if (out.size() + value.size() + 2 < kExpandedLimit) out += value;
    } else if (!prescan && resume_marker.empty() && LineWouldRun(*this, raw)) {
      ShowAndLog(Format("ERROR\nUninitialized variable '$%s' accessed in command...\n'%s'",
                        name.c_str(), raw.c_str()),
                 kMbOk | kMbIconHand);
    }
  }
  return out;
}

void ScriptInterpreter::AddAlias(const std::string& name, const std::string& text) {
  Store(&aliases, name, text);
  LogF("# add alias <%s> := <%s>\n", name.c_str(), text.c_str());
}

void ScriptInterpreter::SubstituteAliases() {
  for (std::string& arg : cmd.args) {
    if (arg.empty()) continue;
    for (const Pair& alias : aliases) {
      if (alias.name == arg) {
        LogF("# alias substitution '%s' --> '%s'\n", arg.c_str(), alias.value.c_str());
        arg = alias.value;
        break;
      }
    }
  }
}

bool ScriptInterpreter::CmdSet() {
  if (cmd.ArgCount() != 2) return false;
  const std::string& name = cmd.args[0];
  // The saved state of a restarted run restores PWD; nothing else sets it.
  const bool restoring = restore_depth >= 0 && depth == restore_depth && name == "PWD";
  if (IsReadOnlyVariable(name) && !restoring) {
    Message(Format("ERROR\nAttempting to set READ-ONLY variable <%s>", name.c_str()),
            kMbOk | kMbIconHand);
    return false;
  }
  return SetVariable(name, cmd.args[1], cmd.HasOption('e'));
}

bool ScriptInterpreter::CmdSetenv() {
  if (cmd.ArgCount() != 2) return false;
  return platform.environment.Set(cmd.args[0], cmd.args[1]);
}

bool ScriptInterpreter::CmdEval() {
  if (cmd.ArgCount() != 5 || cmd.args[1][0] != '=') return false;
  const std::string& name = cmd.args[0];
  const std::string& op = cmd.args[3];
  if (IsReadOnlyVariable(name)) {
    Message(Format("ERROR\nAttempting to set READ-ONLY variable <%s>", name.c_str()),
            kMbOk | kMbIconHand);
    return false;
  }
  if (op != "+" && op != "-" && op != "*" && op != "/" &&
      (cmd.HasOption('d') || (op != "%" && op != "&" && op != "|" && op != "^"))) {
    return false;
  }

  if (cmd.HasOption('d')) {
    const double a = std::strtod(cmd.args[2].c_str(), nullptr);
    const double b = std::strtod(cmd.args[4].c_str(), nullptr);
    double r = 0;
    if (op == "/" && b == 0) {
      Message("eval: division by zero", kMbOk | kMbIconHand);
      return false;
    }
    switch (op[0]) {
      case '+': r = a + b; break;
      case '-': r = a - b; break;
      case '*': r = a * b; break;
      default: r = a / b; break;
    }
    return SetVariable(name, Format("%lf", r));
  }

  // 32-bit arithmetic that wraps instead of overflowing.
  const uint32_t a = EvalInteger(cmd.args[2]);
  const uint32_t b = EvalInteger(cmd.args[4]);
  const int32_t sa = static_cast<int32_t>(a);
  const int32_t sb = static_cast<int32_t>(b);
  uint32_t r = 0;
  switch (op[0]) {
    case '+': r = a + b; break;
    case '-': r = a - b; break;
    case '*': r = static_cast<uint32_t>(static_cast<int64_t>(sa) * sb); break;
    case '&': r = a & b; break;
    case '|': r = a | b; break;
    case '^': r = a ^ b; break;
    default:  // '/' and '%'
      if (sb == 0) {
        Message("eval: division by zero", kMbOk | kMbIconHand);
        return false;
      }
      if (op[0] == '/') {
        r = static_cast<uint32_t>(static_cast<int64_t>(sa) / sb);
      } else {
        r = static_cast<uint32_t>(static_cast<int64_t>(sa) % sb);
      }
      break;
  }
  return SetVariable(name, Format("%d", static_cast<int32_t>(r)));
}

bool ScriptInterpreter::CmdAlias() {
  if (cmd.ArgCount() != 2) return false;
  AddAlias(cmd.args[0], cmd.args[1]);
  return true;
}

}  // namespace crx::interp
