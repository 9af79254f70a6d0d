// The settings store: exact round trips, names without regard to case,
// insertion order, several writers at once, files of the previous release,
// one connection kept, files replaced underneath, and stores that cannot be
// used.
#include "settings/options.h"
#include "settings/store.h"
#include "testenv.h"

#include <QProcess>
#include <QtTest>

#include <sqlite3.h>
#include <unistd.h>
#include <memory>

using settings::kApplication;
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
    void previousReleaseFileReadsTheSame();
    void connectionIsKeptWhileThePathStays();
    void fileRemovedOrReplacedUnderneathIsOpenedAfresh();
    void notADatabaseIsReportedAndLeftAlone();
    void notAFileIsReportedWithItsPath();
    void unwritableFolderIsReported();
    void readFailureIsRepeatedUntilTheStoreWorks();

    void optionTablesForwardMapping();
    void optionTablesBackwardMapping();

private:
    std::unique_ptr<ScopedXdgEnvironment> m_env;
};

using Kind = app::Failure::Kind;

void TestSettings::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
}

void TestSettings::cleanup() {
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
    QCOMPARE(settings::Servers().value(), keys);
}

void TestSettings::emptyKeyIsRefused() {
    settings::Store store;
    QVERIFY(!store.SaveSetting(kApplication, kServers, QString(), settings::kSaved));
    QVERIFY(!settings::AddServer(QString()));
    QVERIFY(settings::Servers().value().isEmpty());
}

void TestSettings::namesCompareWithoutCaseAndKeepFirstSpelling() {
    QVERIFY(settings::AddServer(QStringLiteral("Server.Application")));
    QVERIFY(settings::AddServer(QStringLiteral("server.application")));
    QVERIFY(settings::AddServer(QStringLiteral("SERVER.APPLICATION")));
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("Server.Application")});
    // Beyond ASCII as well.
    QVERIFY(settings::AddMachine(QStringLiteral("Größe-Ωμέγα")));
    QVERIFY(settings::AddMachine(QStringLiteral("GRÖßE-ΩΜΈΓΑ")));
    QVERIFY(settings::AddMachine(QStringLiteral("größe-ωμέγα")));
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("Größe-Ωμέγα")});
    QVERIFY(settings::removeServer(QStringLiteral("SERVER.application")));
    QVERIFY(settings::Servers().value().isEmpty());
}

void TestSettings::enumerationIsInInsertionOrder() {
    const QStringList names = {QStringLiteral("zeta"), QStringLiteral("Alpha"),
                               QStringLiteral("mid"), QStringLiteral("beta")};
    for (const QString& name : names)
        QVERIFY(settings::AddMachine(name));
    QCOMPARE(settings::Machines().value(), names);
    // Forgetting and adding again puts a name at the end.
    QVERIFY(settings::removeMachine(QStringLiteral("Alpha")));
    QVERIFY(settings::AddMachine(QStringLiteral("Alpha")));
    QCOMPARE(settings::Machines().value(),
             (QStringList{QStringLiteral("zeta"), QStringLiteral("mid"), QStringLiteral("beta"),
                          QStringLiteral("Alpha")}));
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
    QCOMPARE(settings::Servers().value(),
             (QStringList{QStringLiteral("Blank"), QStringLiteral("Empty")}));
}

void TestSettings::addMachineKeepsSurroundingBlanks() {
    QVERIFY(settings::AddMachine(QStringLiteral(" host1 ")));
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral(" host1 ")});
    // The trimmed name is another key.
    QVERIFY(settings::removeMachine(QStringLiteral("host1")));
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral(" host1 ")});
    QVERIFY(settings::removeMachine(QStringLiteral(" host1 ")));
    QVERIFY(settings::Machines().value().isEmpty());
}

void TestSettings::missingOrEmptiedSectionListsNothing() {
    QVERIFY(settings::Machines().value().isEmpty());
    QVERIFY(settings::AddMachine(QStringLiteral("only")));
    QVERIFY(settings::removeMachine(QStringLiteral("only")));
    QVERIFY(settings::Machines().value().isEmpty());
    // Deleting a key that is not there is not a failure.
    QVERIFY(settings::removeMachine(QStringLiteral("never there")));
}

