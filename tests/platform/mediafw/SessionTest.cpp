// The session over generated movies: event order, exact frames at seek targets (against
// the frames the ffmpeg program decodes), pause and seek while paused, sound and rate.
#include "SessionHarness.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <thread>

using namespace skmtest;
using namespace skm::mf;

namespace {

class TFrameworkEnv : public ::testing::Environment {
 public:
  void SetUp() override { ASSERT_EQ(FFmpegMediaFramework()->Startup(MF_VERSION, 0), S_OK); }
  void TearDown() override { FFmpegMediaFramework()->Shutdown(); }
};
[[maybe_unused]] auto* const gEnv = ::testing::AddGlobalTestEnvironment(new TFrameworkEnv);

TMovieRecipe Recipe(std::string rate, int frames, int gop, int bframes, bool audio) {
  TMovieRecipe s;
  s.rate = std::move(rate);
  s.frames = frames;
  s.gop = gop;
  s.bframes = bframes;
  s.audio = audio;
  return s;
}

// ---------------------------------------------------------------------------------------
// Events.

TEST(MediaSession, OpenReportsTopologySetCapabilitiesAndReadyInOrder) {
  const std::string path = MakeTestMovie(Recipe("25", 50, 12, 2, true));
  ASSERT_FALSE(path.empty());
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  const auto events = m.log->Events();
  ASSERT_EQ(events.size(), 3u);
  EXPECT_EQ(events[0].type, MESessionTopologySet);
  EXPECT_EQ(events[1].type, MESessionCapabilitiesChanged);
  uint32_t caps = 0;
  ASSERT_EQ(events[1].GetUINT32(EventAttribute::SessionCaps, caps), S_OK);
  EXPECT_TRUE(caps & MFSESSIONCAP_SEEK);
  EXPECT_TRUE(caps & MFSESSIONCAP_RATE_FORWARD);
  EXPECT_FALSE(caps & MFSESSIONCAP_RATE_REVERSE) << "reverse play is not offered";
  EXPECT_EQ(events[2].type, MESessionTopologyStatus);
  uint32_t status = 0;
  ASSERT_EQ(events[2].GetUINT32(EventAttribute::TopologyStatus, status), S_OK);
  EXPECT_EQ(status, MF_TOPOSTATUS_READY);
  uint32_t sessionCaps = 0;
  ASSERT_EQ(m.session->GetSessionCapabilities(sessionCaps), S_OK);
  EXPECT_EQ(sessionCaps, caps);
  EXPECT_EQ(m.step, 400000u);
  EXPECT_EQ(m.duration, 20'000'000u);
}

TEST(MediaSession, EachCommandCompletesWithOneEventInTheOrderGiven) {
  const std::string path = MakeTestMovie(Recipe("25", 50, 12, 2, true));
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  // Given back to back, without waiting: each is carried out after the one before.
  ASSERT_EQ(m.session->Start(PropVariant::Empty()), S_OK);
  ASSERT_EQ(m.session->Pause(), S_OK);
  ASSERT_EQ(m.session->Start(PropVariant::Position(8'000'000)), S_OK);
  ASSERT_EQ(m.session->Pause(), S_OK);
  ASSERT_EQ(m.session->Start(PropVariant::Empty()), S_OK);
  ASSERT_EQ(m.session->Stop(), S_OK);
  ASSERT_EQ(m.session->Close(), S_OK);
  ASSERT_GE(m.log->WaitFor(MESessionClosed), 0);
  std::vector<uint32_t> completions;
  for (uint32_t t : m.log->Types())
    if (t >= MESessionStarted && t <= MESessionClosed) completions.push_back(t);
  const std::vector<uint32_t> expected = {MESessionStarted, MESessionPaused, MESessionStarted,
                                          MESessionPaused,  MESessionStarted, MESessionStopped,
                                          MESessionClosed};
  EXPECT_EQ(completions, expected);
  // Closed: commands are refused, the clock stays readable through Shutdown.
  EXPECT_EQ(m.session->Start(PropVariant::Empty()), MF_E_SHUTDOWN);
}

TEST(MediaSession, PlayingToTheEndReportsEndOfPresentationThenStops) {
  const std::string path = MakeTestMovie(Recipe("25", 10, 5, 1, true));
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  m.session->Start(PropVariant::Empty());
  ASSERT_GE(m.log->WaitFor(MEEndOfPresentation), 0);
  ASSERT_GE(m.log->WaitFor(MESessionEnded), 0);
  EXPECT_EQ(m.ClockTime(), static_cast<int64_t>(m.duration));
  EXPECT_EQ(m.ShownIndex(), 9) << "the last frame stays";
  m.session->Stop();
  ASSERT_GE(m.log->WaitFor(MESessionStopped), 0);
  EXPECT_EQ(m.ClockTime(), static_cast<int64_t>(m.duration)) << "the stop stays at the end";
  EXPECT_EQ(m.ShownIndex(), 9);
  // Starting again after the end plays from the beginning.
  m.session->Start(PropVariant::Empty());
  ASSERT_GE(m.log->WaitFor(MEEndOfPresentation, 2), 0);
}

TEST(MediaSession, ShutdownInsideTheEventCallbackAndWhileSeekingEndsEveryThread) {
  const std::string path = MakeTestMovie(Recipe("25", 50, 25, 2, true));
  auto threads = [] {
    size_t n = 0;
    for ([[maybe_unused]] auto& e : std::filesystem::directory_iterator("/proc/self/task")) ++n;
    return n;
  };
  // ThreadSanitizer starts a helper thread of its own with the first thread a process
  // creates: let that happen before counting.
  std::thread([] {}).join();
  const size_t before = threads();
  for (int round = 0; round < 3; ++round) {
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK);
    // Seeks queued, then shut down while they run.
    for (int i = 0; i < 5; ++i) m.session->Start(PropVariant::Position(i * 3'000'000));
    EXPECT_EQ(m.session->Shutdown(), S_OK);
    EXPECT_EQ(m.session->Start(PropVariant::Empty()), MF_E_SHUTDOWN);
    EXPECT_EQ(m.session->BeginGetEvent(m.log), MF_E_SHUTDOWN);
    EXPECT_EQ(m.session->Shutdown(), S_OK) << "a second shutdown is harmless";
  }
  {
    // A callback that shuts its own session down on the first event.
    struct TShutter : IAsyncCallback {
      std::shared_ptr<IMediaSession> s;
      std::atomic<bool> done{false};
      HRESULT Invoke(const AsyncResult&) override {
        s->Shutdown();
        s.reset();  // the last reference may go here, on the event thread
        done = true;
        return S_OK;
      }
    };
    auto fw = FFmpegMediaFramework();
    std::shared_ptr<IMediaSession> session;
    ASSERT_EQ(fw->CreateMediaSession(nullptr, session), S_OK);
    auto shutter = std::make_shared<TShutter>();
    shutter->s = session;
    ASSERT_EQ(session->BeginGetEvent(shutter), S_OK);
    std::shared_ptr<ISourceResolver> resolver;
    fw->CreateSourceResolver(resolver);
    std::shared_ptr<IMediaSource> source;
    ObjectType type;
    ASSERT_EQ(resolver->CreateObjectFromURL(path, MF_RESOLUTION_MEDIASOURCE, type, source), S_OK);
    std::shared_ptr<IPresentationDescriptor> pd;
    source->CreatePresentationDescriptor(pd);
    std::shared_ptr<IStreamDescriptor> sd;
    bool sel;
    pd->GetStreamDescriptorByIndex(0, sel, sd);
    auto topo = std::make_shared<Topology>();
    auto src = std::make_shared<TopologyNode>(MF_TOPOLOGY_SOURCESTREAM_NODE);
    auto out = std::make_shared<TopologyNode>(MF_TOPOLOGY_OUTPUT_NODE);
    std::shared_ptr<IActivate> act;
    fw->CreateVideoRendererActivate(act);
    src->SetSource(source);
    src->SetPresentationDescriptor(pd);
    src->SetStreamDescriptor(sd);
    out->SetObject(act);
    topo->AddNode(src);
    topo->AddNode(out);
    src->ConnectOutput(0, out, 0);
    ASSERT_EQ(session->SetTopology(MFSESSION_SETTOPOLOGY_IMMEDIATE, topo), S_OK);
    session.reset();  // from here the callback may hold the last reference
    for (int i = 0; i < 4000 && !shutter->done; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_TRUE(shutter->done);
  }
  // Give detached event threads the moment they need to return.
  for (int i = 0; i < 200 && threads() > before; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(threads(), before);
}

// ---------------------------------------------------------------------------------------
// Exact frames.

struct TExactCase {
  const char* name;
  TMovieRecipe recipe;
};

class ExactFrames : public ::testing::TestWithParam<std::tuple<TExactCase, uint32_t>> {};

TEST_P(ExactFrames, EveryPositionOfAFrameIntervalShowsThatFrame) {
  const auto& [c, cacheMiB] = GetParam();
  const std::string path = MakeTestMovie(c.recipe);
  ASSERT_FALSE(path.empty());
  const std::vector<int> reference = FfmpegFrameIndexes(path);
  ASSERT_EQ(reference.size(), size_t(c.recipe.frames));
  SessionOptions options;
  options.frameCacheMiB = cacheMiB;
  TOpened m;
  ASSERT_EQ(m.Open(path, &options), S_OK);
  ASSERT_GT(m.step, 0u);
  const int n = c.recipe.frames, g = c.recipe.gop;
  // Around keyframes, the middle, the end; forward, then the same backward.
  std::vector<int> ks = {0, 1, g - 1, g, g + 1, 2 * g - 1, 2 * g, n / 2, n - 2, n - 1};
  std::vector<int> order = ks;
  for (auto it = ks.rbegin(); it != ks.rend(); ++it) order.push_back(*it);
  for (int k : {3, 2, 1, 0, g + 2, g + 1, g, g - 1}) order.push_back(k);
  for (int k : order) {
    if (k < 0 || k >= n) continue;
    const uint64_t first = uint64_t(k) * m.step;
    for (uint64_t pos : {first, first + m.step / 2, first + m.step - 1}) {
      m.SeekPaused(pos);
      EXPECT_EQ(m.ShownIndex(), k) << c.name << " position " << pos;
      EXPECT_EQ(reference[k], k) << "ffmpeg's frame " << k;
      EXPECT_EQ(m.ClockTime(), int64_t(pos));
    }
  }
  // Past the end: the last frame.
  m.SeekPaused(m.duration + 5'000'000);
  EXPECT_EQ(m.ShownIndex(), n - 1);
}

TMovieRecipe With(TMovieRecipe s, std::string container, std::string outputArgs) {
  s.container = std::move(container);
  s.outputArgs = std::move(outputArgs);
  return s;
}

const TExactCase kExactCases[] = {
    {"25fps_gop12_b2", Recipe("25", 50, 12, 2, true)},
    {"24fps_gop10_b3", Recipe("24", 48, 10, 3, false)},
    {"2997fps_gop15_b2", Recipe("30000/1001", 60, 15, 2, true)},
    {"60fps_gop30_b3", Recipe("60", 90, 30, 3, false)},
    // No edit lists: the first frame's time stamp is not 0.
    {"matroska_25fps_b3", With(Recipe("25", 50, 12, 3, true), "mkv", "")},
    {"starts_at_3s", With(Recipe("30000/1001", 45, 15, 2, true), "mp4", "-output_ts_offset 3")},
    // Averages that are not the rate the frames follow. A QuickTime movie whose last frame
    // lasts a second: every other frame 25 ticks of 1/600 s, average about 20 fps.
    {"quicktime_600_long_last_frame", LongLastFrameQuickTime()},
    // Frames 512 ticks of 1/15360 s from 0.033 s on, the last one a single tick: average
    // above 30 fps.
    {"mp4_from_33ms_short_last_frame", LateStartShortLastFrameMp4()},
};

INSTANTIATE_TEST_SUITE_P(Movies, ExactFrames,
                         ::testing::Combine(::testing::ValuesIn(kExactCases),
                                            ::testing::Values(256u, 0u)),
                         [](const auto& info) {
                           return std::string(std::get<0>(info.param).name) +
                                  (std::get<1>(info.param) ? "_cache" : "_nocache");
                         });

TEST(MediaSession, EveryCommonContainerShowsExactFrames) {
  // The codecs each container is usually found with; the bars survive all of them.
  const struct {
    const char* extension;
    const char* video;  // empty: H.264
    const char* audio;  // empty: AAC
    int bframes;
  } cases[] = {
      {"mov", "", "", 2},
      {"m4v", "", "", 2},
      {"mkv", "", "", 2},
      {"webm", "-c:v libvpx -b:v 2M -crf 4 -deadline realtime -cpu-used 8", "-c:a libopus", 0},
      // (ffmpeg muxes MP3 or AAC into AVI with an empty chunk after the first frame, which
      // then shows for two periods.)
      {"avi", "-c:v mpeg4 -q:v 2", "-c:a mp2", 0},
      {"mpg", "-c:v mpeg2video -q:v 2", "-c:a mp2", 2},
      {"mpeg", "-c:v mpeg1video -q:v 2", "-c:a mp2", 2},
      {"ts", "", "", 2},
      {"mts", "", "-c:a ac3", 2},
      {"m2ts", "", "", 2},
      {"wmv", "-c:v wmv2 -q:v 2", "-c:a wmav2", 0},
      {"flv", "", "", 2},
      {"ogv", "-c:v libtheora -q:v 9", "-c:a libvorbis", 0},
      {"3gp", "", "", 2},
  };
  for (const auto& c : cases) {
    TMovieRecipe s = Recipe("25", 30, 10, c.bframes, true);
    s.container = c.extension;
    s.videoCodec = c.video;
    s.audioCodec = c.audio;
    const std::string path = MakeTestMovie(s);
    ASSERT_FALSE(path.empty()) << c.extension;
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK) << c.extension;
    EXPECT_EQ(m.num, 25u) << c.extension;
    EXPECT_EQ(m.den, 1u) << c.extension;
    EXPECT_TRUE(m.hasVideo) << c.extension;
    EXPECT_GE(m.duration, 30 * m.step) << c.extension << ": the last frame is out of reach";
    // The last frame first, straight after the open: a seek, not decoding on.
    for (int k : {29, 0, 15, 28, 14, 1}) {
      const uint64_t first = uint64_t(k) * m.step;
      for (uint64_t pos : {first, first + m.step - 1}) {
        m.SeekPaused(pos);
        EXPECT_EQ(m.ShownIndex(), k) << c.extension << " position " << pos;
      }
    }
  }
}

TEST(MediaSession, StepsAcrossAWholeMovieMatchFfmpegFrameForFrame) {
  // Every frame of a 29.97 movie, where Step is truncated and frame k starts slightly
  // after k x Step: a plain "last time stamp not after p" rule would show k - 1.
  const std::string path = MakeTestMovie(Recipe("30000/1001", 60, 15, 2, false));
  const std::vector<int> reference = FfmpegFrameIndexes(path);
  ASSERT_EQ(reference.size(), 60u);
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  ASSERT_EQ(m.step, 333666u);
  for (int k = 59; k >= 0; --k) {
    m.SeekPaused(uint64_t(k) * m.step);
    ASSERT_EQ(m.ShownIndex(), reference[k]) << "backward step to " << k;
  }
  for (int k = 0; k < 60; ++k) {
    m.SeekPaused(uint64_t(k) * m.step);
    ASSERT_EQ(m.ShownIndex(), reference[k]) << "forward step to " << k;
  }
}

TEST(MediaSession, EveryFrameOfMoviesWithASkewedAverageRateBothWays) {
  // Their average rates (about 20 and 30.5 fps) are not the rates their frames follow
  // (24 and 30): a step built on the average drifts a frame within a second.
  const struct {
    TMovieRecipe recipe;
    uint32_t num;
    uint64_t step;
  } cases[] = {{LongLastFrameQuickTime(), 24, 416666}, {LateStartShortLastFrameMp4(), 30, 333333}};
  for (const auto& c : cases) {
    const std::string path = MakeTestMovie(c.recipe);
    ASSERT_FALSE(path.empty());
    const std::vector<int> reference = FfmpegFrameIndexes(path);
    const int n = c.recipe.frames;
    ASSERT_EQ(reference.size(), size_t(n)) << path;
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK);
    EXPECT_EQ(m.num, c.num);
    EXPECT_EQ(m.den, 1u);
    ASSERT_EQ(m.step, c.step);
    for (int k = n - 1; k >= 0; --k) {
      m.SeekPaused(uint64_t(k) * m.step);
      ASSERT_EQ(m.ShownIndex(), reference[k]) << path << " backward step to " << k;
    }
    for (int k = 0; k < n; ++k) {
      m.SeekPaused(uint64_t(k) * m.step);
      ASSERT_EQ(m.ShownIndex(), reference[k]) << path << " forward step to " << k;
    }
  }
}

