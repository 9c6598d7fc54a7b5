#include "platform/openkind/OpenKind.h"

#include <QFileInfo>

namespace skm {

int KindByExtension(const QString& fileName) {
  const QString base = QFileInfo(fileName).fileName();
  const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return kOpenNothing;
  const QString ext = base.mid(dot).toLower();
  static const char* const pictures[] = {".jpg", ".jpeg", ".png", ".bmp", ".psd", ".hdr"};
  // The containers FFmpeg reads that cameras, phones, editors and the web write.
  static const char* const movies[] = {".mp4", ".mov", ".m4v", ".mkv", ".webm", ".avi",
                                       ".mpg", ".mpeg", ".ts", ".mts", ".m2ts", ".wmv",
                                       ".flv", ".ogv", ".3gp"};
  for (const char* e : pictures)
    if (ext == QLatin1String(e)) return kOpenStill;
  for (const char* e : movies)
    if (ext == QLatin1String(e)) return kOpenMovie;
  return kOpenNothing;
}

} // namespace skm
