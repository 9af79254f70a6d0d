#include "callhandle.h"

#include "buslink.h"
#include "busvalues.h"
#include "channel.h"
#include "pipe.h"
#include "transport.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QLocalSocket>
#include <QPointer>
#include <QXmlStreamReader>

#include <systemd/sd-bus.h>

#include <fcntl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <map>

namespace automation {

namespace {

constexpr const char* ObjectPath = "/";
constexpr const char* PropertiesInterface = "org.freedesktop.DBus.Properties";

// Runs f on the next turn of the event loop (or now, without one): outcomes
// never arrive from inside the call that asked for them, nor from inside
// sd-bus's own processing.
void later(std::function<void()> f) {
    if (QCoreApplication* app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(f), Qt::QueuedConnection);
    else
        f();
}

CallResult failure(Error error, const QString& reason) {
    return {Status::failure(error, reason), {}};
}

QString count(qsizetype n, const char* noun) {
    return QStringLiteral("%1 %2%3").arg(n).arg(QLatin1String(noun)).arg(n == 1 ? "" : "s");
}

QString describe(const QList<Argument>& args) {
    QStringList parts;
    for (const Argument& a : args)
        parts << (a.name.isEmpty() ? a.signature : a.signature + QLatin1Char(' ') + a.name);
    return parts.join(QStringLiteral(", "));
}

// The object's interface from its introspection: the first one that is not
// one of D-Bus's standard interfaces.
bool parseInterface(const QString& xml, ObjectInterface* out) {
    QXmlStreamReader reader(xml);
    bool inside = false;
    bool found = false;
    enum class Member { None, Method, Signal } member = Member::None;
    while (!reader.atEnd()) {
        reader.readNext();
        if (reader.isEndElement()) {
            if (reader.name() == QLatin1String("interface") && inside) {
                inside = false;
                found = true;
                break;
            }
            if (reader.name() == QLatin1String("method") ||
                reader.name() == QLatin1String("signal"))
                member = Member::None;
            continue;
        }
        if (!reader.isStartElement())
            continue;
        const auto attributes = reader.attributes();
        const QString name = attributes.value(QLatin1String("name")).toString();
        if (reader.name() == QLatin1String("interface")) {
            if (!name.startsWith(QLatin1String("org.freedesktop.DBus."))) {
                inside = true;
                out->name = name;
            }
        } else if (!inside) {
            continue;
        } else if (reader.name() == QLatin1String("method")) {
            out->methods.append({name, {}, {}});
            member = Member::Method;
        } else if (reader.name() == QLatin1String("signal")) {
            out->signalList.append({name, {}});
            member = Member::Signal;
        } else if (reader.name() == QLatin1String("arg")) {
            const Argument arg{name, attributes.value(QLatin1String("type")).toString()};
            if (member == Member::Signal)
                out->signalList.last().args.append(arg);
            else if (member == Member::Method)
                (attributes.value(QLatin1String("direction")) == QLatin1String("out")
                     ? out->methods.last().out
                     : out->methods.last().in)
                    .append(arg);
        } else if (reader.name() == QLatin1String("property")) {
            const QString access = attributes.value(QLatin1String("access")).toString();
            out->properties.append({name, attributes.value(QLatin1String("type")).toString(),
                                    access.contains(QLatin1String("read")),
                                    access.contains(QLatin1String("write"))});
        }
    }
    return found && !reader.hasError();
}

class CallHandle final : public ObjectHandle {
public:
    CallHandle(const QString& className, const QString& description, Transport* transport,
               int callMs, bool forRelay)
        : m_className(className),
          m_description(description),
          m_transport(transport),
          m_callMs(callMs),
          m_forRelay(forRelay) {
        transport->setParent(nullptr);
        whenDisconnected(transport->device(), &m_owner, [this] { ended(QString()); });
    }
    ~CallHandle() override { release(); }

    QString className() const override { return m_className; }
    QString description() const override { return m_description; }
    bool isValid() const override { return !m_ended; }
    ObjectEvents* events() override {
        startCalls();
        return &m_events;
    }
    void setCallTimeout(int ms) override { m_callMs = qMax(1, ms); }
    int callTimeout() const override { return m_callMs; }

    QIODevice* relayDevice() const {
        return m_forRelay && m_transport ? m_transport->device() : nullptr;
    }

