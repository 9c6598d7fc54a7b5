#include "app/dialogs/FrmSetup.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QPushButton>

#include "app/dialogs/NumberBox.h"
#include "app/theme/ThemeFMX.h"
#include "platform/FMXUtils.h"
#include "platform/MessageService.h"
#include "platform/core/MediaTime.h"

namespace skm {
namespace {

constexpr int kClientWidth = 850, kClientHeight = 367;
constexpr int kBoxWidth = 100, kBoxHeight = 21;
constexpr int kLabelHeight = 21;
constexpr int kButtonWidth = 80, kButtonHeight = 22;

QLabel* MakeLabel(QWidget* parent, const char* name, const QString& text, int x, int y, int width) {
  auto* l = new QLabel(text, parent);
  l->setObjectName(QLatin1String(name));
  // The labels sit one unit lower than their boxes; centring them on the box's line
  // keeps the text level with the numbers.
  l->setGeometry(x, y - 1, width, kLabelHeight);
  l->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  return l;
}

template <class Box, class... Args>
Box* MakeBox(QWidget* parent, const char* name, int x, int y, Args... args) {
  auto* b = new Box(args..., parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(x, y, kBoxWidth, kBoxHeight);
  return b;
}

QCheckBox* MakeCheck(QWidget* parent, const char* name, const QString& text, int x, int y, int width) {
  auto* c = new QCheckBox(text, parent);
  c->setObjectName(QLatin1String(name));
  c->setGeometry(x, y, width, kLabelHeight);
  return c;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& text, int x, int y, int width) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setGeometry(x, y, width, kButtonHeight);
  // Only OK answers Enter; a focused Delete or Default button must not.
  b->setAutoDefault(false);
  return b;
}

} // namespace

TFrmSetup::TFrmSetup(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowCloseButtonHint | Qt::MSWindowsFixedSizeDialogHint) {
  setObjectName(QStringLiteral("FrmSetup"));
  setWindowTitle(QStringLiteral("Setup"));
  setFixedSize(kClientWidth, kClientHeight);
  setModal(true);

  // Left column: theme, the four times, the two auto-save switches.
  Label1 = MakeLabel(this, "Label1", QStringLiteral("Theme:"), 40, 23, 200);
  cbTheme = new QComboBox(this);
  cbTheme->setObjectName(QStringLiteral("cbTheme"));
  cbTheme->addItems({QStringLiteral("Auto"), QStringLiteral("Light"), QStringLiteral("Dark")});
  cbTheme->setGeometry(273, 22, 100, 20);
  Label2 = MakeLabel(this, "Label2", QStringLiteral("\u25BC+Ctrl Time[s]:"), 40, 65, 200);
  nbTR0FWD1 = MakeBox<TNumberBoxD>(this, "nbTR0FWD1", 273, 64, 0.1, 3.0, 0.1, 1.0);
  Label3 = MakeLabel(this, "Label3", QStringLiteral("\u25BC+Shift Time[s]:"), 40, 107, 200);
  nbTR0FWD2 = MakeBox<TNumberBoxD>(this, "nbTR0FWD2", 273, 106, 3.0, 9.0, 0.1, 1.0);
  Label4 = MakeLabel(this, "Label4", QStringLiteral("\u23E9 Times[s]"), 40, 149, 200);
  nbBWardD = MakeBox<TNumberBoxD>(this, "nbBWardD", 273, 148, 0.1, 60.0, 0.1, 1.0);
  Label5 = MakeLabel(this, "Label5", QStringLiteral("\u23E9 Time[s]:"), 40, 192, 200);
  nbFWardD = MakeBox<TNumberBoxD>(this, "nbFWardD", 273, 190, 0.1, 60.0, 0.1, 1.0);
  cbWBrdZPPSave = MakeCheck(this, "cbWBrdZPPSave", QStringLiteral("Auto Save ZPP"), 40, 239, 200);
  btDeleteZPP = MakeButton(this, "btDeleteZPP", QStringLiteral("Delete ZPP"), 273, 238, 100);
  cbVPOSave = MakeCheck(this, "cbVPOSave", QStringLiteral("Auto Save VPO"), 40, 287, 200);

  // Right column: key-step frame counts and the frame splitter.
  Label6 = MakeLabel(this, "Label6", QStringLiteral("Trackbar Change[frame]:"), 420, 23, 240);
  nbXWard1D = MakeBox<TNumberBoxI>(this, "nbXWard1D", 680, 22, 5, 9, 1, 2);
  Label7 = MakeLabel(this, "Label7", QStringLiteral("Trackbar Small Change[frame]:"), 420, 65, 240);
  nbXWard0D = MakeBox<TNumberBoxI>(this, "nbXWard0D", 680, 64, 1, 4, 1, 2);
  Label8 = MakeLabel(this, "Label8", QStringLiteral("Trackbar Big Change[frame]:"), 420, 107, 240);
  nbXWard2D = MakeBox<TNumberBoxI>(this, "nbXWard2D", 680, 106, 10, 20, 1, 2);
  cbSnapBitmaps = MakeCheck(this, "cbSnapBitmaps", QStringLiteral("Frame Splitter when paused"), 420, 150, 360);
  Label10 = MakeLabel(this, "Label10", QStringLiteral("Frame Splitter Count"), 440, 192, 220);
  nbSnapBitmapsCount = MakeBox<TNumberBoxI>(this, "nbSnapBitmapsCount", 680, 190, 2, 40, 1, 2);
  Label9 = MakeLabel(this, "Label9", QStringLiteral("Frame Splitter Alpha"), 440, 234, 220);
  nbSnapBitmapsAlpha = MakeBox<TNumberBoxD>(this, "nbSnapBitmapsAlpha", 680, 231, 0.1, 4.0, 0.1, 1.0);

  // Bottom row.
  BtDefault = MakeButton(this, "BtDefault", QStringLiteral("Default"), 8, 337, kButtonWidth);
  BtCancel = MakeButton(this, "BtCancel", QStringLiteral("Cancel"), 666, 337, kButtonWidth);
  BtOK = MakeButton(this, "BtOK", QStringLiteral("OK"), 754, 337, kButtonWidth);
  BtOK->setAutoDefault(true);
  BtOK->setDefault(true);

  // Tab order follows the columns, top to bottom, then the bottom row.
  QWidget* order[] = {cbTheme, nbTR0FWD1, nbTR0FWD2, nbBWardD, nbFWardD, cbWBrdZPPSave, btDeleteZPP,
                      cbVPOSave, nbXWard1D, nbXWard0D, nbXWard2D, cbSnapBitmaps, nbSnapBitmapsCount,
                      nbSnapBitmapsAlpha, BtDefault, BtCancel, BtOK};
  for (size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);

  connect(cbTheme, &QComboBox::currentIndexChanged, this, &TFrmSetup::cbThemeChange);
  connect(cbSnapBitmaps, &QCheckBox::toggled, this, &TFrmSetup::cbSnapBitmapsChange);
  connect(BtDefault, &QPushButton::clicked, this, &TFrmSetup::BtDefaultClick);
  connect(btDeleteZPP, &QPushButton::clicked, this, &TFrmSetup::btDeleteZPPClick);
  connect(BtCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(BtOK, &QPushButton::clicked, this, &QDialog::accept);
}

void TFrmSetup::ThemeUpdate() {
  FStyleLight = IsLightTheme();
  ThemeApply(FStyleLight);
}

bool TFrmSetup::Execute() {
  ThemeUpdate();
  isZPPWBrdClear = false;
  FillControls(gSettings);
  BtOK->setFocus();
  if (exec() != QDialog::Accepted) {
    // A previewed theme is undone: the main window still follows the unchanged Mode.
    if (FStyleLight != IsLightTheme()) ThemeUpdate();
    return false;
  }
  StoreControls();
  return true;
}

void TFrmSetup::FillControls(const TSettings& s) {
  cbTheme->setCurrentIndex(s.Mode <= 2 ? s.Mode : 0);
  nbTR0FWD1->setValue(TimeToSeconds(s.Range0FWD1));
  nbTR0FWD2->setValue(TimeToSeconds(s.Range0FWD2));
  nbBWardD->setValue(TimeToSeconds(s.BtnBWardD));
  nbFWardD->setValue(TimeToSeconds(s.BtnFWardD));
  // The frame counts are 64-bit settings held in small ranges; the boxes clamp anything
  // larger (the settings are clamped on load anyway).
  auto count = [](uint64_t v) { return static_cast<int>(std::min<uint64_t>(v, 1'000'000)); };
  nbXWard0D->setValue(count(s.KeyXWard0D));
  nbXWard1D->setValue(count(s.KeyXWard1D));
  nbXWard2D->setValue(count(s.KeyXWard3D));
  cbWBrdZPPSave->setChecked(s.ZPPWBrdAutoSave);
  cbVPOSave->setChecked(s.VPOAutoSave);
  cbSnapBitmaps->setChecked(s.DoSnapBitmap);
  cbSnapBitmapsChange(); // toggled() does not fire when the state stays the same
  nbSnapBitmapsCount->setValue(s.Counts);
  nbSnapBitmapsAlpha->setValue(static_cast<double>(s.Alpha));
}

void TFrmSetup::StoreControls() {
  // A value still being typed counts as shown once committed (held in range, cut to tenths).
  for (QAbstractSpinBox* box : std::initializer_list<QAbstractSpinBox*>{
           nbTR0FWD1, nbTR0FWD2, nbBWardD, nbFWardD, nbXWard0D, nbXWard1D, nbXWard2D, nbSnapBitmapsCount,
           nbSnapBitmapsAlpha})
    box->interpretText();
  TSettings& s = gSettings;
  s.Mode = static_cast<uint8_t>(std::max(cbTheme->currentIndex(), 0));
  s.Range0FWD1 = SecondsToTime(nbTR0FWD1->value());
  s.Range0FWD2 = SecondsToTime(nbTR0FWD2->value());
  s.BtnBWardD = SecondsToTime(nbBWardD->value());
  s.BtnFWardD = SecondsToTime(nbFWardD->value());
  s.KeyXWard0D = static_cast<uint64_t>(nbXWard0D->value());
  s.KeyXWard1D = static_cast<uint64_t>(nbXWard1D->value());
  s.KeyXWard3D = static_cast<uint64_t>(nbXWard2D->value());
  s.ZPPWBrdAutoSave = cbWBrdZPPSave->isChecked();
  s.VPOAutoSave = cbVPOSave->isChecked();
  s.DoSnapBitmap = cbSnapBitmaps->isChecked();
  s.Counts = nbSnapBitmapsCount->value();
  s.Alpha = static_cast<float>(nbSnapBitmapsAlpha->value());
}

void TFrmSetup::cbThemeChange(int index) {
  bool light = false;
  switch (index) {
  case 0: light = AppsUseLightThemeRead(); break;
  case 1: light = true; break;
  default: light = false; break; // Dark, and no item
  }
  FStyleLight = light;
  ThemeApply(light);
}

void TFrmSetup::cbSnapBitmapsChange() {
  const bool on = cbSnapBitmaps->isChecked();
  nbSnapBitmapsCount->setEnabled(on);
  nbSnapBitmapsAlpha->setEnabled(on);
}

void TFrmSetup::BtDefaultClick() { FillControls(gSettingsDefaults); }

void TFrmSetup::btDeleteZPPClick() {
  if (!ConfirmDefaultNo(QStringLiteral("Delete ZPP file of Whiteboard?"))) return;
  const QString path = WhiteboardFileName();
  const QFileInfo info(path);
  if ((info.exists() || info.isSymLink()) && !RecycleDelete(path)) {
    // The file is still there: the main window must not empty the list it would
    // otherwise save over it, so the flag stays as it was.
    ShowMessage(QStringLiteral("The whiteboard file could not be moved to the trash or deleted:\n%1")
                    .arg(QDir::toNativeSeparators(path)));
    return;
  }
  isZPPWBrdClear = true;
}

bool TraBtnSetupExecute(TFrmSetup& frmSetup, const TSetupCommandHooks& hooks) {
  if (hooks.HideOverlay) hooks.HideOverlay();
  if (!frmSetup.Execute()) return false;
  ThemeInit();
  if (hooks.ThemeUpdate) hooks.ThemeUpdate();
  if (frmSetup.isZPPWBrdClear && hooks.ClearWhiteboard) hooks.ClearWhiteboard();
  if (hooks.SetSnapBitmaps) hooks.SetSnapBitmaps(gSettings.DoSnapBitmap);
  return true;
}

} // namespace skm
