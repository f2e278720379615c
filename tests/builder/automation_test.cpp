// The automation object on a fresh emulated machine: its eleven methods,
// their pending values, what releasing it with an archive open leaves
// behind, and the line protocol that serves it (good requests, and
// malformed ones that must get an error, never a crash).
#include <gtest/gtest.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include "builder/automation.h"
#include "builder/automation_rpc.h"
#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

#ifndef _WIN32

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class QuietUi : public UserInterface {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t) override { return kIdOk; }
};

class AutomationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(machine_.ok()) << machine_.Error();
    ResetLogState();
    dir_ = machine_.Scratch();
    ASSERT_TRUE(p().files.SetCurrentFolder(dir_));
    Write(dir_ + "\\full.dat", std::string(FULL_STUB_SIZE, 'S'));
    ScopedRegKey key(p().registry);
    ASSERT_EQ(p().registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll, key.Out(),
                                     nullptr),
              kErrorSuccess);
    ASSERT_EQ(p().registry.SetString(key.Get(), "datafile", dir_ + "\\full.dat"), kErrorSuccess);
    // The product: two files in a folder with a sub-folder, one loose file.
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\product"));
    ASSERT_TRUE(p().files.CreateFolder(dir_ + "\\product\\bin"));
    Write(dir_ + "\\product\\readme.txt", "read me first\r\n");
    Write(dir_ + "\\product\\bin\\tool.dll", std::string(5000, 'x') + "tail");
    Write(dir_ + "\\product\\bin\\tool.obj", "object code");
    Write(dir_ + "\\notes.txt", "loose notes");
  }
  void TearDown() override { ResetLogState(); }

  Platform& p() { return machine_.Get(); }
  void Write(const std::string& path, const std::string& bytes) {
    ASSERT_TRUE(test::WriteWholeFile(p().files, path, bytes)) << path;
  }
  std::string Read(const std::string& path) {
    return test::ReadWholeFile(p().files, path, "(missing)");
  }
  bool Exists(const std::string& path) { return p().files.Exists(path); }
  std::string ErrorLog() {
    const SystemTime now = p().clock.UtcNow();
    return Read(Format("%s/Cratex_%02d%02d%04d.err", LogFolder(p().environment).c_str(),
                       now.day, now.month, now.year));
  }
  std::vector<std::string> Temporaries() {
    std::vector<FolderEntry> entries;
    std::vector<std::string> names;
    if (p().files.ListFolder(dir_ + "\\*.tmp", &entries)) {
      for (const FolderEntry& e : entries) names.push_back(e.name);
    }
    return names;
  }
  // The members of an archive, read with the password check waived; the
  // type record in *type.
  std::vector<std::string> Members(const std::string& archive, TypeRecord* type = nullptr,
                                   std::string* digest = nullptr) {
    QuietUi quiet;
    ArchiveEngine reader(p(), quiet);
    reader.set_password_accepted(true);
    std::vector<std::string> names;
    if (!reader.ListArchive(archive)) names.push_back("(unreadable)");
    reader.CloseArchive();
    if (type) *type = reader.type_record();
    if (digest) *digest = reader.identification().password_digest;
    for (const MemberEntry& m : reader.members()) names.push_back(m.name);
    return names;
  }
  bool Verifies(const std::string& archive) {
    QuietUi quiet;
    ArchiveEngine reader(p(), quiet);
    reader.log().set_silent(true);
    reader.SetOptions("+V");
    const bool ok = reader.ExtractArchive(archive, nullptr, std::string());
    reader.CloseArchive();
    return ok;
  }
  bool Contains(const std::vector<std::string>& names, const std::string& ending) {
    for (const std::string& n : names) {
      if (n.size() >= ending.size() && n.compare(n.size() - ending.size(), ending.size(),
                                                 ending) == 0) {
        return true;
      }
    }
    return false;
  }

  test::TestPlatform machine_;
  std::string dir_;
};

