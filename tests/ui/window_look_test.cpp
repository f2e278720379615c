#include "ui/window_look.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace crx::ui {
namespace {

TEST(WindowLookTest, ColourTextsTakeAnySeparatorAndKeepPartsApart) {
  EXPECT_EQ(ParseColour("255:255:255"), 0xFFFFFFu);
  EXPECT_EQ(ParseColour("255,65,20"), MakeColour(255, 65, 20));
  EXPECT_EQ(ParseColour("1.2;3"), MakeColour(1, 2, 3));
  EXPECT_EQ(ParseColour("128:128:128"), MakeColour(128, 128, 128));
  // Missing numbers are 0; an empty part between separators is a part.
  EXPECT_EQ(ParseColour("200"), MakeColour(200, 0, 0));
  EXPECT_EQ(ParseColour("::255"), MakeColour(0, 0, 255));
  EXPECT_EQ(ParseColour(""), 0u);
  EXPECT_EQ(ParseColour("red"), 0u);
  // A part too large stays in its own byte instead of spilling into the
  // next colour, however many digits it has.
  EXPECT_EQ(ParseColour("256:0:0"), MakeColour(255, 0, 0));
  EXPECT_EQ(ParseColour("0:99999999999999999999:0"), MakeColour(0, 255, 0));
  // Trailing junk after a number is ignored; a fourth part is not read.
  EXPECT_EQ(ParseColour("10x5:20:30:40"), MakeColour(10, 20, 30));
}

TEST(WindowLookTest, BannersStackWithTwoPixelGaps) {
  const std::vector<BannerBand> bands = LayOutBanners({30, 16, 0});
  ASSERT_EQ(bands.size(), 3u);
  EXPECT_EQ(bands[0].top, 0);
  EXPECT_EQ(bands[0].bottom, 32);
  EXPECT_EQ(bands[1].top, 34);
  EXPECT_EQ(bands[1].bottom, 52);
  EXPECT_EQ(bands[2].top, 54);
  EXPECT_EQ(bands[2].bottom, 56);
  // 24 points on a 96-dpi screen are 32 pixels; 12 points 16.
  EXPECT_EQ(FontPixelHeight(240, 96), 32);
  EXPECT_EQ(FontPixelHeight(120, 96), 16);

  WindowLook look;
  EXPECT_TRUE(look.IsDefault());
  look.SetBitmap(std::make_shared<Bitmap>());
  look.SetColour(MakeColour(1, 2, 3));
  EXPECT_EQ(look.bitmap(), nullptr);  // a colour drops the bitmap
  look.AddBanner(BannerLine{});
  look.ClearBanners();
  EXPECT_TRUE(look.lines().empty());
  EXPECT_FALSE(look.IsDefault());
}

// A bitmap file written the way the tests need it.
struct BmpWriter {
  std::vector<uint8_t> bytes;
  void U16(uint32_t v) {
    bytes.push_back(static_cast<uint8_t>(v));
    bytes.push_back(static_cast<uint8_t>(v >> 8));
  }
  void U32(uint32_t v) {
    U16(v & 0xFFFF);
    U16(v >> 16);
  }
};

// A 40-byte-header bitmap; rows are given top row first, already packed,
// and are written bottom-up (or top-down with a negative height).
std::vector<uint8_t> MakeBmp(int width, int height, int bpp, const std::vector<uint32_t>& palette,
                             const std::vector<std::vector<uint8_t>>& rows, bool top_down = false,
                             uint32_t compression = 0, const std::vector<uint32_t>& masks = {}) {
  BmpWriter w;
  const uint32_t table = static_cast<uint32_t>(palette.size() * 4 + masks.size() * 4);
  const uint32_t offset = 14 + 40 + table;
  w.bytes.push_back('B');
  w.bytes.push_back('M');
  w.U32(0);  // file size: not trusted by the reader
  w.U32(0);
  w.U32(offset);
  w.U32(40);
  w.U32(static_cast<uint32_t>(width));
  w.U32(static_cast<uint32_t>(top_down ? -height : height));
  w.U16(1);
  w.U16(static_cast<uint32_t>(bpp));
  w.U32(compression);
  w.U32(0);
  w.U32(2835);
  w.U32(2835);
  w.U32(static_cast<uint32_t>(palette.size()));
  w.U32(0);
  for (uint32_t m : masks) w.U32(m);
  for (uint32_t c : palette) w.U32(c);
  const size_t stride = (static_cast<size_t>(width) * bpp + 31) / 32 * 4;
  for (int i = 0; i < height; ++i) {
    const std::vector<uint8_t>& row = rows[static_cast<size_t>(top_down ? i : height - 1 - i)];
    std::vector<uint8_t> padded = row;
    padded.resize(stride, 0);
    w.bytes.insert(w.bytes.end(), padded.begin(), padded.end());
  }
  return w.bytes;
}

TEST(WindowLookTest, DecodesTheUncompressedDepths) {
  Bitmap b;
  std::string error;

  // 24 bits, bottom-up, 3 x 2 with row padding.
  std::vector<uint8_t> file = MakeBmp(3, 2, 24, {},
                                      {{0, 0, 255, 0, 255, 0, 255, 0, 0},      // red green blue
                                       {255, 255, 255, 0, 0, 0, 10, 20, 30}});  // white black
  ASSERT_TRUE(DecodeBitmap(file.data(), file.size(), &b, &error)) << error;
  ASSERT_EQ(b.width, 3);
  ASSERT_EQ(b.height, 2);
  EXPECT_EQ(b.pixels[0], 0xFF0000u);
  EXPECT_EQ(b.pixels[1], 0x00FF00u);
  EXPECT_EQ(b.pixels[2], 0x0000FFu);
  EXPECT_EQ(b.pixels[3], 0xFFFFFFu);
  EXPECT_EQ(b.pixels[5], 0x1E140Au);

  // The same top-down gives the same picture.
  Bitmap t;
  file = MakeBmp(3, 2, 24, {},
                 {{0, 0, 255, 0, 255, 0, 255, 0, 0}, {255, 255, 255, 0, 0, 0, 10, 20, 30}}, true);
  ASSERT_TRUE(DecodeBitmap(file.data(), file.size(), &t, &error)) << error;
  EXPECT_EQ(t.pixels, b.pixels);

  // 1 bit: most significant bit first, through the colour table.
  file = MakeBmp(9, 1, 1, {0x000000, 0x00FF00}, {{0xA0, 0x80}});
  ASSERT_TRUE(DecodeBitmap(file.data(), file.size(), &b, &error)) << error;
  EXPECT_EQ(b.pixels, (std::vector<uint32_t>{0x00FF00, 0, 0x00FF00, 0, 0, 0, 0, 0, 0x00FF00}));

  // 4 bits, with an index beyond a short colour table shown black.
  file = MakeBmp(3, 1, 4, {0x112233, 0x445566}, {{0x01, 0xF0}});
  ASSERT_TRUE(DecodeBitmap(file.data(), file.size(), &b, &error)) << error;
  EXPECT_EQ(b.pixels, (std::vector<uint32_t>{0x112233, 0x445566, 0}));

  // 16 bits 5-5-5 and 32 bits with bit-field masks.
  file = MakeBmp(2, 1, 16, {}, {{0x00, 0x7C, 0x1F, 0x00}});
  ASSERT_TRUE(DecodeBitmap(file.data(), file.size(), &b, &error)) << error;
  EXPECT_EQ(b.pixels, (std::vector<uint32_t>{0xFF0000, 0x0000FF}));
  file = MakeBmp(1, 1, 32, {}, {{0x12, 0x34, 0x56, 0x78}}, false, 3,
                 {0x000000FF, 0x0000FF00, 0x00FF0000});
  ASSERT_TRUE(DecodeBitmap(file.data(), file.size(), &b, &error)) << error;
  EXPECT_EQ(b.pixels, (std::vector<uint32_t>{0x123456}));
}

TEST(WindowLookTest, RefusesHostileAndTruncatedBitmaps) {
  const std::vector<uint8_t> good =
      MakeBmp(5, 3, 8, {0x010203, 0x040506}, {{0, 1, 0, 1, 1}, {1, 1, 1, 1, 1}, {0, 0, 0, 0, 0}});
  Bitmap b;
  std::string error;
  ASSERT_TRUE(DecodeBitmap(good.data(), good.size(), &b, &error)) << error;

  // Cut at every length: refused, never read past the end. Each cut copy
  // lives in a buffer of exactly its own size so that a sanitizer sees a
  // stray read.
  const size_t last_row_padding = 3;  // a 5-byte row padded to 8
  for (size_t n = 0; n + last_row_padding < good.size(); ++n) {
    std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(n));
    EXPECT_FALSE(DecodeBitmap(cut.data(), cut.size(), &b, &error)) << "length " << n;
  }
  // The last row's padding may be missing.
  std::vector<uint8_t> unpadded(good.begin(), good.end() - 3);
  EXPECT_TRUE(DecodeBitmap(unpadded.data(), unpadded.size(), &b, &error)) << error;

