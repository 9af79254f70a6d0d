// automationctl's calling commands end to end: introspect, call, property and
// watch on the real Server.Exe and on a server of the tests that emits
// signals, in text and in JSON, with what they refuse and how they print
// what a server sends.

#include <automation/classstore.h>
#include <automation/objectfactory.h>

#include "processes.h"

#include <testenv.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QtTest>

#include <csignal>
#include <optional>

using namespace automation;

namespace {

struct Run {
    int code = -1;  // -1 when it crashed or hung
    QString out;
    QString err;
};

Run ctl(const QStringList& args) {
    QProcess p;
    p.start(AUTOMATIONCTL, args);
    Run r;
    if (!p.waitForFinished(30000))
        return r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

// The lines a running process writes until one of them matches until, or it
// ends, or nothing comes for 10 s.
QStringList linesUntil(QProcess& p, const std::function<bool(const QString&)>& until) {
    QStringList lines;
    while (p.canReadLine() || p.waitForReadyRead(10000)) {
        while (p.canReadLine()) {
            lines.append(QString::fromUtf8(p.readLine()).chopped(1));
            if (until(lines.last()))
                return lines;
        }
    }
    return lines;
}

QJsonObject jsonObject(const QString& text) {
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(text.toUtf8(), &error);
    if (error.error != QJsonParseError::NoError || !doc.isObject())
        qWarning() << "not a JSON object:" << text << error.errorString();
    return doc.object();
}

// What the signal server's tick carries, and how a terminal must be shown it.
const QString Noise = QStringLiteral("a\tb\nc\x1b]0;x\x07\u009b2J");
const QString NoiseShown = QStringLiteral("a\\tb\\nc\\x1b]0;x\\x07\\u009b2J");

}  // namespace

class TestCallCommands : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { useShortIdleTime(); }
    void init() {
        m_env.emplace();
        ObjectFactory::setDefaultTimeouts(Timeouts());
        QCOMPARE(runProgram(SERVER_EXE), 0);
        QCOMPARE(runProgram(SIGNAL_SERVER), 0);
        QCOMPARE(runProgram(TEST_SERVER), 0);
    }
    void cleanup() {
        m_host.reset();
        m_env.reset();
    }

    void commands_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<int>("code");
        // Patterns stdout must match (each line anchored with ^ and $), and
        // one stderr must match; stderr is empty when it is empty.
        QTest::addColumn<QStringList>("out");
        QTest::addColumn<QString>("err");
        QTest::addColumn<bool>("json");  // stdout is one JSON object a line

