#include "options.h"

namespace settings {

namespace {

template <std::size_t N>
QString codeAt(const std::array<QString, N>& table, int index) {
    return index >= 0 && std::size_t(index) < N ? table[std::size_t(index)] : QString();
}

template <std::size_t N>
int indexOf(const std::array<QString, N>& table, const QString& code) {
    const QString wanted = code.trimmed();
    for (std::size_t i = 0; i < N; ++i) {
        if (table[i].trimmed().compare(wanted, Qt::CaseInsensitive) == 0)
            return int(i);
    }
    return -1;
}

}  // namespace

QString ProtocolCode(int index) {
    return codeAt(sProtocols, index);
}

QString AuthLevelCode(int index) {
    return codeAt(sALevels, index);
}

int ProtocolIndex(const QString& code) {
    return indexOf(sProtocols, code);
}

int AuthLevelIndex(const QString& code) {
    return indexOf(sALevels, code);
}

}  // namespace settings
