#include <QKeyEvent>
#include <QTest>
#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "ControlsTestUtil.h"
#include "controls/TraValue.h"

using namespace skm;
using skmtest::ControlsTest;

namespace {

constexpr uint64_t kSec = 10'000'000;

// One tick of the drag timer, delivered only while it runs, as the real timer would.
template <class T> void Tick(T* control) {
  if (control->TimerEnabled()) control->TimerTick();
}

TEST(TimeText, WholeSecondsAsHoursMinutesSeconds) {
  struct Case {
    uint64_t t;
    const char* text;
  };
  const std::vector<Case> cases = {
      {0, "00:00:00"},
      {9'999'999, "00:00:00"},
      {10'000'000, "00:00:01"},
      {36'610'000'000ull, "01:01:01"},
      {3'600'000'000'000ull - 1, "99:59:59"},
      {3'600'000'000'000ull, "100:00:00"},
      {~uint64_t{0}, "512409557:36:10"},
  };
  for (const auto& c : cases) EXPECT_EQ(TimeText(c.t).toStdString(), c.text) << c.t;
}

TEST(Clamp01, LimitsToTheUnitRange) {
  struct Case {
    float in, out;
  };
  for (const Case c : {Case{-0.2f, 0}, Case{0, 0}, Case{0.25f, 0.25f}, Case{1, 1}, Case{1.7f, 1},
                       Case{std::numeric_limits<float>::quiet_NaN(), 0},
                       Case{std::numeric_limits<float>::infinity(), 1},
                       Case{-std::numeric_limits<float>::infinity(), 0}})
    EXPECT_EQ(Clamp01(c.in), c.out) << c.in;
}

// The volume control and the gauge share their value rules; each case runs on both.
class LevelTest : public ControlsTest {
protected:
  struct Level {
    TTraBtnBase* control;
    std::function<float()> value;
    std::function<void(float)> set;
    std::function<void(TMethodSingleChange)> onChange;
    bool timed; // applies the pointer from the drag timer
    std::function<void()> tick;
  };
  std::vector<Level> Both() {
    auto* v = new TTraVolume(host.get());
    v->SetIsDark(true);
    auto* cell = new QWidget(host.get());
    cell->resize(60, 60);
    auto* g = TTraValueF::CreateParam(cell, 1.0f, true, {});
    v->show();
    cell->show();
    Flush();
    return {
        {v, [v] { return v->Value(); }, [v](float x) { v->SetValue(x); },
         [v](TMethodSingleChange h) { v->SetOnChange(std::move(h)); }, true, [v] { Tick(v); }},
        {g, [g] { return g->Value(); }, [g](float x) { g->SetValue(x); },
         [g](TMethodSingleChange h) { g->SetOnChange(std::move(h)); }, false, [] {}},
    };
  }
};

TEST_F(LevelTest, ValueWritesAreClampedAndIgnoredWhilePressed) {
  struct Case {
    float write, stored;
  };
  const std::vector<Case> cases = {{1.7f, 1}, {-0.2f, 0}, {0.25f, 0.25f},
                                   {std::numeric_limits<float>::quiet_NaN(), 0}};
  for (auto& l : Both()) {
    for (const auto& c : cases) {
      l.set(0.5f);
      l.set(c.write);
      EXPECT_EQ(l.value(), c.stored) << c.write;
    }
    l.set(0.5f);
    l.control->BtnMouseDown(l.control, Qt::LeftButton, {}, 30, 30);
    l.set(0.9f);
    EXPECT_EQ(l.value(), 0.5f) << "written while pressed";
    l.control->BtnMouseUp(l.control, Qt::LeftButton, {}, 30, 30);
    l.tick();
    l.set(0.9f);
    EXPECT_EQ(l.value(), 0.9f);
  }
}

TEST_F(LevelTest, WithoutOnChangeADragChangesAndRepaintsNothing) {
  for (auto& l : Both()) {
    l.set(0.5f);
    Flush();
    const int draws = l.control->DrawRequests();
    QTest::mousePress(l.control, Qt::LeftButton, {}, QPoint(30, 5));
    l.tick();
    QTest::mouseMove(l.control, QPoint(30, 55));
    l.tick();
    QTest::mouseRelease(l.control, Qt::LeftButton, {}, QPoint(30, 50));
    l.tick();
    EXPECT_EQ(l.value(), 0.5f);
    EXPECT_EQ(l.control->DrawRequests(), draws);
  }
}

TEST_F(LevelTest, PressAndDragFollowThePointer) {
  for (auto& l : Both()) {
    std::vector<float> changes;
    l.onChange([&](float v) { changes.push_back(v); });
    l.set(1.0f);
    l.control->BtnMouseDown(l.control, Qt::LeftButton, {}, 30, 30); // half way
    if (l.timed) {
      EXPECT_TRUE(changes.empty()) << "the volume applies the pointer on the next tick";
      l.tick();
    }
    l.control->BtnMouseMove(l.control, {}, 30, -20); // above the top while captured
    l.tick();
    l.control->BtnMouseMove(l.control, {}, 30, 80); // below the bottom
    l.control->BtnMouseUp(l.control, Qt::LeftButton, {}, 30, 45);
    l.tick();
    const std::vector<float> expected =
        l.timed ? std::vector<float>{0.5f, 1.0f, 0.25f} : std::vector<float>{0.5f, 1.0f, 0.0f, 0.25f};
    EXPECT_EQ(changes, expected) << (l.timed ? "volume" : "gauge");
    EXPECT_EQ(l.value(), 0.25f);
    EXPECT_EQ(l.control->DnMode(), dmUp);
  }
}

TEST_F(LevelTest, VolumeTimerRunsFromThePressToTheTickAfterTheRelease) {
  auto* v = new TTraVolume(host.get());
  std::vector<float> changes;
  v->SetOnChange([&](float x) { changes.push_back(x); });
  EXPECT_FALSE(v->TimerEnabled());
  v->BtnMouseDown(v, Qt::RightButton, {}, 30, 15);
  EXPECT_TRUE(v->TimerEnabled());
  v->TimerTick();
  v->TimerTick(); // no move: nothing new
  v->BtnMouseUp(v, Qt::RightButton, {}, 30, 15);
  EXPECT_TRUE(v->TimerEnabled());
  v->TimerTick();
  EXPECT_FALSE(v->TimerEnabled());
  EXPECT_EQ(changes, std::vector<float>{0.75f});
}

TEST_F(LevelTest, RealDragTimerAppliesThePointer) {
  SetManualDragTimers(false);
  auto* v = new TTraVolume(host.get());
  auto* t = new TTraTrack(host.get());
  t->SetMax(600 * kSec);
  std::vector<float> volume;
  std::vector<uint64_t> track;
  v->SetOnChange([&](float x) { volume.push_back(x); });
  t->SetOnChange([&](uint64_t x, uint64_t, uint64_t) { track.push_back(x); });
  v->BtnMouseDown(v, Qt::LeftButton, {}, 30, 15);
  v->BtnMouseUp(v, Qt::LeftButton, {}, 30, 45);
  t->BtnMouseDown(t, Qt::LeftButton, {}, 300, 45);
  t->BtnMouseUp(t, Qt::LeftButton, {}, 300, 45);
  QTRY_VERIFY(!v->TimerEnabled() && !t->TimerEnabled());
  EXPECT_EQ(volume, std::vector<float>{0.25f});
  EXPECT_EQ(track, std::vector<uint64_t>{300 * kSec});
}

TEST_F(LevelTest, PicturesSplitAtTheValue) {
  auto* v = new TTraVolume(host.get());
  v->SetIsDark(true);
  v->SetValue(0.5f);
  auto* cell = new QWidget(host.get());
  cell->resize(60, 120);
  auto* g = TTraValueF::CreateParam(cell, 1.5f, false, {}); // kept as given
  Flush();
  EXPECT_EQ(g->Value(), 1.5f);
  EXPECT_EQ(g->geometry(), QRect(0, 0, 60, 120)) << "left aligned at the parent's height";
  const QImage& vb = v->Bitmap();
  ASSERT_EQ(vb.size(), QSize(60, 60));
  struct Probe {
    const QImage* img;
    QPoint at;
    QRgb expected;
    const char* what;
  };
  const std::vector<Probe> probes = {
      {&vb, {3, 57}, 0xFFFFFFFF, "solid below the value"},
      {&vb, {18, 33}, 0xFF000000, "speaker cut out in the background colour"},
      {&vb, {30, 8}, 0x00000000, "inside the frame above the value"},
      {&vb, {0, 8}, 0xFFFFFFFF, "frame edge above the value"},
      {&vb, {18, 27}, 0xFFFFFFFF, "speaker in the foreground above the value"},
      {&g->Bitmap(), {30, 1}, 0xFF000000, "gauge beyond 1 is filled to the top"},
      {&g->Bitmap(), {30, 118}, 0xFF000000, "gauge bottom"},
  };
  for (const auto& p : probes) EXPECT_EQ(p.img->pixel(p.at), p.expected) << p.what;
  cell->show();
  cell->resize(60, 200);
  EXPECT_EQ(g->height(), 200) << "follows the parent's height";
}

class TrackTest : public ControlsTest {
protected:
  // A 600-unit track of 600 s: one logical unit is one second.
  TTraTrack* MakeTrack(uint64_t max = 600 * kSec) {
    auto* t = new TTraTrack(host.get());
    t->SetIsDark(true);
    t->SetMax(max);
    t->SetOnChange([this](uint64_t v, uint64_t a, uint64_t b) {
      log.push_back("change " + std::to_string(v / kSec) + " " + std::to_string(a / kSec) + " " +
                    std::to_string(b / kSec));
      raw.push_back({v, a, b});
    });
    t->SetOnTrackDn([this] { log.push_back("dn"); });
    t->SetOnTrackUp([this] { log.push_back("up"); });
    t->show();
    Flush();
    return t;
  }
  std::vector<std::string> log;
  std::vector<std::array<uint64_t, 3>> raw;
};

TEST_F(TrackTest, MaxWritesResetTheMarksAndLeaveThePlayhead) {
  auto* t = MakeTrack(1000);
  t->SetValue(800);
  t->SetValue0(100);
  t->SetValue1(200);
  struct Case {
    uint64_t write, max;
  };
  for (const Case c : {Case{500, 500}, Case{~uint64_t{0}, 0}, Case{~uint64_t{0} - 1, ~uint64_t{0} - 1},
                       Case{0, 0}, Case{1000, 1000}}) {
    t->SetMax(c.write);
    EXPECT_EQ(t->Max(), c.max);
    EXPECT_EQ(t->Value0(), 0u);
    EXPECT_EQ(t->Value1(), c.max);
    EXPECT_EQ(t->Value(), 800u) << "the playhead is left as it was";
  }
  t->BtnMouseDown(t, Qt::LeftButton, Qt::ShiftModifier, 10, 45);
  t->SetMax(300);
  EXPECT_EQ(t->Max(), 300u) << "accepted while pressed";
  EXPECT_EQ(t->Value1(), 300u);
}

TEST_F(TrackTest, TimeWritesAreLimitedAndNeverReordered) {
  auto* t = MakeTrack(1000);
  struct Case {
    std::function<void(uint64_t)> set;
    std::function<uint64_t()> get;
    const char* name;
  };
  const std::vector<Case> fields = {
      {[t](uint64_t v) { t->SetValue(v); }, [t] { return t->Value(); }, "Value"},
      {[t](uint64_t v) { t->SetValue0(v); }, [t] { return t->Value0(); }, "Value0"},
      {[t](uint64_t v) { t->SetValue1(v); }, [t] { return t->Value1(); }, "Value1"},
  };
  struct Write {
    uint64_t in, stored;
  };
  for (const auto& f : fields) {
    for (const Write w : {Write{400, 400}, Write{1001, 1000}, Write{~uint64_t{0}, 0}, Write{1000, 1000}}) {
      f.set(w.in);
      EXPECT_EQ(f.get(), w.stored) << f.name << " " << w.in;
    }
    f.set(10);
    t->BtnMouseDown(t, Qt::LeftButton, {}, 300, 45);
    f.set(20);
    EXPECT_EQ(f.get(), 10u) << f.name << " written while pressed";
    t->BtnMouseUp(t, Qt::LeftButton, {}, 300, 45);
    Tick(t);
  }
  t->SetValue0(900);
  t->SetValue1(100);
  EXPECT_EQ(t->Value0(), 900u);
  EXPECT_EQ(t->Value1(), 100u);
}

TEST_F(TrackTest, DraggedMarksFollowThePointerAndExchangeWhenTheyCross) {
  struct Case {
    const char* what;
    QPointF press;
    std::vector<float> moves; // one tick after each
    TDnMode pressed;
    std::array<uint64_t, 3> last; // Value, Value0, Value1 in seconds
    TDnMode after;
  };
  const std::vector<Case> cases = {
      {"mark A past B", {100, 10}, {500}, dmD0, {500, 400, 500}, dmD1},
      {"mark A past B and back", {100, 10}, {500, 50}, dmD0, {50, 50, 400}, dmD0},
      {"mark B past A", {400, 10}, {20}, dmD1, {20, 20, 100}, dmD0},
      {"mark A left of the start", {100, 10}, {-40}, dmD0, {0, 0, 400}, dmD0},
      {"mark B right of the end", {400, 10}, {700}, dmD1, {600, 100, 600}, dmD1},
      {"playhead on the band", {100, 45}, {250, 900}, dmDn, {600, 100, 400}, dmDn},
      {"upper half away from a mark", {250, 10}, {260}, dmDn, {260, 100, 400}, dmDn},
      {"B wins where the marks overlap", {100, 10}, {300}, dmD1, {300, 100, 300}, dmD1},
  };
  for (const auto& c : cases) {
    auto* t = MakeTrack();
    t->SetValue(0);
    t->SetValue0(100 * kSec);
    t->SetValue1(c.what == std::string("B wins where the marks overlap") ? 110 * kSec : 400 * kSec);
    raw.clear();
    t->BtnMouseDown(t, Qt::LeftButton, {}, c.press.x(), c.press.y());
    EXPECT_EQ(t->DnMode(), c.pressed) << c.what;
    Tick(t); // applies the press point
    for (const float x : c.moves) {
      t->BtnMouseMove(t, {}, x, 10);
      Tick(t);
    }
    ASSERT_FALSE(raw.empty()) << c.what;
    const auto& l = raw.back();
    EXPECT_EQ(l[0], c.last[0] * kSec) << c.what;
    EXPECT_EQ(l[1], c.last[1] * kSec) << c.what;
    EXPECT_EQ(l[2], c.last[2] * kSec) << c.what;
    EXPECT_EQ(t->Value0(), c.last[1] * kSec) << c.what;
    EXPECT_EQ(t->Value1(), c.last[2] * kSec) << c.what;
    EXPECT_EQ(t->DnMode(), c.after) << c.what;
    EXPECT_LE(t->Value0(), t->Value1()) << c.what;
    delete t;
  }
}

TEST_F(TrackTest, ShiftAndCtrlClicksOnMarkAStepItBack) {
  struct Case {
    const char* what;
    uint64_t value0;
    bool shift, ctrl, viaKeyTable;
    uint64_t expected;
    int changes;
  };
  const std::vector<Case> cases = {
      {"Ctrl at 0.5 s", 5'000'000, false, true, false, 0, 1},
      {"Shift at 10 s", 100'000'000, true, false, false, 70'000'000, 1},
      {"Shift held in the key table", 100'000'000, true, false, true, 70'000'000, 1},
      {"Ctrl held in the key table", 100'000'000, false, true, true, 90'000'000, 1},
      {"Shift wins over Ctrl", 100'000'000, true, true, false, 70'000'000, 1},
      {"Ctrl at 0: nothing to move", 0, false, true, false, 0, 0},
  };
  for (const auto& c : cases) {
    // 60 s over 600 units: 0.1 s per unit.
    auto* t = MakeTrack(600'000'000);
    t->SetValue(300'000'000);
    t->SetValue0(c.value0);
    const float x = static_cast<float>(c.value0 / 1'000'000);
    Qt::KeyboardModifiers mods;
    KeyTableClear();
    if (c.viaKeyTable) {
      if (c.shift) {
        QKeyEvent k(QEvent::KeyPress, Qt::Key_Shift, Qt::ShiftModifier);
        KeyTableFeed(&k);
      }
      if (c.ctrl) {
        QKeyEvent k(QEvent::KeyPress, Qt::Key_Control, Qt::ControlModifier);
        KeyTableFeed(&k);
      }
    } else {
      if (c.shift) mods |= Qt::ShiftModifier;
      if (c.ctrl) mods |= Qt::ControlModifier;
    }
    log.clear();
    raw.clear();
    QTest::mousePress(t, Qt::LeftButton, mods, QPoint(static_cast<int>(x), 10));
    EXPECT_EQ(t->DnMode(), dmD0) << c.what;
    EXPECT_FALSE(t->TimerEnabled()) << c.what << ": a modified press drags nothing";
    QTest::mouseRelease(t, Qt::LeftButton, mods, QPoint(static_cast<int>(x), 10));
    EXPECT_EQ(t->Value0(), c.expected) << c.what;
    EXPECT_EQ(static_cast<int>(raw.size()), c.changes) << c.what;
    if (c.changes) {
      EXPECT_EQ(t->Value(), c.expected) << c.what << ": the playhead jumps to the mark";
      EXPECT_EQ(raw[0], (std::array<uint64_t, 3>{c.expected, c.expected, 600'000'000})) << c.what;
      EXPECT_EQ(log.back(), "up") << c.what;
    }
    EXPECT_EQ(t->DnMode(), dmUp) << c.what;
    KeyTableClear();
    delete t;
  }
}

TEST_F(TrackTest, StepsGivenByTheOwnerApplyFromTheNextRelease) {
  auto* t = MakeTrack(600'000'000);
  EXPECT_EQ(t->Range0FWD1(), TTraTrack::kRange0FWD1Default);
  EXPECT_EQ(t->Range0FWD2(), TTraTrack::kRange0FWD2Default);
  t->SetValue0(100'000'000);
  t->SetRange0FWD1(25'000'000);
  QTest::mouseClick(t, Qt::LeftButton, Qt::ControlModifier, QPoint(100, 10));
  EXPECT_EQ(t->Value0(), 75'000'000u);
  t->SetRange0FWD2(45'000'000);
  QTest::mouseClick(t, Qt::LeftButton, Qt::ShiftModifier, QPoint(75, 10));
  EXPECT_EQ(t->Value0(), 30'000'000u);
}

TEST_F(TrackTest, ModifiedPressOnTheBandFiresOnlyDownAndUp) {
  for (const auto mods : {Qt::KeyboardModifiers(Qt::ShiftModifier), Qt::KeyboardModifiers(Qt::ControlModifier)}) {
    auto* t = MakeTrack();
    t->SetValue(50 * kSec);
    log.clear();
    QTest::mousePress(t, Qt::LeftButton, mods, QPoint(300, 45));
    QTest::mouseMove(t, QPoint(350, 45));
    Tick(t);
    QTest::mouseRelease(t, Qt::LeftButton, mods, QPoint(350, 45));
    Tick(t);
    EXPECT_EQ(log, (std::vector<std::string>{"dn", "up"}));
    EXPECT_EQ(t->Value(), 50 * kSec);
    delete t;
  }
}

TEST_F(TrackTest, TheTickAfterReleaseStillMovesThePlayheadButNotTheMarks) {
  auto* t = MakeTrack();
  t->SetValue0(100 * kSec);
  t->SetValue1(400 * kSec);
  t->BtnMouseDown(t, Qt::LeftButton, {}, 100, 10); // mark A
  Tick(t);
  t->BtnMouseMove(t, {}, 150, 10);
  Tick(t);
  t->BtnMouseMove(t, {}, 200, 10);
  t->BtnMouseUp(t, Qt::LeftButton, {}, 260, 10); // the release point is not recorded
  EXPECT_TRUE(t->TimerEnabled());
  Tick(t);
  EXPECT_FALSE(t->TimerEnabled());
  Tick(t);
  EXPECT_EQ(log, (std::vector<std::string>{"dn", "change 100 100 400", "change 150 150 400", "up", "change 200 150 400"}));
  EXPECT_EQ(t->Value(), 200 * kSec);
  EXPECT_EQ(t->Value0(), 150 * kSec);
}

TEST_F(TrackTest, WithoutOnChangeAPressChangesNothing) {
  auto* t = MakeTrack();
  t->SetOnChange({});
  t->SetValue(10 * kSec);
  t->SetValue0(100 * kSec);
  Flush();
  const int draws = t->DrawRequests();
  for (const auto mods : {Qt::KeyboardModifiers(), Qt::KeyboardModifiers(Qt::ShiftModifier)}) {
    QTest::mousePress(t, Qt::LeftButton, mods, QPoint(100, 10));
    Tick(t);
    QTest::mouseMove(t, QPoint(300, 10));
    Tick(t);
    QTest::mouseRelease(t, Qt::LeftButton, mods, QPoint(300, 10));
    Tick(t);
  }
  EXPECT_EQ(t->Value(), 10 * kSec);
  EXPECT_EQ(t->Value0(), 100 * kSec);
  EXPECT_EQ(t->DrawRequests(), draws);
}

TEST_F(TrackTest, EmptyTrackShowsEverythingAtTheLeftAndIgnoresPresses) {
  auto* t = MakeTrack(0);
  t->SetMax(~uint64_t{0});
  Flush();
  const QImage& b = t->Bitmap();
  ASSERT_EQ(b.size(), QSize(600, 60));
  EXPECT_EQ(b.pixel(3, 5), 0xFFFFFFFFu) << "marks at the left";
  EXPECT_EQ(b.pixel(100, 5), 0u);
  EXPECT_EQ(b.pixel(100, 45), 0u) << "band not filled";
  EXPECT_EQ(b.pixel(100, 59), 0xFFFFFFFFu) << "band outline";
  for (const QPoint p : {QPoint(0, 10), QPoint(300, 45), QPoint(5, 5)}) {
    QTest::mousePress(t, Qt::LeftButton, {}, p);
    EXPECT_EQ(t->DnMode(), dmDn);
    Tick(t);
    QTest::mouseMove(t, QPoint(500, 45));
    Tick(t);
    QTest::mouseRelease(t, Qt::LeftButton, {}, QPoint(500, 45));
    Tick(t);
  }
  EXPECT_EQ(log, (std::vector<std::string>{"dn", "up", "dn", "up", "dn", "up"}));
  EXPECT_EQ(t->Value(), 0u);
}

TEST_F(TrackTest, PictureIsSolidToThePlayheadWithTheTextSplitThere) {
  auto* t = MakeTrack();
  t->SetValue(300 * kSec);
  t->SetValue0(100 * kSec);
  t->SetValue1(500 * kSec);
  Flush();
  const QImage& b = t->Bitmap();
  ASSERT_EQ(b.size(), QSize(600, 60));
  EXPECT_EQ(b.pixel(50, 55), 0xFFFFFFFFu) << "solid band before the playhead";
  EXPECT_EQ(b.pixel(550, 55), 0u) << "outlined band after it";
  EXPECT_EQ(b.pixel(550, 59), 0xFFFFFFFFu) << "outline";
  EXPECT_EQ(b.pixel(100, 2), 0xFFFFFFFFu) << "mark A";
  EXPECT_EQ(b.pixel(500, 2), 0xFFFFFFFFu) << "mark B";
  EXPECT_EQ(b.pixel(300, 2), 0u) << "no mark at the playhead";
  // The time text straddles the playhead: dark glyphs left of it, white ones right of it.
  int darkLeft = 0, whiteRight = 0, darkRight = 0;
  for (int y = 31; y < 59; ++y) {
    for (int x = 230; x < 300; ++x)
      if (qAlpha(b.pixel(x, y)) == 255 && qRed(b.pixel(x, y)) < 64) ++darkLeft;
    for (int x = 300; x < 370; ++x) {
      const QRgb p = b.pixel(x, y);
      if (qAlpha(p) > 192 && qRed(p) > 192) ++whiteRight;
      if (qAlpha(p) == 255 && qRed(p) < 64) ++darkRight;
    }
  }
  EXPECT_GT(darkLeft, 10);
  EXPECT_GT(whiteRight, 10);
  EXPECT_EQ(darkRight, 0);
}

TEST_F(TrackTest, ResizeRecreatesTheBitmapAtTheNewSize) {
  auto* t = MakeTrack();
  EXPECT_EQ(t->geometry(), host->rect()) << "fills its parent";
  host->resize(420, 60);
  Flush();
  EXPECT_EQ(t->size(), QSize(420, 60));
  EXPECT_EQ(t->Bitmap().size(), QSize(420, 60));
  const int draws = t->DrawRequests();
  t->resize(420, 60);
  Flush();
  EXPECT_EQ(t->DrawRequests(), draws) << "same size: nothing to redo";
}

} // namespace
