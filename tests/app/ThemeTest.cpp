#include <gtest/gtest.h>

#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"

using namespace skm;

namespace {

bool gSystemLight = true;

class Theme : public ::testing::Test {
protected:
  void SetUp() override {
    IsWin10 = true;
    ThemeFlags = 1;
    gSettings = TSettings{};
    SetAppsUseLightThemeSource([] { return gSystemLight; });
  }
  void TearDown() override {
    SetAppsUseLightThemeSource({});
    IsWin10 = true;
  }
};

} // namespace

TEST_F(Theme, FlagsFromModeAndSystem) {
  struct Row {
    bool win10;
    uint8_t mode;
    bool systemLight;
    int flags;
    bool light;
  };
  const Row rows[] = {
      {true, 0, true, 1, true},  {true, 0, false, 0, false}, {true, 1, false, 3, true},
      {true, 2, true, 2, false}, {false, 2, false, 3, true}, {false, 0, false, 3, true},
  };
  for (const Row& r : rows) {
    IsWin10 = r.win10;
    gSettings.Mode = r.mode;
    gSystemLight = r.systemLight;
    ThemeFlags = 1;
    ThemeInit();
    EXPECT_EQ(ThemeFlags, r.flags) << int(r.mode) << r.systemLight;
    EXPECT_EQ(IsLightTheme(), r.light);
  }
}

TEST_F(Theme, OtherModeLeavesFlagsUnchanged) {
  ThemeFlags = 2;
  gSettings.Mode = 9;
  ThemeInit();
  EXPECT_EQ(ThemeFlags, 2);
}

TEST_F(Theme, SettingChangeFollowsTheSystemOnlyWhenAutomatic) {
  gSystemLight = true;
  gSettings.Mode = 0;
  ThemeInit();
  gSystemLight = false;
  ThemeSettingChange();
  EXPECT_FALSE(IsLightTheme());
  for (uint8_t mode : {uint8_t(1), uint8_t(2)}) {
    gSettings.Mode = mode;
    gSystemLight = mode == 2;
    ThemeInit();
    const int before = ThemeFlags;
    gSystemLight = !gSystemLight;
    ThemeSettingChange();
    EXPECT_EQ(ThemeFlags, before);
  }
}

TEST_F(Theme, EnvironmentOverrideAnswersWithoutThePortal) {
  SetAppsUseLightThemeSource({});
  qputenv("SKM_COLOR_SCHEME", "dark");
  EXPECT_FALSE(AppsUseLightThemeRead());
  qputenv("SKM_COLOR_SCHEME", "light");
  EXPECT_TRUE(AppsUseLightThemeRead());
}
