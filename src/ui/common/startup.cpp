#include "startup.h"

#include "app/help.h"
#include "ui/common/windows.h"
#include "ui/main/frmServerReg.h"

#include <QApplication>

namespace common {

QWidget* StartCorvane() {
    QApplication::setApplicationName(QStringLiteral("TALVO - Corvane"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/gears.png")));
    app::setHelpFile(app::helpFileIn(QCoreApplication::applicationDirPath()));
    installMessageBoxes();
    auto* main = new frmServerReg;
    main->show();
    return main;
}

}  // namespace common
