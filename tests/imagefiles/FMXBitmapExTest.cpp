#include <gtest/gtest.h>

#include <cstring>

#include <QFile>
#include <QFileInfo>
#include <QImageWriter>

#include <filesystem>

#include "TestImages.h"
#include "TestSupport.h"
#include "imagefiles/FMXBitmapEx.h"
#include "imagefiles/codecs/TgaCodec.h"

using namespace skm;
using namespace skmtest;

namespace {

QString TempPath(const std::string& name) {
  static const std::string dir = MakeTempDir();
  return QString::fromStdString(dir + "/" + name);
}

// A small picture with distinct pixels, opaque.
QImage Sample(int w = 4, int h = 3) {
  QImage image(w, h, QImage::Format_ARGB32_Premultiplied);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) image.setPixel(x, y, qRgb(x * 60, y * 80, 100));
  return image;
}

TEST(FMXBitmapEx, FileKindByExtension) {
  struct Case {
    const char* name;
    int kind;
  };
  const std::vector<Case> cases = {
      {"a.jpg", 0}, {"PICTURE.JPG", 0}, {"picture.Jpeg", 0}, {"x.png", 0}, {"x.BMP", 0},
      {"x.psd", 1}, {"x.tga", 2}, {"X.TGA", 2}, {"x.hdr", 3},
      {"picture.tiff", 4}, {"picture", 4}, {"", 4}, {"dir.tga/picture", 4}, {"archive.tga.gz", 4},
      {".tga", 2}, {"x.", 4}, {"/some.dir/x.Png", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(ImageFileKind(QString::fromUtf8(c.name)), c.kind) << c.name;
}

TEST(FMXBitmapEx, Constructors) {
  TFMXBitmapEx empty;
  EXPECT_TRUE(empty.isNull());
  EXPECT_TRUE(empty.Author.isEmpty());
  EXPECT_FALSE(empty.hasAlpha);
  TFMXBitmapEx sized(5, 4);
  EXPECT_EQ(sized.size(), QSize(5, 4));
  EXPECT_EQ(sized.format(), QImage::Format_ARGB32_Premultiplied);
  EXPECT_EQ(sized.Author, QStringLiteral("TARVEN"));
  EXPECT_TRUE(sized.hasAlpha);
}

TEST(FMXBitmapEx, PlatformFilesLoadWhateverTheCaseOfTheExtension) {
  for (const char* name : {"PICTURE.JPG", "picture.Jpeg", "p.png", "p.bmp"}) {
    SCOPED_TRACE(name);
    const QString path = TempPath(name);
    ASSERT_TRUE(Sample().save(path, QFileInfo(path).suffix().toLower() == "jpeg" ? "jpg" : nullptr));
    TFMXBitmapEx bitmap;
    ASSERT_TRUE(bitmap.LoadFromFileEx(path));
    EXPECT_EQ(bitmap.size(), QSize(4, 3));
    EXPECT_EQ(bitmap.format(), QImage::Format_ARGB32_Premultiplied);
  }
  // A name that does not say is read by its content: pictures load, anything else is
  // refused.
  for (const char* name : {"picture.tiff", "picture", "picture.dat"}) {
    const QString path = TempPath(name);
    ASSERT_TRUE(Sample().save(path, "png"));
    TFMXBitmapEx bitmap;
    EXPECT_TRUE(bitmap.LoadFromFileEx(path)) << name;
    EXPECT_EQ(bitmap.size(), QSize(4, 3)) << name;
  }
  const QString text = TempPath("notes");
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("BMP is not what this is, nor 8BPS");
  }
  TFMXBitmapEx bitmap;
  EXPECT_FALSE(bitmap.LoadFromFileEx(text));
}

TEST(FMXBitmapEx, KindByContentUsesSignaturesOnly) {
  const QString png = TempPath("sig-png"), jpeg = TempPath("sig-jpeg"), psd = TempPath("sig-psd"),
                tga = TempPath("sig-tga"), text = TempPath("sig-text");
  ASSERT_TRUE(Sample().save(png, "png"));
  ASSERT_TRUE(Sample().save(jpeg, "jpg"));
  ASSERT_TRUE(TFMXBitmapEx(4, 3).SaveToFileEx(TempPath("sig.psd")));
  ASSERT_TRUE(QFile::rename(TempPath("sig.psd"), psd));
  TFMXBitmapEx withFooter(4, 3);
  ASSERT_TRUE(withFooter.SaveToFileEx(TempPath("sig.tga")));
  ASSERT_TRUE(QFile::rename(TempPath("sig.tga"), tga));
  {
    QFile f(text);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QByteArray(64, '\0'));  // no signature (Qt's WBMP reader would claim this)
  }
  QByteArray format;
  EXPECT_EQ(ImageFileKindByContent(png, &format), kImagePlatform);
  EXPECT_EQ(format, "png");
  EXPECT_EQ(ImageFileKindByContent(jpeg, &format), kImagePlatform);
  EXPECT_EQ(format, "jpeg");
  EXPECT_EQ(ImageFileKindByContent(psd), kImagePSD);
  EXPECT_EQ(ImageFileKindByContent(tga), kImageTGA);
  EXPECT_EQ(ImageFileKindByContent(text), kImageUnknown);
  EXPECT_EQ(ImageFileKindByContent(TempPath("sig-missing")), kImageUnknown);
}

