// The shared silent-run parts: the "/sms:" option, the response-file
// lookups with each program's section and buffer, and the message service
// that answers for the user while silent mode is on.
#include "ui/silent_mode.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/user_interface.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"
#include "ui/front_end.h"
#include "ui/message_box.h"
#include "ui/message_service.h"

namespace crx::ui {
namespace {

TEST(SilentOption, TakesTheWordAfterTheOptionAndReturnsTheRest) {
  SilentOption o = ParseSilentOption("/sms:silent");
  EXPECT_TRUE(o.silent);
  EXPECT_FALSE(o.has_response_file);
  EXPECT_EQ(o.rest, "");

  o = ParseSilentOption("/sms:C:\\dist\\answers.ini   main.txt  /x");
  EXPECT_TRUE(o.silent);
  EXPECT_TRUE(o.has_response_file);
  EXPECT_EQ(o.response_file, "C:\\dist\\answers.ini");
  EXPECT_EQ(o.rest, "main.txt  /x");

  o = ParseSilentOption("/sms:silent ");
  EXPECT_FALSE(o.has_response_file);
  EXPECT_EQ(o.rest, "");

  // "/sms:" alone names a response file with an empty path.
  o = ParseSilentOption("/sms:");
  EXPECT_TRUE(o.silent);
  EXPECT_TRUE(o.has_response_file);
  EXPECT_EQ(o.response_file, "");

  // Only the exact option at the very start counts; the line is then the
  // rest, unchanged.
  for (const char* line : {"/SMS:silent", " /sms:silent", "install.txt /sms:silent", "/sms", ""}) {
    o = ParseSilentOption(line);
    EXPECT_FALSE(o.silent) << line;
    EXPECT_FALSE(o.has_response_file) << line;
    EXPECT_EQ(o.rest, line);
  }
}

TEST(SilentMode, OptionPassesTheStateOn) {
  SilentMode mode;
  EXPECT_EQ(mode.Option(), "");
  mode = SilentMode(ParseSilentOption("/sms:silent"));
  EXPECT_EQ(mode.Option(), "/sms:silent");
  mode = SilentMode(ParseSilentOption("/sms:"));
  EXPECT_EQ(mode.Option(), "/sms:silent");
  mode = SilentMode(ParseSilentOption("/sms:R.ini rest"));
  EXPECT_EQ(mode.Option(), "/sms:R.ini");
  mode.set_silent(false);  // sms_off keeps the response file
  EXPECT_EQ(mode.Option(), "");
  EXPECT_EQ(mode.response_file(), "R.ini");
  mode.set_silent(true);
  mode.set_response_file("C:\\setup\\R.ini");
  EXPECT_EQ(mode.Option(), "/sms:C:\\setup\\R.ini");
}

class ResponseFileTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tp_.ok()) << tp_.Error(); }
  Platform& p() { return tp_.Get(); }
  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = tp_.Scratch() + "\\" + name;
    EXPECT_TRUE(test::WriteWholeFile(p().files, path, text));
    return path;
  }
  test::TestPlatform tp_;
};

TEST_F(ResponseFileTest, EachProgramReadsItsOwnSectionAndBuffer) {
  const std::string long_value(300, 'v');
  const std::string path = Write("r.ini",
                                 "[Cratex]\r\npassword=open sesame\r\n"
                                 "[kestrova]\r\nchoosedir = $HOME \r\nReplaceNewerWithOlder=-\r\n"
                                 "long=" + long_value + "\r\nselect=3\r\nnone=-1\r\nhex=0x10\r\n");
  std::string value = "stale";
  EXPECT_TRUE(ReadResponseText(p(), path, "Cratex", "password", 32, &value));
  EXPECT_EQ(value, "open sesame");
  EXPECT_FALSE(ReadResponseText(p(), path, "Kestrova", "password", kResponseTextBuffer, &value));
  EXPECT_EQ(value, "");

  // Section and key names in any case; blanks around the value dropped.
  EXPECT_TRUE(ReadResponseText(p(), path, "Kestrova", "CHOOSEDIR", kResponseTextBuffer, &value));
  EXPECT_EQ(value, "$HOME");
  // "-" is no entry.
  EXPECT_FALSE(
      ReadResponseText(p(), path, "Kestrova", "ReplaceNewerWithOlder", kResponseTextBuffer, &value));
  // The buffer cuts: 255 characters for the interpreter, 31 for the stub.
  EXPECT_TRUE(ReadResponseText(p(), path, "Kestrova", "long", kResponseTextBuffer, &value));
  EXPECT_EQ(value, long_value.substr(0, 255));
  EXPECT_TRUE(ReadResponseText(p(), path, "Kestrova", "long", 32, &value));
  EXPECT_EQ(value.size(), 31u);

  int number = 0;
  EXPECT_TRUE(ReadResponseInt(p(), path, "Kestrova", "select", &number));
  EXPECT_EQ(number, 3);
  EXPECT_TRUE(ReadResponseInt(p(), path, "Kestrova", "hex", &number));
  EXPECT_EQ(number, 16);
  EXPECT_FALSE(ReadResponseInt(p(), path, "Kestrova", "none", &number));
  EXPECT_EQ(number, -1);
  EXPECT_FALSE(ReadResponseInt(p(), path, "Kestrova", "missing", &number));

  // The file is read again at each lookup.
  Write("r.ini", "[Kestrova]\nselect=5\n");
  EXPECT_TRUE(ReadResponseInt(p(), path, "Kestrova", "select", &number));
  EXPECT_EQ(number, 5);
}

