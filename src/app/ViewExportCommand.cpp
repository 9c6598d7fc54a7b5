#include "app/ViewExportCommand.h"

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QImageWriter>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "annotation/SkPath.h"
#include "canvas/ViewExport.h"
#include "imagefiles/FMXBitmapEx.h"
#include "media/FrameExport.h"
#include "platform/core/IniFile.h"

namespace skm {
namespace {

void Err(const QString& text) {
  std::fprintf(stderr, "sketchmark-movies: %s\n", text.toLocal8Bit().constData());
  std::fflush(stderr);
}

bool ParseFrame(const char* v, qint64& out) {
  char* end = nullptr;
  errno = 0;
  const long long n = std::strtoll(v, &end, 10);
  if (!*v || *end || n < 0 || errno == ERANGE) return false;
  out = n;
  return true;
}

// A lane's picture: a still image by its extension, anything else is opened as a movie.
bool LanePicture(const QString& file, qint64 frame, QImage& out) {
  if (ImageFileKind(file) != kImageUnknown) {
    TFMXBitmapEx bitmap;
    if (!QFileInfo(file).isFile() || !bitmap.LoadFromFileEx(file)) {
      Err(QStringLiteral("Cannot read the picture ") + file);
      return false;
    }
    out = bitmap;
    return true;
  }
  return GrabMovieFrame(file, frame, out) == 0;
}

} // namespace

bool IsViewExportCommand(int argc, char** argv) {
  for (int i = 1; i < argc; ++i)
    if (!std::strcmp(argv[i], "--export-view")) return true;
  return false;
}

bool ViewExportParse(int argc, char** argv, TViewExportOptions& o) {
  QStringList files;
  bool seen = false;
  for (int i = 1; i < argc; ++i) {
    const char* a = argv[i];
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        Err(QStringLiteral("%1 needs a value").arg(QString::fromLatin1(a)));
        return nullptr;
      }
      return argv[++i];
    };
    if (!std::strcmp(a, "--export-view")) {
      seen = true;
    } else if (!std::strcmp(a, "--frame") || !std::strcmp(a, "--frame2")) {
      const char* v = value();
      qint64 n = 0;
      if (!v) return false;
      if (!ParseFrame(v, n)) {
        Err(QStringLiteral("%1 needs a frame number from 0 up").arg(QString::fromLatin1(a)));
        return false;
      }
      (a[7] == '2' ? o.Frame2 : o.Frame) = n;
    } else if (!std::strcmp(a, "--opacity")) {
      const char* v = value();
      if (!v) return false;
      char* end = nullptr;
      const double x = std::strtod(v, &end);
      if (!*v || *end || !(x >= 0 && x <= 1)) {
        Err(QStringLiteral("--opacity needs a value from 0 to 1"));
        return false;
      }
      o.Opacity = static_cast<float>(x);
    } else if (!std::strcmp(a, "--side-by-side")) {
      o.SideBySide = true;
    } else if (!std::strcmp(a, "--annotations") || !std::strcmp(a, "--output")) {
      const char* v = value();
      if (!v) return false;
      (a[2] == 'a' ? o.Annotations : o.Output) = QString::fromLocal8Bit(v);
    } else if (!std::strcmp(a, "--no-splash-wait")) {
      // harmless beside a headless command
    } else if (a[0] == '-' && a[1] != '\0') {
      Err(QStringLiteral("unknown option %1 for --export-view (see --help)").arg(QString::fromLocal8Bit(a)));
      return false;
    } else {
      files << QString::fromLocal8Bit(a);
    }
  }
  if (!seen) return false;
  if (files.isEmpty() || files.size() > 2) {
    Err(QStringLiteral("--export-view needs one or two files (lane 1, then lane 2)"));
    return false;
  }
  o.Lane1 = files[0];
  if (files.size() > 1) o.Lane2 = files[1];
  if (o.Output.isEmpty()) {
    Err(QStringLiteral("--export-view needs --output FILE.png"));
    return false;
  }
  return true;
}

int RunViewExport(const TViewExportOptions& o) {
  QByteArray format = QFileInfo(o.Output).suffix().toLower().toLatin1();
  if (format.isEmpty()) format = "png";
  if (!QImageWriter::supportedImageFormats().contains(format)) {
    Err(QStringLiteral("Unsupported image format for the output: ") + o.Output);
    return 1;
  }
  // The annotation file first: it is cheap, and a wrong name should not wait for movies.
  TSkPaths paths;
  if (!o.Annotations.isEmpty()) {
    QFile f(o.Annotations);
    if (!f.open(QIODevice::ReadOnly) || !QFileInfo(o.Annotations).isFile()) {
      Err(QStringLiteral("Cannot read the annotation file ") + o.Annotations);
      return 1;
    }
    if (static_cast<quint64>(f.size()) > kMaxAnnotationFileBytes) {
      Err(QStringLiteral("The annotation file is too large: ") + o.Annotations);
      return 1;
    }
    const QByteArray text = f.read(static_cast<qint64>(kMaxAnnotationFileBytes) + 1);
    if (static_cast<quint64>(text.size()) > kMaxAnnotationFileBytes) {
      Err(QStringLiteral("The annotation file is too large: ") + o.Annotations);
      return 1;
    }
    paths.LoadFromText(std::string_view(text.constData(), static_cast<size_t>(text.size())));
  }
  QImage lane1, lane2;
  if (!LanePicture(o.Lane1, o.Frame, lane1)) return 1;
  if (!o.Lane2.isEmpty() && !LanePicture(o.Lane2, o.Frame2 >= 0 ? o.Frame2 : o.Frame, lane2)) return 1;
  const TViewExportScene scene =
      ViewExportSceneFitted(lane1, lane2, o.Opacity, !o.SideBySide, o.Annotations.isEmpty() ? nullptr : &paths);
  QImage picture;
  QString error;
  if (!ViewExportRender(scene, picture, &error)) {
    Err(error);
    return 1;
  }
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, format.constData())) {
    Err(QStringLiteral("The picture could not be encoded."));
    return 1;
  }
  std::string werr;
  if (!WriteFileAtomically(o.Output.toStdString(), std::string_view(bytes.constData(), bytes.size()), &werr)) {
    Err(QStringLiteral("Cannot write ") + o.Output + QStringLiteral(": ") + QString::fromStdString(werr));
    return 1;
  }
  return 0;
}

int ViewExportMain(int argc, char** argv) {
  TViewExportOptions o;
  if (!ViewExportParse(argc, argv, o)) return 2;
  // Image plugins need an application object, never a display.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  return RunViewExport(o);
}

} // namespace skm
