#include <automation/environment.h>
#include <automation/identity.h>

#include "files.h"

#include <QRegularExpression>

namespace automation {

namespace {

const char* const KnownHostsHeader =
    "# Hosts this user trusts: MACHINE IDENTITY [comment]. automationctl add-host and\n"
    "# remove-host keep this file; a machine may have several entries.\n";
const char* const AuthorizedClientsHeader =
    "# Clients automation-host serves for this user: IDENTITY [comment].\n"
    "# automationctl authorize and revoke keep this file.\n";

}  // namespace

TrustFile::TrustFile(Kind kind) : m_kind(kind) {}

QString TrustFile::path() const {
    return configDirectory() + (m_kind == Kind::KnownHosts ? QStringLiteral("/known_hosts")
                                                           : QStringLiteral("/authorized_clients"));
}

QString TrustFile::machineKey(const QString& machine) {
    QString name = machine.trimmed();
    if (name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']')))
        name = name.mid(1, name.size() - 2).trimmed();
    return name.toCaseFolded();
}

Status TrustFile::reload() {
    const QString file = path();
    const QByteArray now = files::stamp(file);
    if (!now.isEmpty() && now == m_stamp)
        return {};
    QByteArray data;
    bool exists = false;
    if (const Status s = files::read(file, &data, &exists); !s.ok())
        return s;
    m_entries.clear();
    m_stamp = now;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const int fields = m_kind == Kind::KnownHosts ? 2 : 1;
    for (const QByteArray& raw : data.split('\n')) {
        const QString line = QString::fromUtf8(raw).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        const QStringList parts = line.split(blanks);
        if (parts.size() < fields)
            continue;
        TrustEntry e;
        e.machine = fields == 2 ? parts.at(0) : QString();
        e.identity = canonicalIdentity(parts.at(fields - 1));
        e.comment = parts.mid(fields).join(QLatin1Char(' '));
        if (!e.identity.isEmpty())
            m_entries.append(e);
    }
    return {};
}

Status TrustFile::entries(QList<TrustEntry>* entries) {
    const Status s = reload();
    *entries = m_entries;
    return s;
}

Status TrustFile::contains(const QString& identity, bool* found, const QString& machine) {
    *found = false;
    if (const Status s = reload(); !s.ok())
        return s;
    const QString id = canonicalIdentity(identity);
    for (const TrustEntry& e : std::as_const(m_entries)) {
        if (e.identity == id &&
            (m_kind == Kind::AuthorizedClients || machineKey(e.machine) == machineKey(machine))) {
            *found = true;
            break;
        }
    }
    return {};
}

Status TrustFile::add(const TrustEntry& entry, bool* added) {
    if (added)
        *added = false;
    const QString dir = configDirectory();
    if (const Status s = makeOwnDirectory(dir, Privacy::Owned); !s.ok())
        return s;
    files::Lock lock;
    if (const Status s = lock.acquire(path() + QStringLiteral(".lock"), -1); !s.ok())
        return s;
    QByteArray data;
    bool exists = false;
    if (const Status s = files::read(path(), &data, &exists); !s.ok())
        return s;
    bool present = false;
    if (const Status s = contains(entry.identity, &present, entry.machine); !s.ok() || present)
        return s;
    if (!exists)
        data = m_kind == Kind::KnownHosts ? KnownHostsHeader : AuthorizedClientsHeader;
    if (!data.isEmpty() && !data.endsWith('\n'))
        data += '\n';
    QString line =
        m_kind == Kind::KnownHosts ? entry.machine.trimmed() + QLatin1Char(' ') : QString();
    line += canonicalIdentity(entry.identity);
    if (!entry.comment.trimmed().isEmpty())
        line += QLatin1Char(' ') + entry.comment.simplified();
    data += line.toUtf8() + '\n';
    if (const Status s = files::replace(path(), data); !s.ok())
        return s;
    if (added)
        *added = true;
    return {};
}

Status TrustFile::remove(const QString& machineOrIdentity, const QString& identity, int* removed) {
    *removed = 0;
    files::Lock lock;
    if (const Status s = lock.acquire(path() + QStringLiteral(".lock"), -1); !s.ok())
        return s;
    QByteArray data;
    bool exists = false;
    if (const Status s = files::read(path(), &data, &exists); !s.ok() || !exists)
        return s;
    static const QRegularExpression blanks(QStringLiteral("\\s+"));
    const bool hosts = m_kind == Kind::KnownHosts;
    const QString wantedId = canonicalIdentity(hosts ? identity : machineOrIdentity);
    QByteArray kept;
    for (const QByteArray& raw : data.split('\n')) {
        const QStringList parts = QString::fromUtf8(raw).trimmed().split(blanks);
        bool match = false;
        if (hosts && parts.size() >= 2 && !parts.at(0).startsWith(QLatin1Char('#')))
            match = machineKey(parts.at(0)) == machineKey(machineOrIdentity) &&
                    (identity.isEmpty() || canonicalIdentity(parts.at(1)) == wantedId);
        else if (!hosts && !parts.at(0).startsWith(QLatin1Char('#')))
            match = !wantedId.isEmpty() && canonicalIdentity(parts.at(0)) == wantedId;
        if (match)
            ++*removed;
        else
            kept += raw + '\n';
    }
    kept.chop(1);  // split() gave one more piece than there were line ends
    return *removed ? files::replace(path(), kept) : Status();
}

}  // namespace automation
