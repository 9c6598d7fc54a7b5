#pragma once
// The plain bitmap the codecs read into and write from, with no UI toolkit in sight.
//
// Pixels are 32 bits, bytes in memory B, G, R, A, alpha premultiplied, rows top first,
// `Pitch` bytes apart. A reader allocates a TPixelBuffer only after the file's header
// and sizes are checked, fills it, and hands it over on success; on failure it drops it,
// so the caller's picture stays as it was. The memory comes from std::malloc so that the
// Qt side can adopt it into a QImage without a copy and free it with std::free.
//
// Threads: no shared state; a buffer belongs to one thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace skm {

// A mutable view of someone else's pixels.
struct TBitmapView {
  uint8_t* Bits = nullptr;  // first byte of the top row
  int32_t Width = 0;        // pixels per row
  int32_t Height = 0;       // rows
  ptrdiff_t Pitch = 0;      // bytes from one row to the next
  // Start of row y (0 = top).
  uint8_t* Row(int32_t y) const { return Bits + Pitch * y; }
};

// A read-only view of someone else's pixels (what the writers take).
struct TConstBitmapView {
  const uint8_t* Bits = nullptr;  // first byte of the top row
  int32_t Width = 0;              // pixels per row
  int32_t Height = 0;             // rows
  ptrdiff_t Pitch = 0;            // bytes from one row to the next
  // Start of row y (0 = top).
  const uint8_t* Row(int32_t y) const { return Bits + Pitch * y; }
};

// Upper bounds a reader enforces before it allocates anything.
struct TReadLimits {
  // Largest picture accepted, in pixels (16384 x 16384 by default: 1 GiB of bitmap).
  uint64_t MaxPixels = uint64_t(1) << 28;
  // Largest file read into memory, in bytes.
  uint64_t MaxFileBytes = uint64_t(1) << 31;
};

// An owned, malloc'ed picture with a pitch of 4 x width.
class TPixelBuffer {
public:
  TPixelBuffer() = default;
  ~TPixelBuffer();
  TPixelBuffer(TPixelBuffer&& other) noexcept;
  TPixelBuffer& operator=(TPixelBuffer&& other) noexcept;
  TPixelBuffer(const TPixelBuffer&) = delete;
  TPixelBuffer& operator=(const TPixelBuffer&) = delete;

  // Replaces the contents with an uninitialised width x height picture. False (and an
  // empty buffer) when a size is not positive or the memory cannot be had.
  bool Allocate(int32_t width, int32_t height);
  // Frees the pixels; the buffer is then empty (0 x 0).
  void Reset();
  // Whether the buffer holds no picture.
  bool Empty() const { return FBits == nullptr; }

  int32_t Width() const { return FWidth; }     // pixels per row
  int32_t Height() const { return FHeight; }   // rows
  ptrdiff_t Pitch() const { return ptrdiff_t(FWidth) * 4; }  // bytes per row
  TBitmapView View() const { return {FBits, FWidth, FHeight, Pitch()}; }
  TConstBitmapView ConstView() const { return {FBits, FWidth, FHeight, Pitch()}; }

  // Gives up ownership of the pixels (to be freed with std::free) and empties the buffer.
  uint8_t* Release();

private:
  uint8_t* FBits = nullptr;
  int32_t FWidth = 0;
  int32_t FHeight = 0;
};

// Readers say why they refused a file through a last parameter `std::string* why`
// (null: not wanted), in words a user can act on ("PSD in CMYK mode is not supported",
// "TGA data ends early at row 312 of 480"). Sets *why when given; always false, so a
// reader can `return ReadFailure(why, ...)`.
inline bool ReadFailure(std::string* why, std::string text) {
  if (why) *why = std::move(text);
  return false;
}
// "W x H", for the reasons above.
inline std::string SizeText(uint64_t width, uint64_t height) {
  return std::to_string(width) + " x " + std::to_string(height);
}

// Reads a whole file. False with a message when it cannot be opened or read, or when it
// is larger than maxBytes.
bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, uint64_t maxBytes,
                   std::string* error = nullptr);

// Straight to premultiplied, rounded the way the UI toolkit rounds (c x a / 255).
inline uint8_t PremultiplyByte(uint32_t c, uint32_t a) {
  const uint32_t t = c * a + 128;
  return uint8_t((t + (t >> 8)) >> 8);
}
// Premultiplied back to straight (rounded; colour above alpha is clamped to 255).
inline uint8_t UnpremultiplyByte(uint32_t c, uint32_t a) {
  if (a == 0) return 0;
  const uint32_t v = (c * 255 + a / 2) / a;
  return v > 255 ? 255 : uint8_t(v);
}

} // namespace skm
