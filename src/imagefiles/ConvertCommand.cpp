#include "imagefiles/ConvertCommand.h"

#include <cstdio>
#include <string>

#include "imagefiles/FMXBitmapEx.h"

namespace skm {

namespace {
bool HasTransparency(const QImage& image) {
  for (int y = 0; y < image.height(); ++y) {
    const uchar* row = image.constScanLine(y);
    for (int x = 0; x < image.width(); ++x)
      if (row[x * 4 + 3] != 255) return true;
  }
  return false;
}
} // namespace

int RunConvertCommand(const QString& in, const QString& out) {
  TFMXBitmapEx bitmap;
  std::string why;
  if (!bitmap.LoadFromFileEx(in, 0, &why)) {
    std::fprintf(stderr, "sketchmark-movies: cannot read the picture %s: %s\n", qUtf8Printable(in), why.c_str());
    return 1;
  }
  // A TGA keeps its transparency only as a 32-bit file.
  bitmap.hasAlpha = HasTransparency(bitmap);
  if (!bitmap.SaveToFileEx(out)) {
    const int kind = ImageFileKind(out);
    if (kind == kImageHDR || kind == kImageUnknown)
      std::fprintf(stderr, "sketchmark-movies: cannot write %s: pictures are written as .png, .jpg, .jpeg, .bmp, .tga or .psd\n",
                   qUtf8Printable(out));
    else
      std::fprintf(stderr, "sketchmark-movies: cannot write the picture %s\n", qUtf8Printable(out));
    return 2;
  }
  return 0;
}

} // namespace skm
