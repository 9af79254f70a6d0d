// The road of the README done with the keyboard alone: register Server.exe
// with the wizard, open its properties, set it remote and save, set it back
// to local, test it, then forget the server and the machine. Every step is a
// key press sent where the keyboard focus is; message boxes are answered
// through the message recorder.
#include "app/messages.h"
#include "modalsteps.h"
#include "processes.h"
#include "registration/component.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/simplecombo.h"
#include "ui/main/frmServerReg.h"
#include "ui/test/frmTest.h"
#include "windowtest.h"

#include <automation/remoteactivation.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

namespace {

const QString kClass = QStringLiteral("Server.Application");

// Where a key press goes: the focus widget, or the active window when
// nothing in it has the focus.
QWidget* keyTarget() {
    QWidget* target = QApplication::focusWidget();
    return target ? target : QApplication::activeWindow();
}

void press(int key, Qt::KeyboardModifiers modifiers = {}) {
    QWidget* target = keyTarget();
    QVERIFY2(target, "no window has the keyboard focus");
    QTest::keyClick(target, Qt::Key(key), modifiers);
}

void type(const QString& text) {
    QWidget* target = keyTarget();
    QVERIFY2(target, "no window has the keyboard focus");
    QTest::keyClicks(target, text);
}

// Presses Tab until target has the focus: it must be reachable.
void tabTo(QWidget* target) {
    for (int i = 0; i < 30 && QApplication::focusWidget() != target; ++i) {
        press(Qt::Key_Tab);
        if (QTest::currentTestFailed())
            return;
    }
    QCOMPARE(QApplication::focusWidget(), target);
}

// What a window manager does when a window on top of the main window closes
// (the headless platform has none): the main window becomes active again.
void windowManagerActivates(QWidget* window) {
    window->activateWindow();
    QTRY_VERIFY(window->isActiveWindow());
}

#define STEP(call)                      \
    do {                                \
        call;                           \
        if (QTest::currentTestFailed()) \
            return;                     \
    } while (false)

}  // namespace

class TestKeyboardRoad : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void readmeRoadWithKeysOnly();

private:
    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    QPointer<frmServerReg> m_window;
};

void TestKeyboardRoad::initTestCase() {
    useShortIdleTime();
}

void TestKeyboardRoad::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
}

void TestKeyboardRoad::cleanup() {
    if (QPointer<frmTest> test = frmTest::instance()) {
        test->close();
        QTRY_VERIFY(test.isNull());
    }
    rejectModalsLeftOpen();
    delete m_window;
    m_messages.reset();
    m_env.reset();
}

