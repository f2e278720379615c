#ifndef CRX_TESTS_INTERPRETER_INTERPRETER_FIXTURE_H
#define CRX_TESTS_INTERPRETER_INTERPRETER_FIXTURE_H

// A ScriptInterpreter on a fresh test platform, with a front-end that
// records every dialog and answers from a queue, and a host that records
// status texts.

#include <gtest/gtest.h>

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "interpreter/script_interpreter.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"
#include "ui/dialog.h"
#include "ui/feedback.h"
#include "ui/front_end.h"
#include "ui/message_box.h"

namespace crx::test {

struct ShownDialog {
  std::string name;
  std::string caption;
  std::string text;
  uint32_t flags = 0;  // message boxes only
  int result = 0;
};

// Answers dialogs with the queued button identifiers; with nothing queued it
// presses the dialog's refusing button (as an answers file that has run out
// would end the program, a test that did not expect a dialog sees it in
// `shown`).
class ScriptedFrontEnd : public ui::FrontEnd {
 public:
  std::deque<int> answers;
  std::vector<ShownDialog> shown;
  // Runs on every dialog before it is answered (to fill in its fields).
  std::function<void(ui::Dialog&)> before_answer;

  int Show(ui::Dialog& dialog) override {
    ShownDialog record;
    record.name = dialog.Name();
    record.caption = dialog.Caption();
    record.text = dialog.Text();
    if (const ui::MessageBoxDialog* box = dialog.AsMessageBox()) record.flags = box->Flags();
    std::string error;
    if (before_answer) before_answer(dialog);
    if (!answers.empty()) {
      int id = answers.front();
      answers.pop_front();
      if (!dialog.Press(id, &error)) ADD_FAILURE() << "can't press " << id << ": " << error;
    } else {
      dialog.Refuse();
    }
    record.result = dialog.Result();
    shown.push_back(record);
    return dialog.Result();
  }
};

// A clock that stands still, for the recorded progress displays.
class StillClock : public Clock {
 public:
  SystemTime UtcNow() override { return SystemTime{}; }
  SystemTime LocalNow() override { return SystemTime{}; }
  uint32_t TickCount() override { return 0; }
  void Sleep(uint32_t) override {}
};

class RecordingHost;

// A progress display that leaves its transcript with the host when the
// interpreter destroys it.
class KeptFeedback : public ui::RecordingFeedback {
 public:
  KeptFeedback(Clock& clock, RecordingHost& host) : ui::RecordingFeedback(clock), host_(host) {}
  ~KeptFeedback() override;

 private:
  RecordingHost& host_;
};

class RecordingHost : public interp::InterpreterHost {
 public:
  // The window's look as last painted, and how often it was.
  ui::WindowLook look;
  int repaints = 0;
  bool has_view = true;
  std::vector<uint32_t> pauses;
  // Progress displays: the animation each was made with, the transcripts of
  // those destroyed, and the one that is alive.
  std::vector<std::string> animations;
  std::vector<std::string> progress_transcripts;
  KeptFeedback* progress = nullptr;
  StillClock clock;

  bool HasView() override { return has_view; }
  void SetLook(const ui::WindowLook& l) override {
    look = l;
    ++repaints;
  }
  std::unique_ptr<ui::Feedback> MakeProgress(const std::string& animation) override {
    animations.push_back(animation);
    auto display = std::make_unique<KeptFeedback>(clock, *this);
    progress = display.get();
    return display;
  }
  void Pause(Clock&, uint32_t milliseconds) override { pauses.push_back(milliseconds); }

  std::vector<std::string> statuses;
  std::string script_answer;  // chosen by the script dialog; empty = cancel
  int script_dialogs = 0;
  std::string title;
  int maximized = 0;

  void SetStatus(const std::string& text) override { statuses.push_back(text); }
  bool AskScriptFile(const std::string& initial_file, const std::string& initial_folder,
                     std::string* chosen) override {
    (void)initial_file;
    (void)initial_folder;
    ++script_dialogs;
    if (script_answer.empty()) return false;
    *chosen = script_answer;
    return true;
  }
  void SetTitle(const std::string& text) override { title = text; }
  void Maximize() override { ++maximized; }
};

inline KeptFeedback::~KeptFeedback() {
  host_.progress_transcripts.push_back(Transcript());
  if (host_.progress == this) host_.progress = nullptr;
}

class InterpreterTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(platform_.ok()) << platform_.Error(); }

  Platform& P() { return platform_.Get(); }
  interp::ScriptInterpreter& K() { return interpreter_; }

  // The interpreter's log as written so far (it lies in the system's
  // temporary folder).
  std::string LogText() {
    K().FlushLog();
    std::string temp = P().environment.TempPath();
    if (!temp.empty() && temp.back() == '\\') temp.pop_back();
    return ReadWholeFile(P().files, temp + "\\Kestrova.log");
  }

  // Sets the current command as the command table hands it over; the
  // handler is then called directly.
  void Command(const std::string& keyword, const std::string& option = std::string(),
               const std::vector<std::string>& args = {}) {
    K().cmd.Clear();
    K().cmd.command = keyword;
    K().cmd.option = option;
    for (size_t i = 0; i < args.size(); ++i) K().cmd.args[i] = args[i];
  }

  TestPlatform platform_;
  ScriptedFrontEnd front_end_;
  RecordingHost host_;
  interp::ScriptInterpreter interpreter_{platform_.Get(), front_end_, host_};
};

}  // namespace crx::test

#endif  // CRX_TESTS_INTERPRETER_INTERPRETER_FIXTURE_H
