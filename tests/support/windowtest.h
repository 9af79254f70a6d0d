#pragma once

// Finding and measuring the controls of a window in tests.

#include <QListWidget>
#include <QRect>
#include <QTest>
#include <QWidget>

#include <cmath>

// The control with that object name; ends the test run when there is none,
// since every later check would be meaningless.
template <typename T = QWidget>
T* control(QWidget* window, const char* name) {
    T* found = window->findChild<T*>(QString::fromLatin1(name));
    if (!found)
        qFatal("no control %s", name);
    return found;
}

// A layout rectangle in twips as pixels, at 15 twips to a pixel.
inline QRect twips(int left, int top, int width, int height) {
    const auto px = [](int t) { return int(std::lround(t / 15.0)); };
    return QRect(px(left), px(top), px(width), px(height));
}

// Where widget lies in container's coordinates.
inline QRect rectIn(QWidget* container, QWidget* widget) {
    return QRect(widget->mapTo(container, QPoint(0, 0)), widget->size());
}

// Clicks the entry at row of a list, as the mouse would.
inline void clickEntry(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}
