#pragma once
// Truevision TGA reader and writer: true-colour 24- and 32-bit pixels, uncompressed
// (image type 2) or run-length encoded (type 10), with the TGA 2.0 footer and extension
// area, from which the author name is taken.
//
// Reading is from memory; every read is bounds-checked and any short, damaged or
// unsupported file gives false with the output buffer untouched. Alpha in the file is
// straight and is premultiplied on reading; a 32-bit file whose alpha bytes are all zero
// has undefined alpha and reads opaque. Writing un-premultiplies 32-bit pixels and writes
// 24-bit pixels (alpha dropped) as held, that is over black.
//
// Threads: free functions without shared state.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imagefiles/codecs/PixelBuffer.h"

namespace skm {

// What the reader found besides the pixels, and what the writer writes.
struct TTGAInfo {
  int32_t Width = 0;             // image size
  int32_t Height = 0;
  int32_t SamplesPerPixel = 0;   // 3 for 24-bit, 4 for 32-bit
  bool Compressed = false;       // run-length encoded (type 10)
  std::string Descriptor;        // the image ID text (up to its first zero byte)
  bool HasExtension = false;     // a TGA 2.0 extension area was found
  std::string Author;            // author name, at most 40 bytes
  std::string ImageName;         // job name, at most 40 bytes
  int Year = 0, Month = 0, Day = 0, Hour = 0, Minute = 0, Second = 0;  // date stamp, 0 when none or invalid
  uint8_t BackgroundR = 0, BackgroundG = 0, BackgroundB = 0;           // key colour
  double AspectRatio = 1.0;      // pixel aspect ratio
  double Gamma = 2.2;            // gamma
};

// The longest author or image name a file holds (its field is 41 bytes with the zero).
inline constexpr size_t kTGANameMax = 40;

// Decodes a TGA file held in memory. True with `out` holding the picture; false, `out`
// untouched and `why` (when given) saying which, for an unsupported type or depth, a
// zero size, a picture over the limits or data that end early or run past the image.
bool TGALoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, TTGAInfo* info = nullptr,
                       const TReadLimits& limits = {}, std::string* why = nullptr);
// Reads the file and decodes it as above; `author` gets the author name (empty when the
// file has none). False with a message (the path and the reason) when the file cannot be
// read or decoded.
bool TGALoadFromFile(const std::string& path, TPixelBuffer& out, std::string* author = nullptr,
                     std::string* error = nullptr);

// Encodes a picture: 32-bit uncompressed with alpha when hasAlpha, else 24-bit run-length
// encoded. The author is cut to 40 bytes. Empty when the picture is empty or wider or
// taller than 65535.
std::vector<uint8_t> TGAEncode(const TConstBitmapView& bitmap, const std::string& author, bool hasAlpha);
// Encodes and writes atomically (temporary file and rename). False with a message when
// the picture cannot be encoded or the file cannot be written.
bool TGASaveToFile(const std::string& path, const TConstBitmapView& bitmap, const std::string& author,
                   bool hasAlpha, std::string* error = nullptr);

// Run-length encodes one row of 24-bit pixels (B, G, R each) into TGA packets, appending
// to `out`: runs of 2 to 128 equal pixels, raw packets of at most 127 pixels (128 when
// the packet ends the row). Exposed for tests.
void TGAEncodeRow24(const uint8_t* bgr, int32_t width, std::vector<uint8_t>& out);

} // namespace skm
