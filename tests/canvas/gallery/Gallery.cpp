#include "Gallery.h"

#include <QCoreApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QWidget>
#include <functional>
#include <memory>
#include <vector>

#include "annotation/SkPath.h"
#include "canvas/SkImage.h"
#include "canvas/SkTraBtn.h"

namespace skmcanvasgallery {
namespace {

using namespace skm;

constexpr int kLabelWidth = 130;
constexpr int kStep = 62;
constexpr int kTitle = 26;
constexpr int kPanels = 5;
constexpr int kStates = 4;
constexpr int kBlock = kPanels * kStep + 10; // one state: five panel lines
constexpr int kThemeHeight = kTitle + kStates * kBlock;
constexpr int kWidth = kLabelWidth + 16 * kStep + 10;
constexpr int kCanvasW = 640, kCanvasH = 360;
constexpr int kCanvasTop = 2 * kThemeHeight + kTitle;
constexpr int kHeight = kCanvasTop + kCanvasH + 20;

void Flush() {
  for (int i = 0; i < 4; ++i) QCoreApplication::sendPostedEvents();
}

// A lane picture: a gradient with a few bars, so the stacking shows.
QImage LanePicture(int w, int h, QColor a, QColor b, bool vertical) {
  QImage img(w, h, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  QLinearGradient g(0, 0, vertical ? 0 : w, vertical ? h : 0);
  g.setColorAt(0, a);
  g.setColorAt(1, b);
  p.fillRect(img.rect(), g);
  p.setPen(QPen(Qt::white, h / 60.0));
  for (int i = 1; i < 8; ++i) {
    if (vertical) p.drawLine(QPointF(w * i / 8.0, 0), QPointF(w * i / 8.0, h));
    else p.drawLine(QPointF(0, h * i / 8.0), QPointF(w, h * i / 8.0));
  }
  return img;
}

std::unique_ptr<TSkPath> Shape(TStrokeStyle s, TPointF a, TPointF b) {
  auto r = TSkPath::CreatePathDn(s, a.X, a.Y);
  r->ModPathMv(b.X, b.Y);
  r->StrokeStyleKindDraw();
  return r;
}

std::unique_ptr<TSkPath> Wave(TStrokeStyle s, TPointF a, float len, float amp, int n) {
  TPolygon pts;
  for (int i = 0; i <= n; ++i) {
    const float t = static_cast<float>(i) / n;
    pts.push_back({a.X + len * t, a.Y + amp * std::sin(t * 6.2832f * 1.5f)});
  }
  return TSkPath::CreatePath(s, pts);
}

// One sample of every stroke kind, in canvas units.
void Samples(TSkPaths& list) {
  using K = TPathKind;
  list.Add(Wave({K::pkDraw, 0xFF121212u, TStrokeDash::Solid, 10}, {60, 80}, 300, 30, 40));
  list.Add(Wave({K::pkDraw, 0xFFFF3333u, TStrokeDash::Dash, 8}, {60, 170}, 300, 30, 40));
  list.Add(TSkPath::CreatePath({K::pkDraw, 0x883399FFu, TStrokeDash::Solid, 30},
                               {{80, 260}, {300, 380}, {300, 260}, {80, 380}})); // self-crossing marker
  list.Add(Shape({K::pkLine, 0xFFFF9933u, TStrokeDash::Solid, 10}, {420, 60}, {620, 160}));
  list.Add(Shape({K::pkRect, 0xFF3399FFu, TStrokeDash::Solid, 10}, {420, 220}, {620, 330}));
  list.Add(Shape({K::pkOval, 0x8833FF99u, TStrokeDash::Solid, 20}, {520, 470}, {610, 530}));
  list.Add(Shape({K::pkLineAr0, 0xFF3399FFu, TStrokeDash::Solid, 10}, {700, 160}, {900, 60}));
  list.Add(Shape({K::pkLineAr1, 0xFFFF3333u, TStrokeDash::Solid, 8}, {700, 260}, {900, 200}));
  list.Add(Wave({K::pkBrush0, 0xFF121212u, TStrokeDash::Solid, 30}, {700, 380}, 400, 40, 120));
  list.Add(Wave({K::pkBrush1, 0x88FF3399u, TStrokeDash::Solid, 40}, {700, 480}, 400, 40, 60));
  list.Add(Shape({K::pkLine, 0xFF000001u, TStrokeDash::Solid, 14}, {960, 60}, {1220, 160}));    // rainbow line
  list.Add(Shape({K::pkRect, 0x88000001u, TStrokeDash::Solid, 14}, {960, 220}, {1220, 320}));   // rainbow rect
  list.Add(Wave({K::pkDraw, 0xFF99FF33u, TStrokeDash::DashDot, 6}, {60, 470}, 380, 20, 40));
  list.Add(Wave({K::pkDraw, 0xFFEDEDEDu, TStrokeDash::Solid, 24}, {60, 600}, 1150, 20, 80));
  // The eraser cuts through the last (light) stroke.
  list.Add(TSkPath::CreatePath({K::pkDraw, kEraserColor, TStrokeDash::Solid, 25}, {{640, 560}, {640, 660}}));
}

} // namespace

QPoint ButtonOrigin(TTheme theme, TState state, TPanel panel, int index) {
  int x = kLabelWidth + index * kStep;
  int y = theme * kThemeHeight + kTitle + state * kBlock + static_cast<int>(panel) * kStep;
  return {x, y};
}

QRect StackedCanvasRect() { return {10, kCanvasTop, kCanvasW, kCanvasH}; }
QRect SideBySideCanvasRect() { return {kCanvasW + 30, kCanvasTop, kCanvasW, kCanvasH}; }

QImage RenderGallery() {
  auto root = std::make_unique<QWidget>();
  root->setAttribute(Qt::WA_DontShowOnScreen);
  const int width = std::max(kWidth, 2 * kCanvasW + 40);
  root->resize(width, kHeight);
  for (int t = 0; t < 2; ++t) {
    const auto theme = static_cast<TTheme>(t);
    const bool dark = theme == kDark;
    auto* panel = new QWidget(root.get());
    panel->setGeometry(0, t * kThemeHeight, width, kThemeHeight);
    panel->setAutoFillBackground(true);
    QPalette pal = panel->palette();
    pal.setColor(QPalette::Window, QColor::fromRgba(dark ? kDarkPanel : kLightPanel));
    panel->setPalette(pal);
    for (int s = 0; s < kStates; ++s) {
      const auto state = static_cast<TState>(s);
      std::vector<TSkTraBtnBase*> buttons;
      auto at = [&](TPanel p, int i) { return ButtonOrigin(theme, state, p, i); };
      auto place = [&](TSkTraBtnBase* b) {
        b->SetIsDark(dark);
        buttons.push_back(b);
      };
      for (int i = 0; i < 10; ++i) {
        const QPoint o = at(kPens, i);
        place(TSkTraBtn::CreateParam(root.get(), o.x(), o.y(), dark, {}, {}, kPenPresets[static_cast<size_t>(i)]));
      }
      for (int i = 0; i < 9; ++i) {
        const QPoint o = at(kColors, i);
        place(TSkTraBtnColor::CreateParam(root.get(), o.x(), o.y(), dark, {}, {}, kColorPresets[static_cast<size_t>(i)]));
      }
      for (int i = 0; i < 8; ++i) {
        const QPoint o = at(kThicknesses, i);
        place(TSkTraBtnThickness::CreateParam(root.get(), o.x(), o.y(), dark, {}, {},
                                              kThicknessPresets[static_cast<size_t>(i)]));
      }
      for (int i = 0; i < 5; ++i) {
        const QPoint o = at(kDashes, i);
        place(TSkTraBtnDash::CreateParam(root.get(), o.x(), o.y(), dark, {}, {}, kDashPresets[static_cast<size_t>(i)]));
      }
      for (int i = 0; i < 16; ++i) {
        const QPoint o = at(kKinds, i);
        place(TSkTraBtnKind::CreateParam(root.get(), o.x(), o.y(), dark, {}, {}, KindPreset(i)));
      }
      for (auto* b : buttons) {
        if (state == kHovered || state == kPressed) b->BtnMouseEnter();
        if (state == kPressed) b->TTraBtnBase::BtnMouseDown(b, Qt::LeftButton, {}, 1, 1);
        if (state == kDown) b->SetIsDown(true);
      }
    }
  }

  // Two canvases over a black window: lanes stacked at 50 % and side by side.
  TSkPaths list;
  Samples(list);
  TSkPaths* current = &list;
  auto* black = new QWidget(root.get());
  black->setGeometry(0, kCanvasTop - kTitle, width, kHeight - kCanvasTop + kTitle);
  black->setAutoFillBackground(true);
  QPalette bp = black->palette();
  bp.setColor(QPalette::Window, Qt::black);
  black->setPalette(bp);
  const QImage lane1 = LanePicture(1920, 1080, QColor(40, 90, 160), QColor(200, 220, 240), false);
  const QImage lane2 = LanePicture(1280, 720, QColor(200, 60, 40), QColor(250, 220, 120), true);
  TSkImage* canvases[2];
  for (int i = 0; i < 2; ++i) {
    auto* c = new TSkImage(root.get());
    c->SetFillParent(false);
    c->setGeometry(i == 0 ? StackedCanvasRect() : SideBySideCanvasRect());
    c->SetSkPaths(&current);
    c->ImageV1SetSize(1920, 1080);
    c->ImageV1Capture(lane1);
    c->ImageV2SetSize(1280, 720);
    c->ImageV2Capture(lane2);
    c->ImageV2OpacityChange(0.5f);
    if (i == 0) c->ImageP1CenterOne();
    else c->ImageP1CenterTwo();
    c->ImageP1DrawPathAll();
    canvases[i] = c;
  }
  root->show();
  Flush();
  for (TSkImage* c : canvases) c->LayerWait();

  QImage image(root->size(), QImage::Format_ARGB32_Premultiplied);
  image.fill(Qt::transparent);
  root->render(&image);

  QPainter p(&image);
  QFont font = p.font();
  font.setPixelSize(13);
  p.setFont(font);
  static const char* const stateNames[kStates] = {"idle", "hovered", "pressed", "down"};
  static const char* const panelNames[kPanels] = {"pens", "colours", "thicknesses", "dashes", "kinds"};
  for (int t = 0; t < 2; ++t) {
    p.setPen(t == kDark ? Qt::white : Qt::black);
    p.drawText(QPoint(8, t * kThemeHeight + 18), t == kDark ? "dark theme" : "light theme");
    for (int s = 0; s < kStates; ++s)
      for (int k = 0; k < kPanels; ++k) {
        const QPoint o = ButtonOrigin(static_cast<TTheme>(t), static_cast<TState>(s), static_cast<TPanel>(k), 0);
        p.drawText(QPoint(8, o.y() + 34), QString("%1 %2").arg(stateNames[s], panelNames[k]));
      }
  }
  p.setPen(Qt::white);
  p.drawText(QPoint(StackedCanvasRect().left(), kCanvasTop - 8), "stacked, lane 2 at 50 %");
  p.drawText(QPoint(SideBySideCanvasRect().left(), kCanvasTop - 8), "side by side");
  return image;
}

} // namespace skmcanvasgallery