TEST_F(AutomationTest, MethodsWithoutAnArchiveSayFalse) {
  builder::AutomationObject object(p());
  EXPECT_FALSE(object.AddFile(dir_ + "\\notes.txt"));
  EXPECT_FALSE(object.AddDirectory(dir_ + "\\product"));
  EXPECT_FALSE(object.ProcessScript(dir_ + "\\script.txt"));
  EXPECT_FALSE(object.CloseArchive());
  EXPECT_FALSE(object.AbortArchive());
  EXPECT_FALSE(object.SetExtractionOverwriteMode(1));  // no engine to take it
  EXPECT_TRUE(object.SetPassword("ab"));
  EXPECT_FALSE(object.has_engine());
  EXPECT_FALSE(object.Release());
}

TEST_F(AutomationTest, OneArchiveAtATimeAndOnlyModesOneToThree) {
  builder::AutomationObject object(p());
  const std::string archive = dir_ + "\\one.exe";
  ASSERT_TRUE(object.CreateArchive(archive));
  EXPECT_FALSE(object.CreateArchive(dir_ + "\\two.exe"));
  EXPECT_FALSE(Exists(dir_ + "\\two.exe"));
  EXPECT_TRUE(object.AddFile(dir_ + "\\notes.txt"));
  EXPECT_FALSE(object.AddFile(dir_ + "\\missing.txt"));
  for (int32_t mode : {0, 4, -1, 1000}) EXPECT_FALSE(object.SetExtractionOverwriteMode(mode));
  for (int32_t mode : {1, 2, 3}) EXPECT_TRUE(object.SetExtractionOverwriteMode(mode));
  EXPECT_TRUE(object.CloseArchive());
  EXPECT_FALSE(object.CloseArchive());
  EXPECT_TRUE(Verifies(archive));
  EXPECT_TRUE(Contains(Members(archive), "notes.txt"));

  // A creation that fails keeps its engine until the client ends it.
  EXPECT_FALSE(object.CreateArchive(dir_ + "\\no such folder\\a.exe"));
  EXPECT_TRUE(object.has_engine());
  EXPECT_FALSE(object.CreateArchive(dir_ + "\\three.exe"));
  EXPECT_TRUE(object.AbortArchive());
  EXPECT_TRUE(object.CreateArchive(dir_ + "\\three.exe"));
  EXPECT_TRUE(object.CloseArchive());
  EXPECT_TRUE(Verifies(dir_ + "\\three.exe"));
}

TEST_F(AutomationTest, PendingOptionsPasswordAndIgnoreListReachTheNextArchiveOnly) {
  builder::AutomationObject object(p());
  object.SetOptions("+e");  // E alone asks for compression as well
  object.SetIgnorableFileExtensions("obj:pdb");
  ASSERT_TRUE(object.SetPassword("secret"));
  EXPECT_EQ(object.pending_password_digest(), DigestFromPaddedPassword("secret"));
  ASSERT_TRUE(object.CreateArchive(dir_ + "\\locked.exe"));
  EXPECT_TRUE(object.engine()->options().encrypt);
  EXPECT_TRUE(object.engine()->options().compress);
  EXPECT_TRUE(object.engine()->options().project);
  EXPECT_EQ(object.pending_options(), "");
  EXPECT_EQ(object.pending_ignore_list(), "");
  EXPECT_EQ(object.pending_password_digest(), "");
  ASSERT_TRUE(object.AddDirectory(dir_ + "\\product"));
  // With an archive open the text applies at once, without the E-Z step.
  object.SetOptions("Z");
  EXPECT_FALSE(object.engine()->options().compress);
  ASSERT_TRUE(object.CloseArchive());
  TypeRecord type;
  std::string digest;
  std::vector<std::string> names = Members(dir_ + "\\locked.exe", &type, &digest);
  EXPECT_TRUE(type.IsEncrypted());
  EXPECT_EQ(digest, DigestFromPaddedPassword("secret"));
  EXPECT_TRUE(Contains(names, "readme.txt"));
  EXPECT_TRUE(Contains(names, "tool.dll"));
  EXPECT_FALSE(Contains(names, "tool.obj")) << "the ignore list was not applied";

  // The next archive starts from the defaults again: nothing pending.
  ASSERT_TRUE(object.CreateArchive(dir_ + "\\plain.exe"));
  EXPECT_FALSE(object.engine()->options().encrypt);
  object.SetOptions("+E");
  EXPECT_TRUE(object.engine()->options().encrypt);
  EXPECT_FALSE(object.engine()->options().compress);
  EXPECT_TRUE(object.AbortArchive());
  EXPECT_FALSE(Exists(dir_ + "\\plain.exe"));
}

