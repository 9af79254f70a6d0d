// Draws the wizard picture: interlocking gear wheels in red, green, olive,
// purple and teal on a grey ground, 139 by 200 pixels in 256 colours.
//   art_wizard <output.png>

#include "gear.h"

#include <QGuiApplication>
#include <QImage>

namespace {

void draw(QPainter& p, const art::Wheel& wheel, art::Colour face, art::Colour rim) {
    art::drawGear(p, wheel.centre, art::outerRadius(wheel.teeth), wheel.teeth, wheel.phase, face,
                  rim, art::Grey);
}

// The classic palette first, then a colour cube and a grey ramp: 256 colours.
QList<QRgb> colourTable() {
    QList<QRgb> table;
    for (const QColor& colour : art::kPalette)
        table.append(colour.rgb());
    for (int r = 0; r < 6; ++r)
        for (int g = 0; g < 6; ++g)
            for (int b = 0; b < 6; ++b)
                table.append(qRgb(r * 51, g * 51, b * 51));
    for (int i = 0; i < 24; ++i)
        table.append(qRgb(8 + i * 10, 8 + i * 10, 8 + i * 10));
    return table;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QImage image(139, 200, QImage::Format_RGB32);
    image.fill(art::kPalette[art::Grey]);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // A train of wheels from the top down, kept within the left 126 pixels
    // that the picture box shows; the last wheel runs off the bottom edge.
    const art::Wheel red{{46, 48}, 20, 0.0};
    const art::Wheel green = art::meshWith(red, 12, M_PI / 6);
    const art::Wheel olive = art::meshWith(green, 16, M_PI * 0.62);
    const art::Wheel purple = art::meshWith(olive, 10, M_PI * 0.83);
    const art::Wheel teal = art::meshWith(purple, 18, M_PI * 0.44);
    draw(p, red, art::Red, art::Maroon);
    draw(p, green, art::Green, art::Black);
    draw(p, olive, art::Olive, art::Black);
    draw(p, purple, art::Purple, art::Black);
    draw(p, teal, art::Teal, art::Black);
    p.end();
    const QImage indexed = image.convertToFormat(QImage::Format_Indexed8, colourTable(),
                                                 Qt::ThresholdDither | Qt::AvoidDither);
    return indexed.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
