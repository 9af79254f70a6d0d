#pragma once

#include <automation/objectfactory.h>

#include <memory>

class QIODevice;

namespace automation {

class Transport;

// The handle of an object whose Created has just been read on transport:
// the connection becomes the object's D-Bus call channel. With forRelay
// (automation-host) it carries no calls of its own: the host relays a
// client's bytes over it (relayDevice()).
std::shared_ptr<ObjectHandle> makeObjectHandle(const QString& className, const QString& description,
                                               Transport* transport, int callMs, bool forRelay);

// The connection of a handle made forRelay, or nullptr.
QIODevice* relayDevice(ObjectHandle* handle);

}  // namespace automation
