// The Server page commands: Test, Properties (and a double-click), Add, driven
// as a user would, over the real class registration, Server.exe and
// automation-host.
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

#include <functional>

namespace {

const QString kSucceeded = QStringLiteral("Object Created Successfully");
const QString kFailed = QStringLiteral("Could not create object, please check properties");
// The longest wait for a window, an outcome or a server on a busy machine:
// reached only when something is wrong.
constexpr int kPatienceMs = 60000;

automation::ActivationSettings remoteSettings(const QString& machine, const QString& protocol,
                                              const QString& level) {
    automation::ActivationSettings settings;
    settings.remote = true;
    settings.machine = machine;
    settings.protocol = protocol;
    settings.level = level;
    return settings;
}

}  // namespace

class TestCommands : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void roadOfATypicalRequest();
    void blankNameIsRefused();
    void propertiesForUnregisteredName();
    void propertiesOfUnlistedClassRecordsItEvenOnCancel();
    void doubleClickActsAsProperties();
    void addThenCancelReloadsServersOnly();
    void testWhileTestWindowIsOpenRunsNoTest();
    void unreadableRegistrationIsNotCalledUnregistered();

private:
    frmServerReg* open();
    void registerSampleServer();
    void typeServer(const QString& text);
    void closeTestWindow();

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    QPointer<frmServerReg> m_window;
};

void TestCommands::initTestCase() {
    useShortIdleTime();
}

void TestCommands::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
}

void TestCommands::cleanup() {
    closeTestWindow();
    delete m_window;
    rejectModalsLeftOpen();
    m_messages.reset();
    m_env.reset();
}

frmServerReg* TestCommands::open() {
    m_window = new frmServerReg;
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window) ||
        !QTest::qWaitFor([this] { return m_window->listsAreLoaded(); }))
        qFatal("main window not shown");
    control<QTabWidget>(m_window, "tabClassReg")->setCurrentIndex(0);
    return m_window;
}

void TestCommands::registerSampleServer() {
    QCOMPARE(runProgram(QStringLiteral(SERVER_EXE)), 0);
    QVERIFY(registration::component().GetRemoteActivation(QStringLiteral("Server.Application")));
}

void TestCommands::typeServer(const QString& text) {
    QLineEdit* edit = control<common::SimpleCombo>(m_window, "cboServers")->lineEdit();
    edit->setFocus();
    edit->selectAll();
    QTest::keyClicks(edit, text);
}

void TestCommands::closeTestWindow() {
    if (QPointer<frmTest> test = frmTest::instance()) {
        test->close();
        QTRY_VERIFY(test.isNull());
    }
}