TEST(MediaSession, PauseWhilePlayingShowsTheFrameOfTheClock) {
  const std::string path = MakeTestMovie(Recipe("25", 50, 12, 2, true));
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  m.session->Start(PropVariant::Empty());
  ASSERT_GE(m.log->WaitFor(MESessionStarted), 0);
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  m.session->Pause();
  ASSERT_GE(m.log->WaitFor(MESessionPaused), 0);
  const int64_t t = m.ClockTime();
  EXPECT_EQ(m.ShownIndex(), int(t / int64_t(m.step)));
  // Paused: the clock does not move; resuming continues from there.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(m.ClockTime(), t);
  m.session->Start(PropVariant::Empty());
  ASSERT_GE(m.log->WaitFor(MESessionStarted, 2), 0);
  EXPECT_GE(m.ClockTime(), t);
}

// ---------------------------------------------------------------------------------------
// Services.

TEST(MediaSession, ServicesExistOnlyForWhatIsRendered) {
  struct TCase {
    const char* name;
    bool video, audio;
  } cases[] = {{"video and audio", true, true}, {"video only", true, false}, {"audio only", false, true}};
  for (const auto& c : cases) {
    TMovieRecipe s = Recipe("25", 25, 12, 2, c.audio);
    s.video = c.video;
    const std::string path = MakeTestMovie(s);
    ASSERT_FALSE(path.empty()) << c.name;
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK) << c.name;
    std::shared_ptr<IVideoDisplayControl> display;
    EXPECT_EQ(Succeeded(m.session->GetVideoDisplayControl(display)), c.video) << c.name;
    std::shared_ptr<IAudioStreamVolume> volume;
    EXPECT_EQ(Succeeded(m.session->GetAudioStreamVolume(volume)), c.audio) << c.name;
    EXPECT_EQ(m.hasVideo, c.video);
    EXPECT_EQ(m.hasAudio, c.audio);
    // Either way the movie plays to its end.
    m.session->Start(PropVariant::Empty());
    EXPECT_GE(m.log->WaitFor(MEEndOfPresentation), 0) << c.name;
  }
}

