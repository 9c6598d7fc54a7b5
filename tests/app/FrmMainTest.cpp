// The main window's composition and commands, on Qt's offscreen platform with real
// movies and pictures; the real window on a real X server is tests/e2e.
#include <gtest/gtest.h>

#include <QDir>
#include <QDropEvent>
#include <QElapsedTimer>
#include <QFile>
#include <QMimeData>
#include <QTest>
#include <QTimer>
#include <QUrl>

#include "MediaTestSupport.h"
#include "TestMovies.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "annotation/SkPath.h"
#include "app/Containers.h"
#include "app/FrmMain.h"
#include "app/settings/Setup.h"
#include "app/theme/ThemeFMX.h"
#include "canvas/SkImage.h"
#include "canvas/SkTraBtn.h"
#include "controls/TraBtn.h"
#include "controls/TraValue.h"
#include "media/MfPackManager.h"
#include "platform/FMXUtils.h"
#include "platform/openkind/OpenKind.h"
#include "transport/TraMediaFMX.h"

using namespace skm;

namespace {

using skmtest::Movie;
using skmtest::WaitUntil;

QString Picture(const QString& dir, const QString& name, QColor c) {
  QImage img(64, 36, QImage::Format_RGB32);
  img.fill(c);
  const QString path = dir + "/" + name;
  return img.save(path) ? path : QString();
}

// The frame index lane 1 shows, read from the canvas's lane 1 picture.
int Lane1Frame(TMainFrm& w) {
  const QImage img = w.SkImage->ImageV1().Bitmap.convertToFormat(QImage::Format_ARGB32);
  return skmtest::ReadFrameIndex(img.constBits(), img.width(), img.height(), int(img.bytesPerLine()));
}

class MainFrm : public skmtest::TWindowTest {
protected:
  std::unique_ptr<TMainFrm> Window() {
    auto w = std::make_unique<TMainFrm>();
    w->resize(1280, 780);
    w->show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(w.get()));
    return w;
  }
};

} // namespace

TEST_F(MainFrm, BuildsEveryControlInPlace) {
  auto w = Window();
  EXPECT_EQ(w->windowTitle(), "Sketchmark Movies");
  // 13 buttons in the bottom bar, 60 apart.
  const QList<QWidget*> bar = w->LayoutBC->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
  EXPECT_EQ(bar.size(), 13);
  EXPECT_EQ(w->TraBtnWbrd->pos(), QPoint(720, 0));
  EXPECT_EQ(w->TraBtnKinds->pos(), QPoint(240, 0));
  EXPECT_EQ(w->LayoutColors->findChildren<TSkTraBtnColor*>().size(), 9);
  EXPECT_EQ(w->LayoutThicknesses->findChildren<TSkTraBtnThickness*>().size(), 8);
  EXPECT_EQ(w->LayoutDashes->findChildren<TSkTraBtnDash*>().size(), 5);
  EXPECT_EQ(w->LayoutKinds->findChildren<TSkTraBtnKind*>().size(), 16);
  EXPECT_EQ(w->LayoutPens->findChildren<TSkTraBtn*>().size(), 10);
  EXPECT_EQ(w->TraBtnKindsX[1][3]->pos(), QPoint(180, 60));
  EXPECT_EQ(w->TraBtnPlayX->pos(), QPoint(60, 30));
  // The canvas starts with pen 1 and fills what the bottom bar leaves.
  EXPECT_EQ(w->SkImage->StrokeStyle(), (TStrokeStyle{TPathKind::pkDraw, 0xFFFF3333, TStrokeDash::Solid, 10}));
  EXPECT_EQ(w->SkImage->geometry(), QRect(0, 0, w->width(), w->height() - 60));
  EXPECT_FALSE(w->TraBtnCenter1->isDown());
  EXPECT_FALSE(w->TraBtnCenter2->isDown());
  // No file in either lane: no transport area.
  EXPECT_TRUE(w->LayoutM->isHidden());
}

