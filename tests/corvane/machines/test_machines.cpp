// Pair and Import Classes from the Machines page, driven by keys alone
// against a real automation-host run as another user: the request accepted
// there with the command the dialog shows, the classes imported, a Test
// through the host with no server on this side; a request rejected there or
// withdrawn here records nothing; Import before pairing leads to Pair; the
// menu without an entry.
#include "app/messages.h"
#include "modalsteps.h"
#include "processes.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/simplecombo.h"
#include "ui/main/frmServerReg.h"
#include "ui/test/frmTest.h"
#include "windowtest.h"

#include <automation/remoteactivation.h>

#include <QAccessible>
#include <QApplication>
#include <QContextMenuEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPointer>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QtTest>

namespace {

const QString kApp = QStringLiteral("Server.Application");
const QString kOther = QStringLiteral("Other.Application");
const QString kMachine = QStringLiteral("127.0.0.1");
// A human's answer comes from a process the test runs; connections and the
// host's work are bounded by the automation layer's own time-outs.
constexpr int kAnswerMs = 60000;

const QRegularExpression kCodeShape(QStringLiteral("^\\d{3} \\d{3}$"));

// Where a key goes: an open menu, else the focus widget, else the active
// window.
QWidget* keyTarget() {
    if (QWidget* popup = QApplication::activePopupWidget())
        return popup;
    QWidget* target = QApplication::focusWidget();
    return target ? target : QApplication::activeWindow();
}

void press(int key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* target = keyTarget();
    QVERIFY2(target, "no window has the keyboard focus");
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

void tabTo(QWidget* target) {
    for (int i = 0; i < 30 && QApplication::focusWidget() != target; ++i)
        press(Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), target);
}

#define STEP(call)                      \
    do {                                \
        call;                           \
        if (QTest::currentTestFailed()) \
            return;                     \
    } while (false)

QMenu* openMenu() {
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

}  // namespace

class TestMachines : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void pairImportAndTestWithKeysOnly();
    void unansweredRequestRecordsNothing_data();
    void unansweredRequestRecordsNothing();
    void importBeforePairingLeadsToPair();
    void menuWithoutAnEntry_data();
    void menuWithoutAnEntry();

private:
    // The host, unpaired, serving Server.Application and one more class.
    void startHost(HostProcess& host);
    // Runs automationctl as the host's user; its exit code.
    static int hostctl(HostProcess& host, const QStringList& args, QByteArray* output = nullptr);
    // The main window on the Machines page, the list focused, its first
    // entry selected with Space.
    frmServerReg* openOnMachines();
    // Neither side recorded the other.
    void verifyNothingRecorded(HostProcess& host);

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    QPointer<frmServerReg> m_main;
};

void TestMachines::initTestCase() {
    useShortIdleTime();
}

void TestMachines::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
}

void TestMachines::cleanup() {
    if (QPointer<frmTest> test = frmTest::instance()) {
        test->close();
        QTRY_VERIFY(test.isNull());
    }
    if (QMenu* menu = openMenu())
        menu->close();
    rejectModalsLeftOpen();
    delete m_main;
    QVERIFY2(m_messages->count() == 0, qPrintable(m_messages->last().text));
    m_messages.reset();
    m_env.reset();
}

int TestMachines::hostctl(HostProcess& host, const QStringList& args, QByteArray* output) {
    return host.home().run(host.home().install(automationctl()), args, output);
}

void TestMachines::startHost(HostProcess& host) {
    QVERIFY(host.start({QStringLiteral("--listen"), QStringLiteral("127.0.0.1:0")},
                       {.recordHost = false, .authorizeClient = false}));
    QCOMPARE(hostctl(host, {QStringLiteral("register"), kOther,
                            host.home().install(QStringLiteral(SERVER_EXE))}),
             0);
    m_env->setVariable("AUTOMATION_HOST_PORT", QByteArray::number(host.port()));
    QVERIFY(settings::AddMachine(kMachine));
}

