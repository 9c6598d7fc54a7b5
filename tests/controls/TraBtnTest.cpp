#include <QKeyEvent>
#include <QPainter>
#include <QPointer>
#include <QTest>
#include <vector>

#include "ControlsTestUtil.h"
#include "controls/TraBtn.h"

using namespace skm;
using skmtest::ControlsTest;
using skmtest::gFakeTick;

namespace {

const char* const kSquare = "M0,0 L1,0 L1,1 L0,1 Z";

class TraBtnTest : public ControlsTest {
protected:
  TTraBtn* MakeButton() {
    auto* b = new TTraBtn(host.get());
    b->show();
    Flush();
    return b;
  }
  // True when every pixel of the bitmap has this premultiplied value.
  static bool AllPixels(const QImage& img, QRgb value) {
    for (int y = 0; y < img.height(); ++y)
      for (int x = 0; x < img.width(); ++x)
        if (reinterpret_cast<const QRgb*>(img.constScanLine(y))[x] != value) return false;
    return true;
  }
};

TEST_F(TraBtnTest, PropertyWritesQueueOneRepaintOnlyWhenTheyShouldAndPaintLater) {
  auto* b = MakeButton();
  struct Case {
    const char* what;
    std::function<void()> write;
    int queued;
  };
  const std::vector<Case> cases = {
      {"empty Data", [&] { b->SetData(""); }, 0},
      {"icon Data", [&] { b->SetData(kSquare); }, 1},
      {"same icon again", [&] { b->SetData(kSquare); }, 1},
      {"empty Data after icon", [&] { b->SetData(""); }, 0},
      {"BColor changed", [&] { b->SetBColor(0xFF102030); }, 1},
      {"BColor unchanged", [&] { b->SetBColor(0xFF102030); }, 0},
      {"isDown changed", [&] { b->SetIsDown(true); }, 1},
      {"isDown unchanged", [&] { b->SetIsDown(true); }, 0},
      {"isDark", [&] { b->SetIsDark(false); }, 1},
      {"OnExecute", [&] { b->SetOnExecute([](QObject*) {}); }, 0},
      {"TransD", [&] { b->SetTransD(0.3f); }, 0},
  };
  for (const auto& c : cases) {
    const int before = b->DrawRequests();
    const int ran = b->DrawsRun();
    c.write();
    EXPECT_EQ(b->DrawRequests() - before, c.queued) << c.what;
    EXPECT_EQ(b->DrawsRun(), ran) << c.what << ": painted inside the write";
    Flush();
    EXPECT_EQ(b->DrawsRun() - ran, c.queued) << c.what << ": requests are not merged or lost";
  }
}

TEST_F(TraBtnTest, EmptyDataKeepsTheOldPictureUntilTheNextRepaint) {
  auto* b = MakeButton();
  b->SetData(kSquare);
  Flush();
  const QImage withIcon = b->Bitmap().copy();
  b->SetData("");
  Flush();
  EXPECT_EQ(b->Bitmap(), withIcon);
  EXPECT_EQ(b->Data(), "");
  b->SetIsDark(true); // the next repaint draws the now empty icon
  Flush();
  EXPECT_TRUE(AllPixels(b->Bitmap(), 0));
}

TEST_F(TraBtnTest, TransparentButtonWithoutIconIsEmptyOrSolidWhenDown) {
  struct Case {
    bool dark;
    bool down;
    QRgb expected;
  };
  for (const Case c : {Case{true, false, 0u}, Case{false, false, 0u}, Case{true, true, 0xFFFFFFFFu},
                       Case{false, true, 0xFF000000u}}) {
    auto* b = MakeButton();
    b->SetIsDark(c.dark);
    b->SetIsDown(c.down);
    Flush();
    ASSERT_FALSE(b->Bitmap().isNull());
    EXPECT_EQ(b->Bitmap().size(), QSize(60, 60));
    EXPECT_TRUE(AllPixels(b->Bitmap(), c.expected)) << "dark " << c.dark << " down " << c.down;
    delete b;
  }
}

TEST_F(TraBtnTest, IconFillsTheCentralHalfAndDownCutsItOut) {
  struct Case {
    uint32_t bcolor;
    bool down;
    QRgb centre, corner; // premultiplied pixels, dark theme
  };
  const std::vector<Case> cases = {
      {0, false, 0xFFFFFFFF, 0},
      {0, true, 0, 0xFFFFFFFF},
      {0xFF336699, false, 0xFFFFFFFF, 0xFF336699},
      // Only the icon layer is inverted, never the background.
      {0xFF336699, true, 0xFF336699, 0xFFFFFFFF},
  };
  for (const auto& c : cases) {
    auto* b = MakeButton();
    b->SetData(kSquare);
    b->SetBColor(c.bcolor);
    b->SetIsDown(c.down);
    Flush();
    const QImage& img = b->Bitmap();
    EXPECT_EQ(img.pixel(30, 30), c.centre) << std::hex << c.bcolor << " down " << c.down;
    EXPECT_EQ(img.pixel(2, 2), c.corner) << std::hex << c.bcolor << " down " << c.down;
    // Edges of the icon box: 15 and 44 are inside, 14 and 45 outside.
    EXPECT_EQ(img.pixel(15, 15), c.centre);
    EXPECT_EQ(img.pixel(14, 30), c.corner);
    EXPECT_EQ(img.pixel(45, 30), c.corner);
    delete b;
  }
}

TEST_F(TraBtnTest, IsDarkChangesOnlyTheForegroundOfAFilledButton) {
  auto* b = MakeButton();
  b->SetData(kSquare);
  b->SetBColor(0xFF336699);
  for (const bool dark : {false, true, false}) {
    b->SetIsDark(dark);
    Flush();
    EXPECT_EQ(b->isDark(), dark);
    EXPECT_EQ(b->BColor(), 0xFF336699u);
    EXPECT_EQ(b->Bitmap().pixel(2, 2), 0xFF336699u);
    EXPECT_EQ(b->Bitmap().pixel(30, 30), dark ? 0xFFFFFFFFu : 0xFF000000u);
  }
}

TEST_F(TraBtnTest, TranslucentBackgroundDoesNotBuildUpOverRepaints) {
  auto* b = MakeButton();
  b->SetBColor(0x80FF0000);
  Flush();
  const QRgb first = b->Bitmap().pixel(2, 2);
  for (int i = 0; i < 5; ++i) b->SetIsDark(i % 2 == 0);
  Flush();
  EXPECT_EQ(b->Bitmap().pixel(2, 2), first);
  EXPECT_EQ(qAlpha(first), 0x80);
}

TEST(BitmapInvert, EachPixelTakesTheColourAtTheMissingCoverage) {
  struct Case {
    QRgb before;
    uint32_t color;
    QRgb after; // premultiplied
  };
  const std::vector<Case> cases = {
      {0x00000000, 0xFFFFFFFF, 0xFFFFFFFF}, // uncovered: exactly the colour
      {0xFFFFFFFF, 0xFFFFFFFF, 0x00000000}, // covered: a hole
      {0xFF000000, 0xFFFFFFFF, 0x00000000},
      {0x80808080, 0xFFFFFFFF, 0x7F7F7F7F}, // half covered edge: half alpha, premultiplied
      {0x40404040, 0xFF000000, 0xBF000000},
      {0x00000000, 0xFF000000, 0xFF000000},
  };
  QImage img(static_cast<int>(cases.size()), 1, QImage::Format_ARGB32_Premultiplied);
  for (size_t i = 0; i < cases.size(); ++i)
    reinterpret_cast<QRgb*>(img.scanLine(0))[i] = cases[i].before;
  for (size_t i = 0; i < cases.size(); ++i) {
    QImage one = img.copy(static_cast<int>(i), 0, 1, 1);
    BitmapInvert(one, cases[i].color);
    EXPECT_EQ(reinterpret_cast<const QRgb*>(one.constScanLine(0))[0], cases[i].after)
        << "case " << i;
  }
  // Memory order is B, G, R, A: the last byte of a white pixel after inversion is alpha.
  QImage white(1, 1, QImage::Format_ARGB32_Premultiplied);
  white.fill(Qt::transparent);
  BitmapInvert(white, 0xFFFFFFFF);
  const uchar* bytes = white.constBits();
  EXPECT_EQ(bytes[3], 255);
}

TEST_F(TraBtnTest, ReleaseRunsTheRightAction) {
  struct Case {
    const char* what;
    Qt::MouseButton button;
    uint32_t pressTick, releaseTick;
    bool hasL, hasR;
    QPoint release;
    int expectL, expectR;
  };
  const QPoint in(30, 30), out(70, 30);
  const std::vector<Case> cases = {
      {"left click", Qt::LeftButton, 1000, 1100, true, true, in, 1, 0},
      {"right click with OnExecuteR", Qt::RightButton, 1000, 1100, true, true, in, 0, 1},
      {"right click without OnExecuteR", Qt::RightButton, 1000, 1100, true, false, in, 0, 0},
      {"left released outside", Qt::LeftButton, 1000, 1100, true, true, out, 0, 0},
      {"right released outside", Qt::RightButton, 1000, 1100, true, true, out, 0, 0},
      {"left held 1999 ms", Qt::LeftButton, 1000, 2999, true, true, in, 1, 0},
      {"left held 2000 ms", Qt::LeftButton, 1000, 3000, true, true, in, 0, 1},
      {"left held 2000 ms without OnExecuteR", Qt::LeftButton, 1000, 3000, true, false, in, 1, 0},
      {"middle click", Qt::MiddleButton, 1000, 1100, true, true, in, 0, 0},
      {"middle held 2000 ms", Qt::MiddleButton, 1000, 3000, true, true, in, 0, 1},
      {"short press across the tick wrap", Qt::LeftButton, 0xFFFFFFF0u, 0x10, true, true, in, 1, 0},
      {"long press across the tick wrap", Qt::LeftButton, 0xFFFFFC18u, 1000, true, true, in, 0, 1},
  };
  for (const auto& c : cases) {
    auto* b = MakeButton();
    int l = 0, r = 0;
    QObject* sender = nullptr;
    if (c.hasL) b->SetOnExecute([&](QObject* s) { ++l, sender = s; });
    if (c.hasR) b->SetOnExecuteR([&](QObject* s) { ++r, sender = s; });
    gFakeTick = c.pressTick;
    QTest::mousePress(b, c.button, {}, in);
    EXPECT_EQ(b->DnMode(), dmDn) << c.what;
    gFakeTick = c.releaseTick;
    QTest::mouseRelease(b, c.button, {}, c.release);
    EXPECT_EQ(l, c.expectL) << c.what;
    EXPECT_EQ(r, c.expectR) << c.what;
    if (l + r > 0) {
      EXPECT_EQ(sender, b) << c.what;
    }
    EXPECT_EQ(b->DnMode(), dmUp) << c.what;
    delete b;
  }
}

TEST_F(TraBtnTest, ActionThatDestroysTheButtonEndsTheRelease) {
  QPointer<TTraBtn> b = MakeButton();
  b->SetOnExecute([&](QObject*) { delete b.data(); });
  QTest::mousePress(b, Qt::LeftButton, {}, QPoint(10, 10));
  QTest::mouseRelease(b, Qt::LeftButton, {}, QPoint(10, 10));
  EXPECT_TRUE(b.isNull());
}

TEST_F(TraBtnTest, OpacityFollowsHoverAndPress) {
  auto* b = MakeButton();
  struct Step {
    const char* what;
    std::function<void()> act;
    float opacity;
  };
  const std::vector<Step> steps = {
      {"constructed", [] {}, 0.5f},
      {"enter", [&] { b->BtnMouseEnter(); }, 0.6f},
      {"press", [&] { b->BtnMouseDown(b, Qt::LeftButton, {}, 5, 5); }, 1.0f},
      {"TransP written while pressed", [&] { b->SetTransP(0.9f); }, 0.9f},
      {"release", [&] { b->BtnMouseUp(b, Qt::LeftButton, {}, 5, 5); }, 0.6f},
      {"TransH written", [&] { b->SetTransH(0.7f); }, 0.7f},
      {"leave", [&] { b->BtnMouseLeave(); }, 0.5f},
      {"press away from the control", [&] { b->BtnMouseDown(b, Qt::RightButton, {}, 5, 5); }, 0.5f},
      {"TransD written", [&] { b->SetTransD(0.2f); }, 0.2f},
  };
  for (const auto& s : steps) {
    s.act();
    EXPECT_FLOAT_EQ(b->Opacity(), s.opacity) << s.what;
  }
  EXPECT_EQ(b->cursor().shape(), Qt::PointingHandCursor);
}

TEST_F(TraBtnTest, AlignPlacesTheControlAndFollowsTheParent) {
  // host is 600 x 60; the button starts at 50 x 60 and is 20 high once placed at the bottom.
  const struct {
    TAlign align;
    QRect at600x60;
    QRect at300x100;
  } cases[] = {
      {TAlign::Left, {0, 0, 50, 60}, {0, 0, 50, 100}},
      {TAlign::Right, {550, 0, 50, 60}, {250, 0, 50, 100}},
      {TAlign::Bottom, {0, 40, 600, 20}, {0, 80, 300, 20}},
      {TAlign::Client, {0, 0, 600, 60}, {0, 0, 300, 100}},
      {TAlign::Center, {275, 20, 50, 20}, {125, 40, 50, 20}},
      {TAlign::None, {7, 3, 50, 20}, {7, 3, 50, 20}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.align));
    host->resize(600, 60);
    auto* b = MakeButton();
    b->setGeometry(7, 3, 50, 20);
    b->SetAlign(c.align);
    EXPECT_EQ(b->geometry(), c.at600x60);
    host->resize(300, 100);
    EXPECT_EQ(b->geometry(), c.at300x100);
    delete b;
  }
}

