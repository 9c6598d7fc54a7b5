#include <gtest/gtest.h>

#include <cstring>

#include <cmath>
#include <limits>

#include "TestImages.h"
#include "imagefiles/codecs/HdrReader.h"

using namespace skm;
using namespace skmtest;

namespace {

HdrOptions FlatHdr() {
  HdrOptions o;
  o.rle = false;
  return o;
}

Bytes Uniform(int w, int h, uint8_t m, uint8_t e) {
  Bytes p;
  for (int i = 0; i < w * h; ++i) p.insert(p.end(), {m, m, m, e});
  return p;
}

TEST(HdrReader, ToneMapBytes) {
  struct Case {
    double v, gamma;
    int expected;
  };
  const std::vector<Case> cases = {
      {0.18, 2.2, 108},
      {1.0, 2.2, 186},
      {1.0, 1.0, 128},
      {0.18, 1.0, 39},
      {0.0, 2.2, 0},
      {1e300, 2.2, 255},
      {std::numeric_limits<double>::infinity(), 2.2, 255},
      {std::numeric_limits<double>::quiet_NaN(), 2.2, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.v) + " gamma " + std::to_string(c.gamma));
    EXPECT_EQ(HDRToneMapByte(c.v, c.gamma), c.expected);
  }
}

// A uniform grey picture sits at the mean luminance: every channel maps like v = 0.18.
TEST(HdrReader, UniformPictureMapsToTheKey) {
  struct Case {
    const char* name;
    std::string headerLines;
    int expected;
  };
  const std::vector<Case> cases = {
      {"default gamma", "FORMAT=32-bit_rle_rgbe\n", 108},
      {"gamma 1", "FORMAT=32-bit_rle_rgbe\nGAMMA=1\n", 39},
      {"empty gamma", "FORMAT=32-bit_rle_rgbe\nGAMMA=\n", 108},
      {"exposure and comments", "# made by hand\nFORMAT=32-bit_rle_rgbe\nEXPOSURE=4.5\nSOFTWARE=x\n", 108},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HdrOptions o;
    o.headerLines = c.headerLines;
    TPixelBuffer out;
    ASSERT_TRUE(HDRLoadFromMemory(HdrFile(9, 3, Uniform(9, 3, 200, 130), o), out));
    Bytes expected;
    for (int i = 0; i < 27; ++i) expected.insert(expected.end(), {uint8_t(c.expected), uint8_t(c.expected), uint8_t(c.expected), 255});
    EXPECT_EQ(PixelBytes(out), expected);
  }
}

TEST(HdrReader, ScalingEveryPixelGivesTheSamePicture) {
  const Bytes base = HdrPattern(40, 7, 3);
  Bytes brighter = base;
  for (size_t i = 3; i < brighter.size(); i += 4) brighter[i] += 1;
  TPixelBuffer a, b;
  ASSERT_TRUE(HDRLoadFromMemory(HdrFile(40, 7, base), a));
  ASSERT_TRUE(HDRLoadFromMemory(HdrFile(40, 7, brighter), b));
  EXPECT_EQ(PixelBytes(a), PixelBytes(b));
}

TEST(HdrReader, ScanlineEncodingsGiveTheSamePicture) {
  struct Case {
    const char* name;
    int width;
    bool rle;
  };
  const std::vector<Case> cases = {{"RLE", 40, true}, {"flat", 40, false}, {"flat, narrow", 5, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes rgbe = HdrPattern(c.width, 4, 11);
    HdrOptions o;
    o.rle = c.rle;
    TPixelBuffer out, reference;
    ASSERT_TRUE(HDRLoadFromMemory(HdrFile(c.width, 4, rgbe, o), out));
    o.rle = c.width >= 8;
    ASSERT_TRUE(HDRLoadFromMemory(HdrFile(c.width, 4, rgbe, o), reference));
    EXPECT_EQ(PixelBytes(out), PixelBytes(reference));
  }
  // Old run-length marks: (1, 1, 1, n) repeats the previous pixel.
  Bytes old = HdrFile(6, 1, {}, FlatHdr());
  old.insert(old.end(), {100, 50, 25, 130, 1, 1, 1, 4, 9, 9, 9, 129});
  Bytes flat = HdrFile(6, 1, {}, FlatHdr());
  for (int i = 0; i < 5; ++i) flat.insert(flat.end(), {100, 50, 25, 130});
  flat.insert(flat.end(), {9, 9, 9, 129});
  TPixelBuffer a, b;
  ASSERT_TRUE(HDRLoadFromMemory(old, a));
  ASSERT_TRUE(HDRLoadFromMemory(flat, b));
  EXPECT_EQ(PixelBytes(a), PixelBytes(b));
}

TEST(HdrReader, BlackPictureIsBlackNotADivisionByZero) {
  TPixelBuffer out;
  ASSERT_TRUE(HDRLoadFromMemory(HdrFile(8, 2, Bytes(8 * 2 * 4, 0)), out));
  Bytes black;
  for (int i = 0; i < 16; ++i) black.insert(black.end(), {0, 0, 0, 255});
  EXPECT_EQ(PixelBytes(out), black);
}

TEST(HdrReader, HeaderVariants) {
  struct Case {
    const char* name;
    std::string headerLines;
    std::string resolution;
    bool ok;
  };
  const std::vector<Case> cases = {
      {"plain", "FORMAT=32-bit_rle_rgbe\n", "", true},
      {"no FORMAT line", "EXPOSURE=1\n", "", true},
      {"format name in lower case", "format=32-bit_rle_rgbe\n", "", true},
      {"padded resolution", "FORMAT=32-bit_rle_rgbe\n", "-Y       3 +X     16   ", true},
      {"XYZE", "FORMAT=32-bit_rle_xyze\n", "", false},
      {"format value case differs", "FORMAT=32-BIT_RLE_RGBE\n", "", false},
      {"+Y", "FORMAT=32-bit_rle_rgbe\n", "+Y 3 +X 16", false},
      {"-X", "FORMAT=32-bit_rle_rgbe\n", "-Y 3 -X 16", false},
      {"X first", "FORMAT=32-bit_rle_rgbe\n", "+X 16 -Y 3", false},
      {"width not a number", "FORMAT=32-bit_rle_rgbe\n", "-Y 3 +X sixteen", false},
      {"width 0", "FORMAT=32-bit_rle_rgbe\n", "-Y 3 +X 0", false},
      {"height 0", "FORMAT=32-bit_rle_rgbe\n", "-Y 0 +X 16", false},
      {"extra token", "FORMAT=32-bit_rle_rgbe\n", "-Y 3 +X 16 +Z", false},
      {"gamma not a number", "FORMAT=32-bit_rle_rgbe\nGAMMA=two\n", "", false},
      {"carriage returns", "FORMAT=32-bit_rle_rgbe\r\n", "", false},
  };
  const Bytes rgbe = HdrPattern(16, 3, 5);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    HdrOptions o;
    o.headerLines = c.headerLines;
    o.resolution = c.resolution;
    TPixelBuffer out;
    EXPECT_EQ(HDRLoadFromMemory(HdrFile(16, 3, rgbe, o), out), c.ok);
  }
  TPixelBuffer out;
  const std::string wrongMagic = "#?RGBE\nFORMAT=32-bit_rle_rgbe\n\n-Y 1 +X 1\n\1\1\1\1";
  std::string why;
  EXPECT_FALSE(HDRLoadFromMemory(Bytes(wrongMagic.begin(), wrongMagic.end()), out, nullptr, {}, &why));
  EXPECT_EQ(why, "not a Radiance HDR picture: it does not start with \"#?RADIANCE\"");
  const std::string crlf = "#?RADIANCE\r\nFORMAT=32-bit_rle_rgbe\r\n\r\n-Y 1 +X 1\r\n\1\1\1\1";
  EXPECT_FALSE(HDRLoadFromMemory(Bytes(crlf.begin(), crlf.end()), out));
}