void TestCommands::roadOfATypicalRequest() {
    frmServerReg* w = open();
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    auto* machines = control<QListWidget>(w, "lstMachines");

    // Add: type the path of Server.exe, Next, Finish.
    ModalSteps wizard("frmServerWizard", [](QWidget* wizard) {
        auto* path = control<QLineEdit>(wizard, "txtServer");
        path->selectAll();
        QTest::keyClicks(path, QStringLiteral(SERVER_EXE));
        QTest::mouseClick(control<QPushButton>(wizard, "cmdNext"), Qt::LeftButton);
        auto* finish = control<QPushButton>(wizard, "cmdNext");
        QCOMPARE(finish->text(), QStringLiteral("Finish"));
        QTest::mouseClick(finish, Qt::LeftButton);
    });
    QTest::mouseClick(control<QPushButton>(w, "cmdAdd"), Qt::LeftButton);
    QVERIFY(wizard.ran());
    QCOMPARE(m_messages->count(), 0);
    QTRY_VERIFY_WITH_TIMEOUT(
        registration::component().GetRemoteActivation(QStringLiteral("Server.Application")),
        kPatienceMs);
    QCOMPARE(combo->count(), 0);
    QVERIFY(combo->text().isEmpty());
    QVERIFY(settings::Servers().value().isEmpty());

    // Properties for the name typed with blanks: tick remote, 127.0.0.1,
    // TCP/IP, Connect, OK.
    typeServer(QStringLiteral("  Server.Application  "));
    ModalSteps remote("frmServerProps", [](QWidget* dialog) {
        QCOMPARE(control<QLabel>(dialog, "lblServer")->text(),
                 QStringLiteral("Server.Application"));
        auto* remote = control<QCheckBox>(dialog, "chkRemote");
        QVERIFY(!remote->isChecked());
        QTest::mouseClick(remote, Qt::LeftButton, {}, QPoint(6, remote->height() / 2));
        QVERIFY(control<QWidget>(dialog, "fraRemote")->isVisible());
        auto* machine = control<QComboBox>(dialog, "cboMachine");
        machine->setFocus();
        QTest::keyClicks(machine->lineEdit(), QStringLiteral("127.0.0.1"));
        control<QComboBox>(dialog, "cboProtocol")->setCurrentText(QStringLiteral("TCP/IP"));
        control<QComboBox>(dialog, "cboALevel")->setCurrentText(QStringLiteral("Connect"));
        QTest::mouseClick(control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(control<QPushButton>(w, "cmdProp"), Qt::LeftButton);
    QVERIFY(remote.ran());
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("Server.Application")});
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->itemText(0), QStringLiteral("Server.Application"));
    QCOMPARE(combo->text(), QStringLiteral("Server.Application"));
    QCOMPARE(w->focusWidget(), static_cast<QWidget*>(combo->lineEdit()));
    QCOMPARE(machines->count(), 1);
    QCOMPARE(machines->item(0)->text(), QStringLiteral("127.0.0.1"));
    QCOMPARE(
        automation::RemoteActivation().GetRemoteActivation(QStringLiteral("Server.Application")),
        remoteSettings(QStringLiteral("127.0.0.1"), QStringLiteral("ncacn_ip_tcp"),
                       QStringLiteral("2")));

    // Test through the host.
    HostProcess host;
    QVERIFY(host.start());
    m_env->setVariable("AUTOMATION_HOST_PORT", QByteArray::number(host.port()));
    QTest::mouseClick(control<QPushButton>(w, "cmdTest"), Qt::LeftButton);
    QPointer<frmTest> test = frmTest::instance();
    QVERIFY(test);
    QCOMPARE(control<QLabel>(test, "lblServer")->text(), QStringLiteral("Server.Application"));
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(test, "lblStatus")->text(), kSucceeded, kPatienceMs);
    QVERIFY(control<QPushButton>(test, "cmdOK")->isEnabled());
    QTest::mouseClick(control<QPushButton>(test, "cmdOK"), Qt::LeftButton);
    QTRY_VERIFY(test.isNull());

    // Back to local activation; the test now succeeds without the host.
    ModalSteps local("frmServerProps", [](QWidget* dialog) {
        auto* remote = control<QCheckBox>(dialog, "chkRemote");
        QVERIFY(remote->isChecked());
        QCOMPARE(control<QComboBox>(dialog, "cboMachine")->currentText(),
                 QStringLiteral("127.0.0.1"));
        QCOMPARE(control<QComboBox>(dialog, "cboProtocol")->currentText(),
                 QStringLiteral("TCP/IP"));
        QCOMPARE(control<QComboBox>(dialog, "cboALevel")->currentText(), QStringLiteral("Connect"));
        QTest::mouseClick(remote, Qt::LeftButton, {}, QPoint(6, remote->height() / 2));
        QTest::mouseClick(control<QPushButton>(dialog, "cmdOK"), Qt::LeftButton);
    });
    QTest::mouseClick(control<QPushButton>(w, "cmdProp"), Qt::LeftButton);
    QVERIFY(local.ran());
    QVERIFY(!automation::RemoteActivation()
                 .GetRemoteActivation(QStringLiteral("Server.Application"))
                 ->remote);
    m_env->setVariable("AUTOMATION_HOST_PORT", QByteArray::number(closedPort()));
    QTest::mouseClick(control<QPushButton>(w, "cmdTest"), Qt::LeftButton);
    test = frmTest::instance();
    QVERIFY(test);
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(test, "lblStatus")->text(), kSucceeded, kPatienceMs);
    closeTestWindow();

    // Forget the server and the machine, each after Yes.
    QListWidget* list = combo->listWidget();
    clickEntry(list, 0);
    m_messages->setNextAnswer(app::kAnswerYes);
    QTest::mouseClick(control<QPushButton>(w, "cmdRemServer"), Qt::LeftButton);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove Server.Application?"));
    QVERIFY(settings::Servers().value().isEmpty());
    QCOMPARE(combo->count(), 0);

    control<QTabWidget>(w, "tabClassReg")->setCurrentIndex(1);
    clickEntry(machines, 0);
    m_messages->setNextAnswer(app::kAnswerYes);
    QTest::mouseClick(control<QPushButton>(w, "cmdRemMachine"), Qt::LeftButton);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove 127.0.0.1?"));
    QVERIFY(settings::Machines().value().isEmpty());
    QCOMPARE(machines->count(), 0);
    // The class stays registered: Remove forgets it in Corvane's list only.
    QVERIFY(registration::component().GetRemoteActivation(QStringLiteral("Server.Application")));
}

