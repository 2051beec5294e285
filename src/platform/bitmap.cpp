#include "platform/bitmap.hpp"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace platform {

namespace {

void CheckSize(int width, int height) {
  if (width < 0 || height < 0) {
    throw std::invalid_argument("Bitmap: negative size");
  }
  if (static_cast<std::int64_t>(width) * height > Bitmap::kMaxPixels) {
    throw std::invalid_argument("Bitmap: picture too large");
  }
}

void PutU16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v & 0xFF));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void PutU32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    out.push_back(static_cast<std::uint8_t>((v >> (8 * i)) & 0xFF));
  }
}

std::uint16_t GetU16(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint16_t>(d[at] | (d[at + 1] << 8));
}

std::uint32_t GetU32(std::span<const std::uint8_t> d, std::size_t at) {
  return static_cast<std::uint32_t>(d[at]) | (static_cast<std::uint32_t>(d[at + 1]) << 8) |
         (static_cast<std::uint32_t>(d[at + 2]) << 16) |
         (static_cast<std::uint32_t>(d[at + 3]) << 24);
}

}  // namespace

Bitmap::Bitmap(int width, int height, Rgb fill) : width_(width), height_(height) {
  CheckSize(width, height);
  pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), fill);
}

Bitmap Bitmap::Monochrome(int width, int height) {
  CheckSize(width, height);
  Bitmap b;
  b.width_ = width;
  b.height_ = height;
  b.bits_ = 1;
  b.palette_ = {kBlack, kWhite};
  b.pixels_.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height), Rgb{});
  return b;
}

std::size_t Bitmap::Index(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) {
    throw std::out_of_range("Bitmap: pixel (" + std::to_string(x) + "," + std::to_string(y) +
                            ") outside the picture");
  }
  return static_cast<std::size_t>(y) * static_cast<std::size_t>(width_) +
         static_cast<std::size_t>(x);
}

Rgb Bitmap::Pixel(int x, int y) const {
  const Rgb& p = pixels_[Index(x, y)];
  return bits_ == 1 ? palette_[p.r & 1] : p;
}

void Bitmap::SetPixel(int x, int y, Rgb c) {
  Rgb& p = pixels_[Index(x, y)];
  if (bits_ == 1) {
    p = Rgb{static_cast<std::uint8_t>(c == palette_[1] ? 1 : 0), 0, 0};
  } else {
    p = c;
  }
}

int Bitmap::PixelIndex(int x, int y) const {
  if (bits_ != 1) {
    throw std::logic_error("Bitmap: palette index of a true-colour picture");
  }
  return pixels_[Index(x, y)].r & 1;
}

void Bitmap::SetPixelIndex(int x, int y, int index) {
  if (bits_ != 1) {
    throw std::logic_error("Bitmap: palette index of a true-colour picture");
  }
  pixels_[Index(x, y)] = Rgb{static_cast<std::uint8_t>(index != 0 ? 1 : 0), 0, 0};
}

void Bitmap::Fill(Rgb c) { FillRect(0, 0, width_, height_, c); }

void Bitmap::FillRect(int x, int y, int w, int h, Rgb c) {
  const int x0 = std::max(x, 0);
  const int y0 = std::max(y, 0);
  const int x1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{x} + w, width_));
  const int y1 = static_cast<int>(std::min<std::int64_t>(std::int64_t{y} + h, height_));
  for (int yy = y0; yy < y1; ++yy) {
    for (int xx = x0; xx < x1; ++xx) {
      SetPixel(xx, yy, c);
    }
  }
}

void Bitmap::SetPalette(std::vector<Rgb> palette) {
  if (bits_ == 1 && palette.size() != 2) {
    throw std::invalid_argument("Bitmap: a monochrome picture has two palette entries");
  }
  if (palette.size() > 256) {
    throw std::invalid_argument("Bitmap: more than 256 palette entries");
  }
  palette_ = std::move(palette);
}

std::uint64_t DibStride(std::int64_t width, int bitsPerPixel) {
  if (width <= 0 || bitsPerPixel <= 0) {
    return 0;
  }
  const std::uint64_t bits = static_cast<std::uint64_t>(width) * static_cast<unsigned>(bitsPerPixel);
  return ((bits + 31) / 32) * 4;
}

std::vector<std::uint8_t> EncodeDib(const Bitmap& bitmap) {
  if (bitmap.Empty()) {
    throw std::invalid_argument("EncodeDib: empty picture");
  }
  const int bits = bitmap.BitsPerPixel();
  const std::uint64_t stride = DibStride(bitmap.Width(), bits);
  const std::uint64_t imageSize = stride * static_cast<std::uint64_t>(bitmap.Height());
  const auto& palette = bitmap.Palette();

  std::vector<std::uint8_t> out;
  out.reserve(kDibHeaderSize + palette.size() * kDibPaletteEntrySize + imageSize);
  PutU32(out, static_cast<std::uint32_t>(kDibHeaderSize));
  PutU32(out, static_cast<std::uint32_t>(bitmap.Width()));
  PutU32(out, static_cast<std::uint32_t>(bitmap.Height()));  // positive: bottom-up
  PutU16(out, 1);
  PutU16(out, static_cast<std::uint16_t>(bits));
  PutU32(out, 0);  // uncompressed
  PutU32(out, static_cast<std::uint32_t>(imageSize));
  PutU32(out, 0);
  PutU32(out, 0);
  PutU32(out, static_cast<std::uint32_t>(palette.size()));
  PutU32(out, 0);
  for (const Rgb& c : palette) {
    out.push_back(c.b);
    out.push_back(c.g);
    out.push_back(c.r);
    out.push_back(0);
  }
  for (int y = bitmap.Height() - 1; y >= 0; --y) {
    const std::size_t rowStart = out.size();
    if (bits == 24) {
      for (int x = 0; x < bitmap.Width(); ++x) {
        const Rgb c = bitmap.Pixel(x, y);
        out.push_back(c.b);
        out.push_back(c.g);
        out.push_back(c.r);
      }
    } else {
      std::uint8_t acc = 0;
      int n = 0;
      for (int x = 0; x < bitmap.Width(); ++x) {
        acc = static_cast<std::uint8_t>((acc << 1) | bitmap.PixelIndex(x, y));
        if (++n == 8) {
          out.push_back(acc);
          acc = 0;
          n = 0;
        }
      }
      if (n > 0) {
        out.push_back(static_cast<std::uint8_t>(acc << (8 - n)));
      }
    }
    out.resize(rowStart + stride, 0);
  }
  return out;
}

