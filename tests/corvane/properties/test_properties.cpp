// The server properties dialog, opened as the main window opens it: members
// first, then the class name, then modally. Its layout, keyboard and help;
// the load step showing a class's settings; OK with its check, the machine it
// remembers and the update it makes; Cancel, Escape and the close box.
#include "app/help.h"
#include "app/messages.h"
#include "modalsteps.h"
#include "recordingcomponent.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/tabcontrol.h"
#include "ui/properties/frmServerProps.h"
#include "windowtest.h"

#include <automation/remoteactivation.h>

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <QWhatsThis>
#include <QtTest>

#include <functional>

namespace {

const QString kClass = QStringLiteral("Server.Application");
const QString kNone = QStringLiteral("[None]");

struct Settings {
    bool remote = false;
    QString machine;
    QString protocol;
    QString level;
};

QString text(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The outline drawn around where a control should be: on the middle row and
// on a column (the middle one unless given), the first pixel from each side
// that differs from the background three pixels outside the rectangle.
QRect outline(const QImage& shot, const QRect& r, int column) {
    const int x = column >= 0 ? column : r.center().x();
    const int y = r.center().y();
    const auto scan = [&](QPoint from, QPoint step) {
        const QRgb background = shot.pixel(from);
        QPoint p = from;
        for (int i = 0; i < 12 && shot.valid(p); ++i, p += step) {
            if (shot.pixel(p) != background)
                return p;
        }
        return QPoint(-1, -1);
    };
    const int left = scan({r.left() - 3, y}, {1, 0}).x();
    const int right = scan({r.right() + 3, y}, {-1, 0}).x();
    const int top = scan({x, r.top() - 3}, {0, 1}).y();
    const int bottom = scan({x, r.bottom() + 3}, {0, -1}).y();
    return QRect(QPoint(left, top), QPoint(right, bottom));
}

std::optional<QString> value(const char* text) {
    return QString::fromUtf8(text);
}

}  // namespace

class TestProperties : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    // layout, keyboard, help
    void layoutMatchesTheDesign();
    void placedBelowAndRightOfTheMainWindow();
    void tabOrderStartsWithTheCheckBox();
    void contextHelpTopics();
    void screenshotMatchesTheLayout();

    // load step
    void localClassHidesTheRemoteDetails();
    void classNameShownAsTyped();
    void remoteClassShowsItsSettings();
    void remoteMachineNotRemembered();
    void storedCodesSelectListEntries_data();
    void storedCodesSelectListEntries();
    void rememberedMachineMatchesTrimmedAnyCase_data();
    void rememberedMachineMatchesTrimmedAnyCase();
    void eachOpeningStartsAfresh();
    void machineComboSelectsAllOnFocus();

    // OK
    void blankMachineIsRefused();
    void okRemoteWritesTheRegistration();
    void okRemoteWithNoneSendsEmptyCodes();
    void okLocalSendsOnlyFlagAndName();
    void okSendsTheMachineAsTyped();
    void failedUpdateKeepsTheDialogOpen();
    void unregisteredClassKeepsTheDialogOpen();
    void failingSettingsStoreDoesNotStopTheUpdate();
    void enterClicksOk_data();
    void enterClicksOk();

    // leaving without OK
    void leavingWithoutOkWritesNothing_data();
    void leavingWithoutOkWritesNothing();

private:
    // Opens the dialog as the main window does and runs steps while it is
    // shown modally. The steps close it; when a check fails, or the steps
    // leave it open, it is rejected so that the test ends.
    void runDialog(const Settings& current, const QString& className,
                   const std::function<void(frmServerProps*)>& steps);
    std::optional<automation::ActivationSettings> storedSettings(const QString& name) {
        return automation::RemoteActivation().GetRemoteActivation(name);
    }

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    std::unique_ptr<QWidget> m_main;
};

void TestProperties::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
    app::setHelpFile(QStringLiteral(HELP_FILE));
    // Where the dialog is placed from: its parent, standing in for the main
    // window.
    m_main = std::make_unique<QWidget>();
    m_main->resize(361, 378);
    m_main->move(QGuiApplication::primaryScreen()->geometry().topLeft() + QPoint(60, 40));
}

void TestProperties::cleanup() {
    m_main.reset();
    m_messages.reset();
    m_env.reset();
}

void TestProperties::runDialog(const Settings& current, const QString& className,
                               const std::function<void(frmServerProps*)>& steps) {
    auto* dlg = new frmServerProps(m_main.get());
    dlg->bRemote = current.remote;
    dlg->sMachine = current.machine;
    dlg->sProtocol = current.protocol;
    dlg->sALevel = current.level;
    dlg->setServer(className);
    QPointer<frmServerProps> open(dlg);
    ModalSteps modal("frmServerProps",
                     [&steps](QWidget* shown) { steps(static_cast<frmServerProps*>(shown)); });
    dlg->exec();
    QVERIFY(modal.ran());
    // The dialog deletes itself when it closes.
    QVERIFY(open.isNull());
}

// --- layout, keyboard, help --------------------------------------------------

