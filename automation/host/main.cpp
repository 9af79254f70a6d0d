// automation-host: accepts remote activation requests over TCP and activates
// the requested classes on this machine, keeping each object until its client
// releases it or disconnects.

#include "host.h"
#include "socketactivation.h"

#include <automation/environment.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QHostAddress>
#include <QSysInfo>
#include <QTcpServer>
#include <QTextStream>

#include <unistd.h>
#include <csignal>
#include <optional>

namespace {

using namespace automation;

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

    QTextStream out(stdout);
    QTextStream err(stderr);
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Accepts remote activation requests and activates classes registered for local "
            "activation on this machine, as the user it runs as.\n"
            "Clients are served over TLS 1.3 when they present an identity listed in "
            "authorized_clients (automationctl authorize), or this user's own.\n"
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
    const QCommandLineOption perPeerOption(
        QStringLiteral("max-per-peer"),
        QStringLiteral("Connections one client may hold: per identity once authenticated, per "
                       "address before (default 16)."),
        QStringLiteral("N"), QStringLiteral("16"));
    const QCommandLineOption requestOption(
        QStringLiteral("request-timeout"),
        QStringLiteral("Milliseconds a client has to complete a request it started (default "
                       "10000)."),
        QStringLiteral("MS"), QStringLiteral("10000"));
    const QCommandLineOption handshakeOption(
        QStringLiteral("handshake-timeout"),
        QStringLiteral("Milliseconds a client has from connecting to being authenticated "
                       "(default 5000)."),
        QStringLiteral("MS"), QStringLiteral("5000"));
    const QCommandLineOption idleOption(
        QStringLiteral("exit-idle-time"),
        QStringLiteral("When started by socket activation, exit after this many milliseconds "
                       "without a connection (default 60000; 0 never exits)."),
        QStringLiteral("MS"), QStringLiteral("60000"));
    const QCommandLineOption anonymousOption(
        QStringLiteral("allow-anonymous"),
        QStringLiteral("Also serve requests without authentication (level 1, No "
                       "Authentication) from anyone who can reach the host. Off by default."));
    parser.addOptions({listenOption, maxOption, perPeerOption, requestOption, handshakeOption,
                       idleOption, anonymousOption});
    parser.process(app);
    // The host starts servers as the user it runs as; as root that would be
    // any registered program with every right.
    if (::geteuid() == 0) {
        err << "automation-host: refusing to run as root; run it as the user whose classes it "
               "serves"
            << Qt::endl;
        return 1;
    }

    HostOptions options;
    options.allowAnonymous = parser.isSet(anonymousOption);
    const auto number = [&](const QCommandLineOption& option, int* value) {
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        return ok && *value > 0;
    };
    bool idleOk = false;
    const int idleMs = parser.value(idleOption).toInt(&idleOk);
    if (!number(maxOption, &options.limits.maxConnections) ||
        !number(perPeerOption, &options.limits.maxPerPeer) ||
        !number(requestOption, &options.limits.requestMs) ||
        !number(handshakeOption, &options.handshakeMs) || !idleOk || idleMs < 0) {
        err << "automation-host: --max-connections, --max-per-peer, --request-timeout and "
               "--handshake-timeout take positive numbers, --exit-idle-time a number from 0"
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

    Identity identity;
    if (const Status s = loadIdentity(&identity); !s.ok()) {
        err << "automation-host: " << s.reason << Qt::endl;
        return 1;
    }
    Host host(options, identity);
    for (int descriptor : passed) {
        if (const Status s = host.adopt(descriptor); !s.ok()) {
            err << "automation-host: cannot take socket " << descriptor << ": " << s.reason
                << Qt::endl;
            return 1;
        }
    }
    for (const Endpoint& e : endpoints) {
        const Status s = host.listen(e.address, e.port);
        if (s.ok())
            continue;
        // A machine without IPv6 loopback still serves on 127.0.0.1.
        if (defaults && e.address.protocol() == QAbstractSocket::IPv6Protocol)
            continue;
        err << "automation-host: cannot listen at " << e.address.toString() << " port " << e.port
            << ": " << s.reason << Qt::endl;
        return 1;
    }
    out << "automation-host identity " << identity.id << Qt::endl;
    for (const QTcpServer* server : host.servers()) {
        const QHostAddress a = server->serverAddress();
        const QString shown = a.protocol() == QAbstractSocket::IPv6Protocol
                                  ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                                  : a.toString();
        if (!a.isLoopback())
            err << "automation-host: " << shown << ':' << server->serverPort()
                << " is not a loopback address: other machines can reach this host there"
                << Qt::endl;
        out << "automation-host listening on " << shown << ':' << server->serverPort() << Qt::endl;
    }
    if (options.allowAnonymous)
        err << "automation-host: --allow-anonymous: requests without authentication (level 1) are "
               "served for anyone who can reach the addresses above"
            << Qt::endl;
    if (!passed.isEmpty())
        exitWhenIdle(&host, passed, idleMs);
    return QCoreApplication::exec();
}
