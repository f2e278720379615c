// crx: the archive engine on the command line, without running an archive.
//
//   crx info FILE          identification and type records, setup information
//   crx list FILE          the members
//   crx verify FILE        read and check every member, write nothing
//   crx extract FILE [-o DIR | --stored-locations]
//                    [--replace always|never|newer|prompt]
//                    [--flatten] [--overwrite-readonly]
//   crx browse FILE        the archive browser on the terminal
//   --password TEXT        for password-protected archives (any command)
//
// Exit status: 0 done, 1 failed (the reason on standard error), 2 usage.
// On Linux the archive and the output folder may be host paths; they are
// turned into paths of the emulated machine.
//
// An archive written across several disks is read from its first volume:
// on a removable drive crx asks for each disk in turn; on a fixed disk the
// volume files FILE-1, FILE-2 ... are taken from beside FILE.
//
// Without -o, extract writes below the current folder: drive letters, roots
// and ".." elements are taken off the member names, so an archive cannot
// reach a file elsewhere unless the user asks for the stored paths with
// --stored-locations. Texts from the archive are printed with their
// control characters escaped.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/filetime.h"
#include "common/format.h"
#include "common/terminal_text.h"
#include "common/winpath.h"
#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "engine/user_interface.h"
#include "platform/platform.h"
#include "programs/machine_path.h"
#include "ui/browser.h"
#include "ui/console/browser_console.h"
#include "ui/feedback.h"
#include "ui/feedback_hooks.h"
#include "ui/password_dialogs.h"
#include "ui/service.h"


