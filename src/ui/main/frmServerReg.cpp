#include "frmServerReg.h"

#include "ui_frmServerReg.h"

#include "app/messages.h"
#include "app/version.h"
#include "registration/remotesettings.h"
#include "settings/store.h"
#include "ui/common/contexthelp.h"
#include "ui/common/fields.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"
#include "ui/machines/frmImport.h"
#include "ui/machines/frmPair.h"
#include "ui/properties/frmServerProps.h"
#include "ui/test/frmTest.h"
#include "ui/wizard/frmServerWizard.h"

#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QMenu>
#include <QSignalBlocker>

frmServerReg::frmServerReg(QWidget* parent) : QDialog(parent), ui(new Ui::frmServerReg) {
    ui->setupUi(this);
    setWindowTitle(app::kAppTitle);
    common::setupLayoutWindow(this, common::kCloseAndHelpButtons, QStringLiteral(":/gears.png"));
    common::setLayoutFont(ui->lblTitle, common::kLayoutFamily, 9.75, true);
    common::installContextHelp(this);

    connect(ui->cboServers, &common::SimpleCombo::textChanged, this,
            &frmServerReg::cboServers_Change);
    connect(ui->cboServers, &common::SimpleCombo::itemClicked, this,
            &frmServerReg::cboServers_Click);
    connect(ui->cboServers, &common::SimpleCombo::itemDoubleClicked, this,
            &frmServerReg::cboServers_DblClick);
    connect(ui->cmdTest, &QPushButton::clicked, this, &frmServerReg::cmdTest_Click);
    connect(ui->cmdProp, &QPushButton::clicked, this, &frmServerReg::cmdProp_Click);
    connect(ui->cmdAdd, &QPushButton::clicked, this, &frmServerReg::cmdAdd_Click);
    connect(ui->cmdRemServer, &QPushButton::clicked, this, &frmServerReg::cmdRemServer_Click);
    connect(ui->cmdClose, &QPushButton::clicked, this, &frmServerReg::cmdClose_Click);
    // Any change of the selection counts as a click, so that Space, which
    // selects the current entry without moving, enables Remove too.
    connect(ui->lstMachines, &QListWidget::itemSelectionChanged, this,
            &frmServerReg::lstMachines_Click);
    connect(ui->lstMachines, &QListWidget::itemPressed, this, &frmServerReg::lstMachines_Click);
    connect(ui->cmdRemMachine, &QPushButton::clicked, this, &frmServerReg::cmdRemMachine_Click);
    // The mouse's context menu reaches the list's viewport; the keyboard's
    // (the Menu key, Shift+F10) the list, which has the focus.
    ui->lstMachines->installEventFilter(this);
    ui->lstMachines->viewport()->installEventFilter(this);
    m_machineMenu = new QMenu(this);
    m_machineMenu->setObjectName(QStringLiteral("mnuMachine"));
    m_machineMenu->setAccessibleName(tr("Machine commands"));
    common::setLayoutFont(m_machineMenu, common::kLayoutFamily, common::kLayoutPointSize);
    QAction* pair = m_machineMenu->addAction(tr("&Pair..."));
    pair->setObjectName(QStringLiteral("mnuPair"));
    QAction* import = m_machineMenu->addAction(tr("&Import Classes..."));
    import->setObjectName(QStringLiteral("mnuImport"));
    // Queued: the dialogs open once the menu has closed.
    connect(pair, &QAction::triggered, this, &frmServerReg::mnuPair_Click, Qt::QueuedConnection);
    connect(import, &QAction::triggered, this, &frmServerReg::mnuImport_Click,
            Qt::QueuedConnection);
    // Started by the first paint; with no interval, it fires on the event
    // loop's next turn.
    m_loadAfterPaint.setSingleShot(true);
    connect(&m_loadAfterPaint, &QTimer::timeout, this, &frmServerReg::loadLists);

    Form_Load();
}

frmServerReg::~frmServerReg() = default;