TEST_F(AutomationTest, EncryptedArchiveBuiltAndExtractedByTwoObjects) {
  const std::string archive = dir_ + "\\round.exe";
  {
    builder::AutomationObject builder_object(p());
    EXPECT_TRUE(builder_object.SetPassword("opensesame"));
    builder_object.SetOptions("+E");
    ASSERT_TRUE(builder_object.CreateArchive(archive));
    ASSERT_TRUE(builder_object.AddDirectory(dir_ + "\\product"));
    ASSERT_TRUE(builder_object.AddFile(dir_ + "\\notes.txt"));
    // An extraction now would take the engine from the archive being
    // written: refused, and the archive is not harmed.
    EXPECT_FALSE(builder_object.ExtractArchive(archive));
    EXPECT_NE(ErrorLog().find("is being written"), std::string::npos);
    ASSERT_TRUE(builder_object.CloseArchive());
  }
  TypeRecord type;
  Members(archive, &type);
  ASSERT_TRUE(type.IsEncrypted());
  const std::string readme = Read(dir_ + "\\product\\readme.txt");
  const std::string dll = Read(dir_ + "\\product\\bin\\tool.dll");
  ASSERT_TRUE(p().files.DeleteFile(dir_ + "\\product\\readme.txt"));
  ASSERT_TRUE(p().files.DeleteFile(dir_ + "\\product\\bin\\tool.dll"));
  ASSERT_TRUE(p().files.DeleteFile(dir_ + "\\notes.txt"));

  builder::AutomationObject reader(p());
  EXPECT_FALSE(reader.ExtractArchive(archive)) << "no password was given";
  EXPECT_NE(ErrorLog().find("password protected"), std::string::npos);
  EXPECT_TRUE(reader.SetPassword("wrong one"));
  EXPECT_FALSE(reader.ExtractArchive(archive));
  EXPECT_FALSE(Exists(dir_ + "\\notes.txt"));
  EXPECT_TRUE(reader.SetPassword("opensesame"));
  ASSERT_TRUE(reader.ExtractArchive(archive));
  EXPECT_EQ(Read(dir_ + "\\product\\readme.txt"), readme);
  EXPECT_EQ(Read(dir_ + "\\product\\bin\\tool.dll"), dll);
  EXPECT_EQ(Read(dir_ + "\\notes.txt"), "loose notes");
  // The extraction's engine stays until CloseArchive; then no more engine.
  EXPECT_TRUE(reader.has_engine());
  EXPECT_FALSE(reader.CreateArchive(dir_ + "\\other.exe"));
  EXPECT_TRUE(reader.CloseArchive());
  EXPECT_FALSE(reader.CloseArchive());
}