TEST_F(MainFrm, TransportAreaFollowsTheLanes) {
  auto w = Window();
  struct Row {
    const char *v1, *v2;
    bool layoutM;
    int height, mlWidth;
    bool m1, m2, opacity, playX;
  };
  const Row rows[] = {
      {"a.mp4", "", true, 60, 0, true, false, false, false},
      {"", "b.png", true, 120, 60, false, false, true, false},
      {"a.mp4", "b.png", true, 120, 60, true, false, true, false},
      // The gauge and play-both, and the link toggle beside play-both.
      {"a.mp4", "b.mp4", true, 120, 180, true, true, true, true},
      {"a.png", "", false, 0, 0, false, false, false, false},
  };
  for (const Row& r : rows) {
    auto w2 = std::make_unique<TMainFrm>();
    w2->resize(1280, 780);
    w2->show();
    w2->SkImage->SetV1Filename(r.v1);
    w2->SkImage->SetV2Filename(r.v2);
    w2->LaneLayoutUpdate();
    SCOPED_TRACE(std::string(r.v1) + " | " + r.v2);
    EXPECT_EQ(!w2->LayoutM->isHidden(), r.layoutM);
    if (!r.layoutM) continue;
    EXPECT_EQ(w2->LayoutM->height(), r.height);
    EXPECT_EQ(w2->LayoutM->geometry().bottom() + 1, w2->height() - 60); // touches the bottom bar
    EXPECT_EQ(!w2->LayoutM1->isHidden(), r.m1);
    EXPECT_EQ(!w2->LayoutM2->isHidden(), r.m2);
    EXPECT_EQ(!w2->TraOpacity->isHidden(), r.opacity);
    EXPECT_EQ(!w2->TraBtnPlayX->isHidden(), r.playX);
    if (r.opacity) EXPECT_EQ(w2->LayoutML->width(), r.mlWidth);
    // Whiteboard mode hides it whatever the lanes hold.
    w2->TraBtnWbrd->SetIsDown(true);
    w2->LaneLayoutUpdate();
    EXPECT_TRUE(w2->LayoutM->isHidden());
  }
}

TEST_F(MainFrm, FlyOutsPresetsAndStyle) {
  auto w = Window();
  // The pens fly-out shows the current pen selected.
  w->TraBtnPensExecute();
  EXPECT_TRUE(w->RectangleC->isVisible());
  EXPECT_TRUE(w->RectanglePens->isVisible());
  EXPECT_TRUE(w->TraBtnPensX[1]->isDown());
  EXPECT_FALSE(w->TraBtnPensX[0]->isDown());
  // A marker pen: kind, colour, dash and thickness at once; the bar shows colour and thickness.
  w->TraBtnPensXExecute(w->TraBtnPensX[7]);
  EXPECT_FALSE(w->RectangleC->isVisible());
  EXPECT_EQ(w->SkImage->StrokeStyle(), (TStrokeStyle{TPathKind::pkDraw, 0x88FF3399, TStrokeDash::Solid, 30}));
  EXPECT_EQ(w->TraBtnColors->Color(), 0xFFFF3399u);
  EXPECT_EQ(w->TraBtnThicknesses->Thickness(), 30.0f);
  // Opening another fly-out replaces the one open; kinds select the second-row pen only.
  w->TraBtnColorsExecute();
  w->TraBtnKindsExecute();
  EXPECT_TRUE(w->RectangleColors->isHidden());
  EXPECT_TRUE(w->RectangleKinds->isVisible());
  int selected = 0;
  for (auto& row : w->TraBtnKindsX)
    for (auto* b : row) selected += b->isDown();
  EXPECT_EQ(selected, 1);
  EXPECT_TRUE(w->TraBtnKindsX[1][0]->isDown());
  // The rainbow colour keeps the marker's alpha.
  w->TraBtnColorsXExecute(w->TraBtnColorsX[8]);
  EXPECT_EQ(w->SkImage->StrokeStyle().Color, 0x88000001u);
  w->TraBtnThicknessesXExecute(w->TraBtnThicknessesX[0]);
  EXPECT_EQ(w->SkImage->StrokeStyle().Thickness, 1.0f);
  w->TraBtnDashesXExecute(w->TraBtnDashesX[2]);
  EXPECT_EQ(w->SkImage->StrokeStyle().Dash, TStrokeDash::Dot);
  EXPECT_EQ(w->TraBtnDashes->Dash(), TStrokeDash::Dot);
  // The eraser changes the style only.
  w->TraBtnEraserExecute();
  EXPECT_EQ(w->SkImage->StrokeStyle(), (TStrokeStyle{TPathKind::pkErase, 0x00FFFFFF, TStrokeDash::Solid, 25}));
  // The menu fly-out; a click on the bare overlay closes it.
  w->TraBtnMenuExecute();
  EXPECT_TRUE(w->RectangleSetups->isVisible());
  w->RectangleCClick();
  EXPECT_FALSE(w->RectangleC->isVisible());
  // The centre buttons are a pair.
  w->TraBtnCenter2Execute();
  EXPECT_TRUE(w->TraBtnCenter2->isDown());
  EXPECT_FALSE(w->SkImage->isPile());
  w->TraBtnCenter1Execute();
  EXPECT_TRUE(w->TraBtnCenter1->isDown());
  EXPECT_FALSE(w->TraBtnCenter2->isDown());
  EXPECT_TRUE(w->SkImage->isPile());
}

