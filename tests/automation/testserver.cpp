// A server that fails or misbehaves on purpose, for the failure cases of
// activation. AUTOMATION_TEST_SERVER_MODE with -Embedding:
//   mute      stays alive without ever listening
//   exit      exits at once
//   stall     takes the serving lock, prints "locked" and never listens
//   impostor  listens at AUTOMATION_TEST_SERVER_SOCKET and hands anyone an
//             object, checking no one (what a server of another user might do)
//   hold      serves, but makes each Test.Object only once the file "go"
//             exists in AUTOMATION_TEST_SERVER_DIR, after writing its process
//             id to the file "asked" there
// Test.Calls objects take and give lists and maps, and can hang.

#include <automation/environment.h>
#include <automation/serverkit.h>
#include <automation/wire.h>

#include <QCoreApplication>
#include <QFile>
#include <QLocalServer>
#include <QLocalSocket>
#include <QTextStream>
#include <QThread>

#include <cstdlib>

namespace {

class Plain : public automation::ServedObject {
public:
    QString description() const override {
        return QStringLiteral("Test.Object, process %1").arg(QCoreApplication::applicationPid());
    }
};

class Calls : public automation::ServedObject {
    Q_OBJECT
public:
    QString description() const override {
        return QStringLiteral("Test.Calls, process %1").arg(QCoreApplication::applicationPid());
    }
    Q_INVOKABLE QVariantList Reverse(const QVariantList& items) const {
        return QVariantList(items.crbegin(), items.crend());
    }
    Q_INVOKABLE QVariantMap Merge(const QVariantMap& a, const QVariantMap& b) const {
        QVariantMap merged = a;
        merged.insert(b);
        return merged;
    }
    Q_INVOKABLE QStringList Split(const QString& text) const {
        return text.split(QLatin1Char(' '));
    }
    Q_INVOKABLE double Half(qlonglong n) const { return double(n) / 2; }
    // Never answers: the server is stuck in it.
    Q_INVOKABLE void Hang() {
        for (;;)
            QThread::sleep(1);
    }
    // Left out of the interface: no D-Bus type for a QObject pointer.
    Q_INVOKABLE void Take(QObject*) {}
};

std::unique_ptr<automation::ServedObject> makeObject() {
    if (qgetenv("AUTOMATION_TEST_SERVER_MODE") == "hold") {
        const QString dir = qEnvironmentVariable("AUTOMATION_TEST_SERVER_DIR");
        QFile asked(dir + QStringLiteral("/asked"));
        if (asked.open(QIODevice::WriteOnly))
            asked.write(QByteArray::number(QCoreApplication::applicationPid()));
        asked.close();
        while (!QFile::exists(dir + QStringLiteral("/go")))
            QThread::msleep(10);
    }
    return std::make_unique<Plain>();
}

int impostor(const QString& path) {
    QLocalServer server;
    QLocalServer::removeServer(path);
    server.setSocketOptions(QLocalServer::WorldAccessOption);
    if (!server.listen(path))
        return 1;
    QObject::connect(&server, &QLocalServer::newConnection, &server, [&server] {
        while (QLocalSocket* socket = server.nextPendingConnection()) {
            QObject::connect(socket, &QLocalSocket::readyRead, socket, [socket] {
                socket->readAll();
                automation::wire::Message m;
                m.type = automation::wire::Type::Created;
                m.objectId = 1;
                m.text = QStringLiteral("an object from an impostor");
                socket->write(automation::wire::encode(m));
            });
        }
    });
    QTextStream(stdout) << "listening" << Qt::endl;
    return QCoreApplication::exec();
}

}  // namespace

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
        if (mode == "impostor")
            return impostor(qEnvironmentVariable("AUTOMATION_TEST_SERVER_SOCKET"));
        if (mode == "stall") {
            QString path;
            automation::ServerLock lock;
            bool busy = false;
            if (!automation::serverSocketPath(QCoreApplication::applicationFilePath(), &path)
                     .ok() ||
                !lock.acquire(path, &busy).ok())
                return 1;
            QTextStream(stdout) << "locked" << Qt::endl;
            return QCoreApplication::exec();
        }
    }
    return automation::runServer(
        {{QStringLiteral("Test.Crash"), QString(),
          []() -> std::unique_ptr<automation::ServedObject> { std::abort(); }},
         {QStringLiteral("Test.Object"), QString(), makeObject},
         {QStringLiteral("Test.Calls"), QString(), [] { return std::make_unique<Calls>(); }}});
}

#include "testserver.moc"
