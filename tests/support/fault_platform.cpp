#include "support/fault_platform.h"

#include <utility>

namespace crx::test {

namespace {

// A file that counts its changing calls on the file system's counter.
class FaultFile : public File {
 public:
  FaultFile(std::unique_ptr<File> real, std::string path, FaultCounter& counter)
      : real_(std::move(real)), path_(std::move(path)), counter_(counter) {}

  bool Read(void* buffer, size_t size, size_t* got) override {
    if (Fail("Read")) {
      *got = 0;
      return false;
    }
    return real_->Read(buffer, size, got);
  }
  bool Write(const void* data, size_t size) override {
    return !Fail("Write") && real_->Write(data, size);
  }
  bool Seek(int64_t offset, SeekFrom from, int64_t* position) override {
    return real_->Seek(offset, from, position);
  }
  bool Size(int64_t* size) override { return real_->Size(size); }
  bool SetEnd() override { return !Fail("SetEnd") && real_->SetEnd(); }
  bool Flush() override { return !Fail("Flush") && real_->Flush(); }
  bool GetLastWriteTime(FileTime* time) override { return real_->GetLastWriteTime(time); }
  bool SetLastWriteTime(FileTime time) override {
    return !Fail("File::SetLastWriteTime") && real_->SetLastWriteTime(time);
  }

 private:
  bool Fail(const char* what) {
    if (!counter_.Fail(what, path_)) return false;
    SetLastError(counter_.error());
    return true;
  }

  std::unique_ptr<File> real_;
  std::string path_;
  FaultCounter& counter_;
};

}  // namespace

void FaultCounter::Arm(int n, uint32_t error, bool sticky) {
  armed_ = n;
  error_ = error;
  sticky_ = sticky;
  calls_ = 0;
  failures_ = 0;
  failed_call_.clear();
  log_.clear();
}

bool FaultCounter::Fail(const char* what, const std::string& path) {
  ++calls_;
  std::string call = std::string(what) + " " + path;
  const bool fail = armed_ > 0 && (calls_ == armed_ || (sticky_ && calls_ > armed_));
  if (fail) {
    if (failures_ == 0) failed_call_ = call;
    ++failures_;
  }
  log_.push_back(std::move(call));
  return fail;
}

bool FaultFileSystem::Fail(const char* what, const std::string& path) {
  if (!counter_.Fail(what, path)) return false;
  SetLastError(counter_.error());
  return true;
}

std::unique_ptr<File> FaultFileSystem::Open(const std::string& path, uint32_t access,
                                            uint32_t share, Disposition disposition,
                                            uint32_t attributes) {
  if (Fail("Open", path)) return nullptr;
  std::unique_ptr<File> file =
      ForwardingFileSystem::Open(path, access, share, disposition, attributes);
  if (!file) return nullptr;
  return std::make_unique<FaultFile>(std::move(file), path, counter_);
}

bool FaultFileSystem::CopyFile(const std::string& from, const std::string& to,
                               bool fail_if_exists) {
  return !Fail("CopyFile", from + " -> " + to) &&
         ForwardingFileSystem::CopyFile(from, to, fail_if_exists);
}

bool FaultFileSystem::DeleteFile(const std::string& path) {
  return !Fail("DeleteFile", path) && ForwardingFileSystem::DeleteFile(path);
}

bool FaultFileSystem::MoveFile(const std::string& from, const std::string& to) {
  return !Fail("MoveFile", from + " -> " + to) && ForwardingFileSystem::MoveFile(from, to);
}

bool FaultFileSystem::ReplaceFile(const std::string& from, const std::string& to) {
  return !Fail("ReplaceFile", from + " -> " + to) && ForwardingFileSystem::ReplaceFile(from, to);
}

bool FaultFileSystem::SetAttributes(const std::string& path, uint32_t attributes) {
  return !Fail("SetAttributes", path) && ForwardingFileSystem::SetAttributes(path, attributes);
}

bool FaultFileSystem::SetLastWriteTime(const std::string& path, FileTime time) {
  return !Fail("SetLastWriteTime", path) && ForwardingFileSystem::SetLastWriteTime(path, time);
}

bool FaultFileSystem::CreateFolder(const std::string& path) {
  return !Fail("CreateFolder", path) && ForwardingFileSystem::CreateFolder(path);
}

bool FaultFileSystem::CreatePrivateFolder(const std::string& path) {
  return !Fail("CreatePrivateFolder", path) && ForwardingFileSystem::CreatePrivateFolder(path);
}

bool FaultFileSystem::RemoveFolder(const std::string& path) {
  return !Fail("RemoveFolder", path) && ForwardingFileSystem::RemoveFolder(path);
}

long FaultRegistry::OpenKey(RegKey parent, const std::string& sub_key, RegAccess access,
                            RegKey* key) {
  if (counter_.Fail("OpenKey", sub_key)) return static_cast<long>(counter_.error());
  return real_.OpenKey(parent, sub_key, access, key);
}

long FaultRegistry::CreateKey(RegKey parent, const std::string& sub_key, RegAccess access,
                              RegKey* key, bool* created) {
  if (counter_.Fail("CreateKey", sub_key)) return static_cast<long>(counter_.error());
  return real_.CreateKey(parent, sub_key, access, key, created);
}

long FaultRegistry::DeleteKey(RegKey parent, const std::string& sub_key) {
  if (counter_.Fail("DeleteKey", sub_key)) return static_cast<long>(counter_.error());
  return real_.DeleteKey(parent, sub_key);
}

long FaultRegistry::DeleteValue(RegKey key, const std::string& name) {
  if (counter_.Fail("DeleteValue", name)) return static_cast<long>(counter_.error());
  return real_.DeleteValue(key, name);
}

long FaultRegistry::SetValue(RegKey key, const std::string& name, uint32_t type,
                             const void* data, size_t size) {
  if (counter_.Fail("SetValue", name)) return static_cast<long>(counter_.error());
  return real_.SetValue(key, name, type, data, size);
}

}  // namespace crx::test
