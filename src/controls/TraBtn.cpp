#include "controls/TraBtn.h"

#include <QEnterEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QTimer>
#include <cmath>

#include "controls/SvgPath.h"
#include "controls/TickSource.h"

namespace skm {

// ---- TTraBtnBase ---------------------------------------------------------------------

TTraBtnBase::TTraBtnBase(QWidget* owner) : QWidget(owner) {
  // Qt grabs the pointer for the widget that received a press until the last button is
  // released, which is the capture these controls rely on when dragged outside.
  resize(kDefaultControlWidth, kControlSize);
  FOpacity = FTransD;
  setCursor(Qt::PointingHandCursor);
  // The bitmap is painted completely each time, so Qt need not clear behind it.
  setAttribute(Qt::WA_NoSystemBackground);
  _BitmapInitDraw();
}

TTraBtnBase::~TTraBtnBase() {
  if (FWatchedParent) FWatchedParent->removeEventFilter(this);
}

void TTraBtnBase::SetTransD(float v) {
  FTransD = v;
  TransUpdate();
}
void TTraBtnBase::SetTransH(float v) {
  FTransH = v;
  TransUpdate();
}
void TTraBtnBase::SetTransP(float v) {
  FTransP = v;
  TransUpdate();
}

void TTraBtnBase::SetIsDark(bool value) {
  FFColor = value ? kColorWhite : kColorBlack;
  _BitmapDraw();
}

void TTraBtnBase::TransUpdate() {
  const float o = FisHover ? (FDnMode == dmDn ? FTransP : FTransH) : FTransD;
  if (o != FOpacity) {
    FOpacity = o;
    update();
  }
}

void TTraBtnBase::BtnMouseDown(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, float, float) {
  FDnMode = dmDn;
  TransUpdate();
}

void TTraBtnBase::BtnMouseUp(QObject*, Qt::MouseButton, Qt::KeyboardModifiers, float, float) {
  FDnMode = dmUp;
  TransUpdate();
}

void TTraBtnBase::BtnMouseMove(QObject*, Qt::KeyboardModifiers, float, float) {}

void TTraBtnBase::BtnMouseEnter() {
  FisHover = true;
  TransUpdate();
}

void TTraBtnBase::BtnMouseLeave() {
  FisHover = false;
  TransUpdate();
}

void TTraBtnBase::BtnResize() { _BitmapDraw(); }

void TTraBtnBase::_BitmapDraw() {
  ++FDrawRequests;
  // Queued with the control as context: a control destroyed first drops its requests.
  QMetaObject::invokeMethod(
      this,
      [this] {
        ++FDrawsRun;
        BitmapDraw();
        update();
      },
      Qt::QueuedConnection);
}

void TTraBtnBase::_BitmapInitDraw() {
  ++FDrawRequests;
  QMetaObject::invokeMethod(this, [this] { RunInitDraw(); }, Qt::QueuedConnection);
}

void TTraBtnBase::RunInitDraw() {
  ++FDrawsRun;
  const qreal s = devicePixelRatioF();
  const QSize logical(width(), height());
  const int dw = static_cast<int>(std::trunc(logical.width() * s));
  const int dh = static_cast<int>(std::trunc(logical.height() * s));
  FLogicalSize = logical;
  FScale = s;
  if (FBitmap.isNull() || FBitmap.width() != dw || FBitmap.height() != dh) {
    // A size Qt cannot allocate gives a null image; every BitmapDraw checks for that.
    FBitmap = (dw > 0 && dh > 0) ? QImage(dw, dh, QImage::Format_ARGB32_Premultiplied) : QImage();
    if (!FBitmap.isNull()) FBitmap.fill(Qt::transparent);
  }
  BitmapDraw();
  update();
}

void TTraBtnBase::paintEvent(QPaintEvent*) {
  // The window moved to a screen of another scale: re-create the bitmap once.
  if (!FBitmap.isNull() && devicePixelRatioF() != FScale && !FScaleCheckQueued) {
    FScaleCheckQueued = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
          FScaleCheckQueued = false;
          if (devicePixelRatioF() != FScale) _BitmapInitDraw();
        },
        Qt::QueuedConnection);
  }
  if (FBitmap.isNull() || FScale <= 0) return;
  QPainter p(this);
  p.setOpacity(FOpacity);
  p.setRenderHint(QPainter::SmoothPixmapTransform);
  // Shown scaled to fit the bounds with its aspect ratio kept, centred.
  const qreal bw = FBitmap.width() / FScale, bh = FBitmap.height() / FScale;
  const qreal k = std::min(width() / bw, height() / bh);
  const QSizeF size(bw * k, bh * k);
  const QRectF target(QPointF((width() - size.width()) / 2, (height() - size.height()) / 2), size);
  p.drawImage(target, FBitmap);
}

