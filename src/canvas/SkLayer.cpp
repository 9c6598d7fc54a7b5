#include "canvas/SkLayer.h"

#include <QPainter>
#include <QPainterPath>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <thread>

#include "annotation/SkPathStroke.h"

namespace skm {

Qt::PenStyle PenStyleOf(TStrokeDash d) {
  switch (d) {
  case TStrokeDash::Dash: return Qt::DashLine;
  case TStrokeDash::Dot: return Qt::DotLine;
  case TStrokeDash::DashDot: return Qt::DashDotLine;
  case TStrokeDash::DashDotDot: return Qt::DashDotDotLine;
  case TStrokeDash::Solid:
  case TStrokeDash::Custom: break; // a custom pattern is never defined: drawn solid
  }
  return Qt::SolidLine;
}

namespace {

QPainterPath PathOf(const TPathData& outline) {
  QPainterPath path;
  const auto& q = outline.Points;
  if (q.empty()) return path;
  path.moveTo(q[0].X, q[0].Y);
  for (size_t i = 1; i < q.size(); ++i) path.lineTo(q[i].X, q[i].Y);
  return path;
}

// A pen of width 0 would be Qt's one-pixel cosmetic pen; a stroke of no width covers
// nothing, so it is not drawn at all.
bool Drawable(float width) { return width > 0 && std::isfinite(width); }

// The device rectangle a record can touch under the view, or empty.
QRect RecordBounds(const TLayerRecord& r, const TZoomOffset& zo) {
  const double z = zo.Zoom;
  const double half = std::abs(static_cast<double>(r.Path->Style().Thickness) * z) / 2 + 2;
  const double x0 = r.MinX * z + zo.Offset.X, x1 = r.MaxX * z + zo.Offset.X;
  const double y0 = r.MinY * z + zo.Offset.Y, y1 = r.MaxY * z + zo.Offset.Y;
  const double l = std::min(x0, x1) - half, t = std::min(y0, y1) - half;
  const double rr = std::max(x0, x1) + half, b = std::max(y0, y1) + half;
  if (!(l < rr && t < b) || !std::isfinite(l) || !std::isfinite(rr) || !std::isfinite(t) || !std::isfinite(b))
    return {};
  constexpr double kLimit = 1 << 28;
  auto clampI = [&](double v) { return static_cast<int>(std::clamp(v, -kLimit, kLimit)); };
  return QRect(QPoint(clampI(std::floor(l)), clampI(std::floor(t))), QPoint(clampI(std::ceil(rr)), clampI(std::ceil(b))));
}

// The area a pen covers along a path, as a path to fill. Stroking through the path
// stroker and filling the result, rather than drawing with a pen, keeps every stroke on
// one rasterizer: Qt draws thin pens with its cosmetic stroker and flat single lines with
// its line rasterizer, and both clip before rasterizing, which moves edge pixels by a step
// between a replay in bands and one without. It also lets the mask and the colour bitmap
// share one outline. A path whose points all coincide is a dot: round for round caps,
// nothing for flat ones.
QPainterPath StrokeArea(const QPainterPath& path, const TStrokeSettings& s, float width) {
  const QRectF box = path.controlPointRect();
  if (box.width() == 0 && box.height() == 0) {
    QPainterPath dot;
    if (s.RoundCap) dot.addEllipse(box.topLeft(), width / 2.0, width / 2.0);
    return dot;
  }
  QPainterPathStroker stroker;
  stroker.setWidth(width);
  stroker.setCapStyle(s.RoundCap ? Qt::RoundCap : Qt::FlatCap);
  stroker.setJoinStyle(Qt::RoundJoin);
  if (s.Dash != TStrokeDash::Solid) stroker.setDashPattern(PenStyleOf(s.Dash));
  return stroker.createStroke(path);
}

// The area of one segment of a segmented stroke (brush core, rainbow): its own width,
// the stroke's caps and dash.
QPainterPath SegmentArea(const TStrokeSegment& seg, const TStrokeSettings& pen) {
  QPainterPath segment;
  segment.moveTo(seg.P.X, seg.P.Y);
  segment.lineTo(seg.Q.X, seg.Q.Y);
  return StrokeArea(segment, pen, seg.Thickness);
}

// Paints one record onto the layer (premultiplied ARGB: the colour bitmap premultiplied
// by the mask) through `layer`, a painter on it already clipped to `clip` (bitmap
// coordinates) and moved by `shift`; `bits`/`bpl` are the same bitmap's pixels.
//
// A record stroked whole (pens, markers, erasers) covers the same area on the mask and
// the colour bitmap, so it is one fill with its colour and alpha replacing what lies
// under it (Source): exactly the colour premultiplied by the new mask level. Brushes
// (full-width band on the mask, thinner core on the colour bitmap) and rainbow strokes
// (one outline on the mask, separate segments on the colour bitmap) are rasterized into
// two coverage bitmaps and applied pixel by pixel: the band changes only the alpha, the
// core only the colour.
void PaintRecord(QPainter& layer, uchar* bits, qsizetype bpl, const QRect& clip, QPoint shift,
                 const TLayerRecord& rec, const TZoomOffset& local) {
  const TSkPath& r = *rec.Path;
  TPathData outline;
  r.PathDataGet1(local, outline);
  if (outline.Points.empty()) return;
  const TStrokeStyle& s = r.Style();
  // The live-layer plan gives the straight colours the colour bitmap keeps (an eraser
  // record is pkDraw here, never pkErase).
  const TStrokePlan plan = StrokePlanGet(s, local.Zoom, TStrokeTarget::Live, outline);
  QPainterPath whole;
  if (Drawable(plan.Pen.Thickness)) whole = StrokeArea(PathOf(outline), plan.Pen, plan.Pen.Thickness);
  if (plan.Whole) {
    if (!whole.isEmpty()) layer.fillPath(whole, QColor::fromRgba(s.Color));
    return;
  }
  const QRect region = RecordBounds(rec, local).translated(shift) & clip;
  if (region.isEmpty()) return;
  QImage band(region.size(), QImage::Format_Alpha8);
  QImage core(region.size(), QImage::Format_ARGB32_Premultiplied);
  if (band.isNull() || core.isNull()) return;
  // Zeroed directly: QImage::fill may hand large images to Qt's thread pool, which this
  // code (itself on a worker) has no use for.
  std::memset(band.bits(), 0, static_cast<size_t>(band.sizeInBytes()));
  std::memset(core.bits(), 0, static_cast<size_t>(core.sizeInBytes()));
  {
    QPainter pb(&band), pc(&core);
    for (QPainter* p : {&pb, &pc}) {
      p->setRenderHint(QPainter::Antialiasing);
      p->setCompositionMode(QPainter::CompositionMode_Source);
      p->translate(shift - region.topLeft());
    }
    if (!whole.isEmpty()) pb.fillPath(whole, QColor(0, 0, 0, 255));
    for (const TStrokeSegment& seg : plan.Segments) {
      if (!Drawable(seg.Thickness)) continue;
      const QPainterPath area = SegmentArea(seg, plan.Pen);
      if (!area.isEmpty()) pc.fillPath(area, QColor::fromRgba(seg.Color | 0xFF000000u));
    }
  }
  const uint32_t alpha = ColorAlpha(s.Color);
  for (int y = 0; y < region.height(); ++y) {
    auto* d = reinterpret_cast<uint32_t*>(bits + (region.top() + y) * bpl) + region.left();
    const uint8_t* m = band.constScanLine(y);
    const auto* c = reinterpret_cast<const uint32_t*>(core.constScanLine(y));
    for (int x = 0; x < region.width(); ++x) {
      const uint32_t cm = m[x], cc = c[x] >> 24;
      if (cm == 0 && cc == 0) continue;
      const uint32_t px = d[x];
      const uint32_t oldA = px >> 24;
      const uint32_t a = (alpha * cm + oldA * (255 - cm) + 127) / 255;
      auto channel = [&](int sh) {
        // The colour underneath unpremultiplied (an empty pixel's is black), the core's
        // colour over it by coverage, then premultiplied by the new alpha.
        const uint32_t old = oldA ? std::min<uint32_t>(255, (((px >> sh) & 0xFF) * 255 + oldA / 2) / oldA) : 0;
        const uint32_t straight = std::min<uint32_t>(255, ((c[x] >> sh) & 0xFF) + (old * (255 - cc) + 127) / 255);
        return std::min((straight * a + 127) / 255, a) << sh;
      };
      d[x] = (a << 24) | channel(16) | channel(8) | channel(0);
    }
  }
}

void SetUpPainter(QPainter& p) {
  p.setRenderHint(QPainter::Antialiasing);
  // Source: the new pixel replaces the old one where the stroke covers it fully, and
  // edges blend by coverage; an alpha-0 eraser therefore clears.
  p.setCompositionMode(QPainter::CompositionMode_Source);
}

} // namespace

bool LayerPlace(const TZoomOffset& view, TZoomOffset& local, QPoint& whole) {
  constexpr double kLimit = 1 << 28;
  const double fx = std::floor(static_cast<double>(view.Offset.X));
  const double fy = std::floor(static_cast<double>(view.Offset.Y));
  if (!(std::abs(fx) < kLimit && std::abs(fy) < kLimit) || !std::isfinite(view.Zoom)) return false;
  local.Zoom = view.Zoom;
  // A float minus its whole part is exact.
  local.Offset = {view.Offset.X - static_cast<float>(fx), view.Offset.Y - static_cast<float>(fy)};
  whole = QPoint(static_cast<int>(fx), static_cast<int>(fy));
  return true;
}

void PaintPlan(QPainter& p, const TStrokePlan& plan, const TPathData& outline) {
  if (outline.Points.empty()) return;
  if (plan.Whole) {
    if (!Drawable(plan.Pen.Thickness)) return;
    const QPainterPath area = StrokeArea(PathOf(outline), plan.Pen, plan.Pen.Thickness);
    if (!area.isEmpty()) p.fillPath(area, QColor::fromRgba(plan.Pen.Color));
    return;
  }
  for (const TStrokeSegment& seg : plan.Segments) {
    if (!Drawable(seg.Thickness)) continue;
    const QPainterPath area = SegmentArea(seg, plan.Pen);
    if (!area.isEmpty()) p.fillPath(area, QColor::fromRgba(seg.Color));
  }
}

bool IsDrawnRecord(const TSkPath& r) {
  if (r.Stat() != TPathStat::psDisplay) return false;
  const TPathKind k = r.StrokeStyleKind();
  return k == TPathKind::pkDraw || k == TPathKind::pkBrush0 || k == TPathKind::pkBrush1;
}

TLayerRecord LayerRecordMake(const TSkPath& r) {
  TLayerRecord out;
  out.Path = TSkPath::CreatePath(r.Style(), r.Polygon());
  // Identity x M is M exactly, so the copy's outline is the original's to the bit.
  if (!(r.M() == TMatrix::Identity())) out.Path->MAdd(r.M());
  // Bounds of the points after the record's own transform.
  bool first = true;
  for (const TPointF& p0 : r.Polygon()) {
    const TPointF p = r.M().Map(p0);
    if (first) {
      out.MinX = out.MaxX = p.X;
      out.MinY = out.MaxY = p.Y;
      first = false;
    } else {
      out.MinX = std::min(out.MinX, p.X);
      out.MaxX = std::max(out.MaxX, p.X);
      out.MinY = std::min(out.MinY, p.Y);
      out.MaxY = std::max(out.MaxY, p.Y);
    }
  }
  // Arrow wings and the like are points of the polygon already; thickness is added later.
  return out;
}

size_t LayerRecordsPoints(const TLayerRecords& records) {
  size_t n = 0;
  for (const auto& r : records) n += r->Path->Polygon().size();
  return n;
}

std::shared_ptr<const TLayerRecords> LayerRecordsGet(const TSkPaths* APwPaths) {
  auto out = std::make_shared<TLayerRecords>();
  if (!APwPaths) return out;
  const int32_t start = std::max(APwPaths->SkStart, 0);
  const int32_t end = std::min(APwPaths->SkEnd, APwPaths->Count() - 1);
  for (int32_t i = start; i <= end; ++i) {
    const TSkPath* r = APwPaths->SkList[static_cast<size_t>(i)].get();
    if (r && IsDrawnRecord(*r) && !r->Polygon().empty())
      out->push_back(std::make_shared<const TLayerRecord>(LayerRecordMake(*r)));
  }
  return out;
}

void TImageP1::BitmapSetSize(int AWidth, int AHeight) {
  const int w = std::max(AWidth, 0), h = std::max(AHeight, 0);
  FImage = (w > 0 && h > 0) ? QImage(w, h, QImage::Format_ARGB32_Premultiplied) : QImage();
  // A size Qt cannot allocate gives a null image: the layer then shows nothing.
  Clear();
}

void TImageP1::Clear() {
  if (!FImage.isNull()) std::memset(FImage.bits(), 0, static_cast<size_t>(FImage.sizeInBytes()));
  FUsed = {};
}

QRect TImageP1::DrawPath(const TZoomOffset& AZO, const TSkPath& APwPath) {
  if (FImage.isNull() || !IsDrawnRecord(APwPath) || APwPath.Polygon().empty()) return {};
  TZoomOffset local;
  QPoint whole;
  if (!LayerPlace(AZO, local, whole)) return {};
  const QPoint shift = whole - FOrigin;
  const TLayerRecord rec = LayerRecordMake(APwPath);
  const QRect dirty = RecordBounds(rec, local).translated(shift) & FImage.rect();
  if (dirty.isEmpty()) return {};
  uchar* bits = FImage.bits();
  QImage view(bits, FImage.width(), FImage.height(), FImage.bytesPerLine(), QImage::Format_ARGB32_Premultiplied);
  QPainter p(&view);
  SetUpPainter(p);
  p.translate(shift);
  PaintRecord(p, bits, FImage.bytesPerLine(), FImage.rect(), shift, rec, local);
  FUsed |= dirty;
  return dirty;
}

bool TImageP1::DrawPathAll(const TZoomOffset& AZO, const TLayerRecords& records, int bands,
                           const std::atomic<bool>* cancel) {
  if (FImage.isNull()) return true;
  Clear();
  TZoomOffset local;
  QPoint whole;
  if (!LayerPlace(AZO, local, whole)) return true;
  const QPoint shift = whole - FOrigin;
  const int w = FImage.width(), h = FImage.height();
  bands = std::clamp(bands, 1, std::max(1, h));
  // Every band paints through its own QImage over the same pixels (a paint device takes
  // one painter at a time), clipped to its rows; the rows never overlap.
  uchar* bits = FImage.bits();
  const qsizetype bpl = FImage.bytesPerLine();
  std::vector<QRect> bounds(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    bounds[i] = RecordBounds(*records[i], local).translated(shift);
    FUsed |= bounds[i] & FImage.rect();
  }
  std::atomic<bool> stopped{false};
  auto band = [&](int k) {
    const int y0 = h * k / bands, y1 = h * (k + 1) / bands;
    const QRect clip(0, y0, w, y1 - y0);
    if (clip.isEmpty()) return;
    QImage view(bits, w, h, bpl, QImage::Format_ARGB32_Premultiplied);
    QPainter p(&view);
    SetUpPainter(p);
    p.setClipRect(clip);
    p.translate(shift);
    for (size_t i = 0; i < records.size(); ++i) {
      if (cancel && (i & 15) == 0 && cancel->load(std::memory_order_relaxed)) {
        stopped = true;
        return;
      }
      if (!bounds[i].intersects(clip)) continue;
      PaintRecord(p, bits, bpl, clip, shift, *records[i], local);
    }
  };
  std::vector<std::thread> helpers;
  for (int k = 1; k < bands; ++k) helpers.emplace_back(band, k);
  band(0);
  for (auto& t : helpers) t.join();
  return !stopped;
}

void TImageP1::DrawPathAll(const TZoomOffset& AZO, const TSkPaths* APwPaths) {
  DrawPathAll(AZO, *LayerRecordsGet(APwPaths));
}

} // namespace skm
