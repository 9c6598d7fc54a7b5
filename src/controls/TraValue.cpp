#include "controls/TraValue.h"

#include <QPainter>
#include <QPointer>
#include <QTimer>
#include <cmath>
#include <utility>

#include "controls/SvgPath.h"
#include "controls/TickSource.h"
#include "platform/FMXUtils.h"

namespace skm {
namespace {

const char* const kSpeakerIcon =
    "M0.777794897556305,0.317400753498077 C0.810507595539093,0.385335206985474 "
    "0.82568746805191,0.468944936990738 0.816362321376801,0.556983709335327 "
    "C0.810104846954346,0.615872859954834 0.793501317501068,0.670270562171936 "
    "0.769338548183441,0.71785306930542 L0.691490888595581,0.681205689907074 "
    "C0.711595177650452,0.642173171043396 0.72553563117981,0.596729099750519 "
    "0.730677485466003,0.547938406467438 C0.738484382629395,0.474396884441376 "
    "0.725070476531982,0.404386401176453 0.697407007217407,0.349555730819702 Z "
    "M0.937083542346954,0.253957748413086 C0.980143368244171,0.348037421703339 1,0.458721667528152 "
    "0.987701594829559,0.575260639190674 C0.979369103908539,0.653387129306793 "
    "0.957095205783844,0.726278245449066 0.924785196781158,0.790898203849793 "
    "L0.846999943256378,0.754406809806824 C0.875282645225525,0.698243200778961 "
    "0.894706249237061,0.634646117687225 0.901985645294189,0.565998792648315 "
    "C0.912828087806702,0.463957160711288 0.895201623439789,0.366840928792953 "
    "0.857191979885101,0.285802602767944 Z M0.607571065425873,0.0139710996299982 "
    "L0.607571065425873,0.986028909683228 L0.257489234209061,0.692357301712036 "
    "L0,0.692357301712036 L0,0.307642608880997 L0.257613092660904,0.307642608880997 Z";

const QPainterPath& SpeakerPath() {
  static const QPainterPath path = ParseSvgPath(QString::fromLatin1(kSpeakerIcon));
  return path;
}

bool ShiftHeld(Qt::KeyboardModifiers m) { return (m & Qt::ShiftModifier) || KeyIsDown(vk::Shift); }
bool CtrlHeld(Qt::KeyboardModifiers m) {
  return (m & Qt::ControlModifier) || KeyIsDown(vk::Control);
}

// Stroke of a frame of the given thickness along the rectangle's edges, square corners.
void StrokeFrame(QPainter& p, const QRectF& r, qreal thickness, uint32_t color) {
  QPen pen(QColor::fromRgba(color), thickness, Qt::SolidLine, Qt::SquareCap, Qt::MiterJoin);
  p.setPen(pen);
  p.setBrush(Qt::NoBrush);
  p.drawRect(r);
}

// The filled picture below the split line y and the outline picture above it, copied 1:1
// onto the cleared control bitmap. A value outside 0..1 (the gauge keeps what its creator
// gave) only moves the line off the bitmap.
void ComposeVertical(QImage& bmp, const QImage& filled, const QImage& outline, double value) {
  const int w = bmp.width(), h = bmp.height();
  double y = (1.0 - (std::isnan(value) ? 0.0 : value)) * h;
  y = std::clamp(y, 0.0, static_cast<double>(h));
  bmp.fill(Qt::transparent);
  QPainter p(&bmp);
  p.setClipRect(QRectF(0, y, w, h - y));
  p.drawImage(0, 0, filled);
  p.setClipRect(QRectF(0, 0, w, y));
  p.drawImage(0, 0, outline);
}

// The volume control's and the gauge's pictures: a solid block (with the speaker cut in
// the background colour) up to the value and a frame (with the speaker in the foreground)
// above it.
void DrawLevel(QImage& bmp, float value, uint32_t fcolor, uint32_t bcolor, bool withIcon) {
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  const QRectF r(0, 0, w, h);
  const QTransform t(w - 2 * 0.25 * w, 0, 0, h - 2 * 0.25 * h, 0.25 * w, 0.25 * h);
  const QPainterPath icon = withIcon ? t.map(SpeakerPath()) : QPainterPath();

  QImage filled(w, h, QImage::Format_ARGB32_Premultiplied);
  QImage outline(w, h, QImage::Format_ARGB32_Premultiplied);
  if (filled.isNull() || outline.isNull()) return;
  filled.fill(Qt::transparent);
  outline.fill(Qt::transparent);
  {
    QPainter p(&filled);
    p.fillRect(r, QColor::fromRgba(fcolor));
    if (withIcon) {
      p.setRenderHint(QPainter::Antialiasing);
      p.fillPath(icon, QColor::fromRgba(bcolor));
    }
  }
  {
    QPainter p(&outline);
    StrokeFrame(p, r, 0.05 * w, fcolor);
    if (withIcon) {
      p.setRenderHint(QPainter::Antialiasing);
      p.fillPath(icon, QColor::fromRgba(fcolor));
    }
  }
  ComposeVertical(bmp, filled, outline, value);
}

} // namespace

float Clamp01(float v) {
  if (std::isnan(v)) return 0.0f;
  if (v < 0) return 0.0f;
  if (v > 1) return 1.0f;
  return v;
}

double Clamp01(double v) {
  if (std::isnan(v)) return 0.0;
  if (v < 0) return 0.0;
  if (v > 1) return 1.0;
  return v;
}

QString TimeText(uint64_t t) {
  const uint64_t s = t / 10'000'000u;
  const uint64_t hours = s / 3600;
  const uint64_t minutes = (s - hours * 3600) / 60;
  const uint64_t seconds = s - hours * 3600 - minutes * 60;
  return QStringLiteral("%1:%2:%3")
      .arg(hours, 2, 10, QLatin1Char('0'))
      .arg(minutes, 2, 10, QLatin1Char('0'))
      .arg(seconds, 2, 10, QLatin1Char('0'));
}

// ---- TDragTimer ----------------------------------------------------------------------

TDragTimer::TDragTimer(std::function<void()> tick) : FTimer(std::make_unique<QTimer>()) {
  FTimer->setInterval(kDragTimerMs);
  QObject::connect(FTimer.get(), &QTimer::timeout, FTimer.get(), std::move(tick));
}

TDragTimer::~TDragTimer() = default;

void TDragTimer::Start() {
  FEnabled = true;
  if (!ManualDragTimers()) FTimer->start();
}

void TDragTimer::SetInterval(int ms) { FTimer->setInterval(ms < 1 ? 1 : ms); }

void TDragTimer::Stop() {
  FEnabled = false;
  FTimer->stop();
}

// ---- TTraVolume ----------------------------------------------------------------------

TTraVolume::TTraVolume(QWidget* owner) : TTraBtnBase(owner), FTimer([this] { TimerTick(); }) {
  resize(kControlSize, height());
}

TTraVolume::~TTraVolume() = default;

void TTraVolume::SetValue(float v) {
  if (FDnMode != dmUp) return;
  v = Clamp01(v);
  if (v == FValue) return;
  FValue = v;
  _BitmapDraw();
}

void TTraVolume::SetIsDark(bool value) {
  FFColor = value ? kColorWhite : kColorBlack;
  FBColor = value ? kColorBlack : kColorWhite;
  _BitmapDraw();
}

void TTraVolume::ValueFromY(float y) {
  const float v = static_cast<float>(Clamp01(1.0 - static_cast<double>(y) / height()));
  if (!FChange || v == FValue) return;
  FValue = v;
  QPointer<TTraVolume> self(this);
  TMethodSingleChange change = FChange;
  change(v);
  if (self) _BitmapDraw();
}

void TTraVolume::BtnMouseDown(QObject* sender, Qt::MouseButton button,
                              Qt::KeyboardModifiers shift, float x, float y) {
  TTraBtnBase::BtnMouseDown(sender, button, shift, x, y);
  FisFTimerStop = false;
  FTimerY0 = -1;
  FTimerY1 = y;
  FTimer.Start();
}

void TTraVolume::BtnMouseMove(QObject*, Qt::KeyboardModifiers, float, float y) {
  if (FDnMode == dmDn) FTimerY1 = y;
}

void TTraVolume::BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                            float x, float y) {
  FTimerY1 = y;
  FisFTimerStop = true;
  TTraBtnBase::BtnMouseUp(sender, button, shift, x, y);
}

