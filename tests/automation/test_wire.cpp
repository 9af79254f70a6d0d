// The wire format's parser: what every peer runs on bytes from the network,
// and how text that came in that way is shown.

#include <automation/printable.h>
#include <automation/wire.h>

#include <QtEndian>
#include <QtTest>

using namespace automation::wire;

namespace {

Message sample(Type type) {
    Message m;
    m.type = type;
    m.objectId = 0x01020304;
    m.code = 7;
    m.className = QStringLiteral("Server.Application");
    m.text = QStringLiteral("naïve ✓ 𝄞 text");
    return m;
}

// A frame with the given header fields and payload, for malformed input.
QByteArray frame(quint8 type, const QByteArray& payload, quint8 version = Version) {
    QByteArray f;
    f.append(Magic0).append(Magic1).append(char(version)).append(char(type));
    char len[4];
    qToBigEndian<quint32>(quint32(payload.size()), len);
    f.append(len, 4);
    return f + payload;
}

QByteArray text(const QByteArray& utf8) {
    char len[2];
    qToBigEndian<quint16>(quint16(utf8.size()), len);
    return QByteArray(len, 2) + utf8;
}

QByteArray payload(quint32 id, const QByteArray& className, const QByteArray& rest) {
    char idBytes[4];
    qToBigEndian<quint32>(id, idBytes);
    return QByteArray(idBytes, 4) + char(0) + text(className) + rest;
}

FrameReader::Status parse(const QByteArray& bytes, Message* out = nullptr,
                          QString* error = nullptr) {
    FrameReader reader;
    reader.append(bytes);
    Message m;
    const auto status = reader.next(&m);
    if (out)
        *out = m;
    if (error)
        *error = reader.errorString();
    return status;
}

}  // namespace

class TestWire : public QObject {
    Q_OBJECT
private slots:
    void roundTrip_data() {
        QTest::addColumn<Message>("message");
        QTest::newRow("create") << sample(Type::Create);
        QTest::newRow("created") << sample(Type::Created);
        QTest::newRow("failed") << sample(Type::Failed);
        QTest::newRow("release") << sample(Type::Release);
        Message empty = sample(Type::Failed);
        empty.className.clear();
        empty.text.clear();
        QTest::newRow("empty strings") << empty;
    }
    void roundTrip() {
        QFETCH(Message, message);
        Message parsed;
        QCOMPARE(parse(encode(message), &parsed), FrameReader::Status::Ready);
        QCOMPARE(parsed, message);
    }

    // Bytes arrive in any pieces; frames may follow each other in one read.
    void splitAndJoinedFrames() {
        const QByteArray one = encode(sample(Type::Create));
        const QByteArray two = encode(sample(Type::Release));
        FrameReader reader;
        Message m;
        for (int i = 0; i < one.size() - 1; ++i) {
            reader.append(one.mid(i, 1));
            QCOMPARE(reader.next(&m), FrameReader::Status::NeedMore);
            QVERIFY(reader.hasPartialFrame());
        }
        reader.append(one.right(1) + two);
        QCOMPARE(reader.next(&m), FrameReader::Status::Ready);
        QCOMPARE(m.type, Type::Create);
        QCOMPARE(reader.next(&m), FrameReader::Status::Ready);
        QCOMPARE(m.type, Type::Release);
        QCOMPARE(reader.next(&m), FrameReader::Status::NeedMore);
        QVERIFY(!reader.hasPartialFrame());
    }

    void truncatedFrameWaits() {
        const QByteArray whole = encode(sample(Type::Created));
        for (int n = 1; n < whole.size(); ++n)
            QCOMPARE(parse(whole.left(n)), FrameReader::Status::NeedMore);
    }

    void oversizedFrameRefusedFromHeader() {
        // Only the header: the reader must not wait for 16 KiB that is too much.
        QByteArray header = frame(quint8(Type::Create), {});
        qToBigEndian<quint32>(MaxPayload + 1, header.data() + 4);
        QString error;
        QCOMPARE(parse(header, nullptr, &error), FrameReader::Status::Error);
        QVERIFY2(error.contains(QLatin1String("exceeds")), qPrintable(error));

        qToBigEndian<quint32>(0xFFFFFFFFu, header.data() + 4);
        QCOMPARE(parse(header), FrameReader::Status::Error);
    }

    void longStringsAreCutOnEncode() {
        Message m = sample(Type::Failed);
        m.text = QString(MaxTextBytes, QChar(0xE9));  // two UTF-8 bytes each
        Message parsed;
        QCOMPARE(parse(encode(m), &parsed), FrameReader::Status::Ready);
        QVERIFY(parsed.text.toUtf8().size() <= MaxTextBytes);
        QVERIFY(m.text.startsWith(parsed.text));
        QCOMPARE(parsed.text.size(), MaxTextBytes / 2);

        // A surrogate pair is never split.
        m.text = QStringLiteral("x") + QString::fromUtf8("𝄞").repeated(MaxTextBytes);
        QCOMPARE(parse(encode(m), &parsed), FrameReader::Status::Ready);
        QVERIFY(parsed.text.size() > MaxTextBytes / 4);
        QVERIFY(m.text.startsWith(parsed.text));
    }

