// The BMP reader over every header variant, made here byte by byte, and over damaged files.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QImageReader>

#include <array>
#include <bit>
#include <string>
#include <vector>

#include "TestSupport.h"
#include "imagefiles/FMXBitmapEx.h"
#include "imagefiles/codecs/BmpReader.h"

using namespace skm;

namespace {

using Bytes = std::vector<uint8_t>;

void Put16(Bytes& b, uint32_t v) {
  b.push_back(uint8_t(v));
  b.push_back(uint8_t(v >> 8));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, v & 0xFFFF);
  Put16(b, v >> 16);
}
void Set32(Bytes& b, size_t at, uint32_t v) {
  for (int k = 0; k < 4; ++k) b[at + k] = uint8_t(v >> (8 * k));
}

// A 5 x 3 picture, straight ARGB, rows top first: colours, greys, and translucent ones.
constexpr int kW = 5, kH = 3;
const uint32_t kPicture[kH][kW] = {
    {0xFFFF0000, 0xFF00FF00, 0xFF0000FF, 0xFFFFFFFF, 0xFF000000},
    {0xFF808080, 0xFF102030, 0xFFF0E0D0, 0xFF7F7F00, 0xFF00FFFF},
    {0x80FF0000, 0x00000000, 0x4000FF00, 0xFF123456, 0xC0ABCDEF},
};
// Four colours for the 1- and 2-colour palettes' sake: the picture's pixels mapped onto
// palette indexes (pixel (x, y) -> (x + y) % colours).
const uint32_t kPalette[4] = {0xFF000000, 0xFFFFFFFF, 0xFF3366CC, 0xFFCC6633};

struct TVariant {
  const char* name;
  uint32_t headerSize;
  int bits;
  uint32_t compression;   // 0, 1 (RLE8), 2 (RLE4), 3, 6
  bool topDown = false;
  std::array<uint32_t, 4> masks = {};  // red, green, blue, alpha (bit fields)
  bool masksInHeader = false;
};

uint32_t Pack(uint32_t argb, const std::array<uint32_t, 4>& masks) {
  const int shifts[4] = {16, 8, 0, 24};
  uint32_t v = 0;
  for (int k = 0; k < 4; ++k) {
    if (!masks[k]) continue;
    const uint32_t c = (argb >> shifts[k]) & 0xFF;
    const int bits = std::popcount(masks[k]), shift = std::countr_zero(masks[k]);
    const uint64_t max = (uint64_t(1) << bits) - 1;
    v |= uint32_t(((c * max + 127) / 255) << shift);
  }
  return v;
}

// What the reader gives for a stored value: each channel scaled back to 8 bits.
uint32_t Unpack(uint32_t v, const std::array<uint32_t, 4>& masks) {
  const int shifts[4] = {16, 8, 0, 24};
  uint32_t argb = masks[3] ? 0 : 0xFF000000u;
  for (int k = 0; k < 4; ++k) {
    if (!masks[k]) continue;
    const int bits = std::popcount(masks[k]), shift = std::countr_zero(masks[k]);
    const uint64_t max = (uint64_t(1) << bits) - 1;
    argb |= uint32_t(((((v & masks[k]) >> shift) * 255 + max / 2) / max) << shifts[k]);
  }
  return argb;
}

int PaletteIndex(int x, int y, int bits) { return (x + y) % (bits == 1 ? 2 : 4); }

