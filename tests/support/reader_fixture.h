// What the tests of the archive reader share: member records made here
// with the format's encoders (stored with their checksum, deflated, or
// deflated and scrambled), so the reader is tested on its own and on
// damaged input; and a fixture that points TEMP at the test's scratch
// folder, starts from fresh log state and the full stub's archive offset,
// and reads back what an extraction wrote.
#ifndef CRX_TESTS_SUPPORT_READER_FIXTURE_H
#define CRX_TESTS_SUPPORT_READER_FIXTURE_H

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/scramble.h"
#include "platform/platform.h"
#include "support/file_helpers.h"
#include "support/scoped_settings.h"
#include "support/test_platform.h"

namespace crx::test {

// data as one zlib stream.
inline Bytes Deflate(const std::string& data) {
  uLongf length = compressBound(static_cast<uLong>(data.size()));
  Bytes out(length);
  EXPECT_EQ(compress(out.data(), &length, reinterpret_cast<const Bytef*>(data.data()),
                     static_cast<uLong>(data.size())),
            Z_OK);
  out.resize(length);
  return out;
}

// One member record followed by its data. Empty data and data not
// compressed are stored, with their checksum; compressed data is deflated
// and, with a digest, scrambled with it as an encrypted archive's is.
inline Bytes EncodedMember(const std::string& name, const std::string& data, bool compressed,
                           FileTime modified, const std::string& scramble_digest = std::string()) {
  const Bytes plain(data.begin(), data.end());
  MemberHeader header{name, static_cast<int32_t>(plain.size()), 0, 0, modified};
  Bytes stored = plain;
  if (compressed && !plain.empty()) {
    stored = Deflate(data);
    header.compressed_size = static_cast<int32_t>(stored.size());
    if (!scramble_digest.empty()) {
      Bytes scrambled(stored.size() * 2);
      Scrambler scrambler(scramble_digest);
      EXPECT_TRUE(scrambler.Scramble(stored.data(), stored.size(), scrambled.data()));
      stored = scrambled;
    }
  } else if (!plain.empty()) {
    header.checksum = StoredChecksum(plain);
  }
  Bytes out;
  EXPECT_TRUE(AppendMemberHeader(header, &out)) << name;
  out.insert(out.end(), stored.begin(), stored.end());
  return out;
}

// The names in folder (a Windows path), sorted, "." and ".." left out.
inline std::vector<std::string> FolderNames(FileSystem& files, const std::string& folder) {
  std::vector<FolderEntry> entries;
  std::vector<std::string> names;
  if (files.ListFolder(folder + "\\*", &entries)) {
    for (const FolderEntry& e : entries) {
      if (e.name != "." && e.name != "..") names.push_back(e.name);
    }
  }
  std::sort(names.begin(), names.end());
  return names;
}

class ReaderFixture : public ::testing::Test {
 protected:
  // A failure is fatal: a derived SetUp checks HasFatalFailure().
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    environment_ = std::make_unique<ScopedEnvironment>(tp_.Get().environment);
    ASSERT_TRUE(environment_->Set("TEMP", tp_.Scratch()));
    ResetLogState();
    SetDefaultArchiveOffset(FULL_STUB_SIZE);
    archive_ = tp_.Scratch() + "\\setup.exe";
    out_ = tp_.Scratch() + "\\out";
  }
  // TEMP is put back as it was (removed when there was none).
  void TearDown() override {
    ResetLogState();
    environment_.reset();
  }

  FileSystem& files() { return tp_.Get().files; }

  void WriteBytes(const std::string& path, const Bytes& bytes) {
    auto f = files().Open(path, kAccessWrite, kShareNone, Disposition::kCreateAlways);
    ASSERT_TRUE(f) << path;
    ASSERT_TRUE(bytes.empty() || f->Write(bytes.data(), bytes.size())) << path;
  }
  // The whole file, "<missing>" when it cannot be opened with share.
  std::string ReadText(const std::string& path, uint32_t share = kShareRead | kShareWrite) {
    return ReadWholeFile(files(), path, "<missing>", share);
  }
  FileTime TimeOf(const std::string& path) {
    FileTime time = 0;
    EXPECT_TRUE(files().GetLastWriteTime(path, &time)) << path;
    return time;
  }
  // Where a member stored as C:\src\<name> lands below the output folder.
  std::string Out(const std::string& name) { return out_ + "\\src\\" + name; }

  TestPlatform tp_;
  std::string archive_, out_;

 private:
  std::unique_ptr<ScopedEnvironment> environment_;
};

}  // namespace crx::test

#endif  // CRX_TESTS_SUPPORT_READER_FIXTURE_H
