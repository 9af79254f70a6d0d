// Registers COUNT classes PREFIX.0 .. PREFIX.COUNT-1, one store operation each,
// served by SERVER (default /usr/bin/PREFIX).

#include <automation/classstore.h>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3 && args.size() != 4)
        return 2;
    const QString server =
        args.size() == 4 ? args.at(3) : QStringLiteral("/usr/bin/%1").arg(args.at(1));
    automation::ClassStore store;
    const int count = args.at(2).toInt();
    for (int i = 0; i < count; ++i) {
        const automation::Status s = store.registerClass(
            args.at(1) + QLatin1Char('.') + QString::number(i), QString(), server);
        if (!s.ok()) {
            QTextStream(stderr) << s.reason << Qt::endl;
            return 1;
        }
    }
    return 0;
}
