#include "Shared/StringStringHashtables.h"

#include "Shared/ByteSlices.h"

#include <QtEndian>
#include <cstring>

// ---- Recycled storage ----
//
// A table is made for every alert and dropped after it. Its entries, bucket arrays and
// decoded-text room go back to a small store of this thread when it is dropped, and the next
// table takes them from there, so that a steady stream of alerts allocates nothing. The store
// is bounded; beyond its bounds memory is freed as usual.

namespace {

constexpr int MaxSpareEntries = 4096;
constexpr size_t MaxSpareBucketArrays = 8;
constexpr size_t MaxSpareBuckets = 4096;
constexpr qsizetype MaxSpareRoom = 64 * 1024;

struct TSpareStorage {
    THashEntry* Entries = nullptr;
    int EntryCount = 0;
    std::vector<THashEntryTable> BucketArrays;
    QByteArray Room;

    TSpareStorage() { BucketArrays.reserve(MaxSpareBucketArrays); }
    ~TSpareStorage();
};

// Set once the thread's store is gone (tables destroyed after it free as usual). Trivially
// destructible, so it can still be read then.
thread_local bool SpareStorageGone = false;

TSpareStorage::~TSpareStorage()
{
    SpareStorageGone = true;
    while (Entries) {
        THashEntry* next = Entries->Next;
        delete Entries;
        Entries = next;
    }
}

TSpareStorage* Spare()
{
    if (SpareStorageGone)
        return nullptr;
    thread_local TSpareStorage storage;
    return &storage;
}

THashEntry* NewEntry(QByteArray&& key, QByteArray&& value, THashEntry* next, quint32 hash)
{
    TSpareStorage* spare = Spare();
    if (!spare || !spare->Entries)
        return new THashEntry{std::move(key), std::move(value), next, hash};
    THashEntry* entry = spare->Entries;
    spare->Entries = entry->Next;
    --spare->EntryCount;
    entry->Key = std::move(key);
    entry->Value = std::move(value);
    entry->Next = next;
    entry->KeyHash = hash;
    return entry;
}

void FreeEntry(THashEntry* entry)
{
    TSpareStorage* spare = Spare();
    if (!spare || spare->EntryCount >= MaxSpareEntries) {
        delete entry;
        return;
    }
    entry->Key = QByteArray();
    entry->Value = QByteArray();
    entry->Next = spare->Entries;
    spare->Entries = entry;
    ++spare->EntryCount;
}

THashEntryTable NewBuckets(size_t count)
{
    THashEntryTable buckets;
    if (TSpareStorage* spare = Spare()) {
        for (auto it = spare->BucketArrays.begin(); it != spare->BucketArrays.end(); ++it) {
            if (it->capacity() >= count) {
                buckets.swap(*it);
                spare->BucketArrays.erase(it);
                break;
            }
        }
    }
    buckets.assign(count, nullptr);
    return buckets;
}

void FreeBuckets(THashEntryTable& buckets)
{
    TSpareStorage* spare = Spare();
    if (spare && buckets.capacity() > 0 && buckets.capacity() <= MaxSpareBuckets
        && spare->BucketArrays.size() < MaxSpareBucketArrays) {
        spare->BucketArrays.push_back(THashEntryTable());
        spare->BucketArrays.back().swap(buckets);
    }
    THashEntryTable().swap(buckets);
}

QByteArray NewRoom(qsizetype size)
{
    QByteArray room;
    if (TSpareStorage* spare = Spare(); spare && spare->Room.capacity() >= size)
        room.swap(spare->Room);
    room.reserve(size);
    room.resize(0);
    return room;
}

void FreeRoom(QByteArray& room)
{
    TSpareStorage* spare = Spare();
    // Only a room that nobody else shares can be written into again.
    if (spare && room.isDetached() && room.capacity() <= MaxSpareRoom && room.capacity() > spare->Room.capacity())
        spare->Room.swap(room);
    room = QByteArray();
}

// A view that owns nothing (fromRawData): no allocation, no reference count.
QByteArray View(QByteArrayView bytes)
{
    return QByteArray(QByteArray::DataPointer(nullptr, const_cast<char*>(bytes.data()), bytes.size()));
}

bool OwnsNothing(const QByteArray& text)
{
    return !const_cast<QByteArray&>(text).data_ptr().d_ptr();
}

} // namespace

// ---- tHashTable ----

tHashTable::tHashTable(int initialBuckets)
{
    VESK_ASSERT(initialBuckets >= 0);
    if (initialBuckets > 0) {
        Buckets = NewBuckets(size_t(initialBuckets));
        BucketOf = TFastRemainder(quint32(initialBuckets));
    }
}

tHashTable::~tHashTable()
{
    for (THashEntry* head : Buckets) {
        while (head) {
            THashEntry* next = head->Next;
            FreeEntry(head);
            head = next;
        }
    }
    FreeBuckets(Buckets);
    ReleaseTexts();
}

void tHashTable::ReleaseTexts()
{
    FormText = QByteArray();
    MoreTexts.clear();
    FreeRoom(Decoded);
}

