#include "frmServerWizard.h"

#include "ui_frmServerWizard.h"

#include "app/files.h"
#include "app/messages.h"
#include "registration/serverstart.h"
#include "ui/common/fields.h"
#include "ui/common/filedialog.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"

#include <QKeyEvent>

namespace {

constexpr qint16 kServerPage = 0;
constexpr qint16 kSummaryPage = 3;

}  // namespace

frmServerWizard::frmServerWizard(QWidget* parent) : QDialog(parent), ui(new Ui::frmServerWizard) {
    ui->setupUi(this);
    // No control box: no system menu and no title-bar buttons. Where a window
    // manager offers a close box all the same, closing acts as Cancel.
    common::setupLayoutWindow(this, {});
    // The "..." button sits over the right end of the path box; the text
    // stops short of it so that it is never hidden underneath.
    ui->cmdBrowse->raise();
    ui->txtServer->setTextMargins(
        0, 0, ui->txtServer->geometry().right() - ui->cmdBrowse->geometry().left() + 1, 0);

    ui->txtServer->installEventFilter(this);
    for (QLabel* label : {ui->lblHeading, ui->lblMachine, ui->lblProtocol, ui->lblALevel})
        label->installEventFilter(this);
    connect(ui->cmdNext, &QPushButton::clicked, this, &frmServerWizard::cmdNext_Click);
    connect(ui->cmdBack, &QPushButton::clicked, this, &frmServerWizard::cmdBack_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmServerWizard::cmdCancel_Click);
    connect(ui->cmdBrowse, &QPushButton::clicked, this, &frmServerWizard::cmdBrowse_Click);

    Form_Load();
}

frmServerWizard::~frmServerWizard() = default;

void frmServerWizard::Form_Load() {
    common::PlaceForm(this, parentWidget());
    common::FillProtocols(ui->cboProtocol);
    common::FillAuthLevels(ui->cboALevel);
    ShowPage(kServerPage);
}

bool frmServerWizard::eventFilter(QObject* watched, QEvent* event) {
    if (watched == ui->txtServer && event->type() == QEvent::FocusIn) {
        txtServer_GotFocus();
    } else if (event->type() == QEvent::Shortcut && qobject_cast<QLabel*>(watched)) {
        // A label's access key moves the focus to the next control in tab
        // order that can take it, not to the control the label names (its
        // buddy, for screen readers): the labels come just before "...".
        QWidget* next = ui->cmdBrowse;
        while (!(next->isVisible() && next->isEnabled() && (next->focusPolicy() & Qt::TabFocus))) {
            next = next->nextInFocusChain();
            if (next == ui->cmdBrowse)
                return true;
        }
        next->setFocus(Qt::ShortcutFocusReason);
        return true;
    }
    return QDialog::eventFilter(watched, event);
}

void frmServerWizard::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        ui->cmdCancel->click();
        return;
    }
    QDialog::keyPressEvent(event);
}

void frmServerWizard::txtServer_GotFocus() {
    common::SelectAllText(ui->txtServer);
}

void frmServerWizard::ShowPage(qint16 page) {
    const bool summary = page == kSummaryPage;
    if (summary) {
        ui->lblHeading->setText(tr("You have successfully added a new Server called:"));
        ui->lblServerName->setText(ui->txtServer->text());
        ui->lblFinish->setText(
            tr("Click Finish to register the classes in this Server.\n\n"
               "To edit the classes later, run TALVO, enter the class name and "
               "click Properties."));
    } else {
        ui->lblHeading->setText(tr("&Enter the .EXE, .DLL or .VBR of the Server to register:"));
    }
    ui->txtServer->setVisible(!summary);
    ui->cmdBrowse->setVisible(!summary);
    ui->lblServerName->setVisible(summary);
    ui->lblFinish->setVisible(summary);
    const QList<QWidget*> remoteControls = {ui->txtClass,   ui->chkRemote,   ui->lblMachine,
                                            ui->cboMachine, ui->lblProtocol, ui->cboProtocol,
                                            ui->lblALevel,  ui->cboALevel};
    for (QWidget* remote : remoteControls)
        remote->hide();
    ui->cmdBack->setEnabled(summary);
    ui->cmdNext->setText(summary ? tr("Finish") : tr("&Next >"));
    ui->cmdNext->setAccessibleName(summary ? tr("Finish") : tr("Next"));
    // The control that had the focus may just have been hidden or disabled:
    // the path box on the server page, Finish on the summary page.
    if (summary)
        ui->cmdNext->setFocus(Qt::OtherFocusReason);
    else
        ui->txtServer->setFocus(Qt::OtherFocusReason);
    iPage = page;
}

bool frmServerWizard::refuse(const QString& text, const QString& title) {
    app::MsgBox(text, app::kOkExclamation, title);
    // After "already registered" too: the class box is hidden, the path box
    // is where the user can go on.
    ui->txtServer->setFocus(Qt::OtherFocusReason);
    return false;
}

bool frmServerWizard::ValidatePage(qint16& page) {
    if (page != kServerPage)
        return true;
    const QString path = ui->txtServer->text();
    if (path.trimmed().isEmpty())
        return refuse(tr("Server file must be entered"), app::kShortTitle);

    // The last three characters as typed, in any case; no dot is needed.
    const QString ending = path.right(3).toLower();
    iFileType = ending == QLatin1String("exe")   ? 0
                : ending == QLatin1String("dll") ? 1
                : ending == QLatin1String("vbr") ? 2
                                                 : 99;
    if (iFileType != 0)
        return refuse(tr("This version only registers .EXE servers"));

    if (!app::FileExists(path))
        return refuse(tr("%1 was not found").arg(path.trimmed()));

    // The executable chosen, not the hidden class box (which always names
    // the same class), decides: a server that no class names is new.
    const app::Result<bool> registered = registration::isServerRegistered(path);
    if (!registered)
        return refuse(common::failureText(*registered.failure()));
    if (registered.value())
        return refuse(tr("Server is already registered, use properties to change settings"));
    return true;
}

void frmServerWizard::RegisterServer() {
    Q_ASSERT(iFileType == 0);  // only .EXE servers get past the checks
    // On failure the wizard stays on the summary page, so that the user can
    // go back and pick another file.
    if (common::report(registration::startServer(ui->txtServer->text())))
        accept();
}

void frmServerWizard::cmdNext_Click() {
    if (iPage == kServerPage) {
        if (ValidatePage(iPage))
            ShowPage(kSummaryPage);
    } else if (iPage == kSummaryPage) {
        RegisterServer();
    }
}

void frmServerWizard::cmdBack_Click() {
    if (iPage == kSummaryPage)
        ShowPage(kServerPage);
}

void frmServerWizard::cmdCancel_Click() {
    reject();
}

void frmServerWizard::cmdBrowse_Click() {
    const std::optional<QString> chosen =
        common::getOpenFileName(this, tr("Select Server..."),
                                tr("Server (*.exe *.dll);;VB Reg (*.vbr)"), QStringLiteral("exe"));
    if (chosen)
        ui->txtServer->setText(*chosen);
}
