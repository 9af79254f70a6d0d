// The connection test window: its layout and keys, the test against the real
// Server.exe (locally and through automation-host), time-outs without
// freezing, the single window, closing, and windows closed during a test.
#include "app/messages.h"
#include "processes.h"
#include "testenv.h"
#include "ui/common/simplecombo.h"
#include "ui/main/frmServerReg.h"
#include "ui/test/frmTest.h"
#include "windowtest.h"

#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWindow>
#include <QtTest>

#include <functional>

namespace {

const QString kApp = QStringLiteral("Server.Application");
const QString kTesting = QStringLiteral("Testing Connection...");
const QString kSucceeded = QStringLiteral("Object Created Successfully");
const QString kFailed = QStringLiteral("Could not create object, please check properties");

// Servers started for a test leave this long after their last object.
constexpr int kServerIdleMs = 2000;

QLabel* status(QWidget* w) {
    return control<QLabel>(w, "lblStatus");
}
QPushButton* okButton(QWidget* w) {
    return control<QPushButton>(w, "cmdOK");
}

// What the window showed at one moment while the test was waiting.
struct Snapshot {
    bool taken = false;
    bool visible = false;
    QString server;
    QString status;
    bool okEnabled = true;
    bool busyPointer = false;
};

// Runs f once the test has started waiting inside Load.
void whileWaiting(std::function<void()> f) {
    QTimer::singleShot(0, qApp, std::move(f));
}

// What the window shows now.
Snapshot snapshot() {
    Snapshot shot;
    frmTest* w = frmTest::instance();
    if (!w)
        return shot;
    shot.taken = true;
    shot.visible = w->isVisible();
    shot.server = control<QLabel>(w, "lblServer")->text();
    shot.status = status(w)->text();
    shot.okEnabled = okButton(w)->isEnabled();
    shot.busyPointer = w->cursor().shape() == Qt::WaitCursor;
    return shot;
}

// The window after the test: outcome shown, OK enabled, pointer restored.
void verifyEnded(frmTest* w, const QString& outcome) {
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(status(w)->text(), outcome);
    QVERIFY(okButton(w)->isEnabled());
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
}

// A host that accepts connections and never answers.
class SilentHost : public QTcpServer {
public:
    SilentHost() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                clients.append(socket);
        });
    }
    QList<QPointer<QTcpSocket>> clients;
};

void useHostPort(quint16 port) {
    qputenv("AUTOMATION_HOST_PORT", QByteArray::number(port));
}

// Counts the paint events of the windows it watches.
class PaintCounter : public QObject {
public:
    int count = 0;

protected:
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

}  // namespace

class TestTestWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void layoutMatchesTheDesign();
    void escapeAndEnterCloseOnlyFromOK();
    void succeedsAndReleasesTheObject();
    void unregisteredClassFailsWithoutMessage();
    void remoteActivationThroughHost();
    void silentHostTimesOutWhileWindowsPaint();
    void loadWhileOpenRunsNoTest();
    void closeBoxAfterOutcomeActsLikeOK();
    void closeBoxDuringTestAbandonsIt();
    void mainWindowClosedDuringTest();

private:
    static void registerServer();
    static void setRemote(const QString& machine);

    frmServerReg* openMainWindow();

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    QPointer<frmServerReg> m_main;
};

void TestTestWindow::initTestCase() {
    qputenv("AUTOMATION_SERVER_IDLE_MS", QByteArray::number(kServerIdleMs));
}

void TestTestWindow::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
    automation::ObjectFactory::setDefaultTimeouts({2000, 8000, 12000});
    qunsetenv("AUTOMATION_HOST_PORT");
}

void TestTestWindow::cleanup() {
    // No path of the test shows a message box.
    QVERIFY2(m_messages->count() == 0, "a message box was shown");
    delete frmTest::instance();
    delete m_main;
    m_messages.reset();
    m_env.reset();
}

void TestTestWindow::registerServer() {
    QProcess server;
    server.start(QStringLiteral(SERVER_EXE));
    QVERIFY(server.waitForFinished(30000));
    QCOMPARE(server.exitCode(), 0);
}

void TestTestWindow::setRemote(const QString& machine) {
    QCOMPARE(
        automation::RemoteActivation().SetRemoteActivation(
            true, kApp, std::nullopt, machine, QStringLiteral("ncacn_ip_tcp"), QStringLiteral("2")),
        quint16(0));
}

