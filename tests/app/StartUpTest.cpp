#include <gtest/gtest.h>

#include <QApplication>
#include <QFile>
#include <QMouseEvent>
#include <QProcess>
#include <QTest>

#include "TestSupport.h"
#include "app/Containers.h"
#include "app/FrmMain.h"
#include "app/Splash.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "controls/TraBtn.h" // with Containers.h: the window includes both
#include "platform/FMXUtils.h"
#include "platform/MessageService.h"

using namespace skm;

namespace {

class TRecorder final : public TMessageService {
public:
  QStringList Shown;
  void ShowMessage(const QString& text) override { Shown << text; }
  bool Confirm(const QString&) override { return false; }
};

class MainWindow : public ::testing::Test {
protected:
  void SetUp() override {
    FDir = QString::fromStdString(skmtest::MakeTempDir());
    SetConfigDir(FDir);
    gSettings = TSettings{};
    SetMessageService(&FMessages);
  }
  void TearDown() override {
    SetConfigDir(QString());
    SetMessageService(nullptr);
  }
  QString FDir;
  TRecorder FMessages;
};

void Click(QWidget* w, QPoint at) {
  QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, at);
  QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, at);
}

} // namespace

TEST_F(MainWindow, FrameAfterCreation) {
  TMainFrm w;
  w.show();
  EXPECT_EQ(w.windowTitle(), "Sketchmark Movies");
  EXPECT_EQ(w.minimumWidth(), 900);
  w.resize(700, 500);
  EXPECT_GE(w.width(), 900);
  EXPECT_TRUE(w.RectangleC->isHidden());
  EXPECT_EQ(w.RectangleB->height(), 60);
  EXPECT_EQ(w.RectangleB->y() + 60, w.height());
  EXPECT_EQ(w.LayoutBC->size(), QSize(780, 60));
  EXPECT_EQ(w.LayoutBR->geometry(), QRect(w.width() - 60, 0, 60, 60));
  // Front-to-back: the overlay over the transport area over the bottom bar.
  const QObjectList kids = w.children();
  EXPECT_LT(kids.indexOf(w.RectangleB), kids.indexOf(w.LayoutM));
  EXPECT_LT(kids.indexOf(w.LayoutM), kids.indexOf(w.RectangleC));
}

TEST_F(MainWindow, OverlayCoversTheWindowAndClosesOnBareFlyOutClick) {
  TMainFrm w;
  w.resize(1000, 700);
  w.show();
  w.RectangleCShow();
  w.RectanglePens->show();
  EXPECT_EQ(w.RectangleC->geometry(), QRect(0, 0, 1000, 700));
  EXPECT_EQ(w.RectanglePens->geometry(), QRect(0, 640, 1000, 60));
  EXPECT_EQ(w.LayoutPens->geometry(), QRect(200, 0, 600, 60));
  // A click inside the centred layout does not close the overlay...
  Click(w.LayoutPens, QPoint(10, 10));
  EXPECT_TRUE(w.RectangleC->isVisible());
  // ...a click on the fly-out's bare part reaches the overlay and closes it.
  Click(w.RectanglePens, QPoint(20, 20));
  EXPECT_FALSE(w.RectangleC->isVisible());
  EXPECT_FALSE(w.RectanglePens->isHidden()); // still marked visible until the next show
  w.RectangleCShow();
  EXPECT_TRUE(w.RectanglePens->isHidden());
}

TEST_F(MainWindow, ReadsSettingsFirstAndWritesThemAtClose) {
  QFile f(FDir + "/sketchmark-movies.ini");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[SnapBitmap]\r\nCounts=33\r\n");
  f.close();
  {
    TMainFrm w;
    EXPECT_EQ(gSettings.Counts, 33);
    gSettings.Counts = 12;
    w.close();
  }
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  EXPECT_TRUE(f.readAll().contains("Counts=12\r\n"));
}

