// The emulated machine's shell links: the bytes of the link format where a
// reader depends on them, and the results a failed save gives. The
// interpreter's shortcut tests read whole links back with lnkinfo.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "platform/posix/shell_link.h"
#include "support/file_helpers.h"
#include "support/test_platform.h"

namespace crx {
namespace {

uint32_t Le32(const std::string& b, size_t at) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
  return v;
}

TEST(ShellLinkTest, HeaderLinkInfoAndStrings) {
  ShellLinkData data;
  data.target = "C:\\App\\app.exe";
  data.description = "Shortcut to app";
  data.drive_type = 3;
  data.volume_label = "SYS";
  std::string b;
  ASSERT_TRUE(BuildShellLink(data, &b));
  ASSERT_GE(b.size(), 0x4Cu + 0x1Cu);
  EXPECT_EQ(Le32(b, 0), 0x4Cu);
  EXPECT_EQ(b.substr(4, 16), std::string("\x01\x14\x02\x00\x00\x00\x00\x00\xC0\x00\x00\x00\x00\x00\x00\x46", 16));
  // LinkInfo and a description, no working folder (none was given).
  EXPECT_EQ(Le32(b, 0x14), 0x2u | 0x4u);
  const size_t info = 0x4C;
  const uint32_t info_size = Le32(b, info);
  EXPECT_EQ(Le32(b, info + 8), 1u);  // volume and local base path
  EXPECT_EQ(b.substr(info + Le32(b, info + 16), data.target.size() + 1), data.target + '\0');
  // The counted description follows the LinkInfo; the terminal block ends
  // the file.
  const size_t name = info + info_size;
  EXPECT_EQ(static_cast<unsigned char>(b[name]) | (static_cast<unsigned char>(b[name + 1]) << 8),
            static_cast<int>(data.description.size()));
  EXPECT_EQ(b.substr(name + 2, data.description.size()), data.description);
  EXPECT_EQ(b.size(), name + 2 + data.description.size() + 4);
  EXPECT_EQ(Le32(b, b.size() - 4), 0u);

  // A network path is named by its share and the path below it.
  data.target = "\\\\server\\share\\dir\\x.exe";
  ASSERT_TRUE(BuildShellLink(data, &b));
  EXPECT_EQ(Le32(b, info + 8), 2u);
  const size_t network = info + Le32(b, info + 20);
  EXPECT_EQ(b.substr(network + Le32(b, network + 8), 15), std::string("\\\\server\\share\0", 15));
  EXPECT_EQ(b.substr(info + Le32(b, info + 24), 10), std::string("dir\\x.exe\0", 10));

  // Texts longer than the format's counts are refused, not cut.
  data.description.assign(70000, 'd');
  EXPECT_FALSE(BuildShellLink(data, &b));
}

TEST(ShellLinkTest, FailedSavesGiveTheShellsResults) {
  test::TestPlatform tp;
  ASSERT_TRUE(tp.ok()) << tp.Error();
  Platform& p = tp.Get();
  const std::string target = tp.Scratch() + "\\app.exe";
  ASSERT_TRUE(test::WriteWholeFile(p.files, target, "program"));
  uint32_t failed = 99;
  EXPECT_EQ(p.shell.CreateShellLink(target, tp.Scratch() + "\\app.LNK", "d", tp.Scratch(), &failed),
            0);
  EXPECT_EQ(failed, 0u);
  EXPECT_TRUE(p.files.IsFile(tp.Scratch() + "\\app.LNK"));
  // A missing folder: HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND).
  EXPECT_EQ(static_cast<uint32_t>(p.shell.CreateShellLink(target, tp.Scratch() + "\\no\\app.LNK",
                                                          "d", "", nullptr)),
            0x80070003u);
  // A link path that does not fit MAX_PATH is refused whole.
  std::string deep = tp.Scratch() + "\\" + std::string(260, 'x') + ".LNK";
  EXPECT_EQ(static_cast<uint32_t>(p.shell.CreateShellLink(target, deep, "d", "", nullptr)),
            0x800700CEu);
}

}  // namespace
}  // namespace crx
