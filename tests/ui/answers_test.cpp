#include <gtest/gtest.h>

#include "engine/user_interface.h"
#include "ui/answers/answers.h"
#include "ui/fakes.h"
#include "ui/message_box.h"

namespace crx::ui {
namespace {

using test::Ended;

std::vector<AnswerLine> Parse(const std::string& text) {
  std::vector<AnswerLine> lines;
  std::string error;
  EXPECT_TRUE(ParseAnswers(text, &lines, &error)) << error;
  return lines;
}

TEST(AnswersParse, QuotedValuesCommentsBlankLinesAndLineEnds) {
  std::vector<AnswerLine> lines = Parse(
      "# answers for a setup run\r\n"
      "\r\n"
      "MessageBox Yes\r\n"
      "   # an indented comment\n"
      "\t\n"
      "TestForm OK Company=\"Velmora Ltd\" \"Product=Big Widget\" Wait=1 "
      "Note=\"say \\\"hi\\\"\" Folder=\"C:\\Program Files\\\\\" Empty=\n"
      "MessageBox \"No\"");
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0].line_number, 3);
  EXPECT_EQ(lines[0].dialog, "MessageBox");
  EXPECT_EQ(lines[0].button, "Yes");
  EXPECT_TRUE(lines[0].fields.empty());
  EXPECT_EQ(lines[1].line_number, 6);
  ASSERT_EQ(lines[1].fields.size(), 6u);
  EXPECT_EQ(lines[1].fields[0], (std::pair<std::string, std::string>("Company", "Velmora Ltd")));
  EXPECT_EQ(lines[1].fields[1].second, "Big Widget");
  EXPECT_EQ(lines[1].fields[2].second, "1");
  EXPECT_EQ(lines[1].fields[3].second, "say \"hi\"");
  EXPECT_EQ(lines[1].fields[4].second, "C:\\Program Files\\");
  EXPECT_EQ(lines[1].fields[5], (std::pair<std::string, std::string>("Empty", "")));
  EXPECT_EQ(lines[2].line_number, 7);
  EXPECT_EQ(lines[2].button, "No");
}

TEST(AnswersParse, MalformedLinesNameTheirLine) {
  struct Row {
    const char* text;
    const char* message;
  };
  const Row rows[] = {
      {"MessageBox Yes\nMessageBox\n", "line 2: expected a dialog name and a button"},
      {"\n\nTestForm OK Company\n", "line 3: \"Company\" is not a field=value pair"},
      {"TestForm OK =x\n", "line 1: \"=x\" is not a field=value pair"},
  };
  for (const Row& r : rows) {
    std::vector<AnswerLine> lines;
    std::string error;
    EXPECT_FALSE(ParseAnswers(r.text, &lines, &error)) << r.text;
    EXPECT_EQ(error.rfind(r.message, 0), 0u) << error;
  }
}

TEST(AnswersParse, ByteOrderMarkIsSkippedAndUtf16IsNamed) {
  // Windows editors start UTF-8 files with a byte-order mark.
  std::vector<AnswerLine> lines = Parse("\xEF\xBB\xBFMessageBox Yes\r\nMessageBox No\r\n");
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0].dialog, "MessageBox");
  EXPECT_EQ(lines[0].line_number, 1);
  // Only at the start: elsewhere the bytes are part of a word.
  lines = Parse("MessageBox \xEF\xBB\xBFYes\n");
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].button, "\xEF\xBB\xBFYes");
  for (const char* utf16 : {"\xFF\xFEM\0e\0", "\xFE\xFF\0M\0e"}) {
    std::vector<AnswerLine> parsed;
    std::string error;
    EXPECT_FALSE(ParseAnswers(std::string(utf16, 6), &parsed, &error));
    EXPECT_EQ(error, "the file is UTF-16 text; save it as ANSI or UTF-8 text");
  }
}

TEST(AnswersFrontEnd, AnswersDialogsInOrder) {
  Ended ended;
  AnswersFrontEnd answers("a.txt",
                          Parse("MessageBox no\n"
                                "testform ok company=\"Velmora Ltd\" wait=1\n"
                                "MessageBox Retry\n"),
                          ended.Handler());
  MessageBoxDialog first("Continue?", "Cratex", kMbYesNo);
  EXPECT_EQ(answers.Show(first), kIdNo);
  test::FormDialog form;
  EXPECT_EQ(answers.Show(form), test::FormDialog::kOk);
  EXPECT_EQ(form.FindField("Company")->value, "Velmora Ltd");
  EXPECT_EQ(form.FindField("Product")->value, "Widget") << "unanswered fields keep their value";
  EXPECT_EQ(form.FindField("Wait")->value, "1");
  MessageBoxDialog third("Disk error", "Cratex", kMbRetryCancel);
  EXPECT_EQ(answers.Show(third), kIdRetry);
  EXPECT_EQ(answers.Remaining(), 0u);
  EXPECT_EQ(ended.calls, 0);
}

