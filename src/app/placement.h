#pragma once

#include <QPointF>
#include <QSizeF>

// Window placement, in twips (1440 to the inch, 15 to a pixel at 96 dpi).
namespace app {

inline constexpr int kTwipsPerPixel = 15;

// Top-left corner that centres a window on the screen. Not rounded: a window
// larger than the screen gets a negative position.
QPointF centrePosition(const QSizeF& screen, const QSizeF& window);

// Top-left corner for a dialog shown over the main window: 400 twips right of
// and 800 twips below the main window's corner, pulled back so that the right
// and bottom edges stay on the screen. Rounded to whole twips.
QPointF placePosition(const QPointF& mainWindow, const QSizeF& window, const QSizeF& screen);

}  // namespace app
