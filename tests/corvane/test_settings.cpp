// The settings store: exact round trips, names without regard to case,
// insertion order, several writers at once, and stores that cannot be used.
#include "app/messages.h"
#include "settings/options.h"
#include "settings/store.h"
#include "testenv.h"

#include <QProcess>
#include <QtTest>

#include <unistd.h>
#include <memory>

using settings::kApplication;
using settings::kMachines;
using settings::kServers;

class TestSettings : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void keysRoundTripExactlyAfterRestart();
    void emptyKeyIsRefused();
    void namesCompareWithoutCaseAndKeepFirstSpelling();
    void enumerationIsInInsertionOrder();
    void addServerLeavesExistingEntryAlone();
    void addServerRewritesBlankValue();
    void addMachineKeepsSurroundingBlanks();
    void missingOrEmptiedSectionListsNothing();
    void sectionsAndApplicationsAreSeparate();
    void twoProcessesAddingAtOnceLoseNothing();
    void notADatabaseIsReportedAndLeftAlone();
    void unwritableFolderIsReported();
    void readFailureIsReportedOnceUntilTheStoreWorks();

    void optionTablesForwardMapping();
    void optionTablesBackwardMapping();

private:
    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
};

void TestSettings::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
}

void TestSettings::cleanup() {
    m_messages.reset();
    m_env.reset();
}

void TestSettings::keysRoundTripExactlyAfterRestart() {
    const QStringList keys = {
        QStringLiteral("  leading and trailing  "),
        QStringLiteral("a/b"),
        QStringLiteral("a\\b"),
        QStringLiteral("100%"),
        QStringLiteral("%20"),
        QStringLiteral("x=y"),
        QStringLiteral("a;b"),
        QStringLiteral("#hash"),
        QStringLiteral("[x]"),
        QStringLiteral("Größe-Ωμέγα-日本"),
        QString(10000, QLatin1Char('k')),
    };
    const QString path = settings::Store::defaultPath();
    {
        settings::Store store(path);
        for (const QString& key : keys)
            QVERIFY2(store.SaveSetting(kApplication, kServers, key, settings::kSaved),
                     qPrintable(store.lastError()));
    }
    settings::Store reopened(path);
    const auto entries = reopened.GetAllSettings(kApplication, kServers);
    QVERIFY(entries);
    QCOMPARE(entries->size(), keys.size());
    for (int i = 0; i < keys.size(); ++i) {
        QCOMPARE(entries->at(i).first, keys.at(i));
        QCOMPARE(reopened.GetSetting(kApplication, kServers, keys.at(i)).value_or(QString()),
                 settings::kSaved);
    }
    QCOMPARE(settings::Servers(), keys);
}

void TestSettings::emptyKeyIsRefused() {
    settings::Store store;
    QVERIFY(!store.SaveSetting(kApplication, kServers, QString(), settings::kSaved));
    QVERIFY(!settings::AddServer(QString()));
    QVERIFY(settings::Servers().isEmpty());
    QCOMPARE(m_messages->count(), 0);
}

void TestSettings::namesCompareWithoutCaseAndKeepFirstSpelling() {
    QVERIFY(settings::AddServer(QStringLiteral("Server.Application")));
    QVERIFY(settings::AddServer(QStringLiteral("server.application")));
    QVERIFY(settings::AddServer(QStringLiteral("SERVER.APPLICATION")));
    QCOMPARE(settings::Servers(), QStringList{QStringLiteral("Server.Application")});
    // Beyond ASCII as well.
    QVERIFY(settings::AddMachine(QStringLiteral("Größe-Ωμέγα")));
    QVERIFY(settings::AddMachine(QStringLiteral("GRÖßE-ΩΜΈΓΑ")));
    QVERIFY(settings::AddMachine(QStringLiteral("größe-ωμέγα")));
    QCOMPARE(settings::Machines(), QStringList{QStringLiteral("Größe-Ωμέγα")});
    QVERIFY(settings::RemoveServer(QStringLiteral("SERVER.application")));
    QVERIFY(settings::Servers().isEmpty());
}

