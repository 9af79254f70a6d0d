// Starting a server executable: the path is taken whole, without a shell,
// relative to the current directory, and a start that fails says why.
#include "registration/serverstart.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

namespace {

// A program that leaves a marker file behind when it runs.
void writeMarkerProgram(const QString& path, const QString& marker) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("#!/bin/sh\necho started > '" + QFile::encodeName(marker) + "'\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

}  // namespace

class TestServerStart : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startsThePathAsGiven_data();
    void startsThePathAsGiven();
    void relativeNameIsTheFileInTheCurrentDirectory();
    void failedStartSaysWhy_data();
    void failedStartSaysWhy();

private:
    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<QTemporaryDir> m_dir;
    QString m_cwd;
    QByteArray m_path;
};

void TestServerStart::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_cwd = QDir::currentPath();
    m_path = qgetenv("PATH");
}

void TestServerStart::cleanup() {
    QDir::setCurrent(m_cwd);
    qputenv("PATH", m_path);
    m_dir.reset();
    m_env.reset();
}

void TestServerStart::startsThePathAsGiven_data() {
    QTest::addColumn<QString>("program");  // under the temporary directory
    QTest::addColumn<bool>("relative");
    QTest::newRow("plain") << "server.exe" << false;
    QTest::newRow("blanks in folder and name") << "dir with spaces/My  Server.exe" << false;
    QTest::newRow("shell characters") << "a;b $(false) & 'c' \"d\".exe" << false;
    QTest::newRow("leading blank in the name") << " lead.exe" << true;
    QTest::newRow("relative with a folder") << "sub dir/srv.exe" << true;
}

void TestServerStart::startsThePathAsGiven() {
    QFETCH(QString, program);
    QFETCH(bool, relative);
    const QString marker = m_dir->filePath(QStringLiteral("marker"));
    writeMarkerProgram(m_dir->filePath(program), marker);
    if (relative)
        QVERIFY(QDir::setCurrent(m_dir->path()));
    QVERIFY(registration::startServer(relative ? program : m_dir->filePath(program)));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(marker), 30000);
}

void TestServerStart::relativeNameIsTheFileInTheCurrentDirectory() {
    const QString here = m_dir->filePath(QStringLiteral("here.marker"));
    const QString onPath = m_dir->filePath(QStringLiteral("path.marker"));
    writeMarkerProgram(m_dir->filePath(QStringLiteral("cwd/Server.exe")), here);
    writeMarkerProgram(m_dir->filePath(QStringLiteral("bin/Server.exe")), onPath);
    qputenv("PATH", QFile::encodeName(m_dir->filePath(QStringLiteral("bin"))) + ':' + m_path);
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("cwd"))));
    QVERIFY(registration::startServer(QStringLiteral("Server.exe")));
    QTRY_VERIFY_WITH_TIMEOUT(QFile::exists(here), 30000);
    QVERIFY(!QFile::exists(onPath));
}

void TestServerStart::failedStartSaysWhy_data() {
    QTest::addColumn<QByteArray>("content");  // empty: no file at all
    QTest::addColumn<bool>("executable");
    QTest::addColumn<QString>("reason");
    QTest::newRow("missing") << QByteArray() << false << "the file was not found";
    QTest::newRow("not executable")
        << QByteArray("#!/bin/sh\n") << false << "the file is not marked as executable";
    QTest::newRow("text without interpreter") << QByteArray("just some text\n") << true
                                              << "the file is not a program this computer can run";
    QTest::newRow("foreign binary") << QByteArray("MZ\x90\x00\x03\x00\x00\x00", 8) << true
                                    << "the file is not a program this computer can run";
}

void TestServerStart::failedStartSaysWhy() {
    QFETCH(QByteArray, content);
    QFETCH(bool, executable);
    QFETCH(QString, reason);
    const QString path = m_dir->filePath(QStringLiteral("server file.exe"));
    if (!content.isEmpty()) {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(content);
        file.close();
        QFile::Permissions permissions = QFile::ReadOwner | QFile::WriteOwner;
        if (executable)
            permissions |= QFile::ExeOwner;
        QVERIFY(file.setPermissions(permissions));
    }
    const app::Result<> started = registration::startServer(path);
    QVERIFY(!started);
    QCOMPARE(started.failure()->kind, app::Failure::Kind::ServerNotStarted);
    QCOMPARE(started.failure()->file, path);
    QVERIFY2(started.failure()->reason.startsWith(reason), qPrintable(started.failure()->reason));
}

QTEST_GUILESS_MAIN(TestServerStart)
#include "test_serverstart.moc"
