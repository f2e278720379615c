// Feeds arbitrary bytes, as an archive file on an emulated machine, to the
// whole reader of ArchiveEngine: read the header records, list, verify and
// extract into a folder. Nothing may crash, allocate without bound, loop
// forever or write outside the output folder.
#include <stdlib.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "platform/platform.h"

namespace {

// Answers every question with its refusing button, so nothing waits.
class RefusingUi : public crx::UserInterface {
 public:
  int MessageBox(const std::string&, const std::string&, uint32_t flags) override {
    switch (flags & crx::kMbTypeMask) {
      case crx::kMbOk: return crx::kIdOk;
      case crx::kMbYesNo: return crx::kIdNo;
      default: return crx::kIdCancel;
    }
  }
};

crx::HostPlatform* host = nullptr;
RefusingUi ui;
const char kArchive[] = "C:\\fuzz\\input.exe";
const char kOutput[] = "C:\\fuzz\\out";
const char kContained[] = "C:\\fuzz\\contained";

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  char folder[] = "/tmp/crxfuzz.XXXXXX";
  if (!mkdtemp(folder)) return 1;
  setenv("CRX_MACHINE", (std::string(folder) + "/machine").c_str(), 1);
  unsetenv("CRX_MACHINE_SESSION");
  std::string error;
  host = crx::OpenHostPlatform(&error).release();
  if (!host) {
    std::fprintf(stderr, "engine_fuzz: %s\n", error.c_str());
    abort();
  }
  host->Get().files.CreateFolder("C:\\fuzz");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  crx::Platform& p = host->Get();
  {
    std::unique_ptr<crx::File> f =
        p.files.Open(kArchive, crx::kAccessWrite, crx::kShareNone, crx::Disposition::kCreateAlways);
    if (!f || !f->Write(data, size)) abort();
  }
  {
    crx::ArchiveEngine engine(p, ui);
    engine.set_stub_reader(true, 0);
    engine.ReadArchiveInfo(kArchive);
    engine.set_password_accepted(true);
    engine.ListArchive(kArchive);
    engine.CloseArchive();
    engine.SetOptions("+V");
    engine.ExtractArchive(kArchive, nullptr, "");
    engine.CloseArchive();
    engine.SetOptions("-V");
    engine.policy().set_replace_mode(crx::kReplaceAlways);
    engine.ExtractArchive(kArchive, nullptr, kOutput);
    engine.CloseArchive();
    // Names made relative: whatever they hold, they land in the folder.
    engine.policy().set_contain_names(true);
    engine.ExtractArchive(kArchive, nullptr, kContained);
    engine.CloseArchive();
  }
  // Nothing but the input and the two output folders may appear beside
  // them ("..", roots and links never lead out).
  std::vector<crx::FolderEntry> entries;
  p.files.ListFolder("C:\\fuzz\\*", &entries);
  for (const crx::FolderEntry& e : entries) {
    if (e.name != "input.exe" && e.name != "out" && e.name != "contained") {
      std::fprintf(stderr, "engine_fuzz: wrote C:\\fuzz\\%s\n", e.name.c_str());
      abort();
    }
  }
  return 0;
}
