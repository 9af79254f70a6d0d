// The main window: its layout, the load step (lists filled after the first
// paint), the server list and its Remove, the Machines page and its Remove,
// the About page, and closing.
#include "app/help.h"
#include "app/messages.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/simplecombo.h"
#include "ui/common/tabcontrol.h"
#include "ui/main/frmServerReg.h"
#include "windowtest.h"

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPointer>
#include <QPushButton>
#include <QSignalSpy>
#include <QWhatsThis>
#include <QtTest>

#include <algorithm>
#include <functional>
#include <utility>

class TestMainWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void layoutMatchesTheDesign();
    void tabOrderAndAccessKeys();
    void contextHelpTopics();
    void contextHelpKeys();
    void loadsEmptyStore();
    void loadListsStoreInOrder();
    void listsFillAfterTheFirstPaint();
    void unreadableStoreIsToldOnceTheWindowIsUp();
    void commandBeforeTheListsLoadsThemFirst();
    void commandRightAfterTheFirstPaint();
    void aboutPage();
    void removeButtonFollowsSelectionAndText();
    void removeServerAsksAndForgets();
    void removeServerAnsweredNoChangesNothing();
    void removeServerOfUnlistedName();
    void removeQuestionsShowNamesAsTyped();
    void machinesPageListsAndRemoves();
    void removeMachineRecordedWithBlanks();
    void removeMachineWithoutSelectionDoesNothing();
    void enterInServerComboCloses();
    void escapeDoesNothing();
    void closeEndsTheProgramWithTheLastWindow();

private:
    // Opens the main window, on the given page when one is given, and waits
    // until its lists are loaded.
    frmServerReg* open(int page = -1);

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    QPointer<frmServerReg> m_window;
};

void TestMainWindow::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
    app::setHelpFile(QStringLiteral(HELP_FILE));
}

void TestMainWindow::cleanup() {
    delete m_window;
    m_messages.reset();
    m_env.reset();
}

frmServerReg* TestMainWindow::open(int page) {
    m_window = new frmServerReg;
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window) ||
        !QTest::qWaitFor([this] { return m_window->listsAreLoaded(); }))
        qFatal("main window not shown");
    if (page >= 0)
        control<QTabWidget>(m_window, "tabClassReg")->setCurrentIndex(page);
    return m_window;
}

