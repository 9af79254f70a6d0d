#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QEventLoop;

namespace Ui {
class frmTest;
}

// The connection test window: creates one object of the class named by
// Server, releases it at once and shows whether that worked.
class frmTest : public QDialog {
    Q_OBJECT
public:
    ~frmTest() override;
    Q_DISABLE_COPY_MOVE(frmTest)

    // The class to test, used exactly as given.
    QString Server;

    // Without a test window: creates one for the class and runs the test,
    // returning once the outcome shows (or the window was closed). With one
    // open: only sets its Server; no new test runs.
    static void Load(const QString& server);

    // The open test window, or nullptr.
    static frmTest* instance();

protected:
    void closeEvent(QCloseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private Q_SLOTS:
    void cmdOK_Click();

private:
    frmTest();
    void Form_Load();
    void RunTest();

    std::unique_ptr<Ui::frmTest> ui;
    QEventLoop* m_wait = nullptr;  // set while the test waits for the outcome
};
