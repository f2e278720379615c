// Kestrova: the installation-script interpreter. It runs an installation
// script ("install.txt" when the command line names none) and ends with
// the run's exit status: 0 when the script ran to its end (or the run was
// cancelled or nothing was run), 1 when a command failed.
//
//   Kestrova [/sms:silent | /sms:RESPONSEFILE] [SCRIPT]
//
// On Windows it is a window program: a main window with a status bar
// (minimised in silent runs) that starts the run from a message it posts
// to itself, and stays open after an interactive run until the user closes
// it. On Linux it is a console program on the emulated machine (current
// folder: the host's current folder seen through the machine; a script or
// response file named with a slash is a host path) that shows its status
// as one line on a terminal and ends after its report.
//
// Dialogs come from the answers file named by CRX_ANSWERS when it is set,
// else from Windows' dialogs or the terminal.
#include <cstdio>
#include <memory>
#include <string>

#include "interpreter/script_interpreter.h"
#include "platform/platform.h"
#include "programs/machine_path.h"
#include "ui/feedback.h"
#include "ui/service.h"

#ifdef _WIN32
#include "platform/win32/win32_platform.h"
#include "ui/win32/feedback_win32.h"
#include "ui/win32/folder_browser_win32.h"
#include "ui/win32/interpreter_window.h"

#include <objbase.h>
#else
#include "ui/console/interpreter_console.h"
#endif

namespace crx {
namespace {

constexpr int kStartFailed = 1;

#ifdef _WIN32
// The status service, the script dialog, the title and maximising are the
// main window's.
class WindowHost : public interp::InterpreterHost {
 public:
  WindowHost(ui::InterpreterWindow& window, Platform& platform, bool unattended)
      : window_(window), platform_(platform), unattended_(unattended) {}
  void SetStatus(const std::string& text) override { window_.SetStatus(text); }
  bool AskScriptFile(const std::string& initial_file, const std::string& initial_folder,
                     std::string* chosen) override {
    return window_.AskScriptFile(initial_file, initial_folder, chosen);
  }
  void SetTitle(const std::string& title) override { window_.SetTitle(title); }
  void Maximize() override { window_.Maximize(); }
  bool HasView() override { return window_.Handle() != nullptr; }
  void SetLook(const ui::WindowLook& look) override { window_.SetLook(look); }
  // The feedback window on its own thread, with the script's animation.
  // Unattended runs record it.
  std::unique_ptr<ui::Feedback> MakeProgress(const std::string& animation) override {
    ui::UseProgressAnimation(animation);
    return ui::MakeFeedback(platform_, unattended_, ui::MakeWin32Feedback);
  }
  void Pause(Clock&, uint32_t milliseconds) override { window_.Wait(milliseconds); }

 private:
  ui::InterpreterWindow& window_;
  Platform& platform_;
  bool unattended_;
};

void ReportStartFailure(const std::string& text) {
  ::MessageBoxA(nullptr, text.c_str(), "Kestrova", MB_OK | MB_ICONERROR);
}
#else
// The status is one line on the terminal's error stream; the script is
// asked for only when someone can answer (a person at the terminal, or an
// answers file).
class ConsoleHost : public interp::InterpreterHost {
 public:
  ConsoleHost(Platform& platform, ui::FrontEnd& front_end, bool can_ask, bool unattended)
      : platform_(platform),
        terminal_(platform.terminal),
        status_(platform.terminal),
        look_(platform.terminal),
        front_end_(front_end),
        can_ask_(can_ask),
        unattended_(unattended) {}
  // While a progress line is on the terminal it tells what is going on;
  // the status line waits.
  void SetStatus(const std::string& text) override {
    if (progress_open_ == 0) status_.SetStatus(text);
  }
  bool AskScriptFile(const std::string& initial_file, const std::string& initial_folder,
                     std::string* chosen) override {
    status_.Finish();
    if (!can_ask_) {
      terminal_.WriteError(
          "Kestrova: install.txt is not in the current folder and no one can be asked for "
          "another script (no terminal, no answers file): nothing is run\n");
    }
    return ui::AskScriptFile(front_end_, can_ask_, initial_file, initial_folder, chosen);
  }
  // Ends the status line before the program's last words.
  void Finish() { status_.Finish(); }
  // The title and banner texts as lines of their own.
  void SetTitle(const std::string& title) override {
    status_.Finish();
    look_.ShowTitle(title);
  }
  void SetLook(const ui::WindowLook& look) override {
    status_.Finish();
    look_.Show(look);
  }
  std::unique_ptr<ui::Feedback> MakeProgress(const std::string& animation) override {
    (void)animation;
    status_.Finish();
    return std::make_unique<StatusWaits>(ui::MakeFeedback(platform_, unattended_), progress_open_);
  }

 private:
  // The progress line; while it is open the status line waits.
  class StatusWaits : public ui::Feedback {
   public:
    StatusWaits(std::unique_ptr<ui::Feedback> inner, int& open) : inner_(std::move(inner)), open_(open) {
      ++open_;
    }
    ~StatusWaits() override { --open_; }
    bool Open(const std::string& title, int range) override { return inner_->Open(title, range); }
    bool SetText(const std::string& text) override { return inner_->SetText(text); }
    bool SetDetail(const std::string& text) override { return inner_->SetDetail(text); }
    bool End(int result) override { return inner_->End(result); }
    bool Animate(bool stop) override { return inner_->Animate(stop); }
    ui::FeedbackPhase Phase() const override { return inner_->Phase(); }

