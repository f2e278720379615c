// The start-up choice on the real platform of the test: answers file,
// recording, and the errors a bad setting gives.
#include <gtest/gtest.h>

#include "common/format.h"
#include "engine/user_interface.h"
#include "support/test_platform.h"
#include "ui/message_box.h"
#include "ui/service.h"

namespace crx::ui {
namespace {

class ServiceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    env().Unset("CRX_ANSWERS");
    env().Unset("CRX_RECORD");
  }
  void TearDown() override {
    if (!tp_.ok()) return;
    env().Unset("CRX_ANSWERS");
    env().Unset("CRX_RECORD");
  }
  Environment& env() { return tp_.Get().environment; }
  Platform& platform() { return tp_.Get(); }

  void WriteFile(const std::string& path, const std::string& text) {
    auto f = platform().files.Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f) << path;
    ASSERT_TRUE(f->Write(text.data(), text.size()));
  }
  std::string ReadFile(const std::string& path) {
    std::string text, error;
    EXPECT_TRUE(ReadAnswersFile(platform(), path, &text, &error)) << error;
    return text;
  }

  UserInterfaceOptions Options() {
    UserInterfaceOptions options;
    options.end = [this](int code, const std::string& message) {
      end_code_ = code;
      end_message_ = message;
    };
    return options;
  }

  test::TestPlatform tp_;
  int end_code_ = 0;
  std::string end_message_;
};

TEST_F(ServiceTest, AnswersFileDrivesMessageBoxesAndRecordingAppends) {
  std::string answers = tp_.Scratch() + "\\answers.txt";
  std::string record = tp_.Scratch() + "\\record.txt";
  WriteFile(answers, "# run 1\nMessageBox Retry\nMessageBox no\n");
  WriteFile(record, "# earlier run\n");
  env().Set("CRX_ANSWERS", answers);
  env().Set("CRX_RECORD", record);
  std::string error;
  auto ui = StartUserInterface(platform(), Options(), &error);
  ASSERT_TRUE(ui) << error;
  UserInterface& engine_side = *ui;
  EXPECT_EQ(engine_side.MessageBox("Disk full", "Cratex", kMbRetryCancel | kMbIconHand), kIdRetry);
  EXPECT_EQ(engine_side.MessageBox("Go on?", "Cratex", kMbYesNo), kIdNo);
  EXPECT_EQ(end_code_, 0);
  EXPECT_EQ(engine_side.MessageBox("More?", "Cratex", kMbYesNo), kIdNo);
  EXPECT_EQ(end_code_, kAnswersExitCode);
  EXPECT_NE(end_message_.find("no answer left for the dialog \"MessageBox\" (\"Cratex\": \"More?\")"),
            std::string::npos)
      << end_message_;
  ui.reset();
  EXPECT_EQ(ReadFile(record),
            "# earlier run\n"
            "# Cratex: Disk full\nMessageBox Retry\n"
            "# Cratex: Go on?\nMessageBox No\n"
            "# Cratex: More?\nMessageBox No\n");
}

TEST_F(ServiceTest, BadSettingsGiveClearErrors) {
  std::string error;
  env().Set("CRX_ANSWERS", tp_.Scratch() + "\\missing.txt");
  EXPECT_FALSE(StartUserInterface(platform(), Options(), &error));
  EXPECT_EQ(error.rfind("CRX_ANSWERS: cannot open the answers file \"" + tp_.Scratch() +
                            "\\missing.txt\": error 2[0x2]",
                        0),
            0u)
      << error;

  // The alternative path (a translated host path) is tried second.
  std::string answers = tp_.Scratch() + "\\answers.txt";
  WriteFile(answers, "MessageBox OK\nMessageBox\n");
  UserInterfaceOptions options = Options();
  options.answers_alternative = answers;
  EXPECT_FALSE(StartUserInterface(platform(), options, &error));
  EXPECT_EQ(error, "answers file \"" + answers +
                       "\", line 2: expected a dialog name and a button, got \"MessageBox\"");

  WriteFile(answers, "MessageBox OK\n");
  auto ui = StartUserInterface(platform(), options, &error);
  ASSERT_TRUE(ui) << error;
  EXPECT_EQ(ui->MessageBox("t", "c", kMbOk), kIdOk);

  env().Set("CRX_RECORD", tp_.Scratch() + "\\no such folder\\rec.txt");
  EXPECT_FALSE(StartUserInterface(platform(), options, &error));
  EXPECT_EQ(error.rfind("CRX_RECORD: cannot open the record file", 0), 0u) << error;
}

}  // namespace
}  // namespace crx::ui
