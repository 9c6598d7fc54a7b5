// The pen palette: which presets show selected for a style, what a preset click makes of
// the current style, the buttons' pictures and their clicks.
#include <QCoreApplication>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

#include "canvas/SkTraBtn.h"
#include "controls/SvgPath.h"
#include "controls/TickSource.h"

namespace {

using namespace skm;

uint32_t gTick = 0;

class Palette : public ::testing::Test {
protected:
  void SetUp() override {
    gTick = 1000;
    SetTickSource([] { return gTick; });
    host = std::make_unique<QWidget>();
    host->setAttribute(Qt::WA_DontShowOnScreen);
    host->resize(960, 120);
    host->show();
  }
  void TearDown() override {
    host.reset();
    SetTickSource({});
  }
  static void Flush() {
    for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
  }
  // The five panels as the owner creates them.
  void MakePanels() {
    for (size_t i = 0; i < kColorPresets.size(); ++i)
      colors.push_back(TSkTraBtnColor::CreateParam(host.get(), 60 * int(i), 0, true, click, {}, kColorPresets[i]));
    for (size_t i = 0; i < kThicknessPresets.size(); ++i)
      thicknesses.push_back(TSkTraBtnThickness::CreateParam(host.get(), 60 * int(i), 0, true, click, {}, kThicknessPresets[i]));
    for (size_t i = 0; i < kDashPresets.size(); ++i)
      dashes.push_back(TSkTraBtnDash::CreateParam(host.get(), 60 * int(i), 0, true, click, {}, kDashPresets[i]));
    for (int i = 0; i < 16; ++i)
      kinds.push_back(TSkTraBtnKind::CreateParam(host.get(), 60 * (i % 8), 60 * (i / 8), true, click, {}, KindPreset(i)));
    for (size_t i = 0; i < kPenPresets.size(); ++i)
      pens.push_back(TSkTraBtn::CreateParam(host.get(), 60 * int(i), 0, true, click, {}, kPenPresets[i]));
  }
  template <class T> static std::vector<int> Selected(const std::vector<T*>& panel, const TStrokeStyle& s) {
    std::vector<int> out;
    for (size_t i = 0; i < panel.size(); ++i) {
      panel[i]->isDownSet(s);
      if (panel[i]->isDown()) out.push_back(int(i));
    }
    return out;
  }

