#include "platform/openkind/OpenKind.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

#include "imagefiles/FMXBitmapEx.h"
#include "platform/mediafw/MediaFoundation.h"

namespace skm {

namespace {

QString Quoted(const QString& path) { return QStringLiteral("\"") + path + QStringLiteral("\""); }

} // namespace

const QStringList& KindExtensions(int kind) {
  static const QStringList pictures{".jpg", ".jpeg", ".png", ".bmp", ".psd", ".hdr"};
  // The containers FFmpeg reads that cameras, phones, editors and the web write.
  static const QStringList movies{".mp4", ".mov", ".m4v", ".mkv", ".webm", ".avi", ".mpg", ".mpeg",
                                  ".ts", ".mts", ".m2ts", ".wmv", ".flv", ".ogv", ".3gp"};
  static const QStringList none;
  return kind == kOpenStill ? pictures : kind == kOpenMovie ? movies : none;
}

int KindByExtension(const QString& fileName) {
  const QString base = QFileInfo(fileName).fileName();
  const qsizetype dot = base.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return kOpenNothing;
  const QString ext = base.mid(dot).toLower();
  for (int kind : {kOpenStill, kOpenMovie})
    if (KindExtensions(kind).contains(ext)) return kind;
  return kOpenNothing;
}

QString FileErrorText(const QString& path, int err) {
  switch (err) {
    case ENOENT:
    case ENOTDIR: return Quoted(path) + QStringLiteral(" does not exist");
    case EACCES:
    case EPERM: return Quoted(path) + QStringLiteral(" cannot be read: permission denied");
    case EISDIR: return Quoted(path) + QStringLiteral(" is a folder, not a file");
    case ELOOP: return Quoted(path) + QStringLiteral(" is a link that leads nowhere (a loop)");
    case ENAMETOOLONG: return Quoted(path) + QStringLiteral(" is too long a name");
    default:
      return Quoted(path) + QStringLiteral(" cannot be read: ") + QString::fromLocal8Bit(std::strerror(err));
  }
}

QString FileProblem(const QString& path) {
  if (path.isEmpty()) return QStringLiteral("No file was given");
  const QByteArray native = QFile::encodeName(path);
  struct stat sb {};
  if (::stat(native.constData(), &sb) != 0) return FileErrorText(path, errno);
  if (S_ISDIR(sb.st_mode)) return FileErrorText(path, EISDIR);
  if (!S_ISREG(sb.st_mode))
    return Quoted(path) + QStringLiteral(" is a device or other special file, not a movie or picture");
  if (::access(native.constData(), R_OK) != 0) return FileErrorText(path, errno);
  if (sb.st_size == 0) return Quoted(path) + QStringLiteral(" is empty");
  return {};
}

TOpenDecision DecideOpen(const QString& path) {
  TOpenDecision d;
  d.reason = FileProblem(path);
  if (!d.reason.isEmpty()) return d;
  d.kind = KindByExtension(path);
  if (d.kind != kOpenNothing) return d;
  if (ImageFileKindByContent(path) != kImageUnknown) {
    d.kind = kOpenStill;
    return d;
  }
  bool hasVideo = false;
  std::string message;
  const mf::HRESULT hr = mf::ProbeForVideo(QFile::encodeName(path).toStdString(), hasVideo, message);
  if (mf::Succeeded(hr) && hasVideo) {
    d.kind = kOpenMovie;
    return d;
  }
  // A known container that is damaged or needs a decoder we lack says so; anything else
  // is simply not ours.
  if (hr == mf::MF_E_INVALID_FILE_FORMAT || hr == mf::MF_E_TOPO_CODEC_NOT_FOUND)
    d.reason = QString::fromStdString(message);
  else
    d.reason = Quoted(path) + QStringLiteral(" is neither a movie nor a picture this program can open");
  return d;
}

int KindOf(const QString& fileName) {
  const int byName = KindByExtension(fileName);
  if (byName != kOpenNothing || fileName.isEmpty()) return byName;
  struct TSeen {
    QString name;
    qint64 size;
    qint64 changed;
    int kind;
  };
  static std::mutex m;
  static std::deque<TSeen> seen;
  const QFileInfo info(fileName);
  if (!info.exists()) return kOpenNothing;
  const qint64 size = info.size(), changed = info.lastModified().toMSecsSinceEpoch();
  {
    std::lock_guard lock(m);
    for (const TSeen& s : seen)
      if (s.name == fileName && s.size == size && s.changed == changed) return s.kind;
  }
  const int kind = DecideOpen(fileName).kind;
  std::lock_guard lock(m);
  seen.push_front({fileName, size, changed, kind});
  if (seen.size() > 8) seen.pop_back();
  return kind;
}

} // namespace skm
