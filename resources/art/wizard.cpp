// Draws the wizard picture: interlocking gear wheels in red, green, olive,
// purple and teal on a grey ground, 139 by 200 pixels in 256 colours.
//   art_wizard <output.png>

#include "gear.h"

#include <QGuiApplication>
#include <QImage>

namespace {

struct Wheel {
    QPointF centre;
    int teeth;
    double phase;
};

// Teeth of the same size on every wheel: the outer radius grows with the
// number of teeth.
double outerRadius(int teeth) {
    return teeth * 1.79;
}

double pitchRadius(int teeth) {
    return outerRadius(teeth) * 0.89;
}

// The wheel of the given teeth that meshes with `driver`, set at `angle`
// (radians) from it: a tooth of one wheel lies in a gap of the other.
Wheel meshWith(const Wheel& driver, int teeth, double angle) {
    const double distance = pitchRadius(driver.teeth) + pitchRadius(teeth);
    const QPointF centre =
        driver.centre + QPointF(distance * std::cos(angle), distance * std::sin(angle));
    // Where the contact line meets the driver, as a fraction of a tooth step
    // (0.35 is the middle of a tooth, 0.85 the middle of a gap).
    const double driverStep = 2 * M_PI / driver.teeth;
    double offset = std::fmod((angle - driver.phase) / driverStep, 1.0);
    if (offset < 0)
        offset += 1.0;
    // Seen from the other wheel the same point is mirrored about the line.
    const double mirrored = std::fmod(1.2 - offset + 1.0, 1.0);
    const double step = 2 * M_PI / teeth;
    return {centre, teeth, angle + M_PI - mirrored * step};
}

void draw(QPainter& p, const Wheel& wheel, art::Colour face, art::Colour rim) {
    art::drawGear(p, wheel.centre, outerRadius(wheel.teeth), wheel.teeth, wheel.phase, face, rim,
                  art::Grey);
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
    const Wheel red{{46, 48}, 20, 0.0};
    const Wheel green = meshWith(red, 12, M_PI / 6);
    const Wheel olive = meshWith(green, 16, M_PI * 0.62);
    const Wheel purple = meshWith(olive, 10, M_PI * 0.83);
    const Wheel teal = meshWith(purple, 18, M_PI * 0.44);
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
