// The new-server wizard: layout, pages, keys, the checks on Next, the file
// dialog, and Finish starting the real Server.exe.
#include "app/messages.h"
#include "modalsteps.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/filedialog.h"
#include "ui/main/frmServerReg.h"
#include "ui/wizard/frmServerWizard.h"
#include "windowtest.h"

#include <automation/classstore.h>
#include <automation/serverkit.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QProcess>
#include <QPushButton>
#include <QtTest>

#include <unistd.h>
#include <cmath>

namespace {

const QString kClass = QStringLiteral("Server.Application");
const QString kBlank = QStringLiteral("Server file must be entered");
const QString kNotExe = QStringLiteral("This version only registers .EXE servers");
const QString kRegistered =
    QStringLiteral("Server is already registered, use properties to change settings");
const QString kServerHeading =
    QStringLiteral("&Enter the .EXE, .DLL or .VBR of the Server to register:");

void writeFile(const QString& path, const QByteArray& content = "x", bool executable = false) {
    QDir().mkpath(QFileInfo(path).path());
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(content);
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner |
                                (executable ? QFile::ExeOwner : QFile::Permissions())));
}

void copyServer(const QString& to) {
    QDir().mkpath(QFileInfo(to).path());
    QVERIFY(QFile::copy(QStringLiteral(SERVER_EXE), to));
}

// The server the class registration names, empty while it is not registered.
QString registeredServer() {
    automation::ClassRecord record;
    if (!automation::ClassStore().find(kClass, &record).ok())
        return {};
    return record.server;
}

}  // namespace

class TestWizard : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void layoutMatchesTheDesign();
    void wizardPicture();
    void placedFromTheMainWindowAndClosedByEscapeWhenModal();
    void tabOrderAndAccessKeys();
    void pagesAndBack();
    void enterAndEscape();
    void checksOnNext_data();
    void checksOnNext();
    void designPathIsTheFileInTheCurrentDirectory();
    void pathsInMessagesShownAsTyped();
    void alreadyRegisteredIsRefused();
    void unreadableRegistrationIsReported();
    void browse();
    void finishRegistersTheServer_data();
    void finishRegistersTheServer();
    void failedStartKeepsTheSummary_data();
    void failedStartKeepsTheSummary();

private:
    frmServerWizard* open();
    void typePath(const QString& text);
    void clickNext();
    bool onSummaryPage() const;

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    std::unique_ptr<QTemporaryDir> m_dir;
    QPointer<frmServerWizard> m_window;
    QString m_cwd;
};

void TestWizard::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
    m_dir = std::make_unique<QTemporaryDir>();
    m_cwd = QDir::currentPath();
}

void TestWizard::cleanup() {
    const bool strayModal = rejectModalsLeftOpen() > 0;
    delete m_window;
    // Deleting a main window deletes its own top-level children (its menus)
    // too, so each is looked at only while it still exists.
    QList<QPointer<QWidget>> windows;
    for (QWidget* window : QApplication::topLevelWidgets())
        windows.append(window);
    for (const QPointer<QWidget>& window : windows) {
        if (qobject_cast<frmServerReg*>(window.data()))
            delete window.data();
    }
    common::resetFileDialogHook();
    QDir::setCurrent(m_cwd);
    m_dir.reset();
    m_messages.reset();
    m_env.reset();
    QVERIFY2(!strayModal, "a modal dialog was left open");
}

frmServerWizard* TestWizard::open() {
    m_window = new frmServerWizard;
    m_window->show();
    if (!QTest::qWaitForWindowExposed(m_window))
        qFatal("wizard not shown");
    QApplication::setActiveWindow(m_window);
    return m_window;
}

void TestWizard::typePath(const QString& text) {
    auto* path = control<QLineEdit>(m_window, "txtServer");
    path->setFocus();
    path->selectAll();
    QTest::keyClick(path, Qt::Key_Delete);
    QTest::keyClicks(path, text);
    QCOMPARE(path->text(), text);
}

void TestWizard::clickNext() {
    QTest::mouseClick(control<QPushButton>(m_window, "cmdNext"), Qt::LeftButton);
}

bool TestWizard::onSummaryPage() const {
    return control(m_window, "lblFinish")->isVisible() &&
           !control(m_window, "txtServer")->isVisible() &&
           control<QPushButton>(m_window, "cmdNext")->text() == QLatin1String("Finish");
}

