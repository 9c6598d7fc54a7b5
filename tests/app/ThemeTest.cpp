#include <gtest/gtest.h>

#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"

using namespace skm;

namespace {

bool gSystemLight = true;

class Theme : public ::testing::Test {
protected:
  void SetUp() override {
    ThemeFlags = 1;
    gSettings = TSettings{};
    SetAppsUseLightThemeSource([] { return gSystemLight; });
  }
  void TearDown() override {
    SetAppsUseLightThemeSource({});
  }
};

} // namespace

TEST_F(Theme, FlagsFromModeAndSystem) {
  struct Row {
    uint8_t mode;
    bool systemLight;
    int flags;
    bool light;
  };
  const Row rows[] = {
      {0, true, 1, true}, {0, false, 0, false}, {1, false, 3, true}, {2, true, 2, false},
  };
  for (const Row& r : rows) {
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
