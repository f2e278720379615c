#include "builder/command_line.h"

#include "builder/reproducible.h"
#include "common/format.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx::builder {

bool VerifyArchive(ArchiveEngine& engine, UserInterface& ui, const std::string& archive_path,
                   const std::string& caption) {
  if (archive_path.empty()) return true;
  // An archive on several removable disks is read from its first disk on,
  // and the last one is in the drive now.
  const bool volumes = engine.completed_volumes() >= 2;
  if (volumes) {
    if (ui.MessageBox("VERIFY ARCHIVE...\n\nThis is a multi-volume archive.\nPlease insert the "
                      "1st volume so verification can begin.\n(Click cancel to skip "
                      "verification.)",
                      caption, kMbOkCancel) != kIdOk) {
      return true;
    }
    engine.platform().clock.Sleep(1000);
  }
  const bool verify_was_on = engine.options().verify;
  engine.SetOptions("+V");
  bool ok = false;
  for (;;) {
    ok = engine.ExtractArchive(archive_path, nullptr, std::string());
    const bool opened = !engine.open_failed();
    engine.CloseArchive();
    if (ok || !volumes || opened) break;
    // The first volume could not be opened: the disk in the drive is not
    // the one, or the drive has none.
    FileSystem& files = engine.platform().files;
    const bool not_ready =
        files.GetAttributes(archive_path) == kInvalidAttributes && LastError() == kErrorNotReady;
    const std::string question =
        not_ready ? std::string("DRIVE NOT READY\nRetry or Cancel Verification")
                  : Format("CAN'T FIND REQUIRED FILE ON MEDIA...\n'%s'\nRetry or Cancel "
                           "Verification",
                           archive_path.c_str());
    if (ui.MessageBox(question, caption, kMbOkCancel) != kIdOk) {
      if (!verify_was_on) engine.SetOptions("-V");
      return false;
    }
  }
  if (!verify_was_on) engine.SetOptions("-V");
  if (!ok) {
    ui.MessageBox("ERROR\nVerification Failed", caption, kMbOk | kMbIconHand);
  } else if (volumes) {
    ui.MessageBox("Multiple Volume Verification Complete", caption,
                  kMbOk | kMbIconAsterisk | kMbTopmost);
  }
  return ok;
}

std::string ScriptPathFromCommandLine(const std::string& command_line) {
  std::string path = Trimmed(command_line);
  // Windows hands a path with spaces over in quotes (a script dropped on
  // the program, a shortcut): the quotes are not part of the path.
  if (path.size() >= 2 && path.front() == '"' && path.back() == '"') {
    path = Trimmed(path.substr(1, path.size() - 2));
  }
  return path;
}

CommandLineRun RunCommandLineScript(ScriptHost& host, const std::string& command_line) {
  Platform& platform = host.platform();
  UserInterface& ui = host.ui();
  CommandLineRun run;
  run.script = ScriptPathFromCommandLine(command_line);

  SystemTime fixed_time;
  std::string why;
  const SourceDate source_date = SourceDateEpoch(platform.environment, &fixed_time, &why);
  if (source_date == SourceDate::kInvalid) {
    run.bad_source_date = true;
    ui.MessageBox("ERROR: " + why, host.Caption(), kMbOk | kMbIconHand);
    return run;
  }

  ArchiveEngine engine(platform, ui);
  engine.log().set_silent(true);
  engine.log().set_echo_silent_reports(true);
  if (source_date == SourceDate::kSet) engine.set_creation_time(fixed_time);

  engine.set_defer_replace(true);
  run.script_ok = ProcessScript(engine, host, run.script, &run.archive);
  if (!run.script_ok) {
    ui.MessageBox(Format("ERROR: Failed to process script file\n<%s>\n(current directory: <%s>)",
                         run.script.c_str(), platform.files.CurrentFolder().c_str()),
                  host.Caption(), kMbOk | kMbIconHand);
  }
  if (host.hooks().UserQuit()) {
    // Interrupted (Ctrl-C): the half-made archive is thrown away.
    run.interrupted = true;
    engine.AbortArchive();
    engine.DiscardArchive();
    run.errors_reported = engine.log().errors_reported();
    return run;
  }
  // A script that stopped early may leave its archive open: closing it
  // finishes it, so that what was added can be verified.
  engine.CloseArchive();
  const std::string pending = engine.pending_archive();
  if (!pending.empty()) {
    // Verified where it was written; only a good archive takes its name.
    run.verified = VerifyArchive(engine, ui, pending, host.Caption());
    if (!run.verified) {
      engine.DiscardArchive();
    } else if (!engine.CommitArchive()) {
      run.verified = false;
    }
  } else if (run.archive.empty() || engine.completed_archive() == run.archive) {
    // No archive, or one put in place already when the next was started.
    run.verified = VerifyArchive(engine, ui, run.archive, host.Caption());
  } else {
    // The archive could not be finished and was not written (the failure
    // was reported): there is nothing of this run to verify.
    run.verified = false;
  }
  run.errors_reported = engine.log().errors_reported();
  return run;
}

}  // namespace crx::builder
