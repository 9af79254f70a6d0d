#include "component.h"

namespace registration {

namespace {

class PlatformComponent final : public RemoteActivationComponent {
public:
    quint16 SetRemoteActivation(bool remote, const std::optional<QString>& className,
                                const std::optional<QString>& classId,
                                const std::optional<QString>& machine,
                                const std::optional<QString>& protocol,
                                const std::optional<QString>& level) override {
        return automation::RemoteActivation().SetRemoteActivation(remote, className, classId,
                                                                  machine, protocol, level);
    }
    std::optional<ActivationSettings> GetRemoteActivation(
        const QString& className, const std::optional<QString>& classId) override {
        automation::RemoteActivation remoteActivation;
        auto settings = remoteActivation.GetRemoteActivation(className, classId);
        m_lastError = remoteActivation.lastError();
        return settings;
    }
    QString lastError() const override { return m_lastError; }

private:
    QString m_lastError;
};

std::unique_ptr<RemoteActivationComponent>& substitute() {
    static std::unique_ptr<RemoteActivationComponent> current;
    return current;
}

}  // namespace

RemoteActivationComponent& component() {
    static PlatformComponent platform;
    return substitute() ? *substitute() : platform;
}

std::unique_ptr<RemoteActivationComponent> substituteComponent(
    std::unique_ptr<RemoteActivationComponent> replacement) {
    std::unique_ptr<RemoteActivationComponent> previous = std::move(substitute());
    substitute() = std::move(replacement);
    return previous;
}

}  // namespace registration
