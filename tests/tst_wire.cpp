// labels: wire
#include "Shared/ByteSlices.h"
#include "Shared/ServerMessages.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <QtEndian>
#include <QtTest>

namespace {
QByteArray Le32(qint32 v)
{
    QByteArray b(4, '\0');
    qToLittleEndian<qint32>(v, b.data());
    return b;
}

QByteArray Frame(qint32 id, const QByteArray& body)
{
    return Le32(id) + Le32(qint32(body.size())) + body;
}
} // namespace

class TstWire : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void MakeMessageConvertsEachKind();
    void MakeMessageWithOddCountFails();
    void DescribeMessageFormat();
    void DescribeMessageMasksPassword();
    void EmptyMessages();
    void RequestBytes();
    void UrlDecodeCases_data();
    void UrlDecodeCases();
    void SplitAtCases();
    void ParseFormCases();
    void SameBytesAtEveryLengthAndPlace();
    void CutFrameWholeAndPartial();
    void CutFrameRejectsBadLengths();
    void SplitLinesCases_data();
    void SplitLinesCases();
};

void TstWire::MakeMessageConvertsEachKind()
{
    const TMessageToServer m = MakeMessage({"command", "ping", "response", '1'});
    QCOMPARE(m.size(), 2);
    QCOMPARE(m[0], (TMessagePair{"command", "ping"}));
    QCOMPARE(m[1], (TMessagePair{"response", "1"}));

    const TMessageToServer kinds = MakeMessage({
        "int", -42, "big", qint64(1) << 40, "yes", true, "no", false,
        "price", 12.5, "third", 1.0 / 3.0, "whole", 100.0, "tiny", 1e-7, "huge", 1e20,
        "latin", QString::fromLatin1("caf\xe9"), "bytes", QByteArray("a\0b", 3),
        "v-int", QVariant(7), "v-text", QVariant(QStringLiteral("x y")), "v-double", QVariant(0.1)});
    auto value = [&](const char* key) {
        for (const TMessagePair& p : kinds)
            if (p.Key == key)
                return p.Value;
        return QByteArray("<missing>");
    };
    QCOMPARE(value("int"), QByteArray("-42"));
    QCOMPARE(value("big"), QByteArray("1099511627776"));
    QCOMPARE(value("yes"), QByteArray("1"));
    QCOMPARE(value("no"), QByteArray("0"));
    QCOMPARE(value("price"), QByteArray("12.5"));
    QCOMPARE(value("third"), QByteArray("0.333333333333333"));
    QCOMPARE(value("whole"), QByteArray("100"));
    QCOMPARE(value("tiny"), QByteArray("1e-07"));
    QCOMPARE(value("huge"), QByteArray("1e+20"));
    QCOMPARE(value("latin"), QByteArray("caf\xe9"));
    QCOMPARE(value("bytes"), QByteArray("a\0b", 3));
    QCOMPARE(value("v-int"), QByteArray("7"));
    QCOMPARE(value("v-text"), QByteArray("x y"));
    QCOMPARE(value("v-double"), QByteArray("0.1"));

    bool raised = false;
    try {
        TFieldValue unknown{QVariant(QPoint(1, 2))};
    } catch (const EAssertionFailed& e) {
        raised = e.GetMessage().startsWith(QStringLiteral("Unknown field type."));
    }
    QVERIFY(raised);
}

void TstWire::MakeMessageWithOddCountFails()
{
    QString message;
    try {
        MakeMessage({"command", "ping", "response"});
    } catch (const EAssertionFailed& e) {
        message = e.GetMessage();
    }
    QVERIFY2(message.startsWith(QStringLiteral("Assertion failure (ServerMessages.cpp, line ")), qPrintable(message));
}

void TstWire::DescribeMessageFormat()
{
    QCOMPARE(DescribeMessage({}), QByteArray("()"));
    QCOMPARE(DescribeMessage(MakeMessage({"command", "ping", "response", '1'})),
             QByteArray("(\"command\" --> \"ping\", \"response\" --> \"1\")"));
    // Pairs with an empty key are shown too.
    QCOMPARE(DescribeMessage(MakeMessage({"", "x"})), QByteArray("(\"\" --> \"x\")"));
}

