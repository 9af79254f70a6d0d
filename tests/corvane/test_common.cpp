// Widgets and routines the windows share: the simple combo box, the tab
// control's page coordinates, list filling, text selection, placement, and
// message boxes with the words for the core's failures.
#include "app/messages.h"
#include "modalsteps.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/fields.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"
#include "ui/common/simplecombo.h"
#include "ui/common/tabcontrol.h"
#include "windowtest.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QtTest>

class TestCommon : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void simpleComboPickAndType();
    void simpleComboKeyboard();
    void simpleComboDoubleClick();
    void tabControlPlacesControlsFromItsCorner();
    void fillProtocolsAndLevels();
    void fillMachinesReplacesItems();
    void selectAllText();
    void placeFormFollowsMainWindow();
    void messageBoxesMapFlags();
    void failuresAreToldInTheirWords_data();
    void failuresAreToldInTheirWords();
    void unreadableSettingsAreToldOnce();
    void layoutFontIsNotSetTwice();

private:
    std::unique_ptr<ScopedXdgEnvironment> m_env;
};

void TestCommon::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
}

void TestCommon::cleanup() {
    m_env.reset();
}

void TestCommon::simpleComboPickAndType() {
    common::SimpleCombo combo;
    combo.resize(200, 150);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    for (const char* name : {"Alpha.One", "Beta.Two", "Gamma.Three"})
        combo.addItem(QString::fromLatin1(name));
    QSignalSpy clicks(&combo, &common::SimpleCombo::itemClicked);
    QListWidget* list = combo.listWidget();
    clickEntry(list, 1);
    QCOMPARE(clicks.size(), 1);
    QCOMPARE(clicks.first().first().toInt(), 1);
    QCOMPARE(combo.text(), QStringLiteral("Beta.Two"));
    QCOMPARE(combo.currentIndex(), 1);
    QVERIFY(combo.lineEdit()->hasFocus());

    // Typing a name that is not listed leaves no entry selected; typing one
    // that is selects it, without a click.
    combo.lineEdit()->selectAll();
    QTest::keyClicks(combo.lineEdit(), QStringLiteral("Other"));
    QCOMPARE(combo.currentIndex(), -1);
    combo.lineEdit()->selectAll();
    QTest::keyClicks(combo.lineEdit(), QStringLiteral("gamma.three"));
    QCOMPARE(combo.currentIndex(), 2);
    QCOMPARE(clicks.size(), 1);

    combo.removeItem(0);
    QCOMPARE(combo.count(), 2);
    QCOMPARE(combo.itemText(0), QStringLiteral("Beta.Two"));
    combo.clear();
    QCOMPARE(combo.count(), 0);
    QVERIFY(combo.text().isEmpty());
    QCOMPARE(combo.currentIndex(), -1);
}

void TestCommon::simpleComboKeyboard() {
    common::SimpleCombo combo;
    combo.resize(200, 150);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    combo.lineEdit()->setFocus();
    QSignalSpy clicks(&combo, &common::SimpleCombo::itemClicked);
    // No entries: the arrows do nothing.
    QTest::keyClick(combo.lineEdit(), Qt::Key_Down);
    QCOMPARE(clicks.size(), 0);
    combo.addItem(QStringLiteral("one"));
    combo.addItem(QStringLiteral("two"));
    QTest::keyClick(combo.lineEdit(), Qt::Key_Down);
    QCOMPARE(combo.text(), QStringLiteral("one"));
    QTest::keyClick(combo.lineEdit(), Qt::Key_Down);
    QTest::keyClick(combo.lineEdit(), Qt::Key_Down);
    QCOMPARE(combo.text(), QStringLiteral("two"));
    QCOMPARE(combo.currentIndex(), 1);
    QTest::keyClick(combo.lineEdit(), Qt::Key_Up);
    QCOMPARE(combo.text(), QStringLiteral("one"));
    QCOMPARE(clicks.size(), 4);
}

