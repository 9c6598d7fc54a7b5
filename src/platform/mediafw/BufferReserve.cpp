#include "platform/mediafw/BufferReserve.h"

#include <utility>

namespace skm::mf::detail {

TBufferReserve::TBufferReserve(size_t capacity, std::function<void(uint8_t*, size_t)> release,
                               std::function<Clock::time_point()> now)
    : capacity_(capacity), release_(std::move(release)), now_(std::move(now)) {}

TBufferReserve::~TBufferReserve() { Release(kept_); }

uint8_t* TBufferReserve::Take(size_t bytes) {
  std::vector<TKept> old;
  uint8_t* p = nullptr;
  {
    std::lock_guard lock(m_);
    // Asked on every buffer a pool cannot give from its own: mostly nothing is kept.
    if (kept_.empty()) return nullptr;
    const Clock::time_point now = now_();
    old = ExpireLocked(now);
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) {
      if (it->bytes != bytes) continue;
      p = it->p;
      held_ -= bytes;
      kept_.erase(std::next(it).base());
      break;
    }
    if (p)
      missedAt_.reset();
    else if (!kept_.empty() && !missedAt_)
      missedAt_ = now;
  }
  Release(old);
  return p;
}

void TBufferReserve::Put(uint8_t* p, size_t bytes) {
  if (!p) return;
  std::vector<TKept> old;
  bool kept = false;
  {
    std::lock_guard lock(m_);
    const Clock::time_point now = now_();
    old = ExpireLocked(now);
    if (bytes <= capacity_ && held_ <= capacity_ - bytes) {
      kept_.push_back({p, bytes, now});
      held_ += bytes;
      kept = true;
    }
  }
  Release(old);
  if (!kept && release_) release_(p, bytes);
}

size_t TBufferReserve::Held() const {
  std::lock_guard lock(m_);
  return held_;
}

std::vector<TBufferReserve::TKept> TBufferReserve::ExpireLocked(Clock::time_point now) {
  // What is kept is oldest first, so what expired is a prefix: everything kept for ten
  // seconds, and, a second after a miss that no buffer taken answered, everything that
  // was kept at that miss.
  Clock::time_point limit = now - kKeep;
  if (missedAt_ && now - *missedAt_ >= kKeepAfterMiss) {
    limit = std::max(limit, *missedAt_ + Clock::duration(1));
    missedAt_.reset();
  }
  size_t n = 0;
  while (n < kept_.size() && kept_[n].since < limit) ++n;
  std::vector<TKept> old(kept_.begin(), kept_.begin() + static_cast<ptrdiff_t>(n));
  kept_.erase(kept_.begin(), kept_.begin() + static_cast<ptrdiff_t>(n));
  for (const TKept& k : old) held_ -= k.bytes;
  return old;
}

void TBufferReserve::Release(const std::vector<TKept>& old) {
  if (!release_) return;
  for (const TKept& k : old) release_(k.p, k.bytes);
}

} // namespace skm::mf::detail