void TTraVolume::TimerTick() {
  QPointer<TTraVolume> self(this);
  if (FTimerY1 != FTimerY0) {
    FTimerY0 = FTimerY1;
    ValueFromY(FTimerY0);
    if (!self) return;
  }
  if (FisFTimerStop) {
    FisFTimerStop = false;
    FTimer.Stop();
  }
}

void TTraVolume::BitmapDraw() { DrawLevel(BitmapRef(), FValue, FFColor, FBColor, true); }

// ---- TTraValueF ----------------------------------------------------------------------

TTraValueF::TTraValueF(QWidget* owner) : TTraBtnBase(owner) {
  resize(kControlSize, height());
  SetAlign(TAlign::Left);
}

TTraValueF* TTraValueF::CreateParam(QWidget* parent, float value, bool isDark,
                                    TMethodSingleChange onChange) {
  auto* g = new TTraValueF(parent);
  g->FValue = value; // as given: a creator may show a full gauge beyond 1
  g->SetIsDark(isDark);
  g->FChange = std::move(onChange);
  return g;
}

void TTraValueF::SetValue(float v) {
  if (FDnMode != dmUp) return;
  v = Clamp01(v);
  if (v == FValue) return;
  FValue = v;
  _BitmapDraw();
}

void TTraValueF::SetIsDark(bool value) {
  FFColor = value ? kColorWhite : kColorBlack;
  FBColor = value ? kColorBlack : kColorWhite;
  _BitmapDraw();
}

