// Cratex: the archive builder. Started with a command line, that whole
// line is the path of a builder script: the builder runs it, verifies the
// archive it made and ends, without a window.
//
//   Cratex SCRIPT
//
// Exit status: 0 when the script ran to its end, the archive verified and
// no error was reported on the way (files the script names but that do not
// exist count as errors); 1 otherwise (also after Ctrl-C, which stops the
// script and throws the new archive away); 2 for a missing script path.
// A new archive takes its name only once it is built and verified, so an
// archive of that name from an earlier build survives any failure. On
// Linux the script path may be a host path; it is turned into the emulated
// machine's path (paths inside the script are the machine's own).
//
// Started without a script on Windows, the builder opens its main window on
// a new document (cratex_window.h) and ends when the user exits it. On
// Linux it runs its document on the terminal, one command a line
// (builder/terminal_builder.h); without a terminal it prints its usage and
// exits 2.
//
//   Cratex --automation          serves one "Cratex.Archive" object over
//                                standard input/output (JSON-RPC 2.0, one
//                                request per line; docs/automation.md)
//   Cratex.exe -Embedding        (Windows; also /Automation) the COM local
//                                server, started by COM for one client
// Every other start on Windows refreshes the class's registration.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include "builder/automation.h"
#include "builder/automation_rpc.h"
#include "builder/command_line.h"
#include "builder/script.h"
#include "builder/terminal_builder.h"
#include "common/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "programs/machine_path.h"
#include "ui/feedback.h"
#include "ui/service.h"

#ifdef _WIN32
#include "programs/automation_server_win32.h"
#include "programs/cratex_window.h"
#include "ui/win32/feedback_win32.h"
#else
#include <csignal>
#endif

namespace crx {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: Cratex SCRIPT\n"
    "       Cratex            (on a terminal: build archives interactively)\n"
    "       Cratex --automation\n"
    "\n"
    "Builds a self-extracting archive from a builder script, verifies it and\n"
    "ends. The whole command line is the script's path.\n"
    "Exit status: 0 built and verified, 1 failed (see the messages and the\n"
    "daily error log in TEMP), 2 no script given.\n"
    "\n"
    "--automation serves one automation object (the methods of Cratex.Archive)\n"
    "over standard input and output: JSON-RPC 2.0, one request per line.\n";

// Counts the error messages (OK-only boxes with the stop icon) the builder
// shows, so that the exit status can say whether anything went wrong.
class CountingInterface : public UserInterface {
 public:
  explicit CountingInterface(UserInterface& inner) : inner_(inner) {}

  int MessageBox(const std::string& text, const std::string& caption,
                 uint32_t flags) override {
    if ((flags & kMbTypeMask) == kMbOk && (flags & kMbIconMask) == kMbIconHand) ++errors_;
    return inner_.MessageBox(text, caption, flags);
  }
  int ReplaceExistingFile(const std::string& path) override {
    return inner_.ReplaceExistingFile(path);
  }
  int SetupInformation(SetupInfo* info) override { return inner_.SetupInformation(info); }
  int AskForDisk(bool reading, int disk_number) override {
    return inner_.AskForDisk(reading, disk_number);
  }

  int errors() const { return errors_; }

 private:
  UserInterface& inner_;
  int errors_ = 0;
};

// Ctrl-C asks the script to stop: the script ends before its next line (or
// between two pieces of the file being added), and the new archive is
// thrown away.
class InterruptHooks : public ui::FeedbackHooks {
 public:
  explicit InterruptHooks(Terminal& terminal) : terminal_(terminal) {}
  bool UserQuit() override { return terminal_.Interrupted(); }

 private:
  Terminal& terminal_;
};

class ProgramHost : public builder::ScriptHost {
 public:
  ProgramHost(Platform& platform, UserInterface& ui, bool unattended)
      : ScriptHost(platform, ui), unattended_(unattended), hooks_(platform.terminal) {}

  ui::FeedbackHooks& hooks() override { return hooks_; }

  ui::Feedback* NewFeedback() override {
#ifdef _WIN32
    return ui::MakeFeedback(platform(), unattended_, ui::MakeWin32Feedback).release();
#else
    return ui::MakeFeedback(platform(), unattended_).release();
#endif
  }