TEST_F(MainFrm, EraseAllUndoRedoActOnTheCurrentListOnly) {
  auto w = Window();
  w->SkPathsIMGS->Add(TSkPath::CreatePath(w->SkImage->StrokeStyle(), {{10, 10}, {100, 100}}));
  w->TraBtnWbrdExecute(); // whiteboard: its own list
  ASSERT_TRUE(w->TraBtnWbrd->isDown());
  EXPECT_EQ(w->SkImage->CurrentPaths(), w->SkPathsWBRD);
  w->TraBtnEraseAllExecute();
  EXPECT_EQ(w->SkPathsWBRD->Count(), 1);
  EXPECT_EQ(w->SkPathsIMGS->Count(), 1);
  w->TraBtnUndoExecute();
  EXPECT_EQ(w->SkPathsWBRD->SkEnd, -1);
  w->TraBtnUndoExecute(); // at the end of the list: nothing
  EXPECT_EQ(w->SkPathsWBRD->SkEnd, -1);
  w->TraBtnRedoExecute();
  EXPECT_EQ(w->SkPathsWBRD->SkEnd, 0);
  w->TraBtnWbrdExecute();
  EXPECT_EQ(w->SkImage->CurrentPaths(), w->SkPathsIMGS);
  EXPECT_EQ(w->SkPathsIMGS->SkEnd, 0);
}

TEST_F(MainFrm, WhiteboardFileReadAtStartWrittenAtCloseOnlyWithAutoSave) {
  for (bool autoSave : {false, true}) {
    SCOPED_TRACE(autoSave);
    QFile::remove(FDir + "/whiteboard_i.zpp");
    {
      TSkPaths seed;
      seed.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFFFF3333, TStrokeDash::Solid, 10}, {{1, 1}, {50, 50}}));
      ASSERT_TRUE(seed.SaveToFile((FDir + "/whiteboard_i").toStdString()));
    }
    gSettings = TSettings{};
    QFile ini(FDir + "/sketchmark-movies.ini");
    ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
    ini.write(autoSave ? "[Setup]\r\nZPPWBrdAutoSave=1\r\n\r\n" : "[Setup]\r\nZPPWBrdAutoSave=0\r\n\r\n");
    ini.close();
    {
      auto w = Window();
      EXPECT_EQ(w->SkPathsWBRD->Count(), autoSave ? 1 : 0);
      w->SkPathsWBRD->Add(TSkPath::CreateEraseAll());
      w->close();
    }
    TSkPaths back;
    ASSERT_TRUE(back.LoadFromFile((FDir + "/whiteboard_i").toStdString()));
    EXPECT_EQ(back.Count(), autoSave ? 2 : 1); // off: the file stays as it was
  }
}

