#pragma once
// The application's bitmap, with loading and saving chosen by file extension.
//
// A TFMXBitmapEx is a QImage in Format_ARGB32_Premultiplied (bytes in memory B, G, R, A
// on the little-endian machines we build for). JPEG, PNG and BMP go through Qt's image
// readers and writers; TGA, PSD and Radiance HDR through the codecs of skm_codecs, whose
// pixel memory the image adopts without a copy. No operation throws: every failure is a
// false result, and a failed load leaves the bitmap as it was.
//
// Threads: like QImage, an instance is used by one thread at a time.

#include <QImage>
#include <QString>

#include <functional>
#include <string>

namespace skm {

// File kinds, from the file name's extension alone (never from the content).
enum TImageFileKind : int {
  kImagePlatform = 0,  // ".jpg", ".jpeg", ".png", ".bmp": Qt's codecs
  kImagePSD = 1,       // ".psd"
  kImageTGA = 2,       // ".tga"
  kImageHDR = 3,       // ".hdr": read only
  kImageUnknown = 4,   // anything else, or no extension
};

// The kind of a file name: its extension from the last "." of the name part, compared
// without regard to ASCII case.
int ImageFileKind(const QString& fileName);

// The kind of the picture in fileName by its content, for names whose extension does not
// say: the signatures of our codecs' formats ("8BPS" PSD, "#?RADIANCE" or "#?RGBE" HDR,
// the TGA 2.0 footer), then the formats Qt reads here that have one (PNG, JPEG, BMP, GIF,
// WebP, TIFF), whose Qt format name goes to qtFormat. kImageUnknown when none matches, or
// the file cannot be read. Reads the first 16 bytes and the last 26, no more.
int ImageFileKindByContent(const QString& fileName, QByteArray* qtFormat = nullptr);

class TFMXBitmapEx : public QImage {
public:
  // An empty (null) bitmap with no author and hasAlpha false.
  TFMXBitmapEx();
  // A width x height bitmap (transparent black) with Author "TARVEN" and hasAlpha true.
  TFMXBitmapEx(int width, int height);

  // Replaces the picture with the file's; a name of unknown kind is read by its content
  // (ImageFileKindByContent). Kind 0 applies the EXIF orientation; a TGA
  // load sets Author to the file's author name (empty when it has none). A non-zero
  // rotate turns the loaded picture by that many degrees. False, with the bitmap and
  // Author unchanged, for an unknown kind or a file that cannot be read or decoded; then
  // `why` (when given) says which, in words a user can act on.
  bool LoadFromFileEx(const QString& fileName, float rotate = 0, std::string* why = nullptr);
  // Writes the picture by kind: Qt's writers (quality -1 is their default, else 0-100),
  // PSD, or TGA with Author and hasAlpha. HDR and unknown kinds write nothing and give
  // false, as do an empty bitmap and a failed write; the file is written to a temporary
  // name and renamed, so a failure never leaves a half-written file.
  bool SaveToFileEx(const QString& fileName, int quality = -1) const;

  QString Author;          // author name written into TGA files; found in them on loading
  bool hasAlpha = false;   // TGA saving: true 32-bit with alpha, false 24-bit run-length encoded
};

// Opens a still image into a lane: loads it into a fresh bitmap and, on success, calls
// size(width, height) then picture(bitmap) and returns the file name; on failure calls
// neither, returns an empty string and fills `why` (when given) as LoadFromFileEx does.
// The picture callback must copy what it keeps: the bitmap is released when this returns.
QString OpenStillImage(const QString& fileName, const std::function<void(int, int)>& size,
                       const std::function<void(const QImage&)>& picture, std::string* why = nullptr);

} // namespace skm
