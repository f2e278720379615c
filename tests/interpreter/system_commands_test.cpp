// The system commands (setsvc, regdll, unregdll, locate, locateobj,
// associate, dcomcfg, odbc), called directly with K().cmd set as the
// command table hands them over. On Linux they act on a fresh emulated
// machine; the Windows build runs the same tests under wine against the
// real registry, with names of its own that are removed afterwards.
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/user_interface.h"
#include "interpreter/registry_key.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"
#include "support/host_files.h"

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace crx::test {
namespace {

const char kSharedDlls[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\SharedDlls";
const char kServices[] = "SYSTEM\\CurrentControlSet\\Services";

// A host path of the build as a path of the machine (the emulated machine
// and wine both map Z: to the host's root).
std::string HostToMachine(const std::string& host) {
  std::string path = host;
  for (char& c : path) {
    if (c == '/') c = '\\';
  }
  return path.size() > 0 && path[0] == '\\' ? "Z:" + path : path;
}

class SystemCommandsTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    // Names in the machine-wide keys that no other test (or program) uses.
    tag_ = platform_.ScratchKey().substr(platform_.ScratchKey().rfind('\\') + 5);
    hex_ = Format("%04X", static_cast<unsigned>(std::hash<std::string>()(tag_) & 0xFFFF));
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
  }
  void TearDown() override {
    for (const auto& [hive, key] : keys_) P().registry.DeleteTree(hive, key);
    ScopedRegKey shared(P().registry);
    if (P().registry.OpenKey(kHKeyLocalMachine, kSharedDlls, RegAccess::kAll, shared.Out()) ==
        kErrorSuccess) {
      for (const std::string& name : shared_values_) P().registry.DeleteValue(shared.Get(), name);
    }
  }

  // Removed with all its subkeys after the test.
  std::string Owned(RegKey hive, const std::string& key) {
    keys_.push_back({hive, key});
    return key;
  }
  void SetDefault(RegKey hive, const std::string& key, const std::string& name,
                  const std::string& value) {
    ScopedRegKey k(P().registry);
    ASSERT_EQ(kErrorSuccess, P().registry.CreateKey(hive, key, RegAccess::kAll, k.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, P().registry.SetString(k.Get(), name, value));
  }
  // A text value, "<missing>" when the key or value is not there.
  std::string Text(RegKey hive, const std::string& key, const std::string& name = "") {
    ScopedRegKey k(P().registry);
    std::string value;
    if (P().registry.OpenKey(hive, key, RegAccess::kRead, k.Out()) != kErrorSuccess ||
        P().registry.GetString(k.Get(), name, &value) != kErrorSuccess) {
      return "<missing>";
    }
    return value;
  }
  bool KeyExists(RegKey hive, const std::string& key) {
    ScopedRegKey k(P().registry);
    return P().registry.OpenKey(hive, key, RegAccess::kRead, k.Out()) == kErrorSuccess;
  }
  void SetRefCount(const std::string& path, uint32_t count) {
    ScopedRegKey k(P().registry);
    ASSERT_EQ(kErrorSuccess, P().registry.CreateKey(kHKeyLocalMachine, kSharedDlls, RegAccess::kAll,
                                                    k.Out(), nullptr));
    ASSERT_EQ(kErrorSuccess, P().registry.SetDword(k.Get(), path, count));
    shared_values_.push_back(path);
  }
  bool Logged(const std::string& line) { return LogText().find(line) != std::string::npos; }
  std::string LastShown() { return front_end_.shown.empty() ? "" : front_end_.shown.back().text; }
  std::string At(const std::string& name) { return platform_.Scratch() + "\\" + name; }
  // Copies a library of the build into the scratch folder.
  std::string Install(const char* host_path, const std::string& name) {
    std::string path = At(name);
    P().files.CreateFolder(winpath::Parent(path));
    EXPECT_TRUE(P().files.CopyFile(HostToMachine(host_path), path, false)) << host_path;
    return path;
  }

  std::string tag_;
  std::string hex_;  // four hexadecimal digits for class identifiers
  std::vector<std::pair<RegKey, std::string>> keys_;
  std::vector<std::string> shared_values_;
};

TEST_F(SystemCommandsTest, SetsvcSetsTheStartModeOfAServiceThatExists) {
  const std::string service = "CrxTestService" + tag_;
  const std::string key = Owned(kHKeyLocalMachine, std::string(kServices) + "\\" + service);
  Command("setsvc", "-m", {service});
  EXPECT_FALSE(K().CmdSetsvc());
  EXPECT_EQ(LastShown(), "ERROR setting service statup parameter 0x2[2]\n\"" + key +
                             "\"\nCan't access required registry key");
  EXPECT_EQ(front_end_.shown.back().flags, kMbIconHand);
  EXPECT_FALSE(KeyExists(kHKeyLocalMachine, key)) << "a missing service must not be created";

  SetDefault(kHKeyLocalMachine, key, "DisplayName", "test");
  // The letters are tested in the order a, m, d.
  const std::pair<const char*, uint32_t> modes[] = {{"-m", 3}, {"-d", 4}, {"-da", 2}, {"-dm", 3}};
  for (const auto& [option, mode] : modes) {
    Command("setsvc", option, {service});
    ASSERT_TRUE(K().CmdSetsvc()) << option;
    ScopedRegKey k(P().registry);
    ASSERT_EQ(kErrorSuccess,
              P().registry.OpenKey(kHKeyLocalMachine, key, RegAccess::kRead, k.Out()));
    uint32_t value = 0;
    ASSERT_EQ(kErrorSuccess, P().registry.GetDword(k.Get(), "Start", &value));
    EXPECT_EQ(value, mode) << option;
  }
  EXPECT_TRUE(Logged("# update registry path <" + key + ">\n"));
  Command("setsvc", "-x", {service});
  EXPECT_FALSE(K().CmdSetsvc());
  EXPECT_EQ(LastShown(),
            "ERROR\nOption argument of -a(automatic) -m(manual) "
            "or -d(disabled) required");
}

TEST_F(SystemCommandsTest, RegdllRegistersInTheServersFolderAndUnregdllHonoursTheRefCount) {
  const std::string server = Install(CRX_TEST_SERVER, "my servers\\server.dll");
  const std::string folder = winpath::Parent(server);
  const std::string trace = folder + "\\server_trace.txt";
  const std::string before = P().files.CurrentFolder();
#ifdef _WIN32
  keys_.push_back({kHKeyClassesRoot, "CrxTestServer.Object"});
  keys_.push_back({kHKeyClassesRoot, "CLSID\\{6B1C2A10-7E44-4C1D-9F0B-3A5D2E8C4F71}"});
#endif

  Command("regdll", "", {server});
  ASSERT_TRUE(K().CmdRegdll());
  // The server ran in its own folder, which is left again afterwards.
  EXPECT_EQ(ReadWholeFile(P().files, trace), "register\n");
  EXPECT_EQ(P().files.CurrentFolder(), before);
  EXPECT_EQ(K().servers, std::vector<std::string>{server});
  EXPECT_TRUE(Logged("# DllRegisterServer <" + server + "> returned 0x0\n"));
  EXPECT_TRUE(front_end_.shown.empty());
#ifdef _WIN32
  // A real registration: the component is found through the registry.
  Command("locateobj", "", {"WHERE", "CrxTestServer.Object"});
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_TRUE(winpath::EqualsNoCase(K().VariableText("WHERE"), server))
      << K().VariableText("WHERE");
#endif

  // Another application still shares the server: it stays registered.
  SetRefCount(server, 2);
  Command("unregdll", "", {server});
  ASSERT_TRUE(K().CmdUnregdll());
  EXPECT_TRUE(Logged("# dll not unregistered (ref count = 2)\n"));
  EXPECT_EQ(ReadWholeFile(P().files, trace), "register\n");

  SetRefCount(server, 1);
  ASSERT_TRUE(K().CmdUnregdll());
  EXPECT_EQ(ReadWholeFile(P().files, trace), "register\nunregister\n");
  EXPECT_EQ(P().files.CurrentFolder(), before);
#ifdef _WIN32
  Command("locateobj", "", {"WHERE", "CrxTestServer.Object"});
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("WHERE"), "(empty)");
#endif

  // A relative name is recorded as the full path, which the uninstall
  // script can still find from another folder.
  ASSERT_TRUE(P().files.SetCurrentFolder(folder));
  Command("regdll", "", {"server.dll"});
  ASSERT_TRUE(K().CmdRegdll());
  ASSERT_TRUE(P().files.SetCurrentFolder(before));
  EXPECT_EQ(K().servers.back(), server);
  Command("unregdll", "", {server});
  ASSERT_TRUE(K().CmdUnregdll());
}

TEST_F(SystemCommandsTest, ServerFailuresAreReportedAndNothingIsRecordedThatDidNotRun) {
  const std::string missing = At("missing.dll");
  Command("regdll", "", {missing});
  EXPECT_FALSE(K().CmdRegdll());
  EXPECT_EQ(LastShown(), "ERROR: can't load dll 0x7e[126]\n" + missing);
  Command("unregdll", "", {missing});
  EXPECT_FALSE(K().CmdUnregdll());
  EXPECT_EQ(LastShown(), "ERROR: can't load dll 0x7e[126]\n" + missing);

  const std::string text = At("text.dll");
  ASSERT_TRUE(WriteWholeFile(P().files, text, "not a library\n"));
  Command("regdll", "", {text});
  EXPECT_FALSE(K().CmdRegdll());
  EXPECT_EQ(LastShown().rfind("ERROR: can't load dll 0x", 0), 0u) << LastShown();

  const std::string plain = Install(CRX_TEST_PLAIN_LIBRARY, "plain.dll");
  Command("regdll", "", {plain});
  EXPECT_FALSE(K().CmdRegdll());
  EXPECT_EQ(LastShown(), "DLL DOES NOT CONTIAN THE DllRegisterServer ENTRT POINT");
  size_t shown = front_end_.shown.size();
  Command("unregdll", "", {plain});
  EXPECT_TRUE(K().CmdUnregdll());
  EXPECT_TRUE(Logged("DLL <" + plain + "> DOES NOT CONTIAN THE DllUnregisterServer ENTRT POINT\n"));
  EXPECT_EQ(front_end_.shown.size(), shown);
  EXPECT_TRUE(K().servers.empty());

  // A server that reports a failure is registered only in part, if at all:
  // the user is warned, and it is recorded so the uninstall still cleans up.
  const std::string server = Install(CRX_TEST_SERVER, "server.dll");
#ifdef _WIN32
  keys_.push_back({kHKeyClassesRoot, "CrxTestServer.Object"});
  keys_.push_back({kHKeyClassesRoot, "CLSID\\{6B1C2A10-7E44-4C1D-9F0B-3A5D2E8C4F71}"});
#endif
  ASSERT_TRUE(P().environment.Set("CRX_TEST_SERVER_RESULT", "80004005"));
  Command("regdll", "", {server});
  bool registered = K().CmdRegdll();
  P().environment.Unset("CRX_TEST_SERVER_RESULT");
  EXPECT_TRUE(registered);
  EXPECT_EQ(LastShown(),
            "WARNING: registration of the server\n" + server + "\nreported an error 0x80004005");
  EXPECT_EQ(front_end_.shown.back().flags, kMbIconExclamation);
  EXPECT_TRUE(Logged("# DllRegisterServer <" + server + "> returned 0x80004005\n"));
  EXPECT_EQ(K().servers, std::vector<std::string>{server});
  Command("unregdll", "", {server});
  EXPECT_TRUE(K().CmdUnregdll());
}

TEST_F(SystemCommandsTest, LocateFindsTheOneRegisteredPathOfASharedName) {
  const std::string name = "crxlocate" + tag_ + ".dll";
  const std::string only = "C:\\Program Files\\Common\\" + name;
  SetRefCount(only, 1);
  Command("locate", "", {"FOUND", "C:\\elsewhere\\" + winpath::ToUpperAscii(name)});
  ASSERT_TRUE(K().CmdLocate());
  EXPECT_EQ(K().VariableText("FOUND"), only);
  EXPECT_TRUE(Logged("# found shared name " + only + "\n"));

  // The same name in two places: neither is the shared one.
  SetRefCount("C:\\Other\\" + name, 3);
  ASSERT_TRUE(K().CmdLocate());
  EXPECT_EQ(K().VariableText("FOUND"), "(empty)");
  EXPECT_TRUE(Logged("# rejected shared name "));

  Command("locate", "", {"FOUND", "never" + tag_ + ".dll"});
  ASSERT_TRUE(K().CmdLocate());
  EXPECT_EQ(K().VariableText("FOUND"), "(empty)");
  EXPECT_TRUE(Logged("# can't find name never" + tag_ + ".dll\n"));
}

TEST_F(SystemCommandsTest, LocateobjFollowsTheIdentifierToItsServer) {
  const std::string prog_id = Owned(kHKeyClassesRoot, "CrxTest.Locate" + tag_);
  const std::string clsid = "{0D4B7C1E-" + hex_ + "-4A8B-9C2D-1E3F4A5B6C7D}";
  const std::string class_key = Owned(kHKeyClassesRoot, "CLSID\\" + clsid);

  Command("locateobj", "-i", {"OBJ", prog_id});
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("OBJ"), "(empty)");
  EXPECT_TRUE(Logged("... no clsid entry <" + prog_id + ">\n"));

  ASSERT_EQ(kErrorSuccess, [&] {
    ScopedRegKey k(P().registry);
    return P().registry.CreateKey(kHKeyClassesRoot, prog_id + "\\CLSID", RegAccess::kAll, k.Out(),
                                  nullptr);
  }());
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("OBJ"), "(empty)");
  EXPECT_TRUE(Logged("... no clsid default value available\n"));

  SetDefault(kHKeyClassesRoot, prog_id + "\\CLSID", "", clsid);
  SetDefault(kHKeyClassesRoot, class_key + "\\InProcServer32", "", "C:\\Lib\\inproc.dll");
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("OBJ"), "C:\\Lib\\inproc.dll");
  EXPECT_TRUE(Logged("locate object: (" + prog_id + ")... C:\\Lib\\inproc.dll\n"));
  // No option means -i.
  Command("locateobj", "", {"OBJ2", prog_id});
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("OBJ2"), "C:\\Lib\\inproc.dll");

  Command("locateobj", "-o", {"OBJ", prog_id});
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("OBJ"), "(empty)");
  EXPECT_TRUE(Logged("... no LocalServer32 or InProcServer32 in registry\n"));
  SetDefault(kHKeyClassesRoot, class_key + "\\LocalServer32", "Other", "x");
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_TRUE(Logged("...object path not set in registry\n"));
  SetDefault(kHKeyClassesRoot, class_key + "\\LocalServer32", "", "C:\\Bin\\server.exe");
  ASSERT_TRUE(K().CmdLocateobj());
  EXPECT_EQ(K().VariableText("OBJ"), "C:\\Bin\\server.exe");
}

