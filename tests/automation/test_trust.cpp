// Identities and trust files: how they are made, read, changed and guarded.

#include <automation/classstore.h>
#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/remoteactivation.h>
#include <automation/trust.h>

#include "processes.h"

#include <testenv.h>

#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <optional>

using namespace automation;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
}

void write(const QString& path, const QByteArray& data) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(data);
}

QByteArray contentOf(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Two identities, canonical, for the trust files.
const QString IdA =
    QStringLiteral("AAAA-BBBB-CCCC-DDDD-EEEE-FFFF-GGGG-HHHH-IIII-JJJJ-KKKK-LLLL-MMMM");
const QString IdB =
    QStringLiteral("2222-3333-4444-5555-6666-7777-2222-3333-4444-5555-6666-7777-2222");

}  // namespace

class TestTrust : public QObject {
    Q_OBJECT
private slots:
    void init() { m_env.emplace(); }
    void cleanup() { m_env.reset(); }

    void identityIsMadeOnceAndKeptPrivate() {
        Identity first;
        const Status s = loadIdentity(&first);
        QVERIFY2(s.ok(), qPrintable(s.reason));
        const QString dir = m_env->configHome() + "/automation";
        QCOMPARE(modeOf(dir), 0700);
        QCOMPARE(modeOf(dir + "/identity.key"), 0600);
        QCOMPARE(modeOf(dir + "/identity.crt"), 0600);
        QCOMPARE(first.id, identityOf(first.certificate));
        QCOMPARE(first.key.algorithm(), QSsl::Ec);
        QVERIFY(QRegularExpression("^([A-Z2-7]{4}-){12}[A-Z2-7]{4}$").match(first.id).hasMatch());

        Identity again;
        QVERIFY(loadIdentity(&again).ok());
        QCOMPARE(again.id, first.id);

        // Another home, another identity.
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->root() + "/other"));
        Identity other;
        QVERIFY(loadIdentity(&other).ok());
        QVERIFY(other.id != first.id);
    }

    // Processes that make the identity at the same moment agree on one.
    void concurrentFirstUseAgrees() {
        std::vector<std::unique_ptr<QProcess>> tools;
        for (int i = 0; i < 4; ++i) {
            tools.push_back(std::make_unique<QProcess>());
            tools.back()->start(AUTOMATIONCTL, {"identity"});
        }
        QSet<QByteArray> ids;
        for (auto& p : tools) {
            QVERIFY(p->waitForFinished(30000));
            QCOMPARE(p->exitCode(), 0);
            ids.insert(p->readAllStandardOutput().trimmed());
        }
        QCOMPARE(ids.size(), 1);
        Identity me;
        QVERIFY(loadIdentity(&me).ok());
        QCOMPARE(me.id.toUtf8(), *ids.begin());
    }

    void keyThatOthersCanReadIsRefused() {
        Identity me;
        QVERIFY(loadIdentity(&me).ok());
        const QString key = m_env->configHome() + "/automation/identity.key";
        ::chmod(QFile::encodeName(key).constData(), 0640);
        const Status s = loadIdentity(&me);
        QCOMPARE(s.error, Error::StoreFailure);
        QVERIFY2(s.reason.contains(key) && s.reason.contains("0640"), qPrintable(s.reason));
    }

    // A link planted at a key or trust file is refused, never followed.
    void linksAreNotFollowed_data() {
        QTest::addColumn<QString>("file");
        QTest::newRow("key") << "identity.key";
        QTest::newRow("known hosts") << "known_hosts";
        QTest::newRow("authorized clients") << "authorized_clients";
    }
    void linksAreNotFollowed() {
        QFETCH(QString, file);
        const QString dir = m_env->configHome() + "/automation";
        QVERIFY(makeOwnDirectory(dir, Privacy::Owned).ok());
        const QString target = m_env->root() + "/planted";
        QVERIFY(QFile::link(target, dir + '/' + file));
        Status s;
        if (file == "identity.key") {
            Identity me;
            s = loadIdentity(&me);
        } else {
            TrustFile trust(file == "known_hosts" ? TrustFile::Kind::KnownHosts
                                                  : TrustFile::Kind::AuthorizedClients);
            s = trust.add({"box", IdA, {}});
        }
        QCOMPARE(s.error, Error::StoreFailure);
        QVERIFY2(s.reason.contains("symbolic link"), qPrintable(s.reason));
        QVERIFY(!QFileInfo::exists(target));
    }

    // A file that decides whom to trust is used only while no one but this
    // user could have written it or replaced it in its folder: neither to
    // look an identity up nor to change it. The reason names the file, what
    // is wrong and what to do.
    void filesOthersCouldChangeAreRefused_data() {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("damage");
        QTest::addColumn<int>("mode");
        QTest::newRow("known hosts, folder writable by others") << "known_hosts"
                                                                << "folder" << 0777;
        QTest::newRow("authorized clients, folder writable by group") << "authorized_clients"
                                                                      << "folder" << 0770;
        QTest::newRow("known hosts, file writable by others") << "known_hosts"
                                                              << "file" << 0646;
        QTest::newRow("authorized clients, file writable by group") << "authorized_clients"
                                                                    << "file" << 0660;
        QTest::newRow("authorized clients of another user") << "authorized_clients"
                                                            << "file owner" << 0;
        QTest::newRow("known hosts, folder of another user") << "known_hosts"
                                                             << "folder owner" << 0;
        QTest::newRow("key, folder writable by others") << "identity.key"
                                                        << "folder" << 0777;
        QTest::newRow("certificate writable by group") << "identity.crt"
                                                       << "file" << 0660;
    }
    void filesOthersCouldChangeAreRefused() {
        QFETCH(QString, file);
        QFETCH(QString, damage);
        QFETCH(int, mode);
        if (damage.endsWith("owner") && !runningAsRoot())
            QSKIP("giving a file to another user needs root");
        const QString dir = m_env->configHome() + "/automation";
        const QString path = dir + '/' + file;
        const bool identity = file.startsWith("identity");
        TrustFile trust(file == "known_hosts" ? TrustFile::Kind::KnownHosts
                                              : TrustFile::Kind::AuthorizedClients);
        const auto use = [&]() -> Status {
            if (identity) {
                Identity me;
                return loadIdentity(&me);
            }
            bool found = false;
            return trust.contains(IdA, &found, "box");
        };
        if (!identity)
            QVERIFY(trust.add({"box", IdA, {}}).ok());
        QVERIFY(use().ok());  // read, and remembered, while it is fine
        const QByteArray before = contentOf(path);

        const QString blamed = damage.startsWith("folder") ? dir : path;
        QString why;
        if (damage.endsWith("owner")) {
            QVERIFY(::chown(QFile::encodeName(blamed).constData(), NobodyUid, NobodyUid) == 0);
            why = QStringLiteral("belongs to user %1, not to this user (0)").arg(NobodyUid);
        } else {
            QVERIFY(::chmod(QFile::encodeName(blamed).constData(), mode_t(mode)) == 0);
            why = QStringLiteral("writable by group or others (mode 0%1)").arg(mode, 0, 8);
        }
        const auto refused = [&](const Status& s) {
            return s.error == Error::Untrusted && s.reason.startsWith(path + " is not used") &&
                   s.reason.contains(blamed + ' ') && s.reason.contains(why) &&
                   s.reason.contains(damage.endsWith("owner") ? QStringLiteral("chown")
                                                              : "chmod go-w " + blamed);
        };
        Status s = use();
        QVERIFY2(refused(s), qPrintable(s.reason));
        if (!identity) {
            QList<TrustEntry> entries;
            s = trust.entries(&entries);
            QVERIFY2(refused(s) && entries.isEmpty(), qPrintable(s.reason));
            s = trust.add({"box", IdB, {}});
            QVERIFY2(refused(s), qPrintable(s.reason));
            int removed = 0;
            s = trust.remove(file == "known_hosts" ? "box" : IdA, {}, &removed);
            QVERIFY2(refused(s) && removed == 0, qPrintable(s.reason));
            QCOMPARE(contentOf(path), before);
            // The tool says the same and changes nothing either.
            QByteArray out;
            QCOMPARE(runProgram(AUTOMATIONCTL, {file == "known_hosts" ? "hosts" : "clients"}, &out),
                     1);
            QVERIFY2(out.contains(path.toUtf8() + " is not used"), out.constData());
        }
        // Put right as the reason says, it is used again.
        if (damage.endsWith("owner"))
            QVERIFY(::chown(QFile::encodeName(blamed).constData(), 0, 0) == 0);
        else
            QVERIFY(::chmod(QFile::encodeName(blamed).constData(), mode_t(mode & ~022)) == 0);
        s = use();
        QVERIFY2(s.ok(), qPrintable(s.reason));
    }

    // The folders a first use makes are private, and the files 0600, even
    // under a umask that would leave them open or take the owner's bits.
    void madePrivateWhateverTheUmask_data() {
        QTest::addColumn<int>("mask");
        QTest::newRow("umask 000") << 0;
        QTest::newRow("umask 277") << 0277;
    }
    void madePrivateWhateverTheUmask() {
        QFETCH(int, mask);
        const QString fresh = m_env->root() + "/fresh";
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(fresh + "/config"));
        const mode_t previous = ::umask(mode_t(mask));
        const auto restore = qScopeGuard([previous] { ::umask(previous); });
        const Status s = TrustFile(TrustFile::Kind::AuthorizedClients).add({{}, IdA, {}});
        QVERIFY2(s.ok(), qPrintable(s.reason));
        for (const QString& dir : {fresh, fresh + "/config", fresh + "/config/automation"})
            QCOMPARE(modeOf(dir), 0700);
        QCOMPARE(modeOf(fresh + "/config/automation/authorized_clients"), 0600);
    }

    // What is no machine name is never recorded nor used: a line end in it
    // would record the identity for another machine, a blank would cut the
    // line where reading it drops the entry. The reason shows the name
    // escaped; the library refuses it as the tool does.
    void machineNames_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("problem");  // empty: a machine name
        const QString label63 = QString(63, 'a');
        QTest::newRow("host") << "box"
                              << "";
        QTest::newRow("qualified, any case") << "Build-01.Example.ORG"
                                             << "";
        QTest::newRow("blanks around") << "  box.example  "
                                       << "";
        QTest::newRow("IPv4") << "192.0.2.7"
                              << "";
        QTest::newRow("IPv6") << "2001:db8::7"
                              << "";
        QTest::newRow("IPv6 in brackets") << "[::1]"
                                          << "";
        QTest::newRow("IPv6 with a zone") << "fe80::1%eth0"
                                          << "";
        QTest::newRow("international, ASCII form") << "xn--bcher-kva.example"
                                                   << "";
        QTest::newRow("longest label") << label63 + ".example"
                                       << "";
        QTest::newRow("longest name") << QStringList(4, label63).join('.').left(253) << "";
        QTest::newRow("blank") << "   "
                               << "it is blank";
        QTest::newRow("a blank inside") << "my box"
                                        << "it holds a blank";
        QTest::newRow("a line end") << "decoy\nbox"
                                    << "control character";
        QTest::newRow("an escape sequence") << "box\x1b[2J"
                                            << "control character";
        QTest::newRow("a direction override") << QString("box\u202eexample") << "control character";
        QTest::newRow("an underscore") << "build_box"
                                       << "no machine name has";
        QTest::newRow("not ASCII") << QString("b\u00fccher.example") << "xn--";
        QTest::newRow("a hyphen at the end") << "box-.example"
                                             << "hyphen";
        QTest::newRow("two dots") << "box..example"
                                  << "empty part";
        QTest::newRow("a final dot") << "box.example."
                                     << "empty part";
        QTest::newRow("IPv4 out of range") << "192.0.2.256"
                                           << "not an IPv4 address";
        QTest::newRow("IPv4 too short") << "10.1.2"
                                        << "not an IPv4 address";
        QTest::newRow("unmatched bracket") << "[::1"
                                           << "brackets do not match";
        QTest::newRow("bad IPv6") << "2001:db8::g"
                                  << "not an IPv6 address";
        QTest::newRow("empty zone") << "fe80::1%"
                                    << "zone";
        QTest::newRow("label too long") << QString(64, 'a') + ".example"
                                        << "longer than 63";
        QTest::newRow("name too long")
            << QStringList(5, label63).join('.').left(254) << "longer than 253";
    }
    void machineNames() {
        QFETCH(QString, name);
        QFETCH(QString, problem);
        const Status s = checkMachineName(name);
        const Status added = TrustFile(TrustFile::Kind::KnownHosts).add({name, IdA, {}});
        QByteArray out;
        const int recorded = runProgram(AUTOMATIONCTL, {"add-host", name, IdB}, &out);
        QList<TrustEntry> entries;
        QVERIFY(TrustFile(TrustFile::Kind::KnownHosts).entries(&entries).ok());
        if (problem.isEmpty()) {
            QVERIFY2(s.ok() && added.ok(), qPrintable(s.reason + added.reason));
            QCOMPARE(recorded, 0);
            QCOMPARE(entries,
                     (QList<TrustEntry>{{name.trimmed(), IdA, {}}, {name.trimmed(), IdB, {}}}));
            return;
        }
        const QString shown = quoted(name);
        for (const Status& refused : {s, added}) {
            QCOMPARE(refused.error, Error::MachineNotFound);
            QVERIFY2(refused.reason.startsWith(shown + " is not a machine name: ") &&
                         refused.reason.contains(problem) && !refused.reason.contains('\n'),
                     qPrintable(refused.reason));
        }
        QCOMPARE(recorded, 2);
        QVERIFY2(out.contains("automationctl add-host: " + shown.toUtf8()), out.constData());
        QVERIFY(entries.isEmpty());

        // Nor is it looked for, or set as a class's machine.
        QCOMPARE(runProgram(AUTOMATIONCTL, {"remove-host", name}, &out), 2);
        QVERIFY2(out.contains("automationctl remove-host: " + shown.toUtf8()), out.constData());
        QVERIFY(ClassStore().registerClass("Test.Class", {}, SERVER_EXE).ok());
        QCOMPARE(
            runProgram(AUTOMATIONCTL, {"set", "Test.Class", "--remote", "--machine", name}, &out),
            problem == "it is blank" ? 1 : 2);
        QVERIFY(!RemoteActivation().GetRemoteActivation("Test.Class")->remote);
    }

    // Recording an identity for a machine that has another one says so,
    // showing both; the new one is recorded as asked.
    void addHostWarnsOfAnotherIdentity() {
        QByteArray out;
        QCOMPARE(runProgram(AUTOMATIONCTL, {"add-host", "box", IdA}, &out), 0);
        QVERIFY2(!out.contains("warning"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"add-host", "BOX", IdB}, &out), 0);
        QVERIFY2(out.contains("warning") && out.contains("recorded: " + IdA.toUtf8()) &&
                     out.contains("new:      " + IdB.toUtf8()) &&
                     out.contains("automationctl remove-host BOX " + IdA.toUtf8()),
                 out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"add-host", "box", IdB}, &out), 0);
        QVERIFY2(out.contains("already recorded") && !out.contains("warning"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"add-host", "other", IdB}, &out), 0);
        QVERIFY2(!out.contains("warning"), out.constData());
        QCOMPARE(runProgram(AUTOMATIONCTL, {"hosts"}, &out), 0);
        QCOMPARE(out, "box " + IdA.toUtf8() + "\nBOX " + IdB.toUtf8() + "\nother " + IdB.toUtf8() +
                          '\n');
    }

    void identitiesAsPeopleTypeThem() {
        QCOMPARE(canonicalIdentity(IdA.toLower()), IdA);
        QCOMPARE(canonicalIdentity(QString(IdA).remove('-')), IdA);
        QCOMPARE(canonicalIdentity(" " + QString(IdA).replace('-', ' ') + " "), IdA);
        QVERIFY(canonicalIdentity(IdA.left(50)).isEmpty());
        QVERIFY(canonicalIdentity(QString(IdA).replace('A', '1')).isEmpty());  // not base32
        QVERIFY(canonicalIdentity(IdA + "A").isEmpty());
    }

    void knownHostsAreReadAsWritten() {
        QVERIFY(makeOwnDirectory(m_env->configHome() + "/automation", Privacy::Owned).ok());
        TrustFile hosts(TrustFile::Kind::KnownHosts);
        write(hosts.path(), "# comment\n\n  Box.Example  " + IdA.toLower().toUtf8() +
                                " the build box\n[::1] " + IdB.toUtf8() +
                                "\nbroken-line-without-identity\nbox.example not-an-identity\n");
        QList<TrustEntry> entries;
        QVERIFY(hosts.entries(&entries).ok());
        QCOMPARE(entries,
                 (QList<TrustEntry>{{"Box.Example", IdA, "the build box"}, {"[::1]", IdB, ""}}));
        bool found = false;
        QVERIFY(hosts.contains(IdA, &found, " box.example ").ok());
        QVERIFY(found);
        QVERIFY(hosts.contains(IdB, &found, "::1").ok());
        QVERIFY(found);
        QVERIFY(hosts.contains(IdB, &found, "box.example").ok());
        QVERIFY(!found);  // recorded for another machine

        // Read again when it changes under a running program.
        write(hosts.path(), "box.example " + IdB.toUtf8() + "\n");
        QVERIFY(hosts.contains(IdA, &found, "box.example").ok());
        QVERIFY(!found);
        QVERIFY(hosts.contains(IdB, &found, "box.example").ok());
        QVERIFY(found);
    }

    void addAndRemoveKeepTheRest() {
        TrustFile clients(TrustFile::Kind::AuthorizedClients);
        bool added = false;
        QVERIFY(clients.add({{}, IdA, "alice"}, &added).ok());
        QVERIFY(added);
        QVERIFY(clients.add({{}, IdA.toLower(), "again"}, &added).ok());
        QVERIFY(!added);
        QVERIFY(clients.add({{}, IdB, {}}, &added).ok());
        QCOMPARE(modeOf(clients.path()), 0600);
        QFile f(clients.path());
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray text = f.readAll();
        QVERIFY2(
            text.startsWith("#") && text.endsWith(IdA.toUtf8() + " alice\n" + IdB.toUtf8() + "\n"),
            text.constData());

        int removed = 0;
        QVERIFY(clients.remove(IdA, {}, &removed).ok());
        QCOMPARE(removed, 1);
        QList<TrustEntry> entries;
        QVERIFY(clients.entries(&entries).ok());
        QCOMPARE(entries, (QList<TrustEntry>{{{}, IdB, {}}}));

        TrustFile hosts(TrustFile::Kind::KnownHosts);
        QVERIFY(hosts.add({"box", IdA, {}}).ok());
        QVERIFY(hosts.add({"box", IdB, {}}).ok());
        QVERIFY(hosts.add({"other", IdA, {}}).ok());
        QVERIFY(hosts.remove("BOX", IdB, &removed).ok());
        QCOMPARE(removed, 1);
        QVERIFY(hosts.remove("box", {}, &removed).ok());
        QCOMPARE(removed, 1);
        QVERIFY(hosts.entries(&entries).ok());
        QCOMPARE(entries, (QList<TrustEntry>{{"other", IdA, {}}}));
    }

    // authorized_clients entries that name classes are read strictly: an
    // option that cannot be read leaves the entry out, never allowing every
    // class, and says why.
    void clientEntriesWithClasses_data() {
        QTest::addColumn<QString>("line");
        QTest::addColumn<QStringList>("classes");  // empty: every class
        QTest::addColumn<QString>("problem");      // empty: the entry is read
        const QStringList none;
        QTest::newRow("no options") << IdA + " alice" << none << "";
        QTest::newRow("classes") << "classes=\"Server.Application,Office.*\" " + IdA + " alice"
                                 << QStringList{"Server.Application", "Office.*"} << "";
        QTest::newRow("blanks in the list") << "classes=\" Server.Application , Office.* \"\t" + IdA
                                            << QStringList{"Server.Application", "Office.*"} << "";
        QTest::newRow("no quotes")
            << "classes=Server.Application " + IdA << none << "not in double quotes";
        QTest::newRow("no closing quote")
            << "classes=\"Server.Application " + IdA << none << "no closing quote";
        QTest::newRow("empty list") << "classes=\"\" " + IdA << none << "empty class pattern";
        QTest::newRow("empty pattern")
            << "classes=\"A,,B\" " + IdA << none << "empty class pattern";
        QTest::newRow("unknown option")
            << "from=\"10.0.0.1\" " + IdA << none << "unknown option \"from\"";
        QTest::newRow("option names keep their case")
            << "Classes=\"A\" " + IdA << none << "unknown option \"Classes\"";
        QTest::newRow("given twice")
            << "classes=\"A\",classes=\"B\" " + IdA << none << "given twice";
        QTest::newRow("text after the value")
            << "classes=\"A\"x " + IdA << none << "unexpected \"x\"";
        QTest::newRow("no identity") << "classes=\"A\" alice" << none << "no identity";
        QTest::newRow("options after the identity")
            << IdA + " classes=\"A\"" << none << "options go before the identity";
    }
    void clientEntriesWithClasses() {
        QFETCH(QString, line);
        QFETCH(QStringList, classes);
        QFETCH(QString, problem);
        QVERIFY(makeOwnDirectory(m_env->configHome() + "/automation", Privacy::Owned).ok());
        TrustFile clients(TrustFile::Kind::AuthorizedClients);
        write(clients.path(), "# comment\n" + line.toUtf8() + "\n" + IdB.toUtf8() + "\n");
        bool found = false;
        QStringList allowed{"stale"};
        QVERIFY(clients.classesOf(IdA, &found, &allowed).ok());
        QCOMPARE(found, problem.isEmpty());
        QCOMPARE(allowed, classes);
        QCOMPARE(clients.problems().size(), problem.isEmpty() ? 0 : 1);
        if (!problem.isEmpty())
            QVERIFY2(clients.problems().first().startsWith("line 2: ") &&
                         clients.problems().first().contains(problem),
                     qPrintable(clients.problems().first()));
        // The lines around it are read as ever.
        QVERIFY(clients.classesOf(IdB, &found, &allowed).ok());
        QVERIFY(found && allowed.isEmpty());
    }

    void classPatterns() {
        const struct {
            const char* patterns;
            const char* name;
            bool matches;
        } cases[] = {
            {"Server.Application", " server.APPLICATION ", true},
            {"Office.*", "office.word", true},
            {"Office.*", "Office", false},
            {"Test.Obj?ct", "TEST.OBJECT", true},
            {"Test.Obj?ct", "Test.Objct", false},
            {"*", "Anything.At.All", true},
            {"a*b*c", "aXXbYYc", true},
            {"a*b*c", "aXXbYYcZ", false},
            {"Server.Application,Office.*", "Office.Excel", true},
            {"Server.Application,Office.*", "Server.Applications", false},
        };
        for (const auto& c : cases) {
            QStringList patterns;
            QString error;
            QVERIFY2(parseClassPatterns(c.patterns, &patterns, &error), qPrintable(error));
            QVERIFY2(classMatches(patterns, c.name) == c.matches,
                     qPrintable(QStringLiteral("%1 against %2").arg(c.patterns, c.name)));
        }
        // A pattern made to backtrack still answers at once.
        QStringList patterns;
        QString error;
        QVERIFY(parseClassPatterns(QString("*a").repeated(50) + "b", &patterns, &error));
        QVERIFY(!classMatches(patterns, QString(4000, 'a')));
        for (const char* bad : {"", "A,", "-x", "A\"B", "A\x01B"})
            QVERIFY2(!parseClassPatterns(bad, &patterns, &error) && patterns.isEmpty(), bad);
    }

    // Replacing an identity's entries leaves one, with the new classes and
    // the old comment: an older entry that allowed more would still count.
    void replaceLeavesOneEntry() {
        QVERIFY(makeOwnDirectory(m_env->configHome() + "/automation", Privacy::Owned).ok());
        TrustFile clients(TrustFile::Kind::AuthorizedClients);
        write(clients.path(), IdA.toUtf8() + " alice\n" + IdB.toUtf8() + " bob\nclasses=\"X\" " +
                                  IdA.toLower().toUtf8() + "\nfrom=\"x\" " + IdA.toUtf8() + "\n");
        QVERIFY(clients.replace({{}, IdA, {}, {"Server.Application"}}).ok());
        QList<TrustEntry> entries;
        QVERIFY(clients.entries(&entries).ok());
        QCOMPARE(entries,
                 (QList<TrustEntry>{{{}, IdA, "alice", {"Server.Application"}}, {{}, IdB, "bob"}}));
        QVERIFY(clients.problems().isEmpty());
        QVERIFY(clients.replace({{}, "AAAA" + IdB.mid(4), "carol", {}}).ok());
        QVERIFY(clients.entries(&entries).ok());
        QCOMPARE(entries.size(), 3);
        QCOMPARE(entries.last().comment, QStringLiteral("carol"));
    }

    void automationctlTrustCommands() {
        QProcess p;
        const auto ctl = [&p](const QStringList& args) {
            p.start(AUTOMATIONCTL, args);
            p.waitForFinished(30000);
            return p.exitCode();
        };
        QCOMPARE(ctl({"--help"}), 0);
        const QByteArray help = p.readAllStandardOutput();
        for (const char* word : {"identity", "add-host", "hosts", "remove-host", "authorize",
                                 "clients", "revoke", "Pairing two machines"})
            QVERIFY2(help.contains(word), help.constData());
        QCOMPARE(ctl({"add-host", "box", "NOT-AN-IDENTITY"}), 2);
        QCOMPARE(ctl({"authorize", "1234"}), 2);
        QCOMPARE(ctl({"authorize", IdA.toLower(), "--comment", "alice on laptop"}), 0);
        QCOMPARE(ctl({"clients"}), 0);
        QCOMPARE(p.readAllStandardOutput(), IdA.toUtf8() + " alice on laptop\n");
        // Limited to some classes, and only by asking: authorize alone never
        // widens an entry.
        QCOMPARE(ctl({"authorize", IdA, "--classes", "Server.Application, Office.*"}), 0);
        QCOMPARE(ctl({"authorize", IdA}), 0);
        QVERIFY(p.readAllStandardOutput().contains("already authorized"));
        QCOMPARE(ctl({"authorize", IdA, "--classes", "A,,B"}), 2);
        QCOMPARE(ctl({"clients"}), 0);
        QCOMPARE(p.readAllStandardOutput(),
                 "classes=\"Server.Application,Office.*\" " + IdA.toUtf8() + " alice on laptop\n");
        QCOMPARE(ctl({"revoke", IdA}), 0);
        QCOMPARE(ctl({"revoke", IdA}), 1);
        QCOMPARE(ctl({"add-host", "box", IdB}), 0);
        QCOMPARE(ctl({"remove-host", "box", IdA}), 1);
        QCOMPARE(ctl({"remove-host", "box"}), 0);
        QCOMPARE(ctl({"hosts"}), 0);
        QVERIFY(p.readAllStandardOutput().isEmpty());
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestTrust)
#include "test_trust.moc"
