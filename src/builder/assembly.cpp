#include "builder/assembly.h"

#include <memory>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/user_interface.h"

namespace crx::builder {

int32_t StubArchiveOffset(bool minimal) { return minimal ? MIN_STUB_SIZE : FULL_STUB_SIZE; }

std::string StubOffsetText(const std::string& path, int64_t length, bool minimal) {
  // The stubs are far below 2 GB; the texts print 32-bit numbers.
  const int bytes = static_cast<int>(length);
  return Format(minimal ? "%s...\nOFFSET TO **MIN** ARCHIVE 0x%x %d [%dK]"
                        : "%s...\nOFFSET TO FULL ARCHIVE 0x%x %d [%dK]",
                path.c_str(), static_cast<unsigned>(bytes), bytes, bytes / 1024);
}

bool MeasureStub(FileSystem& files, const std::string& path, int64_t* length) {
  std::unique_ptr<File> file =
      files.Open(path, kAccessRead, kShareRead, Disposition::kOpenExisting);
  return file != nullptr && file->Size(length);
}

int ShowStubOffsets(FileSystem& files, UserInterface& ui) {
  int measured = 0;
  for (bool minimal : {false, true}) {
    const std::string path = minimal ? kBuiltMinimalStub : kBuiltFullStub;
    int64_t length = 0;
    if (!MeasureStub(files, path, &length)) {
      ui.MessageBox("Can't open Archive File for offset calc", kBuilderCaption, kMbOk);
      ui.MessageBox(path, kBuilderCaption, kMbOk);
      continue;
    }
    ui.MessageBox(StubOffsetText(path, length, minimal), kBuilderCaption, kMbOk);
    ++measured;
  }
  return measured;
}

}  // namespace crx::builder