TEST(FMXBitmapEx, ExifOrientationIsApplied) {
  const QString path = TempPath("turned.jpg");
  QImageWriter writer(path, "jpg");
  writer.setTransformation(QImageIOHandler::TransformationRotate90);
  ASSERT_TRUE(writer.write(Sample(8, 2)));
  TFMXBitmapEx bitmap;
  ASSERT_TRUE(bitmap.LoadFromFileEx(path));
  EXPECT_EQ(bitmap.size(), QSize(2, 8));
}

TEST(FMXBitmapEx, TgaSavingFollowsHasAlpha) {
  struct Case {
    bool hasAlpha;
    uint8_t type, depth;
  };
  for (const Case& c : {Case{false, 10, 24}, Case{true, 2, 32}}) {
    SCOPED_TRACE(c.hasAlpha);
    TFMXBitmapEx bitmap(6, 2);
    bitmap.fill(qRgba(10, 20, 30, 255));
    bitmap.hasAlpha = c.hasAlpha;
    bitmap.Author = QStringLiteral("Ann");
    const QString path = TempPath("saved.tga");
    ASSERT_TRUE(bitmap.SaveToFileEx(path));
    const Bytes f = ReadAll(path.toStdString());
    ASSERT_GT(f.size(), 18u);
    EXPECT_EQ(f[2], c.type);
    EXPECT_EQ(f[16], c.depth);
    TFMXBitmapEx back;
    ASSERT_TRUE(back.LoadFromFileEx(path));
    EXPECT_EQ(back.Author, QStringLiteral("Ann"));
    EXPECT_EQ(back.pixel(3, 1), qRgba(10, 20, 30, 255));
  }
}

TEST(FMXBitmapEx, AuthorIsEmptyAfterATgaWithoutExtensionArea) {
  Bytes f = TgaHeader(2, 1, 1, 24, 0);
  f.insert(f.end(), {1, 2, 3});
  const QString path = TempPath("plain.tga");
  WriteAll(path.toStdString(), f);
  TFMXBitmapEx bitmap(2, 2);
  ASSERT_EQ(bitmap.Author, QStringLiteral("TARVEN"));
  ASSERT_TRUE(bitmap.LoadFromFileEx(path));
  EXPECT_TRUE(bitmap.Author.isEmpty());
}

TEST(FMXBitmapEx, WritersByKind) {
  TFMXBitmapEx bitmap(3, 3);
  bitmap.fill(qRgba(200, 100, 50, 255));
  struct Case {
    const char* name;
    bool written;
  };
  for (const Case& c : {Case{"w.hdr", false}, Case{"w.xyz", false}, Case{"w.psd", true}, Case{"w.png", true},
                        Case{"w.jpg", true}, Case{"w.bmp", true}}) {
    SCOPED_TRACE(c.name);
    const QString path = TempPath(c.name);
    EXPECT_EQ(bitmap.SaveToFileEx(path), c.written);
    EXPECT_EQ(QFile::exists(path), c.written);
    if (c.written && !QString(c.name).endsWith(".jpg")) {
      TFMXBitmapEx back;
      ASSERT_TRUE(back.LoadFromFileEx(path));
      EXPECT_EQ(back.pixel(1, 1), qRgba(200, 100, 50, 255));
    }
  }
  EXPECT_FALSE(TFMXBitmapEx().SaveToFileEx(TempPath("empty.png")));
  EXPECT_FALSE(bitmap.SaveToFileEx(QStringLiteral("/nonexistent/dir/w.tga")));
}

