// The disk dialog of removable-media volumes and the Insert=N pair of
// answer lines that changes the emulated machine's disks.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "engine/user_interface.h"
#include "support/test_platform.h"
#include "ui/answers/answers.h"
#include "ui/answers/disk_insert.h"
#include "ui/disk_dialog.h"
#include "ui/fakes.h"
#include "ui/message_box.h"
#include "ui/service.h"

namespace crx::ui {
namespace {

using test::Ended;

std::vector<AnswerLine> Parse(const std::string& text) {
  std::vector<AnswerLine> lines;
  std::string error;
  EXPECT_TRUE(ParseAnswers(text, &lines, &error)) << error;
  return lines;
}

// Records the disks put in; refuses disk numbers above max.
class DiskChanger : public crx::DiskChanger {
 public:
  std::vector<std::pair<char, int>> inserted;
  int max = 3;
  bool InsertDisk(char letter, int disk) override {
    if (disk > max) {
      SetLastError(kErrorInvalidParameter);
      return false;
    }
    inserted.emplace_back(letter, disk);
    return true;
  }
};

// The test's platform with disk changes recorded (or none, like Windows).
Platform WithDisks(Platform& real, crx::DiskChanger* disks) {
  Platform p{real.files, real.registry, real.processes, real.environment,
             real.clock, real.terminal, real.shell};
  p.disks = disks;
  return p;
}

TEST(DiskDialog, CaptionTextButtonsAndNobodyToAsk) {
  DiskDialog writing(false, 2);
  EXPECT_EQ(writing.Name(), "Disk");
  EXPECT_EQ(writing.Caption(), "Cratex - Disk Full");
  EXPECT_EQ(writing.Text(),
            "The end of the disk has been reached. Please insert a new disk in the appropriate "
            "drive\n\nINSERT DISK NUMBER  2");
  EXPECT_TRUE(writing.Topmost());
  ASSERT_EQ(writing.Buttons().size(), 2u);
  EXPECT_EQ(writing.Buttons()[writing.DefaultButton()].id, kIdOk);
  EXPECT_TRUE(writing.Fields().empty());
  writing.Refuse();
  EXPECT_EQ(writing.Result(), kIdCancel) << "nobody to ask cancels";

  DiskDialog reading(true, 11);
  EXPECT_EQ(reading.Caption(), "Cratex - End Of Disk");
  EXPECT_NE(reading.Text().find("INSERT DISK NUMBER  11"), std::string::npos);
}

TEST(DiskDialog, AnswersInsertTheDiskBeforePressing) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  DiskChanger disks;
  Platform platform = WithDisks(tp.Get(), &disks);
  Ended ended;
  auto answers = std::make_unique<AnswersFrontEnd>("a.txt",
                                                   Parse("Disk OK Insert=2\n"
                                                         "MessageBox OK Insert=a:3\n"
                                                         "Disk Cancel\n"
                                                         "disk ok\n"),
                                                   ended.Handler());
  // The service's engine call goes through the same dialog.
  UserInterfaceService service(
      std::make_unique<DiskInsertingFrontEnd>(std::move(answers), platform));
  EXPECT_EQ(service.AskForDisk(false, 2), kIdOk);
  EXPECT_EQ(service.MessageBox("DRIVE NOT READY (or disk full)\nRetry or Cancel", "Cratex",
                               kMbOkCancel | kMbTopmost),
            kIdOk);
  EXPECT_EQ(service.AskForDisk(true, 3), kIdCancel);
  EXPECT_EQ(service.AskForDisk(true, 3), kIdOk);
  EXPECT_EQ(ended.calls, 0) << ended.message;
  ASSERT_EQ(disks.inserted.size(), 2u);
  EXPECT_EQ(disks.inserted[0], std::make_pair('\0', 2));
  EXPECT_EQ(disks.inserted[1], std::make_pair('A', 3));
}

TEST(DiskDialog, InsertThatCannotBeDoneEndsTheProgram) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  DiskChanger disks;
  struct Row {
    const char* line;
    bool machine;  // false: a platform without disk changes (Windows)
    const char* expected;
  };
  const Row rows[] = {
      {"Disk OK Insert=two\n", true, "line 1: Insert=two is not a disk number"},
      {"Disk OK Insert=A:\n", true, "is not a disk number"},
      {"Disk OK Insert=4\n", true, "line 1: Insert=4: there is no such disk"},
      {"Disk OK Insert=1\n", false, "only be changed this way on the emulated machine"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.line);
    Platform platform = WithDisks(tp.Get(), r.machine ? &disks : nullptr);
    Ended ended;
    DiskInsertingFrontEnd front_end(
        std::make_unique<AnswersFrontEnd>("a.txt", Parse(r.line), ended.Handler()), platform);
    DiskDialog dialog(false, 2);
    EXPECT_EQ(front_end.Show(dialog), kIdCancel) << "the dialog is refused, never pressed";
    EXPECT_EQ(ended.calls, 1);
    EXPECT_EQ(ended.code, kAnswersExitCode);
    EXPECT_EQ(ended.message.rfind("answers file \"a.txt\", line 1: Insert=", 0), 0u)
        << ended.message;
    EXPECT_NE(ended.message.find(r.expected), std::string::npos) << ended.message;
    EXPECT_EQ(front_end.answers().Remaining(), 0u);
  }
  EXPECT_TRUE(disks.inserted.empty());

  // A program that does not change disks refuses the pair like any field
  // the dialog lacks.
  Ended ended;
  AnswersFrontEnd answers("a.txt", Parse("Disk OK Insert=2\n"), ended.Handler());
  DiskDialog dialog(false, 2);
  answers.Show(dialog);
  EXPECT_NE(ended.message.find("has no field \"Insert\""), std::string::npos) << ended.message;
}

}  // namespace
}  // namespace crx::ui