void TestCommon::simpleComboDoubleClick() {
    common::SimpleCombo combo;
    combo.resize(200, 150);
    combo.show();
    QVERIFY(QTest::qWaitForWindowExposed(&combo));
    combo.addItem(QStringLiteral("one"));
    QSignalSpy doubles(&combo, &common::SimpleCombo::itemDoubleClicked);
    QListWidget* list = combo.listWidget();
    const QPoint at = list->visualItemRect(list->item(0)).center();
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseDClick(list->viewport(), Qt::LeftButton, {}, at);
    QCOMPARE(doubles.size(), 1);
    QCOMPARE(combo.text(), QStringLiteral("one"));
}

void TestCommon::tabControlPlacesControlsFromItsCorner() {
    QDialog window;
    window.resize(300, 300);
    auto* tabs = new common::TabControl(&window);
    tabs->setGeometry(5, 5, 280, 280);
    auto* first = new QWidget;
    auto* second = new QWidget;
    tabs->addTab(first, QStringLiteral("First"));
    tabs->addTab(second, QStringLiteral("Second"));
    auto* a = new QLabel(QStringLiteral("a"), first);
    a->setGeometry(15, 40, 100, 20);
    auto* b = new QLabel(QStringLiteral("b"), second);
    b->setGeometry(20, 95, 50, 10);
    window.show();
    QVERIFY(QTest::qWaitForWindowExposed(&window));
    QCOMPARE(a->mapTo(tabs, QPoint(0, 0)), QPoint(15, 40));
    QCOMPARE(a->size(), QSize(100, 20));
    tabs->setCurrentIndex(1);
    QCOMPARE(b->mapTo(tabs, QPoint(0, 0)), QPoint(20, 95));
    QCOMPARE(common::TabControl::designGeometry(b), QRect(20, 95, 50, 10));
}

void TestCommon::fillProtocolsAndLevels() {
    QComboBox protocols, levels;
    common::FillProtocols(&protocols);
    common::FillAuthLevels(&levels);
    QCOMPARE(protocols.count(), 9);
    QCOMPARE(levels.count(), 8);
    QCOMPARE(protocols.currentIndex(), 0);
    QCOMPARE(levels.currentIndex(), 0);
    QCOMPARE(protocols.itemText(0), QStringLiteral("[None]"));
    QCOMPARE(protocols.itemText(3), QStringLiteral("Named Pipes"));
    QCOMPARE(protocols.itemText(8), QStringLiteral("Datagrams - UDP"));
    QCOMPARE(levels.itemText(6), QStringLiteral("Packet Integrity"));
    QCOMPARE(levels.itemText(7), QStringLiteral("Packet Privacy"));
}

void TestCommon::fillMachinesReplacesItems() {
    app::MessageRecorder messages;
    QListWidget list;
    QComboBox combo;
    combo.setEditable(true);
    common::FillMachines(&list);
    QCOMPARE(list.count(), 0);
    QVERIFY(settings::AddMachine(QStringLiteral(" spaced ")));
    QVERIFY(settings::AddMachine(QStringLiteral("host2")));
    common::FillMachines(&list);
    common::FillMachines(&list);
    common::FillMachines(&combo);
    QCOMPARE(list.count(), 2);
    QCOMPARE(list.item(0)->text(), QStringLiteral(" spaced "));
    QVERIFY(list.selectedItems().isEmpty());
    QCOMPARE(combo.count(), 2);
    QCOMPARE(combo.currentIndex(), -1);
    QVERIFY(combo.currentText().isEmpty());
    QCOMPARE(messages.count(), 0);
}

void TestCommon::selectAllText() {
    QLineEdit edit;
    common::SelectAllText(&edit);
    QVERIFY(!edit.hasSelectedText());
    edit.setText(QStringLiteral("Server.exe"));
    edit.setCursorPosition(3);
    common::SelectAllText(&edit);
    QCOMPARE(edit.selectedText(), QStringLiteral("Server.exe"));
    QCOMPARE(edit.selectionStart(), 0);
    QComboBox combo;
    combo.setEditable(true);
    combo.setEditText(QStringLiteral("host"));
    common::SelectAllText(&combo);
    QCOMPARE(combo.lineEdit()->selectedText(), QStringLiteral("host"));
}