void TstWire::DescribeMessageMasksPassword()
{
    const QByteArray text =
        DescribeMessage(MakeMessage({"command", "login", "username", "trader", "password", "s3cret!", "PASSWORD", "x1"}));
    QCOMPARE(text, QByteArray("(\"command\" --> \"login\", \"username\" --> \"trader\", "
                              "\"password\" --> \"********\", \"PASSWORD\" --> \"********\")"));
    QVERIFY(!text.contains("s3cret"));
}

void TstWire::EmptyMessages()
{
    QVERIFY(IsEmptyMessage({}));
    QVERIFY(IsEmptyMessage(MakeMessage({"", "a", "", "b"})));
    QVERIFY(!IsEmptyMessage(MakeMessage({"", "a", "k", ""})));
}

void TstWire::RequestBytes()
{
    QByteArray ping;
    AppendRequest(ping, MakeMessage({"command", "ping", "response", '1'}), 3);
    const QByteArray expected = Le32(10) + "message_id" + Le32(1) + "3" + Le32(7) + "command" + Le32(4) + "ping"
                                + Le32(8) + "response" + Le32(1) + "1" + Le32(0);
    QCOMPARE(ping, expected);
    QVERIFY(ping.startsWith(QByteArray("\x0a\0\0\0message_id", 14)));

    // No response wanted: starts with its first key. Empty keys are skipped, empty values
    // are a zero length; requests are appended back to back.
    QByteArray two;
    AppendRequest(two, MakeMessage({"", "skip", "a", ""}), 0);
    AppendRequest(two, MakeMessage({"b", "c"}), 12);
    QCOMPARE(two, Le32(1) + "a" + Le32(0) + Le32(0) + Le32(10) + "message_id" + Le32(2) + "12" + Le32(1) + "b"
                      + Le32(1) + "c" + Le32(0));
}

void TstWire::UrlDecodeCases_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QByteArray>("decoded");
    QTest::newRow("escape") << QByteArray("a%41b") << QByteArray("aAb");
    QTest::newRow("lower hex") << QByteArray("%2f%2F") << QByteArray("//");
    QTest::newRow("one digit") << QByteArray("%4") << QByteArray("%4");
    QTest::newRow("at end") << QByteArray("100%") << QByteArray("100%");
    QTest::newRow("plus stays") << QByteArray("a+b") << QByteArray("a+b");
    QTest::newRow("bad digits") << QByteArray("%zz%2f") << QByteArray("%zz/");
    QTest::newRow("one pass") << QByteArray("%252F") << QByteArray("%2F");
    QTest::newRow("half bad") << QByteArray("%4g%g4") << QByteArray("%4g%g4");
    QTest::newRow("zero byte") << QByteArray("a%00b") << QByteArray("a\0b", 3);
    QTest::newRow("high byte") << QByteArray("%FF") << QByteArray("\xff");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("percents") << QByteArray("%%41") << QByteArray("%A");
}

void TstWire::UrlDecodeCases()
{
    QFETCH(QByteArray, text);
    QFETCH(QByteArray, decoded);
    QCOMPARE(UrlDecode(text), decoded);
}

void TstWire::SplitAtCases()
{
    QByteArray left, right;
    SplitAt("\r\n", "Cat\r\nform\r\nrest", left, right);
    QCOMPARE(left, QByteArray("Cat"));
    QCOMPARE(right, QByteArray("form\r\nrest"));
    SplitAt("&", "no-separator", left, right);
    QCOMPARE(left, QByteArray("no-separator"));
    QCOMPARE(right, QByteArray());
    SplitAt("=", "=x", left, right);
    QCOMPARE(left, QByteArray());
    QCOMPARE(right, QByteArray("x"));
    // The text may be the same object as an output.
    QByteArray text = "a&b&c";
    SplitAt("&", text, left, text);
    QCOMPARE(left, QByteArray("a"));
    QCOMPARE(text, QByteArray("b&c"));
}

