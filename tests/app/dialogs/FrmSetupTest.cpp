// The setup dialog, driven through its real widgets while its modal loop runs.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QTest>
#include <QWindow>
#include <memory>

#include "DialogTestSupport.h"
#include "TestSupport.h"

#include "app/dialogs/FrmSetup.h"
#include "app/dialogs/NumberBox.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "platform/FMXUtils.h"

using skm::gSettings;
using skm::TFrmSetup;
using skmtest::RunModal;

namespace {

bool operator==(const skm::TSettings& a, const skm::TSettings& b) {
  return a.Mode == b.Mode && a.Range0FWD1 == b.Range0FWD1 && a.Range0FWD2 == b.Range0FWD2 &&
         a.BtnBWardD == b.BtnBWardD && a.BtnFWardD == b.BtnFWardD && a.KeyXWard0D == b.KeyXWard0D &&
         a.KeyXWard1D == b.KeyXWard1D && a.KeyXWard3D == b.KeyXWard3D && a.ZPPWBrdAutoSave == b.ZPPWBrdAutoSave &&
         a.VPOAutoSave == b.VPOAutoSave && a.DoSnapBitmap == b.DoSnapBitmap && a.Counts == b.Counts &&
         a.Alpha == b.Alpha;
}

// Settings that differ from the built-in defaults in every value.
skm::TSettings Custom() {
  skm::TSettings s;
  s.Mode = 1;
  s.Range0FWD1 = 25'000'000;
  s.Range0FWD2 = 70'000'000;
  s.BtnBWardD = 50'000'000;
  s.BtnFWardD = 120'000'000;
  s.KeyXWard0D = 3;
  s.KeyXWard1D = 7;
  s.KeyXWard3D = 15;
  s.ZPPWBrdAutoSave = true;
  s.VPOAutoSave = true;
  s.DoSnapBitmap = true;
  s.Counts = 30;
  s.Alpha = 0.5f;
  return s;
}

void Click(QWidget* w) { QTest::mouseClick(w, Qt::LeftButton); }

// A click on a check box's indicator, where a click always toggles it.
void ClickCheck(QCheckBox* c) { QTest::mouseClick(c, Qt::LeftButton, {}, QPoint(8, c->height() / 2)); }

// Replaces a box's text as a user would: select all, type.
void TypeInto(QAbstractSpinBox* box, const QString& text) {
  QTest::keyClick(box, Qt::Key_A, Qt::ControlModifier);
  QTest::keyClicks(box, text);
}

// The title bar's close button: the window system's close request reaches the widget
// through its native window, as here.
void TitleBarClose(QWidget* w) {
  ASSERT_NE(w->windowHandle(), nullptr);
  w->windowHandle()->close();
}

class FrmSetupTest : public ::testing::Test {
protected:
  void SetUp() override {
    FSaved = gSettings;
    gSettings = skm::gSettingsDefaults;
    // Trash operations must land in a throw-away trash, never the user's; the settings
    // folder lies under the same home so the desktop's rules pick that trash.
    FHome = std::make_unique<skmtest::TTempHome>();
    FDir = QString::fromStdString(FHome->Home());
    ASSERT_TRUE(QDir().mkpath(FDir + "/config"));
    skm::SetConfigDir(FDir + "/config");
    skm::SetMessageService(&FMessages);
    skm::SetAppsUseLightThemeSource([this] { return FSystemLight; });
    skm::ThemeInit();
    skm::ThemeApply(true);
  }
  void TearDown() override {
    skm::SetRecycleDeleteHandler({});
    skm::SetAppsUseLightThemeSource({});
    skm::SetMessageService(nullptr);
    skm::SetConfigDir(QString());
    FHome.reset();
    gSettings = FSaved;
    skm::ThemeFlags = 1;
    skm::ThemeApply(true);
  }

  QString WriteWhiteboard() {
    const QString path = FDir + "/config/whiteboard_i.zpp";
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[System]\r\n");
    return path;
  }

