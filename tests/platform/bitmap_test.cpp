#include "platform/bitmap.hpp"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>
#include <random>

#include "platform/clipboard.hpp"

namespace platform {
namespace {

using Bytes = std::vector<std::uint8_t>;

std::uint32_t U32(const Bytes& b, std::size_t at) {
  return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
         (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

void PutU32(Bytes& b, std::size_t at, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) {
    b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
  }
}

// A 16x16 icon as the toolbar uses: magenta background, a coloured square.
Bitmap Icon() {
  Bitmap icon(16, 16, kMagenta);
  icon.FillRect(4, 4, 8, 8, Rgb{0, 128, 0});
  return icon;
}

TEST(Bitmap, ConstructionAndPixels) {
  Bitmap b(3, 2, kWhite);
  EXPECT_EQ(b.Width(), 3);
  EXPECT_EQ(b.Height(), 2);
  EXPECT_EQ(b.BitsPerPixel(), 24);
  EXPECT_EQ(b.Pixel(2, 1), kWhite);
  b.SetPixel(2, 1, kMagenta);
  EXPECT_EQ(b.Pixel(2, 1), kMagenta);
  b.FillRect(-5, -5, 6, 6, kBlack);  // clipped to the picture
  EXPECT_EQ(b.Pixel(0, 0), kBlack);
  EXPECT_EQ(b.Pixel(1, 0), kWhite);
  EXPECT_THROW(b.Pixel(3, 0), std::out_of_range);
  EXPECT_THROW(b.SetPixel(0, -1, kBlack), std::out_of_range);
  EXPECT_THROW(Bitmap(-1, 2), std::invalid_argument);
  EXPECT_THROW(Bitmap(1 << 16, 1 << 16), std::invalid_argument);
  EXPECT_TRUE(Bitmap().Empty());
  EXPECT_EQ(Rgb::FromColorRef(0xFF00FF), kMagenta);
  EXPECT_EQ(Rgb::FromColorRef(0x0000FF), (Rgb{255, 0, 0}));
  EXPECT_EQ((Rgb{1, 2, 3}).ToColorRef(), 0x030201u);
}

TEST(Dib, TrueColourLayout) {
  Bitmap b(3, 2, kBlack);
  b.SetPixel(0, 0, Rgb{1, 2, 3});      // top-left
  b.SetPixel(2, 1, Rgb{10, 20, 30});   // bottom-right
  const Bytes dib = EncodeDib(b);
  // Rows of 9 bytes padded to 12; two rows after the 40-byte header.
  ASSERT_EQ(dib.size(), 40u + 24u);
  EXPECT_EQ(U32(dib, 0), 40u);
  EXPECT_EQ(U32(dib, 4), 3u);
  EXPECT_EQ(U32(dib, 8), 2u);
  EXPECT_EQ(dib[12] | (dib[13] << 8), 1);   // planes
  EXPECT_EQ(dib[14] | (dib[15] << 8), 24);  // bits per pixel
  EXPECT_EQ(U32(dib, 16), 0u);              // uncompressed
  EXPECT_EQ(U32(dib, 20), 24u);             // image size
  EXPECT_EQ(U32(dib, 32), 0u);              // no palette
  // The first stored row is the bottom one; blue, green, red order.
  EXPECT_EQ(dib[40 + 6], 30);
  EXPECT_EQ(dib[40 + 7], 20);
  EXPECT_EQ(dib[40 + 8], 10);
  EXPECT_EQ(dib[40 + 9], 0);  // padding
  EXPECT_EQ(dib[40 + 11], 0);
  EXPECT_EQ(dib[52 + 0], 3);
  EXPECT_EQ(dib[52 + 1], 2);
  EXPECT_EQ(dib[52 + 2], 1);

  const auto header = ReadDibHeader(dib);
  ASSERT_TRUE(header);
  EXPECT_EQ(header->bitCount, 24);
  EXPECT_EQ(header->sizeImage, 24u);
  EXPECT_THROW(EncodeDib(Bitmap()), std::invalid_argument);
}

TEST(Dib, RowStrides) {
  struct Case {
    int width;
    int bits;
    std::uint64_t stride;
  };
  const Case cases[] = {{1, 24, 4},  {3, 24, 12}, {4, 24, 12}, {5, 24, 16}, {1, 1, 4},
                        {32, 1, 4}, {33, 1, 8},  {16, 1, 4},  {0, 1, 0}};
  for (const auto& c : cases) {
    EXPECT_EQ(DibStride(c.width, c.bits), c.stride) << c.width << "x" << c.bits;
  }
}

TEST(Dib, TrueColourPaletteIsWrittenAfterTheHeader) {
  Bitmap b(1, 1, kWhite);
  b.SetPalette({Rgb{1, 2, 3}, kMagenta});
  const Bytes dib = EncodeDib(b);
  ASSERT_EQ(dib.size(), 40u + 8u + 4u);
  EXPECT_EQ(U32(dib, 32), 2u);
  EXPECT_THAT(Bytes(dib.begin() + 40, dib.begin() + 48),
              ::testing::ElementsAre(3, 2, 1, 0, 255, 0, 255, 0));
  const auto back = DecodeDib(dib);
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, b);
}

TEST(Mask, MaskColourIsWhiteEverythingElseBlack) {
  const Bitmap icon = Icon();
  const auto mask = MakeMaskBitmap(icon, kMagenta);
  ASSERT_TRUE(mask);
  EXPECT_EQ(mask->BitsPerPixel(), 1);
  EXPECT_EQ(mask->Width(), 16);
  EXPECT_EQ(mask->Height(), 16);
  EXPECT_EQ(mask->Pixel(0, 0), kWhite);
  EXPECT_EQ(mask->Pixel(4, 4), kBlack);
  EXPECT_EQ(mask->Pixel(11, 11), kBlack);
  EXPECT_EQ(mask->Pixel(12, 11), kWhite);
}

TEST(Mask, MonochromeDibLayout) {
  // 20 pixels wide: 20 bits round up to one 32-bit word per row.
  Bitmap picture(20, 2, kBlack);
  picture.SetPixel(0, 1, kMagenta);   // bottom row, first pixel
  picture.SetPixel(9, 1, kMagenta);   // bottom row, tenth pixel
  picture.SetPixel(19, 0, kMagenta);  // top row, last pixel
  const auto mask = MakeMaskBitmap(picture, kMagenta);
  ASSERT_TRUE(mask);
  const Bytes dib = EncodeDib(*mask);
  ASSERT_EQ(dib.size(), 40u + 8u + 8u);
  const auto header = ReadDibHeader(dib);
  ASSERT_TRUE(header);
  // The face-and-mask step needs one bit per pixel and a non-zero image size.
  EXPECT_EQ(header->bitCount, 1);
  EXPECT_EQ(header->sizeImage, 8u);
  EXPECT_EQ(header->clrUsed, 2u);
  EXPECT_EQ(header->width, 20);
  EXPECT_EQ(header->height, 2);
  // Palette: black, then white.
  EXPECT_THAT(Bytes(dib.begin() + 40, dib.begin() + 48),
              ::testing::ElementsAre(0, 0, 0, 0, 255, 255, 255, 0));
  // Bottom row first, leftmost pixel in the top bit.
  EXPECT_THAT(Bytes(dib.begin() + 48, dib.end()),
              ::testing::ElementsAre(0x80, 0x40, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00));
}

TEST(Mask, OnlyForSizesUpTo30000) {
  struct Case {
    int width;
    int height;
    bool hasMask;
  };
  const Case cases[] = {{40000, 1, false}, {1, 40000, false}, {30000, 1, true},
                        {1, 30000, true},  {1, 1, true},      {0, 0, false}};
  for (const auto& c : cases) {
    const Bitmap picture(c.width, c.height, kMagenta);
    EXPECT_EQ(MakeMaskBitmap(picture, kMagenta).has_value(), c.hasMask) << c.width << "x" << c.height;
  }
}

TEST(Dib, RoundTrips) {
  const Bitmap icon = Icon();
  EXPECT_EQ(DecodeDib(EncodeDib(icon)), icon);
  const auto mask = MakeMaskBitmap(icon, kMagenta);
  EXPECT_EQ(DecodeDib(EncodeDib(*mask)), *mask);
  Bitmap odd(7, 3, Rgb{9, 8, 7});
  odd.SetPixel(6, 2, kWhite);
  EXPECT_EQ(DecodeDib(EncodeDib(odd)), odd);
}

TEST(Dib, TopDownRowsAreRead) {
  Bitmap b(2, 2, kBlack);
  b.SetPixel(0, 0, kWhite);
  Bytes dib = EncodeDib(b);
  // Turn the rows around and mark the header top-down (negative height).
  Bytes flipped = dib;
  std::memcpy(&flipped[40], &dib[48], 8);
  std::memcpy(&flipped[48], &dib[40], 8);
  PutU32(flipped, 8, static_cast<std::uint32_t>(-2));
  const auto back = DecodeDib(flipped);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->Pixel(0, 0), kWhite);
  EXPECT_EQ(back->Pixel(0, 1), kBlack);
}

TEST(Dib, HostileBlocksAreRejected) {
  const Bytes good = EncodeDib(Icon());
  const Bytes goodMask = EncodeDib(*MakeMaskBitmap(Icon(), kMagenta));
  struct Case {
    const char* what;
    Bytes data;
  };
  auto with = [](Bytes b, std::size_t at, std::uint32_t v) {
    PutU32(b, at, v);
    return b;
  };
  auto with16 = [](Bytes b, std::size_t at, std::uint16_t v) {
    b[at] = static_cast<std::uint8_t>(v);
    b[at + 1] = static_cast<std::uint8_t>(v >> 8);
    return b;
  };
  const Case cases[] = {
      {"empty", {}},
      {"short header", Bytes(good.begin(), good.begin() + 39)},
      {"truncated rows", Bytes(good.begin(), good.end() - 1)},
      {"header size below 40", with(good, 0, 12)},
      {"header size past the end", with(good, 0, 0xFFFFFFFF)},
      {"zero width", with(good, 4, 0)},
      {"negative width", with(good, 4, 0xFFFFFFF0)},
      {"zero height", with(good, 8, 0)},
      {"lowest height", with(good, 8, 0x80000000)},
      {"huge size", with(with(good, 4, 0x7FFFFFFF), 8, 0x7FFFFFFF)},
      {"eight bits", with16(good, 14, 8)},
      {"two planes", with16(good, 12, 2)},
      {"compressed", with(good, 16, 1)},
      {"palette too long", with(good, 32, 0xFFFFFFFF)},
      {"mask with three colours", with(goodMask, 32, 3)},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(DecodeDib(c.data).has_value()) << c.what;
  }
  EXPECT_FALSE(ReadDibHeader(Bytes(39, 0)).has_value());
  // A mask whose header leaves the colour count at 0 still has two colours.
  EXPECT_TRUE(DecodeDib(with(goodMask, 32, 0)).has_value());
}

TEST(Dib, MutatedBlocksNeverReadOutOfBounds) {
  const Bytes seeds[] = {EncodeDib(Icon()), EncodeDib(*MakeMaskBitmap(Icon(), kMagenta))};
  std::mt19937 random(20260615);
  int decoded = 0;
  for (const Bytes& seed : seeds) {
    for (int round = 0; round < 3000; ++round) {
      Bytes data = seed;
      const int edits = 1 + static_cast<int>(random() % 4);
      for (int e = 0; e < edits; ++e) {
        // Mostly the header, where the sizes are.
        const std::size_t at = random() % 2 == 0 ? random() % 40 : random() % data.size();
        data[at] = static_cast<std::uint8_t>(random());
      }
      if (random() % 4 == 0) {
        data.resize(random() % (data.size() + 1));
      }
      if (const auto b = DecodeDib(data)) {
        ++decoded;
        const auto h = ReadDibHeader(data);
        ASSERT_TRUE(h);
        EXPECT_EQ(b->Width(), h->width);
        EXPECT_EQ(b->BitsPerPixel(), h->bitCount);
      }
    }
  }
  EXPECT_GT(decoded, 0);
}

// --- clipboard -----------------------------------------------------------------

TEST(Clipboard, RegisteredFormatsAreStable) {
  Clipboard clipboard;
  const auto face = clipboard.RegisterFormat("Toolbar Button Face");
  const auto mask = clipboard.RegisterFormat("Toolbar Button Mask");
  EXPECT_EQ(face, 0xC000u);
  EXPECT_EQ(mask, 0xC001u);
  EXPECT_EQ(clipboard.RegisterFormat("Toolbar Button Face"), face);
  EXPECT_EQ(clipboard.RegisterFormat("toolbar button face"), face);
  EXPECT_EQ(clipboard.RegisterFormat(""), 0u);
  EXPECT_EQ(clipboard.FormatName(mask), "Toolbar Button Mask");
  EXPECT_EQ(clipboard.FormatName(kCfDib), std::nullopt);
  EXPECT_EQ(kCfDib, 8u);
}

TEST(Clipboard, WritingNeedsTheClipboardOpen) {
  Clipboard clipboard;
  EXPECT_FALSE(clipboard.SetData(kCfDib, {1, 2, 3}));
  EXPECT_FALSE(clipboard.HasFormat(kCfDib));
  EXPECT_FALSE(clipboard.Empty());
  EXPECT_FALSE(clipboard.Close());

  ASSERT_TRUE(clipboard.Open());
  EXPECT_FALSE(clipboard.Open());
  EXPECT_TRUE(clipboard.SetData(kCfDib, {1, 2, 3}));
  EXPECT_FALSE(clipboard.SetData(0, {1}));
  EXPECT_EQ(clipboard.GetData(kCfDib), (Bytes{1, 2, 3}));
  EXPECT_EQ(clipboard.GetData(kCfText), std::nullopt);
  EXPECT_TRUE(clipboard.Close());

  EXPECT_TRUE(clipboard.HasFormat(kCfDib));             // asking needs no opening
  EXPECT_EQ(clipboard.GetData(kCfDib), std::nullopt);  // reading does
  ASSERT_TRUE(clipboard.Open());
  EXPECT_TRUE(clipboard.Empty());
  EXPECT_TRUE(clipboard.Formats().empty());
  clipboard.Close();
}

TEST(Clipboard, FaceAndMaskAsTheToolbarTakesThem) {
  Clipboard clipboard;
  const Bitmap icon = Icon();
  ASSERT_TRUE(PutDibOnClipboard(clipboard, icon));
  EXPECT_FALSE(clipboard.IsOpen());

  const auto mask = MakeMaskBitmap(icon, kMagenta);
  ASSERT_TRUE(mask);
  ASSERT_TRUE(clipboard.Open());
  const auto faceFormat = clipboard.RegisterFormat("Toolbar Button Face");
  const auto maskFormat = clipboard.RegisterFormat("Toolbar Button Mask");
  auto face = clipboard.GetData(kCfDib);
  ASSERT_TRUE(face);
  EXPECT_TRUE(clipboard.SetData(faceFormat, *face));
  EXPECT_TRUE(clipboard.SetData(maskFormat, EncodeDib(*mask)));
  clipboard.Close();

  EXPECT_THAT(clipboard.Formats(), ::testing::ElementsAre(kCfDib, faceFormat, maskFormat));
  ASSERT_TRUE(clipboard.Open());
  EXPECT_EQ(DecodeDib(*clipboard.GetData(faceFormat)), icon);
  EXPECT_EQ(DecodeDib(*clipboard.GetData(maskFormat)), *mask);
  // While someone holds the clipboard open, a picture cannot be put on it.
  EXPECT_FALSE(PutDibOnClipboard(clipboard, icon));
  clipboard.Close();
  EXPECT_FALSE(PutDibOnClipboard(clipboard, Bitmap()));
  EXPECT_EQ(&SystemClipboard(), &SystemClipboard());
}

}  // namespace
}  // namespace platform
