// automationctl: the command-line face of the automation layer.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/objectfactory.h>
#include <automation/pairing.h>
#include <automation/printable.h>
#include <automation/remoteactivation.h>
#include <automation/trust.h>

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QHash>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QSocketNotifier>
#include <QSslSocket>
#include <QSysInfo>
#include <QTextStream>

#include <fcntl.h>
#include <unistd.h>
#include <csignal>

#include <algorithm>
#include <functional>
#include <limits>
#include <map>
#include <optional>

namespace {

using namespace automation;

QTextStream out(stdout);
QTextStream err(stderr);

struct Command {
    const char* arguments;
    const char* summary;
    std::function<int(QCommandLineParser&, const QStringList&)> run;
    std::function<void(QCommandLineParser&)> options = {};
    // More for the command's --help; a command with details takes typed
    // values (negative numbers among them) after its names.
    const char* details = "";
};

int failed(const Status& status) {
    err << "automationctl: " << printable(status.reason) << Qt::endl;
    return 1;
}

// A failure of one of the calling commands: what was being done, the
// error's name and its reason.
int failed(const QString& what, const Status& status) {
    err << "automationctl: " << printable(what) << ": " << errorName(status.error) << ": "
        << printable(status.reason) << Qt::endl;
    return 1;
}

// --timeout as a positive number of milliseconds; false (and a message) when
// it is something else.
bool timeoutOption(const QCommandLineParser& parser, int* ms) {
    if (!parser.isSet(QStringLiteral("timeout")))
        return true;
    bool ok = false;
    *ms = parser.value(QStringLiteral("timeout")).toInt(&ok);
    if (!ok || *ms <= 0) {
        err << "automationctl: --timeout takes a positive number of milliseconds" << Qt::endl;
        return false;
    }
    return true;
}

// A machine named on the command line: one that checkMachineName() takes.
bool typedMachine(const char* command, const QString& text) {
    const Status s = checkMachineName(text);
    if (!s.ok())
        err << "automationctl " << command << ": " << s.reason << Qt::endl;
    return s.ok();
}

int list(QCommandLineParser&, const QStringList&) {
    QList<ClassRecord> records;
    if (const Status s = ClassStore().list(&records); !s.ok())
        return failed(s);
    for (const ClassRecord& r : records) {
        out << r.name << '\t'
            << (r.activation.remote ? QStringLiteral("remote:") + r.activation.machine
                                    : QStringLiteral("local"))
            << '\t' << (r.server.isEmpty() ? QStringLiteral("(remote only)") : r.server) << '\n';
    }
    return 0;
}

int show(QCommandLineParser&, const QStringList& args) {
    ClassRecord r;
    if (const Status s = ClassStore().find(args.at(0), &r); !s.ok())
        return failed(s);
    out << "name: " << r.name << "\nclass id: " << r.classId
        << "\nserver: " << (r.server.isEmpty() ? QStringLiteral("(none: remote only)") : r.server)
        << "\nremote: " << (r.activation.remote ? "true" : "false")
        << "\nmachine: " << r.activation.machine << "\nprotocol: " << r.activation.protocol
        << "\nlevel: " << r.activation.level << '\n';
    return 0;
}

int registerCommand(QCommandLineParser& parser, const QStringList& args) {
    const bool remote = parser.isSet(QStringLiteral("remote"));
    if (remote == (args.size() > 1)) {
        err << "automationctl register: give either PATH (a local server) or --remote MACHINE"
            << Qt::endl;
        return 2;
    }
    if (remote) {
        const QString machine = parser.value(QStringLiteral("remote"));
        if (!typedMachine("register", machine))
            return 2;
        if (const Status s = ClassStore().registerRemote(args.at(0), machine.trimmed()); !s.ok())
            return failed(s);
        out << "registered " << args.at(0).trimmed() << " -> remote on " << machine.trimmed()
            << " (no local server)\n";
        return 0;
    }
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
    // A blank machine is the component's to refuse (status 6).
    const QString machine = parser.value(QStringLiteral("machine"));
    if (remote && !machine.trimmed().isEmpty() && !typedMachine("set", machine))
        return 2;
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
    if (status == RemoteActivation::ClassNotRegistered && remote)
        err << "A class served by another machine's automation-host is registered here with: "
               "automationctl import MACHINE "
            << args.at(0).trimmed() << "\n(after automationctl pair MACHINE), or: automationctl "
            << "register " << args.at(0).trimmed() << " --remote MACHINE" << Qt::endl;
    return status == RemoteActivation::Written ? 0 : 1;
}

int create(QCommandLineParser& parser, const QStringList& args) {
    int ms = 0;
    if (!timeoutOption(parser, &ms))
        return 2;
    if (ms > 0) {
        Timeouts t = ObjectFactory::defaultTimeouts();
        t.totalMs = ms;
        ObjectFactory::setDefaultTimeouts(t);
    }
    const CreateResult result = createObject(args.at(0));
    if (!result.ok()) {
        err << "cannot create " << args.at(0) << ": " << errorName(result.error) << ": "
            << printable(result.reason) << Qt::endl;
        return 1;
    }
    out << "created " << printable(result.object->className()) << ": "
        << printable(result.object->description()) << Qt::endl;
    result.object->release();
    return 0;
}

// Calling created objects: introspect, call, property, watch.

// A value as JSON: lists, maps and bytes (as a list of numbers) keep their
// structure; anything else the library hands over is shown as its text.
QJsonValue jsonValue(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            return QJsonValue::Null;
        case QMetaType::Bool:
            return value.toBool();
        case QMetaType::Int:
        case QMetaType::UInt:
        case QMetaType::Short:
        case QMetaType::UShort:
        case QMetaType::Char:
        case QMetaType::SChar:
        case QMetaType::UChar:
        case QMetaType::Long:
        case QMetaType::LongLong:
            return value.toLongLong();
        case QMetaType::ULong:
        case QMetaType::ULongLong: {
            const qulonglong n = value.toULongLong();
            return n <= qulonglong(std::numeric_limits<qint64>::max()) ? QJsonValue(qint64(n))
                                                                       : QJsonValue(double(n));
        }
        case QMetaType::Double:
        case QMetaType::Float:
            return value.toDouble();
        case QMetaType::QString:
            return value.toString();
        case QMetaType::QByteArray: {
            QJsonArray bytes;
            for (const char b : value.toByteArray())
                bytes.append(int(uchar(b)));
            return bytes;
        }
        case QMetaType::QVariantMap:
        case QMetaType::QVariantHash: {
            QJsonObject object;
            const QVariantMap map = value.toMap();
            for (auto it = map.cbegin(); it != map.cend(); ++it)
                object.insert(it.key(), jsonValue(it.value()));
            return object;
        }
        default:
            break;
    }
    if (value.canConvert<QVariantList>() && value.typeId() != QMetaType::QString) {
        QJsonArray list;
        for (const QVariant& item : value.value<QVariantList>())
            list.append(jsonValue(item));
        return list;
    }
    if (value.canConvert<QVariantMap>())
        return jsonValue(value.toMap());
    return value.toString();
}

