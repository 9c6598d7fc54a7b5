#include <gtest/gtest.h>

#include <cstring>

#include "TestImages.h"
#include "imagefiles/codecs/PsdCodec.h"

using namespace skm;
using namespace skmtest;

namespace {

uint32_t Be32At(const Bytes& b, size_t at) {
  return (uint32_t(b[at]) << 24) | (uint32_t(b[at + 1]) << 16) | (uint32_t(b[at + 2]) << 8) | b[at + 3];
}
uint16_t Be16At(const Bytes& b, size_t at) { return uint16_t((b[at] << 8) | b[at + 1]); }

Bytes Repeat(uint8_t v, size_t n) { return Bytes(n, v); }
Bytes Distinct(size_t n) {
  Bytes b;
  for (size_t i = 0; i < n; ++i) b.push_back(uint8_t(i % 2 ? i : 255 - i));
  return b;
}
Bytes Concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

TEST(PsdCodec, PackBitsEncoding) {
  struct Case {
    const char* name;
    Bytes row;
    Bytes encoded;
  };
  const Bytes d130 = Distinct(130);
  const std::vector<Case> cases = {
      {"run of five then literal", {7, 7, 7, 7, 7, 1, 2, 3, 3, 9}, {0xFC, 7, 4, 1, 2, 3, 3, 9}},
      {"empty", {}, {}},
      {"one byte", {5}, {0, 5}},
      {"three equal stay literal", {5, 5, 5}, {2, 5, 5, 5}},
      {"four equal", {5, 5, 5, 5}, {0xFD, 5}},
      {"128 equal", Repeat(5, 128), {0x81, 5}},
      {"129 equal", Repeat(5, 129), {0x81, 5, 0, 5}},
      {"130 different", d130,
       Concat({{127}, Bytes(d130.begin(), d130.begin() + 128), {1}, Bytes(d130.begin() + 128, d130.end())})},
      {"literal, run, literal", {1, 2, 9, 9, 9, 9, 9, 3}, {1, 1, 2, 0xFC, 9, 0, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    PSDPackBitsRow(c.row.data(), c.row.size(), out);
    EXPECT_EQ(out, c.encoded);
  }
}

TEST(PsdCodec, WriterLayout) {
  const TPixelBuffer picture = MakePattern(7, 3, 4, AlphaKind::Opaque);
  const Bytes f = PSDEncode(picture.ConstView());
  ASSERT_GT(f.size(), 26u);
  EXPECT_EQ(Bytes(f.begin(), f.begin() + 4), (Bytes{'8', 'B', 'P', 'S'}));
  EXPECT_EQ(Be16At(f, 4), 1);
  EXPECT_EQ(Be16At(f, 12), 3);   // channels
  EXPECT_EQ(Be32At(f, 14), 3u);  // height
  EXPECT_EQ(Be32At(f, 18), 7u);  // width
  EXPECT_EQ(Be16At(f, 22), 8);
  EXPECT_EQ(Be16At(f, 24), 3);
  EXPECT_EQ(Be32At(f, 26), 0u);   // colour mode data
  EXPECT_EQ(Be32At(f, 30), 28u);  // image resources
  EXPECT_EQ(Bytes(f.begin() + 34, f.begin() + 38), (Bytes{'8', 'B', 'I', 'M'}));
  EXPECT_EQ(Be16At(f, 38), 1005);
  EXPECT_EQ(Be32At(f, 42), 16u);
  EXPECT_EQ(Be32At(f, 46), 0x012C0000u);
  EXPECT_EQ(Be32At(f, 54), 0x012C0000u);
  EXPECT_EQ(Be32At(f, 62), 6u);  // layer and mask information
  EXPECT_EQ(Be16At(f, 66), 0);
  EXPECT_EQ(Be32At(f, 68), 0u);
  EXPECT_EQ(Be16At(f, 72), 1);  // PackBits
  size_t total = 0;
  for (size_t r = 0; r < 9; ++r) total += Be16At(f, 74 + r * 2);
  EXPECT_EQ(74 + 9 * 2 + total, f.size());
}

TEST(PsdCodec, RoundTripOverSizes) {
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 1}, {1, 3}, {7, 5}, {129, 3}, {300, 2}, {333, 17}};
  for (auto [w, h] : sizes) {
    SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h));
    const TPixelBuffer picture = MakePattern(w, h, uint32_t(w + h), AlphaKind::Varied);
    const Bytes f = PSDEncode(picture.ConstView());
    TPixelBuffer back;
    ASSERT_TRUE(PSDLoadFromMemory(f, back));
    ASSERT_EQ(back.Width(), w);
    ASSERT_EQ(back.Height(), h);
    Bytes expected = PixelBytes(picture);  // colours as held, opaque
    for (size_t i = 3; i < expected.size(); i += 4) expected[i] = 255;
    EXPECT_EQ(PixelBytes(back), expected);
  }
}

