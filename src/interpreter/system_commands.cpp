// The commands that change the system on behalf of the installed
// application beyond plain registry values: a service's start mode,
// self-registering servers, the location of shared files and registered
// components, file associations, distributed-COM settings of a component
// and ODBC data sources. regdll, associate and odbc record what they did,
// so the uninstall script can undo it. Argument counts and options are
// checked by the command table before any of these runs; the handlers only
// tell apart the forms one row allows.
#include <cstdint>
#include <memory>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter/script_interpreter.h"

namespace crx::interp {

namespace {

const char kServicesKey[] = "SYSTEM\\CurrentControlSet\\Services";
const char kOleKey[] = "SOFTWARE\\Microsoft\\Ole";

// An entry point's result as the 32-bit HRESULT it is; those with the high
// bit set are failures.
unsigned ResultCode(long result) { return static_cast<uint32_t>(result); }
bool FailedResult(long result) { return (ResultCode(result) & 0x80000000u) != 0; }

// The file of regdll/unregdll as the library loader should see it: a path
// that names an existing file relative to the current folder becomes its
// full path (so the uninstall script, which runs elsewhere, finds it too);
// anything else is left to the loader's own search.
std::string ServerPath(ScriptInterpreter& k, const std::string& file) {
  std::string full = k.platform.files.FullPath(file);
  return k.platform.files.IsFile(full) ? full : file;
}

// Loads a server with the current folder switched to the server's own
// folder (so it finds the libraries beside it), calls one entry point and
// puts the folder back. Returns 0 on success, 1 when the library cannot be
// loaded (*error holds the system error), 2 when the entry is missing.
int CallServerEntry(ScriptInterpreter& k, const std::string& path, const char* entry, long* result,
                    uint32_t* error) {
  FileSystem& files = k.platform.files;
  const std::string previous = files.CurrentFolder();
  const std::string folder = winpath::Parent(path);
  bool switched = !folder.empty() && files.SetCurrentFolder(folder);
  int outcome = 0;
  {
    std::unique_ptr<Library> library = k.platform.shell.LoadLibrary(path);
    if (!library) {
      *error = LastError();
      outcome = 1;
    } else if (!library->CallEntry(entry, result)) {
      outcome = 2;
    }
  }  // the library is released before the folder is put back
  if (switched) files.SetCurrentFolder(previous);
  return outcome;
}

std::string LoadFailure(const std::string& path, uint32_t error) {
  return Format("ERROR: can't load dll 0x%x[%d]\n%s", static_cast<unsigned>(error),
                static_cast<int>(error), path.c_str());
}

// The default value of a key below HKEY_CLASSES_ROOT; false when the key
// or its default value is missing (*key_missing tells which).
bool ClassesDefault(ScriptInterpreter& k, const std::string& path, std::string* value,
                    bool* key_missing) {
  RegistryKey key(k.platform.registry, kHKeyClassesRoot);
  *key_missing = !key.Open(path);
  if (*key_missing) return false;
  return key.GetValue("", value) && !value->empty();
}

// Replaces each ';' of an attribute text by a null character and ends the
// list with two, as SQLConfigDataSource expects. Empty items are dropped:
// an empty item would end the list early and lose the attributes after it.
std::string AttributeList(const std::string& attributes) {
  std::string list;
  size_t start = 0;
  while (start <= attributes.size()) {
    size_t end = attributes.find(';', start);
    if (end == std::string::npos) end = attributes.size();
    if (end > start) {
      list.append(attributes, start, end - start);
      list += '\0';
    }
    start = end + 1;
  }
  if (list.empty()) list += '\0';
  list += '\0';
  return list;
}

// SQLConfigDataSource: BOOL (HWND, WORD, LPCSTR, LPCSTR), a Windows API
// function (stdcall on 32-bit Windows).
#if defined(__i386__) && defined(__GNUC__)
#define CRX_ODBC_CALL __attribute__((stdcall))
#else
#define CRX_ODBC_CALL
#endif
using ConfigDataSourceFunction = int CRX_ODBC_CALL (*)(void*, uint16_t, const char*, const char*);

}  // namespace

bool ScriptInterpreter::CmdSetsvc() {
  uint32_t start_mode = 0;
  if (cmd.HasOption('a')) {
    start_mode = 2;
  } else if (cmd.HasOption('m')) {
    start_mode = 3;
  } else if (cmd.HasOption('d')) {
    start_mode = 4;
  } else {
    Message(
        "ERROR\nOption argument of -a(automatic) -m(manual) or "
        "-d(disabled) required",
        kMbIconHand);
    return false;
  }
  const std::string path = Format("%s\\%s", kServicesKey, cmd.args[0].c_str());
  LogF("# update registry path <%s>\n", path.c_str());
  // The service must exist already: its key is opened, never created.
  ScopedRegKey key(platform.registry);
  long rc = platform.registry.OpenKey(kHKeyLocalMachine, path, RegAccess::kAll, key.Out());
  if (rc != kErrorSuccess) {
    ShowAndLog(Format("ERROR setting service statup parameter "
                      "0x%lx[%ld]\n\"%s\"\nCan't access "
                      "required registry key",
                      static_cast<unsigned long>(rc), rc, path.c_str()),
               kMbIconHand);
    return false;
  }
  rc = platform.registry.SetDword(key.Get(), "Start", start_mode);
  if (rc != kErrorSuccess) {
    ShowAndLog(Format("ERROR setting service statup parameter 0x%lx[%ld]",
                      static_cast<unsigned long>(rc), rc),
               kMbIconHand);
    return false;
  }
  return true;
}

bool ScriptInterpreter::CmdRegdll() {
  const std::string path = ServerPath(*this, cmd.args[0]);
  long result = 0;
  uint32_t error = 0;
  switch (CallServerEntry(*this, path, "DllRegisterServer", &result, &error)) {
    case 1:
      Message(LoadFailure(path, error), kMbOk);
      return false;
    case 2:
      Message("DLL DOES NOT CONTIAN THE DllRegisterServer ENTRT POINT", kMbOk);
      return false;
    default:
      break;
  }
  LogF("# DllRegisterServer <%s> returned 0x%x\n", path.c_str(), ResultCode(result));
  // A server that reports a failure may be registered only in part: the
  // user is told, and it stays recorded so that the uninstall script still
  // unregisters what it did register.
  if (FailedResult(result)) {
    ShowAndLog(Format("WARNING: registration of the server\n%s\nreported an error 0x%x",
                      path.c_str(), ResultCode(result)),
               kMbIconExclamation);
  }
  servers.push_back(path);
  return true;
}

bool ScriptInterpreter::CmdUnregdll() {
  const std::string path = ServerPath(*this, cmd.args[0]);
  int count = SharedRefCount(platform.files.FullPath(path));
  if (count >= 2) {
    LogF("# dll not unregistered (ref count = %d)\n", count);
    return true;
  }
  long result = 0;
  uint32_t error = 0;
  switch (CallServerEntry(*this, path, "DllUnregisterServer", &result, &error)) {
    case 1:
      Message(LoadFailure(path, error), kMbOk);
      return false;
    case 2:
      LogF("DLL <%s> DOES NOT CONTIAN THE DllUnregisterServer ENTRT POINT\n", path.c_str());
      return true;
    default:
      break;
  }
  LogF("# DllUnregisterServer <%s> returned 0x%x\n", path.c_str(), ResultCode(result));
  return true;
}

bool ScriptInterpreter::CmdLocate() {
  const std::string variable = cmd.args[0];
  std::string shared = SharedName(cmd.args[1]);
  SetVariable(variable, shared.empty() ? std::string("(empty)") : shared);
  return true;
}

bool ScriptInterpreter::CmdLocateobj() {
  const std::string variable = cmd.args[0];
  const std::string& identifier = cmd.args[1];
  const bool local = cmd.HasOption('o');
  std::string clsid;
  bool key_missing = false;
  if (!ClassesDefault(*this, identifier + "\\CLSID", &clsid, &key_missing)) {
    if (key_missing) {
      LogF("... no clsid entry <%s>\n", identifier.c_str());
    } else {
      Log("... no clsid default value available\n");
    }
    SetVariable(variable, "(empty)");
    return true;
  }
  std::string server;
  const char* server_key = local ? "LocalServer32" : "InProcServer32";
  if (!ClassesDefault(*this, Format("CLSID\\%s\\%s", clsid.c_str(), server_key), &server,
                      &key_missing)) {
    Log(key_missing ? "... no LocalServer32 or InProcServer32 in registry\n"
                    : "...object path not set in registry\n");
    SetVariable(variable, "(empty)");
    return true;
  }
  SetVariable(variable, server);
  LogF("locate object: (%s)... %s\n", identifier.c_str(), server.c_str());
  return true;
}

bool ScriptInterpreter::CmdAssociate() {
  Registry& registry = platform.registry;
  if (cmd.option.compare(0, 2, "-u") == 0) {
    if (cmd.ArgCount() != 2) return false;
    std::string extension = cmd.args[0];
    if (extension.empty() || extension[0] != '.') extension.insert(0, ".");
    const std::string& type = cmd.args[1];
    // The extension key is removed only while it still names this type: an
    // application installed later may have taken the extension over.
    std::string owner;
    bool key_missing = false;
    if (ClassesDefault(*this, extension, &owner, &key_missing) &&
        !winpath::EqualsNoCase(owner, type)) {
      LogF("# association of <%s> now belongs to <%s>: left in place\n", extension.c_str(),
           owner.c_str());
    } else {
      registry.DeleteKey(kHKeyClassesRoot, extension);
    }
    registry.DeleteKey(kHKeyClassesRoot, type + "\\shell\\open\\command");
    registry.DeleteKey(kHKeyClassesRoot, type + "\\shell\\open");
    registry.DeleteKey(kHKeyClassesRoot, type + "\\shell");
    registry.DeleteKey(kHKeyClassesRoot, type);
    return true;
  }
  if (!cmd.option.empty() || cmd.ArgCount() != 4) return false;
  std::string extension = cmd.args[0];
  if (extension.empty() || extension[0] != '.') extension.insert(0, ".");
  const std::string& program = cmd.args[1];
  const std::string& type = cmd.args[2];
  const std::string& description = cmd.args[3];

  struct Step {
    std::string key;
    std::string value;
    const char* create_error;
    const char* set_error;
  };
  const Step steps[] = {
      {extension, type, "CAN'T CREATE .ext KEY IN HKEY_CLASSES_ROOT",
       "CAN'T SET .ext DEFAULT VALUE IN HKEY_CLASSES_ROOT"},
      {type, description, "CAN'T CREATE app_id KEY IN HKEY_CLASSES_ROOT",
       "CAN'T SET app_id DEAFULT VALUE IN HKEY_CLASSES_ROOT"},
      {type + "\\shell\\open\\command", Format("%s \"%%1\"", program.c_str()),
       "CAN'T CREATE app_id\\shell\\open\\command KEY IN HKEY_CLASSES_ROOT",
       "CAN'T SET app_id\\shell\\open\\command VALUE HKEY_CLASSES_ROOT"},
  };
  for (const Step& step : steps) {
    RegistryKey key(registry, kHKeyClassesRoot, true);
    if (!key.Open(step.key)) {
      Message(step.create_error, kMbOk);
      return false;
    }
    if (!key.SetDefault(step.value)) {
      Message(step.set_error, kMbOk);
      return false;
    }
  }
  associations.push_back(Format("\"%s\" \"%s\"", cmd.args[0].c_str(), type.c_str()));
  return true;
}

bool ScriptInterpreter::CmdDcomcfg() {
  Registry& registry = platform.registry;
  const std::string& option = cmd.option;
  const int count = cmd.ArgCount();

  if (option == "-e") {
    if (count != 0) return false;
    RegistryKey ole(registry, kHKeyLocalMachine);
    if (!ole.Open(kOleKey)) {
      Message("ERROR OPENING SOFTWARE\\Microsoft\\Ole", kMbOk);
      return false;
    }
    if (!ole.SetText("EnableDCOM", "Y")) {
      Message("ERROR SETTING EnableDCOM", kMbOk);
      return false;
    }
    if (!ole.SetText("EnableRemoteConnect", "Y")) {
      Message("ERROR SETTING EnableRemoteConnect", kMbOk);
      return false;
    }
    return true;
  }

  const bool remote = option == "-r" || option == "-rl" || option == "-lr";
  if (remote ? count != 2 : (option != "-l" || count != 1)) return false;
  const std::string& identifier = cmd.args[0];
  std::string clsid;
  long hr = 0;
  if (!platform.shell.ClassIdFromProgId(identifier, &clsid, &hr)) {
    Message(Format("Can't get CLSID of object <%s> 0x%x", identifier.c_str(), ResultCode(hr)),
            kMbOk);
    return false;
  }
  const std::string class_path = Format("CLSID\\%s", clsid.c_str());

  if (!remote) {
    // Local activation: the application key loses its remote settings.
    RegistryKey object(registry, kHKeyClassesRoot);
    if (!object.Open(class_path)) {
      Message("ERROR OPENING CLSID\\{object}", kMbOk);
      return false;
    }
    std::string app_id;
    if (!object.GetValue("AppID", &app_id) || app_id.empty()) {
      Message("ERROR READING AppID", kMbOk);
      return false;
    }
    RegistryKey application(registry, kHKeyClassesRoot);
    if (!application.Open(Format("APPID\\%s", app_id.c_str()))) {
      Message("ERROR OPENING APPID\\{object}", kMbOk);
      return false;
    }
    application.DeleteValue("RemoteServerName");
    application.DeleteValue("RunAs");
    application.DeleteValue("ActivateAtStorage");
    return true;
  }

  const std::string& server = cmd.args[1];
  LogF("(set remote server: object=%s%s server=%s)\n", identifier.c_str(), clsid.c_str(),
       server.c_str());
  std::string app_id;
  {
    RegistryKey object(registry, kHKeyClassesRoot);
    if (!object.Open(class_path)) {
      LogF("(info: can't open key for %s\n", class_path.c_str());
      Message("ERROR REGISTRY KEY 'CLSID{object}'", kMbOk);
      return false;
    }
    if (!object.GetValue("AppID", &app_id) || app_id.empty()) {
      // A component without an application key gets one named by its
      // class identifier.
      app_id = clsid;
      if (!object.SetText("AppID", app_id)) {
        LogF("(info: no AppID found and can't be created for %s)\n", class_path.c_str());
        Log("(info: the object MUST have an APPID key)\n");
        Message("ERROR GETTING APPID FOR OBJECT", kMbOk);
        return false;
      }
    }
  }
  const std::string app_path = Format("APPID\\%s", app_id.c_str());
  {
    RegistryKey application(registry, kHKeyClassesRoot, true);
    if (!application.Open(app_path)) {
      LogF("(error: can't open key %s\n", app_path.c_str());
      Message("ERROR OPENING 'APPID\\{object}' REGISTRY KEY", kMbOk);
      return false;
    }
    if (!application.SetText("RemoteServerName", server)) {
      LogF("(error: can't set RemoteServerName to '%s'\n", server.c_str());
      Message("ERROR SETTING RemoteServerName REGISTRY ENTRY FOR OBJECT", kMbOk);
      return false;
    }
    application.DeleteValue("RunAs");
    application.DeleteValue("ActivateAtStorage");
  }
  if (option != "-r") return true;
  // Remote activation only: the local servers are taken away, from the
  // class and from the class the application identifier names.
  {
    RegistryKey object(registry, kHKeyClassesRoot);
    if (!object.Open(class_path)) {
      Message("ERROR OPPENING CLSID\\{object} REGISTRY KEY FOR OBJECT", kMbOk);
      LogF("(error: can't open key %s\n", class_path.c_str());
      return false;
    }
    object.DeleteSubkey("LocalServer32");
    object.DeleteSubkey("InProcServer32");
  }
  RegistryKey application_class(registry, kHKeyClassesRoot);
  if (app_id != clsid && application_class.Open(Format("CLSID\\%s", app_id.c_str()))) {
    application_class.DeleteSubkey("LocalServer32");
    application_class.DeleteSubkey("InProcServer32");
  }
  return true;
}

bool ScriptInterpreter::CmdOdbc() {
  const std::string& request = cmd.args[0];
  const std::string& driver = cmd.args[1];
  const std::string& attributes = cmd.args[2];
  int code = 0;
  if (request == "add") {
    code = 1;
  } else if (request == "config") {
    code = 2;
  } else if (request == "remove") {
    code = 3;
  } else {
    Message("Error in odbc command.\nOne of add|config|remove expected", kMbOk);
    return false;
  }
  // Only -s alone addresses the system data source; -sx and -xs address
  // the user's, as -x does.
  if (cmd.option == "-s") code += 3;
  const bool record = !cmd.HasOption('x');

  std::unique_ptr<Library> library = platform.shell.LoadLibrary("odbccp32.dll");
  if (!library) {
    ShowAndLog(
        "Attempt to access ODBC utility has failed\nThe DLL odbccp32 is "
        "not installed on "
        "this system\nThis dll is needed by the 'odbc' command",
        kMbOk);
    return false;
  }
  void* entry = library->Entry("SQLConfigDataSource");
  if (entry == nullptr) {
    ShowAndLog(
        "Attempt to access ODBC utility has failed\nThe DLL odbccp32 "
        "does not contain the "
        "function\nSQLConfigDataSource()",
        kMbOk);
    return false;
  }
  const std::string list = AttributeList(attributes);
  auto configure = reinterpret_cast<ConfigDataSourceFunction>(entry);
  SetLastError(0);
  if (configure(nullptr, static_cast<uint16_t>(code), driver.c_str(), list.data()) == 0) {
    uint32_t error = LastError();
    ShowAndLog(
        Format("ERROR - failed to %s ODBC data "
               "source...\n\n%s,\n%s\n\nLast Windows "
               "Error 0x%x",
               request.c_str(), driver.c_str(), attributes.c_str(), static_cast<unsigned>(error)),
        kMbOk);
    return false;
  }
  if (code == 1 || code == 4) {
    if (record) {
      data_sources.push_back(Format("%s remove \"%s\" \"%s\"", cmd.option.c_str(), driver.c_str(),
                                    attributes.c_str()));
    }
  }
  Log("... SQLConfigDataSource completed\n");
  return true;
}

// The associations this run recorded, newest first, removed as the
// uninstall script's `associate -u` lines would remove them (an extension
// another type has taken over since stays).
void ScriptInterpreter::RemoveAssociationsOfThisRun() {
  const ParsedCommand saved = cmd;
  for (auto it = associations.rbegin(); it != associations.rend(); ++it) {
    LogF("TidyOnError: associate -u %s\n", it->c_str());
    SplitLine("associate -u " + *it);
    CmdAssociate();
  }
  cmd = saved;
  associations.clear();
}

}  // namespace crx::interp