// Compact JSON on one line. JSON escapes the C0 controls itself; DEL, the C1
// controls and the characters printable() escapes can only stand inside its
// strings, where a \u escape means the same.
QString jsonText(const QJsonValue& value) {
    const QString array =
        QString::fromUtf8(QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact));
    const QString text = array.mid(1, array.size() - 2);
    QString safe;
    safe.reserve(text.size());
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        if ((u >= 0x7f && u <= 0x9f) || u == 0x2028 || u == 0x2029 ||
            (u >= 0x202a && u <= 0x202e) || (u >= 0x2066 && u <= 0x2069))
            safe += QStringLiteral("\\u%1").arg(uint(u), 4, 16, QLatin1Char('0'));
        else
            safe += c;
    }
    return safe;
}

// A value as text: strings as they are, numbers and truth values as text,
// lists, maps and bytes as compact JSON; all of it safe for a terminal.
QString valueText(const QVariant& value) {
    switch (value.typeId()) {
        case QMetaType::UnknownType:
        case QMetaType::Nullptr:
            return QString();
        case QMetaType::QString:
            return printable(value.toString());
        case QMetaType::Bool:
            return value.toBool() ? QStringLiteral("true") : QStringLiteral("false");
        case QMetaType::Double:
        case QMetaType::Float:
            return QString::number(value.toDouble(), 'g', QLocale::FloatingPointShortest);
        default:
            break;
    }
    const QJsonValue json = jsonValue(value);
    return json.isString() ? printable(json.toString()) : jsonText(json);
}

void printJson(const QJsonObject& object) {
    out << jsonText(object) << Qt::endl;
}

QString argumentsText(const QList<Argument>& arguments) {
    QStringList parts;
    for (const Argument& a : arguments)
        parts.append(a.name.isEmpty()
                         ? printable(a.signature)
                         : printable(a.signature) + QLatin1Char(' ') + printable(a.name));
    return parts.join(QLatin1String(", "));
}

// "Add(i a, i b)", and " -> i" or " -> (i, s)" when it returns something.
QString methodText(const MethodInfo& method) {
    QString text =
        printable(method.name) + QLatin1Char('(') + argumentsText(method.in) + QLatin1Char(')');
    if (method.out.size() == 1) {
        text += QLatin1String(" -> ") + printable(method.out.first().signature);
    } else if (method.out.size() > 1) {
        QStringList types;
        for (const Argument& a : method.out)
            types.append(printable(a.signature));
        text += QLatin1String(" -> (") + types.join(QLatin1String(", ")) + QLatin1Char(')');
    }
    return text;
}

QJsonArray argumentsJson(const QList<Argument>& arguments) {
    QJsonArray list;
    for (const Argument& a : arguments)
        list.append(
            QJsonObject{{QStringLiteral("name"), a.name}, {QStringLiteral("type"), a.signature}});
    return list;
}

QString accessText(const PropertyInfo& p) {
    if (!p.writable)
        return QStringLiteral("read-only");
    return p.readable ? QStringLiteral("writable") : QStringLiteral("write-only");
}

// The member called name: the one spelt so, or else the only one spelt so
// without regard to case.
template <typename Member>
const Member* findMember(const QList<Member>& members, const QString& name) {
    const Member* folded = nullptr;
    int foldedCount = 0;
    for (const Member& m : members) {
        if (m.name == name)
            return &m;
        if (m.name.compare(name, Qt::CaseInsensitive) == 0) {
            folded = &m;
            ++foldedCount;
        }
    }
    return foldedCount == 1 ? folded : nullptr;
}

template <typename Member>
QString memberNames(const QList<Member>& members) {
    QStringList names;
    for (const Member& m : members)
        names.append(printable(m.name));
    return names.isEmpty() ? QStringLiteral("none") : names.join(QLatin1String(", "));
}

