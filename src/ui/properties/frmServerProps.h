#pragma once

#include <QDialog>
#include <QString>
#include <QTimer>

#include <memory>

namespace Ui {
class frmServerProps;
}

// Shows and changes how one registered class is activated: locally, or on a
// remote machine over a network protocol at an authentication level. The
// caller sets the public members, then setServer(), then shows it modally;
// the dialog deletes itself when it closes.
class frmServerProps : public QDialog {
    Q_OBJECT
public:
    // Lays the controls out only: the load step runs on the first setServer().
    explicit frmServerProps(QWidget* parent = nullptr);
    ~frmServerProps() override;
    Q_DISABLE_COPY_MOVE(frmServerProps)

    // The class's current activation settings, set by the caller before the
    // first setServer(); the load step reads them.
    bool bRemote = false;
    QString sMachine;
    QString sProtocol;
    QString sALevel;

    // Shows the class name in lblServer. The first call runs the load step.
    void setServer(const QString& className);

    // Puts the four members into the controls.
    void SetupProps();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private Q_SLOTS:
    void chkRemote_Click();
    void cmdOK_Click();
    void cmdCancel_Click();

private:
    void Form_Load();
    void cboMachine_GotFocus(Qt::FocusReason reason);
    void cboMachine_SelectAll();

    std::unique_ptr<Ui::frmServerProps> ui;
    bool m_loaded = false;
    QTimer m_selectAllLater;
};