std::optional<DibHeader> ReadDibHeader(std::span<const std::uint8_t> data) {
  if (data.size() < kDibHeaderSize) {
    return std::nullopt;
  }
  DibHeader h;
  h.size = GetU32(data, 0);
  if (h.size < kDibHeaderSize) {
    return std::nullopt;
  }
  h.width = static_cast<std::int32_t>(GetU32(data, 4));
  h.height = static_cast<std::int32_t>(GetU32(data, 8));
  h.planes = GetU16(data, 12);
  h.bitCount = GetU16(data, 14);
  h.compression = GetU32(data, 16);
  h.sizeImage = GetU32(data, 20);
  h.xPelsPerMeter = static_cast<std::int32_t>(GetU32(data, 24));
  h.yPelsPerMeter = static_cast<std::int32_t>(GetU32(data, 28));
  h.clrUsed = GetU32(data, 32);
  h.clrImportant = GetU32(data, 36);
  return h;
}

std::optional<Bitmap> DecodeDib(std::span<const std::uint8_t> data) {
  const auto h = ReadDibHeader(data);
  if (!h || h->planes != 1 || h->compression != 0 || (h->bitCount != 1 && h->bitCount != 24)) {
    return std::nullopt;
  }
  // Widths and heights are checked in 64 bits: INT32_MIN has no positive twin.
  const std::int64_t width = h->width;
  const std::int64_t height = h->height < 0 ? -std::int64_t{h->height} : std::int64_t{h->height};
  if (width <= 0 || height <= 0 || width * height > Bitmap::kMaxPixels) {
    return std::nullopt;
  }
  const bool topDown = h->height < 0;
  const int bits = h->bitCount;
  std::uint64_t colours = h->clrUsed;
  if (bits == 1) {
    if (colours == 0) {
      colours = 2;
    }
    if (colours != 2) {
      return std::nullopt;
    }
  } else if (colours > 256) {
    return std::nullopt;
  }
  const std::uint64_t stride = DibStride(width, bits);
  const std::uint64_t paletteStart = h->size;
  const std::uint64_t pixelStart = paletteStart + colours * kDibPaletteEntrySize;
  if (pixelStart > data.size() || stride * static_cast<std::uint64_t>(height) > data.size() - pixelStart) {
    return std::nullopt;
  }

  std::vector<Rgb> palette;
  for (std::uint64_t i = 0; i < colours; ++i) {
    const std::size_t at = static_cast<std::size_t>(paletteStart + i * kDibPaletteEntrySize);
    palette.push_back(Rgb{data[at + 2], data[at + 1], data[at]});
  }

  const int w = static_cast<int>(width);
  const int hgt = static_cast<int>(height);
  Bitmap result = bits == 1 ? Bitmap::Monochrome(w, hgt) : Bitmap(w, hgt);
  result.SetPalette(palette);
  for (int row = 0; row < hgt; ++row) {
    const int y = topDown ? row : hgt - 1 - row;
    const std::size_t rowStart = static_cast<std::size_t>(pixelStart + stride * static_cast<std::uint64_t>(row));
    for (int x = 0; x < w; ++x) {
      if (bits == 24) {
        const std::size_t at = rowStart + static_cast<std::size_t>(x) * 3;
        result.SetPixel(x, y, Rgb{data[at + 2], data[at + 1], data[at]});
      } else {
        const std::uint8_t byte = data[rowStart + static_cast<std::size_t>(x) / 8];
        result.SetPixelIndex(x, y, (byte >> (7 - (x % 8))) & 1);
      }
    }
  }
  return result;
}

std::optional<Bitmap> MakeMaskBitmap(const Bitmap& bitmap, Rgb maskColor) {
  if (bitmap.Width() < 1 || bitmap.Width() > kMaxMaskDimension || bitmap.Height() < 1 ||
      bitmap.Height() > kMaxMaskDimension) {
    return std::nullopt;
  }
  Bitmap mask = Bitmap::Monochrome(bitmap.Width(), bitmap.Height());
  for (int y = 0; y < bitmap.Height(); ++y) {
    for (int x = 0; x < bitmap.Width(); ++x) {
      if (bitmap.Pixel(x, y) == maskColor) {
        mask.SetPixelIndex(x, y, 1);  // white
      }
    }
  }
  return mask;
}

}  // namespace platform