void frmServerReg::Form_Load() {
    common::CentreForm(this);
    ui->cmdRemServer->setEnabled(false);
    ui->cmdRemMachine->setEnabled(false);
    ui->lblTitle->setText(QStringLiteral("%1 - v%2.%3.%4")
                              .arg(settings::kApplication)
                              .arg(app::kVersionMajor)
                              .arg(app::kVersionMinor)
                              .arg(app::kVersionRevision));
    ui->lblCopyright->setText(QCoreApplication::translate("About", app::kLegalNotice));
    ui->lblComments->setText(QCoreApplication::translate("About", app::kComments));
    // The lists wait for the first paint (loadLists): the window opens on the
    // About page, where they are not seen.
}

void frmServerReg::paintEvent(QPaintEvent* event) {
    QDialog::paintEvent(event);
    // The window's first paint event comes as its first frame is drawn, and
    // that frame is put on the screen before the event loop takes its next
    // event: a timer started now reads the store once the user sees the
    // window. (One started on the show event could fire before the window
    // system asks for that frame.)
    if (m_lists == Lists::Pending) {
        m_lists = Lists::Queued;
        m_loadAfterPaint.start();
    }
}

void frmServerReg::loadLists() {
    if (m_lists == Lists::Loading || m_lists == Lists::Loaded)
        return;
    // A message about the store, shown from here, runs an event loop of its
    // own; the lists are not loaded twice meanwhile.
    m_lists = Lists::Loading;
    const QString typed = ui->cboServers->text();
    LoadServers();
    if (!typed.isEmpty())
        ui->cboServers->setText(typed);
    fillMachineList();
    m_lists = Lists::Loaded;
    Q_EMIT listsLoaded();
}

void frmServerReg::LoadServers() {
    ui->cboServers->clear();
    const app::Result<QStringList> servers = settings::Servers();
    common::report(servers);
    ui->cboServers->addItems(servers.value());
}

// Refilling is not a click: the Remove button keeps its state.
void frmServerReg::fillMachineList() {
    const QSignalBlocker blocker(ui->lstMachines);
    common::FillMachines(ui->lstMachines);
}

