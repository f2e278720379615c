// The automation object "Cratex.Archive": eleven methods through which
// another program builds and extracts archives without the builder's
// windows. One object drives at most one ArchiveEngine at a time, plus
// three pending values (password digest, option text, ignore list) that
// wait for the next CreateArchive.
//
// The object is the same on every target; the Windows program serves it as
// a COM local server, the Linux program over standard input and output
// (automation_rpc.h).
//
// Every engine the object makes is silent: failures come back as false and
// their details go to the daily error log. The object never asks anything:
// a question the engine would put to a person gets the refusing answer,
// and its text goes to the error log too.
//
// Releasing the object while an archive is still being written (the client
// ended, crashed or was killed without CloseArchive) abandons that archive:
// nothing is put under its name, and an archive already there is
// unchanged. A client that wants the archive calls CloseArchive; one that
// never said it was done cannot be trusted to have added everything.
#ifndef CRX_BUILDER_AUTOMATION_H
#define CRX_BUILDER_AUTOMATION_H

#include <cstdint>
#include <memory>
#include <string>

#include "builder/script.h"
#include "engine/archive_engine.h"
#include "engine/user_interface.h"

namespace crx {
struct Platform;
class Registry;
class Terminal;
}

namespace crx::builder {

// Answers every question of an engine without a person: OK for a notice,
// No / Cancel for anything else, and the replace question "no"; each text
// is written to the daily error log, so nothing waits on a server that has
// no one in front of it.
class UnattendedInterface : public UserInterface {
 public:
  explicit UnattendedInterface(Platform& platform) : platform_(platform) {}
  int MessageBox(const std::string& text, const std::string& caption, uint32_t flags) override;
  int ReplaceExistingFile(const std::string& path) override;
  int SetupInformation(SetupInfo* info) override;
  // How many questions or notices were answered so far.
  int answered() const { return answered_; }

 private:
  Platform& platform_;
  int answered_ = 0;
};

class AutomationObject {
 public:
  explicit AutomationObject(Platform& platform);
  // Applies Release().
  ~AutomationObject();
  AutomationObject(const AutomationObject&) = delete;
  AutomationObject& operator=(const AutomationObject&) = delete;

  // ---- the eleven methods, in their dispatch order ---------------------
  // 1. False when an engine is already there (an open archive, a failed
  // creation or an extraction not yet closed); otherwise a new silent
  // engine with its default options takes the pending values and creates
  // the archive at path, which is used as given.
  bool CreateArchive(const std::string& path);
  // 2, 3. False without an engine.
  bool AddDirectory(const std::string& path);
  bool AddFile(const std::string& path);
  // 4. The script processor on the object's engine; false without one.
  bool ProcessScript(const std::string& path);
  // 5. Extracts every member to the location stored on the archive, with
  // the replace mode "only if newer" unless SetExtractionOverwriteMode
  // chose another for this engine. Makes a silent engine when there is
  // none. A password-protected archive is opened with the password of the
  // last SetPassword; false when there is none or it does not match. False
  // while the engine is writing an archive (the archive being written
  // would be lost).
  bool ExtractArchive(const std::string& path);
  // 6. With an engine: applied at once; otherwise kept as the pending
  // option text for the next CreateArchive (replacing an earlier one).
  void SetOptions(const std::string& text);
  // 7. False without an engine; otherwise closes the archive (finishing one
  // being written) and ends the engine. False too when finishing the
  // archive failed (the failure is in the error log).
  bool CloseArchive();
  // 8. False without an engine; otherwise abandons the archive (one being
  // written is deleted) and ends the engine.
  bool AbortArchive();
  // 9. The pending password digest (for the next CreateArchive) and the
  // password for the next extractions; always true.
  bool SetPassword(const std::string& password);
  // 10. With an engine and mode 1 (always), 2 (never) or 3 (only if
  // newer): the replace mode of this engine's extractions. False otherwise.
  bool SetExtractionOverwriteMode(int32_t mode);
  // 11. The pending ignore list for the next CreateArchive.
  void SetIgnorableFileExtensions(const std::string& list);

  // ---- the end of the object ---------------------------------------------
  // The client let go of the object. An archive being written is
  // abandoned (noted in the error log); any other engine is closed. True
  // when an archive was abandoned.
  bool Release();

  // ---- state, for the servers and tests -----------------------------------
  bool has_engine() const { return engine_ != nullptr; }
  bool writing() const { return engine_ != nullptr && engine_->writing(); }
  const std::string& pending_password_digest() const { return pending_digest_; }
  const std::string& pending_options() const { return pending_options_; }
  const std::string& pending_ignore_list() const { return pending_ignore_; }
  ArchiveEngine* engine() { return engine_.get(); }

 private:
  std::unique_ptr<ArchiveEngine> NewEngine();
  void EndEngine();
  void LogError(const std::string& text);

  Platform& platform_;
  UnattendedInterface ui_;
  ScriptHost script_host_;
  std::unique_ptr<ArchiveEngine> engine_;
  // 0 until SetExtractionOverwriteMode chose a mode for this engine.
  int32_t chosen_replace_mode_ = 0;

  std::string pending_digest_;
  std::string pending_options_;
  std::string pending_ignore_;
  bool has_password_ = false;
  std::string password_;  // as given to SetPassword, for extractions
};

// What the registry says about the class, and the dispatch identifiers
// (1 to 11, in the order of the methods above).
inline constexpr const char* kAutomationProgId = "Cratex.Archive";
inline constexpr const char* kAutomationTypeName = "Cratex Archive";
inline constexpr const char* kAutomationClassId = "{CE70C7A4-57AE-11D3-B44F-A6653C609E27}";
inline constexpr const char* kAutomationInterfaceId = "{CE70C7A6-57AE-11D3-B44F-A6653C609E27}";
inline constexpr const char* kAutomationInterfaceName = "ICratexArchive";
// The names of the methods, index = dispatch identifier - 1.
inline constexpr const char* kAutomationMethods[11] = {
    "CreateArchive", "AddDirectory", "AddFile", "ProcessScript", "ExtractArchive",
    "SetOptions", "CloseArchive", "AbortArchive", "SetPassword",
    "SetExtractionOverwriteMode", "SetIgnorableFileExtensions"};

// How the builder was asked to start.
enum class AutomationStart {
  kNone,          // a normal start
  kLineProtocol,  // "--automation": one object over standard input/output
  kComServer,     // "/Automation", "-Automation", "/Embedding" or "-Embedding"
                  // (any case): the COM local server
};
// Looks at the words of the builder's command line tail: a server starts
// only when every word is one of these switches ("--automation" wins).
AutomationStart AutomationStartFromCommandLine(const std::string& tail);

// Writes the registration of the class for the program at program_path:
// the program identifier, the class with its local server and program
// identifier, and the dispatch interface (marshalled as a plain dispatch
// interface). HKEY_CLASSES_ROOT is tried first; where it may not be
// written (no administrator rights) the same keys go under
// HKEY_CURRENT_USER\Software\Classes. False when neither could be
// written.
bool RegisterAutomationClass(Registry& registry, const std::string& program_path);

}  // namespace crx::builder

#endif  // CRX_BUILDER_AUTOMATION_H
