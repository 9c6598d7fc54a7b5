// libFuzzer target for the BMP reader. Pictures are capped at 1 Mpixel so the fuzzer
// spends its time on the parser rather than on filling large buffers.
#include <cstddef>
#include <cstdint>
#include <span>

#include "imagefiles/codecs/BmpReader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  skm::TReadLimits limits;
  limits.MaxPixels = uint64_t(1) << 20;  // run-length pictures cover any size in a few bytes
  const std::span<const uint8_t> bytes(data, size);
  skm::TPixelBuffer out;
  if (skm::BMPLoadFromMemory(bytes, out, nullptr, limits)) {
    // Read every pixel so a short buffer shows up under AddressSanitizer.
    const skm::TConstBitmapView view = out.ConstView();
    uint8_t acc = 0;
    for (int32_t y = 0; y < view.Height; ++y)
      for (int32_t x = 0; x < view.Width * 4; ++x) acc = uint8_t(acc ^ view.Row(y)[x]);
    volatile uint8_t sink = acc;
    (void)sink;
  }
  return 0;
}
