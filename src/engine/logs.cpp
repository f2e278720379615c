#include "engine/logs.h"

#include <cstdarg>
#include <cstdlib>

#include "common/terminal_text.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace crx {

namespace {

// The process-wide part, kept together in one place.
struct ProcessLogState {
  int logging = -1;
  std::string last_temp_member;
};

ProcessLogState& State() {
  static ProcessLogState state;
  return state;
}

constexpr const char* kSettingsKey = "SOFTWARE\\Velmora\\Cratex\\1.00";

bool WriteAll(File& file, const std::string& text) {
  // Every write goes to the current end, as a stream opened for appending
  // does, so that programs sharing the daily error log do not overwrite
  // each other's lines.
  return file.Seek(0, SeekFrom::kEnd, nullptr) && file.Write(text.data(), text.size());
}

// The header a run writes when it opens the daily error log.
std::string ErrorLogHeader(const SystemTime& now) {
  return Format("\nCratex ERROR LOG 02%d:02%d %d/%d/%d \n\n", now.hour, now.milliseconds,
                now.day, now.month, now.year);
}

std::string ErrorLogEntry(const SystemTime& now, const std::string& message) {
  return Format("[%d:%d %d/%d/%d] %s\n", now.hour, now.milliseconds, now.day, now.month,
                now.year, message.c_str());
}

std::string DailyErrorLogPath(Environment& environment, const SystemTime& now) {
  return Format("%s/Cratex_%02d%02d%04d.err", LogFolder(environment).c_str(), now.day,
                now.month, now.year);
}

}  // namespace

std::unique_ptr<File> OpenLogFile(Platform& platform, const std::string& path, bool append,
                                  bool* refused) {
  FileSystem& files = platform.files;
  if (!append) files.DeleteFile(path);  // a link goes, not what it points at
  std::unique_ptr<File> file =
      files.Open(path, kAccessWrite, kShareRead | kShareWrite,
                 append ? Disposition::kOpenAlways : Disposition::kCreateNew, kOpenNoFollow);
  if (refused != nullptr) {
    const uint32_t error = LastError();
    *refused = !file && (error == kErrorCantAccessFile || error == kErrorFileExists);
  }
  return file;
}

bool AppendErrorLog(Platform& platform, const std::string& message) {
  const SystemTime now = platform.clock.UtcNow();
  std::unique_ptr<File> file =
      OpenLogFile(platform, DailyErrorLogPath(platform.environment, now), true);
  return file && WriteAll(*file, ErrorLogHeader(now)) &&
         WriteAll(*file, ErrorLogEntry(now, message));
}

int LoggingSetting() { return State().logging; }
void SetLoggingSetting(int value) { State().logging = value; }

void ResetLogState() { State() = ProcessLogState(); }

int LoadLoggingSetting(Registry& registry) {
  ProcessLogState& state = State();
  if (state.logging != -1) return state.logging;
  ScopedRegKey key(registry);
  if (registry.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kAll, key.Out()) !=
          kErrorSuccess &&
      registry.OpenKey(kHKeyCurrentUser, kSettingsKey, RegAccess::kRead, key.Out()) !=
          kErrorSuccess) {
    state.logging = 0;
    return state.logging;
  }
  uint32_t type = 0;
  std::string data;
  long rc = registry.QueryValue(key.Get(), "Logging", &type, &data);
  if (rc == kErrorFileNotFound) {
    // A read-only key keeps the value missing; the setting is still 1.
    registry.SetString(key.Get(), "Logging", "1");
    data = "1";
  } else if (rc != kErrorSuccess) {
    state.logging = 0;
    return state.logging;
  }
  state.logging = std::atoi(data.c_str());
  return state.logging;
}

std::string LogFolder(Environment& environment) {
  std::string folder;
  if (environment.Get("TEMP", &folder)) return folder;
  if (environment.Get("TMP", &folder)) return folder;
  return "C:/TEMP";
}

std::string TempMemberPath(Platform& platform, const std::string& name) {
  std::string folder;
  if (!platform.environment.Get("TEMP", &folder) &&
      !platform.environment.Get("TMP", &folder)) {
    if (platform.files.IsFolder("C:\\TEMP")) {
      folder = "C:\\TEMP";
    } else if (platform.files.IsFolder("D:\\TEMP")) {
      folder = "D:\\TEMP";
    } else {
      folder = "\\TEMP";
    }
  }
  std::string path;
  if (!platform.files.IsFolder(folder)) {
    path = Format("_CRXtmp_%s", name.c_str());
  } else {
    path = Format("%s\\%s", folder.c_str(), name.c_str());
  }
  State().last_temp_member = path;
  return path;
}

