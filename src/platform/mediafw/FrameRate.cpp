#include "platform/mediafw/FrameRate.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

namespace skm::mf::detail {

namespace {

bool Valid(TRational r) {
  if (r.num <= 0 || r.den <= 0) return false;
  const double v = double(r.num) / double(r.den);
  return v > 0.1 && v <= 1000.0;
}

// num/den reduced; false when it does not fit 32 bits.
bool Reduced(int64_t num, int64_t den, TRateChoice& out) {
  if (num <= 0 || den <= 0) return false;
  const int64_t g = std::gcd(num, den);
  num /= g;
  den /= g;
  if (num > std::numeric_limits<int32_t>::max() || den > std::numeric_limits<int32_t>::max())
    return false;
  out.num = static_cast<uint32_t>(num);
  out.den = static_cast<uint32_t>(den);
  return true;
}

struct TFitter {
  double ticksPerSecond;
  const std::vector<int64_t>& d;

  // How far the durations that are whole periods of rate add up away from that many
  // periods, relative; negative when rate does not fit. It fits when (almost) every
  // duration is a whole number of periods, give or take the rounding of time stamps to
  // the time base (33 and 34 ms for 29.97 fps in milliseconds) or a little jitter, most
  // of them one period (more are frames missing from the sample: dropped, or without a
  // time stamp), and the periods add up: summed, a rate one part in a thousand off (30
  // for 29.97) shows.
  double Misfit(TRational rate) const {
    if (!Valid(rate)) return -1;
    const double period = ticksPerSecond * double(rate.den) / double(rate.num);
    size_t fitting = 0, single = 0;
    double sum = 0, expected = 0;
    for (int64_t v : d) {
      const double periods = std::round(double(v) / period);
      if (periods < 1 || std::fabs(double(v) - periods * period) >= std::max(1.0, 0.002 * double(v)))
        continue;
      ++fitting;
      if (periods == 1) ++single;
      sum += double(v);
      expected += periods * period;
    }
    const double n = double(d.size());
    if (fitting == 0 || double(fitting) < 0.9 * n || double(single) < 0.5 * n) return -1;
    const double off = std::fabs(sum - expected);
    if (off > 2.0 + 0.0002 * expected) return -1;
    return off / expected;
  }
};

} // namespace

std::vector<int64_t> DurationsBetween(std::vector<int64_t> times) {
  std::sort(times.begin(), times.end());
  times.erase(std::unique(times.begin(), times.end()), times.end());
  std::vector<int64_t> out;
  for (size_t i = 1; i < times.size(); ++i) out.push_back(times[i] - times[i - 1]);
  return out;
}

TRateChoice ChooseFrameRate(TRational timeBase, TRational base, TRational average,
                            const std::vector<int64_t>& durations) {
  TRateChoice choice;
  auto reported = [&](bool constant) {
    TRational r{25, 1};
    if (Valid(average)) r = average;
    else if (Valid(base)) r = base;
    TRateChoice c;
    if (!Reduced(r.num, r.den, c)) c = TRateChoice{};
    c.constant = constant;
    return c;
  };
  if (timeBase.num <= 0 || timeBase.den <= 0 || durations.empty()) {
    // Nothing to measure (one frame): the rates as reported, constant unless they differ.
    bool constant = true;
    if (Valid(average) && Valid(base)) {
      const double a = double(average.num) / double(average.den);
      const double b = double(base.num) / double(base.den);
      constant = std::fabs(a / b - 1.0) < 0.002;
    }
    return reported(constant);
  }

  // Candidates: the base rate; then from the typical duration, refined by the mean of the
  // durations near it, the simple rates it may stand for: whole frames per second, the
  // NTSC family (n x 1000/1001), and the exact rate of that duration (12.5 fps). The one
  // whose periods add up best wins, the base rate on a tie.
  const TFitter fit{double(timeBase.den) / double(timeBase.num), durations};
  std::vector<TRational> candidates = {base};
  std::vector<int64_t> sorted = durations;
  std::nth_element(sorted.begin(), sorted.begin() + sorted.size() / 2, sorted.end());
  const int64_t median = sorted[sorted.size() / 2];
  if (median > 0) {
    const double near = std::max(1.0, 0.002 * double(median));
    double sum = 0;
    size_t count = 0;
    for (int64_t v : durations)
      if (std::fabs(double(v - median)) <= near) sum += double(v), ++count;
    const double fps = fit.ticksPerSecond / (sum / double(count));
    candidates.push_back({std::llround(fps), 1});
    candidates.push_back({std::llround(fps * 1.001) * 1000, 1001});
    candidates.push_back({timeBase.den, median * timeBase.num});
  }
  double best = -1;
  for (const TRational& c : candidates) {
    TRateChoice r;
    const double misfit = fit.Misfit(c);
    if (misfit < 0 || (best >= 0 && misfit >= best - 1e-12) || !Reduced(c.num, c.den, r)) continue;
    best = misfit;
    choice = r;
  }
  if (best >= 0) return choice;
  // Truly variable: the average is the best single figure.
  return reported(false);
}

} // namespace skm::mf::detail
