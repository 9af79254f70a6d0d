#pragma once

#include <automation/status.h>

#include <QList>
#include <QObject>
#include <QString>
#include <QVariant>

// Calls on a created object: its interface as the server describes it, and
// the outcome of one call. The call channel is D-Bus, peer to peer, on the
// connection that created the object (see PROTOCOL.md).
namespace automation {

// A method's parameter or result, a signal's argument: its name (may be
// empty) and its D-Bus type signature ("s", "i", "av", "a{sv}", ...).
struct Argument {
    QString name;
    QString signature;
};

struct MethodInfo {
    QString name;
    QList<Argument> in;
    QList<Argument> out;
};

struct PropertyInfo {
    QString name;
    QString signature;
    bool readable = true;
    bool writable = false;
};

struct SignalInfo {
    QString name;
    QList<Argument> args;
};

// What an object offers, read from its introspection.
struct ObjectInterface {
    QString name;  // the D-Bus interface
    QList<MethodInfo> methods;
    QList<PropertyInfo> properties;
    QList<SignalInfo> signalList;

    const MethodInfo* method(const QString& name) const;
    const PropertyInfo* property(const QString& name) const;
    const SignalInfo* signal(const QString& name) const;
};

// The outcome of a call, a property read or a property write. How a failure
// is reported:
//   UnknownMember      no such method or property
//   InvalidArguments   wrong number of arguments, or one that does not
//                      convert to its parameter's type; a read-only property
//   CallFailed         the server answered with an error; the reason is its
//                      name and message
//   Disconnected       the object is released, or its server or connection
//                      went away (before or during the call)
//   Timeout            no answer within the call time-out
//   ProtocolError      the server's answer could not be read
struct CallResult {
    Status status;
    QVariantList values;  // the method's results (empty for a void method)

    bool ok() const { return status.ok(); }
    // The first result, or an invalid QVariant.
    QVariant value() const { return values.isEmpty() ? QVariant() : values.first(); }
};

// What a created object tells while it lives. Emitted through the event
// loop of the thread that holds the handle.
class ObjectEvents : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

Q_SIGNALS:
    // One of the object's signals, with its arguments.
    void signalReceived(const QString& name, const QVariantList& args);
    // org.freedesktop.DBus.Properties.PropertiesChanged: the new values.
    void propertiesChanged(const QVariantMap& changed);
    // The connection to the object ended; no more calls can be made.
    void disconnected(const QString& reason);
};

}  // namespace automation
