#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/printable.h>
#include <automation/trust.h>

#include "files.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSysInfo>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>
#include <algorithm>
#include <cerrno>
#include <cstring>

namespace automation {

namespace {

const char* const KnownHostsHeader =
    "# Hosts this user trusts: MACHINE IDENTITY [comment]. automationctl add-host and\n"
    "# remove-host keep this file; a machine may have several entries.\n";
const char* const AuthorizedClientsHeader =
    "# Clients automation-host serves for this user: [classes=\"PATTERN,...\"] IDENTITY\n"
    "# [comment]. Without classes= the client may create every class; * and ? match\n"
    "# any run of characters and any one. automationctl authorize and revoke keep this file.\n";

const QRegularExpression& blanks() {
    static const QRegularExpression expression(QStringLiteral("\\s+"));
    return expression;
}

// One line of a trust file as read: an entry, possibly with the reason why
// it cannot be used.
struct Line {
    bool entry = false;  // the line names an identity
    TrustEntry value;
    QString problem;  // set: the entry is left out
};

// authorized_clients options: name="value"[,name="value"]..., of which
// only classes= is known. Anything else makes the entry unusable.
QString readOptions(const QString& text, QStringList* classes) {
    bool seen = false;
    qsizetype pos = 0;
    for (;;) {
        const qsizetype equals = text.indexOf(QLatin1Char('='), pos);
        if (equals < 0)
            return QStringLiteral("malformed options %1").arg(quoted(text));
        const QString name = text.mid(pos, equals - pos);
        if (equals + 1 >= text.size() || text.at(equals + 1) != QLatin1Char('"'))
            return QStringLiteral("the value of option %1 is not in double quotes")
                .arg(quoted(name));
        const qsizetype close = text.indexOf(QLatin1Char('"'), equals + 2);
        if (close < 0)
            return QStringLiteral("the value of option %1 has no closing quote").arg(quoted(name));
        if (name != QLatin1String("classes"))
            return QStringLiteral("unknown option %1").arg(quoted(name));
        if (seen)
            return QStringLiteral("option \"classes\" is given twice");
        seen = true;
        QString error;
        if (!parseClassPatterns(text.mid(equals + 2, close - equals - 2), classes, &error))
            return error;
        pos = close + 1;
        if (pos == text.size())
            return {};
        if (text.at(pos) != QLatin1Char(','))
            return QStringLiteral("unexpected %1 after option %2")
                .arg(quoted(text.mid(pos)), quoted(name));
        ++pos;
    }
}

Line readLine(TrustFile::Kind kind, const QString& raw) {
    Line line;
    const QString text = raw.trimmed();
    if (text.isEmpty() || text.startsWith(QLatin1Char('#')))
        return line;
    if (kind == TrustFile::Kind::KnownHosts) {
        const QStringList parts = text.split(blanks());
        if (parts.size() < 2)
            return line;
        line.value = {parts.at(0), canonicalIdentity(parts.at(1)),
                      parts.mid(2).join(QLatin1Char(' '))};
        line.entry = !line.value.identity.isEmpty();
        return line;
    }
    // The first word, in which a quoted value may hold blanks.
    qsizetype end = 0;
    bool inQuotes = false;
    while (end < text.size() && (inQuotes || !text.at(end).isSpace())) {
        if (text.at(end) == QLatin1Char('"'))
            inQuotes = !inQuotes;
        ++end;
    }
    const QString first = text.left(end);
    QStringList parts = text.mid(end).trimmed().split(blanks(), Qt::SkipEmptyParts);
    if (canonicalIdentity(first).isEmpty()) {
        if (!first.contains(QLatin1Char('=')))
            return line;  // not an entry, as a line without an identity always was
        line.problem = readOptions(first, &line.value.classes);
        line.value.identity = canonicalIdentity(parts.value(0));
        if (line.value.identity.isEmpty() && line.problem.isEmpty())
            line.problem = QStringLiteral("no identity after the options");
        if (!parts.isEmpty())
            parts.removeFirst();
    } else {
        line.value.identity = canonicalIdentity(first);
        // An option after the identity would otherwise pass for a comment.
        if (!parts.isEmpty() && parts.first().contains(QLatin1Char('=')) &&
            parts.first().startsWith(QLatin1String("classes")))
            line.problem = QStringLiteral("options go before the identity");
    }
    line.value.comment = parts.join(QLatin1Char(' '));
    line.entry = !line.value.identity.isEmpty();
    if (!line.problem.isEmpty())
        line.value.classes.clear();
    return line;
}

QString lineOf(TrustFile::Kind kind, const TrustEntry& entry) {
    QString line;
    if (kind == TrustFile::Kind::KnownHosts)
        line = entry.machine.trimmed() + QLatin1Char(' ');
    else if (!entry.classes.isEmpty())
        line = QStringLiteral("classes=\"%1\" ").arg(entry.classes.join(QLatin1Char(',')));
    line += canonicalIdentity(entry.identity);
    if (!entry.comment.trimmed().isEmpty())
        line += QLatin1Char(' ') + entry.comment.simplified();
    return line;
}

// Whether text matches pattern, both case-folded: * for any run, ? for one.
// One position to go back to is enough, so the work stays linear in each.
bool globMatch(QStringView pattern, QStringView text) {
    qsizetype p = 0, t = 0, star = -1, resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() &&
            (pattern.at(p) == QLatin1Char('?') || pattern.at(p) == text.at(t))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern.at(p) == QLatin1Char('*')) {
            star = p++;
            resume = t;
        } else if (star >= 0) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern.at(p) == QLatin1Char('*'))
        ++p;
    return p == pattern.size();
}

