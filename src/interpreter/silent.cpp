// Silent (unattended) mode: the /sms: command-line option, response-file
// lookups, the status report to the distribution system, sms_on and
// sms_off, and the message service that answers for the user in silent
// mode.

#include "common/format.h"
#include "common/profile.h"
#include "engine/user_interface.h"
#include "interpreter/script_interpreter.h"
#include "ui/front_end.h"
#include "ui/message_box.h"

namespace crx::interp {

namespace {

constexpr const char* kSilentOption = "/sms:";
constexpr size_t kSilentOptionLength = 5;
constexpr const char* kResponseSection = "Kestrova";
// Text values are read into a 256-byte buffer.
constexpr size_t kResponseBuffer = 256;

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

// Reads the response file through the platform; false when it cannot be read.
bool ReadResponseFile(ScriptInterpreter& k, Profile* profile) {
  std::unique_ptr<File> file = k.platform.files.Open(
      k.response_file, kAccessRead, kShareRead | kShareWrite, Disposition::kOpenExisting);
  if (!file) return false;
  std::string text;
  char buffer[4096];
  size_t got = 0;
  while (file->Read(buffer, sizeof buffer, &got) && got > 0) text.append(buffer, got);
  *profile = Profile(text);
  return true;
}

// Steps shared by both lookups: a response file must be named, and a
// relative one is made absolute against the current folder once, so the
// lookups never depend on a default folder for initialisation files.
bool PrepareResponseFile(ScriptInterpreter& k) {
  if (k.response_file.empty()) {
    k.Log("RSP(GetResponse<int>): no response file\n");
    return false;
  }
  const std::string& file = k.response_file;
  if (file[0] != '\\' && !(file.size() > 1 && file[1] == ':')) {
    k.response_file = k.platform.files.CurrentFolder() + "\\" + file;
  }
  return true;
}

}  // namespace

bool ScriptInterpreter::ParseSilentOption(const std::string& command_line, std::string* rest) {
  if (command_line.compare(0, kSilentOptionLength, kSilentOption) != 0) {
    *rest = command_line;
    return true;
  }
  const size_t start = kSilentOptionLength;
  size_t end = command_line.find(' ', start);
  if (end == std::string::npos) end = command_line.size();
  const std::string word = command_line.substr(start, end - start);
  if (word != "silent") {
    if (word.empty() || !platform.files.Exists(word)) {
      // Shown also in silent mode: the program quits without a log.
      ui::MessageBoxDialog box(
          Format("Kestrova - SMS  MODE ERROR\nRESPOSE FILE <%s> does not exists\n\nCMD LINE <%s>",
                 word.c_str(), command_line.c_str()),
          "Kestrova", kMbOk | kMbIconHand);
      front_end.Show(box);
      return false;
    }
    response_file = word;
  }
  silent = true;
  const size_t next = command_line.find_first_not_of(' ', end);
  *rest = next == std::string::npos ? std::string() : command_line.substr(next);
  return true;
}

bool ScriptInterpreter::GetResponse(const std::string& key, std::string* value) {
  if (!PrepareResponseFile(*this)) return false;
  Profile profile;
  std::string found = "-";
  if (ReadResponseFile(*this, &profile)) {
    found = profile.GetString(kResponseSection, key, "-", kResponseBuffer);
  }
  if (found == "-") {
    LogF("RSP<%s>: %s := not found \n", response_file.c_str(), key.c_str());
    return false;
  }
  LogF("RSP<%s>: %s := %s\n", response_file.c_str(), key.c_str(), found.c_str());
  if (!found.empty() && found[0] == '$') {
    found = VariableText(found.substr(1));
    LogF("RSP<%s>: lookup/subst %s := %s\n", response_file.c_str(), key.c_str(), found.c_str());
  }
  *value = found;
  return true;
}

bool ScriptInterpreter::GetResponseInt(const std::string& key, int* value) {
  if (!PrepareResponseFile(*this)) return false;
  Profile profile;
  int found = -1;
  if (ReadResponseFile(*this, &profile)) found = profile.GetInt(kResponseSection, key, -1);
  if (found == -1) {
    LogF("RSP<%s>: %s := not found \n", response_file.c_str(), key.c_str());
    return false;
  }
  LogF("RSP<%s>: %s := %d\n", response_file.c_str(), key.c_str(), found);
  *value = found;
  return true;
}

void ScriptInterpreter::ReportStatusMIF(bool success, const std::string& text) {
  if (!silent) return;
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

int ScriptInterpreter::Message(const std::string& text, uint32_t flags) {
  if (silent) {
    LogF("\nSMSMODE MESSAGE (flags=0x%x)\n%s\n", flags, text.c_str());
    const bool yes_no = (flags & kMbYesNo) != 0;
    Log(yes_no ? "MESSAGE response: YES\n" : "MESSAGE response: OK\n");
    FlushLog();
    return yes_no ? kIdYes : kIdOk;
  }
  ui::MessageBoxDialog box(text, "Kestrova", flags);
  return front_end.Show(box);
}

int ScriptInterpreter::ShowAndLog(const std::string& text, uint32_t flags) {
  if (!silent) Log(text + "\n");
  return Message(text, flags);
}

bool ScriptInterpreter::CmdSmsOn() {
  silent = true;
  return true;
}

bool ScriptInterpreter::CmdSmsOff() {
  silent = false;
  return true;
}

}  // namespace crx::interp
