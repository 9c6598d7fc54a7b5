#include "imagefiles/FMXBitmapEx.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSaveFile>
#include <QTransform>

#include <bit>
#include <cstdlib>
#include <exception>

#include "imagefiles/codecs/BmpReader.h"
#include "imagefiles/codecs/HdrReader.h"
#include "imagefiles/codecs/PsdCodec.h"
#include "imagefiles/codecs/TgaCodec.h"

namespace skm {

// The codecs hold B, G, R, A in memory, which is Qt's ARGB32 only on little-endian machines.
static_assert(std::endian::native == std::endian::little, "codec pixels are laid out for little-endian ARGB32");

int ImageFileKind(const QString& fileName) {
  const qsizetype slash = fileName.lastIndexOf(QLatin1Char('/'));
  const QString name = fileName.mid(slash + 1);
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot < 0) return kImageUnknown;
  QString ext = name.mid(dot);
  for (QChar& c : ext)
    if (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) c = QChar(c.unicode() - 'A' + 'a');
  if (ext == QLatin1String(".jpg") || ext == QLatin1String(".jpeg") || ext == QLatin1String(".png") ||
      ext == QLatin1String(".bmp"))
    return kImagePlatform;
  if (ext == QLatin1String(".psd")) return kImagePSD;
  if (ext == QLatin1String(".tga")) return kImageTGA;
  if (ext == QLatin1String(".hdr")) return kImageHDR;
  return kImageUnknown;
}

int ImageFileKindByContent(const QString& fileName, QByteArray* qtFormat) {
  QFile file(fileName);
  if (!file.open(QIODevice::ReadOnly)) return kImageUnknown;
  const QByteArray head = file.read(16);
  auto starts = [&](const char* sig, qsizetype n, qsizetype at = 0) {
    return head.size() >= at + n && head.mid(at, n) == QByteArray::fromRawData(sig, n);
  };
  if (starts("8BPS", 4)) return kImagePSD;
  if (starts("#?RADIANCE", 10) || starts("#?RGBE", 6)) return kImageHDR;
  struct TSignature {
    const char* bytes;
    qsizetype size, at;
    const char* format;
  };
  static const TSignature signatures[] = {
      {"\x89PNG\r\n\x1a\n", 8, 0, "png"}, {"\xff\xd8\xff", 3, 0, "jpeg"}, {"BM", 2, 0, "bmp"},
      {"GIF87a", 6, 0, "gif"}, {"GIF89a", 6, 0, "gif"}, {"WEBP", 4, 8, "webp"},
      {"II*\0", 4, 0, "tiff"}, {"MM\0*", 4, 0, "tiff"},
  };
  for (const TSignature& sig : signatures) {
    if (!starts(sig.bytes, sig.size, sig.at)) continue;
    if (sig.at == 8 && !starts("RIFF", 4)) continue;
    if (!QImageReader::supportedImageFormats().contains(QByteArray(sig.format))) break;
    if (qtFormat) *qtFormat = sig.format;
    return kImagePlatform;
  }
  // TGA has no signature at its start; version 2 files end with one.
  static const char footer[] = "TRUEVISION-XFILE.";
  if (file.size() >= 26 + 18 && file.seek(file.size() - 18) && file.read(18) == QByteArray(footer, 18))
    return kImageTGA;
  return kImageUnknown;
}

TFMXBitmapEx::TFMXBitmapEx() = default;

TFMXBitmapEx::TFMXBitmapEx(int width, int height)
    : QImage(width, height, QImage::Format_ARGB32_Premultiplied), Author(QStringLiteral("TARVEN")), hasAlpha(true) {
  if (!isNull()) fill(Qt::transparent);
}

namespace {

void FreePixels(void* info) { std::free(info); }

// Hands a decoded buffer to a QImage that frees it when the last copy goes.
QImage AdoptPixels(TPixelBuffer& buffer) {
  const int w = buffer.Width(), h = buffer.Height();
  const qsizetype pitch = buffer.Pitch();
  uint8_t* bits = buffer.Release();
  return QImage(bits, w, h, pitch, QImage::Format_ARGB32_Premultiplied, FreePixels, bits);
}

TConstBitmapView ViewOf(const QImage& image) {
  return {image.constBits(), image.width(), image.height(), ptrdiff_t(image.bytesPerLine())};
}

bool ReadFileBytesQt(const QString& fileName, std::vector<uint8_t>& bytes, std::string* why) {
  const QFileInfo file(fileName);
  if (!file.exists()) return ReadFailure(why, "the file does not exist");
  if (!file.isFile()) return ReadFailure(why, "it is not a file");
  if (!file.isReadable()) return ReadFailure(why, "the file may not be read (permissions)");
  return ReadFileBytes(QFile::encodeName(fileName).toStdString(), bytes, TReadLimits{}.MaxFileBytes, why);
}

} // namespace

