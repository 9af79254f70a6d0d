// automationctl: the command-line face of the automation layer.

#include <automation/classstore.h>
#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFileInfo>
#include <QTextStream>

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

int storeFailed(const ClassStore& store) {
    err << "automationctl: " << store.errorString() << Qt::endl;
    return 1;
}

int notRegistered(const QString& name) {
    err << "automationctl: class " << name << " is not registered" << Qt::endl;
    return 1;
}

int list(QCommandLineParser&, const QStringList&) {
    ClassStore store;
    QList<ClassRecord> records;
    if (!store.list(&records))
        return storeFailed(store);
    for (const ClassRecord& r : records) {
        out << r.name << '\t'
            << (r.activation.remote ? QStringLiteral("remote:") + r.activation.machine
                                    : QStringLiteral("local"))
            << '\t' << r.server << '\n';
    }
    return 0;
}

int show(QCommandLineParser&, const QStringList& args) {
    ClassStore store;
    ClassRecord r;
    const StoreResult result = store.find(args.at(0), &r);
    if (result == StoreResult::Failed)
        return storeFailed(store);
    if (result == StoreResult::NotFound)
        return notRegistered(args.at(0));
    out << "name: " << r.name << "\nclass id: " << r.classId << "\nserver: " << r.server
        << "\nremote: " << (r.activation.remote ? "true" : "false")
        << "\nmachine: " << r.activation.machine << "\nprotocol: " << r.activation.protocol
        << "\nlevel: " << r.activation.level << '\n';
    return 0;
}

int registerCommand(QCommandLineParser& parser, const QStringList& args) {
    ClassStore store;
    const QString server = QFileInfo(args.at(1)).absoluteFilePath();
    if (!store.registerClass(args.at(0), parser.value(QStringLiteral("class-id")), server))
        return storeFailed(store);
    out << "registered " << args.at(0).trimmed() << " -> " << server << '\n';
    return 0;
}

int unregisterCommand(QCommandLineParser&, const QStringList& args) {
    ClassStore store;
    const StoreResult result = store.unregisterClass(args.at(0));
    if (result == StoreResult::Failed)
        return storeFailed(store);
    if (result == StoreResult::NotFound)
        return notRegistered(args.at(0));
    out << "unregistered " << args.at(0).trimmed() << '\n';
    return 0;
}

int get(QCommandLineParser&, const QStringList& args) {
    RemoteActivation component;
    const auto settings = component.GetRemoteActivation(args.at(0));
    if (!settings) {
        if (!component.lastError().isEmpty()) {
            err << "automationctl: " << component.lastError() << Qt::endl;
            return 1;
        }
        return notRegistered(args.at(0));
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
            << QString(name + QLatin1Char(' ') + QLatin1String(command.arguments)).leftJustified(20)
            << ' ' << command.summary << '\n';
    stream << "\nautomationctl COMMAND --help shows the options of a command.\n";
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
    if (values.size() != positional.size()) {
        err << "automationctl " << found->first << ": expected " << command.arguments << "\n";
        return 2;
    }
    const int code = command.run(parser, values);
    out.flush();
    return code;
}