// The file for a variant, with `expected` set to the straight ARGB picture it holds.
Bytes MakeBmp(const TVariant& v, std::vector<uint32_t>& expected) {
  const bool palette = v.bits <= 8;
  const bool core = v.headerSize == 12;
  expected.assign(kW * kH, 0);
  // Rows as stored: bottom-up unless top-down.
  std::vector<Bytes> rows;
  for (int s = 0; s < kH; ++s) {
    const int y = v.topDown ? s : kH - 1 - s;
    Bytes row;
    uint32_t acc = 0;
    int accBits = 0;
    for (int x = 0; x < kW; ++x) {
      uint32_t argb = kPicture[y][x];
      if (palette) {
        const int i = PaletteIndex(x, y, v.bits);
        argb = kPalette[i];
        acc = (acc << v.bits) | uint32_t(i);
        accBits += v.bits;
        if (accBits == 8) row.push_back(uint8_t(acc)), acc = 0, accBits = 0;
      } else if (v.bits == 24) {
        argb |= 0xFF000000u;
        row.push_back(uint8_t(argb)), row.push_back(uint8_t(argb >> 8)), row.push_back(uint8_t(argb >> 16));
      } else {
        const uint32_t packed = Pack(argb, v.masks);
        argb = Unpack(packed, v.masks);
        if (v.bits == 16) Put16(row, packed);
        else Put32(row, packed | (0xDA000000u & ~(v.masks[0] | v.masks[1] | v.masks[2] | v.masks[3])));  // junk where no mask reads
      }
      expected[size_t(y) * kW + x] = argb;
    }
    if (accBits) row.push_back(uint8_t(acc << (8 - accBits)));
    rows.push_back(row);
  }
  Bytes pixels;
  if (v.compression == 1 || v.compression == 2) {
    // Each row as one literal run of the first two pixels and a repeat run of the rest.
    for (int s = 0; s < kH; ++s) {
      const int y = kH - 1 - s;
      auto idx = [&](int x) { return uint8_t(PaletteIndex(x, y, v.bits)); };
      if (v.bits == 8) {
        pixels.insert(pixels.end(), {0, 3, idx(0), idx(1), idx(2), 0});  // literal of 3, padded
        pixels.insert(pixels.end(), {1, idx(3), 1, idx(4)});
      } else {
        pixels.insert(pixels.end(), {0, 3, uint8_t(idx(0) << 4 | idx(1)), uint8_t(idx(2) << 4), 2,
                                     uint8_t(idx(3) << 4 | idx(4))});
      }
      pixels.insert(pixels.end(), {0, 0});
    }
    pixels.insert(pixels.end(), {0, 1});
  } else {
    for (Bytes& r : rows) {
      while (r.size() % 4) r.push_back(0);
      pixels.insert(pixels.end(), r.begin(), r.end());
    }
  }

  Bytes b = {'B', 'M'};
  Put32(b, 0);  // file size, set below
  Put32(b, 0);
  Put32(b, 0);  // pixel offset, set below
  const size_t header = b.size();
  Put32(b, v.headerSize);
  if (core) {
    Put16(b, kW), Put16(b, kH), Put16(b, 1), Put16(b, uint32_t(v.bits));
  } else {
    Put32(b, kW), Put32(b, uint32_t(v.topDown ? -kH : kH)), Put16(b, 1), Put16(b, uint32_t(v.bits));
    if (v.headerSize >= 20) Put32(b, v.compression);
    while (b.size() < header + std::min<uint32_t>(v.headerSize, 40)) b.push_back(0);
    if (v.headerSize >= 36 && palette) Set32(b, header + 32, v.bits == 1 ? 2 : 4);  // colours used
    if (v.masksInHeader)
      for (int k = 0; k < 4 && b.size() < header + v.headerSize; ++k) Put32(b, v.masks[k]);
    if (v.headerSize >= 108 && b.size() < header + 60) Put32(b, 0x73524742);  // 'sRGB'
    while (b.size() < header + v.headerSize) b.push_back(0);
  }
  if (!v.masksInHeader && (v.compression == 3 || v.compression == 6))
    for (int k = 0; k < (v.compression == 6 ? 4 : 3); ++k) Put32(b, v.masks[k]);
  if (palette) {
    for (int i = 0; i < (v.bits == 1 ? 2 : 4); ++i) {
      b.push_back(uint8_t(kPalette[i])), b.push_back(uint8_t(kPalette[i] >> 8)), b.push_back(uint8_t(kPalette[i] >> 16));
      if (!core) b.push_back(0);
    }
  }
  Set32(b, 10, uint32_t(b.size()));
  b.insert(b.end(), pixels.begin(), pixels.end());
  Set32(b, 2, uint32_t(b.size()));
  return b;
}

constexpr std::array<uint32_t, 4> k555 = {0x7C00, 0x03E0, 0x001F, 0};
constexpr std::array<uint32_t, 4> k565 = {0xF800, 0x07E0, 0x001F, 0};
constexpr std::array<uint32_t, 4> k4444 = {0x0F00, 0x00F0, 0x000F, 0xF000};
constexpr std::array<uint32_t, 4> k888 = {0xFF0000, 0xFF00, 0xFF, 0};
constexpr std::array<uint32_t, 4> k8888 = {0xFF0000, 0xFF00, 0xFF, 0xFF000000};
constexpr std::array<uint32_t, 4> kABGR = {0xFF, 0xFF00, 0xFF0000, 0xFF000000};
constexpr std::array<uint32_t, 4> k101010 = {0x3FF00000, 0xFFC00, 0x3FF, 0};

