#include <automation/classstore.h>
#include <automation/remoteactivation.h>

namespace automation {

namespace {

// The canonical spelling of code among codes, compared trimmed and without
// regard to case; "" for an empty code, nothing for an unknown one.
std::optional<QString> canonicalCode(const QString& code, const QStringList& codes) {
    const QString trimmed = code.trimmed();
    if (trimmed.isEmpty())
        return QString();
    for (const QString& known : codes) {
        if (known.compare(trimmed, Qt::CaseInsensitive) == 0)
            return known;
    }
    return std::nullopt;
}

bool isBlank(const std::optional<QString>& text) {
    return !text || text->trimmed().isEmpty();
}

bool sameClassId(const QString& registered, const std::optional<QString>& given) {
    return isBlank(given) || registered.trimmed().isEmpty() ||
           ClassStore::nameKey(registered) == ClassStore::nameKey(*given);
}

}  // namespace

RemoteActivation::RemoteActivation(const QString& storePath) : m_storePath(storePath) {}

const QStringList& RemoteActivation::ProtocolCodes() {
    static const QStringList codes{
        QStringLiteral("ncacn_ip_tcp"), QStringLiteral("ncacn_spx"),
        QStringLiteral("ncacn_np"),     QStringLiteral("ncacn_nb_nb"),
        QStringLiteral("ncacn_nb_tcp"), QStringLiteral("ncacn_nb_ipx"),
        QStringLiteral("ncadg_ipx"),    QStringLiteral("ncadg_ip_udp"),
    };
    return codes;
}

const QStringList& RemoteActivation::LevelCodes() {
    static const QStringList codes{
        QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("3"),
        QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
    };
    return codes;
}

QString RemoteActivation::statusText(quint16 status) {
    switch (status) {
        case Written:
            return QStringLiteral("written");
        case ClassNameMissing:
            return QStringLiteral("no class name given");
        case ClassNotRegistered:
            return QStringLiteral("class not registered");
        case ClassIdMismatch:
            return QStringLiteral("class identifier does not match the class");
        case UnknownProtocol:
            return QStringLiteral("unknown protocol code");
        case UnknownLevel:
            return QStringLiteral("unknown authentication level code");
        case MachineMissing:
            return QStringLiteral("remote activation needs a machine name");
        case StoreFailure:
            return QStringLiteral("registration store failure");
    }
    return QStringLiteral("unknown status %1").arg(status);
}

quint16 RemoteActivation::SetRemoteActivation(bool remote, const std::optional<QString>& className,
                                              const std::optional<QString>& classId,
                                              const std::optional<QString>& machine,
                                              const std::optional<QString>& protocol,
                                              const std::optional<QString>& level) {
    m_lastError.clear();
    const auto fail = [this](Status status, const QString& detail = QString()) {
        m_lastError = detail.isEmpty() ? statusText(status) : detail;
        return quint16(status);
    };
    if (isBlank(className) && isBlank(classId))
        return fail(ClassNameMissing);

    std::optional<QString> protocolCode;
    std::optional<QString> levelCode;
    if (remote) {
        if (isBlank(machine))
            return fail(MachineMissing);
        if (protocol) {
            protocolCode = canonicalCode(*protocol, ProtocolCodes());
            if (!protocolCode)
                return fail(UnknownProtocol,
                            QStringLiteral("unknown protocol code \"%1\"").arg(*protocol));
        }
        if (level) {
            levelCode = canonicalCode(*level, LevelCodes());
            if (!levelCode)
                return fail(UnknownLevel,
                            QStringLiteral("unknown authentication level code \"%1\"").arg(*level));
        }
    }

    ClassStore store(m_storePath);
    QString name = className.value_or(QString());
    if (isBlank(className)) {
        ClassRecord found;
        const automation::Status byId = store.findByClassId(*classId, &found);
        if (byId.error == Error::NotRegistered)
            return fail(ClassNotRegistered);
        if (!byId.ok())
            return fail(StoreFailure, byId.reason);
        name = found.name;
    }

    bool idMatches = true;
    const automation::Status result = store.update(name, [&](ClassRecord& record) {
        idMatches = sameClassId(record.classId, classId);
        if (!idMatches)
            return false;
        ActivationSettings& a = record.activation;
        a.remote = remote;
        if (remote) {
            a.machine = *machine;
            a.protocol = protocolCode.value_or(a.protocol);
            a.level = levelCode.value_or(a.level);
        } else {
            a = ActivationSettings();
        }
        return true;
    });
    if (result.error == Error::NotRegistered)
        return fail(ClassNotRegistered);
    if (!result.ok())
        return fail(StoreFailure, result.reason);
    if (!idMatches)
        return fail(ClassIdMismatch);
    return Written;
}

std::optional<ActivationSettings> RemoteActivation::GetRemoteActivation(
    const QString& className, const std::optional<QString>& classId) {
    m_lastError.clear();
    ClassStore store(m_storePath);
    ClassRecord record;
    const automation::Status result =
        className.trimmed().isEmpty() ? store.findByClassId(classId.value_or(QString()), &record)
                                      : store.find(className, &record);
    if (result.error == Error::StoreFailure)
        m_lastError = result.reason;
    if (!result.ok())
        return std::nullopt;
    if (!sameClassId(record.classId, classId)) {
        m_lastError = statusText(ClassIdMismatch);
        return std::nullopt;
    }
    return record.activation;
}

}  // namespace automation
