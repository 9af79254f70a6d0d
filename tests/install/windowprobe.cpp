// Loaded into an installed corvane with LD_PRELOAD. Once start-up has shown
// the main window, writes what the user would see of its icon and context
// help to $WINDOW_PROBE_OUTPUT and ends the program:
//   icon <theme name of the main window's icon, empty for a built-in one>
//   topic <number> <What's This text>      (one line per control with help)

#include <QApplication>
#include <QFile>
#include <QTextStream>
#include <QVariant>
#include <QWidget>

namespace {

void report() {
    QFile file(qEnvironmentVariable("WINDOW_PROBE_OUTPUT"));
    if (!file.open(QIODevice::WriteOnly))
        return QApplication::exit(3);
    QTextStream out(&file);
    for (QWidget* window : QApplication::topLevelWidgets()) {
        if (window->objectName() != QLatin1String("frmServerReg") || !window->isVisible())
            continue;
        out << "icon " << window->windowIcon().name() << '\n';
        for (const QWidget* control : window->findChildren<QWidget*>()) {
            const QVariant topic = control->property("helpTopic");
            if (topic.isValid())
                out << "topic " << topic.toInt() << ' '
                    << control->whatsThis().replace(QLatin1Char('\n'), QLatin1Char(' ')) << '\n';
        }
    }
    out.flush();
    QApplication::exit(0);
}

// Runs as the application object is made, before start-up: the queued call
// comes once the event loop runs, after the main window is shown.
void queueReport() {
    QMetaObject::invokeMethod(qApp, &report, Qt::QueuedConnection);
}

}  // namespace

Q_COREAPP_STARTUP_FUNCTION(queueReport)