bool holdsNull(const QJsonValue& value) {
    if (value.isNull())
        return true;
    if (value.isArray()) {
        const QJsonArray array = value.toArray();
        return std::any_of(array.begin(), array.end(),
                           [](const QJsonValue& item) { return holdsNull(item); });
    }
    if (value.isObject()) {
        const QJsonObject object = value.toObject();
        return std::any_of(object.begin(), object.end(),
                           [](const QJsonValue& item) { return holdsNull(item); });
    }
    return false;
}

// A value typed on the command line for a parameter or property of the given
// D-Bus type. Containers and variants are read as JSON (a variant that is not
// JSON is the text itself); anything else goes as text, which the library
// converts strictly to the type.
bool typedValue(const QString& text, const QString& signature, QVariant* value, QString* why) {
    const bool container = signature.startsWith(QLatin1Char('a')) ||
                           signature.startsWith(QLatin1Char('(')) ||
                           signature == QLatin1String("v");
    if (!container) {
        *value = text;
        return true;
    }
    // Wrapped in a list, so that a number, a string or true is JSON too.
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson('[' + text.toUtf8() + ']', &error);
    if (error.error == QJsonParseError::NoError && doc.array().size() == 1) {
        if (holdsNull(doc.array().first())) {
            *why = QStringLiteral("JSON null has no D-Bus value");
            return false;
        }
        *value = doc.array().first().toVariant();
        return true;
    }
    if (signature == QLatin1String("v")) {
        *value = text;
        return true;
    }
    *why = error.error == QJsonParseError::NoError
               ? QStringLiteral("give one JSON value, e.g. [1, 2] or {\"key\": \"value\"}")
               : QStringLiteral("it is not JSON (%1 at character %2)")
                     .arg(error.errorString())
                     .arg(qMax(0, error.offset - 1));
    return false;
}

bool jsonOption(const QCommandLineParser& parser) {
    return parser.isSet(QStringLiteral("json"));
}

// An object of the class, with its interface read, for the calling commands.
struct Target {
    std::shared_ptr<ObjectHandle> object;
    ObjectInterface interface;
};

// Creates an object of the class, sets --timeout on it and reads its
// interface; 0, or the exit code after saying why not.
int openTarget(const QCommandLineParser& parser, const QString& className, Target* target) {
    int ms = 0;
    if (!timeoutOption(parser, &ms))
        return 2;
    const CreateResult created = createObject(className);
    if (!created.ok())
        return failed(QStringLiteral("cannot create ") + className, created.status());
    target->object = created.object;
    if (ms > 0)
        target->object->setCallTimeout(ms);
    if (const Status s = introspectObject(*target->object, &target->interface); !s.ok())
        return failed(QStringLiteral("cannot read the interface of ") + className, s);
    return 0;
}

int introspect(QCommandLineParser& parser, const QStringList& args) {
    Target t;
    if (const int code = openTarget(parser, args.at(0), &t))
        return code;
    const ObjectInterface& iface = t.interface;

    // Every readable property's value, or why it could not be read.
    QList<CallResult> values;
    int unreadable = 0;
    for (const PropertyInfo& p : iface.properties) {
        values.append(p.readable ? readProperty(*t.object, p.name) : CallResult());
        if (!values.last().ok()) {
            ++unreadable;
            if (values.last().status.error == Error::Disconnected)
                return failed(QStringLiteral("cannot read ") + p.name, values.last().status);
        }
    }

    if (jsonOption(parser)) {
        QJsonArray properties;
        for (qsizetype i = 0; i < iface.properties.size(); ++i) {
            const PropertyInfo& p = iface.properties.at(i);
            QJsonObject entry{{QStringLiteral("name"), p.name},
                              {QStringLiteral("type"), p.signature},
                              {QStringLiteral("readable"), p.readable},
                              {QStringLiteral("writable"), p.writable}};
            const CallResult& r = values.at(i);
            if (p.readable && r.ok())
                entry.insert(QStringLiteral("value"), jsonValue(r.value()));
            else if (p.readable)
                entry.insert(QStringLiteral("error"),
                             QJsonObject{{QStringLiteral("name"), errorName(r.status.error)},
                                         {QStringLiteral("reason"), r.status.reason}});
            properties.append(entry);
        }
        QJsonArray methods;
        for (const MethodInfo& m : iface.methods)
            methods.append(QJsonObject{{QStringLiteral("name"), m.name},
                                       {QStringLiteral("in"), argumentsJson(m.in)},
                                       {QStringLiteral("out"), argumentsJson(m.out)}});
        QJsonArray signalList;
        for (const SignalInfo& s : iface.signalList)
            signalList.append(QJsonObject{{QStringLiteral("name"), s.name},
                                          {QStringLiteral("args"), argumentsJson(s.args)}});
        printJson(QJsonObject{{QStringLiteral("class"), t.object->className()},
                              {QStringLiteral("interface"), iface.name},
                              {QStringLiteral("properties"), properties},
                              {QStringLiteral("methods"), methods},
                              {QStringLiteral("signals"), signalList}});
    } else {
        out << printable(t.object->className());
        if (!iface.name.isEmpty() && iface.name != t.object->className())
            out << " (interface " << printable(iface.name) << ')';
        out << "\n\nProperties:\n";
        qsizetype nameWidth = 0, typeWidth = 0;
        for (const PropertyInfo& p : iface.properties) {
            nameWidth = qMax(nameWidth, printable(p.name).size());
            typeWidth = qMax(typeWidth, printable(p.signature).size());
        }
        for (qsizetype i = 0; i < iface.properties.size(); ++i) {
            const PropertyInfo& p = iface.properties.at(i);
            const CallResult& r = values.at(i);
            QString value;
            if (r.ok())
                value = valueText(r.value());
            else if (p.readable)
                value = QStringLiteral("(unreadable: %1: %2)")
                            .arg(errorName(r.status.error), printable(r.status.reason));
            out << "  " << printable(p.name).leftJustified(nameWidth) << "  "
                << printable(p.signature).leftJustified(typeWidth) << "  "
                << accessText(p).leftJustified(10) << "  " << value << '\n';
        }
        if (iface.properties.isEmpty())
            out << "  (none)\n";

        out << "\nMethods:\n";
        // The results line up after the widest parameter list.
        qsizetype callWidth = 0;
        for (const MethodInfo& m : iface.methods)
            callWidth = qMax(callWidth, methodText(MethodInfo{m.name, m.in, {}}).size());
        for (const MethodInfo& m : iface.methods) {
            const QString call = methodText(MethodInfo{m.name, m.in, {}});
            const QString full = methodText(m);
            out << "  "
                << (m.out.isEmpty() ? call : call.leftJustified(callWidth) + full.mid(call.size()))
                << '\n';
        }
        if (iface.methods.isEmpty())
            out << "  (none)\n";

        out << "\nSignals:\n";
        for (const SignalInfo& s : iface.signalList)
            out << "  " << printable(s.name) << '(' << argumentsText(s.args) << ")\n";
        if (iface.signalList.isEmpty())
            out << "  (none)\n";
    }
    out.flush();
    if (unreadable > 0) {
        err << "automationctl: " << unreadable << (unreadable == 1 ? " property" : " properties")
            << " of " << printable(t.object->className()) << " could not be read" << Qt::endl;
        return 1;
    }
    return 0;
}

