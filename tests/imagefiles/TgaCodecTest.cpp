#include <gtest/gtest.h>

#include <cstring>

#include "TestImages.h"
#include "imagefiles/codecs/TgaCodec.h"

using namespace skm;
using namespace skmtest;

namespace {

struct Packet {
  bool run;
  int count;
  bool operator==(const Packet&) const = default;
};

// Splits a run-length encoded 24-bit row into its packets.
std::vector<Packet> Packets(const Bytes& encoded) {
  std::vector<Packet> out;
  for (size_t i = 0; i < encoded.size();) {
    const uint8_t h = encoded[i++];
    const int n = (h & 0x7F) + 1;
    const bool run = (h & 0x80) != 0;
    out.push_back({run, n});
    i += run ? 3 : size_t(n) * 3;
  }
  return out;
}

// A row of 24-bit pixels from one letter per pixel.
Bytes Row(const std::string& letters) {
  Bytes row;
  for (char c : letters) row.insert(row.end(), {uint8_t(c), 0, 1});
  return row;
}

std::string Distinct(int n) {
  std::string s;
  for (int i = 0; i < n; ++i) s += char(i % 2 ? 'a' + i % 20 : 'A' + i % 20);
  return s;
}

TEST(TgaCodec, RowEncodingFollowsTheRunRules) {
  struct Case {
    const char* name;
    std::string row;
    std::vector<Packet> packets;
  };
  const std::vector<Case> cases = {
      {"300 equal", std::string(300, 'A'), {{true, 128}, {true, 128}, {true, 44}}},
      {"130 different", Distinct(130), {{false, 127}, {false, 3}}},
      {"128 different", Distinct(128), {{false, 128}}},
      {"A A B C C", "AABCC", {{true, 2}, {false, 1}, {true, 2}}},
      {"one pixel", "A", {{false, 1}}},
      {"two equal", "AA", {{true, 2}}},
      {"raw then run", "ABB", {{false, 1}, {true, 2}}},
      {"129 equal", std::string(129, 'A'), {{true, 128}, {false, 1}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out;
    const Bytes row = Row(c.row);
    TGAEncodeRow24(row.data(), int32_t(c.row.size()), out);
    EXPECT_EQ(Packets(out), c.packets);
  }
}

TEST(TgaCodec, WriterLayout) {
  const TPixelBuffer picture = MakePattern(5, 3, 1, AlphaKind::Varied);
  for (bool alpha : {false, true}) {
    SCOPED_TRACE(alpha ? "32-bit" : "24-bit");
    const Bytes f = TGAEncode(picture.ConstView(), "Someone", alpha);
    ASSERT_GT(f.size(), 18u + 495 + 26);
    EXPECT_EQ(f[0], 1);                        // image ID: one zero byte
    EXPECT_EQ(f[2], alpha ? 2 : 10);           // raw with alpha, run-length encoded without
    EXPECT_EQ(f[12] | (f[13] << 8), 5);
    EXPECT_EQ(f[14] | (f[15] << 8), 3);
    EXPECT_EQ(f[16], alpha ? 32 : 24);
    EXPECT_EQ(f[17], alpha ? 0x28 : 0x20);
    EXPECT_EQ(f[18], 0);
    const uint8_t* footer = f.data() + f.size() - 26;
    EXPECT_EQ(0, std::memcmp(footer + 8, "TRUEVISION-XFILE.", 18));
    const uint32_t ext = footer[0] | (footer[1] << 8) | (footer[2] << 16) | (uint32_t(footer[3]) << 24);
    ASSERT_EQ(ext, f.size() - 26 - 495);
    const uint8_t* e = f.data() + ext;
    EXPECT_EQ(e[0] | (e[1] << 8), 495);
    EXPECT_STREQ(reinterpret_cast<const char*>(e + 2), "Someone");
    EXPECT_EQ(e[367] | (e[368] << 8), 12);     // the zero date: 30 December 1899
    EXPECT_EQ(e[369] | (e[370] << 8), 30);
    EXPECT_EQ(e[371] | (e[372] << 8), 1899);
    EXPECT_EQ(e[476] | (e[477] << 8), 10000);  // ratios 0 / 10000
    EXPECT_EQ(e[480] | (e[481] << 8), 10000);
    if (alpha) {
      EXPECT_EQ(ext, 18u + 1 + 5 * 3 * 4);
    }
  }
}

TEST(TgaCodec, RoundTripOverSizes) {
  const std::vector<std::pair<int, int>> sizes = {{1, 1}, {2, 1}, {1, 3}, {7, 5}, {129, 3}, {300, 2}, {333, 17}, {30000, 1}, {1100, 1000}};
  for (auto [w, h] : sizes) {
    for (bool alpha : {false, true}) {
      SCOPED_TRACE(std::to_string(w) + "x" + std::to_string(h) + (alpha ? " 32-bit" : " 24-bit"));
      const TPixelBuffer picture = MakePattern(w, h, uint32_t(w * 31 + h), AlphaKind::Varied);
      const Bytes f = TGAEncode(picture.ConstView(), "", alpha);
      TPixelBuffer back;
      ASSERT_TRUE(TGALoadFromMemory(f, back));
      ASSERT_EQ(back.Width(), w);
      ASSERT_EQ(back.Height(), h);
      Bytes expected = PixelBytes(picture);
      if (!alpha) {
        // 24-bit: the colours as held (over black), opaque.
        for (size_t i = 3; i < expected.size(); i += 4) expected[i] = 255;
      } else if (w * h == 1) {
        continue;  // (0,0) of the pattern is transparent: a one-pixel file reads as undefined alpha
      }
      EXPECT_EQ(PixelBytes(back), expected);
    }
  }
}

TEST(TgaCodec, PremultipliedValuesSurviveTheStraightAlphaFile) {
  for (uint32_t a = 0; a < 256; ++a)
    for (uint32_t c = 0; c <= a; ++c)
      ASSERT_EQ(PremultiplyByte(UnpremultiplyByte(c, a), a), c) << "c=" << c << " a=" << a;
}

// 2 x 2 pictures: the file's rows bottom-up unless bit 5, right to left when bit 4.
TEST(TgaCodec, RowOrderAndMirror) {
  // File order pixels p0 p1 (first row), p2 p3 (second row), 24-bit.
  const Bytes pixels = {1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4};
  struct Case {
    uint8_t descriptor;
    std::vector<uint8_t> topLeftToBottomRight;  // blue byte of each bitmap pixel
  };
  const std::vector<Case> cases = {
      {0x20, {1, 2, 3, 4}},  // top-down
      {0x00, {3, 4, 1, 2}},  // bottom-up
      {0x30, {2, 1, 4, 3}},  // top-down, right to left
      {0x10, {4, 3, 2, 1}},  // bottom-up, right to left
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(int(c.descriptor));
    Bytes f = TgaHeader(2, 2, 2, 24, c.descriptor);
    f.insert(f.end(), pixels.begin(), pixels.end());
    TPixelBuffer out;
    ASSERT_TRUE(TGALoadFromMemory(f, out));
    const Bytes got = PixelBytes(out);
    for (int i = 0; i < 4; ++i) {
      EXPECT_EQ(got[size_t(i) * 4], c.topLeftToBottomRight[size_t(i)]);
      EXPECT_EQ(got[size_t(i) * 4 + 3], 255);
    }
  }
}

TEST(TgaCodec, RunPacketsCrossRows) {
  // 3 x 2, 24-bit RLE: a run of 4 (row 0 and the first pixel of row 1), then raw 2.
  Bytes f = TgaHeader(10, 3, 2, 24, 0x20);
  f.insert(f.end(), {0x83, 9, 8, 7, 0x01, 1, 1, 1, 2, 2, 2});
  TPixelBuffer out;
  ASSERT_TRUE(TGALoadFromMemory(f, out));
  const Bytes got = PixelBytes(out);
  const Bytes expected = {9, 8, 7, 255, 9, 8, 7, 255, 9, 8, 7, 255, 9, 8, 7, 255, 1, 1, 1, 255, 2, 2, 2, 255};
  EXPECT_EQ(got, expected);

  // The same with a raw packet crossing the rows.
  Bytes g = TgaHeader(10, 3, 2, 24, 0x20);
  g.insert(g.end(), {0x03, 9, 8, 7, 9, 8, 7, 9, 8, 7, 9, 8, 7, 0x01, 1, 1, 1, 2, 2, 2});
  ASSERT_TRUE(TGALoadFromMemory(g, out));
  EXPECT_EQ(PixelBytes(out), expected);
}

TEST(TgaCodec, AlphaIsPremultipliedAndAllZeroAlphaIsOpaque) {
  struct Case {
    const char* name;
    Bytes pixel;     // B G R A in the file
    Bytes expected;  // in the bitmap
  };
  const std::vector<Case> cases = {
      {"opaque", {200, 100, 50, 255}, {200, 100, 50, 255}},
      {"half", {200, 100, 50, 128}, {100, 50, 25, 128}},
      {"invisible among visible", {200, 100, 50, 0}, {0, 0, 0, 0}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Second pixel opaque, so the file's alpha is defined.
    Bytes f = TgaHeader(2, 2, 1, 32, 0x28);
    f.insert(f.end(), c.pixel.begin(), c.pixel.end());
    f.insert(f.end(), {1, 2, 3, 255});
    TPixelBuffer out;
    ASSERT_TRUE(TGALoadFromMemory(f, out));
    const Bytes got = PixelBytes(out);
    EXPECT_EQ(Bytes(got.begin(), got.begin() + 4), c.expected);
  }
  // Every alpha byte zero: alpha undefined, picture shown opaque with its colours.
  for (uint8_t type : {2, 10}) {
    SCOPED_TRACE(int(type));
    Bytes f = TgaHeader(type, 2, 1, 32, 0x20);
    if (type == 10) f.push_back(0x01);
    f.insert(f.end(), {200, 100, 50, 0, 1, 2, 3, 0});
    TPixelBuffer out;
    ASSERT_TRUE(TGALoadFromMemory(f, out));
    EXPECT_EQ(PixelBytes(out), (Bytes{200, 100, 50, 255, 1, 2, 3, 255}));
  }
}

TEST(TgaCodec, AuthorFromTheExtensionArea) {
  struct Case {
    const char* name;
    bool footer;
    std::string author;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"no footer", false, "", ""},
      {"author", true, "Ricky", "Ricky"},
      {"41 bytes without terminator", true, std::string(41, 'x'), std::string(40, 'x')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes f = TgaHeader(2, 1, 1, 24, 0);
    f.insert(f.end(), {1, 2, 3});
    if (c.footer) AppendTgaExtension(f, c.author);
    TPixelBuffer out;
    TTGAInfo info;
    ASSERT_TRUE(TGALoadFromMemory(f, out, &info));
    EXPECT_EQ(info.Author, c.expected);
  }
  // A footer whose extension offset is 0 has no extension area: the header is not read as one.
  Bytes f = TgaHeader(2, 1, 1, 24, 0, 40);
  f.insert(f.end(), 600, 7);  // pixel and trailing data
  Bytes footer(26, 0);
  std::memcpy(footer.data() + 8, "TRUEVISION-XFILE.", 18);
  f.insert(f.end(), footer.begin(), footer.end());
  TPixelBuffer out;
  TTGAInfo info;
  ASSERT_TRUE(TGALoadFromMemory(f, out, &info));
  EXPECT_FALSE(info.HasExtension);
  EXPECT_EQ(info.Author, "");
}

TEST(TgaCodec, LongAuthorIsCutTo40Bytes) {
  const TPixelBuffer picture = MakeSolid(2, 2, 1, 2, 3, 255);
  const std::string author(55, 'a');
  const Bytes f = TGAEncode(picture.ConstView(), author, false);
  TPixelBuffer out;
  TTGAInfo info;
  ASSERT_TRUE(TGALoadFromMemory(f, out, &info));
  EXPECT_EQ(info.Author, std::string(40, 'a'));
}

TEST(TgaCodec, RejectsWithoutTouchingTheOutput) {
  auto raw24 = [](int w, int h, size_t pixelBytes) {
    Bytes f = TgaHeader(2, w, h, 24, 0x20);
    f.insert(f.end(), pixelBytes, 9);
    return f;
  };
  auto rle24 = [](const Bytes& packets) {
    Bytes f = TgaHeader(10, 2, 2, 24, 0x20);
    f.insert(f.end(), packets.begin(), packets.end());
    return f;
  };
  struct Case {
    const char* name;
    Bytes file;
    const char* why;  // the reason given, in full or its start
  };
  Bytes huge = TgaHeader(10, 22627, 26435, 32, 0);
  huge.resize(69, 0x80);
  const std::vector<Case> cases = {
      {"colour-mapped", [] { Bytes f = TgaHeader(1, 1, 1, 8, 0); f.push_back(0); return f; }(), "TGA image type 1 (colour-mapped) is not supported"},
      {"greyscale", [] { Bytes f = TgaHeader(3, 1, 1, 8, 0); f.push_back(0); return f; }(), "TGA image type 3 (greyscale) is not supported"},
      {"grey RLE", [] { Bytes f = TgaHeader(11, 1, 1, 8, 0); f.insert(f.end(), {0, 0}); return f; }(), "TGA image type 11 (greyscale) is not supported"},
      {"16-bit", [] { Bytes f = TgaHeader(2, 1, 1, 16, 0); f.insert(f.end(), {0, 0}); return f; }(), "TGA with 16 bits per pixel is not supported"},
      {"zero width", raw24(0, 2, 12), "TGA picture of 0 x 2 pixels is empty"},
      {"zero height", raw24(2, 0, 12), "TGA picture of 2 x 0 pixels is empty"},
      {"truncated raw", raw24(2, 2, 11), "TGA data ends early at row 2 of 2"},
      {"ID past the end", [] { Bytes f = TgaHeader(2, 1, 1, 24, 0, 5); f.resize(20); return f; }(), "TGA data ends early in the image ID"},
      {"pixels missing after the ID", TgaHeader(2, 1, 1, 24, 0, 5), "TGA data ends early at row 1 of 1"},
      {"RLE truncated", rle24({0x81, 1, 2, 3}), "TGA data ends early at row 2 of 2"},
      {"RLE raw packet truncated", rle24({0x03, 1, 2, 3, 4, 5, 6}), "TGA data ends early at row 2 of 2"},
      {"RLE run past the image", rle24({0x84, 1, 2, 3}), "TGA run-length data run past the last pixel"},
      {"RLE raw past the image", rle24({0x04, 1, 1, 1, 2, 2, 2, 3, 3, 3, 4, 4, 4, 5, 5, 5}), "TGA run-length data run past the last pixel"},
      {"22627 x 26435 in 69 bytes", huge, "TGA picture of 22627 x 26435 pixels is larger than"},
      {"header only", TgaHeader(2, 875, 842, 24, 0x20), "TGA data ends early at row 1 of 842"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TPixelBuffer out = MakeSolid(3, 1, 5, 6, 7, 255);
    const uint8_t* before = out.View().Bits;
    std::string why;
    EXPECT_FALSE(TGALoadFromMemory(c.file, out, nullptr, {}, &why));
    EXPECT_EQ(out.View().Bits, before);
    EXPECT_EQ(why.substr(0, std::strlen(c.why)), c.why);
    EXPECT_EQ(out.Width(), 3);
  }
}

TEST(TgaCodec, FileErrorsAreFalseWithAMessage) {
  TPixelBuffer out;
  std::string author = "kept", error;
  EXPECT_FALSE(TGALoadFromFile("/nonexistent/picture.tga", out, &author, &error));
  EXPECT_FALSE(error.empty());
  EXPECT_EQ(author, "kept");
  EXPECT_FALSE(TGASaveToFile("/nonexistent/dir/picture.tga", MakeSolid(1, 1, 0, 0, 0, 255).ConstView(), "", true, &error));
  EXPECT_TRUE(TGAEncode(TConstBitmapView{}, "", true).empty());
}

} // namespace
