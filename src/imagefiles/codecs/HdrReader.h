#pragma once
// Radiance RGBE (.hdr) reader with a global photographic tone mapping to an opaque
// 8-bit picture: key 0.18 over the mean luminance, per channel v / (v + 1), then the
// file's gamma (2.2 when it names none).
//
// Accepted: the "#?RADIANCE" header, FORMAT "32-bit_rle_rgbe" (or no FORMAT line, which
// means the same), an optional GAMMA, the standard orientation "-Y height +X width"
// (numbers may be padded with spaces), and scanlines run-length encoded per component,
// flat, or in the old run-length form. Every read is bounds-checked; any short, damaged
// or unsupported file gives false with the output buffer untouched.
//
// Threads: free functions without shared state.

#include <cstdint>
#include <span>
#include <string>

#include "imagefiles/codecs/PixelBuffer.h"

namespace skm {

// What the header said.
struct THDRInfo {
  int32_t Width = 0;    // pixels per scanline
  int32_t Height = 0;   // scanlines
  double Gamma = 2.2;   // display gamma applied after tone mapping
};

// Decodes and tone-maps an HDR file held in memory. True with `out` holding the picture;
// false, `out` untouched and `why` (when given) saying which, for a header that is not
// accepted, a picture over the limits, or scanlines that end early or run past the width.
bool HDRLoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, THDRInfo* info = nullptr,
                       const TReadLimits& limits = {}, std::string* why = nullptr);
// Reads the file and decodes it as above. False with a message (the path and the reason)
// when it cannot be read or decoded.
bool HDRLoadFromFile(const std::string& path, TPixelBuffer& out, std::string* error = nullptr);

// The byte of one channel whose value, already multiplied by the key factor, is v:
// t = v / (v + 1), then t^(1 / gamma) unless gamma is 1, clamped to [0, 1], times 255,
// rounded. Exposed for tests.
uint8_t HDRToneMapByte(double v, double gamma);

} // namespace skm
