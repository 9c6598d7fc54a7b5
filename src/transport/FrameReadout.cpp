#include "transport/FrameReadout.h"

#include <QEvent>
#include <QFont>
#include <QPainter>
#include <QPainterPath>

namespace skm {

namespace {
constexpr int kTextPx = 15;    // text height in logical pixels
constexpr int kMarginPx = 6;   // from the track's right end
} // namespace

QString FrameReadoutTime(TMediaTime t) {
  if (t == kNoPosition) return QStringLiteral("--:--.---");
  const TMediaTime ms = t / 10'000;
  const TMediaTime s = ms / 1000, h = s / 3600, m = (s / 60) % 60;
  const QString tail = QStringLiteral("%1.%2")
                           .arg(s % 60, 2, 10, QLatin1Char('0'))
                           .arg(ms % 1000, 3, 10, QLatin1Char('0'));
  if (h > 0) return QStringLiteral("%1:%2:").arg(h).arg(m, 2, 10, QLatin1Char('0')) + tail;
  return QStringLiteral("%1:").arg(m, 2, 10, QLatin1Char('0')) + tail;
}

qint64 FrameReadoutIndex(TMediaTime t, TMediaTime step) {
  if (t == kNoPosition || step == 0) return -1;
  return static_cast<qint64>(t / step);
}

QString FrameReadoutFrames(TMediaTime t, TMediaTime step, TMediaTime duration) {
  const qint64 total = step == 0 ? 0 : static_cast<qint64>(duration / step);
  const qint64 n = FrameReadoutIndex(t, step);
  return (n < 0 ? QStringLiteral("-") : QString::number(n)) + QStringLiteral(" / ") + QString::number(total);
}

TTraFrameReadout::TTraFrameReadout(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_TransparentForMouseEvents);
  setAttribute(Qt::WA_TranslucentBackground);
  if (parent) {
    parent->installEventFilter(this);
    setGeometry(0, 0, parent->width(), parent->height() / 2);
  }
  raise();
}

bool TTraFrameReadout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == parentWidget() && event->type() == QEvent::Resize) {
    setGeometry(0, 0, parentWidget()->width(), parentWidget()->height() / 2);
    raise();
  }
  return QWidget::eventFilter(watched, event);
}

void TTraFrameReadout::SetPosition(TMediaTime t, TMediaTime step, TMediaTime duration) {
  FTime = t;
  FStep = step;
  FDuration = duration;
  TextUpdate();
}

void TTraFrameReadout::SetMarks(TMediaTime range0, TMediaTime range1, bool markDrag) {
  FRange0 = range0;
  FRange1 = range1;
  FMarkDrag = markDrag;
  TextUpdate();
}

void TTraFrameReadout::TextUpdate() {
  QString text;
  if (FStep != 0 && FDuration != 0) {
    if (FMarkDrag)
      text = QStringLiteral("A %1   B %2   ")
                 .arg(FrameReadoutIndex(FRange0, FStep))
                 .arg(FrameReadoutIndex(FRange1, FStep));
    text += FrameReadoutFrames(FTime, FStep, FDuration) + QStringLiteral("   ") + FrameReadoutTime(FTime);
  }
  if (text == FText) return;
  FText = text;
  update();
}

void TTraFrameReadout::paintEvent(QPaintEvent*) {
  if (FText.isEmpty()) return;
  QPainter p(this);
  p.setRenderHint(QPainter::Antialiasing);
  p.setOpacity(kOpacity);
  QFont font(QStringLiteral("DejaVu Sans Mono"));
  font.setStyleHint(QFont::Monospace);
  font.setPixelSize(kTextPx);
  // Figures of equal width keep the readout from jittering while it counts.
  QPainterPath path;
  const QFontMetricsF fm(font);
  const double w = fm.horizontalAdvance(FText);
  const double x = width() - kMarginPx - w;
  const double y = (height() + fm.ascent() - fm.descent()) / 2.0;
  path.addText(QPointF(x, y), font, FText);
  // A dark outline under the white text: readable over a bright picture as well.
  p.setPen(QPen(QColor(0, 0, 0, 200), 3.0, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPath(path);
  p.setPen(Qt::NoPen);
  p.setBrush(Qt::white);
  p.drawPath(path);
}

} // namespace skm
