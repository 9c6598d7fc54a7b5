#include "imagefiles/codecs/PixelBuffer.h"

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <memory>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace skm {

TPixelBuffer::~TPixelBuffer() { Reset(); }

TPixelBuffer::TPixelBuffer(TPixelBuffer&& other) noexcept
    : FBits(other.FBits), FWidth(other.FWidth), FHeight(other.FHeight) {
  other.FBits = nullptr;
  other.FWidth = other.FHeight = 0;
}

TPixelBuffer& TPixelBuffer::operator=(TPixelBuffer&& other) noexcept {
  if (this != &other) {
    Reset();
    FBits = other.FBits;
    FWidth = other.FWidth;
    FHeight = other.FHeight;
    other.FBits = nullptr;
    other.FWidth = other.FHeight = 0;
  }
  return *this;
}

bool TPixelBuffer::Allocate(int32_t width, int32_t height) {
  Reset();
  if (width <= 0 || height <= 0) return false;
  const uint64_t bytes = uint64_t(width) * uint64_t(height) * 4;
  if (bytes > std::numeric_limits<size_t>::max() / 2) return false;
  // Left uninitialised on purpose: every reader writes every byte, and touching a large
  // fresh buffer twice is a measurable part of a decode.
  uint8_t* bits = nullptr;
#ifdef __linux__
  // A large picture's first touch is mostly page faults; on 2 MiB pages there are 512
  // times fewer. aligned_alloc memory is freed with std::free like the rest.
  constexpr uint64_t kHugePage = uint64_t(2) << 20;
  if (bytes >= 2 * kHugePage && HugePages()) {
    const uint64_t rounded = (bytes + kHugePage - 1) / kHugePage * kHugePage;
    bits = static_cast<uint8_t*>(std::aligned_alloc(size_t(kHugePage), size_t(rounded)));
    if (bits) madvise(bits, size_t(rounded), MADV_HUGEPAGE);
  }
#endif
  if (!bits) bits = static_cast<uint8_t*>(std::malloc(size_t(bytes)));
  if (!bits) return false;
  FBits = bits;
  FWidth = width;
  FHeight = height;
  return true;
}

namespace {
std::atomic<bool> gHugePages{true};
} // namespace

void TPixelBuffer::SetHugePages(bool on) { gHugePages.store(on, std::memory_order_relaxed); }
bool TPixelBuffer::HugePages() { return gHugePages.load(std::memory_order_relaxed); }

void TPixelBuffer::Reset() {
  std::free(FBits);
  FBits = nullptr;
  FWidth = FHeight = 0;
}

uint8_t* TPixelBuffer::Release() {
  uint8_t* bits = FBits;
  FBits = nullptr;
  FWidth = FHeight = 0;
  return bits;
}

namespace {
struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
} // namespace

bool ReadFileBytes(const std::string& path, std::vector<uint8_t>& bytes, uint64_t maxBytes,
                   std::string* error) {
  auto fail = [&](const std::string& why) {
    if (error) *error = why;
    return false;
  };
  std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
  if (!file) return fail("cannot open " + path + ": " + std::strerror(errno));
  if (std::fseek(file.get(), 0, SEEK_END) != 0) return fail("cannot seek in " + path);
  const long end = std::ftell(file.get());
  if (end < 0) return fail("cannot read " + path + " (not a regular file?)");
  if (uint64_t(end) > maxBytes) return fail(path + " is too large");
  if (std::fseek(file.get(), 0, SEEK_SET) != 0) return fail("cannot seek in " + path);
  std::vector<uint8_t> data(static_cast<size_t>(end));
  if (end > 0 && std::fread(data.data(), 1, data.size(), file.get()) != data.size())
    return fail("cannot read " + path);
  bytes.swap(data);
  return true;
}

} // namespace skm