  skm::TSettings FSaved;
  std::unique_ptr<skmtest::TTempHome> FHome;
  QString FDir;
  bool FSystemLight = true;
  skmtest::TScriptedMessages FMessages;
};

TEST_F(FrmSetupTest, ExecuteShowsTheSettingsAndOkStoresWhatTheUserChanged) {
  gSettings = Custom();
  TFrmSetup dlg;
  EXPECT_EQ(dlg.windowTitle(), "Setup");
  EXPECT_EQ(dlg.size(), QSize(850, 367));
  const bool ok = RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
    EXPECT_EQ(dlg.cbTheme->currentIndex(), 1);
    EXPECT_DOUBLE_EQ(dlg.nbTR0FWD1->value(), 2.5);
    EXPECT_DOUBLE_EQ(dlg.nbTR0FWD2->value(), 7.0);
    EXPECT_DOUBLE_EQ(dlg.nbBWardD->value(), 5.0);
    EXPECT_DOUBLE_EQ(dlg.nbFWardD->value(), 12.0);
    EXPECT_EQ(dlg.nbXWard0D->value(), 3);
    EXPECT_EQ(dlg.nbXWard1D->value(), 7);
    EXPECT_EQ(dlg.nbXWard2D->value(), 15);
    EXPECT_TRUE(dlg.cbWBrdZPPSave->isChecked());
    EXPECT_TRUE(dlg.cbVPOSave->isChecked());
    EXPECT_TRUE(dlg.cbSnapBitmaps->isChecked());
    EXPECT_TRUE(dlg.nbSnapBitmapsCount->isEnabled());
    EXPECT_EQ(dlg.nbSnapBitmapsCount->value(), 30);
    EXPECT_DOUBLE_EQ(dlg.nbSnapBitmapsAlpha->value(), 0.5);

    QTest::keyClick(dlg.cbTheme, Qt::Key_Down); // Light -> Dark
    ClickCheck(dlg.cbVPOSave);
    // Switching the splitter off disables its boxes; their values are still stored.
    ClickCheck(dlg.cbSnapBitmaps);
    EXPECT_FALSE(dlg.nbSnapBitmapsCount->isEnabled());
    EXPECT_FALSE(dlg.nbSnapBitmapsAlpha->isEnabled());
    TypeInto(dlg.nbFWardD, "45.5");
    QTest::keyClick(dlg.nbFWardD, Qt::Key_Tab);
    Click(dlg.BtOK);
  });
  EXPECT_TRUE(ok);
  EXPECT_EQ(qApp->styleSheet(), skm::ThemeStyleSheet(false)) << "OK keeps the dark style chosen";
  skm::TSettings expected = Custom();
  expected.Mode = 2;
  expected.VPOAutoSave = false;
  expected.DoSnapBitmap = false;
  expected.BtnFWardD = 455'000'000;
  EXPECT_TRUE(gSettings == expected);
  EXPECT_EQ(gSettings.Counts, 30);
  EXPECT_EQ(gSettings.Alpha, 0.5f);
  EXPECT_FALSE(dlg.isZPPWBrdClear);
}

