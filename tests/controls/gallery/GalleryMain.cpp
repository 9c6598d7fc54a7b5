// Writes the control gallery to a PNG: skm_controls_gallery [out.png]
#include <QApplication>
#include <cstdio>

#include "Gallery.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("controls-gallery.png");
  if (!skmgallery::RenderGallery().save(out, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
    return 1;
  }
  return 0;
}
