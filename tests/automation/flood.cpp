// Holds TCP connections to a port, as a greedy peer would:
//   automation-test-flood PORT COUNT [--to ADDRESS] [--create CLASS] [SOURCE-ADDRESS...]
// Connects COUNT times to ADDRESS (127.0.0.1 unless given) from each source
// address in turn, with --create sends a plain Create for CLASS on each,
// prints "done" once every attempt has ended, and keeps what stays open
// until its standard input closes.

#include <automation/wire.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QSocketNotifier>
#include <QTcpSocket>
#include <QTextStream>

#include <unistd.h>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.size() < 2)
        return 2;
    const quint16 port = quint16(args.takeFirst().toUInt());
    const int count = args.takeFirst().toInt();
    QHostAddress target(QHostAddress::LocalHost);
    if (args.size() >= 2 && args.first() == QLatin1String("--to")) {
        args.removeFirst();
        target = QHostAddress(args.takeFirst());
    }
    QByteArray create;
    if (args.size() >= 2 && args.first() == QLatin1String("--create")) {
        args.removeFirst();
        automation::wire::Message m;
        m.type = automation::wire::Type::Create;
        m.className = args.takeFirst();
        create = automation::wire::encode(m);
    }
    if (args.isEmpty())
        args << QStringLiteral("127.0.0.1");
    for (int i = 0; i < count; ++i) {
        auto* socket = new QTcpSocket(&app);
        socket->bind(QHostAddress(args.at(i % args.size())), 0);
        socket->connectToHost(target, port);
        if (socket->waitForConnected(5000) && !create.isEmpty()) {
            socket->write(create);
            socket->flush();
        }
    }
    QTextStream(stdout) << "done" << Qt::endl;
    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char byte;
        if (::read(STDIN_FILENO, &byte, 1) <= 0)
            app.quit();
    });
    return app.exec();
}