frmServerReg* TestTestWindow::openMainWindow() {
    m_main = new frmServerReg;
    m_main->show();
    if (!QTest::qWaitForWindowExposed(m_main))
        qFatal("main window not shown");
    return m_main;
}

void TestTestWindow::layoutMatchesTheDesign() {
    frmTest::Load(QStringLiteral("Not.Registered"));
    frmTest* w = frmTest::instance();
    QVERIFY(w);
    QVERIFY(!w->parent());
    QVERIFY(w->isWindow());
    QVERIFY(!w->isModal());
    QVERIFY(w->testAttribute(Qt::WA_DeleteOnClose));
    QCOMPARE(w->windowTitle(), QStringLiteral("Please Wait...."));
    QCOMPARE(w->size(), QSize(272, 83));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    const Qt::WindowFlags flags = w->windowFlags();
    QVERIFY(flags & Qt::WindowCloseButtonHint);
    QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
    QVERIFY(!(flags & Qt::WindowContextHelpButtonHint));

    // Centred on the screen by its client size.
    const QRect screen = w->screen()->geometry();
    QVERIFY(qAbs(w->pos().x() + 136 - screen.center().x()) <= 1);
    QVERIFY(qAbs(w->pos().y() + 41 - screen.center().y()) <= 1);

    // The wristwatch in both sizes, 16 colours at most.
    for (int side : {16, 32}) {
        const QImage image =
            w->windowIcon().pixmap(side, side).toImage().convertToFormat(QImage::Format_ARGB32);
        QCOMPARE(image.size(), QSize(side, side));
        QSet<QRgb> colours;
        for (int i = 0; i < side * side; ++i)
            colours.insert(image.pixel(i % side, i / side));
        colours.remove(qRgba(0, 0, 0, 0));
        QVERIFY2(colours.size() >= 4 && colours.size() <= 16, qPrintable(QString::number(side)));
    }

    auto* server = control<QLabel>(w, "lblServer");
    QCOMPARE(server->geometry(), twips(75, 75, 3915, 315));
    QCOMPARE(status(w)->geometry(), twips(75, 525, 3915, 240));
    QCOMPARE(okButton(w)->geometry(), twips(1500, 900, 1065, 315));
    QCOMPARE(server->alignment(), Qt::AlignCenter);
    QCOMPARE(status(w)->alignment(), Qt::AlignCenter);
    QCOMPARE(server->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(okButton(w)->text(), QStringLiteral("OK"));

    QCOMPARE(w->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w->font().pointSizeF(), 8.25);
    QCOMPARE(okButton(w)->font().pointSizeF(), 8.25);
    QCOMPARE(server->font().pointSizeF(), 9.75);

    // Neither default nor cancel; the labels take no focus; the focus chain
    // runs status, server, OK.
    QVERIFY(!okButton(w)->isDefault());
    QVERIFY(!okButton(w)->autoDefault());
    QCOMPARE(status(w)->focusPolicy(), Qt::NoFocus);
    QCOMPARE(server->focusPolicy(), Qt::NoFocus);
    QCOMPARE(status(w)->nextInFocusChain(), static_cast<QWidget*>(server));
    QCOMPARE(server->nextInFocusChain(), static_cast<QWidget*>(okButton(w)));
}

void TestTestWindow::escapeAndEnterCloseOnlyFromOK() {
    frmTest::Load(QStringLiteral("Not.Registered"));
    QPointer<frmTest> w = frmTest::instance();
    QVERIFY(w);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    QVERIFY(!okButton(w)->hasFocus());
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(w, key);
        QTest::qWait(0);
        QVERIFY(w);
        QVERIFY(w->isVisible());
    }
    // Tab reaches OK, the one control that takes the focus; there Escape still
    // does nothing and Enter presses it.
    QTest::keyClick(w, Qt::Key_Tab);
    QVERIFY(okButton(w)->hasFocus());
    QTest::keyClick(okButton(w), Qt::Key_Escape);
    QTest::qWait(0);
    QVERIFY(w && w->isVisible());
    QTest::keyClick(okButton(w), Qt::Key_Return);
    QVERIFY(!frmTest::instance());
    QTRY_VERIFY(w.isNull());
}

