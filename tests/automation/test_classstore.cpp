// The class registration store: layout, names, concurrency, damaged files.

#include <automation/classstore.h>

#include <testenv.h>

#include <QProcess>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>
#include <optional>

using namespace automation;

namespace {

int modeOf(const QString& path) {
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return -1;
    return int(st.st_mode & 07777);
}

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

}  // namespace

class TestClassStore : public QObject {
    Q_OBJECT
private slots:
    void init() { m_env.emplace(); }
    void cleanup() { m_env.reset(); }

    void defaultLocationAndModes() {
        const QString expected = m_env->dataHome() + "/automation/classes.db";
        QCOMPARE(ClassStore::defaultPath(), expected);
        ClassStore store;
        QVERIFY2(store.registerClass("Server.Application", "{1}", "/opt/s/Server.exe"),
                 qPrintable(store.errorString()));
        QCOMPARE(modeOf(m_env->dataHome() + "/automation"), 0700);
        QCOMPARE(modeOf(expected), 0600);

        // Relative XDG_DATA_HOME is ignored, as the base directory rules say.
        const QByteArray home = qgetenv("HOME");
        const auto restoreHome = qScopeGuard([&] { qputenv("HOME", home); });
        qputenv("XDG_DATA_HOME", "relative/dir");
        qputenv("HOME", QFile::encodeName(m_env->root()));
        QCOMPARE(ClassStore::defaultPath(), m_env->root() + "/.local/share/automation/classes.db");
    }

    void readingDoesNotCreateTheStore() {
        ClassStore store;
        ClassRecord r;
        QCOMPARE(store.find("Anything", &r), StoreResult::NotFound);
        QList<ClassRecord> all;
        QVERIFY(store.list(&all));
        QVERIFY(all.isEmpty());
        QVERIFY(!QFile::exists(store.path()));
    }

    void namesAreCaseInsensitiveAndKeepTheirSpelling() {
        ClassStore store;
        QVERIFY(store.registerClass("Server.Application", "{AbC}", "/a/Server.exe"));
        QVERIFY(store.registerClass("Ärger.Objekt", "", "/a/other"));
        ClassRecord r;
        QCOMPARE(store.find("  SERVER.application ", &r), StoreResult::Ok);
        QCOMPARE(r.name, QString("Server.Application"));
        QCOMPARE(store.find("äRGER.objekt", &r), StoreResult::Ok);
        QCOMPARE(r.name, QString("Ärger.Objekt"));
        QCOMPARE(store.findByClassId(" {abc} ", &r), StoreResult::Ok);
        QCOMPARE(r.name, QString("Server.Application"));

        // Registering again replaces the server, keeps the first spelling and
        // the activation settings.
        QCOMPARE(store.update("server.application",
                              [](ClassRecord& rec) {
                                  rec.activation = {true, " m ", "ncacn_ip_tcp", "2"};
                                  return true;
                              }),
                 StoreResult::Ok);
        QVERIFY(store.registerClass("SERVER.APPLICATION", "{def}", "/b/Server.exe"));
        QList<ClassRecord> all;
        QVERIFY(store.list(&all));
        QCOMPARE(all.size(), 2);
        QCOMPARE(store.find("Server.Application", &r), StoreResult::Ok);
        QCOMPARE(r, (ClassRecord{"Server.Application",
                                 "{def}",
                                 "/b/Server.exe",
                                 {true, " m ", "ncacn_ip_tcp", "2"}}));

        QCOMPARE(store.unregisterClass("server.APPLICATION"), StoreResult::Ok);
        QCOMPARE(store.unregisterClass("Server.Application"), StoreResult::NotFound);
        QCOMPARE(store.find("Server.Application", &r), StoreResult::NotFound);
    }