TEST_F(SystemCommandsTest, AssociateCreatesRecordsAndRemovesWhatItMade) {
  const std::string extension = "crx" + tag_;
  const std::string type = "CrxTest" + tag_ + ".Text";
  Owned(kHKeyClassesRoot, "." + extension);
  Owned(kHKeyClassesRoot, type);

  // Wrong forms fail quietly.
  Command("associate", "", {extension, "prog.exe"});
  EXPECT_FALSE(K().CmdAssociate());
  Command("associate", "-u", {extension, "C:\\App\\app.exe", type, "Text"});
  EXPECT_FALSE(K().CmdAssociate());

  Command("associate", "", {extension, "C:\\Program Files\\App\\app.exe", type, "App text"});
  ASSERT_TRUE(K().CmdAssociate());
  EXPECT_EQ(Text(kHKeyClassesRoot, "." + extension), type);
  EXPECT_EQ(Text(kHKeyClassesRoot, type), "App text");
  EXPECT_EQ(Text(kHKeyClassesRoot, type + "\\shell\\open\\command"),
            "C:\\Program Files\\App\\app.exe \"%1\"");
  ASSERT_EQ(K().associations.size(), 1u);
  EXPECT_EQ(K().associations[0], "\"" + extension + "\" \"" + type + "\"");
  // A leading dot is not doubled.
  Command("associate", "", {"." + extension, "C:\\App\\app.exe", type, "App text"});
  ASSERT_TRUE(K().CmdAssociate());
  EXPECT_FALSE(KeyExists(kHKeyClassesRoot, ".." + extension));

  // The recorded line removes everything again.
  K().SplitLine("associate -u " + K().associations[0]);
  ASSERT_TRUE(K().CmdAssociate());
  EXPECT_FALSE(KeyExists(kHKeyClassesRoot, "." + extension));
  EXPECT_FALSE(KeyExists(kHKeyClassesRoot, type));
  // Removing what is gone already succeeds.
  ASSERT_TRUE(K().CmdAssociate());

  // An extension that another application has taken over since is left
  // to it; only this application's type goes.
  Command("associate", "", {extension, "C:\\App\\app.exe", type, "App text"});
  ASSERT_TRUE(K().CmdAssociate());
  SetDefault(kHKeyClassesRoot, "." + extension, "", "Other.Document");
  Command("associate", "-u", {extension, type});
  ASSERT_TRUE(K().CmdAssociate());
  EXPECT_EQ(Text(kHKeyClassesRoot, "." + extension), "Other.Document");
  EXPECT_FALSE(KeyExists(kHKeyClassesRoot, type));
  EXPECT_TRUE(Logged("# association of <." + extension + "> now belongs to <Other.Document>"));
}

