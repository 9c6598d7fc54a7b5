#include "TestImages.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <random>

namespace skmtest {

skm::TPixelBuffer MakePattern(int width, int height, uint32_t seed, AlphaKind alpha) {
  skm::TPixelBuffer buffer;
  buffer.Allocate(width, height);
  std::mt19937 rng(seed);
  const skm::TBitmapView view = buffer.View();
  for (int y = 0; y < height; ++y) {
    uint8_t* row = view.Row(y);
    for (int x = 0; x < width; ++x) {
      uint8_t* px = row + x * 4;
      const int band = (x / 7 + y / 5) % 4;
      uint8_t b, g, r;
      if (band == 0) {  // flat runs
        b = 10; g = 200; r = 30;
      } else if (band == 1) {  // gradients
        b = uint8_t(x * 3); g = uint8_t(y * 5); r = uint8_t(x + y);
      } else {  // noise
        b = uint8_t(rng()); g = uint8_t(rng()); r = uint8_t(rng());
      }
      uint8_t a = 255;
      if (alpha == AlphaKind::Varied) a = (x + y) % 5 == 0 ? 0 : (x % 3 == 0 ? 255 : uint8_t(rng()));
      px[0] = skm::PremultiplyByte(b, a);
      px[1] = skm::PremultiplyByte(g, a);
      px[2] = skm::PremultiplyByte(r, a);
      px[3] = a;
    }
  }
  return buffer;
}

skm::TPixelBuffer MakeSolid(int width, int height, uint8_t b, uint8_t g, uint8_t r, uint8_t a) {
  skm::TPixelBuffer buffer;
  buffer.Allocate(width, height);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* px = buffer.View().Row(y) + x * 4;
      px[0] = b; px[1] = g; px[2] = r; px[3] = a;
    }
  return buffer;
}

Bytes PixelBytes(const skm::TPixelBuffer& buffer) {
  const skm::TConstBitmapView v = buffer.ConstView();
  Bytes out;
  for (int y = 0; y < v.Height; ++y) out.insert(out.end(), v.Row(y), v.Row(y) + v.Width * 4);
  return out;
}

Bytes TgaHeader(uint8_t type, int width, int height, uint8_t depth, uint8_t descriptor, uint8_t idLength) {
  Bytes h(18, 0);
  h[0] = idLength;
  h[2] = type;
  h[12] = uint8_t(width); h[13] = uint8_t(width >> 8);
  h[14] = uint8_t(height); h[15] = uint8_t(height >> 8);
  h[16] = depth;
  h[17] = descriptor;
  h.insert(h.end(), idLength, 'I');
  return h;
}

void AppendTgaExtension(Bytes& file, const std::string& author) {
  const size_t at = file.size();
  Bytes ext(495, 0);
  ext[0] = 495 & 0xFF; ext[1] = 495 >> 8;
  std::memcpy(ext.data() + 2, author.data(), std::min<size_t>(author.size(), 41));
  file.insert(file.end(), ext.begin(), ext.end());
  Bytes footer(26, 0);
  for (int i = 0; i < 4; ++i) footer[i] = uint8_t(at >> (8 * i));
  std::memcpy(footer.data() + 8, "TRUEVISION-XFILE.", 18);
  file.insert(file.end(), footer.begin(), footer.end());
}

static void Be16(Bytes& b, uint32_t v) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }
static void Be32(Bytes& b, uint32_t v) { for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s)); }

Bytes PsdFile(uint16_t mode, uint16_t depth, uint16_t channels, uint32_t width, uint32_t height,
              uint16_t compression, const Bytes& imageData, uint32_t layerLength, uint32_t colourModeLength,
              uint16_t version) {
  Bytes f = {'8', 'B', 'P', 'S'};
  Be16(f, version);
  f.insert(f.end(), 6, 0);
  Be16(f, channels);
  Be32(f, height);
  Be32(f, width);
  Be16(f, depth);
  Be16(f, mode);
  Be32(f, colourModeLength);
  f.insert(f.end(), colourModeLength, 0);
  Be32(f, 0);
  Be32(f, layerLength);
  f.insert(f.end(), layerLength, 0);
  Be16(f, compression);
  f.insert(f.end(), imageData.begin(), imageData.end());
  return f;
}

Bytes PsdPackBitsData(const std::vector<Bytes>& rows) {
  Bytes table, data;
  for (const Bytes& row : rows) {
    Bytes packed;
    // Literal packets of up to 128 bytes: valid PackBits, independent of the writer.
    for (size_t i = 0; i < row.size(); i += 128) {
      const size_t n = std::min<size_t>(128, row.size() - i);
      packed.push_back(uint8_t(n - 1));
      packed.insert(packed.end(), row.begin() + ptrdiff_t(i), row.begin() + ptrdiff_t(i + n));
    }
    Be16(table, uint32_t(packed.size()));
    data.insert(data.end(), packed.begin(), packed.end());
  }
  table.insert(table.end(), data.begin(), data.end());
  return table;
}

Bytes HdrFile(int width, int height, const Bytes& rgbe, const HdrOptions& options) {
  std::string head = "#?RADIANCE\n" + options.headerLines + "\n";
  head += options.resolution.empty() ? "-Y " + std::to_string(height) + " +X " + std::to_string(width)
                                     : options.resolution;
  head += "\n";
  Bytes f(head.begin(), head.end());
  if (rgbe.empty()) return f;  // header only; the caller appends scanlines
  for (int y = 0; y < height; ++y) {
    const uint8_t* row = rgbe.data() + size_t(y) * width * 4;
    if (!options.rle) {
      f.insert(f.end(), row, row + width * 4);
      continue;
    }
    f.push_back(2); f.push_back(2); f.push_back(uint8_t(width >> 8)); f.push_back(uint8_t(width));
    for (int c = 0; c < 4; ++c) {
      int x = 0;
      while (x < width) {
        int run = 1;
        while (x + run < width && run < 127 && row[(x + run) * 4 + c] == row[x * 4 + c]) ++run;
        if (run >= 3) {
          f.push_back(uint8_t(128 + run));
          f.push_back(row[x * 4 + c]);
          x += run;
        } else {
          int n = 0;
          while (x + n < width && n < 128) {
            if (x + n + 2 < width && row[(x + n) * 4 + c] == row[(x + n + 1) * 4 + c] &&
                row[(x + n) * 4 + c] == row[(x + n + 2) * 4 + c])
              break;
            ++n;
          }
          f.push_back(uint8_t(n));
          for (int k = 0; k < n; ++k) f.push_back(row[(x + k) * 4 + c]);
          x += n;
        }
      }
    }
  }
  return f;
}

Bytes HdrPattern(int width, int height, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes p(size_t(width) * height * 4);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      uint8_t* px = p.data() + (size_t(y) * width + x) * 4;
      if ((x / 9) % 2 == 0) {
        px[0] = 128; px[1] = 100; px[2] = 60; px[3] = 129;
      } else {
        px[0] = uint8_t(128 + rng() % 128); px[1] = uint8_t(128 + rng() % 128); px[2] = uint8_t(128 + rng() % 128);
        px[3] = uint8_t(120 + rng() % 16);
      }
    }
  return p;
}

Bytes ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteAll(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
}

} // namespace skmtest
