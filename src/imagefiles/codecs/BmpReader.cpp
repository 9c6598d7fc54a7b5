#include "imagefiles/codecs/BmpReader.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <vector>

namespace skm {

namespace {

constexpr size_t kFileHeader = 14;

uint16_t U16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t U32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

// One colour channel of a bit-field mask: where its bits lie and how many there are.
struct TChannel {
  uint32_t Mask = 0;
  int Shift = 0;
  int Bits = 0;
  // The channel of pixel value v scaled to 0..255; `absent` when the mask is empty.
  uint8_t Of(uint32_t v, uint8_t absent) const {
    if (Bits == 0) return absent;
    const uint64_t x = (v & Mask) >> Shift;
    const uint64_t max = (uint64_t(1) << Bits) - 1;
    return uint8_t((x * 255 + max / 2) / max);
  }
};

// False for a mask whose bits are not one contiguous run.
bool MakeChannel(uint32_t mask, TChannel& c) {
  c = TChannel{};
  c.Mask = mask;
  if (mask == 0) return true;
  c.Shift = std::countr_zero(mask);
  const uint32_t run = mask >> c.Shift;
  if ((run & (run + 1)) != 0) return false;  // a gap inside the mask
  c.Bits = std::popcount(mask);
  return true;
}

struct TRgb {
  uint8_t b = 0, g = 0, r = 0;
};

bool Fail(std::string* why, const char* text) {
  if (why) *why = text;
  return false;
}

// Run-length decoding: store(x, stored row, palette index) for every pixel inside the
// picture the runs give, rows counted bottom-up as stored. Damaged runs stop the picture
// where they go wrong rather than failing it, as a truncated run-length picture still
// shows what it holds.
template <class Put>
void DecodeRle(std::span<const uint8_t> src, int bits, int32_t width, int32_t height, Put&& store) {
  size_t i = 0;
  int64_t x = 0, y = 0;  // y counts stored rows, bottom row first
  auto put = [&](uint8_t v) {
    if (x < width && y < height) store(size_t(x), size_t(y), v);
    ++x;
  };
  while (i + 1 < src.size() && y < height) {
    const uint8_t count = src[i], value = src[i + 1];
    i += 2;
    if (count > 0) {
      for (int k = 0; k < count && x < width; ++k)
        put(bits == 8 ? value : (k % 2 == 0 ? uint8_t(value >> 4) : uint8_t(value & 15)));
      continue;
    }
    if (value == 0) {  // end of line
      x = 0;
      ++y;
    } else if (value == 1) {  // end of picture
      return;
    } else if (value == 2) {  // move right and up
      if (i + 1 >= src.size()) return;
      x += src[i];
      y += src[i + 1];
      i += 2;
    } else {  // a literal run of `value` pixels, padded to whole 16-bit words
      const size_t bytes = bits == 8 ? value : (size_t(value) + 1) / 2;
      if (i + bytes > src.size()) return;
      for (int k = 0; k < value; ++k)
        put(bits == 8 ? src[i + k] : (k % 2 == 0 ? uint8_t(src[i + k / 2] >> 4) : uint8_t(src[i + k / 2] & 15)));
      i += (bytes + 1) & ~size_t(1);
    }
  }
}

} // namespace

bool BMPLoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, TBMPInfo* info,
                       const TReadLimits& limits, std::string* why) {
  const size_t size = data.size();
  const uint8_t* d = data.data();
  if (size < kFileHeader + 4 || d[0] != 'B' || d[1] != 'M') return Fail(why, "not a BMP file (no \"BM\" signature)");
  const uint32_t pixelOffset = U32(d + 10);
  const uint32_t headerSize = U32(d + kFileHeader);
  const bool core = headerSize == 12;                      // OS/2 1.x
  const bool os2 = headerSize >= 16 && headerSize <= 64 &&  // OS/2 2.x, any length it may be cut to
                   headerSize != 40 && headerSize != 52 && headerSize != 56;
  if (!core && !os2 && headerSize != 40 && headerSize != 52 && headerSize != 56 && headerSize != 108 &&
      headerSize != 124)
    return Fail(why, "unsupported BMP header size");
  if (kFileHeader + size_t(headerSize) > size) return Fail(why, "the BMP file ends inside its header");
  const uint8_t* h = d + kFileHeader;

  int64_t width, height;
  int bits;
  uint32_t compression = 0, colorsUsed = 0;
  if (core) {
    width = U16(h + 4);
    height = U16(h + 6);
    bits = U16(h + 10);
  } else {
    width = int32_t(U32(h + 4));
    height = int32_t(U32(h + 8));
    bits = U16(h + 14);
    if (headerSize >= 20) compression = U32(h + 16);
    if (headerSize >= 36) colorsUsed = U32(h + 32);
  }
  // OS/2 2.x numbers its own compressions 3 (Huffman 1D) and 4 (RLE24); neither is read.
  if (os2 && compression >= 3) return Fail(why, "unsupported OS/2 BMP compression (Huffman or RLE24)");
  if (compression != 0 && compression != 1 && compression != 2 && compression != 3 && compression != 6)
    return Fail(why, "unsupported BMP compression (embedded JPEG or PNG, or unknown)");
  const bool topDown = height < 0;
  if (topDown) height = -height;
  if (width <= 0 || height <= 0) return Fail(why, "the BMP picture has no size");
  if (uint64_t(width) * uint64_t(height) > limits.MaxPixels || width > INT32_MAX || height > INT32_MAX)
    return Fail(why, "the BMP picture is too large");
  const bool palette = bits == 1 || bits == 4 || bits == 8;
  if (!palette && bits != 16 && bits != 24 && bits != 32) return Fail(why, "unsupported BMP pixel depth");
  const bool rle = compression == 1 || compression == 2;
  if ((compression == 1 && bits != 8) || (compression == 2 && bits != 4))
    return Fail(why, "BMP run-length encoding does not match the pixel depth");
  const bool fields = compression == 3 || compression == 6;
  if (fields && bits != 16 && bits != 32) return Fail(why, "BMP bit-field masks need 16 or 32 bits per pixel");
  if (rle && topDown) return Fail(why, "a run-length encoded BMP cannot be stored top-down");

  // Masks: inside the header from 52 bytes on, else right after a 40-byte header.
  size_t afterHeader = kFileHeader + headerSize;
  uint32_t masks[4] = {};
  if (bits == 16) masks[0] = 0x7C00, masks[1] = 0x03E0, masks[2] = 0x001F;
  if (bits == 32) masks[0] = 0xFF0000, masks[1] = 0xFF00, masks[2] = 0xFF;
  if (fields) {
    const uint8_t* m = nullptr;
    int count = 3;
    if (headerSize >= 52) {
      m = h + 40;
      if (headerSize >= 56) count = 4;
    } else {
      count = compression == 6 ? 4 : 3;
      if (afterHeader + 4 * size_t(count) > size) return Fail(why, "the BMP file ends inside its bit-field masks");
      m = d + afterHeader;
      afterHeader += 4 * size_t(count);
    }
    for (int k = 0; k < count; ++k) masks[k] = U32(m + 4 * k);
    if (count < 4) masks[3] = 0;
  }
  TChannel ch[4];
  const uint32_t depthMask = bits == 32 ? 0xFFFFFFFFu : (1u << bits) - 1;
  for (int k = 0; k < 4 && !palette && bits != 24; ++k) {
    if (!MakeChannel(masks[k], ch[k])) return Fail(why, "a BMP bit-field mask is not one run of bits");
    if ((masks[k] & ~depthMask) != 0) return Fail(why, "a BMP bit-field mask lies outside the pixel");
    for (int j = 0; j < k; ++j)
      if (masks[k] & masks[j]) return Fail(why, "BMP bit-field masks overlap");
  }
  if (!palette && bits != 24 && (ch[0].Bits | ch[1].Bits | ch[2].Bits) == 0)
    return Fail(why, "the BMP bit-field masks hold no colour");

  // Palette: 3-byte entries for OS/2 1.x, else 4; as many as the pixel depth allows, or
  // fewer when the file says so or has room for fewer.
  std::vector<TRgb> colors;
  if (palette) {
    const size_t entry = core ? 3 : 4;
    size_t n = size_t(1) << bits;
    if (colorsUsed > 0 && colorsUsed < n) n = colorsUsed;
    const size_t end = pixelOffset > afterHeader ? std::min<size_t>(pixelOffset, size) : size;
    n = std::min(n, end > afterHeader ? (end - afterHeader) / entry : 0);
    if (n == 0) return Fail(why, "the BMP file has no palette");
    colors.resize(n);
    for (size_t k = 0; k < n; ++k) {
      const uint8_t* p = d + afterHeader + k * entry;
      colors[k] = {p[0], p[1], p[2]};
    }
  }
  if (pixelOffset < afterHeader || pixelOffset >= size) return Fail(why, "the BMP pixel data lie outside the file");

  const size_t w = size_t(width), rows = size_t(height);
  const size_t stride = ((w * size_t(bits) + 31) / 32) * 4;
  if (!rle && stride > (size - pixelOffset) / rows)
    return Fail(why, "the BMP file ends before its last row of pixels");

  TPixelBuffer picture;
  if (!picture.Allocate(int32_t(width), int32_t(height))) return Fail(why, "not enough memory for the BMP picture");
  const TBitmapView view = picture.View();
  if (rle) {
    // Straight into the picture (bottom-up, opaque), palette entry 0 where runs skip.
    auto set = [&](size_t x, size_t storedRow, size_t i) {
      uint8_t* o = view.Row(int32_t(rows - 1 - storedRow)) + 4 * x;
      const TRgb c = i < colors.size() ? colors[i] : TRgb{};
      o[0] = c.b, o[1] = c.g, o[2] = c.r, o[3] = 255;
    };
    for (size_t r = 0; r < rows; ++r)
      for (size_t x = 0; x < w; ++x) set(x, r, 0);
    DecodeRle(data.subspan(pixelOffset), bits, int32_t(width), int32_t(height), set);
  }
  bool anyAlpha = false;
  for (size_t r = 0; r < rows && !rle; ++r) {
    // Stored row r is picture row r from the top when top-down, else from the bottom.
    uint8_t* o = view.Row(int32_t(topDown ? r : rows - 1 - r));
    const uint8_t* s = d + pixelOffset + r * stride;
    for (size_t x = 0; x < w; ++x, o += 4) {
      TRgb c;
      uint8_t a = 255;
      if (palette) {
        size_t i;
        if (bits == 8) i = s[x];
        else if (bits == 4) i = (s[x / 2] >> (x % 2 ? 0 : 4)) & 15;
        else i = (s[x / 8] >> (7 - x % 8)) & 1;
        if (i < colors.size()) c = colors[i];  // beyond the palette: black
      } else if (bits == 24) {
        c = {s[3 * x], s[3 * x + 1], s[3 * x + 2]};
      } else {
        const uint32_t v = bits == 16 ? U16(s + 2 * x) : U32(s + 4 * x);
        c = {ch[2].Of(v, 0), ch[1].Of(v, 0), ch[0].Of(v, 0)};
        a = ch[3].Of(v, 255);
        anyAlpha |= ch[3].Bits > 0 && a != 0;
      }
      o[0] = c.b, o[1] = c.g, o[2] = c.r, o[3] = a;
    }
  }
  // Straight alpha to premultiplied; alpha zero everywhere means the field is unused.
  const bool hasAlpha = ch[3].Bits > 0 && anyAlpha && !palette && bits != 24;
  for (size_t r = 0; r < rows; ++r) {
    uint8_t* o = view.Row(int32_t(r));
    for (size_t x = 0; x < w; ++x, o += 4) {
      if (!hasAlpha) {
        o[3] = 255;
      } else if (o[3] != 255) {
        for (int k = 0; k < 3; ++k) o[k] = uint8_t((o[k] * o[3] + 127) / 255);
      }
    }
  }
  if (info) {
    *info = TBMPInfo{};
    info->HeaderSize = headerSize;
    info->Width = int32_t(width);
    info->Height = int32_t(height);
    info->BitsPerPixel = bits;
    info->Compression = compression;
    info->TopDown = topDown;
    if (!palette && bits != 24) std::memcpy(info->Masks, masks, sizeof masks);
    info->HasAlpha = hasAlpha;
  }
  out = std::move(picture);
  return true;
}

} // namespace skm
