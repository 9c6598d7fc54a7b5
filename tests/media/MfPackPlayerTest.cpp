// The playback session's state machine against the scripted framework: every event
// arrives on the fake session's own thread when the test queues it.
#include <gtest/gtest.h>

#include <QImage>

#include "FakeFramework.h"
#include "MediaTestSupport.h"
#include "media/MfPackPlayer.h"

using namespace skm;
using namespace skmtest;
using Calls = std::vector<std::string>;

namespace {

class PlayerTest : public ::testing::Test {
protected:
  void SetUp() override { fw = std::make_shared<TFakeFramework>(); }
  void TearDown() override {
    if (player) player->ShutDown();
  }

  void MakePlayer() {
    player = TMfPackPlayer::Create(fw);
    ASSERT_TRUE(player);
  }

  // Opens and drives the events a real session sends until the movie rests paused.
  void OpenToPaused() {
    MakePlayer();
    player->SetFileName(QStringLiteral("movie.mp4"));
    ASSERT_EQ(player->FileName(), QStringLiteral("movie.mp4"));
    s = fw->LastSession();
    ASSERT_TRUE(s);
    EXPECT_EQ(player->GetState(), TPlayerState::OpenPending);
    s->Deliver(MESessionTopologySet);
    s->DeliverCaps(fw->movie.caps);
    s->DeliverTopologyStatus(MF_TOPOSTATUS_READY);
    ASSERT_TRUE(s->WaitIdle());
    if (!fw->autoComplete) {
      // Started, with the pause remembered.
      EXPECT_EQ(player->GetState(), TPlayerState::Started);
      EXPECT_EQ(player->RequestedCommand(), TCommand::CmdPause);
      s->Deliver(MESessionStarted);
      s->Deliver(MESessionPaused);
      ASSERT_TRUE(s->WaitIdle());
    }
    ASSERT_EQ(player->GetState(), TPlayerState::Paused);
    ASSERT_EQ(player->PendingKind(), 0);
    s->ClearCalls();
  }

  // From rest: start and let the session confirm it.
  void Play() {
    ASSERT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
    s->Deliver(MESessionStarted);
    ASSERT_TRUE(s->WaitIdle());
    ASSERT_EQ(player->GetState(), TPlayerState::Started);
    ASSERT_EQ(player->PendingKind(), 0);
    s->ClearCalls();
  }

  void Event(MediaEventType t, HRESULT status = S_OK) {
    s->Deliver(t, status);
    ASSERT_TRUE(s->WaitIdle());
  }

