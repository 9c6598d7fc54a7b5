#include "app/Splash.h"

#include <QGuiApplication>
#include <QPainter>
#include <QScreen>

#include "platform/FMXUtils.h"

namespace skm {

TSplashFrm::TSplashFrm() : QWidget(nullptr, Qt::SplashScreen | Qt::FramelessWindowHint) {
  LoadFromResource(FPicture, QStringLiteral("SKM11SPLASH"));
  setFixedSize(512, 256);
  if (QScreen* s = QGuiApplication::primaryScreen()) {
    const QRect g = s->availableGeometry();
    move(g.center() - QPoint(256, 128));
  }
}

void TSplashFrm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
  if (!FPicture.isNull()) p.drawImage(QPoint(0, 0), FPicture); // unscaled
}

} // namespace skm