TEST_F(SystemCommandsTest, DcomcfgSwitchesAComponentBetweenRemoteAndLocalActivation) {
  const std::string prog_id = Owned(kHKeyClassesRoot, "CrxTest.Dcom" + tag_);
  const std::string clsid = "{5E6F7A8B-" + hex_ + "-4C3D-8E9F-0A1B2C3D4E5F}";
  std::string lower = clsid;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  const std::string class_key = Owned(kHKeyClassesRoot, "CLSID\\" + clsid);
  const std::string app_key = Owned(kHKeyClassesRoot, "APPID\\" + clsid);

  Command("dcomcfg", "-l", {prog_id});
  EXPECT_FALSE(K().CmdDcomcfg());
  EXPECT_EQ(LastShown(), "Can't get CLSID of object <" + prog_id + "> 0x800401f3");

  // The identifier's class is stored in lower case; the commands use the
  // canonical form.
  SetDefault(kHKeyClassesRoot, prog_id + "\\CLSID", "", lower);
  SetDefault(kHKeyClassesRoot, class_key + "\\InProcServer32", "", "C:\\Lib\\obj.dll");
  SetDefault(kHKeyClassesRoot, class_key + "\\LocalServer32", "", "C:\\Bin\\obj.exe");
  Command("dcomcfg", "-l", {prog_id});
  EXPECT_FALSE(K().CmdDcomcfg());
  EXPECT_EQ(LastShown(), "ERROR READING AppID");

  // Remote activation that keeps the local servers; the missing AppID is
  // made from the class identifier.
  Command("dcomcfg", "-rl", {prog_id, "server1"});
  ASSERT_TRUE(K().CmdDcomcfg());
  EXPECT_EQ(Text(kHKeyClassesRoot, class_key, "AppID"), clsid);
  EXPECT_EQ(Text(kHKeyClassesRoot, app_key, "RemoteServerName"), "server1");
  EXPECT_TRUE(KeyExists(kHKeyClassesRoot, class_key + "\\InProcServer32"));
  EXPECT_TRUE(Logged("(set remote server: object=" + prog_id + clsid + " server=server1)\n"));

  // Back to local activation: the remote settings go.
  SetDefault(kHKeyClassesRoot, app_key, "RunAs", "Interactive User");
  SetDefault(kHKeyClassesRoot, app_key, "Keep", "me");
  Command("dcomcfg", "-l", {prog_id});
  ASSERT_TRUE(K().CmdDcomcfg());
  EXPECT_EQ(Text(kHKeyClassesRoot, app_key, "RemoteServerName"), "<missing>");
  EXPECT_EQ(Text(kHKeyClassesRoot, app_key, "RunAs"), "<missing>");
  EXPECT_EQ(Text(kHKeyClassesRoot, app_key, "Keep"), "me");

  // Remote only: the local servers are taken away.
  Command("dcomcfg", "-r", {prog_id, "server2"});
  ASSERT_TRUE(K().CmdDcomcfg());
  EXPECT_EQ(Text(kHKeyClassesRoot, app_key, "RemoteServerName"), "server2");
  EXPECT_FALSE(KeyExists(kHKeyClassesRoot, class_key + "\\InProcServer32"));
  EXPECT_FALSE(KeyExists(kHKeyClassesRoot, class_key + "\\LocalServer32"));

  // Forms with the wrong count fail quietly.
  size_t shown = front_end_.shown.size();
  Command("dcomcfg", "-r", {prog_id});
  EXPECT_FALSE(K().CmdDcomcfg());
  Command("dcomcfg", "-l", {prog_id, "server"});
  EXPECT_FALSE(K().CmdDcomcfg());
  Command("dcomcfg", "-e", {"x"});
  EXPECT_FALSE(K().CmdDcomcfg());
  EXPECT_EQ(front_end_.shown.size(), shown);
}

