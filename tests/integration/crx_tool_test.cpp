// The crx tool run as a real program on archives the engine writes: every
// member comes back with identical bytes and times, protected archives need
// their password, and damage is refused with a failing exit status. Runs
// on the emulated machine and, in the win64 build, under wine64.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "common/format.h"
#include "common/winpath.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "support/crx_tool_fixture.h"
#include "support/recording_ui.h"

#ifndef _WIN32
#include "platform/posix/host_paths.h"
#endif

namespace crx {
namespace {

using test::RecordingUi;
using test::SourceFile;

class CrxToolTest : public test::CrxToolFixture {
 protected:
  void SetUp() override {
    // A stub of exactly the full stub's size, named by the registry as the
    // builder's settings would.
    std::string stub(static_cast<size_t>(FULL_STUB_SIZE), '\0');
    for (size_t i = 0; i < stub.size(); i += 97) stub[i] = static_cast<char>(i);
    SetUpTool(CRX_TOOL, stub);
    if (HasFatalFailure()) return;

    std::string big;
    for (int i = 0; i < 150000; ++i) big += static_cast<char>((i * 7919) >> 3);
    files_ = {
        {"readme.txt", "Read me first.\r\nThen read me again.\r\n", 132000000001234567ULL},
        {"empty.txt", "", 131000000000000001ULL},
        {"bin\\data.bin", big, 130000000000000009ULL},
        {"bin\\deep\\notes.txt", std::string(5000, 'n') + "end", 133000000000000003ULL},
    };
    WriteProduct({"bin", "bin\\deep"});
  }

  // Writes an archive of the product's files with the engine.
  void Build(const std::string& archive, const std::string& options,
             const std::string& password) {
    RecordingUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions(options);
    if (!password.empty()) engine.set_password_digest(DigestFromPaddedPassword(password));
    ASSERT_TRUE(engine.CreateArchive(archive));
    for (const SourceFile& f : files_) ASSERT_TRUE(engine.AddFile(Product(f.relative)));
    ASSERT_TRUE(engine.CloseArchive());
    EXPECT_TRUE(ui.texts.empty()) << ui.texts[0];
  }

  // Writes an archive whose members have the given stored names.
  void BuildNamed(const std::string& archive,
                  const std::vector<std::pair<std::string, std::string>>& members) {
    RecordingUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions("-Z");
    ASSERT_TRUE(engine.CreateArchive(archive));
    int n = 0;
    for (const auto& [name, data] : members) {
      std::string source = At("named_source_" + std::to_string(n++));
      WriteFile(source, data);
      ASSERT_TRUE(engine.AddFile(source, name)) << name;
    }
    ASSERT_TRUE(engine.CloseArchive());
    EXPECT_TRUE(ui.texts.empty()) << ui.texts[0];
  }

#ifndef _WIN32
  // Runs crx through the host shell in folder and returns what it wrote
  // to standard output (*out) and standard error (*err); its exit code.
  int CrxCapture(const std::string& arguments, const std::string& folder, std::string* out,
                 std::string* err) {
    auto quote = [](const std::string& text) {
      std::string q = "'";
      for (char c : text) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
      return q + "'";
    };
    uint32_t code = 0;
    const std::string command = quote(CRX_TOOL) + " " + arguments + " >" +
                                quote(WindowsToHostPath(At("stdout.txt"))) + " 2>" +
                                quote(WindowsToHostPath(At("stderr.txt")));
    if (!p().processes.RunShellCommand(command, folder, &code)) return -1;
    *out = ReadFile(At("stdout.txt"));
    *err = ReadFile(At("stderr.txt"));
    return static_cast<int>(code);
  }
#endif
};

TEST_F(CrxToolTest, ExtractsIdenticalBytesAndTimes) {
  const std::string archive = At("plain.exe");
  Build(archive, "+Z", "");
  EXPECT_EQ(0, Crx("info \"" + archive + "\""));
  EXPECT_EQ(0, Crx("list \"" + archive + "\""));
  EXPECT_EQ(0, Crx("verify \"" + archive + "\""));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\""));
  ExpectExtracted(At("out"));

