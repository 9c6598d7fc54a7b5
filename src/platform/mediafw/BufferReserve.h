#pragma once
// The picture buffers of closed sessions, kept for the sessions opened next (the next
// movie in a lane, the same one reopened): memory handed back to the kernel comes back a
// page fault at a time, and in a virtual machine whose host takes back freed memory (free
// page reporting) each fault cost 10 us, 20 ms of every fresh 1080p picture.
//
// What is kept, and for how long:
// - at most `capacity` bytes; a buffer given beyond that is released at once;
// - each buffer for ten seconds;
// - once a request finds no buffer of its size, the buffers kept then last one more second
//   unless a request is served meanwhile. A session asks for two sizes (decoded and
//   converted pictures), and the reserve may hold only one of them: a miss alone does not
//   say the kept buffers are of no use, a second without any taken does.
// Expiry happens inside Take and Put: a program left idle holds what it kept until it
// next asks for or gives back a buffer. Thread-safe.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace skm::mf::detail {

class TBufferReserve {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kKeep = std::chrono::seconds(10);
  static constexpr Clock::duration kKeepAfterMiss = std::chrono::seconds(1);

  // release gives a buffer back for good (called outside the lock); now reads the time.
  TBufferReserve(size_t capacity, std::function<void(uint8_t*, size_t)> release,
                 std::function<Clock::time_point()> now = &Clock::now);
  TBufferReserve(const TBufferReserve&) = delete;
  TBufferReserve& operator=(const TBufferReserve&) = delete;
  // Releases what it still holds.
  ~TBufferReserve();

  // A kept buffer of exactly bytes bytes (the one given last), or nullptr.
  uint8_t* Take(size_t bytes);
  // Keeps p while there is room, else releases it. A null p is ignored.
  void Put(uint8_t* p, size_t bytes);
  // Bytes kept now.
  size_t Held() const;

 private:
  struct TKept {
    uint8_t* p;
    size_t bytes;
    Clock::time_point since;
  };
  // Takes out what has expired at now; the caller releases it outside the lock.
  std::vector<TKept> ExpireLocked(Clock::time_point now);
  void Release(const std::vector<TKept>& old);

  const size_t capacity_;
  const std::function<void(uint8_t*, size_t)> release_;
  const std::function<Clock::time_point()> now_;
  mutable std::mutex m_;
  // Guarded by m_.
  std::vector<TKept> kept_;  // oldest first
  size_t held_ = 0;
  std::optional<Clock::time_point> missedAt_;  // first miss since the last buffer taken
};

} // namespace skm::mf::detail
