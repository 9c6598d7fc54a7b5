#include "canvas/SkTraBtn.h"

#include <QPainter>
#include <QPainterPath>
#include <QPointer>
#include <algorithm>

#include "annotation/SkPathStroke.h"
#include "canvas/SkLayer.h"
#include "controls/SvgPath.h"
#include "controls/TickSource.h"

namespace skm {

namespace {

// Tool icons in the unit square. The line icon is the system's own; the rest are drawn
// for it: a pencil, a chisel marker with its trace, a frame, a ring, arrows and brushes.
const char* const kPenSVG = "M0.05,0.95 L0.14,0.66 L0.70,0.10 L0.90,0.30 L0.34,0.86 Z";
const char* const kMarkerSVG =
    "M0.34,0.52 L0.70,0.16 L0.86,0.32 L0.50,0.68 Z "
    "M0.29,0.57 L0.45,0.73 L0.28,0.80 L0.22,0.74 Z "
    "M0.05,0.88 L0.62,0.88 L0.62,0.96 L0.05,0.96 Z";
const char* const kLineSVG =
    "M1.000,0.047 C0.996,0.055 0.993,0.063 0.989,0.071 C0.988,0.074 0.985,0.076 0.982,0.078 "
    "C0.682,0.379 0.382,0.679 0.081,0.979 C0.069,0.992 0.056,0.998 0.039,0.993 C0.011,0.985 0,0.953 "
    "0.018,0.930 C0.020,0.927 0.022,0.925 0.025,0.922 C0.325,0.622 0.626,0.321 0.926,0.021 C0.939,0.008 "
    "0.953,0.002 0.971,0.008 C0.987,0.013 0.998,0.029 1.000,0.047 Z";
const char* const kRectSVG = "M0.05,0.18 L0.95,0.18 L0.95,0.82 L0.05,0.82 Z M0.14,0.27 L0.14,0.73 L0.86,0.73 L0.86,0.27 Z";
const char* const kOvalSVG =
    "M0.95,0.5 C0.95,0.693 0.749,0.85 0.5,0.85 C0.251,0.85 0.05,0.693 0.05,0.5 C0.05,0.307 0.251,0.15 0.5,0.15 "
    "C0.749,0.15 0.95,0.307 0.95,0.5 Z "
    "M0.86,0.5 C0.86,0.346 0.699,0.24 0.5,0.24 C0.301,0.24 0.14,0.346 0.14,0.5 C0.14,0.654 0.301,0.76 0.5,0.76 "
    "C0.699,0.76 0.86,0.654 0.86,0.5 Z";
const char* const kArrowSVG = "M0.95,0.05 L0.90,0.45 L0.76,0.31 L0.17,0.90 L0.10,0.83 L0.69,0.24 L0.55,0.10 Z";
const char* const kDoubleArrowSVG =
    "M0.95,0.05 L0.90,0.42 L0.77,0.30 L0.30,0.77 L0.42,0.90 L0.05,0.95 L0.10,0.58 L0.23,0.70 L0.70,0.23 "
    "L0.58,0.10 Z";
const char* const kBrushSVG =
    "M0.92,0.04 C0.96,0.08 0.96,0.10 0.93,0.13 L0.55,0.58 L0.42,0.45 L0.87,0.07 C0.89,0.04 0.90,0.03 0.92,0.04 Z "
    "M0.38,0.50 L0.50,0.62 C0.48,0.80 0.30,0.95 0.05,0.95 C0.10,0.85 0.12,0.60 0.38,0.50 Z";
const char* const kCircledOneSVG =
    " M0.97,0.78 C0.97,0.874 0.894,0.95 0.8,0.95 C0.706,0.95 0.63,0.874 0.63,0.78 C0.63,0.686 0.706,0.61 0.8,0.61 "
    "C0.894,0.61 0.97,0.686 0.97,0.78 Z "
    "M0.93,0.78 C0.93,0.708 0.872,0.65 0.8,0.65 C0.728,0.65 0.67,0.708 0.67,0.78 C0.67,0.852 0.728,0.91 0.8,0.91 "
    "C0.872,0.91 0.93,0.852 0.93,0.78 Z "
    "M0.78,0.70 L0.83,0.68 L0.83,0.88 L0.79,0.88 L0.79,0.73 L0.76,0.74 Z";

// The unit square into the central half of a w x h bitmap.
QTransform CentralHalf(int w, int h) { return QTransform(w / 2.0, 0, 0, h / 2.0, 0.25 * w, 0.25 * h); }

QColor Argb(uint32_t c) { return QColor::fromRgba(c); }

void StrokeOutline(QPainter& p, const QPainterPath& unitPath, int w, int h, uint32_t color, double thickness) {
  if (unitPath.isEmpty()) return;
  QPen pen(Argb(color));
  pen.setWidthF(thickness);
  pen.setJoinStyle(Qt::RoundJoin);
  p.save();
  p.setRenderHint(QPainter::Antialiasing);
  p.setBrush(Qt::NoBrush);
  p.setPen(pen);
  p.drawPath(CentralHalf(w, h).map(unitPath));
  p.restore();
}

} // namespace

const char* const kCheckMarkSVG = "M0.872,0.117 L1,0.245 L0.387,0.858 L0.365,0.883 L0,0.568 L0.118,0.431 L0.354,0.635 Z";

QString KindSVGData(TPathKind kind, uint32_t color) {
  switch (kind) {
  case TPathKind::pkDraw: return ColorAlpha(color) == 0xFF ? kPenSVG : kMarkerSVG;
  case TPathKind::pkLine: return kLineSVG;
  case TPathKind::pkRect: return kRectSVG;
  case TPathKind::pkOval: return kOvalSVG;
  case TPathKind::pkLineAr0: return kArrowSVG;
  case TPathKind::pkLineAr1: return kDoubleArrowSVG;
  case TPathKind::pkBrush0: return kBrushSVG;
  case TPathKind::pkBrush1: return QString(kBrushSVG) + kCircledOneSVG;
  default: return {};
  }
}

// ---- TSkTraBtnBase ---------------------------------------------------------------------

TSkTraBtnBase::TSkTraBtnBase(QWidget* owner) : TTraBtnBase(owner) {
  resize(kControlSize, height());
  FFColor = kColorWhite;
}

void TSkTraBtnBase::InitParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                              TNotifyEvent executeR) {
  if (parent && parentWidget() != parent) setParent(parent);
  // The field only: the background colour stays black and the repaint queued by the
  // construction picks the foreground up.
  FFColor = isDark ? kColorWhite : kColorBlack;
  move(x, y);
  FOnExecuteL = std::move(executeL);
  FOnExecuteR = std::move(executeR);
}

