// The export of what the canvas shows: the headless command against pictures the ffmpeg
// program composes from the same frames, annotations where their canvas units put them,
// the live canvas's scene, and the command line's failures.
#include <QFile>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <cstdlib>
#include <cmath>
#include <gtest/gtest.h>

#include "TestMovies.h"
#include "TestSupport.h"
#include "annotation/SkPath.h"
#include "app/ViewExportCommand.h"
#include "canvas/SkImage.h"
#include "canvas/ViewExport.h"

using namespace skm;
using skmtest::MakeTempDir;
using skmtest::MakeTestMovie;

namespace {

// Two movies of 320 x 180 whose frames differ in colour everywhere, so a blend shows both.
std::string MovieA() {
  skmtest::TMovieRecipe r;
  r.width = 320;
  r.height = 180;
  r.audio = false;
  r.postFilter = "colorchannelmixer=rr=1:gg=0.55:bb=0.2:gb=0.3";
  return MakeTestMovie(r);
}
std::string MovieB() {
  skmtest::TMovieRecipe r;
  r.width = 320;
  r.height = 180;
  r.audio = false;
  r.postFilter = "negate,colorchannelmixer=rr=0.3:gg=0.8:bb=1";
  return MakeTestMovie(r);
}

// Runs the ffmpeg program with a filter graph over the inputs; the one picture it makes.
QImage FfmpegPicture(const QStringList& inputs, const QString& graph) {
  const QString out = QString::fromStdString(MakeTempDir()) + "/ref.png";
  QStringList args{"-nostdin", "-v", "error", "-y"};
  for (const QString& in : inputs) args << "-i" << in;
  // The same scaler family as the player's conversion to RGB. The blend converts to RGB
  // first (rgb24, then planar), as the player does, so only the blend itself is compared.
  args << "-filter_complex" << ("sws_flags=bilinear;" + graph) << "-frames:v" << "1" << out;
  // Through the shell like the movie generator rather than QProcess: QProcess starts its
  // child with vfork semantics, whose child side runs inside this process's memory and
  // confuses ThreadSanitizer's view of the UI thread for the sessions opened afterwards.
  QString command = "ffmpeg";
  for (QString a : args) command += " '" + a.replace("'", "'\\''") + "'";
  const QString errors = out + ".err";
  command += " 2>'" + errors + "'";
  if (std::system(command.toLocal8Bit().constData()) != 0) {
    QFile e(errors);
    ADD_FAILURE() << "ffmpeg: " << (e.open(QIODevice::ReadOnly) ? e.readAll().toStdString() : std::string());
    return {};
  }
  return QImage(out).convertToFormat(QImage::Format_RGB32);
}

// Mean absolute difference over every colour channel, in levels.
double MeanDiff(const QImage& a0, const QImage& b0) {
  const QImage a = a0.convertToFormat(QImage::Format_RGB32), b = b0.convertToFormat(QImage::Format_RGB32);
  if (a.size() != b.size() || a.isNull()) return 1e9;
  double sum = 0;
  for (int y = 0; y < a.height(); ++y) {
    const auto* pa = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const auto* pb = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x)
      sum += std::abs(qRed(pa[x]) - qRed(pb[x])) + std::abs(qGreen(pa[x]) - qGreen(pb[x])) +
             std::abs(qBlue(pa[x]) - qBlue(pb[x]));
  }
  return sum / (3.0 * a.width() * a.height());
}

QImage Export(const TViewExportOptions& o0) {
  TViewExportOptions o = o0;
  o.Output = QString::fromStdString(MakeTempDir()) + "/view.png";
  if (RunViewExport(o) != 0) return {};
  return QImage(o.Output).convertToFormat(QImage::Format_RGB32);
}

} // namespace