TEST_F(SystemCommandsTest, DcomcfgEnablesDistributedCom) {
  const char kOle[] = "SOFTWARE\\Microsoft\\Ole";
  // The machine's own settings are put back afterwards.
  const bool existed = KeyExists(kHKeyLocalMachine, kOle);
  const std::string dcom = Text(kHKeyLocalMachine, kOle, "EnableDCOM");
  const std::string remote = Text(kHKeyLocalMachine, kOle, "EnableRemoteConnect");
  Command("dcomcfg", "-e", {});
  if (!existed) {
    EXPECT_FALSE(K().CmdDcomcfg());
    EXPECT_EQ(LastShown(), "ERROR OPENING SOFTWARE\\Microsoft\\Ole");
    Owned(kHKeyLocalMachine, kOle);
    SetDefault(kHKeyLocalMachine, kOle, "Other", "x");
  }
  EXPECT_TRUE(K().CmdDcomcfg());
  EXPECT_EQ(Text(kHKeyLocalMachine, kOle, "EnableDCOM"), "Y");
  EXPECT_EQ(Text(kHKeyLocalMachine, kOle, "EnableRemoteConnect"), "Y");
  if (existed) {
    ScopedRegKey k(P().registry);
    ASSERT_EQ(kErrorSuccess,
              P().registry.OpenKey(kHKeyLocalMachine, kOle, RegAccess::kAll, k.Out()));
    for (const auto& [name, value] :
         {std::pair{"EnableDCOM", dcom}, std::pair{"EnableRemoteConnect", remote}}) {
      if (value == "<missing>") {
        P().registry.DeleteValue(k.Get(), name);
      } else {
        P().registry.SetString(k.Get(), name, value);
      }
    }
  }
}

