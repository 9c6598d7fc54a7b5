#include "platform/mediafw/MediaFoundation.h"

#include <mutex>
#include <unistd.h>

namespace skm::mf {

HRESULT MediaEvent::GetUINT32(EventAttribute key, uint32_t& out) const {
  const std::optional<uint32_t>& v =
      key == EventAttribute::TopologyStatus ? topologyStatus : sessionCaps;
  if (!v) return MF_E_ATTRIBUTENOTFOUND;
  out = *v;
  return S_OK;
}

HRESULT TopologyNode::SetUINT32(NodeAttribute key, uint32_t value) {
  switch (key) {
    case NodeAttribute::StreamId: streamId_ = value; return S_OK;
    case NodeAttribute::NoShutdownOnRemove: noShutdownOnRemove_ = value; return S_OK;
  }
  return E_INVALIDARG;
}

HRESULT TopologyNode::ConnectOutput(uint32_t outputIndex,
                                    const std::shared_ptr<TopologyNode>& downstream,
                                    uint32_t inputIndex) {
  if (!downstream) return E_POINTER;
  if (outputIndex != 0 || inputIndex != 0) return MF_E_INVALIDINDEX;
  downstream_ = downstream;
  return S_OK;
}

HRESULT Topology::AddNode(std::shared_ptr<TopologyNode> node) {
  if (!node) return E_INVALIDARG;
  nodes_.push_back(std::move(node));
  return S_OK;
}

uint32_t DefaultFrameCacheMiB() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  const uint64_t bytes = pages > 0 && pageSize > 0 ? uint64_t(pages) * uint64_t(pageSize) : 0;
  return bytes >= (7ull << 30) ? 1024 : 256;
}

namespace {
std::mutex gFrameworkMutex;
std::shared_ptr<IMediaFramework> gOverride;
} // namespace

std::shared_ptr<IMediaFramework> DefaultMediaFramework() {
  {
    std::lock_guard lock(gFrameworkMutex);
    if (gOverride) return gOverride;
  }
  return FFmpegMediaFramework();
}

std::shared_ptr<IMediaFramework> OverrideMediaFramework(std::shared_ptr<IMediaFramework> fw) {
  std::lock_guard lock(gFrameworkMutex);
  std::swap(gOverride, fw);
  return fw;
}

} // namespace skm::mf
