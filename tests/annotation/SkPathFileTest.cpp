// The annotation file: exact bytes, bit-exact round trips, hostile input.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "TestSupport.h"
#include "annotation/IniView.h"
#include "annotation/SkPath.h"
#include "annotation/SkPathText.h"
#include "platform/core/IniFile.h"

namespace fs = std::filesystem;

namespace skm {
namespace {

const std::string kBom = "\xEF\xBB\xBF";

uint32_t Bits(float f) {
  uint32_t b;
  std::memcpy(&b, &f, 4);
  return b;
}

float FromBits(uint32_t b) {
  float f;
  std::memcpy(&f, &b, 4);
  return f;
}

std::string ReadAll(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

TEST(AnnotationText, EncodedFloats) {
  struct Case {
    float v;
    const char* text;
  };
  const Case cases[] = {{100, "000042C8"}, {200, "00004348"}, {300.5f, "40004396"}, {1.0f, "00003F80"},
                        {-1.5f, "0000BFC0"}, {0, "00000000"},  {-0.0f, "00008000"}};
  for (const Case& c : cases) {
    EXPECT_EQ(EncodeFloat(c.v), c.text) << c.v;
    EXPECT_EQ(Bits(DecodeFloat(c.text)), Bits(c.v)) << c.text;
  }
  // Decoding damaged text: bad or missing groups count as 0, extra characters are ignored.
  struct Bad {
    const char* text;
    uint32_t bits;
  };
  const Bad bad[] = {{"", 0},          {"0000", 0},          {"XYZW3F80", 0x3F800000}, {"00003F80junk", 0x3F800000},
                     {"0000BFC", 0x0BFC0000}, {"3f80", 0x3F80}, {"12G40000", 0},        {"-1234567", 0x45670000},
                     {"00003f80", 0x3F800000}};
  for (const Bad& b : bad) EXPECT_EQ(Bits(DecodeFloat(b.text)), b.bits) << b.text;
}

TEST(AnnotationText, NamesAndFileNames) {
  struct Sec {
    int32_t i;
    const char* name;
  };
  for (const Sec& s : {Sec{0, "L0000"}, Sec{7, "L0007"}, Sec{9999, "L9999"}, Sec{10000, "L10000"}, Sec{123456, "L123456"}}) {
    EXPECT_EQ(RecordSectionName(s.i), s.name);
    EXPECT_EQ(RecordSectionIndex(s.name), s.i) << s.name;
  }
  EXPECT_EQ(RecordSectionIndex("l0042"), 42);
  for (const char* bad : {"L7", "L007", "L00001", "L-001", "X0001", "L00a1", "L99999999999", "L2147483648", "System", ""})
    EXPECT_FALSE(RecordSectionIndex(bad).has_value()) << bad;
  EXPECT_EQ(RecordSectionIndex("L2147483647"), 2147483647);

  struct Name {
    const char* in;
    const char* out;
  };
  const Name names[] = {{"whiteboard_i", "whiteboard_i.zpp"}, {"/a/b/wb.txt", "/a/b/wb.zpp"},
                        {"/a.b/wb", "/a.b/wb.zpp"},           {"x.tar.gz", "x.tar.zpp"},
                        {"a.zpp", "a.zpp"},                   {"dir/.hidden", "dir/.zpp"}};
  for (const Name& n : names) EXPECT_EQ(AnnotationFileName(n.in), n.out);

  for (int k = 0; k < kPathKindCount; ++k) EXPECT_EQ(PathKindFromName(PathKindName(TPathKind(k))), TPathKind(k));
  for (int d = 0; d < kStrokeDashCount; ++d) EXPECT_EQ(StrokeDashFromName(StrokeDashName(TStrokeDash(d))), TStrokeDash(d));
  EXPECT_EQ(PathKindName(TPathKind::pkLineAr1), "pkLineAr1");
  EXPECT_EQ(StrokeDashName(TStrokeDash::DashDotDot), "DashDotDot");
}

TEST(AnnotationFile, ExactBytes) {
  const std::string sys = "[System]\r\nStart=0\r\nEnd=-1\r\nCount=0\r\n\r\n";
  TSkPaths empty;
  EXPECT_EQ(empty.SaveToText(), kBom + sys);

  TSkPaths l;
  l.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFFFF3333, TStrokeDash::Solid, 10}, {{100, 200}, {300.5f, -1.5f}, {1, 0}}));
  l.Add(TSkPath::CreateEraseAll());
  l.Add(TSkPath::CreatePath({TPathKind::pkBrush1, 0x80000001, TStrokeDash::DashDot, 2.5f}, {{1, 1}, {1, 1}}));
  l.Add(TSkPath::CreatePathDn({TPathKind::pkDraw, kEraserColor, TStrokeDash::Custom, 0.1f}, 5, 5));
  l.Add(TSkPath::CreateEdit(TMatrix::Translate(1, -1.5f), {0, 2}));
  l.Add(TSkPath::CreateDelete({3}));
  l.UndoSet();
  const std::string expected = kBom +
      "[System]\r\nStart=2\r\nEnd=4\r\nCount=6\r\n\r\n"
      "[L0000]\r\nKind=pkDraw\r\nColor=FFFF3333\r\nDash=Solid\r\nThickness=10\r\n"
      "Path=000042C8,00004348 40004396,0000BFC0 00003F80,00000000\r\n\r\n"
      "[L0001]\r\nKind=pkEraseAll\r\nColor=00000000\r\nDash=Solid\r\nThickness=0\r\n\r\n"
      "[L0002]\r\nKind=pkBrush1\r\nColor=80000001\r\nDash=DashDot\r\nThickness=2.5\r\n"
      "Path=00003F80,00003F80 00003F80,00003F80\r\n\r\n"
      "[L0003]\r\nKind=pkDraw\r\nColor=00FFFFFF\r\nDash=Custom\r\nThickness=0.100000001490116\r\n\r\n"
      "[L0004]\r\nKind=pkEdit\r\nColor=00000000\r\nDash=Solid\r\nThickness=0\r\n"
      "Matrix=00003F80,00000000,00000000,00000000,00003F80,00000000,00003F80,0000BFC0,00003F80\r\n"
      "Target=0,2\r\n\r\n"
      "[L0005]\r\nKind=pkDelete\r\nColor=00000000\r\nDash=Solid\r\nThickness=0\r\nTarget=3\r\n\r\n";
  EXPECT_EQ(l.SaveToText(), expected);