void TSkTraBtnBase::SetIsDown(bool value) {
  if (value == FisDown) return;
  FisDown = value;
  _BitmapDraw();
}

void TSkTraBtnBase::SetIsDark(bool value) {
  FFColor = value ? kColorWhite : kColorBlack;
  FBColor = value ? kColorBlack : kColorWhite;
  _BitmapDraw();
}

void TSkTraBtnBase::BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                                 float y) {
  TTraBtnBase::BtnMouseDown(sender, button, shift, x, y);
  FTime = TickCount();
}

void TSkTraBtnBase::BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift, float x,
                               float y) {
  // An action may close the panel that owns this button.
  QPointer<TSkTraBtnBase> self(this);
  if (x >= 0 && x < width() && y >= 0 && y < height()) {
    const uint32_t held = TickCount() - FTime;
    if (FOnExecuteR && (button == Qt::RightButton || held >= kLongPressMs)) {
      TNotifyEvent action = FOnExecuteR;
      action(sender);
    } else if (FOnExecuteL && button == Qt::LeftButton) {
      TNotifyEvent action = FOnExecuteL;
      action(sender);
    }
  }
  if (!self) return;
  TTraBtnBase::BtnMouseUp(sender, button, shift, x, y);
}

// ---- TSkTraBtn ---------------------------------------------------------------------------

TSkTraBtn* TSkTraBtn::CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                  TNotifyEvent executeR, const TStrokeStyle& value) {
  auto* b = new TSkTraBtn(parent);
  b->FStrokeStyle = value;
  b->InitParam(parent, x, y, isDark, std::move(executeL), std::move(executeR));
  return b;
}

void TSkTraBtn::SetStrokeStyle(const TStrokeStyle& s) {
  if (s == FStrokeStyle) return;
  FStrokeStyle = s;
  _BitmapDraw();
}