frmServerReg* TestMachines::openOnMachines() {
    m_main = new frmServerReg;
    m_main->show();
    if (!QTest::qWaitForWindowExposed(m_main))
        qFatal("main window not shown");
    m_main->activateWindow();
    if (!QTest::qWaitFor([this] { return m_main->isActiveWindow() && m_main->listsAreLoaded(); }))
        qFatal("main window not active");
    // From the About page: Server, then Machines.
    press(Qt::Key_Tab, Qt::ControlModifier);
    press(Qt::Key_Tab, Qt::ControlModifier);
    if (control<QTabWidget>(m_main, "tabClassReg")->currentIndex() != 1)
        qFatal("not on the Machines page");
    auto* list = control<QListWidget>(m_main, "lstMachines");
    tabTo(list);
    if (list->count() > 0)
        press(Qt::Key_Space);
    return m_main;
}

void TestMachines::verifyNothingRecorded(HostProcess& host) {
    const QString knownHosts =
        fileText(m_env->configHome() + QStringLiteral("/automation/known_hosts"));
    QVERIFY2(!knownHosts.contains(host.identity(), Qt::CaseInsensitive), qPrintable(knownHosts));
    const QString authorized =
        fileText(host.home().root() + QStringLiteral("/config/automation/authorized_clients"));
    QVERIFY2(!authorized.contains(clientIdentity(), Qt::CaseInsensitive), qPrintable(authorized));
}

void TestMachines::pairImportAndTestWithKeysOnly() {
    HostProcess host;
    STEP(startHost(host));
    frmServerReg* w = openOnMachines();
    QCOMPARE(control<QListWidget>(w, "lstMachines")->selectedItems().size(), 1);

    // Pair: the code shows, the host's user runs the command the dialog
    // gives, the dialog says so; Enter goes on to Import Classes.
    ModalSteps pair("frmPair", [&](QWidget* dialog) {
        auto* code = control<QLabel>(dialog, "lblCode");
        auto* command = control<QLabel>(dialog, "lblCommand");
        auto* status = control<QLabel>(dialog, "lblStatus");
        QTRY_VERIFY_WITH_TIMEOUT(kCodeShape.match(code->text()).hasMatch(), kAnswerMs);
        QVERIFY(status->text().startsWith(QStringLiteral("Waiting for 127.0.0.1")));
        // A screen reader reads the code digit by digit.
        const QString spelled = code->text().remove(QLatin1Char(' '));
        QString digits;
        for (const QChar digit : spelled)
            digits += digit + QLatin1Char(' ');
        QCOMPARE(QAccessible::queryAccessibleInterface(code)->text(QAccessible::Name),
                 QStringLiteral("Verification code ") + digits.trimmed());
        QVERIFY(command->isVisible());
        QCOMPARE(command->text(), QStringLiteral("automationctl accept ") + spelled);
        // The host's user sees the request with the same code.
        QByteArray requests;
        QCOMPARE(hostctl(host, {QStringLiteral("requests")}, &requests), 0);
        QVERIFY2(requests.contains(code->text().toUtf8()), requests.constData());
        QByteArray out;
        QVERIFY2(hostctl(host, command->text().split(QLatin1Char(' ')).mid(1), &out) == 0,
                 out.constData());
        QTRY_VERIFY_WITH_TIMEOUT(
            status->text().startsWith(QStringLiteral("Paired with 127.0.0.1.")), kAnswerMs);
        QVERIFY(!command->isVisible());
        QCOMPARE(QApplication::focusWidget(), control(dialog, "cmdImport"));
        STEP(press(Qt::Key_Return));
    });
    // Import: both classes listed and checked; the other one unchecked with
    // Space, Enter imports the rest, Enter closes.
    ModalSteps import("frmImport", [&](QWidget* dialog) {
        auto* list = control<QListWidget>(dialog, "lstClasses");
        QTRY_COMPARE_WITH_TIMEOUT(list->count(), 2, kAnswerMs);
        QCOMPARE(QApplication::focusWidget(), list);
        QStringList listed;
        for (int row = 0; row < list->count(); ++row) {
            listed << list->item(row)->text();
            QCOMPARE(list->item(row)->checkState(), Qt::Checked);
        }
        listed.sort();
        QCOMPARE(listed, QStringList({kOther, kApp}));
        while (list->currentItem()->text() != kOther)
            STEP(press(Qt::Key_Down));
        STEP(press(Qt::Key_Space));
        QCOMPARE(list->currentItem()->checkState(), Qt::Unchecked);
        STEP(press(Qt::Key_Return));
        QCOMPARE(control<QLabel>(dialog, "lblStatus")->text(),
                 QStringLiteral("Registered for activation on 127.0.0.1, and listed on the "
                                "Server page: Server.Application."));
        auto* close = control<QPushButton>(dialog, "cmdCancel");
        QCOMPARE(close->text(), QStringLiteral("Close"));
        QCOMPARE(QApplication::focusWidget(), close);
        STEP(press(Qt::Key_Return));
    });
    STEP(press(Qt::Key_F10, Qt::ShiftModifier));
    QTRY_VERIFY(openMenu());
    STEP(press(Qt::Key_P));
    QVERIFY(pair.ran());
    QVERIFY(import.ran());
    QTRY_VERIFY(!QApplication::activeModalWidget());

    // Both sides recorded the other; only the checked class is registered,
    // for the host, and listed on the Server page.
    QVERIFY(fileText(m_env->configHome() + QStringLiteral("/automation/known_hosts"))
                .contains(host.identity(), Qt::CaseInsensitive));
    const auto imported = automation::RemoteActivation().GetRemoteActivation(kApp);
    QVERIFY(imported && imported->remote);
    QCOMPARE(imported->machine, kMachine);
    QVERIFY(!automation::RemoteActivation().GetRemoteActivation(kOther));
    QCOMPARE(settings::Servers().value(), QStringList{kApp});

    // Test from the Server page: the object is made there, with no server
    // on this side (Server.exe never ran under this test's user).
    w->activateWindow();
    QTRY_VERIFY(w->isActiveWindow());
    STEP(press(Qt::Key_Backtab, Qt::ControlModifier | Qt::ShiftModifier));
    QCOMPARE(control<QTabWidget>(w, "tabClassReg")->currentIndex(), 0);
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    STEP(tabTo(combo->lineEdit()));
    STEP(press(Qt::Key_Down));
    QCOMPARE(combo->text(), kApp);
    STEP(press(Qt::Key_T, Qt::AltModifier));
    QTRY_VERIFY(frmTest::instance());
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(frmTest::instance(), "lblStatus")->text(),
                              QStringLiteral("Object Created Successfully"), kAnswerMs);
}

