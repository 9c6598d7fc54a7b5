// The main window's composition: what it creates, in which order and where, the rule
// that shows the transport area, the theme, and what it saves and frees at close.
// The commands are in FrmMainCommands.cpp, the file opens in FrmMainFiles.cpp.
#include "app/FrmMain.h"
#include "app/WindowExtras.h"

#include <QCloseEvent>
#include <QPainter>
#include <QTextStream>

#include "annotation/SkPath.h"
#include "app/Containers.h"
#include "app/Icons.h"
#include "app/dialogs/FrmAbout.h"
#include "app/dialogs/FrmSetup.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "canvas/SkImage.h"
#include "canvas/SkTraBtn.h"
#include "controls/TraBtn.h"
#include "controls/TraValue.h"
#include "media/MfPackManager.h"
#include "platform/MessageService.h"
#include "transport/TraMediaFMX.h"

namespace skm {

namespace {
constexpr uint32_t kBarDark = 0xFF626262;
constexpr uint32_t kBarLight = 0xFFE0E0E0;
constexpr float kTransportTransD = 0.2f;
constexpr float kLane2OpacityStart = 0.5f;
} // namespace

TMainFrm::TMainFrm(QWidget* parent) : QWidget(parent) {
  resize(1024, 600);
  setMinimumWidth(900);
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAcceptDrops(true);
  setFocusPolicy(Qt::StrongFocus);
  FormCreate();
}

TMainFrm::~TMainFrm() { FormDestroy(); }

void TMainFrm::FormCreate() {
  // The window follows the desktop's light/dark preference from here on.
  FThemeWatcher = new TThemeWatcher([this] { ThemeUpdate(); }, this);
  SettingsLoad(); // before anything reads a setting
  ThemeInit();
  FisDark = !IsLightTheme();
  isPlaying1 = false;
  isPlaying2 = false;

  SkPathsIMGS = new TSkPaths;
  SkPathsWBRD = new TSkPaths;
  if (gSettings.ZPPWBrdAutoSave) {
    std::string err;
    if (!SkPathsWBRD->LoadFromFile(WhiteboardFileName().toStdString(), &err))
      ShowMessage(QStringLiteral("The whiteboard file could not be read.\n") + QString::fromStdString(err));
  }

  SkImage = new TSkImage(this);
  SkImage->SetSkPaths(&SkPathsIMGS);
  SkImage->SetStrokeStyle(kPenPresets[1]);
  // Stacked lanes start half and half: at full opacity lane 2 would hide lane 1 until
  // the user found the gauge.
  SkImage->SetV2Opacity(kLane2OpacityStart);
  const TStrokeStyle style = SkImage->StrokeStyle();

  // The container tree.
  const uint32_t bar = FisDark ? kBarDark : kBarLight;
  RectangleB = new TContainer(this, "RectangleB", TAlign::Bottom, {1024, 60}, bar);
  RectangleB->SetFillOpacity(0.95);
  LayoutB0 = new TContainer(RectangleB, "LayoutB0", TAlign::Bottom, {1024, 60});
  LayoutBC = new TContainer(LayoutB0, "LayoutBC", TAlign::Center, {780, 60});
  LayoutBR = new TContainer(LayoutB0, "LayoutBR", TAlign::Right, {60, 60});

  RectangleC = new TContainer(this, "RectangleC", TAlign::None, {1024, 600}, 0x44888888);
  RectangleC->OnClick = [this] { RectangleCClick(); };
  auto flyOut = [&](const char* rectName, const char* layoutName, int height, QSize layoutSize,
                    TContainer*& rect, TContainer*& layout) {
    rect = new TContainer(RectangleC, rectName, TAlign::Bottom, {1024, height}, bar);
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

  // Bind a command to a button: every handler receives the clicked control.
  using Handler = void (TMainFrm::*)(QObject*);
  auto on = [this](Handler h) -> TNotifyEvent { return [this, h](QObject* s) { (this->*h)(s); }; };
  auto icon = [&](QWidget* parent, const char* svg, int x, int y, Handler h) {
    return TTraBtn::CreateParam(parent, QString::fromLatin1(svg), x, y, FisDark, on(h), nullptr);
  };

  // The 13 bottom-bar buttons, left to right.
  TraBtnOpens = icon(LayoutBC, icons::kOpens, 0, 0, &TMainFrm::TraBtnOpensExecute);
  TraBtnColors = TSkTraBtnColor::CreateParam(LayoutBC, 60, 0, FisDark, on(&TMainFrm::TraBtnColorsExecute),
                                             nullptr, style.Color);
  TraBtnThicknesses = TSkTraBtnThickness::CreateParam(LayoutBC, 120, 0, FisDark,
                                                      on(&TMainFrm::TraBtnThicknessesExecute), nullptr,
                                                      style.Thickness);
  TraBtnDashes = TSkTraBtnDash::CreateParam(LayoutBC, 180, 0, FisDark, on(&TMainFrm::TraBtnDashesExecute),
                                            nullptr, style.Dash);
  TraBtnKinds = TSkTraBtnKind::CreateParam(LayoutBC, 240, 0, FisDark, on(&TMainFrm::TraBtnKindsExecute),
                                           nullptr, style);
  TraBtnPens = icon(LayoutBC, icons::kPens, 300, 0, &TMainFrm::TraBtnPensExecute);
  TraBtnEraser = icon(LayoutBC, icons::kEraser, 360, 0, &TMainFrm::TraBtnEraserExecute);
  TraBtnEraseAll = icon(LayoutBC, icons::kEraseAll, 420, 0, &TMainFrm::TraBtnEraseAllExecute);
  TraBtnCenter1 = icon(LayoutBC, icons::kCenter1, 480, 0, &TMainFrm::TraBtnCenter1Execute);
  TraBtnCenter2 = icon(LayoutBC, icons::kCenter2, 540, 0, &TMainFrm::TraBtnCenter2Execute);
  TraBtnRedo = icon(LayoutBC, icons::kRedo, 600, 0, &TMainFrm::TraBtnRedoExecute);
  TraBtnUndo = icon(LayoutBC, icons::kUndo, 660, 0, &TMainFrm::TraBtnUndoExecute);
  TraBtnWbrd = icon(LayoutBC, icons::kWbrd, 720, 0, &TMainFrm::TraBtnWbrdExecute);

  // The presets, in their fly-outs.
  for (int i = 0; i < 9; ++i)
    TraBtnColorsX[i] = TSkTraBtnColor::CreateParam(LayoutColors, 60 * i, 0, FisDark,
                                                   on(&TMainFrm::TraBtnColorsXExecute), nullptr, kColorPresets[i]);
  for (int i = 0; i < 8; ++i)
    TraBtnThicknessesX[i] = TSkTraBtnThickness::CreateParam(LayoutThicknesses, 60 * i, 0, FisDark,
                                                            on(&TMainFrm::TraBtnThicknessesXExecute), nullptr,
                                                            kThicknessPresets[i]);
  for (int i = 0; i < 5; ++i)
    TraBtnDashesX[i] = TSkTraBtnDash::CreateParam(LayoutDashes, 60 * i, 0, FisDark,
                                                  on(&TMainFrm::TraBtnDashesXExecute), nullptr,
                                                  kDashPresets[i]);
  for (int r = 0; r < 2; ++r)
    for (int c = 0; c < 8; ++c)
      TraBtnKindsX[r][c] = TSkTraBtnKind::CreateParam(LayoutKinds, 60 * c, 60 * r, FisDark,
                                                      on(&TMainFrm::TraBtnKindsXExecute), nullptr,
                                                      KindPreset(8 * r + c));
  for (int i = 0; i < 10; ++i)
    TraBtnPensX[i] = TSkTraBtn::CreateParam(LayoutPens, 60 * i, 0, FisDark, on(&TMainFrm::TraBtnPensXExecute),
                                            nullptr, kPenPresets[i]);

  TraBtnOpen1 = icon(LayoutOpens, icons::kOpen1, 0, 0, &TMainFrm::TraBtnOpen1Execute);
  TraBtnOpen2 = icon(LayoutOpens, icons::kOpen2, 60, 0, &TMainFrm::TraBtnOpen2Execute);
  TraBtnMenu = icon(LayoutBR, icons::kMenu, 0, 0, &TMainFrm::TraBtnMenuExecute);
  TraBtnSetup = icon(LayoutSetups, icons::kSetup, 0, 0, &TMainFrm::TraBtnSetupExecute);
  TraBtnAbout = icon(LayoutSetups, icons::kAbout, 60, 0, &TMainFrm::TraBtnAboutExecute);

  // The lanes: frames go to the canvas, status reports come here.
  MfPackManager1 = new TMfPackManager;
  // In whiteboard mode the board is lane 1's picture: a frame still arriving from a lane
  // that was just paused must not replace it (leaving the board shows the frame again).
  MfPackManager1->TimerViewProc = [this](const QImage& b) {
    if (!FBoardShown) SkImage->ImageV1Capture(b);
  };
  MfPackManager2 = new TMfPackManager;
  MfPackManager2->TimerViewProc = [this](const QImage& b) { SkImage->ImageV2Capture(b); };
  SettingsPassDown();
  // The frame splitter works in lane 1 only.
  MfPackManager1->SetIsSnapBitmaps(gSettings.DoSnapBitmap);

  TraMedialayout1 = TTraMediaLayout::CreateParam(this, LayoutM1, MfPackManager1, FisDark, kTransportTransD);
  MfPackManager1->TimerInfoProc = [this](TMediaTime t, float v, bool p) { MfPackManager1Info(t, v, p); };
  TraMedialayout2 = TTraMediaLayout::CreateParam(this, LayoutM2, MfPackManager2, FisDark, kTransportTransD);
  MfPackManager2->TimerInfoProc = [this](TMediaTime t, float v, bool p) { MfPackManager2Info(t, v, p); };
  SettingsPassDown();

  TraOpacity = TTraValueF::CreateParam(LayoutML, SkImage->V2Opacity(), FisDark,
                                       [this](float v) { SkImage->ImageV2OpacityChange(v); });
  TraOpacity->SetTransD(kTransportTransD);
  TraBtnPlayX = icon(LayoutML, icons::kPlay, 60, 30, &TMainFrm::TraBtnPlayXExecute);
  TraBtnPlayX->SetTransD(kTransportTransD);

  Extras = new TWindowExtras(this);
  StyleUpdate();
  LaneLayoutUpdate();

  // The dialogs exist from the start, hidden, centred over this window when shown.
  FFrmSetup = new TFrmSetup(this);
  FFrmAbout = new TFrmAbout(this);

  RectangleC->hide();
  SkImage->lower();
  RectangleB->raise();
  LayoutM->raise();
  RectangleC->raise();
  setWindowTitle(QStringLiteral("Sketchmark Movies"));
  FormResize();
}

void TMainFrm::SettingsPassDown() {
  // Lower layers never read the settings themselves; they get the values in force.
  for (TMfPackManager* m : {MfPackManager1, MfPackManager2}) {
    if (!m) continue;
    m->SetSnapCounts(gSettings.Counts);
    m->SetSnapAlpha(gSettings.Alpha);
  }
  TTraLayerSettings layer;
  layer.BtnBWardD = gSettings.BtnBWardD;
  layer.BtnFWardD = gSettings.BtnFWardD;
  layer.KeyXWard0D = gSettings.KeyXWard0D;
  layer.KeyXWard1D = gSettings.KeyXWard1D;
  layer.KeyXWard3D = gSettings.KeyXWard3D;
  for (TTraMediaLayout* b : {TraMedialayout1, TraMedialayout2}) {
    if (!b) continue;
    b->SetLayerSettings(layer);
    b->TraTrack->SetRange0FWD1(gSettings.Range0FWD1);
    b->TraTrack->SetRange0FWD2(gSettings.Range0FWD2);
  }
}

void TMainFrm::FormDestroy() {
  if (FDestroyed) return;
  FDestroyed = true;
  if (gSettings.VPOAutoSave) {
    TraMedialayout1->RangesSaveToFile();
    TraMedialayout2->RangesSaveToFile();
  }
  QString err;
  if (!SettingsSave(&err)) {
    // Reported, but the rest of the close still runs: nothing else may be lost for it.
    FSettingsError = err;
    QTextStream(stderr) << "Sketchmark Movies: the settings could not be saved: " << err << "\n";
    ShowMessage(QStringLiteral("The settings could not be saved.\n") + err);
  }

  // The controls go first: the bars and the canvas refer to the managers and lists.
  delete FFrmSetup;
  FFrmSetup = nullptr;
  delete FFrmAbout;
  FFrmAbout = nullptr;
  delete Extras; // its link refers to the bars
  Extras = nullptr;
  delete RectangleB;
  RectangleB = nullptr;
  delete RectangleC;
  RectangleC = nullptr;
  delete LayoutM; // the gauge, play both and both transport bars
  LayoutM = nullptr;
  TraMedialayout1 = TraMedialayout2 = nullptr;
  TraOpacity = nullptr;
  TraBtnPlayX = nullptr;
  MfPackManager1->TimerViewProc = nullptr;
  MfPackManager2->TimerViewProc = nullptr;
  MfPackManager1->TimerInfoProc = nullptr;
  MfPackManager2->TimerInfoProc = nullptr;
  delete SkImage;
  SkImage = nullptr;

  if (gSettings.ZPPWBrdAutoSave) {
    std::string werr;
    if (!SkPathsWBRD->SaveToFile(WhiteboardFileName().toStdString(), &werr)) {
      QTextStream(stderr) << "Sketchmark Movies: the whiteboard could not be saved: "
                          << QString::fromStdString(werr) << "\n";
      ShowMessage(QStringLiteral("The whiteboard could not be saved.\n") + QString::fromStdString(werr));
    }
  }
  delete SkPathsIMGS;
  SkPathsIMGS = nullptr;
  delete SkPathsWBRD;
  SkPathsWBRD = nullptr;
  delete MfPackManager1; // each ends its playback session
  MfPackManager1 = nullptr;
  delete MfPackManager2;
  MfPackManager2 = nullptr;
}

void TMainFrm::FormResize() {
  if (!RectangleC) return;
  RectangleC->setGeometry(0, 0, width(), height());
  if (SkImage) SkImage->setGeometry(0, 0, width(), std::max(0, height() - 60));
  LayoutMPlace();
}

void TMainFrm::LayoutMPlace() {
  // Anchored to the left, right and bottom edges: its bottom touches the bottom bar.
  const int h = LayoutM->DesignSize().height();
  LayoutM->setGeometry(0, height() - 60 - h, width(), h);
}

void TMainFrm::LaneLayoutUpdate() {
  if (TraBtnWbrd->isDown()) {
    LayoutM->hide();
    return;
  }
  const int k1 = FileKind(SkImage->V1Filename());
  const int k2 = FileKind(SkImage->V2Filename());
  if (k1 == 0 && k2 == 0) {
    LayoutM->hide();
    return;
  }
  LayoutM1->setVisible(k1 == 2);
  LayoutM2->setVisible(k2 == 2);
  TraOpacity->setVisible(k2 != 0);
  TraBtnPlayX->setVisible(k1 == 2 && k2 == 2);
  if (!TraOpacity->isHidden()) {
    LayoutML->show();
    LayoutM->SetDesignSize({width(), 120});
    LayoutM->show();
    LayoutML->SetDesignSize({TraBtnPlayX->isHidden() ? 60 : 120, 120});
  } else {
    LayoutML->hide();
    LayoutM->SetDesignSize({width(), 60});
    LayoutM->setVisible(!LayoutM1->isHidden());
  }
  LayoutMPlace();
  LayoutM->Realign();
  LayoutMC->Realign();
  if (Extras) Extras->LaneLayoutUpdate();
}

// --- Theme ------------------------------------------------------------------------------

void TMainFrm::StyleUpdate() {
  ThemeApply(!FisDark);
  const uint32_t fill = FisDark ? kBarDark : kBarLight;
  for (TContainer* r : {RectangleB, RectangleColors, RectangleThicknesses, RectangleDashes, RectangleKinds,
                        RectanglePens, RectangleOpens, RectangleSetups})
    r->SetFill(fill);
  // The transport area lies over the pictures: white on transparent in both themes.
  if (TraMedialayout1) TraMedialayout1->SetIsDark(true);
  if (TraMedialayout2) TraMedialayout2->SetIsDark(true);
  if (TraOpacity) TraOpacity->SetIsDark(true);
  if (TraBtnPlayX) TraBtnPlayX->SetIsDark(true);
}

void TMainFrm::ThemeUpdate() {
  if (FDestroyed) return;
  FisDark = !IsLightTheme();
  StyleUpdate();
  ThemeControls();
  update();
}

void TMainFrm::ThemeControls() {
  for (TTraBtnBase* b : std::initializer_list<TTraBtnBase*>{
           TraBtnOpens, TraBtnOpen1, TraBtnOpen2, TraBtnEraser, TraBtnEraseAll, TraBtnCenter1, TraBtnCenter2,
           TraBtnRedo, TraBtnUndo, TraBtnPens, TraBtnColors, TraBtnThicknesses, TraBtnDashes, TraBtnKinds,
           TraBtnWbrd, TraBtnMenu, TraBtnSetup, TraBtnAbout})
    b->SetIsDark(FisDark);
  for (auto* b : TraBtnColorsX) b->SetIsDark(FisDark);
  for (auto* b : TraBtnThicknessesX) b->SetIsDark(FisDark);
  for (auto* b : TraBtnDashesX) b->SetIsDark(FisDark);
  for (auto* b : TraBtnPensX) b->SetIsDark(FisDark);
  for (auto& row : TraBtnKindsX)
    for (auto* b : row) b->SetIsDark(FisDark);
  if (Extras) Extras->ThemeUpdate(FisDark);
}

// --- Overlay ----------------------------------------------------------------------------

void TMainFrm::RectangleCShow() {
  for (TContainer* r : {RectangleColors, RectangleThicknesses, RectangleDashes, RectangleKinds, RectanglePens,
                        RectangleOpens, RectangleSetups})
    r->hide();
  RectangleC->show();
  RectangleC->raise();
}

void TMainFrm::RectangleCClick() { RectangleC->hide(); }

// --- Events -----------------------------------------------------------------------------

void TMainFrm::resizeEvent(QResizeEvent* e) {
  QWidget::resizeEvent(e);
  AlignChildren(this, rect());
  FormResize();
}

void TMainFrm::closeEvent(QCloseEvent* e) {
  if (FOpening) {
    // The open in progress waits inside this very call chain: end it first, then close
    // once it has unwound (MediaOpen sees the request).
    FCloseRequested = true;
    MfPackManager1->MediaClose();
    MfPackManager2->MediaClose();
    e->ignore();
    return;
  }
  FormDestroy();
  e->accept();
}

void TMainFrm::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.fillRect(rect(), Qt::black);
}

} // namespace skm
