#include "tabcontrol.h"

#include <QVariant>

namespace common {

namespace {
constexpr char kDesignGeometry[] = "designGeometry";
}

TabControl::TabControl(QWidget* parent) : QTabWidget(parent) {}

QRect TabControl::designGeometry(const QWidget* control) {
    const QVariant design = control->property(kDesignGeometry);
    return design.isValid() ? design.toRect() : control->geometry();
}

void TabControl::showEvent(QShowEvent* event) {
    QTabWidget::showEvent(event);
    placeControls();
}

void TabControl::resizeEvent(QResizeEvent* event) {
    QTabWidget::resizeEvent(event);
    placeControls();
}

void TabControl::placeControls() {
    for (int i = 0; i < count(); ++i) {
        QWidget* page = widget(i);
        // Every page sits at the same offset inside the tab control; a page
        // that has not been shown yet takes that of the current one.
        const QWidget* shown = currentWidget() ? currentWidget() : page;
        const QPoint offset = shown->mapTo(this, QPoint(0, 0));
        const QList<QWidget*> controls =
            page->findChildren<QWidget*>(QString(), Qt::FindDirectChildrenOnly);
        for (QWidget* control : controls) {
            if (!control->property(kDesignGeometry).isValid())
                control->setProperty(kDesignGeometry, control->geometry());
            control->setGeometry(designGeometry(control).translated(-offset));
        }
    }
}

}  // namespace common