namespace crx {
namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "usage: crx info FILE\n"
    "       crx list FILE\n"
    "       crx verify FILE\n"
    "       crx extract FILE [-o DIR | --stored-locations]\n"
    "                   [--replace always|never|newer|prompt]\n"
    "                   [--flatten] [--overwrite-readonly]\n"
    "       crx browse FILE\n"
    "       (any command) --password TEXT\n"
    "\n"
    "Reads, checks and extracts Cratex archives without running them.\n"
    "  info     the archive's identification and type records\n"
    "  list     size, packed size, modification time (UTC) and name of each member\n"
    "  verify   reads and checks every member; writes nothing\n"
    "  extract  writes the members below the current folder, or below DIR with\n"
    "           -o. Without -o, drive letters, roots and \"..\" are removed from\n"
    "           the member names, so nothing lands outside the current folder;\n"
    "           with -o the stored roots are removed and a name that climbs out\n"
    "           of DIR (\"..\") is refused. --stored-locations writes to the paths\n"
    "           stored on the archive instead (anywhere the names point), and\n"
    "           --flatten keeps only the file names. Existing files: prompt\n"
    "           (default; without a terminal they are kept), always, never, or\n"
    "           newer (replace only with a member that is not older).\n"
    "           --overwrite-readonly replaces read-only files too.\n"
    "  browse   the archive browser: list, find, view and extract members\n"
    "           interactively (or from an answers file, CRX_ANSWERS)\n"
    "Exit status: 0 done, 1 failed (the reason on standard error), 2 usage.\n";

struct Arguments {
  std::string command;
  std::string file;
  std::string output;
  std::string password;
  bool has_password = false;
  bool stored_locations = false;
  int replace = kReplacePrompt;
  bool flatten = false;
  bool overwrite_read_only = false;
};

bool ParseArguments(int argc, char** argv, Arguments* args, std::string* error) {
  std::vector<std::string> words(argv + 1, argv + argc);
  for (size_t i = 0; i < words.size(); ++i) {
    const std::string& w = words[i];
    auto value = [&](std::string* out) {
      if (i + 1 >= words.size()) {
        *error = w + " needs a value";
        return false;
      }
      *out = words[++i];
      return true;
    };
    if (w == "-o" || w == "--output") {
      if (!value(&args->output)) return false;
    } else if (w == "--password") {
      if (!value(&args->password)) return false;
      args->has_password = true;
    } else if (w == "--replace") {
      std::string mode;
      if (!value(&mode)) return false;
      if (mode == "always") {
        args->replace = kReplaceAlways;
      } else if (mode == "never") {
        args->replace = kReplaceNever;
      } else if (mode == "newer") {
        args->replace = kReplaceIfNewer;
      } else if (mode == "prompt") {
        args->replace = kReplacePrompt;
      } else {
        *error = "unknown replace mode '" + mode + "'";
        return false;
      }
    } else if (w == "--stored-locations") {
      args->stored_locations = true;
    } else if (w == "--flatten") {
      args->flatten = true;
    } else if (w == "--overwrite-readonly") {
      args->overwrite_read_only = true;
    } else if (!w.empty() && w[0] == '-' && w != "-") {
      *error = "unknown option " + w;
      return false;
    } else if (args->command.empty()) {
      args->command = w;
    } else if (args->file.empty()) {
      args->file = w;
    } else {
      *error = "unexpected argument '" + w + "'";
      return false;
    }
  }
  if (args->command.empty() || args->file.empty()) {
    *error = "a command and an archive are needed";
    return false;
  }
  if (args->command != "info" && args->command != "list" && args->command != "verify" &&
      args->command != "extract" && args->command != "browse") {
    *error = "unknown command '" + args->command + "'";
    return false;
  }
  if (args->command != "extract" &&
      (!args->output.empty() || args->flatten || args->overwrite_read_only ||
       args->stored_locations || args->replace != kReplacePrompt)) {
    *error = "output options belong to extract";
    return false;
  }
  if (args->stored_locations && !args->output.empty()) {
    *error = "-o and --stored-locations exclude each other";
    return false;
  }
  if (args->stored_locations && args->flatten) {
    *error = "--flatten needs an output folder, and --stored-locations has none";
    return false;
  }
  return true;
}

std::string TimeText(FileTime time) {
  SystemTime t;
  if (!FileTimeToSystemTime(time, &t)) return "(invalid time)      ";
  return Format("%04u-%02u-%02u %02u:%02u:%02u", t.year, t.month, t.day, t.hour, t.minute,
                t.second);
}

class Tool {
 public:
  Tool(Platform& platform, ui::TerminalNotices& ui, ui::FrontEnd& front_end, bool unattended,
       const Arguments& args)
      : platform_(platform), ui_(ui), front_end_(front_end), unattended_(unattended),
        args_(args),
        list_window_([&platform, unattended]() { return ui::MakeFeedback(platform, unattended); }),
        engine_(platform, ui) {
    // Listing an archive that spans disks shows the progress of its own.
    engine_.set_own_feedback(&list_window_);
  }

  int Run() {
    archive_ = MachinePath(args_.file);
    if (args_.command == "info") return Info();
    if (!Unlock()) return kExitFailed;
    if (args_.command == "list") return List();
    if (args_.command == "verify") return Verify();
    if (args_.command == "browse") return Browse();
    return Extract();
  }

 private:
  void Out(const std::string& text) { platform_.terminal.Write(text); }
  int Fail(const std::string& text) {
    platform_.terminal.WriteError("crx: " + TerminalMessage(text) + "\n");
    return kExitFailed;
  }
  // A text from the archive (or a path) on one line of output.
  static std::string Shown(const std::string& text) { return TerminalText(text); }

  // Reads the header records; false (reported) when the file holds no
  // archive the engine can read.
  bool ReadHeader() {
    engine_.ReadArchiveInfo(archive_);
    if (engine_.open_failed()) {
      Fail(Format("%s: no archive found (not a Cratex archive, or it cannot be read)",
                  archive_.c_str()));
      return false;
    }
    return ui_.errors() == 0;
  }