void TestMainWindow::layoutMatchesTheDesign() {
    frmServerReg* w = open();
    QCOMPARE(w->windowTitle(), QStringLiteral("TALVO - Corvane"));
    QCOMPARE(w->size(), QSize(361, 378));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    QVERIFY(w->windowFlags() & Qt::WindowContextHelpButtonHint);
    QVERIFY(!(w->windowFlags() & Qt::WindowMinimizeButtonHint));
    QVERIFY(!(w->windowFlags() & Qt::WindowMaximizeButtonHint));
    QVERIFY(!w->windowIcon().isNull());
    QCOMPARE(w->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w->font().pointSizeF(), 8.25);

    auto* tabs = control<common::TabControl>(w, "tabClassReg");
    QCOMPARE(tabs->count(), 3);
    QCOMPARE(tabs->tabText(0), QStringLiteral("Server"));
    QCOMPARE(tabs->tabText(1), QStringLiteral("Machines"));
    QCOMPARE(tabs->tabText(2), QStringLiteral("About"));
    QCOMPARE(tabs->currentIndex(), 2);
    QVERIFY(control<QPushButton>(w, "cmdClose")->isDefault());

    // Page controls are placed from the tab control's corner, tab strip
    // included; the controls in a frame from the frame's corner.
    const QList<Placement> layout = {
        {"tabClassReg", nullptr, twips(75, 75, 5265, 5040)},
        {"cmdClose", nullptr, twips(4275, 5250, 1065, 315)},
        {"lblTitle", "tabClassReg", twips(300, 600, 4665, 315)},
        {"lblCopyright", "tabClassReg", twips(300, 900, 4665, 240)},
        {"fraTitle", "tabClassReg", twips(300, 1425, 4665, 90)},
        {"lblComments", "tabClassReg", twips(300, 1650, 4665, 1065)},
        {"lblLabel_1", "tabClassReg", twips(225, 600, 4815, 615)},
        {"cboServers", "tabClassReg", twips(225, 1425, 3540, 2490)},
        {"cmdProp", "tabClassReg", twips(3975, 1425, 1065, 315)},
        {"cmdTest", "tabClassReg", twips(3975, 1800, 1065, 315)},
        {"cmdRemServer", "tabClassReg", twips(3975, 2400, 1065, 315)},
        {"fraFrame_0", "tabClassReg", twips(225, 4050, 4815, 765)},
        {"lblLabel_2", "fraFrame_0", twips(375, 375, 2790, 240)},
        {"cmdAdd", "fraFrame_0", twips(3375, 300, 1065, 315)},
        {"lblLabel_0", "tabClassReg", twips(225, 600, 4815, 615)},
        {"lstMachines", "tabClassReg", twips(225, 1425, 3540, 2580)},
        {"cmdRemMachine", "tabClassReg", twips(3975, 1425, 1065, 315)},
    };
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        const QStringList wrong = misplaced(w, layout);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    }

    const QList<std::pair<const char*, QString>> texts = {
        {"lblLabel_1",
         "OLE Automation Servers can be registered to either run locally or on a "
         "remote machine.  Use this program to register and configure OLE Servers."},
        {"lblLabel_2", "Click button to register new server..."},
        {"lblLabel_0",
         "TALVO logs the remote machines it knows of in the registry for future "
         "reference. Use this screen to remove unused machines."},
        {"cmdProp", "P&roperties"},
        {"cmdTest", "&Test"},
        {"cmdRemServer", "R&emove"},
        {"cmdAdd", "&Add..."},
        {"cmdRemMachine", "Remove"},
        {"cmdClose", "Close"},
    };
    for (const auto& [name, text] : texts)
        QCOMPARE(control(w, name)->property("text").toString(), text);

    auto* title = control<QLabel>(w, "lblTitle");
    QCOMPARE(title->font().pointSizeF(), 9.75);
    QVERIFY(title->font().bold());
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    QCOMPARE(control<QLabel>(w, "lblComments")->font().pointSizeF(), 8.25);
    QVERIFY(!control<QLabel>(w, "lblComments")->font().bold());
}

void TestMainWindow::tabOrderAndAccessKeys() {
    frmServerReg* w = open();
    auto* tabs = control<QTabWidget>(w, "tabClassReg");
    // With the Server page showing, Tab walks the commands in their order.
    tabs->setCurrentIndex(0);
    auto* edit = control<common::SimpleCombo>(w, "cboServers")->lineEdit();
    edit->setFocus();
    QTRY_VERIFY(edit->hasFocus());
    const QStringList expected = {QStringLiteral("cmdProp"), QStringLiteral("cmdTest"),
                                  QStringLiteral("cmdAdd"), QStringLiteral("cmdClose")};
    // Remove is disabled, so Tab skips it.
    for (const QString& name : expected) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), name);
    }
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(tabs->tabBar()));
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(edit));

    // Access keys as the captions mark them.
    const QList<std::pair<const char*, QKeySequence>> keys = {
        {"cmdProp", QKeySequence(Qt::ALT | Qt::Key_R)},
        {"cmdTest", QKeySequence(Qt::ALT | Qt::Key_T)},
        {"cmdRemServer", QKeySequence(Qt::ALT | Qt::Key_E)},
        {"cmdAdd", QKeySequence(Qt::ALT | Qt::Key_A)},
    };
    for (const auto& [name, key] : keys)
        QCOMPARE(control<QPushButton>(w, name)->shortcut(), key);
    QVERIFY(control<QPushButton>(w, "cmdRemMachine")->shortcut().isEmpty());
}

