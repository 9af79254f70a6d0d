#pragma once

#include <QDialog>
#include <QTimer>

#include <memory>

class QMenu;

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

    // True once the server and machine lists hold what the settings store
    // had: after the window's first paint, or earlier when a command needed
    // them.
    bool listsAreLoaded() const { return m_lists == Lists::Loaded; }

Q_SIGNALS:
    // The lists have been filled from the settings store (once per window).
    void listsLoaded();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

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
    void mnuPair_Click();
    void mnuImport_Click();

private:
    void Form_Load();
    // The part of the load step that reads the settings store: both lists,
    // filled once. A name typed before then stays in the edit field. The
    // commands that work on the lists call it first, so that one given
    // before the first paint acts on the stored entries, not on empty lists.
    void loadLists();
    void fillMachineList();
    // The trimmed class name, or an empty string after telling the user
    // that one must be entered.
    QString enteredServer();
    // The machines' context menu, for the entry at a point of the list's
    // viewport (by the mouse) or the selected one (by the keyboard).
    void lstMachines_ContextMenu(const QPoint& at, bool byMouse);
    // Pair and Import Classes for a machine, one leading to the other when
    // the user asks for it.
    void machineDialogs(const QString& machine, bool pairFirst);

    std::unique_ptr<Ui::frmServerReg> ui;
    enum class Lists { Pending, Queued, Loading, Loaded };
    Lists m_lists = Lists::Pending;
    QTimer m_loadAfterPaint;
    QMenu* m_machineMenu = nullptr;
    QString m_menuMachine;  // the entry the menu was opened for, trimmed
};