void TestMachines::unansweredRequestRecordsNothing_data() {
    QTest::addColumn<bool>("rejectThere");
    QTest::newRow("rejected by the host's user") << true;
    QTest::newRow("withdrawn with Escape") << false;
}

void TestMachines::unansweredRequestRecordsNothing() {
    QFETCH(bool, rejectThere);
    HostProcess host;
    STEP(startHost(host));
    openOnMachines();
    QString digits;
    ModalSteps pair("frmPair", [&](QWidget* dialog) {
        auto* code = control<QLabel>(dialog, "lblCode");
        auto* status = control<QLabel>(dialog, "lblStatus");
        QTRY_VERIFY_WITH_TIMEOUT(kCodeShape.match(code->text()).hasMatch(), kAnswerMs);
        digits = code->text().remove(QLatin1Char(' '));
        if (rejectThere) {
            QCOMPARE(hostctl(host, {QStringLiteral("reject"), digits}), 0);
            QTRY_VERIFY_WITH_TIMEOUT(status->text().startsWith(QStringLiteral("Not paired: ")),
                                     kAnswerMs);
            // The reason follows, and the way to ask again.
            QVERIFY(status->text().size() > QStringLiteral("Not paired: ").size());
            auto* retry = control<QPushButton>(dialog, "cmdRetry");
            QVERIFY(retry->isVisible());
            QCOMPARE(QApplication::focusWidget(), retry);
            QCOMPARE(control<QPushButton>(dialog, "cmdCancel")->text(), QStringLiteral("Close"));
            QVERIFY(!control(dialog, "cmdImport")->isVisible());
        }
        STEP(press(Qt::Key_Escape));
    });
    STEP(press(Qt::Key_F10, Qt::ShiftModifier));
    QTRY_VERIFY(openMenu());
    STEP(press(Qt::Key_P));
    QVERIFY(pair.ran());
    QVERIFY(!digits.isEmpty());
    // The host has let the request go: it can no longer be accepted.
    QTRY_VERIFY_WITH_TIMEOUT(
        [&] {
            QByteArray requests;
            return hostctl(host, {QStringLiteral("requests")}, &requests) == 0 &&
                   !requests.contains(digits.left(3).toUtf8() + ' ' + digits.mid(3).toUtf8());
        }(),
        kAnswerMs);
    QVERIFY(hostctl(host, {QStringLiteral("accept"), digits}) != 0);
    STEP(verifyNothingRecorded(host));
}