void TestMainWindow::contextHelpTopics() {
    frmServerReg* w = open();
    const QList<std::pair<const char*, int>> topics = {
        {"cboServers", 1},   {"cmdProp", 2},       {"cmdAdd", 3},      {"cmdTest", 4},
        {"cmdRemServer", 5}, {"cmdClose", 6},      {"lstMachines", 7}, {"cmdRemMachine", 8},
        {"lblTitle", 12},    {"lblCopyright", 12}, {"fraTitle", 12},   {"lblComments", 12},
    };
    for (const auto& [name, topic] : topics) {
        QWidget* widget = control<QWidget>(w, name);
        QCOMPARE(widget->property("helpTopic").toInt(), topic);
        QVERIFY2(widget->whatsThis().contains(app::helpTopic(topic).title.toHtmlEscaped()), name);
    }
    for (const char* name : {"tabClassReg", "lblLabel_1", "lblLabel_0", "fraFrame_0"})
        QVERIFY2(control<QWidget>(w, name)->whatsThis().isEmpty(), name);
}

void TestMainWindow::contextHelpKeys() {
    frmServerReg* w = open();
    const auto popupShown = [] {
        const QList<QWidget*> windows = QApplication::topLevelWidgets();
        return std::any_of(windows.cbegin(), windows.cend(), [](QWidget* widget) {
            return widget->isVisible() && widget->inherits("QWhatsThat");
        });
    };
    auto* close = control<QPushButton>(w, "cmdClose");
    close->setFocus();
    QTRY_VERIFY(close->hasFocus());
    QTest::keyClick(close, Qt::Key_F1);
    QTRY_VERIFY(popupShown());
    QWhatsThis::hideText();

    QVERIFY(!QWhatsThis::inWhatsThisMode());
    QTest::keyClick(close, Qt::Key_F1, Qt::ShiftModifier);
    QVERIFY(QWhatsThis::inWhatsThisMode());
    QWhatsThis::leaveWhatsThisMode();
}

void TestMainWindow::loadsEmptyStore() {
    frmServerReg* w = open();
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QCOMPARE(combo->count(), 0);
    QVERIFY(combo->text().isEmpty());
    QCOMPARE(control<QListWidget>(w, "lstMachines")->count(), 0);
    QVERIFY(!control<QPushButton>(w, "cmdRemServer")->isEnabled());
    QVERIFY(!control<QPushButton>(w, "cmdRemMachine")->isEnabled());
    for (const char* name : {"cmdProp", "cmdTest", "cmdAdd", "cmdClose"})
        QVERIFY(control<QPushButton>(w, name)->isEnabled());
    QCOMPARE(m_messages->count(), 0);
}

