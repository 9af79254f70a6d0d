#pragma once

#include "registration/objectcreator.h"

#include <QDialog>
#include <QString>
#include <QStringList>

#include <memory>

namespace Ui {
class frmImport;
}

// Lists the classes that automation-host on a machine serves this user and
// registers the ones the user checks for remote activation there, with no
// server installed on this computer.
class frmImport : public QDialog {
    Q_OBJECT
public:
    explicit frmImport(QWidget* parent = nullptr);
    ~frmImport() override;
    Q_DISABLE_COPY_MOVE(frmImport)

    // Asks machine (trimmed, as the Machines page lists it) for its classes.
    // Called once, before the dialog is shown.
    void importFrom(const QString& machine);

    // What exec() returns when the host does not know this user yet and
    // the user chose to pair with it (the dialog is gone by then).
    static constexpr int kPairNext = QDialog::Accepted + 1;

public Q_SLOTS:
    // Abandons a listing still waiting for the host.
    void reject() override;

private Q_SLOTS:
    void lstClasses_ItemChanged();
    void cmdImport_Click();
    void cmdPair_Click();

private:
    void Listing_Finished(const registration::ClassesOutcome& outcome);
    QStringList checkedClasses() const;
    void showStatus(const QString& text);

    std::unique_ptr<Ui::frmImport> ui;
    QString m_machine;
    // Declared after ui: a listing still pending when the dialog goes is
    // abandoned while the controls still exist.
    std::unique_ptr<registration::ClassImport> m_import;
};
