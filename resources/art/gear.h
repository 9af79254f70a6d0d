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

}  // namespace art