void TestMainWindow::loadListsStoreInOrder() {
    for (const char* name : {"Zeta.App", "Alpha.App", "Server.Application"})
        QVERIFY(settings::AddServer(QString::fromLatin1(name)));
    QVERIFY(settings::AddMachine(QStringLiteral("hostB")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    frmServerReg* w = open();
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QCOMPARE(combo->count(), 3);
    QCOMPARE(combo->itemText(0), QStringLiteral("Zeta.App"));
    QCOMPARE(combo->itemText(2), QStringLiteral("Server.Application"));
    QCOMPARE(combo->currentIndex(), -1);
    QVERIFY(combo->text().isEmpty());
    auto* machines = control<QListWidget>(w, "lstMachines");
    QCOMPARE(machines->count(), 2);
    QCOMPARE(machines->item(0)->text(), QStringLiteral("hostB"));
    QVERIFY(machines->selectedItems().isEmpty());

    QVERIFY(settings::AddServer(QStringLiteral("Late.Comer")));
    combo->setText(QStringLiteral("typed"));
    w->LoadServers();
    QCOMPARE(combo->count(), 4);
    QVERIFY(combo->text().isEmpty());
}

namespace {

// What the window showed when it was painted first.
class FirstPaint : public QObject {
public:
    // then runs on the event loop's next turn after the first paint, ahead of
    // the window's own timer started by that paint.
    FirstPaint(frmServerReg* window, const app::MessageRecorder& recorder,
               std::function<void()> then = {})
        : m_window(window), m_recorder(recorder) {
        m_frameDrawn.setSingleShot(true);
        connect(&m_frameDrawn, &QTimer::timeout, this, [this] { m_drawing = false; });
        if (then)
            connect(&m_frameDrawn, &QTimer::timeout, this, std::move(then));
        window->installEventFilter(this);
        // Drawn after the window itself, in the same frame.
        control(window, "cmdClose")->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Paint || (seen && !m_drawing))
            return false;
        loadedInFirstFrame = loadedInFirstFrame || m_window->listsAreLoaded();
        if (watched == m_window && !seen) {
            seen = true;
            m_drawing = true;
            servers = control<common::SimpleCombo>(m_window, "cboServers")->count();
            machines = control<QListWidget>(m_window, "lstMachines")->count();
            title = control<QLabel>(m_window, "lblTitle")->text();
            storeOpen = storeIsOpen();
            messages = m_recorder.count();
            m_frameDrawn.start();
        }
        return false;
    }

    // Whether this process holds the settings file open.
    static bool storeIsOpen() {
        const QString file = QFileInfo(settings::Store::defaultPath()).canonicalFilePath();
        const QDir fds(QStringLiteral("/proc/self/fd"));
        const QStringList entries = fds.entryList(QDir::Files | QDir::System);
        return !file.isEmpty() &&
               std::any_of(entries.cbegin(), entries.cend(), [&](const QString& fd) {
                   return QFile::symLinkTarget(fds.filePath(fd)) == file;
               });
    }

    bool seen = false;
    bool loadedInFirstFrame = false;
    int servers = -1;
    int machines = -1;
    QString title;
    bool storeOpen = true;
    int messages = -1;

private:
    frmServerReg* m_window;
    const app::MessageRecorder& m_recorder;
    QTimer m_frameDrawn;
    bool m_drawing = false;
};

// Returns once the timers started before it have fired: those of the event
// loop's next turn.
bool nextTurn() {
    QTimer later;
    later.setSingleShot(true);
    QSignalSpy fired(&later, &QTimer::timeout);
    later.start();
    return fired.wait();
}

}  // namespace

// The window opens on the About page; the store is read once it is painted.
void TestMainWindow::listsFillAfterTheFirstPaint() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    QVERIFY(settings::AddServer(QStringLiteral("Two.App")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    settings::defaultStore().close();
    QVERIFY(!FirstPaint::storeIsOpen());

    m_window = new frmServerReg;
    FirstPaint first(m_window, *m_messages);
    QSignalSpy loaded(m_window.data(), &frmServerReg::listsLoaded);
    QVERIFY(!m_window->listsAreLoaded());
    m_window->show();
    QVERIFY(loaded.wait());
    QVERIFY(first.seen);
    QVERIFY(!first.loadedInFirstFrame);
    QVERIFY(!first.storeOpen);
    QCOMPARE(first.servers, 0);
    QCOMPARE(first.machines, 0);
    QCOMPARE(first.title, QStringLiteral("TALVO - Corvane - v1.0.3"));

    QVERIFY(m_window->listsAreLoaded());
    QCOMPARE(control<common::SimpleCombo>(m_window, "cboServers")->count(), 2);
    QCOMPARE(control<QListWidget>(m_window, "lstMachines")->count(), 1);
    QVERIFY(!control<QPushButton>(m_window, "cmdRemServer")->isEnabled());
    QVERIFY(!control<QPushButton>(m_window, "cmdRemMachine")->isEnabled());
    // Later paints do not load them again.
    control<QTabWidget>(m_window, "tabClassReg")->setCurrentIndex(0);
    m_window->repaint();
    QVERIFY(nextTurn());
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(m_messages->count(), 0);
}

void TestMainWindow::unreadableStoreIsToldOnceTheWindowIsUp() {
    const QString path = settings::Store::defaultPath();
    QVERIFY(QDir().mkpath(QFileInfo(path).absolutePath()));
    {
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray("not a database at all\n").repeated(100));
    }
    m_window = new frmServerReg;
    FirstPaint first(m_window, *m_messages);
    QSignalSpy loaded(m_window.data(), &frmServerReg::listsLoaded);
    m_window->show();
    QVERIFY(loaded.wait());
    QCOMPARE(first.messages, 0);
    // One message for both lists, with the file and the reason.
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
    QVERIFY(m_messages->last().text.contains(path));
    QVERIFY(m_messages->last().text.contains(QStringLiteral("not a database")));
    QVERIFY(m_window->isVisible());
    QCOMPARE(control<common::SimpleCombo>(m_window, "cboServers")->count(), 0);
    QCOMPARE(control<QListWidget>(m_window, "lstMachines")->count(), 0);
}

// Add refreshes only the server list: given before the lists were loaded (by
// a test, or before the window was painted), it must not leave the machines
// list empty.
void TestMainWindow::commandBeforeTheListsLoadsThemFirst() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostB")));
    m_window = new frmServerReg;
    QSignalSpy loaded(m_window.data(), &frmServerReg::listsLoaded);
    QVERIFY(!m_window->listsAreLoaded());

    ModalSteps wizard("frmServerWizard", [](QWidget* dialog) {
        QTest::mouseClick(control<QPushButton>(dialog, "cmdCancel"), Qt::LeftButton);
    });
    control<QPushButton>(m_window, "cmdAdd")->click();
    QVERIFY(wizard.ran());
    QVERIFY(m_window->listsAreLoaded());
    QCOMPARE(loaded.count(), 1);
    auto* combo = control<common::SimpleCombo>(m_window, "cboServers");
    QCOMPARE(combo->count(), 1);
    QCOMPARE(control<QListWidget>(m_window, "lstMachines")->count(), 2);

    // Painted afterwards, the window does not load them again.
    combo->setText(QStringLiteral("Typed.After"));
    m_window->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_window));
    m_window->repaint();
    QVERIFY(nextTurn());
    QCOMPARE(loaded.count(), 1);
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->text(), QStringLiteral("Typed.After"));
    QCOMPARE(m_messages->count(), 0);
}

