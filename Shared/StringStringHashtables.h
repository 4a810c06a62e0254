#pragma once
// String-to-string hash table with exact byte-wise keys, separately chained, with its own
// hash function, automatic growth and iterators that notice changes behind their back.
// Get of an absent key yields the empty text.

#include "Platform/VeskError.h"

#include <QByteArray>
#include <memory>
#include <vector>

// Raised by an iterator used after its table was changed behind its back.
VESK_DECLARE_ERROR(EIteratorNoLongerValid, EVeskError);
// Raised by SetValue on an iterator that has no current entry.
VESK_DECLARE_ERROR(EEntryNotValid, EVeskError);

struct THashEntry {
    QByteArray Key;
    QByteArray Value;
    THashEntry* Next = nullptr;
};

using THashEntryTable = std::vector<THashEntry*>;

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
    static quint32 Hash(const QByteArray& key);

private:
    friend class tHashTableIterator;
    THashEntry* Find(const QByteArray& key) const;

    THashEntryTable Buckets;
    quint32 ModificationCount = 0;
    int EntryCount = 0;
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
