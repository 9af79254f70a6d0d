#include "frmTest.h"

#include "ui_frmTest.h"

#include "ui/common/accessibility.h"
#include "ui/common/framing.h"
#include "ui/common/placement.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QPointer>

namespace {

const QString kTesting = QStringLiteral("Testing Connection...");
const QString kSucceeded = QStringLiteral("Object Created Successfully");
const QString kFailed = QStringLiteral("Could not create object, please check properties");

QPointer<frmTest> current;

}  // namespace

frmTest::frmTest() : QDialog(nullptr), ui(new Ui::frmTest) {
    ui->setupUi(this);
    // The classic dialog font has the metrics of Arial, whose stand-in the
    // other windows use too: the longest status text fits its label.
    common::setupLayoutWindow(this, Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint);
    common::setLayoutFont(ui->lblServer, common::kLayoutFamily, 9.75);
    QIcon icon;
    icon.addPixmap(common::readPng(QStringLiteral(":/watch.png")));
    icon.addPixmap(common::readPng(QStringLiteral(":/watch16.png")));
    setWindowIcon(icon);

    connect(ui->cmdOK, &QPushButton::clicked, this, &frmTest::cmdOK_Click);
    connect(&m_factory, &automation::ObjectFactory::finished, this, &frmTest::Factory_Finished);
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

// The creation runs through the event loop and its outcome arrives as a
// signal: every window keeps working meanwhile, and the outcome shows the
// moment it arrives, whatever dialog is open then. The automation layer's
// time-outs bound the wait.
void frmTest::RunTest() {
    setCursor(Qt::WaitCursor);
    m_factory.create(Server);
}

void frmTest::Factory_Finished(const automation::CreateResult& result) {
    const bool created = result.ok();
    // Only whether the object could be made matters.
    if (result.object)
        result.object->release();
    ui->lblStatus->setText(created ? kSucceeded : kFailed);
    common::announce(ui->lblStatus);
    // The reason names the class as given; a tool tip would take a name that
    // looks like markup for markup. Escaped, with its blanks kept, and wrapped
    // at the tool tip's width: a reason may name a path and an identity.
    ui->lblStatus->setToolTip(created ? QString()
                                      : QStringLiteral("<p style='white-space:pre-wrap'>%1</p>")
                                            .arg(result.reason.toHtmlEscaped()));
    ui->cmdOK->setEnabled(true);
    unsetCursor();
}

void frmTest::cmdOK_Click() {
    close();
}

// Closing while the test runs abandons the test: its connection closes, and
// an object that arrives later is released.
void frmTest::closeEvent(QCloseEvent* event) {
    QDialog::closeEvent(event);
    if (!event->isAccepted())
        return;
    m_factory.cancel();
    if (current == this)
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
