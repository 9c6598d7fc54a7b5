// The frame rate chosen from the spacing of a movie's frames.
#include "platform/mediafw/FrameRate.h"

#include <gtest/gtest.h>

#include <cmath>

using namespace skm::mf::detail;

namespace {

std::vector<int64_t> Repeat(int64_t d, int n) { return std::vector<int64_t>(size_t(n), d); }

// Durations between frames k x period rounded to whole ticks.
std::vector<int64_t> Rounded(double period, int n) {
  std::vector<int64_t> times;
  for (int k = 0; k <= n; ++k) times.push_back(std::llround(k * period));
  return DurationsBetween(times);
}

TEST(FrameRate, TheSpacingOfTheFramesWinsOverASkewedAverage) {
  auto dropped = Repeat(40, 48);
  dropped[10] = dropped[30] = 80;  // two frames missing: still one period apart elsewhere
  auto jittered = Repeat(3003, 60);
  for (size_t i = 0; i < jittered.size(); i += 2) jittered[i] += 2, jittered[i + 1] -= 2;
  auto vfr = Repeat(40, 30);  // every fifth frame followed by half a frame's pause
  for (size_t i = 4; i < vfr.size(); i += 5) vfr[i] = 60;
  struct TCase {
    const char* name;
    TRational tb, base, avg;
    std::vector<int64_t> durations;
    uint32_t num, den;
    bool constant;
  } cases[] = {
      {"QuickTime 1/600, long last frame", {1, 600}, {24, 1}, {12400, 509}, Repeat(25, 119), 24, 1, true},
      {"MP4 1/15360 starting at 0.033 s", {1, 15360}, {30, 1}, {2500, 83}, Repeat(512, 59), 30, 1, true},
      {"29.97 in milliseconds", {1, 1000}, {30000, 1001}, {2997, 100}, Rounded(1001.0 / 30, 90), 30000, 1001, true},
      {"29.97 in milliseconds, no base rate", {1, 1000}, {0, 0}, {2997, 100}, Rounded(1001.0 / 30, 90), 30000, 1001, true},
      {"23.976 in milliseconds, no base rate", {1, 1000}, {0, 1}, {0, 1}, Rounded(1001.0 / 24, 90), 24000, 1001, true},
      {"base rate of fields, frames twice as long", {1, 1000}, {50, 1}, {25, 1}, Repeat(40, 50), 25, 1, true},
      {"33 ms exactly is not 30 fps", {1, 1000}, {30, 1}, {30, 1}, Repeat(33, 100), 1000, 33, true},
      {"12.5 fps", {1, 1000}, {0, 1}, {0, 1}, Repeat(80, 20), 25, 2, true},
      {"dropped frames", {1, 1000}, {25, 1}, {24, 1}, dropped, 25, 1, true},
      {"jittered stamps", {1, 90000}, {30000, 1001}, {2997, 100}, jittered, 30000, 1001, true},
      {"29.97 at 1/90000 is not 30", {1, 90000}, {30, 1}, {30, 1}, Repeat(3003, 40), 30000, 1001, true},
      {"truly variable: the average", {1, 1000}, {25, 1}, {2273, 100}, vfr, 2273, 100, false},
      {"one frame: the average", {1, 1000}, {24, 1}, {24, 1}, {}, 24, 1, true},
      {"one frame, rates differ", {1, 1000}, {24, 1}, {12400, 509}, {}, 12400, 509, false},
      {"nothing known", {1, 1000}, {0, 1}, {0, 1}, {}, 25, 1, true},
  };
  for (const auto& c : cases) {
    const TRateChoice r = ChooseFrameRate(c.tb, c.base, c.avg, c.durations);
    EXPECT_EQ(r.num, c.num) << c.name;
    EXPECT_EQ(r.den, c.den) << c.name;
    EXPECT_EQ(r.constant, c.constant) << c.name;
  }
}

TEST(FrameRate, DurationsAreTakenInPresentationOrder) {
  // Decoding order of a stream with B-frames; the same time twice counts once.
  EXPECT_EQ(DurationsBetween({0, 75, 25, 50, 125, 100, 100}), Repeat(25, 5));
  EXPECT_TRUE(DurationsBetween({7}).empty());
}

} // namespace
