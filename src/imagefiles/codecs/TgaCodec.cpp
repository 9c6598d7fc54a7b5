#include "imagefiles/codecs/TgaCodec.h"

#include <algorithm>
#include <cstring>

#include "platform/core/IniFile.h"

namespace skm {
namespace {

constexpr size_t kHeaderSize = 18;
constexpr size_t kFooterSize = 26;
constexpr size_t kExtensionSize = 495;
constexpr char kSignature[] = "TRUEVISION-XFILE.";

uint16_t Le16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
uint32_t Le32(const uint8_t* p) { return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24); }

void PutLe16(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  out[at] = uint8_t(v);
  out[at + 1] = uint8_t(v >> 8);
}
void PutLe32(std::vector<uint8_t>& out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) out[at + i] = uint8_t(v >> (8 * i));
}

// Text of a fixed-size field up to its first zero byte, at most maxLen bytes.
std::string FieldText(const uint8_t* p, size_t fieldSize, size_t maxLen) {
  size_t len = 0;
  while (len < fieldSize && p[len] != 0) ++len;
  return std::string(reinterpret_cast<const char*>(p), std::min(len, maxLen));
}

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int DaysInMonth(int y, int m) {
  static const int days[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeapYear(y) ? 29 : days[m - 1];
}

void ReadExtensionArea(const uint8_t* e, TTGAInfo& info) {
  info.HasExtension = true;
  info.Author = FieldText(e + 2, 41, kTGANameMax);
  const int month = Le16(e + 367), day = Le16(e + 369), year = Le16(e + 371);
  const int hour = Le16(e + 373), minute = Le16(e + 375), second = Le16(e + 377);
  if (month != 0 && day != 0 && year != 0 && year < 2500 && month < 13 && day < 32 && hour < 24 &&
      minute < 60 && second < 60 && day <= DaysInMonth(year, month)) {
    info.Year = year;
    info.Month = month;
    info.Day = day;
    info.Hour = hour;
    info.Minute = minute;
    info.Second = second;
  }
  info.ImageName = FieldText(e + 379, 41, kTGANameMax);
  info.BackgroundR = e[471];
  info.BackgroundG = e[472];
  info.BackgroundB = e[473];
  const uint16_t aspectNum = Le16(e + 474), aspectDen = Le16(e + 476);
  if (aspectNum != 0 && aspectDen != 0) info.AspectRatio = double(aspectNum) / aspectDen;
  const uint16_t gammaNum = Le16(e + 478), gammaDen = Le16(e + 480);
  if (gammaNum != 0 && gammaDen != 0) info.Gamma = double(gammaNum) / gammaDen;
}

// Copies count 24-bit pixels into 32-bit opaque ones. `end` bounds the source: the
// four-byte loads are used only while a fourth byte exists.
inline void Copy24To32(uint8_t* d, const uint8_t* s, size_t count, const uint8_t* end) {
  size_t i = 0;
  if (count > 0 && s + count * 3 < end) {
    for (; i < count; ++i) {
      uint32_t v;
      std::memcpy(&v, s + i * 3, 4);
      v |= 0xFF000000u;
      std::memcpy(d + i * 4, &v, 4);
    }
    return;
  }
  for (; i < count; ++i) {
    d[i * 4 + 0] = s[i * 3 + 0];
    d[i * 4 + 1] = s[i * 3 + 1];
    d[i * 4 + 2] = s[i * 3 + 2];
    d[i * 4 + 3] = 255;
  }
}

inline void Fill32(uint8_t* d, uint32_t value, size_t count) {
  for (size_t i = 0; i < count; ++i) std::memcpy(d + i * 4, &value, 4);
}

void ReverseRow(uint8_t* row, int32_t width) {
  for (int32_t a = 0, b = width - 1; a < b; ++a, --b) {
    uint32_t pa, pb;
    std::memcpy(&pa, row + size_t(a) * 4, 4);
    std::memcpy(&pb, row + size_t(b) * 4, 4);
    std::memcpy(row + size_t(a) * 4, &pb, 4);
    std::memcpy(row + size_t(b) * 4, &pa, 4);
  }
}

} // namespace

