// Draws the test window's icon: a wristwatch with its strap, in the 16-colour
// palette, on a transparent background. Writes the 32 by 32 picture to the
// given file and the 16 by 16 one beside it, "16" added to the base name.
//   art_watch <output.png>

#include "gear.h"

#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>

#include <cmath>

namespace {

QImage drawLarge() {
    QImage image(32, 32, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing, false);
    const QPointF centre(15.5, 15.5);

    // The strap, above and below the case, one hole showing at each end.
    p.setPen(QPen(art::kPalette[art::Black], 1));
    p.setBrush(art::kPalette[art::Maroon]);
    p.drawRect(10, 0, 10, 31);
    p.setPen(Qt::NoPen);
    p.setBrush(art::kPalette[art::Olive]);
    p.drawRect(14, 2, 3, 1);
    p.drawRect(14, 28, 3, 1);

    // The crown on the right of the case.
    p.setPen(QPen(art::kPalette[art::Black], 1));
    p.setBrush(art::kPalette[art::Yellow]);
    p.drawRect(27, 14, 2, 3);

    // The case: a yellow rim round a white face.
    const double rim = 11.5;
    const double face = 9.0;
    p.drawEllipse(centre, rim, rim);
    p.setPen(QPen(art::kPalette[art::Olive], 1));
    p.setBrush(art::kPalette[art::White]);
    p.drawEllipse(centre, face, face);

    // Marks at twelve, three, six and nine o'clock.
    p.setPen(QPen(art::kPalette[art::Black], 1));
    for (int mark = 0; mark < 4; ++mark) {
        const double a = mark * M_PI / 2;
        const QPointF dir(std::sin(a), -std::cos(a));
        p.drawLine(centre + dir * (face - 2.5), centre + dir * (face - 0.8));
    }

    // The hands at ten past ten, the second hand in red.
    const auto hand = [&](double hours, double length, art::Colour colour, int width) {
        const double a = hours / 12.0 * 2 * M_PI;
        p.setPen(QPen(art::kPalette[colour], width, Qt::SolidLine, Qt::FlatCap));
        p.drawLine(centre, centre + QPointF(std::sin(a), -std::cos(a)) * length);
    };
    hand(10.2, face * 0.55, art::Black, 2);
    hand(2.0, face * 0.8, art::Black, 2);
    hand(7.0, face * 0.8, art::Red, 1);
    return image;
}

// At 16 pixels drawn shapes lose the hands, so the small size is set pixel
// by pixel.
QImage drawSmall() {
    static const char* const rows[16] = {
        ".....KKKKKK.....", ".....KMMMMK.....", ".....KMOOMK.....", "....KKKKKKKK....",
        "...KYYYYYYYYK...", "..KYYWWWWWWYYK..", "..KYWWWKWWWWYK..", "..KYWWWKWWWWYK..",
        "..KYWWWKKKWWYKK.", "..KYWWRWWWWWYK..", "..KYWRWWWWWWYK..", "..KYYWWWWWWYYK..",
        "...KYYYYYYYYK...", "....KKKKKKKK....", ".....KMOOMK.....", ".....KMMMMK.....",
    };
    const auto colour = [](char c) {
        switch (c) {
            case 'K':
                return art::kPalette[art::Black];
            case 'M':
                return art::kPalette[art::Maroon];
            case 'O':
                return art::kPalette[art::Olive];
            case 'Y':
                return art::kPalette[art::Yellow];
            case 'W':
                return art::kPalette[art::White];
            case 'R':
                return art::kPalette[art::Red];
            default:
                return QColor(Qt::transparent);
        }
    };
    QImage image(16, 16, QImage::Format_ARGB32);
    for (int y = 0; y < 16; ++y) {
        for (int x = 0; x < 16; ++x)
            image.setPixelColor(x, y, colour(rows[y][x]));
    }
    return image;
}

}  // namespace

int main(int argc, char** argv) {
    QGuiApplication app(argc, argv);
    if (argc != 2)
        return 2;
    const QFileInfo large(QString::fromLocal8Bit(argv[1]));
    const QString small =
        large.dir().filePath(large.completeBaseName() + QStringLiteral("16.") + large.suffix());
    return drawLarge().save(large.filePath()) && drawSmall().save(small) ? 0 : 1;
}
