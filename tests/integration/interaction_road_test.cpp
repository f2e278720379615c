// An interactive installation answered from a file, end to end with the
// real interpreter on emulated machines: text, a choice, a folder that has
// to be created, the file groups, a licence and a question, each a dialog
// answered by one line. The variables the answers gave and the files they
// chose land where the script puts them; a run recorded with CRX_RECORD,
// played back as the answers file on a fresh machine, ends the same way.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "platform/posix/host_paths.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

constexpr const char kProductKey[] = "SOFTWARE\\Velmora\\Road Demo";
// Nothing of it exists on a fresh machine: every level is created.
constexpr const char kTop[] = "C:\\Apps";
constexpr const char kHome[] = "C:\\Apps\\Velmora\\Road Demo";

constexpr const char kScript[] =
    "set APP \"Road Demo\"\n"
    "set NO_UNINSTALL TRUE\n"
    "title \"Road Demo\"\n"
    "filegroup -m G0 \"Program files\"\n"
    "filegroup G1 \"Sample documents\"\n"
    "input USER \"Road Demo\" \"Who is installing?\" Nobody\n"
    "select KIND \"Road Demo\" \"Choose the kind of installation\" 0 Typical,Compact,Custom\n"
    "choosedir HOME \"Road Demo\" \"C:\\Program Files\\Road Demo\"\n"
    "choosefiles\n"
    "display -l licence.txt \"Licence Agreement\"\n"
    "query -y ICONS \"Do you want the icons?\"\n"
    "copy program.exe \"$HOME\\program.exe\" G0\n"
    "copy readme.txt \"$HOME\\Docs\\readme.txt\" G0\n"
    "copy sample1.dat \"$HOME\\Samples\\sample1.dat\" G1\n"
    "copy sample2.dat \"$HOME\\sample2.dat\" G1\n"
    "setreg -lm \"SOFTWARE\\Velmora\\Road Demo\" User $USER\n"
    "setreg -lm \"SOFTWARE\\Velmora\\Road Demo\" Kind $KIND\n"
    "setreg -lm \"SOFTWARE\\Velmora\\Road Demo\" Home $HOME\n"
    "setreg -lm \"SOFTWARE\\Velmora\\Road Demo\" Icons $ICONS\n"
    "fwrite -t \"$HOME\\choices.txt\" \"$USER|$KIND|$ICONS\"\n";

// One line per dialog, in the order they come up; the last answers the
// report at the end of the run. The mandatory group's box is read-only and
// stays ticked; the optional one is cleared.
constexpr const char kAnswers[] =
    "# the road demo, answered in advance\r\n"
    "Input OK \"Text=  Jo Smith  \"\r\n"
    "Select OK Choice=compact\r\n"
    "ChooseDirectory OK \"Folder=C:\\Apps\\Velmora\\Road Demo\"\r\n"
    "MessageBox Yes\r\n"
    "ChooseFiles OK G1=0\r\n"
    "DisplayFile OK Read=1\r\n"
    "MessageBox Yes\r\n"
    "MessageBox OK\r\n";

// What a run left on its machine.
struct Outcome {
  int exit_code = -1;
  // Registry values, then every folder and file under kTop with its
  // content, one per line.
  std::string state;
  std::string log;
  std::string record;
};

class InteractionRoadTest : public ::testing::Test {
 protected:
  // Runs the script on a fresh machine, answered from answers; with record
  // set, CRX_RECORD names a file whose content the outcome keeps.
  Outcome RunOnFreshMachine(const std::string& answers, bool record);
};

void ListTree(Platform& p, const std::string& folder, std::string* out) {
  std::vector<FolderEntry> entries;
  if (!p.files.ListFolder(folder + "\\*.*", &entries)) return;
  // In byte order of the names, whatever order the folder gives.
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry& a, const FolderEntry& b) { return a.name < b.name; });
  for (const FolderEntry& e : entries) {
    if (e.name == "." || e.name == "..") continue;
    const std::string path = folder + "\\" + e.name;
    if (e.attributes & kAttrDirectory) {
      *out += "folder " + path + "\n";
      ListTree(p, path, out);
    } else {
      *out += "file " + path + " = " + test::ReadWholeFile(p.files, path) + "\n";
    }
  }
}

