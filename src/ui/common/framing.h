#pragma once

#include <QString>
#include <Qt>

class QColor;
class QFont;
class QIcon;
class QPalette;
class QPixmap;
class QWidget;

// How the windows are framed as their layouts have them: title-bar buttons,
// fixed size, icon, the layout font and the layout blue.
namespace common {

// Title-bar buttons of the main window and the properties dialog.
inline constexpr Qt::WindowFlags kCloseAndHelpButtons =
    Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowContextHelpButtonHint;

// Frames a window as the layouts have them: a dialog window of fixed size
// with only the given title-bar buttons, the icon (none when empty), the
// layout font Arial 8.25, deleted when it closes. The inner parts of its
// composite controls get their accessible names (nameInnerParts), and the
// labels whose "layoutBlue" property is true are drawn in the layout blue,
// kept so when the application's palette changes.
void setupLayoutWindow(QWidget* window, Qt::WindowFlags titleButtons,
                       const QString& icon = QString());

// Keeps a window that a layout arranges at its width, and gives it the
// height its contents need at that width: wrapped texts take the lines they
// need, in any language and at any scale. Called again when a text changes.
void fitHeightToContents(QWidget* window);

// The layout font of the windows.
inline const QString kLayoutFamily = QStringLiteral("Arial");
inline constexpr double kLayoutPointSize = 8.25;

// A font in the way the layouts give them: a family and a point size such as
// 8.25.
QFont layoutFont(const QString& family = kLayoutFamily, double pointSize = kLayoutPointSize,
                 bool bold = false);

// What Qt shows on the program's behalf, which keeps the desktop's font:
// message boxes, the file dialog, tool tips and What's This help.
inline constexpr const char* kDesktopFontClasses[] = {"QMessageBox", "QFileDialog", "QTipLabel",
                                                      "QWhatsThat"};

// Makes the layout font the application's, for every widget made from now on
// but those of kDesktopFontClasses. Called before the first widget exists, it
// spares each window laying its controls out in another font first.
void useLayoutFontThroughout();

// Gives a widget a layout font.
void setLayoutFont(QWidget* widget, const QString& family, double pointSize, bool bold = false);

// An image of the resources read as PNG, without asking every image plugin
// first what the file is (which loads them all, and their libraries).
QPixmap readPng(const QString& path);
// An icon of one such image, read once per path.
QIcon pngIcon(const QString& path);

// A dark colour scheme: the window is darker than the text on it.
bool isDarkScheme(const QPalette& palette);

// The blue of the layouts' highlighted texts on a window of this palette:
// RGB(0, 0, 255) exactly in a light scheme; in a dark one a light azure, as
// light as it must be to read as well as ordinary text should.
QColor layoutBlue(const QPalette& palette);

}  // namespace common