void TTraValueF::ValueFromY(float y) {
  const float v = static_cast<float>(Clamp01(1.0 - static_cast<double>(y) / height()));
  if (!FChange || v == FValue) return;
  FValue = v;
  QPointer<TTraValueF> self(this);
  TMethodSingleChange change = FChange;
  change(v);
  if (self) _BitmapDraw();
}

void TTraValueF::BtnMouseDown(QObject* sender, Qt::MouseButton button,
                              Qt::KeyboardModifiers shift, float x, float y) {
  TTraBtnBase::BtnMouseDown(sender, button, shift, x, y);
  ValueFromY(y);
}

void TTraValueF::BtnMouseMove(QObject*, Qt::KeyboardModifiers, float, float y) {
  if (FDnMode == dmDn) ValueFromY(y);
}

void TTraValueF::BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                            float x, float y) {
  QPointer<TTraValueF> self(this);
  ValueFromY(y);
  if (self) TTraBtnBase::BtnMouseUp(sender, button, shift, x, y);
}

void TTraValueF::BitmapDraw() { DrawLevel(BitmapRef(), FValue, FFColor, FBColor, false); }

// ---- TTraTrack -----------------------------------------------------------------------

TTraTrack::TTraTrack(QWidget* owner) : TTraBtnBase(owner), FTimer([this] { TimerTick(); }) {
  SetAlign(TAlign::Client);
}

TTraTrack::~TTraTrack() = default;

void TTraTrack::SetMax(uint64_t v) {
  const uint64_t m = v == kTrackNoTime ? 0 : v;
  const bool changed = m != FMax;
  FMax = m;
  FValue0 = 0;
  FValue1 = FMax;
  if (changed) _BitmapDraw();
}

bool TTraTrack::StoreIfUp(uint64_t& field, uint64_t v) {
  if (FDnMode != dmUp) return false;
  v = v == kTrackNoTime ? 0 : std::min(v, FMax);
  if (v == field) return false;
  field = v;
  _BitmapDraw();
  return true;
}

void TTraTrack::SetValue(uint64_t v) { StoreIfUp(FValue, v); }
void TTraTrack::SetValue0(uint64_t v) { StoreIfUp(FValue0, v); }
void TTraTrack::SetValue1(uint64_t v) { StoreIfUp(FValue1, v); }

void TTraTrack::SetIsDark(bool value) {
  FFColor = value ? kColorWhite : kColorBlack;
  FBColor = value ? kColorBlack : kColorWhite;
  _BitmapDraw();
}

void TTraTrack::BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                             float x, float y) {
  if (FTrackDn) {
    QPointer<TTraTrack> self(this);
    TTrackTrack dn = FTrackDn;
    dn();
    if (!self) return;
  }
  TTraBtnBase::BtnMouseDown(sender, button, shift, x, y);
  // With no length there is nothing to grab: the marks have no place to be hit at.
  if (FMax > 0 && y >= 0 && y < height() / 2.0) {
    const double h = (height() * 0.5) / std::sqrt(3.0);
    const double xa = static_cast<double>(FValue0) / static_cast<double>(FMax) * width();
    const double xb = static_cast<double>(FValue1) / static_cast<double>(FMax) * width();
    if (xb - h <= x && x <= xb + h)
      FDnMode = dmD1;
    else if (xa - h <= x && x <= xa + h)
      FDnMode = dmD0;
  }
  if (ShiftHeld(shift) || CtrlHeld(shift)) return;
  FisFTimerStop = false;
  FTimerX0 = -1;
  FTimerX1 = x;
  FTimer.Start();
}

void TTraTrack::BtnMouseMove(QObject*, Qt::KeyboardModifiers shift, float x, float) {
  if (FDnMode != dmUp && !ShiftHeld(shift) && !CtrlHeld(shift)) FTimerX1 = x;
}

void TTraTrack::BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                           float x, float y) {
  QPointer<TTraTrack> self(this);
  // Without an OnChange a click changes nothing, the mark included: moving it silently
  // would leave the picture and the owner with a mark they never heard of.
  if (FDnMode == dmD0 && FChange) {
    const uint64_t old = FValue0;
    if (ShiftHeld(shift))
      Value0Step(FRange0FWD2);
    else if (CtrlHeld(shift))
      Value0Step(FRange0FWD1);
    if (FValue0 != old) {
      Value0Apply();
      if (!self) return;
    }
  }
  FisFTimerStop = true;
  TTraBtnBase::BtnMouseUp(sender, button, shift, x, y);
  if (FTrackUp) {
    TTrackTrack up = FTrackUp;
    up();
  }
}