void TestSettings::enumerationIsInInsertionOrder() {
    const QStringList names = {QStringLiteral("zeta"), QStringLiteral("Alpha"),
                               QStringLiteral("mid"), QStringLiteral("beta")};
    for (const QString& name : names)
        QVERIFY(settings::AddMachine(name));
    QCOMPARE(settings::Machines(), names);
    // Forgetting and adding again puts a name at the end.
    QVERIFY(settings::RemoveMachine(QStringLiteral("Alpha")));
    QVERIFY(settings::AddMachine(QStringLiteral("Alpha")));
    QCOMPARE(settings::Machines(), (QStringList{QStringLiteral("zeta"), QStringLiteral("mid"),
                                                QStringLiteral("beta"), QStringLiteral("Alpha")}));
}

void TestSettings::addServerLeavesExistingEntryAlone() {
    settings::Store store;
    QVERIFY(
        store.SaveSetting(kApplication, kServers, QStringLiteral("A.B"), QStringLiteral("kept")));
    QVERIFY(settings::AddServer(QStringLiteral("A.B")));
    QCOMPARE(store.GetSetting(kApplication, kServers, QStringLiteral("A.B")).value(),
             QStringLiteral("kept"));
    QCOMPARE(store.GetAllSettings(kApplication, kServers)->size(), 1);
}

void TestSettings::addServerRewritesBlankValue() {
    settings::Store store;
    QVERIFY(
        store.SaveSetting(kApplication, kServers, QStringLiteral("Blank"), QStringLiteral("  ")));
    QVERIFY(store.SaveSetting(kApplication, kServers, QStringLiteral("Empty"), QString()));
    QVERIFY(settings::AddServer(QStringLiteral("Blank")));
    QVERIFY(settings::AddServer(QStringLiteral("Empty")));
    QCOMPARE(store.GetSetting(kApplication, kServers, QStringLiteral("Blank")).value(),
             settings::kSaved);
    QCOMPARE(store.GetSetting(kApplication, kServers, QStringLiteral("Empty")).value(),
             settings::kSaved);
    QCOMPARE(settings::Servers(), (QStringList{QStringLiteral("Blank"), QStringLiteral("Empty")}));
}

void TestSettings::addMachineKeepsSurroundingBlanks() {
    QVERIFY(settings::AddMachine(QStringLiteral(" host1 ")));
    QCOMPARE(settings::Machines(), QStringList{QStringLiteral(" host1 ")});
    // The trimmed name is another key.
    QVERIFY(settings::RemoveMachine(QStringLiteral("host1")));
    QCOMPARE(settings::Machines(), QStringList{QStringLiteral(" host1 ")});
    QVERIFY(settings::RemoveMachine(QStringLiteral(" host1 ")));
    QVERIFY(settings::Machines().isEmpty());
}

void TestSettings::missingOrEmptiedSectionListsNothing() {
    QVERIFY(settings::Machines().isEmpty());
    QVERIFY(settings::AddMachine(QStringLiteral("only")));
    QVERIFY(settings::RemoveMachine(QStringLiteral("only")));
    QVERIFY(settings::Machines().isEmpty());
    // Deleting a key that is not there is not a failure.
    QVERIFY(settings::RemoveMachine(QStringLiteral("never there")));
    QCOMPARE(m_messages->count(), 0);
}

void TestSettings::sectionsAndApplicationsAreSeparate() {
    settings::Store store;
    QVERIFY(store.SaveSetting(QStringLiteral("Other App"), kServers, QStringLiteral("x"),
                              settings::kSaved));
    QVERIFY(settings::AddMachine(QStringLiteral("Server.Application")));
    QVERIFY(settings::Servers().isEmpty());
    QCOMPARE(settings::Machines(), QStringList{QStringLiteral("Server.Application")});
}

void TestSettings::twoProcessesAddingAtOnceLoseNothing() {
    QProcess first, second;
    first.start(QStringLiteral(SETTINGS_WRITER), {QStringLiteral("first"), QStringLiteral("500")});
    second.start(QStringLiteral(SETTINGS_WRITER),
                 {QStringLiteral("second"), QStringLiteral("500")});
    QVERIFY(first.waitForFinished(120000));
    QVERIFY(second.waitForFinished(120000));
    QCOMPARE(first.exitCode(), 0);
    QCOMPARE(second.exitCode(), 0);
    const QStringList servers = settings::Servers();
    QCOMPARE(servers.size(), 1000);
    for (int i = 0; i < 500; ++i) {
        QVERIFY(servers.contains(QStringLiteral("first-%1").arg(i)));
        QVERIFY(servers.contains(QStringLiteral("second-%1").arg(i)));
    }
}