  // A protected archive opens with --password, or with the password the
  // user types in the unlock dialog.
  bool Unlock() {
    if (!ReadHeader()) return false;
    const std::string& digest = engine_.identification().password_digest;
    if (!engine_.identification().HasPassword()) return true;
    if (args_.has_password) {
      if (!PasswordMatchesDigest(args_.password, digest)) {
        Fail("wrong password");
        return false;
      }
    } else if (args_.command != "verify" && !ui::RunUnlockDialog(front_end_, digest)) {
      Fail("the archive is password protected: give --password");
      return false;
    }
    engine_.set_password_accepted(true);
    return true;
  }

  int Info() {
    if (!ReadHeader()) return kExitFailed;
    const IdentificationRecord& id = engine_.identification();
    const TypeRecord& type = engine_.type_record();
    SystemTime c = id.created;
    Out(Format("archive:      %s\n", Shown(archive_).c_str()));
    Out(Format("version:      %u\n", id.version));
    Out(Format("created:      %04u-%02u-%02u %02u:%02u:%02u.%03u UTC\n", c.year, c.month, c.day,
               c.hour, c.minute, c.second, c.milliseconds));
    Out(Format("block size:   %d\n", id.block_size));
    if (id.block_count == 0 && id.file_count == 0) {
      Out("members:      not counted (empty, or written across several volumes)\n");
    } else {
      Out(Format("files:        %d (not counting empty ones)\n", id.file_count));
      Out(Format("blocks:       %d\n", id.block_count));
    }
    Out(Format("password:     %s\n", id.HasPassword() ? "yes" : "no"));
    Out(Format("type:         0x%x (%s%s)\n", type.archive_type,
               type.IsSetup() ? "setup" : "plain",
               type.IsEncrypted() ? ", encrypted" : ""));
    if (type.IsSetup()) {
      Out(Format("company:      %s\n", Shown(type.setup.company).c_str()));
      Out(Format("product:      %s\n", Shown(type.setup.product).c_str()));
      Out(Format("description:  %s\n", Shown(type.setup.description).c_str()));
      Out(Format("setup:        %s\n", Shown(type.setup.setup_program).c_str()));
      Out(Format("wait for:     %s\n", Shown(type.setup.wait_program).c_str()));
    }
    return kExitOk;
  }

  int List() {
    bool ok = engine_.ListArchive(archive_);
    engine_.CloseArchive();
    if (!ok || ui_.errors() != 0) return Fail("the archive could not be listed completely");
    int64_t total = 0;
    int64_t packed = 0;
    Out("      size      packed  modified (UTC)       name\n");
    for (const MemberEntry& m : engine_.members()) {
      // A stored member (compressed size 0) takes its own size on the archive.
      const int32_t on_archive = m.compressed_size != 0 ? m.compressed_size : m.size;
      Out(Format("%10d  %10d  %s  %s\n", m.size, on_archive, TimeText(m.modified).c_str(),
                 Shown(m.name).c_str()));
      total += m.size;
      packed += on_archive;
    }
    Out(Format("%10lld  %10lld  %d members\n", static_cast<long long>(total),
               static_cast<long long>(packed), static_cast<int>(engine_.members().size())));
    return kExitOk;
  }

  int Verify() {
    engine_.SetOptions("+V");
    bool ok = engine_.ExtractArchive(archive_, nullptr, "");
    engine_.CloseArchive();
    if (!ok || ui_.errors() != 0) return Fail("verification failed");
    Out("archive verified: every member is intact\n");
    return kExitOk;
  }

