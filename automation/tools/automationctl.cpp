// automationctl: the command-line face of the automation layer.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QSslSocket>
#include <QTextStream>

#include <unistd.h>

#include <functional>
#include <map>

namespace {

using namespace automation;

QTextStream out(stdout);
QTextStream err(stderr);

struct Command {
    const char* arguments;
    const char* summary;
    std::function<int(QCommandLineParser&, const QStringList&)> run;
    std::function<void(QCommandLineParser&)> options = {};
};

int failed(const Status& status) {
    err << "automationctl: " << status.reason << Qt::endl;
    return 1;
}

int list(QCommandLineParser&, const QStringList&) {
    QList<ClassRecord> records;
    if (const Status s = ClassStore().list(&records); !s.ok())
        return failed(s);
    for (const ClassRecord& r : records) {
        out << r.name << '\t'
            << (r.activation.remote ? QStringLiteral("remote:") + r.activation.machine
                                    : QStringLiteral("local"))
            << '\t' << r.server << '\n';
    }
    return 0;
}

int show(QCommandLineParser&, const QStringList& args) {
    ClassRecord r;
    if (const Status s = ClassStore().find(args.at(0), &r); !s.ok())
        return failed(s);
    out << "name: " << r.name << "\nclass id: " << r.classId << "\nserver: " << r.server
        << "\nremote: " << (r.activation.remote ? "true" : "false")
        << "\nmachine: " << r.activation.machine << "\nprotocol: " << r.activation.protocol
        << "\nlevel: " << r.activation.level << '\n';
    return 0;
}

int registerCommand(QCommandLineParser& parser, const QStringList& args) {
    const QString server = QFileInfo(args.at(1)).absoluteFilePath();
    const Status s =
        ClassStore().registerClass(args.at(0), parser.value(QStringLiteral("class-id")), server);
    if (!s.ok())
        return failed(s);
    out << "registered " << args.at(0).trimmed() << " -> " << server << '\n';
    return 0;
}

int unregisterCommand(QCommandLineParser&, const QStringList& args) {
    if (const Status s = ClassStore().unregisterClass(args.at(0)); !s.ok())
        return failed(s);
    out << "unregistered " << args.at(0).trimmed() << '\n';
    return 0;
}

int get(QCommandLineParser&, const QStringList& args) {
    RemoteActivation component;
    const auto settings = component.GetRemoteActivation(args.at(0));
    if (!settings) {
        if (!component.lastError().isEmpty())
            return failed({Error::StoreFailure, component.lastError()});
        return failed(
            {Error::NotRegistered, QStringLiteral("class %1 is not registered").arg(args.at(0))});
    }
    out << "remote: " << (settings->remote ? "true" : "false") << "\nmachine: " << settings->machine
        << "\nprotocol: " << settings->protocol << "\nlevel: " << settings->level << '\n';
    return 0;
}

int set(QCommandLineParser& parser, const QStringList& args) {
    const bool remote = parser.isSet(QStringLiteral("remote"));
    if (remote == parser.isSet(QStringLiteral("local"))) {
        err << "automationctl: set takes exactly one of --local and --remote" << Qt::endl;
        return 2;
    }
    const auto optionalValue = [&](const char* name) -> std::optional<QString> {
        const QString option = QString::fromLatin1(name);
        return parser.isSet(option) ? std::optional(parser.value(option)) : std::nullopt;
    };
    RemoteActivation component;
    const quint16 status = component.SetRemoteActivation(
        remote, args.at(0), optionalValue("class-id"), optionalValue("machine"),
        optionalValue("protocol"), optionalValue("level"));
    (status == RemoteActivation::Written ? out : err)
        << "status " << status << ": "
        << (status == RemoteActivation::Written ? RemoteActivation::statusText(status)
                                                : component.lastError())
        << Qt::endl;
    return status == RemoteActivation::Written ? 0 : 1;
}

int create(QCommandLineParser& parser, const QStringList& args) {
    if (parser.isSet(QStringLiteral("timeout"))) {
        bool ok = false;
        const int ms = parser.value(QStringLiteral("timeout")).toInt(&ok);
        if (!ok || ms <= 0) {
            err << "automationctl: --timeout takes a positive number of milliseconds" << Qt::endl;
            return 2;
        }
        Timeouts t = ObjectFactory::defaultTimeouts();
        t.totalMs = ms;
        ObjectFactory::setDefaultTimeouts(t);
    }
    const CreateResult result = createObject(args.at(0));
    if (!result.ok()) {
        err << "cannot create " << args.at(0) << ": " << errorName(result.error) << ": "
            << result.reason << Qt::endl;
        return 1;
    }
    out << "created " << result.object->className() << ": " << result.object->description()
        << Qt::endl;
    result.object->release();
    return 0;
}

int identity(QCommandLineParser&, const QStringList&) {
    Identity me;
    if (const Status s = loadIdentity(&me); !s.ok())
        return failed(s);
    out << me.id << '\n';
    return 0;
}

// An identity as typed on the command line, in its canonical form.
bool typedIdentity(const char* command, const QString& text, QString* id) {
    *id = canonicalIdentity(text);
    if (id->isEmpty())
        err << "automationctl " << command << ": " << text
            << " is not an identity (thirteen groups of four letters A-Z and digits 2-7)"
            << Qt::endl;
    return !id->isEmpty();
}

// The identity automation-host on machine presents, read from its TLS
// handshake; nothing else is sent.
Status fetchHostIdentity(const QString& machine, QString* id) {
    Identity me;
    if (const Status s = loadIdentity(&me); !s.ok())
        return s;
    QSslSocket socket;
    socket.setSslConfiguration(tlsConfiguration(me));
    // Brackets around an IPv6 address are for people, not for connecting.
    socket.connectToHostEncrypted(TrustFile::machineKey(machine), hostPort());
    const int ms = ObjectFactory::defaultTimeouts().connectMs;
    if (!socket.waitForEncrypted(ms))
        return Status::failure(
            Error::ConnectionRefused,
            QStringLiteral("no TLS handshake with automation-host on %1 port %2: %3")
                .arg(machine)
                .arg(hostPort())
                .arg(socket.errorString()));
    *id = identityOf(socket.peerCertificate());
    socket.abort();
    return {};
}

int addHost(QCommandLineParser& parser, const QStringList& args) {
    const QString machine =
        TrustFile::machineKey(args.at(0)).isEmpty() ? QString() : args.at(0).trimmed();
    if (machine.isEmpty()) {
        err << "automationctl add-host: the machine is blank" << Qt::endl;
        return 2;
    }
    QString id;
    if (args.size() > 1) {
        if (!typedIdentity("add-host", args.at(1), &id))
            return 2;
    } else {
        if (const Status s = fetchHostIdentity(machine, &id); !s.ok())
            return failed(s);
        out << "automation-host on " << machine << " port " << hostPort()
            << " presents identity\n  " << id
            << "\nCompare it with what 'automationctl identity' shows for the host's user there."
            << Qt::endl;
        // No trust on first use without the user's word.
        if (!parser.isSet(QStringLiteral("yes"))) {
            if (!::isatty(STDIN_FILENO)) {
                err << "automationctl add-host: not recorded; give --yes to record a fetched "
                       "identity without asking"
                    << Qt::endl;
                return 1;
            }
            out << "Record it for " << machine << "? [y/N] " << Qt::flush;
            const QString answer = QTextStream(stdin).readLine().trimmed();
            if (answer.compare(QLatin1String("y"), Qt::CaseInsensitive) != 0 &&
                answer.compare(QLatin1String("yes"), Qt::CaseInsensitive) != 0) {
                err << "automationctl add-host: not recorded" << Qt::endl;
                return 1;
            }
        }
    }
    TrustFile hosts(TrustFile::Kind::KnownHosts);
    bool added = false;
    if (const Status s = hosts.add({machine, id, parser.value(QStringLiteral("comment"))}, &added);
        !s.ok())
        return failed(s);
    out << (added ? "recorded " : "already recorded ") << machine << ' ' << id << " in "
        << hosts.path() << '\n';
    return 0;
}

int listTrust(TrustFile::Kind kind) {
    TrustFile file(kind);
    QList<TrustEntry> entries;
    if (const Status s = file.entries(&entries); !s.ok())
        return failed(s);
    for (const TrustEntry& e : std::as_const(entries)) {
        if (kind == TrustFile::Kind::KnownHosts)
            out << e.machine << ' ';
        if (!e.classes.isEmpty())
            out << "classes=\"" << e.classes.join(QLatin1Char(',')) << "\" ";
        out << e.identity;
        if (!e.comment.isEmpty())
            out << ' ' << e.comment;
        out << '\n';
    }
    // Entries the host leaves out, so that the user learns of them here too.
    for (const QString& problem : file.problems())
        err << "automationctl: " << file.path() << ' ' << problem << "; the entry is ignored"
            << Qt::endl;
    return 0;
}

int removeTrust(TrustFile::Kind kind, const QString& key, const QString& id) {
    TrustFile file(kind);
    int removed = 0;
    if (const Status s = file.remove(key, id, &removed); !s.ok())
        return failed(s);
    if (removed == 0) {
        err << "automationctl: no entry for " << (id.isEmpty() ? key : key + QLatin1Char(' ') + id)
            << " in " << file.path() << Qt::endl;
        return 1;
    }
    out << "removed " << removed << (removed == 1 ? " entry" : " entries") << " from "
        << file.path() << '\n';
    return 0;
}

QString classesText(const QStringList& classes) {
    return classes.isEmpty() ? QStringLiteral("every class")
                             : QStringLiteral("classes ") + classes.join(QLatin1Char(','));
}

// Without --classes an identity that is authorized already keeps what it
// may create: the command never widens it unasked.
int authorize(QCommandLineParser& parser, const QStringList& args) {
    QString id;
    if (!typedIdentity("authorize", args.at(0), &id))
        return 2;
    const bool limited = parser.isSet(QStringLiteral("classes"));
    QStringList classes;
    QString error;
    if (limited && !parseClassPatterns(parser.value(QStringLiteral("classes")), &classes, &error)) {
        err << "automationctl authorize: --classes: " << error << Qt::endl;
        return 2;
    }
    TrustFile clients(TrustFile::Kind::AuthorizedClients);
    bool found = false;
    QStringList current;
    if (const Status s = clients.classesOf(id, &found, &current); !s.ok())
        return failed(s);
    if (found && !limited) {
        out << "already authorized " << id << " for " << classesText(current) << " in "
            << clients.path() << '\n';
        return 0;
    }
    if (const Status s =
            clients.replace({QString(), id, parser.value(QStringLiteral("comment")), classes});
        !s.ok())
        return failed(s);
    out << "authorized " << id << " for " << classesText(classes) << " in " << clients.path()
        << '\n';
    return 0;
}

void addComment(QCommandLineParser& p) {
    p.addOption({QStringLiteral("comment"),
                 QStringLiteral("A note kept with the entry, e.g. whose identity it is."),
                 QStringLiteral("TEXT")});
}

const std::map<QString, Command>& commands() {
    static const std::map<QString, Command> table{
        {QStringLiteral("list"), {"", "List the registered classes.", list}},
        {QStringLiteral("show"), {"NAME", "Show everything registered for a class.", show}},
        {QStringLiteral("register"),
         {"NAME PATH", "Register a class for local activation by the server at PATH.",
          registerCommand,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("class-id"), QStringLiteral("The class identifier."),
                           QStringLiteral("ID")});
          }}},
        {QStringLiteral("unregister"),
         {"NAME", "Remove a class's registration.", unregisterCommand}},
        {QStringLiteral("get"),
         {"NAME", "Print the four activation values: remote, machine, protocol, level.", get}},
        {QStringLiteral("set"),
         {"NAME",
          "Set activation: --local, or --remote --machine M [--protocol CODE] "
          "[--level CODE]. Prints the status; exit code 0 only for status 0.",
          set,
          [](QCommandLineParser& p) {
              p.addOptions({
                  {QStringLiteral("local"), QStringLiteral("Activate on this machine.")},
                  {QStringLiteral("remote"), QStringLiteral("Activate on another machine.")},
                  {QStringLiteral("machine"), QStringLiteral("The machine (name or address)."),
                   QStringLiteral("M")},
                  {QStringLiteral("protocol"),
                   QStringLiteral("Protocol code, e.g. ncacn_ip_tcp; \"\" for none."),
                   QStringLiteral("CODE")},
                  {QStringLiteral("level"),
                   QStringLiteral("Authentication level code 0-6; \"\" for none."),
                   QStringLiteral("CODE")},
                  {QStringLiteral("class-id"),
                   QStringLiteral("The class identifier, checked against the registration."),
                   QStringLiteral("ID")},
              });
          }}},
        {QStringLiteral("create"),
         {"NAME", "Create an object of the class, print the outcome and release it.", create,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("timeout"),
                           QStringLiteral("Give up after this many milliseconds."),
                           QStringLiteral("MS")});
          }}},
        {QStringLiteral("identity"),
         {"", "Print this user's identity (made on first use).", identity}},
        {QStringLiteral("add-host"),
         {"MACHINE [IDENTITY]",
          "Trust automation-host on MACHINE with IDENTITY. Without IDENTITY, fetch the host's "
          "identity, show it and ask (--yes records it without asking).",
          addHost,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("yes"),
                           QStringLiteral("Record a fetched identity without asking.")});
              addComment(p);
          }}},
        {QStringLiteral("hosts"),
         {"", "List the trusted hosts: machine, identity, comment.",
          [](QCommandLineParser&, const QStringList&) {
              return listTrust(TrustFile::Kind::KnownHosts);
          }}},
        {QStringLiteral("remove-host"),
         {"MACHINE [IDENTITY]", "Stop trusting the hosts recorded for MACHINE (or only IDENTITY).",
          [](QCommandLineParser&, const QStringList& args) {
              return removeTrust(TrustFile::Kind::KnownHosts, args.at(0), args.value(1));
          }}},
        {QStringLiteral("authorize"),
         {"IDENTITY",
          "Let the client with IDENTITY use automation-host as this user, for every class or "
          "those --classes names (replacing what it may create).",
          authorize,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("classes"),
                           QStringLiteral("Only these classes: a comma-separated list of class "
                                          "names, where * matches any run of characters and ? "
                                          "any one, e.g. 'Server.Application,Office.*'."),
                           QStringLiteral("LIST")});
              addComment(p);
          }}},
        {QStringLiteral("clients"),
         {"", "List the authorized clients: classes they are limited to, identity, comment.",
          [](QCommandLineParser&, const QStringList&) {
              return listTrust(TrustFile::Kind::AuthorizedClients);
          }}},
        {QStringLiteral("revoke"),
         {"IDENTITY", "Stop serving the client with IDENTITY.",
          [](QCommandLineParser&, const QStringList& args) {
              return removeTrust(TrustFile::Kind::AuthorizedClients, args.at(0), QString());
          }}},
    };
    return table;
}

