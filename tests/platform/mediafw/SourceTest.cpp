// Sources: media information, files that cannot be opened, and damaged movies.
#include "SessionHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

using namespace skmtest;
using namespace skm::mf;

namespace {

std::string WriteFile(const std::string& dir, const std::string& name, const std::string& bytes) {
  const std::string path = dir + "/" + name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

TEST(MediaSource, MediaInfoGivesDisplaySizeAndFrameRate) {
  struct TCase {
    const char* name;
    TMovieRecipe recipe;
    uint32_t width, height, num, den;
    uint64_t step;
  };
  auto recipe = [](std::string rate, std::string sar, int rotate) {
    TMovieRecipe s;
    s.rate = std::move(rate);
    s.frames = 12;
    s.audio = false;
    s.sar = std::move(sar);
    s.rotate = rotate;
    return s;
  };
  const TCase cases[] = {
      {"24/1", recipe("24", "", 0), 160, 90, 24, 1, 416666},
      {"30000/1001", recipe("30000/1001", "", 0), 160, 90, 30000, 1001, 333666},
      {"60/1", recipe("60", "", 0), 160, 90, 60, 1, 166666},
      {"anamorphic 2:1 made square", recipe("25", "2:1", 0), 320, 90, 25, 1, 400000},
      {"phone clip turned a quarter", recipe("25", "", 90), 90, 160, 25, 1, 400000},
  };
  for (const auto& c : cases) {
    const std::string path = MakeTestMovie(c.recipe);
    ASSERT_FALSE(path.empty()) << c.name;
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK) << c.name;
    EXPECT_EQ(m.width, c.width) << c.name;
    EXPECT_EQ(m.height, c.height) << c.name;
    EXPECT_EQ(m.num, c.num) << c.name;
    EXPECT_EQ(m.den, c.den) << c.name;
    EXPECT_EQ(m.step, c.step) << c.name;
    // The picture has the reported size and still reads as frame 0.
    m.SeekPaused(0);
    std::shared_ptr<const VideoFrame> f;
    const int shown = m.ShownIndex(&f);
    ASSERT_TRUE(f) << c.name;
    EXPECT_EQ(uint32_t(f->width), c.width) << c.name;
    EXPECT_EQ(uint32_t(f->height), c.height) << c.name;
    EXPECT_GE(f->stride, f->width * 4);
    if (c.recipe.rotate == 0) {
      EXPECT_EQ(shown, 0) << c.name;
    }
    // Opaque: every alpha byte is 255.
    bool opaque = true;
    for (int y = 0; y < f->height; ++y)
      for (int x = 0; x < f->width; ++x) opaque &= f->pixels[y * f->stride + x * 4 + 3] == 255;
    EXPECT_TRUE(opaque) << c.name;
  }
}

TEST(MediaSource, FilesThatAreNotMoviesFailWithACauseAndNothingElse) {
  const std::string dir = MakeTempDir();
  const std::string movie = MakeTestMovie(TMovieRecipe{});
  ASSERT_FALSE(movie.empty());
  const std::string bytes = ReadFileBytes(movie);
  TMovieRecipe audioOnly;
  audioOnly.video = false;
  struct TCase {
    const char* name;
    std::string path;
    HRESULT expected;
  } cases[] = {
      {"missing", dir + "/nothing-here.mp4", E_FILE_NOT_FOUND},
      {"folder", dir, MF_E_UNSUPPORTED_BYTESTREAM_TYPE},
      {"empty", WriteFile(dir, "empty.mp4", ""), MF_E_INVALID_FILE_FORMAT},
      {"text", WriteFile(dir, "text.mp4", std::string(4000, 'x')), MF_E_UNSUPPORTED_BYTESTREAM_TYPE},
      {"header only", WriteFile(dir, "head.mp4", bytes.substr(0, 40)), MF_E_INVALID_FILE_FORMAT},
  };
  for (const auto& c : cases) {
    TOpened m;
    std::string error;
    const HRESULT hr = m.Open(c.path, nullptr, &error);
    EXPECT_TRUE(Failed(hr)) << c.name;
    // The exact code where one fits; any failure with a message otherwise.
    if (c.expected == E_FILE_NOT_FOUND) {
      EXPECT_EQ(hr, c.expected) << c.name;
    }
    EXPECT_FALSE(error.empty()) << c.name;
  }
}

// Damaged or unusual movies either fail the open cleanly or play what can be decoded;
// commands still complete and the session shuts down.
void PlayOrRefuse(const std::string& path, const std::string& name) {
  TOpened m;
  std::string error;
  const HRESULT hr = m.Open(path, nullptr, &error);
  if (Failed(hr)) {
    EXPECT_FALSE(error.empty() && hr != E_ABORT) << name << " failed without a cause";
    EXPECT_NE(hr, E_ABORT) << name << ": topology never became ready";
    return;
  }
  m.SeekPaused(m.duration / 2);
  m.SeekPaused(0);
  m.session->Start(PropVariant::Empty());
  EXPECT_GE(m.log->WaitFor(MESessionStarted, 2), 0) << name;
  m.session->Pause();
  EXPECT_GE(m.log->WaitFor(MESessionPaused, 3), 0) << name;
  if (m.hasVideo) {
    std::shared_ptr<IVideoDisplayControl> d;
    ASSERT_EQ(m.session->GetVideoDisplayControl(d), S_OK);
    std::shared_ptr<const VideoFrame> f;
    if (Succeeded(d->GetCurrentImage(f))) {
      ASSERT_TRUE(f);
      EXPECT_GT(f->width, 0);
      EXPECT_GE(f->stride, f->width * 4);
    }
  }
  m.session->Close();
  EXPECT_GE(m.log->WaitFor(MESessionClosed), 0) << name;
}

TEST(MediaSource, TruncatedMoviesPlayWhatIsThereOrFailCleanly) {
  const std::string dir = MakeTempDir();
  TMovieRecipe s;
  s.frames = 50;
  const std::string movie = MakeTestMovie(s);
  const std::string bytes = ReadFileBytes(movie);
  ASSERT_GT(bytes.size(), 1000u);
  for (int percent : {10, 50, 90, 99}) {
    const std::string path =
        WriteFile(dir, "cut" + std::to_string(percent) + ".mp4", bytes.substr(0, bytes.size() * percent / 100));
    PlayOrRefuse(path, "cut at " + std::to_string(percent) + "%");
  }
  // Flipped bytes in the middle of the picture data.
  std::string damaged = bytes;
  for (size_t i = damaged.size() / 3; i < damaged.size() / 2; i += 97) damaged[i] ^= 0x5A;
  PlayOrRefuse(WriteFile(dir, "flipped.mp4", damaged), "flipped bytes");
}

TEST(MediaSource, CorpusMoviesPlayOrFailCleanly) {
  const std::string corpus = CorpusDir();
  if (corpus.empty() || !std::filesystem::is_directory(corpus + "/mp4"))
    GTEST_SKIP() << "no corpus";
  int seen = 0;
  for (const auto& e : std::filesystem::directory_iterator(corpus + "/mp4")) {
    if (!e.is_regular_file()) continue;
    const std::string name = e.path().filename().string();
    // The damaged ones and the slice-error clip, plus two sound ones.
    const bool wanted = name.rfind("REJECT_", 0) == 0 || name.find("slice") != std::string::npos ||
                        name == "afl_small_movie.mp4" || name == "hollywood_soundwave.mp4" ||
                        name == "iphone5_motion.mov" || name == "sage_example_84x33.mp4";
    if (!wanted) continue;
    ++seen;
    SCOPED_TRACE(name);
    PlayOrRefuse(e.path().string(), name);
  }
  EXPECT_GT(seen, 0);
}

} // namespace