  std::unique_ptr<QWidget> host;
  int clicks = 0;
  TNotifyEvent click = [this](QObject*) { ++clicks; };
  std::vector<TSkTraBtnColor*> colors;
  std::vector<TSkTraBtnThickness*> thicknesses;
  std::vector<TSkTraBtnDash*> dashes;
  std::vector<TSkTraBtnKind*> kinds;
  std::vector<TSkTraBtn*> pens;
};

TEST_F(Palette, PanelsSelectWhatMatchesTheStyle) {
  MakePanels();
  struct Case {
    TStrokeStyle style;
    std::vector<int> colors, thicknesses, dashes, kinds, pens;
  } cases[] = {
      // A translucent pink marker: second-row pen, colour by RGB alone, thickness 30, pen 7.
      {{TPathKind::pkDraw, 0x88FF3399u, TStrokeDash::Solid, 30}, {6}, {6}, {0}, {8}, {7}},
      // Pen 1 at the start.
      {kPenPresets[1], {1}, {3}, {0}, {0}, {1}},
      // The eraser: no kind button, no colour.
      {kEraserStyle, {}, {5}, {0}, {}, {}},
      // A translucent rainbow brush with a dash.
      {{TPathKind::pkBrush1, 0x88000001u, TStrokeDash::DashDot, 2}, {8}, {}, {3}, {15}, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Selected(colors, c.style), c.colors);
    EXPECT_EQ(Selected(thicknesses, c.style), c.thicknesses);
    EXPECT_EQ(Selected(dashes, c.style), c.dashes);
    EXPECT_EQ(Selected(kinds, c.style), c.kinds);
    EXPECT_EQ(Selected(pens, c.style), c.pens);
  }
}

TEST_F(Palette, PresetsApplyTheirPartOfTheStyle) {
  MakePanels();
  const TStrokeStyle marker{TPathKind::pkDraw, 0x88FF3399u, TStrokeDash::Solid, 30};
  struct Case {
    const char* name;
    TSkTraBtnBase* preset;
    TStrokeStyle from, to;
  } cases[] = {
      {"rainbow over a marker", colors[8], marker, {TPathKind::pkDraw, 0x88000001u, TStrokeDash::Solid, 30}},
      {"opaque kind over a marker", kinds[0], marker, {TPathKind::pkDraw, 0xFFFF3399u, TStrokeDash::Solid, 30}},
      {"translucent oval", kinds[11], kPenPresets[1], {TPathKind::pkOval, 0x88FF3333u, TStrokeDash::Solid, 10}},
      {"thickness", thicknesses[7], marker, {TPathKind::pkDraw, 0x88FF3399u, TStrokeDash::Solid, 40}},
      {"dash", dashes[4], marker, {TPathKind::pkDraw, 0x88FF3399u, TStrokeDash::DashDotDot, 30}},
      {"pen replaces everything", pens[8], marker, kPenPresets[8]},
      {"colour keeps the eraser's alpha", colors[1], kEraserStyle, {TPathKind::pkErase, 0x00FF3333u, TStrokeDash::Solid, 25}},
  };
  for (const Case& c : cases) EXPECT_TRUE(c.preset->SetToStrokeStyle(c.from) == c.to) << c.name;
  // A pen chosen while the style equals another pen selects only itself.
  EXPECT_EQ(Selected(pens, pens[4]->SetToStrokeStyle(kPenPresets[5])), std::vector<int>{4});
}

TEST_F(Palette, ToolbarButtonsFollowTheStyle) {
  auto* color = TSkTraBtnColor::CreateParam(host.get(), 60, 0, false, click, {}, 0x88FF3399u);
  auto* kind = TSkTraBtnKind::CreateParam(host.get(), 240, 0, false, click, {}, kPenPresets[4]);
  Flush();
  EXPECT_EQ(color->Color(), 0xFFFF3399u);
  EXPECT_EQ(kind->Kind(), TPathKind::pkDraw);
  EXPECT_EQ(kind->Color(), 0x88000000u);
  const int draws = kind->DrawRequests();
  kind->GetFromStrokeStyle({TPathKind::pkDraw, 0x88123456u, TStrokeDash::Dot, 3}); // same kind and alpha
  EXPECT_EQ(kind->DrawRequests(), draws);
  kind->GetFromStrokeStyle(kEraserStyle);
  EXPECT_EQ(kind->DrawRequests(), draws + 1);
  EXPECT_EQ(kind->Color(), 0u);
  color->GetFromStrokeStyle({TPathKind::pkDraw, 0x00000001u, TStrokeDash::Solid, 1});
  EXPECT_EQ(color->Color(), 0xFF000001u);
  // The eraser's kind has no icon: the button stays transparent even when selected.
  kind->isDownSet(kEraserStyle);
  EXPECT_TRUE(kind->isDown());
  Flush();
  const QImage& bmp = kind->Bitmap();
  bool any = false;
  for (int y = 0; y < bmp.height(); ++y)
    for (int x = 0; x < bmp.width(); ++x) any |= qAlpha(bmp.pixel(x, y)) != 0;
  EXPECT_FALSE(any);
}

TEST_F(Palette, Pictures) {
  // Thickness dots: 40 on a 60-pixel button has radius 20; 100 is capped at 30.
  EXPECT_DOUBLE_EQ(TSkTraBtnThickness::DotRadius(60, 40), 20);
  EXPECT_DOUBLE_EQ(TSkTraBtnThickness::DotRadius(60, 100), 30);
  auto* dot = TSkTraBtnThickness::CreateParam(host.get(), 0, 0, true, click, {}, 40);
  auto* pen = TSkTraBtn::CreateParam(host.get(), 60, 0, true, click, {}, kPenPresets[2]);
  auto* rainbow = TSkTraBtnColor::CreateParam(host.get(), 120, 0, true, click, {}, 0x00000001u);
  auto* checked = TSkTraBtnColor::CreateParam(host.get(), 180, 0, true, click, {}, 0xFF3399FFu);
  checked->SetIsDown(true);
  Flush();
  ASSERT_EQ(dot->Bitmap().size(), QSize(60, 60));
  EXPECT_EQ(dot->Bitmap().pixel(30 + 18, 30), 0xFFFFFFFFu);
  EXPECT_EQ(qAlpha(dot->Bitmap().pixel(30 + 22, 30)), 0);
  dot->SetIsDown(true);
  Flush();
  EXPECT_EQ(qAlpha(dot->Bitmap().pixel(30, 30)), 0); // inverted: the dot is cut out
  EXPECT_EQ(dot->Bitmap().pixel(2, 2), 0xFFFFFFFFu);
  // A pen shows its colour as the background.
  EXPECT_EQ(pen->Bitmap().pixel(2, 2), 0xFF3399FFu);
  // The rainbow button has stripes of several colours.
  EXPECT_NE(rainbow->Bitmap().pixel(5, 55), rainbow->Bitmap().pixel(30, 45));
  // A selected colour shows the check mark in the foreground colour.
  EXPECT_EQ(checked->Bitmap().pixel(2, 2), 0xFF3399FFu);
  EXPECT_EQ(checked->Bitmap().pixel(21, 34), 0xFFFFFFFFu);
  // The theme setter sets both colours; CreateParam sets only the foreground.
  EXPECT_EQ(pen->BColor(), kColorBlack);
  pen->SetIsDark(false);
  EXPECT_EQ(pen->FColor(), kColorBlack);
  EXPECT_EQ(pen->BColor(), kColorWhite);
}

TEST_F(Palette, IconsParse) {
  for (int k = 0; k < kPathKindCount; ++k) {
    const auto kind = static_cast<TPathKind>(k);
    for (uint32_t c : {0xFF000000u, 0x88000000u}) {
      const QString data = KindSVGData(kind, c);
      const bool tool = k >= 1 && k <= 8;
      EXPECT_EQ(data.isEmpty(), !tool) << k;
      if (!tool) continue;
      const QPainterPath path = ParseSvgPath(data);
      EXPECT_FALSE(path.isEmpty()) << k;
      const QRectF r = path.boundingRect();
      EXPECT_GE(r.left(), -1e-6) << k;
      EXPECT_LE(r.right(), 1 + 1e-6) << k;
      EXPECT_GE(r.top(), -1e-6) << k;
      EXPECT_LE(r.bottom(), 1 + 1e-6) << k;
    }
  }
  EXPECT_NE(KindSVGData(TPathKind::pkDraw, 0xFF000000u), KindSVGData(TPathKind::pkDraw, 0x88000000u));
  EXPECT_FALSE(ParseSvgPath(kCheckMarkSVG).isEmpty());
}

TEST_F(Palette, ClicksRightClicksAndLongPresses) {
  auto* preset = TSkTraBtnColor::CreateParam(host.get(), 0, 0, true, click, {}, 0xFFFF3333u);
  preset->show();
  Flush();
  QTest::mouseClick(preset, Qt::RightButton, {}, QPoint(30, 30));
  EXPECT_EQ(clicks, 0); // presets have no right-click action
  QTest::mousePress(preset, Qt::LeftButton, {}, QPoint(30, 30));
  gTick += 2500;
  QTest::mouseRelease(preset, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(clicks, 1); // a long press still applies it
  // With a right-click action, the right button and a long press run it.
  int rights = 0;
  preset->SetOnExecuteR([&](QObject*) { ++rights; });
  QTest::mouseClick(preset, Qt::RightButton, {}, QPoint(30, 30));
  QTest::mousePress(preset, Qt::LeftButton, {}, QPoint(30, 30));
  gTick += 2000;
  QTest::mouseRelease(preset, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(rights, 2);
  QTest::mouseClick(preset, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_EQ(clicks, 2);
  // Released outside: nothing.
  QTest::mousePress(preset, Qt::LeftButton, {}, QPoint(30, 30));
  QTest::mouseRelease(preset, Qt::LeftButton, {}, QPoint(90, 30));
  EXPECT_EQ(clicks, 2);
}

} // namespace
