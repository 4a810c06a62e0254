// labels: hashtable
#include "Shared/StringStringHashtables.h"

#include <QSet>
#include <QtTest>

namespace {
QByteArray KeyOf(int i)
{
    return "field" + QByteArray::number(i);
}

// Runs f and returns the message of the EVeskError it raised ("" when none).
template <typename F> QString ErrorOf(F&& f)
{
    try {
        f();
    } catch (const EVeskError& e) {
        return e.GetMessage();
    }
    return QString();
}
} // namespace

class TstHashTable : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void EmptyTableAnswersAbsent();
    void GrowthKeepsEveryKey();
    void KeysAreExactBytes();
    void HashValues();
    void IteratorVisitsEveryEntryOnce();
    void ChangesBehindIteratorInvalidateIt();
    void IteratorSurvivesItsOwnRemove();
    void RemovingEveryEntryThroughOneIterator();
    void RemovingSomeEntriesThroughIterator();
    void HasMoreAndWalkingPastTheEnd();
    void SetValueThroughIterator();
};

void TstHashTable::EmptyTableAnswersAbsent()
{
    tHashTable table;
    QCOMPARE(table.BucketCount(), 0);
    QVERIFY(!table.ContainsKey(""));
    QVERIFY(!table.ContainsKey("symbol"));
    QVERIFY(!table.ContainsValue(""));
    QCOMPARE(table.Get("symbol"), QByteArray());
    QCOMPARE(table.Remove("symbol"), QByteArray());
    QCOMPARE(table.GetModificationCount(), 0u);
    auto it = table.NewIterator();
    QVERIFY(!it->IsValid());
    QVERIFY(!it->HasMore());
    it->Next(); // must not fail on an empty table
    QCOMPARE(it->GetKey(), QByteArray());

    QVERIFY(table.Insert("symbol", "ABC"));
    QCOMPARE(table.BucketCount(), 3);
    QCOMPARE(table.Get("symbol"), QByteArray("ABC"));
    // An absent key and an empty value read the same.
    table.Put("empty", "");
    QCOMPARE(table.Get("empty"), table.Get("missing"));
    QVERIFY(table.ContainsKey("empty"));
}

void TstHashTable::GrowthKeepsEveryKey()
{
    tHashTable table;
    // Bucket count after the n-th insert (index n - 1).
    const int expected[] = {3, 3, 7, 7, 7, 13, 13, 13, 13, 22, 22, 22, 22, 22, 22, 22, 36};
    for (int n = 1; n <= int(std::size(expected)); ++n) {
        QVERIFY(table.Insert(KeyOf(n), QByteArray::number(n * 7)));
        QCOMPARE(table.Count(), n);
        QCOMPARE(table.BucketCount(), expected[n - 1]);
        for (int k = 1; k <= n; ++k)
            QCOMPARE(table.Get(KeyOf(k)), QByteArray::number(k * 7));
    }
    // A bigger table: nothing lost across many growths, removals find their entries.
    tHashTable big;
    for (int i = 0; i < 2000; ++i)
        big.Put(KeyOf(i), KeyOf(-i));
    QCOMPARE(big.Count(), 2000);
    for (int i = 0; i < 2000; i += 2)
        QCOMPARE(big.Remove(KeyOf(i)), KeyOf(-i));
    QCOMPARE(big.Count(), 1000);
    for (int i = 0; i < 2000; ++i)
        QCOMPARE(big.ContainsKey(KeyOf(i)), i % 2 == 1);

    // Explicit resize to a smaller count rehashes too.
    big.Resize(5);
    QCOMPARE(big.BucketCount(), 5);
    for (int i = 1; i < 2000; i += 2)
        QCOMPARE(big.Get(KeyOf(i)), KeyOf(-i));
    // Dropping every bucket of a table that holds entries would lose them.
    QCOMPARE(ErrorOf([&] { big.Resize(0); }).left(17), QStringLiteral("Assertion failure"));
    QCOMPARE(big.Count(), 1000);
}

void TstHashTable::KeysAreExactBytes()
{
    tHashTable table;
    table.Put("Symbol", "upper");
    table.Put("symbol", "lower");
    table.Put(QByteArray("a\0b", 3), "zero-b");
    table.Put(QByteArray("a\0c", 3), "zero-c");
    table.Put("a", "plain");
    QCOMPARE(table.Count(), 5);
    QCOMPARE(table.Get("Symbol"), QByteArray("upper"));
    QCOMPARE(table.Get("symbol"), QByteArray("lower"));
    QCOMPARE(table.Get(QByteArray("a\0b", 3)), QByteArray("zero-b"));
    QCOMPARE(table.Get(QByteArray("a\0c", 3)), QByteArray("zero-c"));
    QCOMPARE(table.Get("a"), QByteArray("plain"));
    QVERIFY(!table.ContainsKey("SYMBOL"));
    QVERIFY(!table.ContainsKey(QByteArray("a\0", 2)));
}