TEST(AnswersFrontEnd, AnswersThatDoNotFitEndTheProgram) {
  struct Row {
    const char* answers;
    const char* expected;  // part of the message
  };
  const Row rows[] = {
      {"", "no answer left for the dialog \"TestForm\" (\"Form caption\": \"Fill in the form\")"},
      {"SetupInfo OK\n", "line 1 answers the dialog \"SetupInfo\", but the dialog shown is \"TestForm\""},
      {"TestForm Yes\n", "line 1: the dialog \"TestForm\" (\"Form caption\": \"Fill in the form\") "
                         "has no button \"Yes\" (its buttons: OK, Cancel, SkipAll)"},
      {"TestForm OK Company=V Colour=red\n", "line 1: the dialog \"TestForm\" has no field \"Colour\""},
      {"TestForm OK Path=C:\\x\n", "cannot be changed"},
      {"TestForm OK Wait=maybe\n", "takes 1 or 0"},
      {"TestForm OK Product=Gadget\n",
       "line 1: the dialog \"TestForm\" (\"Form caption\": \"Fill in the form\") refused \"OK\": "
       "ERROR: 'Company' field cannot be empty"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.answers);
    Ended ended;
    AnswersFrontEnd answers("C:\\answers.txt", Parse(r.answers), ended.Handler());
    test::FormDialog form;
    int result = answers.Show(form);
    EXPECT_EQ(ended.calls, 1);
    EXPECT_EQ(ended.code, kAnswersExitCode);
    EXPECT_EQ(ended.message.rfind("answers file \"C:\\answers.txt\"", 0), 0u) << ended.message;
    EXPECT_NE(ended.message.find(r.expected), std::string::npos) << ended.message;
    // When the handler returns (only in tests) the dialog is refused.
    EXPECT_TRUE(form.Closed());
    EXPECT_EQ(result, test::FormDialog::kCancel);
  }
}

TEST(Recording, RecordedAnswersReplayTheSameWay) {
  const char* tricky[] = {"Velmora Ltd", "say \"hi\"", "C:\\Program Files\\", "", "a\\\\\"b",
                          "#not a comment", "x=y"};
  std::string record;
  test::FakeTerminal terminal;
  std::vector<std::pair<int, std::string>> given;
  {
    // The person's answers: Cancel for message boxes; for forms, the next
    // tricky company name, the check box set, and Skip All.
    struct Person : FrontEnd {
      const char* const* values;
      size_t next = 0;
      int Show(Dialog& dialog) override {
        std::string error;
        if (dialog.AsMessageBox()) {
          dialog.Press(kIdCancel, &error);
        } else {
          dialog.SetField("Company", values[next++], &error);
          dialog.SetField("Wait", "1", &error);
          dialog.Press(test::FormDialog::kSkip, &error);
        }
        return dialog.Result();
      }
    };
    auto inner = std::make_unique<Person>();
    inner->values = tricky;
    Ended ended;
    RecordingFrontEnd recorder(std::move(inner), std::make_unique<test::MemoryFile>(&record),
                               "C:\\rec.txt", terminal);
    MessageBoxDialog box("Line one\nline two", "Cap", kMbOkCancel);
    given.emplace_back(recorder.Show(box), "");
    for (const char* value : tricky) {
      test::FormDialog form;
      given.emplace_back(recorder.Show(form), form.FindField("Company")->value);
      EXPECT_EQ(form.FindField("Company")->value, value);
    }
    EXPECT_EQ(ended.calls, 0) << ended.message;
  }
  EXPECT_EQ(record.rfind("# Cap: Line one ...\nMessageBox Cancel\n# Form caption: Fill in the form\n"
                         "TestForm SkipAll Company=\"Velmora Ltd\" Product=Widget Wait=1\n", 0),
            0u)
      << record;
  EXPECT_EQ(record.find("Path="), std::string::npos) << "read-only fields are not recorded";

  Ended ended;
  AnswersFrontEnd replay("C:\\rec.txt", Parse(record), ended.Handler());
  MessageBoxDialog box("Line one\nline two", "Cap", kMbOkCancel);
  EXPECT_EQ(replay.Show(box), given[0].first);
  for (size_t i = 1; i < given.size(); ++i) {
    test::FormDialog form;
    EXPECT_EQ(replay.Show(form), given[i].first);
    EXPECT_EQ(form.FindField("Company")->value, given[i].second);
  }
  EXPECT_EQ(ended.calls, 0) << ended.message;
  EXPECT_EQ(replay.Remaining(), 0u);
}

TEST(Recording, AFailedWriteIsReportedOnceAndTheDialogsGoOn) {
  std::string record;
  test::FakeTerminal terminal;
  auto file = std::make_unique<test::MemoryFile>(&record);
  file->fail_writes = true;
  Ended ended;
  auto inner = std::make_unique<AnswersFrontEnd>("inner", Parse("MessageBox OK\nMessageBox OK\n"),
                                                 ended.Handler());
  RecordingFrontEnd recorder(std::move(inner), std::move(file), "C:\\rec.txt", terminal);
  MessageBoxDialog a("a", "c", kMbOk), b("b", "c", kMbOk);
  EXPECT_EQ(recorder.Show(a), kIdOk);
  EXPECT_EQ(recorder.Show(b), kIdOk);
  EXPECT_EQ(terminal.errors,
            "cannot write to the record file \"C:\\rec.txt\": error 112[0x70]; "
            "the answers that follow are not recorded\n");
}

}  // namespace
}  // namespace crx::ui