void TstWire::ParseFormCases()
{
    tHashTable table;
    ParseForm("a=1&&b=&=3&lone&a=2", table);
    QCOMPARE(table.Count(), 3);
    QCOMPARE(table.Get("a"), QByteArray("2"));
    QVERIFY(table.ContainsKey("b"));
    QCOMPARE(table.Get("b"), QByteArray());
    QCOMPARE(table.Get(""), QByteArray("3"));
    QVERIFY(!table.ContainsKey("lone"));

    tHashTable nothing;
    ParseForm("", nothing);
    ParseForm("&&&", nothing);
    ParseForm("no pairs here", nothing);
    QCOMPARE(nothing.Count(), 0);

    tHashTable decoded;
    ParseForm("&a=b=c&sym%62ol=AB%26C&Key=upper&key=lower&note=x+y%3D1&", decoded);
    QCOMPARE(decoded.Get("a"), QByteArray("b=c"));
    QCOMPARE(decoded.Get("symbol"), QByteArray("AB&C"));
    QCOMPARE(decoded.Get("Key"), QByteArray("upper"));
    QCOMPARE(decoded.Get("key"), QByteArray("lower"));
    QCOMPARE(decoded.Get("note"), QByteArray("x+y=1"));
    QCOMPARE(decoded.Count(), 5);

    // Items short and long, with their "&", "=" and "%" at every place in a word of eight,
    // before, at and after the first 64 bytes and in either part, against the plain reading
    // with SplitAt and UrlDecode.
    for (const int at : {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 62, 63, 64, 65, 66, 200}) {
        for (const char* shape : {"K=V", "K%41=V", "K=V%41", "K%41=V%41", "K=%41", "%41K=V", "K", "K%41"}) {
            QByteArray item(shape);
            const QByteArray filler(at, 'x');
            item.replace("K", "k" + filler + "k");
            item.replace("V", "v" + filler + "=v");
            const QByteArray form = "a=1&" + item + "&" + item.left(at) + "&z%3D=2";
            tHashTable parsed;
            ParseForm(form, parsed);
            QMap<QByteArray, QByteArray> reference; // the last of a key wins, as in the table
            QByteArray remaining = form, piece, key, value;
            while (!remaining.isEmpty()) {
                SplitAt("&", remaining, piece, remaining);
                SplitAt("=", piece, key, value);
                if (key != piece)
                    reference[UrlDecode(key)] = UrlDecode(value);
            }
            QVERIFY(reference.size() >= 2);
            QCOMPARE(parsed.Count(), int(reference.size()));
            for (auto it = reference.cbegin(); it != reference.cend(); ++it) {
                QVERIFY2(parsed.ContainsKey(it.key()), form.constData());
                QCOMPARE(parsed.Get(it.key()), it.value());
            }
        }
    }
}

// Keys are compared a word at a time with overlapping ends: a difference at any place of any
// length must show, and equal bytes at other addresses must compare equal.
void TstWire::SameBytesAtEveryLengthAndPlace()
{
    QByteArray pool;
    for (int i = 0; i < 64; ++i)
        pool += char('a' + (i * 7) % 26);
    for (qsizetype n = 0; n <= 40; ++n) {
        const QByteArray a = pool.left(n);
        QByteArray b = "#" + a; // another address, another alignment
        const QByteArrayView bv = QByteArrayView(b).sliced(1);
        QVERIFY2(SameBytes(a, bv), QByteArray::number(n).constData());
        if (n > 0)
            QVERIFY(!SameBytes(a, bv.first(n - 1)));
        for (qsizetype at = 0; at < n; ++at) {
            b[at + 1] = char(b[at + 1] ^ 0x20);
            QVERIFY2(!SameBytes(a, QByteArrayView(b).sliced(1)),
                     (QByteArray::number(n) + " at " + QByteArray::number(at)).constData());
            b[at + 1] = char(b[at + 1] ^ 0x20);
        }
    }
}