    void release() override {
        if (m_released)
            return;
        m_released = true;
        ended(QStringLiteral("the object was released"));
        delete m_link;
        m_link = nullptr;
        // The pipes go before the connection they read.
        qDeleteAll(m_owner.children());
        if (m_transport) {
            m_transport->disconnect();
            m_transport->close();
            if (QCoreApplication::instance())
                m_transport->deleteLater();
            else
                delete m_transport.data();
        }
    }

    void introspect(InterfaceDone done) override {
        startCalls();
        withInterface([this, done](const Status& s) { done(s, m_interface); });
    }

    void call(const QString& method, const QVariantList& args, CallDone done) override {
        startCalls();
        // With the interface known, the call goes out at once; only its
        // failures found here wait for the event loop.
        if (m_interfaceState == InterfaceState::Ready && !m_ended) {
            const CallDone deferred = [done](const CallResult& r) {
                later([done, r] { done(r); });
            };
            return callNow(method, args, done, deferred);
        }
        withInterface([=, this](const Status& s) {
            if (!s.ok())
                return done({s, {}});
            callNow(method, args, done, done);
        });
    }

    void readProperty(const QString& name, CallDone done) override {
        startCalls();
        property(name, false, QVariant(), std::move(done));
    }

    void writeProperty(const QString& name, const QVariant& value, CallDone done) override {
        startCalls();
        property(name, true, value, std::move(done));
    }

private:
    // Sends the call; done hears the answer, failed what goes wrong here.
    void callNow(const QString& method, const QVariantList& args, const CallDone& done,
                 const CallDone& failed) {
        const MethodInfo* info = m_interface.method(method);
        if (!info)
            return failed(failure(Error::UnknownMember,
                                  QStringLiteral("%1 has no method %2").arg(m_className, method)));
        if (args.size() != info->in.size())
            return failed(
                failure(Error::InvalidArguments,
                        QStringLiteral("%1(%2) takes %3, not %4")
                            .arg(method, describe(info->in), count(info->in.size(), "argument"),
                                 QString::number(args.size()))));
        sd_bus_message* m = nullptr;
        if (sd_bus_message_new_method_call(m_link->bus(), &m, nullptr, ObjectPath,
                                           m_interface.name.toUtf8().constData(),
                                           method.toUtf8().constData()) < 0)
            return failed(failure(Error::Disconnected, closedReason()));
        for (qsizetype i = 0; i < args.size(); ++i) {
            QString why;
            if (!busvalues::append(m, info->in.at(i).signature.toUtf8().constData(), args.at(i),
                                   &why)) {
                sd_bus_message_unref(m);
                return failed(
                    failure(Error::InvalidArguments, QStringLiteral("argument %1 of %2(%3): %4")
                                                         .arg(i + 1)
                                                         .arg(method, describe(info->in), why)));
            }
        }
        send(m, method, done);
    }

    struct Pending {
        CallHandle* handle;
        quint64 id;
        QString what;
        sd_bus_slot* slot = nullptr;
        std::function<void(sd_bus_message*, const CallResult&)> done;
    };

    // The call channel starts with the first use of the object, so that an
    // object that is only created and released costs no D-Bus at all.
    void startCalls() {
        if (m_link || m_ended || m_forRelay || !m_transport)
            return;
        QIODevice* device = m_transport->device();
        int fd = -1;
        if (auto* local = qobject_cast<QLocalSocket*>(device)) {
            // A local server: sd-bus takes the connection itself.
            fd = ::fcntl(int(local->socketDescriptor()), F_DUPFD_CLOEXEC, 3);
            local->disconnect();
            m_transport->disconnect();
            delete m_transport.data();
        } else {
            // Over the network, the transport (TLS) stays, and a socket
            // pair carries D-Bus between it and sd-bus; what the host sends
            // is checked on the way.
            int pair[2];
            if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0, pair) == 0) {
                fd = pair[0];
                auto* inner = new QLocalSocket(&m_owner);
                inner->setSocketDescriptor(pair[1]);
                auto* in = new Pipe(device, inner, false, &m_owner);
                auto* out = new Pipe(inner, device, std::nullopt, &m_owner);
                for (Pipe* pipe : {in, out})
                    QObject::connect(pipe, &Pipe::failed, &m_owner,
                                     [this](const QString& reason) { ended(reason); });
                whenDisconnected(inner, &m_owner, [this] { ended(QString()); });
            }
        }
        if (fd < 0)
            return ended(QStringLiteral("cannot set up the call channel: %1")
                             .arg(QString::fromLocal8Bit(strerror(errno))));
        m_link = new BusLink(BusLink::Role::Client, fd);
        QObject::connect(m_link, &BusLink::closed, &m_owner,
                         [this](const QString& reason) { ended(reason); });
        if (const Status s = m_link->start(); !s.ok())
            return ended(s.reason);
        sd_bus_match_signal(m_link->bus(), nullptr, nullptr, ObjectPath, nullptr, nullptr,
                            &CallHandle::onSignal, this);
        m_link->process();
    }

