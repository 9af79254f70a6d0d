// Draws the window icon: a close-up of coloured gear wheels, 32 by 32 pixels,
// in the 16-colour palette, on a transparent background.
//   art_gears <output.png>

#include "gear.h"

#include <QGuiApplication>
#include <QImage>

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    // A large red wheel cut by the edge, meshing with a smaller blue one and a
    // yellow one, as if seen from close by.
    art::drawGear(p, {11, 12}, 12.5, 10, 0.0, art::Red, art::Maroon, art::Black);
    art::drawGear(p, {26, 25}, 8.5, 8, 0.35, art::Blue, art::Navy, art::Black);
    art::drawGear(p, {26, 5}, 6.0, 7, 0.2, art::Yellow, art::Olive, art::Black);
    p.end();
    return image.save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
