#include "frmTest.h"

#include "ui_frmTest.h"

#include "registration/creation.h"
#include "ui/common/accessibility.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/common/placement.h"

#include <QCloseEvent>
#include <QIcon>
#include <QKeyEvent>
#include <QPixmap>
#include <QPointer>

namespace {

// Translated as they are shown.
const char* const kTesting = QT_TRANSLATE_NOOP("frmTest", "Testing Connection...");
const char* const kSucceeded = QT_TRANSLATE_NOOP("frmTest", "Object Created Successfully");
const char* const kFailed =
    QT_TRANSLATE_NOOP("frmTest", "Could not create object, please check properties");

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
    ui->lblStatus->setText(tr(kTesting));
    ui->cmdOK->setEnabled(false);
    show();
    RunTest();
}

// The creation runs through the event loop and its outcome arrives from
// there: every window keeps working meanwhile, and the outcome shows the
// moment it arrives, whatever dialog is open then. The automation layer's
// time-outs bound the wait. The creator releases the object at once: only
// whether it could be made matters. A creation module that cannot be loaded
// is a failure like any other, its reason naming the module.
void frmTest::RunTest() {
    setCursor(Qt::WaitCursor);
    if (!m_creator)
        m_creator = registration::newObjectCreator();
    m_creator->create(Server, [this](const registration::CreationOutcome& outcome) {
        Creator_Finished(outcome);
    });
}

void frmTest::Creator_Finished(const registration::CreationOutcome& outcome) {
    const bool created = outcome.ok;
    ui->lblStatus->setText(tr(created ? kSucceeded : kFailed));
    common::announce(ui->lblStatus);
    // The reason names the class as given; a tool tip would take a name that
    // looks like markup for markup. Escaped, with its blanks kept, and wrapped
    // at the tool tip's width: a reason may name a path and an identity.
    QString reason = outcome.reason;
    if (outcome.needsPairing)
        reason = common::asSentence(reason) + QLatin1Char(' ') +
                 tr("Pairing with the machine fixes this: select it on the "
                    "Machines page and choose Pair... from its context menu.");
    ui->lblStatus->setToolTip(
        created
            ? QString()
            : QStringLiteral("<p style='white-space:pre-wrap'>%1</p>").arg(reason.toHtmlEscaped()));
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
    if (m_creator)
        m_creator->cancel();
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
