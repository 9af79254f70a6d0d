// The creation module behind the test window: the real corvane starts without
// the automation client (Qt Network, OpenSSL, Kerberos) and maps it on the
// first test, found beside the executable; a copy of corvane without its
// module shows the failure with the module's name; and the loader refuses
// what is not the module, in this process, without running its code.
#include "app/installation.h"
#include "registration/creation.h"
#include "testenv.h"

#include <QLibraryInfo>
#include <QProcess>
#include <QSignalSpy>
#include <QtTest>

#include <optional>

namespace {

const QString kApp = QStringLiteral("Server.Application");
const QString kSucceeded = QStringLiteral("Object Created Successfully");
const QString kFailed = QStringLiteral("Could not create object, please check properties");
constexpr int kOutcomeMs = 60000;

// Libraries that only creating an object needs.
const QStringList kClientLibraries = {
    QStringLiteral("libQt6Network.so"), QStringLiteral("libssl.so"),
    QStringLiteral("libcrypto.so"),     QStringLiteral("libgssapi_krb5.so"),
    QStringLiteral("libkrb5.so"),       QStringLiteral("libproxy.so"),
};

QStringList clientLibrariesIn(const QStringList& mapped) {
    QStringList found;
    for (const QString& path : mapped) {
        for (const QString& library : kClientLibraries) {
            if (path.contains(QLatin1Char('/') + library))
                found.append(path);
        }
    }
    return found;
}

QStringList mappedHere() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {};
    return QString::fromUtf8(maps.readAll()).split(QLatin1Char('\n'));
}

// What the window probe saw of a corvane that tested a class.
struct Probe {
    int code = -1;
    QByteArray stderrText;
    QStringList mapped;       // at start-up, the main window shown
    QStringList mappedAfter;  // once the test window showed its outcome
    QString status;
    QString reason;
};

Probe probeTest(const QString& corvane, const QString& className, const QString& outputDir) {
    const QString output = outputDir + QStringLiteral("/probe.txt");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LD_PRELOAD"), QStringLiteral(WINDOW_PROBE));
    env.insert(QStringLiteral("WINDOW_PROBE_OUTPUT"), output);
    env.insert(QStringLiteral("WINDOW_PROBE_TEST"), className);
    QProcess process;
    process.setProcessEnvironment(env);
    process.start(corvane, {});
    Probe probe;
    if (process.waitForFinished(kOutcomeMs) && process.exitStatus() == QProcess::NormalExit)
        probe.code = process.exitCode();
    probe.stderrText = process.readAllStandardError();
    QFile file(output);
    if (!file.open(QIODevice::ReadOnly))
        return probe;
    for (const QString& line : QString::fromUtf8(file.readAll()).split(QLatin1Char('\n'))) {
        const QString value = line.section(QLatin1Char(' '), 1);
        if (line.startsWith(QLatin1String("mapped ")))
            probe.mapped.append(value);
        else if (line.startsWith(QLatin1String("mapped-after ")))
            probe.mappedAfter.append(value);
        else if (line.startsWith(QLatin1String("status ")))
            probe.status = value;
        else if (line.startsWith(QLatin1String("reason ")))
            probe.reason = value;
    }
    return probe;
}

// One creation through a creator, waited for; whether finished came from
// inside create() is noted.
struct Run {
    std::optional<registration::CreationOutcome> outcome;
    bool calledInsideCreate = false;
};

Run createWith(registration::ObjectCreator& creator, const QString& className) {
    Run run;
    bool inside = true;
    QEventLoop loop;
    QTimer limit;
    limit.setSingleShot(true);
    QObject::connect(&limit, &QTimer::timeout, &loop, &QEventLoop::quit);
    creator.create(className, [&](const registration::CreationOutcome& outcome) {
        run.outcome = outcome;
        run.calledInsideCreate = inside;
        loop.quit();
    });
    inside = false;
    if (!run.outcome) {
        limit.start(kOutcomeMs);
        loop.exec();
    }
    return run;
}

}  // namespace

class TestCreationModule : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void startUpMapsNoClientUntilATest();
    void corvaneWithoutItsModuleShowsWhy();
    void moduleBesideTheProgramCreatesAndCancels();
    void loaderRefusesWhatIsNotTheModule();

private:
    void registerServer();

    std::unique_ptr<ScopedXdgEnvironment> m_env;
};

void TestCreationModule::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_env->setVariable("AUTOMATION_SERVER_IDLE_MS", "2000");
}

void TestCreationModule::cleanup() {
    m_env.reset();
}

void TestCreationModule::registerServer() {
    QProcess server;
    server.start(QStringLiteral(SERVER_EXE));
    QVERIFY(server.waitForFinished(30000));
    QCOMPARE(server.exitCode(), 0);
}