  TRecordingMessages messages;
  std::shared_ptr<TFakeFramework> fw;
  std::shared_ptr<TMfPackPlayer> player;
  std::shared_ptr<TFakeSession> s;
};

TEST_F(PlayerTest, NothingOpenReadsAsEmpty) {
  MakePlayer();
  EXPECT_EQ(player->CurrentTime(), kNoPosition);
  EXPECT_EQ(player->Duration(), 0u);
  EXPECT_EQ(player->Rate(), 1.0f);
  EXPECT_EQ(player->GetState(), TPlayerState::Closed);
  EXPECT_FALSE(player->HasVideo());
  EXPECT_FALSE(player->CanSeek());
  EXPECT_EQ(player->Width(), 0u);
  EXPECT_EQ(player->Height(), 0u);
  EXPECT_EQ(player->Fps(), 0.0);
  EXPECT_GT(player->Step(), 0u);  // the rest of the system divides by it
  QImage keep(3, 2, QImage::Format_ARGB32_Premultiplied);
  keep.fill(0xFF112233);
  QImage bit = keep;
  EXPECT_EQ(player->TakeSnapShot(bit), 1);
  EXPECT_EQ(bit, keep);
  TMediaTime d = 7;
  EXPECT_EQ(player->GetInitialDuration(d), E_POINTER);
}

TEST_F(PlayerTest, CommandsWithoutSessionGiveTheirCodes) {
  MakePlayer();
  const struct {
    TCommand cmd;
    HRESULT expected;
  } cases[] = {
      {TCommand::CmdNone, S_OK},           {TCommand::CmdSeek, S_OK},
      {TCommand::CmdStop, E_POINTER},      {TCommand::CmdStart, E_UNEXPECTED},
      {TCommand::CmdStartPlayBack, E_UNEXPECTED}, {TCommand::CmdPause, E_UNEXPECTED},
      {TCommand::CmdClosing, E_NOTIMPL},   {TCommand::CmdOpenPending, E_NOTIMPL},
      {TCommand::CmdClosed, E_NOTIMPL},    {TCommand::CmdReady, E_NOTIMPL},
  };
  for (const auto& c : cases)
    EXPECT_EQ(player->SendPlayerCommand(c.cmd), c.expected) << static_cast<int>(c.cmd);
  EXPECT_EQ(player->GetState(), TPlayerState::Closed);
}

TEST_F(PlayerTest, ShutDownTwiceReturnsZero) {
  MakePlayer();
  EXPECT_EQ(player->ShutDown(), S_OK);
  EXPECT_EQ(player->ShutDown(), S_OK);
  EXPECT_EQ(player->GetState(), TPlayerState::Closed);
}

TEST_F(PlayerTest, StartupFailureLeavesNoPlayerAndSaysWhy) {
  fw->startupResult = MF_E_PLATFORM_NOT_INITIALIZED;
  EXPECT_FALSE(TMfPackPlayer::Create(fw));
  ASSERT_EQ(messages.Texts().size(), 1);
  EXPECT_EQ(messages.Texts()[0],
            QStringLiteral("Your computer does not support this Media Foundation API version131184."));
  EXPECT_EQ(fw->StartupBalance(), 0);
}

TEST_F(PlayerTest, NewMovieComesToRestPausedOnItsFirstFrame) {
  OpenToPaused();
  EXPECT_TRUE(player->HasVideo());
  EXPECT_EQ(player->Duration(), 20'000'000u);
  EXPECT_EQ(player->CurrentTime(), 0u);
  EXPECT_TRUE(player->CanSeek());
  EXPECT_EQ(player->Width(), 64u);
  EXPECT_EQ(player->Height(), 48u);
  EXPECT_EQ(player->Fps(), 25.0);
  EXPECT_EQ(player->Step(), 400'000u);
  QImage bit;
  ASSERT_EQ(player->TakeSnapShot(bit), 0);
  EXPECT_EQ(bit.size(), QSize(64, 48));
  EXPECT_EQ(bit.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(bit.pixel(5, 5), 0xFF804000u);  // frame 0 of the fake's colour code
  // Seek and None do nothing at all on an open player either.
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdSeek), S_OK);
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdNone), S_OK);
  EXPECT_EQ(s->Calls(), Calls{});
  EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(PlayerTest, OpenComesToRestEvenWhenTheSessionIsDoneBeforeOpenReturns) {
  // The session's thread may report the topology, start and pause while the open is
  // still reading the session's services.
  fw->autoComplete = true;
  fw->syncTopology = true;
  MakePlayer();
  ASSERT_GE(player->OpenURL(QStringLiteral("fast.mp4")), 0);
  s = fw->LastSession();
  ASSERT_TRUE(s->WaitIdle());
  EXPECT_EQ(player->GetState(), TPlayerState::Paused);
  EXPECT_EQ(player->PendingKind(), 0);
  EXPECT_EQ(player->RequestedCommand(), TCommand::CmdNone);
  EXPECT_TRUE(player->HasVideo());
}