void TTraBtnBase::mousePressEvent(QMouseEvent* e) {
  const QPointF pt = e->position();
  BtnMouseDown(this, e->button(), e->modifiers(), static_cast<float>(pt.x()),
               static_cast<float>(pt.y()));
}

void TTraBtnBase::mouseReleaseEvent(QMouseEvent* e) {
  const QPointF pt = e->position();
  BtnMouseUp(this, e->button(), e->modifiers(), static_cast<float>(pt.x()),
             static_cast<float>(pt.y()));
}

void TTraBtnBase::mouseMoveEvent(QMouseEvent* e) {
  const QPointF pt = e->position();
  BtnMouseMove(this, e->modifiers(), static_cast<float>(pt.x()), static_cast<float>(pt.y()));
}

void TTraBtnBase::enterEvent(QEnterEvent*) { BtnMouseEnter(); }
void TTraBtnBase::leaveEvent(QEvent*) { BtnMouseLeave(); }
void TTraBtnBase::resizeEvent(QResizeEvent*) { BtnResize(); }

bool TTraBtnBase::event(QEvent* e) {
  if (e->type() == QEvent::ParentChange) {
    WatchParent();
    ApplyAlign();
  }
  return QWidget::event(e);
}

bool TTraBtnBase::eventFilter(QObject* watched, QEvent* e) {
  if (watched == FWatchedParent && e->type() == QEvent::Resize) ApplyAlign();
  return QWidget::eventFilter(watched, e);
}

void TTraBtnBase::SetAlign(TAlign align) {
  FAlign = align;
  WatchParent();
  ApplyAlign();
}

void TTraBtnBase::WatchParent() {
  QWidget* parent = FAlign == TAlign::None ? nullptr : parentWidget();
  if (FWatchedParent == parent) return;
  if (FWatchedParent) FWatchedParent->removeEventFilter(this);
  FWatchedParent = parent;
  if (parent) parent->installEventFilter(this);
}

void TTraBtnBase::ApplyAlign() {
  QWidget* parent = parentWidget();
  if (!parent) return;
  switch (FAlign) {
  case TAlign::None: break;
  case TAlign::Bottom: setGeometry(0, parent->height() - height(), parent->width(), height()); break;
  case TAlign::Left: setGeometry(0, 0, width(), parent->height()); break;
  case TAlign::Right: setGeometry(parent->width() - width(), 0, width(), parent->height()); break;
  case TAlign::Client: setGeometry(parent->rect()); break;
  case TAlign::Center:
    move((parent->width() - width()) / 2, (parent->height() - height()) / 2);
    break;
  }
}

// ---- drawing helpers -----------------------------------------------------------------

void IconFill(QPainter& canvas, const QPainterPath& unitPath, int w, int h, uint32_t color) {
  if (unitPath.isEmpty()) return;
  const QTransform t(w - 2 * 0.25 * w, 0, 0, h - 2 * 0.25 * h, 0.25 * w, 0.25 * h);
  canvas.save();
  canvas.setRenderHint(QPainter::Antialiasing);
  canvas.setOpacity(1.0);
  canvas.fillPath(t.map(unitPath), QColor::fromRgba(color));
  canvas.restore();
}

