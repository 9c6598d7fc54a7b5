// Fuzzes the annotation file reader, then checks what it built: the text view reads every
// section and key exactly as the INI store does, the undo window keeps its invariants,
// saving and reloading gives the same records bit for bit, and every outline and stroke
// plan of the loaded records can be built.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "annotation/IniView.h"
#include "annotation/SkPath.h"
#include "annotation/SkPathStroke.h"
#include "platform/core/IniFile.h"

namespace {

void Check(bool ok) {
  if (!ok) __builtin_trap();
}

bool SameBits(float a, float b) { return std::memcmp(&a, &b, sizeof a) == 0; }

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace skm;
  const std::string_view text(reinterpret_cast<const char*>(data), size);

  TIniFile store;
  store.LoadFromText(text);
  const TIniView view(text);
  const std::vector<std::string> sections = store.Sections();
  Check(sections.size() == view.Sections().size());
  for (size_t i = 0; i < sections.size(); ++i) {
    Check(sections[i] == view.Sections()[i]);
    size_t keys = 0;
    for (const std::string& k : store.Keys(sections[i])) {
      const auto a = store.Read(sections[i], k);
      const auto b = view.Read(sections[i], k);
      Check(a && b && *a == *b);
      ++keys;
    }
    // The store also indexes a key of no name, which Keys() leaves out.
    Check(view.KeyCount(sections[i]) == keys + (store.ValueExists(sections[i], "") ? 1 : 0));
  }
  TSkPaths l;
  l.LoadFromText(text, ',');
  Check(l.SkEnd >= -1 && l.SkEnd <= l.Count() - 1 && l.SkStart >= 0 && l.SkStart <= l.SkEnd + 1);

  TSkPaths back;
  back.LoadFromText(l.SaveToText());
  Check(back.Count() == l.Count() && back.SkStart == l.SkStart && back.SkEnd == l.SkEnd);
  for (int32_t i = 0; i < l.Count(); ++i) {
    const TSkPath& a = *l.SkList[size_t(i)];
    const TSkPath& b = *back.SkList[size_t(i)];
    Check(a.Style() == b.Style());
    // The file keeps points only for records of two or more (one point draws nothing).
    if (a.Polygon().size() < 2) {
      Check(b.Polygon().empty());
      continue;
    }
    Check(a.Polygon().size() == b.Polygon().size());
    for (size_t k = 0; k < a.Polygon().size(); ++k)
      Check(SameBits(a.Polygon()[k].X, b.Polygon()[k].X) && SameBits(a.Polygon()[k].Y, b.Polygon()[k].Y));
  }

  // Geometry over whatever floats the file held, for every tool kind on the first records.
  TPathData d;
  const TZoomOffset zo{1.5f, {3, -4}};
  for (int32_t i = 0; i < l.Count() && i < 32; ++i) {
    const TSkPath& p = *l.SkList[size_t(i)];
    for (int k = 0; k < kPathKindCount; ++k) {
      TStrokeStyle s = p.Style();
      s.Kind = TPathKind(k);
      auto shape = TSkPath::CreatePath(s, p.Polygon());
      shape->PathDataGet0(zo, d);
      (void)StrokePlanGet(s, zo.Zoom, TStrokeTarget::Live, d);
      shape->StrokeStyleKindDraw();
      shape->PathDataGet1(zo, d);
      (void)StrokePlanGet(shape->Style(), zo.Zoom, TStrokeTarget::ColorBitmap, d);
    }
  }
  for (int i = 0; i < 3; ++i) l.UndoSet();
  l.RedoSet();
  Check(l.SkEnd >= -1 && l.SkStart <= l.SkEnd + 1);
  return 0;
}
