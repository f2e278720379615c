#include "ui/window_look.h"

#include <utility>

namespace crx::ui {

namespace {

bool IsColourSeparator(char c) { return c == ',' || c == '.' || c == ':' || c == ';'; }

// Little-endian fields of the bitmap headers; callers check the bounds.
uint32_t Le16(const uint8_t* p) { return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8); }
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr size_t kFileHeaderSize = 14;
constexpr uint32_t kCoreHeaderSize = 12;
constexpr uint32_t kInfoHeaderSize = 40;
constexpr uint32_t kCompressionNone = 0;
constexpr uint32_t kCompressionBitFields = 3;

// One colour channel of a bit-field pixel, scaled to 0..255.
struct Channel {
  uint32_t mask = 0;
  int shift = 0;
  uint32_t maximum = 0;  // mask >> shift

  explicit Channel(uint32_t m) : mask(m) {
    if (mask == 0) return;
    while (((mask >> shift) & 1u) == 0) ++shift;
    maximum = mask >> shift;
  }
  uint32_t Of(uint32_t pixel) const {
    if (maximum == 0) return 0;
    const uint64_t value = (pixel & mask) >> shift;
    return static_cast<uint32_t>((value * 255 + maximum / 2) / maximum);
  }
};

bool Fail(std::string* error, const char* reason) {
  if (error != nullptr) *error = reason;
  return false;
}

}  // namespace

Colour ParseColour(const std::string& text) {
  int parts[3] = {0, 0, 0};
  int index = 0;
  bool in_number = true;  // still reading the current part's digits
  for (char c : text) {
    if (IsColourSeparator(c)) {
      if (++index == 3) break;
      in_number = true;
      continue;
    }
    if (!in_number) continue;
    if (c == ' ' && parts[index] == 0) continue;  // leading blanks
    if (c < '0' || c > '9') {
      in_number = false;
      continue;
    }
    if (parts[index] < 256) parts[index] = parts[index] * 10 + (c - '0');
  }
  for (int& p : parts) {
    if (p > 255) p = 255;
  }
  return MakeColour(parts[0], parts[1], parts[2]);
}