TEST(ViewExport, MatchesFfmpegBlendAndHstackOfTheSameFrames) {
  const QString a = QString::fromStdString(MovieA()), b = QString::fromStdString(MovieB());
  ASSERT_FALSE(a.isEmpty());
  ASSERT_FALSE(b.isEmpty());
  struct Row {
    const char* what;
    qint64 frame, frame2;
    float opacity;
    bool side;
    QString graph; // inputs: 0 lane 1, 1 lane 2
  };
  const Row rows[] = {
      {"stacked at 0.4", 10, 23, 0.4f, false,
       "[1:v]select=eq(n\\,23),setpts=0,format=rgb24,format=gbrp[t];[0:v]select=eq(n\\,10),setpts=0,format=rgb24,format=gbrp[b];"
       "[t][b]blend=all_mode=normal:all_opacity=0.4,format=rgb24"},
      {"stacked at 0.75, same frame number", 31, -1, 0.75f, false,
       "[1:v]select=eq(n\\,31),setpts=0,format=rgb24,format=gbrp[t];[0:v]select=eq(n\\,31),setpts=0,format=rgb24,format=gbrp[b];"
       "[t][b]blend=all_mode=normal:all_opacity=0.75,format=rgb24"},
      {"side by side", 7, 44, 0.4f, true,
       "[0:v]select=eq(n\\,7),setpts=0,format=rgb24[l];[1:v]select=eq(n\\,44),setpts=0,format=rgb24[r];[l][r]hstack"},
  };
  for (const Row& r : rows) {
    TViewExportOptions o;
    o.Lane1 = a;
    o.Lane2 = b;
    o.Frame = r.frame;
    o.Frame2 = r.frame2;
    o.Opacity = r.opacity;
    o.SideBySide = r.side;
    const QImage mine = Export(o);
    const QImage ref = FfmpegPicture({a, b}, r.graph);
    ASSERT_FALSE(mine.isNull()) << r.what;
    ASSERT_FALSE(ref.isNull()) << r.what;
    EXPECT_EQ(mine.size(), r.side ? QSize(640, 180) : QSize(320, 180)) << r.what;
    EXPECT_LT(MeanDiff(mine, ref), 1.0) << r.what;
  }
}

TEST(ViewExport, AStillImageLaneIsFittedIntoLaneOnesPicture) {
  const QString a = QString::fromStdString(MovieA());
  ASSERT_FALSE(a.isEmpty());
  // Lane 2: a picture of twice the size in one colour, so the blend is known everywhere.
  const QString png = QString::fromStdString(MakeTempDir()) + "/still.png";
  QImage still(640, 360, QImage::Format_RGB32);
  still.fill(qRgb(0, 200, 40));
  ASSERT_TRUE(still.save(png));
  TViewExportOptions o;
  o.Lane1 = a;
  o.Frame = 12;
  const QImage alone = Export(o);
  o.Lane2 = png;
  o.Opacity = 0.5f;
  const QImage mixed = Export(o);
  ASSERT_EQ(alone.size(), QSize(320, 180));
  ASSERT_EQ(mixed.size(), QSize(320, 180));
  QImage expected = alone.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  {
    QPainter p(&expected);
    p.setOpacity(0.5);
    p.fillRect(expected.rect(), QColor(0, 200, 40));
  }
  EXPECT_LT(MeanDiff(mixed, expected), 1.0);
}

TEST(ViewExport, AnnotationStrokesLandWhereTheirCanvasUnitsPutThem) {
  const QString a = QString::fromStdString(MovieA());
  ASSERT_FALSE(a.isEmpty());
  // An opaque pen line along y = 400 canvas units from x = 200 to 1000, 40 units thick.
  TSkPaths paths;
  paths.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFF3366FFu, TStrokeDash::Solid, 40},
                                {{200, 400}, {1000, 400}}));
  const QString zpp = QString::fromStdString(MakeTempDir()) + "/notes.zpp";
  {
    const std::string text = paths.SaveToText();
    QFile f(zpp);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text.data(), static_cast<qint64>(text.size()));
  }
  // 320 x 180 pixels: canvas units at 1/4. Stacked, the units cover lane 1 exactly; side by
  // side (a canvas of 640 x 180) they are centred, 160 pixels in.
  struct Row {
    bool side;
    int x0, x1, y;     // the line's ends and row in output pixels
  } rows[] = {{false, 50, 250, 100}, {true, 210, 410, 100}};
  for (const Row& r : rows) {
    TViewExportOptions o;
    o.Lane1 = a;
    o.Lane2 = a;
    o.Frame = 5;
    o.SideBySide = r.side;
    o.Opacity = 1;
    const QImage plain = Export(o);
    o.Annotations = zpp;
    const QImage drawn = Export(o);
    ASSERT_FALSE(drawn.isNull());
    ASSERT_EQ(drawn.size(), plain.size());
    // On the line (5 pixels either side of its middle row): the pen's colour.
    for (int x : {r.x0 + 3, (r.x0 + r.x1) / 2, r.x1 - 3})
      for (int y : {r.y - 3, r.y, r.y + 3}) EXPECT_EQ(drawn.pixel(x, y), 0xFF3366FFu) << r.side << " " << x << "," << y;
    // Off it the picture is untouched.
    int changed = 0;
    for (int y = 0; y < drawn.height(); ++y)
      for (int x = 0; x < drawn.width(); ++x) {
        const bool near = x >= r.x0 - 7 && x <= r.x1 + 7 && std::abs(y - r.y) <= 7;
        if (!near && drawn.pixel(x, y) != plain.pixel(x, y)) ++changed;
      }
    EXPECT_EQ(changed, 0) << r.side;
  }
}

