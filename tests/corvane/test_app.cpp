// Start-up state and shared routines that need no window: placement
// arithmetic, the file check, the help file and the message-box routine.
#include "app/files.h"
#include "app/help.h"
#include "app/messages.h"
#include "app/placement.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

class TestApp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void placeFormOffsetsFromMainWindow();
    void placeFormKeepsRightAndBottomEdgesOnScreen();
    void placeFormEdgeExactlyOnScreenEdgeStays();
    void placeFormLargerThanScreenGoesNegative();
    void centreFormIsNotRounded();
    void fileExists();
    void helpFileParsing();
    void helpFileBesideProgram();
    void helpTopicsOfShippedFile();
    void messageBoxTitlesAndAnswers();
};

void TestApp::placeFormOffsetsFromMainWindow() {
    QCOMPARE(app::placePosition({1000, 1000}, {5000, 3000}, {15360, 11520}), QPointF(1400, 1800));
}

void TestApp::placeFormKeepsRightAndBottomEdgesOnScreen() {
    QCOMPARE(app::placePosition({12000, 1000}, {5000, 3000}, {15360, 11520}).x(), 10360.0);
    QCOMPARE(app::placePosition({1000, 9000}, {5000, 3000}, {15360, 11520}).y(), 8520.0);
}

void TestApp::placeFormEdgeExactlyOnScreenEdgeStays() {
    // 9960 + 400 + 5000 = 15360: right edge exactly on the screen's edge.
    QCOMPARE(app::placePosition({9960, 7720}, {5000, 3000}, {15360, 11520}), QPointF(10360, 8520));
}

void TestApp::placeFormLargerThanScreenGoesNegative() {
    QCOMPARE(app::placePosition({0, 0}, {16000, 12000}, {15360, 11520}), QPointF(-640, -480));
    QCOMPARE(app::placePosition({10.4, 20.6}, {100, 100}, {15360, 11520}), QPointF(410, 821));
}

void TestApp::centreFormIsNotRounded() {
    QCOMPARE(app::centrePosition({15360, 11520}, {6000, 4000}), QPointF(4680, 3760));
    QCOMPARE(app::centrePosition({15360, 11520}, {6001, 4001}), QPointF(4679.5, 3759.5));
    QCOMPARE(app::centrePosition({1000, 1000}, {3000, 2000}), QPointF(-1000, -500));
}

void TestApp::fileExists() {
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("Server.exe"));
    QFile f(file);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.close();
    app::MessageRecorder messages;
    QVERIFY(app::FileExists(file));
    QVERIFY(!app::FileExists(dir.filePath(QStringLiteral("missing.exe"))));
    QVERIFY(!app::FileExists(QString()));
    QVERIFY(!app::FileExists(QStringLiteral("Z:\\no\\drive.exe")));
    QVERIFY(!app::FileExists(QStringLiteral("/no/such/dir/at/all.exe")));
    QVERIFY(!app::FileExists(file + QChar::Null + QStringLiteral("x")));
    // A directory is not a file, even when it is named like one.
    QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder.exe")));
    QVERIFY(!app::FileExists(dir.filePath(QStringLiteral("folder.exe"))));
    QCOMPARE(messages.count(), 0);
}

void TestApp::helpFileParsing() {
    const auto topics = app::parseHelp(QStringLiteral(
        "; comment\r\nstray line\r\n@1 First\r\nLine one.\r\n\r\nLine two.\r\n@12   Twelfth  \n"
        "Body\n@x not a topic\n"));
    QCOMPARE(topics.size(), 2);
    QCOMPARE(topics.value(1).title, QStringLiteral("First"));
    QCOMPARE(topics.value(1).body, QStringLiteral("Line one.\n\nLine two."));
    QCOMPARE(topics.value(12).title, QStringLiteral("Twelfth"));
    QCOMPARE(topics.value(12).body, QStringLiteral("Body\n@x not a topic"));
    QVERIFY(!topics.contains(0));

    // Headers: digits right after '@', the title after any blanks (or none);
    // a number too large for an int ends the topic before it and starts none.
    const auto edges = app::parseHelp(
        QStringLiteral("@3Tight\nA\n@ 4 spaced\n@5\n@99999999999 Huge\nlost\n@6\ttabbed \nB"));
    QCOMPARE(edges.keys(), (QList<int>{3, 5, 6}));
    QCOMPARE(edges.value(3).title, QStringLiteral("Tight"));
    QCOMPARE(edges.value(3).body, QStringLiteral("A\n@ 4 spaced"));
    QVERIFY(edges.value(5).title.isEmpty());
    QVERIFY(edges.value(5).body.isEmpty());
    QCOMPARE(edges.value(6).title, QStringLiteral("tabbed"));
    QCOMPARE(edges.value(6).body, QStringLiteral("B"));
}

void TestApp::helpFileBesideProgram() {
    QCOMPARE(app::helpFileIn(QStringLiteral("/opt/corvane")),
             QStringLiteral("/opt/corvane/TALVO.HLP"));
    QCOMPARE(app::helpFileIn(QStringLiteral("/opt/corvane/")),
             QStringLiteral("/opt/corvane/TALVO.HLP"));
    app::setHelpFile(QStringLiteral("/no/such/TALVO.HLP"));
    QVERIFY(app::helpTopic(1).title.isEmpty());
}

void TestApp::helpTopicsOfShippedFile() {
    app::setHelpFile(QStringLiteral(HELP_FILE));
    for (int topic : {1, 2, 3, 4, 5, 6, 7, 8, 12, 13, 14, 15, 16, 17, 18}) {
        QVERIFY2(!app::helpTopic(topic).title.isEmpty(), qPrintable(QString::number(topic)));
        QVERIFY2(!app::helpTopic(topic).body.isEmpty(), qPrintable(QString::number(topic)));
    }
}

void TestApp::messageBoxTitlesAndAnswers() {
    app::MessageRecorder messages;
    QCOMPARE(app::MsgBox(QStringLiteral("plain")), int(app::kAnswerOk));
    QCOMPARE(messages.last().title, QStringLiteral("TALVO - Corvane"));
    QCOMPARE(messages.last().flags, int(app::kOkOnly));
    QCOMPARE(
        app::MsgBox(QStringLiteral("Remove x?"), app::kYesNoQuestion, QStringLiteral("Corvane")),
        int(app::kAnswerNo));
    QCOMPARE(messages.last().title, QStringLiteral("Corvane"));
    messages.setNextAnswer(app::kAnswerYes);
    QCOMPARE(app::MsgBox(QStringLiteral("again?"), app::kYesNoQuestion), int(app::kAnswerYes));
    // The scripted answer is used once.
    QCOMPARE(app::MsgBox(QStringLiteral("and again?"), app::kYesNoQuestion), int(app::kAnswerNo));
    QCOMPARE(messages.count(), 4);
    {
        app::MessageRecorder nested;
        app::MsgBox(QStringLiteral("inner"), app::kOkExclamation);
        QCOMPARE(nested.count(), 1);
    }
    app::MsgBox(QStringLiteral("outer"), app::kOkExclamation);
    QCOMPARE(messages.count(), 5);
    QCOMPARE(messages.last().text, QStringLiteral("outer"));
}

QTEST_GUILESS_MAIN(TestApp)
#include "test_app.moc"