void TestWizard::layoutMatchesTheDesign() {
    frmServerWizard* w = open();
    QCOMPARE(w->windowTitle(), QStringLiteral("Register New Server"));
    QCOMPARE(w->size(), QSize(433, 296));
    QCOMPARE(w->minimumSize(), w->maximumSize());
    // No control box: no system menu, no close box, no other title-bar button.
    QCOMPARE(w->windowFlags(), Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    QCOMPARE(w->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w->font().pointSizeF(), 8.25);
    QCOMPARE(control(w, "lblFinish")->font(), w->font());

    const QList<Placement> layout = {
        {"txtServer", nullptr, twips(2250, 450, 3990, 315)},
        {"cboMachine", nullptr, twips(2250, 825, 2865, 330)},
        {"chkRemote", nullptr, twips(2250, 1125, 3690, 315)},
        {"cboProtocol", nullptr, twips(2250, 1500, 2865, 330)},
        {"cboALevel", nullptr, twips(2250, 2250, 2865, 330)},
        {"cmdBack", nullptr, twips(2850, 3975, 1140, 315)},
        {"cmdNext", nullptr, twips(3975, 3975, 1140, 315)},
        {"cmdCancel", nullptr, twips(5250, 3975, 1140, 315)},
        {"fraLine", nullptr, twips(150, 3675, 6240, 90)},
        {"picWizImage", nullptr, twips(150, 150, 1890, 3390)},
        {"lblHeading", nullptr, twips(2250, 150, 4140, 240)},
        {"lblMachine", nullptr, twips(2250, 525, 1215, 240)},
        {"lblProtocol", nullptr, twips(2250, 1200, 1215, 315)},
        {"lblALevel", nullptr, twips(2250, 1950, 2265, 240)},
        {"lblServerName", nullptr, twips(2250, 450, 3990, 315)},
        {"lblFinish", nullptr, twips(2250, 1200, 4140, 1215)},
        {"cmdBrowse", nullptr, twips(5925, 480, 280, 270)},
        {"txtClass", nullptr, twips(2250, 450, 3990, 315)},
    };
    const QStringList wrong = misplaced(w, layout);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));
    QCOMPARE(control(w, "cmdBrowse")->geometry(), QRect(395, 32, 19, 18));

    const QList<std::pair<const char*, QString>> texts = {
        {"txtServer", "Server.exe"},
        {"txtClass", kClass},
        {"chkRemote", "Configure for Remote Automation?"},
        {"cmdBack", "< &Back"},
        {"cmdNext", "&Next >"},
        {"cmdCancel", "Cancel"},
        {"cmdBrowse", "..."},
        {"lblMachine", "&Machine Name:"},
        {"lblProtocol", "&Protocol:"},
        {"lblALevel", "&Authentication Level"},
    };
    for (const auto& [name, text] : texts)
        QCOMPARE(control(w, name)->property("text").toString(), text);
    QVERIFY(!control<QCheckBox>(w, "chkRemote")->isChecked());
    QVERIFY(control<QComboBox>(w, "cboMachine")->isEditable());
    QVERIFY(!control<QComboBox>(w, "cboProtocol")->isEditable());
    QVERIFY(!control<QComboBox>(w, "cboALevel")->isEditable());
    QVERIFY(control<QPushButton>(w, "cmdNext")->isDefault());
    QCOMPARE(control<QFrame>(w, "fraLine")->frameShape(), QFrame::HLine);
    QVERIFY(control<QLabel>(w, "lblFinish")->wordWrap());

    // "..." lies in front of the right end of the path box and takes clicks
    // there; left of it the path box does, and typed text stops short of it.
    QWidget* browse = control(w, "cmdBrowse");
    auto* path = control<QLineEdit>(w, "txtServer");
    QCOMPARE(w->childAt(browse->geometry().center()), browse);
    QCOMPARE(w->childAt(path->geometry().left() + 40, path->geometry().center().y()),
             static_cast<QWidget*>(path));
    path->setText(QString(80, QLatin1Char('W')));
    path->setCursorPosition(80);
    path->repaint();  // the line edit scrolls its text when it paints
    QVERIFY(path->inputMethodQuery(Qt::ImCursorRectangle).toRect().center().x() <
            browse->geometry().left() - path->geometry().left());
}