TEST(ViewExport, TheLiveCanvasIsExportedAtTheLanesResolution) {
  TSkImage canvas;
  canvas.resize(1000, 700);
  canvas.ImageResize();
  QImage lane1(1920, 1080, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < lane1.height(); ++y)
    for (int x = 0; x < lane1.width(); ++x) lane1.setPixel(x, y, qRgb(x & 255, y & 255, (x ^ y) & 255));
  canvas.ImageV1SetSize(1920, 1080);
  canvas.ImageV1Capture(lane1);
  canvas.SetV2Visible(false);
  QImage out;
  QString error;
  ASSERT_TRUE(ViewExportRender(ViewExportSceneOf(canvas), out, &error)) << error.toStdString();
  EXPECT_EQ(out.size(), QSize(1920, 1080));
  EXPECT_LT(MeanDiff(out, lane1), 0.01);

  // Zoomed in twice: only what is inside the canvas, still at the picture's own scale.
  canvas.ZoomOffsetSet({2, {0, 0}});
  ASSERT_TRUE(ViewExportRender(ViewExportSceneOf(canvas), out, &error)) << error.toStdString();
  const QRectF b = canvas.ImageV1().Bounds;
  const QRectF seen = b.intersected(QRectF(0, 0, 1000, 700));
  EXPECT_NEAR(out.width(), seen.width() * 1920 / b.width(), 1);
  EXPECT_NEAR(out.height(), seen.height() * 1080 / b.height(), 1);
  EXPECT_LT(out.width(), 1920);

  // Panned far away: nothing of the pictures is in the canvas.
  canvas.ZoomOffsetSet({1, {100000, 0}});
  EXPECT_FALSE(ViewExportRender(ViewExportSceneOf(canvas), out, &error));
  EXPECT_FALSE(error.isEmpty());
}

TEST(ViewExport, DefaultFileName) {
  EXPECT_EQ(ViewExportDefaultName("/clips/swing.take2.mp4", 1234), "/clips/swing.take2-frame1234.png");
  // A still image in lane 1 is never offered for overwriting.
  EXPECT_EQ(ViewExportDefaultName("/clips/board.png", -1), "/clips/board-view.png");
  EXPECT_EQ(ViewExportDefaultName("", -1, "/out"), "/out/sketchmark-view.png");
}

TEST(ViewExport, CommandLineFailuresWriteNothing) {
  const std::string movie = MovieA();
  ASSERT_FALSE(movie.empty());
  const QString m = QString::fromStdString(movie);
  const QString dir = QString::fromStdString(MakeTempDir());
  const QString out = dir + "/out.png";
  QFile junk(dir + "/junk.zpp");
  ASSERT_TRUE(junk.open(QIODevice::WriteOnly));
  junk.write("[System]\r\nCount=zz\r\n");
  junk.close();
  struct Row {
    QStringList args;
    int exitCode;
  } rows[] = {
      {{"--export-view", m}, 2},                                                 // no output
      {{"--export-view", "--output", out}, 2},                                   // no lane
      {{"--export-view", m, m, m, "--output", out}, 2},                          // three lanes
      {{"--export-view", m, "--opacity", "1.5", "--output", out}, 2},
      {{"--export-view", m, "--frame2", "x", "--output", out}, 2},
      {{"--export-view", m, "--bogus", "--output", out}, 2},
      {{"--export-view", dir + "/missing.mp4", "--output", out}, 1},
      {{"--export-view", m, dir + "/missing.png", "--output", out}, 1},
      {{"--export-view", m, "--frame", "50", "--output", out}, 1},                // past the end
      {{"--export-view", m, "--annotations", dir + "/missing.zpp", "--output", out}, 1},
      {{"--export-view", m, "--output", dir + "/out.notaformat"}, 1},
      {{"--export-view", m, "--output", dir + "/no/such/folder/out.png"}, 1},
  };
  QProcess p;
  for (const Row& r : rows) {
    p.start(SKM_PROGRAM, r.args);
    ASSERT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), r.exitCode) << r.args.join(' ').toStdString();
    EXPECT_FALSE(p.readAllStandardError().isEmpty()) << r.args.join(' ').toStdString();
    EXPECT_FALSE(QFile::exists(out));
  }
  // A malformed annotation file is read as far as it goes, like the whiteboard's.
  p.start(SKM_PROGRAM, {"--export-view", m, "--annotations", dir + "/junk.zpp", "--output", out});
  ASSERT_TRUE(p.waitForFinished(60000));
  EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
  EXPECT_EQ(QImage(out).size(), QSize(320, 180));
  // The usage text names the command.
  p.start(SKM_PROGRAM, {"--help"});
  ASSERT_TRUE(p.waitForFinished(20000));
  EXPECT_TRUE(p.readAllStandardOutput().contains("--export-view LANE1 [LANE2]"));
}
