// A setup archive made by the engine with the setup-information dialog
// answered from a file: the dialog comes up only for incomplete texts,
// starts empty, and its wait program outlives the archive it was asked for.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/test_platform.h"
#include "ui/answers/answers.h"
#include "ui/setup_info_dialogs.h"

namespace crx {
namespace {

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

class DialogUi : public UserInterface {
 public:
  explicit DialogUi(ui::FrontEnd& front_end) : front_end_(front_end) {}
  int MessageBox(const std::string& text, const std::string&, uint32_t) override {
    messages.push_back(text);
    return kIdOk;
  }
  int SetupInformation(SetupInfo* info) override {
    ++dialogs;
    return ui::RunSetupInfoDialog(front_end_, info);
  }
  std::vector<std::string> messages;
  int dialogs = 0;

 private:
  ui::FrontEnd& front_end_;
};

TEST(SetupArchive, DialogFillsIncompleteTextsAndTheWaitProgramStays) {
#ifdef _WIN32
  GTEST_SKIP() << "needs HKEY_LOCAL_MACHINE of a fresh emulated machine";
#else
  test::TestPlatform machine;
  ASSERT_TRUE(machine.ok()) << machine.Error();
  Platform& platform = machine.Get();
  ResetLogState();
  SetLoggingSetting(0);

  const std::string stub = machine.Scratch() + "\\full.dat";
  {
    std::unique_ptr<File> file =
        platform.files.Open(stub, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_NE(file, nullptr);
    const std::string bytes(FULL_STUB_SIZE, 's');
    ASSERT_TRUE(file->Write(bytes.data(), bytes.size()));
  }
  {
    ScopedRegKey key(platform.registry);
    ASSERT_EQ(platform.registry.CreateKey(kHKeyLocalMachine, kSettingsKey, RegAccess::kAll,
                                          key.Out(), nullptr),
              kErrorSuccess);
    ASSERT_EQ(platform.registry.SetString(key.Get(), "datafile", stub), kErrorSuccess);
  }

  std::vector<ui::AnswerLine> lines;
  std::string error;
  ASSERT_TRUE(ui::ParseAnswers(
      "SetupInfo OK Company=Velmora Product=Widget Description=Gadgets\n", &lines, &error))
      << error;
  int ended = 0;
  ui::AnswersFrontEnd answers("C:\\answers.txt", std::move(lines),
                              [&ended](int, const std::string&) { ++ended; });
  DialogUi ui(answers);

  ArchiveEngine engine(platform, ui);
  engine.SetOptions("+S");
  // Only the company is missing: the dialog is asked, and the answer has
  // to give every text because it starts empty.
  engine.setup_info() = SetupInfo{"", "Partial", "Partial", "partial.exe", ""};
  const std::string first = machine.Scratch() + "\\first.exe";
  ASSERT_TRUE(engine.CreateArchive(first)) << (ui.messages.empty() ? "" : ui.messages[0]);
  ASSERT_TRUE(engine.CloseArchive());
  EXPECT_EQ(ui.dialogs, 1);
  EXPECT_EQ(ended, 0);

  // All four texts given (as a script does): no dialog, and the wait
  // program of the first archive is kept.
  engine.setup_info().company = "C2";
  engine.setup_info().product = "P2";
  engine.setup_info().description = "D2";
  engine.setup_info().setup_program = "run.exe";
  const std::string second = machine.Scratch() + "\\second.exe";
  ASSERT_TRUE(engine.CreateArchive(second));
  ASSERT_TRUE(engine.CloseArchive());
  EXPECT_EQ(ui.dialogs, 1);

  ArchiveEngine reader(platform, ui);
  ASSERT_TRUE(reader.ReadArchiveInfo(first));
  SetupInfo info = reader.type_record().setup;
  EXPECT_EQ(info.company, "Velmora");
  EXPECT_EQ(info.product, "Widget");
  EXPECT_EQ(info.description, "Gadgets");
  EXPECT_EQ(info.setup_program, "SETUP.EXE");
  EXPECT_EQ(info.wait_program, "SETUP.EXE");
  ASSERT_TRUE(reader.ReadArchiveInfo(second));
  info = reader.type_record().setup;
  EXPECT_EQ(info.company, "C2");
  EXPECT_EQ(info.setup_program, "run.exe");
  EXPECT_EQ(info.wait_program, "SETUP.EXE");
  ResetLogState();
#endif
}

}  // namespace
}  // namespace crx
