#include "Shared/StringStringHashtables.h"

#include <QtEndian>

// ---- tHashTable ----

tHashTable::tHashTable(int initialBuckets)
{
    VESK_ASSERT(initialBuckets >= 0);
    Buckets.assign(size_t(initialBuckets), nullptr);
}

tHashTable::~tHashTable()
{
    for (THashEntry* head : Buckets) {
        while (head) {
            THashEntry* next = head->Next;
            delete head;
            head = next;
        }
    }
}

quint32 tHashTable::Hash(const QByteArray& key)
{
    // Whole 32-bit words first, then the odd bytes. The key is read as if followed by its zero
    // terminator, so a key of length 4k+3 ends on a full word whose top byte is 0.
    const auto* bytes = reinterpret_cast<const uchar*>(key.constData());
    const qsizetype length = key.size();
    const qsizetype words = (length + 1) / 4;
    quint32 h = 0;
    for (qsizetype i = 0; i < words; ++i) {
        quint32 w;
        if (4 * i + 3 < length) {
            w = qFromLittleEndian<quint32>(bytes + 4 * i);
        } else {
            // The terminator word: its last byte lies just past the key.
            w = quint32(bytes[4 * i]) | (quint32(bytes[4 * i + 1]) << 8) | (quint32(bytes[4 * i + 2]) << 16);
        }
        h = (h * 9u + quint32(i)) ^ w;
    }
    for (qsizetype i = 4 * words; i < length; ++i)
        h = h * 33u + bytes[i];
    return h;
}

THashEntry* tHashTable::Find(const QByteArray& key) const
{
    if (Buckets.empty())
        return nullptr;
    THashEntry* entry = Buckets[Hash(key) % quint32(Buckets.size())];
    while (entry && entry->Key != key)
        entry = entry->Next;
    return entry;
}

void tHashTable::Resize(int newBucketCount)
{
    // With no buckets the entries would have nowhere to live; dropping them silently would
    // lose data, so this is treated as the programming error it is.
    VESK_ASSERT(newBucketCount > 0 || (newBucketCount == 0 && EntryCount == 0));
    THashEntryTable old(size_t(newBucketCount), nullptr);
    old.swap(Buckets);
    ++ModificationCount;
    for (THashEntry* entry : old) {
        while (entry) {
            THashEntry* next = entry->Next;
            THashEntry*& head = Buckets[Hash(entry->Key) % quint32(newBucketCount)];
            entry->Next = head;
            head = entry;
            entry = next;
        }
    }
}

void tHashTable::Grow()
{
    Resize(BucketCount() * 3 / 2 + 3);
}

void tHashTable::Put(const QByteArray& key, const QByteArray& value)
{
    Insert(key, value);
}

std::unique_ptr<tMapIterator> tHashTable::NewIterator()
{
    return std::make_unique<tHashTableIterator>(this);
}

bool tHashTable::ContainsKey(const QByteArray& key) const
{
    return Find(key) != nullptr;
}

bool tHashTable::ContainsValue(const QByteArray& value) const
{
    for (THashEntry* entry : Buckets)
        for (; entry; entry = entry->Next)
            if (entry->Value == value)
                return true;
    return false;
}

QByteArray tHashTable::Get(const QByteArray& key) const
{
    const THashEntry* entry = Find(key);
    return entry ? entry->Value : QByteArray();
}

bool tHashTable::Insert(const QByteArray& key, const QByteArray& value)
{
    if (THashEntry* entry = Find(key)) {
        entry->Value = value;
        return false;
    }
    ++ModificationCount;
    ++EntryCount;
    // Counting the new entry: more than three entries per four buckets means grow.
    if (qint64(BucketCount()) * 3 < qint64(EntryCount) * 4)
        Grow();
    THashEntry*& head = Buckets[Hash(key) % quint32(Buckets.size())];
    head = new THashEntry{key, value, head};
    return true;
}

QByteArray tHashTable::Remove(const QByteArray& key)
{
    if (Buckets.empty())
        return QByteArray();
    THashEntry** link = &Buckets[Hash(key) % quint32(Buckets.size())];
    while (*link && (*link)->Key != key)
        link = &(*link)->Next;
    THashEntry* entry = *link;
    if (!entry)
        return QByteArray();
    ++ModificationCount;
    QByteArray value = entry->Value;
    *link = entry->Next;
    delete entry;
    --EntryCount;
    return value;
}

int tHashTable::Count() const
{
    return EntryCount;
}

void tHashTable::Clear()
{
    for (THashEntry*& head : Buckets) {
        while (head) {
            THashEntry* next = head->Next;
            delete head;
            head = next;
        }
    }
    EntryCount = 0;
    ++ModificationCount;
}

// ---- tHashTableIterator ----

tHashTableIterator::tHashTableIterator(tHashTable* table) : Table(table)
{
    VESK_ASSERT(table);
    ExpectedCount = Table->ModificationCount;
    if (Table->EntryCount > 0) {
        for (int i = 0; i < Table->BucketCount(); ++i) {
            if (Table->Buckets[size_t(i)]) {
                BucketIndex = i;
                Current = Table->Buckets[size_t(i)];
                break;
            }
        }
    }
}

bool tHashTableIterator::StillValid() const
{
    return Table->ModificationCount == ExpectedCount;
}

void tHashTableIterator::CheckValid() const
{
    if (!StillValid())
        throw EIteratorNoLongerValid(QStringLiteral("Iterator no longer valid"));
}

// Moves onto the entry after the current one, across buckets; stays on none past the end.
void tHashTableIterator::Advance()
{
    if (!Current)
        return;
    Current = Current->Next;
    if (Current)
        return;
    for (int i = BucketIndex + 1; i < Table->BucketCount(); ++i) {
        if (Table->Buckets[size_t(i)]) {
            BucketIndex = i;
            Current = Table->Buckets[size_t(i)];
            return;
        }
    }
}

void tHashTableIterator::Next()
{
    CheckValid();
    if (Removed) {
        // Remove already moved onto the following entry.
        Removed = false;
        return;
    }
    if (Visited < Table->EntryCount) {
        Advance();
        if (Current)
            ++Visited;
    }
}

void tHashTableIterator::Remove()
{
    CheckValid();
    if (Removed || !Current)
        return;
    THashEntry* doomed = Current;
    if (Visited < Table->EntryCount)
        Advance();
    else
        Current = nullptr; // never leave a pointer to the freed entry behind
    // Through the virtual slot, so a derived table sees the removal.
    Table->Remove(doomed->Key);
    Removed = true;
    ExpectedCount = Table->ModificationCount;
}

bool tHashTableIterator::HasMore()
{
    CheckValid();
    if (Visited < Table->EntryCount - 1)
        return true;
    if (Removed)
        return Visited < Table->EntryCount;
    return false;
}

QByteArray tHashTableIterator::GetKey()
{
    CheckValid();
    return Current && !Removed ? Current->Key : QByteArray();
}

QByteArray tHashTableIterator::GetValue()
{
    CheckValid();
    return Current && !Removed ? Current->Value : QByteArray();
}

bool tHashTableIterator::IsValid()
{
    CheckValid();
    return Current && Visited < Table->EntryCount && !Removed;
}

void tHashTableIterator::SetValue(const QByteArray& value)
{
    CheckValid();
    if (!IsValid())
        throw EEntryNotValid(QStringLiteral("The entry is not valid"));
    Current->Value = value;
}