constexpr int MaxMachineName = 253;
constexpr int MaxLabel = 63;
constexpr int MaxZone = 15;  // an interface name, as IFNAMSIZ allows

QString modeText(mode_t mode) {
    return QStringLiteral("0%1").arg(mode & 07777, 3, 8, QLatin1Char('0'));
}

QString systemError() {
    return QString::fromLocal8Bit(std::strerror(errno));
}

// The refusal of a trust file, as the administrator needs it: which file,
// why, and what to do.
Status notUsed(const QString& file, const QString& why, const QString& remedy) {
    return Status::failure(Error::Untrusted,
                           QStringLiteral("%1 is not used: %2. %3").arg(file, why, remedy));
}

// A trust file, and its folder, must be this user's and writable by no one
// else: whoever else could write either could have put their own entries
// there.
files::Checks trustChecks(const QString& file, Readers readers) {
    files::Checks checks;
    checks.folder = [file](const QString& folder, const struct stat& st) -> Status {
        const uid_t me = ::geteuid();
        if (st.st_uid != me)
            return notUsed(file,
                           QStringLiteral("its folder %1 belongs to user %2, not to this user (%3)")
                               .arg(folder, QString::number(st.st_uid), QString::number(me)),
                           QStringLiteral("Check what is in it, then give it to this user (as "
                                          "root: chown -R %1 %2), or move it away and pair again")
                               .arg(me)
                               .arg(folder));
        if (st.st_mode & 022)
            return notUsed(
                file,
                QStringLiteral("its folder %1 is writable by group or others (mode %2), "
                               "so someone else could have replaced it")
                    .arg(folder, modeText(st.st_mode)),
                QStringLiteral("Check what is in it, then run: chmod go-w %1").arg(folder));
        return {};
    };
    checks.file = [readers](const QString& path, const struct stat& st) -> Status {
        const uid_t me = ::geteuid();
        if (readers == Readers::OwnerOnly && (st.st_uid != me || (st.st_mode & 077) != 0))
            return Status::failure(
                Error::StoreFailure,
                QStringLiteral("%1 may be read by others (owner %2, mode %3); "
                               "it must be this user's, mode 0600")
                    .arg(path, QString::number(st.st_uid), modeText(st.st_mode)));
        if (st.st_uid != me)
            return notUsed(path,
                           QStringLiteral("it belongs to user %1, not to this user (%2)")
                               .arg(st.st_uid)
                               .arg(me),
                           QStringLiteral("Check its entries, then give it to this user (as root: "
                                          "chown %1 %2), or remove it and record them again")
                               .arg(me)
                               .arg(path));
        if (st.st_mode & 022)
            return notUsed(path,
                           QStringLiteral("it is writable by group or others (mode %1)")
                               .arg(modeText(st.st_mode)),
                           QStringLiteral("Check its entries, then run: chmod go-w %1").arg(path));
        return {};
    };
    return checks;
}

bool ownerTrusted(uid_t owner) {
    return owner == ::geteuid() || owner == 0;
}