  // Stored members, flattened into one folder.
  const std::string stored = At("stored.exe");
  Build(stored, "-Z", "");
  EXPECT_EQ(0, Crx("extract \"" + stored + "\" -o \"" + At("flat") + "\" --flatten"));
  for (const SourceFile& f : files_) {
    EXPECT_EQ(f.data, ReadFile(At("flat\\" + winpath::LastElement(f.relative)))) << f.relative;
  }
}

TEST_F(CrxToolTest, BrowseExtractsWhatTheAnswersChoose) {
  const std::string archive = At("plain.exe");
  Build(archive, "+Z", "");
  // Rows are listed in archive order: 3 is bin\data.bin.
  WriteFile(At("answers.txt"), "Browse GetSelected Selection=3 ToLocations=0 OutputFolder=" +
                                   At("picked") + "\nBrowse Close\n");
  EXPECT_EQ(0, Crx("browse \"" + archive + "\""));
  const std::string data = At("picked\\" + winpath::WithoutRoot(Product("bin\\data.bin")));
  EXPECT_EQ(files_[2].data, ReadFile(data));
  EXPECT_EQ("<missing>",
            ReadFile(At("picked\\" + winpath::WithoutRoot(Product("readme.txt")))));
  // The answers run out before the browser is closed: the run fails.
  WriteFile(At("answers.txt"), "Browse GetAll ToLocations=0 OutputFolder=" + At("all") + "\n");
  EXPECT_NE(0, Crx("browse \"" + archive + "\""));
  ExpectExtracted(At("all"));
}

TEST_F(CrxToolTest, ExistingFilesFollowTheReplaceMode) {
  const std::string archive = At("plain.exe");
  Build(archive, "+Z", "");
  ASSERT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\""));
  const std::string readme = At("out\\" + winpath::WithoutRoot(Product("readme.txt")));
  WriteFile(readme, "changed");
  ASSERT_TRUE(p().files.SetLastWriteTime(readme, 140000000000000000ULL));  // newer

  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --replace never"));
  EXPECT_EQ("changed", ReadFile(readme));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --replace newer"));
  EXPECT_EQ("changed", ReadFile(readme));
  // Prompting with nobody to answer (an empty answers file) ends with an
  // error and keeps the file.
  EXPECT_NE(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\""));
  EXPECT_EQ("changed", ReadFile(readme));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --replace always"));
  ExpectExtracted(At("out"));
}

TEST_F(CrxToolTest, ProtectedArchivesNeedTheirPassword) {
  const std::string archive = At("locked.exe");
  Build(archive, "+ZE", "secret");
  // Verification needs no password; listing and extraction do.
  EXPECT_EQ(0, Crx("verify \"" + archive + "\""));
  EXPECT_NE(0, Crx("list \"" + archive + "\""));
  EXPECT_NE(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --password wrong"));
  EXPECT_FALSE(p().files.Exists(At("out")));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\" -o \"" + At("out") + "\" --password secret"));
  ExpectExtracted(At("out"));
}

TEST_F(CrxToolTest, DamageAndMisuseFail) {
  const std::string archive = At("stored.exe");
  Build(archive, "-Z", "");
  // Change one byte of the last member's data (just before the end marker).
  std::string bytes = ReadFile(archive);
  ASSERT_GT(bytes.size(), 10u);
  bytes[bytes.size() - 5] ^= 0x55;
  WriteFile(At("damaged.exe"), bytes);
  EXPECT_EQ(1, Crx("verify \"" + At("damaged.exe") + "\""));
  EXPECT_EQ(1, Crx("extract \"" + At("damaged.exe") + "\" -o \"" + At("out") + "\""));

  WriteFile(At("not_an_archive.exe"), std::string(1000, 'x'));
  EXPECT_EQ(1, Crx("info \"" + At("not_an_archive.exe") + "\""));
  EXPECT_EQ(1, Crx("list \"" + At("missing.exe") + "\""));
  EXPECT_EQ(2, Crx("unpack \"" + archive + "\""));
  EXPECT_EQ(2, Crx("list"));
  EXPECT_EQ(2, Crx("list \"" + archive + "\" --flatten"));
}

