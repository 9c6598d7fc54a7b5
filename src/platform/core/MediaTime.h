#pragma once
// Media time: unsigned 64-bit counts of 100 ns (10,000,000 per second) for every
// position, duration, frame step and range mark.

#include <cstdint>

namespace skm {

using TMediaTime = uint64_t;

// Stands for "no position".
inline constexpr TMediaTime kNoPosition = 0xFFFFFFFFFFFFFFFFull;
inline constexpr TMediaTime kMediaTimePerSecond = 10'000'000;

// trunc(s x 10) x 1,000,000 in double precision, toward zero; the signed result is
// stored unsigned, so a negative number of seconds wraps to a huge time.
TMediaTime SecondsToTime(double seconds);
// (t div 1,000,000) / 10: truncated to 0.1 s.
double TimeToSeconds(TMediaTime t);

} // namespace skm
