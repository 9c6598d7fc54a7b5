// The reserve of closed sessions' buffers: what it keeps, which buffer a request gets, and
// when kept buffers go back (ten seconds, or a second after a miss nothing answered).
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/mediafw/BufferReserve.h"

using namespace skm::mf::detail;
using namespace std::chrono_literals;

namespace {

struct TFakeTime {
  TBufferReserve::Clock::time_point now{};
  std::vector<uint8_t*> released;

  TBufferReserve Make(size_t capacity) {
    return TBufferReserve(
        capacity, [this](uint8_t* p, size_t) { released.push_back(p); }, [this] { return now; });
  }
};

// Distinct addresses standing for buffers; never read or written.
uint8_t slots[8];

TEST(BufferReserve, KeepsWhatFitsAndGivesTheNewestOfTheSizeAsked) {
  TFakeTime t;
  auto r = t.Make(10);
  r.Put(&slots[0], 4);
  r.Put(&slots[1], 4);
  r.Put(&slots[2], 4);  // beyond the capacity: released at once
  r.Put(nullptr, 4);
  EXPECT_EQ(t.released, std::vector<uint8_t*>{&slots[2]});
  EXPECT_EQ(r.Held(), 8u);
  EXPECT_EQ(r.Take(5), nullptr);
  EXPECT_EQ(r.Take(4), &slots[1]);
  EXPECT_EQ(r.Take(4), &slots[0]);
  EXPECT_EQ(r.Take(4), nullptr);
  EXPECT_EQ(r.Held(), 0u);
  r.Put(&slots[3], 11);  // larger than the whole capacity
  EXPECT_EQ(t.released.back(), &slots[3]);
}

TEST(BufferReserve, BuffersGoBackAfterTenSecondsOrASecondAfterAnUnansweredMiss) {
  // Sizes: F and P the decoded and converted pictures of one movie, G another movie's.
  constexpr size_t F = 3, P = 8, G = 5;
  enum TOp { Put, Take };
  struct TStep {
    std::chrono::milliseconds at;
    TOp op;
    size_t bytes;
    int slot;       // Put: the buffer given; Take: the buffer expected, -1 for none
    int released;   // buffers released so far
  };
  struct TCase {
    const char* what;
    std::vector<TStep> steps;
  } cases[] = {
      {"the same movie reopened after a rest: the reserve holds only decoded pictures; the "
       "miss on the converted size is answered by the decoded ones taken next",
       {{0ms, Put, F, 0, 0}, {0ms, Put, F, 1, 0}, {1500ms, Take, P, -1, 0},
        {1600ms, Take, F, 1, 0}, {4000ms, Take, F, 0, 0}}},
      {"another movie opened: nothing taken for a second after its first miss",
       {{0ms, Put, F, 0, 0}, {0ms, Put, P, 1, 0}, {500ms, Take, G, -1, 0},
        {1400ms, Take, G, -1, 0}, {1600ms, Put, G, 2, 2}, {1700ms, Take, G, 2, 2}}},
      {"buffers given after the miss are not the ones it condemned",
       {{0ms, Put, F, 0, 0}, {200ms, Take, G, -1, 0}, {900ms, Put, G, 1, 0},
        {1300ms, Take, P, -1, 1}, {1400ms, Take, G, 1, 1}}},
      {"ten seconds at most, miss or not",
       {{0ms, Put, F, 0, 0}, {5000ms, Put, F, 1, 0}, {10500ms, Take, P, -1, 1},
        {10600ms, Take, F, 1, 1}, {10700ms, Take, F, -1, 1}}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    TFakeTime t;
    auto r = t.Make(64);
    for (const TStep& s : c.steps) {
      SCOPED_TRACE("at " + std::to_string(s.at.count()) + " ms");
      t.now = TBufferReserve::Clock::time_point{} + s.at;
      if (s.op == Put) {
        r.Put(&slots[s.slot], s.bytes);
      } else {
        EXPECT_EQ(r.Take(s.bytes), s.slot < 0 ? nullptr : &slots[s.slot]);
      }
      EXPECT_EQ(static_cast<int>(t.released.size()), s.released);
    }
  }
}

} // namespace
