// choosefiles, display and browse: the commands called directly with K().cmd
// set as the command table hands them over, and a whole run in which the
// chosen groups decide what is copied.
#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "interpreter/copy_fixture.h"
#include "support/file_helpers.h"
#include "ui/choose_files_dialog.h"
#include "ui/display_dialog.h"

namespace crx::test {
namespace {

class DocumentCommandsTest : public CopyFixture {
 protected:
  void SetUp() override {
    CopyFixture::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(Scratch()));
  }
  void Command(const std::string& keyword, const std::string& option = std::string(),
               const std::string& a1 = std::string(), const std::string& a2 = std::string()) {
    K().cmd.Clear();
    K().cmd.command = keyword;
    K().cmd.option = option;
    K().cmd.args[0] = a1;
    K().cmd.args[1] = a2;
  }
  void Group(int n, const std::string& description, int64_t bytes, bool mandatory = false) {
    K().groups[n].description = description;
    K().groups[n].bytes = bytes;
    K().groups[n].files = 1;
    K().groups[n].mandatory = mandatory;
  }
  void Silent(const std::string& responses) {
    K().silent_mode.set_silent(true);
    if (!responses.empty()) {
      Write(At("resp.ini"), responses);
      K().silent_mode.set_response_file(At("resp.ini"));
    }
  }
};

TEST_F(DocumentCommandsTest, ChoosefilesNeedsHomeAndStoresTheChosenGroups) {
  Command("choosefiles");
  EXPECT_FALSE(K().CmdChoosefiles());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text,
            "Script Convention Error.\nYou have used the 'choosefiles' command before\nsetting "
            "$HOME. Kestrova doesn't know how\nmuch disk space is available on the target "
            "drive.");
  front_end_.shown.clear();

  K().free_space = 10000000;
  Group(0, "Program", 5000, true);
  Group(1, "Help", 0);  // no files: not offered, keeps its selection
  Group(2, "Samples", 2000);
  Group(5, "Extras", 700);
  K().groups[5].deselected = true;
  std::vector<std::string> boxes;
  std::string refusal;
  front_end_.before_answer = [&](ui::Dialog& d) {
    for (const ui::DialogField& f : d.Fields()) {
      if (f.kind == ui::FieldKind::kCheck) boxes.push_back(f.name + "=" + f.value);
    }
    std::string error;
    EXPECT_FALSE(d.SetField("G0", "0", &error));  // mandatory
    EXPECT_TRUE(d.SetField("G2", "0", &error));
    EXPECT_TRUE(d.SetField("G5", "1", &error));
    EXPECT_EQ(d.FindField("Required")->value, "  Disk Space Required:  5,700 bytes");
  };
  front_end_.answers = {kIdOk};
  EXPECT_TRUE(K().CmdChoosefiles());
  EXPECT_EQ(boxes, (std::vector<std::string>{"G0=1", "G2=1", "G5=0"}));
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].name, ui::ChooseFilesDialog::kName);
  EXPECT_EQ(front_end_.shown[0].caption, "Advanced Installation Option");
  EXPECT_FALSE(K().groups[0].deselected);
  EXPECT_FALSE(K().groups[1].deselected);
  EXPECT_TRUE(K().groups[2].deselected);
  EXPECT_FALSE(K().groups[5].deselected);
  EXPECT_EQ(K().needed_total, 5000u + 700u + 1024u);
  EXPECT_FALSE(K().cancelled);
  EXPECT_NE(LogText().find("# choosefiles - diskspace needed now set to:  6724 bytes\n"),
            std::string::npos);

  // Cancel cancels the run and leaves the groups alone.
  front_end_.before_answer = nullptr;
  front_end_.answers = {kIdCancel};
  EXPECT_TRUE(K().CmdChoosefiles());
  EXPECT_TRUE(K().cancelled);
  EXPECT_TRUE(K().groups[2].deselected);
  EXPECT_EQ(K().needed_total, 6724u);
}