  // The file on disk holds the same bytes, under the name with ".zpp".
  const std::string dir = skmtest::MakeTempDir();
  std::string err;
  ASSERT_TRUE(l.SaveToFile(dir + "/whiteboard_i", &err)) << err;
  EXPECT_EQ(ReadAll(dir + "/whiteboard_i.zpp"), expected);
  EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1); // no temporary left
}

std::vector<std::string> Describe(const TSkPaths& l) {
  std::vector<std::string> r;
  for (const auto& p : l.SkList) {
    std::ostringstream s;
    const TStrokeStyle& st = p->Style();
    s << PathKindName(st.Kind) << ' ' << std::hex << st.Color << std::dec << ' ' << StrokeDashName(st.Dash) << ' '
      << st.Thickness << ' ' << p->Polygon().size();
    r.push_back(s.str());
  }
  return r;
}

TEST(AnnotationFile, RoundTripKeepsEveryBit) {
  const float specials[] = {0.f,
                            -0.f,
                            1e-45f, // smallest denormal
                            std::numeric_limits<float>::max(),
                            -std::numeric_limits<float>::infinity(),
                            FromBits(0x7FC12345), // NaN with a payload
                            0.1f,
                            1280.f / 3,
                            -720.25f};
  TPolygon pts;
  for (float x : specials)
    for (float y : specials) pts.push_back({x, y});
  const float thicknesses[] = {10, 2.5f, 0.1f, 1e-7f, 123456.79f, 3.4e38f, 0};
  TSkPaths l;
  for (float t : thicknesses) l.Add(TSkPath::CreatePath({TPathKind::pkBrush0, 0xFF123456, TStrokeDash::Dot, t}, pts));

  TSkPaths back;
  back.LoadFromText(l.SaveToText());
  ASSERT_EQ(back.Count(), l.Count());
  for (int32_t i = 0; i < l.Count(); ++i) {
    const TSkPath& a = *l.SkList[size_t(i)];
    const TSkPath& b = *back.SkList[size_t(i)];
    EXPECT_EQ(b.Style(), a.Style()) << i;
    ASSERT_EQ(b.Polygon().size(), a.Polygon().size());
    for (size_t k = 0; k < a.Polygon().size(); ++k) {
      EXPECT_EQ(Bits(b.Polygon()[k].X), Bits(a.Polygon()[k].X)) << k;
      EXPECT_EQ(Bits(b.Polygon()[k].Y), Bits(a.Polygon()[k].Y)) << k;
    }
  }
}

