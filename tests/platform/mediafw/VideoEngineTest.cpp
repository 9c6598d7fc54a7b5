// The video engine on its own: what it keeps of the pictures it converts.

#include "platform/mediafw/VideoEngine.h"
#include "TestMovies.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace skm::mf;
using namespace skm::mf::detail;
using namespace skmtest;

// The movie the recipe makes, probed; nullptr (the test failed) when either step failed.
std::shared_ptr<TMovieInfo> Probed(const TMovieRecipe& r) {
  const std::string path = MakeTestMovie(r);
  if (path.empty()) {
    ADD_FAILURE() << "the test movie could not be made";
    return nullptr;
  }
  auto info = std::make_shared<TMovieInfo>();
  std::string message;
  if (ProbeMovie(path, *info, message) != S_OK) {
    ADD_FAILURE() << "probing the test movie failed: " << message;
    return nullptr;
  }
  return info;
}

// An engine for the movie, opened within budget bytes; nullptr (the test failed) otherwise.
std::unique_ptr<TVideoEngine> Opened(const std::shared_ptr<TMovieInfo>& info, uint64_t budget) {
  if (!info) return nullptr;
  auto engine = std::make_unique<TVideoEngine>(info, budget, 2, nullptr);
  std::string message;
  if (engine->Open(message) != S_OK) {
    ADD_FAILURE() << "opening the engine failed: " << message;
    return nullptr;
  }
  return engine;
}

// Shows frame k of a 25/s movie as a step while paused does: made current, taken for the
// screen (into *shown when given, held as long as the caller keeps it), its
// neighbourhood prepared.
::testing::AssertionResult ShowPaused(TVideoEngine& engine, int k,
                                      std::shared_ptr<const VideoFrame>* shown = nullptr) {
  const int64_t t = engine.DecisionTime(k * int64_t(10'000'000 / 25));
  if (engine.Ensure(t, nullptr) != TVideoEngine::TResult::Ready)
    return ::testing::AssertionFailure() << "frame " << k << " not made current";
  std::shared_ptr<const VideoFrame> picture;
  if (!shown) shown = &picture;
  if (engine.GetImage(t, *shown) != S_OK)
    return ::testing::AssertionFailure() << "frame " << k << " not given";
  engine.Prefetch(t);
  return ::testing::AssertionSuccess();
}

TEST(VideoEngine, ConvertedPicturesStayFewAndTheirBuffersAreReused) {
  // Stepping through a long run of frames converts one picture per step. Converted
  // pictures beyond the window around the playhead are let go at once, with the budget
  // far from full, so their buffers serve the next conversions: fresh buffers are
  // written page by page by the kernel, many times slower than reused ones.
  TMovieRecipe r;
  r.rate = "25";
  r.frames = 80;
  r.gop = 80;
  r.bframes = 2;
  r.audio = false;
  const auto engine = Opened(Probed(r), uint64_t(1) << 30);
  ASSERT_NE(engine, nullptr);
  // Each way: back from the end, then forward again, as steps while paused go.
  std::vector<int> walk;
  for (int k = 79; k >= 0; --k) walk.push_back(k);
  for (int k = 1; k < 80; ++k) walk.push_back(k);
  uint64_t mostHeld = 0;
  for (int k : walk) {
    ASSERT_TRUE(ShowPaused(*engine, k));
    mostHeld = std::max(mostHeld, engine->Stats().convertedHeld);
  }
  const TVideoEngine::TStats s = engine->Stats();
  EXPECT_GE(s.framesConverted, 80u);
  // The window is at most 6 frames on either side.
  EXPECT_LE(mostHeld, 14u);
  // Buffers for the window and the pictures on screen; none per step beyond that.
  EXPECT_LE(s.pictureBuffersMapped, 20u) << "converted " << s.framesConverted;
}