TEST(HdrReader, DamagedScanlinesWithoutTouchingTheOutput) {
  const Bytes good = HdrFile(10, 2, HdrPattern(10, 2, 9));
  const size_t data = good.size() - 0;  // scanlines follow the header
  const std::string head = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 2 +X 10\n";
  const size_t start = head.size();
  ASSERT_LT(start, data);
  auto withScanline = [&](const Bytes& scan) {
    Bytes f(head.begin(), head.end());
    f.insert(f.end(), scan.begin(), scan.end());
    return f;
  };
  // A valid RLE component: a run of 10.
  const Bytes comp = {128 + 10, 7};
  auto rleLine = [&](int widthField, const Bytes& red) {
    Bytes s = {2, 2, uint8_t(widthField >> 8), uint8_t(widthField)};
    s.insert(s.end(), red.begin(), red.end());
    for (int c = 0; c < 3; ++c) s.insert(s.end(), comp.begin(), comp.end());
    return s;
  };
  struct Case {
    const char* name;
    Bytes file;
    const char* why;  // the reason given, in full or its start
  };
  Bytes twoLines = rleLine(10, comp);
  const Bytes second = rleLine(10, comp);
  twoLines.insert(twoLines.end(), second.begin(), second.end());
  const std::vector<Case> cases = {
      {"width field differs", withScanline(rleLine(11, comp)), "HDR scanline 1 of 2 is damaged"},
      {"run past the width", withScanline(rleLine(10, {128 + 11, 7})), "HDR scanline 1 of 2 is damaged"},
      {"literal past the width", withScanline(rleLine(10, {5, 1, 1, 1, 1, 1, 6, 1, 1, 1, 1, 1, 1})), "HDR scanline 1 of 2 is damaged"},
      {"file ends inside a scanline", Bytes(good.begin(), good.end() - 3), "HDR data ends early at scanline 2 of 2"},
      {"second scanline missing", withScanline(rleLine(10, comp)), "HDR data ends early at scanline 2 of 2"},
      {"old repeat with nothing before it", withScanline({1, 1, 1, 10, 1, 1, 1, 10}), "HDR scanline 1 of 2 is damaged"},
      {"old repeat past the width", [&] { Bytes f = HdrFile(6, 1, {}, FlatHdr()); f.insert(f.end(), {5, 5, 5, 128, 1, 1, 1, 6}); return f; }(), "HDR scanline 1 of 1 is damaged"},
      {"header 22627 x 26435 in a tiny file", [] { std::string s = "#?RADIANCE\n\n-Y 26435 +X 22627\n"; s += "\2\2\0\0"; return Bytes(s.begin(), s.end()); }(), "HDR picture of 22627 x 26435 pixels is larger than"},
      {"no end of header", [] { std::string s = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n"; return Bytes(s.begin(), s.end()); }(), "HDR header ends early, before the resolution line"},
  };
  ASSERT_TRUE([&] { TPixelBuffer o; return HDRLoadFromMemory(withScanline(twoLines), o); }());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPixelBuffer out = MakeSolid(3, 1, 5, 6, 7, 255);
    const uint8_t* before = out.View().Bits;
    std::string why;
    EXPECT_FALSE(HDRLoadFromMemory(c.file, out, nullptr, {}, &why));
    EXPECT_EQ(out.View().Bits, before);
    EXPECT_EQ(why.substr(0, std::strlen(c.why)), c.why);
  }
}

} // namespace
