#pragma once

#include <QDialog>

#include <memory>

namespace Ui {
class frmServerWizard;
}

// The new-server wizard: the server page takes and checks the path of a
// server's executable, the summary page starts it on Finish so that it
// registers its classes. Deletes itself when it closes.
class frmServerWizard : public QDialog {
    Q_OBJECT
public:
    explicit frmServerWizard(QWidget* parent = nullptr);
    ~frmServerWizard() override;
    Q_DISABLE_COPY_MOVE(frmServerWizard)

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private Q_SLOTS:
    void cmdNext_Click();
    void cmdBack_Click();
    void cmdCancel_Click();
    void cmdBrowse_Click();
    void txtServer_GotFocus();

private:
    void Form_Load();
    void ShowPage(qint16 page);
    bool ValidatePage(qint16& page);
    bool refuse(const QString& text, const QString& title = QString());
    void RegisterServer();

    std::unique_ptr<Ui::frmServerWizard> ui;
    qint16 iPage = 0;      // 0: server page, 3: summary page
    qint16 iFileType = 0;  // 0 .exe, 1 .dll, 2 .vbr, 99 anything else
};