void TestProperties::layoutMatchesTheDesign() {
    {
        // While shown modally the attribute is held back until the dialog
        // has closed (runDialog checks that it is gone then).
        frmServerProps unshown;
        QVERIFY(unshown.testAttribute(Qt::WA_DeleteOnClose));
    }
    runDialog({}, kClass, [](frmServerProps* w) {
        QCOMPARE(w->objectName(), QStringLiteral("frmServerProps"));
        QCOMPARE(w->windowTitle(), QStringLiteral("Remote Server Properties"));
        QCOMPARE(w->size(), QSize(5055 / 15, 5595 / 15));
        QCOMPARE(w->minimumSize(), w->size());
        QCOMPARE(w->maximumSize(), w->size());
        const Qt::WindowFlags flags = w->windowFlags();
        QVERIFY(flags & Qt::WindowContextHelpButtonHint);
        QVERIFY(flags & Qt::WindowCloseButtonHint);
        QVERIFY(!(flags & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(flags & Qt::WindowMaximizeButtonHint));
        QVERIFY(w->isModal());
        QCOMPARE(w->windowIcon().pixmap(32).toImage(),
                 QIcon(QStringLiteral(":/gears.png")).pixmap(32).toImage());
        QCOMPARE(w->font().family(), QStringLiteral("Arial"));
        QCOMPARE(w->font().pointSizeF(), 8.25);

        auto* tabs = control<common::TabControl>(w, "tabTabs");
        QCOMPARE(tabs->count(), 1);
        QCOMPARE(tabs->tabText(0), QStringLiteral("General"));
        QCOMPARE(tabs->tabPosition(), QTabWidget::North);
        QVERIFY(tabs->isVisible());
        auto* ok = control<QPushButton>(w, "cmdOK");
        auto* cancel = control<QPushButton>(w, "cmdCancel");
        QCOMPARE(ok->text(), QStringLiteral("OK"));
        QCOMPARE(cancel->text(), QStringLiteral("Cancel"));
        QVERIFY(ok->isDefault());
        QVERIFY(!cancel->isDefault());

        // Page controls from the tab control's corner, tab strip included;
        // the controls in a frame from the frame's corner.
        const QList<Placement> layout = {
            {"tabTabs", nullptr, twips(75, 75, 4890, 4965)},
            {"cmdOK", nullptr, twips(2775, 5175, 1065, 315)},
            {"cmdCancel", nullptr, twips(3900, 5175, 1065, 315)},
            {"lblServer", "tabTabs", twips(225, 675, 4365, 315)},
            {"fraRemAct", "tabTabs", twips(225, 1125, 4365, 915)},
            {"fraRemote", "tabTabs", twips(225, 2250, 4365, 2415)},
            {"chkRemote", "fraRemAct", twips(300, 375, 2790, 315)},
            {"lblLabel_2", "fraRemote", twips(300, 300, 1290, 240)},
            {"cboMachine", "fraRemote", twips(300, 525, 3765, 330)},
            {"lblLabel_3", "fraRemote", twips(300, 975, 1365, 240)},
            {"cboProtocol", "fraRemote", twips(300, 1200, 3765, 330)},
            {"lblLabel_4", "fraRemote", twips(300, 1650, 1140, 240)},
            {"cboALevel", "fraRemote", twips(300, 1875, 3765, 330)},
        };
        const QStringList wrong = misplaced(w, layout);
        QVERIFY2(wrong.isEmpty(), qPrintable(wrong.join(QStringLiteral("; "))));

        auto* remAct = control<QGroupBox>(w, "fraRemAct");
        auto* remote = control<QGroupBox>(w, "fraRemote");
        QCOMPARE(remAct->title(), QStringLiteral("Local/Remote Server"));
        QCOMPARE(remote->title(), QStringLiteral("Remote details"));
        QCOMPARE(control<QCheckBox>(w, "chkRemote")->text(),
                 QStringLiteral("Registered for remote activation"));
        QCOMPARE(control<QLabel>(w, "lblLabel_2")->text(), QStringLiteral("Machine Name:"));
        QCOMPARE(control<QLabel>(w, "lblLabel_3")->text(), QStringLiteral("Network Protocol:"));
        QCOMPARE(control<QLabel>(w, "lblLabel_4")->text(), QStringLiteral("Authentication:"));
        QVERIFY(control<QComboBox>(w, "cboMachine")->isEditable());
        QVERIFY(!control<QComboBox>(w, "cboProtocol")->isEditable());
        QVERIFY(!control<QComboBox>(w, "cboALevel")->isEditable());

        // No caption carries an access key.
        for (QAbstractButton* button : w->findChildren<QAbstractButton*>())
            QVERIFY2(button->shortcut().isEmpty(), qPrintable(button->objectName()));
        for (QLabel* label : w->findChildren<QLabel*>())
            QVERIFY2(!label->text().contains(QLatin1Char('&')), qPrintable(label->objectName()));

        auto* server = control<QLabel>(w, "lblServer");
        QCOMPARE(server->text(), kClass);
        QCOMPARE(server->font().family(), QStringLiteral("Arial"));
        QCOMPARE(server->font().pointSizeF(), 9.75);
        QVERIFY(!server->font().bold());
        QCOMPARE(server->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(server->alignment() & Qt::AlignLeft);
        for (const char* name : {"chkRemote", "cboMachine", "cboProtocol", "cboALevel",
                                 "lblLabel_2", "fraRemAct", "cmdOK", "cmdCancel"}) {
            const QFont font = control<QWidget>(w, name)->font();
            QCOMPARE(font.family(), QStringLiteral("Arial"));
            QCOMPARE(font.pointSizeF(), 8.25);
            QVERIFY(!font.bold());
        }
        w->reject();
    });
}

void TestProperties::placedBelowAndRightOfTheMainWindow() {
    // Main window at (900, 600) twips: the dialog goes 400 right and 800
    // down, to (1300, 1400) twips, 86.7 and 93.3 pixels.
    runDialog({}, kClass, [](frmServerProps* w) {
        QCOMPARE(w->pos(), QGuiApplication::primaryScreen()->geometry().topLeft() + QPoint(87, 93));
        w->reject();
    });
}

void TestProperties::tabOrderStartsWithTheCheckBox() {
    runDialog({true, QStringLiteral("hostA"), QString(), QString()}, kClass, [](frmServerProps* w) {
        auto* check = control<QCheckBox>(w, "chkRemote");
        QTRY_COMPARE(QApplication::focusWidget(), static_cast<QWidget*>(check));
        const QStringList order = {
            QStringLiteral("cboMachine"), QStringLiteral("cboProtocol"),
            QStringLiteral("cboALevel"),  QStringLiteral("cmdOK"),
            QStringLiteral("cmdCancel"),
        };
        for (const QString& name : order) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            QCOMPARE(QApplication::focusWidget()->objectName(), name);
        }
        auto* tabs = control<QTabWidget>(w, "tabTabs");
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(tabs->tabBar()));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(check));
        // With the box cleared the hidden controls take no focus.
        QTest::keyClick(check, Qt::Key_Space);
        QVERIFY(!check->isChecked());
        QTest::keyClick(check, Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget()->objectName(), QStringLiteral("cmdOK"));
        w->reject();
    });
}