TEST(VideoEngine, StepsBackToBackAfterARestTakeNoFreshPictureMemory) {
  // A rest readies the picture buffers the window needs; the steps back to back that
  // follow leave no rest for more, so each step's picture must take a buffer given back
  // by a converted picture outside the window, not fresh memory (taken by the step itself
  // or written beside it: 4-23 ms a 1080p picture where the host hands memory over on
  // first write). The screen holds the last two pictures shown; pictures held longer
  // elsewhere (a frame splitter's blend, an export) keep their buffers from the pool,
  // so each of them may take one fresh buffer in its place, and no more.
  for (const int heldElsewhere : {0, 4}) {
    SCOPED_TRACE("pictures held elsewhere: " + std::to_string(heldElsewhere));
    TMovieRecipe r;
    r.frames = 120;
    r.gop = 120;
    r.audio = false;
    const auto engine = Opened(Probed(r), uint64_t(1) << 30);
    ASSERT_NE(engine, nullptr);
    std::shared_ptr<const VideoFrame> onScreen[2];
    std::vector<std::shared_ptr<const VideoFrame>> held;
    auto show = [&](int k) {
      auto shown = ShowPaused(*engine, k, &onScreen[k % 2]);
      if (shown && static_cast<int>(held.size()) < heldElsewhere) held.push_back(onScreen[k % 2]);
      return shown;
    };
    ASSERT_TRUE(show(20));
    // Rested once nothing more is mapped for half a second (slow builds take longer).
    uint64_t rested = engine->Stats().pictureBuffersMapped;
    for (int quiet = 0, waited = 0; quiet < 5 && waited < 100; ++waited) {
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
      const uint64_t now = engine->Stats().pictureBuffersMapped;
      quiet = now == rested ? quiet + 1 : 0;
      rested = now;
    }
    for (int k = 21; k < 110; ++k) ASSERT_TRUE(show(k));
    const TVideoEngine::TStats s = engine->Stats();
    EXPECT_LE(s.convertedHeld, 14u);
    EXPECT_LE(s.pictureBuffersMapped, rested + heldElsewhere)
        << "rested with " << rested << ", converted " << s.framesConverted;
  }
}

TEST(VideoEngine, ASessionOpenedAfterAnotherTakesTheBuffersItLetGo) {
  // Memory given back to the kernel comes back a page fault at a time: the next movie
  // opened (or the same one reopened) decodes and converts into the buffers the closed
  // one had, not into fresh ones. A size no other test uses, so only these two sessions
  // share them.
  TMovieRecipe r;
  r.width = 656;
  r.height = 368;
  r.frames = 30;
  r.gop = 30;
  r.audio = false;
  const auto info = Probed(r);
  ASSERT_NE(info, nullptr);
  auto walk = [&](uint64_t& mapped, uint64_t& framesMapped) {
    // A small budget: the frames held are more than the free buffers a session keeps.
    const auto engine = Opened(info, uint64_t(32) << 20);
    ASSERT_NE(engine, nullptr);
    for (int k = 29; k >= 10; --k) ASSERT_TRUE(ShowPaused(*engine, k));
    mapped = engine->Stats().pictureBuffersMapped;
    framesMapped = engine->Stats().frameBuffersMapped;
  };
  uint64_t first = 0, second = 0, firstFrames = 0, secondFrames = 0;
  walk(first, firstFrames);
  walk(second, secondFrames);
  // The decoded frames the first held come back too, not only its free buffers.
  EXPECT_GE(firstFrames, 20u);
  EXPECT_LE(secondFrames, firstFrames / 4) << "first session mapped " << firstFrames;
  EXPECT_GE(first, 4u);
  EXPECT_LE(second, first / 2) << "first session mapped " << first;
}