TEST_F(DocumentCommandsTest, ChoosefilesRefusesAnEmptyChoiceAndCancelsWhenSpaceIsShort) {
  K().free_space = 3000;
  Group(0, "Program", 1000);
  Group(1, "Samples", 2500);
  // Clearing every box is refused and the dialog stays open; the person
  // then ticks one again.
  front_end_.before_answer = [](ui::Dialog& d) {
    if (d.Name() != ui::ChooseFilesDialog::kName) return;
    std::string error;
    ASSERT_TRUE(d.SetField("G0", "0", &error));
    ASSERT_TRUE(d.SetField("G1", "0", &error));
    EXPECT_FALSE(d.Press(kIdOk, &error));
    EXPECT_EQ(error, ui::ChooseFilesDialog::kNothingChosen);
    EXPECT_FALSE(d.Closed());
    ASSERT_TRUE(d.SetField("G1", "1", &error));
  };
  front_end_.answers = {kIdOk};
  Command("choosefiles");
  // 2500 + 1024 is more than 3000: the run is cancelled.
  EXPECT_FALSE(K().CmdChoosefiles());
  EXPECT_TRUE(K().cancelled);
  ASSERT_EQ(front_end_.shown.size(), 2u);
  EXPECT_EQ(front_end_.shown[1].text,
            "There is not enough free space on the chosen installation drive");
  EXPECT_EQ(front_end_.shown[1].flags, kMbIconHand);
  EXPECT_NE(LogText().find("# choosefiles - diskspace needed now set to:  3524 bytes\n"
                           "There is not enough free space on the chosen installation drive\n"),
            std::string::npos);

  // Equal is enough.
  K().free_space = 1000 + 1024;
  K().cancelled = false;
  front_end_.before_answer = [](ui::Dialog& d) {
    std::string error;
    ASSERT_TRUE(d.SetField("G1", "0", &error));
    ASSERT_TRUE(d.SetField("G0", "1", &error));
  };
  front_end_.answers = {kIdOk};
  EXPECT_TRUE(K().CmdChoosefiles());
  EXPECT_FALSE(K().cancelled);
}

TEST_F(DocumentCommandsTest, SilentChoosefilesTakesTheGroupDigitsOrAll) {
  K().free_space = 1000000;
  Group(0, "Program", 100);
  Group(1, "Help", 200);
  Group(3, "Samples", 400);
  K().groups[3].deselected = true;
  Silent("[Kestrova]\nchoosefiles=G1,G3\n");
  Command("choosefiles");
  EXPECT_TRUE(K().CmdChoosefiles());
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_TRUE(K().groups[0].deselected);
  EXPECT_FALSE(K().groups[1].deselected);
  EXPECT_FALSE(K().groups[3].deselected);
  EXPECT_TRUE(K().groups[7].deselected);
  EXPECT_EQ(K().needed_total, 200u + 400u + 1024u);
  std::string log = LogText();
  EXPECT_NE(log.find("SMSMODE file-group installation list <G1,G3>\n"
                     "# choosefiles - diskspace needed now set to:  1624 bytes\n"),
            std::string::npos)
      << log;

  // Without an entry every group is selected, a deselected one too.
  Write(At("resp.ini"), "[Kestrova]\nselect=1\n");
  EXPECT_TRUE(K().CmdChoosefiles());
  for (const interp::FileGroup& g : K().groups) EXPECT_FALSE(g.deselected);
  EXPECT_EQ(K().needed_total, 100u + 200u + 400u + 1024u);
  EXPECT_NE(LogText().find("SMSMODE file-group installation list: ALL\n"), std::string::npos);

  // Too little space cancels the silent run as well.
  K().free_space = 1000;
  EXPECT_FALSE(K().CmdChoosefiles());
  EXPECT_TRUE(K().cancelled);
}

