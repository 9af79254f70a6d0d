// Loaded into a corvane with LD_PRELOAD. Once start-up has shown the main
// window, writes what the user would see of its icon and context help, and
// which shared objects the process has mapped, to $WINDOW_PROBE_OUTPUT:
//   icon <theme name of the main window's icon, empty for a built-in one>
//   topic <number> <What's This text>      (one line per control with help)
//   button <object name> <text>            (one line per button)
//   mapped <path>                          (one line per shared object)
// With $WINDOW_PROBE_TEST naming a class, it then enters that name, presses
// Test and waits for the test window's outcome, which adds:
//   status <the test window's status text>
//   reason <its tool tip>
//   mapped-after <path>                    (one line per shared object)
// Then it ends the program.

#include <QAbstractButton>
#include <QApplication>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QVariant>
#include <QWidget>

#include <algorithm>

namespace {

QString report;

QWidget* topLevel(const QString& name) {
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() == name && window->isVisible())
            return window;
    }
    return nullptr;
}

// The files of the shared objects mapped into this process now.
void listMapped(const QString& tag) {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return;
    QSet<QString> paths;
    for (const QByteArray& line : maps.readAll().split('\n')) {
        const int slash = line.indexOf('/');
        const QString path = slash < 0 ? QString() : QString::fromUtf8(line.mid(slash));
        if (path.contains(QLatin1String(".so")))
            paths.insert(path);
    }
    QStringList sorted(paths.cbegin(), paths.cend());
    std::sort(sorted.begin(), sorted.end());
    for (const QString& path : sorted)
        report += tag + QLatin1Char(' ') + path + QLatin1Char('\n');
}

void finish(int code) {
    QFile file(qEnvironmentVariable("WINDOW_PROBE_OUTPUT"));
    if (!file.open(QIODevice::WriteOnly) || file.write(report.toUtf8()) < 0)
        code = 3;
    file.close();
    QApplication::exit(code);
}

// Reports the outcome once the test window enables its OK button, which it
// does when the outcome shows.
class OutcomeWatch : public QObject {
public:
    explicit OutcomeWatch(QWidget* test) : QObject(test), m_test(test) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        auto* ok = static_cast<QWidget*>(watched);
        if (event->type() == QEvent::EnabledChange && ok->isEnabled()) {
            auto* status = m_test->findChild<QLabel*>(QStringLiteral("lblStatus"));
            report += QStringLiteral("status ") + status->text() + QLatin1Char('\n');
            report += QStringLiteral("reason ") +
                      QString(status->toolTip()).replace(QLatin1Char('\n'), QLatin1Char(' ')) +
                      QLatin1Char('\n');
            listMapped(QStringLiteral("mapped-after"));
            finish(0);
        }
        return false;
    }

private:
    QWidget* m_test;
};

void runTest(QWidget* main, const QString& className) {
    auto* servers = main->findChild<QWidget*>(QStringLiteral("cboServers"));
    auto* entry = servers ? servers->findChild<QLineEdit*>() : nullptr;
    auto* test = main->findChild<QAbstractButton*>(QStringLiteral("cmdTest"));
    if (!entry || !test)
        return finish(4);
    entry->setText(className);
    test->click();
    QWidget* window = topLevel(QStringLiteral("frmTest"));
    auto* ok = window ? window->findChild<QWidget*>(QStringLiteral("cmdOK")) : nullptr;
    if (!ok)
        return finish(5);
    ok->installEventFilter(new OutcomeWatch(window));
}

void probe() {
    QWidget* main = topLevel(QStringLiteral("frmServerReg"));
    if (!main)
        return finish(2);
    report += QStringLiteral("icon ") + main->windowIcon().name() + QLatin1Char('\n');
    for (const QWidget* control : main->findChildren<QWidget*>()) {
        const QVariant topic = control->property("helpTopic");
        if (topic.isValid())
            report += QStringLiteral("topic %1 %2\n")
                          .arg(topic.toInt())
                          .arg(control->whatsThis().replace(QLatin1Char('\n'), QLatin1Char(' ')));
    }
    for (const QAbstractButton* button : main->findChildren<QAbstractButton*>())
        report += QStringLiteral("button %1 %2\n").arg(button->objectName(), button->text());
    listMapped(QStringLiteral("mapped"));
    const QString className = qEnvironmentVariable("WINDOW_PROBE_TEST");
    if (className.isEmpty())
        return finish(0);
    runTest(main, className);
}

// Runs as the application object is made, before start-up: the queued call
// comes once the event loop runs, after the main window is shown. Programs
// that corvane starts (a server activated by the test) run without the probe.
void queueProbe() {
    qunsetenv("LD_PRELOAD");
    QMetaObject::invokeMethod(qApp, &probe, Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(queueProbe)
