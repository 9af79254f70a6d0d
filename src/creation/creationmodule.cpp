// The creation module: object creation, pairing and class import through the
// automation client. It is a Qt plugin loaded on first use, so that Qt
// Network, OpenSSL and what they bring (Kerberos, proxy libraries) stay out
// of Corvane's start-up; the program itself links only the automation
// layer's class store and activation settings.
#include "registration/objectcreator.h"

#include <automation/objectfactory.h>
#include <automation/pairing.h>

#include <QObject>
#include <QtPlugin>

#include <memory>
#include <utility>

namespace {

// Failures that pairing with the host fixes.
bool pairingFixes(automation::Error error) {
    return error == automation::Error::UnknownHost || error == automation::Error::NotAuthorized;
}

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
            .ok = result.ok(), .reason = result.reason, .needsPairing = pairingFixes(result.error)};
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

class ClientPairing final : public registration::MachinePairing {
public:
    void start(const QString& machine, const QString& comment, CodeShown codeShown,
               Finished finished) override {
        cancel();
        m_codeShown = std::move(codeShown);
        m_finished = std::move(finished);
        // One pairing a request: a new one is never confused with the answer
        // to one withdrawn.
        m_pairing = std::make_unique<automation::Pairing>();
        QObject::connect(m_pairing.get(), &automation::Pairing::codeShown, m_pairing.get(),
                         [this](const QString& code, const QString&) {
                             if (m_codeShown)
                                 m_codeShown(code);
                         });
        QObject::connect(
            m_pairing.get(), &automation::Pairing::finished, m_pairing.get(),
            [this](const automation::Status& status, const automation::PairingResult& result) {
                finish(status, result);
            });
        m_pairing->start(machine, comment);
    }

    void cancel() override {
        m_codeShown = nullptr;
        m_finished = nullptr;
        if (m_pairing) {
            m_pairing->cancel();
            // It may be the one emitting now.
            m_pairing.release()->deleteLater();
        }
    }

    ~ClientPairing() override { cancel(); }
    ClientPairing() = default;
    Q_DISABLE_COPY_MOVE(ClientPairing)

private:
    void finish(const automation::Status& status, const automation::PairingResult& result) {
        m_codeShown = nullptr;
        registration::PairingOutcome outcome{.ok = status.ok(), .reason = status.reason};
        if (status.ok()) {
            outcome.hostIdentity = result.hostIdentity;
            outcome.replacedIdentity = result.replacedIdentity;
            outcome.alreadyAuthorized = result.alreadyAuthorized;
        }
        if (Finished finished = std::exchange(m_finished, nullptr))
            finished(outcome);
    }

    CodeShown m_codeShown;
    Finished m_finished;
    std::unique_ptr<automation::Pairing> m_pairing;
};

class ClientImport final : public registration::ClassImport {
public:
    void list(const QString& machine, Listed listed) override {
        cancel();
        m_listed = std::move(listed);
        m_listing = std::make_unique<automation::ClassListing>();
        QObject::connect(m_listing.get(), &automation::ClassListing::finished, m_listing.get(),
                         [this](const automation::Status& status, const QStringList& classes) {
                             registration::ClassesOutcome outcome{
                                 .ok = status.ok(),
                                 .reason = status.reason,
                                 .classes = status.ok() ? classes : QStringList(),
                                 .needsPairing = pairingFixes(status.error)};
                             if (Listed listed = std::exchange(m_listed, nullptr))
                                 listed(outcome);
                         });
        m_listing->start(machine);
    }

    void cancel() override {
        m_listed = nullptr;
        if (m_listing) {
            m_listing->cancel();
            m_listing.release()->deleteLater();
        }
    }

    registration::ClassesOutcome import(const QString& machine,
                                        const QStringList& classes) override {
        const automation::Status status = automation::importClasses(machine, classes);
        return {.ok = status.ok(),
                .reason = status.reason,
                .classes = status.ok() ? classes : QStringList(),
                .needsPairing = pairingFixes(status.error)};
    }

    ~ClientImport() override { cancel(); }
    ClientImport() = default;
    Q_DISABLE_COPY_MOVE(ClientImport)

private:
    Listed m_listed;
    std::unique_ptr<automation::ClassListing> m_listing;
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
    std::unique_ptr<registration::MachinePairing> newPairing() override {
        return std::make_unique<ClientPairing>();
    }
    std::unique_ptr<registration::ClassImport> newClassImport() override {
        return std::make_unique<ClientImport>();
    }
};

#include "creationmodule.moc"