    void invalidRegistrationsAreRefused_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("server");
        QTest::newRow("blank name") << "   "
                                    << "/bin/x";
        QTest::newRow("control character") << "A\nB"
                                           << "/bin/x";
        QTest::newRow("too long") << QString(256, 'n') << "/bin/x";
        QTest::newRow("relative server") << "A.B"
                                         << "bin/x";
    }
    void invalidRegistrationsAreRefused() {
        QFETCH(QString, name);
        QFETCH(QString, server);
        ClassStore store;
        QVERIFY(!store.registerClass(name, "", server));
        QVERIFY(!store.errorString().isEmpty());
        QVERIFY(!QFile::exists(store.path()));
    }

    void updateCanDecline() {
        ClassStore store;
        QVERIFY(store.registerClass("A.B", "", "/bin/x"));
        QCOMPARE(store.update("A.B",
                              [](ClassRecord& r) {
                                  r.server = "/changed";
                                  return false;
                              }),
                 StoreResult::Ok);
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r), StoreResult::Ok);
        QCOMPARE(r.server, QString("/bin/x"));
        QCOMPARE(store.update("Missing", [](ClassRecord&) { return true; }), StoreResult::NotFound);
    }

    // Eight processes registering fifty classes each, at once.
    void concurrentWritersLoseNothing() {
        std::vector<std::unique_ptr<QProcess>> writers;
        for (int i = 0; i < 8; ++i) {
            auto p = std::make_unique<QProcess>();
            p->setProcessChannelMode(QProcess::ForwardedErrorChannel);
            p->start(STORE_WRITER, {QStringLiteral("Writer%1").arg(i), "50"});
            writers.push_back(std::move(p));
        }
        for (auto& p : writers) {
            QVERIFY(p->waitForFinished(90000));
            QCOMPARE(p->exitStatus(), QProcess::NormalExit);
            QCOMPARE(p->exitCode(), 0);
        }
        ClassStore store;
        QList<ClassRecord> all;
        QVERIFY2(store.list(&all), qPrintable(store.errorString()));
        QCOMPARE(all.size(), 400);
        QSet<QString> names;
        for (const ClassRecord& r : all)
            names.insert(r.name);
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 50; ++j)
                QVERIFY(names.contains(QStringLiteral("Writer%1.%2").arg(i).arg(j)));
    }

    void corruptFileIsReportedAndKept() {
        const QString path = ClassStore::defaultPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        QByteArray garbage;
        for (int i = 0; i < 512; ++i)
            garbage += "this is not a database, do not overwrite me ";
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(garbage);
        }
        ClassStore store;
        QVERIFY(!store.registerClass("A.B", "", "/bin/x"));
        QVERIFY2(store.errorString().contains(path), qPrintable(store.errorString()));
        QVERIFY2(store.errorString().contains("not a database"), qPrintable(store.errorString()));
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r), StoreResult::Failed);
        QCOMPARE(store.update("A.B", [](ClassRecord&) { return true; }), StoreResult::Failed);
        QCOMPARE(store.unregisterClass("A.B"), StoreResult::Failed);
        QList<ClassRecord> all;
        QVERIFY(!store.list(&all));
        QCOMPARE(readAll(path), garbage);
    }

    void unwritableLocationIsReported() {
        // Not even root may create anything under /proc.
        qputenv("XDG_DATA_HOME", "/proc/automation-store-test");
        ClassStore store;
        QVERIFY(!store.registerClass("A.B", "", "/bin/x"));
        QVERIFY2(store.errorString().contains("/proc/automation-store-test"),
                 qPrintable(store.errorString()));
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r), StoreResult::NotFound);

        ClassStore directory(m_env->root());
        QVERIFY(!directory.registerClass("A.B", "", "/bin/x"));
        QVERIFY(directory.errorString().contains("not a regular file"));
    }

    void readOnlyFileIsReportedAndKept() {
        if (::geteuid() == 0)
            QSKIP("file modes do not bind root; the /proc case covers it");
        ClassStore store;
        QVERIFY(store.registerClass("A.B", "", "/bin/x"));
        const QString dir = QFileInfo(store.path()).path();
        QFile::setPermissions(store.path(), QFile::ReadOwner);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray before = readAll(store.path());
        QVERIFY(!store.registerClass("C.D", "", "/bin/y"));
        QVERIFY(!store.errorString().isEmpty());
        QCOMPARE(readAll(store.path()), before);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestClassStore)
#include "test_classstore.moc"
