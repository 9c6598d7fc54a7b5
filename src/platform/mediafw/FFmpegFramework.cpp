// The FFmpeg/SDL2 framework: start-up and the factories.
#include "platform/mediafw/MediaFoundationPrivate.h"

#include <SDL2/SDL.h>

#include <cstdlib>
#include <mutex>

namespace skm::mf::detail {

HRESULT CreateSourceResolverImpl(std::shared_ptr<ISourceResolver>& out);
HRESULT CreateSourceReaderImpl(const std::shared_ptr<IMediaSource>& source,
                               std::shared_ptr<ISourceReader>& out);

namespace {

std::mutex gStartMutex;
int gStartCount = 0;
bool gAudioUp = false;

class TFFmpegFramework final : public IMediaFramework {
 public:
  HRESULT Startup(uint32_t version, uint32_t) override {
    if (version != MF_VERSION) return MF_E_BAD_STARTUP_VERSION;
    std::lock_guard lock(gStartMutex);
    if (gStartCount++ == 0) {
      // Damaged movies make FFmpeg talk; the results carry what callers need.
      if (!std::getenv("SKM_FFMPEG_LOG")) av_log_set_level(AV_LOG_FATAL);
      // SDL must not take SIGINT and SIGTERM from the program that hosts it.
      SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
      // No sound device is not an error: movies then play silently.
      gAudioUp = SDL_InitSubSystem(SDL_INIT_AUDIO) == 0;
    }
    return S_OK;
  }
  HRESULT Shutdown() override {
    std::lock_guard lock(gStartMutex);
    if (gStartCount == 0) return MF_E_PLATFORM_NOT_INITIALIZED;
    if (--gStartCount == 0 && gAudioUp) {
      SDL_QuitSubSystem(SDL_INIT_AUDIO);
      gAudioUp = false;
    }
    return S_OK;
  }
  HRESULT CreateMediaSession(const SessionOptions* options,
                             std::shared_ptr<IMediaSession>& session) override {
    if (!Started()) return MF_E_PLATFORM_NOT_INITIALIZED;
    return CreateFFmpegSession(options ? *options : SessionOptions{}, session);
  }
  HRESULT CreateSourceResolver(std::shared_ptr<ISourceResolver>& resolver) override {
    if (!Started()) return MF_E_PLATFORM_NOT_INITIALIZED;
    return CreateSourceResolverImpl(resolver);
  }
  HRESULT CreateTopology(std::shared_ptr<Topology>& t) override {
    t = std::make_shared<Topology>();
    return S_OK;
  }
  HRESULT CreateTopologyNode(TopologyNodeType type, std::shared_ptr<TopologyNode>& n) override {
    if (type != MF_TOPOLOGY_OUTPUT_NODE && type != MF_TOPOLOGY_SOURCESTREAM_NODE)
      return E_INVALIDARG;
    n = std::make_shared<TopologyNode>(type);
    return S_OK;
  }
  HRESULT CreateAudioRendererActivate(std::shared_ptr<IActivate>& a) override {
    a = std::make_shared<TActivate>(RendererKind::Audio);
    return S_OK;
  }
  HRESULT CreateVideoRendererActivate(std::shared_ptr<IActivate>& a) override {
    a = std::make_shared<TActivate>(RendererKind::Video);
    return S_OK;
  }
  HRESULT CreateSourceReaderFromMediaSource(const std::shared_ptr<IMediaSource>& source,
                                            std::shared_ptr<ISourceReader>& reader) override {
    if (!source) return E_POINTER;
    return CreateSourceReaderImpl(source, reader);
  }

 private:
  static bool Started() {
    std::lock_guard lock(gStartMutex);
    return gStartCount > 0;
  }
};

} // namespace

bool AudioSubsystemReady() {
  std::lock_guard lock(gStartMutex);
  return gAudioUp;
}

} // namespace skm::mf::detail

namespace skm::mf {

std::shared_ptr<IMediaFramework> FFmpegMediaFramework() {
  static const auto fw = std::make_shared<detail::TFFmpegFramework>();
  return fw;
}

} // namespace skm::mf
