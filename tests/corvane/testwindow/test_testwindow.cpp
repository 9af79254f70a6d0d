// The connection test window: its layout and keys, the test against the real
// Server.exe (locally and through automation-host), a host that never
// answers, an outcome that arrives while another dialog is open, the single
// window, closing, and windows closed during a test.
#include "app/messages.h"
#include "modalsteps.h"
#include "processes.h"
#include "testenv.h"
#include "ui/common/simplecombo.h"
#include "ui/main/frmServerReg.h"
#include "ui/test/frmTest.h"
#include "windowtest.h"

#include <automation/objectfactory.h>
#include <automation/remoteactivation.h>

#include <QApplication>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QScreen>
#include <QTcpServer>
#include <QTcpSocket>
#include <QWindow>
#include <QtTest>

namespace {

const QString kApp = QStringLiteral("Server.Application");
const QString kTesting = QStringLiteral("Testing Connection...");
const QString kSucceeded = QStringLiteral("Object Created Successfully");
const QString kFailed = QStringLiteral("Could not create object, please check properties");

// Servers started for a test leave this long after their last object.
constexpr int kServerIdleMs = 2000;
// How long a test may take to show its outcome on a busy machine; the
// automation layer's time-outs end every test well before.
constexpr int kOutcomeMs = 60000;

QLabel* status(QWidget* w) {
    return control<QLabel>(w, "lblStatus");
}
QPushButton* okButton(QWidget* w) {
    return control<QPushButton>(w, "cmdOK");
}

// The outcome is shown once OK is enabled.
bool ended(frmTest* w) {
    return w && okButton(w)->isEnabled();
}

// The window while the test runs: the class, "Testing Connection...", OK
// disabled, the busy pointer.
void verifyTesting(frmTest* w, const QString& server) {
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(control<QLabel>(w, "lblServer")->text(), server);
    QCOMPARE(status(w)->text(), kTesting);
    QVERIFY(!okButton(w)->isEnabled());
    QCOMPARE(w->cursor().shape(), Qt::WaitCursor);
}

// The window after the test: outcome shown, OK enabled, pointer restored.
void verifyEnded(frmTest* w, const QString& outcome) {
    QVERIFY(w);
    QVERIFY(w->isVisible());
    QCOMPARE(status(w)->text(), outcome);
    QVERIFY(okButton(w)->isEnabled());
    QCOMPARE(w->cursor().shape(), Qt::ArrowCursor);
}

// A host that accepts connections and never answers; hangUp() drops them,
// which ends a creation waiting there at the moment the test chooses.
class SilentHost : public QTcpServer {
public:
    SilentHost() {
        connect(this, &QTcpServer::newConnection, this, [this] {
            while (QTcpSocket* socket = nextPendingConnection())
                clients.append(socket);
        });
    }
    void hangUp() {
        for (const QPointer<QTcpSocket>& client : std::as_const(clients)) {
            if (client)
                client->abort();
        }
    }
    QList<QPointer<QTcpSocket>> clients;
};

void useHostPort(quint16 port) {
    qputenv("AUTOMATION_HOST_PORT", QByteArray::number(port));
}

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
    void untrustedHostPointsToPairing_data();
    void untrustedHostPointsToPairing();
    void silentHostTimesOut();
    void outcomeShowsWhileAModalDialogIsOpen();
    void loadWhileOpenRunsNoTest();
    void closeBoxAfterOutcomeActsLikeOK();
    void closeBoxDuringTestAbandonsIt();
    void mainWindowClosedDuringTest();

private:
    static void registerServer();
    static void setRemote(const QString& machine);
    // Registers Server.exe for activation through a host on loopback that
    // never answers, with time-outs far beyond any case.
    void useSilentHost(SilentHost& host);

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
    automation::ObjectFactory::setDefaultTimeouts({10000, 20000, 30000});
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

void TestTestWindow::useSilentHost(SilentHost& host) {
    registerServer();
    setRemote(QStringLiteral("127.0.0.1"));
    QVERIFY(host.listen(QHostAddress::LocalHost, 0));
    useHostPort(host.serverPort());
    automation::ObjectFactory::setDefaultTimeouts({kOutcomeMs, kOutcomeMs, kOutcomeMs});
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

    const QList<Placement> layout = {
        {"lblServer", nullptr, twips(75, 75, 3915, 315)},
        {"lblStatus", nullptr, twips(75, 525, 3915, 240)},
        {"cmdOK", nullptr, twips(1500, 900, 1065, 315)},
    };
    const QStringList wrong = misplaced(w, layout);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    auto* server = control<QLabel>(w, "lblServer");
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
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    // Activated once OK was enabled, the window may have given it the focus.
    okButton(w)->clearFocus();
    // Closing hides the window at once, so a key that closed it would show.
    for (Qt::Key key : {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Enter}) {
        QTest::keyClick(w, key);
        QCOMPARE(frmTest::instance(), w.data());
        QVERIFY(w->isVisible());
    }
    // Tab reaches OK, the one control that takes the focus; there Escape still
    // does nothing and Enter presses it.
    QTest::keyClick(w, Qt::Key_Tab);
    QVERIFY(okButton(w)->hasFocus());
    QTest::keyClick(okButton(w), Qt::Key_Escape);
    QVERIFY(w->isVisible());
    QTest::keyClick(okButton(w), Qt::Key_Return);
    QVERIFY(!frmTest::instance());
    QTRY_VERIFY(w.isNull());
}

void TestTestWindow::succeedsAndReleasesTheObject() {
    registerServer();
    const QString name = QStringLiteral("server.APPLICATION");
    frmTest::Load(name);
    frmTest* w = frmTest::instance();
    // Load returns at once, the test still running.
    verifyTesting(w, name);

    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    verifyEnded(w, kSucceeded);
    QCOMPARE(control<QLabel>(w, "lblServer")->text(), name);
    QVERIFY(status(w)->toolTip().isEmpty());
    QCOMPARE(w->Server, name);

    // The server started for the test leaves once it has no object left,
    // which it would not while the window held one.
    QTRY_VERIFY_WITH_TIMEOUT(m_env->processes().isEmpty(), kServerIdleMs + kOutcomeMs);
    QVERIFY(w->isVisible());
}

void TestTestWindow::unregisteredClassFailsWithoutMessage() {
    registerServer();
    // Shown exactly as given: case, blanks and markup included.
    const QString name = QStringLiteral(" Server.<b>Application</b> & Co");
    frmTest::Load(name);
    frmTest* w = frmTest::instance();
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    verifyEnded(w, kFailed);
    QCOMPARE(control<QLabel>(w, "lblServer")->text(), name);
    QVERIFY(drawsLiterally(control<QLabel>(w, "lblServer")));
    // The reason in the tool tip names the class as given, too.
    const QString reason = toolTipAsShown(status(w)->toolTip());
    QVERIFY2(reason.contains(name) && reason.contains(QStringLiteral("not registered")),
             qPrintable(reason));
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
    QTRY_VERIFY_WITH_TIMEOUT(ended(frmTest::instance()), kOutcomeMs);
    verifyEnded(frmTest::instance(), kSucceeded);
    okButton(frmTest::instance())->click();
    QVERIFY(!frmTest::instance());

    // Nothing listens on the host's port any more.
    const quint16 closed = closedPort();
    useHostPort(closed);
    frmTest::Load(kApp);
    frmTest* w = frmTest::instance();
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    verifyEnded(w, kFailed);
    QVERIFY2(toolTipAsShown(status(w)->toolTip()).contains(QStringLiteral("refused")),
             qPrintable(status(w)->toolTip()));
}

void TestTestWindow::untrustedHostPointsToPairing_data() {
    QTest::addColumn<bool>("hostRuns");
    QTest::addColumn<bool>("recordHost");
    QTest::addColumn<bool>("authorizeClient");
    QTest::addColumn<bool>("pairingFixes");
    QTest::newRow("host not recorded here") << true << false << true << true;
    QTest::newRow("client not authorized there") << true << true << false << true;
    QTest::newRow("neither") << true << false << false << true;
    QTest::newRow("nothing listens") << false << true << true << false;
}

// When only trust is missing, the reason ends by naming the command that
// fixes it; other failures do not send the user there.
void TestTestWindow::untrustedHostPointsToPairing() {
    QFETCH(bool, hostRuns);
    QFETCH(bool, recordHost);
    QFETCH(bool, authorizeClient);
    QFETCH(bool, pairingFixes);
    registerServer();
    setRemote(QStringLiteral("127.0.0.1"));
    HostProcess host;
    if (hostRuns) {
        QVERIFY(host.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")},
                           {.recordHost = recordHost, .authorizeClient = authorizeClient}));
        useHostPort(host.port());
    } else {
        useHostPort(closedPort());
    }
    frmTest::Load(kApp);
    frmTest* w = frmTest::instance();
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    verifyEnded(w, kFailed);
    const QString reason = toolTipAsShown(status(w)->toolTip()).trimmed();
    const QString pairing = QStringLiteral(
        "Pairing with the machine fixes this: select it on the Machines page and choose "
        "Pair... from its context menu.");
    // The automation layer's own reason comes first.
    QVERIFY2(reason.count(pairing) == (pairingFixes ? 1 : 0), qPrintable(reason));
    QVERIFY2(reason.endsWith(QStringLiteral(". ") + pairing) == pairingFixes, qPrintable(reason));
    QVERIFY2(!reason.startsWith(pairing) && !reason.isEmpty(), qPrintable(reason));
}

