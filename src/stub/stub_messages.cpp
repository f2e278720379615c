#include "stub/stub_messages.h"

#include "common/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
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
  own_ = platform_.files.Open(path, kAccessWrite, kShareRead, Disposition::kCreateAlways);
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

int StubMessages::StubMessage(const std::string& text, uint32_t flags) {
  if (!silent_) return ui_.MessageBox(text, kStubCaption, flags);
  if (log_.IsOpen()) {
    log_.Write(Format("\nMESSAGE (flags=0x%x)\n%s\n", flags, text.c_str()));
    log_.Flush();
  }
  // The MB_YESNO bit decides: MB_RETRYCANCEL shares it and also gets IDYES.
  return (flags & kMbYesNo) != 0 ? kIdYes : kIdOk;
}

void StubMessages::StubFatal(Platform& platform, const std::string& text) {
  log_.OpenOwn(Format("%s/Cratex.log", LogFolder(platform.environment).c_str()));
  StubMessage(text, 0);
  log_.Close();
}

}  // namespace crx::stub