quint32 tHashTable::Hash(QByteArrayView key)
{
    // Whole 32-bit words first, then the odd bytes. The key is read as if followed by its zero
    // terminator, so a key of length 4k+3 ends on a full word whose top byte is 0.
    const auto* bytes = reinterpret_cast<const uchar*>(key.data());
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

THashEntry* tHashTable::Find(QByteArrayView key) const
{
    if (Buckets.empty())
        return nullptr;
    return Find(key, Hash(key));
}

THashEntry* tHashTable::Find(QByteArrayView key, quint32 hash) const
{
    THashEntry* entry = Buckets[BucketOf.Of(hash)];
    while (entry && (entry->KeyHash != hash || !SameBytes(entry->Key, key)))
        entry = entry->Next;
    return entry;
}

QByteArray tHashTable::Owned(const QByteArray& stored) const
{
    if (!OwnsNothing(stored))
        return stored;
    if (stored.isEmpty())
        return stored.isNull() ? QByteArray() : QByteArray(qsizetype(0), Qt::Uninitialized);
    // A view into a form text that owns its bytes shares them; anything else is copied.
    const char* begin = FormText.constData();
    if (const_cast<QByteArray&>(FormText).data_ptr().d_ptr() && stored.constData() >= begin
        && stored.constData() + stored.size() <= begin + FormText.size())
        return SharedSlice(FormText, stored.constData() - begin, stored.size());
    return QByteArray(stored.constData(), stored.size());
}

void tHashTable::Resize(int newBucketCount)
{
    // With no buckets the entries would have nowhere to live; dropping them silently would
    // lose data, so this is treated as the programming error it is.
    VESK_ASSERT(newBucketCount > 0 || (newBucketCount == 0 && EntryCount == 0));
    THashEntryTable old = NewBuckets(size_t(newBucketCount));
    old.swap(Buckets);
    BucketOf = TFastRemainder(quint32(newBucketCount));
    ++ModificationCount;
    for (THashEntry* entry : old) {
        while (entry) {
            THashEntry* next = entry->Next;
            THashEntry*& head = Buckets[BucketOf.Of(entry->KeyHash)];
            entry->Next = head;
            head = entry;
            entry = next;
        }
    }
    FreeBuckets(old);
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
    return entry ? Owned(entry->Value) : QByteArray();
}

QByteArrayView tHashTable::GetView(QByteArrayView key) const
{
    const THashEntry* entry = Find(key);
    return entry ? QByteArrayView(entry->Value) : QByteArrayView();
}

bool tHashTable::Insert(const QByteArray& key, const QByteArray& value)
{
    return InsertEntry(QByteArray(key), QByteArray(value));
}

bool tHashTable::InsertEntry(QByteArray&& key, QByteArray&& value)
{
    const quint32 hash = Hash(key);
    if (THashEntry* entry = Buckets.empty() ? nullptr : Find(key, hash)) {
        entry->Value = std::move(value);
        return false;
    }
    ++ModificationCount;
    ++EntryCount;
    // Counting the new entry: more than three entries per four buckets means grow.
    if (qint64(BucketCount()) * 3 < qint64(EntryCount) * 4)
        Grow();
    THashEntry*& head = Buckets[BucketOf.Of(hash)];
    head = NewEntry(std::move(key), std::move(value), head, hash);
    return true;
}

void tHashTable::HoldFormText(const QByteArray& text)
{
    if (FormText.isNull())
        FormText = text;
    else
        MoreTexts.push_back(text);
}

char* tHashTable::DecodedRoom(qsizetype size)
{
    // Views point into the room, so it never grows in place: a fuller one is kept aside.
    if (Decoded.capacity() - Decoded.size() < size) {
        if (!Decoded.isEmpty())
            MoreTexts.push_back(std::move(Decoded));
        // Room for everything the form text could decode to, so one room usually does.
        Decoded = NewRoom(qMax<qsizetype>(size, qMax<qsizetype>(256, FormText.size())));
    }
    const qsizetype at = Decoded.size();
    Decoded.resize(at + size);
    return Decoded.data() + at;
}

void tHashTable::PutView(QByteArrayView key, QByteArrayView value)
{
    // Not through the virtual Insert: the views are this table's own business.
    InsertEntry(View(key), View(value));
}

QByteArray tHashTable::Remove(const QByteArray& key)
{
    if (Buckets.empty())
        return QByteArray();
    const quint32 hash = Hash(key);
    THashEntry** link = &Buckets[BucketOf.Of(hash)];
    while (*link && ((*link)->KeyHash != hash || !SameBytes((*link)->Key, key)))
        link = &(*link)->Next;
    THashEntry* entry = *link;
    if (!entry)
        return QByteArray();
    ++ModificationCount;
    QByteArray value = Owned(entry->Value);
    *link = entry->Next;
    FreeEntry(entry);
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
            FreeEntry(head);
            head = next;
        }
    }
    EntryCount = 0;
    ++ModificationCount;
    ReleaseTexts();
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
    return Current && !Removed ? Table->Owned(Current->Key) : QByteArray();
}

QByteArray tHashTableIterator::GetValue()
{
    CheckValid();
    return Current && !Removed ? Table->Owned(Current->Value) : QByteArray();
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
