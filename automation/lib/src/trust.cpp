#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/printable.h>

#include "files.h"

#include <QRegularExpression>

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

}  // namespace

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
    const QByteArray now = files::stamp(file);
    if (!now.isEmpty() && now == m_stamp)
        return {};
    QByteArray data;
    bool exists = false;
    if (const Status s = files::read(file, &data, &exists); !s.ok())
        return s;
    m_entries.clear();
    m_problems.clear();
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
    data += lineOf(m_kind, entry).toUtf8() + '\n';
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

}  // namespace automation
