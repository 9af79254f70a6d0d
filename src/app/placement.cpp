#include "placement.h"

#include <cmath>

namespace app {

QPointF centrePosition(const QSizeF& screen, const QSizeF& window) {
    return {(screen.width() - window.width()) / 2.0, (screen.height() - window.height()) / 2.0};
}

QPointF placePosition(const QPointF& mainWindow, const QSizeF& window, const QSizeF& screen) {
    double x = mainWindow.x() + 400;
    if (x + window.width() > screen.width())
        x = screen.width() - window.width();
    double y = mainWindow.y() + 800;
    if (y + window.height() > screen.height())
        y = screen.height() - window.height();
    return {std::round(x), std::round(y)};
}

}  // namespace app
