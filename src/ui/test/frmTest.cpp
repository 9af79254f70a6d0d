#include "frmTest.h"

#include "ui_frmTest.h"

#include "ui/common/windows.h"

#include <automation/objectfactory.h>

#include <QCloseEvent>
#include <QEventLoop>
#include <QIcon>
#include <QKeyEvent>
#include <QPointer>

namespace {

const QString kTesting = QStringLiteral("Testing Connection...");
const QString kSucceeded = QStringLiteral("Object Created Successfully");
const QString kFailed = QStringLiteral("Could not create object, please check properties");

QPointer<frmTest> current;

// The test waits in an event loop of its own, inside the handler that asked
// for it. A window closed meanwhile (the main window, or this one) would be
// destroyed by that inner loop while the handler is still running on it, so
// its deletion is held back until the wait is over.
class WindowDeletionHold : public QObject {
public:
    WindowDeletionHold() { QCoreApplication::instance()->installEventFilter(this); }
    ~WindowDeletionHold() override {
        QCoreApplication::instance()->removeEventFilter(this);
        for (const QPointer<QObject>& window : std::as_const(m_held)) {
            if (window)
                window->deleteLater();
        }
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::DeferredDelete || !watched->isWidgetType())
            return false;
        // Only real windows: tool tips and pop-ups come and go as usual.
        const Qt::WindowType type = static_cast<QWidget*>(watched)->windowType();
        if (type != Qt::Window && type != Qt::Dialog)
            return false;
        if (!m_held.contains(watched))
            m_held.append(watched);
        return true;
    }

private:
    QList<QPointer<QObject>> m_held;
};

}  // namespace

frmTest::frmTest() : QDialog(nullptr), ui(new Ui::frmTest) {
    ui->setupUi(this);
    // The classic dialog font has the metrics of Arial, whose stand-in the
    // other windows use too: the longest status text fits its label.
    common::setupLayoutWindow(this, Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    common::setLayoutFont(ui->lblServer, QStringLiteral("Arial"), 9.75);
    QIcon icon;
    icon.addFile(QStringLiteral(":/watch.png"), QSize(32, 32));
    icon.addFile(QStringLiteral(":/watch16.png"), QSize(16, 16));
    setWindowIcon(icon);

    connect(ui->cmdOK, &QPushButton::clicked, this, &frmTest::cmdOK_Click);
}

frmTest::~frmTest() = default;

void frmTest::Load(const QString& server) {
    if (current) {
        current->Server = server;
        return;
    }
    current = new frmTest;
    current->Server = server;
    current->Form_Load();
}

frmTest* frmTest::instance() {
    return current;
}

void frmTest::Form_Load() {
    common::CentreForm(this);
    ui->lblServer->setText(Server);
    ui->lblStatus->setText(kTesting);
    ui->cmdOK->setEnabled(false);
    show();
    RunTest();
}

// The creation runs through the event loop, so this window and the main
// window keep painting while the platform answers; the automation layer's
// time-outs bound the wait.
void frmTest::RunTest() {
    setCursor(Qt::WaitCursor);
    bool created = false;
    QString reason;
    {
        const WindowDeletionHold hold;
        automation::ObjectFactory factory;
        QEventLoop wait;
        connect(&factory, &automation::ObjectFactory::finished, &wait,
                [&](const automation::CreateResult& result) {
                    created = result.ok();
                    reason = result.reason;
                    // Only whether the object could be made matters.
                    if (result.object)
                        result.object->release();
                    wait.quit();
                });
        factory.create(Server);
        m_wait = &wait;
        wait.exec();
        m_wait = nullptr;
        // Leaving the block cancels a creation still pending because the
        // window was closed; an object that arrives later is released.
    }
    ui->lblStatus->setText(created ? kSucceeded : kFailed);
    common::announce(ui->lblStatus);
    ui->lblStatus->setToolTip(created ? QString() : reason);
    ui->cmdOK->setEnabled(true);
    unsetCursor();
}

void frmTest::cmdOK_Click() {
    close();
}

// Closing while the test runs abandons the test.
void frmTest::closeEvent(QCloseEvent* event) {
    if (m_wait)
        m_wait->quit();
    QDialog::closeEvent(event);
    if (event->isAccepted() && current == this)
        current = nullptr;
}

// OK is neither the default nor the cancel button: Escape does nothing, and
// Enter presses OK only while OK has the focus.
void frmTest::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Cancel)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
        if (ui->cmdOK->hasFocus())
            ui->cmdOK->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}
