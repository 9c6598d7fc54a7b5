#include "DialogsGallery.h"

#include <QApplication>
#include <QAbstractItemView>
#include <QCheckBox>
#include <QComboBox>
#include <QPainter>

#include "app/dialogs/FrmAbout.h"
#include "app/dialogs/FrmSetup.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"

namespace skmgallery {
namespace {

QImage Grab(QWidget& w) {
  w.show();
  QApplication::processEvents();
  QImage img = w.grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
  img.setDevicePixelRatio(1.0);
  w.hide();
  return img;
}

} // namespace

TDialogShots RenderDialogs(bool light) {
  const skm::TSettings saved = skm::gSettings;
  skm::gSettings.Mode = light ? 1 : 2;
  skm::ThemeInit();
  TDialogShots shots;
  {
    skm::TFrmSetup setup;
    setup.ThemeUpdate();
    skm::TSettings s = skm::gSettingsDefaults;
    s.Mode = skm::gSettings.Mode;
    if (!light) {
      s.ZPPWBrdAutoSave = true;
      s.DoSnapBitmap = true;
      s.Counts = 24;
      s.Alpha = 1.5f;
    }
    setup.FillControls(s);
    shots.Setup = Grab(setup);
    // The open list is a window of its own; it is shown beside the dialog.
    setup.show();
    setup.cbTheme->showPopup();
    QApplication::processEvents();
    QWidget* list = setup.cbTheme->view()->window();
    shots.ThemeList = list->grab().toImage().convertToFormat(QImage::Format_ARGB32_Premultiplied);
    shots.ThemeList.setDevicePixelRatio(1.0);
    setup.cbTheme->hidePopup();
    setup.hide();
  }
  {
    skm::TFrmAbout about;
    about.ThemeUpdate();
    shots.About = Grab(about);
  }
  skm::gSettings = saved;
  skm::ThemeFlags = 1;
  skm::ThemeApply(true);
  return shots;
}

QImage RenderDialogsGallery() {
  const TDialogShots light = RenderDialogs(true);
  const TDialogShots dark = RenderDialogs(false);
  constexpr int kMargin = 16, kCaption = 24;
  const int columnWidth = light.Setup.width();
  const int width = kMargin * 3 + columnWidth * 2;
  const int height = kMargin * 3 + kCaption * 2 + light.Setup.height() + light.About.height();
  QImage out(width, height, QImage::Format_ARGB32_Premultiplied);
  out.fill(QColor(0x80, 0x80, 0x80));
  QPainter p(&out);
  p.setPen(Qt::white);
  QFont f = p.font();
  f.setPixelSize(14);
  f.setBold(true);
  p.setFont(f);
  const TDialogShots* columns[] = {&light, &dark};
  const char* names[] = {"light (WIN10LIGHT)", "dark (WIN10DARK)"};
  for (int c = 0; c < 2; ++c) {
    const int x = kMargin + c * (columnWidth + kMargin);
    int y = kMargin;
    p.drawText(x, y + 16, QStringLiteral("Setup, %1").arg(QLatin1String(names[c])));
    y += kCaption;
    p.drawImage(x, y, columns[c]->Setup);
    y += columns[c]->Setup.height() + kMargin;
    p.drawText(x, y + 16, QStringLiteral("About this program, %1").arg(QLatin1String(names[c])));
    y += kCaption;
    p.drawImage(x, y, columns[c]->About);
    const int listX = x + columns[c]->About.width() + kMargin;
    p.drawText(listX, y - kCaption + 16, QStringLiteral("Theme list open"));
    p.drawImage(listX, y, columns[c]->ThemeList);
  }
  return out;
}

} // namespace skmgallery
