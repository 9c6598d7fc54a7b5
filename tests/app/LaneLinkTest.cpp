// Linked lanes on real generated movies through the real managers and bars: the offset
// kept through key steps, buttons, play and pause, clamping at a movie's ends, the nudge,
// and the offset's place in lane 2's position file.
#include <QFile>

#include "TransportTestSupport.h"
#include "app/LaneLink.h"
#include "platform/core/IniFile.h"

using namespace skm;
using namespace skmtest;

namespace {

// A second lane beside LaneTest's: manager and bar on a host of their own.
class LinkTest : public LaneTest {
protected:
  void SetUp() override {
    LaneTest::SetUp();
    host2 = std::make_unique<QWidget>();
    host2->setAttribute(Qt::WA_DontShowOnScreen);
    host2->resize(900, 60);
    host2->show();
    mgr2 = std::make_unique<TMfPackManager>();
    bar2 = TTraMediaLayout::CreateParam(host2.get(), host2.get(), mgr2.get(), true, 0.5f);
    mgr2->TimerViewProc = [this](const QImage& img) { delivered2.push_back(IndexOf(img)); };
    mgr2->TimerInfoProc = [this](TMediaTime t, float v, bool p) {
      if (bar2) bar2->LayoutInfo(t, v, p);
    };
    link = std::make_unique<TLaneLink>(bar, bar2);
  }
  void TearDown() override {
    link.reset();
    delete bar2;
    bar2 = nullptr;
    mgr2.reset();
    host2.reset();
    LaneTest::TearDown();
  }
  void Open2(const QString& path) {
    mgr2->SetFileName(path);
    ASSERT_EQ(mgr2->FileName(), path);
    bar2->SetDuration(mgr2->Duration());
    bar2->SetRateQue(1.0f);
    bar2->RangesOpenFromFile();
    ASSERT_TRUE(Spin([&] { return Quiet2() && !delivered2.empty(); }));
  }
  bool Quiet2() {
    TMfPackPlayer* p = mgr2->Player();
    return p && p->PendingKind() == 0 && p->RequestedCommand() == TCommand::CmdNone && !bar2->SettlePending() &&
           bar2->StepsQueued() == 0;
  }
  bool BothQuiet() { return Quiet() && Quiet2() && mgr->Player()->GetState() == TPlayerState::Paused &&
                            mgr2->Player()->GetState() == TPlayerState::Paused; }
  int64_t Frame1() { return int64_t(mgr->CurrentTime() / step); }
  int64_t Frame2() { return int64_t(mgr2->CurrentTime() / mgr2->MediaSTEP()); }
  void GoTo2(int k) {
    mgr2->SetCurrentTime(uint64_t(k) * mgr2->MediaSTEP());
    ASSERT_TRUE(Spin([&] { return Quiet2(); }));
  }

