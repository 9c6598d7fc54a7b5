// Draws the about box's artwork (the program icon, 44 x 44, and the two skins, 512 x 256,
// light and dark) and the small pictures the style sheets use (arrows of the combo and
// number boxes, the check box's mark), each at 1x and @2x. The PNGs are kept in
// resources/; run this tool only to change them:  skm_make_about_art <resources folder>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <cstdio>

namespace {

const QColor kOrange(0xff, 0xa5, 0x2a);

// Two movie frames, the second over the first, and a pen stroke across them.
void DrawIcon(QPainter& p, const QRectF& r) {
  const qreal u = r.width() / 44.0;
  p.save();
  p.translate(r.topLeft());
  p.scale(u, u);
  QLinearGradient tile(0, 0, 44, 44);
  tile.setColorAt(0, QColor(0x2a, 0x30, 0x3c));
  tile.setColorAt(1, QColor(0x40, 0x48, 0x5a));
  p.setPen(Qt::NoPen);
  p.setBrush(tile);
  p.drawRoundedRect(QRectF(1, 1, 42, 42), 8, 8);
  p.setBrush(QColor(0x8a, 0x92, 0xa2));
  p.drawRoundedRect(QRectF(7, 9, 20, 15), 2, 2);
  p.setBrush(QColor(0xd8, 0xdd, 0xe6, 0xd0));
  p.drawRoundedRect(QRectF(16, 17, 21, 16), 2, 2);
  // Sprocket holes along the frames' top edge.
  p.setBrush(QColor(0x2a, 0x30, 0x3c));
  for (int i = 0; i < 4; ++i) p.drawRect(QRectF(18.5 + i * 4.8, 19, 2.4, 2.4));
  QPainterPath stroke;
  stroke.moveTo(6, 37);
  stroke.cubicTo(14, 28, 22, 40, 38, 27);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(kOrange, 3.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(stroke);
  p.restore();
}

QImage Skin(bool dark) {
  QImage img(512, 256, QImage::Format_ARGB32_Premultiplied);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient bg(0, 0, 512, 256);
  bg.setColorAt(0, dark ? QColor(0x1e, 0x22, 0x2b) : QColor(0xf7, 0xf8, 0xfb));
  bg.setColorAt(1, dark ? QColor(0x34, 0x3b, 0x4a) : QColor(0xd9, 0xdf, 0xe9));
  p.fillRect(img.rect(), bg);
  // A faint strip of frames behind the title, brighter to the right.
  for (int i = 0; i < 9; ++i) {
    QColor c = dark ? QColor(0xff, 0xff, 0xff) : QColor(0x30, 0x40, 0x60);
    c.setAlphaF(0.05 + 0.015 * i);
    p.setPen(Qt::NoPen);
    p.setBrush(c);
    p.drawRoundedRect(QRectF(14 + i * 56, 12, 44, 40), 3, 3);
  }
  // Pen strokes in two corners, as if sketched over a frame.
  QPainterPath left;
  left.moveTo(-10, 200);
  left.cubicTo(40, 150, 70, 235, 120, 205);
  QPainterPath right;
  right.moveTo(390, 228);
  right.cubicTo(430, 190, 470, 215, 530, 160);
  QColor pen = kOrange;
  pen.setAlphaF(dark ? 0.55 : 0.65);
  p.setBrush(Qt::NoBrush);
  p.setPen(QPen(pen, 5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPath(left);
  p.drawPath(right);
  QColor marker = dark ? QColor(0x4c, 0xc2, 0xff) : QColor(0x00, 0x67, 0xc0);
  marker.setAlphaF(0.18);
  p.setPen(QPen(marker, 14, Qt::SolidLine, Qt::FlatCap, Qt::RoundJoin));
  p.drawLine(QPointF(400, 110), QPointF(500, 96));
  p.drawLine(QPointF(12, 120), QPointF(90, 128));
  return img;
}

// A chevron pointing up or down in a w x h box (logical units), drawn at the given scale.
QImage Arrow(bool up, QColor c, int scale) {
  const int w = 9, h = 6;
  QImage img(w * scale, h * scale, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(scale, scale);
  p.setPen(QPen(c, 1.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  QPolygonF v;
  if (up) v << QPointF(1, 4.8) << QPointF(4.5, 1.3) << QPointF(8, 4.8);
  else v << QPointF(1, 1.2) << QPointF(4.5, 4.7) << QPointF(8, 1.2);
  p.drawPolyline(v);
  return img;
}

// The check box's mark, 12 x 12 logical units.
QImage Check(QColor c, int scale) {
  QImage img(12 * scale, 12 * scale, QImage::Format_ARGB32_Premultiplied);
  img.fill(Qt::transparent);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.scale(scale, scale);
  p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.drawPolyline(QPolygonF() << QPointF(2.2, 6.3) << QPointF(4.9, 9) << QPointF(9.8, 3.2));
  return img;
}

bool SaveStyleImages(const QString& dir) {
  struct Ink { const char* name; QColor color; };
  const Ink inks[] = {{"light", QColor(0x30, 0x30, 0x30)}, {"dark", QColor(0xe0, 0xe0, 0xe0)},
                      {"light-disabled", QColor(0xa8, 0xa8, 0xa8)}, {"dark-disabled", QColor(0x68, 0x68, 0x68)}};
  bool ok = true;
  for (int scale : {1, 2}) {
    const QString suffix = scale == 2 ? QStringLiteral("@2x.png") : QStringLiteral(".png");
    for (const Ink& ink : inks) {
      ok = ok && Arrow(true, ink.color, scale).save(dir + "/qss/arrow-up-" + ink.name + suffix);
      ok = ok && Arrow(false, ink.color, scale).save(dir + "/qss/arrow-down-" + ink.name + suffix);
    }
    // The mark sits on the accent colour in both themes.
    ok = ok && Check(QColor(0xff, 0xff, 0xff), scale).save(dir + "/qss/check-light" + suffix);
    ok = ok && Check(QColor(0, 0, 0), scale).save(dir + "/qss/check-dark" + suffix);
    ok = ok && Check(QColor(0xa8, 0xa8, 0xa8), scale).save(dir + "/qss/check-light-disabled" + suffix);
    ok = ok && Check(QColor(0x68, 0x68, 0x68), scale).save(dir + "/qss/check-dark-disabled" + suffix);
  }
  return ok;
}

} // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: skm_make_about_art <resources folder>\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]);
  QImage icon(44, 44, QImage::Format_ARGB32_Premultiplied);
  icon.fill(Qt::transparent);
  {
    QPainter p(&icon);
    p.setRenderHint(QPainter::Antialiasing);
    DrawIcon(p, QRectF(0, 0, 44, 44));
  }
  const bool ok = icon.save(dir + "/about_icon64.png") && Skin(false).save(dir + "/about_skin_light.png") &&
                  Skin(true).save(dir + "/about_skin_dark.png") && SaveStyleImages(dir);
  return ok ? 0 : 1;
}