bool TFMXBitmapEx::LoadFromFileEx(const QString& fileName, float rotate, std::string* why) {
  try {
    int kind = ImageFileKind(fileName);
    QByteArray format;  // empty: Qt decides by the name, then the content
    if (kind == kImageUnknown) kind = ImageFileKindByContent(fileName, &format);
    if (kind == kImageUnknown) {
      const QFileInfo file(fileName);
      if (!file.exists()) return ReadFailure(why, "the file does not exist");
      if (!file.isFile()) return ReadFailure(why, "it is not a file");
      return ReadFailure(why, "neither its name nor its content is that of a picture this "
                              "program reads (.jpg, .jpeg, .png, .bmp, .psd, .tga, .hdr)");
    }
    QImage loaded;
    QString author = Author;
    // BMP through our reader, which knows the header variants Qt's refuses (Photoshop's
    // 56-byte header with an alpha mask); Qt's for whatever ours does not read.
    const bool bmp = format == "bmp" ||
                     (format.isEmpty() && QFileInfo(fileName).suffix().toLower() == QLatin1String("bmp"));
    if (kind == kImagePlatform) {
      std::string bmpWhy;
      if (bmp) {
        std::vector<uint8_t> bytes;
        if (!ReadFileBytesQt(fileName, bytes, why)) return false;
        TPixelBuffer buffer;
        if (BMPLoadFromMemory(bytes, buffer, nullptr, {}, &bmpWhy)) loaded = AdoptPixels(buffer);
      }
      if (loaded.isNull()) {
        QImageReader reader(fileName, format);
        reader.setAutoTransform(true);  // EXIF orientation
        QImage image;
        if (!reader.read(&image) || image.isNull()) {
          if (!QFileInfo::exists(fileName)) return ReadFailure(why, "the file does not exist");
          // Ours knows more BMP variants than Qt's, so its reason is the one to act on.
          return ReadFailure(why, bmp && !bmpWhy.empty() ? bmpWhy : reader.errorString().toStdString());
        }
        loaded = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
      }
    } else {
      std::vector<uint8_t> bytes;
      if (!ReadFileBytesQt(fileName, bytes, why)) return false;
      TPixelBuffer buffer;
      bool ok = false;
      if (kind == kImagePSD) {
        ok = PSDLoadFromMemory(bytes, buffer, {}, why);
      } else if (kind == kImageHDR) {
        ok = HDRLoadFromMemory(bytes, buffer, nullptr, {}, why);
      } else {
        TTGAInfo info;
        ok = TGALoadFromMemory(bytes, buffer, &info, {}, why);
        if (ok) author = QString::fromLatin1(info.Author.data(), qsizetype(info.Author.size()));
      }
      if (!ok) return false;
      loaded = AdoptPixels(buffer);
    }
    if (loaded.isNull()) return ReadFailure(why, "not enough memory for the picture");
    if (rotate != 0) {
      QTransform turn;
      turn.rotate(rotate);
      loaded = loaded.transformed(turn, Qt::SmoothTransformation).convertToFormat(QImage::Format_ARGB32_Premultiplied);
      if (loaded.isNull()) return ReadFailure(why, "not enough memory to turn the picture");
    }
    QImage::operator=(std::move(loaded));
    Author = author;
    return true;
  } catch (const std::exception&) {
    // Out of memory on a huge picture, for one: the bitmap stays as it was.
    return ReadFailure(why, "not enough memory for the picture");
  }
}

bool TFMXBitmapEx::SaveToFileEx(const QString& fileName, int quality) const {
  try {
    const int kind = ImageFileKind(fileName);
    if (isNull() || kind == kImageHDR || kind == kImageUnknown) return false;
    const std::string path = QFile::encodeName(fileName).toStdString();
    QImage image = convertToFormat(QImage::Format_ARGB32_Premultiplied);
    if (kind == kImagePSD) return PSDSaveToFile(path, ViewOf(image));
    if (kind == kImageTGA) return TGASaveToFile(path, ViewOf(image), Author.toLatin1().toStdString(), hasAlpha);
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) return false;
    QImageWriter writer(&file, QFileInfo(fileName).suffix().toLower().toLatin1());
    writer.setQuality(quality);
    if (!writer.write(image)) {
      file.cancelWriting();
      return false;
    }
    return file.commit();
  } catch (const std::exception&) {
    return false;
  }
}

QString OpenStillImage(const QString& fileName, const std::function<void(int, int)>& size,
                       const std::function<void(const QImage&)>& picture, std::string* why) {
  TFMXBitmapEx bitmap;
  if (!bitmap.LoadFromFileEx(fileName, 0, why)) return QString();
  if (size) size(bitmap.width(), bitmap.height());
  if (picture) picture(bitmap);
  return fileName;
}

} // namespace skm
