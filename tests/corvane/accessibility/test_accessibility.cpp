// What assistive technology sees of the windows, through Qt's accessibility
// interfaces as a screen reader's bridge reads them: every focusable control
// named, once per window; the help topics as descriptions; labels tied to the
// controls they name; the test outcome announced. And what a user with other
// needs sees: the blue texts in light and dark schemes, and no text cut off
// (this case runs again at a scale factor of 2).
#include "app/help.h"
#include "app/messages.h"
#include "settings/store.h"
#include "testenv.h"
#include "ui/common/framing.h"
#include "ui/common/simplecombo.h"
#include "ui/machines/frmImport.h"
#include "ui/machines/frmPair.h"
#include "ui/main/frmServerReg.h"
#include "ui/properties/frmServerProps.h"
#include "ui/test/frmTest.h"
#include "ui/wizard/frmServerWizard.h"
#include "windowtest.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPointer>
#include <QPushButton>
#include <QTabWidget>
#include <QtTest>

#include <QtGui/private/qguiapplication_p.h>
#include <qpa/qplatformaccessibility.h>
#include <qpa/qplatformintegration.h>

#include <cmath>

namespace {

const QString kFailed = QStringLiteral("Could not create object, please check properties");

// The window's focusable controls as its accessibility tree shows them:
// every interface that stands for a widget (list entries and tabs are parts
// of their list) and says it can take the focus.
void collectFocusable(QAccessibleInterface* iface, QList<QAccessibleInterface*>& found) {
    if (!iface)
        return;
    if (iface->object() && iface->object()->isWidgetType() && iface->state().focusable)
        found << iface;
    for (int i = 0; i < iface->childCount(); ++i)
        collectFocusable(iface->child(i), found);
}

QString describe(QAccessibleInterface* iface) {
    QObject* object = iface->object();
    QString path = QString::fromLatin1(object->metaObject()->className());
    for (QObject* at = object; at; at = at->parent()) {
        if (!at->objectName().isEmpty()) {
            path += QLatin1Char(' ') + at->objectName();
            break;
        }
    }
    return path;
}

// What a screen reader says a control is for. A combo box is named by the
// entry it shows on this platform, as the desktop's own toolkit does; what
// it is for comes from the label that names it.
QString purpose(QAccessibleInterface* control) {
    if (control->role() == QAccessible::ComboBox) {
        const auto labels = control->relations(QAccessible::Label);
        return labels.isEmpty() ? QString()
                                : labels.first().first->text(QAccessible::Name).trimmed();
    }
    return control->text(QAccessible::Name).trimmed();
}

QAccessibleInterface* accessible(QWidget* widget) {
    return QAccessible::queryAccessibleInterface(widget);
}

// A dark scheme as a desktop theme gives one (a colour-scheme tool's
// "darker"): the buttons, and the panes drawn from them, lighter than the
// window.
QPalette darkPalette() {
    QPalette dark;
    const QColor text(255, 255, 255);
    const QList<std::pair<QPalette::ColorRole, QColor>> roles = {
        {QPalette::Window, QColor(0x22, 0x20, 0x20)},
        {QPalette::WindowText, text},
        {QPalette::Button, QColor(0x42, 0x42, 0x45)},
        {QPalette::ButtonText, text},
        {QPalette::Base, QColor(0x3d, 0x3d, 0x3d)},
        {QPalette::Text, text},
        {QPalette::Light, QColor(0x97, 0x97, 0x97)},
        {QPalette::Midlight, QColor(0x5e, 0x5c, 0x5b)},
        {QPalette::Mid, QColor(0x4a, 0x49, 0x47)},
        {QPalette::Dark, QColor(0x30, 0x2f, 0x2e)},
    };
    for (const auto& [role, colour] : roles)
        dark.setColor(role, colour);
    return dark;
}

// A blue, if a lighter one: not turned to another colour.
bool isBlue(const QColor& colour) {
    return colour.hslHue() >= 195 && colour.hslHue() <= 245 && colour.hslSaturation() > 200;
}

// The colour most of the label's area is drawn in: what its text stands on.
QColor drawnBackground(QLabel* label) {
    QWidget* window = label->window();
    const QImage image =
        window->grab(QRect(label->mapTo(window, QPoint(0, 0)), label->size())).toImage();
    QHash<QRgb, int> counts;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x)
            ++counts[image.pixel(x, y)];
    }
    QRgb most = 0;
    for (auto it = counts.cbegin(); it != counts.cend(); ++it) {
        if (it.value() > counts.value(most))
            most = it.key();
    }
    return QColor(most);
}

