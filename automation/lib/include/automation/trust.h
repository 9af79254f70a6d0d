#pragma once

#include <automation/printable.h>
#include <automation/status.h>

#include <QByteArray>
#include <QList>
#include <QString>

#include <sys/types.h>

// Every check of whom the automation layer trusts, in one place:
// - the files that say it (known_hosts, authorized_clients, the identity) are
//   used only while this user owns them and their folder and no one else may
//   write either, when read as when written;
// - the identities pinned in them: the hosts a client talks to, the clients
//   a host serves;
// - the user at the other end of a local socket;
// - the executables started for activation;
// - the machine names that may be recorded or connected to.
namespace automation {

namespace files {
class Lock;
}

// One line of a trust file: for known_hosts a machine and a host identity,
// for authorized_clients an identity (machine empty), which may be limited
// to some classes. The comment is the rest of the line.
struct TrustEntry {
    QString machine;
    QString identity;
    QString comment;
    QStringList classes{};  // patterns of the classes it may create; empty for every class

    friend bool operator==(const TrustEntry&, const TrustEntry&) = default;
};

// A list of class patterns as written on a command line and in
// authorized_clients: "Server.Application,Office.*". A pattern is a class
// name in which * stands for any run of characters and ? for one; blanks
// around it are dropped. A list with an empty pattern, or one that holds a
// double quote, a control character or a leading '-', is refused with the
// reason in *error.
bool parseClassPatterns(const QString& list, QStringList* patterns, QString* error);

// Whether className matches one of the patterns, compared as class names
// are: without regard to case and surrounding blanks.
bool classMatches(const QStringList& patterns, const QString& className);

// A trust file: one entry a line, blank lines and lines starting with # are
// skipped, as are lines that do not hold an identity. Read again whenever it
// or its folder has changed; written whole to a new file that then replaces
// it. Every read, for a lookup as for a change, refuses (Untrusted, naming
// the file, why and what to do) a file or folder that is not this user's or
// that group or others may write.
//
// An authorized_clients entry may start with options, as in
//   classes="Server.Application,Office.*" IDENTITY [comment]
// which limit what the identity may create. An entry whose options cannot
// be read is left out (never read as allowing every class) and named in
// problems().
class TrustFile {
public:
    enum class Kind { KnownHosts, AuthorizedClients };
    explicit TrustFile(Kind kind);

    QString path() const;

    // The entries; a missing file has none.
    Status entries(QList<TrustEntry>* entries);

    // Whether identity is trusted (for known_hosts: recorded for machine).
    // A missing file trusts no one.
    Status contains(const QString& identity, bool* found, const QString& machine = QString());

    // Adds an entry unless it is there already (then *added is false). A
    // known_hosts entry needs a machine name that checkMachineName() takes.
    Status add(const TrustEntry& entry, bool* added = nullptr);

    // authorized_clients: puts entry in the place of the identity's entries
    // (readable or not), or at the end when there are none. An entry without
    // a comment keeps the one the identity had.
    Status replace(const TrustEntry& entry);

    // The classes identity may create: *found is false when it has no
    // entry, and *classes empty when it may create every class (several
    // entries add up).
    Status classesOf(const QString& identity, bool* found, QStringList* classes);

    // The lines left out at the last reading, as "line N: why".
    QStringList problems() const { return m_problems; }

    // Removes the entries that match: for known_hosts every entry of the
    // machine, or only the one with identity when it is given.
    Status remove(const QString& machineOrIdentity, const QString& identity, int* removed);

    static QString machineKey(const QString& machine);

private:
    Status reload();
    Status lockAndRead(files::Lock* lock, QByteArray* data, bool* exists);

    Kind m_kind;
    QList<TrustEntry> m_entries;
    QStringList m_problems;
    QByteArray m_stamp;  // what the file and its folder looked like when read
};

// Who besides this user may read a file read through readTrustedFile().
enum class Readers {
    Anyone,    // a trust file or a certificate: only writing is guarded
    OwnerOnly  // a private key
};

// Reads a file that decides whom to trust, as it is named (a symbolic link at
// it or at its folder is refused): the folder and the file must be this
// user's, and writable by no one else; with Readers::OwnerOnly the file must
// also be readable by no one else. A missing file is empty with *exists
// false. The checks are made on the opened folder and file themselves.
Status readTrustedFile(const QString& path, QByteArray* data, bool* exists,
                       Readers readers = Readers::Anyone);

// The client's pinning: whether the host at machine, which presented
// identity, is trusted. It is when it presents this user's own identity
// (ownIdentity) or one recorded for the machine in known_hosts. Otherwise
// UnknownHost, with the command that records the identity; peer names the
// host in the reason.
Status checkHostIdentity(const QString& identity, const QString& ownIdentity,
                         const QString& machine, const QString& peer);

// The host's pinning: whether the client that presented identity is served,
// as this user's own identity or one in authorized (NotAuthorized with the
// command that allows it otherwise; StoreFailure when the file is refused).
Status checkClientIdentity(const QString& identity, const QString& ownIdentity,
                           TrustFile* authorized);

// The user id of the process at the other end of a connected Unix socket;
// false when the kernel does not say.
bool peerCredentials(qintptr descriptor, uid_t* uid, pid_t* pid);

// Whether the process at the other end of a connected Unix socket runs as
// this user. PeerRefused otherwise, the reason going on from "the process"
// ("runs as user 1001, not as this user (1000)"). *pid, when given, gets the
// peer's process id (0 when unknown).
Status checkPeerUser(qintptr descriptor, pid_t* pid = nullptr);

// Refuses to start an executable that someone other than this user or root
// could replace: the file, or any folder on its path (as given and as
// resolved), owned by another user or writable by group or others. A sticky
// folder such as /tmp is fine when the entry below it is this user's or
// root's. The reason names the file or folder and why.
Status checkTrustedExecutable(const QString& path);

// Whether text names a machine, once the blanks around it are set aside: a
// host name (letters, digits and hyphens in labels of 1 to 63 characters
// separated by dots, at most 253 characters), an IPv4 address in dotted
// decimal, or an IPv6 address with or without brackets. MachineNotFound
// otherwise, with the name shown by quoted() and what is wrong with it.
Status checkMachineName(const QString& text);

}  // namespace automation