void TestProperties::contextHelpTopics() {
    runDialog({}, kClass, [](frmServerProps* w) {
        const QList<std::pair<const char*, int>> topics = {
            {"chkRemote", 13}, {"cboMachine", 14}, {"cboProtocol", 15},
            {"cboALevel", 16}, {"cmdOK", 17},      {"cmdCancel", 18},
        };
        for (const auto& [name, topic] : topics) {
            QWidget* widget = control<QWidget>(w, name);
            QCOMPARE(widget->property("helpTopic").toInt(), topic);
            QVERIFY(!app::helpTopic(topic).title.isEmpty());
            QVERIFY2(widget->whatsThis().contains(app::helpTopic(topic).title.toHtmlEscaped()),
                     name);
        }
        for (const char* name : {"tabTabs", "lblServer", "fraRemAct", "fraRemote", "lblLabel_2",
                                 "lblLabel_3", "lblLabel_4"})
            QVERIFY2(control<QWidget>(w, name)->whatsThis().isEmpty(), name);
        // Shift+F1 enters What's-This mode.
        QTest::keyClick(w, Qt::Key_F1, Qt::ShiftModifier);
        QVERIFY(QWhatsThis::inWhatsThisMode());
        QWhatsThis::leaveWhatsThisMode();
        w->reject();
    });
}

void TestProperties::screenshotMatchesTheLayout() {
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs a window system (runs under Xvfb as test_properties_screenshot)");
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    const Settings current{true, QStringLiteral("hostA"), QStringLiteral("ncacn_ip_tcp"),
                           QStringLiteral("6")};
    runDialog(current, kClass, [](frmServerProps* w) {
        QVERIFY(QTest::qWaitForWindowExposed(w));
        // The client area as the X server shows it, once it shows what the
        // widgets drew.
        QImage shot;
        const auto showsTheWidgets = [w, &shot] {
            shot =
                w->screen()->grabWindow(w->winId()).toImage().convertToFormat(QImage::Format_RGB32);
            return shot == w->grab().toImage().convertToFormat(QImage::Format_RGB32);
        };
        QTRY_VERIFY(showsTheWidgets());
        const QString path = qEnvironmentVariable("PROPS_SCREENSHOT");
        if (!path.isEmpty())
            shot.save(path);
        QCOMPARE(shot.size(), QSize(5055 / 15, 5595 / 15));

        // The blue class name lies inside lblServer's rectangle (dialog
        // coordinates: page controls from the tab control's corner at 75, 75).
        const QRect label = twips(75 + 225, 75 + 675, 4365, 315);
        QRect blue;
        for (int y = 0; y < shot.height(); ++y) {
            for (int x = 0; x < shot.width(); ++x) {
                const QColor c = shot.pixelColor(x, y);
                if (c.blue() > 150 && c.red() < 100 && c.green() < 100)
                    blue |= QRect(x, y, 1, 1);
            }
        }
        qInfo("lblServer text drawn at %s, inside %s", qPrintable(text(blue)),
              qPrintable(text(label)));
        QVERIFY(!blue.isEmpty());
        QVERIFY(label.contains(blue));

        // The outlines the style drew lie on the layout's rectangles (the
        // combo boxes from their frame's corner at 225, 2250 on the page).
        const QList<std::tuple<const char*, QRect, int>> outlines = {
            {"tabTabs", twips(75, 75, 4890, 4965), 30},  // column through the tab
            {"cmdOK", twips(2775, 5175, 1065, 315), -1},
            {"cmdCancel", twips(3900, 5175, 1065, 315), -1},
            {"cboMachine", twips(75 + 225 + 300, 75 + 2250 + 525, 3765, 330), -1},
            {"cboProtocol", twips(75 + 225 + 300, 75 + 2250 + 1200, 3765, 330), -1},
            {"cboALevel", twips(75 + 225 + 300, 75 + 2250 + 1875, 3765, 330), -1},
        };
        for (const auto& [name, rect, column] : outlines) {
            const QRect drawn = outline(shot, rect, column);
            qInfo("%s drawn at %s, laid out at %s", name, qPrintable(text(drawn)),
                  qPrintable(text(rect)));
            QCOMPARE(drawn, rect);
        }
        w->reject();
    });
}

