#include "media/SnapCompose.h"

#include <algorithm>
#include <cstdint>
#include <thread>

namespace skm {
namespace {

// Opacity as a factor out of 256, so scaling a channel is one multiply and a shift.
uint32_t OpacityFactor(float opacity) {
  if (!(opacity > 0.0f)) return 0;  // also catches NaN
  if (opacity >= 1.0f) return 256;
  return static_cast<uint32_t>(opacity * 256.0f + 0.5f);
}

// round(x / 255) for x in 0..65535*2, without a division.
inline uint32_t Div255(uint32_t x) { return (x + 128 + ((x + 128) >> 8)) >> 8; }

// Source-over of one premultiplied row: s' = s * k / 256, d = s' + d * (255 - s'.a) / 255,
// every intermediate within 16 bits (s * k <= 65280, d * (255 - a) + 128 <= 65153), so
// four pixels go through one 16-lane vector at a time; the pixel layout is B, G, R, A.
// Built twice, for AVX2 and for the baseline, and chosen once at run time (a plain
// branch rather than an ifunc, which the sanitizers' start-up does not survive).
using TU16x16 = uint16_t __attribute__((vector_size(32)));
using TU8x16 = uint8_t __attribute__((vector_size(16)));

__attribute__((always_inline)) inline void BlendRowBody(uint8_t* __restrict d,
                                                        const uint8_t* __restrict s, int pixels,
                                                        uint32_t k) {
  if (k == 0) return;
  const TU16x16 kv = TU16x16{} + static_cast<uint16_t>(k);
  const TU16x16 half = TU16x16{} + uint16_t{128};
  const TU16x16 full = TU16x16{} + uint16_t{255};
  const TU16x16 alphaLanes = {3, 3, 3, 3, 7, 7, 7, 7, 11, 11, 11, 11, 15, 15, 15, 15};
  int x = 0;
  for (; x + 4 <= pixels; x += 4) {
    TU8x16 s8, d8;
    __builtin_memcpy(&s8, s + 4 * x, 16);
    __builtin_memcpy(&d8, d + 4 * x, 16);
    const TU16x16 sv = __builtin_convertvector(s8, TU16x16);
    const TU16x16 dv = __builtin_convertvector(d8, TU16x16);
    const TU16x16 sc = (sv * kv + half) >> 8;
    const TU16x16 sa = __builtin_shuffle(sc, alphaLanes);
    const TU16x16 t = dv * (full - sa) + half;
    TU16x16 r = sc + ((t + (t >> 8)) >> 8);
    r = r > full ? full : r;
    const TU8x16 out = __builtin_convertvector(r, TU8x16);
    __builtin_memcpy(d + 4 * x, &out, 16);
  }
  for (; x < pixels; ++x) {
    const uint8_t* sp = s + 4 * x;
    uint8_t* dp = d + 4 * x;
    const uint32_t sa = (sp[3] * k + 128) >> 8;
    const uint32_t inv = 255 - sa;
    for (int c = 0; c < 4; ++c) {
      const uint32_t sc = (sp[c] * k + 128) >> 8;
      const uint32_t v = sc + Div255(dp[c] * inv);
      dp[c] = static_cast<uint8_t>(v > 255 ? 255 : v);
    }
  }
}

__attribute__((target("avx2"))) void BlendRowAvx2(uint8_t* __restrict d, const uint8_t* __restrict s,
                                                  int pixels, uint32_t k) {
  BlendRowBody(d, s, pixels, k);
}

void BlendRowBase(uint8_t* __restrict d, const uint8_t* __restrict s, int pixels, uint32_t k) {
  BlendRowBody(d, s, pixels, k);
}

void BlendRow(uint8_t* d, const uint8_t* s, int pixels, uint32_t k) {
  static const bool avx2 = __builtin_cpu_supports("avx2");
  if (avx2)
    BlendRowAvx2(d, s, pixels, k);
  else
    BlendRowBase(d, s, pixels, k);
}

QImage AsPremultiplied(const QImage& img) {
  if (img.format() == QImage::Format_ARGB32_Premultiplied) return img;
  return img.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

struct TLayer {
  QImage image;
  uint32_t factor;
  int width;
  int height;
};

} // namespace

void BlendFrameOver(QImage& dst, const QImage& src, float opacity) {
  if (dst.isNull() || src.isNull()) return;
  if (dst.format() != QImage::Format_ARGB32_Premultiplied)
    dst = dst.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const QImage s = AsPremultiplied(src);
  const int w = std::min(dst.width(), s.width());
  const int h = std::min(dst.height(), s.height());
  const uint32_t k = OpacityFactor(opacity);
  for (int y = 0; y < h; ++y) BlendRow(dst.scanLine(y), s.constScanLine(y), w, k);
}

void ComposeRing(QImage& target, const std::vector<QImage>& ring, int current, int next,
                 float opacity) {
  if (target.isNull()) return;
  if (target.format() != QImage::Format_ARGB32_Premultiplied)
    target = target.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  const int n = static_cast<int>(ring.size());

  // The drawing order, resolved once so the row loop below stays tight.
  std::vector<TLayer> layers;
  auto add = [&](int slot, float a) {
    const QImage& img = ring[static_cast<size_t>(slot)];
    if (img.width() == 0 || img.height() == 0) return;
    QImage p = AsPremultiplied(img);
    const int w = std::min(target.width(), p.width());
    const int h = std::min(target.height(), p.height());
    layers.push_back({std::move(p), OpacityFactor(a), w, h});
  };
  if (n > 0 && current >= 0 && current < n) {
    if (current != next) add(current, 1.0f);
    for (int i = (current + 1) % n; i != current; i = (i + 1) % n) add(i, opacity);
  }

  // Bands of rows small enough to stay in cache while every layer is blended over them,
  // so each source is read once, in long runs the prefetcher follows.
  const int tw = target.width();
  const int th = target.height();
  const int band = std::max(1, (64 * 1024) / std::max(1, 4 * tw));
  uint8_t* const bits = target.bits();  // detaches once, before any worker touches rows
  const qsizetype bpl = target.bytesPerLine();
  auto composeRows = [&](int from, int to) {
    for (int y0 = from; y0 < to; y0 += band) {
      const int y1 = std::min(to, y0 + band);
      for (int y = y0; y < y1; ++y) std::fill_n(bits + y * bpl, 4 * static_cast<size_t>(tw), uint8_t{0});
      for (const TLayer& l : layers)
        for (int y = y0; y < std::min(y1, l.height); ++y)
          BlendRow(bits + y * bpl, l.image.constScanLine(y), l.width, l.factor);
    }
  };
  // A full ring of large frames is split over two threads: it is memory-bound work and a
  // second core roughly halves the wait at the pause. Small pictures stay on this thread.
  double work = 0;
  for (const TLayer& l : layers) work += static_cast<double>(l.width) * l.height;
  if (work >= 4e6 && th >= 2 && std::thread::hardware_concurrency() >= 2) {
    const int mid = th / 2;
    std::thread worker(composeRows, mid, th);
    composeRows(0, mid);
    worker.join();
  } else {
    composeRows(0, th);
  }
}

} // namespace skm
