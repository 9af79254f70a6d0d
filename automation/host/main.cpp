// automation-host: accepts remote activation requests over TCP and activates
// the requested classes on this machine, keeping each object until its client
// releases it or disconnects.

#include "socketactivation.h"

#include <automation/broker.h>
#include <automation/environment.h>
#include <automation/objectfactory.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSysInfo>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTextStream>

#include <csignal>
#include <optional>

namespace {

using namespace automation;

class Host : public Broker {
public:
    using Broker::Broker;

    bool listen(const QHostAddress& address, quint16 port, QString* error) {
        auto* server = new QTcpServer(this);
        if (!server->listen(address, port)) {
            *error = server->errorString();
            delete server;
            return false;
        }
        serve(server);
        return true;
    }

    // A listening socket handed over by the service manager.
    bool adopt(int descriptor, QString* error) {
        auto* server = new QTcpServer(this);
        if (!server->setSocketDescriptor(descriptor)) {
            *error = server->errorString();
            delete server;
            return false;
        }
        serve(server);
        return true;
    }

    QList<QTcpServer*> servers() const { return m_servers; }

protected:
    void activate(const QString& className, QObject* context, Done done) override {
        // Local only: a class registered for remote activation here is
        // refused rather than relayed to a third machine.
        auto* factory = new ObjectFactory(context);
        factory->setLocalOnly(true);
        connect(factory, &ObjectFactory::finished, context,
                [factory, className, done](const CreateResult& result) {
                    factory->deleteLater();
                    if (result.ok()) {
                        done({result.object, result.object->description(), CreateError::None, {}});
                        return;
                    }
                    Activation failed;
                    failed.error = result.error;
                    failed.reason = result.reason;
                    if (result.error == CreateError::NotRegistered) {
                        failed.error = CreateError::HostRefused;
                        failed.reason = QStringLiteral("class %1 is not registered on %2")
                                            .arg(className, QSysInfo::machineHostName());
                    }
                    done(failed);
                });
        factory->create(className);
    }

private:
    void serve(QTcpServer* server) {
        connect(server, &QTcpServer::newConnection, this, [this, server] {
            while (QTcpSocket* socket = server->nextPendingConnection())
                addConnection(socket);
        });
        m_servers.append(server);
    }

    QList<QTcpServer*> m_servers;
};

struct Endpoint {
    QHostAddress address;
    quint16 port = 0;
};

// ADDRESS:PORT, with an IPv6 address in brackets ([::1]:PORT).
std::optional<Endpoint> parseEndpoint(const QString& text) {
    QString host;
    QString port;
    if (text.startsWith(QLatin1Char('['))) {
        const qsizetype close = text.indexOf(QLatin1String("]:"));
        if (close < 0)
            return std::nullopt;
        host = text.mid(1, close - 1);
        port = text.mid(close + 2);
    } else {
        const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
        if (colon < 0 || text.indexOf(QLatin1Char(':')) != colon)
            return std::nullopt;
        host = text.left(colon);
        port = text.mid(colon + 1);
    }
    Endpoint e;
    bool ok = false;
    const uint number = port.toUInt(&ok);
    if (!ok || number > 65535 || !e.address.setAddress(host))
        return std::nullopt;
    e.port = quint16(number);
    return e;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("automation-host"));
    // A client that goes away mid-write must not take the host with it.
    std::signal(SIGPIPE, SIG_IGN);

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Accepts remote activation requests over TCP and activates classes "
                       "registered for local activation on this machine.\n"
                       "Listens on the loopback addresses at port %1 unless told otherwise.")
            .arg(DefaultHostPort));
    parser.addHelpOption();
    const QCommandLineOption listenOption(
        QStringLiteral("listen"),
        QStringLiteral("Listen at ADDRESS:PORT ([ADDRESS]:PORT for IPv6; port 0 picks a free "
                       "one). May be given more than once."),
        QStringLiteral("ADDRESS:PORT"));
    const QCommandLineOption maxOption(QStringLiteral("max-connections"),
                                       QStringLiteral("Connections served at once (default 64)."),
                                       QStringLiteral("N"), QStringLiteral("64"));
    const QCommandLineOption requestOption(
        QStringLiteral("request-timeout"),
        QStringLiteral("Milliseconds a client has to complete a request it started (default "
                       "10000)."),
        QStringLiteral("MS"), QStringLiteral("10000"));
    const QCommandLineOption idleOption(
        QStringLiteral("exit-idle-time"),
        QStringLiteral("When started by socket activation, exit after this many milliseconds "
                       "without a connection (default 60000; 0 never exits)."),
        QStringLiteral("MS"), QStringLiteral("60000"));
    parser.addOption(listenOption);
    parser.addOption(maxOption);
    parser.addOption(requestOption);
    parser.addOption(idleOption);
    parser.process(app);

    QTextStream out(stdout);
    QTextStream err(stderr);
    Broker::Limits limits;
    bool ok = false;
    limits.maxConnections = parser.value(maxOption).toInt(&ok);
    bool requestOk = false;
    limits.requestMs = parser.value(requestOption).toInt(&requestOk);
    bool idleOk = false;
    const int idleMs = parser.value(idleOption).toInt(&idleOk);
    if (!ok || limits.maxConnections < 1 || !requestOk || limits.requestMs < 1 || !idleOk ||
        idleMs < 0) {
        err << "automation-host: --max-connections and --request-timeout take positive numbers, "
               "--exit-idle-time a number from 0"
            << Qt::endl;
        return 2;
    }

    QList<Endpoint> endpoints;
    for (const QString& text : parser.values(listenOption)) {
        const auto endpoint = parseEndpoint(text);
        if (!endpoint) {
            err << "automation-host: --listen " << text
                << ": expected ADDRESS:PORT or [IPv6-ADDRESS]:PORT" << Qt::endl;
            return 2;
        }
        endpoints.append(*endpoint);
    }
    QList<int> passed;
    QString passError;
    if (!passedListeningSockets(&passed, &passError)) {
        err << "automation-host: " << passError << Qt::endl;
        return 1;
    }
    const bool defaults = endpoints.isEmpty() && passed.isEmpty();
    if (defaults)
        endpoints = {{QHostAddress(QHostAddress::LocalHost), DefaultHostPort},
                     {QHostAddress(QHostAddress::LocalHostIPv6), DefaultHostPort}};

    Host host(limits);
    for (int descriptor : passed) {
        QString error;
        if (!host.adopt(descriptor, &error)) {
            err << "automation-host: cannot take socket " << descriptor << ": " << error
                << Qt::endl;
            return 1;
        }
    }
    for (const Endpoint& e : endpoints) {
        QString error;
        if (host.listen(e.address, e.port, &error))
            continue;
        // A machine without IPv6 loopback still serves on 127.0.0.1.
        if (defaults && e.address.protocol() == QAbstractSocket::IPv6Protocol)
            continue;
        err << "automation-host: cannot listen at " << e.address.toString() << " port " << e.port
            << ": " << error << Qt::endl;
        return 1;
    }
    for (const QTcpServer* server : host.servers()) {
        const QHostAddress a = server->serverAddress();
        const QString shown = a.protocol() == QAbstractSocket::IPv6Protocol
                                  ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                                  : a.toString();
        out << "automation-host listening on " << shown << ':' << server->serverPort() << Qt::endl;
    }
    if (!passed.isEmpty())
        exitWhenIdle(&host, passed, idleMs);
    return QCoreApplication::exec();
}