void TestTestWindow::silentHostTimesOut() {
    SilentHost silent;
    useSilentHost(silent);
    // The TLS handshake is bounded by the connect time-out, the answer by the
    // activation time-out.
    automation::ObjectFactory::setDefaultTimeouts({1500, 1500, kOutcomeMs});
    frmTest::Load(kApp);
    frmTest* w = frmTest::instance();
    verifyTesting(w, kApp);
    // The host took the connection and never answered: only the creation's
    // own time-outs end the test.
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    verifyEnded(w, kFailed);
    QVERIFY(!status(w)->toolTip().isEmpty());
    QTRY_COMPARE(silent.clients.size(), 1);
}

void TestTestWindow::outcomeShowsWhileAModalDialogIsOpen() {
    SilentHost silent;
    useSilentHost(silent);
    frmServerReg* main = openMainWindow();
    control<common::SimpleCombo>(main, "cboServers")->setText(kApp);
    control<QPushButton>(main, "cmdTest")->click();
    QPointer<frmTest> w = frmTest::instance();
    verifyTesting(w, kApp);
    QTRY_COMPARE_WITH_TIMEOUT(silent.clients.size(), 1, kOutcomeMs);

    // Properties opens while the test waits; the host gives up while the
    // dialog is open, and the window shows the failure there and then.
    bool shownWithDialogOpen = false;
    ModalSteps properties("frmServerProps", [&](QWidget* dialog) {
        QCOMPARE(status(w)->text(), kTesting);
        silent.hangUp();
        QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
        verifyEnded(w, kFailed);
        shownWithDialogOpen = QApplication::activeModalWidget() == dialog && dialog->isVisible();
        static_cast<QDialog*>(dialog)->reject();
    });
    control<QPushButton>(main, "cmdProp")->click();
    QVERIFY(properties.ran());
    QVERIFY(shownWithDialogOpen);
    QVERIFY(!QApplication::activeModalWidget());
    verifyEnded(w, kFailed);
}

