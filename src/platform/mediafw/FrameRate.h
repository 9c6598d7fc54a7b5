#pragma once
// The frame rate a movie's frames really follow, from the durations between its frames.
//
// A container's average frame rate is the frame count over the stream's duration, so one
// long or short last frame, or a stream starting after time 0, skews it (a 24 fps
// QuickTime movie reporting 24.36). Steps and frame indexes built on such a rate drift a
// frame within seconds. What counts is the spacing of the time stamps: when (almost)
// every frame lasts one period of a simple rate, that rate is the movie's; only streams
// whose frames truly vary get the average.
//
// Pure functions, no FFmpeg state: safe from any thread.

#include <cstdint>
#include <vector>

namespace skm::mf::detail {

struct TRational {
  int64_t num = 0, den = 1;
};

struct TRateChoice {
  uint32_t num = 25, den = 1;  // frames per second, reduced
  bool constant = true;        // the frames follow num/den evenly
};

// durations: time between consecutive frames in presentation order, in ticks of the
// stream's time base timeBase (seconds per tick). base and average are the stream's
// base rate and average rate as the demuxer reports them (0/x when unknown).
TRateChoice ChooseFrameRate(TRational timeBase, TRational base, TRational average,
                            const std::vector<int64_t>& durations);

// The durations between consecutive values of times after sorting (duplicates dropped).
std::vector<int64_t> DurationsBetween(std::vector<int64_t> times);

} // namespace skm::mf::detail