void TstHashTable::HashValues()
{
    QCOMPARE(tHashTable::Hash(""), 0u);
    // Length 3: one word whose top byte is the terminator, no odd bytes.
    QCOMPARE(tHashTable::Hash("abc"), 0x00636261u);
    // Shorter than a word with its terminator: odd bytes only, h * 33 + byte.
    QCOMPARE(tHashTable::Hash("ab"), 97u * 33u + 98u);
    QCOMPARE(tHashTable::Hash("abcd"), 0x64636261u);
    // "abcd" as a word, then 'e' as an odd byte: 0x64636261 * 33 + 101, wrapped.
    QCOMPARE(tHashTable::Hash("abcde"), 4040142566u);
    // Two words, the second ending on the terminator: (W0 * 9 + 1) xor 0x00676665.
    QCOMPARE(tHashTable::Hash("abcdefg"), 2266567439u);
    // High bytes are unsigned.
    QCOMPARE(tHashTable::Hash("\xff"), 255u);

    // A hash's bucket is exactly hash % bucket count, taken without a division: every count
    // the growth rule makes and far larger ones, hashes at both ends and in between.
    QList<quint32> counts{1, 2, 3, 4, 7, 13, 22, 36, 57, 88, 135, 1u << 20, 0x7fffffffu, 0xffffffffu};
    QList<quint32> hashes{0, 1, 2, 0x7fffffffu, 0x80000000u, 0xfffffffeu, 0xffffffffu};
    quint32 x = 12345;
    for (int i = 0; i < 2000; ++i) {
        x = x * 1664525u + 1013904223u;
        (i % 2 ? hashes : counts).append(i % 2 ? x : qMax(x >> (i % 31), 1u));
    }
    for (quint32 count : counts) {
        const TFastRemainder bucketOf(count);
        for (quint32 hash : hashes)
            if (bucketOf.Of(hash) != hash % count)
                QFAIL(qPrintable(QStringLiteral("%1 mod %2").arg(hash).arg(count)));
    }
}

void TstHashTable::IteratorVisitsEveryEntryOnce()
{
    tHashTable table;
    QSet<QByteArray> expected;
    for (int i = 0; i < 100; ++i) {
        table.Put(KeyOf(i), KeyOf(i) + "v");
        expected.insert(KeyOf(i));
    }
    QSet<QByteArray> seen;
    int steps = 0;
    for (auto it = table.NewIterator(); it->IsValid(); it->Next()) {
        const QByteArray key = it->GetKey();
        QVERIFY(!seen.contains(key));
        seen.insert(key);
        QCOMPARE(it->GetValue(), key + "v");
        QVERIFY(++steps <= 100);
    }
    QCOMPARE(seen, expected);
}

void TstHashTable::ChangesBehindIteratorInvalidateIt()
{
    const QString invalid = QStringLiteral("Iterator no longer valid");
    tHashTable table;
    table.Put("a", "1");
    table.Put("b", "2");

    auto it = table.NewIterator();
    // Replacing values and removing absent keys are not structural changes.
    const quint32 before = table.GetModificationCount();
    table.Put("a", "changed");
    QVERIFY(!table.Insert("b", "changed"));
    QCOMPARE(table.Remove("absent"), QByteArray());
    QCOMPARE(table.GetModificationCount(), before);
    QCOMPARE(table.Count(), 2);
    QCOMPARE(table.Get("b"), QByteArray("changed"));
    QVERIFY(table.ContainsValue("changed"));
    QVERIFY(!table.ContainsValue("2"));
    QVERIFY(it->StillValid());
    QVERIFY(it->IsValid());

    table.Put("c", "3");
    QVERIFY(!it->StillValid()); // asking never raises
    QCOMPARE(ErrorOf([&] { it->Next(); }), invalid);
    QCOMPARE(ErrorOf([&] { it->IsValid(); }), invalid);
    QCOMPARE(ErrorOf([&] { it->GetKey(); }), invalid);
    QCOMPARE(ErrorOf([&] { it->GetValue(); }), invalid);
    QCOMPARE(ErrorOf([&] { it->HasMore(); }), invalid);
    QCOMPARE(ErrorOf([&] { it->Remove(); }), invalid);
    QCOMPARE(ErrorOf([&] { it->SetValue("x"); }), invalid);
    QVERIFY_THROWS_EXCEPTION(EIteratorNoLongerValid, it->Next());
    QCOMPARE(table.Count(), 3); // the failed Remove removed nothing

    auto byRemove = table.NewIterator();
    QCOMPARE(table.Remove("a"), QByteArray("changed"));
    QCOMPARE(ErrorOf([&] { byRemove->Next(); }), invalid);

    // Clear empties the table but keeps its buckets.
    auto byClear = table.NewIterator();
    const int buckets = table.BucketCount();
    table.Clear();
    QCOMPARE(ErrorOf([&] { byClear->IsValid(); }), invalid);
    QCOMPARE(table.Count(), 0);
    QCOMPARE(table.BucketCount(), buckets);
    QVERIFY(!table.ContainsKey("b"));
    QVERIFY(!table.NewIterator()->IsValid());

    auto byResize = table.NewIterator();
    table.Grow();
    QCOMPARE(ErrorOf([&] { byResize->IsValid(); }), invalid);
}

