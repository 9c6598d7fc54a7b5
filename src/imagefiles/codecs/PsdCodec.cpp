#include "imagefiles/codecs/PsdCodec.h"

#include <algorithm>
#include <cstring>

#include "platform/core/IniFile.h"

namespace skm {
namespace {

constexpr size_t kHeaderSize = 26;
constexpr uint32_t kMaxSide = 30000;  // the format's own limit

uint16_t Be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
uint32_t Be32(const uint8_t* p) { return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3]; }

void PutBe16(std::vector<uint8_t>& out, uint32_t v) {
  out.push_back(uint8_t(v >> 8));
  out.push_back(uint8_t(v));
}
void PutBe32(std::vector<uint8_t>& out, uint32_t v) {
  for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

// Decodes one PackBits row into exactly rowBytes bytes. False when a packet is cut off
// by the end of the row's data or would write past the end of the row, or when the
// data end before the row is full.
bool UnpackBitsRow(const uint8_t* src, size_t count, uint8_t* row, size_t rowBytes) {
  size_t i = 0, o = 0;
  while (i < count) {
    const int8_t h = int8_t(src[i++]);
    if (h >= 0) {
      const size_t len = size_t(h) + 1;
      if (count - i < len || rowBytes - o < len) return false;
      std::memcpy(row + o, src + i, len);
      i += len;
      o += len;
    } else if (h != -128) {
      const size_t len = size_t(1 - h);
      if (i >= count || rowBytes - o < len) return false;
      std::memset(row + o, src[i++], len);
      o += len;
    }
  }
  return o == rowBytes;
}

enum : uint16_t { kModeBitmap = 0, kModeGreyscale = 1, kModeRGB = 3 };

std::string ModeName(uint16_t mode) {
  switch (mode) {
  case 2: return "indexed colour";
  case 4: return "CMYK";
  case 7: return "multichannel";
  case 8: return "duotone";
  case 9: return "Lab";
  default: return "colour mode " + std::to_string(mode);
  }
}

// Row y (from 0) of channel c (from 0), counted from 1 for people.
std::string RowText(size_t y, size_t c) {
  return "row " + std::to_string(y + 1) + " of channel " + std::to_string(c + 1);
}

} // namespace

bool PSDLoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, const TReadLimits& limits,
                       std::string* why) {
  const uint8_t* p = data.data();
  const size_t n = data.size();
  if (n < 4 || std::memcmp(p, "8BPS", 4) != 0)
    return ReadFailure(why, "not a PSD document: it does not start with \"8BPS\"");
  if (n < kHeaderSize)
    return ReadFailure(why, "PSD header is incomplete: the file has only " + std::to_string(n) + " bytes");
  const uint16_t version = Be16(p + 4);
  const uint16_t channels = Be16(p + 12);
  const uint32_t height = Be32(p + 14);
  const uint32_t width = Be32(p + 18);
  const uint16_t depth = Be16(p + 22);
  const uint16_t mode = Be16(p + 24);
  if (version != 1)
    return ReadFailure(why, version == 2 ? "PSB (large document format) files are not supported"
                                         : "PSD version " + std::to_string(version) + " is not supported");
  if (depth != 1 && depth != 8)
    return ReadFailure(why, "PSD with " + std::to_string(depth) +
                                " bits per channel is not supported; only 8 (and 1 in bitmap mode) are");
  if (mode != kModeBitmap && mode != kModeGreyscale && mode != kModeRGB)
    return ReadFailure(why, "PSD in " + ModeName(mode) + " mode is not supported; only RGB, greyscale and bitmap are");
  // One bit per sample only makes sense for bitmap documents; in the other modes the
  // rows would be shorter than the pixels read from them.
  if (depth == 1 && mode != kModeBitmap)
    return ReadFailure(why, "PSD with 1 bit per channel is supported only in bitmap mode");
  if (channels == 0) return ReadFailure(why, "PSD document has no channels");
  if (width == 0 || height == 0)
    return ReadFailure(why, "PSD picture of " + SizeText(width, height) + " pixels is empty");
  if (width > kMaxSide || height > kMaxSide)
    return ReadFailure(why, "PSD picture of " + SizeText(width, height) +
                                " pixels is larger than the format's 30000 x 30000");
  const uint64_t pixels = uint64_t(width) * height;
  if (pixels > limits.MaxPixels)
    return ReadFailure(why, "PSD picture of " + SizeText(width, height) + " pixels is larger than the " +
                                std::to_string(limits.MaxPixels) + " pixels this reader accepts");

  size_t pos = kHeaderSize;
  auto readLength = [&](uint32_t& value) {
    if (n - pos < 4) return false;
    value = Be32(p + pos);
    pos += 4;
    return true;
  };
  uint32_t colourModeLength = 0, resourcesLength = 0, layersLength = 0;
  if (!readLength(colourModeLength)) return ReadFailure(why, "PSD data ends early in the colour mode data");
  if (colourModeLength != 0)
    return ReadFailure(why, "PSD has colour mode data, which an RGB, greyscale or bitmap document must not have");
  if (!readLength(resourcesLength) || n - pos < resourcesLength)
    return ReadFailure(why, "PSD data ends early in the image resources");
  pos += resourcesLength;
  if (!readLength(layersLength)) return ReadFailure(why, "PSD data ends early before the layer section");
  // A section shorter than its own two fields is no layer section at all.
  if (layersLength >= 1 && layersLength <= 5)
    return ReadFailure(why, "PSD layer section is damaged: " + std::to_string(layersLength) +
                                " bytes cannot hold its own lengths");
  if (n - pos < layersLength) return ReadFailure(why, "PSD data ends early in the layer section");
  pos += layersLength;
  if (n - pos < 2) return ReadFailure(why, "PSD data ends early before the merged picture");
  const uint16_t compression = Be16(p + pos);
  pos += 2;

  const size_t rowBytes = (size_t(width) * depth + 7) / 8;
  // Channels from the fifth on are extra (spot or mask) channels and are not read; in a
  // greyscale document the second channel is already its transparency.
  const size_t channelsRead = std::min<size_t>(channels, mode == kModeGreyscale ? 2 : 4);
  const size_t rowsRead = channelsRead * height;
  const size_t remaining = n - pos;

  // Where each row read starts; known and checked against the data before allocating.
  std::vector<size_t> rowStart;
  std::vector<uint16_t> rowCount;
  if (compression == 0) {
    if (uint64_t(rowsRead) * rowBytes > remaining) {
      const size_t whole = remaining / rowBytes;  // rows present in full
      return ReadFailure(why, "PSD data ends early at " + RowText(whole % height, whole / height));
    }
  } else if (compression == 1) {
    const uint64_t tableBytes = uint64_t(channels) * height * 2;
    if (tableBytes > remaining) return ReadFailure(why, "PSD data ends early in the table of row lengths");
    rowStart.resize(rowsRead);
    rowCount.resize(rowsRead);
    uint64_t offset = pos + tableBytes;
    for (size_t r = 0; r < rowsRead; ++r) {
      const uint16_t count = Be16(p + pos + r * 2);
      // Two bytes of PackBits make at most 128 bytes of row.
      if (uint64_t(count) * 64 < rowBytes)
        return ReadFailure(why, "PSD table of row lengths is damaged: " + RowText(r % height, r / height) +
                                    " is too short to hold the row");
      rowStart[r] = size_t(offset);
      rowCount[r] = count;
      offset += count;
      if (offset > n) return ReadFailure(why, "PSD data ends early at " + RowText(r % height, r / height));
    }
  } else {
    // Other compressions are not decoded and leave the picture white; still, deflated
    // data shrink no more than about a thousand to one, which bounds what is claimed.
    if (pixels * channels / 1032 > remaining)
      return ReadFailure(why, "PSD data ends early: " + std::to_string(remaining) + " bytes cannot hold " +
                                  SizeText(width, height) + " pixels");
  }

  TPixelBuffer buffer;
  if (!buffer.Allocate(int32_t(width), int32_t(height)))
    return ReadFailure(why, "not enough memory for a picture of " + SizeText(width, height) + " pixels");
  auto damagedRow = [&](size_t r) {
    return ReadFailure(why, "PSD compressed " + RowText(r % height, r / height) + " is damaged");
  };
  const TBitmapView view = buffer.View();
  std::vector<uint8_t> samples(rowBytes);
  const bool decode = compression == 0 || compression == 1;
  const bool hasAlpha = decode && ((mode == kModeRGB && channelsRead == 4) || (mode == kModeGreyscale && channelsRead == 2));

  // RGB rows are gathered as whole planes and interleaved in one pass: the common case,
  // and the one worth the extra code.
  const bool planar = decode && mode == kModeRGB && depth == 8;
  std::vector<uint8_t> planeBuffers(planar && compression == 1 ? channelsRead * rowBytes : 0);
  const std::vector<uint8_t> whitePlane(planar && channelsRead < 3 ? rowBytes : 0, 0xFF);

  for (uint32_t y = 0; y < height; ++y) {
    uint8_t* row = view.Row(int32_t(y));
    if (planar) {
      const uint8_t* plane[4] = {whitePlane.data(), whitePlane.data(), whitePlane.data(), nullptr};
      for (size_t c = 0; c < channelsRead; ++c) {
        const size_t r = c * height + y;
        if (compression == 0) {
          plane[c] = p + pos + r * rowBytes;
        } else {
          uint8_t* dst = planeBuffers.data() + c * rowBytes;
          if (!UnpackBitsRow(p + rowStart[r], rowCount[r], dst, rowBytes)) return damagedRow(r);
          plane[c] = dst;
        }
      }
      const uint8_t *red = plane[0], *green = plane[1], *blue = plane[2], *alpha = plane[3];
      if (alpha) {
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t a = alpha[x];
          uint32_t v;
          if (a == 255)
            v = uint32_t(blue[x]) | (uint32_t(green[x]) << 8) | (uint32_t(red[x]) << 16) | 0xFF000000u;
          else  // the file's alpha is straight; the bitmap's is premultiplied
            v = uint32_t(PremultiplyByte(blue[x], a)) | (uint32_t(PremultiplyByte(green[x], a)) << 8) |
                (uint32_t(PremultiplyByte(red[x], a)) << 16) | (a << 24);
          std::memcpy(row + size_t(x) * 4, &v, 4);
        }
      } else {
        for (uint32_t x = 0; x < width; ++x) {
          const uint32_t v = uint32_t(blue[x]) | (uint32_t(green[x]) << 8) | (uint32_t(red[x]) << 16) | 0xFF000000u;
          std::memcpy(row + size_t(x) * 4, &v, 4);
        }
      }
      continue;
    }
    // Opaque white: what channels the document lacks stay so.
    std::memset(row, 0xFF, size_t(width) * 4);
    if (!decode) continue;
    for (size_t c = 0; c < channelsRead; ++c) {
      const size_t r = c * height + y;
      const uint8_t* src;
      if (compression == 0) {
        src = p + pos + r * rowBytes;
      } else {
        if (!UnpackBitsRow(p + rowStart[r], rowCount[r], samples.data(), rowBytes)) return damagedRow(r);
        src = samples.data();
      }
      if (mode == kModeBitmap) {
        for (uint32_t x = 0; x < width; ++x) {
          const uint8_t v = (src[x >> 3] & (0x80 >> (x & 7))) ? 0 : 255;
          uint8_t* px = row + size_t(x) * 4;
          px[0] = px[1] = px[2] = v;
        }
      } else if (mode == kModeGreyscale && c == 0) {
        for (uint32_t x = 0; x < width; ++x) {
          uint8_t* px = row + size_t(x) * 4;
          px[0] = px[1] = px[2] = src[x];
        }
      } else {
        static const int kByteOf[4] = {2, 1, 0, 3};
        const int b = mode == kModeGreyscale ? 3 : kByteOf[c];
        for (uint32_t x = 0; x < width; ++x) row[size_t(x) * 4 + b] = src[x];
      }
    }
    if (hasAlpha) {
      // The file's alpha is straight; the bitmap's is premultiplied.
      for (uint32_t x = 0; x < width; ++x) {
        uint8_t* px = row + size_t(x) * 4;
        const uint8_t a = px[3];
        if (a == 255) continue;
        px[0] = PremultiplyByte(px[0], a);
        px[1] = PremultiplyByte(px[1], a);
        px[2] = PremultiplyByte(px[2], a);
      }
    }
  }
  out = std::move(buffer);
  return true;
}