    void malformed_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("reason");
        QTest::newRow("bad first byte")
            << QByteArray("GET / HTTP/1.0\r\n\r\n") << "not an automation";
        QTest::newRow("bad second byte") << QByteArray("AX") << "not an automation";
        QTest::newRow("version") << frame(1, payload(0, "A", text("")), 1) << "version 1";
        QTest::newRow("type 0") << frame(0, payload(0, "A", text(""))) << "unknown message type";
        QTest::newRow("type 11") << QByteArray("AU\x02\x0b", 4) << "unknown message type";
        QTest::newRow("payload too short") << frame(1, QByteArray(4, '\0')) << "too short";
        QTest::newRow("string past payload")
            << frame(1, payload(0, "A", QByteArray("\x00\x10", 2) + "abc")) << "cut short";
        QTest::newRow("missing string") << frame(1, payload(0, "A", {})) << "cut short";
        QTest::newRow("string over limit")
            << frame(1, payload(0, "A", QByteArray("\x10\x01", 2) + QByteArray(4097, 'a')))
            << "exceeds the limit";
        QTest::newRow("stray bytes") << frame(1, payload(0, "A", text("") + "zz")) << "stray";
        QTest::newRow("invalid utf-8") << frame(1, payload(0, "\xC3\x28", text(""))) << "UTF-8";
        QTest::newRow("overlong utf-8") << frame(1, payload(0, "\xC0\xAF", text(""))) << "UTF-8";
        QTest::newRow("create without class")
            << frame(1, payload(0, "", text(""))) << "without a class name";
        QTest::newRow("created id 0") << frame(2, payload(0, "A", text(""))) << "id 0";
        QTest::newRow("release id 0") << frame(4, payload(0, "", text(""))) << "id 0";
    }
    void malformed() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, reason);
        FrameReader reader;
        reader.append(bytes);
        Message m;
        QCOMPARE(reader.next(&m), FrameReader::Status::Error);
        QVERIFY2(reader.errorString().contains(reason), qPrintable(reader.errorString()));
        // An error is final: a valid frame after it is not read.
        reader.append(encode(sample(Type::Create)));
        QCOMPARE(reader.next(&m), FrameReader::Status::Error);
        QVERIFY(!reader.hasPartialFrame());
    }

    // Text from a peer, made into one harmless line: what could end the
    // line or drive a terminal is escaped, everything else stays.
    void peerTextIsPrintable_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("shown");
        QTest::addColumn<QString>("inQuotes");
        QTest::newRow("plain") << "Server.Application"
                               << "Server.Application"
                               << "\"Server.Application\"";
        QTest::newRow("newline and tab") << "a\nautomation-host: refused X\tb"
                                         << "a\\nautomation-host: refused X\\tb"
                                         << "\"a\\nautomation-host: refused X\\tb\"";
        QTest::newRow("terminal title") << "\x1b]0;title\a"
                                        << "\\x1b]0;title\\x07"
                                        << "\"\\x1b]0;title\\x07\"";
        QTest::newRow("carriage return, NUL, DEL")
            << QString::fromUtf16(u"a\rb\0c\x7f", 6) << "a\\rb\\x00c\\x7f"
            << "\"a\\rb\\x00c\\x7f\"";
        QTest::newRow("C1 control") << QString::fromUtf16(u"a\u009bb") << "a\\u009bb"
                                    << "\"a\\u009bb\"";
        QTest::newRow("line and paragraph separators")
            << QString::fromUtf16(u"a\u2028b\u2029c") << "a\\u2028b\\u2029c"
            << "\"a\\u2028b\\u2029c\"";
        QTest::newRow("bidirectional override")
            << QString::fromUtf16(u"a\u202eb\u2066c") << "a\\u202eb\\u2066c"
            << "\"a\\u202eb\\u2066c\"";
        QTest::newRow("unpaired surrogate") << QString(QChar(0xd800)) + "x"
                                            << "\\ud800x"
                                            << "\"\\ud800x\"";
        QTest::newRow("quotes and backslashes, kept outside quotes") << "say \"hi\" \\n"
                                                                     << "say \"hi\" \\n"
                                                                     << "\"say \\\"hi\\\" \\\\n\"";
        QTest::newRow("letters of any script")
            << QString::fromUtf8("naïve ✓ 𝄞 Ω") << QString::fromUtf8("naïve ✓ 𝄞 Ω")
            << QString::fromUtf8("\"naïve ✓ 𝄞 Ω\"");
    }
    void peerTextIsPrintable() {
        QFETCH(QString, text);
        QFETCH(QString, shown);
        QFETCH(QString, inQuotes);
        QCOMPARE(automation::printable(text), shown);
        QCOMPARE(automation::quoted(text), inQuotes);
    }
};

QTEST_GUILESS_MAIN(TestWire)
#include "test_wire.moc"
