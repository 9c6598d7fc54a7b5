#include "platform/mediafw/MediaFoundation.h"

namespace skm::mf {

namespace {
// Placeholder until the decoding engine lands: every factory reports that it is missing.
class TUnavailableFramework final : public IMediaFramework {
 public:
  HRESULT Startup(uint32_t, uint32_t) override { return E_NOTIMPL; }
  HRESULT Shutdown() override { return S_OK; }
  HRESULT CreateMediaSession(const SessionOptions*, std::shared_ptr<IMediaSession>&) override { return E_NOTIMPL; }
  HRESULT CreateSourceResolver(std::shared_ptr<ISourceResolver>&) override { return E_NOTIMPL; }
  HRESULT CreateTopology(std::shared_ptr<Topology>& t) override { t = std::make_shared<Topology>(); return S_OK; }
  HRESULT CreateTopologyNode(TopologyNodeType type, std::shared_ptr<TopologyNode>& n) override {
    n = std::make_shared<TopologyNode>(type);
    return S_OK;
  }
  HRESULT CreateAudioRendererActivate(std::shared_ptr<IActivate>&) override { return E_NOTIMPL; }
  HRESULT CreateVideoRendererActivate(uintptr_t, std::shared_ptr<IActivate>&) override { return E_NOTIMPL; }
  HRESULT CreateSourceReaderFromMediaSource(const std::shared_ptr<IMediaSource>&, std::shared_ptr<ISourceReader>&) override { return E_NOTIMPL; }
};
} // namespace

std::shared_ptr<IMediaFramework> FFmpegMediaFramework() {
  static const auto fw = std::make_shared<TUnavailableFramework>();
  return fw;
}

} // namespace skm::mf
