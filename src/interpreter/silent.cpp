// Silent (unattended) mode: the /sms: command-line option, response-file
// lookups, the status report to the distribution system, sms_on and
// sms_off, and the message service that answers for the user in silent
// mode.

#include "common/format.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"
#include "ui/front_end.h"
#include "ui/message_box.h"
#include "ui/message_service.h"
#include "ui/silent_mode.h"

namespace crx::interp {

namespace {

constexpr const char* kResponseSection = "Kestrova";

// The status library's entry point: MIF name, manufacturer, product,
// version, locale, serial number, description, success flag.
#if defined(__i386__) && defined(__GNUC__)
#define CRX_MIF_CALL __attribute__((stdcall))
#else
#define CRX_MIF_CALL
#endif
using InstallStatusMifFunction = uint32_t CRX_MIF_CALL (*)(const char*, const char*, const char*,
                                                          const char*, const char*, const char*,
                                                          const char*, int);

// Steps shared by both lookups: a response file must be named, and a
// relative one is made absolute against the current folder once, so the
// lookups never depend on a default folder for initialisation files.
bool PrepareResponseFile(ScriptInterpreter& k) {
  if (k.silent_mode.response_file().empty()) {
    k.Log("RSP(GetResponse<int>): no response file\n");
    return false;
  }
  const std::string file = k.silent_mode.response_file();
  if (file[0] != '\\' && !(file.size() > 1 && file[1] == ':')) {
    k.silent_mode.set_response_file(k.platform.files.CurrentFolder() + "\\" + file);
  }
  return true;
}

}  // namespace

bool ScriptInterpreter::ParseSilentOption(const std::string& command_line, std::string* rest) {
  const ui::SilentOption option = ui::ParseSilentOption(command_line);
  if (option.has_response_file &&
      (option.response_file.empty() || !platform.files.Exists(option.response_file))) {
    // Shown also in silent mode: the program quits without a log.
    ui::ShowMessageBox(
        front_end,
        Format("Kestrova - SMS  MODE ERROR\nRESPOSE FILE <%s> does not exists\n\nCMD LINE <%s>",
               option.response_file.c_str(), command_line.c_str()),
        "Kestrova", kMbOk | kMbIconHand);
    return false;
  }
  if (option.silent) silent_mode = ui::SilentMode(option);
  *rest = option.rest;
  return true;
}

bool ScriptInterpreter::GetResponse(const std::string& key, std::string* value) {
  if (!PrepareResponseFile(*this)) return false;
  std::string found;
  if (!ui::ReadResponseText(platform, silent_mode.response_file(), kResponseSection, key,
                            ui::kResponseTextBuffer, &found)) {
    LogF("RSP<%s>: %s := not found \n", silent_mode.response_file().c_str(), key.c_str());
    return false;
  }
  LogF("RSP<%s>: %s := %s\n", silent_mode.response_file().c_str(), key.c_str(), found.c_str());
  if (!found.empty() && found[0] == '$') {
    found = VariableText(found.substr(1));
    LogF("RSP<%s>: lookup/subst %s := %s\n", silent_mode.response_file().c_str(), key.c_str(),
         found.c_str());
  }
  *value = found;
  return true;
}

bool ScriptInterpreter::GetResponseInt(const std::string& key, int* value) {
  if (!PrepareResponseFile(*this)) return false;
  int found = -1;
  if (!ui::ReadResponseInt(platform, silent_mode.response_file(), kResponseSection, key, &found)) {
    LogF("RSP<%s>: %s := not found \n", silent_mode.response_file().c_str(), key.c_str());
    return false;
  }
  LogF("RSP<%s>: %s := %d\n", silent_mode.response_file().c_str(), key.c_str(), found);
  *value = found;
  return true;
}

void ScriptInterpreter::ReportStatusMIF(bool success, const std::string& text) {
  if (!silent_mode.silent()) return;
  std::unique_ptr<Library> library = platform.shell.LoadLibrary("ismif32.dll");
  if (!library) {
    LogF("\nSMSMODE/MIF ERROR\nLoadLibrary(ismif32.dll) failed 0x%x\nMaybe SMS is not installed "
         "on the target system?\nThis DLL is needed in order to write MIF state files\n",
         LastError());
    FlushLog();
    return;
  }
  void* entry = library->Entry("InstallStatusMIF");
  if (entry == nullptr) {
    LogF("SMSMODE/MIF ERROR: InstallStatusMIF not in ismif32.dll 0x%x\\n", LastError());
    FlushLog();
    return;
  }
  const std::string vendor = VariableText("VENDOR");
  const std::string app = VariableText("APP");
  const std::string version = VariableText("VER");
  if (vendor.empty() || app.empty() || version.empty()) return;
  std::string mif_name = app;
  for (char& c : mif_name) {
    if (c == ' ' || c == '.') c = '_';
  }
  auto function = reinterpret_cast<InstallStatusMifFunction>(entry);
  const uint32_t result = function(mif_name.c_str(), vendor.c_str(), app.c_str(), version.c_str(),
                                   "ENU", "999", text.c_str(), success ? 1 : 0);
  LogF("SMSMODE/MIF MSG <%s> %d", text.c_str(), success ? 1 : 0);
  LogF("RESULT OF InstallStatusMIF CALL = 0x%x", result);
  FlushLog();
}

// The message service's silent records go where every other line of the
// run goes, and only while logging is on.
bool ScriptInterpreter::ServiceLog::IsOpen() const { return k_.logging; }
void ScriptInterpreter::ServiceLog::Write(const std::string& text) { k_.Log(text); }
void ScriptInterpreter::ServiceLog::Flush() { k_.FlushLog(); }

int ScriptInterpreter::Message(const std::string& text, uint32_t flags) {
  if (!messages_) {
    service_log_ = std::make_unique<ServiceLog>(*this);
    ui::SilentMessageTexts texts;
    texts.heading = "SMSMODE MESSAGE";
    texts.yes_answer = "MESSAGE response: YES\n";
    texts.ok_answer = "MESSAGE response: OK\n";
    messages_ = std::make_unique<ui::MessageService>(front_end, *service_log_, silent_mode,
                                                     "Kestrova",
                                                     texts);
  }
  const int answer = messages_->Message(text, flags);
  // Records written while the log is off (the pre-scan) are not kept.
  messages_->ClearUnlogged();
  return answer;
}

int ScriptInterpreter::ShowAndLog(const std::string& text, uint32_t flags) {
  if (!silent_mode.silent()) Log(text + "\n");
  return Message(text, flags);
}

bool ScriptInterpreter::CmdSmsOn() {
  silent_mode.set_silent(true);
  return true;
}

bool ScriptInterpreter::CmdSmsOff() {
  silent_mode.set_silent(false);
  return true;
}

}  // namespace crx::interp