void TestCommands::blankNameIsRefused() {
    frmServerReg* w = open();
    typeServer(QStringLiteral("   "));
    QLineEdit* edit = control<common::SimpleCombo>(w, "cboServers")->lineEdit();
    for (const char* command : {"cmdTest", "cmdProp"}) {
        m_messages->clear();
        control<QPushButton>(w, command)->click();
        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().text, QStringLiteral("Server must be entered"));
        QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
        QCOMPARE(m_messages->last().title, QStringLiteral("Corvane"));
        QVERIFY(edit->hasFocus());
    }
    QVERIFY(!frmTest::instance());
    QVERIFY(settings::Servers().value().isEmpty());
}

void TestCommands::propertiesForUnregisteredName() {
    QVERIFY(settings::AddServer(QStringLiteral("Listed.App")));
    frmServerReg* w = open();
    typeServer(QStringLiteral(" Not.Registered "));
    control<QPushButton>(w, "cmdProp")->click();
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Server has not been registered"));
    QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
    QCOMPARE(m_messages->last().title, QStringLiteral("Corvane"));
    QVERIFY(!QApplication::activeModalWidget());
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("Listed.App")});
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->text(), QStringLiteral(" Not.Registered "));
}

void TestCommands::propertiesOfUnlistedClassRecordsItEvenOnCancel() {
    registerSampleServer();
    QVERIFY(automation::RemoteActivation().SetRemoteActivation(
                true, QStringLiteral("Server.Application"), std::nullopt,
                QStringLiteral("Far.Host"), QStringLiteral("ncacn_nb_tcp"),
                QStringLiteral("6")) == 0);
    frmServerReg* w = open();
    typeServer(QStringLiteral("Server.Application"));
    QString machineShown;
    ModalSteps props("frmServerProps", [&machineShown](QWidget* dialog) {
        machineShown = control<QComboBox>(dialog, "cboMachine")->currentText();
        QCOMPARE(control<QComboBox>(dialog, "cboProtocol")->currentText(),
                 QStringLiteral("NetBIOS over TCP"));
        QCOMPARE(control<QComboBox>(dialog, "cboALevel")->currentText(),
                 QStringLiteral("Packet Privacy"));
        QTest::mouseClick(control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    });
    control<QPushButton>(w, "cmdProp")->click();
    QVERIFY(props.ran());
    QCOMPARE(machineShown, QStringLiteral("Far.Host"));
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("Server.Application")});
    QVERIFY(settings::Machines().value().isEmpty());
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->text(), QStringLiteral("Server.Application"));
    QCOMPARE(m_messages->count(), 0);
}