TEST(MediaSession, ChannelVolumesAreReadAndWrittenPerChannel) {
  const std::string path = MakeTestMovie(Recipe("25", 25, 12, 2, true));
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  std::shared_ptr<IAudioStreamVolume> v;
  ASSERT_EQ(m.session->GetAudioStreamVolume(v), S_OK);
  uint32_t n = 0;
  ASSERT_EQ(v->GetChannelCount(n), S_OK);
  ASSERT_EQ(n, 2u);
  float level = -1;
  EXPECT_EQ(v->GetChannelVolume(0, level), S_OK);
  EXPECT_EQ(level, 1.0f);
  struct TCase {
    uint32_t channel;
    float level;
    HRESULT expected;
  } cases[] = {{0, 0.25f, S_OK}, {1, 0.0f, S_OK}, {1, 1.0f, S_OK}, {2, 0.5f, E_INVALIDARG},
               {0, 1.5f, E_INVALIDARG}, {0, -0.1f, E_INVALIDARG}};
  for (const auto& c : cases) {
    EXPECT_EQ(v->SetChannelVolume(c.channel, c.level), c.expected) << c.channel << " " << c.level;
    if (c.expected == S_OK) {
      float back = -1;
      EXPECT_EQ(v->GetChannelVolume(c.channel, back), S_OK);
      EXPECT_EQ(back, c.level);
    }
  }
  const float all[2] = {0.5f, 0.75f};
  EXPECT_EQ(v->SetAllVolumes(2, all), S_OK);
  float got[2] = {};
  EXPECT_EQ(v->GetAllVolumes(2, got), S_OK);
  EXPECT_EQ(got[0], 0.5f);
  EXPECT_EQ(got[1], 0.75f);
  EXPECT_EQ(v->SetAllVolumes(1, all), E_INVALIDARG);
}