TEST_F(SystemCommandsTest, OdbcRefusesAnUnknownRequest) {
  Command("odbc", "", {"create", "SQLite3", "DSN=x"});
  EXPECT_FALSE(K().CmdOdbc());
  EXPECT_EQ(LastShown(), "Error in odbc command.\nOne of add|config|remove expected");
  EXPECT_TRUE(K().data_sources.empty());
}

#ifndef _WIN32
// The machine's own odbccp32.dll comes first: one that is no library, or
// one without SQLConfigDataSource, gives the messages of a system without
// the ODBC utility.
TEST_F(SystemCommandsTest, OdbcReportsAMissingLibraryOrFunction) {
  const std::string dll = P().environment.SystemFolder() + "\\odbccp32.dll";
  ASSERT_TRUE(WriteWholeFile(P().files, dll, "not a library"));
  Command("odbc", "", {"add", "SQLite3", "DSN=x"});
  EXPECT_FALSE(K().CmdOdbc());
  EXPECT_EQ(LastShown(),
            "Attempt to access ODBC utility has failed\nThe DLL odbccp32 is not "
            "installed on this system\nThis dll is needed by the 'odbc' command");
  EXPECT_TRUE(Logged("The DLL odbccp32 is not installed on this system\n"));

  ASSERT_TRUE(P().files.CopyFile(HostToMachine(CRX_TEST_PLAIN_LIBRARY), dll, false));
  EXPECT_FALSE(K().CmdOdbc());
  EXPECT_EQ(LastShown(),
            "Attempt to access ODBC utility has failed\nThe DLL odbccp32 does not "
            "contain the function\nSQLConfigDataSource()");
  EXPECT_TRUE(K().data_sources.empty());
}