// Typed values: cut to tenths (never rounded), held at the box's ends, committed by Enter
// (which also presses OK, the default button).
TEST_F(FrmSetupTest, TypedValuesAreCutToTenthsAndHeldInRange) {
  struct Case {
    const char* box;
    const char* typed;
    std::function<double()> stored;
    double expected;
  };
  const Case cases[] = {
      {"nbTR0FWD1", "0.25", [] { return double(gSettings.Range0FWD1); }, 2'000'000},
      {"nbTR0FWD1", "0", [] { return double(gSettings.Range0FWD1); }, 1'000'000},
      {"nbTR0FWD1", "7", [] { return double(gSettings.Range0FWD1); }, 30'000'000},
      {"nbTR0FWD2", "2", [] { return double(gSettings.Range0FWD2); }, 30'000'000},
      {"nbBWardD", "99", [] { return double(gSettings.BtnBWardD); }, 600'000'000},
      {"nbFWardD", "12.39", [] { return double(gSettings.BtnFWardD); }, 123'000'000},
      {"nbXWard1D", "12", [] { return double(gSettings.KeyXWard1D); }, 9},
      {"nbXWard1D", "1", [] { return double(gSettings.KeyXWard1D); }, 5},
      {"nbXWard0D", "9", [] { return double(gSettings.KeyXWard0D); }, 4},
      {"nbXWard2D", "3", [] { return double(gSettings.KeyXWard3D); }, 10},
      {"nbSnapBitmapsCount", "100", [] { return double(gSettings.Counts); }, 40},
      {"nbSnapBitmapsAlpha", "3.99", [] { return double(gSettings.Alpha); }, double(3.9f)},
      {"nbSnapBitmapsAlpha", "0.05", [] { return double(gSettings.Alpha); }, double(0.1f)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.box) + " <- " + c.typed);
    gSettings = skm::gSettingsDefaults;
    gSettings.DoSnapBitmap = true; // the splitter boxes take input only when enabled
    TFrmSetup dlg;
    auto* box = dlg.findChild<QAbstractSpinBox*>(c.box);
    ASSERT_NE(box, nullptr);
    const bool ok = RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
      TypeInto(box, c.typed);
      QTest::keyClick(box, Qt::Key_Return);
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(c.stored(), c.expected);
  }
}

TEST_F(FrmSetupTest, ArrowKeysTakeSmallStepsAndPageKeysBigOnes) {
  TFrmSetup dlg;
  RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
    QTest::keyClick(dlg.nbBWardD, Qt::Key_PageUp);  // 10.0 -> 11.0
    QTest::keyClick(dlg.nbBWardD, Qt::Key_Up);      // -> 11.1
    EXPECT_DOUBLE_EQ(dlg.nbBWardD->value(), 11.1);
    QTest::keyClick(dlg.nbXWard2D, Qt::Key_PageUp); // 10 -> 12
    QTest::keyClick(dlg.nbXWard2D, Qt::Key_Up);     // -> 13
    EXPECT_EQ(dlg.nbXWard2D->value(), 13);
    QTest::keyClick(dlg.nbXWard1D, Qt::Key_PageDown); // 5 stays at its lower end
    EXPECT_EQ(dlg.nbXWard1D->value(), 5);
    Click(dlg.BtOK);
  });
  EXPECT_EQ(gSettings.BtnBWardD, 111'000'000u);
  EXPECT_EQ(gSettings.KeyXWard3D, 13u);
}

// Default fills the controls with the built-in values; Cancel, Escape and the title
// bar's close all leave every setting as it was.
TEST_F(FrmSetupTest, DefaultThenCancelChangesNothing) {
  const std::pair<const char*, std::function<void(TFrmSetup&)>> closers[] = {
      {"Cancel button", [](TFrmSetup& d) { Click(d.BtCancel); }},
      {"Escape", [](TFrmSetup& d) { QTest::keyClick(&d, Qt::Key_Escape); }},
      {"title bar", [](TFrmSetup& d) { TitleBarClose(&d); }},
  };
  for (const auto& [name, close] : closers) {
    SCOPED_TRACE(name);
    gSettings = Custom();
    TFrmSetup dlg;
    const bool ok = RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
      Click(dlg.BtDefault);
      EXPECT_EQ(dlg.cbTheme->currentIndex(), 0);
      EXPECT_DOUBLE_EQ(dlg.nbTR0FWD1->value(), 1.0);
      EXPECT_DOUBLE_EQ(dlg.nbTR0FWD2->value(), 3.0);
      EXPECT_DOUBLE_EQ(dlg.nbBWardD->value(), 10.0);
      EXPECT_DOUBLE_EQ(dlg.nbFWardD->value(), 30.0);
      EXPECT_EQ(dlg.nbXWard0D->value(), 1);
      EXPECT_EQ(dlg.nbXWard1D->value(), 5);
      EXPECT_EQ(dlg.nbXWard2D->value(), 10);
      EXPECT_FALSE(dlg.cbWBrdZPPSave->isChecked());
      EXPECT_FALSE(dlg.cbVPOSave->isChecked());
      EXPECT_FALSE(dlg.cbSnapBitmaps->isChecked());
      EXPECT_FALSE(dlg.nbSnapBitmapsCount->isEnabled());
      EXPECT_FALSE(dlg.nbSnapBitmapsAlpha->isEnabled());
      EXPECT_EQ(dlg.nbSnapBitmapsCount->value(), 16);
      EXPECT_DOUBLE_EQ(dlg.nbSnapBitmapsAlpha->value(), 2.0);
      close(dlg);
    });
    EXPECT_FALSE(ok);
    EXPECT_TRUE(gSettings == Custom());
  }
}