void TestTestWindow::loadWhileOpenRunsNoTest() {
    frmTest::Load(QStringLiteral("First.Class"));
    QPointer<frmTest> first = frmTest::instance();
    QTRY_VERIFY_WITH_TIMEOUT(ended(first), kOutcomeMs);
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

    // A request while that test still runs leaves it alone.
    frmTest::Load(kApp);
    frmTest* second = frmTest::instance();
    verifyTesting(second, kApp);
    frmTest::Load(QStringLiteral("Other.Class"));
    QCOMPARE(frmTest::instance(), second);
    QTRY_VERIFY_WITH_TIMEOUT(ended(second), kOutcomeMs);
    verifyEnded(second, kSucceeded);
    QCOMPARE(control<QLabel>(second, "lblServer")->text(), kApp);
    QCOMPARE(second->Server, QStringLiteral("Other.Class"));
}

void TestTestWindow::closeBoxAfterOutcomeActsLikeOK() {
    frmTest::Load(QStringLiteral("Not.Registered"));
    QPointer<frmTest> w = frmTest::instance();
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // The window system's close request, as the close box sends it.
    w->windowHandle()->close();
    QVERIFY(!frmTest::instance());
    QTRY_VERIFY(w.isNull());
}

void TestTestWindow::closeBoxDuringTestAbandonsIt() {
    SilentHost silent;
    useSilentHost(silent);
    frmTest::Load(kApp);
    QPointer<frmTest> w = frmTest::instance();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    // Closed once the request is out and the host keeps it waiting.
    QTRY_COMPARE_WITH_TIMEOUT(silent.clients.size(), 1, kOutcomeMs);
    QPointer<QTcpSocket> client = silent.clients.first();
    w->windowHandle()->close();
    QVERIFY(!frmTest::instance());
    // The abandoned creation closes its connection, which is what releases
    // an object the host would still make for it.
    QTRY_VERIFY(w.isNull());
    QTRY_VERIFY(!client || client->state() == QAbstractSocket::UnconnectedState);
}

void TestTestWindow::mainWindowClosedDuringTest() {
    SilentHost silent;
    useSilentHost(silent);
    QPointer<frmServerReg> main = openMainWindow();
    control<common::SimpleCombo>(main, "cboServers")->setText(kApp);
    control<QPushButton>(main, "cmdTest")->click();
    QPointer<frmTest> w = frmTest::instance();
    QTRY_COMPARE_WITH_TIMEOUT(silent.clients.size(), 1, kOutcomeMs);

    // The main window goes while the test runs; the test window stays and
    // still shows the outcome when it comes.
    main->close();
    QTRY_VERIFY(main.isNull());
    verifyTesting(w, kApp);
    silent.hangUp();
    QTRY_VERIFY_WITH_TIMEOUT(ended(w), kOutcomeMs);
    verifyEnded(w, kFailed);

    // The program ends when the last window, the test window, closes.
    QTimer::singleShot(0, w, [w] { okButton(w)->click(); });
    QTimer limit;
    limit.setSingleShot(true);
    connect(&limit, &QTimer::timeout, qApp, [] { QCoreApplication::exit(1); });
    limit.start(kOutcomeMs);
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(w.isNull());
}

QTEST_MAIN(TestTestWindow)
#include "test_testwindow.moc"
