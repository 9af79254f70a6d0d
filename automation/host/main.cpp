// automation-host: accepts remote activation requests over TCP and activates
// the requested classes on this machine, keeping each object until its client
// releases it or disconnects.

#include "host.h"
#include "notifications.h"
#include "socketactivation.h"

#include <automation/environment.h>
#include <automation/printable.h>
#include <automation/serverkit.h>

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

// What the command line (and the environment) ask of the host.
struct HostSettings {
    HostOptions options;
    QList<Endpoint> endpoints;  // none: the loopback defaults, unless sockets are passed in
    int idleMs = 60000;         // after socket activation
};

// The settings, or what to say instead of starting: the help (exit code 0)
// or why the command line cannot be followed.
struct ParsedOptions {
    std::optional<HostSettings> settings;
    QString message;
    int exitCode = 0;
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

ParsedOptions parseOptions(const QStringList& arguments) {
    const auto failure = [](const QString& message) {
        return ParsedOptions{std::nullopt, QStringLiteral("automation-host: ") + message, 2};
    };
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Accepts remote activation requests and activates classes registered for local "
            "activation on this machine, as the user it runs as.\n"
            "Clients are served over TLS 1.3 when they present an identity listed in "
            "authorized_clients (automationctl authorize), or this user's own.\n"
            "Listens on the loopback addresses at port %1 unless told otherwise.")
            .arg(DefaultHostPort));
    const QCommandLineOption helpOption({QStringLiteral("h"), QStringLiteral("help")},
                                        QStringLiteral("Show these options."));
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
        QStringLiteral("Connections one client may hold: per identity once authenticated; "
                       "before, per local user on loopback, else per IPv4 address or IPv6 /64 "
                       "network (default 16)."),
        QStringLiteral("N"), QStringLiteral("16"));
    const QCommandLineOption unauthenticatedOption(
        QStringLiteral("max-unauthenticated"),
        QStringLiteral("Of the connections, those not authenticated yet and anonymous ones "
                       "together; anonymous ones at most half of these (default 32)."),
        QStringLiteral("N"), QStringLiteral("32"));
    const QCommandLineOption objectsPerPeerOption(
        QStringLiteral("max-objects-per-peer"),
        QStringLiteral("Objects one client (all anonymous clients together) may hold through "
                       "the host (default 8)."),
        QStringLiteral("N"), QStringLiteral("8"));
    const QCommandLineOption objectsOfOthersOption(
        QStringLiteral("max-objects-of-others"),
        QStringLiteral("Objects all clients but the host's own user may hold through the host "
                       "together; a server serves 32 connections of the host, and the rest is "
                       "kept for its owner (default 24)."),
        QStringLiteral("N"), QStringLiteral("24"));
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
        QStringLiteral("Also serve requests without authentication (level 1, No Authentication) "
                       "from anyone who can reach the host, for these classes only: a comma-"
                       "separated list of class names, where * matches any run of characters "
                       "and ? any one (--allow-anonymous=Server.Application,Test.*). Off by "
                       "default."),
        QStringLiteral("CLASSES"));
    const QCommandLineOption pairingOption(
        QStringLiteral("max-pairing-requests"),
        QStringLiteral("Pairing requests kept for the user's answer at once, at most 2 from one "
                       "client as counted before authentication (default 16). Further ones are "
                       "refused; none pushes out one that waits."),
        QStringLiteral("N"), QStringLiteral("16"));
    parser.addOptions({helpOption, listenOption, maxOption, perPeerOption, unauthenticatedOption,
                       objectsPerPeerOption, objectsOfOthersOption, requestOption, handshakeOption,
                       idleOption, anonymousOption, pairingOption});
    const QString anonymousUsage = QStringLiteral(
        "--allow-anonymous takes the classes anonymous clients may create, e.g. "
        "--allow-anonymous=Server.Application,Test.* (* for every class)");
    if (!parser.parse(arguments)) {
        if (parser.errorText().contains(QLatin1String("allow-anonymous")))
            return failure(anonymousUsage);
        return failure(parser.errorText());
    }
    if (parser.isSet(helpOption))
        return {std::nullopt, parser.helpText(), 0};

    HostSettings settings;
    HostOptions& options = settings.options;
    // Before the arguments: a bare --allow-anonymous takes the next one.
    if (parser.isSet(anonymousOption)) {
        QString error;
        if (!parseClassPatterns(parser.values(anonymousOption).join(QLatin1Char(',')),
                                &options.anonymousClasses, &error))
            return failure(QStringLiteral("%1: %2").arg(anonymousUsage, error));
        options.allowAnonymous = true;
    }

    if (!parser.positionalArguments().isEmpty())
        return failure(QStringLiteral("unexpected argument %1")
                           .arg(quoted(parser.positionalArguments().constFirst())));

    const auto number = [&](const QCommandLineOption& option, int* value) {
        bool ok = false;
        *value = parser.value(option).toInt(&ok);
        return ok && *value > 0;
    };
    bool idleOk = false;
    settings.idleMs = parser.value(idleOption).toInt(&idleOk);
    if (!number(maxOption, &options.limits.maxConnections) ||
        !number(perPeerOption, &options.limits.maxPerPeer) ||
        !number(unauthenticatedOption, &options.maxUnauthenticated) ||
        !number(objectsPerPeerOption, &options.maxObjectsPerPeer) ||
        !number(objectsOfOthersOption, &options.maxObjectsOfOthers) ||
        !number(requestOption, &options.limits.requestMs) ||
        !number(handshakeOption, &options.handshakeMs) ||
        !number(pairingOption, &options.pairing.maxRequests) || !idleOk || settings.idleMs < 0)
        return failure(
            QStringLiteral("--max-connections, --max-per-peer, --max-unauthenticated, "
                           "--max-objects-per-peer, --max-objects-of-others, --request-timeout, "
                           "--handshake-timeout and --max-pairing-requests take positive numbers, "
                           "--exit-idle-time a number from 0"));

    for (const QString& text : parser.values(listenOption)) {
        const auto endpoint = parseEndpoint(text);
        if (!endpoint)
            return failure(QStringLiteral("--listen %1: expected ADDRESS:PORT or "
                                          "[IPv6-ADDRESS]:PORT")
                               .arg(text));
        settings.endpoints.append(*endpoint);
    }

    // For tests, which wait for the summary of a refusal storm.
    if (qEnvironmentVariableIsSet("AUTOMATION_HOST_LOG_WINDOW_MS")) {
        bool ok = false;
        options.logRules.windowMs =
            qEnvironmentVariableIntValue("AUTOMATION_HOST_LOG_WINDOW_MS", &ok);
        if (!ok || options.logRules.windowMs <= 0)
            return failure(QStringLiteral(
                "AUTOMATION_HOST_LOG_WINDOW_MS takes a positive number of milliseconds"));
    }
    // For tests, which see a pairing request expire.
    if (qEnvironmentVariableIsSet("AUTOMATION_HOST_PAIRING_EXPIRY_MS")) {
        bool ok = false;
        options.pairing.expiryMs =
            qEnvironmentVariableIntValue("AUTOMATION_HOST_PAIRING_EXPIRY_MS", &ok);
        if (!ok || options.pairing.expiryMs <= 0)
            return failure(QStringLiteral(
                "AUTOMATION_HOST_PAIRING_EXPIRY_MS takes a positive number of milliseconds"));
    }
    return {settings, {}, 0};
}