void TestSettings::notADatabaseIsReportedAndLeftAlone() {
    const QString path = settings::Store::defaultPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    const QByteArray garbage = QByteArray("This is not a database.\n").repeated(200);
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(garbage);
    }
    QVERIFY(settings::Servers().isEmpty());
    QCOMPARE(m_messages->count(), 1);
    QVERIFY(m_messages->last().text.contains(path));
    QVERIFY(m_messages->last().text.contains(QStringLiteral("not a database")));
    QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));

    QVERIFY(!settings::AddServer(QStringLiteral("Server.Application")));
    QVERIFY(!settings::RemoveMachine(QStringLiteral("m")));
    QVERIFY(m_messages->count() >= 2);
    QVERIFY(m_messages->last().text.contains(path));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

void TestSettings::unwritableFolderIsReported() {
    // Even root cannot create anything under /proc.
    qputenv("XDG_CONFIG_HOME", "/proc/corvane-test-unwritable");
    QVERIFY(!settings::AddServer(QStringLiteral("Server.Application")));
    QCOMPARE(m_messages->count(), 1);
    QVERIFY(m_messages->last().text.contains(
        QStringLiteral("/proc/corvane-test-unwritable/corvane/settings.db")));
    QVERIFY(m_messages->last().text.contains(QStringLiteral("cannot be created")));

    if (geteuid() != 0) {
        const QString dir = m_env->root() + QStringLiteral("/locked");
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/corvane")));
        QFile::setPermissions(dir + QStringLiteral("/corvane"), QFile::ReadOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
        QVERIFY(!settings::AddMachine(QStringLiteral("m")));
        QVERIFY(m_messages->last().text.contains(QStringLiteral("not writable")));
        QFile::setPermissions(dir + QStringLiteral("/corvane"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

void TestSettings::readFailureIsReportedOnceUntilTheStoreWorks() {
    qputenv("XDG_CONFIG_HOME", "/proc/corvane-test-no-such-dir");
    QVERIFY(settings::Servers().isEmpty());
    QVERIFY(settings::Machines().isEmpty());
    QVERIFY(settings::Servers().isEmpty());
    QCOMPARE(m_messages->count(), 1);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->configHome()));
    QVERIFY(settings::Servers().isEmpty());
    qputenv("XDG_CONFIG_HOME", "/proc/corvane-test-no-such-dir");
    QVERIFY(settings::Machines().isEmpty());
    QCOMPARE(m_messages->count(), 2);
}

void TestSettings::optionTablesForwardMapping() {
    QCOMPARE(settings::sProtocols.size(), std::size_t(9));
    QCOMPARE(settings::sALevels.size(), std::size_t(8));
    QCOMPARE(settings::ProtocolCode(3), QStringLiteral("ncacn_np"));
    QCOMPARE(settings::AuthLevelCode(6), QStringLiteral("5"));
    QCOMPARE(settings::ProtocolCode(0), QString());
    QCOMPARE(settings::AuthLevelCode(0), QString());
    QVERIFY(settings::ProtocolCode(0).isEmpty());
    QVERIFY(settings::ProtocolCode(-1).isEmpty());
    QVERIFY(settings::AuthLevelCode(8).isEmpty());
}

void TestSettings::optionTablesBackwardMapping() {
    QCOMPARE(settings::ProtocolIndex(QStringLiteral("ncadg_ip_udp")), 8);
    QCOMPARE(settings::kProtocolNames[8], QStringLiteral("Datagrams - UDP"));
    QCOMPARE(settings::AuthLevelIndex(QStringLiteral("0")), 1);
    QCOMPARE(settings::kAuthLevelNames[1], QStringLiteral("Default"));
    QCOMPARE(settings::AuthLevelIndex(QStringLiteral(" 6 ")), 7);
    QCOMPARE(settings::kAuthLevelNames[7], QStringLiteral("Packet Privacy"));
    QCOMPARE(settings::ProtocolIndex(QStringLiteral("ncacn_http")), -1);
    QCOMPARE(settings::AuthLevelIndex(QStringLiteral("7")), -1);
    QCOMPARE(settings::ProtocolIndex(QStringLiteral("  ")), 0);
    QCOMPARE(settings::ProtocolIndex(QStringLiteral("NCACN_IP_TCP")), 1);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
