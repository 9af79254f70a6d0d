// Adds names to the "Servers" section of the default settings store:
//   settings_writer <prefix> <count>
// adds "<prefix>-0" ... "<prefix>-<count-1>". Exit code 0 when every add
// succeeded. Used by the settings tests to write from several processes.
#include "app/messages.h"
#include "settings/store.h"

#include <QCoreApplication>

int main(int argc, char** argv) {
    QCoreApplication application(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 2;
    const int count = args.at(2).toInt();
    int failures = 0;
    for (int i = 0; i < count; ++i) {
        if (!settings::AddServer(QStringLiteral("%1-%2").arg(args.at(1)).arg(i)))
            ++failures;
    }
    return failures == 0 ? 0 : 1;
}