double luminance(const QColor& c) {
    const auto lin = [](double v) {
        return v <= 0.03928 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * lin(c.redF()) + 0.7152 * lin(c.greenF()) + 0.0722 * lin(c.blueF());
}

double contrast(const QColor& a, const QColor& b) {
    const double la = luminance(a), lb = luminance(b);
    return (qMax(la, lb) + 0.05) / (qMin(la, lb) + 0.05);
}

}  // namespace

class TestAccessibility : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void init();
    void cleanup();

    void everyFocusableControlIsNamedOnce();
    void descriptionsAreTheHelpTopics();
    void labelsNameTheirControls();
    void outcomeIsAnnounced();
    void darkSchemeDetection_data();
    void darkSchemeDetection();
    void blueTextsInLightAndDarkSchemes();
    void textsFitTheirControls();

private:
    // The six windows, open and filled: the main window, the wizard, the
    // properties dialog with its remote details, the test window with its
    // outcome, Pair and Import Classes with a host that does not answer.
    QList<QWidget*> openWindows();
    // Next on the wizard's server page with an existing server file.
    void toSummaryPage(QWidget* wizard);

    std::unique_ptr<ScopedXdgEnvironment> m_env;
    std::unique_ptr<app::MessageRecorder> m_messages;
    QPointer<frmServerReg> m_main;
};

void TestAccessibility::init() {
    m_env = std::make_unique<ScopedXdgEnvironment>();
    m_messages = std::make_unique<app::MessageRecorder>();
    app::setHelpFile(QStringLiteral(HELP_FILE));
}

void TestAccessibility::cleanup() {
    if (QPointer<frmTest> test = frmTest::instance()) {
        test->close();
        QTRY_VERIFY(test.isNull());
    }
    delete m_main;  // and the dialogs it owns
    QApplication::setPalette(QPalette());
    m_messages.reset();
    m_env.reset();
}

QList<QWidget*> TestAccessibility::openWindows() {
    if (!settings::AddServer(QStringLiteral("Server.Application")) ||
        !settings::AddMachine(QStringLiteral("far.example")))
        qFatal("settings store not usable");
    m_main = new frmServerReg;
    m_main->show();
    auto* wizard = new frmServerWizard(m_main);
    wizard->show();
    auto* props = new frmServerProps(m_main);
    props->bRemote = true;
    props->sMachine = QStringLiteral("far.example");
    props->setServer(QStringLiteral("Server.Application"));
    props->show();
    frmTest::Load(QStringLiteral("Not.Registered"));
    frmTest* test = frmTest::instance();
    if (!test)
        qFatal("no test window");
    auto* status = control<QLabel>(test, "lblStatus");
    if (!QTest::qWaitFor([status] { return status->text() == kFailed; }))
        qFatal("no test outcome");
    for (QWidget* window : {static_cast<QWidget*>(m_main.data()), static_cast<QWidget*>(wizard),
                            static_cast<QWidget*>(props), static_cast<QWidget*>(test)}) {
        if (!QTest::qWaitForWindowExposed(window))
            qFatal("window not shown");
    }
    if (!QTest::qWaitFor([this] { return m_main->listsAreLoaded(); }))
        qFatal("main window's lists not loaded");
    // Nothing listens on port 1 of loopback: both end at once, with a reason.
    m_env->setVariable("AUTOMATION_HOST_PORT", "1");
    auto* pair = new frmPair(m_main);
    pair->pairWith(QStringLiteral("127.0.0.1"));
    pair->show();
    auto* import = new frmImport(m_main);
    import->importFrom(QStringLiteral("127.0.0.1"));
    import->show();
    if (!QTest::qWaitFor([&] {
            return control<QLabel>(pair, "lblStatus")
                       ->text()
                       .startsWith(QStringLiteral("Not paired")) &&
                   control<QLabel>(import, "lblStatus")
                       ->text()
                       .startsWith(QStringLiteral("Could not ask"));
        }))
        qFatal("no pairing or listing outcome");
    for (QWidget* window : {static_cast<QWidget*>(pair), static_cast<QWidget*>(import)}) {
        if (!QTest::qWaitForWindowExposed(window))
            qFatal("window not shown");
    }
    return {m_main, wizard, props, test, pair, import};
}