int call(QCommandLineParser& parser, const QStringList& args) {
    Target t;
    if (const int code = openTarget(parser, args.at(0), &t))
        return code;
    const QString where = args.at(0) + QLatin1Char('.') + args.at(1);
    const MethodInfo* method = findMember(t.interface.methods, args.at(1));
    if (!method)
        return failed(where, Status::failure(Error::UnknownMember,
                                             QStringLiteral("%1 has no method %2; its methods: %3")
                                                 .arg(t.object->className(), args.at(1),
                                                      memberNames(t.interface.methods))));
    const QStringList typed = args.mid(2);
    if (typed.size() != method->in.size())
        return failed(where, Status::failure(Error::InvalidArguments,
                                             QStringLiteral("%1 takes %2 argument%3, %4 given: %5")
                                                 .arg(method->name)
                                                 .arg(method->in.size())
                                                 .arg(method->in.size() == 1 ? "" : "s")
                                                 .arg(typed.size())
                                                 .arg(methodText(*method))));
    QVariantList values;
    for (qsizetype i = 0; i < typed.size(); ++i) {
        QVariant value;
        QString why;
        const Argument& parameter = method->in.at(i);
        if (!typedValue(typed.at(i), parameter.signature, &value, &why))
            return failed(where, Status::failure(Error::InvalidArguments,
                                                 QStringLiteral("argument %1 (%2) of %3: %4")
                                                     .arg(i + 1)
                                                     .arg(argumentsText({parameter}),
                                                          methodText(*method), why)));
        values.append(value);
    }
    const CallResult result = callMethod(*t.object, method->name, values);
    if (!result.ok())
        return failed(where, result.status);
    if (jsonOption(parser)) {
        QJsonArray results;
        for (const QVariant& v : result.values)
            results.append(jsonValue(v));
        printJson(QJsonObject{{QStringLiteral("class"), t.object->className()},
                              {QStringLiteral("method"), method->name},
                              {QStringLiteral("results"), results}});
    } else {
        for (const QVariant& v : result.values)
            out << valueText(v) << '\n';
    }
    return 0;
}

int property(QCommandLineParser& parser, const QStringList& args) {
    Target t;
    if (const int code = openTarget(parser, args.at(0), &t))
        return code;
    const QString where = args.at(0) + QLatin1Char('.') + args.at(1);
    const PropertyInfo* p = findMember(t.interface.properties, args.at(1));
    if (!p)
        return failed(where,
                      Status::failure(Error::UnknownMember,
                                      QStringLiteral("%1 has no property %2; its properties: %3")
                                          .arg(t.object->className(), args.at(1),
                                               memberNames(t.interface.properties))));
    if (args.size() > 2) {
        if (!p->writable)
            return failed(where, Status::failure(Error::InvalidArguments,
                                                 QStringLiteral("%1 is read-only").arg(p->name)));
        QVariant value;
        QString why;
        if (!typedValue(args.at(2), p->signature, &value, &why))
            return failed(
                where,
                Status::failure(Error::InvalidArguments,
                                QStringLiteral("%1 (%2): %3").arg(p->name, p->signature, why)));
        if (const CallResult written = writeProperty(*t.object, p->name, value); !written.ok())
            return failed(where, written.status);
        if (!p->readable)
            return 0;
    } else if (!p->readable) {
        return failed(where, Status::failure(Error::InvalidArguments,
                                             QStringLiteral("%1 is write-only").arg(p->name)));
    }
    const CallResult read = readProperty(*t.object, p->name);
    if (!read.ok())
        return failed(where, read.status);
    if (jsonOption(parser))
        printJson(QJsonObject{{QStringLiteral("class"), t.object->className()},
                              {QStringLiteral("property"), p->name},
                              {QStringLiteral("type"), p->signature},
                              {QStringLiteral("value"), jsonValue(read.value())}});
    else
        out << valueText(read.value()) << '\n';
    return 0;
}

