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
        const Status s = store.registerClass("Server.Application", "{1}", "/opt/s/Server.exe");
        QVERIFY2(s.ok(), qPrintable(s.reason));
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
        QCOMPARE(store.find("Anything", &r).error, Error::NotRegistered);
        QList<ClassRecord> all;
        QVERIFY(store.list(&all).ok());
        QVERIFY(all.isEmpty());
        QVERIFY(!QFile::exists(store.path()));
    }

    void namesAreCaseInsensitiveAndKeepTheirSpelling() {
        ClassStore store;
        QVERIFY(store.registerClass("Server.Application", "{AbC}", "/a/Server.exe").ok());
        QVERIFY(store.registerClass("Ärger.Objekt", "", "/a/other").ok());
        ClassRecord r;
        QCOMPARE(store.find("  SERVER.application ", &r).error, Error::None);
        QCOMPARE(r.name, QString("Server.Application"));
        QCOMPARE(store.find("äRGER.objekt", &r).error, Error::None);
        QCOMPARE(r.name, QString("Ärger.Objekt"));
        QCOMPARE(store.findByClassId(" {abc} ", &r).error, Error::None);
        QCOMPARE(r.name, QString("Server.Application"));

        // Registering again replaces the server, keeps the first spelling and
        // the activation settings.
        QCOMPARE(store
                     .update("server.application",
                             [](ClassRecord& rec) {
                                 rec.activation = {true, " m ", "ncacn_ip_tcp", "2"};
                                 return true;
                             })
                     .error,
                 Error::None);
        QVERIFY(store.registerClass("SERVER.APPLICATION", "{def}", "/b/Server.exe").ok());
        QList<ClassRecord> all;
        QVERIFY(store.list(&all).ok());
        QCOMPARE(all.size(), 2);
        QCOMPARE(store.find("Server.Application", &r).error, Error::None);
        QCOMPARE(r, (ClassRecord{"Server.Application",
                                 "{def}",
                                 "/b/Server.exe",
                                 {true, " m ", "ncacn_ip_tcp", "2"}}));

        QCOMPARE(store.unregisterClass("server.APPLICATION").error, Error::None);
        QCOMPARE(store.unregisterClass("Server.Application").error, Error::NotRegistered);
        QCOMPARE(store.find("Server.Application", &r).error, Error::NotRegistered);
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
        const Status s = store.registerClass(name, "", server);
        QCOMPARE(s.error, Error::StoreFailure);
        QVERIFY(!s.reason.isEmpty());
        QVERIFY(!QFile::exists(store.path()));
    }

    void updateCanDecline() {
        ClassStore store;
        QVERIFY(store.registerClass("A.B", "", "/bin/x").ok());
        QCOMPARE(store
                     .update("A.B",
                             [](ClassRecord& r) {
                                 r.server = "/changed";
                                 return false;
                             })
                     .error,
                 Error::None);
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r).error, Error::None);
        QCOMPARE(r.server, QString("/bin/x"));
        QCOMPARE(store.update("Missing", [](ClassRecord&) { return true; }).error,
                 Error::NotRegistered);
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
        const Status listed = store.list(&all);
        QVERIFY2(listed.ok(), qPrintable(listed.reason));
        QCOMPARE(all.size(), 400);
        QSet<QString> names;
        for (const ClassRecord& r : all)
            names.insert(r.name);
        for (int i = 0; i < 8; ++i)
            for (int j = 0; j < 50; ++j)
                QVERIFY(names.contains(QStringLiteral("Writer%1.%2").arg(i).arg(j)));
    }

    // Lookups keep their connection between calls; each still reads the
    // file now at the path, whoever changed it and however.
    void lookupsFollowTheFile_data() {
        QTest::addColumn<QString>("change");
        QTest::addColumn<QString>("server");  // of A.0 afterwards, or the failure's reason
        QTest::newRow("registered anew by another process") << "process"
                                                            << "/second";
        QTest::newRow("removed, then made anew by another process") << "removed"
                                                                    << "/second";
        QTest::newRow("replaced by another store") << "renamed"
                                                   << "/second";
        QTest::newRow("overwritten in place") << "overwritten"
                                              << "not a database";
        QTest::newRow("replaced by a link") << "link"
                                            << "symbolic link";
    }
    void lookupsFollowTheFile() {
        QFETCH(QString, change);
        QFETCH(QString, server);
        const QString path = ClassStore::defaultPath();
        ClassStore store;
        QVERIFY(store.registerClass("Old.Class", "", "/old").ok());
        QVERIFY(store.registerClass("A.0", "{1}", "/first").ok());
        ClassRecord r;
        QVERIFY(store.find("A.0", &r).ok());
        QCOMPARE(r.server, QString("/first"));
        QVERIFY(store.findByClassId("{1}", &r).ok());

        const auto writeFrom = [](const QString& server) {
            QCOMPARE(QProcess::execute(STORE_WRITER, {"A", "1", server}), 0);
        };
        if (change == "process") {
            writeFrom("/second");
        } else if (change == "removed") {
            QVERIFY(QFile::remove(path));  // its side files stay, as after rm
            writeFrom("/second");
        } else if (change == "renamed") {
            const QString other = m_env->root() + "/other.db";
            QVERIFY(ClassStore(other).registerClass("A.0", "", "/second").ok());
            QVERIFY(::rename(QFile::encodeName(other).constData(),
                             QFile::encodeName(path).constData()) == 0);
        } else if (change == "overwritten") {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(QByteArray(8192, 'z'));
        } else {
            const QString elsewhere = m_env->root() + "/elsewhere.db";
            QVERIFY(ClassStore(elsewhere).registerClass("A.0", "", "/second").ok());
            QVERIFY(QFile::remove(path));
            QVERIFY(QFile::link(elsewhere, path));
        }

        const Status found = store.find("a.0", &r);
        if (!server.startsWith('/')) {
            QCOMPARE(found.error, Error::StoreFailure);
            QVERIFY2(found.reason.contains(server), qPrintable(found.reason));
            return;
        }
        QVERIFY2(found.ok(), qPrintable(found.reason));
        QCOMPARE(r.server, server);
        // A.0 has no class identifier now; Old.Class went with the old file.
        QCOMPARE(store.findByClassId("{1}", &r).error, Error::NotRegistered);
        QCOMPARE(store.find("Old.Class", &r).error,
                 change == "process" ? Error::None : Error::NotRegistered);
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
        const Status s = store.registerClass("A.B", "", "/bin/x");
        QCOMPARE(s.error, Error::StoreFailure);
        QVERIFY2(s.reason.contains(path) && s.reason.contains("not a database"),
                 qPrintable(s.reason));
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r).error, Error::StoreFailure);
        QCOMPARE(store.update("A.B", [](ClassRecord&) { return true; }).error, Error::StoreFailure);
        QCOMPARE(store.unregisterClass("A.B").error, Error::StoreFailure);
        QList<ClassRecord> all;
        QCOMPARE(store.list(&all).error, Error::StoreFailure);
        QCOMPARE(readAll(path), garbage);
    }

    void unwritableLocationIsReported() {
        // Not even root may create anything under /proc.
        qputenv("XDG_DATA_HOME", "/proc/automation-store-test");
        ClassStore store;
        const Status s = store.registerClass("A.B", "", "/bin/x");
        QVERIFY2(!s.ok() && s.reason.contains("/proc/automation-store-test"), qPrintable(s.reason));
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r).error, Error::NotRegistered);

        ClassStore directory(m_env->root());
        QVERIFY(directory.registerClass("A.B", "", "/bin/x").reason.contains("not a regular file"));
    }

    // A link planted where the store will be is refused, not followed: the
    // store would otherwise be created wherever it points.
    void linkAtTheStorePathIsRefused_data() {
        QTest::addColumn<QString>("suffix");
        QTest::newRow("store") << "";
        QTest::newRow("write-ahead log") << "-wal";
    }
    void linkAtTheStorePathIsRefused() {
        QFETCH(QString, suffix);
        const QString path = ClassStore::defaultPath();
        QVERIFY(QDir().mkpath(QFileInfo(path).path()));
        const QString target = m_env->root() + "/elsewhere.db";
        QVERIFY(QFile::link(target, path + suffix));
        ClassStore store;
        const Status s = store.registerClass("A.B", "", "/bin/x");
        QCOMPARE(s.error, Error::StoreFailure);
        QVERIFY2(s.reason.contains("symbolic link"), qPrintable(s.reason));
        QVERIFY(!QFileInfo::exists(target));
        ClassRecord r;
        QCOMPARE(store.find("A.B", &r).error, Error::StoreFailure);
    }

    void readOnlyFileIsReportedAndKept() {
        if (::geteuid() == 0)
            QSKIP("file modes do not bind root; the /proc case covers it");
        ClassStore store;
        QVERIFY(store.registerClass("A.B", "", "/bin/x").ok());
        const QString dir = QFileInfo(store.path()).path();
        QFile::setPermissions(store.path(), QFile::ReadOwner);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::ExeOwner);
        const QByteArray before = readAll(store.path());
        QCOMPARE(store.registerClass("C.D", "", "/bin/y").error, Error::StoreFailure);
        QCOMPARE(readAll(store.path()), before);
        QFile::setPermissions(dir, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
};

QTEST_GUILESS_MAIN(TestClassStore)
#include "test_classstore.moc"
