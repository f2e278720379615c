// setreg, getreg, rmkey and rmregtree: registry values and key trees under
// the hive an option names.
#include <cerrno>
#include <climits>
#include <cstdlib>

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

// The hive an option names: "-lm", "-cr" or "-cc", as the option's first
// three characters (exact: the whole option). 0 for anything else.
RegKey HiveOf(const std::string& option, bool exact) {
  struct Row {
    const char* option;
    RegKey hive;
  };
  static const Row kRows[] = {
      {"-lm", kHKeyLocalMachine}, {"-cr", kHKeyClassesRoot}, {"-cc", kHKeyCurrentConfig}};
  for (const Row& row : kRows) {
    if (exact ? option == row.option : option.compare(0, 3, row.option) == 0) return row.hive;
  }
  return 0;
}

// The data of "setreg -lmi": decimal text, converted as far as it goes
// ("0x10" gives 0, a non-number 0); negative numbers wrap as 32-bit values.
uint32_t DecimalNumber(const std::string& text) {
  errno = 0;
  long long v = std::strtoll(text.c_str(), nullptr, 10);
  if (v > static_cast<long long>(UINT32_MAX)) v = UINT32_MAX;
  if (v < static_cast<long long>(INT32_MIN)) v = INT32_MIN;
  return static_cast<uint32_t>(v);
}

// Splits a key path into its parent path and last name ("" parent: the
// hive itself).
void SplitKeyPath(const std::string& key, std::string* parent, std::string* name) {
  std::string path = TrimKeyPath(key);
  size_t slash = path.rfind('\\');
  if (slash == std::string::npos) {
    parent->clear();
    *name = path;
  } else {
    *parent = path.substr(0, slash);
    *name = path.substr(slash + 1);
  }
}

// Deletes every subkey of key, depth first; *error receives the system
// result of the step that failed.
bool EmptyKeyTree(Registry& registry, RegistryKey& key, long* error) {
  for (;;) {
    std::string child;
    key.RestartEnumeration();
    if (!key.NextSubkey(&child)) {
      if (key.LastResult() == kErrorNoMoreItems) return true;
      *error = key.LastResult();
      return false;
    }
    RegistryKey sub(registry, key.Handle());
    if (!sub.Open(child)) {
      *error = sub.LastResult();
      return false;
    }
    if (!EmptyKeyTree(registry, sub, error)) return false;
    sub.Close();
    if (!key.DeleteSubkey(child)) {
      *error = key.LastResult();
      return false;
    }
  }
}

// The hive of the current command's option, or 0 after the message.
RegKey CommandHive(ScriptInterpreter& k, bool exact) {
  RegKey hive = HiveOf(k.cmd.option, exact);
  if (hive == 0) {
    k.Message(Format("BAD HKEY OPTION (%s)\nYOU MUST SUPPLY ONE OF...\n"
                     "    -lm: HKEY_LOCAL_MACHINE\n    -cr: HKEY_CLASSES_ROOT\n"
                     "    -cc: HKEY_CURRENT_CONFIG\n",
                     k.cmd.option.c_str()),
              kMbOk);
  }
  return hive;
}

}  // namespace

bool ScriptInterpreter::CmdSetreg() {
  RegKey hive = CommandHive(*this, false);
  if (hive == 0) return false;
  const std::string& key = cmd.args[0];
  const std::string& name = cmd.args[1];
  const std::string& data = cmd.args[2];
  RegistryKey reg(platform.registry, hive, true);
  reg.RecordCreatedKeys(&created_keys);
  if (!reg.Open(key)) {
    long rc = reg.LastResult();
    Message(Format("FAILED TO OPEN/CREATE REGISTRY PATH 0x%lx[%ld]\n%s",
                   static_cast<unsigned long>(rc), rc, key.c_str()),
            kMbOk);
    return false;
  }
  bool number = cmd.option.size() >= 4 && (cmd.option[3] == 'i' || cmd.option[3] == 'I');
  bool ok;
  if (name == "default") {
    ok = reg.SetDefault(data);
  } else if (number) {
    ok = reg.SetNumber(name, DecimalNumber(data));
  } else {
    ok = reg.SetText(name, data);
  }
  if (!ok) {
    Message(Format("FAILED TO SET REGISTRY ENTRY\n'%s' = '%s'", name.c_str(), data.c_str()), kMbOk);
    return false;
  }
  return true;
}

