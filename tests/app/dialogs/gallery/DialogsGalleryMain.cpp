// Writes the dialogs' gallery to a PNG: skm_dialogs_gallery [out.png]
#include <QApplication>
#include <cstdio>

#include "DialogsGallery.h"

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const QString out = argc > 1 ? QString::fromLocal8Bit(argv[1]) : QStringLiteral("dialogs-gallery.png");
  if (!skmgallery::RenderDialogsGallery().save(out, "PNG")) {
    std::fprintf(stderr, "cannot write %s\n", qPrintable(out));
    return 1;
  }
  return 0;
}
