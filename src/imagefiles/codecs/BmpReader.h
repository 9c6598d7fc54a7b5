#pragma once
// Windows and OS/2 bitmap (BMP) reader: the info header sizes 12 (OS/2 1.x), 16 to 64
// (OS/2 2.x), 40, 52 and 56 (with bit-field masks inside, as Adobe Photoshop writes
// them), 108 (V4) and 124 (V5); 1, 4 and 8 bits through a palette, uncompressed or
// run-length encoded (RLE8, RLE4); 16 and 32 bits with bit-field masks (BI_BITFIELDS,
// BI_ALPHABITFIELDS, or the default 5-5-5 and 8-8-8 masks); 24 bits; rows bottom-up or
// top-down.
//
// Reading is from memory; every read is bounds-checked, the header, the masks and the
// sizes are validated before anything is allocated, and a short, damaged or unsupported
// file gives false with the output untouched and `why` saying what is wrong. Alpha comes
// only from an alpha mask; it is straight in the file and premultiplied on reading, and a
// picture whose alpha is zero everywhere reads opaque (writers that leave the field
// unused). Pixels a run-length encoded picture skips take palette entry 0.
//
// Threads: free functions without shared state.

#include <cstdint>
#include <span>
#include <string>

#include "imagefiles/codecs/PixelBuffer.h"

namespace skm {

// What the reader found besides the pixels.
struct TBMPInfo {
  uint32_t HeaderSize = 0;    // size of the info header: 12, 16-64, 40, 52, 56, 108 or 124
  int32_t Width = 0;          // picture size
  int32_t Height = 0;
  int BitsPerPixel = 0;       // 1, 4, 8, 16, 24 or 32
  uint32_t Compression = 0;   // 0 none, 1 RLE8, 2 RLE4, 3 bit fields, 6 bit fields with alpha
  bool TopDown = false;       // rows stored top first (a negative height)
  uint32_t Masks[4] = {};     // red, green, blue and alpha masks used (16 and 32 bits)
  bool HasAlpha = false;      // an alpha mask whose values are not all zero
};

// Decodes a BMP file held in memory. True with `out` holding the picture; false, `out`
// untouched and `why` (when given) set, otherwise.
bool BMPLoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, TBMPInfo* info = nullptr,
                       const TReadLimits& limits = {}, std::string* why = nullptr);

} // namespace skm