void TSkTraBtn::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  FSVGData = KindSVGData(FStrokeStyle.Kind, FStrokeStyle.Color);
  bmp.fill(Argb(FStrokeStyle.Color | 0xFF000000u)); // the pen's colour is the background
  if (FSVGData.isEmpty()) return;
  const QPainterPath icon = ParseSvgPath(FSVGData);
  QImage layer(w, h, QImage::Format_ARGB32_Premultiplied);
  if (layer.isNull()) return;
  layer.fill(Qt::transparent);
  {
    QPainter p(&layer);
    p.setRenderHint(QPainter::Antialiasing);
    // A sample of the pen's trace along the bottom: its alpha, dash and (capped) width.
    QPen pen(Argb((FFColor & 0x00FFFFFFu) | (FStrokeStyle.Color & 0xFF000000u)));
    pen.setStyle(PenStyleOf(FStrokeStyle.Dash));
    pen.setWidthF(std::min(h * static_cast<double>(FStrokeStyle.Thickness) / 180.0, 0.25 * h));
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    if (pen.widthF() > 0) p.drawLine(QPointF(0.125 * h, h - 0.125 * h), QPointF(w - 0.125 * h, h - 0.125 * h));
    IconFill(p, icon, w, h, FFColor);
  }
  if (FisDown) BitmapInvert(layer, FFColor);
  {
    QPainter p(&layer);
    StrokeOutline(p, icon, w, h, FBColor, h / 60.0);
  }
  QPainter p(&bmp);
  p.drawImage(QRect(0, 0, w, h), layer);
}

// ---- TSkTraBtnKind -----------------------------------------------------------------------

TSkTraBtnKind* TSkTraBtnKind::CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                          TNotifyEvent executeR, const TStrokeStyle& value) {
  auto* b = new TSkTraBtnKind(parent);
  b->FKind = value.Kind;
  b->FColor = value.Color & 0xFF000000u;
  b->InitParam(parent, x, y, isDark, std::move(executeL), std::move(executeR));
  return b;
}

void TSkTraBtnKind::isDownSet(const TStrokeStyle& s) {
  SetIsDown(s.Kind == FKind && ColorAlpha(s.Color) == ColorAlpha(FColor));
}

void TSkTraBtnKind::GetFromStrokeStyle(const TStrokeStyle& s) {
  const uint32_t alpha = s.Color & 0xFF000000u;
  if (s.Kind == FKind && alpha == FColor) return;
  FKind = s.Kind;
  FColor = alpha;
  _BitmapDraw();
}

TStrokeStyle TSkTraBtnKind::SetToStrokeStyle(const TStrokeStyle& s) const {
  TStrokeStyle r = s;
  r.Kind = FKind;
  r.Color = (s.Color & 0x00FFFFFFu) | (FColor & 0xFF000000u);
  return r;
}

void TSkTraBtnKind::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  bmp.fill(Qt::transparent);
  const QString data = KindSVGData(FKind, FColor);
  if (data.isEmpty()) return; // a kind without icon stays transparent, selected or not
  const QPainterPath icon = ParseSvgPath(data);
  {
    QPainter p(&bmp);
    if (ColorAlpha(FColor) == 0xFF) IconFill(p, icon, w, h, FFColor);
    else StrokeOutline(p, icon, w, h, FFColor, h / 30.0);
  }
  if (FisDown) BitmapInvert(bmp, FFColor);
}

// ---- TSkTraBtnColor ----------------------------------------------------------------------

TSkTraBtnColor* TSkTraBtnColor::CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                            TNotifyEvent executeR, uint32_t value) {
  auto* b = new TSkTraBtnColor(parent);
  b->FColor = value | 0xFF000000u;
  b->InitParam(parent, x, y, isDark, std::move(executeL), std::move(executeR));
  return b;
}

TSkTraBtnColor* TSkTraBtnColor::CreateFromColor(QWidget* owner, uint32_t AColor) {
  auto* b = new TSkTraBtnColor(owner);
  b->FColor = AColor | 0xFF000000u;
  return b;
}

void TSkTraBtnColor::SetColor(uint32_t c) {
  const uint32_t v = c | 0xFF000000u;
  if (v == FColor) return;
  FColor = v;
  _BitmapDraw();
}

void TSkTraBtnColor::isDownSet(const TStrokeStyle& s) {
  SetIsDown((s.Color & 0x00FFFFFFu) == (FColor & 0x00FFFFFFu));
}

TStrokeStyle TSkTraBtnColor::SetToStrokeStyle(const TStrokeStyle& s) const {
  TStrokeStyle r = s;
  r.Color = (s.Color & 0xFF000000u) | (FColor & 0x00FFFFFFu);
  return r;
}

