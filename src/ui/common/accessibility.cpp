#include "accessibility.h"

#include "ui/common/simplecombo.h"

#include <QAbstractItemView>
#include <QAccessible>
#include <QAccessibleWidget>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QTabBar>
#include <QTabWidget>

namespace common {

namespace {

// An empty widget that assistive technology sees as a notification: screen
// readers read a notification when it shows, wherever the focus is.
class StatusNotice : public QWidget {
public:
    explicit StatusNotice(QWidget* window) : QWidget(window) { setObjectName(name()); }

    // The window's notice, made on first use.
    static StatusNotice* of(QWidget* window) {
        static const bool factory = (QAccessible::installFactory(&accessible), true);
        Q_UNUSED(factory);
        auto* notice = dynamic_cast<StatusNotice*>(
            window->findChild<QWidget*>(name(), Qt::FindDirectChildrenOnly));
        return notice ? notice : new StatusNotice(window);
    }

    // Shows the notice anew, telling text, at a point of the window.
    void tell(const QString& text, const QPoint& at) {
        hide();
        setAccessibleName(text);
        setGeometry(QRect(at, QSize()));
        show();
    }

private:
    static QString name() { return QStringLiteral("statusNotice"); }

    static QAccessibleInterface* accessible(const QString&, QObject* object) {
        auto* notice = dynamic_cast<StatusNotice*>(object);
        return notice ? new QAccessibleWidget(notice, QAccessible::Notification) : nullptr;
    }
};

}  // namespace

void nameInnerParts(QWidget* window) {
    const QList<QWidget*> controls = window->findChildren<QWidget*>();
    for (QWidget* control : controls) {
        QWidget* edit = nullptr;
        QWidget* list = nullptr;
        if (auto* simple = qobject_cast<SimpleCombo*>(control)) {
            edit = simple->lineEdit();
            list = simple->listWidget();
        } else if (auto* combo = qobject_cast<QComboBox*>(control)) {
            edit = combo->lineEdit();
            list = combo->view();
        } else if (auto* tabs = qobject_cast<QTabWidget*>(control)) {
            list = tabs->tabBar();
        }
        const QString editName = control->property("editAccessibleName").toString();
        if (edit && !editName.isEmpty())
            edit->setAccessibleName(editName);
        const QString listName = control->property("listAccessibleName").toString();
        if (list && !listName.isEmpty())
            list->setAccessibleName(listName);
    }
}

void announce(QLabel* status) {
    // Setting the text tells of the label's new name, but screen readers
    // pass over name changes of labels that do not have the focus. An alert
    // on the label reaches the platforms that pass alerts on; a notice that
    // shows with the text reaches those that do not.
    QAccessibleEvent alert(status, QAccessible::Alert);
    QAccessible::updateAccessibility(&alert);
    QWidget* window = status->window();
    StatusNotice::of(window)->tell(status->text(), status->mapTo(window, QPoint(0, 0)));
}

}  // namespace common
