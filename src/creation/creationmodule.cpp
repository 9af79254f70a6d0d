// The creation module: object creation through the automation client. It is
// a Qt plugin loaded by the test window on the first test, so that Qt
// Network, OpenSSL and what they bring (Kerberos, proxy libraries) stay out
// of Corvane's start-up; the program itself links only the automation
// layer's class store and activation settings.
#include "registration/objectcreator.h"

#include <automation/objectfactory.h>

#include <QObject>
#include <QtPlugin>

#include <memory>
#include <utility>

namespace {

class ClientCreator final : public registration::ObjectCreator {
public:
    ClientCreator() {
        QObject::connect(&m_factory, &automation::ObjectFactory::finished, &m_factory,
                         [this](const automation::CreateResult& result) { finish(result); });
    }

    void create(const QString& className, Finished finished) override {
        m_factory.cancel();
        m_finished = std::move(finished);
        m_factory.create(className);
    }

    void cancel() override {
        m_factory.cancel();
        m_finished = nullptr;
    }

private:
    // Only whether the object could be made matters: it is released at once.
    void finish(const automation::CreateResult& result) {
        registration::CreationOutcome outcome{
            .ok = result.ok(),
            .reason = result.reason,
            .needsPairing = result.error == automation::Error::UnknownHost ||
                            result.error == automation::Error::NotAuthorized};
        if (result.object) {
            outcome.description = result.object->description();
            result.object->release();
        }
        if (Finished finished = std::exchange(m_finished, nullptr))
            finished(outcome);
    }

    Finished m_finished;
    // Declared last: destroyed first, it cancels what is pending before the
    // rest goes, and emits nothing more.
    automation::ObjectFactory m_factory;
};

}  // namespace

class CorvaneCreationPlugin final : public QObject, public registration::CreationModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID CORVANE_CREATION_MODULE_IID)
    Q_INTERFACES(registration::CreationModule)
public:
    std::unique_ptr<registration::ObjectCreator> newCreator() override {
        return std::make_unique<ClientCreator>();
    }
};

#include "creationmodule.moc"
