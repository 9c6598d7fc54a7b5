// Replays the fuzzers' seed files through every reader, so the seeds (and any crash
// input added to them) run in every build, not only in the clang fuzzing build.
#include <gtest/gtest.h>

#include <filesystem>

#include "TestImages.h"
#include "TestSupport.h"
#include "imagefiles/codecs/BmpReader.h"
#include "imagefiles/codecs/HdrReader.h"
#include "imagefiles/codecs/PsdCodec.h"
#include "imagefiles/codecs/TgaCodec.h"

using namespace skm;
using namespace skmtest;
namespace fs = std::filesystem;

namespace {

TEST(FuzzSeedReplay, EveryReaderOverEverySeed) {
  const fs::path root = fs::path(SourceDir()) / "fuzz" / "imagefiles";
  int files = 0;
  TReadLimits limits;
  limits.MaxPixels = 1 << 22;
  for (const char* reader : {"tga", "psd", "hdr", "bmp"}) {
    const fs::path seeds = root / reader / "seeds";
    ASSERT_TRUE(fs::is_directory(seeds)) << seeds;
    for (const auto& e : fs::directory_iterator(seeds)) {
      if (!e.is_regular_file()) continue;
      SCOPED_TRACE(e.path().string());
      const Bytes data = ReadAll(e.path().string());
      TPixelBuffer out;
      TGALoadFromMemory(data, out, nullptr, limits);
      PSDLoadFromMemory(data, out, limits);
      HDRLoadFromMemory(data, out, nullptr, limits);
      BMPLoadFromMemory(data, out, nullptr, limits);
      ++files;
    }
  }
  EXPECT_GT(files, 0);
}

} // namespace
