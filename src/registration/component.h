#pragma once

#include <automation/remoteactivation.h>

#include <QString>
#include <QtGlobal>

#include <memory>
#include <optional>

// The program's access to the remote-activation component. Everything goes
// through component(), so that tests can put a component in its place that
// answers with chosen statuses and records what it was asked.
namespace registration {

using ActivationSettings = automation::ActivationSettings;

class RemoteActivationComponent {
public:
    virtual ~RemoteActivationComponent() = default;
    virtual quint16 SetRemoteActivation(bool remote,
                                        const std::optional<QString>& className = std::nullopt,
                                        const std::optional<QString>& classId = std::nullopt,
                                        const std::optional<QString>& machine = std::nullopt,
                                        const std::optional<QString>& protocol = std::nullopt,
                                        const std::optional<QString>& level = std::nullopt) = 0;
    virtual std::optional<ActivationSettings> GetRemoteActivation(
        const QString& className, const std::optional<QString>& classId = std::nullopt) = 0;

    // Why the last GetRemoteActivation answered nothing although the class
    // may well be registered (the registration could not be read); empty when
    // the class simply has no registration.
    virtual QString lastError() const { return {}; }
};

// The component in use: the automation layer's, unless one was substituted.
RemoteActivationComponent& component();

// Puts another component in place (nullptr restores the real one); returns
// the one it replaces, if it was a substitute.
std::unique_ptr<RemoteActivationComponent> substituteComponent(
    std::unique_ptr<RemoteActivationComponent> replacement);

}  // namespace registration