Outcome InteractionRoadTest::RunOnFreshMachine(const std::string& answers, bool record) {
  Outcome outcome;
  test::TestPlatform tp;
  EXPECT_TRUE(tp.ok()) << tp.Error();
  if (!tp.ok()) return outcome;
  Platform& p = tp.Get();
  const std::string scratch = tp.Scratch();
  const std::string product = scratch + "\\product";
  // TEMP (where the log goes) in the machine's own scratch folder; the
  // environment is the test process's own, so it is put back afterwards.
  std::string saved_temp, saved_tmp;
  const bool had_temp = p.environment.Get("TEMP", &saved_temp);
  const bool had_tmp = p.environment.Get("TMP", &saved_tmp);
  EXPECT_TRUE(p.files.CreateFolder(scratch + "\\temp"));
  EXPECT_TRUE(p.environment.Set("TEMP", scratch + "\\temp"));
  EXPECT_TRUE(p.environment.Set("TMP", scratch + "\\temp"));

  EXPECT_TRUE(p.files.CreateFolder(product));
  EXPECT_TRUE(p.files.CopyFile(HostToWindowsPath(CRX_KESTROVA_PROGRAM), product + "\\Kestrova.exe",
                               false));
  struct Source {
    const char* name;
    const char* data;
  };
  for (const Source& s : {Source{"install.txt", kScript}, Source{"program.exe", "the program"},
                          Source{"readme.txt", "read me first"},
                          Source{"sample1.dat", "first sample"},
                          Source{"sample2.dat", "second sample"},
                          Source{"licence.txt", "You may use this program.\r\n"}}) {
    EXPECT_TRUE(test::WriteWholeFile(p.files, product + "\\" + s.name, s.data)) << s.name;
  }
  EXPECT_TRUE(test::WriteWholeFile(p.files, scratch + "\\answers.txt", answers));
  EXPECT_TRUE(p.environment.Set("CRX_ANSWERS", scratch + "\\answers.txt"));
  if (record) {
    EXPECT_TRUE(p.environment.Set("CRX_RECORD", scratch + "\\record.txt"));
  } else {
    p.environment.Unset("CRX_RECORD");
  }

  StartOptions options;
  options.folder = product;
  outcome.exit_code =
      test::RunAndWait(p.processes, "\"" + product + "\\Kestrova.exe\"", options, 120000);

  for (const char* name : {"User", "Kind", "Home", "Icons"}) {
    std::string value = "<missing>";
    ScopedRegKey key(p.registry);
    if (p.registry.OpenKey(kHKeyLocalMachine, kProductKey, RegAccess::kRead, key.Out()) ==
        kErrorSuccess) {
      p.registry.GetString(key.Get(), name, &value);
    }
    outcome.state += std::string("value ") + name + " = " + value + "\n";
  }
  if (p.files.IsFolder(kTop)) outcome.state += std::string("folder ") + kTop + "\n";
  ListTree(p, kTop, &outcome.state);
  outcome.log = test::ReadWholeFile(p.files, scratch + "\\temp\\Kestrova.log");
  if (record) outcome.record = test::ReadWholeFile(p.files, scratch + "\\record.txt");

  p.environment.Unset("CRX_ANSWERS");
  p.environment.Unset("CRX_RECORD");
  if (had_temp) {
    p.environment.Set("TEMP", saved_temp);
  } else {
    p.environment.Unset("TEMP");
  }
  if (had_tmp) {
    p.environment.Set("TMP", saved_tmp);
  } else {
    p.environment.Unset("TMP");
  }
  return outcome;
}

// The answer lines of a record file (comments and blank lines left out).
std::vector<std::string> AnswerLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] != '#') lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

TEST_F(InteractionRoadTest, AnsweredRunRecordedRunAndPlaybackEndTheSame) {
  const Outcome answered = RunOnFreshMachine(kAnswers, false);
  ASSERT_EQ(0, answered.exit_code) << answered.log;
  // The text without the blanks at its ends, the choice as listed, the
  // folder as typed, Yes to the question; the whole chain of folders made;
  // the mandatory group's files copied, the cleared group's not.
  const std::string home = kHome;
  EXPECT_EQ(std::string("value User = Jo Smith\n"
                        "value Kind = Compact\n"
                        "value Home = ") + home + "\n"
                "value Icons = YES\n"
                "folder C:\\Apps\n"
                "folder C:\\Apps\\Velmora\n"
                "folder " + home + "\n"
                "folder " + home + "\\Docs\n"
                "file " + home + "\\Docs\\readme.txt = read me first\n"
                "file " + home + "\\choices.txt = Jo Smith|Compact|YES\r\n\n"
                "file " + home + "\\program.exe = the program\n",
            answered.state)
      << answered.log;

  const Outcome recorded = RunOnFreshMachine(kAnswers, true);
  ASSERT_EQ(0, recorded.exit_code) << recorded.log;
  EXPECT_EQ(answered.state, recorded.state) << recorded.log;
  // One line for every dialog, each with the values its fields had when
  // it closed; the mandatory group's read-only box is left out.
  const std::vector<std::string> lines = AnswerLines(recorded.record);
  ASSERT_EQ(AnswerLines(kAnswers).size(), lines.size()) << recorded.record;
  EXPECT_EQ("Input OK Text=\"  Jo Smith  \"", lines[0]) << recorded.record;
  // The choice as the list spells it, not as the answer typed it.
  EXPECT_EQ("Select OK Choice=Compact", lines[1]) << recorded.record;
  EXPECT_EQ("ChooseDirectory OK Folder=\"C:\\Apps\\Velmora\\Road Demo\"", lines[2])
      << recorded.record;
  EXPECT_EQ("MessageBox Yes", lines[3]) << recorded.record;
  EXPECT_EQ(0u, lines[4].find("ChooseFiles OK")) << recorded.record;
  EXPECT_NE(std::string::npos, lines[4].find("G1=0")) << recorded.record;
  EXPECT_EQ(std::string::npos, lines[4].find("G0")) << recorded.record;
  EXPECT_NE(std::string::npos, lines[5].find("Read=1")) << recorded.record;

  const Outcome replayed = RunOnFreshMachine(recorded.record, false);
  ASSERT_EQ(0, replayed.exit_code) << replayed.log << recorded.record;
  EXPECT_EQ(answered.state, replayed.state) << replayed.log << recorded.record;
}

}  // namespace
}  // namespace crx
