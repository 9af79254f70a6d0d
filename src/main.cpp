#include "app/help.h"
#include "ui/common/windows.h"
#include "ui/main/frmServerReg.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("TALVO - Corvane"));
    QApplication::setApplicationVersion(QStringLiteral(CORVANE_VERSION));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/gears.png")));
    app::setHelpFile(app::helpFileIn(QCoreApplication::applicationDirPath()));
    common::installMessageBoxes();

    // The main window deletes itself when closed; the program ends when its
    // last window has closed.
    auto* main = new frmServerReg;
    main->show();
    return QApplication::exec();
}
