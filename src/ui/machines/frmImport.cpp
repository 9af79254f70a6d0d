#include "frmImport.h"

#include "ui_frmImport.h"

#include "registration/creation.h"
#include "settings/store.h"
#include "ui/common/accessibility.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"

#include <QListWidgetItem>
#include <QPushButton>

frmImport::frmImport(QWidget* parent) : QDialog(parent), ui(new Ui::frmImport) {
    ui->setupUi(this);
    common::setupLayoutWindow(this, Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint,
                              QStringLiteral(":/gears.png"));
    ui->cmdPair->setVisible(false);
    ui->cmdImport->setEnabled(false);
    ui->cmdImport->setDefault(true);

    connect(ui->lstClasses, &QListWidget::itemChanged, this, &frmImport::lstClasses_ItemChanged);
    connect(ui->cmdImport, &QPushButton::clicked, this, &frmImport::cmdImport_Click);
    connect(ui->cmdPair, &QPushButton::clicked, this, &frmImport::cmdPair_Click);
    connect(ui->cmdCancel, &QPushButton::clicked, this, &frmImport::reject);
}

frmImport::~frmImport() = default;

void frmImport::importFrom(const QString& machine) {
    m_machine = machine;
    setWindowTitle(tr("Import Classes from %1").arg(machine));
    ui->lblIntro->setText(
        tr("These are the classes that automation-host on %1 creates for you. The checked ones "
           "are registered on this computer for activation on %1; their servers stay there.")
            .arg(machine));
    common::PlaceForm(this, parentWidget());
    ui->lstClasses->setEnabled(false);
    ui->cmdCancel->setFocus();
    showStatus(tr("Asking %1 for its classes...").arg(machine));
    m_import = registration::newClassImport();
    m_import->list(machine, [this](const registration::ClassesOutcome& outcome) {
        Listing_Finished(outcome);
    });
}

void frmImport::Listing_Finished(const registration::ClassesOutcome& outcome) {
    if (!outcome.ok) {
        QString text = tr("Could not ask %1 for its classes: %2")
                           .arg(m_machine, common::asSentence(outcome.reason));
        if (outcome.needsPairing) {
            text += QLatin1Char(' ') + tr("Pair with %1 first, then import.").arg(m_machine);
            ui->cmdPair->setVisible(true);
            ui->cmdPair->setDefault(true);
            ui->cmdPair->setFocus();
        }
        showStatus(text);
        return;
    }
    {
        // Filling is not a change of the user's choice.
        const QSignalBlocker blocker(ui->lstClasses);
        for (const QString& name : outcome.classes) {
            auto* item = new QListWidgetItem(name, ui->lstClasses);
            item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
            item->setCheckState(Qt::Checked);
        }
    }
    if (outcome.classes.isEmpty()) {
        showStatus(tr("%1 serves you no class.").arg(m_machine));
        return;
    }
    ui->lstClasses->setEnabled(true);
    ui->lstClasses->setCurrentRow(0);
    ui->lstClasses->setFocus();
    ui->cmdImport->setEnabled(true);
    showStatus(
        tr("Check the classes to register here; Space checks or unchecks the one "
           "with the focus."));
}

QStringList frmImport::checkedClasses() const {
    QStringList checked;
    for (int row = 0; row < ui->lstClasses->count(); ++row) {
        const QListWidgetItem* item = ui->lstClasses->item(row);
        if (item->checkState() == Qt::Checked)
            checked << item->text();
    }
    return checked;
}

void frmImport::lstClasses_ItemChanged() {
    ui->cmdImport->setEnabled(!checkedClasses().isEmpty());
}

void frmImport::cmdImport_Click() {
    const QStringList classes = checkedClasses();
    if (classes.isEmpty())
        return;
    const registration::ClassesOutcome outcome = m_import->import(m_machine, classes);
    if (!outcome.ok) {
        showStatus(tr("Import failed: %1").arg(common::asSentence(outcome.reason)));
        return;
    }
    // Listed on the Server page, ready for Properties and Test.
    for (const QString& name : outcome.classes) {
        if (!common::report(settings::AddServer(name)))
            break;
    }
    showStatus(tr("Registered for activation on %1, and listed on the Server page: %2.")
                   .arg(m_machine, outcome.classes.join(QStringLiteral(", "))));
    ui->cmdImport->setEnabled(false);
    ui->cmdCancel->setText(tr("Close"));
    ui->cmdCancel->setDefault(true);
    ui->cmdCancel->setFocus();
}

void frmImport::cmdPair_Click() {
    done(kPairNext);
}

void frmImport::reject() {
    if (m_import)
        m_import->cancel();
    QDialog::reject();
}

void frmImport::showStatus(const QString& text) {
    ui->lblStatus->setText(text);
    common::announce(ui->lblStatus);
    common::fitHeightToContents(this);
}