  int Extract() {
    // List first, as the archive browser does, so every member has an
    // entry whose status the extraction fills in.
    bool ok = engine_.ListArchive(archive_);
    engine_.CloseArchive();
    if (!ok || ui_.errors() != 0) return Fail("the archive could not be read");
    ExtractPolicy& policy = engine_.policy();
    policy.set_replace_mode(args_.replace);
    policy.set_overwrite_read_only(args_.overwrite_read_only);
    if (args_.flatten) engine_.SetOptions("+F");
    std::string output;
    if (!args_.output.empty()) {
      output = MachinePath(args_.output);
    } else if (!args_.stored_locations) {
      // The current folder is the output folder, and every name is kept
      // inside it; say once that names were changed, as careful archive
      // tools do.
      output = platform_.files.CurrentFolder();
      policy.set_contain_names(true);
      for (const MemberEntry& m : engine_.members()) {
        if (args_.flatten || !NameLeavesFolder(m.name)) continue;
        platform_.terminal.WriteError(
            "crx: removing drive letters, roots and \"..\" from member names "
            "(--stored-locations extracts to the stored paths)\n");
        break;
      }
    }
    ok = engine_.ExtractArchive(archive_, nullptr, output);
    engine_.CloseArchive();

    int extracted = 0, kept = 0, read_only = 0, failed = 0;
    for (const MemberEntry& m : engine_.members()) {
      switch (m.status) {
        case kMemberExtracted: ++extracted; break;
        case kMemberReplaceRefused: ++kept; break;
        case kMemberReadOnly: ++read_only; break;
        case kMemberFailed: ++failed; break;
        default: break;
      }
    }
    Out(Format("%d extracted", extracted));
    if (kept) Out(Format(", %d existing files kept", kept));
    if (read_only) Out(Format(", %d read-only files kept (use --overwrite-readonly)", read_only));
    if (failed) Out(Format(", %d failed", failed));
    Out("\n");
    if (!ok || failed != 0 || ui_.errors() != 0) return Fail("extraction failed");
    return kExitOk;
  }

  // The browser, with the password (if any) already checked by Unlock.
  int Browse() {
    ui::BrowserOptions options;
    options.path = archive_;
    options.pre_authorised = true;
    options.native = ui::RunConsoleBrowser;
    Platform& platform = platform_;
    const bool unattended = unattended_;
    options.make_feedback = [&platform, unattended]() {
      return ui::MakeFeedback(platform, unattended);
    };
    options.own_feedback = &list_window_;
    const int result = ui::ShowArchiveBrowser(platform_, ui_, front_end_, options);
    if (result != ui::kBrowserClosed || ui_.errors() != 0) return Fail("browsing failed");
    return kExitOk;
  }

  Platform& platform_;
  ui::TerminalNotices& ui_;
  ui::FrontEnd& front_end_;
  bool unattended_;
  const Arguments& args_;
  ui::OwnFeedbackWindow list_window_;
  ArchiveEngine engine_;
  std::string archive_;
};

int Main(int argc, char** argv) {
  if (argc == 2 && (std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0)) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, &args, &error)) {
    std::fprintf(stderr, "crx: %s\n\n%s", error.c_str(), kUsage);
    return kExitUsage;
  }
  std::unique_ptr<HostPlatform> host = OpenHostPlatform(&error);
  if (!host) {
    std::fprintf(stderr, "crx: %s\n", error.c_str());
    return kExitFailed;
  }
  Platform& platform = host->Get();
  // crx writes where its user tells it: below -o, the current folder, or
  // the stored paths when asked for them.
  platform.files.AllowAllWrites();
  ui::UserInterfaceOptions options;
  options.terminal_only = true;
  std::string answers;
  if (platform.environment.Get("CRX_ANSWERS", &answers)) options.answers_alternative = MachinePath(answers);
  std::string record;
  if (platform.environment.Get("CRX_RECORD", &record)) options.record_alternative = MachinePath(record);
  std::unique_ptr<ui::UserInterfaceService> service =
      ui::StartUserInterface(platform, options, &error);
  if (!service) {
    std::fprintf(stderr, "crx: %s\n", error.c_str());
    return kExitFailed;
  }
  ui::TerminalNotices ui(platform.terminal, *service, "crx");
  Tool tool(platform, ui, service->front_end(), !answers.empty() || !record.empty(), args);
  return tool.Run();
}

}  // namespace
}  // namespace crx

int main(int argc, char** argv) { return crx::Main(argc, argv); }
