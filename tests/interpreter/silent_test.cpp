// Silent mode: the /sms: option, response-file lookups, the message
// service with and without a user, the status report and sms_on/sms_off.

#include <string>

#include "engine/user_interface.h"
#include "interpreter_fixture.h"
#include "support/file_helpers.h"

namespace crx::test {
namespace {

class SilentTest : public InterpreterTest {
 protected:
  void SetUp() override {
    InterpreterTest::SetUp();
    ASSERT_TRUE(P().files.SetCurrentFolder(platform_.Scratch()));
    ASSERT_TRUE(K().OpenLog());
    K().logging = true;
  }
  void WriteResponses(const std::string& name, const std::string& text) {
    ASSERT_TRUE(WriteWholeFile(P().files, platform_.Scratch() + "\\" + name, text));
  }
};

TEST_F(SilentTest, TheSilentOptionIsTakenFromTheFrontOfTheCommandLine) {
  std::string rest = "unchanged";
  EXPECT_TRUE(K().ParseSilentOption("/sms:silent", &rest));
  EXPECT_TRUE(K().silent_mode.silent());
  EXPECT_EQ(rest, "");
  EXPECT_EQ(K().silent_mode.response_file(), "");

  EXPECT_TRUE(K().ParseSilentOption("/sms:silent   \"my script.txt\" x", &rest));
  EXPECT_EQ(rest, "\"my script.txt\" x");

  K().silent_mode.set_silent(false);
  EXPECT_TRUE(K().ParseSilentOption("/SMS:silent go.txt", &rest));  // case-sensitive
  EXPECT_FALSE(K().silent_mode.silent());
  EXPECT_EQ(rest, "/SMS:silent go.txt");
  EXPECT_TRUE(K().ParseSilentOption(" /sms:silent", &rest));  // only at the very front
  EXPECT_FALSE(K().silent_mode.silent());

  WriteResponses("answers.ini", "[Kestrova]\nchoosedir=C:\\Tool\n");
  EXPECT_TRUE(K().ParseSilentOption("/sms:answers.ini setup.txt", &rest));
  EXPECT_TRUE(K().silent_mode.silent());
  EXPECT_EQ(K().silent_mode.response_file(), "answers.ini");
  EXPECT_EQ(rest, "setup.txt");
  EXPECT_TRUE(front_end_.shown.empty());
}

TEST_F(SilentTest, AMissingResponseFileIsShownEvenInSilentModeAndQuits) {
  K().silent_mode.set_silent(true);
  std::string rest;
  EXPECT_FALSE(K().ParseSilentOption("/sms:nowhere.ini setup.txt", &rest));
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].text,
            "Kestrova - SMS  MODE ERROR\nRESPOSE FILE <nowhere.ini> does not exists\n\n"
            "CMD LINE </sms:nowhere.ini setup.txt>");
  EXPECT_EQ(front_end_.shown[0].caption, "Kestrova");

  // A whole run quits with nothing run.
  front_end_.shown.clear();
  interp::RunResult result = K().Run("/sms:nowhere.ini");
  EXPECT_EQ(result.exit_code, 1);
  EXPECT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(host_.script_dialogs, 0);
}