 private:
  bool unattended_;
  InterruptHooks hooks_;
};

int Main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  std::string error;
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    std::fprintf(stderr, "Cratex: %s\n", error.c_str());
    return kExitFailed;
  }
  Platform& platform = host->Get();
  // The builder writes where its user tells it (the archive, the script's
  // commands): the guard for programs run from archives does not apply.
  platform.files.AllowAllWrites();

  const std::string tail = platform.processes.CommandLineTail();
  switch (builder::AutomationStartFromCommandLine(tail)) {
    case builder::AutomationStart::kLineProtocol: {
#ifndef _WIN32
      // A client that goes away mid-answer must not end the server before
      // it has abandoned the archive the client left open.
      std::signal(SIGPIPE, SIG_IGN);
#endif
      builder::AutomationObject object(platform);
      builder::ServeRpc(object, platform.terminal);
      return kExitOk;
    }
    case builder::AutomationStart::kComServer:
#ifdef _WIN32
      return RunAutomationServer(platform);
#else
      std::fputs("Cratex: /Automation and -Embedding start the COM server of the Windows "
                 "program; here use --automation\n", stderr);
      return kExitUsage;
#endif
    case builder::AutomationStart::kNone:
      break;
  }
#ifdef _WIN32
  // Failures are silent: a builder without the rights to register still
  // builds archives.
  builder::RegisterAutomationClass(platform.registry, platform.processes.ProgramPath());
#endif

  ui::UserInterfaceOptions options;
  std::string answers;
  const bool has_answers = platform.environment.Get("CRX_ANSWERS", &answers);
  if (has_answers) options.answers_alternative = MachinePath(answers);
  std::string record;
  const bool has_record = platform.environment.Get("CRX_RECORD", &record);
  if (has_record) options.record_alternative = MachinePath(record);
  std::unique_ptr<ui::UserInterfaceService> service =
      ui::StartUserInterface(platform, options, &error);
  if (!service) {
    std::fprintf(stderr, "Cratex: %s\n", error.c_str());
    return kExitFailed;
  }

#ifdef _WIN32
  UserInterface& shown = *service;
#else
  // On Linux the builder is a command-line tool: its notices are lines on
  // the terminal, not questions to answer.
  ui::TerminalNotices notices(platform.terminal, *service, "Cratex");
  UserInterface& shown = notices;
#endif
  CountingInterface ui(shown);

  const std::string command_line = builder::ScriptPathFromCommandLine(tail);
  if (command_line.empty()) {
#ifdef _WIN32
    // Without a script the builder is the window people use by hand.
    return RunBuilderWindow(platform, *service, service->front_end(),
                            has_answers || has_record);
#else
    // On a terminal the builder's document is driven one command a line;
    // without one there is nobody to drive it.
    if (platform.terminal.IsInteractive()) {
      return builder::RunTerminalBuilder(platform, shown, service->front_end(),
                                         has_answers || has_record, MachinePath);
    }
    std::fputs(kUsage, stderr);
    return kExitUsage;
#endif
  }

  platform.terminal.CatchInterrupt();
  ProgramHost script_host(platform, ui, has_answers || has_record);
  builder::CommandLineRun run =
      builder::RunCommandLineScript(script_host, MachinePath(command_line));

  if (run.interrupted || platform.terminal.Interrupted()) {
    platform.terminal.WriteError(
        "Cratex: interrupted; no archive was written (an archive already there is unchanged)\n");
    return kExitFailed;
  }
  const bool ok = run.script_ok && run.verified && run.errors_reported == 0 && ui.errors() == 0;
  if (ok && !run.archive.empty()) {
    platform.terminal.Write(Format("Cratex: built and verified %s\n", run.archive.c_str()));
  } else if (!ok && run.script_ok && run.verified) {
    platform.terminal.WriteError("Cratex: the archive was built, but errors were reported\n");
  }
  return ok ? kExitOk : kExitFailed;
}

}  // namespace
}  // namespace crx

int main(int argc, char** argv) { return crx::Main(argc, argv); }
