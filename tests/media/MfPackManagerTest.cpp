// The media manager on real generated movies with the Qt event loop (offscreen): frame
// delivery, commands by state, the open's wait, and the frame splitter's walk.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QImage>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <thread>

#include "FakeFramework.h"
#include "MediaTestSupport.h"
#include "TestMovies.h"
#include "media/MfPackManager.h"
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

int IndexOf(const QImage& img) {
  return ReadFrameIndex(img.constBits(), img.width(), img.height(), static_cast<int>(img.bytesPerLine()));
}

class ManagerTest : public ::testing::Test {
protected:
  void SetUp() override {
    movie = QString::fromStdString(MakeTestMovie({}));
    ASSERT_FALSE(movie.isEmpty());
    mgr = std::make_unique<TMfPackManager>();
    mgr->TimerViewProc = [this](const QImage& img) {
      delivered.push_back(IndexOf(img));
      last = img;
    };
    mgr->TimerInfoProc = [this](TMediaTime, float, bool playing) { infos.push_back(playing); };
  }
  void TearDown() override {
    mgr.reset();
  }

  void Open(const QString& path) {
    mgr->SetFileName(path);
    ASSERT_EQ(mgr->FileName(), path) << messages.Texts().join("|").toStdString();
  }
  // The player has carried out everything asked of it.
  bool Settled() {
    TMfPackPlayer* p = mgr->Player();
    return p->PendingKind() == 0 && p->RequestedCommand() == TCommand::CmdNone;
  }
  bool AtRest() { return mgr->Player()->GetState() == TPlayerState::Paused && Settled(); }

  TRecordingMessages messages;
  QString movie;
  std::unique_ptr<TMfPackManager> mgr;
  std::vector<int> delivered;
  std::vector<bool> infos;
  QImage last;
};