    QString closedReason() const {
        return m_endReason.isEmpty()
                   ? QStringLiteral("the connection to the %1 object has ended").arg(m_className)
                   : QStringLiteral("the connection to the %1 object has ended: %2")
                         .arg(m_className, m_endReason);
    }

    // The connection is over: every pending call fails, once.
    void ended(const QString& reason) {
        if (m_ended)
            return;
        m_ended = true;
        m_endReason = reason;
        if (m_link)
            m_link->close(reason);
        auto pending = std::move(m_pending);
        m_pending.clear();
        const CallResult result = failure(Error::Disconnected, closedReason());
        for (auto& [id, p] : pending) {
            sd_bus_slot_unref(p->slot);
            later([done = std::move(p->done), result] { done(nullptr, result); });
        }
        auto waiting = std::move(m_waiting);
        m_waiting.clear();
        m_interfaceState = InterfaceState::None;
        for (auto& w : waiting)
            later([w = std::move(w), status = result.status] { w(status); });
        if (!m_released) {
            QPointer<ObjectEvents> events = &m_events;
            later([events, reason = closedReason()] {
                if (events)
                    emit events->disconnected(reason);
            });
        }
    }

    // Sends a method call; done gets the reply's values or the failure.
    void send(sd_bus_message* m, const QString& what, CallDone done) {
        sendRaw(m, what, [done = std::move(done)](sd_bus_message* reply, const CallResult& r) {
            if (!r.ok() || !reply)
                return done(r);
            CallResult result;
            QString why;
            if (!busvalues::readAll(reply, &result.values, &why))
                return done(failure(Error::ProtocolError,
                                    QStringLiteral("the answer could not be read: %1").arg(why)));
            done(result);
        });
    }

    void sendRaw(sd_bus_message* m, const QString& what,
                 std::function<void(sd_bus_message*, const CallResult&)> done) {
        if (m_ended || !m_link) {
            sd_bus_message_unref(m);
            const CallResult result = failure(Error::Disconnected, closedReason());
            return later([done = std::move(done), result] { done(nullptr, result); });
        }
        const quint64 id = m_nextId++;
        auto pending = std::make_unique<Pending>(Pending{this, id, what, nullptr, std::move(done)});
        const int r = sd_bus_call_async(m_link->bus(), &pending->slot, m, &CallHandle::onReply,
                                        pending.get(), uint64_t(m_callMs) * 1000);
        sd_bus_message_unref(m);
        if (r < 0) {
            const CallResult result =
                failure(Error::Disconnected, QStringLiteral("%1 could not be sent: %2")
                                                 .arg(what, QString::fromLocal8Bit(strerror(-r))));
            return later([done = std::move(pending->done), result] { done(nullptr, result); });
        }
        m_pending.emplace(id, std::move(pending));
        m_link->process();
    }

    static int onReply(sd_bus_message* reply, void* userdata, sd_bus_error*) {
        auto* p = static_cast<Pending*>(userdata);
        CallHandle* self = p->handle;
        auto node = self->m_pending.extract(p->id);
        if (node.empty())
            return 0;
        std::unique_ptr<Pending> pending = std::move(node.mapped());
        sd_bus_slot_unref(pending->slot);
        CallResult result;
        if (sd_bus_message_is_method_error(reply, nullptr) > 0)
            result = self->errorOf(sd_bus_message_get_error(reply), pending->what);
        // The reply is read now, while sd-bus holds it; the caller hears of
        // it on the next turn of the event loop.
        sd_bus_message_ref(reply);
        later([pending = std::shared_ptr<Pending>(std::move(pending)), reply, result] {
            pending->done(result.ok() ? reply : nullptr, result);
            sd_bus_message_unref(reply);
        });
        return 1;
    }