// --- load step --------------------------------------------------------------

void TestProperties::localClassHidesTheRemoteDetails() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostB")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    runDialog({}, kClass, [](frmServerProps* w) {
        auto* check = control<QCheckBox>(w, "chkRemote");
        auto* frame = control<QGroupBox>(w, "fraRemote");
        auto* machine = control<QComboBox>(w, "cboMachine");
        auto* protocol = control<QComboBox>(w, "cboProtocol");
        auto* level = control<QComboBox>(w, "cboALevel");
        QCOMPARE(control<QLabel>(w, "lblServer")->text(), kClass);
        QVERIFY(!check->isChecked());
        QVERIFY(!frame->isVisible());
        QVERIFY(control<QGroupBox>(w, "fraRemAct")->isVisible());

        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(check->isChecked());
        QVERIFY(frame->isVisible());
        QCOMPARE(machine->currentText(), QString());
        QCOMPARE(machine->currentIndex(), -1);
        // The remembered machines in the store's order, none selected.
        QCOMPARE(machine->count(), 2);
        QCOMPARE(machine->itemText(0), QStringLiteral("hostB"));
        QCOMPARE(machine->itemText(1), QStringLiteral("hostA"));
        QCOMPARE(protocol->count(), 9);
        QCOMPARE(protocol->currentText(), kNone);
        QCOMPARE(protocol->itemText(8), QStringLiteral("Datagrams - UDP"));
        QCOMPARE(level->count(), 8);
        QCOMPARE(level->currentText(), kNone);
        QCOMPARE(level->itemText(7), QStringLiteral("Packet Privacy"));

        QTest::mouseClick(check, Qt::LeftButton);
        QVERIFY(!frame->isVisible());
        QTest::keyClick(check, Qt::Key_Space);
        QVERIFY(frame->isVisible());
        w->reject();
    });
}

void TestProperties::classNameShownAsTyped() {
    const QString name = QStringLiteral("Server.<b>Application</b> & Co");
    runDialog({}, name, [&name](frmServerProps* w) {
        auto* server = control<QLabel>(w, "lblServer");
        QCOMPARE(server->text(), name);
        QVERIFY(drawsLiterally(server));
        w->reject();
    });
}

void TestProperties::remoteClassShowsItsSettings() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    QVERIFY(settings::AddMachine(QStringLiteral("hostB")));
    runDialog({true, QStringLiteral("hostB"), QStringLiteral("ncacn_np"), QStringLiteral("5")},
              kClass, [](frmServerProps* w) {
                  QVERIFY(control<QCheckBox>(w, "chkRemote")->isChecked());
                  QVERIFY(control<QGroupBox>(w, "fraRemote")->isVisible());
                  auto* machine = control<QComboBox>(w, "cboMachine");
                  QCOMPARE(machine->currentText(), QStringLiteral("hostB"));
                  QCOMPARE(machine->currentIndex(), 1);
                  QCOMPARE(control<QComboBox>(w, "cboProtocol")->currentText(),
                           QStringLiteral("Named Pipes"));
                  QCOMPARE(control<QComboBox>(w, "cboALevel")->currentText(),
                           QStringLiteral("Packet Integrity"));
                  w->reject();
              });
}

void TestProperties::remoteMachineNotRemembered() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    runDialog({true, QStringLiteral("10.0.0.7"), QStringLiteral("ncacn_ip_tcp"), QString()}, kClass,
              [](frmServerProps* w) {
                  auto* machine = control<QComboBox>(w, "cboMachine");
                  QCOMPARE(machine->currentText(), QStringLiteral("10.0.0.7"));
                  QCOMPARE(machine->currentIndex(), -1);
                  QCOMPARE(machine->count(), 1);
                  QCOMPARE(control<QComboBox>(w, "cboProtocol")->currentText(),
                           QStringLiteral("TCP/IP"));
                  QCOMPARE(control<QComboBox>(w, "cboALevel")->currentText(), kNone);
                  w->reject();
              });
}