void TstHashTable::IteratorSurvivesItsOwnRemove()
{
    tHashTable table;
    for (int i = 0; i < 5; ++i)
        table.Put(KeyOf(i), "v");
    auto walker = table.NewIterator();
    auto bystander = table.NewIterator();
    walker->Remove();
    QVERIFY(walker->StillValid());
    // Right after Remove there is no current entry to read.
    QVERIFY(!walker->IsValid());
    QCOMPARE(walker->GetKey(), QByteArray());
    // A second Remove before Next does nothing.
    walker->Remove();
    QCOMPARE(table.Count(), 4);
    walker->Next();
    QVERIFY(walker->IsValid());
    // Another iterator over the same table did not make the change itself.
    QVERIFY(!bystander->StillValid());
    QVERIFY_THROWS_EXCEPTION(EIteratorNoLongerValid, bystander->GetKey());
}

void TstHashTable::RemovingEveryEntryThroughOneIterator()
{
    for (int size : {1, 2, 3, 7, 50}) {
        tHashTable table;
        for (int i = 0; i < size; ++i)
            table.Put(KeyOf(i), "v");
        QSet<QByteArray> removed;
        auto it = table.NewIterator();
        while (it->IsValid()) {
            removed.insert(it->GetKey());
            it->Remove();
            it->Next();
        }
        QCOMPARE(table.Count(), 0);
        QCOMPARE(removed.size(), size);
        QVERIFY(it->StillValid());
        QVERIFY(!it->HasMore());
        it->Next(); // past the end: no failure
        for (int i = 0; i < size; ++i)
            QVERIFY(!table.ContainsKey(KeyOf(i)));
    }
}

void TstHashTable::RemovingSomeEntriesThroughIterator()
{
    tHashTable table;
    for (int i = 0; i < 40; ++i)
        table.Put(KeyOf(i), QByteArray::number(i));
    QSet<QByteArray> kept;
    for (auto it = table.NewIterator(); it->IsValid(); it->Next()) {
        if (it->GetValue().toInt() % 3 == 0)
            it->Remove();
        else
            kept.insert(it->GetKey());
    }
    QCOMPARE(table.Count(), 40 - 14);
    QCOMPARE(kept.size(), 26);
    for (int i = 0; i < 40; ++i)
        QCOMPARE(table.ContainsKey(KeyOf(i)), i % 3 != 0);
}

void TstHashTable::HasMoreAndWalkingPastTheEnd()
{
    tHashTable table;
    table.Put("a", "1");
    table.Put("b", "2");
    table.Put("c", "3");
    auto it = table.NewIterator();
    QVERIFY(it->HasMore());
    it->Next();
    QVERIFY(it->HasMore());
    it->Next();
    QVERIFY(!it->HasMore());
    QVERIFY(it->IsValid());
    it->Next();
    QVERIFY(!it->IsValid());
    it->Next();
    it->Next();
    QVERIFY(!it->IsValid());
    QCOMPARE(it->GetKey(), QByteArray());
    QCOMPARE(it->GetValue(), QByteArray());

    // After removing the last-but-one entry, there is still one to move onto.
    auto walker = table.NewIterator();
    walker->Next();
    walker->Remove();
    QVERIFY(walker->HasMore());
    walker->Next();
    QVERIFY(walker->IsValid());
    QVERIFY(!walker->HasMore());
}

void TstHashTable::SetValueThroughIterator()
{
    tHashTable table;
    table.Put("a", "1");
    table.Put("b", "2");
    auto it = table.NewIterator();
    auto other = table.NewIterator();
    const QByteArray key = it->GetKey();
    it->SetValue("new");
    QCOMPARE(table.Get(key), QByteArray("new"));
    QVERIFY(other->StillValid());
    it->Next();
    it->Next();
    QCOMPARE(ErrorOf([&] { it->SetValue("x"); }), QStringLiteral("The entry is not valid"));
    QVERIFY_THROWS_EXCEPTION(EEntryNotValid, it->SetValue("x"));
    QVERIFY(!table.ContainsValue("x"));
}

QTEST_APPLESS_MAIN(TstHashTable)
#include "tst_hashtable.moc"