TEST(FMXBitmapEx, FailedLoadLeavesTheBitmapAlone) {
  const QString damaged = TempPath("damaged.tga");
  Bytes f = TgaHeader(2, 50, 50, 24, 0);
  f.resize(100, 1);
  WriteAll(damaged.toStdString(), f);
  const QString notPsd = TempPath("not.psd");
  WriteAll(notPsd.toStdString(), Bytes(100, 'x'));
  const QString notHdr = TempPath("not.hdr");
  WriteAll(notHdr.toStdString(), Bytes(100, 'x'));
  const QString notPng = TempPath("not.png");
  WriteAll(notPng.toStdString(), Bytes(100, 'x'));
  const QString folder = TempPath("folder.tga");
  std::filesystem::create_directory(folder.toStdString());
  const QString notes = TempPath("notes.txt");
  {
    QFile file(notes);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("plain words, no picture\n");
  }
  struct Case {
    QString path;
    const char* why;  // the start of the reason; empty: Qt's own words
  };
  const Case cases[] = {
      {damaged, "TGA data ends early at row 1 of 50"},
      {notPsd, "not a PSD document"},
      {notHdr, "not a Radiance HDR picture"},
      {notPng, ""},
      {folder, "it is not a file"},
      {TempPath("missing.tga"), "the file does not exist"},
      {TempPath("missing.psd"), "the file does not exist"},
      {TempPath("missing.hdr"), "the file does not exist"},
      {TempPath("missing.png"), "the file does not exist"},
      {TempPath(""), "it is not a file"},
      {notes, "neither its name nor its content is that of a picture"},
  };
  for (const Case& c : cases) {
    const QString& path = c.path;
    SCOPED_TRACE(path.toStdString());
    TFMXBitmapEx bitmap(2, 2);
    bitmap.fill(qRgba(1, 2, 3, 255));
    bitmap.Author = QStringLiteral("kept");
    std::string why;
    EXPECT_FALSE(bitmap.LoadFromFileEx(path, 0, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(why.substr(0, std::strlen(c.why)), c.why);
    EXPECT_EQ(bitmap.size(), QSize(2, 2));
    EXPECT_EQ(bitmap.pixel(1, 1), qRgba(1, 2, 3, 255));
    EXPECT_EQ(bitmap.Author, QStringLiteral("kept"));
  }
}

TEST(FMXBitmapEx, RotateTurnsTheLoadedPicture) {
  const QString path = TempPath("turn.png");
  ASSERT_TRUE(Sample(6, 2).save(path));
  TFMXBitmapEx bitmap;
  ASSERT_TRUE(bitmap.LoadFromFileEx(path, 90));
  EXPECT_EQ(bitmap.size(), QSize(2, 6));
}

TEST(FMXBitmapEx, CodecPicturesOutliveTheirLoader) {
  // The decoded memory is adopted by the image; copies keep it alive after the bitmap goes.
  const QString path = TempPath("adopt.psd");
  TFMXBitmapEx source(4, 4);
  source.fill(qRgba(9, 8, 7, 255));
  ASSERT_TRUE(source.SaveToFileEx(path));
  QImage copy;
  {
    TFMXBitmapEx bitmap;
    ASSERT_TRUE(bitmap.LoadFromFileEx(path));
    copy = bitmap;
  }
  EXPECT_EQ(copy.pixel(3, 3), qRgba(9, 8, 7, 255));
}

TEST(FMXBitmapEx, StillImageOpen) {
  const QString path = TempPath("still.png");
  ASSERT_TRUE(Sample(5, 7).save(path));
  QSize size;
  QImage picture;
  int calls = 0;
  auto onSize = [&](int w, int h) { size = QSize(w, h); ++calls; };
  auto onPicture = [&](const QImage& image) { picture = image.copy(); ++calls; };
  EXPECT_EQ(OpenStillImage(path, onSize, onPicture), path);
  EXPECT_EQ(calls, 2);
  EXPECT_EQ(size, QSize(5, 7));
  EXPECT_EQ(picture.size(), QSize(5, 7));

  calls = 0;
  EXPECT_TRUE(OpenStillImage(TempPath("missing.png"), onSize, onPicture).isEmpty());
  std::string why;
  EXPECT_TRUE(OpenStillImage(TempPath("still.tiff"), onSize, onPicture, &why).isEmpty());
  EXPECT_EQ(why, "the file does not exist");
  EXPECT_EQ(calls, 0);
}

} // namespace