void TestWizard::wizardPicture() {
    const QImage picture(QStringLiteral(":/wizard.png"));
    QCOMPARE(picture.size(), QSize(139, 200));
    QCOMPARE(picture.format(), QImage::Format_Indexed8);
    QCOMPARE(picture.colorCount(), 256);
    QHash<QRgb, int> used;
    for (int y = 0; y < picture.height(); ++y)
        for (int x = 0; x < picture.width(); ++x)
            ++used[picture.pixel(x, y)];
    // Grey ground, wheels in red, green, olive, purple and teal.
    QCOMPARE(QColor(picture.pixel(0, 0)), QColor(128, 128, 128));
    for (const QColor& colour : {QColor(255, 0, 0), QColor(0, 128, 0), QColor(128, 128, 0),
                                 QColor(128, 0, 128), QColor(0, 128, 128)})
        QVERIFY2(used.value(colour.rgb()) > 300, qPrintable(colour.name()));

    // Shown unscaled from the top-left corner of the picture box.
    auto* box = control<QLabel>(open(), "picWizImage");
    const QImage shown = box->grab().toImage();
    for (const QPoint& at :
         {QPoint(0, 0), QPoint(46, 48), QPoint(100, 70), QPoint(60, 190), QPoint(125, 199)})
        QCOMPARE(QColor(shown.pixel(at)), QColor(picture.pixel(at)));
}

void TestWizard::placedFromTheMainWindowAndClosedByEscapeWhenModal() {
    auto* main = new frmServerReg;
    main->show();
    QVERIFY(QTest::qWaitForWindowExposed(main));
    main->move(60, 90);
    // As the main window's Add does it.
    auto* wizard = new frmServerWizard(main);
    m_window = wizard;
    // 400 twips right of and 800 below the main window's corner.
    QCOMPARE(wizard->pos(), QPoint(60 + 27, 90 + 53));
    bool shown = false;
    ModalSteps escape("frmServerWizard", [&](QWidget* dialog) {
        shown = QApplication::activeModalWidget() == wizard && dialog == wizard;
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    });
    wizard->exec();
    QVERIFY(escape.ran());
    QVERIFY(shown);
    QTRY_VERIFY(m_window.isNull());
    QCOMPARE(m_messages->count(), 0);
}

void TestWizard::tabOrderAndAccessKeys() {
    QVERIFY(QDir::setCurrent(m_dir->path()));  // no Server.exe here
    frmServerWizard* w = open();
    // The focus chain runs through the ten controls in their design order.
    const QStringList order = {"txtServer", "cboMachine", "chkRemote", "cboProtocol", "cboALevel",
                               "cmdBack",   "cmdNext",    "cmdCancel", "cmdBrowse",   "txtClass"};
    QStringList chain;
    QWidget* at = control(w, "txtServer");
    do {
        if (order.contains(at->objectName()))
            chain << at->objectName();
        at = at->nextInFocusChain();
    } while (at != control(w, "txtServer"));
    QCOMPARE(chain, order);

    // On the server page Tab visits what is shown and enabled.
    QTRY_VERIFY(control(w, "txtServer")->hasFocus());
    for (const char* name : {"cmdNext", "cmdCancel", "cmdBrowse", "txtServer"}) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QString::fromLatin1(name));
    }

    QCOMPARE(control<QPushButton>(w, "cmdBack")->shortcut(), QKeySequence(Qt::ALT | Qt::Key_B));
    // Alt+N runs Next: the missing Server.exe is reported.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_N, Qt::AltModifier);
    QTRY_COMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Server.exe was not found"));

    // The heading's access key moves the focus to the next control in tab
    // order, "...", without pressing it.
    // A click by access key would press the button at once and release it
    // later; it is not even pressed. (Were it clicked, the hook would answer
    // instead of a file dialog.)
    common::setNextFileName(QStringLiteral("/chosen.exe"));
    auto* browse = control<QPushButton>(w, "cmdBrowse");
    QSignalSpy pressed(browse, &QAbstractButton::pressed);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_E, Qt::AltModifier);
    QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(browse));
    QCOMPARE(pressed.size(), 0);
    QVERIFY(!browse->isDown());
    QCOMPARE(control<QLineEdit>(w, "txtServer")->text(), QStringLiteral("Server.exe"));
}