void TestTestWindow::succeedsAndReleasesTheObject() {
    registerServer();
    const QString name = QStringLiteral("server.APPLICATION");
    Snapshot during;
    whileWaiting([&during] { during = snapshot(); });
    frmTest::Load(name);
    QVERIFY(during.taken);
    QVERIFY(during.visible);
    QCOMPARE(during.server, name);
    QCOMPARE(during.status, kTesting);
    QVERIFY(!during.okEnabled);
    QVERIFY(during.busyPointer);

    frmTest* w = frmTest::instance();
    verifyEnded(w, kSucceeded);
    QCOMPARE(control<QLabel>(w, "lblServer")->text(), name);
    QVERIFY(status(w)->toolTip().isEmpty());
    QCOMPARE(w->Server, name);

    // The server started for the test is still up; once our own object of it
    // is gone it leaves, which it would not if the window still held one.
    const automation::CreateResult probe = automation::createObject(kApp);
    QVERIFY2(probe.ok(), qPrintable(probe.reason));
    const qint64 pid = pidOf(probe.object->description());
    QVERIFY(processAlive(pid));
    probe.object->release();
    QTRY_VERIFY_WITH_TIMEOUT(!processAlive(pid), kServerIdleMs + 5000);
}

void TestTestWindow::unregisteredClassFailsWithoutMessage() {
    registerServer();
    // Shown exactly as given: case, blanks and markup included.
    const QString name = QStringLiteral(" Server.<b>Application</b> & Co");
    frmTest::Load(name);
    frmTest* w = frmTest::instance();
    verifyEnded(w, kFailed);
    QCOMPARE(control<QLabel>(w, "lblServer")->text(), name);
    QCOMPARE(control<QLabel>(w, "lblServer")->textFormat(), Qt::PlainText);
    QVERIFY2(status(w)->toolTip().contains(QStringLiteral("not registered")),
             qPrintable(status(w)->toolTip()));
    // The whole outcome fits its label.
    QVERIFY(QFontMetrics(status(w)->font()).horizontalAdvance(kFailed) <=
            status(w)->contentsRect().width());
}

void TestTestWindow::remoteActivationThroughHost() {
    registerServer();
    setRemote(QStringLiteral("127.0.0.1"));
    HostProcess host;
    QVERIFY(host.start());
    useHostPort(host.port());
    frmTest::Load(kApp);
    verifyEnded(frmTest::instance(), kSucceeded);
    okButton(frmTest::instance())->click();
    QVERIFY(!frmTest::instance());

    // Nothing listens on the host's port any more.
    const quint16 closed = closedPort();
    useHostPort(closed);
    frmTest::Load(kApp);
    frmTest* w = frmTest::instance();
    verifyEnded(w, kFailed);
    QVERIFY2(status(w)->toolTip().contains(QStringLiteral("refused")),
             qPrintable(status(w)->toolTip()));
}

void TestTestWindow::silentHostTimesOutWhileWindowsPaint() {
    registerServer();
    setRemote(QStringLiteral("127.0.0.1"));
    SilentHost silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    useHostPort(silent.serverPort());
    const int activationMs = 1500;
    automation::ObjectFactory::setDefaultTimeouts({2000, activationMs, 10000});

    frmServerReg* main = openMainWindow();
    PaintCounter mainPaints;
    PaintCounter testPaints;
    main->installEventFilter(&mainPaints);

    // A timer keeps asking both windows to repaint during the wait.
    int ticks = 0;
    QTimer ticker;
    ticker.setInterval(50);
    connect(&ticker, &QTimer::timeout, this, [&] {
        ++ticks;
        main->update();
        if (frmTest* w = frmTest::instance())
            w->update();
    });
    Snapshot during;
    whileWaiting([&] {
        frmTest* w = frmTest::instance();
        w->installEventFilter(&testPaints);
        during = snapshot();
        ticker.start();
    });
    QElapsedTimer clock;
    clock.start();
    frmTest::Load(kApp);
    const qint64 waited = clock.elapsed();
    ticker.stop();

    QCOMPARE(during.status, kTesting);
    QVERIFY(during.busyPointer);
    QVERIFY(!during.okEnabled);
    QVERIFY2(waited >= activationMs - 100, qPrintable(QString::number(waited)));
    QCOMPARE(silent.clients.size(), 1);
    verifyEnded(frmTest::instance(), kFailed);
    QVERIFY(!status(frmTest::instance())->toolTip().isEmpty());
    // Both windows painted all along the wait.
    QVERIFY2(ticks >= activationMs / 50 / 2, qPrintable(QString::number(ticks)));
    QVERIFY2(testPaints.count >= ticks / 2, qPrintable(QString::number(testPaints.count)));
    QVERIFY2(mainPaints.count >= ticks / 2, qPrintable(QString::number(mainPaints.count)));
}