// The user types a name and presses Properties as soon as the window shows,
// before the load queued by its first paint has run.
void TestMainWindow::commandRightAfterTheFirstPaint() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    m_window = new frmServerReg;
    QSignalSpy loaded(m_window.data(), &frmServerReg::listsLoaded);
    FirstPaint first(m_window, *m_messages, [this] {
        control<common::SimpleCombo>(m_window, "cboServers")->setText(QStringLiteral("Fast.App"));
        control<QPushButton>(m_window, "cmdProp")->click();
    });
    m_window->show();
    QVERIFY(loaded.wait());
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Server has not been registered"));
    // The load the first paint started, run after the command, finds the
    // lists loaded.
    QVERIFY(nextTurn());
    QCOMPARE(loaded.count(), 1);
    auto* combo = control<common::SimpleCombo>(m_window, "cboServers");
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->text(), QStringLiteral("Fast.App"));
}

void TestMainWindow::aboutPage() {
    frmServerReg* w = open();
    auto* tabs = control<QTabWidget>(w, "tabClassReg");
    for (int round = 0; round < 3; ++round) {
        tabs->setCurrentIndex(round % 3);
        tabs->setCurrentIndex(2);
        QCOMPARE(control<QLabel>(w, "lblTitle")->text(),
                 QStringLiteral("TALVO - Corvane - v1.0.3"));
        QVERIFY(!control<QLabel>(w, "lblCopyright")->text().isEmpty());
        QCOMPARE(control<QLabel>(w, "lblComments")->text(),
                 QStringLiteral("TALVO is a utility designed to easily register your Business "
                                "Servers locally or remotely.  It includes a wizard to aid in the "
                                "registration of servers.  The wizard option is limited in this "
                                "release and will be extended."));
    }
    QVERIFY(control<QLabel>(w, "lblTitle")->isVisible());
}

