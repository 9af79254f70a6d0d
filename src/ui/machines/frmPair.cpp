#include "frmPair.h"

#include "ui_frmPair.h"

#include "registration/creation.h"
#include "ui/common/accessibility.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"

#include <QPushButton>
#include <QSysInfo>

#include <pwd.h>
#include <unistd.h>

namespace {

// The code is large enough to compare across a room at a glance.
constexpr double kCodePointSize = 20;

}  // namespace

frmPair::frmPair(QWidget* parent) : QDialog(parent), ui(new Ui::frmPair) {
    ui->setupUi(this);
    common::setupLayoutWindow(this, Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint,
                              QStringLiteral(":/gears.png"));
    common::setLayoutFont(ui->lblCode, common::kLayoutFamily, kCodePointSize, true);
    common::setLayoutFont(ui->lblCommand, common::kLayoutFamily, common::kLayoutPointSize, true);
    ui->cmdImport->setVisible(false);
    ui->cmdRetry->setVisible(false);

    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmPair::cmdCancel_Click);
    connect(ui->cmdRetry, &QPushButton::clicked, this, &frmPair::cmdRetry_Click);
    connect(ui->cmdImport, &QPushButton::clicked, this, &frmPair::cmdImport_Click);
}

frmPair::~frmPair() = default;

QString frmPair::requestComment() {
    const passwd* user = ::getpwuid(::geteuid());
    const QString name =
        user ? QString::fromLocal8Bit(user->pw_name) : QString::number(::geteuid());
    return QStringLiteral("%1@%2 (Corvane)").arg(name, QSysInfo::machineHostName());
}

void frmPair::pairWith(const QString& machine) {
    m_machine = machine;
    setWindowTitle(tr("Pair with %1").arg(machine));
    ui->lblIntro->setText(
        tr("Corvane asks automation-host on %1 to serve you. Both computers show the same code; "
           "once its user has compared them and accepted, you can create objects there.")
            .arg(machine));
    common::PlaceForm(this, parentWidget());
    startPairing();
}

void frmPair::startPairing() {
    m_waiting = true;
    ui->lblCode->setText(QStringLiteral("--- ---"));
    ui->lblCode->setEnabled(false);
    ui->lblInstruction->setText(tr("The code shows here once %1 answers.").arg(m_machine));
    ui->lblInstruction->setVisible(true);
    ui->lblCommand->clear();
    ui->lblCommand->setVisible(false);
    ui->prgWaiting->setVisible(true);
    ui->cmdRetry->setVisible(false);
    ui->cmdImport->setVisible(false);
    ui->cmdCancel->setText(tr("Cancel"));
    ui->cmdCancel->setDefault(false);
    ui->cmdCancel->setFocus();
    showStatus(tr("Connecting to %1...").arg(m_machine));
    if (!m_pairing)
        m_pairing = registration::newMachinePairing();
    m_pairing->start(
        m_machine, requestComment(), [this](const QString& code) { Pairing_CodeShown(code); },
        [this](const registration::PairingOutcome& outcome) { Pairing_Finished(outcome); });
}

void frmPair::Pairing_CodeShown(const QString& code) {
    ui->lblCode->setText(code);
    ui->lblCode->setEnabled(true);
    // Read digit by digit, not as two numbers.
    QString spelled;
    for (const QChar digit : code) {
        if (digit.isDigit())
            spelled += digit + QLatin1Char(' ');
    }
    ui->lblCode->setAccessibleName(tr("Verification code %1").arg(spelled.trimmed()));
    ui->lblInstruction->setText(
        tr("Check that %1 shows this code, then accept the request there: choose Accept in its "
           "notification, or let the user who runs automation-host there run")
            .arg(m_machine));
    QString digits = code;
    digits.remove(QLatin1Char(' '));
    ui->lblCommand->setText(QStringLiteral("automationctl accept %1").arg(digits));
    ui->lblCommand->setVisible(true);
    showStatus(tr("Waiting for %1 to accept the request...").arg(m_machine));
}

void frmPair::Pairing_Finished(const registration::PairingOutcome& outcome) {
    m_waiting = false;
    if (!outcome.ok) {
        showStatus(tr("Not paired: %1").arg(common::asSentence(outcome.reason)));
        showEnded(false);
        return;
    }
    QString text = tr("Paired with %1.").arg(m_machine);
    if (outcome.alreadyAuthorized)
        text += QLatin1Char(' ') + tr("Its host knew you already; it is now known here too.");
    if (!outcome.replacedIdentity.isEmpty())
        text += QLatin1Char(' ') + tr("Its new identity replaces the one recorded before (%1).")
                                       .arg(outcome.replacedIdentity);
    text += QLatin1Char(' ') + tr("Import its classes to use them here.");
    showStatus(text);
    showEnded(true);
}

void frmPair::showEnded(bool paired) {
    // What the host's user had to do is done, or no longer possible.
    ui->lblInstruction->setVisible(false);
    ui->lblCommand->setVisible(false);
    ui->lblCode->setEnabled(paired);
    ui->prgWaiting->setVisible(false);
    ui->cmdImport->setVisible(paired);
    ui->cmdRetry->setVisible(!paired);
    ui->cmdCancel->setText(tr("Close"));
    ui->cmdCancel->setDefault(true);
    // The focus goes to what comes next; it is not left on a hidden button.
    if (paired)
        ui->cmdImport->setFocus();
    else
        ui->cmdRetry->setFocus();
    common::fitHeightToContents(this);
}

void frmPair::showStatus(const QString& text) {
    ui->lblStatus->setText(text);
    common::announce(ui->lblStatus);
    common::fitHeightToContents(this);
}

void frmPair::cmdCancel_Click() {
    reject();
}

void frmPair::cmdRetry_Click() {
    startPairing();
}

void frmPair::cmdImport_Click() {
    done(kImportNext);
}

void frmPair::reject() {
    if (m_waiting && m_pairing) {
        m_pairing->cancel();
        m_waiting = false;
    }
    QDialog::reject();
}
