#include "app/dialogs/FrmAbout.h"

#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QMouseEvent>
#include <QPainter>
#include <QPixmap>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/theme/ThemeFMX.h"
#include "platform/FMXUtils.h"

#ifndef SKM_PRODUCT_URL_EN
#define SKM_PRODUCT_URL_EN "https://sketchmark-movies.example.org/"
#endif
#ifndef SKM_PRODUCT_URL_JA
#define SKM_PRODUCT_URL_JA "https://sketchmark-movies.example.org/ja/"
#endif

namespace skm {
namespace {

constexpr int kWidth = 512, kHeight = 256;
constexpr int kTopHeight = 64, kBottomHeight = 40;
// Tahoma where installed; Qt falls back to the desktop's sans serif elsewhere.
const char* kFontFamily = "Tahoma";

QFont AboutFont(int pixelSize) {
  QFont f(QString::fromLatin1(kFontFamily));
  f.setStyleHint(QFont::SansSerif);
  f.setPixelSize(pixelSize);
  return f;
}

QString ColorSheet(quint32 argb) {
  return QStringLiteral("color: %1; background: transparent;").arg(QColor::fromRgba(argb).name(QColor::HexArgb));
}

} // namespace

TFillRect::TFillRect(QWidget* parent) : QWidget(parent) {}

void TFillRect::SetFill(QColor fill) {
  FFill = fill;
  update();
}

void TFillRect::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), FFill);
}

TFrmAbout::TFrmAbout(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FrmAbout"));
  setWindowTitle(QStringLiteral("About this program"));
  setFixedSize(kWidth, kHeight);
  setModal(true);

  Image2 = new QLabel(this);
  Image2->setObjectName(QStringLiteral("Image2"));
  Image2->setGeometry(0, 0, kWidth, kHeight);
  Image2->setAlignment(Qt::AlignLeft | Qt::AlignTop);
  Image2->setScaledContents(false);

  RectTop = new TFillRect(Image2);
  RectTop->setObjectName(QStringLiteral("RectTop"));
  RectTop->setGeometry(0, 0, kWidth, kTopHeight);
  Image1 = new QLabel(RectTop);
  Image1->setObjectName(QStringLiteral("Image1"));
  Image1->setGeometry(0, 0, kTopHeight, kTopHeight);
  Image1->setAlignment(Qt::AlignCenter);
  Image1->setStyleSheet(QStringLiteral("background: transparent;"));
  LbTitle = new QLabel(RectTop);
  LbTitle->setObjectName(QStringLiteral("LbTitle"));
  LbTitle->setGeometry(kTopHeight, 0, kWidth - kTopHeight, kTopHeight);
  LbTitle->setAlignment(Qt::AlignCenter);
  LbTitle->setFont(AboutFont(20));
  LbTitle->setStyleSheet(ColorSheet(0xFFFFFFFFu));

  GridPanelLayout1 = new QWidget(Image2);
  GridPanelLayout1->setObjectName(QStringLiteral("GridPanelLayout1"));
  GridPanelLayout1->setGeometry(0, kTopHeight, kWidth, kHeight - kTopHeight - kBottomHeight);
  auto* rows = new QVBoxLayout(GridPanelLayout1);
  rows->setContentsMargins(0, 0, 0, 0);
  rows->setSpacing(0);
  auto row = [&](const char* name) {
    auto* l = new QLabel(GridPanelLayout1);
    l->setObjectName(QLatin1String(name));
    l->setAlignment(Qt::AlignCenter);
    l->setFont(AboutFont(15));
    rows->addWidget(l, 1);
    return l;
  };
  LbVersion = row("LbVersion");
  LbProduct = row("LbProduct");
  LbURL = row("LbURL");
  LbURL->setCursor(Qt::PointingHandCursor);
  LbURL->installEventFilter(this);

  RectBottom = new TFillRect(Image2);
  RectBottom->setObjectName(QStringLiteral("RectBottom"));
  RectBottom->setGeometry(0, kHeight - kBottomHeight, kWidth, kBottomHeight);
  ButtonOK = new QPushButton(QStringLiteral("OK"), RectBottom);
  ButtonOK->setObjectName(QStringLiteral("ButtonOK"));
  // Centred in the strip with margins 20, 10, 20, 10.
  ButtonOK->setGeometry((kWidth - 120) / 2, 10, 120, 20);
  ButtonOK->setDefault(true);
  connect(ButtonOK, &QPushButton::clicked, this, &QDialog::accept);

  // FormCreate: the icon and the texts are set once.
  QImage icon;
  if (LoadFromResource(icon, QStringLiteral("ZOREMI_ICON64"))) Image1->setPixmap(QPixmap::fromImage(icon));
  const QString v = VersionText();
  LbVersion->setText(v.isEmpty() ? QStringLiteral("Ver.1.0") : QStringLiteral("Ver.") + v);
  LbTitle->setText(QStringLiteral("Sketchmark Movies"));
  LbProduct->setText(QStringLiteral("\u00A9 2026 the Sketchmark Movies developers"));
  LbURL->setText(ProductUrl());
}

QString TFrmAbout::ProductUrl() {
  return IsJapanese() ? QStringLiteral(SKM_PRODUCT_URL_JA) : QStringLiteral(SKM_PRODUCT_URL_EN);
}

void TFrmAbout::ThemeUpdate() {
  isDark = !IsLightTheme();
  QImage skin;
  if (LoadFromResource(skin, isDark ? QStringLiteral("ABOUT_ZOREMI_SKINB") : QStringLiteral("ABOUT_ZOREMI_SKINW")))
    Image2->setPixmap(QPixmap::fromImage(skin));
  RectTop->SetFill(QColor::fromRgba(isDark ? kRectTopDark : kRectTopLight));
  RectBottom->SetFill(QColor::fromRgba(isDark ? kRectBottomDark : kRectBottomLight));
  LbURL->setStyleSheet(ColorSheet(isDark ? kLinkDark : kLinkLight));
  ThemeApply(!isDark);
}

void TFrmAbout::Execute() {
  ThemeUpdate();
  ButtonOK->setFocus();
  exec();
}

void TFrmAbout::LbURLClick() { ShellOpen(ProductUrl()); }

bool TFrmAbout::eventFilter(QObject* watched, QEvent* event) {
  if (watched == LbURL && event->type() == QEvent::MouseButtonRelease) {
    const auto* e = static_cast<QMouseEvent*>(event);
    if (e->button() == Qt::LeftButton && LbURL->rect().contains(e->position().toPoint())) {
      LbURLClick();
      return true;
    }
  }
  return QDialog::eventFilter(watched, event);
}

void TraBtnAboutExecute(TFrmAbout& frmAbout, const std::function<void()>& hideOverlay) {
  if (hideOverlay) hideOverlay();
  frmAbout.Execute();
}

} // namespace skm
