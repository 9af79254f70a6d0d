#include "startup.h"

#include "app/help.h"
#include "app/installation.h"
#include "ui/common/windows.h"
#include "ui/main/frmServerReg.h"

#include <QApplication>

namespace common {

QWidget* StartCorvane() {
    QApplication::setApplicationName(QStringLiteral("TALVO - Corvane"));
    // Once installed, the desktop shows the icon theme's icon and matches the
    // windows to the desktop entry; the built-in icon stands in before that.
    const QIcon icon =
        QIcon::fromTheme(QLatin1String(app::kIconName), QIcon(QStringLiteral(":/gears.png")));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QLatin1String(app::kDesktopFileName));
    app::setHelpFile(app::locateHelpFile(QCoreApplication::applicationDirPath()));
    installMessageBoxes();
    auto* main = new frmServerReg;
    main->setWindowIcon(icon);
    main->show();
    return main;
}

}  // namespace common
