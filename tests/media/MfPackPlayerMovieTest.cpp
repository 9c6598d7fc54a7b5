// The playback session and the headless frame export on real generated movies, on the
// FFmpeg framework: the frame asked for is the frame shown.
#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <chrono>
#include <thread>

#include "MediaTestSupport.h"
#include "TestMovies.h"
#include "TestSupport.h"
#include "media/FrameExport.h"
#include "media/MfPackPlayer.h"

using namespace skm;
using namespace skmtest;

namespace {

TMovieRecipe Recipe(const char* rate, int frames, bool video = true, int gop = 12, int bframes = 2,
                bool audio = true) {
  TMovieRecipe s;
  s.rate = rate;
  s.frames = frames;
  s.video = video;
  s.gop = gop;
  s.bframes = bframes;
  s.audio = audio;
  return s;
}

template <class Pred>
bool WaitFor(Pred pred, int ms = 10'000) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!pred()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

bool AtRest(TMfPackPlayer& p) {
  return p.GetState() == TPlayerState::Paused && p.PendingKind() == 0 &&
         p.RequestedCommand() == TCommand::CmdNone;
}

int ShownIndex(TMfPackPlayer& p) {
  QImage img;
  if (p.TakeSnapShot(img) != 0) return -2;
  return ReadFrameIndex(img.constBits(), img.width(), img.height(), static_cast<int>(img.bytesPerLine()));
}

class MoviePlayerTest : public ::testing::Test {
protected:
  std::shared_ptr<TMfPackPlayer> OpenAtRest(const std::string& path) {
    auto p = TMfPackPlayer::Create();
    EXPECT_TRUE(p);
    if (!p) return nullptr;
    p->SetFileName(QString::fromStdString(path));
    EXPECT_FALSE(p->FileName().isEmpty()) << messages.Texts().join("|").toStdString();
    EXPECT_TRUE(WaitFor([&] { return p->HasVideo() && AtRest(*p); }));
    return p;
  }
  TRecordingMessages messages;
};

TEST_F(MoviePlayerTest, OpensPausedOnTheFirstFrameWithItsGeometry) {
  const std::string path = MakeTestMovie({});
  ASSERT_FALSE(path.empty());
  auto p = OpenAtRest(path);
  ASSERT_TRUE(p);
  EXPECT_EQ(p->Width(), 160u);
  EXPECT_EQ(p->Height(), 90u);
  EXPECT_EQ(p->Fps(), 25.0);
  EXPECT_EQ(p->Step(), 400'000u);
  EXPECT_NEAR(static_cast<double>(p->Duration()), 20'000'000.0, 500'000.0);
  EXPECT_TRUE(p->CanSeek());
  // Started, then paused at once: the clock may have moved, but not out of frame 0.
  EXPECT_EQ(p->CurrentTime() / p->Step(), 0u);
  EXPECT_EQ(ShownIndex(*p), 0);
  p->SetVolume(1.7f);
  EXPECT_EQ(p->GetVolume(), 1.0f);
  p->SetVolume(-1.0f);
  EXPECT_EQ(p->GetVolume(), 0.0f);
  EXPECT_EQ(p->ShutDown(), 0);
  EXPECT_EQ(p->GetState(), TPlayerState::Closed);
  EXPECT_FALSE(p->HasVideo());
  EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(MoviePlayerTest, SeekShowsExactlyTheFrameFfmpegDecodes) {
  const struct {
    TMovieRecipe recipe;
    std::vector<int> frames;
  } cases[] = {
      {{}, {0, 1, 2, 11, 12, 13, 30, 24, 49, 3, 2}},
      {Recipe("30000/1001", 40, true, 15), {0, 1, 14, 15, 16, 39, 20, 2}},
      {Recipe("24", 30, true, 5, 3, false), {29, 0, 5, 6, 17}},
  };
  for (const auto& c : cases) {
    const std::string path = MakeTestMovie(c.recipe);
    ASSERT_FALSE(path.empty());
    const std::vector<int> reference = FfmpegFrameIndexes(path);
    ASSERT_EQ(static_cast<int>(reference.size()), c.recipe.frames);
    auto p = OpenAtRest(path);
    ASSERT_TRUE(p);
    for (int n : c.frames) {
      p->SetCurrentTime(static_cast<TMediaTime>(n) * p->Step());
      ASSERT_TRUE(WaitFor([&] { return AtRest(*p); })) << n;
      EXPECT_EQ(ShownIndex(*p), reference[static_cast<size_t>(n)]) << path << " frame " << n;
    }
    p->ShutDown();
  }
}

TEST_F(MoviePlayerTest, PlaysToTheEndStopsAndStartsAgain) {
  const std::string path = MakeTestMovie(Recipe("25", 8, true, 4));
  ASSERT_FALSE(path.empty());
  auto p = OpenAtRest(path);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->SendPlayerCommand(TCommand::CmdStart), 0);
  EXPECT_EQ(p->GetState(), TPlayerState::Started);
  ASSERT_TRUE(WaitFor([&] { return p->GetState() == TPlayerState::Stopped && p->PendingKind() == 0; }));
  ASSERT_EQ(p->SendPlayerCommand(TCommand::CmdStart), 0);
  EXPECT_EQ(p->GetState(), TPlayerState::Started);
  ASSERT_TRUE(WaitFor([&] { return p->PendingKind() == 0; }));
  EXPECT_EQ(p->SendPlayerCommand(TCommand::CmdPause), 0);
  ASSERT_TRUE(WaitFor([&] { return AtRest(*p); }));
  p->ShutDown();
}

TEST_F(MoviePlayerTest, PauseRightAfterStartEndsPaused) {
  const std::string path = MakeTestMovie({});
  ASSERT_FALSE(path.empty());
  auto p = OpenAtRest(path);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->SendPlayerCommand(TCommand::CmdStart), 0);
  p->SendPlayerCommand(TCommand::CmdPause);  // remembered while the start is pending
  ASSERT_TRUE(WaitFor([&] { return AtRest(*p); }));
  const int shown = ShownIndex(*p);
  EXPECT_EQ(static_cast<TMediaTime>(shown), p->CurrentTime() / p->Step());
  p->ShutDown();
}

TEST_F(MoviePlayerTest, RateRequestsOnARealSession) {
  const std::string path = MakeTestMovie({});
  ASSERT_FALSE(path.empty());
  auto p = OpenAtRest(path);
  ASSERT_TRUE(p);
  ASSERT_EQ(p->SendPlayerCommand(TCommand::CmdStart), 0);
  ASSERT_TRUE(WaitFor([&] { return p->PendingKind() == 0; }));
  const struct {
    float rate;
    bool ok;
    float after;
  } cases[] = {
      {2.0f, true, 2.0f},   {2.0f, true, 2.0f},   {0.0f, false, 2.0f},
      {0.5f, true, 0.5f},   {1.0f, true, 1.0f},
      {-1.0f, p->CanFastRewind(), p->CanFastRewind() ? -1.0f : 1.0f},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(p->SetMovieRate(c.rate), c.ok) << c.rate;
    EXPECT_EQ(p->Rate(), c.after) << c.rate;
    EXPECT_EQ(p->GetState(), TPlayerState::Started) << c.rate;
    ASSERT_TRUE(WaitFor([&] { return p->PendingKind() == 0 && p->RequestedCommand() == TCommand::CmdNone; }));
  }
  p->ShutDown();
}

TEST_F(MoviePlayerTest, AudioOnlyMovieOpensWithoutVideo) {
  const std::string path = MakeTestMovie(Recipe("25", 10, false));
  ASSERT_FALSE(path.empty());
  auto p = TMfPackPlayer::Create();
  p->SetFileName(QString::fromStdString(path));
  ASSERT_FALSE(p->FileName().isEmpty());
  ASSERT_TRUE(WaitFor([&] { return AtRest(*p); }));
  EXPECT_FALSE(p->HasVideo());
  EXPECT_GT(p->Step(), 0u);
  QImage img;
  EXPECT_EQ(p->TakeSnapShot(img), 1);
  p->ShutDown();
}

TEST_F(MoviePlayerTest, UnreadableFilesFailTheOpenWithAMessage) {
  const std::string dir = MakeTempDir();
  const std::string garbage = dir + "/garbage.mp4";
  {
    QFile f(QString::fromStdString(garbage));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(4096, '\x5a'));
  }
  std::vector<std::string> paths = {dir + "/missing.mp4", garbage};
  if (!CorpusDir().empty()) paths.push_back(CorpusDir() + "/mp4/REJECT_sfront_sine_not-isobmff.mp4");
  for (const std::string& path : paths) {
    auto p = TMfPackPlayer::Create();
    const int before = messages.Texts().size();
    p->SetFileName(QString::fromStdString(path));
    if (p->FileName().isEmpty()) {
      EXPECT_EQ(messages.Texts().size(), before + 1) << path;
      EXPECT_TRUE(messages.Texts().last().startsWith("An error has been returned. (hr: -")) << path;
      EXPECT_EQ(p->GetState(), TPlayerState::Closed);
    }
    EXPECT_EQ(p->ShutDown(), 0) << path;
  }
}

// --- the headless commands -------------------------------------------------------------

TEST(FrameExportTest, WritesTheFrameFfmpegDecodes) {
  TRecordingMessages messages;
  const std::string path = MakeTestMovie({});
  ASSERT_FALSE(path.empty());
  const std::vector<int> reference = FfmpegFrameIndexes(path);
  const QString out = QString::fromStdString(MakeTempDir()) + "/frame.png";
  for (int n : {0, 13, 49}) {
    ASSERT_EQ(RunExportFrame(QString::fromStdString(path), n, out), 0) << n;
    QImage img(out);
    ASSERT_FALSE(img.isNull());
    img = img.convertToFormat(QImage::Format_ARGB32);
    EXPECT_EQ(img.size(), QSize(160, 90));
    EXPECT_EQ(ReadFrameIndex(img.constBits(), img.width(), img.height(), static_cast<int>(img.bytesPerLine())),
              reference[static_cast<size_t>(n)])
        << n;
  }
}

TEST(FrameExportTest, FrameNIsFrameNWhenTheAverageRateIsSkewed) {
  // The two movies' averages are about 20 and 30.5 fps; their frames follow 24 and 30.
  TRecordingMessages messages;
  const struct {
    TMovieRecipe recipe;
    const char* rate;
    const char* step;
    const char* frames;  // the long last frame spans more periods
  } cases[] = {
      {LongLastFrameQuickTime(), "frame rate: 24.000000\n", "step: 416666\n", "frames: 142\n"},
      {LateStartShortLastFrameMp4(), "frame rate: 30.000000\n", "step: 333333\n", "frames: 60\n"},
  };
  const QString out = QString::fromStdString(MakeTempDir()) + "/frame.png";
  for (const auto& c : cases) {
    const std::string path = MakeTestMovie(c.recipe);
    ASSERT_FALSE(path.empty());
    for (int n : {5, c.recipe.frames / 2 + 1, c.recipe.frames - 1}) {
      ASSERT_EQ(RunExportFrame(QString::fromStdString(path), n, out), 0) << path << " " << n;
      QImage img = QImage(out).convertToFormat(QImage::Format_ARGB32);
      EXPECT_EQ(ReadFrameIndex(img.constBits(), img.width(), img.height(), static_cast<int>(img.bytesPerLine())), n)
          << path;
    }
    testing::internal::CaptureStdout();
    EXPECT_EQ(RunFrameInfo(QString::fromStdString(path)), 0);
    const std::string info = testing::internal::GetCapturedStdout();
    for (const char* line : {c.rate, c.step, c.frames})
      EXPECT_NE(info.find(line), std::string::npos) << line << " in " << info;
  }
}

TEST(FrameExportTest, BadRequestsFailWithoutWriting) {
  TRecordingMessages messages;
  const std::string path = MakeTestMovie({});
  ASSERT_FALSE(path.empty());
  const QString dir = QString::fromStdString(MakeTempDir());
  const QString movie = QString::fromStdString(path);
  const struct {
    const char* what;
    QString movie;
    qint64 frame;
    QString out;
  } cases[] = {
      {"missing movie", dir + "/nothing.mp4", 0, dir + "/a.png"},
      {"frame past the end", movie, 50, dir + "/b.png"},
      {"negative frame", movie, -1, dir + "/c.png"},
      {"unknown image format", movie, 0, dir + "/d.notaformat"},
      {"unwritable folder", movie, 0, dir + "/no/such/folder/e.png"},
  };
  for (const auto& c : cases) {
    EXPECT_NE(RunExportFrame(c.movie, c.frame, c.out), 0) << c.what;
    EXPECT_FALSE(QFile::exists(c.out)) << c.what;
  }
  EXPECT_NE(RunFrameInfo(dir + "/nothing.mp4"), 0);
  testing::internal::CaptureStdout();
  const int rc = RunFrameInfo(movie);
  const std::string info = testing::internal::GetCapturedStdout();
  EXPECT_EQ(rc, 0);
  for (const char* line : {"width: 160\n", "height: 90\n", "frame rate: 25.000000\n", "step: 400000\n",
                           "frames: 50\n"})
    EXPECT_NE(info.find(line), std::string::npos) << line << " in " << info;
  EXPECT_TRUE(messages.Texts().isEmpty());  // everything went to stderr
}

} // namespace
