#include "engine/archive_engine.h"

#include <cctype>

#include "engine/archive_reader.h"
#include "engine/archive_writer.h"
#include "platform/platform.h"

namespace crx {

namespace {

int32_t default_archive_offset = FULL_STUB_SIZE;

}  // namespace

int32_t DefaultArchiveOffset() { return default_archive_offset; }
void SetDefaultArchiveOffset(int32_t offset) { default_archive_offset = offset; }

// ---------------------------------------------------------------------------
// EngineCore

EngineCore::EngineCore(Platform& platform_in, UserInterface& ui_in)
    : platform(platform_in), ui(ui_in), log(platform_in, ui_in),
      policy(platform_in, log, ui_in) {
  policy.set_hooks(hooks);
}

bool EngineCore::GrowBuffer(std::vector<uint8_t>* buffer, size_t size, bool quit_fails) {
  if (quit_fails && user_quit) return false;
  if (buffer->size() >= size) return true;
  // The old contents are not needed: release them first, so the old and the
  // new block are never held at the same time.
  std::vector<uint8_t>().swap(*buffer);
#if defined(__cpp_exceptions)
  // The programs built with exceptions report a failed allocation like
  // any other shortage; the stubs, built without them, end on it.
  try {
    buffer->resize(size);
  } catch (...) {
    std::vector<uint8_t>().swap(*buffer);
    return false;
  }
#else
  buffer->resize(size);
#endif
  return true;
}

void EngineCore::ShowStatus(const std::string& text) {
  hooks->ProcessMessages();
  if (hooks->UserQuit()) user_quit = true;
  if (!user_quit && !hooks->HasFeedback()) hooks->StatusText(text);
}

void EngineCore::ReportAndLog(const std::string& message) {
  log.ReportError(message);
  log.LogLine("%s\n", message.c_str());
}

// ---------------------------------------------------------------------------
// ArchiveEngine

ArchiveEngine::ArchiveEngine(Platform& platform, UserInterface& ui)
    : core_(platform, ui), reader_(std::make_unique<ArchiveReader>(core_)) {}


ArchiveEngine::~ArchiveEngine() { CloseArchive(); }

void ArchiveEngine::SetOptions(const std::string& text) {
  if (text.empty()) return;
  const bool on = text[0] == '+';
  for (char c : text) {
    switch (std::toupper(static_cast<unsigned char>(c))) {
      case 'D': core_.options.subdirectories = on; break;
      case 'E': core_.options.encrypt = on; break;
      case 'F': core_.options.flatten = on; break;
      case 'M': core_.options.minimal_stub = on; break;
      case 'P': core_.options.project = on; break;
      case 'S': core_.options.setup = on; break;
      case 'V': core_.options.verify = on; break;
      case 'Z': core_.options.compress = on; break;
      default: break;
    }
  }
  core_.policy.set_flatten(core_.options.flatten);
}

void ArchiveEngine::SetIgnoreList(const std::string& text) {
  std::string list = ":" + text + ":";
  for (char& c : list) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  core_.ignore_list = list;
  core_.options.project = true;
}

void ArchiveEngine::set_hooks(EngineHooks* hooks) {
  core_.hooks = hooks ? hooks : &core_.default_hooks;
  core_.policy.set_hooks(core_.hooks);
}

bool ArchiveEngine::CloseArchive() {
  if (writer_) writer_->ClearNames();
  bool ok = true;
  if (core_.creating && writer_) {
    ok = writer_->Close();
  } else if (core_.archive) {
    reader_->Close();
  }
  core_.log.EndActivityLog();
  return ok;
}

bool ArchiveEngine::AbortArchive() {
  core_.hooks->EndFeedback();
  if (core_.creating && writer_) {
    writer_->Abort();
  } else if (core_.archive) {
    reader_->Abort();
  }
  core_.log.EndActivityLog();
  return true;
}

int32_t ArchiveEngine::file_count() const { return writer_ ? writer_->file_count() : 0; }
int32_t ArchiveEngine::block_count() const { return writer_ ? writer_->block_count() : 0; }

bool ArchiveEngine::ExtractArchive(const std::string& path,
                                   const std::vector<std::string>* selection,
                                   const std::string& output_folder) {
  return reader_->Extract(path, selection, output_folder);
}

bool ArchiveEngine::ListArchive(const std::string& path) { return reader_->List(path); }

bool ArchiveEngine::ReadArchiveInfo(const std::string& path) { return reader_->ReadInfo(path); }

void ArchiveEngine::set_stub_reader(bool stub, int32_t own_offset) {
  reader_->set_stub_reader(stub, own_offset);
}

void ArchiveEngine::set_password_accepted(bool accepted) {
  reader_->set_password_accepted(accepted);
}

const IdentificationRecord& ArchiveEngine::identification() const {
  return reader_->identification();
}

const TypeRecord& ArchiveEngine::type_record() const { return reader_->type_record(); }

bool ArchiveEngine::open_failed() const { return reader_->open_failed(); }

std::vector<MemberEntry>& ArchiveEngine::members() { return reader_->members(); }

}  // namespace crx
