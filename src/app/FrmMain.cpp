#include "app/FrmMain.h"

#include <QCloseEvent>
#include <QPainter>
#include <QTextStream>

#include "app/Containers.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "platform/MessageService.h"

namespace skm {

namespace {
constexpr uint32_t kBarFill = 0xFF626262;
}

TMainFrm::TMainFrm(QWidget* parent) : QWidget(parent) {
  resize(1024, 600);
  setMinimumWidth(900);
  setAttribute(Qt::WA_OpaquePaintEvent);
  FormCreate();
}

TMainFrm::~TMainFrm() { FormDestroy(); }

void TMainFrm::FormCreate() {
  SettingsLoad(); // before anything reads a setting
  ThemeInit();

  RectangleB = new TContainer(this, "RectangleB", TAlign::Bottom, {1024, 60}, kBarFill);
  RectangleB->SetFillOpacity(0.95);
  LayoutB0 = new TContainer(RectangleB, "LayoutB0", TAlign::Bottom, {1024, 60});
  LayoutBC = new TContainer(LayoutB0, "LayoutBC", TAlign::Center, {780, 60});
  LayoutBR = new TContainer(LayoutB0, "LayoutBR", TAlign::Right, {60, 60});

  RectangleC = new TContainer(this, "RectangleC", TAlign::None, {1024, 600}, 0x44888888);
  RectangleC->OnClick = [this] { RectangleCClick(); };
  auto flyOut = [this](const char* rectName, const char* layoutName, int height, QSize layoutSize,
                       TContainer*& rect, TContainer*& layout) {
    rect = new TContainer(RectangleC, rectName, TAlign::Bottom, {1024, height}, kBarFill);
    rect->SetHitTest(false);
    layout = new TContainer(rect, layoutName, TAlign::Center, layoutSize);
  };
  flyOut("RectanglePens", "LayoutPens", 60, {600, 60}, RectanglePens, LayoutPens);
  flyOut("RectangleKinds", "LayoutKinds", 120, {480, 120}, RectangleKinds, LayoutKinds);
  flyOut("RectangleColors", "LayoutColors", 60, {540, 60}, RectangleColors, LayoutColors);
  flyOut("RectangleDashes", "LayoutDashes", 60, {300, 60}, RectangleDashes, LayoutDashes);
  flyOut("RectangleThicknesses", "LayoutThicknesses", 60, {480, 60}, RectangleThicknesses, LayoutThicknesses);
  flyOut("RectangleOpens", "LayoutOpens", 60, {120, 60}, RectangleOpens, LayoutOpens);
  flyOut("RectangleSetups", "LayoutSetups", 60, {120, 60}, RectangleSetups, LayoutSetups);

  LayoutM = new TContainer(this, "LayoutM", TAlign::None, {1024, 120});
  LayoutML = new TContainer(LayoutM, "LayoutML", TAlign::Left, {120, 120});
  LayoutMC = new TContainer(LayoutM, "LayoutMC", TAlign::Client, {904, 120});
  LayoutM1 = new TContainer(LayoutMC, "LayoutM1", TAlign::Bottom, {904, 60});
  LayoutM2 = new TContainer(LayoutMC, "LayoutM2", TAlign::Bottom, {904, 60});

  ThemeUpdate();
  FThemeWatcher = new TThemeWatcher([this] { ThemeUpdate(); }, this);

  RectangleC->hide();
  RectangleB->raise();
  LayoutM->raise();
  RectangleC->raise();
  setWindowTitle(QStringLiteral("Sketchmark Movies"));
  FormResize();
}

void TMainFrm::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  QString err;
  if (!SettingsSave(&err)) {
    // Reported, but the rest of the close still runs: nothing else may be lost for it.
    FSettingsError = err;
    QTextStream(stderr) << "Sketchmark Movies: the settings could not be saved: " << err << "\n";
    ShowMessage(QStringLiteral("The settings could not be saved.\n") + err);
  }
}

void TMainFrm::FormResize() {
  if (!RectangleC) return;
  RectangleC->setGeometry(0, 0, width(), height());
  LayoutMPlace();
}

void TMainFrm::LayoutMPlace() {
  // Anchored to the left, right and bottom edges, just above the bottom bar.
  const int h = LayoutM->DesignSize().height();
  LayoutM->setGeometry(0, height() - RectangleB->DesignSize().height() - h, width(), h);
}

void TMainFrm::ThemeUpdate() {
  const bool light = IsLightTheme();
  if (isVisible()) ThemeApply(light); // follows a change of the desktop's preference
  const uint32_t bar = light ? 0xFFF3F3F3 : 0xFF202020;
  for (TContainer* r : {RectangleB, RectanglePens, RectangleKinds, RectangleColors, RectangleDashes,
                        RectangleThicknesses, RectangleOpens, RectangleSetups})
    r->SetFill(bar);
}

void TMainFrm::RectangleCShow() {
  for (TContainer* r : {RectangleColors, RectangleThicknesses, RectangleDashes, RectangleKinds, RectanglePens,
                        RectangleOpens, RectangleSetups})
    r->hide();
  RectangleC->show();
  RectangleC->raise();
}

void TMainFrm::RectangleCClick() { RectangleC->hide(); }

void TMainFrm::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  AlignChildren(this, rect());
  FormResize();
}

void TMainFrm::closeEvent(QCloseEvent* e) {
  FormDestroy();
  e->accept();
}

void TMainFrm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
}

} // namespace skm
