// The undo window of annotation lists and the record operations that shape points.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "annotation/SkPath.h"

namespace skm {
namespace {

// Records are tagged by a letter kept in their thickness, so a list reads as "ABEC".
std::unique_ptr<TSkPath> Rec(char tag) {
  if (tag == 'E') return TSkPath::CreateEraseAll();
  return TSkPath::CreatePathDn({TPathKind::pkDraw, 0xFF000000, TStrokeDash::Solid, float(tag)}, 1, 2);
}

char Tag(const TSkPath& p) {
  return p.StrokeStyleKind() == TPathKind::pkEraseAll ? 'E' : char(p.Style().Thickness);
}

std::string ListText(const TSkPaths& l) {
  std::string s;
  for (const auto& p : l.SkList) s += Tag(*p);
  return s;
}

std::string WindowText(const TSkPaths& l) {
  std::string s;
  for (int32_t i = l.SkStart; i <= l.SkEnd; ++i) s += Tag(*l.SkList[size_t(i)]);
  return s;
}

// Letters add records ('E' an erase-all), 'u' undoes, 'r' redoes, 'c' clears.
void Play(TSkPaths& l, const std::string& ops) {
  for (char c : ops) {
    if (c == 'u') l.UndoSet();
    else if (c == 'r') l.RedoSet();
    else if (c == 'c') l.Clear();
    else if (c != ' ') l.Add(Rec(c));
  }
}

// The invariants every operation keeps, checked against a direct scan.
void ExpectInvariants(const TSkPaths& l) {
  ASSERT_GE(l.SkEnd, -1);
  ASSERT_LE(l.SkEnd, l.Count() - 1);
  int32_t start = 0;
  for (int32_t i = l.SkEnd; i >= 0; --i)
    if (l.SkList[size_t(i)]->StrokeStyleKind() == TPathKind::pkEraseAll) {
      start = i + 1;
      break;
    }
  EXPECT_EQ(l.SkStart, start);
  EXPECT_EQ(l.CanUndo(), l.SkEnd >= 0);
  EXPECT_EQ(l.CanRedo(), l.SkEnd < l.Count() - 1);
}

struct WindowCase {
  const char* ops;
  const char* list;
  int32_t start, end;
  const char* window;
  bool canUndo, canRedo;
};

TEST(SkPaths, UndoWindowTable) {
  const WindowCase cases[] = {
      {"", "", 0, -1, "", false, false},
      {"u r", "", 0, -1, "", false, false},
      {"A B C u u D", "AD", 0, 1, "AD", true, false},
      {"A B E C", "ABEC", 3, 3, "C", true, false},
      {"A B E C u", "ABEC", 3, 2, "", true, true},
      {"A B E C u u", "ABEC", 0, 1, "AB", true, true},
      {"A B E C u u r", "ABEC", 3, 2, "", true, true},
      {"A B E C u u r r", "ABEC", 3, 3, "C", true, false},
      {"A B E", "ABE", 3, 2, "", true, false},
      {"A B C u u u", "ABC", 0, -1, "", false, true},
      {"A B C u u u u", "ABC", 0, -1, "", false, true},
      {"A B C u u u r", "ABC", 0, 0, "A", true, true},
      {"A B C u u u r r r r", "ABC", 0, 2, "ABC", true, false},
      {"A B C u u c", "", 0, -1, "", false, false},
      {"A E B u u D", "AD", 0, 1, "AD", true, false},
      {"A B u E", "AE", 2, 1, "", true, false},
      {"A E B E C u u u", "AEBEC", 2, 1, "", true, true},
      {"E E u", "EE", 1, 0, "", true, true},
      {"A B C u u u D", "D", 0, 0, "D", true, false},
  };
  for (const WindowCase& c : cases) {
    SCOPED_TRACE(c.ops);
    TSkPaths l;
    Play(l, c.ops);
    EXPECT_EQ(ListText(l), c.list);
    EXPECT_EQ(l.SkStart, c.start);
    EXPECT_EQ(l.SkEnd, c.end);
    EXPECT_EQ(WindowText(l), c.window);
    EXPECT_EQ(l.CanUndo(), c.canUndo);
    EXPECT_EQ(l.CanRedo(), c.canRedo);
    ExpectInvariants(l);
  }
}

// Undo all the way down and redo all the way up: every state on the way up is the one
// seen at that point on the way down, whatever history built the list.
TEST(SkPaths, UndoRedoRetraceTheSameWindows) {
  std::mt19937 rng(1234);
  for (int round = 0; round < 200; ++round) {
    SCOPED_TRACE(round);
    TSkPaths l;
    std::string ops;
    const int len = int(rng() % 40);
    for (int k = 0; k < len; ++k) {
      const unsigned r = rng() % 10;
      ops += r < 4 ? char('A' + rng() % 4) : r < 6 ? 'E' : r < 8 ? 'u' : 'r';
    }
    Play(l, ops);
    ExpectInvariants(l);
    const std::string list = ListText(l);

    struct State {
      int32_t start, end;
      std::string window;
    };
    std::vector<State> down;
    down.push_back({l.SkStart, l.SkEnd, WindowText(l)});
    while (l.CanUndo()) {
      l.UndoSet();
      ExpectInvariants(l);
      down.push_back({l.SkStart, l.SkEnd, WindowText(l)});
    }
    for (size_t i = down.size() - 1; i-- > 0;) {
      l.RedoSet();
      ExpectInvariants(l);
      EXPECT_EQ(l.SkStart, down[i].start);
      EXPECT_EQ(l.SkEnd, down[i].end);
      EXPECT_EQ(WindowText(l), down[i].window);
    }
    // Redo further and back down again retraces the same states too.
    std::vector<State> up;
    up.push_back({l.SkStart, l.SkEnd, WindowText(l)});
    while (l.CanRedo()) {
      l.RedoSet();
      up.push_back({l.SkStart, l.SkEnd, WindowText(l)});
    }
    for (size_t i = up.size() - 1; i-- > 0;) {
      l.UndoSet();
      EXPECT_EQ(l.SkEnd, up[i].end);
      EXPECT_EQ(l.SkStart, up[i].start);
      EXPECT_EQ(WindowText(l), up[i].window);
    }
    EXPECT_EQ(ListText(l), list); // undo and redo never change the records
  }
}

TEST(SkPaths, AddIgnoresNull) {
  TSkPaths l;
  Play(l, "A B u");
  l.Add(nullptr);
  EXPECT_EQ(ListText(l), "AB");
  EXPECT_EQ(l.SkEnd, 0);
}

TEST(SkPath, ConstructorsSetStyleMatrixPointsAndTargets) {
  const TStrokeStyle pen{TPathKind::pkBrush0, 0x80112233, TStrokeDash::Dot, 4.5f};
  const TMatrix m = TMatrix::Translate(3, 4);
  struct Case {
    const char* name;
    std::unique_ptr<TSkPath> p;
    TStrokeStyle style;
    TMatrix m;
    TPolygon pts;
    std::vector<int32_t> targets;
  };
  Case cases[] = {
      {"comm", TSkPath::CreateComm(kEraseAllStyle), kEraseAllStyle, {}, {}, {}},
      {"delete", TSkPath::CreateDelete({3, 1}), {TPathKind::pkDelete, 0, TStrokeDash::Solid, 0}, {}, {}, {3, 1}},
      {"edit", TSkPath::CreateEdit(m, {0}), {TPathKind::pkEdit, 0, TStrokeDash::Solid, 0}, m, {}, {0}},
      {"path", TSkPath::CreatePath(pen, {{1, 2}, {3, 4}}), pen, {}, {{1, 2}, {3, 4}}, {}},
      {"pathdn", TSkPath::CreatePathDn(pen, 7, 8), pen, {}, {{7, 8}}, {}},
  };
  for (Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(c.p->Style(), c.style);
    EXPECT_EQ(c.p->Stat(), TPathStat::psDisplay);
    EXPECT_EQ(c.p->M(), c.m);
    EXPECT_EQ(c.p->Polygon(), c.pts);
    EXPECT_EQ(c.p->Targets(), c.targets);
  }
}

TEST(SkPath, ModPathMvKeepsFirstPointAndSetsSecond) {
  const TStrokeStyle pen{TPathKind::pkLine, 0xFF000000, TStrokeDash::Solid, 2};
  struct Case {
    TPolygon before, after;
  };
  const Case cases[] = {
      {{}, {{0, 0}, {9, 8}}},
      {{{1, 2}}, {{1, 2}, {9, 8}}},
      {{{1, 2}, {3, 4}}, {{1, 2}, {9, 8}}},
      {{{1, 2}, {3, 4}, {5, 6}, {7, 7}}, {{1, 2}, {9, 8}}},
  };
  for (const Case& c : cases) {
    auto p = TSkPath::CreatePath(pen, c.before);
    p->ModPathMv(9, 8);
    EXPECT_EQ(p->Polygon(), c.after) << c.before.size() << " points before";
  }
  auto p = TSkPath::CreatePathDn(pen, 1, 1);
  p->AddPathMv(2, 2);
  p->AddPathMv(3, 3);
  EXPECT_EQ(p->Polygon(), (TPolygon{{1, 1}, {2, 2}, {3, 3}}));
}

TEST(Matrix, ProductAppliesLeftFirstAndMAddAppends) {
  const TMatrix t = TMatrix::Translate(10, 0), s = TMatrix::Scale(2, 3);
  EXPECT_EQ((t * s).Map({1, 1}), (TPointF{22, 3}));
  EXPECT_EQ((s * t).Map({1, 1}), (TPointF{12, 3}));
  EXPECT_EQ((TMatrix::Identity() * s), s);

  auto p = TSkPath::CreatePath({TPathKind::pkDraw, 0xFF000000, TStrokeDash::Solid, 1}, {{1, 1}, {2, 0}});
  p->MAdd(t);
  p->MAdd(s);
  TPathData d;
  p->PathDataGet1(TZoomOffset{}, d);
  EXPECT_EQ(d.Points, (TPolygon{{22, 3}, {24, 0}}));
}

} // namespace
} // namespace skm