void TestWizard::pagesAndBack() {
    // A file whose name has blanks in front, relative to the current
    // directory: the summary shows the text exactly as typed.
    const QString typed = QStringLiteral("  two  blanks.exe");
    writeFile(m_dir->filePath(typed));
    QVERIFY(QDir::setCurrent(m_dir->path()));
    frmServerWizard* w = open();
    auto* path = control<QLineEdit>(w, "txtServer");
    const auto shown = [w](const char* name) { return control(w, name)->isVisible(); };
    const QList<const char*> remote = {"txtClass",    "chkRemote",   "lblMachine", "cboMachine",
                                       "lblProtocol", "cboProtocol", "lblALevel",  "cboALevel"};

    // Server page, as opened: the path box has the focus and all its text
    // selected, so that the first key typed replaces it.
    QCOMPARE(control<QLabel>(w, "lblHeading")->text(), kServerHeading);
    QVERIFY(shown("txtServer") && shown("cmdBrowse"));
    QVERIFY(!shown("lblServerName") && !shown("lblFinish"));
    for (const char* name : remote)
        QVERIFY2(!shown(name), name);
    QVERIFY(!control(w, "cmdBack")->isEnabled());
    QCOMPARE(control<QComboBox>(w, "cboProtocol")->count(), 9);
    QCOMPARE(control<QComboBox>(w, "cboALevel")->count(), 8);
    QTRY_VERIFY(path->hasFocus());
    QCOMPARE(path->selectedText(), QStringLiteral("Server.exe"));
    QTest::keyClick(path, Qt::Key_Q);
    QCOMPARE(path->text(), QStringLiteral("q"));

    typePath(typed);
    clickNext();
    QCOMPARE(m_messages->count(), 0);
    QVERIFY(onSummaryPage());
    QCOMPARE(control<QLabel>(w, "lblHeading")->text(),
             QStringLiteral("You have successfully added a new Server called:"));
    QVERIFY(shown("lblServerName"));
    QCOMPARE(control<QLabel>(w, "lblServerName")->text(), typed);
    QCOMPARE(control<QLabel>(w, "lblFinish")->text(),
             QStringLiteral("Click Finish to register the classes in this Server.\n\nTo edit the "
                            "classes later, run TALVO, enter the class name and click "
                            "Properties."));
    QVERIFY(!shown("cmdBrowse"));
    for (const char* name : remote)
        QVERIFY2(!shown(name), name);
    for (const char* name : {"picWizImage", "fraLine", "cmdBack", "cmdNext", "cmdCancel"})
        QVERIFY2(shown(name), name);
    QVERIFY(control(w, "cmdBack")->isEnabled());
    QCOMPARE(QApplication::focusWidget(), control(w, "cmdNext"));

    // Back: the server page with the checked text, selected in the path box.
    QTest::mouseClick(control<QPushButton>(w, "cmdBack"), Qt::LeftButton);
    QVERIFY(!onSummaryPage());
    QCOMPARE(control<QLabel>(w, "lblHeading")->text(), kServerHeading);
    QVERIFY(!shown("lblServerName") && !shown("lblFinish"));
    QVERIFY(!control(w, "cmdBack")->isEnabled());
    QCOMPARE(control<QPushButton>(w, "cmdNext")->text(), QStringLiteral("&Next >"));
    QCOMPARE(path->text(), typed);
    QVERIFY(path->hasFocus());
    QCOMPARE(path->selectedText(), typed);
    QCOMPARE(m_messages->count(), 0);
}

void TestWizard::enterAndEscape() {
    // The path names a program that adds a line to a marker file each time
    // it is started.
    const QString marker = m_dir->filePath(QStringLiteral("started"));
    const QString program = m_dir->filePath(QStringLiteral("marker.exe"));
    writeFile(program, "#!/bin/sh\necho started >> '" + QFile::encodeName(marker) + "'\n", true);
    const auto enter = [] { QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return); };

    // Enter on the server page is Next, with its checks.
    frmServerWizard* w = open();
    typePath(QStringLiteral("nothing.dll"));
    enter();
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, kNotExe);
    typePath(program);
    enter();
    QVERIFY(onSummaryPage());
    // Enter on Back is Back.
    control(w, "cmdBack")->setFocus();
    enter();
    QVERIFY(!onSummaryPage());
    enter();
    QVERIFY(onSummaryPage());
    // Escape on the summary page cancels: the wizard closes without starting
    // anything.
    QSignalSpy closed(w, &QDialog::finished);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
    QCOMPARE(closed.size(), 1);
    QCOMPARE(closed.first().first().toInt(), int(QDialog::Rejected));
    QTRY_VERIFY(m_window.isNull());

    // Enter on the summary page is Finish: the program runs, the wizard closes.
    open();
    typePath(program);
    enter();
    enter();
    QTRY_VERIFY(m_window.isNull());
    // The shell makes the file before it writes the line: wait for the line.
    const auto startedLines = [&marker] {
        QFile started(marker);
        return started.open(QIODevice::ReadOnly) ? started.readAll() : QByteArray();
    };
    QTRY_VERIFY_WITH_TIMEOUT(startedLines().endsWith('\n'), 30000);
    QCOMPARE(m_messages->count(), 1);
    // Started by Finish alone, the program has run once, not twice.
    QCOMPARE(startedLines(), QByteArray("started\n"));
}