void TestAccessibility::toSummaryPage(QWidget* wizard) {
    const QString server = m_env->root() + QStringLiteral("/Server.exe");
    QFile file(server);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    auto* path = control<QLineEdit>(wizard, "txtServer");
    path->setText(server);
    QTest::keyClick(path, Qt::Key_Return);
    QCOMPARE(m_messages->count(), 0);
    QCOMPARE(control<QPushButton>(wizard, "cmdNext")->text(), QStringLiteral("Finish"));
}

void TestAccessibility::everyFocusableControlIsNamedOnce() {
    const QList<QWidget*> windows = openWindows();
    for (QWidget* window : windows) {
        QList<QAccessibleInterface*> controls;
        collectFocusable(accessible(window), controls);
        QVERIFY(!controls.isEmpty());
        QMap<QString, QString> named;  // name -> control
        QStringList unnamed;
        QStringList twice;
        for (QAccessibleInterface* control : controls) {
            const QString name = purpose(control);
            if (name.isEmpty())
                unnamed << describe(control);
            else if (named.contains(name))
                twice << QStringLiteral("\"%1\": %2 and %3")
                             .arg(name, named.value(name), describe(control));
            else
                named.insert(name, describe(control));
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(window->objectName() + QStringLiteral(" unnamed: ") +
                                               unnamed.join(QStringLiteral(", "))));
        QVERIFY2(twice.isEmpty(), qPrintable(window->objectName() + QStringLiteral(" twice: ") +
                                             twice.join(QStringLiteral(", "))));
    }

    // Next is read as what it does on each page, without its arrow.
    QWidget* wizard = windows.at(1);
    auto* next = control<QPushButton>(wizard, "cmdNext");
    QCOMPARE(accessible(next)->text(QAccessible::Name), QStringLiteral("Next"));
    toSummaryPage(wizard);
    QCOMPARE(accessible(next)->text(QAccessible::Name), QStringLiteral("Finish"));
}

void TestAccessibility::descriptionsAreTheHelpTopics() {
    const QList<QWidget*> windows = openWindows();
    int described = 0;
    for (QWidget* window : windows) {
        const QList<QWidget*> controls = window->findChildren<QWidget*>();
        for (QWidget* control : controls) {
            const QVariant topic = control->property("helpTopic");
            if (!topic.isValid() || control->window() != window)
                continue;
            const QString description = accessible(control)->text(QAccessible::Description);
            // Every paragraph of the topic, as What's-This shows them.
            const QStringList paragraphs =
                app::helpTopic(topic.toInt())
                    .body.split(QStringLiteral("\n\n"), Qt::SkipEmptyParts);
            QVERIFY2(!paragraphs.isEmpty(), qPrintable(control->objectName()));
            for (const QString& paragraph : paragraphs) {
                QVERIFY2(description.contains(paragraph.simplified()),
                         qPrintable(control->objectName()));
                QVERIFY2(control->whatsThis().contains(paragraph.simplified().toHtmlEscaped()),
                         qPrintable(control->objectName()));
            }
            ++described;
        }
    }
    // 12 topics on the main window, 6 on the properties dialog.
    QCOMPARE(described, 18);
    // The server box's edit field, which takes its focus, says the same.
    auto* combo = control<common::SimpleCombo>(m_main, "cboServers");
    QCOMPARE(accessible(combo->lineEdit())->text(QAccessible::Description),
             accessible(combo)->text(QAccessible::Description));
}