TEST_F(AutomationTest, ExtractionKeepsNewerFilesUnlessTheClientChoseAnotherMode) {
  const std::string archive = dir_ + "\\modes.exe";
  {
    builder::AutomationObject object(p());
    ASSERT_TRUE(object.CreateArchive(archive));
    ASSERT_TRUE(object.AddFile(dir_ + "\\notes.txt"));
    ASSERT_TRUE(object.CloseArchive());
  }
  // The file on disk is now changed and newer than the archive's copy.
  Write(dir_ + "\\notes.txt", "edited since");
  FileTime later = 0;
  {
    std::unique_ptr<File> f = p().files.Open(dir_ + "\\notes.txt", kAccessRead | kAccessWrite,
                                             kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(f && f->GetLastWriteTime(&later));
    ASSERT_TRUE(f->SetLastWriteTime(later + 10LL * 24 * 3600 * 10000000LL));
  }
  builder::AutomationObject object(p());
  EXPECT_TRUE(object.ExtractArchive(archive));
  EXPECT_EQ(Read(dir_ + "\\notes.txt"), "edited since");
  EXPECT_EQ(object.engine()->policy().replace_mode(), 3);
  // A mode the client chose holds for this engine's next extractions.
  EXPECT_TRUE(object.SetExtractionOverwriteMode(1));
  EXPECT_TRUE(object.ExtractArchive(archive));
  EXPECT_EQ(Read(dir_ + "\\notes.txt"), "loose notes");
  // A new engine starts from "only if newer" again.
  EXPECT_TRUE(object.CloseArchive());
  Write(dir_ + "\\notes.txt", "edited again");
  {
    std::unique_ptr<File> f = p().files.Open(dir_ + "\\notes.txt", kAccessRead | kAccessWrite,
                                             kShareRead, Disposition::kOpenExisting);
    ASSERT_TRUE(f && f->SetLastWriteTime(later + 10LL * 24 * 3600 * 10000000LL));
  }
  EXPECT_TRUE(object.ExtractArchive(archive));
  EXPECT_EQ(Read(dir_ + "\\notes.txt"), "edited again");
}

TEST_F(AutomationTest, ReleasingWithAnArchiveOpenAbandonsItAndKeepsTheOldOne) {
  const std::string archive = dir_ + "\\kept.exe";
  {
    builder::AutomationObject object(p());
    ASSERT_TRUE(object.CreateArchive(archive));
    ASSERT_TRUE(object.AddFile(dir_ + "\\notes.txt"));
    ASSERT_TRUE(object.CloseArchive());
  }
  const std::string before = Read(archive);
  {
    builder::AutomationObject object(p());
    ASSERT_TRUE(object.CreateArchive(archive));
    ASSERT_TRUE(object.AddDirectory(dir_ + "\\product"));
    EXPECT_FALSE(Temporaries().empty()) << "the archive is written under another name";
  }  // the client let go without CloseArchive
  EXPECT_EQ(Read(archive), before);
  EXPECT_TRUE(Temporaries().empty());
  EXPECT_NE(ErrorLog().find("was abandoned"), std::string::npos);

  // A new name: nothing at all is left.
  builder::AutomationObject object(p());
  ASSERT_TRUE(object.CreateArchive(dir_ + "\\fresh.exe"));
  ASSERT_TRUE(object.AddFile(dir_ + "\\notes.txt"));
  EXPECT_TRUE(object.Release());
  EXPECT_FALSE(object.has_engine());
  EXPECT_FALSE(Exists(dir_ + "\\fresh.exe"));
  EXPECT_TRUE(Temporaries().empty());
}

TEST_F(AutomationTest, ScriptsRunOnTheObjectsArchiveAndQuestionsAreNotAsked) {
  Write(dir_ + "\\more.txt", "# added by a script\nproduct\\readme.txt\n");
  builder::AutomationObject object(p());
  ASSERT_TRUE(object.CreateArchive(dir_ + "\\scripted.exe"));
  EXPECT_TRUE(object.ProcessScript(dir_ + "\\more.txt"));
  EXPECT_TRUE(object.CloseArchive());
  EXPECT_TRUE(Contains(Members(dir_ + "\\scripted.exe"), "readme.txt"));

  // A setup archive needs texts nobody can type here: the creation fails
  // at once instead of waiting for a dialog.
  object.SetOptions("+S");
  EXPECT_FALSE(object.CreateArchive(dir_ + "\\setup.exe"));
  EXPECT_TRUE(object.AbortArchive());
  EXPECT_FALSE(Exists(dir_ + "\\setup.exe"));
  EXPECT_NE(ErrorLog().find("setup information"), std::string::npos);
}

TEST(AutomationSwitches, OnlyALineOfSwitchesStartsAServer) {
  using builder::AutomationStart;
  EXPECT_EQ(builder::AutomationStartFromCommandLine("--automation"),
            AutomationStart::kLineProtocol);
  EXPECT_EQ(builder::AutomationStartFromCommandLine("-Embedding"), AutomationStart::kComServer);
  EXPECT_EQ(builder::AutomationStartFromCommandLine("/AUTOMATION"), AutomationStart::kComServer);
  EXPECT_EQ(builder::AutomationStartFromCommandLine("/Automation -Embedding"),
            AutomationStart::kComServer);
  EXPECT_EQ(builder::AutomationStartFromCommandLine(""), AutomationStart::kNone);
  EXPECT_EQ(builder::AutomationStartFromCommandLine("C:\\scripts\\-embedding build.txt"),
            AutomationStart::kNone);
  EXPECT_EQ(builder::AutomationStartFromCommandLine("build.txt -Embedding"),
            AutomationStart::kNone);
}

// A registry in which HKEY_CLASSES_ROOT may not be written (a user without
// administrator rights).
class NoClassesRoot : public Registry {
 public:
  explicit NoClassesRoot(Registry& real) : real_(real) {}
  long OpenKey(RegKey p, const std::string& s, RegAccess a, RegKey* k) override {
    return real_.OpenKey(p, s, a, k);
  }
  long CreateKey(RegKey p, const std::string& s, RegAccess a, RegKey* k, bool* c) override {
    if (p == kHKeyClassesRoot) return kErrorAccessDenied;
    return real_.CreateKey(p, s, a, k, c);
  }
  long CloseKey(RegKey k) override { return real_.CloseKey(k); }
  long DeleteKey(RegKey p, const std::string& s) override { return real_.DeleteKey(p, s); }
  long DeleteValue(RegKey k, const std::string& n) override { return real_.DeleteValue(k, n); }
  long QueryValue(RegKey k, const std::string& n, uint32_t* t, std::string* d) override {
    return real_.QueryValue(k, n, t, d);
  }
  long SetValue(RegKey k, const std::string& n, uint32_t t, const void* d, size_t z) override {
    return real_.SetValue(k, n, t, d, z);
  }
  long EnumKey(RegKey k, uint32_t i, std::string* n) override { return real_.EnumKey(k, i, n); }
  long EnumValue(RegKey k, uint32_t i, std::string* n, uint32_t* t, std::string* d) override {
    return real_.EnumValue(k, i, n, t, d);
  }

 private:
  Registry& real_;
};

TEST_F(AutomationTest, RegistrationNamesTheClassItsServerAndItsInterface) {
  // Without the rights to HKEY_CLASSES_ROOT the class is registered for
  // this user.
  NoClassesRoot limited(p().registry);
  ASSERT_TRUE(builder::RegisterAutomationClass(limited, "C:\\Cratex.exe"));
  {
    ScopedRegKey key(p().registry);
    std::string text;
    ASSERT_EQ(p().registry.OpenKey(kHKeyCurrentUser,
                                   "Software\\Classes\\CLSID\\{CE70C7A4-57AE-11D3-B44F-"
                                   "A6653C609E27}\\LocalServer32",
                                   RegAccess::kRead, key.Out()),
              kErrorSuccess);
    EXPECT_EQ(p().registry.GetString(key.Get(), "", &text), kErrorSuccess);
    EXPECT_EQ(text, "\"C:\\Cratex.exe\"");
  }

  ASSERT_TRUE(builder::RegisterAutomationClass(p().registry, "C:\\Program Files\\Cratex.exe"));
  auto value = [&](const std::string& path) {
    ScopedRegKey key(p().registry);
    std::string text = "(missing)";
    if (p().registry.OpenKey(kHKeyClassesRoot, path, RegAccess::kRead, key.Out()) ==
        kErrorSuccess) {
      p().registry.GetString(key.Get(), "", &text);
    }
    return text;
  };
  const std::string clsid = "CLSID\\{CE70C7A4-57AE-11D3-B44F-A6653C609E27}";
  EXPECT_EQ(value("Cratex.Archive"), "Cratex Archive");
  EXPECT_EQ(value("Cratex.Archive\\CLSID"), "{CE70C7A4-57AE-11D3-B44F-A6653C609E27}");
  EXPECT_EQ(value(clsid + "\\LocalServer32"), "\"C:\\Program Files\\Cratex.exe\"");
  EXPECT_EQ(value(clsid + "\\ProgID"), "Cratex.Archive");
  EXPECT_EQ(value("Interface\\{CE70C7A6-57AE-11D3-B44F-A6653C609E27}\\ProxyStubClsid32"),
            "{00020420-0000-0000-C000-000000000046}");
}

// ---- the line protocol ----------------------------------------------------

TEST_F(AutomationTest, LineProtocolAnswersEachMethodAsTheObjectDoes) {
  builder::AutomationObject object(p());
  bool respond = false;
  auto call = [&](const std::string& line) {
    std::string r = builder::HandleRpcLine(object, line, &respond);
    EXPECT_TRUE(respond) << line;
    return r;
  };
  const std::string archive = builder::JsonString(dir_ + "\\rpc.exe");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":1,"method":"AddFile","params":["C:\\x.txt"]})"),
            R"({"jsonrpc":"2.0","id":1,"result":false})");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":"s","method":"SetPassword","params":["pw"]})"),
            R"({"jsonrpc":"2.0","id":"s","result":true})");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":2,"method":"SetOptions","params":["+E"]})"),
            R"({"jsonrpc":"2.0","id":2,"result":null})");
  EXPECT_EQ(call(R"({"id":3,"jsonrpc":"2.0","method":"CreateArchive","params":[)" + archive +
                 "]}"),
            R"({"jsonrpc":"2.0","id":3,"result":true})");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":4,"method":"CreateArchive","params":[)" + archive +
                 "]}"),
            R"({"jsonrpc":"2.0","id":4,"result":false})");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":5,"method":"AddFile","params":[)" +
                 builder::JsonString(dir_ + "\\notes.txt") + "]}"),
            R"({"jsonrpc":"2.0","id":5,"result":true})");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":6,"method":"SetExtractionOverwriteMode","params":[4]})"),
            R"({"jsonrpc":"2.0","id":6,"result":false})");
  // A notification runs and is not answered.
  EXPECT_EQ(builder::HandleRpcLine(
                object, R"({"jsonrpc":"2.0","method":"SetIgnorableFileExtensions","params":["obj"]})",
                &respond),
            "");
  EXPECT_FALSE(respond);
  EXPECT_EQ(object.pending_ignore_list(), "obj");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":7,"method":"CloseArchive"})"),
            R"({"jsonrpc":"2.0","id":7,"result":true})");
  EXPECT_EQ(call(R"({"jsonrpc":"2.0","id":8,"method":"CloseArchive","params":[]})"),
            R"({"jsonrpc":"2.0","id":8,"result":false})");
  TypeRecord type;
  EXPECT_TRUE(Contains(Members(dir_ + "\\rpc.exe", &type), "notes.txt"));
  EXPECT_TRUE(type.IsEncrypted());
}

