#pragma once
// Pictures and hand-made files for the image file tests.
#include <cstdint>
#include <string>
#include <vector>

#include "imagefiles/codecs/PixelBuffer.h"

namespace skmtest {

using Bytes = std::vector<uint8_t>;

// How the alpha of a pattern varies.
enum class AlphaKind { Opaque, Varied };

// A deterministic picture with runs, gradients and noise, premultiplied when its alpha
// varies (Varied includes 0 and 255).
skm::TPixelBuffer MakePattern(int width, int height, uint32_t seed, AlphaKind alpha);
// A picture in which every pixel is the given B, G, R, A bytes.
skm::TPixelBuffer MakeSolid(int width, int height, uint8_t b, uint8_t g, uint8_t r, uint8_t a);
// Pixel bytes of a buffer (rows packed).
Bytes PixelBytes(const skm::TPixelBuffer& buffer);

// An 18-byte TGA header followed by an image ID of idLength bytes ('I').
Bytes TgaHeader(uint8_t type, int width, int height, uint8_t depth, uint8_t descriptor, uint8_t idLength = 0);
// A TGA 2.0 extension area (495 bytes) with the author, then the footer pointing to it,
// appended to file.
void AppendTgaExtension(Bytes& file, const std::string& author);

// A PSD document: header, empty colour mode data (unless colourModeLength), empty image
// resources, a layer section of layerLength bytes (zeros), then the image data made of
// the compression method and `imageData`.
Bytes PsdFile(uint16_t mode, uint16_t depth, uint16_t channels, uint32_t width, uint32_t height,
              uint16_t compression, const Bytes& imageData, uint32_t layerLength = 0,
              uint32_t colourModeLength = 0, uint16_t version = 1);
// PSD PackBits image data: the byte-count table then the rows, from raw rows (channel-major).
Bytes PsdPackBitsData(const std::vector<Bytes>& rows);

// A Radiance file from RGBE pixels (r, g, b, e per pixel, rows top first).
struct HdrOptions {
  std::string headerLines = "FORMAT=32-bit_rle_rgbe\n";  // between the first line and the blank line
  std::string resolution;      // resolution line without newline; empty for "-Y h +X w"
  bool rle = true;             // per-component run-length scanlines, else flat
};
Bytes HdrFile(int width, int height, const Bytes& rgbe, const HdrOptions& options = {});
// RGBE pixels: a deterministic picture with varied exponents.
Bytes HdrPattern(int width, int height, uint32_t seed);

// Whole-file helpers.
Bytes ReadAll(const std::string& path);
void WriteAll(const std::string& path, const Bytes& bytes);

} // namespace skmtest