bool ScriptInterpreter::CmdGetreg() {
  RegKey hive = CommandHive(*this, true);
  if (hive == 0) return false;
  const std::string& key = cmd.args[0];
  const std::string name = cmd.args[1] == "default" ? std::string() : cmd.args[1];
  const std::string variable = cmd.args[2];
  std::string value;
  RegistryKey reg(platform.registry, hive);
  if (!reg.Open(key) || !reg.GetValue(name, &value)) value = "(empty)";
  SetVariable(variable, value);
  LogF("# got from reg name<%s> = value<%s>\n", variable.c_str(), value.c_str());
  return true;
}

bool ScriptInterpreter::CmdRmkey() {
  RegKey hive = CommandHive(*this, false);
  if (hive == 0) return false;
  const std::string& key = cmd.args[0];
  const bool quiet = cmd.HasOption('S');
  std::string parent_path, name;
  SplitKeyPath(key, &parent_path, &name);
  RegistryKey parent(platform.registry, hive);
  if (!parent.Open(parent_path)) {
    if (quiet) return true;
    long rc = parent.LastResult();
    Message(Format("FAILED TO OPEN REGISTRY PATH 0x%lx[%ld]\n%s", static_cast<unsigned long>(rc),
                   rc, parent_path.c_str()),
            kMbOk);
    return false;
  }
  LogF("# delete reg key path<%s> key<%s>\n", parent_path.c_str(), name.c_str());
  // An empty name would address the parent itself: never delete a hive or
  // a key named only by separators.
  long rc = kErrorInvalidParameter;
  if (!name.empty()) {
    parent.DeleteSubkey(name);
    rc = parent.LastResult();
  }
  if (rc != kErrorSuccess && !quiet) {
    Message(Format("NON-FATAL ERROR\ncan't delete specified registry key...\n\"%s\" "
                   "error=0x%lx[%ld]\n(maybe it has been removed manually)",
                   key.c_str(), static_cast<unsigned long>(rc), rc),
            kMbIconHand);
  }
  return true;
}

bool ScriptInterpreter::CmdRmregtree() {
  RegKey hive = CommandHive(*this, false);
  if (hive == 0) return false;
  return RemoveRegistryTree(hive, cmd.args[0]);
}

bool ScriptInterpreter::RemoveRegistryTree(RegKey hive, const std::string& key) {
  std::string parent_path, name;
  SplitKeyPath(key, &parent_path, &name);
  // A missing key is no error. It is not created only to be removed again,
  // which would leave the keys on its way behind. A path that names no key
  // at all would empty the whole hive: that is refused as a tree that
  // cannot be removed.
  long error = kErrorInvalidParameter;
  bool emptied = false;
  if (!name.empty()) {
    RegistryKey tree(platform.registry, hive);
    if (tree.Open(key)) {
      emptied = EmptyKeyTree(platform.registry, tree, &error);
    } else if (tree.LastResult() == kErrorFileNotFound) {
      LogF("# registry tree <%s> not present\n", key.c_str());
      return true;
    } else {
      error = tree.LastResult();
    }
  }
  if (!emptied) {
    if (!cleaning_up) {
      Message(Format("NON-FATAL ERROR: failed to remove registry tree...\n\"%s\" error=%ld[0x%lx]\n"
                     "(maybe it has been removed manually)",
                     key.c_str(), error, static_cast<unsigned long>(error)),
              kMbOk);
    }
    Log("failed to remove registry tree\n");
    return true;
  }
  RegistryKey parent(platform.registry, hive);
  if (!parent.Open(parent_path)) {
    if (!cleaning_up) {
      long rc = parent.LastResult();
      Message(Format("FAILED TO OPEN REGISTRY PATH 0x%lx[%ld]\n%s", static_cast<unsigned long>(rc),
                     rc, parent_path.c_str()),
              kMbOk);
    }
    return false;
  }
  return parent.DeleteSubkey(name);
}

}  // namespace crx::interp
