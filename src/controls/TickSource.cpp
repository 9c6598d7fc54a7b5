#include "controls/TickSource.h"

#include <chrono>

namespace skm {
namespace {

std::function<uint32_t()> gTickSource;
bool gManualTimers = false;

} // namespace

uint32_t TickCount() {
  if (gTickSource) return gTickSource();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
      std::chrono::steady_clock::now().time_since_epoch());
  // Truncation is the point: press lengths are measured as a wrapping 32-bit difference.
  return static_cast<uint32_t>(ms.count());
}

void SetTickSource(std::function<uint32_t()> source) { gTickSource = std::move(source); }

void SetManualDragTimers(bool manual) { gManualTimers = manual; }
bool ManualDragTimers() { return gManualTimers; }

} // namespace skm