void TestKeyboardRoad::readmeRoadWithKeysOnly() {
    m_window = new frmServerReg;
    frmServerReg* w = m_window;
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    QTRY_VERIFY(w->isActiveWindow());
    QTRY_VERIFY(w->listsAreLoaded());
    auto* tabs = control<QTabWidget>(w, "tabClassReg");
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    auto* machines = control<QListWidget>(w, "lstMachines");

    // The Server page, then Add: type the path of Server.exe over the
    // selected "Server.exe", Enter for Next, Enter for Finish.
    STEP(press(Qt::Key_Tab, Qt::ControlModifier));
    QCOMPARE(tabs->currentIndex(), 0);
    ModalSteps wizard("frmServerWizard", [](QWidget* wizard) {
        QTRY_COMPARE(QApplication::focusWidget(), control(wizard, "txtServer"));
        STEP(type(QStringLiteral(SERVER_EXE)));
        QCOMPARE(control<QLineEdit>(wizard, "txtServer")->text(), QStringLiteral(SERVER_EXE));
        STEP(press(Qt::Key_Return));
        auto* finish = control<QPushButton>(wizard, "cmdNext");
        QCOMPARE(finish->text(), QStringLiteral("Finish"));
        QCOMPARE(QApplication::focusWidget(), finish);
        STEP(press(Qt::Key_Return));
    });
    STEP(press(Qt::Key_A, Qt::AltModifier));
    QVERIFY(wizard.ran());
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(m_messages->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(registration::component().GetRemoteActivation(kClass), 20000);

    // Properties for the typed class: tick remote, type the machine, pick
    // TCP/IP and Connect with the arrow keys, Enter for OK.
    STEP(windowManagerActivates(w));
    STEP(tabTo(combo->lineEdit()));
    STEP(type(kClass));
    ModalSteps remote("frmServerProps", [](QWidget* dialog) {
        auto* check = control<QCheckBox>(dialog, "chkRemote");
        QTRY_COMPARE(QApplication::focusWidget(), check);
        STEP(press(Qt::Key_Space));
        QVERIFY(check->isChecked());
        auto* machine = control<QComboBox>(dialog, "cboMachine");
        STEP(tabTo(machine));
        STEP(type(QStringLiteral("127.0.0.1")));
        auto* protocol = control<QComboBox>(dialog, "cboProtocol");
        STEP(tabTo(protocol));
        STEP(press(Qt::Key_Down));
        QCOMPARE(protocol->currentText(), QStringLiteral("TCP/IP"));
        auto* level = control<QComboBox>(dialog, "cboALevel");
        STEP(tabTo(level));
        for (int i = 0; i < 3; ++i)
            STEP(press(Qt::Key_Down));
        QCOMPARE(level->currentText(), QStringLiteral("Connect"));
        STEP(press(Qt::Key_Return));
    });
    STEP(press(Qt::Key_R, Qt::AltModifier));
    QVERIFY(remote.ran());
    QTRY_VERIFY(!QApplication::activeModalWidget());
    QCOMPARE(m_messages->count(), 0);
    QCOMPARE(settings::Servers().value(), QStringList{kClass});
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("127.0.0.1")});
    std::optional<automation::ActivationSettings> stored =
        automation::RemoteActivation().GetRemoteActivation(kClass);
    QVERIFY(stored && stored->remote);
    QCOMPARE(stored->machine, QStringLiteral("127.0.0.1"));
    QCOMPARE(stored->protocol, QStringLiteral("ncacn_ip_tcp"));
    QCOMPARE(stored->level, QStringLiteral("2"));

    // Back to local: Properties again, clear the tick, Enter.
    STEP(windowManagerActivates(w));
    QCOMPARE(QApplication::focusWidget(), combo->lineEdit());
    ModalSteps local("frmServerProps", [](QWidget* dialog) {
        auto* check = control<QCheckBox>(dialog, "chkRemote");
        QTRY_COMPARE(QApplication::focusWidget(), check);
        QVERIFY(check->isChecked());
        STEP(press(Qt::Key_Space));
        QVERIFY(!check->isChecked());
        STEP(press(Qt::Key_Return));
    });
    STEP(press(Qt::Key_R, Qt::AltModifier));
    QVERIFY(local.ran());
    QTRY_VERIFY(!QApplication::activeModalWidget());
    stored = automation::RemoteActivation().GetRemoteActivation(kClass);
    QVERIFY(stored && !stored->remote);
    STEP(windowManagerActivates(w));

    // Test: the real Server.exe is started on this machine. The outcome
    // shows, then Tab reaches OK and Space closes the window.
    STEP(press(Qt::Key_T, Qt::AltModifier));
    QTRY_VERIFY(frmTest::instance());
    QPointer<frmTest> test = frmTest::instance();
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(test, "lblStatus")->text(),
                              QStringLiteral("Object Created Successfully"), 30000);
    QTRY_VERIFY(test->isActiveWindow());
    auto* ok = control<QPushButton>(test, "cmdOK");
    STEP(tabTo(ok));
    STEP(press(Qt::Key_Space));
    QTRY_VERIFY(test.isNull());

    STEP(windowManagerActivates(w));

    // Forget the server: Down picks it from the list, Alt+E removes it.
    STEP(tabTo(combo->lineEdit()));
    STEP(press(Qt::Key_Down));
    QCOMPARE(combo->currentIndex(), 0);
    m_messages->setNextAnswer(app::kAnswerYes);
    STEP(press(Qt::Key_E, Qt::AltModifier));
    QTRY_COMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove Server.Application?"));
    QVERIFY(settings::Servers().value().isEmpty());
    QCOMPARE(combo->count(), 0);

    // Forget the machine: the Machines page, Space selects the one entry,
    // Tab reaches Remove, Space presses it.
    STEP(press(Qt::Key_Tab, Qt::ControlModifier));
    QCOMPARE(tabs->currentIndex(), 1);
    STEP(tabTo(machines));
    STEP(press(Qt::Key_Space));
    QCOMPARE(machines->selectedItems().size(), 1);
    m_messages->setNextAnswer(app::kAnswerYes);
    STEP(tabTo(control(w, "cmdRemMachine")));
    STEP(press(Qt::Key_Space));
    QTRY_COMPARE(m_messages->count(), 2);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove 127.0.0.1?"));
    QVERIFY(settings::Machines().value().isEmpty());
    QCOMPARE(machines->count(), 0);
    // Forgetting changes nothing in the class registration.
    QVERIFY(registration::component().GetRemoteActivation(kClass));
}

QTEST_MAIN(TestKeyboardRoad)
#include "test_keyboardroad.moc"