TEST(VideoEngine, PlayingKeepsASecondOfFramesShownAndReusesTheRest) {
  // While playing, the frames shown more than a second ago make room for the frames
  // decoded ahead, budget or not: a cache growing to its budget would take fresh memory
  // for every frame, and stepping back after a pause needs only the last second at once.
  TMovieRecipe r;
  r.frames = 150;
  r.gop = 50;
  r.audio = false;
  const auto opened = Opened(Probed(r), uint64_t(1) << 30);
  ASSERT_NE(opened, nullptr);
  TVideoEngine& engine = *opened;
  const int64_t step = int64_t(10'000'000 / 25);
  uint64_t most = 0;
  for (int k = 0; k < 140; ++k) {
    const int64_t t = engine.DecisionTime(k * step);
    engine.DecodeAhead(t, 20'000'000, nullptr);
    std::shared_ptr<const VideoFrame> shown;
    ASSERT_EQ(engine.GetImage(t, shown), S_OK) << k;
    ASSERT_NE(shown, nullptr);
    EXPECT_NEAR(double(shown->timestamp), double(k * step), step / 2.0) << k;
    if (k > 80) most = std::max(most, engine.Stats().cachedFrames);
  }
  // A second behind (25 frames), two seconds ahead (50), and a few in between.
  EXPECT_LE(most, 85u);
  // Pausing there, a step back finds its frame.
  const int64_t back = engine.DecisionTime(120 * step);
  const uint64_t hits = engine.Stats().cacheHits;
  ASSERT_EQ(engine.Ensure(back, nullptr), TVideoEngine::TResult::Ready);
  EXPECT_EQ(engine.Stats().cacheHits, hits + 1);
}

// A 25/s movie of n frames in one group (a keyframe only at the start, B-frames), opened
// at 1 GiB; nullptr (the test failed) otherwise.
std::unique_ptr<TVideoEngine> OneGroupEngine(int n) {
  TMovieRecipe r;
  r.rate = "25";
  r.frames = n;
  r.gop = n;
  r.bframes = 2;
  r.audio = false;
  return Opened(Probed(r), uint64_t(1) << 30);
}

TEST(VideoEngine, StepsIntoFramesNotDecodedReuseTheBuffersOfFarFrames) {
  // Steps forward back to back, each decoding its frame: the frames more than a second
  // behind give their buffers to the frames decoded next rather than the cache growing
  // into fresh memory, and the last second stays for the steps back.
  const auto opened = OneGroupEngine(200);
  ASSERT_NE(opened, nullptr);
  TVideoEngine& engine = *opened;
  const int64_t step = int64_t(10'000'000 / 25);
  auto show = [&](int k) { return engine.Ensure(engine.DecisionTime(k * step), nullptr); };
  ASSERT_EQ(show(100), TVideoEngine::TResult::Ready);
  const TVideoEngine::TStats seeked = engine.Stats();
  for (int k = 101; k < 190; ++k) ASSERT_EQ(show(k), TVideoEngine::TResult::Ready) << k;
  const TVideoEngine::TStats s = engine.Stats();
  EXPECT_GE(s.framesDecoded - seeked.framesDecoded, 85u);
  // A few buffers while the far frames run out (the decoder's delay, the free ones kept).
  EXPECT_LE(s.frameBuffersMapped - seeked.frameBuffersMapped, 16u)
      << "mapped " << s.frameBuffersMapped << " after the seek " << seeked.frameBuffersMapped;
  EXPECT_LE(s.cachedFrames, 45u);
  // The last second behind is still there: stepping back through it decodes nothing.
  const uint64_t decoded = s.framesDecoded;
  for (int k = 188; k >= 166; --k) ASSERT_EQ(show(k), TVideoEngine::TResult::Ready) << k;
  EXPECT_EQ(engine.Stats().framesDecoded, decoded);
}