// SIGINT and SIGTERM as an event: the handler writes to a pipe that the
// event loop watches, since nothing else is safe inside a signal handler.
class StopSignals {
public:
    StopSignals() {
        if (::pipe2(s_pipe, O_CLOEXEC | O_NONBLOCK) != 0)
            return;
        struct sigaction action = {};
        action.sa_handler = [](int) {
            const char byte = 1;
            [[maybe_unused]] const ssize_t written = ::write(s_pipe[1], &byte, 1);
        };
        ::sigemptyset(&action.sa_mask);
        for (const int signal : {SIGINT, SIGTERM})
            ::sigaction(signal, &action, nullptr);
        m_notifier.emplace(s_pipe[0], QSocketNotifier::Read);
    }
    ~StopSignals() {
        m_notifier.reset();
        for (const int signal : {SIGINT, SIGTERM})
            ::signal(signal, SIG_DFL);
        for (int& fd : s_pipe) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
    }
    Q_DISABLE_COPY_MOVE(StopSignals)

    QSocketNotifier* notifier() { return m_notifier ? &*m_notifier : nullptr; }

private:
    static inline int s_pipe[2] = {-1, -1};
    std::optional<QSocketNotifier> m_notifier;
};

int watch(QCommandLineParser& parser, const QStringList& args) {
    // Installed first, so that a stop asked for while the object is made is
    // not lost.
    StopSignals stop;
    if (!stop.notifier()) {
        err << "automationctl: cannot watch for SIGINT and SIGTERM" << Qt::endl;
        return 1;
    }
    Target t;
    if (const int code = openTarget(parser, args.at(0), &t))
        return code;
    const SignalInfo* only = nullptr;
    if (args.size() > 1) {
        only = findMember(t.interface.signalList, args.at(1));
        if (!only)
            return failed(args.at(0) + QLatin1Char('.') + args.at(1),
                          Status::failure(Error::UnknownMember,
                                          QStringLiteral("%1 has no signal %2; its signals: %3")
                                              .arg(t.object->className(), args.at(1),
                                                   memberNames(t.interface.signalList))));
    }
    const bool json = jsonOption(parser);
    QEventLoop loop;
    ObjectEvents* events = t.object->events();
    QObject::connect(events, &ObjectEvents::signalReceived, &loop,
                     [&](const QString& name, const QVariantList& values) {
                         if (only && name != only->name)
                             return;
                         if (json) {
                             QJsonArray list;
                             for (const QVariant& v : values)
                                 list.append(jsonValue(v));
                             printJson(QJsonObject{{QStringLiteral("signal"), name},
                                                   {QStringLiteral("args"), list}});
                             return;
                         }
                         QStringList texts;
                         for (const QVariant& v : values)
                             texts.append(valueText(v));
                         out << printable(name) << '(' << texts.join(QLatin1String(", ")) << ')'
                             << Qt::endl;
                     });
    if (!only) {
        QObject::connect(
            events, &ObjectEvents::propertiesChanged, &loop, [&](const QVariantMap& changed) {
                for (auto it = changed.cbegin(); it != changed.cend(); ++it) {
                    if (json)
                        printJson(QJsonObject{{QStringLiteral("property"), it.key()},
                                              {QStringLiteral("value"), jsonValue(it.value())}});
                    else
                        out << printable(it.key()) << " = " << valueText(it.value()) << Qt::endl;
                }
            });
    }
    QString ended;
    QObject::connect(events, &ObjectEvents::disconnected, &loop, [&](const QString& reason) {
        ended = reason;
        loop.exit(1);
    });
    QObject::connect(stop.notifier(), &QSocketNotifier::activated, &loop, [&] { loop.exit(0); });
    if (::isatty(STDERR_FILENO))
        err << "watching " << printable(t.object->className()) << " ("
            << printable(t.object->description()) << "); Ctrl+C stops" << Qt::endl;
    const int code = t.object->isValid() ? loop.exec() : 1;
    if (code != 0)
        return failed(
            args.at(0),
            Status::failure(Error::Disconnected,
                            ended.isEmpty()
                                ? QStringLiteral("the object's connection ended")
                                : QStringLiteral("the object's connection ended: ") + ended));
    t.object->release();
    return 0;
}