bool DecodeBitmap(const uint8_t* data, size_t size, Bitmap* bitmap, std::string* error) {
  if (data == nullptr || size < kFileHeaderSize + 4) return Fail(error, "the file is too short");
  if (data[0] != 'B' || data[1] != 'M') return Fail(error, "the file is not a Windows bitmap");
  const uint64_t bits_offset = Le32(data + 10);
  const uint32_t header_size = Le32(data + kFileHeaderSize);
  const uint8_t* h = data + kFileHeaderSize;
  if (header_size != kCoreHeaderSize && header_size < kInfoHeaderSize) {
    return Fail(error, "unknown bitmap header");
  }
  if (kFileHeaderSize + static_cast<uint64_t>(header_size) > size) {
    return Fail(error, "the bitmap header is cut short");
  }

  int64_t width = 0;
  int64_t height = 0;
  uint32_t planes = 0;
  uint32_t bpp = 0;
  uint32_t compression = kCompressionNone;
  uint64_t colours_used = 0;
  size_t entry_size = 4;
  if (header_size == kCoreHeaderSize) {
    width = Le16(h + 4);
    height = Le16(h + 6);
    planes = Le16(h + 8);
    bpp = Le16(h + 10);
    entry_size = 3;
  } else {
    width = static_cast<int32_t>(Le32(h + 4));
    height = static_cast<int32_t>(Le32(h + 8));
    planes = Le16(h + 12);
    bpp = Le16(h + 14);
    compression = Le32(h + 16);
    colours_used = Le32(h + 32);
  }
  if (planes != 1) return Fail(error, "the bitmap has more than one plane");
  const bool top_down = height < 0;
  if (top_down) height = -height;
  if (width <= 0 || height <= 0) return Fail(error, "the bitmap has no pixels");
  if (width > kBitmapMaxSide || height > kBitmapMaxSide || width * height > kBitmapMaxPixels) {
    return Fail(error, "the bitmap is too large");
  }

  // Where the colour table (or the bit-field masks) start.
  uint64_t at = kFileHeaderSize + static_cast<uint64_t>(header_size);
  uint32_t masks[3] = {0, 0, 0};
  if (compression == kCompressionBitFields) {
    if (bpp != 16 && bpp != 32) return Fail(error, "bit-field masks need 16 or 32 bits per pixel");
    // The 40-byte header is followed by the three masks; longer headers
    // hold them at the same place inside.
    if (header_size == kInfoHeaderSize) {
      if (at + 12 > size) return Fail(error, "the bitmap's colour masks are cut short");
      at += 12;
    }
    const uint8_t* m = data + kFileHeaderSize + kInfoHeaderSize;
    for (int i = 0; i < 3; ++i) masks[i] = Le32(m + 4 * i);
  } else if (compression != kCompressionNone) {
    return Fail(error, "compressed bitmaps are not read");
  } else if (bpp == 16) {
    masks[0] = 0x7C00;
    masks[1] = 0x03E0;
    masks[2] = 0x001F;
  } else if (bpp == 32) {
    masks[0] = 0x00FF0000;
    masks[1] = 0x0000FF00;
    masks[2] = 0x000000FF;
  }
  if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
    return Fail(error, "unsupported number of bits per pixel");
  }
  if (header_size == kCoreHeaderSize && (bpp == 16 || bpp == 32)) {
    return Fail(error, "unsupported number of bits per pixel");
  }

  std::vector<uint32_t> palette;
  if (bpp <= 8) {
    const uint64_t most = 1ull << bpp;
    const uint64_t count = colours_used == 0 ? most : colours_used;
    if (count > most) return Fail(error, "the colour table is larger than the pixels can use");
    if (at + count * entry_size > size) return Fail(error, "the colour table is cut short");
    palette.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < palette.size(); ++i) {
      const uint8_t* e = data + at + i * entry_size;
      palette[i] = static_cast<uint32_t>(e[0]) | (static_cast<uint32_t>(e[1]) << 8) |
                   (static_cast<uint32_t>(e[2]) << 16);
    }
    at += count * entry_size;
  }

  // The pixel bits: rows padded to four bytes; the last row needs only its
  // own bytes.
  const uint64_t row_bytes = (static_cast<uint64_t>(width) * bpp + 7) / 8;
  const uint64_t stride = (static_cast<uint64_t>(width) * bpp + 31) / 32 * 4;
  if (bits_offset < at) return Fail(error, "the pixel bits overlap the headers");
  if (bits_offset > size ||
      stride * static_cast<uint64_t>(height - 1) + row_bytes > size - bits_offset) {
    return Fail(error, "the pixel bits are cut short");
  }

  const Channel red(masks[0]);
  const Channel green(masks[1]);
  const Channel blue(masks[2]);
  Bitmap out;
  out.width = static_cast<int>(width);
  out.height = static_cast<int>(height);
  out.pixels.resize(static_cast<size_t>(width * height));
  for (int64_t y = 0; y < height; ++y) {
    const int64_t file_row = top_down ? y : height - 1 - y;
    const uint8_t* row = data + bits_offset + static_cast<uint64_t>(file_row) * stride;
    uint32_t* target = out.pixels.data() + y * width;
    for (int64_t x = 0; x < width; ++x) {
      uint32_t value = 0;
      switch (bpp) {
        case 1:
        case 4:
        case 8: {
          const uint64_t bit = static_cast<uint64_t>(x) * bpp;
          const uint32_t byte = row[bit / 8];
          const uint32_t index = (byte >> (8 - bpp - bit % 8)) & ((1u << bpp) - 1);
          // An index past a short colour table shows black.
          value = index < palette.size() ? palette[index] : 0;
          break;
        }
        case 16:
        case 32: {
          const uint32_t pixel = bpp == 16 ? Le16(row + x * 2) : Le32(row + x * 4);
          value = (red.Of(pixel) << 16) | (green.Of(pixel) << 8) | blue.Of(pixel);
          break;
        }
        case 24: {
          const uint8_t* p = row + x * 3;
          value = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                  (static_cast<uint32_t>(p[2]) << 16);
          break;
        }
        default:
          break;
      }
      target[x] = value;
    }
  }
  *bitmap = std::move(out);
  return true;
}

std::vector<BannerBand> LayOutBanners(const std::vector<int>& text_heights) {
  std::vector<BannerBand> bands;
  bands.reserve(text_heights.size());
  int y = 0;
  for (int height : text_heights) {
    BannerBand band;
    band.top = y;
    band.bottom = y + (height > 0 ? height : 0) + 2;
    bands.push_back(band);
    y = band.bottom + 2;
  }
  return bands;
}

int FontPixelHeight(int tenths_of_point, int dots_per_inch) {
  // A point is 1/72 inch: pixels = tenths * dpi / 720.
  const int64_t scaled = static_cast<int64_t>(tenths_of_point) * dots_per_inch;
  return static_cast<int>((scaled + 360) / 720);
}

void WindowLook::SetColour(Colour colour) {
  has_colour_ = true;
  colour_ = colour;
  bitmap_.reset();
}

void WindowLook::SetBitmap(std::shared_ptr<const Bitmap> bitmap) { bitmap_ = std::move(bitmap); }

void WindowLook::AddBanner(BannerLine line) { lines_.push_back(std::move(line)); }

}  // namespace crx::ui
