// The transport bar driving real movies through the real media manager: key steps checked
// on the delivered pictures, the marks' effect on play and the step buttons, the rate
// cycle, the track press, and the start's bounded wait.
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include "FakeFramework.h"
#include "TransportTestSupport.h"
#include "controls/TraBtn.h"
#include "app/settings/Setup.h"
#include "controls/TraValue.h"

using namespace skm;
using namespace skmtest;

namespace {

class BarTest : public LaneTest {};

TEST_F(BarTest, KeyStepsAreFrameExactOnThePictureAndAddUp) {
  // 50 frames at 25/s: the track's Max is frame 50, which shows the last frame, 49.
  const QString movie = CopyMovie(Recipe("25", 50), dir, "steps.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  ASSERT_EQ(bar->TraTrack->Max(), 50 * step);
  const Qt::KeyboardModifiers none = Qt::NoModifier;
  const struct {
    const char* what;
    int from;
    bool back;
    Qt::KeyboardModifiers mods;
    int times;   // key steps queued behind each other before any of them runs
    int shows;   // frame on the last picture
    int at;      // frame of the position
  } cases[] = {
      {"plain forward, 5 each", 10, false, none, 3, 25, 25},
      {"Ctrl back, 1 each", 10, true, Qt::ControlModifier, 4, 6, 6},
      {"Shift forward, 10 each", 0, false, Qt::ShiftModifier, 2, 20, 20},
      {"Shift wins over Ctrl", 30, true, Qt::ShiftModifier | Qt::ControlModifier, 1, 20, 20},
      {"Alt is ignored", 30, true, Qt::AltModifier, 1, 25, 25},
      {"back from below one step goes to 0", 3, true, none, 1, 0, 0},
      {"back many times stays at 0", 12, true, Qt::ShiftModifier, 5, 0, 0},
      {"forward never passes the track's end", 45, false, Qt::ShiftModifier, 3, 49, 50},
  };
  for (const auto& c : cases) {
    GoTo(c.from);
    for (int i = 0; i < c.times; ++i) {
      if (c.back)
        bar->TraBWardKeyExecute(c.mods);
      else
        bar->TraFWardKeyExecute(c.mods);
    }
    EXPECT_FALSE(mgr->isCheckTimer()) << c.what;  // every tick delivers while stepping
    EXPECT_EQ(bar->StepsQueued(), c.times) << c.what;
    ASSERT_TRUE(Spin([&] { return Quiet(); })) << c.what;
    EXPECT_TRUE(mgr->isCheckTimer()) << c.what;
    EXPECT_EQ(mgr->CurrentTime(), uint64_t(c.at) * step) << c.what;
    EXPECT_EQ(bar->TraTrack->Value(), uint64_t(c.at) * step) << c.what;
    EXPECT_EQ(Shown(), c.shows) << c.what;
    // Nothing more arrives once the step is over.
    const size_t n = delivered.size();
    SpinFor(60);
    EXPECT_EQ(delivered.size(), n) << c.what;
  }
}

// Right after an open, and right after a press of play, the lane's pause is only
// remembered behind a command under way; a seek made then would take its place and the
// lane would play on. Steps and drags wait for the pause to take effect.
TEST_F(BarTest, StepsAndDragsRightAfterAStartStillEndPaused) {
  const QString movie = CopyMovie(Recipe("25", 100), dir, "early.mp4");
  ASSERT_FALSE(movie.isEmpty());
  // The key comes while the new movie is still coming to rest.
  mgr->SetFileName(movie);
  ASSERT_TRUE(mgr->HasVideo());
  bar->SetDuration(mgr->Duration());
  step = mgr->MediaSTEP();
  bar->TraFWardKeyExecute(Qt::ShiftModifier);
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  SpinFor(100);
  EXPECT_TRUE(Paused());
  EXPECT_EQ(mgr->CurrentTime(), 10 * step);
  EXPECT_EQ(Shown(), 10);
  // The key comes while the start is under way.
  bar->TraStartExecute();
  bar->TraFWardKeyExecute(Qt::NoModifier);
  ASSERT_TRUE(Spin([&] { return Quiet() && !mgr->isPlaying(); }));
  SpinFor(100);
  EXPECT_TRUE(Paused());
  EXPECT_FALSE(mgr->isPlaying());
  const uint64_t at = mgr->CurrentTime() / step;
  EXPECT_GE(at, 15u);
  EXPECT_EQ(uint64_t(Shown()), at);
  // A track press while the start is under way: still while held, playing after release
  // (a start had been issued, so the lane counts as playing at the press).
  bar->TraStartExecute();
  TTraTrack* track = bar->TraTrack;
  const QPoint p(track->width() / 2, track->height() - 5);
  QTest::mousePress(track, Qt::LeftButton, {}, p);
  auto playerIdle = [&] {
    TMfPackPlayer* pl = mgr->Player();
    return pl->PendingKind() == 0 && pl->RequestedCommand() == TCommand::CmdNone;
  };
  ASSERT_TRUE(Spin([&] { return track->Value() / step >= 49 && playerIdle(); }));
  SpinFor(100);
  EXPECT_FALSE(mgr->isPlaying());  // silent and still while the press is held
  EXPECT_EQ(mgr->CurrentTime(), track->Value());
  QTest::mouseRelease(track, Qt::LeftButton, {}, p);
  ASSERT_TRUE(Spin([&] { return Quiet() && !track->TimerEnabled(); }));
  EXPECT_TRUE(mgr->isPlaying());   // it played before the press, so it plays on
  bar->TraStartExecute();
  ASSERT_TRUE(Spin([&] { return Paused() && Quiet(); }));
}

TEST_F(BarTest, HeldKeyAtAutoRepeatPaceNeitherLosesNorMergesSteps) {
  const QString movie = CopyMovie(Recipe("25", 50), dir, "repeat.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  GoTo(5);
  // 20 steps forward, then 20 back, one frame each, 33 ms apart as a held key repeats.
  int sent = 0;
  int top = -1;  // the track's frame when the key turned round
  QTimer repeat;
  repeat.setInterval(33);
  QObject::connect(&repeat, &QTimer::timeout, [&] {
    if (sent == 20) top = static_cast<int>(bar->TraTrack->Value() / step);
    if (sent < 20)
      bar->TraFWardKeyExecute(Qt::ControlModifier);
    else
      bar->TraBWardKeyExecute(Qt::ControlModifier);
    if (++sent == 40) repeat.stop();
  });
  repeat.start();
  ASSERT_TRUE(Spin([&] { return sent == 40; }));
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  EXPECT_EQ(top, 25);
  EXPECT_EQ(mgr->CurrentTime(), 5 * step);
  EXPECT_EQ(Shown(), 5);
  // No picture beyond the turning point was ever shown.
  std::string seen;
  for (size_t i = 0; i < delivered.size(); ++i)
    if (i == 0 || delivered[i] != delivered[i - 1]) seen += std::to_string(delivered[i]) + " ";
  EXPECT_LE(*std::max_element(delivered.begin(), delivered.end()), 25) << seen;
}

TEST_F(BarTest, StartInsideTheRangeAndPauseAfterMarkB) {
  // 100 frames at 25/s (4 s).
  const QString movie = CopyMovie(Recipe("25", 100), dir, "range.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  bar->SetRange0(20 * step);
  bar->SetRange1(30 * step);
  EXPECT_EQ(bar->TraTrack->Value0(), 20 * step);
  EXPECT_EQ(bar->TraTrack->Value1(), 30 * step);
  // Before mark A and at/after mark B: play starts from mark A.
  for (int from : {5, 30, 90}) {
    GoTo(from);
    const size_t first = delivered.size();
    bar->TraStartExecute();
    EXPECT_TRUE(mgr->isPlaying()) << from;
    // The status reports pause it once past mark B, before the end of the movie.
    ASSERT_TRUE(Spin([&] { return !mgr->isPlaying() && Quiet(); })) << from;
    EXPECT_GT(mgr->CurrentTime(), 30 * step) << from;
    EXPECT_LT(mgr->CurrentTime(), mgr->Duration()) << from;
    EXPECT_TRUE(Paused()) << from;
    // Every picture shown since the press lies in the range and after it.
    ASSERT_GT(delivered.size(), first) << from;
    EXPECT_GE(*std::min_element(delivered.begin() + first, delivered.end()), 20) << from;
  }
  // Inside the range it starts where it is.
  GoTo(25);
  bar->TraStartExecute();
  EXPECT_GE(mgr->CurrentTime(), 25 * step);
  bar->TraStartExecute();  // pause
  ASSERT_TRUE(Spin([&] { return Paused() && Quiet(); }));
  // The play/pause icon follows the reports, not the press.
  ASSERT_TRUE(Spin([&] { return !bar->DisPlaying(); }));
  EXPECT_EQ(bar->TraStart->Data(), QString::fromLatin1(kIconPlay));
}

TEST_F(BarTest, WithMarkBAtTheEndTheMoviePlaysToItsEnd) {
  const QString movie = CopyMovie(Recipe("25", 50), dir, "end.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  ASSERT_EQ(bar->Range1(), bar->Duration());
  GoTo(40);
  bar->TraStartExecute();
  ASSERT_TRUE(Spin([&] { return bar->DisPlaying(); }));
  ASSERT_TRUE(Spin([&] { return !mgr->isPlaying(); }));
  // The player stopped it at the end; the bar did not pause it.
  EXPECT_EQ(mgr->Player()->GetState(), TPlayerState::Stopped);
  // It rests on its last frame and reads its end, also after the next frame polls.
  ASSERT_TRUE(Spin([&] { return Quiet() && Shown() == 49; }));
  SpinFor(300);
  EXPECT_EQ(Shown(), 49);
  EXPECT_EQ(mgr->CurrentTime(), mgr->Duration());
  EXPECT_EQ(bar->TraTrack->Value(), mgr->Duration());
  // A step from there shows its frame and stays paused; it does not play the movie again.
  bar->TraBWardKeyExecute(Qt::NoModifier);
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  SpinFor(300);
  EXPECT_TRUE(Paused());
  EXPECT_EQ(mgr->CurrentTime(), 45 * step);
  EXPECT_EQ(Shown(), 45);
}

TEST_F(BarTest, RateCycleQueuedWhilePausedAppliedAtStart) {
  const QString movie = CopyMovie(Recipe("25", 100), dir, "rate.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  EXPECT_EQ(bar->RateQue(), 1.0f);
  const struct {
    float rate;
    TMediaRate shown;
    const char* icon;
  } cycle[] = {{2.0f, mrDouble, kIconRateDouble}, {0.5f, mrHalf, kIconRateHalf}, {1.0f, mrNormal, kIconRateNormal},
               {2.0f, mrDouble, kIconRateDouble}};
  for (const auto& c : cycle) {
    QTest::mouseClick(bar->TraMRate, Qt::LeftButton);
    EXPECT_EQ(bar->RateQue(), c.rate);
    EXPECT_EQ(bar->MediaRate(), c.shown);
    EXPECT_EQ(bar->TraMRate->Data(), QString::fromLatin1(c.icon));
    EXPECT_EQ(mgr->Rate(), 1.0f);  // paused: only the queued rate changes
  }
  QTest::mouseClick(bar->TraStart, Qt::LeftButton);
  EXPECT_TRUE(mgr->isPlaying());
  EXPECT_EQ(mgr->Rate(), 2.0f);
  // While playing the rate changes at once.
  bar->TraMRateExecute();
  EXPECT_EQ(mgr->Rate(), 0.5f);
  bar->TraStartExecute();
  ASSERT_TRUE(Spin([&] { return Paused() && Quiet(); }));
  // A new movie starts at normal rate again.
  bar->SetRateQue(1.0f);
  EXPECT_EQ(bar->MediaRate(), mrNormal);
  EXPECT_EQ(bar->TraMRate->Data(), QString::fromLatin1(kIconRateNormal));
}

TEST_F(BarTest, StepButtonsJumpToTheMarksOrStepByTheSettings) {
  const QString movie = CopyMovie(Recipe("25", 100), dir, "buttons.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  TTraLayerSettings s;
  s.BtnBWardD = 10'000'000;  // 1 s = 25 frames
  s.BtnFWardD = 20'000'000;  // 2 s = 50 frames
  bar->SetLayerSettings(s);
  const TMediaTime none = kNoPosition;
  const struct {
    const char* what;
    TMediaTime a, b;  // marks (none: not set)
    int from;
    bool back;
    int to;
  } cases[] = {
      {"back by the setting", none, none, 60, true, 35},
      {"back that would cross 0 does nothing", none, none, 20, true, 20},
      {"back exactly to 0 does nothing", none, none, 25, true, 25},
      {"forward by the setting", none, none, 10, false, 60},
      {"forward past the end does nothing", none, none, 60, false, 60},
      {"back jumps to mark A whatever the position", 40, none, 10, true, 40},
      {"forward jumps to mark B whatever the position", none, 30, 80, false, 30},
  };
  for (const auto& c : cases) {
    bar->SetDuration(mgr->Duration());  // marks reset
    if (c.a != none) bar->SetRange0(c.a * step);
    if (c.b != none) bar->SetRange1(c.b * step);
    GoTo(c.from);
    QTest::mouseClick(c.back ? bar->TraBWard : bar->TraFWard, Qt::LeftButton);
    ASSERT_TRUE(Spin([&] { return Quiet(); })) << c.what;
    EXPECT_EQ(mgr->CurrentTime(), uint64_t(c.to) * step) << c.what;
    EXPECT_EQ(Shown(), c.to) << c.what;
  }
}

TEST_F(BarTest, TrackPressPausesAndMutesReleaseRestores) {
  const QString movie = CopyMovie(Recipe("25", 250), dir, "track.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  bar->TraVolumeChange(0.8f);  // the volume control's change
  EXPECT_FLOAT_EQ(mgr->Volume(), 0.8f);
  TTraTrack* track = bar->TraTrack;
  const QPoint lower(track->width() / 2, track->height() - 5);  // below the marks
  for (bool wasPlaying : {true, false}) {
    GoTo(10);
    if (wasPlaying) {
      bar->TraStartExecute();
      ASSERT_TRUE(Spin([&] { return Quiet(); }));
    }
    QTest::mousePress(track, Qt::LeftButton, {}, lower);
    EXPECT_FALSE(mgr->isPlaying()) << wasPlaying;
    EXPECT_EQ(mgr->Volume(), 0.0f) << wasPlaying;
    EXPECT_FALSE(mgr->isCheckTimer()) << wasPlaying;
    // The drag timer's tick seeks to the pointer.
    ASSERT_TRUE(Spin([&] { return mgr->CurrentTime() / step >= 100; })) << wasPlaying;
    QTest::mouseRelease(track, Qt::LeftButton, {}, lower);
    EXPECT_FLOAT_EQ(mgr->Volume(), 0.8f) << wasPlaying;
    EXPECT_EQ(mgr->isPlaying(), wasPlaying);
    ASSERT_TRUE(Spin([&] { return Quiet() && !track->TimerEnabled(); })) << wasPlaying;
    EXPECT_TRUE(mgr->isCheckTimer()) << wasPlaying;
    if (wasPlaying) {
      EXPECT_GE(mgr->CurrentTime() / step, 120u);  // resumed at the new position
      bar->TraStartExecute();
      ASSERT_TRUE(Spin([&] { return Paused() && Quiet(); }));
    } else {
      EXPECT_EQ(uint64_t(Shown()), mgr->CurrentTime() / step);
    }
  }
}

TEST_F(BarTest, DraggingMarkAOnTheTrackMovesTheRangeAndSeeks) {
  const QString movie = CopyMovie(Recipe("25", 100), dir, "drag.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  TTraTrack* track = bar->TraTrack;
  const int w = track->width();
  const int y = track->height() / 4;  // upper half: the marks
  QTest::mousePress(track, Qt::LeftButton, {}, QPoint(0, y));  // on mark A at 0
  QTest::mouseMove(track, QPoint(w / 4, y));
  ASSERT_TRUE(Spin([&] { return bar->Range0() > 0; }));  // the drag timer's tick
  QTest::mouseRelease(track, Qt::LeftButton, {}, QPoint(w / 4, y));
  ASSERT_TRUE(Spin([&] { return !track->TimerEnabled() && Quiet(); }));
  EXPECT_EQ(bar->Range0(), track->Value0());
  EXPECT_EQ(bar->Range1(), track->Value1());
  EXPECT_EQ(bar->Range1(), bar->Duration());
  EXPECT_NEAR(double(bar->Range0()) / double(bar->Duration()), 0.25, 0.01);
  // The lane went to the track's playhead, which followed the mark, and shows it.
  EXPECT_EQ(mgr->CurrentTime(), track->Value());
  EXPECT_EQ(uint64_t(Shown()), track->Value() / step);
  // The step-back button now jumps to the new mark A.
  GoTo(80);
  bar->TraBWardExecute();
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  EXPECT_EQ(mgr->CurrentTime(), bar->Range0());
}

TEST_F(BarTest, MarkKeysSetTheMarksAtThePositionPausingFirst) {
  const QString movie = CopyMovie(Recipe("25", 100), dir, "marks.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  GoTo(40);
  bar->TraRange0KeyExecute();
  EXPECT_EQ(bar->Range0(), 40 * step);
  GoTo(10);
  bar->TraRange1KeyExecute();  // B before A: not reordered
  EXPECT_EQ(bar->Range1(), 10 * step);
  EXPECT_EQ(bar->TraTrack->Value0(), 40 * step);
  EXPECT_EQ(bar->TraTrack->Value1(), 10 * step);
  // While playing: paused first, the mark at the position read after the pause request.
  bar->SetDuration(mgr->Duration());
  GoTo(20);
  bar->TraStartExecute();
  SpinFor(100);
  bar->TraRange1KeyExecute();
  const TMediaTime b = bar->Range1();
  EXPECT_GE(b, 20 * step);
  EXPECT_LT(b, mgr->Duration());
  ASSERT_TRUE(Spin([&] { return Paused() && Quiet(); }));
}

TEST_F(BarTest, WithoutAMovieEveryActionIsIgnored) {
  EXPECT_EQ(bar->MediaRate(), mrNone);
  EXPECT_EQ(bar->TraMRate->Data(), QString::fromLatin1(kIconRateNormal));
  EXPECT_EQ(bar->TraStart->Data(), QString::fromLatin1(kIconPlay));
  EXPECT_EQ(bar->RateQue(), 1.0f);
  bar->TraStartExecute();
  bar->TraMRateExecute();
  bar->TraBWardExecute();
  bar->TraFWardExecute();
  bar->TraVolumeChange(0.3f);
  bar->TraTrackChange(5, 1, 2);
  bar->TrackDown();
  bar->TrackUp();
  bar->TraBWardKeyExecute(Qt::NoModifier);
  bar->TraFWardKeyExecute(Qt::ShiftModifier);
  bar->TraRange0KeyExecute();
  bar->TraRange1KeyExecute();
  bar->RangesOpenFromFile();
  EXPECT_FALSE(bar->RangesSaveToFile());
  SpinFor(30);
  EXPECT_EQ(bar->RateQue(), 1.0f);
  EXPECT_EQ(bar->MediaRate(), mrNone);
  EXPECT_EQ(bar->Range0(), 0u);
  EXPECT_EQ(bar->Range1(), 0u);
  EXPECT_TRUE(mgr->isCheckTimer());
  EXPECT_EQ(bar->StepsQueued(), 0);
  EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(BarTest, ABarThatOutlivesItsManagerDoesNothing) {
  const QString movie = CopyMovie(Recipe("25", 50), dir, "gone.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  bar->TraFWardKeyExecute(Qt::NoModifier);  // queued, and the manager goes before it runs
  mgr.reset();
  bar->TraStartExecute();
  bar->TraBWardExecute();
  bar->TraRange0KeyExecute();
  bar->RangesOpenFromFile();
  EXPECT_FALSE(bar->RangesSaveToFile());
  bar->LayoutInfo(0, 1.0f, false);
  SpinFor(30);
  EXPECT_EQ(bar->StepsQueued(), 0);
}

// The bar acts on its own "TraLayer" defaults until the window hands it the settings; they
// must be the settings' built-in ones.
TEST(TraLayerSettings, DefaultsAreTheSettingsDefaults) {
  const TSettings d;
  const TTraLayerSettings t;
  EXPECT_EQ(t.BtnBWardD, d.BtnBWardD);
  EXPECT_EQ(t.BtnFWardD, d.BtnFWardD);
  EXPECT_EQ(t.KeyXWard0D, d.KeyXWard0D);
  EXPECT_EQ(t.KeyXWard1D, d.KeyXWard1D);
  EXPECT_EQ(t.KeyXWard3D, d.KeyXWard3D);
}

TEST_F(BarTest, PropertiesReachAllSixControls) {
  std::vector<TTraBtnBase*> all = {bar->TraStart, bar->TraMRate, bar->TraBWard,
                                   bar->TraFWard, bar->TraVolume, bar->TraTrack};
  for (auto* c : all) {
    EXPECT_TRUE(c->isDark());
    EXPECT_FLOAT_EQ(c->TransD(), 0.5f);
  }
  bar->SetIsDark(false);
  bar->SetTransD(0.3f);
  for (auto* c : all) {
    EXPECT_FALSE(c->isDark());
    EXPECT_FLOAT_EQ(c->TransD(), 0.3f);
  }
  // The strip: four buttons at 60-unit steps in 240 at the left, volume 60 at the right.
  EXPECT_EQ(bar->geometry(), host->rect());
  EXPECT_EQ(bar->LayoutB->geometry(), QRect(0, 0, 240, 60));
  EXPECT_EQ(bar->LayoutS->geometry(), QRect(840, 0, 60, 60));
  EXPECT_EQ(bar->LayoutT->geometry(), QRect(240, 0, 600, 60));
  EXPECT_EQ(bar->TraFWard->x(), 180);
  host->resize(1000, 60);
  QCoreApplication::sendPostedEvents();
  EXPECT_EQ(bar->geometry(), host->rect());
  EXPECT_EQ(bar->TraTrack->width(), 700);
}

// --- the start's wait, on the scripted framework ---------------------------------------

class StartWaitTest : public ::testing::Test {
protected:
  void SetUp() override {
    fw = std::make_shared<TFakeFramework>();
    fw->autoComplete = true;
    fw->autoTopology = true;
    previous = mf::OverrideMediaFramework(fw);
    host = std::make_unique<QWidget>();
    mgr = std::make_unique<TMfPackManager>();
    bar = new TTraMediaLayout(host.get(), mgr.get(), false, 0.5f);
    mgr->TimerViewProc = [](const QImage&) {};
    mgr->TimerInfoProc = [this](TMediaTime t, float v, bool p) {
      if (bar) bar->LayoutInfo(t, v, p);
    };
    mgr->SetFileName(QStringLiteral("movie.mp4"));
    ASSERT_TRUE(mgr->HasVideo());
    bar->SetDuration(mgr->Duration());
    ASSERT_TRUE(Spin([&] {
      return mgr->Player()->GetState() == TPlayerState::Paused && mgr->Player()->PendingKind() == 0;
    }));
    bar->SetRateQue(2.0f);  // differs from the player's rate: the start waits to apply it
  }
  void TearDown() override {
    delete bar;
    bar = nullptr;
    mgr.reset();
    host.reset();
    mf::OverrideMediaFramework(previous);
  }
  TRecordingMessages messages;
  std::shared_ptr<TFakeFramework> fw;
  std::shared_ptr<mf::IMediaFramework> previous;
  std::unique_ptr<QWidget> host;
  std::unique_ptr<TMfPackManager> mgr;
  TTraMediaLayout* bar = nullptr;
};

TEST_F(StartWaitTest, AStartThatNeverTakesEffectEndsAtTheLimit) {
  bar->StartWaitMs = 300;
  fw->LastSession()->FailNext("Start", mf::E_FAIL);
  bool ran = false;
  QTimer::singleShot(20, [&] { ran = true; });  // events are dispatched meanwhile
  bar->TraStartExecute();
  EXPECT_TRUE(ran);
  EXPECT_FALSE(mgr->isPlaying());
  EXPECT_EQ(mgr->Rate(), 1.0f);  // nothing to apply the rate to
  EXPECT_EQ(bar->RateQue(), 2.0f);
}

TEST_F(StartWaitTest, TheWaitEndsWhenTheLaneCloses) {
  bar->StartWaitMs = 600'000;  // only the close can end it
  fw->LastSession()->FailNext("Start", mf::E_FAIL);
  QTimer::singleShot(50, [&] { mgr->MediaClose(); });
  bar->TraStartExecute();
  EXPECT_FALSE(mgr->HasVideo());
}

TEST_F(StartWaitTest, TheWaitNeverReentersTheBar) {
  bar->StartWaitMs = 300;
  fw->LastSession()->FailNext("Start", mf::E_FAIL);
  const TMediaTime before = mgr->CurrentTime();
  int nested = 0;
  QTimer::singleShot(20, [&] {
    ++nested;
    bar->TraStartExecute();                 // ignored: this bar is waiting
    bar->TraMRateExecute();                 // ignored
    bar->LayoutInfo(12'345, 0.25f, true);   // ignored
  });
  // A key step queued before the press runs after the wait, not inside it.
  bar->TraFWardKeyExecute(Qt::NoModifier);
  bar->TraStartExecute();
  EXPECT_EQ(nested, 1);
  EXPECT_EQ(bar->RateQue(), 2.0f);
  EXPECT_EQ(bar->TraTrack->Value(), 0u);
  EXPECT_EQ(bar->StepsQueued(), 1);
  EXPECT_EQ(mgr->CurrentTime(), before);
  ASSERT_TRUE(Spin([&] { return bar->StepsQueued() == 0; }));
  EXPECT_EQ(mgr->CurrentTime(), before + 5 * mgr->MediaSTEP());
}

} // namespace
