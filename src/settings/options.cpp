#include "options.h"

#include <automation/remoteactivation.h>

namespace settings {

namespace {

int indexOf(const QStringList& table, const QString& code) {
    const QString wanted = code.trimmed();
    for (int i = 0; i < table.size(); ++i) {
        if (table.at(i).trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

}  // namespace

const QStringList& sProtocols() {
    static const QStringList table =
        QStringList{QString()} + automation::RemoteActivation::ProtocolCodes();
    return table;
}

const QStringList& sALevels() {
    static const QStringList table =
        QStringList{QString()} + automation::RemoteActivation::LevelCodes();
    return table;
}

QString protocolCode(int index) {
    return sProtocols().value(index);
}

QString authLevelCode(int index) {
    return sALevels().value(index);
}

int protocolIndex(const QString& code) {
    return indexOf(sProtocols(), code);
}

int authLevelIndex(const QString& code) {
    return indexOf(sALevels(), code);
}

}  // namespace settings
