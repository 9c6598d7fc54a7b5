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
#include "platform/openkind/OpenKind.h"

#include <algorithm>
#include <cerrno>
#include <unistd.h>

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
      EXPECT_TRUE(messages.Texts().last().startsWith("Cannot open the movie: \"" + QString::fromStdString(path))) << path;
      EXPECT_TRUE(messages.Texts().last().contains("(hr: -")) << path;
      EXPECT_EQ(p->GetState(), TPlayerState::Closed);
    }
    EXPECT_EQ(p->ShutDown(), 0) << path;
  }
}

// Every way an open fails is told in words, the code at most after them in brackets: the
// decision of what a file is (what the window asks first), the player's message, and the
// headless command's.
TEST(OpenFailures, SayInWordsWhatIsWrong) {
  TRecordingMessages messages;
  const QString dir = QString::fromStdString(MakeTempDir());
  auto write = [&](const QString& name, const QByteArray& bytes) {
    QFile f(dir + "/" + name);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return dir + "/" + name;
  };
  const std::string movie = MakeTestMovie({});
  ASSERT_FALSE(movie.empty());
  QFile movieFile(QString::fromStdString(movie));
  ASSERT_TRUE(movieFile.open(QIODevice::ReadOnly));
  const QByteArray movieBytes = movieFile.readAll();
  // A Matroska movie whose codec FFmpeg knows by name but cannot decode.
  TMovieRecipe snow;
  snow.container = "mkv";
  snow.videoCodec = "-c:v snow";
  snow.bframes = 0;
  snow.audio = false;
  snow.frames = 5;
  const std::string snowPath = MakeTestMovie(snow);
  ASSERT_FALSE(snowPath.empty());
  QFile snowFile(QString::fromStdString(snowPath));
  ASSERT_TRUE(snowFile.open(QIODevice::ReadOnly));
  QByteArray avs2 = snowFile.readAll();
  ASSERT_GE(avs2.indexOf("V_SNOW"), 0);
  avs2.replace("V_SNOW", "V_AVS2");
  QImage picture(8, 8, QImage::Format_RGB32);
  picture.fill(Qt::red);
  ASSERT_TRUE(picture.save(dir + "/picture.png"));

  const struct {
    const char* what;
    QString path;
    const char* words;   // in every message about it
    bool decidedMovie;   // the decision says movie (by name); the open then says why not
  } cases[] = {
      {"missing", dir + "/missing.mp4", "does not exist", false},
      {"folder", dir, "is a folder", false},
      {"character device", "/dev/null", "device or other special file", false},
      {"empty", write("empty.mp4", {}), "is empty", false},
      {"text named as a movie", write("notes.mp4", QByteArray(3000, 'x')), "is not a movie", true},
      {"text of unknown kind", write("recording.dat", QByteArray(3000, 'x')),
       "neither a movie nor a picture", false},
      {"text without extension", write("clip", "hello\n"), "neither a movie nor a picture", false},
      {"damaged movie", write("cut.mp4", movieBytes.left(40)), "is damaged", true},
      {"codec without a decoder", write("avs2.mkv", avs2), "no decoder for", true},
      {"codec without a decoder, unknown kind", write("avs2", avs2), "AVS2", false},
      {"a picture", dir + "/picture.png", "is a still picture, not a movie", false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    const TOpenDecision d = DecideOpen(c.path);
    if (QLatin1String(c.what) == QLatin1String("a picture")) {
      EXPECT_EQ(d.kind, kOpenStill);
    } else if (c.decidedMovie) {
      EXPECT_EQ(d.kind, kOpenMovie);
      // The player, as the window opens a movie.
      auto p = TMfPackPlayer::Create();
      const int before = messages.Texts().size();
      p->SetFileName(c.path);
      EXPECT_TRUE(p->FileName().isEmpty());
      ASSERT_EQ(messages.Texts().size(), before + 1);
      const QString shown = messages.Texts().last();
      EXPECT_TRUE(shown.contains(QLatin1String(c.words), Qt::CaseInsensitive)) << shown.toStdString();
      EXPECT_TRUE(shown.startsWith("Cannot open the movie: \"" + c.path + "\"")) << shown.toStdString();
      EXPECT_TRUE(shown.endsWith(")")) << shown.toStdString();  // the code only after the words
      p->ShutDown();
    } else {
      EXPECT_EQ(d.kind, kOpenNothing);
      EXPECT_TRUE(d.reason.contains(QLatin1String(c.words), Qt::CaseInsensitive)) << d.reason.toStdString();
      EXPECT_FALSE(d.reason.contains(QLatin1String("hr:"))) << d.reason.toStdString();
    }
    // The headless command: one message, in the same words.
    testing::internal::CaptureStderr();
    EXPECT_NE(RunExportFrame(c.path, 0, dir + "/out.png"), 0);
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_NE(QString::fromStdString(err).indexOf(QLatin1String(c.words), 0, Qt::CaseInsensitive), -1) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
    EXPECT_FALSE(QFile::exists(dir + "/out.png"));
  }
  // Permission is refused to everyone but the super-user, whom the tests may run as: the
  // words for the error, and a real unreadable file when the test can make one.
  EXPECT_TRUE(FileErrorText("/x/y.mp4", EACCES).contains("permission denied"));
  const QString locked = write("locked.mp4", movieBytes);
  QFile::setPermissions(locked, QFileDevice::WriteOwner);
  if (::geteuid() != 0) {
    EXPECT_TRUE(DecideOpen(locked).reason.contains("permission denied")) << DecideOpen(locked).reason.toStdString();
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