void TestSettings::sectionsAndApplicationsAreSeparate() {
    settings::Store store;
    QVERIFY(store.SaveSetting(QStringLiteral("Other App"), kServers, QStringLiteral("x"),
                              settings::kSaved));
    QVERIFY(settings::AddMachine(QStringLiteral("Server.Application")));
    QVERIFY(settings::Servers().value().isEmpty());
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("Server.Application")});
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
    const QStringList servers = settings::Servers().value();
    QCOMPARE(servers.size(), 1000);
    for (int i = 0; i < 500; ++i) {
        QVERIFY(servers.contains(QStringLiteral("first-%1").arg(i)));
        QVERIFY(servers.contains(QStringLiteral("second-%1").arg(i)));
    }
}

namespace {

// What the previous release (through Qt's SQLite driver) left in the file:
// its schema, a log, names folded for comparison, a gap where an entry was
// forgotten, a blank value and another application's entry.
const char* const kPreviousReleaseStore = R"sql(
PRAGMA journal_mode=WAL;
CREATE TABLE settings ( seq INTEGER PRIMARY KEY AUTOINCREMENT, application TEXT NOT NULL,
 section TEXT NOT NULL, key TEXT NOT NULL, value TEXT NOT NULL, application_fold TEXT NOT NULL,
 section_fold TEXT NOT NULL, key_fold TEXT NOT NULL,
 UNIQUE (application_fold, section_fold, key_fold));
INSERT INTO settings VALUES (1, 'TALVO - Corvane', 'Servers', 'Zeta.App', 'saved',
 'talvo - corvane', 'servers', 'zeta.app');
INSERT INTO settings VALUES (2, 'TALVO - Corvane', 'Machines', ' far host ', 'saved',
 'talvo - corvane', 'machines', ' far host ');
INSERT INTO settings VALUES (3, 'TALVO - Corvane', 'Servers', 'Größe.Ωμέγα', 'saved',
 'talvo - corvane', 'servers', 'größe.ωμέγα');
INSERT INTO settings VALUES (5, 'TALVO - Corvane', 'Servers', 'a/b\c%=[x]', 'saved',
 'talvo - corvane', 'servers', 'a/b\c%=[x]');
INSERT INTO settings VALUES (6, 'Other App', 'Servers', 'Elsewhere.App', 'saved',
 'other app', 'servers', 'elsewhere.app');
INSERT INTO settings VALUES (7, 'TALVO - Corvane', 'Servers', 'Blank.App', '  ',
 'talvo - corvane', 'servers', 'blank.app');
INSERT INTO settings VALUES (8, 'TALVO - Corvane', 'Servers', 'Gone.App', 'saved',
 'talvo - corvane', 'servers', 'gone.app');
DELETE FROM settings WHERE seq = 8;
)sql";

bool runScript(const QString& path, const char* script) {
    sqlite3* db = nullptr;
    bool ok = sqlite3_open(QFile::encodeName(path).constData(), &db) == SQLITE_OK &&
              sqlite3_exec(db, script, nullptr, nullptr, nullptr) == SQLITE_OK;
    if (!ok)
        qWarning("%s", sqlite3_errmsg(db));
    sqlite3_close(db);
    return ok;
}

// The descriptors of this process open on a file.
QStringList descriptorsOn(const QString& path) {
    QStringList found;
    const QString file = QFileInfo(path).canonicalFilePath();
    const QDir fds(QStringLiteral("/proc/self/fd"));
    for (const QString& fd : fds.entryList(QDir::Files | QDir::System)) {
        if (!file.isEmpty() && QFile::symLinkTarget(fds.filePath(fd)) == file)
            found.append(fd);
    }
    return found;
}

}  // namespace

