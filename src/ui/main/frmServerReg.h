#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmServerReg;
}

// The main window: remembered servers with their commands, remembered
// machines, and the About page.
class frmServerReg : public QDialog {
    Q_OBJECT
public:
    explicit frmServerReg(QWidget* parent = nullptr);
    ~frmServerReg() override;
    Q_DISABLE_COPY_MOVE(frmServerReg)

    // Refills the server list from the settings store and clears the text.
    void LoadServers();

protected:
    void keyPressEvent(QKeyEvent* event) override;

private Q_SLOTS:
    void cboServers_Change(const QString& text);
    void cboServers_Click(int index);
    void cboServers_DblClick(int index);
    void cmdTest_Click();
    void cmdProp_Click();
    void cmdAdd_Click();
    void cmdRemServer_Click();
    void cmdClose_Click();
    void lstMachines_Click();
    void cmdRemMachine_Click();

private:
    void Form_Load();
    void fillMachineList();
    // The trimmed class name, or an empty string after telling the user
    // that one must be entered.
    QString enteredServer();

    std::unique_ptr<Ui::frmServerReg> ui;
};
