#include "builder/automation.h"

#include "common/cmdline.h"
#include "common/format.h"
#include "engine/extract_policy.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "platform/platform.h"

namespace crx::builder {

int UnattendedInterface::MessageBox(const std::string& text, const std::string& caption,
                                    uint32_t flags) {
  ++answered_;
  int answer = kIdOk;
  switch (flags & kMbTypeMask) {
    case kMbOk: answer = kIdOk; break;
    case kMbYesNo: answer = kIdNo; break;
    case kMbAbortRetryIgnore: answer = kIdAbort; break;
    default: answer = kIdCancel; break;  // OK/Cancel, Yes/No/Cancel, Retry/Cancel
  }
  const char* given = answer == kIdOk ? "OK" : answer == kIdNo ? "No"
                                      : answer == kIdAbort ? "Abort" : "Cancel";
  AppendErrorLog(platform_, Format("%s (automation server, answered %s without asking):\n%s",
                                   caption.c_str(), given, text.c_str()));
  return answer;
}

int UnattendedInterface::ReplaceExistingFile(const std::string& path) {
  ++answered_;
  AppendErrorLog(platform_, Format("automation server: the existing file\n<%s>\nwas kept "
                                   "(nobody to ask whether to replace it)",
                                   path.c_str()));
  return kIdReplaceNo;
}

int UnattendedInterface::SetupInformation(SetupInfo* info) {
  (void)info;
  ++answered_;
  AppendErrorLog(platform_, "automation server: a setup archive needs its setup information "
                            "(company, product, description, setup program); nobody can give "
                            "it here, so the archive was not created");
  return kIdCancel;
}

AutomationObject::AutomationObject(Platform& platform)
    : platform_(platform), ui_(platform), script_host_(platform, ui_) {}

AutomationObject::~AutomationObject() { Release(); }

std::unique_ptr<ArchiveEngine> AutomationObject::NewEngine() {
  auto engine = std::make_unique<ArchiveEngine>(platform_, ui_);
  engine->log().set_silent(true);
  chosen_replace_mode_ = 0;
  return engine;
}

void AutomationObject::EndEngine() {
  engine_.reset();
  chosen_replace_mode_ = 0;
}

void AutomationObject::LogError(const std::string& text) {
  if (engine_) {
    engine_->ReportError(text);
  } else {
    AppendErrorLog(platform_, text);
  }
}

bool AutomationObject::CreateArchive(const std::string& path) {
  if (engine_) return false;
  engine_ = NewEngine();
  if (!pending_digest_.empty()) {
    engine_->set_password_digest(pending_digest_);
    pending_digest_.clear();
  }
  if (!pending_options_.empty()) {
    std::string text = pending_options_;
    for (char& c : text) {
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    // Encrypted members are compressed first: E asks for Z as well.
    if (text.find('E') != std::string::npos && text.find('Z') == std::string::npos) text += 'Z';
    engine_->SetOptions(text);
    pending_options_.clear();
  }
  if (!pending_ignore_.empty()) {
    engine_->SetIgnoreList(pending_ignore_);
    pending_ignore_.clear();
  }
  // A failed creation keeps the engine: the client learns of the failure
  // from the result and ends it with CloseArchive or AbortArchive.
  return engine_->CreateArchive(path);
}

bool AutomationObject::AddDirectory(const std::string& path) {
  return engine_ != nullptr && engine_->AddDirectory(path);
}

bool AutomationObject::AddFile(const std::string& path) {
  return engine_ != nullptr && engine_->AddFile(path);
}

bool AutomationObject::ProcessScript(const std::string& path) {
  if (!engine_) return false;
  std::string archive;
  return builder::ProcessScript(*engine_, script_host_, path, &archive);
}

bool AutomationObject::ExtractArchive(const std::string& path) {
  if (engine_ && engine_->writing()) {
    LogError(Format("ERROR: ExtractArchive <%s> was called while the archive\n<%s>\nis being "
                    "written; close or abort that archive first",
                    path.c_str(), engine_->archive_path().c_str()));
    return false;
  }
  if (!engine_) engine_ = NewEngine();
  ArchiveEngine& engine = *engine_;
  engine.log().set_silent(true);
  engine.policy().set_replace_mode(chosen_replace_mode_ != 0 ? chosen_replace_mode_
                                                             : kReplaceIfNewer);

  // The password of a protected archive comes from SetPassword: there is
  // nobody to type it.
  if (!engine.ReadArchiveInfo(path) && engine.open_failed()) return false;
  const std::string stored = engine.identification().password_digest;
  if (!stored.empty()) {
    if (!has_password_) {
      engine.ReportError(Format("ERROR: the archive\n<%s>\nis password protected: give its "
                                "password with SetPassword before ExtractArchive",
                                path.c_str()));
      engine.set_password_accepted(false);
      return false;
    }
    if (!PasswordMatchesDigest(password_, stored)) {
      engine.ReportError(Format("ERROR: the password given with SetPassword does not open "
                                "the archive\n<%s>",
                                path.c_str()));
      engine.set_password_accepted(false);
      return false;
    }
  }
  engine.set_password_accepted(!stored.empty());
  return engine.ExtractArchive(path, nullptr, std::string());
}

void AutomationObject::SetOptions(const std::string& text) {
  if (engine_) {
    engine_->SetOptions(text);
  } else {
    pending_options_ = text;
  }
}

bool AutomationObject::CloseArchive() {
  if (!engine_) return false;
  const bool ok = engine_->CloseArchive();
  EndEngine();
  return ok;
}

bool AutomationObject::AbortArchive() {
  if (!engine_) return false;
  engine_->AbortArchive();
  EndEngine();
  return true;
}

bool AutomationObject::SetPassword(const std::string& password) {
  pending_digest_ = DigestFromPaddedPassword(password);
  password_ = password;
  has_password_ = true;
  return true;
}

bool AutomationObject::SetExtractionOverwriteMode(int32_t mode) {
  if (!engine_ || mode < kReplaceAlways || mode > kReplaceIfNewer) return false;
  engine_->policy().set_replace_mode(mode);
  chosen_replace_mode_ = mode;
  return true;
}

void AutomationObject::SetIgnorableFileExtensions(const std::string& list) {
  pending_ignore_ = list;
}

bool AutomationObject::Release() {
  if (!engine_) return false;
  const bool abandoned = engine_->writing();
  if (abandoned) {
    engine_->ReportError(Format("automation server: the client let go of its object while the "
                                "archive\n<%s>\nwas still being written (no CloseArchive): the "
                                "archive was abandoned, and an archive already there is "
                                "unchanged",
                                engine_->archive_path().c_str()));
    engine_->AbortArchive();
  } else {
    engine_->CloseArchive();
  }
  EndEngine();
  return abandoned;
}

AutomationStart AutomationStartFromCommandLine(const std::string& tail) {
  // Only a line made of switches alone starts a server: any other line is
  // a script's path, which may hold spaces and such words.
  AutomationStart start = AutomationStart::kNone;
  for (const std::string& raw : cmdline::SplitArguments(tail)) {
    std::string word = raw;
    for (char& c : word) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    if (word == "--automation") {
      start = AutomationStart::kLineProtocol;
    } else if (word == "/automation" || word == "-automation" || word == "/embedding" ||
               word == "-embedding") {
      if (start == AutomationStart::kNone) start = AutomationStart::kComServer;
    } else {
      return AutomationStart::kNone;
    }
  }
  return start;
}

namespace {

// Sets the default value of root\path (creating the keys).
bool SetDefault(Registry& registry, RegKey root, const std::string& path,
                const std::string& value) {
  ScopedRegKey key(registry);
  if (registry.CreateKey(root, path, RegAccess::kAll, key.Out(), nullptr) != kErrorSuccess) {
    return false;
  }
  return registry.SetString(key.Get(), "", value) == kErrorSuccess;
}

bool WriteRegistration(Registry& registry, RegKey root, const std::string& prefix,
                       const std::string& program_path) {
  const std::string clsid = prefix + "CLSID\\" + kAutomationClassId;
  const std::string iface = prefix + "Interface\\" + kAutomationInterfaceId;
  // Plain dispatch interfaces are marshalled by the system's own proxy.
  const char* dispatch_proxy = "{00020420-0000-0000-C000-000000000046}";
  return SetDefault(registry, root, prefix + kAutomationProgId, kAutomationTypeName) &&
         SetDefault(registry, root, prefix + kAutomationProgId + "\\CLSID", kAutomationClassId) &&
         SetDefault(registry, root, clsid, kAutomationTypeName) &&
         SetDefault(registry, root, clsid + "\\LocalServer32", "\"" + program_path + "\"") &&
         SetDefault(registry, root, clsid + "\\ProgID", kAutomationProgId) &&
         SetDefault(registry, root, iface, kAutomationInterfaceName) &&
         SetDefault(registry, root, iface + "\\ProxyStubClsid", dispatch_proxy) &&
         SetDefault(registry, root, iface + "\\ProxyStubClsid32", dispatch_proxy);
}

}  // namespace

bool RegisterAutomationClass(Registry& registry, const std::string& program_path) {
  if (WriteRegistration(registry, kHKeyClassesRoot, "", program_path)) return true;
  return WriteRegistration(registry, kHKeyCurrentUser, "Software\\Classes\\", program_path);
}

}  // namespace crx::builder