   private:
    std::unique_ptr<ui::Feedback> inner_;
    int& open_;
  };

  Platform& platform_;
  Terminal& terminal_;
  ui::ConsoleStatusLine status_;
  ui::ConsoleLook look_;
  ui::FrontEnd& front_end_;
  bool can_ask_;
  bool unattended_;
  int progress_open_ = 0;
};

// Every dialog starts below the status line, not in the middle of it.
class BelowStatusFrontEnd : public ui::FrontEnd {
 public:
  BelowStatusFrontEnd(ui::FrontEnd& inner, ConsoleHost& host) : inner_(inner), host_(host) {}
  int Show(ui::Dialog& dialog) override {
    host_.Finish();
    return inner_.Show(dialog);
  }

 private:
  ui::FrontEnd& inner_;
  ConsoleHost& host_;
};

void ReportStartFailure(const std::string& text) {
  std::fprintf(stderr, "Kestrova: %s\n", text.c_str());
}

// A path written with a slash is a host path: the machine's path for it.
// Bare names ("install.txt") and Windows paths stay as they are, so the
// default script and its question behave as on Windows.
std::string MachineArgument(const std::string& arg) {
  if (arg.find('/') == std::string::npos) return arg;
  return MachinePath(arg);
}

// The command line with host paths turned into the machine's: the
// response file of "/sms:FILE" and the script (one pair of quotes kept
// around it). The restart form ("-...") is the interpreter's own.
std::string MachineCommandLine(const std::string& tail) {
  std::string silent;
  std::string rest = tail;
  if (rest.compare(0, 5, "/sms:") == 0) {
    const size_t end = rest.find(' ');
    silent = rest.substr(0, end);
    rest = end == std::string::npos ? std::string() : rest.substr(end);
    if (silent != "/sms:silent") silent = "/sms:" + MachineArgument(silent.substr(5));
  }
  size_t begin = rest.find_first_not_of(' ');
  if (begin == std::string::npos) return silent;
  std::string blanks = rest.substr(0, begin);
  std::string script = rest.substr(begin);
  while (!script.empty() && script.back() == ' ') script.pop_back();
  if (script[0] != '-') {
    const bool quoted = script.size() >= 2 && script.front() == '"' && script.back() == '"';
    if (quoted) script = script.substr(1, script.size() - 2);
    script = MachineArgument(script);
    if (quoted) script = "\"" + script + "\"";
  }
  return silent + blanks + script;
}
#endif

int Main() {
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    ReportStartFailure(error);
    return kStartFailed;
  }
  Platform& platform = host->Get();

  ui::UserInterfaceOptions options;
  std::string answers;
  const bool has_answers = platform.environment.Get("CRX_ANSWERS", &answers) && !answers.empty();
  if (has_answers) options.answers_alternative = MachinePath(answers);
  std::string record;
  const bool has_record = platform.environment.Get("CRX_RECORD", &record) && !record.empty();
  if (has_record) options.record_alternative = MachinePath(record);
  std::unique_ptr<ui::UserInterfaceService> service =
      ui::StartUserInterface(platform, options, &error);
  if (!service) {
    ReportStartFailure(error);
    return kStartFailed;
  }
  const std::string command_line = platform.processes.CommandLineTail();

#ifdef _WIN32
  // The rich-edit control the interpreter's text windows use; a system
  // without it still runs scripts.
  std::unique_ptr<Library> rich_edit = platform.shell.LoadLibrary("RICHED32.DLL");
  // A silent run ("/sms:" first, as the interpreter itself decides) shows
  // its window minimised.
  const bool silent = command_line.compare(0, 5, "/sms:") == 0;
  ui::UseFolderBrowserWindow();
  ui::InterpreterWindow window;
  WindowHost window_host(window, platform, has_answers || has_record);
  interp::ScriptInterpreter interpreter(platform, service->front_end(), window_host);
  if (!window.Create(silent)) {
    ReportStartFailure("The main window cannot be created.");
    return kStartFailed;
  }
  // A run answered from a file has nobody to close its window at the end:
  // the program ends with the run, as on Linux.
  return window.RunMessageLoop([&interpreter, &command_line, has_answers]() {
    const interp::RunResult result = interpreter.Run(command_line);
    return ui::InterpreterRunEnd{result.exit_code, result.keep_window && !has_answers};
  });
#else
  // Started by hand on Linux, the script and response file may be host
  // paths.
  const std::string machine_command_line = MachineCommandLine(command_line);
  ConsoleHost console(platform, service->front_end(),
                      has_answers || platform.terminal.IsInteractive(), has_answers || has_record);
  BelowStatusFrontEnd front_end(service->front_end(), console);
  interp::ScriptInterpreter interpreter(platform, front_end, console);
  const interp::RunResult result = interpreter.Run(machine_command_line);
  console.Finish();
  return result.exit_code;
#endif
}

}  // namespace
}  // namespace crx

#ifdef _WIN32
int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  // The shortcut commands create the shell's link objects through COM.
  const HRESULT com = ::CoInitialize(nullptr);
  const int status = crx::Main();
  if (SUCCEEDED(com)) ::CoUninitialize();
  return status;
}
#else
int main() { return crx::Main(); }
#endif
