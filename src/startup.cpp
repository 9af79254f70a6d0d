#include "startup.h"

#include "app/help.h"
#include "app/installation.h"
#include "app/translation.h"
#include "app/version.h"
#include "ui/common/framing.h"
#include "ui/common/messageboxes.h"
#include "ui/main/frmServerReg.h"

#include <QApplication>
#include <QIcon>

QWidget* startCorvane() {
    QApplication::setApplicationName(app::kAppTitle);
    // Before the first window: every text is translated as it is made.
    const QString programDir = QCoreApplication::applicationDirPath();
    const QString translations = app::translationsDirIn(programDir);
    QString language = app::translationLanguage(translations);
    if (!language.isEmpty() && !app::installTranslations(translations, language))
        language.clear();
    common::useLayoutFontThroughout();
    // Once installed, the desktop shows the icon theme's icon and matches the
    // windows to the desktop entry; the built-in icon stands in before that.
    const QIcon icon = QIcon::fromTheme(QLatin1String(app::kIconName),
                                        common::pngIcon(QStringLiteral(":/gears.png")));
    QApplication::setWindowIcon(icon);
    QGuiApplication::setDesktopFileName(QLatin1String(app::kDesktopFileName));
    app::setHelpFile(app::locateHelpFile(programDir, language));
    common::installMessageBoxes();
    auto* main = new frmServerReg;
    main->setWindowIcon(icon);
    main->show();
    return main;
}