// Without -o, crx extracts below the current folder: drive letters, roots
// and ".." are taken off the member names, so a hostile archive cannot
// reach a file elsewhere. The stored paths are used only when asked for.
TEST_F(CrxToolTest, ExtractWithoutOutputFolderStaysBelowTheCurrentFolder) {
  const std::string archive = At("hostile.exe");
  const std::string absolute = At("victim\\abs.txt");
  BuildNamed(archive, {{absolute, "absolute"},
                       {"..\\..\\up.txt", "climbs"},
                       {"a\\..\\..\\..\\deep.txt", "climbs inside"},
                       {"\\rooted_crx_tool_test.txt", "rooted"},
                       {"\\\\server\\share\\unc.txt", "unc"},
                       {"plain\\ok.txt", "plain"}});
  const std::string cwd = At("work\\cwd");
  ASSERT_TRUE(p().files.CreateFolder(At("work")));
  ASSERT_TRUE(p().files.CreateFolder(cwd));
  EXPECT_EQ(0, Crx("extract \"" + archive + "\"", cwd));

  EXPECT_EQ("absolute", ReadFile(cwd + "\\" + winpath::WithoutRoot(absolute)));
  EXPECT_EQ("climbs", ReadFile(cwd + "\\up.txt"));
  EXPECT_EQ("climbs inside", ReadFile(cwd + "\\a\\deep.txt"));
  // A network name loses its root; whether the server and share stay as
  // folders is the extraction's choice, as long as the file stays inside.
  EXPECT_TRUE(ReadFile(cwd + "\\unc.txt") == "unc" ||
              ReadFile(cwd + "\\server\\share\\unc.txt") == "unc");
  EXPECT_EQ("rooted", ReadFile(cwd + "\\rooted_crx_tool_test.txt"));
  EXPECT_EQ("plain", ReadFile(cwd + "\\plain\\ok.txt"));
  // Nothing outside the current folder.
  EXPECT_FALSE(p().files.Exists(At("victim")));
  EXPECT_FALSE(p().files.Exists(At("up.txt")));
  EXPECT_FALSE(p().files.Exists(At("work\\up.txt")));
  EXPECT_FALSE(p().files.Exists(At("deep.txt")));
  EXPECT_FALSE(p().files.Exists(At("work\\deep.txt")));
  const std::string root = winpath::Root(cwd);
  EXPECT_FALSE(p().files.Exists(root + "rooted_crx_tool_test.txt"));

  // --stored-locations writes to the stored paths, and excludes -o.
  const std::string stored = At("stored_paths.exe");
  BuildNamed(stored, {{absolute, "back home"}});
  EXPECT_EQ(0, Crx("extract \"" + stored + "\" --stored-locations", cwd));
  EXPECT_EQ("back home", ReadFile(absolute));
  EXPECT_EQ(2, Crx("extract \"" + stored + "\" --stored-locations -o \"" + At("o") + "\""));
  EXPECT_EQ(2, Crx("extract \"" + stored + "\" --stored-locations --flatten"));
  EXPECT_EQ(2, Crx("list \"" + stored + "\" --stored-locations"));

#ifndef _WIN32
  // The changed names are announced once, on the error stream; an archive
  // whose names need no change extracts without the notice.
  std::string out, err;
  ASSERT_TRUE(p().files.CreateFolder(At("again")));
  EXPECT_EQ(0, CrxCapture("extract '" + archive + "'", At("again"), &out, &err));
  EXPECT_EQ(err,
            "crx: removing drive letters, roots and \"..\" from member names "
            "(--stored-locations extracts to the stored paths)\n");
  EXPECT_EQ(out, "6 extracted\n");
  const std::string tame = At("tame.exe");
  BuildNamed(tame, {{"dir\\one.txt", "1"}, {"two.txt", "2"}});
  EXPECT_EQ(0, CrxCapture("extract '" + tame + "'", At("again"), &out, &err));
  EXPECT_EQ(err, "");
  EXPECT_EQ("1", ReadFile(At("again\\dir\\one.txt")));
#endif
}