bool frmServerReg::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::ContextMenu) {
        auto* menuEvent = static_cast<QContextMenuEvent*>(event);
        const bool byMouse = menuEvent->reason() == QContextMenuEvent::Mouse;
        if (watched == ui->lstMachines->viewport() || !byMouse) {
            lstMachines_ContextMenu(byMouse ? menuEvent->pos() : QPoint(), byMouse);
            return true;
        }
    } else if (event->type() == QEvent::KeyPress && watched == ui->lstMachines) {
        // Not every platform turns these keys into a context menu event.
        const auto* key = static_cast<QKeyEvent*>(event);
        if ((key->key() == Qt::Key_F10 && key->modifiers() == Qt::ShiftModifier) ||
            (key->key() == Qt::Key_Menu && key->modifiers() == Qt::NoModifier)) {
            lstMachines_ContextMenu(QPoint(), false);
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}

void frmServerReg::lstMachines_ContextMenu(const QPoint& at, bool byMouse) {
    // One menu at a time: a platform may send both the key and its event.
    if (m_machineMenu->isVisible())
        return;
    QListWidget* list = ui->lstMachines;
    QListWidgetItem* item = nullptr;
    if (byMouse) {
        item = list->itemAt(at);
    } else {
        const QList<QListWidgetItem*> selected = list->selectedItems();
        item = selected.isEmpty() ? list->currentItem() : selected.first();
    }
    // The menu acts on the entry it was opened for, which shows selected.
    if (item) {
        list->setCurrentItem(item);
        item->setSelected(true);
    }
    m_menuMachine = item ? item->text().trimmed() : QString();
    const QList<QAction*> actions = m_machineMenu->actions();
    for (QAction* action : actions)
        action->setEnabled(!m_menuMachine.isEmpty());
    QPoint where = at;
    if (!byMouse)
        where = item ? list->visualItemRect(item).bottomLeft() : QPoint(0, 0);
    m_machineMenu->popup(list->viewport()->mapToGlobal(where));
}

void frmServerReg::mnuPair_Click() {
    machineDialogs(m_menuMachine, true);
}

void frmServerReg::mnuImport_Click() {
    machineDialogs(m_menuMachine, false);
}

void frmServerReg::machineDialogs(const QString& machine, bool pairFirst) {
    if (machine.isEmpty())
        return;
    loadLists();
    for (bool pair = pairFirst;; pair = !pair) {
        if (pair) {
            auto* dialog = new frmPair(this);
            dialog->pairWith(machine);
            if (dialog->exec() != frmPair::kImportNext)
                return;
        } else {
            auto* dialog = new frmImport(this);
            dialog->importFrom(machine);
            const int result = dialog->exec();
            // The imported classes join the server list; a name being typed stays.
            const QString typed = ui->cboServers->text();
            LoadServers();
            ui->cboServers->setText(typed);
            if (result != frmImport::kPairNext)
                return;
        }
    }
}

void frmServerReg::keyPressEvent(QKeyEvent* event) {
    // The window has no cancel button: Escape does nothing.
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmServerReg::cboServers_Change(const QString& text) {
    if (text.trimmed().isEmpty())
        ui->cmdRemServer->setEnabled(false);
}

void frmServerReg::cboServers_Click(int) {
    ui->cmdRemServer->setEnabled(ui->cboServers->currentIndex() >= 0);
}

QString frmServerReg::enteredServer() {
    QString name = ui->cboServers->text().trimmed();
    if (name.isEmpty())
        app::MsgBox(tr("Server must be entered"), app::kOkExclamation, app::kShortTitle);
    return name;
}

void frmServerReg::cmdTest_Click() {
    const QString name = enteredServer();
    if (name.isEmpty())
        return;
    // Returns at once, the test running on. A test window that is open
    // already keeps its earlier test; it comes to the front, where the user
    // sees it, perhaps from behind other windows.
    frmTest::Load(name);
    frmTest* test = frmTest::instance();
    test->raise();
    test->activateWindow();
}

void frmServerReg::cmdProp_Click() {
    loadLists();
    const QString name = enteredServer();
    if (name.isEmpty())
        return;
    const auto read = registration::readRemoteSettings(name);
    if (!common::report(read))
        return;
    const std::optional<registration::ActivationSettings>& current = read.value();
    if (!current) {
        app::MsgBox(tr("Server has not been registered"), app::kOkExclamation, app::kShortTitle);
        return;
    }

    auto* dialog = new frmServerProps(this);
    dialog->bRemote = current->remote;
    if (current->remote) {
        dialog->sMachine = current->machine;
        dialog->sProtocol = current->protocol;
        dialog->sALevel = current->level;
    }
    common::report(settings::AddServer(name));
    dialog->setServer(name);
    dialog->exec();

    LoadServers();
    fillMachineList();
    ui->cboServers->setText(name);
    ui->cboServers->setFocus();
}

void frmServerReg::cboServers_DblClick(int) {
    cmdProp_Click();
}

void frmServerReg::cmdAdd_Click() {
    loadLists();
    auto* wizard = new frmServerWizard(this);
    wizard->exec();
    LoadServers();
}

void frmServerReg::cmdRemServer_Click() {
    loadLists();
    const QString name = ui->cboServers->text().trimmed();
    if (app::MsgBox(tr("Remove %1?").arg(name), app::kYesNoQuestion, app::kShortTitle) !=
        app::kAnswerYes)
        return;
    // After a store failure, told to the user, the list keeps the entry so
    // that it does not pretend the server was forgotten.
    if (!common::report(settings::removeServer(name)))
        return;
    const int index = ui->cboServers->currentIndex();
    if (index >= 0)
        ui->cboServers->removeItem(index);
    ui->cmdRemServer->setEnabled(false);
}

void frmServerReg::cmdClose_Click() {
    close();
}

void frmServerReg::lstMachines_Click() {
    ui->cmdRemMachine->setEnabled(!ui->lstMachines->selectedItems().isEmpty());
}

void frmServerReg::cmdRemMachine_Click() {
    loadLists();
    const QList<QListWidgetItem*> selected = ui->lstMachines->selectedItems();
    if (selected.isEmpty())
        return;
    QListWidgetItem* item = selected.first();
    // The key is deleted exactly as stored: a machine recorded with blanks
    // around its name can be forgotten too.
    const QString key = item->text();
    if (app::MsgBox(tr("Remove %1?").arg(key.trimmed()), app::kYesNoQuestion, app::kShortTitle) !=
        app::kAnswerYes)
        return;
    if (!common::report(settings::removeMachine(key)))
        return;
    delete ui->lstMachines->takeItem(ui->lstMachines->row(item));
    ui->cmdRemMachine->setEnabled(false);
}
