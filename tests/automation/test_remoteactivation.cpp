// The remote-activation component: its statuses and what it stores.

#include <automation/classstore.h>
#include <automation/remoteactivation.h>

#include <testenv.h>

#include <QtTest>

#include <optional>

using namespace automation;
using Opt = std::optional<QString>;

namespace {
const ActivationSettings Local{};
}

class TestRemoteActivation : public QObject {
    Q_OBJECT
private slots:
    void init() {
        m_env.emplace();
        ClassStore store;
        QVERIFY(
            store.registerClass("Server.Application", "{FC33BAAE-C1F5}", "/opt/Server.exe").ok());
        QVERIFY(store.registerClass("No.Id", "", "/opt/Other.exe").ok());
    }
    void cleanup() { m_env.reset(); }

    void unregisteredClass() {
        RemoteActivation ra;
        QCOMPARE(ra.SetRemoteActivation(true, "Not.There", Opt(), "m"),
                 RemoteActivation::ClassNotRegistered);
        QCOMPARE(ra.GetRemoteActivation("Not.There"), std::nullopt);
        QCOMPARE(ra.GetRemoteActivation("", "{no-such-id}"), std::nullopt);
    }

    void roundTripKeepsMachineExactly() {
        RemoteActivation ra;
        QCOMPARE(ra.GetRemoteActivation("Server.Application"), Local);
        QCOMPARE(ra.SetRemoteActivation(true, "server.application", Opt(), "  Host A\t",
                                        "ncacn_ip_tcp", "2"),
                 RemoteActivation::Written);
        const ActivationSettings expected{true, "  Host A\t", "ncacn_ip_tcp", "2"};
        QCOMPARE(ra.GetRemoteActivation("SERVER.APPLICATION"), expected);
        // What the component wrote is what object creation reads.
        ClassRecord r;
        QVERIFY(ClassStore().find("Server.Application", &r).ok());
        QCOMPARE(r.activation, expected);
    }

    void everyKnownCodeIsAccepted() {
        RemoteActivation ra;
        QStringList protocols = RemoteActivation::ProtocolCodes();
        QCOMPARE(protocols.size(), 8);
        protocols << "";
        for (const QString& protocol : protocols) {
            for (const QString& level : RemoteActivation::LevelCodes() + QStringList{""}) {
                QCOMPARE(
                    ra.SetRemoteActivation(true, "Server.Application", Opt(), "m", protocol, level),
                    RemoteActivation::Written);
                QCOMPARE(ra.GetRemoteActivation("Server.Application"),
                         (ActivationSettings{true, "m", protocol, level}));
            }
        }
    }

    void codesAreTrimmedAndCanonical() {
        RemoteActivation ra;
        QCOMPARE(
            ra.SetRemoteActivation(true, "Server.Application", Opt(), "m", "  NCACN_NP ", " 6\t"),
            RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("Server.Application"),
                 (ActivationSettings{true, "m", "ncacn_np", "6"}));
        QCOMPARE(ra.SetRemoteActivation(true, "Server.Application", Opt(), "m", "   ", " "),
                 RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("Server.Application"),
                 (ActivationSettings{true, "m", "", ""}));
    }