void TestWizard::checksOnNext_data() {
    QTest::addColumn<QString>("typed");    // %1 stands for the temporary directory
    QTest::addColumn<QString>("exists");   // a file made before Next, empty for none
    QTest::addColumn<QString>("message");  // empty when the page is accepted
    QTest::addColumn<QString>("title");

    const QString app = app::kAppTitle;
    QTest::newRow("empty") << ""
                           << "" << kBlank << app::kShortTitle;
    QTest::newRow("blanks only") << "     "
                                 << "" << kBlank << app::kShortTitle;
    QTest::newRow("upper-case EXE") << "%1/SERVER.EXE"
                                    << "SERVER.EXE"
                                    << ""
                                    << "";
    QTest::newRow("dll") << "%1/server.dll"
                         << "server.dll" << kNotExe << app;
    QTest::newRow("DLL") << "%1/server.DLL"
                         << "server.DLL" << kNotExe << app;
    QTest::newRow("vbr") << "%1/server.vbr"
                         << "server.vbr" << kNotExe << app;
    QTest::newRow("shorter than three") << "ex"
                                        << "" << kNotExe << app;
    QTest::newRow("trailing blank") << "%1/server.exe "
                                    << "server.exe" << kNotExe << app;
    QTest::newRow("myexe missing") << "%1/myexe"
                                   << ""
                                   << "%1/myexe was not found" << app;
    QTest::newRow("myexe present") << "%1/myexe"
                                   << "myexe"
                                   << ""
                                   << "";
    QTest::newRow("missing, trimmed in the message") << "   %1/gone.exe"
                                                     << ""
                                                     << "%1/gone.exe was not found" << app;
    QTest::newRow("folder") << "%1/folder.exe"
                            << "folder.exe/inside"
                            << "%1/folder.exe was not found" << app;
    QTest::newRow("backslash and colon") << "%1/a\\b:c.exe"
                                         << "a\\b:c.exe"
                                         << ""
                                         << "";
}

void TestWizard::checksOnNext() {
    QFETCH(QString, typed);
    QFETCH(QString, exists);
    QFETCH(QString, message);
    QFETCH(QString, title);
    if (!exists.isEmpty())
        writeFile(m_dir->filePath(exists));
    typed.replace(QLatin1String("%1"), m_dir->path());
    message.replace(QLatin1String("%1"), m_dir->path());

    frmServerWizard* w = open();
    typePath(typed);
    clickNext();
    if (message.isEmpty()) {
        QCOMPARE(m_messages->count(), 0);
        QVERIFY(onSummaryPage());
        return;
    }
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, message);
    QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
    QCOMPARE(m_messages->last().title, title);
    QVERIFY(!onSummaryPage());
    auto* path = control<QLineEdit>(w, "txtServer");
    QCOMPARE(path->text(), typed);
    QVERIFY(path->hasFocus());
    // The next Next runs the checks again from the start.
    clickNext();
    QCOMPARE(m_messages->count(), 2);
    QCOMPARE(m_messages->last().text, message);
}

void TestWizard::designPathIsTheFileInTheCurrentDirectory() {
    QVERIFY(QDir::setCurrent(m_dir->path()));
    frmServerWizard* w = open();
    clickNext();
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, QStringLiteral("Server.exe was not found"));

    const QString server = m_dir->filePath(QStringLiteral("Server.exe"));
    copyServer(server);
    clickNext();
    QVERIFY(onSummaryPage());
    QCOMPARE(control<QLabel>(w, "lblServerName")->text(), QStringLiteral("Server.exe"));
    clickNext();
    QTRY_VERIFY(m_window.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(registeredServer(), QFileInfo(server).canonicalFilePath(), 30000);
    QCOMPARE(m_messages->count(), 1);
}

