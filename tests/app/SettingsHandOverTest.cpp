#include <gtest/gtest.h>

#include "app/settings/Setup.h"
#include "controls/TraValue.h"
#include "media/MfPackManager.h"

using namespace skm;

// The lanes' managers and tracks start with their own defaults until the window hands
// them the settings; those defaults must be the settings' built-in ones, so nothing
// changes between a lane's creation and the hand-over.
TEST(SettingsHandOver, LowerLayerDefaultsAreTheSettingsDefaults) {
  const TSettings d;
  EXPECT_EQ(d.Counts, TMfPackManager::kSnapCountsDefault);
  EXPECT_EQ(d.Alpha, TMfPackManager::kSnapAlphaDefault);
  EXPECT_EQ(d.Range0FWD1, TTraTrack::kRange0FWD1Default);
  EXPECT_EQ(d.Range0FWD2, TTraTrack::kRange0FWD2Default);
  EXPECT_EQ(d.FrameCacheMiB, TMfPackManager::kFrameCacheMiBDefault);
}