void TSkTraBtnColor::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  bmp.fill(Argb(FColor));
  QPainter p(&bmp);
  p.setRenderHint(QPainter::Antialiasing);
  if (IsRainbowColor(FColor)) {
    // Diagonal stripes in the rainbow colours.
    QPen pen;
    pen.setWidthF(1.5 * h / 8.0);
    for (int i = 0; i <= 8; ++i) {
      pen.setColor(Argb(kRainbowColors[static_cast<size_t>(i % 7)]));
      p.setPen(pen);
      p.drawLine(QPointF(0, i * h / 4.0), QPointF(w, i * h / 4.0 - h));
    }
  }
  if (FisDown) {
    // Selection shows as a check mark, not as inversion.
    const QPainterPath check = ParseSvgPath(kCheckMarkSVG);
    IconFill(p, check, w, h, FFColor);
    StrokeOutline(p, check, w, h, FBColor, h / 60.0);
  }
}

// ---- TSkTraBtnThickness ------------------------------------------------------------------

TSkTraBtnThickness* TSkTraBtnThickness::CreateParam(QWidget* parent, int x, int y, bool isDark,
                                                    TNotifyEvent executeL, TNotifyEvent executeR, float value) {
  auto* b = new TSkTraBtnThickness(parent);
  b->FThickness = value;
  b->InitParam(parent, x, y, isDark, std::move(executeL), std::move(executeR));
  return b;
}

TSkTraBtnThickness* TSkTraBtnThickness::CreateFromThickness(QWidget* owner, float AThickness) {
  auto* b = new TSkTraBtnThickness(owner);
  b->FThickness = AThickness;
  return b;
}

void TSkTraBtnThickness::SetThickness(float t) {
  if (t == FThickness) return;
  FThickness = t;
  _BitmapDraw();
}

double TSkTraBtnThickness::DotRadius(double h, float thickness) {
  return std::clamp(h * static_cast<double>(thickness) / 120.0, 0.0, h / 2.0);
}

TStrokeStyle TSkTraBtnThickness::SetToStrokeStyle(const TStrokeStyle& s) const {
  TStrokeStyle r = s;
  r.Thickness = FThickness;
  return r;
}

void TSkTraBtnThickness::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  const double r = DotRadius(h, FThickness);
  bmp.fill(Qt::transparent);
  {
    QPainter p(&bmp);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(Qt::NoPen);
    p.setBrush(Argb(FFColor));
    if (r > 0) p.drawEllipse(QPointF(w / 2.0, h / 2.0), r, r);
  }
  if (FisDown) BitmapInvert(bmp, FFColor);
}

// ---- TSkTraBtnDash -----------------------------------------------------------------------

TSkTraBtnDash* TSkTraBtnDash::CreateParam(QWidget* parent, int x, int y, bool isDark, TNotifyEvent executeL,
                                          TNotifyEvent executeR, TStrokeDash value) {
  auto* b = new TSkTraBtnDash(parent);
  b->FDash = value;
  b->InitParam(parent, x, y, isDark, std::move(executeL), std::move(executeR));
  return b;
}

TSkTraBtnDash* TSkTraBtnDash::CreateFromDash(QWidget* owner, TStrokeDash ADash) {
  auto* b = new TSkTraBtnDash(owner);
  b->FDash = ADash;
  return b;
}

void TSkTraBtnDash::SetDash(TStrokeDash d) {
  if (d == FDash) return;
  FDash = d;
  _BitmapDraw();
}

TStrokeStyle TSkTraBtnDash::SetToStrokeStyle(const TStrokeStyle& s) const {
  TStrokeStyle r = s;
  r.Dash = FDash;
  return r;
}

void TSkTraBtnDash::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  bmp.fill(Qt::transparent);
  {
    QPainter p(&bmp);
    p.setRenderHint(QPainter::Antialiasing);
    QPen pen(Argb(FFColor));
    pen.setStyle(PenStyleOf(FDash));
    pen.setWidthF(0.05 * h);
    pen.setCapStyle(Qt::FlatCap);
    p.setPen(pen);
    p.drawLine(QPointF(0.125 * w, h / 2.0), QPointF(0.875 * w, h / 2.0));
  }
  if (FisDown) BitmapInvert(bmp, FFColor);
}

} // namespace skm