TEST_F(DocumentCommandsTest, DisplayShowsTheTextAndALicenceNeedsItsTick) {
  Write(At("readme.txt"), "Read me first.\n");
  Write(At("LICENCE.RTF"), "{\\rtf1 Terms\\par}");
  std::vector<std::string> seen;
  front_end_.before_answer = [&](ui::Dialog& d) {
    const ui::DisplayDialog* v = d.AsDisplay();
    ASSERT_NE(v, nullptr);
    seen.push_back(d.Caption() + "|" + v->Content() + "|" + (v->Rich() ? "rich" : "plain"));
  };

  // Without options: Close alone; the file name is the title.
  Command("display", "", "readme.txt");
  front_end_.answers = {kIdOk};
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_FALSE(K().cancelled);
  // Closing it any way changes nothing.
  K().cmd.args[1] = "Read Me";
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_FALSE(K().cancelled);
  EXPECT_EQ(seen, (std::vector<std::string>{"readme.txt|Read me first.\n|plain",
                                             "Read Me|Read me first.\n|plain"}));

  // -l: OK is refused until the box is ticked.
  seen.clear();
  front_end_.before_answer = [&](ui::Dialog& d) {
    ASSERT_NE(d.AsDisplay(), nullptr);
    EXPECT_TRUE(d.AsDisplay()->Rich());
    std::string error;
    EXPECT_FALSE(d.Press(kIdOk, &error));
    EXPECT_EQ(error, "Please confirm your have read the licence agreement");
    ASSERT_TRUE(d.SetField("Read", "1", &error));
  };
  Command("display", "-l", "LICENCE.RTF", "Licence");
  front_end_.answers = {kIdOk};
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_FALSE(K().cancelled);

  // Cancel with -l or -c cancels the run.
  front_end_.before_answer = nullptr;
  front_end_.answers = {kIdCancel};
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_TRUE(K().cancelled);
  K().cancelled = false;
  Command("display", "-c", "readme.txt");
  front_end_.answers = {kIdCancel};
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_TRUE(K().cancelled);
}

TEST_F(DocumentCommandsTest, DisplayOfAMissingFileAndSilentDisplay) {
  Command("display", "", "missing.txt");
  EXPECT_TRUE(K().CmdDisplay());
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text, "CANNOT VIEW THE REQUESTED FILE");
  EXPECT_FALSE(K().cancelled);
  // A licence that cannot be read is not accepted.
  Command("display", "-l", "missing.txt");
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_TRUE(K().cancelled);

  // Silent: nothing is shown, a licence counts as accepted.
  K().cancelled = false;
  front_end_.shown.clear();
  Write(At("l.txt"), "terms");
  Silent("");
  Command("display", "-l", "l.txt");
  EXPECT_TRUE(K().CmdDisplay());
  EXPECT_TRUE(front_end_.shown.empty());
  EXPECT_FALSE(K().cancelled);
  Command("browse", "", "http://example.com/");
  EXPECT_TRUE(K().CmdBrowse());
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(DocumentCommandsTest, TheChosenGroupsDecideWhatARunCopies) {
  files_.free_space = 1000000;
  Write(At("a.txt"), "program");
  Write(At("b.txt"), "samples");
  Write(At("install.txt"),
        "set NO_UNINSTALL TRUE\n"
        "set HOME \"" + At("home") + "\"\n"
        "filegroup -m G0 Program\n"
        "filegroup G1 Samples\n"
        "choosefiles\n"
        "copy a.txt $HOME\\a.txt G0\n"
        "copy b.txt $HOME\\b.txt G1\n");
  front_end_.before_answer = [](ui::Dialog& d) {
    if (d.Name() != ui::ChooseFilesDialog::kName) return;
    std::string error;
    ASSERT_TRUE(d.SetField("G1", "0", &error));
  };
  front_end_.answers = {kIdOk, kIdOk, kIdOk, kIdOk};
  K().Run("install.txt");
  EXPECT_EQ(Read(At("home\\a.txt")), "program");
  EXPECT_EQ(Read(At("home\\b.txt")), "(missing)");
  EXPECT_NE(LogText().find("# file <G1> is not in an enabled group\n"), std::string::npos);
}

}  // namespace
}  // namespace crx::test