TEST(MediaSession, RatesForwardAndSingleFramesAreSupportedReverseIsNot) {
  const std::string path = MakeTestMovie(Recipe("25", 50, 12, 2, true));
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  std::shared_ptr<IRateSupport> support;
  std::shared_ptr<IRateControl> control;
  ASSERT_EQ(m.session->GetRateSupport(support), S_OK);
  ASSERT_EQ(m.session->GetRateControl(control), S_OK);
  struct TCase {
    bool thin;
    float rate;
    bool supported;
  } cases[] = {{true, 0.0f, true}, {false, 0.25f, true}, {false, 0.5f, true}, {false, 1.0f, true},
               {false, 2.0f, true}, {true, 4.0f, true}, {false, -1.0f, false}, {true, -0.5f, false},
               {false, 100.0f, false}};
  for (const auto& c : cases) {
    EXPECT_EQ(Succeeded(support->IsRateSupported(c.thin, c.rate, nullptr)), c.supported) << c.rate;
    EXPECT_EQ(Succeeded(control->SetRate(c.thin, c.rate)), c.supported) << c.rate;
  }
  ASSERT_EQ(control->SetRate(false, 2.0f), S_OK);
  bool thin = true;
  float rate = 0;
  ASSERT_EQ(control->GetRate(thin, rate), S_OK);
  EXPECT_EQ(rate, 2.0f);
  EXPECT_FALSE(thin);
  EXPECT_GE(m.log->WaitFor(MESessionRateChanged), 0);
  // At double rate the movie still plays to its end, sound and all.
  m.session->Start(PropVariant::Empty());
  EXPECT_GE(m.log->WaitFor(MEEndOfPresentation), 0);
}

} // namespace