// One folder on the way to an executable, with the entry below it.
Status checkExecutableFolder(const QString& folder, const QString& entry) {
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return Status::failure(
            Error::Untrusted,
            QStringLiteral("cannot inspect folder %1: %2").arg(folder, systemError()));
    if (!ownerTrusted(st.st_uid))
        return Status::failure(
            Error::Untrusted,
            QStringLiteral("folder %1 belongs to user %2").arg(folder, QString::number(st.st_uid)));
    if ((st.st_mode & 022) == 0)
        return {};
    // A sticky folder lets no one remove or rename what another user owns.
    struct stat below {};
    if ((st.st_mode & S_ISVTX) &&
        ::lstat(QFile::encodeName(QDir(folder).filePath(entry)).constData(), &below) == 0 &&
        ownerTrusted(below.st_uid))
        return {};
    return Status::failure(Error::Untrusted,
                           QStringLiteral("folder %1 is writable by group or others (mode %2)")
                               .arg(folder, modeText(st.st_mode)));
}

// Every folder from the root down to the file named by an absolute path.
Status checkExecutableFolders(const QString& absolute) {
    const QStringList parts = absolute.split(QLatin1Char('/'), Qt::SkipEmptyParts);
    QString folder = QStringLiteral("/");
    for (const QString& part : parts) {
        if (const Status s = checkExecutableFolder(folder, part); !s.ok())
            return s;
        folder = QDir(folder).filePath(part);
    }
    return {};
}

bool isAsciiDigit(QChar c) {
    return c >= QLatin1Char('0') && c <= QLatin1Char('9');
}

bool isHostNameChar(QChar c) {
    return isAsciiDigit(c) || (c >= QLatin1Char('a') && c <= QLatin1Char('z')) ||
           (c >= QLatin1Char('A') && c <= QLatin1Char('Z')) || c == QLatin1Char('-');
}

// What is wrong with name as an IPv6 address (with a zone after %, as
// link-local addresses need); empty when nothing is.
QString ipv6Problem(const QString& name) {
    const qsizetype percent = name.indexOf(QLatin1Char('%'));
    const QString address = percent < 0 ? name : name.left(percent);
    if (percent >= 0) {
        const QString zone = name.mid(percent + 1);
        const bool plain = std::all_of(zone.cbegin(), zone.cend(), [](QChar c) {
            return isHostNameChar(c) || c == QLatin1Char('_') || c == QLatin1Char('.');
        });
        if (zone.isEmpty() || zone.size() > MaxZone || !plain)
            return QStringLiteral("its zone after % is not an interface name");
    }
    in6_addr parsed{};
    if (::inet_pton(AF_INET6, address.toLatin1().constData(), &parsed) != 1)
        return QStringLiteral("it is not an IPv6 address");
    return {};
}

// What is wrong with name as a host name or IPv4 address; empty when
// nothing is.
QString hostProblem(const QString& name) {
    // All digits and dots: an IPv4 address or nothing (no top-level
    // domain is a number).
    const bool numeric = std::all_of(name.cbegin(), name.cend(), [](QChar c) {
        return isAsciiDigit(c) || c == QLatin1Char('.');
    });
    if (numeric) {
        in_addr parsed{};
        return ::inet_pton(AF_INET, name.toLatin1().constData(), &parsed) == 1
                   ? QString()
                   : QStringLiteral(
                         "it is not an IPv4 address (four numbers 0 to 255 "
                         "separated by dots)");
    }
    for (const QString& label : name.split(QLatin1Char('.'))) {
        if (label.isEmpty())
            return QStringLiteral("it has an empty part (a dot at either end, or two in a row)");
        if (label.size() > MaxLabel)
            return QStringLiteral("its part %1 is longer than %2 characters")
                .arg(quoted(label.left(16) + QStringLiteral("...")), QString::number(MaxLabel));
        if (label.startsWith(QLatin1Char('-')) || label.endsWith(QLatin1Char('-')))
            return QStringLiteral("its part %1 starts or ends with a hyphen").arg(quoted(label));
    }
    return {};
}

}  // namespace

// Trust files.

bool parseClassPatterns(const QString& list, QStringList* patterns, QString* error) {
    patterns->clear();
    for (const QString& piece : list.split(QLatin1Char(','))) {
        const QString pattern = piece.trimmed();
        QString why;
        if (pattern.isEmpty())
            why = QStringLiteral("an empty class pattern");
        else if (pattern.startsWith(QLatin1Char('-')))
            why = QStringLiteral("a class pattern that starts with '-'");
        else if (pattern.contains(QLatin1Char('"')))
            why = QStringLiteral("a class pattern with a double quote");
        else if (printable(pattern) != pattern)
            why = QStringLiteral("a class pattern with a control character");
        if (!why.isEmpty()) {
            *error = QStringLiteral("%1 in the class list %2").arg(why, quoted(list));
            patterns->clear();
            return false;
        }
        patterns->append(pattern);
    }
    return true;
}

