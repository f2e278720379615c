// A fresh emulated machine in a scratch folder, with the folder C:\Dir, for
// the tests of the machine's POSIX file system: its file system object,
// the host path of a name in C:\Dir, and small file helpers.
#pragma once

#include <gtest/gtest.h>
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

#include "platform/posix/machine.h"
#include "platform/posix/posix_platform.h"

namespace crx::test {

class MachineFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char folder[] = "/tmp/crx-machine-XXXXXX";
    ASSERT_TRUE(::mkdtemp(folder));
    folder_ = folder;
    std::string error;
    machine_ = Machine::Open(folder_ + "/machine", &error);
    ASSERT_TRUE(machine_) << error;
    files_ = NewPosixFileSystem(*machine_);
    ASSERT_TRUE(files_->CreateFolder("C:\\Dir"));
  }
  void TearDown() override {
    files_.reset();
    machine_.reset();
    if (!folder_.empty()) ::nftw(folder_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }

  // The host path of NAME in C:\Dir.
  std::string Host(const std::string& name) { return folder_ + "/machine/drive_c/Dir/" + name; }
  bool WriteNew(const std::string& path, const std::string& text) {
    std::unique_ptr<File> f =
        files_->Open(path, kAccessWrite, kShareNone, Disposition::kCreateNew, 0);
    return f && f->Write(text.data(), text.size());
  }
  static std::string ReadHost(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  }
  static bool HostExists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }
  // Writes a file as another program would, past the machine.
  static void WriteHost(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
    ASSERT_TRUE(out.good()) << path;
  }

  std::string folder_;
  std::unique_ptr<Machine> machine_;
  std::unique_ptr<FileSystem> files_;

 private:
  static int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
    return ::remove(path);
  }
};

}  // namespace crx::test