void TestSettings::previousReleaseFileReadsTheSame() {
    const QString path = settings::Store::defaultPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    QVERIFY(runScript(path, kPreviousReleaseStore));

    const QStringList servers = {QStringLiteral("Zeta.App"), QStringLiteral("Größe.Ωμέγα"),
                                 QStringLiteral("a/b\\c%=[x]"), QStringLiteral("Blank.App")};
    QCOMPARE(settings::Servers().value(), servers);
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral(" far host ")});
    settings::Store& store = settings::defaultStore();
    QCOMPARE(store.GetSetting(kApplication, kServers, QStringLiteral("GRÖSSE.ΩΜΈΓΑ")),
             std::optional<QString>(QString()));
    QCOMPARE(store.GetSetting(kApplication, kServers, QStringLiteral("GRÖßE.ΩΜΈΓΑ")),
             std::optional<QString>(settings::kSaved));
    QCOMPARE(
        store.GetSetting(QStringLiteral("other APP"), kServers, QStringLiteral("elsewhere.app")),
        std::optional<QString>(settings::kSaved));

    // Names already there keep their place and spelling; the blank one is
    // written, new ones go at the end, after the forgotten one's place.
    QVERIFY(settings::AddServer(QStringLiteral("ZETA.APP")));
    QVERIFY(settings::AddServer(QStringLiteral("blank.app")));
    QVERIFY(settings::AddServer(QStringLiteral("Gone.App")));
    QVERIFY(settings::removeServer(QStringLiteral("größe.ωμέγα")));
    QCOMPARE(settings::Servers().value(),
             (QStringList{QStringLiteral("Zeta.App"), QStringLiteral("a/b\\c%=[x]"),
                          QStringLiteral("Blank.App"), QStringLiteral("Gone.App")}));
    QCOMPARE(store.GetSetting(kApplication, kServers, QStringLiteral("Blank.App")),
             std::optional<QString>(settings::kSaved));
}

void TestSettings::connectionIsKeptWhileThePathStays() {
    const QString path = settings::Store::defaultPath();
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    const QStringList open = descriptorsOn(path);
    QCOMPARE(open.size(), 1);
    for (int i = 0; i < 20; ++i) {
        QVERIFY(settings::AddMachine(QStringLiteral("host%1").arg(i)));
        QVERIFY(settings::Servers());
        QVERIFY(settings::removeMachine(QStringLiteral("host%1").arg(i)));
    }
    QCOMPARE(descriptorsOn(path), open);

    // Another default path: the old file is let go, the new one opened.
    const QString otherHome = m_env->root() + QStringLiteral("/other-config");
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(otherHome));
    const QString otherPath = settings::Store::defaultPath();
    QVERIFY(settings::Servers().value().isEmpty());
    QVERIFY(descriptorsOn(path).isEmpty());
    QCOMPARE(descriptorsOn(otherPath).size(), 1);
    settings::defaultStore().close();
    QVERIFY(descriptorsOn(otherPath).isEmpty());
}

void TestSettings::fileRemovedOrReplacedUnderneathIsOpenedAfresh() {
    const QString path = settings::Store::defaultPath();
    QVERIFY(settings::AddServer(QStringLiteral("Before.App")));
    // Removed while open: what is written next lands in a new file at the
    // path, not in the removed one.
    QVERIFY(QFile::remove(path));
    QVERIFY(settings::Servers().value().isEmpty());
    QVERIFY(settings::AddServer(QStringLiteral("After.App")));
    QCOMPARE(settings::Store(path).GetAllSettings(kApplication, kServers)->size(), 1);
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("After.App")});

    // Replaced by another store (a restored backup, say): that one is read
    // and written.
    const QString backup = m_env->root() + QStringLiteral("/backup.db");
    {
        settings::Store other(backup);
        QVERIFY(other.SaveSetting(kApplication, kServers, QStringLiteral("Restored.App"),
                                  settings::kSaved));
    }
    QVERIFY(::rename(QFile::encodeName(backup).constData(), QFile::encodeName(path).constData()) ==
            0);
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("Restored.App")});
    QVERIFY(settings::AddServer(QStringLiteral("Later.App")));
    const auto onDisk = settings::Store(path).GetAllSettings(kApplication, kServers);
    QVERIFY(onDisk);
    QCOMPARE(onDisk->size(), 2);
    QCOMPARE(onDisk->at(1).first, QStringLiteral("Later.App"));
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
    const app::Result<QStringList> servers = settings::Servers();
    QVERIFY(!servers);
    QVERIFY(servers.value().isEmpty());
    QCOMPARE(servers.failure()->kind, Kind::SettingsUnreadable);
    QCOMPARE(servers.failure()->file, path);
    QVERIFY2(servers.failure()->reason.contains(QStringLiteral("not a database")),
             qPrintable(servers.failure()->reason));

    const app::Result<> added = settings::AddServer(QStringLiteral("Server.Application"));
    QVERIFY(!added);
    QCOMPARE(added.failure()->file, path);
    const app::Result<> removed = settings::removeMachine(QStringLiteral("m"));
    QCOMPARE(removed.failure()->kind, Kind::NotForgotten);
    QCOMPARE(removed.failure()->file, path);
    QCOMPARE(removed.failure()->name, QStringLiteral("m"));

    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), garbage);
    QVERIFY(!QFile::exists(path + QStringLiteral("-wal")));
}