QString shownAddress(const QTcpServer* server) {
    const QHostAddress a = server->serverAddress();
    const QString address = a.protocol() == QAbstractSocket::IPv6Protocol
                                ? QLatin1Char('[') + a.toString() + QLatin1Char(']')
                                : a.toString();
    return address + QLatin1Char(':') + QString::number(server->serverPort());
}

// Takes the sockets the service manager passed, or binds those the settings
// name (the loopback defaults when there are neither).
Status listen(Host& host, const HostSettings& settings, const QList<int>& passed) {
    for (int descriptor : passed) {
        if (const Status s = host.adopt(descriptor); !s.ok())
            return Status::failure(
                s.error, QStringLiteral("cannot take socket %1: %2").arg(descriptor).arg(s.reason));
    }
    QList<Endpoint> endpoints = settings.endpoints;
    const bool defaults = endpoints.isEmpty() && passed.isEmpty();
    if (defaults)
        endpoints = {{QHostAddress(QHostAddress::LocalHost), DefaultHostPort},
                     {QHostAddress(QHostAddress::LocalHostIPv6), DefaultHostPort}};
    for (const Endpoint& e : std::as_const(endpoints)) {
        const Status s = host.listen(e.address, e.port);
        if (s.ok())
            continue;
        // A machine without IPv6 loopback still serves on 127.0.0.1.
        if (defaults && e.address.protocol() == QAbstractSocket::IPv6Protocol)
            continue;
        return Status::failure(s.error, QStringLiteral("cannot listen at %1 port %2: %3")
                                            .arg(e.address.toString())
                                            .arg(e.port)
                                            .arg(s.reason));
    }
    return {};
}

