#include "canvas/ViewExport.h"

#include <QDir>
#include <QFileInfo>
#include <QPainter>
#include <QRectF>
#include <cmath>

#include "canvas/SkImage.h"
#include "canvas/SkLayer.h"
#include "canvas/SkView.h"

namespace skm {
namespace {

// Coordinates that are whole numbers but for the float noise of the mappings are taken as
// whole, so a lane shown at its own size is copied pixel for pixel instead of resampled.
double Snap(double v) {
  const double r = std::round(v);
  return std::abs(v - r) < 1e-3 ? r : v;
}

QRectF LaneBounds(const TViewExportLane& lane, const TZoomOffset& view) {
  return LaneDisp(lane.ZO, view, lane.MediaWidth, lane.MediaHeight);
}

TViewExportLane LaneOf(const TSkLane& lane) {
  TViewExportLane out;
  out.Picture = lane.Bitmap;
  out.MediaWidth = lane.MediaWidth;
  out.MediaHeight = lane.MediaHeight;
  out.ZO = lane.ZO;
  out.Opacity = lane.Opacity;
  out.Visible = lane.Visible;
  return out;
}

TViewExportLane FittedLane(const QImage& picture) {
  TViewExportLane out;
  out.Picture = picture;
  out.MediaWidth = static_cast<float>(picture.width());
  out.MediaHeight = static_cast<float>(picture.height());
  return out;
}

} // namespace

bool TViewExportLane::Shown() const {
  return Visible && !Picture.isNull() && MediaWidth > 0 && MediaHeight > 0 && std::isfinite(ZO.Zoom) &&
         ZO.Zoom > 0;
}

TViewExportScene ViewExportSceneOf(const TSkImage& canvas) {
  TViewExportScene s;
  s.Control = QSizeF(canvas.width(), canvas.height());
  s.View = canvas.FZO();
  s.Lane1 = LaneOf(canvas.ImageV1());
  s.Lane2 = LaneOf(canvas.ImageV2());
  if (!canvas.isPile()) s.Lane2.Opacity = 1;
  s.Paths = canvas.CurrentPaths();
  return s;
}

TViewExportScene ViewExportSceneFitted(const QImage& lane1, const QImage& lane2, float opacity, bool pile,
                                       const TSkPaths* paths) {
  TViewExportScene s;
  s.Lane1 = FittedLane(lane1);
  s.Lane2 = FittedLane(lane2);
  s.Lane2.Opacity = pile ? opacity : 1;
  s.Paths = paths;
  const double w1 = lane1.width(), h1 = lane1.height();
  if (w1 <= 0 || h1 <= 0) return s;
  const double W = pile ? w1 : 2 * w1, H = h1;
  s.Control = QSizeF(W, H);
  s.View = ViewFit(W, H);
  if (pile) {
    s.Lane1.ZO = LaneFitWhole(s.View, W, H, w1, h1);
    if (!lane2.isNull()) s.Lane2.ZO = LaneFitWhole(s.View, W, H, lane2.width(), lane2.height());
  } else {
    s.Lane1.ZO = LaneFitLeft(s.View, W, H, w1, h1);
    if (!lane2.isNull()) s.Lane2.ZO = LaneFitRight(s.View, W, H, lane2.width(), lane2.height());
  }
  return s;
}

bool ViewExportRender(const TViewExportScene& scene, QImage& out, QString* error) {
  auto fail = [&](const QString& why) {
    if (error) *error = why;
    return false;
  };
  const QRectF control(QPointF(0, 0), scene.Control);
  const TViewExportLane* lanes[2] = {&scene.Lane1, &scene.Lane2};
  // Pixels of the output per control unit: the first shown lane's picture at its own size;
  // without pictures, one canvas unit per pixel.
  double k = 0;
  QRectF covered;
  for (const TViewExportLane* lane : lanes) {
    if (!lane->Shown()) continue;
    const QRectF b = LaneBounds(*lane, scene.View);
    if (!(b.width() > 0) || !(b.height() > 0)) continue;
    if (k == 0) k = lane->MediaWidth / b.width();
    covered = covered.isNull() ? b : covered.united(b);
  }
  if (k == 0) {
    if (!(scene.View.Zoom > 0)) return fail(QStringLiteral("The canvas shows nothing."));
    k = 1.0 / scene.View.Zoom;
    covered = QRectF(scene.View.Offset.X, scene.View.Offset.Y, kCanvasUnitsW * scene.View.Zoom,
                     kCanvasUnitsH * scene.View.Zoom);
  }
  const QRectF region = covered.intersected(control);
  if (!std::isfinite(k) || !(k > 0) || region.isEmpty())
    return fail(QStringLiteral("Nothing of the pictures is inside the canvas."));
  const double ow = std::round(region.width() * k), oh = std::round(region.height() * k);
  if (!(ow >= 1 && oh >= 1 && ow <= kViewExportMaxSide && oh <= kViewExportMaxSide &&
        ow * oh <= static_cast<double>(kViewExportMaxPixels)))
    return fail(QStringLiteral("The picture would be %1 x %2 pixels, more than can be saved.")
                    .arg(ow, 0, 'f', 0)
                    .arg(oh, 0, 'f', 0));
  QImage img(static_cast<int>(ow), static_cast<int>(oh), QImage::Format_ARGB32_Premultiplied);
  if (img.isNull()) return fail(QStringLiteral("Not enough memory for the picture."));
  img.fill(0xFF000000u);
  // Control coordinates to output pixels.
  auto toOut = [&](const QRectF& r) {
    const double x0 = Snap((r.left() - region.left()) * k), y0 = Snap((r.top() - region.top()) * k);
    const double x1 = Snap((r.right() - region.left()) * k), y1 = Snap((r.bottom() - region.top()) * k);
    return QRectF(QPointF(x0, y0), QPointF(x1, y1));
  };
  {
    QPainter p(&img);
    for (const TViewExportLane* lane : lanes) {
      if (!lane->Shown() || lane->Opacity <= 0) continue;
      const QRectF target = toOut(LaneBounds(*lane, scene.View));
      const bool own = target.width() == lane->Picture.width() && target.height() == lane->Picture.height() &&
                       target.left() == std::round(target.left()) && target.top() == std::round(target.top());
      p.setRenderHint(QPainter::SmoothPixmapTransform, !own);
      p.setOpacity(std::min(1.0f, lane->Opacity));
      if (own)
        p.drawImage(target.topLeft().toPoint(), lane->Picture);
      else
        p.drawImage(target, lane->Picture);
    }
    p.setOpacity(1);
    if (scene.Paths) {
      // The annotations through the same view, scaled like the pictures.
      TZoomOffset zo;
      zo.Zoom = static_cast<float>(scene.View.Zoom * k);
      zo.Offset = {static_cast<float>((scene.View.Offset.X - region.left()) * k),
                   static_cast<float>((scene.View.Offset.Y - region.top()) * k)};
      TImageP1 layer;
      layer.BitmapSetSize(img.width(), img.height());
      layer.DrawPathAll(zo, scene.Paths);
      if (!layer.Image().isNull()) p.drawImage(0, 0, layer.Image());
    }
  }
  out = img.convertToFormat(QImage::Format_RGB32);
  return true;
}

QString ViewExportDefaultName(const QString& lane1File, qint64 frame, const QString& dir) {
  const QFileInfo info(lane1File);
  QString base = lane1File.isEmpty() ? QStringLiteral("sketchmark") : info.completeBaseName();
  if (base.isEmpty()) base = QStringLiteral("sketchmark");
  // Never lane 1's own name: a still image in lane 1 would be offered for overwriting.
  base += frame >= 0 ? QStringLiteral("-frame%1").arg(frame) : QStringLiteral("-view");
  QString folder = dir;
  if (folder.isEmpty() && !lane1File.isEmpty()) folder = info.absolutePath();
  const QString name = base + QStringLiteral(".png");
  return folder.isEmpty() ? name : QDir(folder).filePath(name);
}

} // namespace skm