void DeleteTempMember(Platform& platform) {
  std::string& last = State().last_temp_member;
  if (last.empty()) return;
  platform.files.DeleteFile(last);
  last.clear();
}

const std::string& LastTempMember() { return State().last_temp_member; }

EngineLog::EngineLog(Platform& platform, UserInterface& ui)
    : platform_(platform), ui_(ui) {
  LoadLoggingSetting(platform.registry);
}

EngineLog::~EngineLog() = default;

std::unique_ptr<File> EngineLog::OpenText(const std::string& path, bool append) {
  bool refused = false;
  std::unique_ptr<File> file = OpenLogFile(platform_, path, append, &refused);
  if (refused) {
    AppendErrorLog(platform_, Format("log not written: '%s' is a link or cannot be replaced",
                                     path.c_str()));
  }
  return file;
}

std::string EngineLog::ErrorLogPath(const SystemTime& now) {
  return DailyErrorLogPath(platform_.environment, now);
}

bool EngineLog::OpenErrorLog(const SystemTime& now) {
  if (error_log_) return true;
  const std::string path = ErrorLogPath(now);
  bool refused = false;
  // One file a day, shared by every program: appended to, created when
  // missing; never through a link.
  error_log_ = OpenLogFile(platform_, path, true, &refused);
  if (!error_log_) {
    if (refused) {
      platform_.terminal.WriteError(Format(
          "%s: error log not written: '%s' is a link or cannot be replaced\n",
          caption_.c_str(), path.c_str()));
    }
    return false;
  }
  WriteAll(*error_log_, ErrorLogHeader(now));
  return true;
}

void EngineLog::ReportError(const std::string& message) {
  ++errors_reported_;
  if (!silent_) {
    ui_.MessageBox(message, caption_, kMbOk | kMbTopmost);
    return;
  }
  // The message may quote archive texts (member names, paths): their
  // control characters are escaped before they reach the terminal.
  if (echo_silent_) {
    platform_.terminal.WriteError(caption_ + ": " + TerminalMessage(message) + "\n");
  }
  SystemTime now = platform_.clock.UtcNow();
  if (OpenErrorLog(now)) WriteAll(*error_log_, ErrorLogEntry(now, message));
}

bool EngineLog::OpenActivityLog(ActivityKind kind, const std::string& archive_path) {
  activity_.reset();
  if (LoggingSetting() != 1) return false;
  std::string path = Format("%s/Cratex.log", LogFolder(platform_.environment).c_str());
  activity_ = OpenText(path, kind == ActivityKind::kVerify);
  if (!activity_) return false;
  switch (kind) {
    case ActivityKind::kCreate:
      LogLine("Create Archive <%s>...\n", archive_path.c_str());
      break;
    case ActivityKind::kList:
      LogText("ARCHIVE LIST\n");
      LogText("ExtractArchive...\n");
      break;
    case ActivityKind::kExtract:
      LogText("ExtractArchive...\n");
      break;
    case ActivityKind::kVerify:
      LogText("\nARCHIVE VERIFICATION\n");
      LogText("ExtractArchive...\n");
      break;
  }
  return true;
}

void EngineLog::LogLine(const char* format, ...) {
  if (!activity_) return;
  va_list args;
  va_start(args, format);
  std::string text = FormatV(format, args);
  va_end(args);
  WriteAll(*activity_, text);
}

void EngineLog::LogText(const std::string& text) {
  if (activity_) WriteAll(*activity_, text);
}

void EngineLog::CloseActivityLog(ActivityEnd end) {
  if (!activity_) return;
  switch (end) {
    case ActivityEnd::kCloseCreated: LogText("(close created archive)\n"); break;
    case ActivityEnd::kCloseExtracting: LogText("(close extracting archive)\n"); break;
    case ActivityEnd::kAbortCreated: LogText("(abort created archive)\n"); break;
    case ActivityEnd::kAbortExtracting:
      LogText("(close/abort extracting archive)\n");
      break;
    case ActivityEnd::kCannotOpenRead:
      LogText("ExtractArchive... can't open for read\n");
      break;
  }
  EndActivityLog();
}

void EngineLog::EndActivityLog() {
  if (!activity_) return;
  activity_->Flush();
  activity_.reset();
}

void EngineLog::FlushActivityLog() {
  if (activity_) activity_->Flush();
}

}  // namespace crx
