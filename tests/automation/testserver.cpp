// A server that fails on purpose, for the failure cases of activation.

#include <automation/serverkit.h>

#include <QCoreApplication>
#include <QThread>

#include <cstdlib>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (QCoreApplication::arguments().contains(QStringLiteral("-Embedding"))) {
        const QByteArray mode = qgetenv("AUTOMATION_TEST_SERVER_MODE");
        if (mode == "mute") {
            QThread::sleep(3);  // alive, but never listening
            return 0;
        }
        if (mode == "exit")
            return 3;
    }
    return automation::runServer(
        {{QStringLiteral("Test.Crash"), QString(),
          []() -> std::unique_ptr<automation::ServedObject> { std::abort(); }}});
}