void TestMainWindow::removeButtonFollowsSelectionAndText() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    QVERIFY(settings::AddServer(QStringLiteral("Two.App")));
    frmServerReg* w = open(0);
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    auto* remove = control<QPushButton>(w, "cmdRemServer");
    QListWidget* list = combo->listWidget();
    clickEntry(list, 1);
    QVERIFY(remove->isEnabled());
    // Editing a picked entry keeps Remove enabled ...
    QTest::keyClick(combo->lineEdit(), Qt::Key_End);
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("x"));
    QVERIFY(remove->isEnabled());
    // ... blanks only disable it.
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("   "));
    QVERIFY(!remove->isEnabled());
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("Two.App"));
    QVERIFY(!remove->isEnabled());
}

void TestMainWindow::removeServerAsksAndForgets() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    QVERIFY(settings::AddServer(QStringLiteral("Two.App")));
    frmServerReg* w = open(0);
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    auto* remove = control<QPushButton>(w, "cmdRemServer");
    QListWidget* list = combo->listWidget();
    clickEntry(list, 0);
    combo->setText(QStringLiteral("  One.App  "));
    m_messages->setNextAnswer(app::kAnswerYes);
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove One.App?"));
    QCOMPARE(m_messages->last().flags, int(app::kYesNoQuestion));
    QCOMPARE(m_messages->last().title, QStringLiteral("Corvane"));
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("Two.App")});
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->itemText(0), QStringLiteral("Two.App"));
    QVERIFY(!remove->isEnabled());
}

void TestMainWindow::removeServerAnsweredNoChangesNothing() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    frmServerReg* w = open(0);
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QListWidget* list = combo->listWidget();
    clickEntry(list, 0);
    m_messages->setNextAnswer(app::kAnswerNo);
    QTest::mouseClick(control<QPushButton>(w, "cmdRemServer"), Qt::LeftButton);
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(settings::Servers().value(), QStringList{QStringLiteral("One.App")});
    QCOMPARE(combo->count(), 1);
    QCOMPARE(combo->currentIndex(), 0);
    QVERIFY(control<QPushButton>(w, "cmdRemServer")->isEnabled());
}

void TestMainWindow::removeServerOfUnlistedName() {
    QVERIFY(settings::AddServer(QStringLiteral("One.App")));
    QVERIFY(settings::AddServer(QStringLiteral("Typed.App")));
    frmServerReg* w = open(0);
    auto* combo = control<common::SimpleCombo>(w, "cboServers");
    QListWidget* list = combo->listWidget();
    // Pick an entry, then type another name: the typed name's key goes and no
    // entry is removed from the list unless the typed name is the one selected.
    clickEntry(list, 0);
    combo->lineEdit()->selectAll();
    QTest::keyClicks(combo->lineEdit(), QStringLiteral("Nowhere.App"));
    QVERIFY(control<QPushButton>(w, "cmdRemServer")->isEnabled());
    m_messages->setNextAnswer(app::kAnswerYes);
    QTest::mouseClick(control<QPushButton>(w, "cmdRemServer"), Qt::LeftButton);
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove Nowhere.App?"));
    QCOMPARE(combo->count(), 2);
    QCOMPARE(settings::Servers().value().size(), 2);
}

void TestMainWindow::removeQuestionsShowNamesAsTyped() {
    const QString server = QStringLiteral("Remove <b>my</b>host & Co");
    const QString machine = QStringLiteral("<i>far</i>.host");
    QVERIFY(settings::AddServer(server));
    QVERIFY(settings::AddMachine(machine));
    frmServerReg* w = open(0);
    clickEntry(control<common::SimpleCombo>(w, "cboServers")->listWidget(), 0);
    ShownMessageBox box = messageBoxShownBy(
        [w] { control<QPushButton>(w, "cmdRemServer")->click(); }, QMessageBox::No);
    QCOMPARE(box.text, "Remove " + server + "?");
    QVERIFY(box.literal);

    control<QTabWidget>(w, "tabClassReg")->setCurrentIndex(1);
    clickEntry(control<QListWidget>(w, "lstMachines"), 0);
    box = messageBoxShownBy([w] { control<QPushButton>(w, "cmdRemMachine")->click(); },
                            QMessageBox::No);
    QCOMPARE(box.text, "Remove " + machine + "?");
    QVERIFY(box.literal);
    QCOMPARE(settings::Servers().value(), QStringList{server});
    QCOMPARE(settings::Machines().value(), QStringList{machine});
}