TEST(VideoEngine, StepsHeldBackTowardTheEndOfWhatIsDecodedHaveTheLastSecondPrepared) {
  // A seek keeps the second before its target. Steps back that keep coming faster than
  // the preparation waits for toward the start of that second would reach it with
  // nothing decoded there: the second behind them is prepared beside the steps, early
  // enough for a held key (a step each 40 ms) not to outrun the decoding of a group.
  struct TCase {
    int holdAt;          // where steps back to back from the seek's target stop
    uint64_t moreHeld;   // frames the preparation adds at least while steps go on there
  } cases[] = {
      {101, 10},  // a few frames from the start of what the seek kept
      {112, 5},   // a little over twice the window from it
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.holdAt);
    const auto opened = OneGroupEngine(150);
    ASSERT_NE(opened, nullptr);
    TVideoEngine& engine = *opened;
    const int64_t step = int64_t(10'000'000 / 25);
    ASSERT_EQ(engine.Ensure(engine.DecisionTime(120 * step), nullptr),
              TVideoEngine::TResult::Ready);
    // Back to back: each preparation is broken off by the next step before it starts.
    int k = 120;
    while (k > c.holdAt) ASSERT_TRUE(ShowPaused(engine, --k));
    // Held there, steps still coming (a key held at the first picture it can reach, say):
    // the frames before it arrive without a pause.
    const uint64_t held = engine.Stats().cachedFrames;
    bool prepared = false;
    for (int i = 0; i < 250 && !prepared; ++i) {
      engine.Prefetch(engine.DecisionTime(k * step));
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
      prepared = engine.Stats().cachedFrames >= held + c.moreHeld;
    }
    EXPECT_TRUE(prepared) << "frames held " << engine.Stats().cachedFrames << ", before " << held;
  }
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

// Resident memory of this process in bytes, from the kernel's own count; 0 when unknown.
uint64_t ResidentBytes() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line))
    if (line.rfind("VmRSS:", 0) == 0) return std::stoull(line.substr(6)) * 1024;
  return 0;
}

TEST(VideoEngine, LargePictureBuffersNeitherOverlapNorOutstayTheirUse) {
  // Large buffers are cut end to end from shared regions: two pools' pictures, of sizes
  // that are no multiple of a page, must each keep what is written into them, and what
  // is given back must leave memory, also the parts that shared a page with a neighbour.
  TFreeBuffers decoded(0, 0, 0), converted(0, 0, 0);  // keeping nothing: a given buffer goes back
  const size_t sizes[2] = {3133440 + 100, 8294400 + 64};
  TFreeBuffers* pools[2] = {&decoded, &converted};
  std::vector<std::pair<uint8_t*, int>> taken;
  const uint64_t before = ResidentBytes();
  uint64_t heldBytes = 0;
  for (int i = 0; i < 24; ++i) {
    const int which = i % 3 == 2 ? 1 : 0;
    uint8_t* p = pools[which]->Take(sizes[which]);
    ASSERT_NE(p, nullptr);
    std::memset(p, 1 + i, sizes[which]);
    taken.emplace_back(p, which);
    heldBytes += sizes[which];
  }
  for (size_t i = 0; i < taken.size(); ++i) {
    const auto [p, which] = taken[i];
    const size_t n = sizes[which];
    for (size_t at : {size_t(0), n / 2, n - 1})
      ASSERT_EQ(p[at], uint8_t(1 + i)) << "buffer " << i << " at " << at;
  }
  const uint64_t held = ResidentBytes();
  for (const auto& [p, which] : taken) pools[which]->Give(p, sizes[which]);
  const uint64_t after = ResidentBytes();
  if (before == 0 || held == 0) GTEST_SKIP() << "no resident memory count here";
  EXPECT_GE(held, before + heldBytes * 9 / 10);
  // All but a few pages of a region still being cut from (and, under AddressSanitizer,
  // the shadow it writes for memory given back: an eighth of it).
  const uint64_t shadow = kAddressSanitizer ? heldBytes / 8 : 0;
  EXPECT_LE(after, before + shadow + (uint64_t(8) << 20))
      << "held " << (held - before) / 1048576 << " MB";
}

} // namespace
