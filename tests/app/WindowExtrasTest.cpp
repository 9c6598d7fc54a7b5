// The link toggle and the view export in the real main window (Qt's offscreen platform):
// where the controls are, the keys, the offset kept in lane 2's position file, and the
// exported picture.
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include "MediaTestSupport.h"
#include "TestMovies.h"
#include "TestSupport.h"
#include "WindowTestSupport.h"
#include "app/Containers.h"
#include "app/FrmMain.h"
#include "app/LaneLink.h"
#include "app/WindowExtras.h"
#include "app/settings/Setup.h"
#include "canvas/SkImage.h"
#include "controls/TraBtn.h"
#include "media/MfPackManager.h"
#include "platform/FMXUtils.h"

using namespace skm;

namespace {

using skmtest::Movie;
using skmtest::WaitUntil;

class Extras : public skmtest::TWindowTest {};

} // namespace

TEST_F(Extras, LinkToggleKeysAndOffsetInTheWindow) {
  const QString m1 = Movie(FDir, "one.mp4"), m2 = Movie(FDir, "two.mp4");
  ASSERT_FALSE(m2.isEmpty());
  TMainFrm w;
  w.resize(1280, 780);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  TWindowExtras* x = w.Extras;
  ASSERT_NE(x, nullptr);
  ASSERT_TRUE(w.OpenIntoLane(1, m1));
  EXPECT_TRUE(x->TraBtnLink->isHidden());  // needs a movie in each lane
  ASSERT_TRUE(w.OpenIntoLane(2, m2));
  w.LaneLayoutUpdate();
  EXPECT_FALSE(x->TraBtnLink->isHidden());
  EXPECT_EQ(x->TraBtnLink->pos(), QPoint(120, 30));
  EXPECT_EQ(w.LayoutML->width(), 180);
  EXPECT_FALSE(x->Link->isLinked());  // off at start

  const TMediaTime step = w.MfPackManager1->MediaSTEP();
  auto at = [&](TMfPackManager* m, TMediaTime frames) {
    return WaitUntil([&] { return m->CurrentTime() == frames * step; });
  };
  QTest::keyClick(&w, Qt::Key_V);  // lane 1 to frame 5, lane 2 stays at 0
  ASSERT_TRUE(at(w.MfPackManager1, 5));
  QTest::mouseClick(x->TraBtnLink, Qt::LeftButton, {}, QPoint(30, 30));
  ASSERT_TRUE(x->Link->isLinked());
  EXPECT_TRUE(x->TraBtnLink->isDown());
  EXPECT_EQ(x->Link->Offset(), -5);
  EXPECT_FALSE(x->LinkOffset()->isHidden());
  EXPECT_EQ(x->OffsetShown(), "-5 f");

  QTest::keyClick(&w, Qt::Key_V);  // both step
  EXPECT_TRUE(at(w.MfPackManager1, 10));
  EXPECT_TRUE(at(w.MfPackManager2, 5));
  QTest::keyClick(&w, Qt::Key_F, Qt::AltModifier);  // nudge, not a step
  EXPECT_EQ(x->Link->Offset(), -4);
  EXPECT_EQ(x->OffsetShown(), "-4 f");
  EXPECT_TRUE(at(w.MfPackManager2, 6));
  EXPECT_TRUE(at(w.MfPackManager1, 10));
  EXPECT_EQ(LinkOffsetRead(m2), -4);

  // Play-both starts and pauses the linked pair once, not twice.
  w.TraBtnPlayXExecute();
  ASSERT_TRUE(WaitUntil([&] { return w.MfPackManager1->isPlaying() && w.MfPackManager2->isPlaying(); }));
  QTest::qWait(300);
  EXPECT_TRUE(w.MfPackManager1->isPlaying() && w.MfPackManager2->isPlaying());
  w.TraBtnPlayXExecute();
  ASSERT_TRUE(WaitUntil([&] { return !w.MfPackManager1->isPlaying() && !w.MfPackManager2->isPlaying(); }));
  ASSERT_TRUE(WaitUntil([&] {
    return w.MfPackManager2->CurrentTime() / step + 4 == w.MfPackManager1->CurrentTime() / step;
  }));

  QTest::mouseClick(x->TraBtnLink, Qt::LeftButton, {}, QPoint(30, 30));
  EXPECT_FALSE(x->Link->isLinked());
  EXPECT_TRUE(x->LinkOffset()->isHidden());
  EXPECT_FALSE(LinkOffsetRead(m2).has_value());
  EXPECT_TRUE(FMessages.Texts().isEmpty()) << FMessages.Texts().join("|").toStdString();
}

TEST_F(Extras, CtrlEExportsTheViewAtTheLanesResolution) {
  const QString m1 = Movie(FDir, "one.mp4"), m2 = Movie(FDir, "two.mp4");
  ASSERT_FALSE(m2.isEmpty());
  TMainFrm w;
  w.resize(1280, 780);
  w.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
  TWindowExtras* x = w.Extras;
  EXPECT_EQ(x->TraBtnExport->parentWidget(), w.LayoutSetups);
  EXPECT_EQ(x->TraBtnExport->pos(), QPoint(120, 0));
  ASSERT_TRUE(w.OpenIntoLane(1, m1));
  ASSERT_TRUE(w.OpenIntoLane(2, m2));
  QTest::keyClick(&w, Qt::Key_V);
  const TMediaTime step = w.MfPackManager1->MediaSTEP();
  ASSERT_TRUE(WaitUntil([&] { return w.MfPackManager1->CurrentTime() == 5 * step; }));
  QString suggested;
  const QString out = FDir + "/view.png";
  x->SaveDialogHook = [&](const QString& s) {
    suggested = s;
    return out;
  };
  QTest::keyClick(&w, Qt::Key_E, Qt::ControlModifier);
  EXPECT_EQ(suggested, FDir + "/one-frame5.png");
  const QImage pile(out);
  EXPECT_EQ(pile.size(), QSize(160, 90));  // the movies' size, not the window's

  w.TraBtnCenter2Execute();
  QFile::remove(out);
  x->TraBtnExportExecute();
  EXPECT_EQ(QImage(out).size(), QSize(320, 90));
  // Cancelled: nothing written.
  QFile::remove(out);
  x->SaveDialogHook = [](const QString&) { return QString(); };
  x->TraBtnExportExecute();
  EXPECT_FALSE(QFile::exists(out));
  EXPECT_TRUE(FMessages.Texts().isEmpty()) << FMessages.Texts().join("|").toStdString();
}
