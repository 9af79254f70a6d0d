#pragma once

#include <QString>
#include <QStringList>
#include <QtGlobal>

#include <optional>

namespace automation {

// How one registered class is activated: the four values of
// GetRemoteActivation, in their order (1 = remote, 2 = machine, 3 = protocol,
// 4 = authentication level).
struct ActivationSettings {
    bool remote = false;
    QString machine;
    QString protocol;  // protocol sequence code such as "ncacn_ip_tcp", empty for none
    QString level;     // authentication level code "0" to "6", empty for none

    friend bool operator==(const ActivationSettings&, const ActivationSettings&) = default;
};

// The remote-activation component: reads and writes the activation settings
// of a class in the class registration store, one class at a time.
class RemoteActivation {
public:
    // Status codes of SetRemoteActivation. 0 means the settings were written.
    // Nothing is written unless the status is Written.
    enum Status : quint16 {
        Written = 0,
        ClassNameMissing = 1,    // neither a class name nor a class identifier, or both blank
        ClassNotRegistered = 2,  // no registration for the class on this machine
        ClassIdMismatch = 3,     // the class identifier is not the registered class's
        UnknownProtocol = 4,     // the protocol is not one of ProtocolCodes() nor empty
        UnknownLevel = 5,        // the level is not one of LevelCodes() nor empty
        MachineMissing = 6,      // remote is true and the machine is omitted or blank
        StoreFailure = 7,        // the registration store could not be read or written
    };

    // The protocol sequence codes and authentication level codes accepted
    // (besides the empty string, which means none).
    static const QStringList& ProtocolCodes();
    static const QStringList& LevelCodes();

    // English text for a status code, for messages and tools.
    static QString statusText(quint16 status);

    // Uses the registration store at storePath, or the user's default store
    // when storePath is empty.
    explicit RemoteActivation(const QString& storePath = QString());

    // Every argument after the flag may be omitted (std::nullopt).
    //
    // The class is named by className or, when that is omitted or blank, by
    // classId; a classId given with a className must be the registered one
    // (when the registration has one). Codes are compared after trimming
    // surrounding blanks and without regard to case, and stored in their
    // canonical spelling. The machine is stored exactly as given.
    //
    // remote == true: the machine is required; an omitted protocol or level
    // keeps the stored one, an empty one means none.
    // remote == false: local activation. The stored machine, protocol and
    // level are cleared; any given with the flag are ignored.
    quint16 SetRemoteActivation(bool remote, const std::optional<QString>& className = std::nullopt,
                                const std::optional<QString>& classId = std::nullopt,
                                const std::optional<QString>& machine = std::nullopt,
                                const std::optional<QString>& protocol = std::nullopt,
                                const std::optional<QString>& level = std::nullopt);

    // Nothing for a class without a registration on this machine, for a
    // classId that is not the registered class's, and when the store cannot
    // be read (lastError() tells why).
    std::optional<ActivationSettings> GetRemoteActivation(
        const QString& className, const std::optional<QString>& classId = std::nullopt);

    // Why the last call failed, empty after success.
    QString lastError() const { return m_lastError; }

private:
    QString m_storePath;
    QString m_lastError;
};

}  // namespace automation
