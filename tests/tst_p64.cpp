// labels: p64
#include "Shared/P64.h"

#include <QRandomGenerator>
#include <QtTest>

namespace {
// Standard Base64 turned into the P64 alphabet: the two letter ranges trade places, "+" and
// "/" become "_" and "-", and the padding goes.
QByteArray ViaBase64(const QByteArray& data)
{
    QByteArray text = data.toBase64(QByteArray::OmitTrailingEquals);
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
        else if (c >= 'a' && c <= 'z')
            c = char(c - 'a' + 'A');
        else if (c == '+')
            c = '_';
        else if (c == '/')
            c = '-';
    }
    return text;
}
} // namespace

class TstP64 : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void Vectors_data();
    void Vectors();
    void MatchesStandardGroupingOnRandomInput();
};

void TstP64::Vectors_data()
{
    QTest::addColumn<QByteArray>("data");
    QTest::addColumn<QByteArray>("text");
    QTest::newRow("empty") << QByteArray() << QByteArray();
    QTest::newRow("a") << QByteArray("a") << QByteArray("yq");
    QTest::newRow("ab") << QByteArray("ab") << QByteArray("ywi");
    QTest::newRow("abc") << QByteArray("abc") << QByteArray("ywjJ");
    QTest::newRow("abcd") << QByteArray("abcd") << QByteArray("ywjJza");
    QTest::newRow("zeros") << QByteArray(3, '\0') << QByteArray("aaaa");
    QTest::newRow("high") << QByteArray("\xff\xfe\xfd") << QByteArray("--79");
    QTest::newRow("all 62 and 63") << QByteArray("\xfb\xef\xbe") << QByteArray("____");
}

void TstP64::Vectors()
{
    QFETCH(QByteArray, data);
    QFETCH(QByteArray, text);
    QCOMPARE(P64Encode(data), text);
}

void TstP64::MatchesStandardGroupingOnRandomInput()
{
    QRandomGenerator random(20260302);
    for (int n = 0; n < 300; ++n) {
        QByteArray data(n % 67 + (n > 250 ? 5000 : 0), Qt::Uninitialized);
        for (char& c : data)
            c = char(random.bounded(256));
        const QByteArray text = P64Encode(data);
        QCOMPARE(text, ViaBase64(data));
        const qsizetype rest = data.size() % 3;
        QCOMPARE(text.size(), 4 * (data.size() / 3) + (rest ? rest + 1 : 0));
    }
}

QTEST_APPLESS_MAIN(TstP64)
#include "tst_p64.moc"