void TestWizard::pathsInMessagesShownAsTyped() {
    const QString path = m_dir->filePath(QStringLiteral("<i>gone</i> & <b>lost</b>.exe"));
    open();
    typePath(path);
    const ShownMessageBox box = messageBoxShownBy([this] { clickNext(); }, QMessageBox::Ok);
    QCOMPARE(box.text, path + " was not found");
    QVERIFY(box.literal);
    QVERIFY(!onSummaryPage());

    // The summary page shows the path as typed too.
    writeFile(path);
    clickNext();
    QVERIFY(onSummaryPage());
    auto* name = control<QLabel>(m_window, "lblServerName");
    QCOMPARE(name->text(), path);
    QVERIFY(drawsLiterally(name));
}

void TestWizard::alreadyRegisteredIsRefused() {
    // Two copies of the sample server; the first registers its class.
    const QString first = m_dir->filePath(QStringLiteral("First.exe"));
    const QString second = m_dir->filePath(QStringLiteral("Second.exe"));
    copyServer(first);
    copyServer(second);
    QProcess registering;
    registering.start(first);
    QVERIFY(registering.waitForFinished(30000));
    QCOMPARE(registering.exitCode(), 0);
    QCOMPARE(registeredServer(), QFileInfo(first).canonicalFilePath());

    // The copy no class names is new, although it serves the same class.
    frmServerWizard* w = open();
    typePath(second);
    clickNext();
    QCOMPARE(m_messages->count(), 0);
    QVERIFY(onSummaryPage());
    QTest::mouseClick(control<QPushButton>(w, "cmdBack"), Qt::LeftButton);

    // The registered file is refused by any path that leads to it.
    const QString symlink = m_dir->filePath(QStringLiteral("links/Linked.exe"));
    QVERIFY(QDir().mkpath(QFileInfo(symlink).path()));
    QVERIFY(QFile::link(first, symlink));
    const QString hardLink = m_dir->filePath(QStringLiteral("links/Hard.exe"));
    QCOMPARE(::link(QFile::encodeName(first).constData(), QFile::encodeName(hardLink).constData()),
             0);
    QVERIFY(QDir::setCurrent(m_dir->filePath(QStringLiteral("links"))));
    for (const QString& path : {first, symlink, hardLink, QStringLiteral("../First.exe")}) {
        m_messages->clear();
        typePath(path);
        clickNext();
        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().text, kRegistered);
        QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
        QCOMPARE(m_messages->last().title, app::kAppTitle);
        QVERIFY2(!onSummaryPage(), qPrintable(path));
        // The class box stays hidden; the focus is on the path box.
        QVERIFY(!control(w, "txtClass")->isVisible());
        QVERIFY(control(w, "txtServer")->hasFocus());
    }

    // Once no class names it, the same file is accepted.
    QVERIFY(automation::unregisterClass(kClass));
    clickNext();
    QCOMPARE(m_messages->count(), 1);
    QVERIFY(onSummaryPage());
}

void TestWizard::unreadableRegistrationIsReported() {
    const QString store = automation::ClassStore::defaultPath();
    writeFile(store, QByteArray("not a database at all\n").repeated(100));
    const QString server = m_dir->filePath(QStringLiteral("Server.exe"));
    copyServer(server);
    open();
    typePath(server);
    clickNext();
    // Not taken for "not registered": the user learns why nothing can go on.
    QCOMPARE(m_messages->count(), 1);
    QVERIFY2(m_messages->last().text.startsWith(
                 QStringLiteral("The class registration could not be read: ")),
             qPrintable(m_messages->last().text));
    QVERIFY(m_messages->last().text.contains(store));
    QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
    QVERIFY(!onSummaryPage());
}