void TestCommon::placeFormFollowsMainWindow() {
    QWidget main;
    main.resize(100, 100);
    main.move(QGuiApplication::primaryScreen()->geometry().topLeft() + QPoint(60, 40));
    QDialog dialog;
    dialog.resize(200, 100);
    common::PlaceForm(&dialog, &main);
    // 400 and 800 twips are 26.7 and 53.3 pixels.
    const QPoint offset = dialog.pos() - main.pos();
    QVERIFY(qAbs(offset.x() - 27) <= 1);
    QVERIFY(qAbs(offset.y() - 53) <= 1);

    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    main.move(screen.topLeft() + QPoint(screen.width() - 50, screen.height() - 50));
    common::PlaceForm(&dialog, &main);
    QCOMPARE(dialog.pos().x() + dialog.width(), screen.right() + 1);
    QCOMPARE(dialog.pos().y() + dialog.height(), screen.bottom() + 1);

    common::CentreForm(&dialog);
    QVERIFY(qAbs(dialog.pos().x() - screen.center().x() + 100) <= 1);
}

void TestCommon::messageBoxesMapFlags() {
    common::installMessageBoxes();
    struct Case {
        app::MsgFlags flags;
        QMessageBox::Icon icon;
        QMessageBox::StandardButtons buttons;
        QMessageBox::StandardButton press;
        int answer;
    };
    const QList<Case> cases = {
        {app::kOkOnly, QMessageBox::NoIcon, QMessageBox::Ok, QMessageBox::Ok, app::kAnswerOk},
        {app::kYesNoQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::Yes, app::kAnswerYes},
        {app::kYesNoQuestion, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
         QMessageBox::No, app::kAnswerNo},
        {app::kOkExclamation, QMessageBox::Warning, QMessageBox::Ok, QMessageBox::Ok,
         app::kAnswerOk},
    };
    for (const Case& c : cases) {
        ModalSteps box("QMessageBox", [&c](QWidget* shown) {
            auto* message = static_cast<QMessageBox*>(shown);
            QCOMPARE(message->windowTitle(), QStringLiteral("TALVO - Corvane"));
            QCOMPARE(message->icon(), c.icon);
            QCOMPARE(message->standardButtons(), c.buttons);
            message->button(c.press)->click();
        });
        QCOMPARE(app::MsgBox(QStringLiteral("text"), c.flags), c.answer);
        QVERIFY(box.ran());
    }
    app::setMessagePresenter(nullptr);
}

void TestCommon::failuresAreToldInTheirWords_data() {
    using Kind = app::Failure::Kind;
    QTest::addColumn<int>("kind");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("title");
    const QString file = QStringLiteral("/home/u/.config/corvane/settings.db");
    const QString app = app::kAppTitle;
    const QString brief = app::kShortTitle;
    QTest::newRow("settings unreadable")
        << int(Kind::SettingsUnreadable)
        << "The settings file\n" + file +
               "\ncould not be read: disk I/O error.\n\nThe lists of servers and machines stay "
               "empty until it can be read; the file has not been changed."
        << int(app::kOkExclamation) << brief;
    QTest::newRow("not remembered")
        << int(Kind::NotRemembered)
        << "The settings file\n" + file +
               "\ncould not be updated: disk I/O error.\n\n\"a %2 b\" has not been remembered."
        << int(app::kOkExclamation) << brief;
    QTest::newRow("not forgotten")
        << int(Kind::NotForgotten)
        << "The settings file\n" + file +
               "\ncould not be updated: disk I/O error.\n\n\"a %2 b\" has not been forgotten."
        << int(app::kOkExclamation) << brief;
    QTest::newRow("registration not updated")
        << int(Kind::RegistrationNotUpdated)
        << QStringLiteral("Unable to update registry, please try again") << int(app::kOkOnly)
        << app;
    QTest::newRow("registration unreadable")
        << int(Kind::RegistrationUnreadable)
        << QStringLiteral("The class registration could not be read: disk I/O error")
        << int(app::kOkExclamation) << brief;
    QTest::newRow("server not started")
        << int(Kind::ServerNotStarted) << file + " could not be started: disk I/O error."
        << int(app::kOkExclamation) << app;
}