TEST_F(SilentTest, ResponsesAreLookedUpAndLogged) {
  std::string value;
  int number = 0;
  EXPECT_FALSE(K().GetResponse("choosedir", &value));
  EXPECT_FALSE(K().GetResponseInt("select", &number));

  WriteResponses("answers.ini",
                 "[Cratex]\nchoosedir=wrong section\n"
                 "[Kestrova]\nchoosedir = $HOME\nReplaceNewerWithOlder=true\n"
                 "oktouninstall=-\nselect=3\nnegative=-1\nbad=x\n");
  K().silent_mode.set_response_file("answers.ini");
  K().SetVariable("HOME", "C:\\Program Files\\Tool");
  EXPECT_TRUE(K().GetResponse("choosedir", &value));
  EXPECT_EQ(value, "C:\\Program Files\\Tool");
  // The relative path was made absolute once, for all later lookups.
  const std::string absolute = platform_.Scratch() + "\\answers.ini";
  EXPECT_EQ(K().silent_mode.response_file(), absolute);
  EXPECT_TRUE(K().GetResponse("ReplaceNewerWithOlder", &value));
  EXPECT_EQ(value, "true");
  EXPECT_FALSE(K().GetResponse("oktouninstall", &value));  // "-" is no entry
  EXPECT_FALSE(K().GetResponse("missing", &value));
  EXPECT_TRUE(K().GetResponseInt("select", &number));
  EXPECT_EQ(number, 3);
  EXPECT_FALSE(K().GetResponseInt("negative", &number));
  EXPECT_FALSE(K().GetResponseInt("missing", &number));

  const std::string log = LogText();
  const std::string expected =
      "RSP(GetResponse<int>): no response file\n"
      "RSP(GetResponse<int>): no response file\n"
      "# setenv <HOME> = <C:\\Program Files\\Tool>\n"
      "RSP<" + absolute + ">: choosedir := $HOME\n"
      "RSP<" + absolute + ">: lookup/subst choosedir := C:\\Program Files\\Tool\n"
      "RSP<" + absolute + ">: ReplaceNewerWithOlder := true\n"
      "RSP<" + absolute + ">: oktouninstall := not found \n"
      "RSP<" + absolute + ">: missing := not found \n"
      "RSP<" + absolute + ">: select := 3\n"
      "RSP<" + absolute + ">: negative := not found \n"
      "RSP<" + absolute + ">: missing := not found \n";
  EXPECT_EQ(log, expected);
}

TEST_F(SilentTest, TheMessageServiceAnswersForTheUserInSilentMode) {
  front_end_.answers = {kIdNo};
  EXPECT_EQ(K().Message("Continue?", kMbYesNo | kMbIconQuestion), kIdNo);
  ASSERT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(front_end_.shown[0].caption, "Kestrova");
  EXPECT_EQ(front_end_.shown[0].flags, 0x24u);
  EXPECT_EQ(LogText(), "");

  K().silent_mode.set_silent(true);
  EXPECT_EQ(K().Message("Continue?", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(K().Message("Really?", kMbOkCancel | kMbIconQuestion), kIdOk);
  EXPECT_EQ(K().ShowAndLog("Stop.", kMbIconHand), kIdOk);
  EXPECT_EQ(front_end_.shown.size(), 1u);
  EXPECT_EQ(LogText(),
            "\nSMSMODE MESSAGE (flags=0x24)\nContinue?\nMESSAGE response: YES\n"
            "\nSMSMODE MESSAGE (flags=0x21)\nReally?\nMESSAGE response: OK\n"
            "\nSMSMODE MESSAGE (flags=0x10)\nStop.\nMESSAGE response: OK\n");

  // sms_off and sms_on switch from the next message on.
  EXPECT_TRUE(K().CmdSmsOff());
  K().ShowAndLog("Shown.", kMbOk);
  EXPECT_EQ(front_end_.shown.size(), 2u);
  EXPECT_TRUE(K().CmdSmsOn());
  EXPECT_TRUE(K().silent_mode.silent());
  EXPECT_NE(LogText().find("MESSAGE response: OK\nShown.\n"), std::string::npos);
}

TEST_F(SilentTest, TheStatusReportNeedsTheDistributionSystemsLibrary) {
  K().ReportStatusMIF(true, "Completed successfully");
  EXPECT_EQ(LogText(), "");  // interactive: nothing
  K().silent_mode.set_silent(true);
  std::unique_ptr<Library> library = P().shell.LoadLibrary("ismif32.dll");
  if (library) GTEST_SKIP() << "this system has the status library";
  K().ReportStatusMIF(false, "Errors occured");
  const std::string log = LogText();
  EXPECT_EQ(log.find("\nSMSMODE/MIF ERROR\nLoadLibrary(ismif32.dll) failed 0x"), 0u) << log;
  EXPECT_NE(log.find("\nMaybe SMS is not installed on the target system?\nThis DLL is needed in "
                     "order to write MIF state files\n"),
            std::string::npos);
}

}  // namespace
}  // namespace crx::test
