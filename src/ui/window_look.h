// The look of the interpreter's main window: a background colour or a
// tiled bitmap, and banner lines drawn from the top. The script's window
// commands change it; a front-end paints it (Win32) or keeps it (terminal).
// Everything here is portable: colour texts, the Windows bitmap file
// reader and the banner layout are tested without any window.
#ifndef CRX_UI_WINDOW_LOOK_H
#define CRX_UI_WINDOW_LOOK_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace crx::ui {

// A colour as Windows keeps it: red + 256 * green + 65536 * blue.
using Colour = uint32_t;

inline constexpr Colour MakeColour(int red, int green, int blue) {
  return static_cast<Colour>(red) | (static_cast<Colour>(green) << 8) |
         (static_cast<Colour>(blue) << 16);
}
inline constexpr int RedOf(Colour c) { return static_cast<int>(c & 0xFF); }
inline constexpr int GreenOf(Colour c) { return static_cast<int>((c >> 8) & 0xFF); }
inline constexpr int BlueOf(Colour c) { return static_cast<int>((c >> 16) & 0xFF); }

// A colour text: three decimal numbers red, green, blue, separated by any
// of , . : ; (each separator ends one number, so "::255" is blue). Missing
// or empty numbers count as 0; a number above 255 counts as 255, so one
// part never spills into the next; anything after a number up to the next
// separator is ignored.
Colour ParseColour(const std::string& text);

// A decoded bitmap: pixels top row first, each 0x00RRGGBB (in memory the
// bytes blue, green, red, 0, as a 32-bit top-down Windows bitmap).
struct Bitmap {
  int width = 0;
  int height = 0;
  std::vector<uint32_t> pixels;  // width * height
};

// Limits the reader keeps, so that a crafted header cannot make it
// allocate without bound.
inline constexpr int kBitmapMaxSide = 16384;
inline constexpr int64_t kBitmapMaxPixels = 16 * 1024 * 1024;
// Files larger than this are not read at all.
inline constexpr int64_t kBitmapMaxFileSize = 64 * 1024 * 1024;

// Decodes a Windows bitmap file held in memory: the file header ("BM" and
// the offset of the pixel bits), an information header (the 12-byte core
// form or the 40-byte form and its longer successors), the colour table
// and the pixel bits. Uncompressed images of 1, 4, 8, 16, 24 and 32 bits
// per pixel are read, and 16 and 32 bits with bit-field masks; rows may run
// bottom-up (positive height) or top-down. Every length is checked against
// the data before it is read; false with a reason for anything else.
bool DecodeBitmap(const uint8_t* data, size_t size, Bitmap* bitmap, std::string* error);

enum class BannerAlign { kLeft, kCentre, kRight };

inline constexpr const char* kDefaultBannerFont = "Times New Roman";
inline constexpr int kDefaultBannerSize = 120;  // tenths of a point
// The largest size a banner line may ask for (200 points).
inline constexpr int kMaxBannerSize = 2000;

struct BannerLine {
  std::string text;
  std::string font = kDefaultBannerFont;
  int size = kDefaultBannerSize;  // tenths of a point
  BannerAlign align = BannerAlign::kLeft;
  Colour colour = 0;
};

// A banner line's place in the view, in pixels from the view's top.
struct BannerBand {
  int top = 0;
  int bottom = 0;  // exclusive: top + text height + 2
};

// The banner layout: line by line from the top of the view, each taking
// its text height plus 2 pixels, the next starting 2 pixels below it.
std::vector<BannerBand> LayOutBanners(const std::vector<int>& text_heights);

// A font size in tenths of a point as a pixel height on a screen of the
// given resolution (dots per inch), rounded.
int FontPixelHeight(int tenths_of_point, int dots_per_inch);

class WindowLook {
 public:
  // True while the script has set no background, bitmap or banner line:
  // the window then keeps its own look.
  bool IsDefault() const { return !has_colour_ && !bitmap_ && lines_.empty(); }

  // A background colour; drops any bitmap.
  void SetColour(Colour colour);
  // A bitmap tiled over the view from its top-left corner.
  void SetBitmap(std::shared_ptr<const Bitmap> bitmap);
  void AddBanner(BannerLine line);
  void ClearBanners() { lines_.clear(); }

  bool has_colour() const { return has_colour_; }
  Colour colour() const { return colour_; }
  const std::shared_ptr<const Bitmap>& bitmap() const { return bitmap_; }
  const std::vector<BannerLine>& lines() const { return lines_; }

 private:
  bool has_colour_ = false;
  Colour colour_ = 0;
  std::shared_ptr<const Bitmap> bitmap_;
  std::vector<BannerLine> lines_;
};

}  // namespace crx::ui

#endif  // CRX_UI_WINDOW_LOOK_H