void usage(QTextStream& stream) {
    stream << "Usage: automationctl COMMAND [ARGUMENTS]\n\n"
              "Inspects and changes the class registration store and creates objects.\n\n"
              "Commands:\n";
    for (const auto& [name, command] : commands())
        stream
            << "  "
            << QString(name + QLatin1Char(' ') + QLatin1String(command.arguments)).leftJustified(31)
            << ' ' << command.summary << '\n';
    stream << "\nautomationctl COMMAND --help shows the options of a command.\n"
              "\nPairing two machines (or two users): on the host machine, as the user whose\n"
              "classes are served, start automation-host and print its identity:\n"
              "  host$   automation-host --listen 0.0.0.0:47610 &\n"
              "  host$   automationctl identity\n"
              "On the client, record that identity for the machine and print the client's own:\n"
              "  client$ automationctl add-host box.example.org HOST-IDENTITY\n"
              "  client$ automationctl identity\n"
              "Back on the host, authorize the client's identity:\n"
              "  host$   automationctl authorize CLIENT-IDENTITY --comment \"alice on laptop\"\n"
              "Then classes registered there are created from the client at any level but 1:\n"
              "  client$ automationctl set Server.Application --remote --machine box.example.org "
              "--level 6\n"
              "  client$ automationctl create Server.Application\n"
              "Identities and trust files live in $XDG_CONFIG_HOME/automation "
              "(~/.config/automation).\n";
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("automationctl"));
    const QStringList args = QCoreApplication::arguments();
    if (args.size() < 2 || args.at(1) == QLatin1String("--help") ||
        args.at(1) == QLatin1String("-h") || args.at(1) == QLatin1String("help")) {
        usage(args.size() < 2 ? err : out);
        out.flush();
        return args.size() < 2 ? 2 : 0;
    }
    const auto found = commands().find(args.at(1));
    if (found == commands().end()) {
        err << "automationctl: unknown command " << args.at(1) << "\n";
        usage(err);
        return 2;
    }
    const Command& command = found->second;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("automationctl %1 %2\n%3")
            .arg(found->first, QLatin1String(command.arguments), QLatin1String(command.summary)));
    parser.addHelpOption();
    const QStringList positional =
        QString::fromLatin1(command.arguments).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& p : positional)
        parser.addPositionalArgument(p, p);
    if (command.options)
        command.options(parser);
    parser.process(args.mid(1));
    const QStringList values = parser.positionalArguments();
    const auto required = std::count_if(positional.cbegin(), positional.cend(),
                                        [](const QString& p) { return !p.startsWith('['); });
    if (values.size() < required || values.size() > positional.size()) {
        err << "automationctl " << found->first << ": expected " << command.arguments << "\n";
        return 2;
    }
    const int code = command.run(parser, values);
    out.flush();
    return code;
}
