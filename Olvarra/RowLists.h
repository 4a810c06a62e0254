#pragma once
// How an alert window hands its rows to its grid without copying them.
//
// TRowList is an immutable snapshot: the grid keeps exactly the list it was last given, and
// nothing the window does later changes it. TFrontInsertList is the window's side of the
// newest-first kinds: an append-only shared log read newest-first, so inserting at the front
// and taking a snapshot cost O(1) whatever the number of rows kept. A list kept in a structure
// of its own (the Bollinger list's tree) hands over a TRowSource, an immutable version of it.

#include "Olvarra/Recycling.h"

#include <QtGlobal>
#include <algorithm>
#include <iterator>
#include <new>
#include <memory>
#include <utility>
#include <vector>

// The rows of a log, appended at the end and read by index, in chunks of about 16 KiB. A
// list that keeps every row (Rook, Tamber) takes a new chunk every ChunkRows rows, not a new
// block every few rows; the chunks of a store that goes (an older version of a capped log)
// wait on a small free list of this thread for the next store.
template <class T> class TRowStore {
public:
    static constexpr size_t ChunkRows = std::max<size_t>(16, 16384 / sizeof(T));
    static constexpr int MaxSpareChunks = 64;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    TRowStore() = default;
    // The rows first .. last, in order (moved when given move iterators).
    template <class TIterator> TRowStore(TIterator first, TIterator last)
    {
        Reserve(size_t(std::distance(first, last)));
        for (; first != last; ++first)
            push_back(*first);
    }
    TRowStore(const TRowStore&) = delete;
    TRowStore& operator=(const TRowStore&) = delete;
    ~TRowStore()
    {
        for (size_t i = 0; i < Count; ++i)
            Slot(i)->~T();
        for (T* chunk : Chunks)
            FreeChunk(chunk);
    }

    size_t size() const { return Count; }
    const T& operator[](size_t i) const { return *Slot(i); }

    void push_back(const T& row)
    {
        new (Room()) T(row);
        ++Count;
    }
    void push_back(T&& row)
    {
        new (Room()) T(std::move(row));
        ++Count;
    }

    // Room in the chunk table for this many rows, taken at once (the chunks come as rows do).
    void Reserve(size_t rows) { Chunks.reserve((rows + ChunkRows - 1) / ChunkRows); }

    // How many chunks wait on this thread's free list (for tests).
    static int SpareChunks() { return Spare().Count; }

private:
    T* Slot(size_t i) const { return Chunks[i / ChunkRows] + i % ChunkRows; }
    T* Room()
    {
        if (Count == Chunks.size() * ChunkRows)
            Chunks.push_back(NewChunk());
        return Slot(Count);
    }

    // Trivially destructible, so that a chunk freed while the program ends still finds it.
    struct TSpare {
        void* Head = nullptr;
        int Count = 0;
    };
    static TSpare& Spare()
    {
        thread_local TSpare spare;
        return spare;
    }
    static T* NewChunk()
    {
        TSpare& spare = Spare();
        if (void* chunk = spare.Head) {
            spare.Head = *static_cast<void**>(chunk);
            --spare.Count;
            return static_cast<T*>(chunk);
        }
        return static_cast<T*>(::operator new(ChunkRows * sizeof(T)));
    }
    static void FreeChunk(T* chunk)
    {
        TSpare& spare = Spare();
        if (spare.Count >= MaxSpareChunks) {
            ::operator delete(chunk);
            return;
        }
        *reinterpret_cast<void**>(chunk) = spare.Head;
        spare.Head = chunk;
        ++spare.Count;
    }

    std::vector<T*> Chunks;
    size_t Count = 0;
};

// An immutable list kept elsewhere, read by index.
template <class T> class TRowSource {
public:
    virtual ~TRowSource() = default;
    virtual qsizetype Size() const = 0;
    virtual const T& At(qsizetype i) const = 0;
};

template <class T> class TRowList {
public:
    TRowList() = default;

    // A list read from an immutable source, shared, not copied.
    static TRowList FromSource(std::shared_ptr<const TRowSource<T>> source)
    {
        TRowList list;
        list.Count = source ? source->Size() : 0;
        list.Source = std::move(source);
        return list;
    }

    // A list in the given order (whole-list kinds, the Bollinger list).
    static TRowList FromVector(std::vector<T> rows)
    {
        TRowList list;
        auto store =
            MakeRecycled<TRowStore<T>>(std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
        list.Count = qsizetype(store->size());
        list.End = list.Count;
        list.Store = std::move(store);
        list.NewestFirst = false;
        return list;
    }

    qsizetype size() const { return Count; }
    bool isEmpty() const { return Count == 0; }

    // Element 0 is the top row of the grid.
    const T& operator[](qsizetype i) const
    {
        Q_ASSERT(i >= 0 && i < Count);
        if (Source)
            return Source->At(i);
        return NewestFirst ? (*Store)[size_t(End - 1 - i)] : (*Store)[size_t(End - Count + i)];
    }

    // The source a list reads from (null for the others): two hand-overs of the same rows from
    // a source are two sources.
    const void* SourceIdentity() const { return Source.get(); }

    std::vector<T> ToVector() const
    {
        std::vector<T> out;
        out.reserve(size_t(Count));
        for (qsizetype i = 0; i < Count; ++i)
            out.push_back((*this)[i]);
        return out;
    }

private:
    template <class> friend class TFrontInsertList;
    std::shared_ptr<const TRowStore<T>> Store;
    std::shared_ptr<const TRowSource<T>> Source; // instead of Store
    qsizetype End = 0; // one past the newest element in Store
    qsizetype Count = 0; // elements visible, ending at End
    bool NewestFirst = true;
};

template <class T> class TFrontInsertList {
public:
    // Cap 0: no limit (every row kept).
    explicit TFrontInsertList(qsizetype cap = 0) : Cap(cap) { }

    // The new row becomes element 0; with a full capped list the oldest row falls off.
    void InsertAtFront(T row)
    {
        if (!Log) {
            Log = MakeRecycled<TRowStore<T>>();
            if (Cap > 0)
                Log->Reserve(size_t(2 * Cap));
        }
        // Capped lists start a fresh log now and then, so memory stays bounded; earlier
        // snapshots keep the old log alive for as long as a grid shows them.
        if (Cap > 0 && qsizetype(Log->size()) >= 2 * Cap) {
            auto fresh = MakeRecycled<TRowStore<T>>();
            fresh->Reserve(size_t(2 * Cap));
            for (size_t i = Log->size() - size_t(Cap - 1); i < Log->size(); ++i)
                fresh->push_back((*Log)[i]);
            Log = std::move(fresh);
        }
        Log->push_back(std::move(row));
    }

    void Clear() { Log.reset(); }

    qsizetype size() const
    {
        const qsizetype n = Log ? qsizetype(Log->size()) : 0;
        return Cap > 0 ? std::min(n, Cap) : n;
    }
    bool isEmpty() const { return size() == 0; }
    qsizetype GetCap() const { return Cap; }

    TRowList<T> Snapshot() const
    {
        TRowList<T> list;
        if (!Log)
            return list;
        list.Store = Log;
        list.End = qsizetype(Log->size());
        list.Count = size();
        list.NewestFirst = true;
        return list;
    }

private:
    qsizetype Cap;
    std::shared_ptr<TRowStore<T>> Log;
};