void BitmapInvert(QImage& bitmap, uint32_t color) {
  if (bitmap.isNull()) return;
  if (bitmap.format() != QImage::Format_ARGB32_Premultiplied)
    bitmap.convertTo(QImage::Format_ARGB32_Premultiplied);
  const uint32_t r = (color >> 16) & 0xFF, g = (color >> 8) & 0xFF, b = color & 0xFF;
  // Divided by 255 with rounding rather than shifted by 8, so a fully uncovered pixel
  // becomes exactly the foreground colour (white stays 255, not 254).
  auto scale = [](uint32_t c, uint32_t a) { return (c * a + 127) / 255; };
  for (int y = 0; y < bitmap.height(); ++y) {
    auto* row = reinterpret_cast<uint32_t*>(bitmap.scanLine(y));
    for (int x = 0; x < bitmap.width(); ++x) {
      const uint32_t a = 255 - (row[x] >> 24);
      row[x] = (a << 24) | (scale(r, a) << 16) | (scale(g, a) << 8) | scale(b, a);
    }
  }
}

// ---- TTraBtn -------------------------------------------------------------------------

TTraBtn::TTraBtn(QWidget* owner) : TTraBtnBase(owner) { resize(kControlSize, height()); }

TTraBtn* TTraBtn::CreateParam(QWidget* parent, const QString& svgData, int x, int y, bool isDark,
                              TNotifyEvent executeL, TNotifyEvent executeR) {
  auto* b = new TTraBtn(parent);
  b->resize(kDefaultControlWidth, b->height());
  b->FSVGData = svgData;
  b->FPath = ParseSvgPath(svgData);
  // The field alone: the repaint queued by construction picks the colour up.
  b->FFColor = isDark ? kColorWhite : kColorBlack;
  b->move(x, y);
  b->FOnExecute = std::move(executeL);
  b->FOnExecuteR = std::move(executeR);
  return b;
}

void TTraBtn::SetData(const QString& data) {
  FSVGData = data;
  FPath = ParseSvgPath(data);
  if (!data.isEmpty()) _BitmapDraw();
}

void TTraBtn::SetBColor(uint32_t color) {
  if (color == FBColor) return;
  FBColor = color;
  _BitmapDraw();
}

void TTraBtn::SetIsDown(bool value) {
  if (value == FisDown) return;
  FisDown = value;
  _BitmapDraw();
}

void TTraBtn::BtnMouseDown(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                           float x, float y) {
  TTraBtnBase::BtnMouseDown(sender, button, shift, x, y);
  FTime = TickCount();
}

void TTraBtn::BtnMouseUp(QObject* sender, Qt::MouseButton button, Qt::KeyboardModifiers shift,
                         float x, float y) {
  // An action may close the window that owns this button; the guard keeps the release
  // from touching a destroyed control.
  QPointer<TTraBtn> self(this);
  if (x >= 0 && x < width() && y >= 0 && y < height()) {
    const uint32_t held = TickCount() - FTime; // wraps correctly across the counter's end
    if (FOnExecuteR && (button == Qt::RightButton || held >= kLongPressMs)) {
      TNotifyEvent action = FOnExecuteR; // the handler may replace itself
      action(sender);
    } else if (FOnExecute && button == Qt::LeftButton) {
      TNotifyEvent action = FOnExecute;
      action(sender);
    }
  }
  if (!self) return;
  TTraBtnBase::BtnMouseUp(sender, button, shift, x, y);
}

void TTraBtn::BitmapDraw() {
  QImage& bmp = BitmapRef();
  if (bmp.isNull()) return;
  const int w = bmp.width(), h = bmp.height();
  if ((FBColor >> 24) == 0) {
    bmp.fill(Qt::transparent);
    if (!FSVGData.isEmpty()) {
      QPainter p(&bmp);
      IconFill(p, FPath, w, h, FFColor);
    }
    if (FisDown) BitmapInvert(bmp, FFColor);
    return;
  }
  // Cleared first: a translucent background painted over the previous picture would
  // darken with every repaint.
  bmp.fill(Qt::transparent);
  QPainter p(&bmp);
  p.fillRect(QRect(0, 0, w, h), QColor::fromRgba(FBColor));
  if (!FSVGData.isEmpty()) {
    QImage icon(w, h, QImage::Format_ARGB32_Premultiplied);
    if (icon.isNull()) return;
    icon.fill(Qt::transparent);
    {
      QPainter ip(&icon);
      IconFill(ip, FPath, w, h, FFColor);
    }
    if (FisDown) BitmapInvert(icon, FFColor);
    p.setRenderHint(QPainter::SmoothPixmapTransform);
    p.drawImage(QRect(0, 0, w, h), icon);
  }
}

} // namespace skm
