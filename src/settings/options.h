#pragma once

#include <QString>
#include <QStringList>

#include <array>

// The remote-activation option tables: protocol sequence codes and
// authentication level codes, index-aligned with the names the drop-down
// lists show. Index 0 is "[None]" with the empty code; the other codes are
// the automation layer's, in its order. The names are English; the lists
// show them translated in the context "settings".
namespace settings {

const QStringList& sProtocols();
const QStringList& sALevels();

inline const std::array<QString, 9> kProtocolNames = {
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "[None]")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "TCP/IP")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "SPX")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Named Pipes")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "NetBIOS over NetBEUI")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "NetBIOS over TCP")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "NetBIOS over IPX")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Datagrams - IPX")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Datagrams - UDP")),
};

// Authentication levels "0" to "6" sit one place after their list position.
inline const std::array<QString, 8> kAuthLevelNames = {
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "[None]")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Default")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "No Authentication")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Connect")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Call")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Packet")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Packet Integrity")),
    QStringLiteral(QT_TRANSLATE_NOOP("settings", "Packet Privacy")),
};

// Forward mapping: the code at a list position; the empty code for a position
// outside the table.
QString protocolCode(int index);
QString authLevelCode(int index);

// Backward mapping: the first position whose code equals code, both trimmed
// and compared without regard to letter case; -1 when none does.
int protocolIndex(const QString& code);
int authLevelIndex(const QString& code);

}  // namespace settings
