// The controls on a screen of device pixel ratio 2: bitmaps are made in device pixels and
// every position computed from logical units lands on the right device pixel. Its own
// binary, since the ratio is fixed when the application starts.
#include <QApplication>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

#include "controls/TickSource.h"
#include "controls/TraBtn.h"
#include "controls/TraValue.h"

using namespace skm;

namespace {

void Flush() {
  for (int i = 0; i < 3; ++i) QCoreApplication::sendPostedEvents();
}

TEST(Scale2, BitmapsAreMadeInDevicePixels) {
  QWidget host;
  host.resize(300, 60);
  auto* b = TTraBtn::CreateParam(&host, "M0,0 L1,0 L1,1 L0,1 Z", 0, 0, true, {}, {});
  auto* t = new TTraTrack(&host);
  t->SetIsDark(true);
  t->SetMax(300);
  t->SetValue(150);
  t->SetValue0(60);
  t->SetValue1(240);
  host.show();
  Flush();
  ASSERT_EQ(b->devicePixelRatioF(), 2.0);
  EXPECT_EQ(b->Bitmap().size(), QSize(100, 120));
  EXPECT_EQ(b->Bitmap().pixel(24, 29), 0u);
  EXPECT_EQ(b->Bitmap().pixel(25, 30), 0xFFFFFFFFu) << "icon box starts at a quarter";
  EXPECT_EQ(b->Bitmap().pixel(74, 89), 0xFFFFFFFFu);
  EXPECT_EQ(b->Bitmap().pixel(75, 90), 0u);

  const QImage& tb = t->Bitmap();
  ASSERT_EQ(tb.size(), QSize(600, 120));
  EXPECT_EQ(tb.pixel(20, 110), 0xFFFFFFFFu) << "solid before the playhead";
  EXPECT_EQ(tb.pixel(590, 110), 0u) << "outlined after it";
  EXPECT_EQ(tb.pixel(120, 3), 0xFFFFFFFFu) << "mark A at 60 of 300 of 300 logical units";
  EXPECT_EQ(tb.pixel(480, 3), 0xFFFFFFFFu) << "mark B";
  EXPECT_EQ(tb.pixel(300, 3), 0u);

  // Hit testing stays in logical units.
  std::vector<uint64_t> marks;
  t->SetOnChange([&](uint64_t, uint64_t a, uint64_t) { marks.push_back(a); });
  SetManualDragTimers(true);
  t->BtnMouseDown(t, Qt::LeftButton, {}, 60, 10);
  EXPECT_EQ(t->DnMode(), dmD0);
  t->BtnMouseMove(t, {}, 90, 10);
  t->TimerTick();
  t->BtnMouseUp(t, Qt::LeftButton, {}, 90, 10);
  t->TimerTick();
  EXPECT_EQ(marks, std::vector<uint64_t>{90});
  SetManualDragTimers(false);
}

} // namespace

int main(int argc, char** argv) {
  qputenv("QT_SCALE_FACTOR", "2");
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
