#include "windowtour.h"

#include "app/messages.h"
#include "settings/store.h"
#include "ui/common/messageboxes.h"
#include "ui/common/simplecombo.h"
#include "ui/machines/frmImport.h"
#include "ui/machines/frmPair.h"
#include "ui/main/frmServerReg.h"
#include "ui/properties/frmServerProps.h"
#include "ui/test/frmTest.h"
#include "ui/wizard/frmServerWizard.h"

#include <QFileDialog>
#include <QLineEdit>
#include <QMenu>
#include <QTcpServer>
#include <QTextDocument>

namespace tour {

namespace {

void fail(const QString& what) {
    qFatal("%s", qPrintable(what));
}

// Shows a window made for the scene, lets look see it, and closes it.
void lookAt(const Scene& scene, QWidget* window, const Look& look) {
    window->show();
    if (!QTest::qWaitForWindowExposed(window))
        fail(QStringLiteral("%1: not shown").arg(scene.name));
    look(scene, window);
    window->close();
}

// Runs action, which opens the modal dialog of that class, and lets look see
// it; then closes it with Escape, which every one of them takes as No or
// Cancel.
void lookAtModal(const Scene& scene, const char* className, const std::function<void()>& action,
                 const Look& look) {
    ModalSteps steps(className, [&](QWidget* dialog) {
        look(scene, dialog);
        QTest::keyClick(dialog, Qt::Key_Escape);
    });
    action();
    if (!steps.ran())
        fail(QStringLiteral("%1: no dialog").arg(scene.name));
}

// A host that takes connections and never answers, so that the pairing and
// import dialogs stay in their first state while they are looked at.
class SilentHost {
public:
    SilentHost() {
        if (!m_server.listen(QHostAddress::LocalHost))
            fail(QStringLiteral("no port for a silent host"));
        m_port = qgetenv("AUTOMATION_HOST_PORT");
        qputenv("AUTOMATION_HOST_PORT", QByteArray::number(m_server.serverPort()));
    }
    ~SilentHost() { qputenv("AUTOMATION_HOST_PORT", m_port); }
    Q_DISABLE_COPY_MOVE(SilentHost)

private:
    QTcpServer m_server;
    QByteArray m_port;
};

void showPage(QWidget* main, int page) {
    control<QTabWidget>(main, "tabClassReg")->setCurrentIndex(page);
}

// The controls whose text is the user's data or the program's name: the
// title with the version, the class name a dialog is about, the path the
// wizard registers, the machines and servers remembered, a pairing's code
// and the command that accepts it, a host's classes.
bool isData(const QWidget* widget) {
    static const QStringList names = {QStringLiteral("lblTitle"),      QStringLiteral("lblServer"),
                                      QStringLiteral("lblServerName"), QStringLiteral("cboMachine"),
                                      QStringLiteral("lblCode"),       QStringLiteral("lblCommand"),
                                      QStringLiteral("lstClasses")};
    return names.contains(widget->objectName());
}

void add(QList<Shown>& shown, const QWidget* widget, const char* what, const QString& text) {
    if (text.trimmed().isEmpty())
        return;
    const QString where = QStringLiteral("%1 %2 (%3)")
                              .arg(QLatin1String(widget->metaObject()->className()),
                                   widget->objectName(), QLatin1String(what));
    shown.append({where, text});
}

// A rich text as a reader sees it.
QString plain(const QString& text) {
    if (!Qt::mightBeRichText(text))
        return text;
    QTextDocument document;
    document.setHtml(text);
    return document.toPlainText();
}

// The file dialog's own texts are Qt's; the title and the file types are
// the wizard's.
QList<Shown> fileDialogTexts(QWidget* dialog) {
    QList<Shown> shown;
    add(shown, dialog, "title", dialog->windowTitle());
    for (const QString& filter : static_cast<QFileDialog*>(dialog)->nameFilters())
        add(shown, dialog, "file type", filter);
    return shown;
}

QChar accessKey(const QString& caption) {
    for (qsizetype i = 0; i + 1 < caption.size(); ++i) {
        if (caption[i] != QLatin1Char('&'))
            continue;
        if (caption[i + 1] != QLatin1Char('&'))
            return caption[i + 1].toLower();
        ++i;
    }
    return {};
}

}  // namespace

WindowTour::WindowTour() : m_env(std::make_unique<ScopedXdgEnvironment>()) {
    if (!settings::AddServer(QStringLiteral("Server.Application")) ||
        !settings::AddMachine(QStringLiteral("far.example")))
        fail(QStringLiteral("settings store not usable"));
    QFile server(m_env->root() + QStringLiteral("/Server.exe"));
    if (!server.open(QIODevice::WriteOnly))
        fail(QStringLiteral("no server file"));
    m_previousPresenter = app::setMessagePresenter(nullptr);
    common::installMessageBoxes();
}

WindowTour::~WindowTour() {
    if (QPointer<frmTest> test = frmTest::instance()) {
        test->close();
        if (!QTest::qWaitFor([&] { return test.isNull(); }))
            qWarning("the test window stays open");
    }
    delete m_main;  // and the dialogs it owns
    app::setMessagePresenter(m_previousPresenter);
}

frmServerReg* WindowTour::main() {
    if (!m_main) {
        m_main = new frmServerReg;
        m_main->show();
        if (!QTest::qWaitFor([this] { return m_main->listsAreLoaded(); }))
            fail(QStringLiteral("main window's lists not loaded"));
    }
    return m_main;
}

QList<Scene> WindowTour::scenes() {
    using L = Layout;
    const auto page = [this](int index) {
        return [this, index](const Scene& scene, const Look& look) {
            showPage(main(), index);
            look(scene, main());
        };
    };
    const QString serverFile = m_env->root() + QStringLiteral("/Server.exe");
    return {
        {QStringLiteral("main window, Server page"), L::Fixed, page(0)},
        {QStringLiteral("main window, Machines page"), L::Fixed, page(1)},
        {QStringLiteral("main window, About page"), L::Fixed, page(2)},
        {QStringLiteral("wizard, server page"), L::Fixed,
         [this](const Scene& s, const Look& look) {
             lookAt(s, new frmServerWizard(main()), look);
         }},
        {QStringLiteral("wizard, summary page"), L::Fixed,
         [this, serverFile](const Scene& s, const Look& look) {
             auto* wizard = new frmServerWizard(main());
             control<QLineEdit>(wizard, "txtServer")->setText(serverFile);
             control<QPushButton>(wizard, "cmdNext")->click();
             lookAt(s, wizard, look);
         }},
        {QStringLiteral("wizard, file dialog"), L::FileDialog,
         [this](const Scene& s, const Look& look) {
             auto* wizard = new frmServerWizard(main());
             wizard->show();
             lookAtModal(
                 s, "QFileDialog", [&] { control<QPushButton>(wizard, "cmdBrowse")->click(); },
                 look);
             wizard->close();
         }},
        {QStringLiteral("properties, remote details"), L::Fixed,
         [this](const Scene& s, const Look& look) {
             auto* props = new frmServerProps(main());
             props->bRemote = true;
             props->sMachine = QStringLiteral("far.example");
             props->setServer(QStringLiteral("Server.Application"));
             lookAt(s, props, look);
         }},
        {QStringLiteral("test window, outcome"), L::Fixed,
         [](const Scene& s, const Look& look) {
             frmTest::Load(QStringLiteral("Not.Registered"));
             QPointer<frmTest> test = frmTest::instance();
             if (!test ||
                 !QTest::qWaitFor([&] { return control<QPushButton>(test, "cmdOK")->isEnabled(); }))
                 fail(QStringLiteral("no test outcome"));
             look(s, test);
             test->close();
         }},
        {QStringLiteral("Machines page, context menu"), L::Menu,
         [this](const Scene& s, const Look& look) {
             showPage(main(), 1);
             auto* machines = control<QListWidget>(main(), "lstMachines");
             machines->setCurrentRow(0);
             lookAtModal(
                 s, "QMenu", [&] { QTest::keyClick(machines, Qt::Key_F10, Qt::ShiftModifier); },
                 look);
         }},
        {QStringLiteral("pair dialog, waiting"), L::Fixed,
         [this](const Scene& s, const Look& look) {
             const SilentHost host;
             auto* pair = new frmPair(main());
             pair->pairWith(QStringLiteral("127.0.0.1"));
             lookAt(s, pair, look);
         }},
        {QStringLiteral("import dialog, asking"), L::Fixed,
         [this](const Scene& s, const Look& look) {
             const SilentHost host;
             auto* import = new frmImport(main());
             import->importFrom(QStringLiteral("127.0.0.1"));
             lookAt(s, import, look);
         }},
        {QStringLiteral("message box, exclamation"), L::MessageBox,
         [this](const Scene& s, const Look& look) {
             showPage(main(), 0);
             control<common::SimpleCombo>(main(), "cboServers")->setText(QString());
             lookAtModal(
                 s, "QMessageBox", [&] { control<QPushButton>(main(), "cmdTest")->click(); }, look);
         }},
        {QStringLiteral("message box, question"), L::MessageBox,
         [this](const Scene& s, const Look& look) {
             showPage(main(), 1);
             control<QListWidget>(main(), "lstMachines")->setCurrentRow(0);
             lookAtModal(
                 s, "QMessageBox", [&] { control<QPushButton>(main(), "cmdRemMachine")->click(); },
                 look);
         }},
    };
}

void WindowTour::visit(const Look& look) {
    const QList<Scene> all = scenes();
    for (const Scene& scene : all)
        scene.visit(scene, look);
}

QList<Shown> textsOf(const Scene& scene, QWidget* window) {
    if (scene.layout == Layout::FileDialog)
        return fileDialogTexts(window);
    QList<Shown> shown;
    // A menu's entries are its actions.
    if (auto* menu = qobject_cast<QMenu*>(window)) {
        for (const QAction* action : menu->actions())
            add(shown, menu, "entry", action->text());
        return shown;
    }
    // The main window's and the message boxes' titles are the program's name.
    if (scene.layout == Layout::Fixed && window->objectName() != QLatin1String("frmServerReg"))
        add(shown, window, "title", window->windowTitle());
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : std::as_const(widgets)) {
        if (!widget->isVisible() || isData(widget))
            continue;
        // A message box's buttons are Qt's, translated by Qt's catalogue.
        if (scene.layout == Layout::MessageBox && qobject_cast<QAbstractButton*>(widget))
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget))
            add(shown, widget, "text", label->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            add(shown, widget, "text", button->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            add(shown, widget, "title", group->title());
        else if (auto* tabs = qobject_cast<QTabWidget*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                add(shown, widget, "tab", tabs->tabText(i));
        else if (auto* combo = qobject_cast<QComboBox*>(widget); combo && !combo->isEditable())
            for (int i = 0; i < combo->count(); ++i)
                add(shown, widget, "choice", combo->itemText(i));
        add(shown, widget, "accessible name", widget->accessibleName());
        add(shown, widget, "accessible description", widget->accessibleDescription());
        add(shown, widget, "What's This", plain(widget->whatsThis()));
        // The test's reason is the automation layer's, which speaks English
        // as its tools and logs do.
        if (widget->objectName() != QLatin1String("lblStatus"))
            add(shown, widget, "tool tip", plain(widget->toolTip()));
    }
    return shown;
}

QStringList repeatedAccessKeys(QWidget* window) {
    QMap<QChar, QStringList> users;
    const auto use = [&](const QWidget* widget, const QString& caption) {
        if (const QChar key = accessKey(caption); !key.isNull())
            users[key] << widget->objectName() + QStringLiteral(" \"") + caption + QLatin1Char('"');
    };
    if (auto* menu = qobject_cast<QMenu*>(window)) {
        for (const QAction* action : menu->actions())
            use(menu, action->text());
    }
    const QList<QWidget*> widgets = window->findChildren<QWidget*>();
    for (QWidget* widget : widgets) {
        if (widget->window() != window)
            continue;
        if (auto* label = qobject_cast<QLabel*>(widget); label && label->buddy())
            use(widget, label->text());
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            use(widget, button->text());
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            use(widget, group->title());
        else if (auto* tabs = qobject_cast<QTabWidget*>(widget))
            for (int i = 0; i < tabs->count(); ++i)
                use(widget, tabs->tabText(i));
    }
    QStringList repeated;
    for (auto it = users.cbegin(); it != users.cend(); ++it) {
        if (it.value().size() > 1)
            repeated << QStringLiteral("'%1' in %2")
                            .arg(it.key(), it.value().join(QStringLiteral(", ")));
    }
    return repeated;
}

}  // namespace tour