void TestProperties::storedCodesSelectListEntries_data() {
    QTest::addColumn<QString>("protocol");
    QTest::addColumn<QString>("level");
    QTest::addColumn<QString>("protocolShown");
    QTest::addColumn<QString>("levelShown");
    QTest::newRow("unknown codes")
        << QStringLiteral("ncacn_http") << QStringLiteral("9") << kNone << kNone;
    QTest::newRow("empty codes") << QString() << QString() << kNone << kNone;
    QTest::newRow("blank codes") << QStringLiteral("  ") << QStringLiteral(" ") << kNone << kNone;
    QTest::newRow("last entries") << QStringLiteral("ncadg_ip_udp") << QStringLiteral("6")
                                  << QStringLiteral("Datagrams - UDP")
                                  << QStringLiteral("Packet Privacy");
    QTest::newRow("level 0 is Default") << QStringLiteral("ncacn_spx") << QStringLiteral("0")
                                        << QStringLiteral("SPX") << QStringLiteral("Default");
    QTest::newRow("blanks and case")
        << QStringLiteral(" NCACN_IP_TCP ") << QStringLiteral(" 6 ") << QStringLiteral("TCP/IP")
        << QStringLiteral("Packet Privacy");
}

void TestProperties::storedCodesSelectListEntries() {
    QFETCH(QString, protocol);
    QFETCH(QString, level);
    QFETCH(QString, protocolShown);
    QFETCH(QString, levelShown);
    runDialog({true, QStringLiteral("hostA"), protocol, level}, kClass, [&](frmServerProps* w) {
        QCOMPARE(control<QComboBox>(w, "cboProtocol")->currentText(), protocolShown);
        QCOMPARE(control<QComboBox>(w, "cboALevel")->currentText(), levelShown);
        w->reject();
    });
}

void TestProperties::rememberedMachineMatchesTrimmedAnyCase_data() {
    QTest::addColumn<QStringList>("remembered");
    QTest::addColumn<QString>("machine");
    QTest::addColumn<int>("selected");
    QTest::newRow("remembered with blanks")
        << QStringList{QStringLiteral("hostA"), QStringLiteral("  hostB  ")}
        << QStringLiteral("hostB") << 1;
    QTest::newRow("given with blanks")
        << QStringList{QStringLiteral("hostB")} << QStringLiteral(" hostB ") << 0;
    QTest::newRow("other letter case")
        << QStringList{QStringLiteral("HostB.Example.COM"), QStringLiteral("hostA")}
        << QStringLiteral("hostb.example.com") << 0;
    QTest::newRow("last of equal entries")
        << QStringList{QStringLiteral(" hostB"), QStringLiteral("hostA"), QStringLiteral("hostB ")}
        << QStringLiteral("hostB") << 2;
}

void TestProperties::rememberedMachineMatchesTrimmedAnyCase() {
    QFETCH(QStringList, remembered);
    QFETCH(QString, machine);
    QFETCH(int, selected);
    for (const QString& name : remembered)
        QVERIFY(settings::AddMachine(name));
    runDialog({true, machine, QString(), QString()}, kClass, [&](frmServerProps* w) {
        auto* combo = control<QComboBox>(w, "cboMachine");
        QCOMPARE(combo->count(), remembered.size());
        QCOMPARE(combo->currentIndex(), selected);
        // The selected entry shows as it was remembered.
        QCOMPARE(combo->currentText(), remembered.at(selected));
        w->reject();
    });
}

void TestProperties::eachOpeningStartsAfresh() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    ScopedRecordingComponent component;
    runDialog({true, QStringLiteral("hostA"), QString(), QString()}, kClass, [](frmServerProps* w) {
        auto* machine = control<QComboBox>(w, "cboMachine");
        machine->setFocus();
        QTest::keyClicks(machine, QStringLiteral("hostC"));
        control<QComboBox>(w, "cboALevel")->setCurrentIndex(3);
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    });
    // The next opening lists the machine just recorded, once, and shows the
    // members it is given, not what the last one held.
    runDialog({true, QStringLiteral("hostA"), QString(), QString()}, kClass, [](frmServerProps* w) {
        auto* machine = control<QComboBox>(w, "cboMachine");
        QCOMPARE(machine->count(), 2);
        QCOMPARE(machine->itemText(1), QStringLiteral("hostC"));
        QCOMPARE(machine->currentText(), QStringLiteral("hostA"));
        QCOMPARE(control<QComboBox>(w, "cboALevel")->currentText(), kNone);
        QCOMPARE(control<QComboBox>(w, "cboProtocol")->count(), 9);
        w->reject();
    });
}

void TestProperties::machineComboSelectsAllOnFocus() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    ScopedRecordingComponent component;
    runDialog({true, QStringLiteral("hostA"), QString(), QString()}, kClass, [](frmServerProps* w) {
        auto* machine = control<QComboBox>(w, "cboMachine");
        QLineEdit* edit = machine->lineEdit();
        // By the keyboard ...
        QTRY_VERIFY(control<QCheckBox>(w, "chkRemote")->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QVERIFY(machine->hasFocus());
        QCOMPARE(edit->selectedText(), QStringLiteral("hostA"));
        // ... by the program ...
        control<QPushButton>(w, "cmdCancel")->setFocus();
        edit->setCursorPosition(2);
        machine->setFocus();
        QCOMPARE(edit->selectedText(), QStringLiteral("hostA"));
        // ... and by a click into the text, once the click is done.
        control<QPushButton>(w, "cmdCancel")->setFocus();
        edit->setCursorPosition(2);
        QTest::mouseClick(edit, Qt::LeftButton, {}, edit->rect().center());
        QTRY_COMPARE(edit->selectedText(), QStringLiteral("hostA"));
        // Typing replaces the whole text.
        QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("hostZ"));
        QCOMPARE(machine->currentText(), QStringLiteral("hostZ"));
        // An empty text selects nothing and raises nothing.
        edit->clear();
        control<QPushButton>(w, "cmdCancel")->setFocus();
        machine->setFocus();
        QVERIFY(edit->selectedText().isEmpty());
        w->reject();
    });
}