void TestCreationModule::startUpMapsNoClientUntilATest() {
    registerServer();
    const Probe probe = probeTest(QStringLiteral(CORVANE_EXE), kApp, m_env->root());
    QVERIFY2(probe.code == 0, probe.stderrText);
    // The listing works: the window's own libraries are there.
    QVERIFY(!probe.mapped.filter(QStringLiteral("/libQt6Widgets.so")).isEmpty());
    const QStringList atStart = clientLibrariesIn(probe.mapped);
    QVERIFY2(atStart.isEmpty(), qPrintable(atStart.join(QLatin1Char(' '))));
    QVERIFY(probe.mapped.filter(QLatin1String(app::kCreationModuleName)).isEmpty());
    // Nor an image plugin (the icons are read as PNG without asking them) or
    // Qt's SQL module (the settings store talks to SQLite itself).
    const QStringList extras = probe.mapped.filter(QStringLiteral("/imageformats/")) +
                               probe.mapped.filter(QStringLiteral("/libQt6Sql.so"));
    QVERIFY2(extras.isEmpty(), qPrintable(extras.join(QLatin1Char(' '))));

    // The test loads the module beside the program, and the client with it.
    QVERIFY2(probe.status == kSucceeded,
             qPrintable(probe.status + QLatin1Char(' ') + probe.reason));
    QVERIFY(
        probe.mappedAfter.contains(QFileInfo(QStringLiteral(CREATION_MODULE)).canonicalFilePath()));
    QVERIFY(!probe.mappedAfter.filter(QStringLiteral("/libQt6Network.so")).isEmpty());
}

void TestCreationModule::corvaneWithoutItsModuleShowsWhy() {
    const QString corvane = m_env->root() + QStringLiteral("/bin/corvane");
    QVERIFY(QDir().mkpath(m_env->root() + QStringLiteral("/bin")));
    QVERIFY(QFile::copy(QStringLiteral(CORVANE_EXE), corvane));
    registerServer();
    const Probe probe = probeTest(corvane, kApp, m_env->root());
    // No crash, no success: the failure, and a reason naming the module and
    // where it was looked for.
    QVERIFY2(probe.code == 0, probe.stderrText);
    QCOMPARE(probe.status, kFailed);
    const QStringList places = registration::creationModuleCandidates(QFileInfo(corvane).path());
    for (const QString& place : places)
        QVERIFY2(probe.reason.contains(place), qPrintable(probe.reason));
    QVERIFY(clientLibrariesIn(probe.mappedAfter).isEmpty());
}

void TestCreationModule::moduleBesideTheProgramCreatesAndCancels() {
    registerServer();
    // This test program lives beside the module in the build tree.
    std::unique_ptr<registration::ObjectCreator> creator = registration::newObjectCreator();

    Run run = createWith(*creator, kApp);
    QVERIFY(run.outcome && !run.calledInsideCreate);
    QVERIFY2(run.outcome->ok, qPrintable(run.outcome->reason));
    QVERIFY(run.outcome->reason.isEmpty());
    // The sample server describes the object it made by its class.
    QVERIFY2(run.outcome->description.contains(kApp), qPrintable(run.outcome->description));

    run = createWith(*creator, QStringLiteral("No.Such.Class"));
    QVERIFY(run.outcome && !run.outcome->ok);
    QVERIFY2(run.outcome->reason.contains(QStringLiteral("No.Such.Class")),
             qPrintable(run.outcome->reason));

    // A cancelled creation never reports, although the next one, started
    // after it, has.
    bool cancelledReported = false;
    creator->create(kApp, [&](const registration::CreationOutcome&) { cancelledReported = true; });
    creator->cancel();
    run = createWith(*creator, QStringLiteral("No.Such.Class"));
    QVERIFY(run.outcome && !run.outcome->ok);
    QVERIFY(!cancelledReported);

    // Destroyed while a creation runs: nothing is called any more.
    creator->create(kApp, [&](const registration::CreationOutcome&) { cancelledReported = true; });
    creator.reset();
    std::unique_ptr<registration::ObjectCreator> next = registration::newObjectCreator();
    run = createWith(*next, kApp);
    QVERIFY2(run.outcome && run.outcome->ok, qPrintable(run.outcome->reason));
    QVERIFY(!cancelledReported);
}

// A creator from the module at path: its creation fails, after create()
// has returned, with a reason that names the path.
void verifyRefused(const QString& path, const QString& why) {
    std::unique_ptr<registration::ObjectCreator> creator = registration::newObjectCreator(path);
    const Run run = createWith(*creator, kApp);
    QVERIFY(run.outcome && !run.calledInsideCreate);
    QVERIFY(!run.outcome->ok);
    QVERIFY2(run.outcome->reason.contains(path) && run.outcome->reason.contains(why),
             qPrintable(run.outcome->reason));
}

void TestCreationModule::loaderRefusesWhatIsNotTheModule() {
    registerServer();
    const QString missing = m_env->root() + QStringLiteral("/corvane-creation.so");
    verifyRefused(missing, QStringLiteral("missing"));

    QFile notALibrary(missing);
    QVERIFY(notALibrary.open(QIODevice::WriteOnly));
    notALibrary.write("not a shared library\n");
    notALibrary.close();
    verifyRefused(missing, QStringLiteral("could not be loaded"));

    // A Qt plugin of another kind is refused by its interface name, read from
    // the file, before any of its code runs.
    const QString other =
        QLibraryInfo::path(QLibraryInfo::PluginsPath) + QStringLiteral("/platforms/libqminimal.so");
    if (!QFile::exists(other))
        QSKIP("Qt's minimal platform plugin is not installed");
    verifyRefused(other, QStringLiteral("not a creation module"));
    QVERIFY(mappedHere().filter(QStringLiteral("libqminimal.so")).isEmpty());
}

QTEST_GUILESS_MAIN(TestCreationModule)
#include "test_creationmodule.moc"
