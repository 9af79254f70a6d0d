#pragma once

#include <QString>
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
    enum Status : quint16 {
        Written = 0,
        // further codes: see remoteactivation.cpp / automation/README.md
    };

    // Uses the registration store at storePath, or the user's default store
    // when storePath is empty.
    explicit RemoteActivation(const QString& storePath = QString());

    // Every argument after the flag may be omitted (std::nullopt).
    quint16 SetRemoteActivation(bool remote,
                                const std::optional<QString>& className = std::nullopt,
                                const std::optional<QString>& classId = std::nullopt,
                                const std::optional<QString>& machine = std::nullopt,
                                const std::optional<QString>& protocol = std::nullopt,
                                const std::optional<QString>& level = std::nullopt);

    // Nothing for a class without a registration on this machine.
    std::optional<ActivationSettings> GetRemoteActivation(
        const QString& className, const std::optional<QString>& classId = std::nullopt);

private:
    QString m_storePath;
};

}  // namespace automation
