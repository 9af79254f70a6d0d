#pragma once

// Finding, measuring and reading the controls of a window in tests.

#include "app/messages.h"
#include "modalsteps.h"
#include "ui/common/messageboxes.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QRect>
#include <QStyleOptionButton>
#include <QStyleOptionComboBox>
#include <QTabBar>
#include <QTabWidget>
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

// A caption as drawn: one ampersand marks the access key and is not shown.
inline QString shownText(const QString& caption) {
    QString text = caption;
    return text.replace(QStringLiteral("&&"), QStringLiteral("\x01"))
        .remove(QLatin1Char('&'))
        .replace(QLatin1Char('\x01'), QLatin1Char('&'));
}

// The texts of the window's visible labels, buttons, check boxes, frame
// titles, tabs and fixed choices that do not fit the room their control
// gives them.
inline QStringList cutOffTexts(QWidget* window) {
    QStringList cut;
    const auto tooWide = [&](QWidget* widget, const QString& text, const QRect& room) {
        const QFontMetrics metrics(widget->font());
        if (metrics.horizontalAdvance(text) > room.width() || metrics.height() > room.height())
            cut << QStringLiteral("%1: \"%2\" needs %3x%4, has %5x%6")
                       .arg(widget->objectName(), text)
                       .arg(metrics.horizontalAdvance(text))
                       .arg(metrics.height())
                       .arg(room.width())
                       .arg(room.height());
    };
    const QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (!widget->isVisible())
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget)) {
            const QString text = shownText(label->text());
            if (text.isEmpty())
                continue;
            if (label->wordWrap()) {
                if (label->heightForWidth(label->width()) > label->height())
                    cut << widget->objectName() + QStringLiteral(": ") + text;
                continue;
            }
            // A text that is several lines needs their height, and the
            // longest line's width.
            const QFontMetrics metrics(label->font());
            const QRect needed = metrics.boundingRect(QRect(), Qt::TextExpandTabs, text);
            const QRect room = label->contentsRect();
            if (text.contains(QLatin1Char('\n'))) {
                if (needed.width() > room.width() || needed.height() > room.height())
                    cut << widget->objectName() + QStringLiteral(": ") + text;
            } else {
                tooWide(widget, text, room);
            }
        } else if (auto* button = qobject_cast<QAbstractButton*>(widget)) {
            const QString text = shownText(button->text());
            if (text.isEmpty())
                continue;
            QStyleOptionButton option;
            option.initFrom(button);
            option.text = button->text();
            const bool check = qobject_cast<QCheckBox*>(button);
            tooWide(widget, text,
                    button->style()->subElementRect(
                        check ? QStyle::SE_CheckBoxContents : QStyle::SE_PushButtonContents,
                        &option, button));
        } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
            if (group->title().isEmpty())
                continue;
            QStyleOptionGroupBox option;
            option.initFrom(group);
            option.text = group->title();
            option.subControls = QStyle::SC_GroupBoxLabel;
            const QRect label = group->style()->subControlRect(QStyle::CC_GroupBox, &option,
                                                               QStyle::SC_GroupBoxLabel, group);
            // The title is drawn within the frame's width, less its corners.
            const QRect room(label.topLeft(),
                             QSize(group->width() - 2 * label.left(), label.height()));
            tooWide(widget, shownText(group->title()), room);
        } else if (auto* tabs = qobject_cast<QTabWidget*>(widget)) {
            // Tabs that do not fit are shortened or scrolled.
            const QTabBar* bar = tabs->tabBar();
            for (int i = 0; i < tabs->count(); ++i) {
                const QRect tab = bar->tabRect(i);
                const int needed =
                    QFontMetrics(bar->font()).horizontalAdvance(shownText(tabs->tabText(i)));
                if (tab.right() >= tabs->width() || tab.width() < needed)
                    cut << QStringLiteral("%1: tab \"%2\"")
                               .arg(tabs->objectName(), tabs->tabText(i));
            }
        } else if (auto* combo = qobject_cast<QComboBox*>(widget); combo && !combo->isEditable()) {
            QStyleOptionComboBox option;
            option.initFrom(combo);
            const QRect field = combo->style()->subControlRect(QStyle::CC_ComboBox, &option,
                                                               QStyle::SC_ComboBoxEditField, combo);
            for (int i = 0; i < combo->count(); ++i)
                tooWide(widget, combo->itemText(i), field);
        }
    }
    return cut;
}
