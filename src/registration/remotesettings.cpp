#include "remotesettings.h"

#include "app/messages.h"
#include "registration/component.h"
#include "settings/store.h"

namespace registration {

bool SaveRemoteSettings(bool remote, const QString& server, const std::optional<QString>& machine,
                        const std::optional<QString>& protocol,
                        const std::optional<QString>& level) {
    // The class identifier is never given: the component finds the class by
    // its name.
    const quint16 status = remote ? component().SetRemoteActivation(true, server, std::nullopt,
                                                                    machine, protocol, level)
                                  : component().SetRemoteActivation(false, server);
    if (status != 0) {
        app::MsgBox(QStringLiteral("Unable to update registry, please try again"), app::kOkOnly);
        return false;
    }
    // The registration is written even when the settings store fails here; the
    // store has told the user about its own failure.
    settings::AddServer(server);
    return true;
}

}  // namespace registration