namespace {

// Sets environment variables while it lives; restores them after.
class TEnvOverride {
 public:
  void Set(const char* name, const std::string& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    setenv(name, value.c_str(), 1);
  }
  ~TEnvOverride() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) setenv(it->first, it->second->c_str(), 1);
      else unsetenv(it->first);
    }
  }

 private:
  std::vector<std::pair<const char*, std::optional<std::string>>> saved_;
};

// No sound driver at all, and a driver that starts but opens no device (ALSA without any
// configuration). The second leaves SDL's error on the engine thread: run under
// AddressSanitizer it shows whether that thread's SDL state outlives the session.
TEST(MediaSession, WithoutASoundDeviceMoviesPlaySilentlyOnTheSystemClock) {
  const std::string path = MakeTestMovie(Recipe("25", 25, 12, 2, true));
  ASSERT_FALSE(path.empty());
  const std::string emptyConfig = MakeTempDir() + "/asound.conf";
  std::ofstream(emptyConfig).put('\n');
  struct Case {
    const char* name;
    std::vector<std::pair<const char*, std::string>> env;
  };
  const std::vector<Case> cases = {
      {"no such driver", {{"SDL_AUDIODRIVER", "no-such-driver"}}},
      {"no device opens", {{"SDL_AUDIODRIVER", "alsa"}, {"ALSA_CONFIG_PATH", emptyConfig}}},
  };
  auto fw = FFmpegMediaFramework();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    {
      // Restart the framework with the sound driver of the case.
      ASSERT_EQ(fw->Shutdown(), S_OK);
      TEnvOverride env;
      for (const auto& [name, value] : c.env) env.Set(name, value);
      ASSERT_EQ(fw->Startup(MF_VERSION, 0), S_OK) << "no sound is not a failure";
      {
        TOpened m;
        ASSERT_EQ(m.Open(path), S_OK);
        std::shared_ptr<IAudioStreamVolume> v;
        ASSERT_EQ(m.session->GetAudioStreamVolume(v), S_OK);
        uint32_t n = 0;
        EXPECT_EQ(v->GetChannelCount(n), S_OK);
        EXPECT_EQ(n, 2u);
        EXPECT_EQ(v->SetChannelVolume(1, 0.5f), S_OK);
        m.SeekPaused(12 * m.step);
        EXPECT_EQ(m.ShownIndex(), 12);
        m.session->Start(PropVariant::Empty());
        EXPECT_GE(m.log->WaitFor(MEEndOfPresentation), 0);
      }
      ASSERT_EQ(fw->Shutdown(), S_OK);
    }
    ASSERT_EQ(fw->Startup(MF_VERSION, 0), S_OK);
  }
}

