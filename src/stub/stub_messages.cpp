#include "stub/stub_messages.h"

#include "common/format.h"
#include "engine/logs.h"
#include "platform/platform.h"

namespace crx::stub {

StubLog::StubLog(Platform& platform) : platform_(platform) {}

StubLog::~StubLog() { Close(); }

void StubLog::UseEngineLog(EngineLog* log) {
  own_.reset();
  engine_log_ = log;
}

bool StubLog::OpenOwn(const std::string& path) {
  engine_log_ = nullptr;
  bool refused = false;
  own_ = OpenLogFile(platform_, path, false, &refused);
  if (refused) {
    AppendErrorLog(platform_, Format("log not written: '%s' is a link or cannot be replaced",
                                     path.c_str()));
  }
  return own_ != nullptr;
}

void StubLog::Close() {
  if (own_) own_->Flush();
  own_.reset();
  engine_log_ = nullptr;
}

bool StubLog::IsOpen() const {
  return own_ != nullptr || (engine_log_ != nullptr && engine_log_->ActivityLogOpen());
}

void StubLog::Write(const std::string& text) {
  if (own_) {
    // A log that cannot be written loses the line; nothing else to do.
    (void)own_->Write(text.data(), text.size());
  } else if (engine_log_ != nullptr) {
    engine_log_->LogText(text);
  }
}

void StubLog::Flush() {
  if (own_) {
    own_->Flush();
  } else if (engine_log_ != nullptr) {
    engine_log_->FlushActivityLog();
  }
}

void StubMessages::StubFatal(Platform& platform, const std::string& text) {
  if (!log_.OpenOwn(Format("%s/Cratex.log", LogFolder(platform.environment).c_str()))) {
    // No log of its own (a missing folder, or a link in the way): the
    // reason the run stops goes to the error log instead.
    AppendErrorLog(platform, text);
    service_.ClearUnlogged();
    return;
  }
  // What could not be logged on the way here first (the temporary
  // folder's own reasons), then the reason the run stops.
  log_.Write(service_.unlogged());
  service_.ClearUnlogged();
  StubMessage(text, 0);
  log_.Close();
}

}  // namespace crx::stub