TEST_F(MainFrm, PicturesOpenIntoLanesAndFailuresSaySo) {
  auto w = Window();
  const QString red = Picture(FDir, "red.png", Qt::red);
  const QString blue = Picture(FDir, "blue.png", Qt::blue);
  // Lane 2 takes a file only beside a movie in lane 1.
  EXPECT_TRUE(w->OpenIntoLane(1, red));
  EXPECT_EQ(w->SkImage->V1Filename(), red);
  EXPECT_FALSE(w->OpenIntoLane(2, blue));
  EXPECT_TRUE(w->SkImage->V2Filename().isEmpty());
  w->TraBtnOpensExecute();
  EXPECT_FALSE(w->TraBtnOpen2->isEnabled());
  w->RectangleCClick();
  // A picture that cannot be read: the lane keeps its file, and the user is told which.
  QFile bad(FDir + "/broken.png");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write("not a picture");
  bad.close();
  EXPECT_FALSE(w->OpenIntoLane(1, bad.fileName()));
  EXPECT_EQ(w->SkImage->V1Filename(), red);
  ASSERT_EQ(FMessages.Texts().size(), 1);
  EXPECT_TRUE(FMessages.Texts()[0].contains("broken.png"));
  // The open dialog's folder is remembered for the run, with a filter beside "All files".
  QString askedIn = "unset";
  w->OpenDialogHook = [&](const QString& folder) {
    askedIn = folder;
    return blue;
  };
  w->TraBtnOpen1Execute();
  EXPECT_EQ(w->SkImage->V1Filename(), blue);
  EXPECT_TRUE(askedIn.isEmpty());
  w->TraBtnOpen1Execute();
  EXPECT_EQ(askedIn, FDir);
  EXPECT_TRUE(OpenDialogFilter().contains("*.mp4"));
  EXPECT_TRUE(OpenDialogFilter().contains("*.png"));
  EXPECT_TRUE(OpenDialogFilter().endsWith(";;All files (*)"));
}

TEST_F(MainFrm, WhiteboardEnterAndLeaveRestoreLane1) {
  auto w = Window();
  const QString red = Picture(FDir, "red.png", Qt::red);
  ASSERT_TRUE(w->OpenIntoLane(1, red));
  w->TraBtnWbrdExecute();
  EXPECT_FALSE(w->SkImage->V2Visible());
  EXPECT_EQ(w->SkImage->ImageV1().Bitmap.pixel(5, 5), 0xFFFFFFFFu);
  w->TraBtnOpensExecute(); // no open fly-out in whiteboard mode
  EXPECT_FALSE(w->RectangleC->isVisible());
  w->TraBtnWbrdExecute();
  EXPECT_TRUE(w->SkImage->V2Visible());
  EXPECT_EQ(QColor(w->SkImage->ImageV1().Bitmap.pixel(5, 5)), QColor(Qt::red));
  // The picture gone meanwhile: lane 1 stays white, and the user is told.
  w->TraBtnWbrdExecute();
  QFile::remove(red);
  w->TraBtnWbrdExecute();
  EXPECT_EQ(w->SkImage->ImageV1().Bitmap.pixel(5, 5), 0xFFFFFFFFu);
}

TEST_F(MainFrm, PlayBothFollowsTheLanes) {
  auto w = Window();
  w->MfPackManager1Info(0, 1, true);
  EXPECT_FALSE(w->TraBtnPlayX->isEnabled());
  w->MfPackManager2Info(0, 1, true);
  EXPECT_TRUE(w->TraBtnPlayX->isEnabled());
  EXPECT_TRUE(w->TraBtnPlayX->Data().startsWith("M0.610249698162079,0"));
  w->MfPackManager1Info(0, 1, false);
  EXPECT_FALSE(w->TraBtnPlayX->isEnabled());
  EXPECT_TRUE(w->TraBtnPlayX->Data().startsWith("M0.106343746185303,0"));
  w->MfPackManager2Info(0, 1, false);
  EXPECT_TRUE(w->TraBtnPlayX->isEnabled());
}

