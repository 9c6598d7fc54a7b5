#pragma once
// The splash window: borderless, 512 x 256, centred, showing the resource "SKM11SPLASH".

#include <QImage>
#include <QWidget>

namespace skm {

class TSplashFrm : public QWidget {
  Q_OBJECT
public:
  TSplashFrm();
  // The picture shown (null when the resource is missing).
  const QImage& Picture() const { return FPicture; }

protected:
  void paintEvent(QPaintEvent*) override;

private:
  QImage FPicture;
};

} // namespace skm