        const QString app = QStringLiteral("Server.Application");
        QTest::newRow("introspect") << QStringList{"introspect", app} << 0
                                    << QStringList{"^Server\\.Application\\b",
                                                   "^Properties:$",
                                                   "^  Version +s +read-only +\\S+$",
                                                   "^  ProcessId +i +read-only +\\d+$",
                                                   "^  Machine +s +read-only +\\S",
                                                   "^  Counter +i +writable +0$",
                                                   "^Methods:$",
                                                   "^  Echo\\(s( \\w+)?\\) +-> s$",
                                                   "^  Add\\(i( \\w+)?, i( \\w+)?\\) +-> i$",
                                                   "^Signals:$",
                                                   "^  counterChanged\\(i( \\w+)?\\)$"}
                                    << QString() << false;
        QTest::newRow("introspect --json")
            << QStringList{"introspect", "--json", app} << 0
            << QStringList{"\"class\":\"Server\\.Application\"",
                           "\\{\"in\":\\[\\{\"name\":\"\\w*\","
                           "\"type\":\"s\"\\}\\],"
                           "\"name\":\"Echo\",\"out\":\\[",
                           "\"name\":\"Counter\",\"readable\":true,\"type\":\"i\",\"value\":0,"
                           "\"writable\":true",
                           "\"name\":\"Version\",\"readable\":true,\"type\":\"s\",\"value\":\"",
                           "\"name\":\"counterChanged\""}
            << QString() << true;
        QTest::newRow("call Echo") << QStringList{"call", app, "Echo", "héllo wörld"} << 0
                                   << QStringList{"\\Ahéllo wörld\\n\\z"} << QString() << false;
        QTest::newRow("call Add") << QStringList{"call", app, "Add", "2", "3"} << 0
                                  << QStringList{"\\A5\\n\\z"} << QString() << false;
        QTest::newRow("negative numbers are values")
            << QStringList{"call", app, "Add", "-2", "-40"} << 0 << QStringList{"\\A-42\\n\\z"}
            << QString() << false;
        QTest::newRow("names without regard to case")
            << QStringList{"call", app, "add", "1", "1"} << 0 << QStringList{"\\A2\\n\\z"}
            << QString() << false;
        QTest::newRow("call --json")
            << QStringList{"call", "--json", app, "Add", "2", "3"} << 0
            << QStringList{
                   "\\A\\{\"class\":\"Server\\.Application\",\"method\":\"Add\",\"results\":\\[5\\]"
                   "\\}\\n\\z"}
            << QString() << true;
        QTest::newRow("escape sequence escaped")
            << QStringList{"call", app, "Echo", "\x1b]0;x\x07"} << 0
            << QStringList{"\\A\\\\x1b\\]0;x\\\\x07\\n\\z"} << QString() << false;
        QTest::newRow("line breaks, DEL and C1 escaped")
            << QStringList{"call", app, "Echo", "one\ntwo\r\x7f\u009b"} << 0
            << QStringList{"\\Aone\\\\ntwo\\\\r\\\\x7f\\\\u009b\\n\\z"} << QString() << false;
        QTest::newRow("escaped in JSON")
            << QStringList{"call", "--json", app, "Echo", "\x1b\u009b\n"} << 0
            << QStringList{"\"results\":\\[\"\\\\u001b\\\\u009b\\\\n\"\\]"} << QString() << true;
        QTest::newRow("property read") << QStringList{"property", app, "Counter"} << 0
                                       << QStringList{"\\A0\\n\\z"} << QString() << false;
        QTest::newRow("property set") << QStringList{"property", app, "Counter", "7"} << 0
                                      << QStringList{"\\A7\\n\\z"} << QString() << false;
        QTest::newRow("property --json")
            << QStringList{"property", "--json", app, "Counter", "-3"} << 0
            << QStringList{"\\A\\{\"class\":\"Server\\.Application\",\"property\":\"Counter\","
                           "\"type\":\"i\",\"value\":-3\\}\\n\\z"}
            << QString() << true;

        // Containers and variants are typed as JSON; lists and maps print as JSON.
        QTest::newRow("a list")
            << QStringList{"call", "Test.Calls", "Reverse", "[1, \"two\", true, 2.5, [\"inner\"]]"}
            << 0 << QStringList{"\\A\\[\\[\"inner\"\\],2\\.5,true,\"two\",1\\]\\n\\z"} << QString()
            << false;
        QTest::newRow("maps") << QStringList{"call", "Test.Calls", "Merge",
                                             "{\"a\": 1, \"b\": [2]}", "{\"b\": \"x\"}"}
                              << 0 << QStringList{"\\A\\{\"a\":1,\"b\":\"x\"\\}\\n\\z"} << QString()
                              << false;
        QTest::newRow("not JSON")
            << QStringList{"call", "Test.Calls", "Reverse", "[1, 2"} << 1 << QStringList{"\\A\\z"}
            << "InvalidArguments: argument 1 \\(av items\\) of Reverse\\(av items\\) -> av: it "
               "is not JSON"
            << false;
        QTest::newRow("JSON null") << QStringList{"call", "Test.Calls", "Reverse", "[1, null]"} << 1
                                   << QStringList{"\\A\\z"}
                                   << "InvalidArguments: .*JSON null has no D-Bus value$" << false;
        QTest::newRow("no answer in time")
            << QStringList{"call", "--timeout", "300", "Test.Calls", "Hang"} << 1
            << QStringList{"\\A\\z"} << "^automationctl: Test\\.Calls\\.Hang: Timeout: \\S"
            << false;