// One-pixel-high documents built by hand: mode, channels and their rows.
TEST(PsdCodec, ModesAndChannels) {
  struct Case {
    const char* name;
    uint16_t mode, depth, channels;
    uint32_t width;
    std::vector<Bytes> rows;  // one per channel
    Bytes expected;           // bitmap bytes
  };
  const std::vector<Case> cases = {
      {"RGB", 3, 8, 3, 2, {{10, 20}, {30, 40}, {50, 60}}, {50, 30, 10, 255, 60, 40, 20, 255}},
      {"RGB with transparency", 3, 8, 4, 2, {{200, 20}, {100, 40}, {50, 60}, {128, 255}},
       {25, 50, 100, 128, 60, 40, 20, 255}},
      {"RGB, fifth channel ignored", 3, 8, 5, 1, {{1}, {2}, {3}, {255}, {0}}, {3, 2, 1, 255}},
      {"RGB with two channels: blue stays white", 3, 8, 2, 1, {{1}, {2}}, {255, 2, 1, 255}},
      {"greyscale", 1, 8, 1, 2, {{0, 77}}, {0, 0, 0, 255, 77, 77, 77, 255}},
      {"greyscale with transparency", 1, 8, 2, 2, {{200, 77}, {128, 0}}, {100, 100, 100, 128, 0, 0, 0, 0}},
      {"bitmap: 1 is black", 0, 1, 1, 10, {{0xA0, 0x40}},
       {0, 0, 0, 255, 255, 255, 255, 255, 0, 0, 0, 255, 255, 255, 255, 255, 255, 255, 255, 255,
        255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 255, 0, 0, 0, 255}},
  };
  for (const Case& c : cases) {
    for (uint16_t compression : {0, 1}) {
      SCOPED_TRACE(std::string(c.name) + (compression ? " PackBits" : " raw"));
      Bytes data;
      if (compression == 0)
        for (const Bytes& r : c.rows) data.insert(data.end(), r.begin(), r.end());
      else
        data = PsdPackBitsData(c.rows);
      const Bytes f = PsdFile(c.mode, c.depth, c.channels, c.width, 1, compression, data);
      TPixelBuffer out;
      ASSERT_TRUE(PSDLoadFromMemory(f, out));
      EXPECT_EQ(PixelBytes(out), c.expected);
    }
  }
}

TEST(PsdCodec, LayerSectionIsSkippedWhole) {
  const std::vector<Bytes> rows = {{1, 2, 3}, {4, 5, 6}, {7, 8, 9}};
  Bytes flat, layered;
  TPixelBuffer a, b;
  ASSERT_TRUE(PSDLoadFromMemory(PsdFile(3, 8, 3, 3, 1, 1, PsdPackBitsData(rows)), a));
  ASSERT_TRUE(PSDLoadFromMemory(PsdFile(3, 8, 3, 3, 1, 1, PsdPackBitsData(rows), 5000), b));
  EXPECT_EQ(PixelBytes(a), PixelBytes(b));
}

// 0x80 is a header with no data: a reader taking it for a 129-byte literal would read
// past this row (and fail it), one taking it for a run would write past it.
TEST(PsdCodec, PackBitsNoOpHeaderIsSkipped) {
  const Bytes data = {0, 5, 0x80, 0x01, 0x0A, 0x14, 0x80};  // count table {5}, then the row
  TPixelBuffer out;
  ASSERT_TRUE(PSDLoadFromMemory(PsdFile(1, 8, 1, 2, 1, 1, data), out));
  EXPECT_EQ(PixelBytes(out), (Bytes{10, 10, 10, 255, 20, 20, 20, 255}));
}

TEST(PsdCodec, UnknownCompressionGivesOpaqueWhite) {
  TPixelBuffer out;
  ASSERT_TRUE(PSDLoadFromMemory(PsdFile(3, 8, 3, 2, 1, 2, Bytes(20, 0x55)), out));
  EXPECT_EQ(PixelBytes(out), Bytes(8, 255));
}