    void invalidArgumentsWriteNothing_data() {
        QTest::addColumn<Opt>("className");
        QTest::addColumn<Opt>("classId");
        QTest::addColumn<Opt>("machine");
        QTest::addColumn<Opt>("protocol");
        QTest::addColumn<Opt>("level");
        QTest::addColumn<int>("status");
        const Opt none;
        const Opt app("Server.Application");
        QTest::newRow("no class") << none << none << Opt("m") << none << none << 1;
        QTest::newRow("blank class") << Opt(" \t") << Opt("") << Opt("m") << none << none << 1;
        QTest::newRow("wrong class id") << app << Opt("{other}") << Opt("m") << none << none << 3;
        QTest::newRow("protocol") << app << none << Opt("m") << Opt("tcp") << none << 4;
        QTest::newRow("protocol suffix")
            << app << none << Opt("m") << Opt("ncacn_ip_tcp2") << none << 4;
        QTest::newRow("level 7") << app << none << Opt("m") << none << Opt("7") << 5;
        QTest::newRow("level -1") << app << none << Opt("m") << none << Opt("-1") << 5;
        QTest::newRow("level word") << app << none << Opt("m") << none << Opt("high") << 5;
        QTest::newRow("machine omitted") << app << none << none << none << none << 6;
        QTest::newRow("machine empty") << app << none << Opt("") << none << none << 6;
        QTest::newRow("machine blank") << app << none << Opt("  \t ") << none << none << 6;
    }
    void invalidArgumentsWriteNothing() {
        QFETCH(Opt, className);
        QFETCH(Opt, classId);
        QFETCH(Opt, machine);
        QFETCH(Opt, protocol);
        QFETCH(Opt, level);
        QFETCH(int, status);
        RemoteActivation ra;
        QCOMPARE(
            ra.SetRemoteActivation(true, "Server.Application", Opt(), "before", "ncacn_np", "1"),
            RemoteActivation::Written);
        QCOMPARE(int(ra.SetRemoteActivation(true, className, classId, machine, protocol, level)),
                 status);
        QVERIFY(!ra.lastError().isEmpty());
        QCOMPARE(ra.GetRemoteActivation("Server.Application"),
                 (ActivationSettings{true, "before", "ncacn_np", "1"}));
    }

    void classIdentifierNamesOrChecksTheClass() {
        RemoteActivation ra;
        // By identifier alone, compared without case and blanks.
        QCOMPARE(ra.SetRemoteActivation(true, Opt(), " {fc33baae-c1f5} ", "m"),
                 RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("", "{FC33BAAE-C1F5}"),
                 (ActivationSettings{true, "m", "", ""}));
        QCOMPARE(ra.GetRemoteActivation("Server.Application", "{other}"), std::nullopt);
        // A class registered without an identifier takes any.
        QCOMPARE(ra.SetRemoteActivation(true, "No.Id", "{anything}", "m"),
                 RemoteActivation::Written);
    }

    void falseFlagClearsTheRemoteValues() {
        RemoteActivation ra;
        QCOMPARE(
            ra.SetRemoteActivation(true, "Server.Application", Opt(), "m", "ncacn_ip_tcp", "3"),
            RemoteActivation::Written);
        // Values given with false are neither checked nor stored.
        QCOMPARE(ra.SetRemoteActivation(false, "Server.Application", Opt(), "x", "bogus", "9"),
                 RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("Server.Application"), Local);
        QCOMPARE(ra.SetRemoteActivation(false, "Server.Application"), RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("Server.Application"), Local);
    }

    void omittedCodesKeepTheStoredOnes() {
        RemoteActivation ra;
        QCOMPARE(ra.SetRemoteActivation(true, "Server.Application", Opt(), "m", "ncacn_spx", "4"),
                 RemoteActivation::Written);
        QCOMPARE(ra.SetRemoteActivation(true, "Server.Application", Opt(), "n"),
                 RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("Server.Application"),
                 (ActivationSettings{true, "n", "ncacn_spx", "4"}));
    }

    void storeFailure() {
        QFile f(ClassStore::defaultPath());
        QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray(8192, 'x'));
        f.close();
        RemoteActivation ra;
        QCOMPARE(ra.SetRemoteActivation(true, "Server.Application", Opt(), "m"),
                 RemoteActivation::StoreFailure);
        QVERIFY(ra.lastError().contains("not a database"));
        QCOMPARE(ra.GetRemoteActivation("Server.Application"), std::nullopt);
        QVERIFY(!ra.lastError().isEmpty());
    }

    void explicitStorePath() {
        const QString other = m_env->root() + "/elsewhere/classes.db";
        QVERIFY(ClassStore(other).registerClass("Elsewhere.Class", "", "/bin/e").ok());
        RemoteActivation ra(other);
        QCOMPARE(ra.SetRemoteActivation(true, "Elsewhere.Class", Opt(), "m"),
                 RemoteActivation::Written);
        QCOMPARE(ra.GetRemoteActivation("Server.Application"), std::nullopt);
        QCOMPARE(RemoteActivation().GetRemoteActivation("Elsewhere.Class"), std::nullopt);
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestRemoteActivation)
#include "test_remoteactivation.moc"
