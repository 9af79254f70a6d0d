#pragma once

// Finding, measuring and reading the controls of a window in tests.

#include "app/messages.h"
#include "modalsteps.h"
#include "ui/common/messageboxes.h"

#include <QApplication>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRect>
#include <QTest>
#include <QTextDocument>
#include <QWidget>

#include <cmath>
#include <functional>

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

// A control's place in a layout: its rectangle in twips-converted pixels
// within the named container, the window itself when none is named.
struct Placement {
    const char* name;
    const char* in;
    QRect rect;
};

// The controls of window that are not where the layout puts them, one line
// each: empty when all are.
inline QStringList misplaced(QWidget* window, const QList<Placement>& layout) {
    const auto text = [](const QRect& r) {
        return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
    };
    QStringList wrong;
    for (const Placement& placement : layout) {
        QWidget* container = placement.in ? control(window, placement.in) : window;
        const QRect at = rectIn(container, control(window, placement.name));
        if (at != placement.rect)
            wrong << QStringLiteral("%1 at %2, laid out at %3")
                         .arg(QLatin1String(placement.name), text(at), text(placement.rect));
    }
    return wrong;
}

// Clicks the entry at row of a list, as the mouse would.
inline void clickEntry(QListWidget* list, int row) {
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {},
                      list->visualItemRect(list->item(row)).center());
}

// Whether the label draws its text exactly as it would with markup switched
// off: a name such as "my <b>host</b>" shows its tags, not bold type.
inline bool drawsLiterally(QLabel* label) {
    const QImage shown = label->grab().toImage();
    const Qt::TextFormat format = label->textFormat();
    label->setTextFormat(Qt::PlainText);
    const QImage plain = label->grab().toImage();
    label->setTextFormat(format);
    return shown == plain;
}

// The text a tool tip shows: Qt takes a tip that looks like markup for markup.
inline QString toolTipAsShown(const QString& tip) {
    if (!Qt::mightBeRichText(tip))
        return tip;
    QTextDocument document;
    document.setHtml(tip);
    return document.toPlainText();
}

// A message box as the user saw it.
struct ShownMessageBox {
    QString text;
    bool literal = false;  // its text drawn as typed
};

// Runs action with message boxes shown for real and reads the box it opens,
// which is then answered with the given button. The presenter in place
// before (a test's recorder) comes back afterwards.
inline ShownMessageBox messageBoxShownBy(const std::function<void()>& action,
                                         QMessageBox::StandardButton answer) {
    const app::MessagePresenter previous = app::setMessagePresenter(nullptr);
    common::installMessageBoxes();
    ShownMessageBox shown;
    {
        ModalSteps box("QMessageBox", [&](QWidget* dialog) {
            auto* message = static_cast<QMessageBox*>(dialog);
            if (auto* label = message->findChild<QLabel*>(QStringLiteral("qt_msgbox_label"))) {
                shown.text = label->text();
                shown.literal = drawsLiterally(label);
            }
            if (QAbstractButton* button = message->button(answer))
                button->click();
        });
        action();
    }
    app::setMessagePresenter(previous);
    return shown;
}