void TestWizard::browse() {
    copyServer(m_dir->filePath(QStringLiteral("Server.exe")));
    frmServerWizard* w = open();
    auto* path = control<QLineEdit>(w, "txtServer");
    path->setText(QStringLiteral("  keep me  "));
    const auto clickBrowse = [w] {
        QTest::mouseClick(control<QPushButton>(w, "cmdBrowse"), Qt::LeftButton);
    };

    // Cancelling the dialog leaves the path box as it was.
    QString title, suffix;
    QStringList filters;
    bool existingFile = false;
    ModalSteps cancel("QFileDialog", [&](QWidget* shown) {
        auto* dialog = static_cast<QFileDialog*>(shown);
        title = dialog->windowTitle();
        filters = dialog->nameFilters();
        suffix = dialog->defaultSuffix();
        existingFile = dialog->fileMode() == QFileDialog::ExistingFile &&
                       dialog->acceptMode() == QFileDialog::AcceptOpen;
        dialog->reject();
    });
    clickBrowse();
    QVERIFY(cancel.ran());
    QCOMPARE(title, QStringLiteral("Select Server..."));
    QCOMPARE(filters, (QStringList{"Server (*.exe *.dll)", "VB Reg (*.vbr)"}));
    QCOMPARE(suffix, QStringLiteral("exe"));
    QVERIFY(existingFile);
    QCOMPARE(path->text(), QStringLiteral("  keep me  "));

    // A name typed without its extension gets ".exe"; the full path replaces
    // the whole text.
    ModalSteps choose("QFileDialog", [&](QWidget* shown) {
        auto* dialog = static_cast<QFileDialog*>(shown);
        dialog->setDirectory(m_dir->path());
        auto* name = dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        name->setText(QStringLiteral("Server"));
        QTest::keyClick(name, Qt::Key_Return);
    });
    clickBrowse();
    QVERIFY(choose.ran());
    QCOMPARE(path->text(), m_dir->filePath(QStringLiteral("Server.exe")));

    // The test hook answers without a dialog.
    common::setNextFileName(std::nullopt);
    clickBrowse();
    QCOMPARE(path->text(), m_dir->filePath(QStringLiteral("Server.exe")));
    common::setNextFileName(QStringLiteral("/srv/some where/Server.exe"));
    clickBrowse();
    QCOMPARE(path->text(), QStringLiteral("/srv/some where/Server.exe"));
    QCOMPARE(m_messages->count(), 0);
}

void TestWizard::finishRegistersTheServer_data() {
    QTest::addColumn<QString>("copyTo");  // empty: the built Server.exe itself
    QTest::newRow("built Server.exe") << "";
    QTest::newRow("blanks in the path") << "dir with spaces/My  Server.exe";
}

void TestWizard::finishRegistersTheServer() {
    QFETCH(QString, copyTo);
    QString server = QStringLiteral(SERVER_EXE);
    if (!copyTo.isEmpty()) {
        server = m_dir->filePath(copyTo);
        copyServer(server);
    }
    frmServerWizard* w = open();
    typePath(server);
    clickNext();
    QVERIFY(onSummaryPage());
    clickNext();
    // The wizard closes at once, without waiting for the server.
    QVERIFY(m_window.isNull() || !w->isVisible());
    QTRY_VERIFY(m_window.isNull());
    QTRY_COMPARE_WITH_TIMEOUT(registeredServer(), QFileInfo(server).canonicalFilePath(), 30000);
    QCOMPARE(m_messages->count(), 0);
    // Nothing was recorded: the settings store was not even created.
    QVERIFY(!QFile::exists(settings::Store::defaultPath()));
}

void TestWizard::failedStartKeepsTheSummary_data() {
    QTest::addColumn<bool>("removed");  // after the check
    QTest::addColumn<QString>("reason");
    QTest::newRow("removed after the check") << true << "the file was not found";
    QTest::newRow("not executable") << false << "the file is not marked as executable";
}

void TestWizard::failedStartKeepsTheSummary() {
    QFETCH(bool, removed);
    QFETCH(QString, reason);
    const QString server = m_dir->filePath(QStringLiteral("bad server.exe"));
    writeFile(server, "#!/bin/sh\n", removed);
    frmServerWizard* w = open();
    typePath(server);
    clickNext();
    QVERIFY(onSummaryPage());
    if (removed)
        QVERIFY(QFile::remove(server));
    clickNext();
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(m_messages->last().text, server + " could not be started: " + reason + ".");
    QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
    QCOMPARE(m_messages->last().title, app::kAppTitle);
    QVERIFY(!m_window.isNull() && w->isVisible());
    QVERIFY(onSummaryPage());
    QTest::mouseClick(control<QPushButton>(w, "cmdBack"), Qt::LeftButton);
    QCOMPARE(control<QLineEdit>(w, "txtServer")->text(), server);
}

QTEST_MAIN(TestWizard)
#include "test_wizard.moc"