void TTraTrack::TimerTick() {
  QPointer<TTraTrack> self(this);
  if (FTimerX1 != FTimerX0) {
    FTimerX0 = FTimerX1;
    ValueFromX(FTimerX0);
    if (!self) return;
  }
  if (FisFTimerStop) {
    FisFTimerStop = false;
    FTimer.Stop();
  }
}

void TTraTrack::ValueFromX(float x) {
  if (FMax == 0) return; // an empty track has no time to point at
  const double r = std::trunc(static_cast<double>(x) / width() * static_cast<double>(FMax));
  uint64_t v;
  if (!(r > 0)) // negative, or NaN from a zero width
    v = 0;
  else if (r >= static_cast<double>(FMax))
    v = FMax;
  else
    v = static_cast<uint64_t>(r);
  if (!FChange || v == FValue) return;
  FValue = v;
  if (FDnMode == dmD0) FValue0 = v;
  if (FDnMode == dmD1) FValue1 = v;
  if (FValue0 > FValue1) {
    std::swap(FValue0, FValue1);
    // The grabbed mark keeps following the pointer after passing the other one.
    if (FDnMode == dmD0)
      FDnMode = dmD1;
    else if (FDnMode == dmD1)
      FDnMode = dmD0;
  }
  QPointer<TTraTrack> self(this);
  TTrackChange change = FChange;
  change(FValue, FValue0, FValue1);
  if (self) _BitmapDraw();
}

void TTraTrack::Value0Step(uint64_t d) {
  if (d > FValue0)
    FValue0 = 0;
  else
    FValue0 -= d;
}

void TTraTrack::Value0Apply() {
  if (!FChange) return;
  FValue = FValue0;
  QPointer<TTraTrack> self(this);
  TTrackChange change = FChange;
  change(FValue, FValue0, FValue1);
  if (self) _BitmapDraw();
}

void TTraTrack::BtnResize() {
  if (width() != BitmapLogicalSize().width() || height() != BitmapLogicalSize().height())
    _BitmapInitDraw();
}

void TTraTrack::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), hgt = bmp.height();
  const double h = (hgt * 0.5) / std::sqrt(3.0);
  const QRectF band(0, hgt * 0.5, w, hgt - hgt * 0.5);
  const QString text = TimeText(FValue);
  QFont font(QStringLiteral("Tahoma"));
  font.setPixelSize(20);

  QImage filled(w, hgt, QImage::Format_ARGB32_Premultiplied);
  QImage outline(w, hgt, QImage::Format_ARGB32_Premultiplied);
  if (filled.isNull() || outline.isNull()) return;
  filled.fill(Qt::transparent);
  outline.fill(Qt::transparent);
  {
    QPainter p(&filled);
    p.fillRect(band, QColor::fromRgba(FFColor));
    p.setFont(font);
    p.setPen(QColor::fromRgba(FBColor));
    p.drawText(band, Qt::AlignCenter | Qt::TextWordWrap, text);
  }
  {
    QPainter p(&outline);
    // A 1-pixel frame inside the band's edges, so no half of it falls off the bitmap.
    StrokeFrame(p, band.adjusted(0.5, 0.5, -0.5, -0.5), 1.0, FFColor);
    p.setFont(font);
    p.setPen(QColor::fromRgba(FFColor));
    p.drawText(band, Qt::AlignCenter | Qt::TextWordWrap, text);
  }

  // With no length everything sits at the left: an outlined band and both marks at 0.
  const double k = FMax == 0 ? 0.0 : (width() * BitmapScale()) / static_cast<double>(FMax);
  const double p = std::clamp(static_cast<double>(FValue) * k, 0.0, static_cast<double>(w));
  const double a = static_cast<double>(FValue0) * k;
  const double b = static_cast<double>(FValue1) * k;

  bmp.fill(Qt::transparent);
  QPainter c(&bmp);
  c.setClipRect(QRectF(0, 0, p, hgt));
  c.drawImage(0, 0, filled);
  c.setClipRect(QRectF(p, 0, w - p, hgt));
  c.drawImage(0, 0, outline);
  c.setClipping(false);
  c.setRenderHint(QPainter::Antialiasing);
  c.setPen(Qt::NoPen);
  c.setBrush(QColor::fromRgba(FFColor));
  for (const double m : {a, b}) {
    const QPointF tri[3] = {QPointF(m, hgt * 0.5), QPointF(m + h, 0), QPointF(m - h, 0)};
    c.drawPolygon(tri, 3);
  }
}

} // namespace skm
