// End to end: the real program on a real X server with a window manager, driven by
// xdotool as a user would drive it, judged from screenshots of its window.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTextStream>
#include <QThread>

#include "Desktop.h"
#include "TestMovies.h"
#include "TestSupport.h"

using namespace skme2e;

namespace {

// Where failing runs leave their screenshots.
QString ShotDir() {
  const QString dir = QStringLiteral(SKM_E2E_SHOTS);
  QDir().mkpath(dir);
  return dir;
}

QString Shot(const QImage& img, const QString& name) {
  const QString path = ShotDir() + "/" + name + ".png";
  img.save(path);
  return path;
}

// The movie every scenario uses: 320 x 180, 25 frames a second, 50 frames showing their
// index as bars; copied into dir so its position file is written there.
QString TestMovie(const QString& dir, const std::string& postFilter = {}) {
  skmtest::TMovieRecipe r;
  r.width = 320;
  r.height = 180;
  r.frames = 50;
  r.postFilter = postFilter;
  const std::string cached = skmtest::MakeTestMovie(r);
  if (cached.empty()) return {};
  const QString dst = dir + (postFilter.empty() ? "/lane.mp4" : "/lane-negated.mp4");
  QFile::remove(dst);
  return QFile::copy(QString::fromStdString(cached), dst) ? dst : QString();
}

void WriteIni(const QString& dir, const QByteArray& text) {
  QFile f(dir + "/sketchmark-movies.ini");
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(text);
}

// Geometry of the window's parts, from the client size alone.
struct TLayout {
  explicit TLayout(const QImage& shot) : W(shot.width()), H(shot.height()) {}
  int W, H;
  QRect Canvas() const { return QRect(0, 0, W, H - 60); }
  // The centre of bottom-bar button i (0 = open ... 12 = whiteboard).
  QPoint BarButton(int i) const { return QPoint((W - 780) / 2 + 60 * i + 25, H - 30); }
};

bool Near(QRgb c, int r, int g, int b, int tol = 40) {
  return std::abs(qRed(c) - r) <= tol && std::abs(qGreen(c) - g) <= tol && std::abs(qBlue(c) - b) <= tol;
}

class EndToEnd : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    FDesk = new TDesktop;
    FDeskOk = FDesk->Start();
  }
  static void TearDownTestSuite() {
    delete FDesk;
    FDesk = nullptr;
  }
  void SetUp() override {
    ASSERT_TRUE(FDeskOk) << FDesk->Error().toStdString();
    FDir = QString::fromStdString(skmtest::MakeTempDir());
    FConfig = FDir + "/config";
    QDir().mkpath(FConfig);
  }
  std::unique_ptr<TProgram> Launch(const QStringList& args) {
    auto p = std::make_unique<TProgram>(*FDesk, QStringLiteral(SKM_PROGRAM));
    EXPECT_TRUE(p->Start(FConfig, args)) << p->Error().toStdString();
    return p;
  }
  static TDesktop* FDesk;
  static bool FDeskOk;
  QString FDir, FConfig;
};

TDesktop* EndToEnd::FDesk = nullptr;
bool EndToEnd::FDeskOk = false;

} // namespace

// A movie given on the command line opens into lane 1; V steps five frames, Z steps back,
// X sets mark A and B saves it beside the movie.
TEST_F(EndToEnd, MovieFromTheCommandLineStepsAndMarks) {
  const QString movie = TestMovie(FDir);
  ASSERT_FALSE(movie.isEmpty());
  auto app = Launch({movie});
  ASSERT_FALSE(app->Window().isEmpty());

  auto frameIs = [](int want) {
    return [want](const QImage& img) {
      const TLayout l(img);
      return FrameIndexIn(img, FitWhole(l.Canvas(), 320, 180)) == want;
    };
  };
  QImage shot;
  ASSERT_TRUE(app->WaitFor(frameIs(0), 15000, &shot)) << Shot(shot, "movie-frame0").toStdString();

  for (int i = 0; i < 3; ++i) app->Key("v");
  EXPECT_TRUE(app->WaitFor(frameIs(15), 15000, &shot)) << Shot(shot, "movie-frame15").toStdString();
  app->Key("z");
  EXPECT_TRUE(app->WaitFor(frameIs(10), 15000, &shot)) << Shot(shot, "movie-frame10").toStdString();

  app->Key("x");
  app->Key("b");
  const QString vpo = FDir + "/lane.vpo";
  bool saved = false;
  for (int i = 0; i < 100 && !saved; ++i) {
    QFile f(vpo);
    saved = f.open(QIODevice::ReadOnly) && f.readAll().contains("Start=10\r\n");
    if (!saved) QThread::msleep(50);
  }
  EXPECT_TRUE(saved) << "no Start=10 in " << vpo.toStdString();
  EXPECT_EQ(app->Close(), 0) << app->StdErr().toStdString();
}