TEST(AnnotationFile, LoadRebuildsTheWindowThroughAdd) {
  const TStrokeStyle pen{TPathKind::pkDraw, 0xFF000000, TStrokeDash::Solid, 3};
  auto build = [&](TSkPaths& l) {
    l.Add(TSkPath::CreatePath(pen, {{1, 1}, {2, 2}}));
    l.Add(TSkPath::CreatePath({TPathKind::pkBrush0, 0xFF00FF00, TStrokeDash::Solid, 8}, {{3, 3}, {4, 4}}));
    l.Add(TSkPath::CreateEraseAll());
    l.Add(TSkPath::CreatePath(pen, {{5, 5}, {6, 6}}));
  };
  const std::string dir = skmtest::MakeTempDir();

  TSkPaths abec;
  build(abec);
  ASSERT_TRUE(abec.SaveToFile(dir + "/abec.zpp"));
  TSkPaths back;
  ASSERT_TRUE(back.LoadFromFile(dir + "/abec"));
  EXPECT_EQ(Describe(back), Describe(abec));
  EXPECT_EQ(back.SkStart, 3);
  EXPECT_EQ(back.SkEnd, 3);
  EXPECT_EQ(back.SkList[1]->StrokeStyleKind(), TPathKind::pkBrush0);

  // Records undone before the save are all shown after loading; nothing can be redone.
  TSkPaths undone;
  build(undone);
  undone.UndoSet();
  undone.UndoSet();
  ASSERT_TRUE(undone.SaveToFile(dir + "/undone"));
  TSkPaths back2;
  ASSERT_TRUE(back2.LoadFromFile(dir + "/undone"));
  EXPECT_EQ(back2.Count(), 4);
  EXPECT_EQ(back2.SkStart, 3);
  EXPECT_EQ(back2.SkEnd, 3);
  EXPECT_FALSE(back2.CanRedo());

  // Loading into a list that has a redo tail discards it, as any Add does.
  TSkPaths busy;
  busy.Add(TSkPath::CreatePath(pen, {{9, 9}}));
  busy.Add(TSkPath::CreatePath(pen, {{9, 9}}));
  busy.UndoSet();
  ASSERT_TRUE(busy.LoadFromFile(dir + "/abec"));
  EXPECT_EQ(busy.Count(), 5);
  EXPECT_EQ(busy.SkStart, 4);
}

