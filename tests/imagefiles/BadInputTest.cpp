// One bad-input test applied to every reader: empty, header only, cut short at every
// tenth of the file, and random bytes, with and without a valid header in front.
#include <gtest/gtest.h>

#include <functional>
#include <random>

#include "TestImages.h"
#include "imagefiles/codecs/HdrReader.h"
#include "imagefiles/codecs/PsdCodec.h"
#include "imagefiles/codecs/TgaCodec.h"

using namespace skm;
using namespace skmtest;

namespace {

struct Reader {
  const char* name;
  std::function<bool(const Bytes&, TPixelBuffer&, std::string*)> read;
  Bytes valid;        // a file the reader accepts
  size_t headerSize;  // its fixed header
  size_t pixelEnd;    // where its picture data end (cutting before this must fail)
};

std::vector<Reader> Readers() {
  TReadLimits limits;
  limits.MaxPixels = 1 << 22;
  std::vector<Reader> readers;
  {
    const TPixelBuffer p = MakePattern(37, 11, 1, AlphaKind::Opaque);
    const Bytes f = TGAEncode(p.ConstView(), "x", false);
    readers.push_back({"TGA RLE", [limits](const Bytes& b, TPixelBuffer& o, std::string* why) { return TGALoadFromMemory(b, o, nullptr, limits, why); },
                       f, 18, f.size() - 495 - 26});
  }
  {
    const TPixelBuffer p = MakePattern(37, 11, 2, AlphaKind::Varied);
    const Bytes f = TGAEncode(p.ConstView(), "x", true);
    readers.push_back({"TGA raw", [limits](const Bytes& b, TPixelBuffer& o, std::string* why) { return TGALoadFromMemory(b, o, nullptr, limits, why); },
                       f, 18, f.size() - 495 - 26});
  }
  {
    const TPixelBuffer p = MakePattern(37, 11, 3, AlphaKind::Opaque);
    const Bytes f = PSDEncode(p.ConstView());
    readers.push_back({"PSD", [limits](const Bytes& b, TPixelBuffer& o, std::string* why) { return PSDLoadFromMemory(b, o, limits, why); },
                       f, 26, f.size()});
  }
  {
    const Bytes f = HdrFile(37, 11, HdrPattern(37, 11, 4));
    const std::string head = "#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 11 +X 37\n";
    readers.push_back({"HDR", [limits](const Bytes& b, TPixelBuffer& o, std::string* why) { return HDRLoadFromMemory(b, o, nullptr, limits, why); },
                       f, head.size(), f.size()});
  }
  return readers;
}

TEST(BadInput, EveryReaderFailsCleanly) {
  std::mt19937 rng(1234);
  for (const Reader& r : Readers()) {
    SCOPED_TRACE(r.name);
    TPixelBuffer out;
    ASSERT_TRUE(r.read(r.valid, out, nullptr));
    const Bytes good = PixelBytes(out);

    auto expectUnchanged = [&](const Bytes& file, bool mustFail) {
      std::string why;
      const bool ok = r.read(file, out, &why);
      if (mustFail) {
        EXPECT_FALSE(ok);
      }
      if (!ok) {
        EXPECT_EQ(PixelBytes(out), good);  // a failed read leaves the picture alone
        EXPECT_FALSE(why.empty());         // and says why
      } else {
        ASSERT_TRUE(r.read(r.valid, out, nullptr));
      }
    };
    expectUnchanged({}, true);
    expectUnchanged(Bytes(r.valid.begin(), r.valid.begin() + ptrdiff_t(r.headerSize)), true);
    for (int tenth = 1; tenth < 10; ++tenth) {
      SCOPED_TRACE(tenth);
      const size_t cut = r.valid.size() * size_t(tenth) / 10;
      expectUnchanged(Bytes(r.valid.begin(), r.valid.begin() + ptrdiff_t(cut)), cut < r.pixelEnd);
    }
    for (int i = 0; i < 200; ++i) {
      Bytes noise(rng() % 2000);
      for (uint8_t& b : noise) b = uint8_t(rng());
      expectUnchanged(noise, false);
      // The valid header in front, noise after it.
      Bytes headed(r.valid.begin(), r.valid.begin() + ptrdiff_t(r.headerSize));
      headed.insert(headed.end(), noise.begin(), noise.end());
      expectUnchanged(headed, false);
      // The valid file with a few bytes flipped.
      Bytes damaged = r.valid;
      for (int k = 0; k < 4; ++k) damaged[rng() % damaged.size()] = uint8_t(rng());
      expectUnchanged(damaged, false);
    }
  }
}

} // namespace
