// Server.exe: a sample automation server. Run once without arguments to
// register "Server.Application"; clients then start it with -Embedding.

#include <automation/serverkit.h>

#include <QCoreApplication>
#include <QSysInfo>

namespace {

class Application : public automation::ServedObject {
public:
    QString description() const override {
        return QStringLiteral("Server.Application, process %1 on %2")
            .arg(QCoreApplication::applicationPid())
            .arg(QSysInfo::machineHostName());
    }
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return automation::runServer({{QStringLiteral("Server.Application"),
                                   QStringLiteral("{FC33BAAE-C1F5-4B23-9CFB-588D242FD04C}"),
                                   [] { return std::make_unique<Application>(); }}});
}