// Lane 2 (a still picture) stacked over lane 1 (a movie) at the default opacity shows
// both: neither the movie's white nor the picture's blue alone.
TEST_F(EndToEnd, TwoLanesStackedShowTheBlend) {
  const QString movie = TestMovie(FDir, "negate"); // frame 0 is all white
  ASSERT_FALSE(movie.isEmpty());
  QImage blue(320, 180, QImage::Format_RGB32);
  blue.fill(QColor(0, 0, 255));
  const QString picture = FDir + "/blue.png";
  ASSERT_TRUE(blue.save(picture));

  auto app = Launch({movie, picture});
  ASSERT_FALSE(app->Window().isEmpty());
  QImage shot;
  const bool blended = app->WaitFor([](const QImage& img) {
    const TLayout l(img);
    const QRgb c = img.pixel(l.Canvas().center() - QPoint(0, 100));
    return qBlue(c) > 200 && qRed(c) > 50 && qRed(c) < 205 && std::abs(qRed(c) - qGreen(c)) < 20;
  }, 15000, &shot);
  const TLayout l(shot);
  EXPECT_TRUE(blended) << "pixel " << std::hex << shot.pixel(l.Canvas().center() - QPoint(0, 100)) << " in "
                       << Shot(shot, "blend").toStdString();
  EXPECT_EQ(app->Close(), 0) << app->StdErr().toStdString();
}

// A pen drag on the whiteboard leaves a stroke of the pen's colour where the pointer
// went; with "ZPPWBrdAutoSave" on, closing writes the whiteboard file and the next start
// shows the stroke again in whiteboard mode.
TEST_F(EndToEnd, WhiteboardStrokeIsKeptBetweenRuns) {
  WriteIni(FConfig, "[Setup]\r\nZPPWBrdAutoSave=1\r\n\r\n");
  const int y = 300, x0 = 400, x1 = 800;
  auto strokeShown = [&](const QImage& img) {
    int red = 0;
    for (int x = x0 + 20; x <= x1 - 20; x += 20) red += Near(img.pixel(x, y), 0xFF, 0x33, 0x33);
    const bool whiteAround = Near(img.pixel((x0 + x1) / 2, y + 60), 255, 255, 255, 10);
    return red == (x1 - x0 - 40) / 20 + 1 && whiteAround;
  };
  QImage shot;
  {
    auto app = Launch({});
    ASSERT_FALSE(app->Window().isEmpty());
    const TLayout l(app->Grab());
    const QPoint wbrd = l.BarButton(12);
    app->Click(wbrd.x(), wbrd.y());
    ASSERT_TRUE(app->WaitFor([&](const QImage& img) {
      return Near(img.pixel(l.Canvas().center()), 255, 255, 255, 10);
    }, 15000, &shot)) << "no whiteboard: " << Shot(shot, "wbrd-enter").toStdString();
    app->Drag(x0, y, x1, y);
    EXPECT_TRUE(app->WaitFor(strokeShown, 15000, &shot)) << Shot(shot, "wbrd-stroke").toStdString();
    EXPECT_EQ(app->Close(), 0) << app->StdErr().toStdString();
  }
  ASSERT_TRUE(QFile::exists(FConfig + "/whiteboard_i.zpp"));
  {
    auto app = Launch({});
    ASSERT_FALSE(app->Window().isEmpty());
    const TLayout l(app->Grab());
    const QPoint wbrd = l.BarButton(12);
    app->Click(wbrd.x(), wbrd.y());
    EXPECT_TRUE(app->WaitFor(strokeShown, 15000, &shot)) << Shot(shot, "wbrd-again").toStdString();
    EXPECT_EQ(app->Close(), 0) << app->StdErr().toStdString();
  }
}