const TVariant kVariants[] = {
    {"OS/2 1.x, 24 bits", 12, 24, 0},
    {"OS/2 1.x, 8-bit palette of 3-byte entries", 12, 8, 0},
    {"OS/2 2.x cut to 16 bytes, 24 bits", 16, 24, 0},
    {"OS/2 2.x, 64 bytes, 4-bit palette", 64, 4, 0},
    {"OS/2 2.x, 24 bytes, 1-bit palette", 24, 1, 0},
    {"Windows 40, 1 bit", 40, 1, 0},
    {"Windows 40, 4 bits", 40, 4, 0},
    {"Windows 40, 8 bits", 40, 8, 0},
    {"Windows 40, RLE8", 40, 8, 1},
    {"Windows 40, RLE4", 40, 4, 2},
    {"Windows 40, 16 bits 5-5-5", 40, 16, 0, false, k555},
    {"Windows 40, 16 bits 5-6-5 bit fields", 40, 16, 3, false, k565},
    {"Windows 40, 24 bits, top-down", 40, 24, 0, true},
    {"Windows 40, 32 bits, unused byte", 40, 32, 0, false, k888},
    {"Windows 40, 32 bits with alpha bit fields", 40, 32, 6, false, k8888},
    {"Windows 40, 32 bits 10-10-10", 40, 32, 3, false, k101010},
    {"Adobe 52, 32 bits, RGB masks", 52, 32, 3, false, k888, true},
    {"Adobe 56, 32 bits, RGBA masks (Photoshop)", 56, 32, 3, false, k8888, true},
    {"Adobe 56, 16 bits 4-4-4-4", 56, 16, 3, false, k4444, true},
    {"V4 108, 32 bits ABGR, top-down", 108, 32, 3, true, kABGR, true},
    {"V5 124, 32 bits RGBA", 124, 32, 3, false, k8888, true},
    {"V5 124, 8 bits", 124, 8, 0},
};

uint32_t Premultiplied(uint32_t argb) {
  const uint32_t a = argb >> 24;
  auto c = [&](int shift) { return ((((argb >> shift) & 0xFF) * a + 127) / 255) << shift; };
  return (a << 24) | c(16) | c(8) | c(0);
}

TEST(BmpReader, EveryHeaderVariantReadsItsPixels) {
  for (const TVariant& v : kVariants) {
    SCOPED_TRACE(v.name);
    std::vector<uint32_t> expected;
    const Bytes file = MakeBmp(v, expected);
    TPixelBuffer out;
    TBMPInfo info;
    std::string why;
    ASSERT_TRUE(BMPLoadFromMemory(file, out, &info, {}, &why)) << why;
    EXPECT_EQ(info.HeaderSize, v.headerSize);
    EXPECT_EQ(info.BitsPerPixel, v.bits);
    EXPECT_EQ(info.TopDown, v.topDown);
    ASSERT_EQ(out.Width(), kW);
    ASSERT_EQ(out.Height(), kH);
    const bool alpha = v.masks[3] != 0;
    EXPECT_EQ(info.HasAlpha, alpha);
    for (int y = 0; y < kH; ++y) {
      for (int x = 0; x < kW; ++x) {
        const uint8_t* p = out.ConstView().Row(y) + 4 * x;
        const uint32_t got = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        EXPECT_EQ(got, Premultiplied(expected[size_t(y) * kW + x])) << "pixel " << x << "," << y;
      }
    }
  }
}

