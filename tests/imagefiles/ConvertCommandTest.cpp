#include <gtest/gtest.h>

#include <QFile>

#include "TestImages.h"
#include "TestSupport.h"
#include "imagefiles/ConvertCommand.h"
#include "imagefiles/FMXBitmapEx.h"

using namespace skm;
using namespace skmtest;

namespace {

TEST(ConvertCommand, ConvertsAndReportsFailures) {
  const QString dir = QString::fromStdString(MakeTempDir());
  TFMXBitmapEx source(7, 5);
  source.fill(qRgba(40, 80, 120, 255));
  source.setPixel(0, 0, qRgba(0, 0, 0, 0));  // one transparent pixel
  source.hasAlpha = true;
  ASSERT_TRUE(source.SaveToFileEx(dir + "/in.tga"));

  struct Case {
    const char* in;
    const char* out;
    int code;
  };
  const std::vector<Case> cases = {
      {"in.tga", "out.png", 0},
      {"out.png", "out.psd", 0},
      {"out.psd", "out.tga", 0},
      {"in.tga", "round.tga", 0},
      {"missing.tga", "never.png", 1},
      {"in.unknown", "never2.png", 1},
      {"in.tga", "out.hdr", 2},
      {"in.tga", "out.txt", 2},
      {"in.tga", "nodir/out.png", 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.in) + " -> " + c.out);
    EXPECT_EQ(RunConvertCommand(dir + "/" + c.in, dir + "/" + c.out), c.code);
    EXPECT_EQ(QFile::exists(dir + "/" + c.out), c.code == 0);
  }
  TFMXBitmapEx back;
  ASSERT_TRUE(back.LoadFromFileEx(dir + "/round.tga"));
  EXPECT_EQ(back.pixel(3, 3), qRgba(40, 80, 120, 255));
  EXPECT_EQ(qAlpha(back.pixel(0, 0)), 0);  // transparency kept: a 32-bit file was written
  ASSERT_TRUE(back.LoadFromFileEx(dir + "/out.tga"));  // via PSD: opaque
  EXPECT_EQ(back.pixel(3, 3), qRgba(40, 80, 120, 255));
}

} // namespace