void TestAccessibility::labelsNameTheirControls() {
    const QList<QWidget*> windows = openWindows();
    struct Labelled {
        QWidget* window;
        const char* control;
        const char* label;
    };
    const QList<Labelled> labelled = {
        {windows.at(1), "txtServer", "lblHeading"},    {windows.at(1), "cboMachine", "lblMachine"},
        {windows.at(1), "cboProtocol", "lblProtocol"}, {windows.at(1), "cboALevel", "lblALevel"},
        {windows.at(2), "cboMachine", "lblLabel_2"},   {windows.at(2), "cboProtocol", "lblLabel_3"},
        {windows.at(2), "cboALevel", "lblLabel_4"},    {windows.at(0), "cmdAdd", "lblLabel_2"},
    };
    for (const Labelled& expected : labelled) {
        // The first label is the one the control is read by; a frame around
        // it may follow.
        const auto labels =
            accessible(control(expected.window, expected.control))->relations(QAccessible::Label);
        QVERIFY2(!labels.isEmpty(), expected.control);
        QCOMPARE(labels.first().first->object()->objectName(), QLatin1String(expected.label));
    }
}

void TestAccessibility::outcomeIsAnnounced() {
    // Events reach an update handler only while assistive technology is
    // listening, which the platform's bridge would say.
    QPlatformAccessibility* platform =
        QGuiApplicationPrivate::platformIntegration()->accessibility();
    QVERIFY(platform);
    // What a screen reader's bridge is told, with the text it would read at
    // that moment: alerts on the status label, notifications that show.
    static QStringList alerts;
    static QStringList notifications;
    alerts.clear();
    notifications.clear();
    platform->setActive(true);
    const QAccessible::UpdateHandler previous =
        QAccessible::installUpdateHandler([](QAccessibleEvent* event) {
            QAccessibleInterface* iface = event->accessibleInterface();
            if (!iface)
                return;
            if (event->type() == QAccessible::Alert && event->object() &&
                event->object()->objectName() == QLatin1String("lblStatus"))
                alerts << iface->text(QAccessible::Name);
            if (event->type() == QAccessible::ObjectShow &&
                iface->role() == QAccessible::Notification)
                notifications << iface->text(QAccessible::Name);
        });
    frmTest::Load(QStringLiteral("Not.Registered"));
    QPointer<frmTest> test = frmTest::instance();
    QVERIFY(test);
    QTRY_COMPARE(control<QLabel>(test, "lblStatus")->text(), kFailed);
    QAccessible::installUpdateHandler(previous);
    platform->setActive(false);
    // Told once, with the outcome.
    QCOMPARE(alerts, QStringList{kFailed});
    QCOMPARE(notifications, QStringList{kFailed});
    // The notice is no control: nothing to tab to, nothing drawn.
    QList<QAccessibleInterface*> focusable;
    collectFocusable(accessible(test), focusable);
    QCOMPARE(focusable.size(), 1);
}

