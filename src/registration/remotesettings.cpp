#include "remotesettings.h"

#include "settings/store.h"

#include <automation/remoteactivation.h>

namespace registration {

app::Result<std::optional<ActivationSettings>> readRemoteSettings(const QString& server) {
    RemoteActivationComponent& activation = component();
    std::optional<ActivationSettings> settings = activation.GetRemoteActivation(server);
    const QString reason = activation.lastError();
    if (!settings && !reason.isEmpty())
        return app::Failure{
            .kind = app::Failure::Kind::RegistrationUnreadable, .reason = reason, .name = server};
    return settings;
}

app::Result<Remembered> SaveRemoteSettings(bool remote, const QString& server,
                                           const std::optional<QString>& machine,
                                           const std::optional<QString>& protocol,
                                           const std::optional<QString>& level) {
    // The class identifier is never given: the component finds the class by
    // its name.
    const quint16 status = remote ? component().SetRemoteActivation(true, server, std::nullopt,
                                                                    machine, protocol, level)
                                  : component().SetRemoteActivation(false, server);
    if (status != 0) {
        return app::Failure{.kind = app::Failure::Kind::RegistrationNotUpdated,
                            .reason = automation::RemoteActivation::statusText(status),
                            .name = server};
    }
    return Remembered(settings::AddServer(server));
}

}  // namespace registration