TEST(AnnotationFile, SectionNamesGrowToFiveDigits) {
  TSkPaths l;
  for (int i = 0; i < 10001; ++i)
    l.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFF000000, TStrokeDash::Solid, float(i)}, {{0, 0}, {1, 1}}));
  const std::string text = l.SaveToText();
  EXPECT_NE(text.find("\r\n[L9999]\r\n"), std::string::npos);
  EXPECT_NE(text.find("\r\n[L10000]\r\nKind=pkDraw\r\nColor=FF000000\r\nDash=Solid\r\nThickness=10000\r\n"),
            std::string::npos);
  EXPECT_EQ(text.find("[L09999]"), std::string::npos);
  TSkPaths back;
  back.LoadFromText(text);
  ASSERT_EQ(back.Count(), 10001);
  for (int i : {0, 9999, 10000}) EXPECT_EQ(back.SkList[size_t(i)]->Style().Thickness, float(i));
}

TEST(AnnotationFile, ThicknessReadsEitherSeparator) {
  struct Case {
    const char* text;
    char sep;
    float thickness;
  };
  const Case cases[] = {{"2.5", '.', 2.5f}, {"2,5", ',', 2.5f}, {"2.5", ',', 2.5f}, {"2,5", '.', 0},
                        {"1e1", '.', 10},   {"abc", ',', 0},    {"1e999", '.', 0}, {"-3", '.', -3},
                        {" 7 ", '.', 7},    {"", '.', 0}};
  for (const Case& c : cases) {
    TSkPaths l;
    l.LoadFromText("[System]\nCount=1\n[L0000]\nKind=pkDraw\nThickness=" + std::string(c.text) + "\n", c.sep);
    ASSERT_EQ(l.Count(), 1) << c.text;
    EXPECT_EQ(l.SkList[0]->Style().Thickness, c.thickness) << c.text << " with " << c.sep;
  }
}