TEST(MediaFramework, StartupChecksTheVersionAndFactoriesNeedIt) {
  auto fw = FFmpegMediaFramework();
  EXPECT_EQ(fw->Startup(0x10070, 0), MF_E_BAD_STARTUP_VERSION);
  EXPECT_EQ(DefaultMediaFramework(), fw);
  struct TFake : IMediaFramework {
    HRESULT Startup(uint32_t, uint32_t) override { return E_FAIL; }
    HRESULT Shutdown() override { return S_OK; }
    HRESULT CreateMediaSession(const SessionOptions*, std::shared_ptr<IMediaSession>&) override { return E_NOTIMPL; }
    HRESULT CreateSourceResolver(std::shared_ptr<ISourceResolver>&) override { return E_NOTIMPL; }
    HRESULT CreateTopology(std::shared_ptr<Topology>&) override { return E_NOTIMPL; }
    HRESULT CreateTopologyNode(TopologyNodeType, std::shared_ptr<TopologyNode>&) override { return E_NOTIMPL; }
    HRESULT CreateAudioRendererActivate(std::shared_ptr<IActivate>&) override { return E_NOTIMPL; }
    HRESULT CreateVideoRendererActivate(std::shared_ptr<IActivate>&) override { return E_NOTIMPL; }
    HRESULT CreateSourceReaderFromMediaSource(const std::shared_ptr<IMediaSource>&, std::shared_ptr<ISourceReader>&) override { return E_NOTIMPL; }
  };
  auto fake = std::make_shared<TFake>();
  OverrideMediaFramework(fake);
  EXPECT_EQ(DefaultMediaFramework(), fake);
  OverrideMediaFramework(nullptr);
  EXPECT_EQ(DefaultMediaFramework(), fw);
}

} // namespace

