// A server whose objects speak on their own, for watching them: each
// "Test.Signals" object, from its creation on, counts up every few
// milliseconds, so that its Count property changes and its tick signal
// comes with the count and a text full of control characters.

#include <automation/serverkit.h>

#include <QCoreApplication>
#include <QTimer>

namespace {

class Ticker : public automation::ServedObject {
    Q_OBJECT
    Q_PROPERTY(int Count READ count NOTIFY countChanged)

public:
    // What a hostile server might send to move the cursor, retitle the
    // terminal and forge a line.
    static QString noise() { return QStringLiteral("a\tb\nc\x1b]0;x\x07\u009b2J"); }

    Ticker() {
        connect(&m_timer, &QTimer::timeout, this, [this] {
            ++m_count;
            Q_EMIT countChanged(m_count);
            Q_EMIT tick(m_count, noise());
        });
        m_timer.start(20);
    }

    QString description() const override {
        return QStringLiteral("Test.Signals, process %1").arg(QCoreApplication::applicationPid());
    }
    int count() const { return m_count; }

Q_SIGNALS:
    void countChanged(int count);
    void tick(int count, const QString& text);

private:
    QTimer m_timer;
    int m_count = 0;
};

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    return automation::runServer(
        {{QStringLiteral("Test.Signals"), QString(), [] { return std::make_unique<Ticker>(); }}});
}

#include "signalserver.moc"