void TestMachines::importBeforePairingLeadsToPair() {
    HostProcess host;
    STEP(startHost(host));
    frmServerReg* w = openOnMachines();
    auto* list = control<QListWidget>(w, "lstMachines");
    list->clearSelection();
    // Import Classes from the mouse's menu on the entry: the host does not
    // know this user, and the dialog offers Pair, which Enter opens.
    ModalSteps import("frmImport", [&](QWidget* dialog) {
        auto* status = control<QLabel>(dialog, "lblStatus");
        QTRY_VERIFY_WITH_TIMEOUT(
            status->text().endsWith(QStringLiteral("Pair with 127.0.0.1 first, then import.")),
            kAnswerMs);
        QCOMPARE(control<QListWidget>(dialog, "lstClasses")->count(), 0);
        QVERIFY(!control(dialog, "cmdImport")->isEnabled());
        QCOMPARE(QApplication::focusWidget(), control(dialog, "cmdPair"));
        STEP(press(Qt::Key_Return));
    });
    ModalSteps pair("frmPair", [&](QWidget* dialog) {
        QCOMPARE(dialog->windowTitle(), QStringLiteral("Pair with 127.0.0.1"));
        STEP(press(Qt::Key_Escape));
    });
    // The right button as the window system reports it: the press, then the
    // context menu event (which QTest does not make), then the release.
    const QPoint at = list->visualItemRect(list->item(0)).center();
    QTest::mousePress(list->viewport(), Qt::RightButton, {}, at);
    QContextMenuEvent menuEvent(QContextMenuEvent::Mouse, at, list->viewport()->mapToGlobal(at));
    QApplication::sendEvent(list->viewport(), &menuEvent);
    QTest::mouseRelease(list->viewport(), Qt::RightButton, {}, at);
    QTRY_VERIFY(openMenu());
    // The entry under the pointer is the one the menu acts on.
    QCOMPARE(list->selectedItems().size(), 1);
    STEP(press(Qt::Key_I));
    QVERIFY(import.ran());
    QVERIFY(pair.ran());
    QTRY_VERIFY(!QApplication::activeModalWidget());
    STEP(verifyNothingRecorded(host));
}

void TestMachines::menuWithoutAnEntry_data() {
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::newRow("Shift+F10") << int(Qt::Key_F10) << int(Qt::ShiftModifier);
    QTest::newRow("Menu key") << int(Qt::Key_Menu) << int(Qt::NoModifier);
}

// With no machine, the menu still shows what it would offer, disabled.
void TestMachines::menuWithoutAnEntry() {
    QFETCH(int, key);
    QFETCH(int, modifiers);
    openOnMachines();
    STEP(press(key, Qt::KeyboardModifiers(modifiers)));
    QTRY_VERIFY(openMenu());
    QMenu* menu = openMenu();
    QCOMPARE(menu->font().family(), QStringLiteral("Arial"));
    QCOMPARE(menu->font().pointSizeF(), 8.25);
    QStringList texts;
    for (QAction* action : menu->actions()) {
        texts << action->text();
        QVERIFY(!action->isEnabled());
    }
    QCOMPARE(texts,
             QStringList({QStringLiteral("&Pair..."), QStringLiteral("&Import Classes...")}));
    STEP(press(Qt::Key_P));
    STEP(press(Qt::Key_Escape));
    QTRY_VERIFY(!openMenu());
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(TestMachines)
#include "test_machines.moc"