TEST_F(AutomationTest, MalformedRequestsGetErrorObjectsAndTouchNothing) {
  builder::AutomationObject object(p());
  struct Case {
    std::string line;
    int code;
  };
  const std::vector<Case> cases = {
      {"not json", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CloseArchive\"", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CloseArchive\",}", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":01,\"method\":\"CloseArchive\"}", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"Add\tFile\"}", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"AddFile\",\"params\":[\"\\ud800\"]}", -32700},
      {"{\"jsonrpc\":\"2.0\",\"id\":1} trailing", -32700},
      {std::string(40, '[') + std::string(40, ']'), -32700},
      {"[]", -32600},
      {"[{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CloseArchive\"}]", -32600},
      {"42", -32600},
      {"{\"id\":1,\"method\":\"CloseArchive\"}", -32600},
      {"{\"jsonrpc\":\"1.0\",\"id\":1,\"method\":\"CloseArchive\"}", -32600},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":7}", -32600},
      {"{\"jsonrpc\":\"2.0\",\"id\":[1],\"method\":\"CloseArchive\"}", -32600},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"id\":2,\"method\":\"CloseArchive\"}", -32600},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CloseArchive\",\"params\":\"x\"}", -32600},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"closearchive\"}", -32601},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"DeleteEverything\",\"params\":[]}", -32601},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CreateArchive\"}", -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CreateArchive\",\"params\":[1]}", -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CreateArchive\",\"params\":[\"a\",\"b\"]}",
       -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CreateArchive\",\"params\":{\"p\":\"a\"}}",
       -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CreateArchive\",\"params\":[\"a\\u0000b\"]}",
       -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"CloseArchive\",\"params\":[true]}", -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"SetExtractionOverwriteMode\",\"params\":[1.5]}",
       -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"SetExtractionOverwriteMode\",\"params\":"
       "[4294967297]}",
       -32602},
      {"{\"jsonrpc\":\"2.0\",\"id\":1,\"method\":\"SetExtractionOverwriteMode\",\"params\":[\"1\"]}",
       -32602},
  };
  for (const Case& c : cases) {
    bool respond = false;
    const std::string r = builder::HandleRpcLine(object, c.line, &respond);
    EXPECT_TRUE(respond) << c.line;
    builder::RpcValue v;
    std::string why;
    ASSERT_TRUE(builder::ParseJson(r, &v, &why)) << r;
    EXPECT_NE(r.find(Format("\"code\":%d", c.code)), std::string::npos) << c.line << " -> " << r;
  }
  EXPECT_FALSE(object.has_engine());
  EXPECT_EQ(object.pending_options(), "");

  // The id comes back as it was sent, also for parameter errors.
  bool respond = false;
  EXPECT_EQ(builder::HandleRpcLine(
                object, R"({"jsonrpc":"2.0","id":"a\"b","method":"AddFile","params":[]})",
                &respond)
                .rfind(R"({"jsonrpc":"2.0","id":"a\"b","error":{"code":-32602,)", 0),
            0u);
  EXPECT_EQ(builder::HandleRpcLine(object, "   ", &respond), "");
  EXPECT_FALSE(respond);
}

