#include <gtest/gtest.h>

#include <QFile>
#include <QLocale>

#include "TestSupport.h"
#include "app/settings/Setup.h"

using namespace skm;

namespace {

QString TempIni(const QByteArray& bytes) {
  const QString path = QString::fromStdString(skmtest::MakeTempDir()) + "/s.ini";
  if (!bytes.isNull()) {
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(bytes);
  }
  return path;
}

QByteArray ReadAll(const QString& path) {
  QFile f(path);
  f.open(QIODevice::ReadOnly);
  return f.readAll();
}

// Each test starts from the built-in values.
class Settings : public ::testing::Test {
protected:
  void SetUp() override {
    gSettings = TSettings{};
    SettingsDefaultsKeep();
  }
};

} // namespace

TEST_F(Settings, DefaultFileBytes) {
  const QString path = TempIni(QByteArray());
  QString err;
  ASSERT_TRUE(SettingsSaveTo(path, &err)) << err.toStdString();
  EXPECT_EQ(ReadAll(path).toStdString(),
            "\xEF\xBB\xBF"
            "[Theme]\r\nMode=0\r\n\r\n"
            "[TraTrack]\r\nRange0FWD1=1\r\nRange0FWD2=3\r\n\r\n"
            "[TraLayer]\r\nBtnBWardD=10\r\nBtnFWardD=30\r\nKeyXWard0D=1\r\nKeyXWard1D=5\r\nKeyXWard3D=10\r\n\r\n"
            "[Setup]\r\nZPPWBrdAutoSave=0\r\nVPOAutoSave=0\r\n\r\n"
            "[SnapBitmap]\r\nDoSnapBitmap=0\r\nCounts=16\r\nAlpha=2\r\n\r\n");
}

TEST_F(Settings, LoadEdgeCases) {
  struct Row {
    const char* text;
    std::function<bool()> check;
    const char* what;
  };
  const Row rows[] = {
      {"[TraTrack]\nRange0FWD1=1.25\n", [] { return gSettings.Range0FWD1 == 12'000'000; }, "1.25 reads as 1.2 s"},
      {"[TraTrack]\nRange0FWD1=0.05\n", [] { return gSettings.Range0FWD1 == 1'000'000; }, "0.05 clamps to 0.1 s"},
      {"[TraTrack]\nRange0FWD2=12\n",
       [] { return gSettings.Range0FWD2 == 90'000'000 && gSettings.Range0FWD1 == 10'000'000; }, "12 clamps to 9 s"},
      {"[TraTrack]\nRange0FWD2=1\n", [] { return gSettings.Range0FWD2 == 30'000'000; }, "1 clamps to 3 s"},
      {"[TraLayer]\nBtnBWardD=-1\n", [] { return gSettings.BtnBWardD == 600'000'000; }, "negative time wraps, clamps high"},
      {"[TraLayer]\nKeyXWard1D=-3\n", [] { return gSettings.KeyXWard1D == 9; }, "-3 frames unsigned clamps to 9"},
      {"[SnapBitmap]\nCounts=-3\n", [] { return gSettings.Counts == 2; }, "-3 counts signed clamps to 2"},
      {"[SnapBitmap]\nCounts=100\n", [] { return gSettings.Counts == 40; }, "100 counts clamps to 40"},
      {"[Theme]\nMode=7\n", [] { return gSettings.Mode == 0; }, "mode 7 is auto"},
      {"[Theme]\nMode=2\n", [] { return gSettings.Mode == 2; }, "mode 2 stays"},
      {"[Setup]\nZPPWBrdAutSave=1\n", [] { return gSettings.ZPPWBrdAutoSave; }, "old key turns auto-save on"},
      {"[Setup]\nZPPWBrdAutSave=1\nZPPWBrdAutoSave=0\n", [] { return !gSettings.ZPPWBrdAutoSave; }, "new key wins"},
      {"[setup]\nvpoautosave=5\n", [] { return gSettings.VPOAutoSave; }, "any case, non-zero is true"},
      {"[TraLayer]\nBtnFWardD=abc\n", [] { return gSettings.BtnFWardD == 300'000'000; }, "bad number keeps value"},
      {"[SnapBitmap]\nAlpha=0.3\n", [] { return gSettings.Alpha == 0.3f; }, "alpha as float"},
      {"[SnapBitmap]\nAlpha=9\n", [] { return gSettings.Alpha == 4.0f; }, "alpha clamps to 4"},
      {"[SnapBitmap]\nAlpha=0.01\n", [] { return gSettings.Alpha == 0.1f; }, "alpha clamps to 0.1"},
      {"\xEF\xBB\xBF[TraLayer]\r\nKeyXWard3D=0x10\r\n", [] { return gSettings.KeyXWard3D == 16; }, "hex integer"},
  };
  for (const Row& r : rows) {
    gSettings = TSettings{};
    SettingsLoadFrom(TempIni(r.text));
    EXPECT_TRUE(r.check()) << r.what;
  }
}