bool classMatches(const QStringList& patterns, const QString& className) {
    const QString name = ClassStore::nameKey(className);
    return std::any_of(patterns.cbegin(), patterns.cend(), [&name](const QString& pattern) {
        return globMatch(ClassStore::nameKey(pattern), name);
    });
}

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
    // The folder counts: a file that was fine is refused once its folder
    // is not.
    const QByteArray now = files::stamp(configDirectory()) + '|' + files::stamp(file);
    if (!m_stamp.isEmpty() && now == m_stamp)
        return {};
    m_entries.clear();
    m_problems.clear();
    m_stamp.clear();
    QByteArray data;
    bool exists = false;
    if (const Status s = readTrustedFile(file, &data, &exists); !s.ok())
        return s;
    m_stamp = now;
    int number = 0;
    for (const QByteArray& raw : data.split('\n')) {
        ++number;
        const Line line = readLine(m_kind, QString::fromUtf8(raw));
        if (!line.problem.isEmpty())
            m_problems.append(QStringLiteral("line %1: %2").arg(number).arg(line.problem));
        else if (line.entry)
            m_entries.append(line.value);
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

// For a change: the file read under its lock, which is made in the folder
// only once the file and the folder have passed the checks.
Status TrustFile::lockAndRead(files::Lock* lock, QByteArray* data, bool* exists) {
    if (const Status s = readTrustedFile(path(), data, exists); !s.ok())
        return s;
    if (const Status s = makeOwnDirectory(configDirectory(), Privacy::Owned); !s.ok())
        return s;
    if (const Status s = lock->acquire(path() + QStringLiteral(".lock"), -1); !s.ok())
        return s;
    return readTrustedFile(path(), data, exists);
}

Status TrustFile::add(const TrustEntry& entry, bool* added) {
    if (added)
        *added = false;
    // A name that is not one could carry a line end, hence an entry for
    // another machine, or a blank that would cut the line elsewhere.
    if (m_kind == Kind::KnownHosts) {
        if (const Status s = checkMachineName(entry.machine); !s.ok())
            return s;
    }
    QByteArray data;
    bool exists = false;
    files::Lock lock;
    if (const Status s = lockAndRead(&lock, &data, &exists); !s.ok())
        return s;
    bool present = false;
    if (const Status s = contains(entry.identity, &present, entry.machine); !s.ok() || present)
        return s;
    if (!exists)
        data = m_kind == Kind::KnownHosts ? KnownHostsHeader : AuthorizedClientsHeader;
    if (!data.isEmpty() && !data.endsWith('\n'))
        data += '\n';
    data += lineOf(m_kind, entry).toUtf8() + '\n';
    if (const Status s = files::replace(path(), data); !s.ok())
        return s;
    if (added)
        *added = true;
    return {};
}

Status TrustFile::remove(const QString& machineOrIdentity, const QString& identity, int* removed) {
    *removed = 0;
    QByteArray data;
    bool exists = false;
    // Checked before the lock is made there.
    if (const Status s = readTrustedFile(path(), &data, &exists); !s.ok() || !exists)
        return s;
    files::Lock lock;
    if (const Status s = lock.acquire(path() + QStringLiteral(".lock"), -1); !s.ok())
        return s;
    if (const Status s = readTrustedFile(path(), &data, &exists); !s.ok() || !exists)
        return s;
    const bool hosts = m_kind == Kind::KnownHosts;
    const QString wantedId = canonicalIdentity(hosts ? identity : machineOrIdentity);
    QByteArray kept;
    for (const QByteArray& raw : data.split('\n')) {
        const QStringList parts = QString::fromUtf8(raw).trimmed().split(blanks());
        bool match = false;
        if (hosts && parts.size() >= 2 && !parts.at(0).startsWith(QLatin1Char('#')))
            match = machineKey(parts.at(0)) == machineKey(machineOrIdentity) &&
                    (identity.isEmpty() || canonicalIdentity(parts.at(1)) == wantedId);
        else if (!hosts)
            match = !wantedId.isEmpty() &&
                    readLine(m_kind, QString::fromUtf8(raw)).value.identity == wantedId;
        if (match)
            ++*removed;
        else
            kept += raw + '\n';
    }
    kept.chop(1);  // split() gave one more piece than there were line ends
    return *removed ? files::replace(path(), kept) : Status();
}

Status TrustFile::replace(const TrustEntry& entry) {
    QByteArray data;
    bool exists = false;
    files::Lock lock;
    if (const Status s = lockAndRead(&lock, &data, &exists); !s.ok())
        return s;
    if (!exists)
        data = AuthorizedClientsHeader;
    const QString id = canonicalIdentity(entry.identity);
    QByteArray kept;
    bool placed = false;
    for (const QByteArray& raw : data.split('\n')) {
        const Line line = readLine(m_kind, QString::fromUtf8(raw));
        if (line.value.identity != id || id.isEmpty()) {
            kept += raw + '\n';
            continue;
        }
        // The first of the identity's entries takes the new one; the others
        // go, or they would still allow what they did.
        if (!placed) {
            TrustEntry updated = entry;
            if (updated.comment.trimmed().isEmpty())
                updated.comment = line.value.comment;
            kept += lineOf(m_kind, updated).toUtf8() + '\n';
            placed = true;
        }
    }
    kept.chop(1);  // split() gave one more piece than there were line ends
    if (!placed) {
        if (!kept.isEmpty() && !kept.endsWith('\n'))
            kept += '\n';
        kept += lineOf(m_kind, entry).toUtf8() + '\n';
    }
    return files::replace(path(), kept);
}

Status TrustFile::classesOf(const QString& identity, bool* found, QStringList* classes) {
    *found = false;
    classes->clear();
    if (const Status s = reload(); !s.ok())
        return s;
    const QString id = canonicalIdentity(identity);
    QStringList all;
    for (const TrustEntry& e : std::as_const(m_entries)) {
        if (e.identity != id)
            continue;
        if (e.classes.isEmpty()) {
            *found = true;
            return {};
        }
        all += e.classes;
    }
    *found = !all.isEmpty();
    *classes = all;
    return {};
}

Status readTrustedFile(const QString& path, QByteArray* data, bool* exists, Readers readers) {
    return files::read(path, data, exists, trustChecks(path, readers));
}

// Pinning.

Status checkHostIdentity(const QString& identity, const QString& ownIdentity,
                         const QString& machine, const QString& peer) {
    if (identity.isEmpty())
        return Status::failure(Error::UnknownHost,
                               QStringLiteral("%1 presented no certificate").arg(peer));
    if (identity == ownIdentity)
        return {};
    TrustFile knownHosts(TrustFile::Kind::KnownHosts);
    bool trusted = false;
    if (const Status s = knownHosts.contains(identity, &trusted, machine); !s.ok() || trusted)
        return s;
    QList<TrustEntry> entries;
    knownHosts.entries(&entries);
    const QString key = TrustFile::machineKey(machine);
    const bool machineKnown =
        std::any_of(entries.cbegin(), entries.cend(),
                    [&](const TrustEntry& e) { return TrustFile::machineKey(e.machine) == key; });
    const QString record = QStringLiteral("automationctl add-host %1 %2").arg(machine, identity);
    if (machineKnown)
        return Status::failure(
            Error::UnknownHost,
            QStringLiteral("%1 presented identity %2, but %3 records another identity for %4: "
                           "it may be an impostor, so nothing was sent. If the host's identity "
                           "really changed, record the new one with: %5")
                .arg(peer, identity, knownHosts.path(), machine, record));
    return Status::failure(
        Error::UnknownHost,
        QStringLiteral("%1 presented identity %2, which is not recorded for %3 in %4, so nothing "
                       "was sent. Pair with it: automationctl pair %3 (the host's user accepts "
                       "the code). Or, if it is the identity that 'automationctl identity' shows "
                       "for the host's user there, record it with: %5")
            .arg(peer, identity, machine, knownHosts.path(), record));
}

Status checkClientIdentity(const QString& identity, const QString& ownIdentity,
                           TrustFile* authorized) {
    if (identity.isEmpty())
        return Status::failure(Error::NotAuthorized,
                               QStringLiteral("the client presented no certificate"));
    if (identity == ownIdentity)
        return {};
    bool found = false;
    if (const Status s = authorized->contains(identity, &found); !s.ok())
        return Status::failure(
            Error::StoreFailure,
            QStringLiteral("the host cannot read its authorized clients: %1").arg(s.reason));
    if (!found)
        return Status::failure(Error::NotAuthorized,
                               QStringLiteral("client identity %1 is not authorized on %2. "
                                              "Pair with the host (automationctl pair MACHINE), "
                                              "or the host's user can allow it with: "
                                              "automationctl authorize %1")
                                   .arg(identity, QSysInfo::machineHostName()));
    return {};
}

// Local peers.

bool peerCredentials(qintptr descriptor, uid_t* uid, pid_t* pid) {
    ucred credentials{};
    socklen_t length = sizeof credentials;
    if (descriptor < 0 ||
        ::getsockopt(int(descriptor), SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0)
        return false;
    *uid = credentials.uid;
    if (pid)
        *pid = credentials.pid;
    return true;
}

Status checkPeerUser(qintptr descriptor, pid_t* pid) {
    uid_t uid = 0;
    pid_t peer = 0;
    const bool known = peerCredentials(descriptor, &uid, &peer);
    if (pid)
        *pid = known ? peer : 0;
    if (!known)
        return Status::failure(Error::PeerRefused, QStringLiteral("runs as an unknown user"));
    if (uid != ::geteuid())
        return Status::failure(
            Error::PeerRefused,
            QStringLiteral("runs as user %1, not as this user (%2)").arg(uid).arg(::geteuid()));
    return {};
}

// Executables.

Status checkTrustedExecutable(const QString& path) {
    const QString absolute = QFileInfo(path).absoluteFilePath();
    // The folders as named (a link among them is followed) and as resolved.
    if (const Status s = checkExecutableFolders(absolute); !s.ok())
        return s;
    const QString canonical = QFileInfo(absolute).canonicalFilePath();
    if (canonical.isEmpty())
        return Status::failure(Error::ServerStartFailed,
                               QStringLiteral("%1 does not exist").arg(absolute));
    if (canonical != absolute) {
        if (const Status s = checkExecutableFolders(canonical); !s.ok())
            return s;
    }
    struct stat st {};
    if (::stat(QFile::encodeName(canonical).constData(), &st) != 0)
        return Status::failure(
            Error::Untrusted,
            QStringLiteral("cannot inspect %1: %2").arg(canonical, systemError()));
    if (!ownerTrusted(st.st_uid))
        return Status::failure(Error::Untrusted, QStringLiteral("file %1 belongs to user %2")
                                                     .arg(canonical, QString::number(st.st_uid)));
    if (st.st_mode & 022)
        return Status::failure(Error::Untrusted,
                               QStringLiteral("file %1 is writable by group or others (mode %2)")
                                   .arg(canonical, modeText(st.st_mode)));
    return {};
}

// Machine names.

Status checkMachineName(const QString& text) {
    const QString name = text.trimmed();
    const auto refuse = [&text](const QString& why) {
        return Status::failure(
            Error::MachineNotFound,
            QStringLiteral("%1 is not a machine name: %2. Give a host name (letters, digits, "
                           "hyphens and dots), an IPv4 address or an IPv6 address")
                .arg(quoted(text), why));
    };
    if (name.isEmpty())
        return refuse(QStringLiteral("it is blank"));
    for (const QChar c : name) {
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            return refuse(QStringLiteral("it holds a control character"));
        if (c.isSpace())
            return refuse(QStringLiteral("it holds a blank"));
    }
    if (name.size() > MaxMachineName)
        return refuse(QStringLiteral("it is longer than %1 characters").arg(MaxMachineName));
    const bool bracketed = name.startsWith(QLatin1Char('[')) || name.endsWith(QLatin1Char(']'));
    if (bracketed || name.contains(QLatin1Char(':'))) {
        if (bracketed && !(name.startsWith(QLatin1Char('[')) && name.endsWith(QLatin1Char(']'))))
            return refuse(QStringLiteral("its brackets do not match"));
        const QString problem = ipv6Problem(bracketed ? name.mid(1, name.size() - 2) : name);
        return problem.isEmpty() ? Status() : refuse(problem);
    }
    for (const QChar c : name) {
        if (!isHostNameChar(c) && c != QLatin1Char('.'))
            return refuse(QStringLiteral("it holds %1, which no machine name has%2")
                              .arg(quoted(QString(c)),
                                   c.unicode() > 127
                                       ? QStringLiteral(" (write an international name in its "
                                                        "ASCII form, xn--...)")
                                       : QString()));
    }
    const QString problem = hostProblem(name);
    return problem.isEmpty() ? Status() : refuse(problem);
}

}  // namespace automation