void TestMainWindow::machinesPageListsAndRemoves() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostB")));
    frmServerReg* w = open(1);
    auto* list = control<QListWidget>(w, "lstMachines");
    auto* remove = control<QPushButton>(w, "cmdRemMachine");
    QVERIFY(!remove->isEnabled());
    clickEntry(list, 1);
    QVERIFY(remove->isEnabled());

    m_messages->setNextAnswer(app::kAnswerNo);
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove hostB?"));
    QCOMPARE(m_messages->last().flags, int(app::kYesNoQuestion));
    QCOMPARE(m_messages->last().title, QStringLiteral("Corvane"));
    QCOMPARE(list->count(), 2);
    QCOMPARE(settings::Machines().value().size(), 2);
    QVERIFY(remove->isEnabled());

    m_messages->setNextAnswer(app::kAnswerYes);
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("hostA")});
    QCOMPARE(list->count(), 1);
    QVERIFY(!remove->isEnabled());
}

void TestMainWindow::removeMachineRecordedWithBlanks() {
    QVERIFY(settings::AddMachine(QStringLiteral(" spaced host ")));
    frmServerReg* w = open(1);
    auto* list = control<QListWidget>(w, "lstMachines");
    QCOMPARE(list->item(0)->text(), QStringLiteral(" spaced host "));
    clickEntry(list, 0);
    m_messages->setNextAnswer(app::kAnswerYes);
    QTest::mouseClick(control<QPushButton>(w, "cmdRemMachine"), Qt::LeftButton);
    QCOMPARE(m_messages->last().text, QStringLiteral("Remove spaced host?"));
    QVERIFY(settings::Machines().value().isEmpty());
    QCOMPARE(list->count(), 0);
}

void TestMainWindow::removeMachineWithoutSelectionDoesNothing() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    frmServerReg* w = open(1);
    auto* list = control<QListWidget>(w, "lstMachines");
    auto* remove = control<QPushButton>(w, "cmdRemMachine");
    clickEntry(list, 0);
    QVERIFY(remove->isEnabled());
    // A refill (as after the properties dialog) leaves the button as it was
    // and nothing selected; Remove then does nothing at all.
    list->clearSelection();
    list->setCurrentRow(-1, QItemSelectionModel::Clear);
    remove->setEnabled(true);
    QTest::mouseClick(remove, Qt::LeftButton);
    QCOMPARE(m_messages->count(), 0);
    QCOMPARE(settings::Machines().value().size(), 1);
}

void TestMainWindow::enterInServerComboCloses() {
    frmServerReg* w = open(0);
    auto* edit = control<common::SimpleCombo>(w, "cboServers")->lineEdit();
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("Server.Application"));
    QTest::keyClick(edit, Qt::Key_Return);
    QTRY_VERIFY(m_window.isNull());
}

void TestMainWindow::escapeDoesNothing() {
    frmServerReg* w = open();
    QTest::keyClick(w, Qt::Key_Escape);
    QCoreApplication::processEvents();
    QVERIFY(!m_window.isNull());
    QVERIFY(w->isVisible());
}

void TestMainWindow::closeEndsTheProgramWithTheLastWindow() {
    frmServerReg* w = open();
    QVERIFY(QGuiApplication::quitOnLastWindowClosed());
    bool timedOut = false;
    QTimer::singleShot(0, w, [w] { control<QPushButton>(w, "cmdClose")->click(); });
    QTimer::singleShot(10000, qApp, [&timedOut] {
        timedOut = true;
        QCoreApplication::exit(1);
    });
    // The event loop ends by itself once the window has closed.
    QCOMPARE(QApplication::exec(), 0);
    QVERIFY(!timedOut);
    QVERIFY(m_window.isNull());
}

QTEST_MAIN(TestMainWindow)
#include "test_mainwindow.moc"