TEST_F(MainFrm, ThemeFollowsTheDesktopLive) {
  bool light = false;
  SetAppsUseLightThemeSource([&] { return light; });
  auto w = Window();
  EXPECT_TRUE(w->isDark());
  EXPECT_EQ(w->RectangleB->Fill(), 0xFF626262u);
  light = true;
  ThemeSettingChange();
  w->ThemeUpdate();
  EXPECT_FALSE(w->isDark());
  EXPECT_EQ(w->RectangleB->Fill(), 0xFFE0E0E0u);
  EXPECT_EQ(w->RectanglePens->Fill(), 0xFFE0E0E0u);
  EXPECT_EQ(w->TraBtnOpens->FColor(), 0xFF000000u);
  EXPECT_EQ(w->TraBtnPensX[3]->FColor(), 0xFF000000u);
  // The transport area stays white on transparent.
  EXPECT_TRUE(w->TraMedialayout1->isDark());
  EXPECT_TRUE(w->TraOpacity->isDark());
  SetAppsUseLightThemeSource(nullptr);
}

// --- With movies -------------------------------------------------------------------------

TEST_F(MainFrm, KeysStepMarkAndSaveWithHeldKeySemantics) {
  const QString m1 = Movie(FDir, "one.mp4");
  const QString m2 = Movie(FDir, "two.mp4");
  ASSERT_FALSE(m1.isEmpty());
  auto w = Window();
  ASSERT_TRUE(w->OpenIntoLane(1, m1));
  ASSERT_TRUE(w->OpenIntoLane(2, m2));
  EXPECT_FALSE(w->LayoutM2->isHidden());
  const TMediaTime step = w->MfPackManager1->MediaSTEP();
  ASSERT_GT(step, 0u);
  auto at = [&](TMfPackManager* m, TMediaTime frames) {
    return WaitUntil([&] { return m->CurrentTime() == frames * step; });
  };
  QTest::keyClick(w.get(), Qt::Key_V);
  EXPECT_TRUE(at(w->MfPackManager1, 5));
  EXPECT_TRUE(WaitUntil([&] { return Lane1Frame(*w) == 5; }));
  // Z and A held together step both lanes back.
  QTest::keyClick(w.get(), Qt::Key_F);
  EXPECT_TRUE(at(w->MfPackManager2, 5));
  QTest::keyPress(w.get(), Qt::Key_Z);
  QTest::keyPress(w.get(), Qt::Key_A);
  QTest::keyRelease(w.get(), Qt::Key_A);
  QTest::keyRelease(w.get(), Qt::Key_Z);
  EXPECT_TRUE(at(w->MfPackManager1, 0));
  EXPECT_TRUE(at(w->MfPackManager2, 0));
  // Holding V, any other key steps lane 1 again.
  QTest::keyPress(w.get(), Qt::Key_V);
  QTest::keyClick(w.get(), Qt::Key_Q);
  QTest::keyRelease(w.get(), Qt::Key_V);
  EXPECT_TRUE(at(w->MfPackManager1, 10));
  // X marks A at the position, B writes the marks beside the movie.
  QTest::keyClick(w.get(), Qt::Key_X);
  EXPECT_EQ(w->TraMedialayout1->Range0(), 10 * step);
  QTest::keyClick(w.get(), Qt::Key_B);
  QFile vpo(FDir + "/one.vpo");
  ASSERT_TRUE(vpo.open(QIODevice::ReadOnly));
  EXPECT_TRUE(vpo.readAll().contains("Start=10\r\n"));
  EXPECT_TRUE(FMessages.Texts().isEmpty()) << FMessages.Texts().join("|").toStdString();
}

