#include "creation.h"

#include "app/installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QStaticPlugin>
#include <QTimer>

#include <functional>
#include <utility>

namespace registration {

namespace {

const QString kModuleIid = QStringLiteral(CORVANE_CREATION_MODULE_IID);

// Stands in for a module that could not be had: every operation fails with
// the reason, from the event loop like a real outcome.
class Unavailable {
public:
    explicit Unavailable(QString reason) : m_reason(std::move(reason)) {
        m_later.setSingleShot(true);
        m_later.setInterval(0);
        QObject::connect(&m_later, &QTimer::timeout, [this] {
            if (std::function<void()> fail = std::exchange(m_fail, nullptr))
                fail();
        });
    }

protected:
    const QString& reason() const { return m_reason; }
    void failLater(std::function<void()> fail) {
        m_fail = std::move(fail);
        m_later.start();
    }
    void stop() {
        m_later.stop();
        m_fail = nullptr;
    }

private:
    QString m_reason;
    std::function<void()> m_fail;
    // Declared last: it goes first, so no outcome comes once the object goes.
    QTimer m_later;
};

class UnavailableCreator final : public ObjectCreator, Unavailable {
public:
    using Unavailable::Unavailable;
    void create(const QString& /*className*/, Finished finished) override {
        failLater([this, finished = std::move(finished)] {
            finished(CreationOutcome{.ok = false, .reason = reason()});
        });
    }
    void cancel() override { stop(); }
};

class UnavailablePairing final : public MachinePairing, Unavailable {
public:
    using Unavailable::Unavailable;
    void start(const QString& /*machine*/, const QString& /*comment*/, CodeShown /*codeShown*/,
               Finished finished) override {
        failLater([this, finished = std::move(finished)] {
            finished(PairingOutcome{.ok = false, .reason = reason()});
        });
    }
    void cancel() override { stop(); }
};

class UnavailableImport final : public ClassImport, Unavailable {
public:
    using Unavailable::Unavailable;
    void list(const QString& /*machine*/, Listed listed) override {
        failLater([this, listed = std::move(listed)] {
            listed(ClassesOutcome{.ok = false, .reason = reason()});
        });
    }
    void cancel() override { stop(); }
    ClassesOutcome import(const QString& /*machine*/, const QStringList& /*classes*/) override {
        return ClassesOutcome{.ok = false, .reason = reason()};
    }
};

// The module's code linked into this program, if it is.
CreationModule* linkedModule() {
    const QList<QStaticPlugin> plugins = QPluginLoader::staticPlugins();
    for (const QStaticPlugin& plugin : plugins) {
        if (plugin.metaData().value(QStringLiteral("IID")).toString() == kModuleIid)
            return qobject_cast<CreationModule*>(plugin.instance());
    }
    return nullptr;
}

// The module in the file at modulePath, or nullptr and why in *reason.
CreationModule* loadModule(const QString& modulePath, QString* reason) {
    if (!QFileInfo::exists(modulePath)) {
        *reason = QCoreApplication::translate(
                      "Failure", "The creation module %1 is missing. Reinstall Corvane.")
                      .arg(modulePath);
        return nullptr;
    }
    // Loaded once: the loader keeps the library and its root object for the
    // rest of the process, and hands the same root object to every loader of
    // the same file. It is never unloaded, since what it made may live on.
    // The interface name is read from the file before any of its code runs.
    QPluginLoader loader(modulePath);
    const QString iid = loader.metaData().value(QStringLiteral("IID")).toString();
    if (!iid.isEmpty() && iid != kModuleIid) {
        *reason = QCoreApplication::translate("Failure",
                                              "%1 is not a creation module of this version of "
                                              "Corvane (it offers %2). Reinstall Corvane.")
                      .arg(modulePath, iid);
        return nullptr;
    }
    auto* module = iid.isEmpty() ? nullptr : qobject_cast<CreationModule*>(loader.instance());
    if (!module)
        *reason =
            QCoreApplication::translate(
                "Failure", "The creation module %1 could not be loaded: %2. Reinstall Corvane.")
                .arg(modulePath, loader.errorString());
    return module;
}

// The module linked in, else the first candidate for this executable.
CreationModule* findModule(QString* reason) {
    if (CreationModule* linked = linkedModule())
        return linked;
    const QStringList candidates = creationModuleCandidates(QCoreApplication::applicationDirPath());
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return loadModule(candidate, reason);
    }
    *reason = QCoreApplication::translate(
                  "Failure",
                  "The creation module %1 is missing: it is neither at %2 nor at %3. "
                  "Reinstall Corvane.")
                  .arg(QLatin1String(app::kCreationModuleName), candidates.at(0), candidates.at(1));
    return nullptr;
}

}  // namespace

QStringList creationModuleCandidates(const QString& programDir) {
    const QString name = QLatin1String(app::kCreationModuleName);
    const QString installed =
        QDir::cleanPath(QDir(programDir).filePath(QLatin1String(app::kModuleDirFromProgramDir)));
    return {QDir(programDir).filePath(name), QDir(installed).filePath(name)};
}

std::unique_ptr<ObjectCreator> newObjectCreator() {
    QString reason;
    if (CreationModule* module = findModule(&reason))
        return module->newCreator();
    return std::make_unique<UnavailableCreator>(reason);
}

std::unique_ptr<ObjectCreator> newObjectCreator(const QString& modulePath) {
    QString reason;
    if (CreationModule* module = loadModule(modulePath, &reason))
        return module->newCreator();
    return std::make_unique<UnavailableCreator>(reason);
}

std::unique_ptr<MachinePairing> newMachinePairing() {
    QString reason;
    if (CreationModule* module = findModule(&reason))
        return module->newPairing();
    return std::make_unique<UnavailablePairing>(reason);
}

std::unique_ptr<ClassImport> newClassImport() {
    QString reason;
    if (CreationModule* module = findModule(&reason))
        return module->newClassImport();
    return std::make_unique<UnavailableImport>(reason);
}

}  // namespace registration
