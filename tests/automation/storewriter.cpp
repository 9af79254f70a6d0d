// Registers COUNT classes PREFIX.0 .. PREFIX.COUNT-1, one store operation each.

#include <automation/classstore.h>

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const QStringList args = QCoreApplication::arguments();
    if (args.size() != 3)
        return 2;
    automation::ClassStore store;
    const int count = args.at(2).toInt();
    for (int i = 0; i < count; ++i) {
        const automation::Status s =
            store.registerClass(args.at(1) + QLatin1Char('.') + QString::number(i), QString(),
                                QStringLiteral("/usr/bin/%1").arg(args.at(1)));
        if (!s.ok()) {
            QTextStream(stderr) << s.reason << Qt::endl;
            return 1;
        }
    }
    return 0;
}