bool TGALoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, TTGAInfo* infoOut,
                       const TReadLimits& limits, std::string* why) {
  const uint8_t* p = data.data();
  const size_t n = data.size();
  if (n < kHeaderSize)
    return ReadFailure(why, "TGA header is incomplete: the file has only " + std::to_string(n) + " bytes");

  TTGAInfo info;
  // A TGA 2.0 footer points at the extension area. Offset 0 means "none" (the files that
  // carry a footer without an extension area write 0), so it is not read as one.
  if (n >= kFooterSize) {
    const uint8_t* footer = p + n - kFooterSize;
    if (FieldText(footer + 8, 18, 18) == kSignature) {
      const uint32_t offset = Le32(footer);
      if (offset != 0 && n >= kExtensionSize && offset <= n - kExtensionSize)
        ReadExtensionArea(p + offset, info);
    }
  }

  const uint8_t idLength = p[0];
  const uint8_t imageType = p[2];
  const int32_t width = Le16(p + 12);
  const int32_t height = Le16(p + 14);
  const uint8_t depth = p[16];
  const uint8_t descriptor = p[17];
  if (imageType != 2 && imageType != 10) {
    const char* kind = imageType == 1 || imageType == 9   ? " (colour-mapped)"
                       : imageType == 3 || imageType == 11 ? " (greyscale)"
                       : imageType == 0                    ? " (no picture)"
                                                           : "";
    return ReadFailure(why, "TGA image type " + std::to_string(imageType) + kind +
                                " is not supported; only true-colour pictures are");
  }
  if (depth != 24 && depth != 32)
    return ReadFailure(why, "TGA with " + std::to_string(depth) +
                                " bits per pixel is not supported; only 24 and 32 are");
  if (width == 0 || height == 0)
    return ReadFailure(why, "TGA picture of " + SizeText(width, height) + " pixels is empty");
  const uint64_t pixels = uint64_t(width) * uint64_t(height);
  if (pixels > limits.MaxPixels)
    return ReadFailure(why, "TGA picture of " + SizeText(width, height) + " pixels is larger than the " +
                                std::to_string(limits.MaxPixels) + " pixels this reader accepts");

  size_t pos = kHeaderSize;
  if (n - pos < idLength) return ReadFailure(why, "TGA data ends early in the image ID");
  info.Descriptor = FieldText(p + pos, idLength, idLength);
  pos += idLength;

  const size_t bpp = depth / 8;
  const bool rle = imageType == 10;
  // The data must be able to hold the picture before any memory is claimed for it: raw
  // pixels take bpp bytes each, and a packet of at most 128 pixels at least 1 + bpp.
  const uint64_t minBytes = rle ? (pixels + 127) / 128 * (1 + bpp) : pixels * bpp;
  if (n - pos < minBytes) {
    if (rle)
      return ReadFailure(why, "TGA data ends early: " + std::to_string(n - pos) + " bytes cannot hold " +
                                  SizeText(width, height) + " pixels");
    return ReadFailure(why, "TGA data ends early at row " + std::to_string((n - pos) / (size_t(width) * bpp) + 1) +
                                " of " + std::to_string(height));
  }

  info.Width = width;
  info.Height = height;
  info.SamplesPerPixel = int32_t(bpp);
  info.Compressed = rle;

  TPixelBuffer buffer;
  if (!buffer.Allocate(width, height))
    return ReadFailure(why, "not enough memory for a picture of " + SizeText(width, height) + " pixels");
  const TBitmapView view = buffer.View();
  const bool topDown = (descriptor & 0x20) != 0;
  const bool rightToLeft = (descriptor & 0x10) != 0;
  const uint8_t* end = p + n;

  // 32-bit files: which rows hold alpha other than 255, and whether any alpha is non-zero.
  std::vector<uint8_t> rowTranslucent;
  if (bpp == 4) rowTranslucent.assign(size_t(height), 0);
  uint8_t alphaOr = 0;

  // Packet state, carried from one row to the next: packets may cross rows.
  size_t left = 0;
  bool isRun = false;
  uint32_t runValue = 0;

  // Rows are counted from 1 in file order, the way a user would look for them.
  auto endsEarly = [&](int32_t r) {
    return ReadFailure(why, "TGA data ends early at row " + std::to_string(r + 1) + " of " + std::to_string(height));
  };
  for (int32_t r = 0; r < height; ++r) {
    const int32_t y = topDown ? r : height - 1 - r;
    uint8_t* row = view.Row(y);
    if (!rle) {
      const size_t rowBytes = size_t(width) * bpp;
      if (size_t(end - (p + pos)) < rowBytes) return endsEarly(r);
      if (bpp == 4)
        std::memcpy(row, p + pos, rowBytes);
      else
        Copy24To32(row, p + pos, size_t(width), end);
      pos += rowBytes;
    } else {
      size_t x = 0;
      while (x < size_t(width)) {
        if (left == 0) {
          if (pos >= n) return endsEarly(r);
          const uint8_t h = p[pos++];
          left = size_t(h & 0x7F) + 1;
          isRun = (h & 0x80) != 0;
          if (isRun) {
            if (n - pos < bpp) return endsEarly(r);
            if (bpp == 4) {
              std::memcpy(&runValue, p + pos, 4);
            } else {
              runValue = uint32_t(p[pos]) | (uint32_t(p[pos + 1]) << 8) | (uint32_t(p[pos + 2]) << 16) | 0xFF000000u;
            }
            pos += bpp;
          }
        }
        const size_t take = std::min(left, size_t(width) - x);
        uint8_t* d = row + x * 4;
        if (isRun) {
          Fill32(d, runValue, take);
        } else {
          if (n - pos < take * bpp) return endsEarly(r);
          if (bpp == 4)
            std::memcpy(d, p + pos, take * 4);
          else
            Copy24To32(d, p + pos, take, end);
          pos += take * bpp;
        }
        x += take;
        left -= take;
      }
    }
    if (rightToLeft) ReverseRow(row, width);
    if (bpp == 4) {
      uint8_t rowAnd = 255, rowOr = 0;
      for (int32_t x = 0; x < width; ++x) {
        rowAnd &= row[size_t(x) * 4 + 3];
        rowOr |= row[size_t(x) * 4 + 3];
      }
      rowTranslucent[size_t(y)] = rowAnd != 255;
      alphaOr |= rowOr;
    }
  }
  // A packet reaching past the last pixel means the data do not describe this picture.
  if (left != 0) return ReadFailure(why, "TGA run-length data run past the last pixel");

  if (bpp == 4) {
    if (alphaOr == 0) {
      // Every alpha byte zero: the file's alpha is undefined (many writers leave it so),
      // and showing the picture invisible would be worse than showing it opaque.
      for (int32_t y = 0; y < height; ++y) {
        uint8_t* row = view.Row(y);
        for (int32_t x = 0; x < width; ++x) row[size_t(x) * 4 + 3] = 255;
      }
    } else {
      // The file's alpha is straight; the bitmap's is premultiplied.
      for (int32_t y = 0; y < height; ++y) {
        if (!rowTranslucent[size_t(y)]) continue;
        uint8_t* row = view.Row(y);
        for (int32_t x = 0; x < width; ++x) {
          uint8_t* px = row + size_t(x) * 4;
          const uint8_t a = px[3];
          if (a == 255) continue;
          px[0] = PremultiplyByte(px[0], a);
          px[1] = PremultiplyByte(px[1], a);
          px[2] = PremultiplyByte(px[2], a);
        }
      }
    }
  }

  out = std::move(buffer);
  if (infoOut) *infoOut = std::move(info);
  return true;
}