        // Refusals: exit 1, nothing on stdout, the error's name and a reason.
        QTest::newRow("too few arguments")
            << QStringList{"call", app, "Add", "2"} << 1 << QStringList{"\\A\\z"}
            << "^automationctl: Server\\.Application\\.Add: InvalidArguments: Add takes 2 "
               "arguments, 1 given: Add\\(i( \\w+)?, i( \\w+)?\\) -> i$"
            << false;
        QTest::newRow("not a number")
            << QStringList{"call", app, "Add", "two", "3"} << 1 << QStringList{"\\A\\z"}
            << "^automationctl: Server\\.Application\\.Add: InvalidArguments: \\S.*$" << false;
        QTest::newRow("no such method")
            << QStringList{"call", app, "Subtract", "1", "2"} << 1 << QStringList{"\\A\\z"}
            << "UnknownMember: .*no method Subtract; its methods: .*Echo" << false;
        QTest::newRow("read-only property")
            << QStringList{"property", app, "Version", "9"} << 1 << QStringList{"\\A\\z"}
            << "InvalidArguments: Version is read-only$" << false;
        QTest::newRow("property of the wrong type")
            << QStringList{"property", app, "Counter", "seven"} << 1 << QStringList{"\\A\\z"}
            << "^automationctl: Server\\.Application\\.Counter: InvalidArguments: \\S" << false;
        QTest::newRow("class not registered")
            << QStringList{"introspect", "No.Such.Class"} << 1 << QStringList{"\\A\\z"}
            << "^automationctl: cannot create No\\.Such\\.Class: NotRegistered: \\S" << false;
        QTest::newRow("no method named") << QStringList{"call", app} << 2 << QStringList{"\\A\\z"}
                                         << "expected NAME METHOD \\[ARG\\.\\.\\.\\]" << false;
        QTest::newRow("bad time-out")
            << QStringList{"property", "--timeout", "-5", app, "Counter"} << 2
            << QStringList{"\\A\\z"} << "--timeout takes a positive number" << false;
    }

    void commands() {
        QFETCH(QStringList, args);
        QFETCH(int, code);
        QFETCH(QStringList, out);
        QFETCH(QString, err);
        QFETCH(bool, json);
        const Run r = ctl(args);
        const QString shown = QStringLiteral("stdout:\n%1\nstderr:\n%2").arg(r.out, r.err);
        QVERIFY2(r.code == code, qPrintable(QStringLiteral("exit %1\n").arg(r.code) + shown));
        for (const QString& pattern : out) {
            const QRegularExpression re(pattern, QRegularExpression::MultilineOption);
            QVERIFY2(re.isValid(), qPrintable(pattern));
            QVERIFY2(re.match(r.out).hasMatch(), qPrintable(pattern + QLatin1Char('\n') + shown));
        }
        if (err.isEmpty()) {
            QVERIFY2(r.err.isEmpty(), qPrintable(shown));
        } else {
            const QRegularExpression re(err, QRegularExpression::MultilineOption);
            QVERIFY2(re.match(r.err).hasMatch(), qPrintable(err + QLatin1Char('\n') + shown));
            QCOMPARE(r.err.count(QLatin1Char('\n')), 1);
        }
        if (json) {
            const QStringList lines = r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
            QCOMPARE(lines.size(), 1);
            QVERIFY(!jsonObject(lines.first()).isEmpty());
        }
    }

    // What JSON carries is the server's text itself, whatever it holds.
    void jsonKeepsTheText() {
        const QString text = QStringLiteral("tab\there\x1b[2J\u009b\u202e ünï");
        const Run r = ctl({"call", "--json", "Server.Application", "Echo", text});
        QCOMPARE(r.code, 0);
        QCOMPARE(jsonObject(r.out).value("results").toArray(), QJsonArray{text});
    }

    // Through automation-host, over TLS, the commands work as they do locally.
    void callsThroughTheHost() {
        m_host.emplace();
        QVERIFY(m_host->start());
        m_env->setVariable("AUTOMATION_HOST_PORT", QByteArray::number(m_host->port()));
        Run r = ctl(
            {"set", "Server.Application", "--remote", "--machine", "127.0.0.1", "--level", "6"});
        QVERIFY2(r.code == 0, qPrintable(r.out + r.err));
        r = ctl({"call", "Server.Application", "Echo", "héllo wörld"});
        QVERIFY2(r.code == 0 && r.out == "héllo wörld\n", qPrintable(r.out + r.err));
        r = ctl({"property", "Server.Application", "Counter", "7"});
        QVERIFY2(r.code == 0 && r.out == "7\n", qPrintable(r.out + r.err));
        // They went through the host: without it, nothing answers.
        m_host.reset();
        r = ctl({"call", "Server.Application", "Echo", "x"});
        QVERIFY2(r.code == 1 && r.out.isEmpty() &&
                     r.err.startsWith("automationctl: cannot create Server.Application: "
                                      "ConnectionRefused: "),
                 qPrintable(r.out + r.err));
    }

    void watchPrintsSignalsAndChangesUntilStopped() {
        QProcess watch;
        watch.start(AUTOMATIONCTL, {"watch", "Test.Signals"});
        bool ticked = false, changed = false;
        const QStringList lines = linesUntil(watch, [&](const QString& line) {
            ticked = ticked || line.startsWith("tick(");
            changed = changed || line.startsWith("Count = ");
            return ticked && changed;
        });
        QVERIFY2(ticked && changed, qPrintable(lines.join('\n')));
        for (const QString& line : lines) {
            const QRegularExpression shape("^(tick\\(\\d+, " +
                                           QRegularExpression::escape(NoiseShown) +
                                           "\\)|countChanged\\(\\d+\\)|Count = \\d+)$");
            QVERIFY2(shape.match(line).hasMatch(), qPrintable(line));
        }
        watch.terminate();
        QVERIFY(watch.waitForFinished(10000));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
    }

    void watchOneSignalAsJson() {
        QProcess watch;
        watch.start(AUTOMATIONCTL, {"watch", "--json", "Test.Signals", "TICK"});
        int ticks = 0;
        const QStringList lines = linesUntil(watch, [&](const QString&) { return ++ticks == 3; });
        QCOMPARE(lines.size(), 3);
        int previous = 0;
        for (const QString& line : lines) {
            const QJsonObject o = jsonObject(line);
            QCOMPARE(o.value("signal").toString(), QStringLiteral("tick"));
            const QJsonArray args = o.value("args").toArray();
            QCOMPARE(args.size(), 2);
            QVERIFY(args.at(0).toInt() > previous);
            previous = args.at(0).toInt();
            QCOMPARE(args.at(1).toString(), Noise);
        }
        QCOMPARE(::kill(pid_t(watch.processId()), SIGINT), 0);
        QVERIFY(watch.waitForFinished(10000));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 0);
    }

    void watchEndsWithTheServer() {
        QProcess watch;
        watch.start(AUTOMATIONCTL, {"watch", "Test.Signals", "tick"});
        QVERIFY(!linesUntil(watch, [](const QString&) { return true; }).isEmpty());
        const QList<qint64> started = m_env->processes();
        qint64 server = 0;
        for (const qint64 pid : started) {
            if (pid != watch.processId())
                server = pid;
        }
        QVERIFY2(server > 0 && started.size() == 2, qPrintable(QString::number(started.size())));
        QCOMPARE(::kill(pid_t(server), SIGKILL), 0);
        QVERIFY(watch.waitForFinished(10000));
        QCOMPARE(watch.exitStatus(), QProcess::NormalExit);
        QCOMPARE(watch.exitCode(), 1);
        const QString err = QString::fromUtf8(watch.readAllStandardError());
        QVERIFY2(err.startsWith("automationctl: Test.Signals: Disconnected: "), qPrintable(err));
    }

    void watchUnknownSignal() {
        const Run r = ctl({"watch", "Test.Signals", "tock"});
        QCOMPARE(r.code, 1);
        QVERIFY2(r.err.contains("UnknownMember: Test.Signals has no signal tock; its signals: ") &&
                     r.err.contains("tick"),
                 qPrintable(r.err));
    }

private:
    std::optional<ScopedXdgEnvironment> m_env;
    std::optional<HostProcess> m_host;
};

QTEST_GUILESS_MAIN(TestCallCommands)
#include "test_callcommands.moc"