// Who the host is and where it listens on stdout; on stderr what makes it
// reachable by more than this machine's users' authorized clients.
void announce(const Host& host, const Identity& identity, const HostOptions& options) {
    QTextStream out(stdout);
    QTextStream err(stderr);
    out << "automation-host identity " << identity.id << Qt::endl;
    for (const QTcpServer* server : host.servers()) {
        if (!server->serverAddress().isLoopback())
            err << "automation-host: " << shownAddress(server)
                << " is not a loopback address: other machines can reach this host there"
                << Qt::endl;
        out << "automation-host listening on " << shownAddress(server) << Qt::endl;
    }
    if (options.allowAnonymous)
        err << printable(QStringLiteral("automation-host: --allow-anonymous: requests without "
                                        "authentication (level 1) are served for anyone who can "
                                        "reach the addresses above, for the classes %1")
                             .arg(options.anonymousClasses.join(QLatin1Char(','))))
            << Qt::endl;
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("automation-host"));
    // A client that goes away mid-write must not take the host with it.
    std::signal(SIGPIPE, SIG_IGN);
    QTextStream err(stderr);

    const ParsedOptions parsed = parseOptions(QCoreApplication::arguments());
    if (!parsed.settings) {
        (parsed.exitCode == 0 ? QTextStream(stdout) : QTextStream(stderr))
            << parsed.message << (parsed.message.endsWith(QLatin1Char('\n')) ? "" : "\n")
            << Qt::flush;
        return parsed.exitCode;
    }
    const HostSettings& settings = *parsed.settings;
    // The host starts servers as the user it runs as; as root that would be
    // any registered program with every right.
    if (::geteuid() == 0) {
        err << "automation-host: refusing to run as root; run it as the user whose classes it "
               "serves"
            << Qt::endl;
        return 1;
    }

    QList<int> passed;
    QString passError;
    if (!passedListeningSockets(&passed, &passError)) {
        err << "automation-host: " << passError << Qt::endl;
        return 1;
    }
    Identity identity;
    if (const Status s = loadIdentity(&identity); !s.ok()) {
        err << "automation-host: " << s.reason << Qt::endl;
        return 1;
    }
    Host host(settings.options, identity);
    if (const Status s = listen(host, settings, passed); !s.ok()) {
        err << "automation-host: " << s.reason << Qt::endl;
        return 1;
    }
    // The host's user answers pairing requests through this socket
    // (automationctl requests, accept, reject), or through notifications.
    ObjectServer control(
        {ServedClass{QLatin1String(PairingControl::ClassName), QString(),
                     [&host] { return std::make_unique<PairingControl>(host.pairingDesk()); }}});
    QString controlPath;
    Status controlStatus = pairingSocketPath(QCoreApplication::applicationPid(), &controlPath);
    if (controlStatus.ok())
        controlStatus = control.listen(QString(), nullptr, controlPath);
    if (!controlStatus.ok())
        err << "automation-host: pairing requests cannot be answered with automationctl: "
            << controlStatus.reason << Qt::endl;
    DesktopNotifications notifications(host.pairingDesk());
    announce(host, identity, settings.options);
    if (!passed.isEmpty())
        exitWhenIdle(&host, passed, settings.idleMs);
    return QCoreApplication::exec();
}