TEST_F(TraBtnTest, CreateParamMakesA50By60ButtonWithItsTheme) {
  int l = 0, r = 0;
  for (const bool dark : {true, false}) {
    auto* b = TTraBtn::CreateParam(host.get(), kSquare, 120, 0, dark, [&](QObject*) { ++l; },
                                   [&](QObject*) { ++r; });
    b->show();
    Flush();
    EXPECT_EQ(b->geometry(), QRect(120, 0, 50, 60));
    EXPECT_EQ(b->isDark(), dark);
    EXPECT_EQ(b->Bitmap().size(), QSize(50, 60));
    EXPECT_EQ(b->Bitmap().pixel(25, 30), dark ? 0xFFFFFFFFu : 0xFF000000u);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(10, 10));
    QTest::mouseClick(b, Qt::RightButton, {}, QPoint(10, 10));
    delete b;
  }
  EXPECT_EQ(l, 2);
  EXPECT_EQ(r, 2);
  TTraBtn plain(host.get());
  EXPECT_EQ(plain.size(), QSize(60, 60));
}

} // namespace

namespace {

// Events sent to the window, as the platform delivers them: Qt routes them to the control
// under the pointer, and after a press to the control that took it.
class TraBtnWindowTest : public ControlsTest {};

TEST_F(TraBtnWindowTest, PressedControlKeepsThePointerUntilRelease) {
  QWidget window;
  window.resize(200, 60);
  auto* b = new TTraBtn(&window);
  auto* other = new TTraBtn(&window);
  other->move(100, 0);
  int l = 0, otherL = 0;
  b->SetOnExecute([&](QObject*) { ++l; });
  other->SetOnExecute([&](QObject*) { ++otherL; });
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QWindow* w = window.windowHandle();
  ASSERT_NE(w, nullptr);

  QTest::mouseMove(w, QPoint(30, 30));
  EXPECT_TRUE(b->isHover());
  EXPECT_FLOAT_EQ(b->Opacity(), 0.6f);
  QTest::mousePress(w, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(b->DnMode(), dmDn);
  EXPECT_FLOAT_EQ(b->Opacity(), 1.0f);
  // Dragged over the other button and released there: the press's control gets it, sees
  // it outside itself and runs nothing; the other button never saw a press.
  QTest::mouseMove(w, QPoint(130, 30));
  QTest::mouseRelease(w, Qt::LeftButton, {}, QPoint(130, 30));
  EXPECT_EQ(l, 0);
  EXPECT_EQ(otherL, 0);
  EXPECT_EQ(b->DnMode(), dmUp);
  EXPECT_EQ(other->DnMode(), dmUp);

  QTest::mouseClick(w, Qt::LeftButton, {}, QPoint(130, 30));
  EXPECT_EQ(otherL, 1);
  EXPECT_EQ(l, 0);
}

} // namespace