TEST(AutomationRpc, StringsRoundTripAndMangledRequestsNeverCrash) {
  builder::RpcValue v;
  std::string why;
  ASSERT_TRUE(builder::ParseJson(R"(["C:\\a\\b \"q\" \u00e9\ud83d\ude00\n\/"])", &v, &why)) << why;
  ASSERT_EQ(v.items.size(), 1u);
  EXPECT_EQ(v.items[0].text, "C:\\a\\b \"q\" \xc3\xa9\xf0\x9f\x98\x80\n/");
  const std::string bytes = std::string("x\x01y\"\\\t\x7f\xe9", 8);
  ASSERT_TRUE(builder::ParseJson(builder::JsonString(bytes), &v, &why)) << why;
  EXPECT_EQ(v.text, bytes);

  // Every mutation of a good request gets exactly one well-formed answer
  // (or none, for a notification that still parses).
  test::TestPlatform machine;
  ASSERT_TRUE(machine.ok()) << machine.Error();
  builder::AutomationObject object(machine.Get());
  const std::string good =
      R"({"jsonrpc":"2.0","id":12,"method":"SetExtractionOverwriteMode","params":[3]})";
  std::mt19937 random(15);
  const char alphabet[] = "{}[]\",:\\u0123456789eE.-+ tfnrl\x01\xff";
  for (int round = 0; round < 20000; ++round) {
    std::string line = good;
    const int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      const size_t at = random() % (line.size() + 1);
      const char c = alphabet[random() % (sizeof alphabet - 1)];
      switch (random() % 3) {
        case 0: line.insert(line.begin() + static_cast<long>(at), c); break;
        case 1: if (at < line.size()) line.erase(at, 1); break;
        default: if (at < line.size()) line[at] = c; break;
      }
    }
    bool respond = false;
    const std::string r = builder::HandleRpcLine(object, line, &respond);
    if (!respond) continue;
    ASSERT_TRUE(builder::ParseJson(r, &v, &why)) << line << " -> " << r;
    ASSERT_EQ(r.find('\n'), std::string::npos);
  }
}

#endif  // _WIN32

}  // namespace
}  // namespace crx
