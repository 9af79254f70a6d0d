#include "busexport.h"

#include <automation/serverkit.h>

#include "buslink.h"
#include "busvalues.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QSet>
#include <QTextStream>
#include <QVariant>

#include <systemd/sd-bus.h>

#include <mutex>

namespace automation {

namespace {

constexpr const char* PeerInterface = "org.freedesktop.DBus.Peer";
constexpr int MaxArguments = 10;

// Each left-out member is named once per process.
void leftOut(const QByteArray& what, const QByteArray& why) {
    static QSet<QByteArray> told;
    if (told.contains(what))
        return;
    told.insert(what);
    QTextStream(stderr) << QFileInfo(QCoreApplication::applicationFilePath()).fileName()
                        << ": left out of the interface: " << what << " (" << why << ")"
                        << Qt::endl;
}

// Parameter names, each followed by a NUL, as sd-bus takes them; blank
// names are made up.
QByteArray namesOf(const QList<QByteArray>& names, const char* prefix) {
    QByteArray all;
    for (qsizetype i = 0; i < names.size(); ++i) {
        all += names.at(i).isEmpty() ? QByteArray(prefix) + QByteArray::number(i) : names.at(i);
        all += '\0';
    }
    return all;
}

int fail(sd_bus_error* error, const char* name, const QString& message) {
    return sd_bus_error_set(error, name, message.toUtf8().constData());
}

}  // namespace

BusExport::BusExport(ServedObject* object, const QString& className, BusLink* link)
    : QObject(link), m_object(object), m_interface(interfaceName(className)), m_link(link) {}

BusExport::~BusExport() {
    sd_bus_slot_unref(m_slot);
    sd_bus_slot_unref(m_filter);
}

QByteArray BusExport::interfaceName(const QString& className) {
    QByteArray name;
    const QStringList parts = className.trimmed().split(QLatin1Char('.'), Qt::SkipEmptyParts);
    for (const QString& part : parts) {
        QByteArray element;
        for (const QChar c : part)
            element += (c.unicode() < 128 && (c.isLetterOrNumber() || c == QLatin1Char('_')))
                           ? char(c.unicode())
                           : '_';
        if (element.at(0) >= '0' && element.at(0) <= '9')
            element.prepend('_');
        name += (name.isEmpty() ? "" : ".") + element;
    }
    if (!name.contains('.'))
        name = "automation.Object" + (name.isEmpty() ? QByteArray() : "." + name);
    return name.left(255);
}

bool BusExport::publish(QString* error) {
    const QMetaObject* meta = m_object->metaObject();
    const QByteArray type = meta->className();
    QSet<QByteArray> names;
    for (int i = QObject::staticMetaObject.methodCount(); i < meta->methodCount(); ++i) {
        const QMetaMethod method = meta->method(i);
        const QByteArray what = type + "::" + method.methodSignature();
        QByteArray in;
        bool mapped = true;
        for (int p = 0; p < method.parameterCount() && mapped; ++p) {
            const QByteArray sig = busvalues::signatureOf(method.parameterMetaType(p));
            if (sig.isEmpty()) {
                leftOut(what, "parameter type " + QByteArray(method.parameterMetaType(p).name()) +
                                  " has no D-Bus type");
                mapped = false;
            }
            in += sig;
        }
        if (!mapped)
            continue;
        if (method.methodType() == QMetaMethod::Signal) {
            if (names.contains("signal " + method.name()))
                continue;
            names.insert("signal " + method.name());
            m_signals.push_back(
                {method, method.name(), in, namesOf(method.parameterNames(), "arg"), {}});
            continue;
        }
        if (method.access() != QMetaMethod::Public || (method.methodType() != QMetaMethod::Slot &&
                                                       method.methodType() != QMetaMethod::Method))
            continue;
        if (names.contains("method " + method.name()))
            continue;  // an overload, or a default argument's short form
        names.insert("method " + method.name());
        if (method.parameterCount() > MaxArguments) {
            leftOut(what, "more than 10 parameters");
            continue;
        }
        QByteArray out;
        if (method.returnMetaType().id() != QMetaType::Void) {
            out = busvalues::signatureOf(method.returnMetaType());
            if (out.isEmpty()) {
                leftOut(what, "result type " + QByteArray(method.returnMetaType().name()) +
                                  " has no D-Bus type");
                continue;
            }
        }
        QByteArray argNames = namesOf(method.parameterNames(), "arg");
        if (!out.isEmpty())
            argNames += QByteArray("result") + '\0';
        m_methods.push_back({method, method.name(), in, out, argNames});
    }
    for (int i = QObject::staticMetaObject.propertyCount(); i < meta->propertyCount(); ++i) {
        const QMetaProperty property = meta->property(i);
        const QByteArray sig = busvalues::signatureOf(property.metaType());
        if (sig.isEmpty()) {
            leftOut(type + "::" + property.name(),
                    "type " + QByteArray(property.typeName()) + " has no D-Bus type");
            continue;
        }
        m_properties.push_back({property, sig});
        if (property.hasNotifySignal()) {
            for (Signal& s : m_signals)
                if (s.method.methodIndex() == property.notifySignalIndex())
                    s.notifies = property.name();
        }
    }

    m_vtable.reserve(m_methods.size() + m_properties.size() + m_signals.size() + 2);
    m_vtable.push_back(SD_BUS_VTABLE_START(0));
    for (const Method& m : m_methods) {
        // The names follow the signatures: in names, then out names.
        m_vtable.push_back(SD_BUS_METHOD_WITH_NAMES_OFFSET(
            m.name.constData(), m.in.constData(), , m.out.constData(), m.names.constData(),
            &BusExport::callMethod, 0, SD_BUS_VTABLE_UNPRIVILEGED));
    }
    for (const Property& p : m_properties) {
        const uint64_t flags = p.property.hasNotifySignal() ? SD_BUS_VTABLE_PROPERTY_EMITS_CHANGE
                               : p.property.isConstant()    ? SD_BUS_VTABLE_PROPERTY_CONST
                                                            : 0;
        if (p.property.isWritable())
            m_vtable.push_back(SD_BUS_WRITABLE_PROPERTY(
                p.property.name(), p.signature.constData(), &BusExport::getProperty,
                &BusExport::setProperty, 0, flags | SD_BUS_VTABLE_UNPRIVILEGED));
        else
            m_vtable.push_back(SD_BUS_PROPERTY(p.property.name(), p.signature.constData(),
                                               &BusExport::getProperty, 0, flags));
    }
    for (const Signal& s : m_signals)
        m_vtable.push_back(SD_BUS_SIGNAL_WITH_NAMES(s.name.constData(), s.signature.constData(),
                                                    s.names.constData(), 0));
    m_vtable.push_back(SD_BUS_VTABLE_END);

    int r = sd_bus_add_filter(m_link->bus(), &m_filter, &BusExport::refuseMachineId, this);
    if (r >= 0)
        r = sd_bus_add_object_vtable(m_link->bus(), &m_slot, Path, m_interface.constData(),
                                     m_vtable.data(), this);
    if (r < 0) {
        *error = QStringLiteral("cannot publish the object: %1")
                     .arg(QString::fromLocal8Bit(strerror(-r)));
        return false;
    }
    const int base = QObject::staticMetaObject.methodCount();
    for (size_t i = 0; i < m_signals.size(); ++i)
        QMetaObject::connect(m_object, m_signals[i].method.methodIndex(), this, base + int(i),
                             Qt::DirectConnection);
    return true;
}

// The served object's signals arrive here (connected above by index).
int BusExport::qt_metacall(QMetaObject::Call call, int id, void** args) {
    id = QObject::qt_metacall(call, id, args);
    if (id < 0 || call != QMetaObject::InvokeMetaMethod)
        return id;
    if (size_t(id) < m_signals.size())
        relay(m_signals[size_t(id)], args);
    return -1;
}

void BusExport::relay(const Signal& signal, void** args) {
    if (!m_link->isOpen())
        return;
    sd_bus_message* message = nullptr;
    if (sd_bus_message_new_signal(m_link->bus(), &message, Path, m_interface.constData(),
                                  signal.name.constData()) < 0)
        return;
    QString error;
    const char* sig = signal.signature.constData();
    bool ok = true;
    for (int p = 0; p < signal.method.parameterCount() && ok; ++p) {
        const int length = busvalues::completeTypeLength(sig);
        const QVariant value(signal.method.parameterMetaType(p), args[p + 1]);
        ok = busvalues::append(message, QByteArray(sig, length).constData(), value, &error);
        sig += length;
    }
    if (ok)
        sd_bus_send(m_link->bus(), message, nullptr);
    sd_bus_message_unref(message);
    if (!signal.notifies.isEmpty())
        sd_bus_emit_properties_changed(m_link->bus(), Path, m_interface.constData(),
                                       signal.notifies.constData(), nullptr);
    m_link->process();
}

int BusExport::callMethod(sd_bus_message* m, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<BusExport*>(userdata);
    const char* member = sd_bus_message_get_member(m);
    const Method* found = nullptr;
    for (const Method& method : self->m_methods)
        if (method.name == member)
            found = &method;
    if (!found || !self->m_object)
        return fail(error, SD_BUS_ERROR_UNKNOWN_METHOD,
                    QStringLiteral("no method %1").arg(QString::fromUtf8(member)));
    QVariantList values;
    QString why;
    if (!busvalues::readAll(m, &values, &why))
        return fail(error, SD_BUS_ERROR_INVALID_ARGS, why);
    const QMetaMethod& method = found->method;
    if (values.size() != method.parameterCount())
        return fail(error, SD_BUS_ERROR_INVALID_ARGS,
                    QStringLiteral("%1 takes %2 arguments")
                        .arg(QString::fromUtf8(member))
                        .arg(method.parameterCount()));
    QVariant arguments[MaxArguments];
    QGenericArgument generic[MaxArguments];
    for (int p = 0; p < method.parameterCount(); ++p) {
        const QMetaType type = method.parameterMetaType(p);
        if (!busvalues::toType(values.at(p), type, &arguments[p]))
            return fail(error, SD_BUS_ERROR_INVALID_ARGS,
                        QStringLiteral("argument %1 of %2 is not a %3")
                            .arg(p + 1)
                            .arg(QString::fromUtf8(member), QString::fromLatin1(type.name())));
        // A QVariant parameter takes the variant itself.
        generic[p] = QGenericArgument(type.name(), type == QMetaType::fromType<QVariant>()
                                                       ? static_cast<const void*>(&arguments[p])
                                                       : arguments[p].constData());
    }
    const QMetaType resultType = method.returnMetaType();
    QVariant result = resultType.id() == QMetaType::Void ? QVariant() : QVariant(resultType);
    QGenericReturnArgument ret;
    if (result.isValid())
        ret =
            QGenericReturnArgument(resultType.name(), resultType == QMetaType::fromType<QVariant>()
                                                          ? static_cast<void*>(&result)
                                                          : result.data());
    QPointer<ServedObject> object = self->m_object;
    const bool invoked = method.invoke(object, Qt::DirectConnection, ret, generic[0], generic[1],
                                       generic[2], generic[3], generic[4], generic[5], generic[6],
                                       generic[7], generic[8], generic[9]);
    if (!invoked)
        return fail(error, SD_BUS_ERROR_FAILED,
                    QStringLiteral("%1 could not be called").arg(QString::fromUtf8(member)));
    QString errorName;
    QString errorMessage;
    if (object && object->takeCallError(&errorName, &errorMessage))
        return sd_bus_error_set(error, errorName.toUtf8().constData(),
                                errorMessage.toUtf8().constData());
    sd_bus_message* reply = nullptr;
    int r = sd_bus_message_new_method_return(m, &reply);
    if (r < 0)
        return r;
    if (!found->out.isEmpty() &&
        !busvalues::append(
            reply, found->out.constData(),
            resultType == QMetaType::fromType<QVariant>() ? result.value<QVariant>() : result,
            &why)) {
        sd_bus_message_unref(reply);
        return fail(error, SD_BUS_ERROR_FAILED, why);
    }
    r = sd_bus_send(nullptr, reply, nullptr);
    sd_bus_message_unref(reply);
    return r < 0 ? r : 1;
}

int BusExport::getProperty(sd_bus*, const char*, const char*, const char* property,
                           sd_bus_message* reply, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<BusExport*>(userdata);
    for (const Property& p : self->m_properties) {
        if (qstrcmp(p.property.name(), property) != 0 || !self->m_object)
            continue;
        QString why;
        QVariant value = p.property.read(self->m_object);
        if (p.signature == "v")
            value = value.value<QVariant>();
        if (!busvalues::append(reply, p.signature.constData(), value, &why))
            return fail(error, SD_BUS_ERROR_FAILED, why);
        return 1;
    }
    return fail(error, SD_BUS_ERROR_UNKNOWN_PROPERTY,
                QStringLiteral("no property %1").arg(QString::fromUtf8(property)));
}

int BusExport::setProperty(sd_bus*, const char*, const char*, const char* property,
                           sd_bus_message* value, void* userdata, sd_bus_error* error) {
    auto* self = static_cast<BusExport*>(userdata);
    for (const Property& p : self->m_properties) {
        if (qstrcmp(p.property.name(), property) != 0 || !self->m_object)
            continue;
        QVariantList values;
        QString why;
        if (!busvalues::readAll(value, &values, &why))
            return fail(error, SD_BUS_ERROR_INVALID_ARGS, why);
        QVariant converted;
        if (values.size() != 1 ||
            !busvalues::toType(values.first(), p.property.metaType(), &converted) ||
            !p.property.write(self->m_object, converted))
            return fail(error, SD_BUS_ERROR_INVALID_ARGS,
                        QStringLiteral("property %1 does not take that value")
                            .arg(QString::fromUtf8(property)));
        return 1;
    }
    return fail(error, SD_BUS_ERROR_UNKNOWN_PROPERTY,
                QStringLiteral("no property %1").arg(QString::fromUtf8(property)));
}

// sd-bus answers Peer.GetMachineId with /etc/machine-id itself; a client
// learns nothing of the machine beyond what the object offers.
int BusExport::refuseMachineId(sd_bus_message* m, void*, sd_bus_error*) {
    if (sd_bus_message_is_method_call(m, PeerInterface, "GetMachineId") <= 0)
        return 0;
    sd_bus_reply_method_errorf(m, SD_BUS_ERROR_ACCESS_DENIED,
                               "this server does not tell its machine's id");
    return 1;
}

}  // namespace automation
