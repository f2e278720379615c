// Extraction into a host folder that holds symbolic links, and the memory an
// extraction of a large member takes. Linux only: the links are real host
// links, reached through the emulated machine's Z: drive, and the memory is
// read from the C library's allocator.
#include <gtest/gtest.h>
#include <ftw.h>
#include <malloc.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "common/format.h"
#include "engine/archive_engine.h"
#include "engine/format.h"
#include "engine/logs.h"
#include "engine/user_interface.h"
#include "support/recording_ui.h"
#include "support/test_platform.h"

namespace crx {
namespace {

using test::RecordingUi;

void WriteHost(const std::string& path, const std::string& data) {
  std::ofstream out(path, std::ios::binary);
  out << data;
}

std::string ReadHost(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "<missing>";
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

int RemoveEntry(const char* path, const struct stat*, int, struct FTW*) {
  ::remove(path);
  return 0;
}

bool IsHostLink(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

bool HostExists(const std::string& path) {
  struct stat st;
  return ::lstat(path.c_str(), &st) == 0;
}

// The archive's records: no password, not a setup archive, the given
// stored members, the end marker; a zero-filled stub in front.
Bytes StoredArchive(const std::vector<std::pair<std::string, std::string>>& members) {
  Bytes out(static_cast<size_t>(FULL_STUB_SIZE), 0);
  IdentificationRecord id;
  AppendIdentificationRecord(id, &out);
  AppendTypeRecord(TypeRecord{}, &out);
  for (const auto& [name, data] : members) {
    const Bytes plain(data.begin(), data.end());
    MemberHeader header{name, static_cast<int32_t>(plain.size()), 0,
                        plain.empty() ? 0u : StoredChecksum(plain), UnixToFileTime(1700000000)};
    EXPECT_TRUE(AppendMemberHeader(header, &out));
    out.insert(out.end(), plain.begin(), plain.end());
  }
  AppendEndOfArchive(&out);
  return out;
}

class ExtractLinksTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(tp_.ok()) << tp_.Error();
    ResetLogState();
    SetLoggingSetting(0);
    SetDefaultArchiveOffset(FULL_STUB_SIZE);
    char pattern[] = "/tmp/crxlinks.XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    host_ = pattern;
    ASSERT_EQ(::mkdir((host_ + "/out").c_str(), 0777), 0);
    ASSERT_EQ(::mkdir((host_ + "/outside").c_str(), 0777), 0);
    // The same folders as the machine's programs see them.
    windows_ = "Z:" + host_;
    for (char& c : windows_) {
      if (c == '/') c = '\\';
    }
    out_ = windows_ + "\\out";
    tp_.Get().files.AllowWritesBelow(out_);
  }
  void TearDown() override {
    ResetLogState();
    // Links are removed, never followed.
    if (!host_.empty()) nftw(host_.c_str(), RemoveEntry, 16, FTW_DEPTH | FTW_PHYS);
  }

  std::string Host(const std::string& relative) { return host_ + "/" + relative; }
  void Link(const std::string& target, const std::string& link) {
    ASSERT_EQ(::symlink(Host(target).c_str(), Host(link).c_str()), 0) << link;
  }

  test::TestPlatform tp_;
  RecordingUi ui_;
  std::string host_, windows_, out_;
};

TEST_F(ExtractLinksTest, NothingIsWrittenThroughALinkInTheOutputFolder) {
  WriteHost(Host("outside/target.txt"), "keep");
  WriteHost(Host("outside/ro.txt"), "read-only");
  ASSERT_EQ(::chmod(Host("outside/ro.txt").c_str(), 0444), 0);
  ASSERT_EQ(::mkdir(Host("out/a").c_str(), 0777), 0);
  Link("outside", "out/sub");            // a folder link right below
  Link("outside", "out/a/b");            // and one further down
  Link("outside/target.txt", "out/file.txt");
  Link("outside/new.txt", "out/dangle.txt");  // points at nothing yet
  Link("outside/ro.txt", "out/ro.txt");

  WriteHost(Host("archive.exe"),
            [] {
              const Bytes b = StoredArchive({{"sub\\f.txt", "through the link"},
                                             {"a\\b\\c\\d.txt", "deeper"},
                                             {"file.txt", "new content"},
                                             {"dangle.txt", "dangling"},
                                             {"ro.txt", "replaced"},
                                             {"ok\\g.txt", "fine"}});
              return std::string(b.begin(), b.end());
            }());
  ArchiveEngine engine(tp_.Get(), ui_);
  ASSERT_TRUE(engine.ListArchive(windows_ + "\\archive.exe"));
  engine.policy().set_replace_mode(kReplaceAlways);
  engine.policy().set_overwrite_read_only(true);
  EXPECT_TRUE(engine.ExtractArchive(windows_ + "\\archive.exe", nullptr, out_))
      << "refusals do not end the walk";
  engine.CloseArchive();

  // Nothing outside the output folder changed.
  EXPECT_FALSE(HostExists(Host("outside/f.txt")));
  EXPECT_FALSE(HostExists(Host("outside/c")));
  EXPECT_FALSE(HostExists(Host("outside/new.txt")));
  EXPECT_EQ(ReadHost(Host("outside/target.txt")), "keep");
  EXPECT_EQ(ReadHost(Host("outside/ro.txt")), "read-only");
  struct stat st;
  ASSERT_EQ(::stat(Host("outside/ro.txt").c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0444u) << "its read-only mode was not cleared through the link";

  // Folder links refuse their members, naming the member and the link.
  std::vector<int32_t> statuses;
  for (const MemberEntry& e : engine.members()) statuses.push_back(e.status);
  EXPECT_EQ(statuses, (std::vector<int32_t>{kMemberFailed, kMemberFailed, kMemberExtracted,
                                            kMemberExtracted, kMemberExtracted,
                                            kMemberExtracted}));
  ASSERT_EQ(ui_.texts.size(), 2u);
  EXPECT_EQ(ui_.texts[0], "ERROR\nFile name on archive leads through a link...\n'sub\\f.txt'\n"
                          "Link: <" + out_ + "\\sub>\nThis file cannot be extracted");
  EXPECT_NE(ui_.texts[1].find("'a\\b\\c\\d.txt'\nLink: <" + out_ + "\\a\\b>"),
            std::string::npos) << ui_.texts[1];
  EXPECT_TRUE(IsHostLink(Host("out/sub")));

  // A member named like a link takes the link's place.
  for (const char* name : {"file.txt", "dangle.txt", "ro.txt"}) {
    EXPECT_FALSE(IsHostLink(Host(std::string("out/") + name))) << name;
  }
  EXPECT_EQ(ReadHost(Host("out/file.txt")), "new content");
  EXPECT_EQ(ReadHost(Host("out/dangle.txt")), "dangling");
  EXPECT_EQ(ReadHost(Host("out/ro.txt")), "replaced");
  EXPECT_EQ(ReadHost(Host("out/ok/g.txt")), "fine");
}

TEST_F(ExtractLinksTest, MembersAThousandFoldersDeepAreExtracted) {
  // Path handling on the machine is linear in a path's length: before, a
  // member this deep took most of a minute. Two members share the folder,
  // so the second one finds every folder made.
  std::string folder;
  for (int level = 0; level < 1000; ++level) folder += level == 0 ? "dd" : "\\dd";
  WriteHost(Host("deep.exe"), [&] {
    const Bytes b = StoredArchive({{folder + "\\f.txt", "deep"}, {folder + "\\g.txt", "deeper"}});
    return std::string(b.begin(), b.end());
  }());
  ArchiveEngine engine(tp_.Get(), ui_);
  ASSERT_TRUE(engine.ListArchive(windows_ + "\\deep.exe"));
  EXPECT_TRUE(engine.ExtractArchive(windows_ + "\\deep.exe", nullptr, out_));
  engine.CloseArchive();
  for (const MemberEntry& e : engine.members()) EXPECT_EQ(e.status, kMemberExtracted);
  EXPECT_TRUE(ui_.texts.empty());
  std::string host_folder = Host("out");
  for (int level = 0; level < 1000; ++level) host_folder += "/dd";
  EXPECT_EQ(ReadHost(host_folder + "/f.txt"), "deep");
  EXPECT_EQ(ReadHost(host_folder + "/g.txt"), "deeper");
}

TEST_F(ExtractLinksTest, MemoryStaysBoundedWhateverTheMemberSize) {
  // One member of 64 MB of zeros: its compressed stream is small, and the
  // reader must not hold the member whole (before, it held a 64 MB buffer
  // for as long as the engine lived).
  constexpr size_t kSize = 64u << 20;
  Bytes stream;
  {
    z_stream z{};
    ASSERT_EQ(deflateInit(&z, 6), Z_OK);
    std::vector<uint8_t> zeros(1 << 20, 0), piece(1 << 16);
    for (size_t fed = 0; fed <= kSize; fed += zeros.size()) {
      const bool last = fed == kSize;
      z.next_in = zeros.data();
      z.avail_in = last ? 0 : static_cast<uInt>(zeros.size());
      int result = Z_OK;
      do {
        z.next_out = piece.data();
        z.avail_out = static_cast<uInt>(piece.size());
        result = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
        stream.insert(stream.end(), piece.data(), piece.data() + (piece.size() - z.avail_out));
      } while (z.avail_out == 0 || (last && result != Z_STREAM_END));
    }
    deflateEnd(&z);
  }
  Bytes archive(static_cast<size_t>(FULL_STUB_SIZE), 0);
  AppendIdentificationRecord(IdentificationRecord{}, &archive);
  AppendTypeRecord(TypeRecord{}, &archive);
  ASSERT_TRUE(AppendMemberHeader(MemberHeader{"zeros.bin", static_cast<int32_t>(kSize),
                                              static_cast<int32_t>(stream.size()), 0, 0},
                                 &archive));
  archive.insert(archive.end(), stream.begin(), stream.end());
  AppendEndOfArchive(&archive);
  WriteHost(Host("big.exe"), std::string(archive.begin(), archive.end()));
  Bytes().swap(archive);
  Bytes().swap(stream);

  ArchiveEngine engine(tp_.Get(), ui_);
  auto in_use = [] {
    struct mallinfo2 m = mallinfo2();
    return m.uordblks + m.hblkhd;
  };
  const size_t before = in_use();
  engine.SetOptions("+V");
  ASSERT_TRUE(engine.ExtractArchive(windows_ + "\\big.exe", nullptr, out_));
  engine.CloseArchive();
  EXPECT_LT(in_use() - before, size_t{4} << 20) << "verifying";
  engine.SetOptions("-V");
  ASSERT_TRUE(engine.ExtractArchive(windows_ + "\\big.exe", nullptr, out_));
  engine.CloseArchive();
  EXPECT_LT(in_use() - before, size_t{4} << 20) << "extracting";
  struct stat st;
  ASSERT_EQ(::stat(Host("out/zeros.bin").c_str(), &st), 0);
  EXPECT_EQ(static_cast<size_t>(st.st_size), kSize);
  EXPECT_TRUE(ui_.texts.empty());
}

}  // namespace
}  // namespace crx