// --- OK ---------------------------------------------------------------------

void TestProperties::blankMachineIsRefused() {
    ScopedRecordingComponent component;
    runDialog({true, QStringLiteral("   "), QString(), QString()}, kClass, [&](frmServerProps* w) {
        auto* machine = control<QComboBox>(w, "cboMachine");
        QCOMPARE(machine->currentText(), QStringLiteral("   "));
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().text,
                 QStringLiteral("A machine name or IP address must be specified"));
        QCOMPARE(m_messages->last().flags, int(app::kOkExclamation));
        QCOMPARE(m_messages->last().title, QStringLiteral("Corvane"));
        QVERIFY(w->isVisible());
        QVERIFY(machine->hasFocus());
        QCOMPARE(machine->lineEdit()->selectedText(), QStringLiteral("   "));
        QVERIFY(component->setCalls().isEmpty());
        QVERIFY(settings::Machines().value().isEmpty());

        // An empty text is refused the same way.
        machine->lineEdit()->clear();
        control<QPushButton>(w, "cmdCancel")->setFocus();
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        QCOMPARE(m_messages->count(), 2);
        QVERIFY(machine->hasFocus());
        QVERIFY(component->setCalls().isEmpty());
        w->reject();
    });
    QVERIFY(settings::Servers().value().isEmpty());
}

void TestProperties::okRemoteWritesTheRegistration() {
    registerForTest(kClass);
    QVERIFY(settings::AddServer(QStringLiteral("Other.Class")));
    // A local class made remote, against the automation layer's component.
    runDialog({}, kClass, [](frmServerProps* w) {
        QTest::mouseClick(control<QCheckBox>(w, "chkRemote"), Qt::LeftButton);
        auto* machine = control<QComboBox>(w, "cboMachine");
        machine->setFocus();
        QTest::keyClicks(machine, QStringLiteral("hostC.example.com"));
        control<QComboBox>(w, "cboProtocol")->setCurrentIndex(1);
        control<QComboBox>(w, "cboALevel")->setCurrentIndex(7);
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    });
    QCOMPARE(m_messages->count(), 0);
    const auto stored = storedSettings(kClass);
    QVERIFY(stored);
    QCOMPARE(stored->remote, true);
    QCOMPARE(stored->machine, QStringLiteral("hostC.example.com"));
    QCOMPARE(stored->protocol, QStringLiteral("ncacn_ip_tcp"));
    QCOMPARE(stored->level, QStringLiteral("6"));
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("hostC.example.com")});
    QCOMPARE(settings::Servers().value(), (QStringList{QStringLiteral("Other.Class"), kClass}));
}

void TestProperties::okRemoteWithNoneSendsEmptyCodes() {
    registerForTest(kClass);
    QCOMPARE(automation::RemoteActivation().SetRemoteActivation(
                 true, kClass, std::nullopt, QStringLiteral("hostA"), QStringLiteral("ncacn_np"),
                 QStringLiteral("2")),
             quint16(0));
    ScopedRecordingComponent component;
    component->forwardToAutomation(true);
    runDialog({true, QStringLiteral("hostA"), QStringLiteral("ncacn_np"), QStringLiteral("2")},
              kClass, [](frmServerProps* w) {
                  control<QComboBox>(w, "cboProtocol")->setCurrentIndex(0);
                  control<QComboBox>(w, "cboALevel")->setCurrentIndex(0);
                  QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
              });
    QCOMPARE(component->setCalls().size(), 1);
    QCOMPARE(component->setCalls().first(),
             (RecordingComponent::SetCall{.remote = true,
                                          .className = kClass,
                                          .machine = QStringLiteral("hostA"),
                                          .protocol = QString(),
                                          .level = QString()}));
    const auto stored = storedSettings(kClass);
    QVERIFY(stored);
    QCOMPARE(*stored, (automation::ActivationSettings{true, QStringLiteral("hostA"), {}, {}}));
}

void TestProperties::okLocalSendsOnlyFlagAndName() {
    registerForTest(kClass);
    QCOMPARE(automation::RemoteActivation().SetRemoteActivation(
                 true, kClass, std::nullopt, QStringLiteral("hostA"),
                 QStringLiteral("ncacn_ip_tcp"), QStringLiteral("4")),
             quint16(0));
    ScopedRecordingComponent component;
    component->forwardToAutomation(true);
    runDialog({true, QStringLiteral("hostA"), QStringLiteral("ncacn_ip_tcp"), QStringLiteral("4")},
              kClass, [](frmServerProps* w) {
                  // Whatever the hidden controls hold: even a blank machine is
                  // neither checked nor recorded.
                  control<QComboBox>(w, "cboMachine")->setEditText(QStringLiteral("  "));
                  QTest::mouseClick(control<QCheckBox>(w, "chkRemote"), Qt::LeftButton);
                  QVERIFY(!control<QGroupBox>(w, "fraRemote")->isVisible());
                  QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
              });
    QCOMPARE(m_messages->count(), 0);
    QCOMPARE(component->setCalls().size(), 1);
    // Only the flag and the class name.
    QCOMPARE(component->setCalls().first(),
             (RecordingComponent::SetCall{.remote = false, .className = kClass}));
    QVERIFY(settings::Machines().value().isEmpty());
    QCOMPARE(settings::Servers().value(), QStringList{kClass});
    const auto stored = storedSettings(kClass);
    QVERIFY(stored);
    QCOMPARE(*stored, automation::ActivationSettings{});
}