#ifdef CRX_TEST_ODBC_SETUP
// A real data source through the host's ODBC installer library and its
// SQLite driver. The installer's files are pointed at a folder of this
// test, so the user's own ~/.odbc.ini and /etc are never touched.
class OdbcTest : public SystemCommandsTest {
 protected:
  void SetUp() override {
    SystemCommandsTest::SetUp();
    // One folder for the whole test program: the installer library keeps
    // the system folder it found first for the rest of the process.
    folder_ = Format("/tmp/crx_odbc_test_%d", static_cast<int>(::getpid()));
    ASSERT_EQ(0, ::mkdir(folder_.c_str(), 0700)) << folder_;
    for (const char* name : {"HOME", "ODBCINI", "ODBCSYSINI"}) {
      const char* value = std::getenv(name);
      saved_.push_back({name, value ? std::string(value) : std::string("\x01")});
    }
    ::setenv("HOME", folder_.c_str(), 1);
    ::setenv("ODBCINI", (folder_ + "/user_odbc.ini").c_str(), 1);
    ::setenv("ODBCSYSINI", folder_.c_str(), 1);
    // The driver, and the system's data-source file (empty, as the
    // installer package leaves it).
    ASSERT_TRUE(WriteSqliteOdbcFiles(folder_, CRX_TEST_ODBC_SETUP)) << folder_;
  }
  void TearDown() override {
    for (const auto& [name, value] : saved_) {
      if (value == "\x01") {
        ::unsetenv(name.c_str());
      } else {
        ::setenv(name.c_str(), value.c_str(), 1);
      }
    }
    for (const char* name : {"odbcinst.ini", "odbc.ini", "user_odbc.ini", "isql.out",
                             ".isql_history", "test.db", "s.db", "u.db"}) {
      ::unlink((folder_ + "/" + name).c_str());
    }
    ::rmdir(folder_.c_str());
    SystemCommandsTest::TearDown();
  }
  std::string HostFile(const std::string& name) { return HostReadFile(folder_ + "/" + name); }
  // Opens the data source with the host's own ODBC client.
  int Query(const std::string& dsn) {
    std::string command =
        "echo 'select 42;' | /usr/bin/isql -b " + dsn + " > '" + folder_ + "/isql.out' 2>&1";
    return std::system(command.c_str());
  }

