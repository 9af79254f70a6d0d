#include "frmServerProps.h"

#include "ui_frmServerProps.h"

#include "app/messages.h"
#include "registration/remotesettings.h"
#include "settings/options.h"
#include "settings/store.h"
#include "ui/common/contexthelp.h"
#include "ui/common/fields.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"

#include <QFocusEvent>
#include <QLineEdit>
#include <QTimer>

frmServerProps::frmServerProps(QWidget* parent) : QDialog(parent), ui(new Ui::frmServerProps) {
    ui->setupUi(this);
    common::setupLayoutWindow(this, common::kCloseAndHelpButtons, QStringLiteral(":/gears.png"));
    common::setLayoutFont(ui->lblServer, common::kLayoutFamily, 9.75);
    common::installContextHelp(this);

    // The machine is sent exactly as typed: no completion may add to it.
    // Without a completer the combo also leaves Enter to the dialog's default
    // button and matches its items case-sensitively when editing ends, so it
    // never respells the text after a list entry.
    ui->cboMachine->setCompleter(nullptr);
    ui->cboMachine->installEventFilter(this);
    ui->cboMachine->lineEdit()->installEventFilter(this);
    m_selectAllLater.setSingleShot(true);
    m_selectAllLater.setInterval(0);
    connect(&m_selectAllLater, &QTimer::timeout, this, &frmServerProps::cboMachine_SelectAll);

    connect(ui->chkRemote, &QCheckBox::toggled, this, &frmServerProps::chkRemote_Click);
    connect(ui->cmdOK, &QPushButton::clicked, this, &frmServerProps::cmdOK_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmServerProps::cmdCancel_Click);

    ui->chkRemote->setFocus();
}

frmServerProps::~frmServerProps() = default;

void frmServerProps::setServer(const QString& className) {
    if (!m_loaded) {
        m_loaded = true;
        Form_Load();
    }
    ui->lblServer->setText(className);
}

void frmServerProps::Form_Load() {
    common::PlaceForm(this, parentWidget());
    ui->cboMachine->setEditText(QString());
    common::FillMachines(ui->cboMachine);
    common::FillProtocols(ui->cboProtocol);
    common::FillAuthLevels(ui->cboALevel);
    SetupProps();
}

void frmServerProps::SetupProps() {
    if (!bRemote) {
        ui->chkRemote->setChecked(false);
        ui->fraRemote->setVisible(false);
        return;
    }
    ui->chkRemote->setChecked(true);
    ui->fraRemote->setVisible(true);

    ui->cboMachine->setEditText(sMachine);
    // Host names ignore letter case. Every match is selected in turn, so the
    // last of several equal entries wins.
    const QString machine = sMachine.trimmed();
    for (int i = 0; i < ui->cboMachine->count(); ++i) {
        if (ui->cboMachine->itemText(i).trimmed().compare(machine, Qt::CaseInsensitive) == 0)
            ui->cboMachine->setCurrentIndex(i);
    }
    // An unknown code keeps "[None]", which the fill routines selected.
    if (const int protocol = settings::protocolIndex(sProtocol); protocol >= 0)
        ui->cboProtocol->setCurrentIndex(protocol);
    if (const int level = settings::authLevelIndex(sALevel); level >= 0)
        ui->cboALevel->setCurrentIndex(level);
}

void frmServerProps::chkRemote_Click() {
    ui->fraRemote->setVisible(ui->chkRemote->isChecked());
}

void frmServerProps::cmdOK_Click() {
    const QString server = ui->lblServer->text();
    app::Result<registration::Remembered> saved;
    if (ui->chkRemote->isChecked()) {
        const QString machine = ui->cboMachine->currentText();
        if (machine.trimmed().isEmpty()) {
            app::MsgBox(tr("A machine name or IP address must be specified"), app::kOkExclamation,
                        app::kShortTitle);
            ui->cboMachine->setFocus();
            return;
        }
        // Recorded before the update, so the machine is remembered even when
        // the update fails.
        common::report(settings::AddMachine(machine));
        saved = registration::SaveRemoteSettings(
            true, server, machine, settings::protocolCode(ui->cboProtocol->currentIndex()),
            settings::authLevelCode(ui->cboALevel->currentIndex()));
    } else {
        saved = registration::SaveRemoteSettings(false, server);
    }
    // On failure the entries stay for another try. A class that could not be
    // remembered is still saved.
    if (!common::report(saved))
        return;
    common::report(saved.value());
    accept();
}

void frmServerProps::cmdCancel_Click() {
    reject();
}

void frmServerProps::cboMachine_SelectAll() {
    common::SelectAllText(ui->cboMachine);
}

void frmServerProps::cboMachine_GotFocus(Qt::FocusReason reason) {
    cboMachine_SelectAll();
    // A click places the cursor after the focus has arrived; select again
    // once the click has been handled.
    if (reason == Qt::MouseFocusReason)
        m_selectAllLater.start();
}

bool frmServerProps::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == ui->cboMachine || watched == ui->cboMachine->lineEdit()) &&
        event->type() == QEvent::FocusIn)
        cboMachine_GotFocus(static_cast<QFocusEvent*>(event)->reason());
    return QDialog::eventFilter(watched, event);
}
