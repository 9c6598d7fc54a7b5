// Every TGA, PSD and HDR file made by other programs: REJECT_ files give false, the
// others load, and where a reference decode (.ref.png) sits beside a file, its colours
// match ours.
#include <gtest/gtest.h>

#include <QImage>

#include <filesystem>

#include "TestImages.h"
#include "TestSupport.h"
#include "imagefiles/FMXBitmapEx.h"
#include "imagefiles/codecs/HdrReader.h"
#include "imagefiles/codecs/PsdCodec.h"
#include "imagefiles/codecs/TgaCodec.h"

using namespace skm;
using namespace skmtest;
namespace fs = std::filesystem;

namespace {

bool IsReference(const fs::path& p) { return p.filename().string().ends_with(".ref.png"); }
bool IsReject(const fs::path& p) { return p.filename().string().starts_with("REJECT_"); }

std::vector<fs::path> FilesIn(const std::string& folder) {
  std::vector<fs::path> files;
  const std::string corpus = CorpusDir();
  if (corpus.empty() || !fs::is_directory(corpus + "/" + folder)) return files;
  for (const auto& e : fs::directory_iterator(corpus + "/" + folder))
    if (e.is_regular_file() && !IsReference(e.path())) files.push_back(e.path());
  std::sort(files.begin(), files.end());
  return files;
}

// Compares our premultiplied picture with a reference decode: where the alphas agree,
// the premultiplied colours; where our alpha rule differs (undefined alpha shown
// opaque), the colours alone.
void ExpectMatchesReference(const TPixelBuffer& ours, const std::string& refPath) {
  QImage ref(QString::fromStdString(refPath));
  ASSERT_FALSE(ref.isNull());
  ASSERT_EQ(ref.width(), ours.Width());
  ASSERT_EQ(ref.height(), ours.Height());
  const QImage straight = ref.convertToFormat(QImage::Format_ARGB32);
  const QImage premultiplied = ref.convertToFormat(QImage::Format_ARGB32_Premultiplied);
  int mismatches = 0;
  for (int y = 0; y < ours.Height(); ++y) {
    const uint8_t* o = ours.ConstView().Row(y);
    const uchar* s = straight.constScanLine(y);
    const uchar* p = premultiplied.constScanLine(y);
    for (int x = 0; x < ours.Width(); ++x) {
      const uchar* r = o[x * 4 + 3] == s[x * 4 + 3] ? p : s;
      for (int c = 0; c < 3; ++c)
        if (std::abs(int(o[x * 4 + c]) - int(r[x * 4 + c])) > 1 && mismatches++ < 5)
          ADD_FAILURE() << "pixel " << x << "," << y << " channel " << c << ": " << int(o[x * 4 + c]) << " vs "
                        << int(r[x * 4 + c]);
    }
  }
  EXPECT_EQ(mismatches, 0);
}

void RunFolder(const std::string& folder, const std::function<bool(const Bytes&, TPixelBuffer&)>& read) {
  const auto files = FilesIn(folder);
  if (files.empty()) GTEST_SKIP() << "no corpus folder " << folder;
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    TPixelBuffer out;
    const bool ok = read(ReadAll(file.string()), out);
    EXPECT_EQ(ok, !IsReject(file));
    const std::string ref = file.string() + ".ref.png";
    if (ok && fs::exists(ref)) ExpectMatchesReference(out, ref);
  }
}

TEST(Corpus, TgaFiles) {
  RunFolder("tga", [](const Bytes& b, TPixelBuffer& o) { return TGALoadFromMemory(b, o); });
}

TEST(Corpus, PsdFiles) {
  RunFolder("psd", [](const Bytes& b, TPixelBuffer& o) { return PSDLoadFromMemory(b, o); });
}

TEST(Corpus, HdrFiles) {
  RunFolder("hdr", [](const Bytes& b, TPixelBuffer& o) { return HDRLoadFromMemory(b, o); });
}

TEST(Corpus, OtherFilesThroughTheDispatch) {
  const auto files = FilesIn("other");
  if (files.empty()) GTEST_SKIP() << "no corpus folder other";
  for (const fs::path& file : files) {
    SCOPED_TRACE(file.filename().string());
    TFMXBitmapEx bitmap;
    const bool ok = bitmap.LoadFromFileEx(QString::fromStdString(file.string()));
    EXPECT_EQ(ok, !IsReject(file));
    const std::string ref = file.string() + ".ref.png";
    if (ok && fs::exists(ref)) {
      TPixelBuffer ours;
      ASSERT_TRUE(ours.Allocate(bitmap.width(), bitmap.height()));
      for (int y = 0; y < bitmap.height(); ++y)
        std::memcpy(ours.View().Row(y), bitmap.constScanLine(y), size_t(bitmap.width()) * 4);
      ExpectMatchesReference(ours, ref);
    }
  }
}

} // namespace