  std::string folder_;
  std::vector<std::pair<std::string, std::string>> saved_;
};

TEST_F(OdbcTest, AddsAUserDataSourceThatOpensAndRemovesItWithTheRecordedLine) {
  const std::string dsn = "CrxTestDsn";
  const std::string attributes = "DSN=" + dsn + ";;Database=" + folder_ + "/test.db;";
  Command("odbc", "", {"add", "SQLite3", attributes});
  ASSERT_TRUE(K().CmdOdbc()) << LastShown();
  EXPECT_TRUE(Logged("... SQLConfigDataSource completed\n"));
  const std::string ini = HostFile("user_odbc.ini");
  EXPECT_NE(ini.find("[" + dsn + "]"), std::string::npos) << ini;
  // The empty item did not end the list: the database came through.
  EXPECT_NE(ini.find("Database=" + folder_ + "/test.db"), std::string::npos) << ini;
  EXPECT_EQ(HostFile("odbc.ini").find(dsn), std::string::npos) << "not a system data source";
  EXPECT_EQ(Query(dsn), 0) << HostFile("isql.out");
  EXPECT_NE(HostFile("isql.out").find("42"), std::string::npos) << HostFile("isql.out");

  ASSERT_EQ(K().data_sources.size(), 1u);
  EXPECT_EQ(K().data_sources[0], " remove \"SQLite3\" \"" + attributes + "\"");
  K().SplitLine("odbc " + K().data_sources[0]);
  ASSERT_TRUE(K().CmdOdbc()) << LastShown();
  EXPECT_EQ(HostFile("user_odbc.ini").find(dsn), std::string::npos) << HostFile("user_odbc.ini");
  EXPECT_NE(Query(dsn), 0);
}

