#include "placement.h"

#include "app/placement.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <cmath>

namespace common {

namespace {

// Twips (1440 to the inch) to pixels and back, at 15 twips to a pixel.
int twipsToPixels(double twips) {
    return int(std::lround(twips / app::kTwipsPerPixel));
}

double pixelsToTwips(int pixels) {
    return double(pixels) * app::kTwipsPerPixel;
}

QSizeF screenTwips(const QWidget* window) {
    const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen();
    const QSize size = screen ? screen->geometry().size() : QSize(1024, 768);
    return {pixelsToTwips(size.width()), pixelsToTwips(size.height())};
}

// The outer size of a window, frame included once the window system has
// given it one.
QSizeF windowTwips(const QWidget* window) {
    const QSize size = window->isVisible() ? window->frameGeometry().size() : window->size();
    return {pixelsToTwips(size.width()), pixelsToTwips(size.height())};
}

void moveToTwips(QWidget* window, const QPointF& topLeft) {
    const QRect screen = window->screen() ? window->screen()->geometry() : QRect();
    window->move(screen.topLeft() + QPoint(twipsToPixels(topLeft.x()), twipsToPixels(topLeft.y())));
}

}  // namespace

void CentreForm(QWidget* window) {
    moveToTwips(window, app::centrePosition(screenTwips(window), windowTwips(window)));
}

void PlaceForm(QWidget* window, const QWidget* anchor) {
    QPointF anchorTwips;
    if (anchor) {
        const QPoint corner =
            anchor->pos() - (anchor->screen() ? anchor->screen()->geometry().topLeft() : QPoint());
        anchorTwips = {pixelsToTwips(corner.x()), pixelsToTwips(corner.y())};
    }
    moveToTwips(window, app::placePosition(anchorTwips, windowTwips(window), screenTwips(window)));
}

}  // namespace common