bool TGALoadFromFile(const std::string& path, TPixelBuffer& out, std::string* author, std::string* error) {
  std::vector<uint8_t> bytes;
  const TReadLimits limits;
  if (!ReadFileBytes(path, bytes, limits.MaxFileBytes, error)) return false;
  TTGAInfo info;
  std::string why;
  if (!TGALoadFromMemory(bytes, out, &info, limits, &why)) {
    if (error) *error = path + ": " + why;
    return false;
  }
  if (author) *author = info.Author;
  return true;
}

void TGAEncodeRow24(const uint8_t* bgr, int32_t width, std::vector<uint8_t>& out) {
  const size_t w = size_t(std::max(width, 0));
  auto same = [bgr](size_t a, size_t b) { return std::memcmp(bgr + a * 3, bgr + b * 3, 3) == 0; };
  size_t i = 0;
  while (i < w) {
    size_t n = 1;
    while (i + n < w && same(i + n, i) && n <= 127) ++n;
    if (n >= 2) {
      out.push_back(uint8_t((n - 1) | 0x80));
      out.insert(out.end(), bgr + i * 3, bgr + i * 3 + 3);
      i += n;
      continue;
    }
    // A pixel equal to its right neighbour is left out, to start the next run.
    size_t k = 0, j = i;
    while (j < w - 1 && !same(j, j + 1) && k <= 126) {
      ++k;
      ++j;
    }
    if (j == w - 1) {
      ++k;
      j = w;
    }
    out.push_back(uint8_t(k - 1));
    out.insert(out.end(), bgr + (j - k) * 3, bgr + j * 3);
    i = j;
  }
}