  std::unique_ptr<QWidget> host2;
  std::unique_ptr<TMfPackManager> mgr2;
  TTraMediaLayout* bar2 = nullptr;
  std::vector<int> delivered2;
  std::unique_ptr<TLaneLink> link;
};

TEST_F(LinkTest, OffsetKeptThroughStepsPlayAndPauseAndRestoredFromLaneTwosFile) {
  const QString m1 = CopyMovie(Recipe("25", 250), dir, "one.mp4");
  const QString m2 = CopyMovie(Recipe("25", 250), dir, "two.mp4");
  ASSERT_FALSE(m1.isEmpty());
  ASSERT_FALSE(m2.isEmpty());
  EXPECT_FALSE(link->Link());  // no movies yet
  Open(m1);
  EXPECT_FALSE(link->CanLink());
  Open2(m2);
  GoTo(100);
  GoTo2(112);
  ASSERT_TRUE(link->Link());
  EXPECT_TRUE(link->isLinked());
  EXPECT_EQ(link->Offset(), 12);
  EXPECT_EQ(LinkOffsetText(link->Offset()), "+12 f");

  // A key step on lane 1 moves lane 2 by the same frames, and the pictures show them.
  bar->TraFWardKeyExecute(Qt::NoModifier);
  ASSERT_TRUE(Spin([&] { return BothQuiet(); }));
  EXPECT_EQ(Frame1(), 105);
  EXPECT_EQ(Frame2(), 117);
  ASSERT_TRUE(Spin([&] { return !delivered2.empty() && delivered2.back() == 117; }));
  // And one on lane 2 moves lane 1.
  bar2->TraBWardKeyExecute(Qt::ShiftModifier);
  ASSERT_TRUE(Spin([&] { return BothQuiet(); }));
  EXPECT_EQ(Frame1(), 95);
  EXPECT_EQ(Frame2(), 107);
  // The rate chosen on one lane is the other's too.
  bar->TraMRateExecute();
  EXPECT_EQ(bar2->RateQue(), 2.0f);
  bar->TraMRateExecute();
  bar->TraMRateExecute();
  EXPECT_EQ(bar2->RateQue(), 1.0f);

  // Play both from lane 1's button for a second, pause from lane 2's.
  bar->TraStartExecute();
  ASSERT_TRUE(Spin([&] { return mgr->isPlaying() && mgr2->isPlaying(); }));
  SpinFor(1000);
  bar2->TraStartExecute();
  ASSERT_TRUE(Spin([&] { return !mgr->isPlaying() && !mgr2->isPlaying(); }));
  ASSERT_TRUE(Spin([&] { return BothQuiet() && Frame2() - Frame1() == 12; }, 5000))
      << Frame1() << " " << Frame2();
  EXPECT_GT(Frame1(), 100);

  // Both movies opened again: the offset comes back from lane 2's position file.
  link->Drop();
  Open(m1);
  Open2(m2);
  GoTo(40);
  ASSERT_TRUE(link->LinkRestore());
  EXPECT_EQ(link->Offset(), 12);
  ASSERT_TRUE(Spin([&] { return BothQuiet(); }));
  EXPECT_EQ(Frame2(), 52);

  // The nudge moves lane 2 and the saved offset; the marks' section stays.
  ASSERT_TRUE(bar2->RangesSaveToFile());
  link->Nudge(-1);
  ASSERT_TRUE(Spin([&] { return BothQuiet(); }));
  EXPECT_EQ(Frame2(), 51);
  EXPECT_EQ(LinkOffsetRead(m2), 11);
  TIniFile ini;
  ASSERT_TRUE(ini.LoadFromFile(PositionFileName(m2).toStdString()));
  EXPECT_TRUE(ini.ValueExists("VideoPosition", "End"));
  EXPECT_EQ(ini.ReadInt64("Link", "Offset", 0), 11);
  EXPECT_FALSE(LinkOffsetRead(m1).has_value());  // lane 1's file has no link

  // Unlinking removes the key: a later reopen does not link again; lanes move alone.
  link->Unlink();
  EXPECT_FALSE(LinkOffsetRead(m2).has_value());
  ASSERT_TRUE(ini.LoadFromFile(PositionFileName(m2).toStdString()));
  EXPECT_TRUE(ini.ValueExists("VideoPosition", "Start"));
  EXPECT_FALSE(link->LinkRestore());
  bar->TraFWardKeyExecute(Qt::NoModifier);
  ASSERT_TRUE(Spin([&] { return BothQuiet(); }));
  EXPECT_EQ(Frame1(), 45);
  EXPECT_EQ(Frame2(), 51);
}

TEST_F(LinkTest, EachLaneIsClampedToItsOwnMovie) {
  const QString m1 = CopyMovie(Recipe("25", 100), dir, "long.mp4");
  const QString m2 = CopyMovie(Recipe("25", 40), dir, "short.mp4");
  ASSERT_FALSE(m1.isEmpty());
  ASSERT_FALSE(m2.isEmpty());
  Open(m1);
  Open2(m2);
  GoTo(20);
  GoTo2(10);
  ASSERT_TRUE(link->Link());
  EXPECT_EQ(link->Offset(), -10);
  struct Row {
    int to1;       // lane 1 sent there through its track
    int f1, f2;    // where both rest
  } rows[] = {{60, 60, 39}, {5, 5, 0}, {30, 30, 20}};
  for (const Row& r : rows) {
    bar->TraTrackChange(uint64_t(r.to1) * step, bar->Range0(), bar->Range1());
    ASSERT_TRUE(Spin([&] { return BothQuiet(); })) << r.to1;
    EXPECT_EQ(Frame1(), r.f1) << r.to1;
    EXPECT_EQ(Frame2(), r.f2) << r.to1;
  }
  // The position file of a movie that is not there is never written.
  EXPECT_FALSE(LinkOffsetWrite(dir + "/gone.mp4", 3));
  EXPECT_FALSE(QFile::exists(dir + "/gone.vpo"));
}

} // namespace