TEST_F(ResponseFileTest, NoFileAnEmptyNameOrAHugeFileGiveNothing) {
  std::string value = "stale";
  int number = 7;
  EXPECT_FALSE(ReadResponseText(p(), "", "Cratex", "password", 32, &value));
  EXPECT_EQ(value, "");
  EXPECT_FALSE(ReadResponseText(p(), tp_.Scratch() + "\\missing.ini", "Cratex", "password", 32,
                                &value));
  EXPECT_FALSE(ReadResponseInt(p(), tp_.Scratch() + "\\missing.ini", "Kestrova", "select",
                               &number));
  EXPECT_EQ(number, -1);
  const std::string huge =
      Write("huge.ini", "[Cratex]\npassword=x\n" + std::string((1 << 20) + 1, ';'));
  EXPECT_FALSE(ReadResponseText(p(), huge, "Cratex", "password", 32, &value));
}

// Message boxes answered with a fixed button, recorded.
class BoxFrontEnd : public FrontEnd {
 public:
  struct Box {
    std::string text, caption;
    uint32_t flags;
  };
  std::vector<Box> boxes;
  int Show(Dialog& dialog) override {
    const MessageBoxDialog* box = dialog.AsMessageBox();
    if (box != nullptr) boxes.push_back({dialog.Text(), dialog.Caption(), box->Flags()});
    dialog.Refuse();
    return dialog.Result();
  }
};

class StringLog : public MessageLog {
 public:
  bool open = false;
  std::string text;
  int flushes = 0;
  bool IsOpen() const override { return open; }
  void Write(const std::string& t) override { text += t; }
  void Flush() override { ++flushes; }
};

TEST(MessageService, AsksInteractivelyAndAnswersItselfWhenSilent) {
  BoxFrontEnd front_end;
  StringLog log;
  SilentMode mode;
  SilentMessageTexts texts;
  texts.heading = "SMSMODE MESSAGE";
  texts.yes_answer = "MESSAGE response: YES\n";
  texts.ok_answer = "MESSAGE response: OK\n";
  MessageService service(front_end, log, mode, "Kestrova", texts);

  // Interactive: a box with the caption; the person's answer comes back.
  EXPECT_EQ(service.Message("Go on?", kMbYesNo | kMbIconQuestion), kIdNo);
  ASSERT_EQ(front_end.boxes.size(), 1u);
  EXPECT_EQ(front_end.boxes[0].caption, "Kestrova");
  EXPECT_EQ(front_end.boxes[0].flags, kMbYesNo | kMbIconQuestion);

  // Switched to silent during the run: from the next message on nothing
  // is shown; what would have been logged is kept until a log is open.
  mode.set_silent(true);
  EXPECT_TRUE(service.silent());
  EXPECT_EQ(service.Message("early", kMbOk), kIdOk);
  EXPECT_EQ(log.text, "");
  EXPECT_EQ(service.unlogged(), "\nSMSMODE MESSAGE (flags=0x0)\nearly\nMESSAGE response: OK\n");
  log.open = true;
  EXPECT_EQ(service.Message("Replace?", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(service.Message("Retry?", kMbRetryCancel), kIdYes);  // shares the MB_YESNO bit
  EXPECT_EQ(service.Message("Three ways", kMbYesNoCancel), kIdOk);
  EXPECT_EQ(log.text,
            "\nSMSMODE MESSAGE (flags=0x24)\nReplace?\nMESSAGE response: YES\n"
            "\nSMSMODE MESSAGE (flags=0x5)\nRetry?\nMESSAGE response: YES\n"
            "\nSMSMODE MESSAGE (flags=0x3)\nThree ways\nMESSAGE response: OK\n");
  EXPECT_EQ(log.flushes, 3);
  EXPECT_EQ(front_end.boxes.size(), 1u);
  service.ClearUnlogged();
  EXPECT_EQ(service.unlogged(), "");

  // The stub's texts: its own heading, no answer line.
  StringLog stub_log;
  stub_log.open = true;
  MessageService stub(front_end, stub_log, mode, "Cratex");
  EXPECT_EQ(stub.Message("again?", kMbYesNo | kMbIconQuestion), kIdYes);
  EXPECT_EQ(stub_log.text, "\nMESSAGE (flags=0x24)\nagain?\n");
}

}  // namespace
}  // namespace crx::ui
