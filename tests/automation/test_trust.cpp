// Identities and trust files: how they are made, read, changed and guarded.

#include <automation/environment.h>
#include <automation/identity.h>
#include <automation/trust.h>

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
