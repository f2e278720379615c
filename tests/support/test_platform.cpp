#include "support/test_platform.h"

#include <cstdlib>
#include <vector>

#include "common/format.h"

#ifndef _WIN32
#include <ftw.h>
#include <unistd.h>
#endif

namespace crx::test {

namespace {

int counter = 0;

#ifndef _WIN32
int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}
#endif

// Deletes a folder tree through the platform, clearing read-only bits first.
void RemoveTree(FileSystem& fs, const std::string& folder) {
  std::vector<FolderEntry> entries;
  if (fs.ListFolder(folder + "\\*", &entries)) {
    for (const FolderEntry& e : entries) {
      std::string path = folder + "\\" + e.name;
      if (e.attributes & kAttrReparsePoint) {
        // A link goes itself; what it points at stays.
        if (!fs.DeleteFile(path)) fs.RemoveFolder(path);
      } else if (e.attributes & kAttrDirectory) {
        RemoveTree(fs, path);
      } else {
        fs.SetAttributes(path, kAttrNormal);
        fs.DeleteFile(path);
      }
    }
  }
  fs.SetAttributes(folder, kAttrDirectory);
  fs.RemoveFolder(folder);
}

}  // namespace

TestPlatform::TestPlatform() {
  ++counter;
#ifndef _WIN32
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/crxtest.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  if (!mkdtemp(buf.data())) {
    error_ = "cannot create a temporary host folder";
    return;
  }
  host_root_ = buf.data();
  machine_ = host_root_ + "/machine";
  setenv("CRX_MACHINE", machine_.c_str(), 1);
  // A new machine sets its own environment (TEMP, windir, ...) in the
  // process: forget the previous test's machine.
  unsetenv("CRX_MACHINE_SESSION");
#endif
  host_ = OpenHostPlatform(&error_);
  if (!host_) return;
  FileSystem& fs = host_->Get().files;
  std::string temp = host_->Get().environment.TempPath();
  if (!temp.empty() && temp.back() == '\\') temp.pop_back();
  uint32_t pid = host_->Get().processes.CurrentProcessId();
  scratch_ = Format("%s\\crxtest_%u_%d", temp.c_str(), pid, counter);
  RemoveTree(fs, scratch_);
  if (!fs.CreateFolder(scratch_)) {
    error_ = Format("cannot create scratch folder %s (error %u)", scratch_.c_str(),
                    LastError());
    host_.reset();
    return;
  }
  scratch_key_ = Format("Software\\CratexTest\\run_%u_%d", pid, counter);
}

bool TestPlatform::UnderWine() {
  // Wine's ntdll exports wine_get_version; Windows' does not, and the
  // emulated machine has no ntdll at all.
  std::unique_ptr<Library> ntdll = Get().shell.LoadLibrary("ntdll.dll");
  return ntdll && ntdll->Entry("wine_get_version") != nullptr;
}

TestPlatform::~TestPlatform() {
  if (host_) {
    Platform& p = host_->Get();
    RemoveTree(p.files, scratch_);
    p.registry.DeleteTree(kHKeyCurrentUser, scratch_key_);
    host_.reset();
  }
#ifndef _WIN32
  if (!host_root_.empty()) nftw(host_root_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
#endif
}

}  // namespace crx::test
