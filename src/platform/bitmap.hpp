#pragma once
// Small in-memory pictures and their device-independent bitmap (DIB) form,
// as the clipboard carries them: a 40-byte little-endian BITMAPINFOHEADER,
// the palette as 4-byte entries (blue, green, red, 0), then the pixel rows
// bottom-up, each row padded to a multiple of 4 bytes.
//
// Two depths are supported: 24 bits per pixel (true colour, blue-green-red
// byte order in the rows) and 1 bit per pixel (monochrome, two palette
// entries, the most significant bit is the leftmost pixel).
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace platform {

struct Rgb {
  std::uint8_t r = 0;
  std::uint8_t g = 0;
  std::uint8_t b = 0;

  friend bool operator==(const Rgb&, const Rgb&) = default;

  // From a colour value laid out as 0x00BBGGRR (the classic RGB() value).
  static constexpr Rgb FromColorRef(std::uint32_t c) {
    return Rgb{static_cast<std::uint8_t>(c & 0xFF), static_cast<std::uint8_t>((c >> 8) & 0xFF),
               static_cast<std::uint8_t>((c >> 16) & 0xFF)};
  }
  constexpr std::uint32_t ToColorRef() const {
    return static_cast<std::uint32_t>(r) | (static_cast<std::uint32_t>(g) << 8) |
           (static_cast<std::uint32_t>(b) << 16);
  }
};

inline constexpr Rgb kBlack{0, 0, 0};
inline constexpr Rgb kWhite{255, 255, 255};
// The transparency colour of the toolbar icons (&HFF00FF).
inline constexpr Rgb kMagenta{255, 0, 255};

class Bitmap {
 public:
  // Upper bound on width * height, so that hostile sizes cannot exhaust memory.
  static constexpr std::int64_t kMaxPixels = std::int64_t{1} << 25;

  // An empty picture (0 x 0).
  Bitmap() = default;
  // A 24-bit picture of the given size filled with one colour. Negative
  // sizes or more than kMaxPixels pixels throw std::invalid_argument.
  Bitmap(int width, int height, Rgb fill = kBlack);

  // A 1-bit picture, palette {black, white}, every pixel black.
  static Bitmap Monochrome(int width, int height);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  // 24 or 1.
  int BitsPerPixel() const { return bits_; }

  // Pixel access; coordinates outside the picture throw std::out_of_range.
  // In a 1-bit picture a pixel is one of the two palette colours: setting the
  // colour of palette entry 1 stores 1, any other colour stores 0.
  Rgb Pixel(int x, int y) const;
  void SetPixel(int x, int y, Rgb c);
  // The palette index (0 or 1) of a pixel of a 1-bit picture; on a 24-bit
  // picture these throw std::logic_error.
  int PixelIndex(int x, int y) const;
  void SetPixelIndex(int x, int y, int index);
  void Fill(Rgb c);
  // Fills the rectangle clipped to the picture.
  void FillRect(int x, int y, int w, int h, Rgb c);

  // The palette: for a 1-bit picture always two entries; for a 24-bit
  // picture optional (empty when it has none).
  const std::vector<Rgb>& Palette() const { return palette_; }
  bool HasPalette() const { return !palette_.empty(); }
  // For a 1-bit picture the palette must have exactly two entries, for a
  // 24-bit one at most 256; otherwise std::invalid_argument.
  void SetPalette(std::vector<Rgb> palette);

  friend bool operator==(const Bitmap&, const Bitmap&) = default;

 private:
  std::size_t Index(int x, int y) const;

  int width_ = 0;
  int height_ = 0;
  int bits_ = 24;
  // 24-bit: one entry per pixel, top row first. 1-bit: r holds the palette index.
  std::vector<Rgb> pixels_;
  std::vector<Rgb> palette_;
};

// The fields of a BITMAPINFOHEADER.
struct DibHeader {
  std::uint32_t size = 40;
  std::int32_t width = 0;
  std::int32_t height = 0;  // positive: rows stored bottom-up
  std::uint16_t planes = 1;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = 0;  // 0 = uncompressed (BI_RGB)
  std::uint32_t sizeImage = 0;    // bytes of pixel data
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t clrUsed = 0;       // palette entries that follow the header
  std::uint32_t clrImportant = 0;
};

inline constexpr std::size_t kDibHeaderSize = 40;
inline constexpr std::size_t kDibPaletteEntrySize = 4;

// Bytes of one stored row: width * bits rounded up to whole 32-bit words.
std::uint64_t DibStride(std::int64_t width, int bitsPerPixel);

// The DIB form of a picture (header, palette, rows). An empty picture throws
// std::invalid_argument: a DIB has at least one pixel.
std::vector<std::uint8_t> EncodeDib(const Bitmap& bitmap);

// The header at the start of a block; nullopt when the block is shorter
// than 40 bytes or its size field is below 40.
std::optional<DibHeader> ReadDibHeader(std::span<const std::uint8_t> data);

// Reads a DIB of 1 or 24 bits per pixel, uncompressed, bottom-up or top-down.
// Anything else, or a block too short for what its header announces, gives
// nullopt; the input is never read out of bounds.
std::optional<Bitmap> DecodeDib(std::span<const std::uint8_t> data);

// The transparency mask of a toolbar face: a 1-bit picture of the same size
// in which pixels of `maskColor` are white and all others black. Only made
// when the width and height are each between 1 and 30000; otherwise nullopt
// (the face then has no transparency).
std::optional<Bitmap> MakeMaskBitmap(const Bitmap& bitmap, Rgb maskColor);

inline constexpr int kMaxMaskDimension = 30000;

}  // namespace platform