void TestProperties::okSendsTheMachineAsTyped() {
    QVERIFY(settings::AddMachine(QStringLiteral("hostAlpha")));
    ScopedRecordingComponent component;
    runDialog({}, kClass, [](frmServerProps* w) {
        QTest::mouseClick(control<QCheckBox>(w, "chkRemote"), Qt::LeftButton);
        auto* machine = control<QComboBox>(w, "cboMachine");
        machine->setFocus();
        // A prefix of a remembered machine is not completed to it, and the
        // blanks around the name stay.
        QTest::keyClicks(machine, QStringLiteral("  host  "));
        QTest::keyClick(machine, Qt::Key_Tab);
        QCOMPARE(machine->currentText(), QStringLiteral("  host  "));
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    });
    QCOMPARE(component->setCalls().size(), 1);
    QCOMPARE(component->setCalls().first().machine, value("  host  "));
    // Recorded untrimmed, after the machine already known; the list offers
    // nothing new.
    QCOMPARE(settings::Machines().value(),
             (QStringList{QStringLiteral("hostAlpha"), QStringLiteral("  host  ")}));

    // Another spelling of a remembered machine is sent as typed and not
    // recorded again (the settings store ignores letter case).
    runDialog({true, QStringLiteral("hostAlpha"), QString(), QString()}, kClass,
              [](frmServerProps* w) {
                  auto* machine = control<QComboBox>(w, "cboMachine");
                  machine->setFocus();
                  QTest::keyClicks(machine, QStringLiteral("HOSTALPHA"));
                  QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
              });
    QCOMPARE(component->setCalls().last().machine, value("HOSTALPHA"));
    QCOMPARE(settings::Machines().value().size(), 2);
}

void TestProperties::failedUpdateKeepsTheDialogOpen() {
    ScopedRecordingComponent component;
    component->setNextStatus(1);
    runDialog({}, kClass, [&](frmServerProps* w) {
        QTest::mouseClick(control<QCheckBox>(w, "chkRemote"), Qt::LeftButton);
        auto* machine = control<QComboBox>(w, "cboMachine");
        machine->setFocus();
        QTest::keyClicks(machine, QStringLiteral("hostD"));
        control<QComboBox>(w, "cboProtocol")->setCurrentIndex(3);
        control<QComboBox>(w, "cboALevel")->setCurrentIndex(2);
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);

        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().text,
                 QStringLiteral("Unable to update registry, please try again"));
        QCOMPARE(m_messages->last().flags, int(app::kOkOnly));
        QCOMPARE(m_messages->last().title, QStringLiteral("TALVO - Corvane"));
        QCoreApplication::processEvents();
        QVERIFY(w->isVisible());
        // The user's entries are all still there ...
        QVERIFY(control<QCheckBox>(w, "chkRemote")->isChecked());
        QCOMPARE(machine->currentText(), QStringLiteral("hostD"));
        QCOMPARE(control<QComboBox>(w, "cboProtocol")->currentText(),
                 QStringLiteral("Named Pipes"));
        QCOMPARE(control<QComboBox>(w, "cboALevel")->currentText(),
                 QStringLiteral("No Authentication"));
        // ... the machine is remembered, the class is not.
        QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("hostD")});
        QVERIFY(settings::Servers().value().isEmpty());

        // OK again: this time the update is written and the dialog closes.
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    });
    QCOMPARE(component->setCalls().size(), 2);
    QCOMPARE(component->setCalls().last().machine, value("hostD"));
    QCOMPARE(component->setCalls().last().protocol, value("ncacn_np"));
    QCOMPARE(component->setCalls().last().level, value("1"));
    QCOMPARE(m_messages->count(), 1);
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("hostD")});
    QCOMPARE(settings::Servers().value(), QStringList{kClass});
}

void TestProperties::unregisteredClassKeepsTheDialogOpen() {
    // The automation layer's component refuses a class it does not know (a
    // class unregistered while the dialog was open).
    runDialog({}, QStringLiteral("Gone.Class"), [&](frmServerProps* w) {
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
        QCOMPARE(m_messages->count(), 1);
        QCOMPARE(m_messages->last().text,
                 QStringLiteral("Unable to update registry, please try again"));
        QCoreApplication::processEvents();
        QVERIFY(w->isVisible());
        QVERIFY(settings::Servers().value().isEmpty());
        w->reject();
    });
    QVERIFY(!storedSettings(QStringLiteral("Gone.Class")));
}