TEST_F(PlayerTest, FailedOpensResetAndReportTheSignedCode) {
  const struct {
    const char* what;
    std::vector<MajorType> streams;
    HRESULT openResult;
    HRESULT rateZero;
    HRESULT expected;
    const char* shown;
  } cases[] = {
      {"stream neither audio nor video", {MajorType::Video, MajorType::Other}, S_OK, S_OK, E_FAIL,
       "Cannot open the movie: \"bad.mp4\" could not be opened. (hr: -2147467259)"},
      {"missing file", {MajorType::Video}, E_FILE_NOT_FOUND, S_OK, E_FILE_NOT_FOUND,
       "Cannot open the movie: \"bad.mp4\" does not exist. (hr: -2147024894)"},
      {"no single frames at rate 0", {MajorType::Video}, S_OK, MF_E_UNSUPPORTED_RATE,
       MF_E_UNSUPPORTED_RATE, "Cannot open the movie: \"bad.mp4\" could not be opened. (hr: -1072875824)"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fw->movie.streams = c.streams;
    fw->movie.openResult = c.openResult;
    fw->movie.rateZeroSupported = c.rateZero;
    MakePlayer();
    const int before = messages.Texts().size();
    EXPECT_EQ(player->OpenURL(QStringLiteral("bad.mp4")), c.expected);
    ASSERT_EQ(messages.Texts().size(), before + 1);
    EXPECT_EQ(messages.Texts().last(), QString::fromLatin1(c.shown));
    EXPECT_TRUE(player->FileName().isEmpty());
    EXPECT_EQ(player->GetState(), TPlayerState::Closed);
    EXPECT_EQ(player->CurrentTime(), kNoPosition);
    // The half-made session is shut down and lets go of the player and the file.
    EXPECT_EQ(fw->SourcesAlive(), 0);
    std::weak_ptr<TMfPackPlayer> weak = player;
    player.reset();
    EXPECT_TRUE(weak.expired());
  }
}

TEST_F(PlayerTest, FrameStepFromTheFrameRate) {
  const struct {
    uint32_t num, den;
    bool ok;
    TMediaTime step;
  } cases[] = {
      {25, 1, true, 400'000},      {30000, 1001, true, 333'666}, {24, 1, true, 416'666},
      {60, 1, true, 166'666},      {24000, 1001, true, 417'083}, {0, 1, false, 0},
      {1, 0, false, 0},            {100'000'000, 1, false, 0},   {1, 0xFFFFFFFFu, true, 42'949'672'950'000'000ull},
  };
  for (const auto& c : cases) {
    double fps = -1;
    TMediaTime step = 0;
    EXPECT_EQ(TMfPackPlayer::StepFromRate(c.num, c.den, fps, step), c.ok) << c.num << "/" << c.den;
    if (c.ok) {
      EXPECT_EQ(step, c.step) << c.num << "/" << c.den;
      EXPECT_DOUBLE_EQ(fps, static_cast<double>(c.num) / c.den);
    }
  }
}

TEST_F(PlayerTest, OpenedMoviesNeverHaveAZeroStep) {
  const struct {
    const char* what;
    uint32_t num, den;
    bool hasRate;
    std::vector<MajorType> streams;
    TMediaTime step;
  } cases[] = {
      {"30000/1001", 30000, 1001, true, {MajorType::Video}, 333'666},
      {"no frame rate", 25, 1, false, {MajorType::Video}, TMfPackPlayer::kDefaultStep},
      {"absurd rate", 1'000'000'000, 1, true, {MajorType::Video}, TMfPackPlayer::kDefaultStep},
      {"audio only", 25, 1, true, {MajorType::Audio}, TMfPackPlayer::kDefaultStep},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fw->movie.fpsNum = c.num;
    fw->movie.fpsDen = c.den;
    fw->movie.hasFrameRate = c.hasRate;
    fw->movie.streams = c.streams;
    MakePlayer();
    ASSERT_GE(player->OpenURL(QStringLiteral("m.mp4")), 0);
    EXPECT_EQ(player->Step(), c.step);
    player->ShutDown();
  }
}

TEST_F(PlayerTest, PauseWhileStartPendingIsCarriedOutOnStarted) {
  OpenToPaused();
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdPause), E_FAIL);
  EXPECT_EQ(s->Calls(), Calls{"Start"});
  EXPECT_EQ(player->GetState(), TPlayerState::Started);
  Event(MESessionStarted);
  EXPECT_EQ(s->Calls(), (Calls{"Start", "Pause"}));
  EXPECT_EQ(player->GetState(), TPlayerState::Paused);
  Event(MESessionPaused);
  EXPECT_EQ(player->PendingKind(), 0);
  EXPECT_EQ(player->RequestedCommand(), TCommand::CmdNone);
}

TEST_F(PlayerTest, OnlyTheLastOfSeveralPendingSeeksIsCarriedOut) {
  OpenToPaused();
  ASSERT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
  for (TMediaTime t : {1'000'000ull, 2'000'000ull, 3'000'000ull}) {
    player->SetCurrentTime(t);
    EXPECT_EQ(player->CurrentTime(), t);  // reads the target meanwhile
  }
  EXPECT_EQ(s->Calls(), Calls{"Start"});
  Event(MESessionStarted);
  EXPECT_EQ(s->Calls(), (Calls{"Start", "Start@3000000"}));
  EXPECT_EQ(player->GetState(), TPlayerState::Started);
  EXPECT_EQ(player->PendingKind(), 2);
  EXPECT_EQ(player->CurrentTime(), 3'000'000u);
  Event(MESessionStarted);
  EXPECT_EQ(player->PendingKind(), 0);
}

TEST_F(PlayerTest, SeekKeepsPausedOrPlaying) {
  const struct {
    bool playing;
    Calls calls;
    TPlayerState state;
    uint8_t pending;
    MediaEventType completion;
  } cases[] = {
      {false, {"Start@800000", "Pause"}, TPlayerState::Paused, 1, MESessionPaused},
      {true, {"Start@800000"}, TPlayerState::Started, 2, MESessionStarted},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.playing ? "playing" : "paused");
    OpenToPaused();
    if (c.playing) Play();
    player->SetCurrentTime(800'000);
    EXPECT_EQ(s->Calls(), c.calls);
    EXPECT_EQ(player->GetState(), c.state);
    EXPECT_EQ(player->PendingKind(), c.pending);
    Event(c.completion);
    EXPECT_EQ(player->GetState(), c.state);
    EXPECT_EQ(player->PendingKind(), 0);
    EXPECT_EQ(player->CurrentTime(), 800'000u);
    player->ShutDown();
  }
}

TEST_F(PlayerTest, RateWrites) {
  const uint32_t fwd = MFSESSIONCAP_START | MFSESSIONCAP_SEEK | MFSESSIONCAP_RATE_FORWARD;
  const uint32_t both = fwd | MFSESSIONCAP_RATE_REVERSE;
  const struct {
    const char* what;
    uint32_t caps;
    bool playing;
    float rate;
    bool ok;
    Calls calls;
    float rateAfter;
    TPlayerState state;
  } cases[] = {
      {"same rate: no call", fwd, true, 1.0f, true, {}, 1.0f, TPlayerState::Started},
      {"zero", both, true, 0.0f, false, {}, 1.0f, TPlayerState::Started},
      {"reverse without capability", fwd, true, -1.0f, false, {}, 1.0f, TPlayerState::Started},
      {"double while playing", fwd, true, 2.0f, true, {"SetRate@2.000000"}, 2.0f, TPlayerState::Started},
      {"half while paused", fwd, false, 0.5f, true, {"SetRate@0.500000"}, 0.5f, TPlayerState::Paused},
      {"same rate while paused stays paused", fwd, false, 1.0f, true, {}, 1.0f, TPlayerState::Paused},
      {"direction change while playing", both, true, -1.0f, true, {"Stop", "SetRate@-1.000000"}, -1.0f,
       TPlayerState::Started},
      {"direction change while paused", both, false, -1.0f, false, {}, 1.0f, TPlayerState::Paused},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.what);
    fw->movie.caps = c.caps;
    OpenToPaused();
    if (c.playing) Play();
    s->SetClockTime(1'234'567);
    EXPECT_EQ(player->SetMovieRate(c.rate), c.ok);
    EXPECT_EQ(s->Calls(), c.calls);
    EXPECT_EQ(player->Rate(), c.rateAfter);
    EXPECT_EQ(player->GetState(), c.state);
    player->ShutDown();
  }
}

TEST_F(PlayerTest, DirectionChangeRestartsAtTheClockTime) {
  fw->movie.caps |= MFSESSIONCAP_RATE_REVERSE;
  OpenToPaused();
  Play();
  s->SetClockTime(1'234'567);
  ASSERT_TRUE(player->SetMovieRate(-1.0f));
  EXPECT_EQ(player->RequestedCommand(), TCommand::CmdSeek);
  EXPECT_EQ(player->CurrentTime(), 1'234'567u);
  Event(MESessionStopped);
  EXPECT_EQ(s->Calls(), (Calls{"Stop", "SetRate@-1.000000", "Start@1234567"}));
  EXPECT_EQ(player->GetState(), TPlayerState::Started);
}

TEST_F(PlayerTest, RateAskedWhilePendingTravelsWithTheCurrentCommand) {
  OpenToPaused();
  ASSERT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
  EXPECT_TRUE(player->SetMovieRate(2.0f));
  EXPECT_EQ(player->Rate(), 2.0f);
  EXPECT_EQ(s->Calls(), Calls{"Start"});
  Event(MESessionStarted);
  EXPECT_EQ(s->Calls(), (Calls{"Start", "SetRate@2.000000", "Start"}));
  EXPECT_EQ(player->GetState(), TPlayerState::Started);
}

TEST_F(PlayerTest, EndOfPresentationStopsAndStartBeginsAgain) {
  OpenToPaused();
  Play();
  Event(MEEndOfPresentation);
  EXPECT_EQ(s->Calls(), Calls{"Stop"});
  EXPECT_EQ(player->GetState(), TPlayerState::Stopped);
  Event(MESessionStopped);
  EXPECT_EQ(player->PendingKind(), 0);
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
  EXPECT_EQ(s->Calls(), (Calls{"Stop", "Start"}));  // no position: from the start
}

// After the end, a step or a drag asks for a frame: it is shown and the lane rests there,
// whether the seek comes once the stop is done or while it is still pending.
TEST_F(PlayerTest, SeekAfterTheEndRestsOnItsFrame) {
  for (const bool stopDone : {true, false}) {
    SCOPED_TRACE(stopDone ? "after the stop" : "while the stop is pending");
    OpenToPaused();
    Play();
    Event(MEEndOfPresentation);
    if (stopDone) Event(MESessionStopped);
    player->SetCurrentTime(4'000'000);
    if (!stopDone) {
      EXPECT_EQ(player->RequestedCommand(), TCommand::CmdSeek);
      Event(MESessionStopped);
    }
    EXPECT_EQ(s->Calls(), (Calls{"Stop", "Start@4000000", "Pause"}));
    EXPECT_EQ(player->GetState(), TPlayerState::Paused);
    Event(MESessionStarted);
    Event(MESessionPaused);
    EXPECT_EQ(player->PendingKind(), 0);
    EXPECT_EQ(player->GetState(), TPlayerState::Paused);
    EXPECT_EQ(player->CurrentTime(), 4'000'000u);
    player->ShutDown();
  }
}

TEST_F(PlayerTest, CommandsAfterAFailedPauseStayRemembered) {
  OpenToPaused();
  Play();
  s->FailNext("Pause", E_FAIL);
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdPause), E_FAIL);
  EXPECT_EQ(player->GetState(), TPlayerState::Paused);
  EXPECT_EQ(player->PendingKind(), 1);
  EXPECT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
  player->SetCurrentTime(400'000);
  EXPECT_EQ(player->RequestedCommand(), TCommand::CmdSeek);
  EXPECT_EQ(s->Calls(), Calls{"Pause"});
}

TEST_F(PlayerTest, EventsWithAFailureStatusAreIgnored) {
  OpenToPaused();
  ASSERT_EQ(player->SendPlayerCommand(TCommand::CmdStart), S_OK);
  Event(MESessionStarted, E_FAIL);
  EXPECT_EQ(player->PendingKind(), 1);
  EXPECT_TRUE(s->RequestOutstanding());  // the loop goes on
  Event(MESessionStarted);
  EXPECT_EQ(player->PendingKind(), 0);
}

TEST_F(PlayerTest, VolumeIsClampedOnEveryChannel) {
  fw->movie.channels = 3;
  OpenToPaused();
  const struct {
    float in;
    float level;
  } cases[] = {{1.7f, 1.0f}, {-1.0f, 0.0f}, {0.25f, 0.25f}, {1.0f, 1.0f}, {0.0f, 0.0f}};
  for (const auto& c : cases) {
    player->SetVolume(c.in);
    EXPECT_EQ(s->Volumes(), std::vector<float>(3, c.level)) << c.in;
    EXPECT_EQ(player->GetVolume(), c.level) << c.in;
  }
}

TEST_F(PlayerTest, MovieWithoutAudioKeepsTheLastVolume) {
  fw->movie.streams = {MajorType::Video};
  OpenToPaused();
  const float before = player->GetVolume();
  player->SetVolume(0.3f);
  EXPECT_EQ(player->GetVolume(), before);
}

TEST_F(PlayerTest, ShutDownClosesInOrderAndWaitsForTheClose) {
  fw->autoComplete = true;
  OpenToPaused();
  EXPECT_EQ(player->ShutDown(), S_OK);
  EXPECT_EQ(s->Calls(), (Calls{"Stop", "Close", "ClearTopologies", "Shutdown"}));
  EXPECT_EQ(player->WaitResult(), 0u);  // MESessionClosed arrived
  EXPECT_EQ(player->GetState(), TPlayerState::Closed);
  EXPECT_FALSE(player->HasVideo());
  EXPECT_TRUE(player->FileName().isEmpty());
  EXPECT_EQ(fw->SourcesAlive(), 0);
  EXPECT_EQ(player->ShutDown(), S_OK);
}

TEST_F(PlayerTest, CallbacksNeverReachAFreedPlayer) {
  // The caller lets go while the session still waits to deliver: the session's
  // reference keeps the player alive for the event, and the player goes when the
  // session stops asking (here on the session's own thread).
  OpenToPaused();
  std::weak_ptr<TMfPackPlayer> weak = player;
  player.reset();
  EXPECT_FALSE(weak.expired());
  ASSERT_EQ(weak.lock()->SendPlayerCommand(TCommand::CmdStart), S_OK);
  Event(MESessionStarted);
  EXPECT_FALSE(weak.expired());
  Event(MESessionClosed);  // no further request: the last reference goes after Invoke
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(fw->StartupBalance(), 0);
}

TEST_F(PlayerTest, ShutDownPlayerIsFreedWithItsLastHolder) {
  fw->autoComplete = true;
  OpenToPaused();
  player->ShutDown();
  std::weak_ptr<TMfPackPlayer> weak = player;
  player.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(fw->StartupBalance(), 0);
}

} // namespace