// Damaged and hostile files load what they can, without crashing or allocating by Count.
TEST(AnnotationFile, MalformedFilesLoadSafely) {
  struct Case {
    const char* name;
    std::string text;
    std::vector<std::string> records; // Describe() of the loaded list
    int32_t start, end;
  };
  const std::string hdr = "[System]\r\nCount=3\r\n";
  const Case cases[] = {
      {"absurd count in a tiny file", "[System]\r\nCount=2000000000\r\n[L0000]\r\nKind=pkDraw\r\n",
       {"pkDraw 0 Solid 0 0"}, 0, 0},
      {"count beyond int32", "[System]\r\nCount=99999999999\r\n[L0000]\r\nKind=pkDraw\r\n", {}, 0, -1},
      {"negative count", "[System]\r\nCount=-5\r\n[L0000]\r\nKind=pkDraw\r\n", {}, 0, -1},
      {"count not a number", "[System]\r\nCount=lots\r\n[L0000]\r\nKind=pkDraw\r\n", {}, 0, -1},
      {"no System section", "[L0000]\r\nKind=pkDraw\r\n", {}, 0, -1},
      {"hex count", "[System]\r\nCount=0x2\r\n[L0000]\r\nKind=pkDraw\r\n[L0001]\r\nKind=pkFill\r\n",
       {"pkDraw 0 Solid 0 0", "pkFill 0 Solid 0 0"}, 0, 1},
      {"sections beyond count ignored", "[System]\r\nCount=1\r\n[L0000]\r\nKind=pkDraw\r\n[L0001]\r\nKind=pkDraw\r\n",
       {"pkDraw 0 Solid 0 0"}, 0, 0},
      {"gap in sections", hdr + "[L0002]\r\nKind=pkBrush0\r\n[L0000]\r\nKind=pkDraw\r\n",
       {"pkDraw 0 Solid 0 0", "pkBrush0 0 Solid 0 0"}, 0, 1},
      {"unusual section spellings", hdr + "[l0000]\r\nKind=pkDraw\r\n[L1]\r\nKind=pkDraw\r\n[L00002]\r\nKind=pkDraw\r\n",
       {"pkDraw 0 Solid 0 0"}, 0, 0},
      {"kinds skipped and kept",
       "[System]\r\nCount=6\r\n[L0000]\r\nKind=pkBogus\r\n[L0001]\r\nKind=pkLine\r\n[L0002]\r\nColor=FF000000\r\n"
       "[L0003]\r\nkind=pkdraw\r\n[L0004]\r\nKind= pkEraseAll \r\nPath=00003F80,00003F80 0,0\r\n[L0005]\r\nKind=pkDelete\r\nTarget=0\r\n",
       {"pkDraw 0 Solid 0 0", "pkEraseAll 0 Solid 0 0"}, 2, 1},
      {"colours", "[System]\r\nCount=5\r\n[L0000]\r\nKind=pkDraw\r\nColor=XYZ\r\n[L0001]\r\nKind=pkDraw\r\nColor=ff0000\r\n"
                  "[L0002]\r\nKind=pkDraw\r\nColor=123456789\r\n[L0003]\r\nKind=pkDraw\r\nColor=\r\n"
                  "[L0004]\r\nKind=pkDraw\r\nColor=$FF\r\n",
       {"pkDraw ff000000 Solid 0 0", "pkDraw ff0000 Solid 0 0", "pkDraw ff000000 Solid 0 0",
        "pkDraw ff000000 Solid 0 0", "pkDraw ff000000 Solid 0 0"}, 0, 4},
      {"dashes", "[System]\r\nCount=3\r\n[L0000]\r\nKind=pkDraw\r\nDash=Wavy\r\n[L0001]\r\nKind=pkDraw\r\nDash=dot\r\n"
                 "[L0002]\r\nKind=pkDraw\r\nDash=\r\n",
       {"pkDraw 0 Solid 0 0", "pkDraw 0 Dot 0 0", "pkDraw 0 Solid 0 0"}, 0, 2},
      {"path items", "[System]\r\nCount=4\r\n[L0000]\r\nKind=pkDraw\r\nPath=000042C8\r\n"
                     "[L0001]\r\nKind=pkDraw\r\nPath=000042C8,00004348 junk  00004348,000042C8 \r\n"
                     "[L0002]\r\nKind=pkDraw\r\nPath=ZZ,QQ ,, 1,2,3\r\n[L0003]\r\nKind=pkDraw\r\nPath=\r\n",
       {"pkDraw 0 Solid 0 0", "pkDraw 0 Solid 0 2", "pkDraw 0 Solid 0 3", "pkDraw 0 Solid 0 0"}, 0, 3},
      {"no BOM, LF only, out of order", "[System]\nCount=2\n[L0001]\nKind=pkBrush1\n[L0000]\nKind=pkEraseAll\n",
       {"pkEraseAll 0 Solid 0 0", "pkBrush1 0 Solid 0 0"}, 1, 1},
      {"repeated key, last wins", "[System]\nCount=1\n[L0000]\nKind=pkNone\nKind=pkDraw\n", {"pkDraw 0 Solid 0 0"}, 0, 0},
      {"binary garbage", std::string("\0\xFF[\x01]\r\n=\x80\x81\n[System\nCount=1\n[L0000\nKind=pkDraw", 45),
       {"pkDraw 0 Solid 0 0"}, 0, 0},
      {"empty", "", {}, 0, -1},
      {"BOM only", kBom, {}, 0, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TSkPaths l;
    l.LoadFromText(c.text);
    EXPECT_EQ(Describe(l), c.records);
    EXPECT_EQ(l.SkStart, c.start);
    EXPECT_EQ(l.SkEnd, c.end);
  }
}

TEST(AnnotationFile, FileSystemFailuresAreReported) {
  const std::string dir = skmtest::MakeTempDir();
  TSkPaths l;
  l.Add(TSkPath::CreatePath({TPathKind::pkDraw, 0xFF000000, TStrokeDash::Solid, 1}, {{1, 1}, {2, 2}}));

  // A missing file is an empty whiteboard, not an error.
  TSkPaths none;
  std::string err;
  EXPECT_TRUE(none.LoadFromFile(dir + "/missing", &err));
  EXPECT_EQ(none.Count(), 0);

  // Saving into a folder that does not exist fails with a message and creates nothing.
  err.clear();
  EXPECT_FALSE(l.SaveToFile(dir + "/nofolder/wb", &err));
  EXPECT_FALSE(err.empty());

  // A folder in the file's place: the save fails, the load fails, both say why.
  fs::create_directory(dir + "/taken.zpp");
  err.clear();
  EXPECT_FALSE(l.SaveToFile(dir + "/taken", &err));
  EXPECT_FALSE(err.empty());
  err.clear();
  EXPECT_FALSE(none.LoadFromFile(dir + "/taken", &err));
  EXPECT_FALSE(err.empty());
  EXPECT_TRUE(fs::is_directory(dir + "/taken.zpp"));

  // Failed saves leave no temporary files behind.
  for (const auto& e : fs::directory_iterator(dir))
    EXPECT_EQ(e.path().filename().string().find(".zpp."), std::string::npos) << "temporary left: " << e.path();

  // An oversized file is refused before it is read (a sparse file costs no disk).
  {
    std::ofstream f(dir + "/huge.zpp", std::ios::binary);
  }
  fs::resize_file(dir + "/huge.zpp", kMaxAnnotationFileBytes + 1);
  err.clear();
  EXPECT_FALSE(none.LoadFromFile(dir + "/huge", &err));
  EXPECT_NE(err.find("too large"), std::string::npos);
  EXPECT_EQ(none.Count(), 0);
}

// The annotation reader's text view must read every value exactly as the INI store would.
TEST(AnnotationFile, TextViewReadsLikeTheIniStore) {
  const std::string cases[] = {
      kBom + "[System]\r\nCount=1\r\n\r\n[L0000]\r\nKind=pkDraw\r\n\r\n",
      "[A]\rk=1\r[a]\rK=2\rj = x \r\n",                     // CR-only ends, merged sections, last wins
      "k=before\n[ S p ]\n  key  =  v = w \n;c=1\nnoequals\n", // blanks, comments, stray lines
      "[open\nk=1\n[]\n=empty key\n[x]]\nk=2\n",                // unclosed and empty names
      "\n\r\n\r\r\n[Z]\n\n\nk=\n",                              // blank lines everywhere, empty value
      std::string("[b\0in]\nk=\0v\n", 12),
  };
  for (const std::string& text : cases) {
    SCOPED_TRACE(text);
    TIniFile store;
    store.LoadFromText(text);
    const TIniView view(text);
    ASSERT_EQ(view.Sections().size(), store.Sections().size());
    for (size_t i = 0; i < view.Sections().size(); ++i) {
      const std::string sec = store.Sections()[i];
      EXPECT_EQ(view.Sections()[i], sec);
      for (const std::string& k : store.Keys(sec)) {
        EXPECT_EQ(view.Read(sec, k), store.Read(sec, k)) << k;
        std::string upper = k;
        for (char& c : upper) c = char(std::toupper(static_cast<unsigned char>(c)));
        EXPECT_EQ(view.Read(sec, upper), store.Read(sec, k)) << k;
      }
    }
    EXPECT_FALSE(view.Read("nosuch", "k").has_value());
  }
}

// Seeds of the file fuzzer: each loads and leaves a list that keeps its invariants.
TEST(AnnotationFile, FuzzSeedsLoad) {
  const fs::path seeds = fs::path(skmtest::SourceDir()) / "fuzz/annotation/seeds";
  ASSERT_TRUE(fs::is_directory(seeds)) << seeds;
  int n = 0;
  for (const auto& e : fs::directory_iterator(seeds)) {
    TSkPaths l;
    l.LoadFromText(ReadAll(e.path().string()));
    EXPECT_GE(l.SkEnd, -1);
    EXPECT_LE(l.SkEnd, l.Count() - 1);
    EXPECT_LE(l.SkStart, l.SkEnd + 1);
    ++n;
  }
  EXPECT_GT(n, 0);
}

} // namespace
} // namespace skm