// libavcodec's frame threads hand pictures over through C11 atomics inside the library,
// which ThreadSanitizer cannot see uninstrumented; races whose stacks run through FFmpeg
// are those hand-overs. Everything of ours stays checked.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libavcodec.so\nrace:libavutil.so\nrace:libswscale.so\n";
}

namespace {

TEST(MediaSession, VariableFrameRateShowsTheLastFrameNotAfterThePosition) {
  // Every fifth frame is followed by a pause of half a frame: frame k starts at
  // (k + floor(k / 5) / 2) / 25 s.
  TMovieRecipe s = Recipe("25", 30, 10, 2, false);
  s.postFilter = "settb=1/1000,setpts=(N+floor(N/5)*0.5)/25/TB";
  s.outputArgs = "-fps_mode vfr -enc_time_base 1/1000 -video_track_timescale 1000";
  const std::string path = MakeTestMovie(s);
  ASSERT_FALSE(path.empty());
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  auto start = [](int k) { return int64_t((k + (k / 5) * 0.5) / 25.0 * 1e7 + 0.5); };
  for (int k : {0, 4, 5, 9, 10, 17, 29, 12, 3}) {
    for (int64_t pos : {start(k), start(k) + 1, (k + 1 < 30 ? start(k + 1) - 1 : start(k) + 100'000)}) {
      m.SeekPaused(uint64_t(pos));
      EXPECT_EQ(m.ShownIndex(), k) << "position " << pos;
    }
  }
}

} // namespace

namespace {

bool SamePixels(const VideoFrame& a, const VideoFrame& b) {
  if (a.width != b.width || a.height != b.height) return false;
  for (int y = 0; y < a.height; ++y)
    if (std::memcmp(a.pixels + size_t(y) * a.stride, b.pixels + size_t(y) * b.stride,
                    size_t(a.width) * 4) != 0)
      return false;
  return true;
}

TEST(MediaSession, FramesKeptInMemoryAreTheFramesDecodingGives) {
  const std::string path = MakeTestMovie(Recipe("30000/1001", 60, 30, 3, false));
  TOpened kept, fresh;
  ASSERT_EQ(kept.Open(path), S_OK);
  SessionOptions none;
  none.frameCacheMiB = 0;
  ASSERT_EQ(fresh.Open(path, &none), S_OK);
  // Decode a group forward, then come back over it: served from memory.
  kept.SeekPaused(28 * kept.step);
  for (int k : {27, 20, 13, 1, 29, 14}) {
    kept.SeekPaused(uint64_t(k) * kept.step);
    fresh.SeekPaused(45 * fresh.step);  // move away so the next one decodes anew
    fresh.SeekPaused(uint64_t(k) * fresh.step);
    std::shared_ptr<const VideoFrame> a, b;
    ASSERT_EQ(kept.ShownIndex(&a), k);
    ASSERT_EQ(fresh.ShownIndex(&b), k);
    EXPECT_TRUE(SamePixels(*a, *b)) << "frame " << k;
  }
}

TEST(MediaSession, AFarSeekInALongGroupShowsTheFramesAStepByStepDecodeGives) {
  // A group of 100 frames with B-frames: on the way to a target far into it, frames that
  // nothing references may be left out. The target and the frames stepped back to from
  // it (also past where decoding left frames out) are the frames a decode of every frame
  // gives, to the byte.
  const std::string path = MakeTestMovie(Recipe("25", 100, 100, 3, false));
  TOpened far, stepped;
  ASSERT_EQ(far.Open(path), S_OK);
  ASSERT_EQ(stepped.Open(path), S_OK);
  std::vector<std::shared_ptr<const VideoFrame>> reference(100);
  for (int k = 0; k < 100; ++k) {
    stepped.SeekPaused(uint64_t(k) * stepped.step);
    ASSERT_EQ(stepped.ShownIndex(&reference[k]), k);
  }
  for (int target : {95, 60}) {
    far.SeekPaused(0);
    far.SeekPaused(uint64_t(target) * far.step);
    for (int k = target; k > target - 40 && k >= 0; --k) {
      far.SeekPaused(uint64_t(k) * far.step);
      std::shared_ptr<const VideoFrame> f;
      ASSERT_EQ(far.ShownIndex(&f), k) << "from " << target;
      EXPECT_TRUE(SamePixels(*f, *reference[k])) << "frame " << k << " from " << target;
    }
  }
}

TEST(MediaSession, FramesPreparedBehindThePlayheadWhilePausedAreTheFramesDecodingGives) {
  // Paused on or just past a keyframe, the session decodes the group before it in the
  // background (on a second decoder) while the first stays where it is. Whether or not
  // that has finished when a step comes, every frame stepped to, back across the
  // keyframe and forward again, is the frame a decode of every frame gives.
  const std::string path = MakeTestMovie(Recipe("25", 90, 30, 3, false));
  SessionOptions none;
  none.frameCacheMiB = 0;
  TOpened stepped;
  ASSERT_EQ(stepped.Open(path, &none), S_OK);
  std::vector<std::shared_ptr<const VideoFrame>> reference(90);
  for (int k = 0; k < 90; ++k) {
    stepped.SeekPaused(uint64_t(k) * stepped.step);
    ASSERT_EQ(stepped.ShownIndex(&reference[k]), k);
  }
  struct TCase {
    int from, to, restMs;
  };
  const TCase cases[] = {{60, 25, 0}, {60, 25, 400}, {61, 20, 400}, {31, 0, 0}, {89, 50, 400}};
  for (const TCase& c : cases) {
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK);
    m.SeekPaused(uint64_t(c.from) * m.step);
    std::this_thread::sleep_for(std::chrono::milliseconds(c.restMs));
    std::vector<int> walk;
    for (int k = c.from; k >= c.to; --k) walk.push_back(k);
    for (int k = c.to + 1; k <= std::min(89, c.from + 5); ++k) walk.push_back(k);
    for (int k : walk) {
      m.SeekPaused(uint64_t(k) * m.step);
      std::shared_ptr<const VideoFrame> f;
      ASSERT_EQ(m.ShownIndex(&f), k) << "from " << c.from << " rest " << c.restMs;
      EXPECT_TRUE(SamePixels(*f, *reference[k])) << "frame " << k << " from " << c.from;
    }
  }
}

TEST(MediaSession, QueuedSeeksEachCompleteAndTheLastTargetWins) {
  const std::string path = MakeTestMovie(Recipe("25", 50, 12, 2, true));
  TOpened m;
  ASSERT_EQ(m.Open(path), S_OK);
  m.SeekPaused(0);
  const int started = m.log->Count(MESessionStarted);
  for (int k : {40, 5, 33, 17, 29}) m.session->Start(PropVariant::Position(k * int64_t(m.step)));
  m.session->Pause();
  ASSERT_GE(m.log->WaitFor(MESessionPaused, 2), 0);
  EXPECT_EQ(m.log->Count(MESessionStarted), started + 5) << "one completion per command";
  EXPECT_EQ(m.ShownIndex(), 29);
  EXPECT_EQ(m.ClockTime(), 29 * int64_t(m.step));
}

} // namespace

namespace {

TEST(MediaSession, APauseAnsweringTheFirstStartRestsOnTheFirstFrame) {
  // As an opening player does: start, and pause once MESessionStarted arrived.
  const std::string path = MakeTestMovie(Recipe("60", 30, 10, 2, true));
  for (int round = 0; round < 3; ++round) {
    TOpened m;
    ASSERT_EQ(m.Open(path), S_OK);
    m.session->Start(PropVariant::Empty());
    ASSERT_GE(m.log->WaitFor(MESessionStarted), 0);
    m.session->Pause();
    ASSERT_GE(m.log->WaitFor(MESessionPaused), 0);
    EXPECT_EQ(m.ClockTime(), 0);
    EXPECT_EQ(m.ShownIndex(), 0);
  }
}

} // namespace
