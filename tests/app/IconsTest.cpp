// Every icon of the main window reads as path data within the unit square.
#include <gtest/gtest.h>

#include "app/Icons.h"
#include "controls/SvgPath.h"

TEST(Icons, EveryIconIsAShapeInTheUnitSquare) {
  using namespace skm::icons;
  const char* all[] = {kOpens, kPens,  kEraser, kEraseAll, kCenter1, kCenter2, kRedo, kUndo,
                       kWbrd,  kOpen1, kOpen2,  kSetup,    kAbout,   kMenu,    kPlay, kPause};
  for (const char* data : all) {
    const QPainterPath p = skm::ParseSvgPath(QString::fromLatin1(data));
    ASSERT_FALSE(p.isEmpty()) << data;
    const QRectF b = p.boundingRect();
    EXPECT_GE(b.left(), 0.0) << data;
    EXPECT_GE(b.top(), 0.0) << data;
    EXPECT_LE(b.right(), 1.0) << data;
    EXPECT_LE(b.bottom(), 1.0) << data;
    EXPECT_GT(b.width() * b.height(), 0.25) << data; // fills a good part of the button
  }
  // The open buttons tell the lanes apart by which sheet is filled: different shapes.
  EXPECT_NE(skm::ParseSvgPath(kOpen1), skm::ParseSvgPath(kOpen2));
}
