#pragma once

#include <QString>

#include <array>

// The remote-activation option tables: protocol sequence codes and
// authentication level codes, index-aligned with the names the drop-down
// lists show. Index 0 is "[None]" with the empty code.
namespace settings {

inline const std::array<QString, 9> sProtocols = {
    QString(),
    QStringLiteral("ncacn_ip_tcp"),
    QStringLiteral("ncacn_spx"),
    QStringLiteral("ncacn_np"),
    QStringLiteral("ncacn_nb_nb"),
    QStringLiteral("ncacn_nb_tcp"),
    QStringLiteral("ncacn_nb_ipx"),
    QStringLiteral("ncadg_ipx"),
    QStringLiteral("ncadg_ip_udp"),
};

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
inline const std::array<QString, 8> sALevels = {
    QString(),           QStringLiteral("0"), QStringLiteral("1"), QStringLiteral("2"),
    QStringLiteral("3"), QStringLiteral("4"), QStringLiteral("5"), QStringLiteral("6"),
};

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
QString ProtocolCode(int index);
QString AuthLevelCode(int index);

// Backward mapping: the first position whose code equals code, both trimmed
// and compared without regard to letter case; -1 when none does.
int ProtocolIndex(const QString& code);
int AuthLevelIndex(const QString& code);

}  // namespace settings