void TstWire::CutFrameWholeAndPartial()
{
    const QByteArray stream = Frame(1, "first") + Frame(7, "") + Frame(-3, "neg id") + Frame(2, "last");
    // Walking the whole stream by offsets gives the frames in order.
    QList<QPair<qint32, QByteArray>> got;
    qsizetype offset = 0;
    for (;;) {
        const TFrameCut cut = CutFrame(stream, offset);
        if (cut.Kind != TFrameCut::Frame)
            break;
        got.append({cut.MessageId, cut.Body});
        offset = cut.NextOffset;
    }
    QCOMPARE(offset, stream.size());
    QCOMPARE(got.size(), 4);
    QCOMPARE(got[0], (QPair<qint32, QByteArray>{1, "first"}));
    QCOMPARE(got[1], (QPair<qint32, QByteArray>{7, ""}));
    QCOMPARE(got[2].first, -3);
    QCOMPARE(got[3], (QPair<qint32, QByteArray>{2, "last"}));

    // Every proper prefix of a frame is "need more"; the whole frame is cut.
    const QByteArray one = Frame(5, "hello");
    for (qsizetype n = 0; n < one.size(); ++n)
        QCOMPARE(int(CutFrame(one.left(n), 0).Kind), int(TFrameCut::NeedMore));
    QCOMPARE(int(CutFrame(one, 0).Kind), int(TFrameCut::Frame));
    // An offset at the end (or beyond it) needs more; nothing is read outside the buffer.
    QCOMPARE(int(CutFrame(one, one.size()).Kind), int(TFrameCut::NeedMore));
    QCOMPARE(int(CutFrame(one, one.size() + 5).Kind), int(TFrameCut::NeedMore));
    QCOMPARE(int(CutFrame(one, -1).Kind), int(TFrameCut::NeedMore));
}

void TstWire::CutFrameRejectsBadLengths()
{
    const QByteArray negative = Le32(1) + Le32(-1) + "xxxx";
    TFrameCut cut = CutFrame(negative, 0);
    QCOMPARE(int(cut.Kind), int(TFrameCut::InvalidLength));
    QCOMPARE(cut.BodyLength, -1);

    const QByteArray huge = Le32(1) + Le32(MaxFrameBodyLength + 1);
    QCOMPARE(int(CutFrame(huge, 0).Kind), int(TFrameCut::InvalidLength));
    // At the limit the frame is merely incomplete.
    QCOMPARE(int(CutFrame(Le32(1) + Le32(MaxFrameBodyLength), 0).Kind), int(TFrameCut::NeedMore));
    // The caller may set a smaller limit.
    QCOMPARE(int(CutFrame(Frame(1, "12345"), 0, 4).Kind), int(TFrameCut::InvalidLength));
    QCOMPARE(int(CutFrame(Frame(1, "1234"), 0, 4).Kind), int(TFrameCut::Frame));
}

void TstWire::SplitLinesCases_data()
{
    QTest::addColumn<QByteArray>("text");
    QTest::addColumn<QList<QByteArray>>("lines");
    QTest::newRow("empty") << QByteArray() << QList<QByteArray>{};
    QTest::newRow("stop") << QByteArray("STOP\r\nGo away.\r\n") << QList<QByteArray>{"STOP", "Go away."};
    QTest::newRow("no end") << QByteArray("SESSION ID\nabc") << QList<QByteArray>{"SESSION ID", "abc"};
    QTest::newRow("cr only") << QByteArray("a\rb\r") << QList<QByteArray>{"a", "b"};
    QTest::newRow("blank line") << QByteArray("a\r\n\r\nb") << QList<QByteArray>{"a", "", "b"};
    QTest::newRow("lf cr") << QByteArray("a\n\rb") << QList<QByteArray>{"a", "", "b"};
    QTest::newRow("zero ends") << QByteArray("STOP\r\nmsg\0hidden\r\nmore", 22) << QList<QByteArray>{"STOP", "msg"};
    QTest::newRow("zero first") << QByteArray("\0STOP", 5) << QList<QByteArray>{};
    QTest::newRow("only break") << QByteArray("\r\n") << QList<QByteArray>{""};
}

void TstWire::SplitLinesCases()
{
    QFETCH(QByteArray, text);
    QFETCH(QList<QByteArray>, lines);
    QCOMPARE(SplitLines(text), lines);
}

QTEST_APPLESS_MAIN(TstWire)
#include "tst_wire.moc"