TEST(BmpReader, PhotoshopsRgbaBitmapOpensWhereQtsReaderFails) {
  // The file Qt's reader refuses; the program opens it through its own.
  std::vector<uint32_t> expected;
  const Bytes file = MakeBmp(kVariants[17], expected);
  const QString path = QString::fromStdString(skmtest::MakeTempDir()) + "/photoshop.bmp";
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(reinterpret_cast<const char*>(file.data()), qint64(file.size()));
  }
  TFMXBitmapEx bitmap;
  ASSERT_TRUE(bitmap.LoadFromFileEx(path));
  EXPECT_EQ(bitmap.size(), QSize(kW, kH));
  const QImage straight = bitmap.convertToFormat(QImage::Format_ARGB32);
  EXPECT_EQ(straight.pixel(0, 2), 0x80FF0000u);  // red at half alpha
  EXPECT_EQ(straight.pixel(3, 1), 0xFF7F7F00u);
}

TEST(BmpReader, DamagedOrUnsupportedFilesFailCleanly) {
  std::vector<uint32_t> ignored;
  const Bytes good24 = MakeBmp(kVariants[12], ignored);
  const Bytes fields = MakeBmp(kVariants[11], ignored);      // 16 bits, masks after the header
  const Bytes inHeader = MakeBmp(kVariants[17], ignored);    // 56 bytes, masks inside
  const Bytes rle8 = MakeBmp(kVariants[8], ignored);
  auto with = [](Bytes b, size_t at, uint32_t v) {
    Set32(b, at, v);
    return b;
  };
  auto with16 = [](Bytes b, size_t at, uint16_t v) {
    b[at] = uint8_t(v), b[at + 1] = uint8_t(v >> 8);
    return b;
  };
  const struct {
    const char* what;
    Bytes file;
  } cases[] = {
      {"empty", {}},
      {"no signature", with16(good24, 0, 0x4142)},
      {"cut in the file header", Bytes(good24.begin(), good24.begin() + 10)},
      {"cut in the info header", Bytes(good24.begin(), good24.begin() + 30)},
      {"cut in the pixels", Bytes(good24.begin(), good24.end() - 3)},
      {"header size 41", with(good24, 14, 41)},
      {"header size 2^31", with(good24, 14, 0x80000000u)},
      {"zero width", with(good24, 18, 0)},
      {"negative width", with(good24, 18, uint32_t(-5))},
      {"height -2^31", with(good24, 22, 0x80000000u)},
      {"a picture past the limit", with(with(good24, 18, 1u << 20), 22, 1u << 20)},
      {"depth 7", with16(good24, 28, 7)},
      {"depth 0", with16(good24, 28, 0)},
      {"JPEG inside", with(good24, 30, 4)},
      {"RLE8 at 24 bits", with(good24, 30, 1)},
      {"bit fields at 24 bits", with(good24, 30, 3)},
      {"RLE8 top-down", with(rle8, 22, uint32_t(-kH))},
      {"overlapping masks", with(fields, 54, 0x07E0)},
      {"mask with a gap", with(fields, 54, 0xF00F)},
      {"mask past 16 bits", with(fields, 54, 0x1F0000)},
      {"no colour masks", with(with(with(fields, 54, 0), 58, 0), 62, 0)},
      {"masks in the header overlap", with(inHeader, 14 + 52, 0xFF)},
      {"pixel offset past the end", with(good24, 10, 0xFFFFFFF0u)},
      {"pixel offset inside the header", with(good24, 10, 20)},
      {"OS/2 2.x Huffman", with(with(good24, 14, 64), 30, 3)},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    TPixelBuffer out;
    ASSERT_TRUE(out.Allocate(2, 2));
    std::string why;
    TReadLimits limits;
    limits.MaxPixels = 1 << 22;
    EXPECT_FALSE(BMPLoadFromMemory(c.file, out, nullptr, limits, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(out.Width(), 2);  // untouched
  }
}

TEST(BmpReader, DamagedRunsShowWhatIsThere) {
  // A run-length picture cut short: the rows it holds, the rest palette entry 0.
  std::vector<uint32_t> expected;
  Bytes rle = MakeBmp(kVariants[8], expected);
  rle.resize(rle.size() - 12);
  TPixelBuffer out;
  ASSERT_TRUE(BMPLoadFromMemory(rle, out));
  EXPECT_EQ(out.Width(), kW);
  // Escapes that jump far past the picture end it.
  Bytes far = MakeBmp(kVariants[9], expected);
  const size_t offset = far[10] | far[11] << 8;
  far.insert(far.begin() + ptrdiff_t(offset), {0, 2, 255, 255});
  ASSERT_TRUE(BMPLoadFromMemory(far, out));
}

} // namespace
