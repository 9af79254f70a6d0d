// Server.exe: a sample automation server. Run once without arguments to
// register "Server.Application"; clients then start it with -Embedding,
// create objects of it and call them.

#include <automation/serverkit.h>

#include <QCoreApplication>
#include <QSysInfo>

namespace {

// Everything a client can reach is declared here: the properties, the
// invokable methods and the signal are the object's interface.
class Application : public automation::ServedObject {
    Q_OBJECT
    Q_PROPERTY(QString Version READ version CONSTANT)
    Q_PROPERTY(int ProcessId READ processId CONSTANT)
    Q_PROPERTY(QString Machine READ machine CONSTANT)
    Q_PROPERTY(int Counter READ counter WRITE setCounter NOTIFY counterChanged)

public:
    QString description() const override {
        return QStringLiteral("Server.Application, process %1 on %2")
            .arg(processId())
            .arg(machine());
    }

    QString version() const { return QStringLiteral(SERVER_VERSION); }
    int processId() const { return int(QCoreApplication::applicationPid()); }
    QString machine() const { return QSysInfo::machineHostName(); }

    int counter() const { return m_counter; }
    void setCounter(int value) {
        if (value == m_counter)
            return;
        m_counter = value;
        emit counterChanged(value);
    }

    Q_INVOKABLE QString Echo(const QString& text) const { return text; }

    Q_INVOKABLE int Add(int a, int b) {
        int sum = 0;
        if (__builtin_add_overflow(a, b, &sum))
            failCall(QStringLiteral("%1 + %2 does not fit in a 32-bit integer").arg(a).arg(b));
        return sum;
    }

signals:
    void counterChanged(int value);

private:
    int m_counter = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return automation::runServer({{QStringLiteral("Server.Application"),
                                   QStringLiteral("{FC33BAAE-C1F5-4B23-9CFB-588D242FD04C}"),
                                   [] { return std::make_unique<Application>(); }}});
}

#include "main.moc"