void addCallOptions(QCommandLineParser& p) {
    p.addOptions({
        {QStringLiteral("json"), QStringLiteral("Print JSON, for scripts.")},
        {QStringLiteral("timeout"),
         QStringLiteral("Give up on each call after this many milliseconds (default 30000)."),
         QStringLiteral("MS")},
    });
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

// Says so when machine has identities other than id recorded: recording id
// as well trusts a host that presents any of them.
Status warnOfOtherIdentities(const QString& machine, const QString& id) {
    TrustFile hosts(TrustFile::Kind::KnownHosts);
    QList<TrustEntry> entries;
    if (const Status s = hosts.entries(&entries); !s.ok())
        return s;
    QStringList others;
    for (const TrustEntry& e : std::as_const(entries)) {
        if (TrustFile::machineKey(e.machine) != TrustFile::machineKey(machine))
            continue;
        if (e.identity == id)
            return {};  // nothing changes
        if (!others.contains(e.identity))
            others.append(e.identity);
    }
    if (others.isEmpty())
        return {};
    err << "automationctl add-host: warning: " << hosts.path() << " already records "
        << (others.size() == 1 ? "another identity" : "other identities") << " for " << machine
        << ":\n";
    for (const QString& other : std::as_const(others))
        err << "  recorded: " << other << '\n';
    err << "  new:      " << id << "\nA host there that presents any of them will be trusted. If "
        << "the host's identity has changed, remove the old one with: automationctl remove-host "
        << machine << ' ' << others.first() << Qt::endl;
    return {};
}

int addHost(QCommandLineParser& parser, const QStringList& args) {
    if (!typedMachine("add-host", args.at(0)))
        return 2;
    const QString machine = args.at(0).trimmed();
    QString id;
    if (args.size() > 1) {
        if (!typedIdentity("add-host", args.at(1), &id))
            return 2;
        if (const Status s = warnOfOtherIdentities(machine, id); !s.ok())
            return failed(s);
    } else {
        if (const Status s = fetchHostIdentity(machine, &id); !s.ok())
            return failed(s);
        out << "automation-host on " << machine << " port " << hostPort()
            << " presents identity\n  " << id
            << "\nCompare it with what 'automationctl identity' shows for the host's user there."
            << Qt::endl;
        if (const Status s = warnOfOtherIdentities(machine, id); !s.ok())
            return failed(s);
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

// Waits in a local event loop for sender's finished(Status, value).
template <typename Sender, typename Value>
Status waitFor(Sender* sender, void (Sender::*finished)(const Status&, const Value&), Value* into) {
    Status status;
    QEventLoop loop;
    QObject::connect(sender, finished, &loop, [&](const Status& s, const Value& value) {
        status = s;
        *into = value;
        loop.quit();
    });
    loop.exec();
    return status;
}

int pair(QCommandLineParser& parser, const QStringList& args) {
    if (!typedMachine("pair", args.at(0)))
        return 2;
    int ms = Pairing::DefaultWaitMs;
    if (!timeoutOption(parser, &ms))
        return 2;
    const QString machine = args.at(0).trimmed();
    QString comment = parser.value(QStringLiteral("comment"));
    if (!parser.isSet(QStringLiteral("comment")))
        comment = QStringLiteral("%1 on %2")
                      .arg(qEnvironmentVariable("USER"), QSysInfo::machineHostName());
    Pairing pairing;
    QObject::connect(&pairing, &Pairing::codeShown, [&](const QString& code, const QString&) {
        out << "code: " << code << "\nOn " << machine
            << ", the host's user sees this code in 'automationctl requests' or in a "
               "notification,\nand accepts it if it is the same: automationctl accept "
            << normalizedPairingCode(code) << "\nWaiting for the host's user (Ctrl+C cancels)..."
            << Qt::endl;
    });
    out << "Pairing with automation-host on " << machine << " port " << hostPort() << Qt::endl;
    pairing.start(machine, comment, ms);
    PairingResult result;
    const Status s = waitFor(&pairing, &Pairing::finished, &result);
    if (!s.ok()) {
        failed(QStringLiteral("pair %1").arg(machine), s);
        err << "Nothing was recorded." << Qt::endl;
        return 1;
    }
    if (!result.replacedIdentity.isEmpty())
        out << "replaced the identity recorded for " << machine
            << " before: " << result.replacedIdentity << '\n';
    out << "paired with " << machine
        << (result.alreadyAuthorized ? " (authorized there before)" : "")
        << ": recorded host identity " << result.hostIdentity << " in "
        << TrustFile(TrustFile::Kind::KnownHosts).path() << Qt::endl;
    return 0;
}

// The desks of this user's running hosts, one object each.
struct Desk {
    QString socket;
    std::shared_ptr<ObjectHandle> object;
};

QList<Desk> openDesks() {
    QString dir;
    QList<Desk> desks;
    if (const Status s = socketDirectory(&dir); !s.ok()) {
        failed(s);
        return desks;
    }
    const QStringList names = QDir(dir).entryList(
        {QLatin1String(PairingSocketPrefix) + QLatin1Char('*')}, QDir::System | QDir::Files);
    for (const QString& name : names) {
        const QString path = dir + QLatin1Char('/') + name;
        // A host that has gone left its socket behind: nothing answers there.
        const CreateResult r = createObject(QLatin1String("automation.PairingRequests"), path);
        if (r.ok())
            desks.append({path, r.object});
    }
    if (desks.isEmpty())
        err << "automationctl: no automation-host of this user runs on this machine" << Qt::endl;
    return desks;
}

QString ageText(qlonglong seconds) {
    if (seconds < 60)
        return QStringLiteral("%1 s").arg(seconds);
    return QStringLiteral("%1 min").arg(seconds / 60);
}

int requests(QCommandLineParser& parser, const QStringList&) {
    const QList<Desk> desks = openDesks();
    if (desks.isEmpty())
        return 1;
    QJsonArray all;
    int count = 0;
    for (const Desk& desk : desks) {
        const CallResult r = callMethod(*desk.object, QStringLiteral("Requests"));
        if (!r.ok())
            return failed(QStringLiteral("requests"), r.status);
        for (const QVariant& item : r.value().toList()) {
            const QVariantMap m = item.toMap();
            ++count;
            if (jsonOption(parser)) {
                all.append(QJsonObject::fromVariantMap(m));
                continue;
            }
            out << "code: " << printable(m.value(QStringLiteral("code")).toString())
                << "\n  from: " << printable(m.value(QStringLiteral("address")).toString()) << ", "
                << ageText(m.value(QStringLiteral("age")).toLongLong()) << " ago"
                << "\n  identity: " << printable(m.value(QStringLiteral("identity")).toString())
                << "\n  comment: " << printable(m.value(QStringLiteral("comment")).toString())
                << '\n';
        }
    }
    if (jsonOption(parser))
        out << QJsonDocument(all).toJson(QJsonDocument::Compact) << '\n';
    else if (count == 0)
        out << "no pairing requests wait\n";
    return 0;
}

// accept and reject: the desk whose request has the code answers.
int decide(QCommandLineParser& parser, const QStringList& args, bool accept) {
    const char* command = accept ? "accept" : "reject";
    const QString code = normalizedPairingCode(args.join(QString()));
    if (code.isEmpty()) {
        err << "automationctl " << command << ": " << printable(args.join(QLatin1Char(' ')))
            << " is not a code (six digits, as 'automationctl requests' shows them)" << Qt::endl;
        return 2;
    }
    QStringList classes;
    QString error;
    const QString list = parser.value(QStringLiteral("classes"));
    if (accept && parser.isSet(QStringLiteral("classes")) &&
        !parseClassPatterns(list, &classes, &error)) {
        err << "automationctl accept: --classes: " << error << Qt::endl;
        return 2;
    }
    const QList<Desk> desks = openDesks();
    if (desks.isEmpty())
        return 1;
    Status last;
    for (const Desk& desk : desks) {
        const CallResult r = accept
                                 ? callMethod(*desk.object, QStringLiteral("Accept"), {code, list})
                                 : callMethod(*desk.object, QStringLiteral("Reject"), {code});
        if (r.ok()) {
            if (accept)
                out << "accepted " << code << ": authorized " << r.value().toString() << " for "
                    << classesText(classes) << " in "
                    << TrustFile(TrustFile::Kind::AuthorizedClients).path() << '\n';
            else
                out << "rejected " << code << "; nothing was recorded\n";
            return 0;
        }
        last = r.status;
    }
    return failed(QStringLiteral("%1 %2").arg(QLatin1String(command), code), last);
}

int import(QCommandLineParser&, const QStringList& args) {
    if (!typedMachine("import", args.at(0)))
        return 2;
    const QString machine = args.at(0).trimmed();
    ClassListing listing;
    listing.start(machine);
    QStringList served;
    const Status s = waitFor(&listing, &ClassListing::finished, &served);
    if (!s.ok())
        return failed(QStringLiteral("import from %1").arg(machine), s);
    QStringList chosen;
    for (const QString& wanted : args.mid(1)) {
        const auto found = std::find_if(served.cbegin(), served.cend(), [&](const QString& c) {
            return ClassStore::nameKey(c) == ClassStore::nameKey(wanted);
        });
        if (found == served.cend()) {
            err << "automationctl import: automation-host on " << machine << " does not serve "
                << printable(wanted) << " to this user; it serves: "
                << (served.isEmpty() ? QStringLiteral("no class")
                                     : printable(served.join(QLatin1String(", "))))
                << Qt::endl;
            return 1;
        }
        chosen.append(*found);
    }
    if (args.size() == 1)
        chosen = served;
    if (chosen.isEmpty()) {
        out << "automation-host on " << machine << " serves no class to this user\n";
        return 0;
    }
    if (const Status r = importClasses(machine, chosen); !r.ok())
        return failed(r);
    for (const QString& name : std::as_const(chosen))
        out << "imported " << printable(name) << ": remote on " << machine << '\n';
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
         {"NAME [PATH]",
          "Register a class for local activation by the server at PATH, or with --remote "
          "MACHINE for remote activation there, without a local server.",
          registerCommand,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("class-id"), QStringLiteral("The class identifier."),
                           QStringLiteral("ID")});
              p.addOption({QStringLiteral("remote"),
                           QStringLiteral("Activate it on MACHINE; no local server."),
                           QStringLiteral("MACHINE")});
          }}},
        {QStringLiteral("pair"),
         {"MACHINE",
          "Ask automation-host on MACHINE to authorize this user, show the code to compare, "
          "and record the host once its user accepts.",
          pair,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("comment"),
                           QStringLiteral("Shown to the host's user with the request (default: "
                                          "USER on HOSTNAME)."),
                           QStringLiteral("TEXT")});
              p.addOption({QStringLiteral("timeout"),
                           QStringLiteral("Wait this many milliseconds for the host's user "
                                          "(default 300000)."),
                           QStringLiteral("MS")});
          }}},
        {QStringLiteral("requests"),
         {"", "List the pairing requests waiting at this user's automation-host.", requests,
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("json"), QStringLiteral("Print one JSON array.")});
          }}},
        {QStringLiteral("accept"),
         {"CODE", "Accept the pairing request with CODE: authorize its client.",
          [](QCommandLineParser& p, const QStringList& args) { return decide(p, args, true); },
          [](QCommandLineParser& p) {
              p.addOption({QStringLiteral("classes"),
                           QStringLiteral("Only these classes, as authorize --classes takes them."),
                           QStringLiteral("LIST")});
          }}},
        {QStringLiteral("reject"),
         {"CODE", "Reject the pairing request with CODE.",
          [](QCommandLineParser& p, const QStringList& args) { return decide(p, args, false); }}},
        {QStringLiteral("import"),
         {"MACHINE [CLASS...]",
          "Register the classes automation-host on MACHINE serves to this user (or those named) "
          "for remote activation there, without a local server.",
          import}},
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
        {QStringLiteral("introspect"),
         {"NAME", "Create an object and list its properties (with values), methods, signals.",
          introspect, addCallOptions,
          "Properties show name, D-Bus type, access and current value; methods their\n"
          "parameters (type and name) and result type; signals their arguments.\n"
          "With --json, one JSON object: class, interface, properties, methods, signals."}},
        {QStringLiteral("call"),
         {"NAME METHOD [ARG...]", "Create an object, call METHOD with the ARGs, print the result.",
          call, addCallOptions,
          "Each ARG is converted to its parameter's type: numbers, true and false and\n"
          "strings are typed as they are; a list, a structure or a map is written as\n"
          "JSON ('[1, 2]', '{\"key\": \"value\"}'), and a variant as JSON or as plain\n"
          "text. The result prints as text (lists and maps as JSON), one value a line;\n"
          "with --json, as {\"class\", \"method\", \"results\": [...]}. Arguments that\n"
          "start with a dash other than negative numbers follow --.\n"
          "Example: automationctl call Server.Application Add 2 3"}},
        {QStringLiteral("property"),
         {"NAME PROP [VALUE]", "Create an object and print a property, or set it to VALUE.",
          property, addCallOptions,
          "VALUE is converted as call converts its arguments; after setting, the value\n"
          "read back is printed. With --json: {\"class\", \"property\", \"type\", \"value\"}.\n"
          "Example: automationctl property Server.Application Counter 7"}},
        {QStringLiteral("watch"),
         {"NAME [SIGNAL]", "Create an object and print its signals (or SIGNAL only) until stopped.",
          watch, addCallOptions,
          "One line per signal, NAME(ARG, ...), and per changed property, NAME = VALUE\n"
          "(property changes only without SIGNAL). With --json, one JSON object a line:\n"
          "{\"signal\", \"args\"} or {\"property\", \"value\"}. Ctrl+C or SIGTERM stops it\n"
          "(exit 0); the end of the object's connection stops it with exit 1."}},
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
              if (!typedMachine("remove-host", args.at(0)))
                  return 2;
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
              "Inspects and changes the class registration store, and creates and calls\n"
              "objects.\n\n"
              "Commands:\n";
    for (const auto& [name, command] : commands())
        stream
            << "  "
            << QString(name + QLatin1Char(' ') + QLatin1String(command.arguments)).leftJustified(31)
            << ' ' << command.summary << '\n';
    stream << "\nautomationctl COMMAND --help shows the options of a command.\n"
              "\nCalling an object: each command creates its own object and releases it.\n"
              "  automationctl introspect Server.Application\n"
              "  automationctl call Server.Application Echo 'hello world'\n"
              "  automationctl call Server.Application Add 2 3\n"
              "  automationctl property Server.Application Counter 7\n"
              "  automationctl watch Server.Application --json\n"
              "\nPairing two machines (or two users): on the host machine, as the user whose\n"
              "classes are served, start automation-host; on the client, ask to pair:\n"
              "  host$   automation-host --listen 0.0.0.0:47610 &\n"
              "  client$ automationctl pair box.example.org\n"
              "The client prints a code; the host's user sees the same one and accepts it:\n"
              "  host$   automationctl requests\n"
              "  host$   automationctl accept 482019\n"
              "Then the client registers the host's classes and creates them there:\n"
              "  client$ automationctl import box.example.org\n"
              "  client$ automationctl create Server.Application\n"
              "By hand instead: add-host MACHINE HOST-IDENTITY on the client, authorize\n"
              "CLIENT-IDENTITY on the host (each side's identity from automationctl identity).\n"
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
    QString description =
        QStringLiteral("automationctl %1 %2\n%3")
            .arg(found->first, QLatin1String(command.arguments), QLatin1String(command.summary));
    if (*command.details)
        description += QLatin1String("\n\n") + QLatin1String(command.details);
    parser.setApplicationDescription(description);
    parser.addHelpOption();
    const QStringList positional =
        QString::fromLatin1(command.arguments).split(QLatin1Char(' '), Qt::SkipEmptyParts);
    for (const QString& p : positional)
        parser.addPositionalArgument(p, p);
    if (command.options)
        command.options(parser);
    // The parser would take a negative number for an option ("-2" as -2):
    // where typed values are given, such words pass it hidden and come back
    // in place. The value of --timeout is left to the parser.
    QStringList words = args.mid(1);
    QHash<QString, QString> hidden;
    if (*command.details) {
        static const QRegularExpression negative(QStringLiteral("^-(\\d|\\.\\d|inf|nan)"),
                                                 QRegularExpression::CaseInsensitiveOption);
        for (qsizetype i = 1; i < words.size() && words.at(i) != QLatin1String("--"); ++i) {
            if (negative.match(words.at(i)).hasMatch() &&
                words.at(i - 1) != QLatin1String("--timeout")) {
                const QString stand = QChar(0xE000) + QString::number(i);
                hidden.insert(stand, words.at(i));
                words[i] = stand;
            }
        }
    }
    parser.process(words);
    QStringList values = parser.positionalArguments();
    for (QString& value : values)
        value = hidden.value(value, value);
    const auto required = std::count_if(positional.cbegin(), positional.cend(),
                                        [](const QString& p) { return !p.startsWith('['); });
    const bool variadic =
        !positional.isEmpty() && positional.last().endsWith(QLatin1String("...]"));
    if (values.size() < required || (!variadic && values.size() > positional.size())) {
        err << "automationctl " << found->first << ": expected " << command.arguments << "\n";
        return 2;
    }
    const int code = command.run(parser, values);
    out.flush();
    return code;
}