TEST_F(Settings, OldKeyIsReplacedAndUnknownKeysSurvive) {
  const QString path = TempIni("[Extra]\r\nMine=yes\r\n\r\n[Setup]\r\nZPPWBrdAutSave=1\r\nOther=3\r\n\r\n");
  SettingsLoadFrom(path);
  ASSERT_TRUE(gSettings.ZPPWBrdAutoSave);
  ASSERT_TRUE(SettingsSaveTo(path));
  const QByteArray text = ReadAll(path);
  EXPECT_TRUE(text.contains("[Extra]\r\nMine=yes\r\n\r\n"));
  EXPECT_TRUE(text.contains("Other=3\r\n"));
  EXPECT_TRUE(text.contains("ZPPWBrdAutoSave=1\r\n"));
  EXPECT_FALSE(text.contains("ZPPWBrdAutSave"));
}

TEST_F(Settings, AlphaWrittenWithFullPrecisionAndTimesRoundTrip) {
  const QString path = TempIni(QByteArray());
  gSettings.Alpha = 0.3f;
  gSettings.Range0FWD1 = SecondsToTime(1.25);
  ASSERT_TRUE(SettingsSaveTo(path));
  const QByteArray text = ReadAll(path);
  EXPECT_TRUE(text.contains("Alpha=0.300000011920929\r\n"));
  EXPECT_TRUE(text.contains("Range0FWD1=1.2\r\n"));
  gSettings = TSettings{};
  SettingsLoadFrom(path);
  EXPECT_EQ(gSettings.Alpha, 0.3f);
  EXPECT_EQ(gSettings.Range0FWD1, 12'000'000u);
}

TEST_F(Settings, ReadsTheLocaleSeparatorToo) {
  const QLocale old;
  QLocale::setDefault(QLocale(QLocale::German));
  SettingsLoadFrom(TempIni("[SnapBitmap]\nAlpha=1,5\n[TraLayer]\nBtnBWardD=2.5\n"));
  EXPECT_EQ(gSettings.Alpha, 1.5f);
  EXPECT_EQ(gSettings.BtnBWardD, 25'000'000u);
  const QString path = TempIni(QByteArray());
  ASSERT_TRUE(SettingsSaveTo(path));
  EXPECT_TRUE(ReadAll(path).contains("Alpha=1.5\r\n")); // always written with "."
  QLocale::setDefault(old);
}

TEST_F(Settings, DefaultsCopyIsTheBuiltInValues) {
  SettingsLoadFrom(TempIni("[TraLayer]\nKeyXWard1D=7\n"));
  EXPECT_EQ(gSettings.KeyXWard1D, 7u);
  EXPECT_EQ(gSettingsDefaults.KeyXWard1D, 5u);
}

TEST_F(Settings, MissingFileKeepsDefaultsAndFailedSaveIsReported) {
  SettingsLoadFrom("/nonexistent/folder/s.ini");
  EXPECT_EQ(gSettings.Counts, 16);
  QString err;
  EXPECT_FALSE(SettingsSaveTo("/nonexistent/folder/s.ini", &err));
  EXPECT_FALSE(err.isEmpty());
}

TEST(FileKind, Table) {
  struct Row {
    const char* name;
    int kind;
  };
  const Row rows[] = {
      {"", 0},           {"a.jpg", 1},          {"A.JPG", 1},          {"x.jpeg", 1}, {"x.png", 1},
      {"x.bmp", 1},      {"x.psd", 1},          {"x.hdr", 1},          {"x.mp4", 2},  {"x.MP4", 2},
      {"x.tga", 0},      {"x.TGA", 0},          {"noext", 0},          {"dir.mp4/file", 0},
      {"/a/b.c/movie.mp4", 2}, {".png", 1},           {"x.png.txt", 0},
  };
  for (const Row& r : rows) EXPECT_EQ(FileKind(r.name), r.kind) << r.name;
  // Every container FFmpeg reads that people keep movies in, in any case.
  for (const char* e : {"mov", "m4v", "mkv", "webm", "avi", "mpg", "mpeg", "ts", "mts", "m2ts", "wmv",
                        "flv", "ogv", "3gp"}) {
    const QString lower = QStringLiteral("/films/clip.") + e;
    EXPECT_EQ(FileKind(lower), 2) << e;
    EXPECT_EQ(FileKind(lower.toUpper()), 2) << e;
    EXPECT_EQ(FileKind(QStringLiteral("clip.") + QString(e).left(1).toUpper() + QString(e).mid(1)), 2) << e;
  }
}
