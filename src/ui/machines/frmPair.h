#pragma once

#include "registration/objectcreator.h"

#include <QDialog>
#include <QString>

#include <memory>

namespace Ui {
class frmPair;
}

// Pairs this user with automation-host on a machine: sends the request,
// shows the verification code that the host's user compares before
// accepting, and waits for the answer without holding up the program.
class frmPair : public QDialog {
    Q_OBJECT
public:
    explicit frmPair(QWidget* parent = nullptr);
    ~frmPair() override;
    Q_DISABLE_COPY_MOVE(frmPair)

    // Starts pairing with machine (trimmed, as the Machines page lists it).
    // Called once, before the dialog is shown.
    void pairWith(const QString& machine);

    // What exec() returns when the user chose to import the machine's
    // classes next (the dialog is gone by then).
    static constexpr int kImportNext = QDialog::Accepted + 1;

    // What the host's user sees beside the request: who asks, from where.
    static QString requestComment();

public Q_SLOTS:
    // Withdraws a request still waiting for its answer.
    void reject() override;

private Q_SLOTS:
    void cmdCancel_Click();
    void cmdRetry_Click();
    void cmdImport_Click();

private:
    void Pairing_CodeShown(const QString& code);
    void Pairing_Finished(const registration::PairingOutcome& outcome);
    void startPairing();
    void showStatus(const QString& text);
    void showEnded(bool paired);

    std::unique_ptr<Ui::frmPair> ui;
    QString m_machine;
    bool m_waiting = false;
    // Declared after ui: a pairing still waiting when the dialog goes is
    // withdrawn while the controls still exist.
    std::unique_ptr<registration::MachinePairing> m_pairing;
};
