#pragma once

#include "registration/objectcreator.h"

#include <QDialog>
#include <QString>

#include <memory>

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

    // Without a test window: creates one for the class, shows it and starts
    // the test, returning at once; the outcome shows when it arrives. With one
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
    void Creator_Finished(const registration::CreationOutcome& outcome);

    std::unique_ptr<Ui::frmTest> ui;
    // Made by the first test, which loads the creation module. Declared after
    // ui: a creation still pending when the window goes is cancelled while
    // the controls still exist.
    std::unique_ptr<registration::ObjectCreator> m_creator;
};
