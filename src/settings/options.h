#pragma once

#include <QString>
#include <QStringList>

#include <array>

// The remote-activation option tables: protocol sequence codes and
// authentication level codes, index-aligned with the names the drop-down
// lists show. Index 0 is "[None]" with the empty code; the other codes are
// the automation layer's, in its order.
namespace settings {

const QStringList& sProtocols();
const QStringList& sALevels();

inline const std::array<QString, 9> kProtocolNames = {
    QStringLiteral("[None]"),
    QStringLiteral("TCP/IP"),
    QStringLiteral("SPX"),
    QStringLiteral("Named Pipes"),
    QStringLiteral("NetBIOS over NetBEUI"),
    QStringLiteral("NetBIOS over TCP"),
    QStringLiteral("NetBIOS over IPX"),
    QStringLiteral("Datagrams - IPX"),
    QStringLiteral("Datagrams - UDP"),
};

// Authentication levels "0" to "6" sit one place after their list position.
inline const std::array<QString, 8> kAuthLevelNames = {
    QStringLiteral("[None]"),
    QStringLiteral("Default"),
    QStringLiteral("No Authentication"),
    QStringLiteral("Connect"),
    QStringLiteral("Call"),
    QStringLiteral("Packet"),
    QStringLiteral("Packet Integrity"),
    QStringLiteral("Packet Privacy"),
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