void TestProperties::failingSettingsStoreDoesNotStopTheUpdate() {
    registerForTest(kClass);
    QFile blocker(m_env->configHome() + QStringLiteral("/corvane"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    runDialog({}, kClass, [](frmServerProps* w) {
        QTest::mouseClick(control<QCheckBox>(w, "chkRemote"), Qt::LeftButton);
        auto* machine = control<QComboBox>(w, "cboMachine");
        machine->setFocus();
        QTest::keyClicks(machine, QStringLiteral("hostE"));
        QTest::mouseClick(control<QPushButton>(w, "cmdOK"), Qt::LeftButton);
    });
    // The store told the user it could not be read; the update went through.
    QVERIFY(m_messages->count() >= 1);
    for (const app::ShownMessage& message : m_messages->shown())
        QVERIFY(message.text.contains(QStringLiteral("settings file")));
    const auto stored = storedSettings(kClass);
    QVERIFY(stored);
    QCOMPARE(stored->machine, QStringLiteral("hostE"));
}

void TestProperties::enterClicksOk_data() {
    QTest::addColumn<QString>("focus");
    QTest::newRow("machine combo") << QStringLiteral("cboMachine");
    QTest::newRow("machine combo, prefix of a remembered machine")
        << QStringLiteral("cboMachine-prefix");
    QTest::newRow("check box") << QStringLiteral("chkRemote");
    QTest::newRow("protocol list") << QStringLiteral("cboProtocol");
    QTest::newRow("level list") << QStringLiteral("cboALevel");
}

void TestProperties::enterClicksOk() {
    QFETCH(QString, focus);
    const bool prefix = focus.endsWith(QLatin1String("-prefix"));
    if (prefix) {
        focus.chop(7);
        QVERIFY(settings::AddMachine(QStringLiteral("hostFar")));
    }
    const bool typed = focus == QLatin1String("cboMachine");
    ScopedRecordingComponent component;
    runDialog({true, QStringLiteral("hostA"), QString(), QString()}, kClass,
              [&](frmServerProps* w) {
                  auto* target = control<QWidget>(w, qPrintable(focus));
                  target->setFocus();
                  QTRY_VERIFY(target->hasFocus());
                  if (typed)
                      QTest::keyClicks(QApplication::focusWidget(), QStringLiteral("hostF"));
                  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
              });
    QCOMPARE(component->setCalls().size(), 1);
    QCOMPARE(component->setCalls().first().machine, value(typed ? "hostF" : "hostA"));
    QCOMPARE(settings::Servers().value(), QStringList{kClass});

    // The keypad's Enter too.
    runDialog({true, QStringLiteral("hostA"), QString(), QString()}, kClass,
              [&](frmServerProps* w) {
                  control<QWidget>(w, "cboMachine")->setFocus();
                  QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
              });
    QCOMPARE(component->setCalls().size(), 2);
}

// --- leaving without OK -------------------------------------------------------

void TestProperties::leavingWithoutOkWritesNothing_data() {
    QTest::addColumn<QString>("how");
    QTest::newRow("Cancel") << QStringLiteral("cancel");
    QTest::newRow("Escape on the check box") << QStringLiteral("escape-check");
    QTest::newRow("Escape in the machine combo") << QStringLiteral("escape-machine");
    QTest::newRow("Escape in the level list") << QStringLiteral("escape-level");
    QTest::newRow("Enter on Cancel") << QStringLiteral("enter-cancel");
    QTest::newRow("close box") << QStringLiteral("close");
}

void TestProperties::leavingWithoutOkWritesNothing() {
    QFETCH(QString, how);
    registerForTest(kClass);
    QVERIFY(settings::AddMachine(QStringLiteral("hostA")));
    const auto before = storedSettings(kClass);
    ScopedRecordingComponent component;
    component->forwardToAutomation(true);
    runDialog({}, kClass, [&](frmServerProps* w) {
        QTest::mouseClick(control<QCheckBox>(w, "chkRemote"), Qt::LeftButton);
        auto* machine = control<QComboBox>(w, "cboMachine");
        machine->setFocus();
        QTest::keyClicks(machine, QStringLiteral("hostG"));
        control<QComboBox>(w, "cboProtocol")->setCurrentIndex(2);
        if (how == QLatin1String("cancel")) {
            QTest::mouseClick(control<QPushButton>(w, "cmdCancel"), Qt::LeftButton);
        } else if (how.startsWith(QLatin1String("escape"))) {
            QWidget* target =
                how.endsWith(QLatin1String("check"))     ? control<QWidget>(w, "chkRemote")
                : how.endsWith(QLatin1String("machine")) ? static_cast<QWidget*>(machine)
                                                         : control<QWidget>(w, "cboALevel");
            target->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Escape);
        } else if (how == QLatin1String("enter-cancel")) {
            control<QPushButton>(w, "cmdCancel")->setFocus();
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        } else {
            QVERIFY(w->close());
        }
    });
    QVERIFY(component->setCalls().isEmpty());
    QCOMPARE(m_messages->count(), 0);
    QCOMPARE(settings::Machines().value(), QStringList{QStringLiteral("hostA")});
    QVERIFY(settings::Servers().value().isEmpty());
    QCOMPARE(storedSettings(kClass), before);
}

QTEST_MAIN(TestProperties)
#include "test_properties.moc"
