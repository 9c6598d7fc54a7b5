// The about box, driven through its real widgets while its modal loop runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLocale>
#include <QPushButton>
#include <QTest>

#include "DialogTestSupport.h"

#include "app/dialogs/FrmAbout.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "platform/FMXUtils.h"

using skm::TFrmAbout;
using skmtest::RunModal;

namespace {

class FrmAboutTest : public ::testing::Test {
protected:
  void SetUp() override {
    skm::SetShellOpenHandler([this](const QString& url) {
      FOpened << url;
      return true;
    });
    skm::SetMessageService(&FMessages);
  }
  void TearDown() override {
    skm::SetShellOpenHandler({});
    skm::SetMessageService(nullptr);
    QLocale::setDefault(QLocale::c());
    skm::ThemeFlags = 1;
    skm::ThemeApply(true);
  }
  QStringList FOpened;
  skmtest::TScriptedMessages FMessages;
};

QImage Resource(const char* name) {
  QImage img;
  EXPECT_TRUE(skm::LoadFromResource(img, name)) << name;
  return img;
}

TEST_F(FrmAboutTest, ShowsTheProductTheBuildsVersionAndTheMaker) {
  TFrmAbout about;
  EXPECT_EQ(about.windowTitle(), "About this program");
  EXPECT_EQ(about.size(), QSize(512, 256));
  EXPECT_EQ(about.LbTitle->text(), "Sketchmark Movies");
  // The text --version prints after the product's name.
  EXPECT_EQ(about.LbVersion->text(), QStringLiteral("Ver." SKM_VERSION_TEXT));
  EXPECT_EQ(about.LbVersion->text(), "Ver." + skm::VersionText());
  EXPECT_FALSE(about.LbProduct->text().isEmpty());
  const QImage icon = about.Image1->pixmap().toImage();
  EXPECT_EQ(icon.size(), QSize(44, 44));
  EXPECT_EQ(icon.convertToFormat(QImage::Format_ARGB32_Premultiplied), Resource("ZOREMI_ICON64"));
  EXPECT_EQ(about.RectTop->geometry(), QRect(0, 0, 512, 64));
  EXPECT_EQ(about.RectBottom->geometry(), QRect(0, 216, 512, 40));
  EXPECT_EQ(about.ButtonOK->size(), QSize(120, 20));
}

// The link opens the English page, or the Japanese one where the language is Japanese,
// through ShellOpen; the box stays open until OK.
TEST_F(FrmAboutTest, TheLinkOpensTheProductPageForTheUsersLanguage) {
  const struct {
    QLocale locale;
    const char* url;
  } cases[] = {{QLocale(QLocale::English, QLocale::UnitedStates), SKM_PRODUCT_URL_EN},
               {QLocale(QLocale::German, QLocale::Germany), SKM_PRODUCT_URL_EN},
               {QLocale(QLocale::Japanese, QLocale::Japan), SKM_PRODUCT_URL_JA}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.locale.name().toStdString());
    QLocale::setDefault(c.locale);
    FOpened.clear();
    TFrmAbout about;
    EXPECT_EQ(about.LbURL->text(), c.url);
    EXPECT_EQ(about.LbURL->cursor().shape(), Qt::PointingHandCursor);
    int hidden = 0;
    RunModal(about, [&] { skm::TraBtnAboutExecute(about, [&] { ++hidden; }); return true; }, [&] {
      QTest::mouseClick(about.LbURL, Qt::LeftButton);
      EXPECT_TRUE(about.isVisible());
      QTest::mouseClick(about.ButtonOK, Qt::LeftButton);
    });
    EXPECT_EQ(hidden, 1);
    EXPECT_EQ(FOpened, QStringList{c.url});
  }
  EXPECT_TRUE(FMessages.Shown.isEmpty()) << "a failed open is not reported";
}

// Each Execute takes the theme in effect: skin, strip fills, link colour, and the style
// of every window.
TEST_F(FrmAboutTest, OpeningAfterAThemeSwitchShowsTheNewSkinAndColours) {
  const struct {
    int flags;
    const char* skin;
    quint32 top, bottom, link;
    bool lightStyle;
  } cases[] = {
      {2, "ABOUT_ZOREMI_SKINB", 0x88444444u, 0x88222222u, 0xFFAAAAFFu, false},
      {3, "ABOUT_ZOREMI_SKINW", 0x88222222u, 0x88888888u, 0xFF0000FFu, true},
      {0, "ABOUT_ZOREMI_SKINB", 0x88444444u, 0x88222222u, 0xFFAAAAFFu, false},
  };
  TFrmAbout about;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.skin);
    skm::ThemeFlags = c.flags;
    RunModal(about, [&] { about.Execute(); return true; }, [&] {
      EXPECT_EQ(about.isDark, !c.lightStyle);
      const QImage skin = about.Image2->pixmap().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
      EXPECT_EQ(skin.size(), QSize(512, 256));
      EXPECT_EQ(skin, Resource(c.skin));
      EXPECT_EQ(about.RectTop->Fill().rgba(), c.top);
      EXPECT_EQ(about.RectBottom->Fill().rgba(), c.bottom);
      EXPECT_EQ(about.LbURL->palette().color(QPalette::WindowText).rgba(), c.link);
      EXPECT_EQ(qApp->styleSheet(), skm::ThemeStyleSheet(c.lightStyle));
      QTest::keyClick(&about, Qt::Key_Return); // OK is the default button
    });
  }
}

} // namespace