bool PSDLoadFromFile(const std::string& path, TPixelBuffer& out, std::string* error) {
  std::vector<uint8_t> bytes;
  const TReadLimits limits;
  if (!ReadFileBytes(path, bytes, limits.MaxFileBytes, error)) return false;
  std::string why;
  if (!PSDLoadFromMemory(bytes, out, limits, &why)) {
    if (error) *error = path + ": " + why;
    return false;
  }
  return true;
}

void PSDPackBitsRow(const uint8_t* b, size_t n, std::vector<uint8_t>& out) {
  size_t s = 0, p = 0;
  auto flush = [&] {
    if (p > s) {
      out.push_back(uint8_t(p - s - 1));
      out.insert(out.end(), b + s, b + p);
    }
  };
  while (p < n) {
    size_t r = 1;
    while (p + r < n && b[p + r] == b[p] && r < 128) ++r;
    if (r < 4) {
      if (p - s == 128) {
        flush();
        s = p;
      } else {
        ++p;
      }
    } else {
      flush();
      out.push_back(uint8_t(int8_t(1 - int(r))));
      out.push_back(b[p]);
      p += r;
      s = p;
    }
  }
  flush();
}

std::vector<uint8_t> PSDEncode(const TConstBitmapView& bitmap) {
  std::vector<uint8_t> out;
  const int32_t w = bitmap.Width, h = bitmap.Height;
  if (!bitmap.Bits || w <= 0 || h <= 0 || uint32_t(w) > kMaxSide || uint32_t(h) > kMaxSide) return out;

  out.insert(out.end(), {'8', 'B', 'P', 'S'});
  PutBe16(out, 1);
  out.insert(out.end(), 6, 0);
  PutBe16(out, 3);
  PutBe32(out, uint32_t(h));
  PutBe32(out, uint32_t(w));
  PutBe16(out, 8);
  PutBe16(out, kModeRGB);
  PutBe32(out, 0);  // colour mode data

  // Image resources: one resolution block, 300 dpi both ways.
  const size_t resourcesAt = out.size();
  PutBe32(out, 0);
  if (out.size() % 2) out.push_back(0);
  out.insert(out.end(), {'8', 'B', 'I', 'M'});
  PutBe16(out, 1005);
  PutBe16(out, 0);  // empty name, padded to two bytes
  PutBe32(out, 16);
  for (int axis = 0; axis < 2; ++axis) {
    PutBe32(out, 0x012C0000);  // 300.0 in 16.16 fixed point
    PutBe16(out, 1);           // pixels per inch
    PutBe16(out, 1);           // shown in inches
  }
  if (out.size() % 2) out.push_back(0);
  const uint32_t resourcesLength = uint32_t(out.size() - resourcesAt - 4);
  for (int i = 0; i < 4; ++i) out[resourcesAt + i] = uint8_t(resourcesLength >> (24 - 8 * i));

  // Layer and mask information: empty.
  PutBe32(out, 6);
  PutBe16(out, 0);
  PutBe32(out, 0);

  PutBe16(out, 1);  // PackBits
  const size_t tableAt = out.size();
  out.insert(out.end(), size_t(3) * size_t(h) * 2, 0);
  std::vector<uint8_t> samples(static_cast<size_t>(w));
  static const int kByteOf[3] = {2, 1, 0};
  for (int c = 0; c < 3; ++c) {
    for (int32_t y = 0; y < h; ++y) {
      const uint8_t* src = bitmap.Row(y) + kByteOf[c];
      for (int32_t x = 0; x < w; ++x) samples[size_t(x)] = src[size_t(x) * 4];
      const size_t before = out.size();
      PSDPackBitsRow(samples.data(), samples.size(), out);
      const size_t count = out.size() - before;  // at most 30000 x 129 / 128 + 1: fits 16 bits
      const size_t at = tableAt + (size_t(c) * size_t(h) + size_t(y)) * 2;
      out[at] = uint8_t(count >> 8);
      out[at + 1] = uint8_t(count);
    }
  }
  return out;
}

bool PSDSaveToFile(const std::string& path, const TConstBitmapView& bitmap, std::string* error) {
  const std::vector<uint8_t> bytes = PSDEncode(bitmap);
  if (bytes.empty()) {
    if (error) *error = "the picture cannot be written as PSD (empty, or larger than 30000 x 30000)";
    return false;
  }
  return WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                             error);
}

} // namespace skm