    CallResult errorOf(const sd_bus_error* e, const QString& what) const {
        const QString name = QString::fromUtf8(e && e->name ? e->name : "");
        const QString message = QString::fromUtf8(e && e->message ? e->message : "");
        if (name == QLatin1String(SD_BUS_ERROR_NO_REPLY)) {
            if (!m_link || !m_link->isOpen() || sd_bus_is_open(m_link->bus()) <= 0)
                return failure(Error::Disconnected,
                               QStringLiteral("%1 on %2 got no answer: the connection ended "
                                              "(its server may have exited)")
                                   .arg(what, m_className));
            return failure(Error::Timeout, QStringLiteral("%1 on %2 got no answer within %3 ms")
                                               .arg(what, m_className)
                                               .arg(m_callMs));
        }
        if (name == QLatin1String(SD_BUS_ERROR_UNKNOWN_METHOD) ||
            name == QLatin1String(SD_BUS_ERROR_UNKNOWN_PROPERTY) ||
            name == QLatin1String(SD_BUS_ERROR_UNKNOWN_INTERFACE) ||
            name == QLatin1String(SD_BUS_ERROR_UNKNOWN_OBJECT))
            return failure(Error::UnknownMember, QStringLiteral("%1: %2").arg(what, message));
        if (name == QLatin1String(SD_BUS_ERROR_INVALID_ARGS) ||
            name == QLatin1String(SD_BUS_ERROR_PROPERTY_READ_ONLY))
            return failure(Error::InvalidArguments, QStringLiteral("%1: %2").arg(what, message));
        return failure(Error::CallFailed,
                       QStringLiteral("%1 failed: %2 (%3)").arg(what, message, name));
    }

    static int onSignal(sd_bus_message* m, void* userdata, sd_bus_error*) {
        auto* self = static_cast<CallHandle*>(userdata);
        const QString member = QString::fromUtf8(sd_bus_message_get_member(m));
        QVariantList values;
        QString why;
        if (!busvalues::readAll(m, &values, &why))
            return 0;
        if (sd_bus_message_is_signal(m, PropertiesInterface, "PropertiesChanged") > 0) {
            const QVariantMap changed = values.value(1).toMap();
            QPointer<ObjectEvents> events = &self->m_events;
            later([events, changed] {
                if (events)
                    emit events->propertiesChanged(changed);
            });
        } else {
            QPointer<ObjectEvents> events = &self->m_events;
            later([events, member, values] {
                if (events)
                    emit events->signalReceived(member, values);
            });
        }
        return 0;
    }

    enum class InterfaceState { None, Reading, Ready };

    // Runs then once the interface is known (or could not be read).
    void withInterface(std::function<void(const Status&)> then) {
        // Continuations check the status before they touch the handle, which
        // may have been released meanwhile.
        if (m_interfaceState == InterfaceState::Ready)
            return later([alive = QPointer<QObject>(&m_owner), then = std::move(then),
                          gone = failure(Error::Disconnected, closedReason()).status] {
                then(alive ? Status() : gone);
            });
        m_waiting.push_back(std::move(then));
        if (m_interfaceState == InterfaceState::Reading)
            return;
        m_interfaceState = InterfaceState::Reading;
        sd_bus_message* m = nullptr;
        if (m_ended || !m_link ||
            sd_bus_message_new_method_call(m_link->bus(), &m, nullptr, ObjectPath,
                                           "org.freedesktop.DBus.Introspectable",
                                           "Introspect") < 0) {
            const Status status = failure(Error::Disconnected, closedReason()).status;
            return later([this, alive = QPointer<QObject>(&m_owner), status] {
                if (alive)
                    interfaceRead(status, {});
            });
        }
        send(m, QStringLiteral("reading the interface"),
             [this, alive = QPointer<QObject>(&m_owner)](const CallResult& r) {
                 if (!alive)
                     return;
                 if (!r.ok())
                     return interfaceRead(r.status, {});
                 ObjectInterface parsed;
                 if (!parseInterface(r.value().toString(), &parsed))
                     return interfaceRead(
                         Status::failure(
                             Error::ProtocolError,
                             QStringLiteral("the %1 object did not describe its interface")
                                 .arg(m_className)),
                         {});
                 interfaceRead({}, parsed);
             });
    }

    void interfaceRead(const Status& status, const ObjectInterface& parsed) {
        if (status.ok()) {
            m_interface = parsed;
            m_interfaceState = InterfaceState::Ready;
        } else {
            m_interfaceState = InterfaceState::None;
        }
        auto waiting = std::move(m_waiting);
        m_waiting.clear();
        for (auto& w : waiting)
            w(status);
    }

