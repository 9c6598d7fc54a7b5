#pragma once
// Photoshop document (PSD) reader and writer.
//
// The reader takes only the flattened (merged) picture at the end of the file; the
// layer section is skipped whole. It reads bitmap (1-bit), greyscale and RGB documents
// with 8-bit channels, raw or PackBits-compressed; channel 0, 1, 2 are red, green, blue
// and the fourth channel of an RGB document (the second of a greyscale one) is its
// transparency. Every read is bounds-checked; any short, damaged or unsupported file
// gives false with the output buffer untouched. Alpha in the file is straight and is
// premultiplied on reading.
//
// The writer produces a flattened 8-bit RGB document with a 300 dpi resolution
// resource, an empty layer section and PackBits-compressed rows. It drops alpha and
// writes the colours as held, that is over black.
//
// Threads: free functions without shared state.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "imagefiles/codecs/PixelBuffer.h"

namespace skm {

// Decodes a PSD file held in memory. True with `out` holding the picture; false, `out`
// untouched and `why` (when given) saying which, when the header or colour mode data are
// not accepted, the picture is over the limits, or the data end early or do not fit
// their rows.
bool PSDLoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, const TReadLimits& limits = {},
                       std::string* why = nullptr);
// Reads the file and decodes it as above. False with a message (the path and the reason)
// when it cannot be read or decoded.
bool PSDLoadFromFile(const std::string& path, TPixelBuffer& out, std::string* error = nullptr);

// Encodes a picture as described above. Empty when the picture is empty or larger than
// the format's 30000 x 30000.
std::vector<uint8_t> PSDEncode(const TConstBitmapView& bitmap);
// Encodes and writes atomically (temporary file and rename). False with a message when
// the picture cannot be encoded or the file cannot be written.
bool PSDSaveToFile(const std::string& path, const TConstBitmapView& bitmap, std::string* error = nullptr);

// PackBits-encodes one row, appending to `out`: runs of 4 to 128 equal bytes become run
// packets; shorter runs stay inside literals of at most 128 bytes. Exposed for tests.
void PSDPackBitsRow(const uint8_t* bytes, size_t count, std::vector<uint8_t>& out);

} // namespace skm
