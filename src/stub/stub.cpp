#include "stub/stub.h"

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "stub/handover.h"
#include "stub/setup_confirm_dialog.h"
#include "stub/stub_command_line.h"
#include "stub/stub_messages.h"
#include "stub/temp_folder.h"
#include "ui/feedback.h"
#include "ui/feedback_hooks.h"
#include "ui/front_end.h"
#include "ui/password_dialogs.h"
#include "ui/silent_mode.h"

namespace crx::stub {

namespace {

constexpr const char* kFeedbackTitle = "Cratex - Extracting Files";

// The engine's view of the stub while it reads: window messages between
// steps, and the feedback window of the extraction once one is attached.
class StubHooks : public ui::FeedbackHooks {
 public:
  explicit StubHooks(StubHost& host) : host_(host) {}

  void ProcessMessages() override {
    if (host_.process_messages) host_.process_messages();
  }

 private:
  StubHost& host_;
};

class Stub {
 public:
  Stub(const StubVariant& variant, StubHost& host, const StubCommand& command)
      : host_(host), platform_(host.platform), command_(command), mode_(command),
        log_(platform_), messages_(host.front_end, log_, mode_),
        engine_(platform_, host.ui), hooks_(host),
        context_{variant, platform_, engine_, messages_, log_, mode_} {
    engine_.log().set_silent(mode_.silent());
    engine_.set_stub_reader(true, variant.archive_offset);
    engine_.set_hooks(&hooks_);
    context_.process_messages = host.process_messages;
    context_.host = &host;
  }

  ~Stub() { engine_.set_hooks(nullptr); }

  int Run() {
    // The archive behind the stub's own bytes. An archive that cannot be
    // read leaves the setup information and the digest empty, and the run
    // goes on as for a plain archive (the browser then says what is wrong).
    engine_.ReadArchiveInfo(std::string());
    const SetupInfo info = engine_.setup_info();
    const int32_t members = engine_.identification().file_count;

    const int unlocked = Unlock();
    if (unlocked != kStubDone) return unlocked;

    if (info.company.empty()) {
      const bool browsed = BrowseOwnArchive(context_, false);
      return End(browsed);
    }

    if (!command_.silent) {
      const int confirmed = Confirm(info);
      if (confirmed != kStubDone) return confirmed;
    }

    TempFolder folder;
    if (!MakeTempFolder(platform_, messages_, &folder)) {
      constexpr const char* kNoFolder = "ERROR\nCannot find a temporary directory to use.";
      if (command_.silent) {
        // Nobody sees a silent run: its log says why it stopped.
        messages_.StubFatal(platform_, kNoFolder);
      } else {
        messages_.StubMessage(kNoFolder, 0);
      }
      return kStubFailed;
    }

    std::unique_ptr<ui::Feedback> feedback;
    if (!command_.silent && host_.make_feedback) {
      feedback = host_.make_feedback();
      if (feedback && feedback->Open(kFeedbackTitle, members)) hooks_.Attach(feedback.get());
    }

    // Every member into the private folder and nowhere else: it is the
    // output folder, and a stored name's drive, root and ".." elements are
    // dropped, so that an absolute or climbing name lands inside it too.
    const std::string output = platform_.files.FullPath(folder.folder);
    platform_.files.AllowWritesBelow(output);
    engine_.policy().set_contain_names(true);
    const bool extracted = engine_.ExtractArchive(std::string(), nullptr, output);
    if (feedback) feedback->End(extracted ? ui::kFeedbackSuccess : 0);
    hooks_.Attach(nullptr);
    if (!extracted) return kStubFailed;  // the folder and its files stay

    log_.UseEngineLog(&engine_.log());
    folder.output = output;
    const bool ran = RunSetupPhase(context_, folder);
    return End(ran);
  }

 private:
  // The password, when the archive has one. kStubDone when the archive may
  // be read.
  int Unlock() {
    const std::string digest = engine_.password_digest();
    if (digest.empty()) return kStubDone;
    if (command_.silent) {
      if (!command_.has_response_file) {
        messages_.StubFatal(platform_,
                            "Illegal SMS Archive\nThis archive is locked with a password and so "
                            "requires user \ninput, however, no response file has been specified");
        return kStubFailed;
      }
      std::string password;
      if (!ReadResponse(platform_, command_.response_file, "password", &password)) {
        messages_.StubFatal(platform_,
                            "Illegal SMS Archive\nThis archive is locked with a password and so "
                            "requires user \ninput, however, a password was not found in the "
                            "response file");
        return kStubFailed;
      }
      if (!PasswordMatchesDigest(password, digest)) {
        messages_.StubFatal(platform_, "ERROR - invalid passwd in RESPONSE file");
        return kStubFailed;
      }
    } else if (!ui::RunUnlockDialog(host_.front_end, digest)) {
      return kStubCancelled;
    }
    engine_.set_password_accepted(true);
    return kStubDone;
  }

  // The setup confirmation; "Browse..." lists the archive and asks again.
  int Confirm(const SetupInfo& info) {
    for (;;) {
      SetupConfirmDialog dialog(info);
      const int answer = host_.front_end.Show(dialog);
      if (answer == kIdBrowse) {
        BrowseOwnArchive(context_, true);
        continue;
      }
      return answer == kIdYes ? kStubDone : kStubCancelled;
    }
  }

  // The end of a run that handed over to the browser or the setup phase;
  // handed_over is false when the browser could not open the archive (it
  // said why).
  int End(bool handed_over) {
    if (log_.IsOpen()) {
      log_.Write("Cratex COMPLETE\n");
      log_.Flush();
    }
    return handed_over ? kStubDone : kStubFailed;
  }

  StubHost& host_;
  Platform& platform_;
  const StubCommand& command_;
  // The run's silent state, passed to everything that asks.
  const ui::SilentMode mode_;
  StubLog log_;
  StubMessages messages_;
  ArchiveEngine engine_;
  StubHooks hooks_;
  HandoverContext context_;
};

}  // namespace

int RunStub(const StubVariant& variant, StubHost& host, const std::string& command_tail) {
  const StubCommand command = ParseStubCommandLine(command_tail);
  if (command.has_response_file && !host.platform.files.Exists(command.response_file)) {
    // Shown as a message box in silent mode too: there is no log yet.
    host.ui.MessageBox(Format("Kestrova - SMS  MODE ERROR\nRESPOSE FILE <%s> does not exists",
                              command.response_file.c_str()),
                       kStubCaption, kMbOk);
    return kStubFailed;
  }
  Stub stub(variant, host, command);
  return stub.Run();
}

}  // namespace crx::stub