void TestTestWindow::loadWhileOpenRunsNoTest() {
    frmTest::Load(QStringLiteral("First.Class"));
    QPointer<frmTest> first = frmTest::instance();
    verifyEnded(first, kFailed);
    const QString reason = status(first)->toolTip();

    // With a working class now, a second request would succeed if it ran.
    registerServer();
    frmTest::Load(kApp);
    QCOMPARE(frmTest::instance(), first.data());
    QCOMPARE(first->Server, kApp);
    QCOMPARE(control<QLabel>(first, "lblServer")->text(), QStringLiteral("First.Class"));
    QCOMPARE(status(first)->text(), kFailed);
    QCOMPARE(status(first)->toolTip(), reason);

    // OK closes it; the next request runs a new test in a new window.
    okButton(first)->click();
    QVERIFY(!frmTest::instance());
    QTRY_VERIFY(first.isNull());

    // A request while a test is still waiting returns at once and leaves the
    // running test alone.
    bool nestedReturned = false;
    whileWaiting([&] {
        frmTest::Load(QStringLiteral("Other.Class"));
        nestedReturned = true;
    });
    frmTest::Load(kApp);
    QVERIFY(nestedReturned);
    frmTest* second = frmTest::instance();
    verifyEnded(second, kSucceeded);
    QCOMPARE(control<QLabel>(second, "lblServer")->text(), kApp);
    QCOMPARE(second->Server, QStringLiteral("Other.Class"));
}

void TestTestWindow::closeBoxAfterOutcomeActsLikeOK() {
    frmTest::Load(QStringLiteral("Not.Registered"));
    QPointer<frmTest> w = frmTest::instance();
    verifyEnded(w, kFailed);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // The window system's close request, as the close box sends it.
    w->windowHandle()->close();
    QVERIFY(!frmTest::instance());
    QTRY_VERIFY(w.isNull());
}

void TestTestWindow::closeBoxDuringTestAbandonsIt() {
    registerServer();
    setRemote(QStringLiteral("127.0.0.1"));
    SilentHost silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    useHostPort(silent.serverPort());
    automation::ObjectFactory::setDefaultTimeouts({20000, 20000, 20000});

    QPointer<frmTest> w;
    bool loadReturned = false;
    bool destroyedInsideLoad = false;
    whileWaiting([&] {
        w = frmTest::instance();
        connect(w, &QObject::destroyed, this, [&] { destroyedInsideLoad = !loadReturned; });
    });
    // Close once the request is out and the host is keeping it waiting.
    connect(&silent, &QTcpServer::newConnection, this,
            [&] { QTimer::singleShot(200, w, [&] { w->windowHandle()->close(); }); });
    QElapsedTimer clock;
    clock.start();
    frmTest::Load(kApp);
    loadReturned = true;
    QVERIFY2(clock.elapsed() < 5000, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(!frmTest::instance());
    // The window is destroyed once its test routine has returned, not under
    // it, and the abandoned creation has closed its connection.
    QTRY_VERIFY(w.isNull());
    QVERIFY(!destroyedInsideLoad);
    QCOMPARE(silent.clients.size(), 1);
    QPointer<QTcpSocket> client = silent.clients.first();
    QTRY_VERIFY(!client || client->state() == QAbstractSocket::UnconnectedState);
}

void TestTestWindow::mainWindowClosedDuringTest() {
    registerServer();
    setRemote(QStringLiteral("127.0.0.1"));
    SilentHost silent;
    QVERIFY(silent.listen(QHostAddress::LocalHost, 0));
    useHostPort(silent.serverPort());
    automation::ObjectFactory::setDefaultTimeouts({2000, 1500, 10000});

    QPointer<frmServerReg> main = openMainWindow();
    control<common::SimpleCombo>(main, "cboServers")->setText(kApp);
    whileWaiting([&] { main->close(); });
    control<QPushButton>(main, "cmdTest")->click();

    // The main window closed under its own Test handler is destroyed only
    // after the handler has returned; the test window outlives it.
    QVERIFY(!main.isNull());
    QTRY_VERIFY(main.isNull());
    QPointer<frmTest> w = frmTest::instance();
    verifyEnded(w, kFailed);

    // The program ends when the last window, the test window, closes.
    QTimer::singleShot(0, w, [w] { okButton(w)->click(); });
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    limit.start(10000);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(w.isNull());
}

QTEST_MAIN(TestTestWindow)
#include "test_testwindow.moc"
