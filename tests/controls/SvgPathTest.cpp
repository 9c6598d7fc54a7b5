#include <gtest/gtest.h>

#include <vector>

#include "controls/SvgPath.h"

using skm::ParseSvgPath;

namespace {

TEST(SvgPath, ReadsAbsoluteLinesAndCurves) {
  struct Case {
    const char* data;
    QRectF bounds;
    int elements;
  };
  const std::vector<Case> cases = {
      {"M0,0 L1,0 L1,1 Z", QRectF(0, 0, 1, 1), 4},
      {"M0.25,0.5L0.75,0.5 0.5,1Z", QRectF(0.25, 0.5, 0.5, 0.5), 4}, // repeated L, no spaces
      {"M0 0 1 0 1 1", QRectF(0, 0, 1, 1), 3},                          // pairs after M are lines
      {"M0,0 C0,1 1,1 1,0 Z", QRectF(0, 0, 1, 0.75), 5},
      {"  M 0.1 , 0.2\n L 1e-1 , 9E-1 \t Z ", QRectF(0.1, 0.2, 0, 0.7), 3},
      {"M.5,-.5 L+1,1", QRectF(0.5, -0.5, 0.5, 1.5), 2},
  };
  for (const auto& c : cases) {
    const QPainterPath p = ParseSvgPath(c.data);
    EXPECT_EQ(p.elementCount(), c.elements) << c.data;
    const QRectF b = p.boundingRect();
    EXPECT_NEAR(b.left(), c.bounds.left(), 1e-9) << c.data;
    EXPECT_NEAR(b.top(), c.bounds.top(), 1e-9) << c.data;
    EXPECT_NEAR(b.width(), c.bounds.width(), 1e-9) << c.data;
    EXPECT_NEAR(b.height(), c.bounds.height(), 1e-9) << c.data;
    EXPECT_EQ(p.fillRule(), Qt::WindingFill) << c.data;
  }
}

TEST(SvgPath, DataThatDoesNotParseGivesAnEmptyPath) {
  const char* const cases[] = {
      "",          "   ",           "L0,0 L1,1",        "M0",          "M0,0 L1",
      "m0,0 l1,1", "M0,0 Q1,1 2,2", "M0,0 C1,1 2,2",    "M0,0 H1",     "abc",
      "M0,0 L1,x", "M0,0 Lnan,1",   "M0,0 Linf,1",      "M1e999,0 L1,1", "M0,0 L1,1 2",
      "M0,0,",     "0,0 L1,1",      "M0,0 L0x10,1",     "M-,0 L1,1",   "M0,0 Z 5",
  };
  for (const char* c : cases) EXPECT_TRUE(ParseSvgPath(c).isEmpty()) << '"' << c << '"';
}

} // namespace
