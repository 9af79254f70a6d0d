#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaMethod>
#include <QMetaProperty>
#include <QObject>
#include <QPointer>

#include <systemd/sd-bus.h>

#include <vector>

namespace automation {

class BusLink;
class ServedObject;

// Publishes a served object on a D-Bus connection at BusExport::Path: its
// properties, methods and signals, from its meta-object, under one interface
// named after the class. Members of types with no D-Bus mapping are left out
// and named on stderr once per server and class. The connection's peer may
// not learn this machine's id (Peer.GetMachineId is refused).
class BusExport : public QObject {
public:
    static constexpr const char* Path = "/";

    BusExport(ServedObject* object, const QString& className, BusLink* link);
    ~BusExport() override;
    Q_DISABLE_COPY_MOVE(BusExport)

    bool publish(QString* error);

    // The D-Bus interface name for a class name: the name itself when it is
    // a valid one, otherwise made valid.
    static QByteArray interfaceName(const QString& className);

    int qt_metacall(QMetaObject::Call call, int id, void** args) override;

    struct Method {
        QMetaMethod method;
        QByteArray name;
        QByteArray in;
        QByteArray out;
        QByteArray names;
    };
    struct Property {
        QMetaProperty property;
        QByteArray signature;
    };
    struct Signal {
        QMetaMethod method;
        QByteArray name;
        QByteArray signature;
        QByteArray names;
        QByteArray notifies;  // the property it announces, if any
    };

private:
    static int callMethod(sd_bus_message* m, void* userdata, sd_bus_error* error);
    static int getProperty(sd_bus* bus, const char* path, const char* interface,
                           const char* property, sd_bus_message* reply, void* userdata,
                           sd_bus_error* error);
    static int setProperty(sd_bus* bus, const char* path, const char* interface,
                           const char* property, sd_bus_message* value, void* userdata,
                           sd_bus_error* error);
    static int refuseMachineId(sd_bus_message* m, void* userdata, sd_bus_error* error);
    void relay(const Signal& signal, void** args);

    QPointer<ServedObject> m_object;
    QByteArray m_interface;
    BusLink* m_link;
    std::vector<Method> m_methods;
    std::vector<Property> m_properties;
    std::vector<Signal> m_signals;
    std::vector<sd_bus_vtable> m_vtable;  // sd-bus keeps pointers into it
    sd_bus_slot* m_slot = nullptr;
    sd_bus_slot* m_filter = nullptr;
};

}  // namespace automation