TEST_F(OdbcTest, OnlyDashSAddressesTheSystemAndDashXRecordsNothing) {
  Command("odbc", "-s", {"add", "SQLite3", "DSN=CrxSystemDsn;Database=" + folder_ + "/s.db"});
  ASSERT_TRUE(K().CmdOdbc()) << LastShown();
  EXPECT_NE(HostFile("odbc.ini").find("[CrxSystemDsn]"), std::string::npos);
  ASSERT_EQ(K().data_sources.size(), 1u);
  EXPECT_EQ(K().data_sources[0].rfind("-s remove \"SQLite3\" ", 0), 0u);

  for (const char* option : {"-sx", "-xs", "-x"}) {
    const std::string dsn = std::string("CrxUser") + (option + 1);
    Command("odbc", option, {"add", "SQLite3", "DSN=" + dsn + ";Database=" + folder_ + "/u.db"});
    ASSERT_TRUE(K().CmdOdbc()) << option << ": " << LastShown();
    EXPECT_NE(HostFile("user_odbc.ini").find("[" + dsn + "]"), std::string::npos) << option;
    EXPECT_EQ(HostFile("odbc.ini").find("[" + dsn + "]"), std::string::npos) << option;
  }
  EXPECT_EQ(K().data_sources.size(), 1u);

  K().SplitLine("odbc " + K().data_sources[0]);
  ASSERT_TRUE(K().CmdOdbc()) << LastShown();
  EXPECT_EQ(HostFile("odbc.ini").find("CrxSystemDsn"), std::string::npos);

  // A driver the system does not know: the request fails with the report.
  Command("odbc", "", {"add", "NoSuchDriver", "DSN=Nothing"});
  EXPECT_FALSE(K().CmdOdbc());
  EXPECT_EQ(LastShown().rfind("ERROR - failed to add ODBC data source...\n\nNoSuchDriver,\n"
                              "DSN=Nothing\n\nLast Windows Error 0x",
                              0),
            0u)
      << LastShown();
  EXPECT_EQ(K().data_sources.size(), 1u);
}
#endif  // CRX_TEST_ODBC_SETUP
#endif  // !_WIN32

}  // namespace
}  // namespace crx::test
