#include "platform/core/MediaTime.h"

#include <cmath>

namespace skm {

TMediaTime SecondsToTime(double seconds) {
  const double tenths = std::trunc(seconds * 10.0);
  // Out-of-range doubles have no 64-bit value; saturate rather than invoke undefined behaviour.
  if (!(tenths > -9.2e12 && tenths < 9.2e12)) return tenths < 0 ? static_cast<TMediaTime>(INT64_MIN) : static_cast<TMediaTime>(INT64_MAX);
  return static_cast<TMediaTime>(static_cast<int64_t>(tenths) * 1'000'000);
}

double TimeToSeconds(TMediaTime t) { return static_cast<double>(t / 1'000'000) / 10.0; }

} // namespace skm