void TestCommands::doubleClickActsAsProperties() {
    registerSampleServer();
    QVERIFY(settings::AddServer(QStringLiteral("Other.App")));
    QVERIFY(settings::AddServer(QStringLiteral("Server.Application")));
    frmServerReg* w = open();
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QString opened;
    ModalSteps props("frmServerProps", [&opened](QWidget* dialog) {
        opened = control<QLabel>(dialog, "lblServer")->text();
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    QListWidget* list = combo->listWidget();
    const QPoint at = list->visualItemRect(list->item(1)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QVERIFY(props.ran());
    QTRY_COMPARE(opened, QStringLiteral("Server.Application"));
    QTRY_COMPARE(combo->text(), QStringLiteral("Server.Application"));
    QCOMPARE(combo->count(), 2);
}

void TestCommands::addThenCancelReloadsServersOnly() {
    frmServerReg* w = open();
    typeServer(QStringLiteral("typed"));
    // Entries that appear behind the window's back show after Add; machines
    // do not.
    QVERIFY(settings::AddServer(QStringLiteral("Arrived.Meanwhile")));
    QVERIFY(settings::AddMachine(QStringLiteral("host.meanwhile")));
    ModalSteps wizard("frmServerWizard", [](QWidget* wizard) {
        QTest::mouseClick(control<QPushButton>(wizard, "cmdCancel"), Qt::LeftButton);
    });
    control<QPushButton>(w, "cmdAdd")->click();
    QVERIFY(wizard.ran());
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->itemText(0), QStringLiteral("Arrived.Meanwhile"));
    QVERIFY(combo->text().isEmpty());
    QCOMPARE(control<QListWidget>(w, "lstMachines")->count(), 0);
    QCOMPARE(m_messages->count(), 0);
}

void TestCommands::testWhileTestWindowIsOpenRunsNoTest() {
    frmServerReg* w = open();
    typeServer(QStringLiteral("Not.Registered"));
    control<QPushButton>(w, "cmdTest")->click();
    QPointer<frmTest> test = frmTest::instance();
    QVERIFY(test);
    auto* status = control<QLabel>(test, "lblStatus");
    QTRY_COMPARE_WITH_TIMEOUT(status->text(), kFailed, kPatienceMs);

    // The main window is the active one again when Test is pressed.
    registerSampleServer();
    w->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(w));
    typeServer(QStringLiteral("Server.Application"));
    control<QPushButton>(w, "cmdTest")->click();
    QCOMPARE(frmTest::instance(), test.data());
    QCOMPARE(control<QLabel>(test, "lblServer")->text(), QStringLiteral("Not.Registered"));
    QCOMPARE(status->text(), kFailed);
    QCOMPARE(m_messages->count(), 0);
    // The open window comes to the front with the focus.
    QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget*>(test.data()));

    // Closed, the next Test runs again.
    closeTestWindow();
    control<QPushButton>(w, "cmdTest")->click();
    QVERIFY(frmTest::instance());
    QTRY_COMPARE_WITH_TIMEOUT(control<QLabel>(frmTest::instance(), "lblStatus")->text(), kSucceeded,
                              kPatienceMs);
}

void TestCommands::unreadableRegistrationIsNotCalledUnregistered() {
    const QString store = m_env->dataHome() + QStringLiteral("/automation/classes.db");
    QVERIFY(QDir().mkpath(QFileInfo(store).absolutePath()));
    QFile file(store);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QByteArray("not a database at all\n").repeated(100));
    file.close();
    frmServerReg* w = open();
    typeServer(QStringLiteral("Server.Application"));
    control<QPushButton>(w, "cmdProp")->click();
    QCOMPARE(m_messages->count(), 1);
    QVERIFY(m_messages->last().text.startsWith(
        QStringLiteral("The class registration could not be read")));
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(settings::Servers().value().isEmpty());
}

QTEST_MAIN(TestCommands)
#include "test_commands.moc"