TEST_F(MainWindow, FailedSettingsWriteIsReportedAndCloseCompletes) {
  QFile blocker(FDir + "/file");
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  SetConfigDir(FDir + "/file"); // a folder that cannot exist
  TMainFrm w;
  w.show();
  EXPECT_TRUE(w.close());
  EXPECT_FALSE(w.LastSettingsError().isEmpty());
  ASSERT_EQ(FMessages.Shown.size(), 1);
  EXPECT_TRUE(FMessages.Shown[0].startsWith("The settings could not be saved."));
}

TEST(Splash, SizeAndPicture) {
  TSplashFrm s;
  EXPECT_EQ(s.size(), QSize(512, 256));
  EXPECT_EQ(s.Picture().size(), QSize(512, 256));
  EXPECT_TRUE(s.windowFlags() & Qt::FramelessWindowHint);
}

TEST(Program, OptionsAndAHeadlessRun) {
  QProcess p;
  p.start(SKM_PROGRAM, {"--version"});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitCode(), 0);
  EXPECT_TRUE(p.readAllStandardOutput().startsWith("Sketchmark Movies "));

  p.start(SKM_PROGRAM, {"--bogus"});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitCode(), 2);

  // Files to open are plain arguments, one per lane; --help says so.
  p.start(SKM_PROGRAM, {"--help"});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitCode(), 0);
  const QByteArray help = p.readAllStandardOutput();
  EXPECT_TRUE(help.contains("[FILE1 [FILE2]]"));
  EXPECT_TRUE(help.contains("FILE1 opens into lane 1"));
  p.start(SKM_PROGRAM, {"a.mp4", "b.png", "c.png"});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_EQ(p.exitCode(), 2);
  EXPECT_TRUE(p.readAllStandardError().contains("at most two files"));

  // Headless commands answer through the exit code without opening a window.
  struct Row {
    QStringList args;
    int exitCode;
  };
  const QString tmp = QString::fromStdString(skmtest::MakeTempDir());
  const Row rows[] = {
      {{"--convert", tmp + "/missing.tga", tmp + "/out.png"}, 1},
      {{"--convert", tmp + "/only-in.tga"}, 2},
      {{"--frame-info", tmp + "/missing.mp4"}, 1},
      {{"--export-frame", tmp + "/missing.mp4", "--frame", "3", "--output", tmp + "/f.png"}, 1},
      {{"--export-frame", tmp + "/missing.mp4", "--frame", "-3", "--output", tmp + "/f.png"}, 2},
      {{"--export-frame", tmp + "/missing.mp4"}, 2},
  };
  for (const Row& r : rows) {
    p.start(SKM_PROGRAM, r.args);
    ASSERT_TRUE(p.waitForFinished(30000));
    EXPECT_EQ(p.exitCode(), r.exitCode) << r.args.join(' ').toStdString();
    EXPECT_FALSE(p.readAllStandardError().isEmpty());
  }

  // A picture the readers refuse: the message says what is wrong with it.
  QFile cmyk(tmp + "/cmyk.psd");
  ASSERT_TRUE(cmyk.open(QIODevice::WriteOnly));
  cmyk.write(QByteArray("8BPS\0\1\0\0\0\0\0\0\0\4\0\0\0\1\0\0\0\1\0\x08\0\4", 26));
  cmyk.close();
  p.start(SKM_PROGRAM, {"--convert", tmp + "/cmyk.psd", tmp + "/cmyk.png"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 1);
  EXPECT_TRUE(p.readAllStandardError().contains("PSD in CMYK mode is not supported"));

  const QString dir = QString::fromStdString(skmtest::MakeTempDir());
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(SKM_PROGRAM, {"--config-dir", dir, "--no-splash-wait", "--quit-after", "100"});
  ASSERT_TRUE(p.waitForFinished(30000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_TRUE(QFile::exists(dir + "/sketchmark-movies.ini"));
}

TEST(Resources, SplashAndStylesAreBuiltIn) {
  QImage img;
  ASSERT_TRUE(skm::LoadFromResource(img, "SKM11SPLASH"));
  EXPECT_EQ(img.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_TRUE(skm::ThemeStyleSheet(true).contains("QPushButton"));
  EXPECT_TRUE(skm::ThemeStyleSheet(false).contains("QPushButton"));
  EXPECT_NE(skm::ThemeStyleSheet(true), skm::ThemeStyleSheet(false));
}