void TestSettings::notAFileIsReportedWithItsPath() {
    const QString path = settings::Store::defaultPath();
    QVERIFY(QDir().mkpath(path));
    const app::Result<QStringList> servers = settings::Servers();
    QVERIFY(!servers);
    QCOMPARE(servers.failure()->kind, Kind::SettingsUnreadable);
    QCOMPARE(servers.failure()->file, path);
    QCOMPARE(servers.failure()->reason, QStringLiteral("it is not a file"));
    const app::Result<> added = settings::AddMachine(QStringLiteral("m"));
    QCOMPARE(added.failure()->file, path);
    QVERIFY(added.failure()->repeated);
    QVERIFY(QFileInfo(path).isDir());
}

void TestSettings::unwritableFolderIsReported() {
    // Even root cannot create anything under /proc.
    qputenv("XDG_CONFIG_HOME", "/proc/corvane-test-unwritable");
    const app::Result<> added = settings::AddServer(QStringLiteral("Server.Application"));
    QVERIFY(!added);
    QCOMPARE(added.failure()->file,
             QStringLiteral("/proc/corvane-test-unwritable/corvane/settings.db"));
    QVERIFY(added.failure()->reason.contains(QStringLiteral("cannot be created")));

    if (geteuid() != 0) {
        const QString dir = m_env->root() + QStringLiteral("/locked");
        QVERIFY(QDir().mkpath(dir + QStringLiteral("/corvane")));
        QFile::setPermissions(dir + QStringLiteral("/corvane"), QFile::ReadOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir));
        const app::Result<> locked = settings::AddMachine(QStringLiteral("m"));
        QVERIFY(!locked);
        QVERIFY(locked.failure()->reason.contains(QStringLiteral("not writable")));
        QFile::setPermissions(dir + QStringLiteral("/corvane"),
                              QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }
}

// The windows tell a failure once; every refill of a list would fail again.
void TestSettings::readFailureIsRepeatedUntilTheStoreWorks() {
    qputenv("XDG_CONFIG_HOME", "/proc/corvane-test-no-such-dir");
    QVERIFY(!settings::Servers().failure()->repeated);
    QVERIFY(settings::Machines().failure()->repeated);
    QVERIFY(settings::AddServer(QStringLiteral("x")).failure()->repeated);
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_env->configHome()));
    QVERIFY(settings::Servers());
    qputenv("XDG_CONFIG_HOME", "/proc/corvane-test-no-such-dir");
    QVERIFY(!settings::Machines().failure()->repeated);
}

void TestSettings::optionTablesForwardMapping() {
    // The automation layer's codes, one for each readable name but "[None]".
    QCOMPARE(settings::sProtocols().size(), qsizetype(settings::kProtocolNames.size()));
    QCOMPARE(settings::sALevels().size(), qsizetype(settings::kAuthLevelNames.size()));
    QCOMPARE(settings::protocolCode(3), QStringLiteral("ncacn_np"));
    QCOMPARE(settings::authLevelCode(6), QStringLiteral("5"));
    QCOMPARE(settings::protocolCode(0), QString());
    QCOMPARE(settings::authLevelCode(0), QString());
    QVERIFY(settings::protocolCode(0).isEmpty());
    QVERIFY(settings::protocolCode(-1).isEmpty());
    QVERIFY(settings::authLevelCode(8).isEmpty());
}

void TestSettings::optionTablesBackwardMapping() {
    QCOMPARE(settings::protocolIndex(QStringLiteral("ncadg_ip_udp")), 8);
    QCOMPARE(settings::kProtocolNames[8], QStringLiteral("Datagrams - UDP"));
    QCOMPARE(settings::authLevelIndex(QStringLiteral("0")), 1);
    QCOMPARE(settings::kAuthLevelNames[1], QStringLiteral("Default"));
    QCOMPARE(settings::authLevelIndex(QStringLiteral(" 6 ")), 7);
    QCOMPARE(settings::kAuthLevelNames[7], QStringLiteral("Packet Privacy"));
    QCOMPARE(settings::protocolIndex(QStringLiteral("ncacn_http")), -1);
    QCOMPARE(settings::authLevelIndex(QStringLiteral("7")), -1);
    QCOMPARE(settings::protocolIndex(QStringLiteral("  ")), 0);
    QCOMPARE(settings::protocolIndex(QStringLiteral("NCACN_IP_TCP")), 1);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "test_settings.moc"
