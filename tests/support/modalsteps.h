#pragma once

// Driving a modal dialog in a test: the one way the tests do it.

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <utility>

// The longest wait for a dialog to open or become active on a busy machine:
// reached only when something is wrong.
inline constexpr int kModalPatienceMs = 60000;

// Rejects every modal dialog still open; returns how many there were.
inline int rejectModalsLeftOpen() {
    int left = 0;
    while (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
        dialog->reject();
        ++left;
    }
    return left;
}

// Runs steps in the dialog named name (its object name, or a class it
// inherits such as "QMessageBox") once it is shown and active. Make it before
// the action that opens the dialog; that action returns once the dialog has
// closed, so the steps must close it. A dialog the steps leave open, because
// a check failed or they forgot, is rejected, so that the test ends instead
// of waiting in it. The test fails when the dialog never opened: at once when
// the object goes out of scope, or after kModalPatienceMs in ran().
class ModalSteps : public QObject {
public:
    ModalSteps(const char* name, std::function<void(QWidget*)> steps)
        : m_name(QString::fromLatin1(name)), m_steps(std::move(steps)) {
        qApp->installEventFilter(this);
    }
    ~ModalSteps() override {
        if (!m_ran && !QTest::currentTestFailed())
            QTest::qFail(qPrintable(QStringLiteral("the dialog %1 did not open").arg(m_name)),
                         __FILE__, __LINE__);
    }
    Q_DISABLE_COPY_MOVE(ModalSteps)

    // Waits until the steps have run, for a dialog that opens later.
    bool ran() {
        return QTest::qWaitFor([this] { return m_ran; }, kModalPatienceMs);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Show && watched->isWidgetType() &&
            static_cast<QWidget*>(watched)->isWindow() &&
            (watched->objectName() == m_name || watched->inherits(qPrintable(m_name)))) {
            qApp->removeEventFilter(this);
            QPointer<QWidget> dialog = static_cast<QWidget*>(watched);
            // Once the dialog's own event loop runs.
            QTimer::singleShot(0, this, [this, dialog] { run(dialog); });
        }
        return false;
    }

private:
    void run(const QPointer<QWidget>& dialog) {
        // As a window manager activates a dialog that opens.
        if (dialog)
            dialog->activateWindow();
        const bool active =
            QTest::qWaitFor([&] { return !dialog || dialog->isActiveWindow(); }, kModalPatienceMs);
        if (active && dialog)
            m_steps(dialog);
        else if (!QTest::currentTestFailed())
            QTest::qFail("the dialog did not become active", __FILE__, __LINE__);
        m_ran = true;
        if (dialog && dialog->isVisible()) {
            if (!QTest::currentTestFailed())
                QTest::qFail(qPrintable(QStringLiteral("the steps left %1 open").arg(m_name)),
                             __FILE__, __LINE__);
            if (auto* open = qobject_cast<QDialog*>(dialog.data()))
                open->reject();
            else
                dialog->close();
        }
    }

    QString m_name;
    std::function<void(QWidget*)> m_steps;
    bool m_ran = false;
};