void TestAccessibility::darkSchemeDetection_data() {
    QTest::addColumn<QColor>("window");
    QTest::addColumn<QColor>("text");
    QTest::addColumn<bool>("dark");
    QTest::newRow("light") << QColor(240, 240, 240) << QColor(0, 0, 0) << false;
    QTest::newRow("grey window, black text") << QColor(110, 110, 110) << QColor(0, 0, 0) << false;
    QTest::newRow("dark") << QColor(53, 53, 53) << QColor(230, 230, 230) << true;
    QTest::newRow("darker") << QColor(0x22, 0x20, 0x20) << QColor(255, 255, 255) << true;
    QTest::newRow("black, high contrast") << QColor(0, 0, 0) << QColor(255, 255, 255) << true;
    QTest::newRow("white, high contrast") << QColor(255, 255, 255) << QColor(0, 0, 0) << false;
}

void TestAccessibility::darkSchemeDetection() {
    QFETCH(QColor, window);
    QFETCH(QColor, text);
    QFETCH(bool, dark);
    QPalette palette;
    palette.setColor(QPalette::Window, window);
    palette.setColor(QPalette::WindowText, text);
    QCOMPARE(common::isDarkScheme(palette), dark);
    const QColor blue = common::layoutBlue(palette);
    if (!dark) {
        QCOMPARE(blue, QColor(0, 0, 255));
    } else {
        // Still blue, and as readable as ordinary text needs to be.
        QVERIFY2(isBlue(blue), qPrintable(blue.name()));
        QVERIFY2(contrast(blue, window) >= 4.5, qPrintable(blue.name()));
    }
}

void TestAccessibility::blueTextsInLightAndDarkSchemes() {
    const QList<QWidget*> windows = openWindows();
    const QList<QLabel*> blueTexts = {
        control<QLabel>(windows.at(0), "lblTitle"), control<QLabel>(windows.at(2), "lblServer"),
        control<QLabel>(windows.at(3), "lblServer"), control<QLabel>(windows.at(4), "lblCode")};
    // Laid out in blue, drawn through the palette without a style sheet.
    for (QLabel* label : blueTexts) {
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(label->styleSheet().isEmpty());
    }
    // The desktop turns dark while the windows are open; the windows take
    // the new palette as it reaches them. The blue then reads well on what
    // is drawn behind it, the window or a lighter tab page.
    QApplication::setPalette(darkPalette());
    for (QLabel* label : blueTexts) {
        QTRY_COMPARE(label->palette().color(QPalette::Window), QColor(0x22, 0x20, 0x20));
        const QColor text = label->palette().color(QPalette::WindowText);
        const QColor background = drawnBackground(label);
        QVERIFY2(isBlue(text), qPrintable(text.name()));
        QVERIFY2(contrast(text, background) >= 4.5,
                 qPrintable(QStringLiteral("%1: %2 on %3")
                                .arg(label->objectName(), text.name(), background.name())));
    }
    // The other texts follow the scheme as they are.
    QCOMPARE(control<QLabel>(windows.at(0), "lblComments")->palette().color(QPalette::WindowText),
             QColor(255, 255, 255));
    QApplication::setPalette(QPalette());
    for (QLabel* label : blueTexts)
        QTRY_COMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
}

void TestAccessibility::textsFitTheirControls() {
    const QList<QWidget*> windows = openWindows();
    QStringList cut;
    auto* tabs = control<QTabWidget>(m_main, "tabClassReg");
    for (int page = 0; page < tabs->count(); ++page) {
        tabs->setCurrentIndex(page);
        cut << cutOffTexts(m_main);
    }
    // The wizard's two pages.
    QWidget* wizard = windows.at(1);
    cut << cutOffTexts(wizard);
    toSummaryPage(wizard);
    cut << cutOffTexts(wizard);
    cut << cutOffTexts(windows.at(2)) << cutOffTexts(windows.at(3));
    cut << cutOffTexts(windows.at(4)) << cutOffTexts(windows.at(5));
    QVERIFY2(cut.isEmpty(), qPrintable(cut.join(QStringLiteral("; "))));
}

QTEST_MAIN(TestAccessibility)
#include "test_accessibility.moc"