void TestCommon::failuresAreToldInTheirWords() {
    QFETCH(int, kind);
    QFETCH(QString, text);
    QFETCH(int, flags);
    QFETCH(QString, title);
    app::MessageRecorder messages;
    // A name with a placeholder in it stays as it is.
    const app::Failure failure{.kind = app::Failure::Kind(kind),
                               .reason = QStringLiteral("disk I/O error"),
                               .file = QStringLiteral("/home/u/.config/corvane/settings.db"),
                               .name = QStringLiteral("a %2 b")};
    QCOMPARE(common::failureText(failure), text);
    QVERIFY(!common::report(app::Result<>(failure)));
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last().text, text);
    QCOMPARE(messages.last().flags, flags);
    QCOMPARE(messages.last().title, title);
    QVERIFY(common::report(app::Result<>()));
    QCOMPARE(messages.count(), 1);
}

// A list refilled from a store that cannot be read tells the user once, and
// again after the store has been read in between.
void TestCommon::unreadableSettingsAreToldOnce() {
    app::MessageRecorder messages;
    QListWidget list;
    m_env->setVariable("XDG_CONFIG_HOME", "/proc/corvane-test-no-such-dir");
    common::FillMachines(&list);
    common::FillMachines(&list);
    QCOMPARE(messages.count(), 1);
    QCOMPARE(messages.last().flags, int(app::kOkExclamation));
    QVERIFY(messages.last().text.contains(QStringLiteral("/proc/corvane-test-no-such-dir")));
    m_env->setVariable("XDG_CONFIG_HOME", QFile::encodeName(m_env->configHome()));
    common::FillMachines(&list);
    m_env->setVariable("XDG_CONFIG_HOME", "/proc/corvane-test-no-such-dir");
    common::FillMachines(&list);
    QCOMPARE(messages.count(), 2);
    QCOMPARE(list.count(), 0);
}

// Start-up sets the layout font for the whole program before the first
// widget: framing a window then tells none of its controls of a font change,
// as long as the font it frames with is that font, and message boxes keep
// their own. A window framed under another application font still gets the
// layout font.
void TestCommon::layoutFontIsNotSetTwice() {
    struct FontChanges : QObject {
        int count = 0;
        bool eventFilter(QObject*, QEvent* event) override {
            count += event->type() == QEvent::FontChange;
            return false;
        }
    };
    const QFont original = QApplication::font();
    const auto framedLabelChanges = [](QFont* windowFont) {
        QDialog window;
        auto* label = new QLabel(QStringLiteral("text"), &window);
        FontChanges changes;
        label->installEventFilter(&changes);
        common::setupLayoutWindow(&window, common::kCloseAndHelpButtons);
        window.setAttribute(Qt::WA_DeleteOnClose, false);
        *windowFont = window.font();
        return changes.count;
    };
    QFont framed;
    common::useLayoutFontThroughout();
    QCOMPARE(framedLabelChanges(&framed), 0);
    // Message boxes keep the font they had.
    QMessageBox box;
    box.ensurePolished();
    QCOMPARE(box.font(), original);
    for (const char* className : common::kDesktopFontClasses)
        QApplication::setFont(original, className);
    QCOMPARE(framed.family(), common::kLayoutFamily);
    QFont other(QStringLiteral("Courier"));
    other.setPointSize(14);
    QApplication::setFont(other);
    QVERIFY(framedLabelChanges(&framed) > 0);
    QCOMPARE(framed.family(), common::kLayoutFamily);
    QCOMPARE(framed.pointSizeF(), common::kLayoutPointSize);
    QApplication::setFont(original);
}

QTEST_MAIN(TestCommon)
#include "test_common.moc"
