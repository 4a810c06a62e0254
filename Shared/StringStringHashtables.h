#pragma once
// String-to-string hash table with exact byte-wise keys, separately chained, with its own
// hash function, automatic growth and iterators that notice changes behind their back.
// Get of an absent key yields the empty text.

#include "Platform/VeskError.h"

#include <QByteArray>
#include <QByteArrayView>
#include <memory>
#include <vector>

// Raised by an iterator used after its table was changed behind its back.
VESK_DECLARE_ERROR(EIteratorNoLongerValid, EVeskError);
// Raised by SetValue on an iterator that has no current entry.
VESK_DECLARE_ERROR(EEntryNotValid, EVeskError);

// Key and Value own their bytes, except in entries a form was parsed into: there they may
// be views into the form text or the table's own decoded text (see ParseForm), which the
// table keeps alive. Whatever the table hands out owns its bytes.
struct THashEntry {
    QByteArray Key;
    QByteArray Value;
    THashEntry* Next = nullptr;
    quint32 KeyHash = 0; // Hash(Key), kept so that growing and looking up need not rehash
};

using THashEntryTable = std::vector<THashEntry*>;

// a % divisor for 32-bit a, without a division: a multiplication by a magic number made once
// per divisor (exact for every a and every divisor from 1 on). The table takes its bucket
// this way on every insert and look-up, where a division was a tenth of the cost.
class TFastRemainder {
public:
    explicit TFastRemainder(quint32 divisor = 1)
        : Magic(~quint64(0) / qMax(divisor, 1u) + 1), Divisor(qMax(divisor, 1u))
    { }
    quint32 Of(quint32 a) const
    {
        const quint64 low = Magic * a;
        return quint32((static_cast<unsigned __int128>(low) * Divisor) >> 64);
    }

private:
    quint64 Magic;
    quint32 Divisor;
};

class tMapIterator {
public:
    virtual ~tMapIterator() = default;
    virtual void Next() = 0;
    virtual void Remove() = 0;
    virtual bool HasMore() = 0;
    virtual QByteArray GetKey() = 0;
    virtual QByteArray GetValue() = 0;
    virtual bool IsValid() = 0;
    virtual void SetValue(const QByteArray& value) = 0;
    virtual bool StillValid() const = 0;
};

class tHashTable {
public:
    explicit tHashTable(int initialBuckets = 0);
    virtual ~tHashTable();
    tHashTable(const tHashTable&) = delete;
    tHashTable& operator=(const tHashTable&) = delete;

    virtual void Resize(int newBucketCount);
    virtual void Grow();
    virtual void Put(const QByteArray& key, const QByteArray& value);
    virtual std::unique_ptr<tMapIterator> NewIterator();
    virtual bool ContainsKey(const QByteArray& key) const;
    virtual bool ContainsValue(const QByteArray& value) const;
    virtual QByteArray Get(const QByteArray& key) const;
    virtual bool Insert(const QByteArray& key, const QByteArray& value);
    virtual QByteArray Remove(const QByteArray& key);
    virtual int Count() const;
    virtual void Clear();

    int BucketCount() const { return int(Buckets.size()); }
    quint32 GetModificationCount() const { return ModificationCount; }

    // The table's own hash of a key (exposed for tests of its exact values).
    static quint32 Hash(QByteArrayView key);

    // The stored value as a view, valid while the table is unchanged and the form text it
    // was parsed from lives; empty for an absent key, as Get. For reading fields without
    // making strings.
    QByteArrayView GetView(QByteArrayView key) const;

    // For ParseForm: keeps text alive as long as the entries may point into it (a string made
    // with fromRawData is kept as such: its owner keeps it alive, as Qt asks), and gives room
    // for size decoded bytes that stays where it is until the table is cleared or destroyed.
    void HoldFormText(const QByteArray& text);
    char* DecodedRoom(qsizetype size);
    // Insert with key and value as views into the held text or the decoded room.
    void PutView(QByteArrayView key, QByteArrayView value);

private:
    friend class tHashTableIterator;
    THashEntry* Find(QByteArrayView key) const;
    THashEntry* Find(QByteArrayView key, quint32 hash) const;
    bool InsertEntry(QByteArray&& key, QByteArray&& value);
    // A stored key or value as a string that owns its bytes (or shares the form text's).
    QByteArray Owned(const QByteArray& stored) const;
    void ReleaseTexts();

    THashEntryTable Buckets;
    TFastRemainder BucketOf; // a hash's bucket: BucketOf.Of(hash), for Buckets.size() buckets
    quint32 ModificationCount = 0;
    int EntryCount = 0;
    QByteArray FormText; // the text parsed into this table
    std::vector<QByteArray> MoreTexts; // further form texts and full decoded rooms
    QByteArray Decoded; // decoded keys and values, never moved once used
};

// Walks a table bucket by bucket, each chain from its head. Every operation except
// StillValid raises EIteratorNoLongerValid once the table was changed other than through
// this iterator's own Remove; replacing a value is not a change. The table must outlive it.
class tHashTableIterator : public tMapIterator {
public:
    explicit tHashTableIterator(tHashTable* table);

    void Next() override;
    void Remove() override;
    bool HasMore() override;
    QByteArray GetKey() override;
    QByteArray GetValue() override;
    bool IsValid() override;
    void SetValue(const QByteArray& value) override;
    bool StillValid() const override;

private:
    void CheckValid() const;
    void Advance();

    tHashTable* Table;
    int BucketIndex = 0;
    THashEntry* Current = nullptr;
    quint32 ExpectedCount = 0;
    bool Removed = false;
    int Visited = 0;
};