    void property(const QString& name, bool write, const QVariant& value, CallDone done) {
        withInterface([=, this](const Status& s) {
            if (!s.ok())
                return done({s, {}});
            const PropertyInfo* info = m_interface.property(name);
            if (!info)
                return done(
                    failure(Error::UnknownMember,
                            QStringLiteral("%1 has no property %2").arg(m_className, name)));
            if (write && !info->writable)
                return done(failure(
                    Error::InvalidArguments,
                    QStringLiteral("property %1 of %2 is read-only").arg(name, m_className)));
            sd_bus_message* m = nullptr;
            if (sd_bus_message_new_method_call(m_link->bus(), &m, nullptr, ObjectPath,
                                               PropertiesInterface, write ? "Set" : "Get") < 0)
                return done(failure(Error::Disconnected, closedReason()));
            const QByteArray interface = m_interface.name.toUtf8();
            const QByteArray property = name.toUtf8();
            sd_bus_message_append(m, "ss", interface.constData(), property.constData());
            if (write) {
                QString why;
                const QByteArray sig = info->signature.toUtf8();
                const bool ok = sd_bus_message_open_container(m, 'v', sig.constData()) >= 0 &&
                                busvalues::append(m, sig.constData(), value, &why) &&
                                sd_bus_message_close_container(m) >= 0;
                if (!ok) {
                    sd_bus_message_unref(m);
                    return done(failure(
                        Error::InvalidArguments,
                        QStringLiteral("property %1 (%2): %3").arg(name, info->signature, why)));
                }
            }
            send(m, QStringLiteral("property %1").arg(name), std::move(done));
        });
    }

    QString m_className;
    QString m_description;
    QPointer<Transport> m_transport;
    int m_callMs;
    bool m_forRelay;
    QObject m_owner;  // what lives as long as the calls do
    ObjectEvents m_events;
    BusLink* m_link = nullptr;
    std::map<quint64, std::unique_ptr<Pending>> m_pending;
    quint64 m_nextId = 1;
    ObjectInterface m_interface;
    InterfaceState m_interfaceState = InterfaceState::None;
    std::vector<std::function<void(const Status&)>> m_waiting;
    QString m_endReason;
    bool m_ended = false;
    bool m_released = false;
};

// Runs a local event loop until done has been called.
template <typename Start>
void wait(Start start) {
    QEventLoop loop;
    bool finished = false;
    start([&] {
        finished = true;
        loop.quit();
    });
    if (!finished)
        loop.exec();
}

}  // namespace

std::shared_ptr<ObjectHandle> makeObjectHandle(const QString& className, const QString& description,
                                               Transport* transport, int callMs, bool forRelay) {
    return std::make_shared<CallHandle>(className, description, transport, callMs, forRelay);
}

QIODevice* relayDevice(ObjectHandle* handle) {
    auto* calls = dynamic_cast<CallHandle*>(handle);
    return calls ? calls->relayDevice() : nullptr;
}

const MethodInfo* ObjectInterface::method(const QString& name) const {
    for (const MethodInfo& m : methods)
        if (m.name == name)
            return &m;
    return nullptr;
}

const PropertyInfo* ObjectInterface::property(const QString& name) const {
    for (const PropertyInfo& p : properties)
        if (p.name == name)
            return &p;
    return nullptr;
}

const SignalInfo* ObjectInterface::signal(const QString& name) const {
    for (const SignalInfo& s : signalList)
        if (s.name == name)
            return &s;
    return nullptr;
}

Status introspectObject(ObjectHandle& object, ObjectInterface* interface) {
    Status status;
    wait([&](auto finish) {
        object.introspect([&, finish](const Status& s, const ObjectInterface& i) {
            status = s;
            *interface = i;
            finish();
        });
    });
    return status;
}

CallResult callMethod(ObjectHandle& object, const QString& method, const QVariantList& args) {
    CallResult result;
    wait([&](auto finish) {
        object.call(method, args, [&, finish](const CallResult& r) {
            result = r;
            finish();
        });
    });
    return result;
}

CallResult readProperty(ObjectHandle& object, const QString& name) {
    CallResult result;
    wait([&](auto finish) {
        object.readProperty(name, [&, finish](const CallResult& r) {
            result = r;
            finish();
        });
    });
    return result;
}

CallResult writeProperty(ObjectHandle& object, const QString& name, const QVariant& value) {
    CallResult result;
    wait([&](auto finish) {
        object.writeProperty(name, value, [&, finish](const CallResult& r) {
            result = r;
            finish();
        });
    });
    return result;
}

}  // namespace automation
