#include <automation/status.h>

namespace automation {

QString errorName(Error error) {
    switch (error) {
        case Error::None:
            return QStringLiteral("None");
        case Error::NotRegistered:
            return QStringLiteral("NotRegistered");
        case Error::StoreFailure:
            return QStringLiteral("StoreFailure");
        case Error::ServerStartFailed:
            return QStringLiteral("ServerStartFailed");
        case Error::ServerTimeout:
            return QStringLiteral("ServerTimeout");
        case Error::ClassNotServed:
            return QStringLiteral("ClassNotServed");
        case Error::MachineNotFound:
            return QStringLiteral("MachineNotFound");
        case Error::ConnectionRefused:
            return QStringLiteral("ConnectionRefused");
        case Error::ProtocolNotSupported:
            return QStringLiteral("ProtocolNotSupported");
        case Error::HostRefused:
            return QStringLiteral("HostRefused");
        case Error::Timeout:
            return QStringLiteral("Timeout");
        case Error::ProtocolError:
            return QStringLiteral("ProtocolError");
        case Error::Untrusted:
            return QStringLiteral("Untrusted");
        case Error::PeerRefused:
            return QStringLiteral("PeerRefused");
        case Error::UnknownHost:
            return QStringLiteral("UnknownHost");
        case Error::NotAuthorized:
            return QStringLiteral("NotAuthorized");
        case Error::LevelRefused:
            return QStringLiteral("LevelRefused");
        case Error::UnknownMember:
            return QStringLiteral("UnknownMember");
        case Error::InvalidArguments:
            return QStringLiteral("InvalidArguments");
        case Error::CallFailed:
            return QStringLiteral("CallFailed");
        case Error::Disconnected:
            return QStringLiteral("Disconnected");
    }
    return QStringLiteral("Error(%1)").arg(int(error));
}

}  // namespace automation