TEST_F(MainFrm, FrameSplitterKeysOnlyWithoutASecondMovie) {
  gSettings.DoSnapBitmap = true;
  QFile ini(FDir + "/sketchmark-movies.ini");
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[SnapBitmap]\r\nDoSnapBitmap=1\r\n\r\n");
  ini.close();
  const QString m1 = Movie(FDir, "one.mp4");
  auto w = Window();
  ASSERT_TRUE(w->OpenIntoLane(1, m1));
  ASSERT_TRUE(w->MfPackManager1->isSnapBitmaps());
  // Fill the ring by stepping, then walk it.
  for (int i = 0; i < 3; ++i) {
    QTest::keyClick(w.get(), Qt::Key_V);
    QTest::qWait(200);
  }
  ASSERT_TRUE(WaitUntil([&] { return !w->MfPackManager1->RingDrawQueued(); }));
  const int before = w->MfPackManager1->RingCurrent();
  QTest::keyClick(w.get(), Qt::Key_S);
  EXPECT_TRUE(WaitUntil([&] { return w->MfPackManager1->RingCurrent() != before; }));
}

TEST_F(MainFrm, AFailedMovieLeavesTheLaneAsItWasAndSaysWhyOnce) {
  const QString good = Movie(FDir, "good.mp4");
  QFile bad(FDir + "/bad.mp4");
  ASSERT_TRUE(bad.open(QIODevice::WriteOnly));
  bad.write(QByteArray(4096, 'x'));
  bad.close();
  auto w = Window();
  ASSERT_TRUE(w->OpenIntoLane(1, good));
  QTest::keyClick(w.get(), Qt::Key_V);
  const TMediaTime step = w->MfPackManager1->MediaSTEP();
  ASSERT_TRUE(WaitUntil([&] { return w->MfPackManager1->CurrentTime() == 5 * step; }));
  EXPECT_FALSE(w->OpenIntoLane(1, bad.fileName()));
  EXPECT_EQ(FMessages.Texts().size(), 1) << FMessages.Texts().join("|").toStdString();
  EXPECT_EQ(w->SkImage->V1Filename(), good);
  EXPECT_EQ(w->MfPackManager1->FileName(), good);
  EXPECT_TRUE(w->MfPackManager1->HasVideo());
  EXPECT_TRUE(WaitUntil([&] { return w->MfPackManager1->CurrentTime() == 5 * step; }));
  EXPECT_FALSE(w->LayoutM1->isHidden());
}

TEST_F(MainFrm, OpensWhileOpeningAreRefusedAndACloseEndsTheOpenCleanly) {
  const QString m1 = Movie(FDir, "one.mp4");
  const QString red = Picture(FDir, "red.png", Qt::red);
  auto w = Window();
  bool refusedOpen = false, refusedBoard = false, sawOpening = false;
  QTimer::singleShot(0, w.get(), [&] {
    // Runs inside the open's wait.
    sawOpening = w->isOpening();
    refusedOpen = !w->OpenIntoLane(1, red);
    w->TraBtnWbrdExecute();
    refusedBoard = !w->TraBtnWbrd->isDown();
  });
  EXPECT_TRUE(w->OpenIntoLane(1, m1));
  EXPECT_TRUE(sawOpening);
  EXPECT_TRUE(refusedOpen);
  EXPECT_TRUE(refusedBoard);
  EXPECT_EQ(w->SkImage->V1Filename(), m1);

  // A close during an open: the open ends, then the window closes and saves.
  QFile::remove(FDir + "/sketchmark-movies.ini");
  QTimer::singleShot(0, w.get(), [&] { w->close(); });
  w->OpenIntoLane(1, Movie(FDir, "other.mp4"));
  EXPECT_TRUE(WaitUntil([&] { return !w->isVisible(); }));
  EXPECT_TRUE(QFile::exists(FDir + "/sketchmark-movies.ini"));
}

