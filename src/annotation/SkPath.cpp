#include "annotation/SkPath.h"

namespace skm {

// ---- TMatrix ----

TMatrix TMatrix::Scale(float sx, float sy) {
  TMatrix m;
  m.m11 = sx;
  m.m22 = sy;
  return m;
}

TMatrix TMatrix::Translate(float dx, float dy) {
  TMatrix m;
  m.m31 = dx;
  m.m32 = dy;
  return m;
}

TPointF TMatrix::Map(TPointF p) const {
  return {p.X * m11 + p.Y * m21 + m31, p.X * m12 + p.Y * m22 + m32};
}

TMatrix TMatrix::operator*(const TMatrix& b) const {
  // Row vectors: p * (A * B) = (p * A) * B, so A acts first.
  TMatrix r;
  r.m11 = m11 * b.m11 + m12 * b.m21 + m13 * b.m31;
  r.m12 = m11 * b.m12 + m12 * b.m22 + m13 * b.m32;
  r.m13 = m11 * b.m13 + m12 * b.m23 + m13 * b.m33;
  r.m21 = m21 * b.m11 + m22 * b.m21 + m23 * b.m31;
  r.m22 = m21 * b.m12 + m22 * b.m22 + m23 * b.m32;
  r.m23 = m21 * b.m13 + m22 * b.m23 + m23 * b.m33;
  r.m31 = m31 * b.m11 + m32 * b.m21 + m33 * b.m31;
  r.m32 = m31 * b.m12 + m32 * b.m22 + m33 * b.m32;
  r.m33 = m31 * b.m13 + m32 * b.m23 + m33 * b.m33;
  return r;
}

// ---- TSkPath ----

TSkPath::~TSkPath() = default;

std::unique_ptr<TSkPath> TSkPath::CreateComm(const TStrokeStyle& AStroke) {
  std::unique_ptr<TSkPath> p(new TSkPath());
  p->FStroke = AStroke;
  return p;
}

std::unique_ptr<TSkPath> TSkPath::CreateDelete(const std::vector<int32_t>& ATargets) {
  std::unique_ptr<TSkPath> p(new TSkPath());
  p->FStroke = {TPathKind::pkDelete, 0, TStrokeDash::Solid, 0};
  p->FTargets = ATargets;
  return p;
}

std::unique_ptr<TSkPath> TSkPath::CreateEdit(const TMatrix& AM, const std::vector<int32_t>& ATargets) {
  std::unique_ptr<TSkPath> p(new TSkPath());
  p->FStroke = {TPathKind::pkEdit, 0, TStrokeDash::Solid, 0};
  p->FM = AM;
  p->FTargets = ATargets;
  return p;
}

std::unique_ptr<TSkPath> TSkPath::CreatePath(const TStrokeStyle& AStroke, TPolygon APointFs) {
  std::unique_ptr<TSkPath> p(new TSkPath());
  p->FStroke = AStroke;
  p->FPolygon = std::move(APointFs);
  return p;
}

std::unique_ptr<TSkPath> TSkPath::CreatePathDn(const TStrokeStyle& AStroke, float X, float Y) {
  std::unique_ptr<TSkPath> p(new TSkPath());
  p->FStroke = AStroke;
  p->FPolygon.push_back({X, Y});
  return p;
}

void TSkPath::AddPathMv(float X, float Y) { FPolygon.push_back({X, Y}); }

void TSkPath::ModPathMv(float X, float Y) {
  FPolygon.resize(2); // new points start at (0, 0)
  FPolygon[1] = {X, Y};
}

void TSkPath::MAdd(const TMatrix& AM) { FM = FM * AM; }

// ---- TSkPaths ----

TSkPaths::~TSkPaths() = default;

void TSkPaths::Clear() {
  SkList.clear();
  SkStart = 0;
  SkEnd = -1;
}

void TSkPaths::Add(std::unique_ptr<TSkPath> APwPath) {
  if (!APwPath) return;
  // The redo tail goes newest first, the order in which it was built.
  const size_t first = static_cast<size_t>(SkEnd + 1);
  while (SkList.size() > first) SkList.pop_back();
  const bool eraseAll = APwPath->StrokeStyleKind() == TPathKind::pkEraseAll;
  SkList.push_back(std::move(APwPath));
  const int32_t n = Count();
  if (eraseAll) SkStart = n;
  SkEnd = n - 1;
}

void TSkPaths::UndoSet() {
  if (!CanUndo()) return;
  --SkEnd;
  StartSet();
}

void TSkPaths::RedoSet() {
  if (!CanRedo()) return;
  ++SkEnd;
  StartSet();
}

void TSkPaths::StartSet() {
  for (int32_t i = SkEnd; i >= 0; --i) {
    if (SkList[static_cast<size_t>(i)]->StrokeStyleKind() == TPathKind::pkEraseAll) {
      SkStart = i + 1;
      return;
    }
  }
  SkStart = 0;
}

} // namespace skm
