// Draws the application icon for the desktop's icon theme: three meshing gear
// wheels in red, blue and yellow on a transparent ground, smooth at every
// size. Writes <dir>/<N>x<N>/apps/corvane.png for each size of the theme and
// <dir>/scalable/apps/corvane.svg, all from the same shapes.
//   art_appicon <hicolor-dir>

#include "gear.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <vector>

namespace {

constexpr int kViewBox = 32;
constexpr int kSizes[] = {16, 32, 48, 64, 128, 256};

struct Shape {
    QPainterPath path;  // odd-even filled, so that hub holes show the ground
    art::Colour fill;
    art::Colour stroke;
    double strokeWidth;
};

// A wheel as a toothed body round a hole and a darker hub ring.
void addWheel(std::vector<Shape>& shapes, const art::Wheel& wheel, art::Colour face,
              art::Colour rim) {
    const double outer = art::outerRadius(wheel.teeth);
    const auto circle = [&](double radius) {
        QPainterPath path;
        path.addEllipse(wheel.centre, radius, radius);
        return path;
    };
    QPainterPath body =
        art::gearOutline(wheel.centre, outer, outer * 0.78, wheel.teeth, wheel.phase);
    body.addPath(circle(outer * 0.38));
    QPainterPath hub = circle(outer * 0.38);
    hub.addPath(circle(outer * 0.18));
    shapes.push_back({body, face, rim, outer * 0.05});
    shapes.push_back({hub, rim, rim, 0});
}

// The three wheels, scaled and moved to fill the view box with a margin.
std::vector<Shape> iconShapes() {
    const art::Wheel red{{0, 0}, 12, 0.0};
    const art::Wheel blue = art::meshWith(red, 8, M_PI * 0.3);
    const art::Wheel yellow = art::meshWith(red, 7, -M_PI * 0.22);
    std::vector<Shape> shapes;
    addWheel(shapes, red, art::Red, art::Maroon);
    addWheel(shapes, blue, art::Blue, art::Navy);
    addWheel(shapes, yellow, art::Yellow, art::Olive);

    QRectF bounds;
    for (const Shape& s : shapes)
        bounds |= s.path.boundingRect();
    const double margin = 1.0;
    const double scale = (kViewBox - 2 * margin) / std::max(bounds.width(), bounds.height());
    QTransform fit;
    fit.translate(kViewBox / 2.0, kViewBox / 2.0);
    fit.scale(scale, scale);
    fit.translate(-bounds.center().x(), -bounds.center().y());
    for (Shape& s : shapes) {
        s.path = fit.map(s.path);
        s.strokeWidth *= scale;
    }
    return shapes;
}

QImage render(const std::vector<Shape>& shapes, int size) {
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    p.scale(double(size) / kViewBox, double(size) / kViewBox);
    for (const Shape& s : shapes) {
        QPainterPath path = s.path;
        path.setFillRule(Qt::OddEvenFill);
        p.setBrush(art::kPalette[s.fill]);
        p.setPen(s.strokeWidth > 0 ? QPen(art::kPalette[s.stroke], s.strokeWidth)
                                   : QPen(Qt::NoPen));
        p.drawPath(path);
    }
    return image;
}

QString number(double value) {
    return QString::number(value, 'f', 3);
}

// SVG path data: QPainterPath holds lines and cubic curves only.
QString pathData(const QPainterPath& path) {
    QString d;
    for (int i = 0; i < path.elementCount(); ++i) {
        const QPainterPath::Element e = path.elementAt(i);
        const QString point = number(e.x) + QLatin1Char(',') + number(e.y);
        switch (e.type) {
            case QPainterPath::MoveToElement:
                d += QStringLiteral("M") + point;
                break;
            case QPainterPath::LineToElement:
                d += QStringLiteral("L") + point;
                break;
            case QPainterPath::CurveToElement:
                d += QStringLiteral("C") + point;
                break;
            case QPainterPath::CurveToDataElement:
                d += QLatin1Char(' ') + point;
                break;
        }
    }
    return d + QLatin1Char('Z');
}

QByteArray svg(const std::vector<Shape>& shapes) {
    QString text = QStringLiteral(
                       "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%1\" "
                       "viewBox=\"0 0 %1 %1\">\n")
                       .arg(kViewBox);
    for (const Shape& s : shapes) {
        text += QStringLiteral("  <path fill-rule=\"evenodd\" fill=\"%1\"")
                    .arg(art::kPalette[s.fill].name());
        if (s.strokeWidth > 0)
            text += QStringLiteral(" stroke=\"%1\" stroke-width=\"%2\" stroke-linejoin=\"round\"")
                        .arg(art::kPalette[s.stroke].name(), number(s.strokeWidth));
        text += QStringLiteral(" d=\"%1\"/>\n").arg(pathData(s.path));
    }
    return (text + QStringLiteral("</svg>\n")).toUtf8();
}

bool write(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return QDir().mkpath(QFileInfo(path).path()) && file.open(QIODevice::WriteOnly) &&
           file.write(bytes) == bytes.size();
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QDir dir(QString::fromLocal8Bit(argv[1]));
    const std::vector<Shape> shapes = iconShapes();
    for (int size : kSizes) {
        const QString path = dir.filePath(QStringLiteral("%1x%1/apps/corvane.png").arg(size));
        if (!QDir().mkpath(QFileInfo(path).path()) || !render(shapes, size).save(path))
            return 1;
    }
    return write(dir.filePath(QStringLiteral("scalable/apps/corvane.svg")), svg(shapes)) ? 0 : 1;
}