std::vector<uint8_t> TGAEncode(const TConstBitmapView& bitmap, const std::string& author, bool hasAlpha) {
  std::vector<uint8_t> out;
  const int32_t w = bitmap.Width, h = bitmap.Height;
  if (!bitmap.Bits || w <= 0 || h <= 0 || w > 65535 || h > 65535) return out;
  const bool compressed = !hasAlpha;

  out.assign(kHeaderSize, 0);
  out[0] = 1;  // the image ID is one zero byte (an empty text)
  out[2] = compressed ? 10 : 2;
  PutLe16(out, 12, uint32_t(w));
  PutLe16(out, 14, uint32_t(h));
  out[16] = hasAlpha ? 32 : 24;
  out[17] = hasAlpha ? 0x28 : 0x20;
  out.push_back(0);

  std::vector<uint8_t> row(size_t(w) * 4);
  for (int32_t y = 0; y < h; ++y) {
    const uint8_t* src = bitmap.Row(y);
    if (hasAlpha) {
      // Files hold straight alpha; the bitmap holds premultiplied.
      for (int32_t x = 0; x < w; ++x) {
        const uint8_t* s = src + size_t(x) * 4;
        uint8_t* d = row.data() + size_t(x) * 4;
        const uint8_t a = s[3];
        if (a == 255) {
          std::memcpy(d, s, 4);
        } else {
          d[0] = UnpremultiplyByte(s[0], a);
          d[1] = UnpremultiplyByte(s[1], a);
          d[2] = UnpremultiplyByte(s[2], a);
          d[3] = a;
        }
      }
      out.insert(out.end(), row.begin(), row.begin() + ptrdiff_t(w) * 4);
    } else {
      // Alpha dropped: the colours are written as held, that is over black.
      for (int32_t x = 0; x < w; ++x) std::memcpy(row.data() + size_t(x) * 3, src + size_t(x) * 4, 3);
      TGAEncodeRow24(row.data(), w, out);
    }
  }

  const size_t extension = out.size();
  out.resize(extension + kExtensionSize, 0);
  PutLe16(out, extension, kExtensionSize);
  const std::string name = author.substr(0, std::min(author.size(), kTGANameMax));
  std::memcpy(out.data() + extension + 2, name.data(), name.size());
  // No date is kept: the stamp is the zero date, 30 December 1899, 00:00:00.
  PutLe16(out, extension + 367, 12);
  PutLe16(out, extension + 369, 30);
  PutLe16(out, extension + 371, 1899);
  PutLe16(out, extension + 476, 10000);  // aspect ratio 0 / 10000: not given
  PutLe16(out, extension + 480, 10000);  // gamma 0 / 10000: not given

  const size_t footer = out.size();
  out.resize(footer + kFooterSize, 0);
  PutLe32(out, footer, uint32_t(extension));
  std::memcpy(out.data() + footer + 8, kSignature, sizeof(kSignature));  // with its zero byte
  return out;
}

bool TGASaveToFile(const std::string& path, const TConstBitmapView& bitmap, const std::string& author,
                   bool hasAlpha, std::string* error) {
  const std::vector<uint8_t> bytes = TGAEncode(bitmap, author, hasAlpha);
  if (bytes.empty()) {
    if (error) *error = "the picture cannot be written as TGA (empty, or wider or taller than 65535)";
    return false;
  }
  return WriteFileAtomically(path, std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()),
                             error);
}

} // namespace skm