TEST(PsdCodec, RejectsWithoutTouchingTheOutput) {
  const std::vector<Bytes> rgbRows = {{1, 2}, {3, 4}, {5, 6}};
  const Bytes packed = PsdPackBitsData(rgbRows);
  Bytes overflow = packed;  // first row: a literal of 3 in a row of 2 (count 4)
  overflow[1] = 4;
  overflow.insert(overflow.begin() + 6, {2, 1, 1, 1});
  overflow.erase(overflow.begin() + 10, overflow.begin() + 13);
  Bytes shortRow = PsdPackBitsData({{1}, {3, 4}, {5, 6}});
  struct Case {
    const char* name;
    Bytes file;
    const char* why;  // the reason given, in full or its start
  };
  Bytes huge = PsdFile(3, 8, 3, 22627, 26435, 0, {});
  huge.resize(69);
  Bytes badSignature = PsdFile(3, 8, 3, 2, 1, 0, Bytes(6, 0));
  badSignature[3] = 'B';
  const std::vector<Case> cases = {
      {"signature", badSignature, "not a PSD document: it does not start with \"8BPS\""},
      {"version 2", PsdFile(3, 8, 3, 2, 1, 0, Bytes(6, 0), 0, 0, 2), "PSB (large document format) files are not supported"},
      {"16-bit", PsdFile(3, 16, 3, 2, 1, 0, Bytes(12, 0)), "PSD with 16 bits per channel is not supported"},
      {"1-bit RGB", PsdFile(3, 1, 3, 2, 1, 0, Bytes(3, 0)), "PSD with 1 bit per channel is supported only in bitmap mode"},
      {"1-bit greyscale", PsdFile(1, 1, 1, 2, 1, 0, Bytes(1, 0)), "PSD with 1 bit per channel"},
      {"indexed", PsdFile(2, 8, 1, 2, 1, 0, Bytes(2, 0)), "PSD in indexed colour mode is not supported"},
      {"CMYK", PsdFile(4, 8, 4, 2, 1, 0, Bytes(8, 0)), "PSD in CMYK mode is not supported"},
      {"colour mode data", PsdFile(1, 8, 1, 2, 1, 0, Bytes(2, 0), 0, 768), "PSD has colour mode data"},
      {"no channels", PsdFile(3, 8, 0, 2, 1, 0, {}), "PSD document has no channels"},
      {"zero width", PsdFile(3, 8, 3, 0, 1, 0, {}), "PSD picture of 0 x 1 pixels is empty"},
      {"layer length 1", PsdFile(3, 8, 3, 2, 1, 0, Bytes(6, 0), 1), "PSD layer section is damaged"},
      {"layer length 5", PsdFile(3, 8, 3, 2, 1, 0, Bytes(6, 0), 5), "PSD layer section is damaged"},
      {"layer section past the end", [] { Bytes f = PsdFile(3, 8, 3, 2, 1, 0, {}, 100); f.resize(f.size() - 60); return f; }(), "PSD data ends early in the layer section"},
      {"raw rows truncated", PsdFile(3, 8, 3, 2, 1, 0, Bytes(5, 0)), "PSD data ends early at row 1 of channel 3"},
      {"count table truncated", PsdFile(3, 8, 3, 2, 1, 1, Bytes(5, 0)), "PSD data ends early in the table of row lengths"},
      {"PackBits rows truncated", [&] { Bytes f = PsdFile(3, 8, 3, 2, 1, 1, packed); f.pop_back(); return f; }(), "PSD data ends early at row 1 of channel 3"},
      {"PackBits row longer than the row", PsdFile(3, 8, 3, 2, 1, 1, overflow), "PSD compressed row 1 of channel 1 is damaged"},
      {"PackBits row shorter than the row", PsdFile(3, 8, 3, 2, 1, 1, shortRow), "PSD compressed row 1 of channel 1 is damaged"},
      {"22627 x 26435 in 69 bytes", huge, "PSD picture of 22627 x 26435 pixels is larger than the 268435456 pixels"},
      {"header only", [] { Bytes f = PsdFile(3, 8, 3, 2, 1, 0, {}); f.resize(26); return f; }(), "PSD data ends early in the colour mode data"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPixelBuffer out = MakeSolid(3, 1, 5, 6, 7, 255);
    const uint8_t* before = out.View().Bits;
    std::string why;
    EXPECT_FALSE(PSDLoadFromMemory(c.file, out, {}, &why));
    EXPECT_EQ(out.View().Bits, before);
    EXPECT_EQ(why.substr(0, std::strlen(c.why)), c.why);
  }
}

} // namespace
