// A FileSystem, and a File, that hand every call to another one. Tests
// derive from them and override the calls they want to change (a chosen
// free space, a file that reports a huge size, a failing call), leaving
// the rest real.
#ifndef CRX_TESTS_SUPPORT_FORWARDING_FILE_SYSTEM_H
#define CRX_TESTS_SUPPORT_FORWARDING_FILE_SYSTEM_H

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"

namespace crx::test {

class ForwardingFileSystem : public FileSystem {
 public:
  explicit ForwardingFileSystem(FileSystem& real) : real_(real) {}

  std::unique_ptr<File> Open(const std::string& p, uint32_t a, uint32_t s, Disposition d,
                             uint32_t attr) override {
    return real_.Open(p, a, s, d, attr);
  }
  bool CopyFile(const std::string& f, const std::string& t, bool x) override {
    return real_.CopyFile(f, t, x);
  }
  bool DeleteFile(const std::string& p) override { return real_.DeleteFile(p); }
  bool MoveFile(const std::string& f, const std::string& t) override { return real_.MoveFile(f, t); }
  bool ReplaceFile(const std::string& f, const std::string& t) override {
    return real_.ReplaceFile(f, t);
  }
  uint32_t GetAttributes(const std::string& p) override { return real_.GetAttributes(p); }
  bool SetAttributes(const std::string& p, uint32_t a) override { return real_.SetAttributes(p, a); }
  bool GetLastWriteTime(const std::string& p, FileTime* t) override {
    return real_.GetLastWriteTime(p, t);
  }
  bool SetLastWriteTime(const std::string& p, FileTime t) override {
    return real_.SetLastWriteTime(p, t);
  }
  bool CreateFolder(const std::string& p) override { return real_.CreateFolder(p); }
  bool CreatePrivateFolder(const std::string& p) override { return real_.CreatePrivateFolder(p); }
  bool RemoveFolder(const std::string& p) override { return real_.RemoveFolder(p); }
  bool ListFolder(const std::string& p, std::vector<FolderEntry>* e) override {
    return real_.ListFolder(p, e);
  }
  std::string CurrentFolder() override { return real_.CurrentFolder(); }
  bool SetCurrentFolder(const std::string& p) override { return real_.SetCurrentFolder(p); }
  std::string FullPath(const std::string& p) override { return real_.FullPath(p); }
  bool ShortPath(const std::string& p, std::string* s) override { return real_.ShortPath(p, s); }
  DriveType GetDriveType(const std::string& r) override { return real_.GetDriveType(r); }
  uint32_t LogicalDrives() override { return real_.LogicalDrives(); }
  bool GetFreeSpace(const std::string& r, FreeSpace* s) override {
    return real_.GetFreeSpace(r, s);
  }
  bool GetVolumeInfo(const std::string& r, std::string* l, uint32_t* s) override {
    return real_.GetVolumeInfo(r, l, s);
  }
  void AllowWritesBelow(const std::string& f) override { real_.AllowWritesBelow(f); }
  void AllowAllWrites() override { real_.AllowAllWrites(); }
  bool GetFileInfo(const std::string& p, FolderEntry* i) override {
    return real_.GetFileInfo(p, i);
  }
  void BeginBatch() override { real_.BeginBatch(); }
  void EndBatch() override { real_.EndBatch(); }

 protected:
  FileSystem& real() { return real_; }

 private:
  FileSystem& real_;
};

// A File that hands every call to another one; tests derive from it to
// watch or break the calls they care about. It has no descriptor of its
// own to give out, so no caller can go round the overrides.
class ForwardingFile : public File {
 public:
  explicit ForwardingFile(std::unique_ptr<File> file) : file_(std::move(file)) {}

  bool Read(void* b, size_t n, size_t* got) override { return file_->Read(b, n, got); }
  bool Write(const void* d, size_t n) override { return file_->Write(d, n); }
  bool Seek(int64_t o, SeekFrom f, int64_t* p) override { return file_->Seek(o, f, p); }
  bool Size(int64_t* n) override { return file_->Size(n); }
  bool SetEnd() override { return file_->SetEnd(); }
  bool Flush() override { return file_->Flush(); }
  bool GetLastWriteTime(FileTime* t) override { return file_->GetLastWriteTime(t); }
  bool SetLastWriteTime(FileTime t) override { return file_->SetLastWriteTime(t); }

 private:
  std::unique_ptr<File> file_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_FORWARDING_FILE_SYSTEM_H