TEST_F(ManagerTest, OpenReturnsShowableAndDeliversTheFirstFrameOnce) {
  Open(movie);
  EXPECT_TRUE(mgr->HasVideo());
  EXPECT_EQ(mgr->MediaWidth(), 160u);
  EXPECT_EQ(mgr->MediaHeight(), 90u);
  EXPECT_EQ(mgr->MediaSTEP(), 400'000u);
  EXPECT_EQ(mgr->MediaFPS(), 25.0);
  EXPECT_GT(mgr->Duration(), 0u);
  EXPECT_TRUE(mgr->TimerViewActive());
  EXPECT_TRUE(mgr->TimerInfoActive());
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  // Status ticks before the movie came to rest may still report it playing.
  infos.clear();
  // The first tick delivers frame 0 even though the position reads frame 0.
  ASSERT_TRUE(Spin([&] { return !delivered.empty(); }));
  EXPECT_EQ(delivered.front(), 0);
  ASSERT_TRUE(Spin([&] { return !infos.empty(); }));
  EXPECT_FALSE(infos.back());
  // Paused: no further deliveries, however many ticks run.
  const size_t n = delivered.size();
  for (int i = 0; i < 20; ++i) mgr->TimerViewTick();
  EXPECT_EQ(delivered.size(), n);
  // A seek: exactly one delivery, of the new frame.
  mgr->SetCurrentTime(10 * mgr->MediaSTEP());
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  for (int i = 0; i < 20; ++i) mgr->TimerViewTick();
  ASSERT_EQ(delivered.size(), n + 1);
  EXPECT_EQ(delivered.back(), 10);
  // While stepping (check off) every tick delivers.
  mgr->SetIsCheckTimer(false);
  for (int i = 0; i < 3; ++i) mgr->TimerViewTick();
  EXPECT_EQ(delivered.size(), n + 4);
  mgr->SetIsCheckTimer(true);
  // MediaBitmapGet shows the current picture again.
  mgr->MediaBitmapGet();
  EXPECT_EQ(delivered.size(), n + 5);
  EXPECT_EQ(delivered.back(), 10);
}

TEST_F(ManagerTest, CommandsFollowThePlayerState) {
  Open(movie);
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  // Pause while paused: nothing asked of the player.
  mgr->MediaPause();
  EXPECT_TRUE(AtRest());
  mgr->MediaStart();
  EXPECT_TRUE(mgr->isPlaying());
  // Start while playing: nothing asked (not even remembered behind the pending start).
  mgr->MediaStart();
  EXPECT_EQ(mgr->Player()->RequestedCommand(), TCommand::CmdNone);
  ASSERT_TRUE(Spin([&] { return Settled(); }));
  mgr->MediaStartPause();
  EXPECT_FALSE(mgr->isPlaying());
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  mgr->MediaStartPause();
  EXPECT_TRUE(mgr->isPlaying());
  ASSERT_TRUE(Spin([&] { return mgr->Player()->GetState() == TPlayerState::Stopped && Settled(); }));
  // From Stopped (the end of the movie) the toggle starts again.
  mgr->MediaStartPause();
  EXPECT_TRUE(mgr->isPlaying());
  ASSERT_TRUE(Spin([&] { return Settled(); }));
  mgr->MediaPause();
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
}

TEST_F(ManagerTest, StepsStopAtTheEndsAndVolumeIsClamped) {
  Open(movie);
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  const TMediaTime step = mgr->MediaSTEP();
  const struct {
    const char* what;
    bool forward;
    TMediaTime from, by, expected;
  } cases[] = {
      {"forward near the end", true, 49 * step, 100'000'000, mgr->Duration()},
      {"forward by all ones", true, 10 * step, kNoPosition, mgr->Duration()},
      {"forward inside", true, 10 * step, 2 * step, 12 * step},
      {"backward past 0", false, 3 * step, 100'000'000, 0},
      {"backward by exactly the position", false, 3 * step, 3 * step, 0},
      {"backward inside", false, 10 * step, step, 9 * step},
  };
  for (const auto& c : cases) {
    mgr->SetCurrentTime(c.from);
    ASSERT_TRUE(Spin([&] { return AtRest(); })) << c.what;
    if (c.forward)
      mgr->MediaForward(c.by);
    else
      mgr->MediaBackward(c.by);
    ASSERT_TRUE(Spin([&] { return AtRest(); })) << c.what;
    EXPECT_EQ(mgr->CurrentTime(), c.expected) << c.what;
  }
  const struct {
    float in, out;
  } volumes[] = {{1.5f, 1.0f}, {-0.2f, 0.0f}, {0.5f, 0.5f}};
  for (const auto& v : volumes) {
    mgr->SetVolume(v.in);
    EXPECT_EQ(mgr->Volume(), v.out) << v.in;
    EXPECT_EQ(mgr->Player()->GetVolume(), v.out) << v.in;
  }
}

TEST_F(ManagerTest, EmptyNameShutsTheOldPlayerDown) {
  Open(movie);
  const std::weak_ptr<TMfPackPlayer> old = mgr->PlayerRef();
  mgr->SetFileName(QString());
  EXPECT_TRUE(old.expired());  // shut down and freed, not left running
  EXPECT_TRUE(mgr->FileName().isEmpty());
  EXPECT_FALSE(mgr->TimerViewActive());
  EXPECT_FALSE(mgr->TimerInfoActive());
  EXPECT_FALSE(mgr->HasVideo());
  EXPECT_EQ(mgr->CurrentTime(), kNoPosition);
  EXPECT_TRUE(messages.Texts().isEmpty());
  // Closing after that, and opening again, work as usual.
  mgr->MediaClose();
  Open(movie);
  EXPECT_TRUE(mgr->HasVideo());
  mgr->MediaClose();
  EXPECT_TRUE(mgr->FileName().isEmpty());
  EXPECT_FALSE(mgr->TimerViewActive());
}

TEST_F(ManagerTest, MoviesWithoutPicturesFailTheOpenWithAMessage) {
  const QString audioOnly = QString::fromStdString(MakeTestMovie(Recipe("25", 10, false)));
  ASSERT_FALSE(audioOnly.isEmpty());
  Open(movie);
  const struct {
    const char* what;
    QString path;
  } cases[] = {
      {"sound only", audioOnly},
      {"missing", QStringLiteral("/nonexistent/movie.mp4")},
  };
  for (const auto& c : cases) {
    const int before = messages.Texts().size();
    mgr->SetFileName(c.path);
    EXPECT_TRUE(mgr->FileName().isEmpty()) << c.what;
    EXPECT_FALSE(mgr->TimerViewActive()) << c.what;
    EXPECT_FALSE(mgr->TimerInfoActive()) << c.what;
    EXPECT_EQ(messages.Texts().size(), before + 1) << c.what;
  }
}

// The open's wait on a scripted framework, so the test decides when the picture is ready.
class ManagerWaitTest : public ::testing::Test {
protected:
  void SetUp() override {
    fw = std::make_shared<TFakeFramework>();
    fw->autoComplete = true;
    previous = OverrideMediaFramework(fw);
    mgr = std::make_unique<TMfPackManager>();
    mgr->TimerViewProc = [](const QImage&) {};
    mgr->TimerInfoProc = [](TMediaTime, float, bool) {};
  }
  void TearDown() override {
    mgr.reset();
    OverrideMediaFramework(previous);
  }
  TRecordingMessages messages;
  std::shared_ptr<TFakeFramework> fw;
  std::shared_ptr<IMediaFramework> previous;
  std::unique_ptr<TMfPackManager> mgr;
};

TEST_F(ManagerWaitTest, WaitDispatchesEventsButNeverReentersTheManager) {
  bool nestedRan = false;
  QTimer::singleShot(0, [&] {
    nestedRan = true;
    mgr->SetFileName(QStringLiteral("other.mp4"));  // dropped: this manager is opening
    mgr->MediaStart();
    mgr->MediaClose();
    auto s = fw->LastSession();
    s->Deliver(MESessionTopologySet);
    s->DeliverTopologyStatus(MF_TOPOSTATUS_READY);
  });
  mgr->SetFileName(QStringLiteral("movie.mp4"));
  EXPECT_TRUE(nestedRan);
  EXPECT_EQ(mgr->FileName(), QStringLiteral("movie.mp4"));
  EXPECT_TRUE(mgr->HasVideo());
  EXPECT_TRUE(mgr->TimerViewActive());
  EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(ManagerWaitTest, TheOwnersFrameBudgetReachesTheSessionsOpenedAfterwards) {
  auto open = [&](const char* name) {
    QTimer::singleShot(0, [&] {
      auto s = fw->LastSession();
      s->Deliver(MESessionTopologySet);
      s->DeliverTopologyStatus(MF_TOPOSTATUS_READY);
    });
    mgr->SetFileName(QString::fromLatin1(name));
    return fw->LastFrameCacheMiB();
  };
  // Not given: the framework's default for this machine.
  EXPECT_EQ(open("a.mp4"), DefaultFrameCacheMiB());
  EXPECT_TRUE(DefaultFrameCacheMiB() == 256u || DefaultFrameCacheMiB() == 1024u);
  mgr->SetFrameCacheMiB(300);
  EXPECT_EQ(mgr->FrameCacheMiB(), 300u);
  EXPECT_EQ(open("b.mp4"), 300u);
  mgr->SetFrameCacheMiB(0);
  EXPECT_EQ(open("c.mp4"), DefaultFrameCacheMiB());
}

TEST_F(ManagerWaitTest, PictureThatNeverComesFailsTheOpenAfterTheLimit) {
  mgr->OpenWaitMs = 100;
  mgr->SetFileName(QStringLiteral("stuck.mp4"));  // the session never reports its topology
  EXPECT_TRUE(mgr->FileName().isEmpty());
  EXPECT_FALSE(mgr->HasVideo());
  EXPECT_FALSE(mgr->TimerViewActive());
  EXPECT_FALSE(mgr->TimerInfoActive());
  ASSERT_EQ(messages.Texts().size(), 1);
  EXPECT_TRUE(messages.Texts()[0].startsWith("The movie has no picture that can be shown"));
}

// --- frame splitter -------------------------------------------------------------------

class SplitterTest : public ManagerTest {
protected:
  // Fills the ring with n frames by ticking with the frame check off.
  void Push(int n) {
    mgr->SetIsCheckTimer(false);
    for (int i = 0; i < n; ++i) mgr->TimerViewTick();
    mgr->SetIsCheckTimer(true);
  }
};

TEST_F(SplitterTest, WalkThroughTheRing) {
  mgr->SetSnapCounts(4);
  Open(movie);
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  mgr->SetIsSnapBitmaps(true);
  ASSERT_EQ(mgr->Ring().size(), 4u);
  Push(4);  // full: slot 0 is the oldest and is written next
  ASSERT_EQ(mgr->RingIndex(), 0);
  ASSERT_EQ(mgr->RingCurrent(), 0);
  const struct {
    int32_t walk;
    int32_t current;
  } steps[] = {
      {-1, 3},  // from none: the newest
      {-1, 2}, {-1, 1},
      {-1, 1},  // never onto the oldest slot
      {1, 2}, {1, 3},
      {1, 0},   // from the newest back to none
      {1, 0},   // none stays none
      {7, 1},   // any other value: the oldest frame the composite shows
      {0, 0},   // none
  };
  for (const auto& s : steps) {
    const size_t before = delivered.size();
    mgr->SnapBitmapsDrawIndex(s.walk);
    EXPECT_EQ(mgr->RingCurrent(), s.current) << s.walk;
    EXPECT_TRUE(mgr->RingDrawQueued());
    ASSERT_TRUE(Spin([&] { return !mgr->RingDrawQueued(); }));
    EXPECT_EQ(delivered.size(), before + 1);  // the redrawn composite
  }
  // A walk while a composite is queued is dropped.
  mgr->SnapBitmapsDrawIndex(-1);
  EXPECT_EQ(mgr->RingCurrent(), 3);
  mgr->SnapBitmapsDrawIndex(-1);
  EXPECT_EQ(mgr->RingCurrent(), 3);
  ASSERT_TRUE(Spin([&] { return !mgr->RingDrawQueued(); }));
}

TEST_F(SplitterTest, ManagerFreedWithACompositeQueuedWhilePlaying) {
  mgr->SetSnapCounts(3);
  Open(movie);
  mgr->SetIsSnapBitmaps(true);
  Push(3);
  mgr->MediaStart();
  mgr->SnapBitmapsDrawIndex(-1);
  ASSERT_TRUE(mgr->RingDrawQueued());
  const size_t before = delivered.size();
  mgr.reset();  // shuts the playing session down; the queued composite must not run
  QCoreApplication::processEvents();
  EXPECT_EQ(delivered.size(), before);
}

TEST_F(SplitterTest, PauseRightAfterStartComposesOnlyTheFramesShown) {
  mgr->SetSnapCounts(16);
  mgr->SetSnapAlpha(2.0f);
  Open(movie);
  ASSERT_TRUE(Spin([&] { return AtRest(); }));
  mgr->SetIsSnapBitmaps(true);
  Push(3);  // frames of before the start: the start empties the ring
  for (int shown : {1, 2}) {
    SCOPED_TRACE(shown);
    mgr->MediaStart();
    ASSERT_TRUE(mgr->isPlaying());
    for (const QImage& slot : mgr->Ring()) EXPECT_EQ(slot.width(), 0);
    Push(shown - 1);
    mgr->MediaPause();
    Push(1);  // the next delivered frame carries the composite
    ASSERT_EQ(last.size(), QSize(160, 90));
    // Opaque frames each blended at 2/15 (k = 34 of 256): one gives alpha 34, two 63.
    EXPECT_EQ(qAlpha(last.pixel(80, 45)), shown == 1 ? 34 : 63);
    ASSERT_TRUE(Spin([&] { return AtRest(); }));
  }
  // Switching off frees the ring; a new count re-makes it empty.
  mgr->SetIsSnapBitmaps(false);
  EXPECT_TRUE(mgr->Ring().empty());
  mgr->SetIsSnapBitmaps(true);
  mgr->SetSnapCounts(2);
  mgr->SetIsSnapBitmaps(true);
  EXPECT_EQ(mgr->Ring().size(), 2u);
}

TEST(SplitterSettings, OwnerValuesAreKeptInRange) {
  TMfPackManager m;
  EXPECT_EQ(m.SnapCounts(), TMfPackManager::kSnapCountsDefault);
  EXPECT_EQ(m.SnapAlpha(), TMfPackManager::kSnapAlphaDefault);
  const struct {
    int32_t counts, expected;
  } counts[] = {{1, 2}, {-5, 2}, {2, 2}, {40, 40}, {41, 40}, {7, 7}};
  for (const auto& c : counts) {
    m.SetSnapCounts(c.counts);
    EXPECT_EQ(m.SnapCounts(), c.expected) << c.counts;
  }
  const struct {
    float alpha, expected;
  } alphas[] = {{0.0f, 0.1f}, {std::nanf(""), 0.1f}, {-1.0f, 0.1f}, {4.5f, 4.0f}, {1.5f, 1.5f}};
  for (const auto& a : alphas) {
    m.SetSnapAlpha(a.alpha);
    EXPECT_EQ(m.SnapAlpha(), a.expected) << a.alpha;
  }
  // The ring takes the owner's count when the splitter is switched on.
  m.SetSnapCounts(5);
  m.SetIsSnapBitmaps(true);
  EXPECT_EQ(m.Ring().size(), 5u);
}

} // namespace
