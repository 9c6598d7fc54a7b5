// Writes the canvas and palette gallery to a PNG: skm_canvas_gallery [out.png]
#include <QApplication>
#include <cstdio>

#include "Gallery.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("canvas-gallery.png");
  if (!skmcanvasgallery::RenderGallery().save(out, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
    return 1;
  }
  return 0;
}