TEST_F(FrmSetupTest, ThemeChoicePreviewsAtOnceOkKeepsItCancelRestoresTheThemeInEffect) {
  const QString light = skm::ThemeStyleSheet(true), dark = skm::ThemeStyleSheet(false);
  ASSERT_FALSE(dark.isEmpty());
  ASSERT_NE(light, dark);
  {
    TFrmSetup dlg;
    const bool ok = RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
      EXPECT_EQ(qApp->styleSheet(), light);
      QTest::keyClick(dlg.cbTheme, Qt::Key_Down); // Auto -> Light
      QTest::keyClick(dlg.cbTheme, Qt::Key_Down); // -> Dark
      EXPECT_EQ(qApp->styleSheet(), dark);
      Click(dlg.BtCancel);
    });
    EXPECT_FALSE(ok);
    EXPECT_EQ(gSettings.Mode, 0);
    EXPECT_EQ(qApp->styleSheet(), light) << "Cancel keeps the previewed style";
  }
  {
    // Default previews Auto, which follows the system's switch (dark here).
    FSystemLight = false;
    gSettings.Mode = 1;
    skm::ThemeInit();
    TFrmSetup dlg;
    const bool ok = RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
      EXPECT_EQ(qApp->styleSheet(), light);
      Click(dlg.BtDefault);
      EXPECT_EQ(qApp->styleSheet(), dark);
      Click(dlg.BtOK);
    });
    EXPECT_TRUE(ok);
    EXPECT_EQ(gSettings.Mode, 0);
    EXPECT_EQ(qApp->styleSheet(), dark);
  }
}

// Delete ZPP: asked with No as the default; Yes moves the settings folder's whiteboard
// file to the (throw-away) trash and sets isZPPWBrdClear, which a later Cancel keeps.
TEST_F(FrmSetupTest, DeleteZppAsksThenMovesTheWhiteboardFileToTheTrash) {
  const QString path = WriteWhiteboard();
  ASSERT_EQ(skm::WhiteboardFileName(), path);
  gSettings = Custom();
  TFrmSetup dlg;
  const bool ok = RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
    FMessages.AnswerYes = false;
    Click(dlg.btDeleteZPP);
    EXPECT_TRUE(QFile::exists(path)) << "No deletes nothing";
    EXPECT_FALSE(dlg.isZPPWBrdClear);
    FMessages.AnswerYes = true;
    Click(dlg.btDeleteZPP);
    EXPECT_FALSE(QFile::exists(path));
    EXPECT_TRUE(dlg.isZPPWBrdClear);
    Click(dlg.BtCancel);
  });
  EXPECT_FALSE(ok);
  EXPECT_EQ(FMessages.Asked, QStringList({"Delete ZPP file of Whiteboard?", "Delete ZPP file of Whiteboard?"}));
  EXPECT_EQ(FMessages.DefaultNo, QList<bool>({true, true}));
  EXPECT_TRUE(FMessages.Shown.isEmpty());
  const QString trash = QString::fromStdString(FHome->TrashDir());
  EXPECT_TRUE(QFile::exists(trash + "/files/whiteboard_i.zpp"));
  EXPECT_TRUE(QFile::exists(trash + "/info/whiteboard_i.zpp.trashinfo"));
  EXPECT_TRUE(gSettings == Custom()) << "deleting the file changes no setting";

  // A later Execute starts clear; a missing file still counts as cleared.
  RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
    EXPECT_FALSE(dlg.isZPPWBrdClear);
    Click(dlg.btDeleteZPP);
    EXPECT_TRUE(dlg.isZPPWBrdClear);
    Click(dlg.BtOK);
  });
  EXPECT_TRUE(FMessages.Shown.isEmpty());
}

