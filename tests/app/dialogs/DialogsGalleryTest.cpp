// Both style sheets reach every control of the two dialogs: each control's face is dark
// in the dark theme and light in the light theme (an unstyled control would keep the
// platform style's light face in both), and the about box's strips blend their fills
// over the skin.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>

#include "DialogsGallery.h"

#include "app/dialogs/FrmAbout.h"
#include "app/dialogs/FrmSetup.h"
#include "app/dialogs/NumberBox.h"
#include "platform/FMXUtils.h"

namespace {

int Lightness(QRgb c) { return QColor::fromRgb(c).lightness(); }

TEST(DialogsGallery, BothThemesStyleEveryControl) {
  skm::TFrmSetup layout; // only for the controls' places
  struct Face {
    const char* name;
    QPoint at; // inside the control, off its text and border
  };
  auto inside = [&](const char* name, int dx) {
    auto* w = layout.findChild<QWidget*>(name);
    EXPECT_NE(w, nullptr) << name;
    return w ? Face{name, w->geometry().topLeft() + QPoint(dx, w->height() / 2)} : Face{name, {}};
  };
  const Face faces[] = {
      {"window", QPoint(5, 5)},       inside("cbTheme", 3),       inside("nbTR0FWD1", 3),
      inside("nbXWard1D", 3),         inside("nbSnapBitmapsCount", 3), inside("btDeleteZPP", 4),
      inside("BtDefault", 4),         inside("BtOK", 4),          inside("cbVPOSave", 4), // the box's indicator
  };
  const skmgallery::TDialogShots light = skmgallery::RenderDialogs(true);
  const skmgallery::TDialogShots dark = skmgallery::RenderDialogs(false);
  ASSERT_EQ(light.Setup.size(), QSize(850, 367));
  ASSERT_EQ(dark.Setup.size(), QSize(850, 367));
  for (const Face& f : faces) {
    SCOPED_TRACE(f.name);
    EXPECT_GT(Lightness(light.Setup.pixel(f.at)), 200);
    EXPECT_LT(Lightness(dark.Setup.pixel(f.at)), 70);
  }
}

TEST(DialogsGallery, AboutStripsBlendTheirFillsOverTheSkin) {
  for (bool light : {true, false}) {
    SCOPED_TRACE(light ? "light" : "dark");
    const QImage shot = skmgallery::RenderDialogs(light).About;
    QImage skin;
    ASSERT_TRUE(skm::LoadFromResource(skin, light ? "ABOUT_ZOREMI_SKINW" : "ABOUT_ZOREMI_SKINB"));
    ASSERT_EQ(shot.size(), QSize(512, 256));
    const struct {
      QPoint at;
      quint32 fill;
    } strips[] = {{{480, 60}, light ? skm::TFrmAbout::kRectTopLight : skm::TFrmAbout::kRectTopDark},
                  {{20, 250}, light ? skm::TFrmAbout::kRectBottomLight : skm::TFrmAbout::kRectBottomDark}};
    for (const auto& s : strips) {
      const QColor fill = QColor::fromRgba(s.fill), under = skin.pixelColor(s.at), got = shot.pixelColor(s.at);
      const double a = fill.alphaF();
      EXPECT_NEAR(got.red(), fill.red() * a + under.red() * (1 - a), 2.5);
      EXPECT_NEAR(got.green(), fill.green() * a + under.green() * (1 - a), 2.5);
      EXPECT_NEAR(got.blue(), fill.blue() * a + under.blue() * (1 - a), 2.5);
    }
    // Between the strips the skin shows unchanged.
    EXPECT_EQ(shot.pixel(5, 150), skin.pixel(5, 150));
  }
}

} // namespace
