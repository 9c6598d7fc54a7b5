#include <gtest/gtest.h>

#include "platform/core/MediaTime.h"

TEST(MediaTime, ConversionsTruncateToTenths) {
  struct Row {
    double seconds;
    skm::TMediaTime time;
  };
  const Row rows[] = {
      {1.0, 10'000'000},  {1.25, 12'000'000}, {0.05, 0}, {60, 600'000'000},
      {0.1, 1'000'000},   {-1, static_cast<skm::TMediaTime>(-10'000'000)},
  };
  for (const Row& r : rows) EXPECT_EQ(skm::SecondsToTime(r.seconds), r.time) << r.seconds;
  EXPECT_DOUBLE_EQ(skm::TimeToSeconds(12'345'678), 1.2);
  EXPECT_DOUBLE_EQ(skm::TimeToSeconds(0), 0.0);
  EXPECT_EQ(skm::SecondsToTime(1e300), static_cast<skm::TMediaTime>(INT64_MAX)); // no UB
}