TEST_F(MainFrm, FilesFromArgumentsAndDrops) {
  const QString m1 = Movie(FDir, "one.mp4");
  const QString red = Picture(FDir, "red.png", Qt::red);
  const QString blue = Picture(FDir, "blue.png", Qt::blue);
  {
    auto w = Window();
    w->OpenArguments({red, blue}); // no movie in lane 1: the second is refused, with a word
    EXPECT_EQ(w->SkImage->V1Filename(), red);
    EXPECT_TRUE(w->SkImage->V2Filename().isEmpty());
    EXPECT_EQ(FMessages.Texts().size(), 1);
  }
  auto w = Window();
  auto drop = [&](const QString& file, QPointF at) {
    QMimeData mime;
    mime.setUrls({QUrl::fromLocalFile(file)});
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &enter);
    EXPECT_TRUE(enter.isAccepted());
    QDropEvent d(at, Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(w.get(), &d);
    QTest::qWait(50);
  };
  // The right half without a movie in lane 1 still fills lane 1.
  drop(blue, QPointF(w->width() * 0.75, 200));
  EXPECT_TRUE(WaitUntil([&] { return w->SkImage->V1Filename() == blue; }));
  drop(m1, QPointF(100, 200));
  EXPECT_TRUE(WaitUntil([&] { return w->SkImage->V1Filename() == m1 && !w->isOpening(); }));
  drop(red, QPointF(w->width() * 0.75, 200));
  EXPECT_TRUE(WaitUntil([&] { return w->SkImage->V2Filename() == red; }));
  EXPECT_EQ(w->SkImage->V1Filename(), m1);
  EXPECT_FALSE(w->TraOpacity->isHidden());
}

TEST_F(MainFrm, RangeMarksSavedOnReplaceAndCloseWithAutoSave) {
  QFile ini(FDir + "/sketchmark-movies.ini");
  ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
  ini.write("[Setup]\r\nVPOAutoSave=1\r\n\r\n");
  ini.close();
  const QString m1 = Movie(FDir, "one.mp4");
  const QString m2 = Movie(FDir, "two.mp4");
  auto w = Window();
  ASSERT_TRUE(w->OpenIntoLane(1, m1));
  QTest::keyClick(w.get(), Qt::Key_V);
  const TMediaTime step = w->MfPackManager1->MediaSTEP();
  ASSERT_TRUE(WaitUntil([&] { return w->MfPackManager1->CurrentTime() == 5 * step; }));
  QTest::keyClick(w.get(), Qt::Key_X);
  ASSERT_TRUE(w->OpenIntoLane(1, m2)); // replacing the movie saves its marks
  QFile vpo1(FDir + "/one.vpo");
  ASSERT_TRUE(vpo1.open(QIODevice::ReadOnly));
  EXPECT_TRUE(vpo1.readAll().contains("Start=5\r\n"));
  w->close();
  EXPECT_TRUE(QFile::exists(FDir + "/two.vpo"));
}

TEST_F(MainFrm, WhiteboardPausesAPlayingLaneAndShowsItsFrameAgain) {
  const QString m1 = Movie(FDir, "one.mp4");
  auto w = Window();
  ASSERT_TRUE(w->OpenIntoLane(1, m1));
  w->TraMedialayout1->TraStartExecute();
  ASSERT_TRUE(WaitUntil([&] { return w->MfPackManager1->isPlaying(); }));
  w->TraBtnWbrdExecute();
  EXPECT_TRUE(WaitUntil([&] { return !w->MfPackManager1->isPlaying(); }));
  EXPECT_TRUE(w->LayoutM->isHidden());
  EXPECT_EQ(w->SkImage->ImageV1().Bitmap.pixel(3, 3), 0xFFFFFFFFu);
  QTest::qWait(300);
  const TMediaTime paused = w->MfPackManager1->CurrentTime();
  EXPECT_EQ(w->SkImage->ImageV1().Bitmap.pixel(3, 3), 0xFFFFFFFFu); // no frame over the board
  w->TraBtnWbrdExecute();
  EXPECT_GE(Lane1Frame(*w), 0); // the movie's frame again
  EXPECT_FALSE(w->LayoutM1->isHidden());
  QTest::qWait(300);
  EXPECT_FALSE(w->MfPackManager1->isPlaying());
  EXPECT_EQ(w->MfPackManager1->CurrentTime(), paused);
}

TEST(OpenDialog, FilterListsWhatTheExtensionsOpen) {
  for (int kind : {1, 2})
    for (const QString& ext : FileKindExtensions(kind)) {
      EXPECT_EQ(KindByExtension("x" + ext), kind) << ext.toStdString();
      EXPECT_TRUE(OpenDialogFilter().contains("*" + ext + " ") || OpenDialogFilter().contains("*" + ext + ")"));
    }
}
