// The frame readout over the track: its texts, and that it follows the status report, key
// steps and a mark drag with the numbers of the position file and --export-frame.
#include <QTest>

#include "TransportTestSupport.h"
#include "controls/TraValue.h"
#include "transport/FrameReadout.h"

using namespace skm;
using namespace skmtest;

namespace {

TEST(FrameReadoutText, TimesAndFrames) {
  const struct {
    TMediaTime t;
    const char* time;
  } times[] = {
      {0, "00:00.000"},
      {411'330'000, "00:41.133"},
      {599'999'999, "00:59.999"},
      {36'000'000'000ull + 1'234'560'000ull, "1:02:03.456"},
      {kNoPosition, "--:--.---"},
  };
  for (const auto& c : times) EXPECT_EQ(FrameReadoutTime(c.t).toStdString(), c.time) << c.t;

  const TMediaTime step = 400'000;  // 25 frames a second
  const struct {
    TMediaTime t, step, duration;
    const char* frames;
  } frames[] = {
      {1234 * step, step, 5000 * step, "1234 / 5000"},
      {1234 * step + step - 1, step, 5000 * step, "1234 / 5000"},  // rounded down, as the ".vpo" marks
      {0, step, 5000 * step + step / 2, "0 / 5000"},               // whole frames only
      {kNoPosition, step, 50 * step, "- / 50"},
      {10 * step, 0, 50 * step, "- / 0"},
  };
  for (const auto& c : frames)
    EXPECT_EQ(FrameReadoutFrames(c.t, c.step, c.duration).toStdString(), c.frames) << c.t;
}

class ReadoutTest : public LaneTest {};

TEST_F(ReadoutTest, FollowsReportsKeyStepsAndMarkDrags) {
  ASSERT_NE(bar->TraReadout, nullptr);
  EXPECT_TRUE(bar->TraReadout->Text().isEmpty());  // no movie: nothing to read
  const QString movie = CopyMovie(Recipe("25", 100), dir, "readout.mp4");
  ASSERT_FALSE(movie.isEmpty());
  Open(movie);
  EXPECT_EQ(bar->TraReadout->Text(), "0 / 100   00:00.000");

  GoTo(37);  // ends with the status report
  EXPECT_EQ(bar->TraReadout->Text(), "37 / 100   00:01.480");

  // A key step shows its frame at once, before the next report.
  bar->TraFWardKeyExecute(Qt::ShiftModifier);
  ASSERT_TRUE(Spin([&] { return Quiet(); }));
  EXPECT_EQ(bar->TraReadout->Text(), "47 / 100   00:01.880");
  EXPECT_EQ(Shown(), 47);

  // While mark B is dragged the marks' frames come first; the release drops them.
  TTraTrack* track = bar->TraTrack;
  const int w = track->width(), y = track->height() / 4;
  QTest::mousePress(track, Qt::LeftButton, {}, QPoint(w - 1, y));  // on mark B at the end
  QTest::mouseMove(track, QPoint(w / 2, y));
  ASSERT_TRUE(Spin([&] { return bar->Range1() < bar->Duration(); }));
  const QString dragging = bar->TraReadout->Text();
  EXPECT_TRUE(dragging.startsWith(QStringLiteral("A 0   B %1   ").arg(bar->Range1() / step)))
      << dragging.toStdString();
  QTest::mouseRelease(track, Qt::LeftButton, {}, QPoint(w / 2, y));
  ASSERT_TRUE(Spin([&] { return !track->TimerEnabled() && Quiet(); }));
  EXPECT_TRUE(bar->TraReadout->Text().startsWith(QString::number(track->Value() / step) + " / 100"))
      << bar->TraReadout->Text().toStdString();

  // The readout takes no presses: they reach the track beneath.
  EXPECT_TRUE(bar->TraReadout->testAttribute(Qt::WA_TransparentForMouseEvents));
  EXPECT_EQ(bar->TraReadout->parentWidget(), bar->LayoutT);
  EXPECT_EQ(bar->TraReadout->height(), bar->LayoutT->height() / 2);
}

} // namespace
