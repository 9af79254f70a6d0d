#include "framing.h"

#include "ui/common/accessibility.h"

#include <QApplication>
#include <QColor>
#include <QEvent>
#include <QHash>
#include <QIcon>
#include <QImageReader>
#include <QLabel>
#include <QLayout>
#include <QPalette>

#include <cmath>

namespace common {

namespace {

// Relative luminance and contrast ratio as accessibility guidelines define
// them; 4.5 is what ordinary text needs to read well.
double luminance(const QColor& colour) {
    const auto linear = [](double c) {
        return c <= 0.03928 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * linear(colour.redF()) + 0.7152 * linear(colour.greenF()) +
           0.0722 * linear(colour.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a);
    const double lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

constexpr double kReadableContrast = 4.5;
constexpr int kAzureHue = 210;

// Keeps a label in the layout blue across palette changes.
class LayoutBlueKeeper : public QObject {
public:
    using QObject::QObject;

    static void apply(QLabel* label) {
        const QWidget* parent = label->parentWidget();
        const QColor blue = layoutBlue(parent ? parent->palette() : QApplication::palette(label));
        // Setting the colour changes the palette once more: stop there.
        if (label->testAttribute(Qt::WA_SetPalette) &&
            label->palette().color(QPalette::WindowText) == blue)
            return;
        QPalette palette;
        palette.setColor(QPalette::WindowText, blue);
        label->setPalette(palette);
    }

protected:
    // A new application palette reaches the label as a change of the
    // palette it inherits from its window.
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::PaletteChange)
            apply(static_cast<QLabel*>(watched));
        return false;
    }
};

}  // namespace

void setupLayoutWindow(QWidget* window, Qt::WindowFlags titleButtons, const QString& icon) {
    window->setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                           titleButtons);
    window->setAttribute(Qt::WA_DeleteOnClose);
    if (!icon.isEmpty())
        window->setWindowIcon(pngIcon(icon));
    window->setFixedSize(window->size());
    setLayoutFont(window, kLayoutFamily, kLayoutPointSize);
    nameInnerParts(window);
    const QList<QLabel*> labels = window->findChildren<QLabel*>();
    for (QLabel* label : labels) {
        if (label->property("layoutBlue").toBool()) {
            LayoutBlueKeeper::apply(label);
            label->installEventFilter(new LayoutBlueKeeper(label));
        }
    }
}

void fitHeightToContents(QWidget* window) {
    QLayout* layout = window->layout();
    if (!layout)
        return;
    layout->activate();
    const int width = window->width();
    const int height = layout->hasHeightForWidth() ? layout->totalHeightForWidth(width)
                                                   : layout->totalSizeHint().height();
    window->setFixedSize(width, height);
}

QFont layoutFont(const QString& family, double pointSize, bool bold) {
    QFont font(family);
    font.setPointSizeF(pointSize);
    font.setBold(bold);
    return font;
}

void setLayoutFont(QWidget* widget, const QString& family, double pointSize, bool bold) {
    widget->setFont(layoutFont(family, pointSize, bold));
}

void useLayoutFontThroughout() {
    QList<QFont> desktopFonts;
    for (const char* className : kDesktopFontClasses)
        desktopFonts.append(QApplication::font(className));
    // The application font first: setting it forgets every class's own.
    QApplication::setFont(layoutFont());
    for (qsizetype i = 0; i < desktopFonts.size(); ++i)
        QApplication::setFont(desktopFonts.at(i), kDesktopFontClasses[i]);
}

QPixmap readPng(const QString& path) {
    QImageReader reader(path, "png");
    reader.setAutoDetectImageFormat(false);
    return QPixmap::fromImage(reader.read());
}

QIcon pngIcon(const QString& path) {
    static QHash<QString, QIcon> icons;
    auto found = icons.constFind(path);
    if (found == icons.constEnd())
        found = icons.insert(path, QIcon(readPng(path)));
    return *found;
}

bool isDarkScheme(const QPalette& palette) {
    return palette.color(QPalette::Window).lightnessF() <
           palette.color(QPalette::WindowText).lightnessF();
}

QColor layoutBlue(const QPalette& palette) {
    if (!isDarkScheme(palette))
        return QColor(0, 0, 255);
    // Pure blue is all but invisible on a dark window, and lightened it turns
    // lavender: an azure keeps its colour as it lightens. It must read well
    // on the window and on the panes that styles draw a shade lighter than
    // the buttons (a tab page).
    const QColor window = palette.color(QPalette::Window);
    const QColor pane = palette.color(QPalette::Button).lighter(130);
    const QColor surface = luminance(pane) > luminance(window) ? pane : window;
    QColor azure;
    for (int lightness = 128; lightness <= 255; ++lightness) {
        azure = QColor::fromHsl(kAzureHue, 255, lightness);
        if (contrast(azure, surface) >= kReadableContrast)
            break;
    }
    return azure;
}

}  // namespace common
