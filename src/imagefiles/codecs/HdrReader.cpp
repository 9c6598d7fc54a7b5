#include "imagefiles/codecs/HdrReader.h"

#include <array>
#include <cmath>
#include <cstring>
#include <string_view>
#include <vector>

#include "platform/core/IniFile.h"

namespace skm {
namespace {

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = char(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = char(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

// A positive decimal integer of at most nine digits, else 0.
int32_t ParseSide(std::string_view text) {
  if (text.empty() || text.size() > 9) return 0;
  int32_t v = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return 0;
    v = v * 10 + (c - '0');
  }
  return v;
}

struct THeader {
  int32_t Width = 0;
  int32_t Height = 0;
  double Gamma = 2.2;
  size_t DataStart = 0;
};

bool ParseHeader(const uint8_t* p, size_t n, THeader& header, std::string* why) {
  // The header runs up to the newline that ends the first line after the first empty
  // line (the resolution line).
  size_t i = 0;
  int newlines = 0;
  bool blankSeen = false;
  while (i < n && newlines < 3) {
    if (p[i] == '\n') {
      ++newlines;
      if (newlines == 2) blankSeen = true;
    } else if (!blankSeen) {
      newlines = 0;
    }
    ++i;
  }
  if (newlines < 3 && (n < 10 || std::memcmp(p, "#?RADIANCE", 10) != 0))
    return ReadFailure(why, "not a Radiance HDR picture: it does not start with \"#?RADIANCE\"");
  if (newlines < 3) return ReadFailure(why, "HDR header ends early, before the resolution line");
  header.DataStart = i;

  std::vector<std::string_view> lines;
  const std::string_view text(reinterpret_cast<const char*>(p), i - 1);  // without the last newline
  for (size_t start = 0;;) {
    const size_t nl = text.find('\n', start);
    lines.push_back(text.substr(start, nl == std::string_view::npos ? std::string_view::npos : nl - start));
    if (nl == std::string_view::npos) break;
    start = nl + 1;
  }
  if (lines.size() < 3 || lines[0] != "#?RADIANCE")
    return ReadFailure(why, "not a Radiance HDR picture: it does not start with \"#?RADIANCE\"");

  bool formatSeen = false, gammaSeen = false;
  for (size_t l = 1; l + 1 < lines.size(); ++l) {
    const std::string_view line = lines[l];
    const size_t eq = line.find('=');
    if (eq == std::string_view::npos) continue;
    const std::string_view name = line.substr(0, eq), value = line.substr(eq + 1);
    if (!formatSeen && EqualsNoCase(name, "FORMAT")) {
      formatSeen = true;
      if (value != "32-bit_rle_rgbe")
        return ReadFailure(why, "HDR format \"" + std::string(value) + "\" is not supported; only 32-bit_rle_rgbe is");
    } else if (!gammaSeen && EqualsNoCase(name, "GAMMA")) {
      gammaSeen = true;
      if (!value.empty()) {
        // Written by programs, not typed under a locale: "." is the separator.
        const auto gamma = ParseIniFloat(value, '.');
        if (!gamma || !std::isfinite(*gamma))
          return ReadFailure(why, "HDR gamma \"" + std::string(value) + "\" is not a number");
        header.Gamma = *gamma;
      }
    }
  }

  // Resolution line: "-Y height +X width"; writers pad the numbers with spaces.
  std::vector<std::string_view> tokens;
  const std::string_view res = lines.back();
  for (size_t s = 0; s < res.size();) {
    if (res[s] == ' ') {
      ++s;
      continue;
    }
    size_t e = res.find(' ', s);
    if (e == std::string_view::npos) e = res.size();
    tokens.push_back(res.substr(s, e - s));
    s = e;
  }
  if (tokens.size() != 4 || tokens[0] != "-Y" || tokens[2] != "+X")
    return ReadFailure(why, "HDR resolution line \"" + std::string(res.substr(0, 40)) +
                                "\" is not supported; only the standard \"-Y height +X width\" is");
  header.Height = ParseSide(tokens[1]);
  header.Width = ParseSide(tokens[3]);
  if (header.Width <= 0 || header.Height <= 0)
    return ReadFailure(why, "HDR resolution line \"" + std::string(res.substr(0, 40)) + "\" gives no valid size");
  return true;
}

enum class TLine { Ok, EndsEarly, Damaged };

// Decodes one scanline into row as r, g, b, e per pixel.
TLine DecodeScanline(const uint8_t* p, size_t n, size_t& pos, uint8_t* row, size_t width) {
  if (n - pos < 4) return TLine::EndsEarly;
  const bool rleWidth = width >= 8 && width <= 0x7FFF;
  if (rleWidth && p[pos] == 2 && p[pos + 1] == 2 && (p[pos + 2] & 0x80) == 0) {
    if (size_t((p[pos + 2] << 8) | p[pos + 3]) != width) return TLine::Damaged;
    pos += 4;
    for (size_t c = 0; c < 4; ++c) {
      size_t x = 0;
      while (x < width) {
        if (pos >= n) return TLine::EndsEarly;
        const size_t count = p[pos++];
        if (count > 128) {
          const size_t run = count - 128;
          if (run > width - x) return TLine::Damaged;
          if (pos >= n) return TLine::EndsEarly;
          const uint8_t v = p[pos++];
          for (size_t k = 0; k < run; ++k) row[(x + k) * 4 + c] = v;
          x += run;
        } else {
          if (count > width - x) return TLine::Damaged;
          if (n - pos < count) return TLine::EndsEarly;
          for (size_t k = 0; k < count; ++k) row[(x + k) * 4 + c] = p[pos + k];
          pos += count;
          x += count;
        }
      }
    }
    return TLine::Ok;
  }
  // Flat pixels, possibly with the old repeat marks (1, 1, 1, n): repeat the previous
  // pixel n times, scaled by 256 for each mark that directly follows another.
  size_t x = 0;
  unsigned shift = 0;
  while (x < width) {
    if (n - pos < 4) return TLine::EndsEarly;
    const uint8_t* px = p + pos;
    pos += 4;
    if (px[0] == 1 && px[1] == 1 && px[2] == 1) {
      if (x == 0 || shift > 24) return TLine::Damaged;
      const uint64_t count = uint64_t(px[3]) << shift;
      if (count > width - x) return TLine::Damaged;
      for (uint64_t k = 0; k < count; ++k, ++x) std::memcpy(row + x * 4, row + (x - 1) * 4, 4);
      shift += 8;
    } else {
      std::memcpy(row + x * 4, px, 4);
      ++x;
      shift = 0;
    }
  }
  return TLine::Ok;
}

} // namespace

uint8_t HDRToneMapByte(double v, double gamma) {
  double t;
  if (std::isinf(v)) {
    t = 1;
  } else {
    t = v / (v + 1);
    if (gamma != 1) t = std::pow(t, 1 / gamma);
  }
  if (t > 1) t = 1;
  if (!(t >= 0)) t = 0;  // also NaN
  return uint8_t(int(t * 255 + 0.5));
}

bool HDRLoadFromMemory(std::span<const uint8_t> data, TPixelBuffer& out, THDRInfo* info, const TReadLimits& limits,
                       std::string* why) {
  const uint8_t* p = data.data();
  const size_t n = data.size();
  THeader header;
  if (!ParseHeader(p, n, header, why)) return false;
  const size_t width = size_t(header.Width), height = size_t(header.Height);
  if (uint64_t(width) * height > limits.MaxPixels)
    return ReadFailure(why, "HDR picture of " + SizeText(width, height) + " pixels is larger than the " +
                                std::to_string(limits.MaxPixels) + " pixels this reader accepts");
  // Every scanline takes at least four bytes, whatever its encoding.
  if ((n - header.DataStart) / 4 < height)
    return ReadFailure(why, "HDR data ends early at scanline " + std::to_string((n - header.DataStart) / 4 + 1) +
                                " of " + std::to_string(height));

  TPixelBuffer buffer;
  if (!buffer.Allocate(header.Width, header.Height))
    return ReadFailure(why, "not enough memory for a picture of " + SizeText(width, height) + " pixels");
  const TBitmapView view = buffer.View();

  // The exponent factors 2^(e - 128), computed in single precision as the format has them.
  std::array<double, 256> factor;
  for (int e = 0; e < 256; ++e) factor[size_t(e)] = double(std::ldexp(1.0f, e - 128));

  // First pass: the RGBE bytes go into the picture's own memory (4 bytes a pixel either
  // way), and the luminance of every line is summed. The colours as doubles are not
  // kept: they are recomputed exactly from the bytes when mapping.
  size_t pos = header.DataStart;
  double sum = 0;
  for (size_t y = 0; y < height; ++y) {
    uint8_t* row = view.Row(int32_t(y));
    const TLine decoded = DecodeScanline(p, n, pos, row, width);
    if (decoded != TLine::Ok) {
      const std::string at = std::to_string(y + 1) + " of " + std::to_string(height);
      return ReadFailure(why, decoded == TLine::EndsEarly ? "HDR data ends early at scanline " + at
                                                       : "HDR scanline " + at + " is damaged");
    }
    double line = 0;
    for (size_t x = 0; x < width; ++x) {
      const uint8_t* px = row + x * 4;
      const double f = factor[px[3]];
      const double r = px[0] * f, g = px[1] * f, b = px[2] * f;
      line += 0.299 * r + 0.587 * g + 0.114 * b;
    }
    sum += line;
  }

  // A picture without light maps to black rather than dividing by zero.
  const double k = sum > 0 ? 0.18 * double(width) * double(height) / sum : 0.0;
  // Second pass, in place. A channel's byte depends only on its mantissa and exponent,
  // so each exponent's 256 bytes are computed once, when first met.
  std::vector<uint8_t> table(256 * 256);
  std::array<bool, 256> ready{};
  for (size_t y = 0; y < height; ++y) {
    uint8_t* row = view.Row(int32_t(y));
    for (size_t x = 0; x < width; ++x) {
      uint8_t* px = row + x * 4;
      const uint8_t e = px[3];
      uint8_t* map = table.data() + size_t(e) * 256;
      if (!ready[e]) {
        for (int m = 0; m < 256; ++m) map[m] = HDRToneMapByte(double(m) * factor[e] * k, header.Gamma);
        ready[e] = true;
      }
      const uint8_t r = map[px[0]], g = map[px[1]], b = map[px[2]];
      px[0] = b;
      px[1] = g;
      px[2] = r;
      px[3] = 255;
    }
  }

  out = std::move(buffer);
  if (info) *info = {header.Width, header.Height, header.Gamma};
  return true;
}

bool HDRLoadFromFile(const std::string& path, TPixelBuffer& out, std::string* error) {
  std::vector<uint8_t> bytes;
  const TReadLimits limits;
  if (!ReadFileBytes(path, bytes, limits.MaxFileBytes, error)) return false;
  std::string why;
  if (!HDRLoadFromMemory(bytes, out, nullptr, limits, &why)) {
    if (error) *error = path + ": " + why;
    return false;
  }
  return true;
}

} // namespace skm
