#pragma once

// Drawing helpers shared by the artwork programs: gear wheels in the
// 16-colour palette, drawn without antialiasing so that the images keep to
// the palette exactly.

#include <QColor>
#include <QPainter>
#include <QPainterPath>
#include <QPointF>

#include <array>
#include <cmath>

namespace art {

// The classic 16-colour palette.
inline const std::array<QColor, 16> kPalette = {
    QColor(0, 0, 0),       QColor(128, 0, 0),   QColor(0, 128, 0),   QColor(128, 128, 0),
    QColor(0, 0, 128),     QColor(128, 0, 128), QColor(0, 128, 128), QColor(192, 192, 192),
    QColor(128, 128, 128), QColor(255, 0, 0),   QColor(0, 255, 0),   QColor(255, 255, 0),
    QColor(0, 0, 255),     QColor(255, 0, 255), QColor(0, 255, 255), QColor(255, 255, 255),
};
enum Colour {
    Black,
    Maroon,
    Green,
    Olive,
    Navy,
    Purple,
    Teal,
    Silver,
    Grey,
    Red,
    Lime,
    Yellow,
    Blue,
    Fuchsia,
    Aqua,
    White
};

// A gear wheel as a closed outline: teeth of the given count between the
// root radius and the outer radius, turned by phase (radians).
inline QPainterPath gearOutline(QPointF centre, double outer, double root, int teeth,
                                double phase) {
    QPainterPath path;
    const double step = 2 * M_PI / teeth;
    for (int i = 0; i < teeth; ++i) {
        const double a = phase + i * step;
        // Each tooth: rise, top, fall, valley, a quarter step each.
        const double angles[4] = {a, a + step * 0.2, a + step * 0.5, a + step * 0.7};
        const double radii[4] = {root, outer, outer, root};
        for (int k = 0; k < 4; ++k) {
            const QPointF p(centre.x() + radii[k] * std::cos(angles[k]),
                            centre.y() + radii[k] * std::sin(angles[k]));
            if (i == 0 && k == 0)
                path.moveTo(p);
            else
                path.lineTo(p);
        }
    }
    path.closeSubpath();
    return path;
}

// A gear with a dark rim, a lighter face and a hub hole.
inline void drawGear(QPainter& p, QPointF centre, double outer, int teeth, double phase,
                     Colour face, Colour rim, Colour hole) {
    const double root = outer * 0.78;
    p.setPen(QPen(kPalette[rim], 1));
    p.setBrush(kPalette[face]);
    p.drawPath(gearOutline(centre, outer, root, teeth, phase));
    p.setBrush(kPalette[rim]);
    p.drawEllipse(centre, outer * 0.38, outer * 0.38);
    p.setBrush(kPalette[hole]);
    p.setPen(Qt::NoPen);
    p.drawEllipse(centre, outer * 0.18, outer * 0.18);
}

struct Wheel {
    QPointF centre;
    int teeth;
    double phase;
};

// Teeth of the same size on every wheel: the outer radius grows with the
// number of teeth.
inline double outerRadius(int teeth) {
    return teeth * 1.79;
}

inline double pitchRadius(int teeth) {
    return outerRadius(teeth) * 0.89;
}

// The wheel of the given teeth that meshes with `driver`, set at `angle`
// (radians) from it: a tooth of one wheel lies in a gap of the other.
inline Wheel meshWith(const Wheel& driver, int teeth, double angle) {
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

}  // namespace art
