#include "creation.h"

#include "app/installation.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QJsonObject>
#include <QPluginLoader>
#include <QStaticPlugin>
#include <QTimer>

#include <utility>

namespace registration {

namespace {

const QString kModuleIid = QStringLiteral(CORVANE_CREATION_MODULE_IID);

// Stands in for a module that could not be had: every creation fails with
// the reason, from the event loop like a real outcome.
class UnavailableCreator final : public ObjectCreator {
public:
    explicit UnavailableCreator(QString reason) : m_reason(std::move(reason)) {
        m_outcome.setSingleShot(true);
        m_outcome.setInterval(0);
        QObject::connect(&m_outcome, &QTimer::timeout, [this] {
            if (Finished finished = std::exchange(m_finished, nullptr))
                finished(CreationOutcome{.ok = false, .reason = m_reason});
        });
    }

    void create(const QString& /*className*/, Finished finished) override {
        m_finished = std::move(finished);
        m_outcome.start();
    }

    void cancel() override {
        m_outcome.stop();
        m_finished = nullptr;
    }

private:
    QString m_reason;
    Finished m_finished;
    // Declared last: it goes first, so no outcome comes once the creator goes.
    QTimer m_outcome;
};

std::unique_ptr<ObjectCreator> unavailable(const QString& reason) {
    return std::make_unique<UnavailableCreator>(reason);
}

// The module's code linked into this program, if it is.
CreationModule* linkedModule() {
    const QList<QStaticPlugin> plugins = QPluginLoader::staticPlugins();
    for (const QStaticPlugin& plugin : plugins) {
        if (plugin.metaData().value(QStringLiteral("IID")).toString() == kModuleIid)
            return qobject_cast<CreationModule*>(plugin.instance());
    }
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
    if (CreationModule* linked = linkedModule())
        return linked->newCreator();
    const QStringList candidates = creationModuleCandidates(QCoreApplication::applicationDirPath());
    for (const QString& candidate : candidates) {
        if (QFileInfo::exists(candidate))
            return newObjectCreator(candidate);
    }
    return unavailable(
        QCoreApplication::translate(
            "Failure",
            "The creation module %1 is missing: it is neither at %2 nor at %3. "
            "Reinstall Corvane.")
            .arg(QLatin1String(app::kCreationModuleName), candidates.at(0), candidates.at(1)));
}

std::unique_ptr<ObjectCreator> newObjectCreator(const QString& modulePath) {
    if (!QFileInfo::exists(modulePath))
        return unavailable(QCoreApplication::translate(
                               "Failure", "The creation module %1 is missing. Reinstall Corvane.")
                               .arg(modulePath));
    // Loaded once: the loader keeps the library and its root object for the
    // rest of the process, and hands the same root object to every loader of
    // the same file. It is never unloaded, since creators made by it may live
    // on. The interface name is read from the file before any of its code runs.
    QPluginLoader loader(modulePath);
    const QString iid = loader.metaData().value(QStringLiteral("IID")).toString();
    if (!iid.isEmpty() && iid != kModuleIid)
        return unavailable(
            QCoreApplication::translate("Failure",
                                        "%1 is not a creation module of this version of "
                                        "Corvane (it offers %2). Reinstall Corvane.")
                .arg(modulePath, iid));
    auto* module = iid.isEmpty() ? nullptr : qobject_cast<CreationModule*>(loader.instance());
    if (!module)
        return unavailable(
            QCoreApplication::translate(
                "Failure", "The creation module %1 could not be loaded: %2. Reinstall Corvane.")
                .arg(modulePath, loader.errorString()));
    return module->newCreator();
}

}  // namespace registration
