// Draws the pictures the Qt windows ship as resources. Run it to redraw them after a change:
//   cmake --build --preset release --target qninet_qt_pictures
// (QT_QPA_PLATFORM=offscreen; it writes the PNG files into the folder given as its argument).

#include <QGuiApplication>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <cmath>
#include <cstdio>

namespace {

const QColor kNavy(0x10, 0x2A, 0x6E);
const QColor kSky(0x4A, 0x90, 0xD9);
const QColor kGold(0xDA, 0xA5, 0x20);

QImage canvas(int w, int h) {
  QImage img(w, h, QImage::Format_ARGB32);
  img.fill(Qt::transparent);
  return img;
}

// A globe: a shaded disc with two meridians and the equator.
void globe(QPainter& p, const QRectF& r) {
  QRadialGradient g(r.center() - QPointF(r.width() / 5, r.height() / 5), r.width() * 0.7);
  g.setColorAt(0, QColor(0xCF, 0xE6, 0xFF));
  g.setColorAt(1, kSky);
  p.setBrush(g);
  p.setPen(QPen(kNavy, r.width() / 24.0 + 0.6));
  p.drawEllipse(r);
  p.setBrush(Qt::NoBrush);
  p.drawEllipse(r.adjusted(r.width() * 0.3, 0, -r.width() * 0.3, 0));
  p.drawLine(QPointF(r.left(), r.center().y()), QPointF(r.right(), r.center().y()));
  p.drawLine(QPointF(r.center().x(), r.top()), QPointF(r.center().x(), r.bottom()));
}

QImage key() {
  QImage img = canvas(24, 24);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kGold.darker(150), 1));
  p.setBrush(kGold);
  QPainterPath shape;
  shape.addEllipse(QPointF(7, 12), 5.5, 5.5);
  shape.addRect(11, 10.5, 11.5, 3);
  shape.addRect(17, 13, 2, 4);
  shape.addRect(20, 13, 2.5, 3);
  QPainterPath hole;
  hole.addEllipse(QPointF(6, 12), 2, 2);
  p.drawPath(shape.simplified().subtracted(hole));
  return img;
}

QImage icon() {
  QImage img = canvas(16, 16);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  globe(p, QRectF(1, 1, 14, 14));
  return img;
}

QImage header() {
  QImage img = canvas(48, 48);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  globe(p, QRectF(2, 2, 38, 38));
  // A download arrow over the lower right of the globe.
  p.setPen(QPen(QColor(0x1B, 0x5E, 0x20), 1.2));
  p.setBrush(QColor(0x43, 0xA0, 0x47));
  p.drawPolygon(QPolygonF({{31, 24}, {39, 24}, {39, 34}, {45, 34}, {35, 45}, {25, 34}, {31, 34}}));
  return img;
}

QImage banner() {
  QImage img(138, 58, QImage::Format_ARGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 138, 0);
  g.setColorAt(0, Qt::white);
  g.setColorAt(1, QColor(0xC8, 0xDC, 0xF5));
  p.fillRect(img.rect(), g);
  p.setPen(QPen(QColor(0xA6, 0xC4, 0xEA), 1.5));
  for (int i = 0; i < 4; ++i) p.drawEllipse(QPointF(130, 29), 18.0 + i * 14, 18.0 + i * 14);
  return img;
}

QImage logo() {
  QImage img(95, 206, QImage::Format_ARGB32);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  QLinearGradient g(0, 0, 0, 206);
  g.setColorAt(0, kNavy);
  g.setColorAt(1, kSky);
  p.fillRect(img.rect(), g);
  globe(p, QRectF(17, 24, 60, 60));
  p.setPen(QColor(0xFF, 0xFF, 0xFF, 0x50));
  for (int y = 110; y < 200; y += 12) p.drawLine(10, y, 85, y);
  p.setPen(Qt::white);
  QFont f("DejaVu Sans");
  f.setPixelSize(17);
  f.setBold(true);
  p.setFont(f);
  p.drawText(QRect(0, 150, 95, 30), Qt::AlignCenter, "QNInet");
  return img;
}

// The state images: 0 a step under way, 1 unused, 2..5 the finished connect, compare,
// download and disconnect steps.
QImage state(int index) {
  QImage img = canvas(16, 16);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  if (index == 0) {
    p.setPen(QPen(QColor(0x8A, 0x5A, 0x00), 1));
    p.setBrush(QColor(0xF5, 0xB7, 0x1F));
    p.drawPolygon(QPolygonF({{2, 5}, {8, 5}, {8, 1.5}, {14.5, 8}, {8, 14.5}, {8, 11}, {2, 11}}));
    return img;
  }
  if (index == 1) {
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::gray);
    p.drawEllipse(QPointF(8, 8), 3, 3);
    return img;
  }
  const QColor fills[] = {QColor(0x2E, 0x7D, 0x32), QColor(0x00, 0x83, 0x8F), QColor(0x15, 0x65, 0xC0),
                          QColor(0x55, 0x6B, 0x2F)};
  p.setPen(Qt::NoPen);
  p.setBrush(fills[index - 2]);
  p.drawEllipse(QRectF(0.5, 0.5, 15, 15));
  p.setPen(QPen(Qt::white, 2.2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  p.setBrush(Qt::NoBrush);
  p.drawPolyline(QPolygonF({QPointF(4, 8.5), QPointF(7, 11.5), QPointF(12, 5)}));
  return img;
}

// The news entries: a folded sheet with text lines; a new entry's sheet carries a gold star.
QImage news(bool fresh) {
  QImage img = canvas(16, 16);
  QPainter p(&img);
  p.setRenderHint(QPainter::Antialiasing);
  p.setPen(QPen(kNavy, 1));
  p.setBrush(Qt::white);
  p.drawPolygon(QPolygonF({{2.5, 1.5}, {10, 1.5}, {13.5, 5}, {13.5, 14.5}, {2.5, 14.5}}));
  p.drawPolyline(QPolygonF({{10, 1.5}, {10, 5}, {13.5, 5}}));
  p.setPen(QPen(kSky, 1));
  for (double y : {7.5, 9.5, 11.5}) p.drawLine(QPointF(4.5, y), QPointF(11.5, y));
  if (fresh) {
    QPolygonF star;
    for (int i = 0; i < 10; ++i) {
      const double r = i % 2 ? 2.2 : 5.2, a = -M_PI / 2 + i * M_PI / 5;
      star << QPointF(10.5 + r * std::cos(a), 10.5 + r * std::sin(a));
    }
    p.setPen(QPen(QColor(0x8A, 0x5A, 0x00), 0.8));
    p.setBrush(kGold);
    p.drawPolygon(star);
  }
  return img;
}

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  if (argc < 2) {
    std::fprintf(stderr, "usage: draw_pictures FOLDER\n");
    return 2;
  }
  const QString dir = QString::fromLocal8Bit(argv[1]) + "/";
  bool ok = key().save(dir + "key.png") && icon().save(dir + "icon.png") &&
            header().save(dir + "header.png") && banner().save(dir + "banner.png") &&
            logo().save(dir + "logo.png");
  ok = ok && news(false).save(dir + "news_old.png") && news(true).save(dir + "news_new.png");
  for (int i = 0; i < 6; ++i) ok = ok && state(i).save(dir + QString("state%1.png").arg(i));
  return ok ? 0 : 1;
}