#ifndef _WIN32
// Names and setup texts come from whoever wrote the archive: crx prints
// their control characters escaped.
TEST_F(CrxToolTest, ArchiveTextsReachTheTerminalWithoutControlCharacters) {
  const std::string archive = At("escapes.exe");
  BuildNamed(archive, {{"title\x1b]0;owned\x07.txt", "t"},
                       {"clear\x1b[2J\r\x7f.txt", "c"},
                       {"caf\xe9 \xc2\x9b.txt", "k"}});
  auto expect_no_raw_controls = [](const std::string& text) {
    for (char c : text) {
      const unsigned char u = static_cast<unsigned char>(c);
      EXPECT_TRUE((u >= 0x20 && u != 0x7f) || u == '\n') << "raw byte " << int(u) << ": " << text;
    }
  };
  std::string out, err;
  EXPECT_EQ(0, CrxCapture("list '" + archive + "'", tp_.Scratch(), &out, &err));
  EXPECT_EQ(err, "");
  expect_no_raw_controls(out);
  EXPECT_NE(out.find("  title\\x1b]0;owned\\a.txt\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  clear\\x1b[2J\\r\\x7f.txt\n"), std::string::npos) << out;
  EXPECT_NE(out.find("  caf\xe9 \\xc2\\x9b.txt\n"), std::string::npos) << out;

  // The machine refuses such names as Windows does; the errors that quote
  // them are escaped.
  EXPECT_EQ(1, CrxCapture("extract '" + archive + "' -o '" + At("out") + "'", tp_.Scratch(),
                          &out, &err));
  EXPECT_NE(err.find("\\title\\x1b]0;owned\\a.txt>"), std::string::npos) << err;
  expect_no_raw_controls(err);

  // A question nobody answers (the answers file is empty) ends the run
  // with a message that quotes the dialog; its controls are masked.
  const std::string c1 = At("c1.exe");
  BuildNamed(c1, {{"csi\xc2\x9b" "2J.txt", "c"}});
  ASSERT_EQ(0, CrxCapture("extract '" + c1 + "' -o '" + At("twice") + "'", tp_.Scratch(), &out,
                          &err))
      << out << err;
  EXPECT_NE(0, CrxCapture("extract '" + c1 + "' -o '" + At("twice") + "'", tp_.Scratch(), &out,
                          &err));
  EXPECT_NE(err.find("no answer left for the dialog"), std::string::npos) << err;
  EXPECT_NE(err.find("csi??2J.txt"), std::string::npos) << err;
  EXPECT_EQ(err.find("\xc2\x9b"), std::string::npos) << err;

  // The setup texts that info prints.
  const std::string setup = At("setup_escapes.exe");
  {
    RecordingUi ui;
    ArchiveEngine engine(p(), ui);
    engine.SetOptions("+S");
    engine.setup_info() =
        SetupInfo{"Co\x1b[8m", "Prod\r", "Desc\x07", "SETUP.EXE\x1b]2;x\x07", "WAIT.EXE"};
    ASSERT_TRUE(engine.CreateArchive(setup));
    ASSERT_TRUE(engine.AddFile(Product("readme.txt")));
    ASSERT_TRUE(engine.CloseArchive());
  }
  EXPECT_EQ(0, CrxCapture("info '" + setup + "'", tp_.Scratch(), &out, &err));
  EXPECT_NE(out.find("company:      Co\\x1b[8m\nproduct:      Prod\\r\n"
                     "description:  Desc\\a\nsetup:        SETUP.EXE\\x1b]2;x\\a\n"),
            std::string::npos)
      << out;
}
#endif

}  // namespace
}  // namespace crx