TEST_F(FrmSetupTest, AFailedTrashIsReportedOnceAndLeavesTheWhiteboardUncleared) {
  const QString path = WriteWhiteboard();
  QStringList attempts;
  skm::SetRecycleDeleteHandler([&](const QString& p) {
    attempts << p;
    return false;
  });
  FMessages.AnswerYes = true;
  TFrmSetup dlg;
  RunModal(dlg, [&] { return dlg.Execute(); }, [&] {
    Click(dlg.btDeleteZPP);
    Click(dlg.BtOK);
  });
  EXPECT_EQ(attempts, QStringList{path});
  ASSERT_EQ(FMessages.Shown.size(), 1);
  EXPECT_TRUE(FMessages.Shown[0].contains(QDir::toNativeSeparators(path))) << FMessages.Shown[0].toStdString();
  EXPECT_FALSE(dlg.isZPPWBrdClear);
  EXPECT_TRUE(QFile::exists(path));
}

// The setup button's command: the main window's parts are reached only after OK, the
// whiteboard list only when the file was deleted.
TEST_F(FrmSetupTest, SetupCommandAppliesTheThemeWhiteboardAndSplitterAfterOkOnly) {
  WriteWhiteboard();
  FMessages.AnswerYes = true;
  QStringList calls;
  skm::TSetupCommandHooks hooks;
  hooks.HideOverlay = [&] { calls << "hide"; };
  hooks.ThemeUpdate = [&] { calls << QString("theme %1").arg(skm::ThemeFlags); };
  hooks.ClearWhiteboard = [&] { calls << "clear"; };
  hooks.SetSnapBitmaps = [&](bool on) { calls << QString("snap %1").arg(on); };
  TFrmSetup dlg;

  // Deleted, then cancelled: the file is gone but the list in memory stays (the main
  // window writes it again at close when auto-save is on).
  EXPECT_FALSE(RunModal(dlg, [&] { return skm::TraBtnSetupExecute(dlg, hooks); }, [&] {
    QTest::keyClick(dlg.cbTheme, Qt::Key_End); // Dark
    Click(dlg.btDeleteZPP);
    Click(dlg.BtCancel);
  }));
  EXPECT_EQ(calls, QStringList{"hide"});
  EXPECT_EQ(skm::ThemeFlags, 1);
  EXPECT_FALSE(QFile::exists(skm::WhiteboardFileName()));
  WriteWhiteboard();

  calls.clear();
  EXPECT_TRUE(RunModal(dlg, [&] { return skm::TraBtnSetupExecute(dlg, hooks); }, [&] {
    QTest::keyClick(dlg.cbTheme, Qt::Key_End);
    ClickCheck(dlg.cbSnapBitmaps);
    Click(dlg.btDeleteZPP);
    Click(dlg.BtOK);
  }));
  // ThemeInit ran before the window's ThemeUpdate: Dark, fixed.
  EXPECT_EQ(calls, QStringList({"hide", "theme 2", "clear", "snap 1"}));

  calls.clear();
  EXPECT_TRUE(RunModal(dlg, [&] { return skm::TraBtnSetupExecute(dlg, hooks); }, [&] { Click(dlg.BtOK); }));
  EXPECT_EQ(calls, QStringList({"hide", "theme 2", "snap 1"}));
}

} // namespace