  auto patched = [&good](size_t at, uint32_t value, int bytes) {
    std::vector<uint8_t> f = good;
    for (int i = 0; i < bytes; ++i) f[at + i] = static_cast<uint8_t>(value >> (8 * i));
    return f;
  };
  struct Case {
    std::vector<uint8_t> file;
    const char* error;
  };
  const Case cases[] = {
      {patched(0, 'X', 1), "the file is not a Windows bitmap"},
      {patched(14, 20, 4), "unknown bitmap header"},
      {patched(14, 0xFFFFFFF0u, 4), "the bitmap header is cut short"},
      {patched(18, 0, 4), "the bitmap has no pixels"},
      {patched(18, 0x80000000u, 4), "the bitmap has no pixels"},
      {patched(22, 0x80000000u, 4), "the bitmap is too large"},
      {patched(18, 100000, 4), "the bitmap is too large"},
      // Sides each in bounds, together too many pixels to allocate.
      {patched(18, 16384, 4), "the pixel bits are cut short"},
      {patched(26, 2, 2), "the bitmap has more than one plane"},
      {patched(28, 7, 2), "unsupported number of bits per pixel"},
      {patched(30, 1, 4), "compressed bitmaps are not read"},
      {patched(30, 3, 4), "bit-field masks need 16 or 32 bits per pixel"},
      {patched(46, 300, 4), "the colour table is larger than the pixels can use"},
      {patched(46, 0xFFFFFFFFu, 4), "the colour table is larger than the pixels can use"},
      {patched(10, 0xFFFFFFF0u, 4), "the pixel bits are cut short"},
      {patched(10, 20, 4), "the pixel bits overlap the headers"},
  };
  for (const Case& c : cases) {
    error.clear();
    EXPECT_FALSE(DecodeBitmap(c.file.data(), c.file.size(), &b, &error));
    EXPECT_EQ(error, c.error);
  }
  std::vector<uint8_t> huge = patched(18, 16384, 4);
  huge[22] = 0;
  huge[23] = 0x40;  // 16384 x 16384
  EXPECT_FALSE(DecodeBitmap(huge.data(), huge.size(), &b, &error));
  EXPECT_EQ(error, "the bitmap is too large");
  EXPECT_FALSE(DecodeBitmap(nullptr, 0, &b, &error));
}

TEST(WindowLookTest, ReadsTheCoreHeader) {
  BmpWriter w;
  w.bytes = {'B', 'M'};
  w.U32(0);
  w.U32(0);
  w.U32(14 + 12 + 6);
  w.U32(12);
  w.U16(2);
  w.U16(1);
  w.U16(1);
  w.U16(1);
  // Three-byte colour table entries.
  w.bytes.insert(w.bytes.end(), {0, 0, 0, 0xFF, 0xFF, 0xFF});
  w.bytes.insert(w.bytes.end(), {0x40, 0, 0, 0});
  Bitmap b;
  std::string error;
  ASSERT_TRUE(DecodeBitmap(w.bytes.data(), w.bytes.size(), &b, &error)) << error;
  EXPECT_EQ(b.pixels, (std::vector<uint32_t>{0, 0xFFFFFF}));
}

}  // namespace
}  // namespace crx::ui
