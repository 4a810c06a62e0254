#include "Olvarra/BollingerList.h"

#include "Olvarra/Recycling.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <set>
#include <vector>

// The rows live in a persistent wide tree ordered by position: leaves of up to LeafRows rows,
// inner nodes of up to Fanout children, each child's row count and summary kept in its parent.
// Every change copies only the nodes on its path, so a snapshot is the root of one version and
// costs nothing, and the grid reads a row by one descent. Each summary knows whether its rows
// include one without a distance and which of their distances comes last in the order, so the
// place of a new row (the first row that does not strictly precede it) is found by one descent,
// whatever the order of the rows, which is not sorted everywhere: a row without a distance that
// later goes leaves the runs on both sides of it next to each other.
//
// Wide, not binary: at ten thousand rows the tree is larger than the cache, and each level of
// a path costs a miss or more. A binary tree is twice as deep at ten thousand rows as at a
// hundred; this one is three levels against two, and a level is a scan of one block.
//
// The live version also carries parent links and, per row, a slot that knows its leaf, so that
// a symbol's row is found by its position without a scan; snapshots never read those.

namespace {

struct TCaseInsensitiveLess {
    bool operator()(const QByteArray& a, const QByteArray& b) const { return a.compare(b, Qt::CaseInsensitive) < 0; }
};

// A symbol as the symbol set keys it: equal when Qt's caseless comparison says so. The hash
// folds each byte to the least byte that compares equal to it, a table read off that very
// comparison, so equal keys always hash alike whichever case folding Qt applies.
struct TCaselessKey {
    QByteArray Text;
    bool operator==(const TCaselessKey& other) const { return Text.compare(other.Text, Qt::CaseInsensitive) == 0; }
};

const std::array<char, 256>& CaseFolding()
{
    static const std::array<char, 256> table = [] {
        std::array<char, 256> t{};
        for (int c = 0; c < 256; ++c) {
            const QByteArray one(1, char(c));
            int least = c;
            for (int d = 0; d < c; ++d)
                if (one.compare(QByteArray(1, char(d)), Qt::CaseInsensitive) == 0) {
                    least = d;
                    break;
                }
            t[size_t(c)] = char(least);
        }
        return t;
    }();
    return table;
}

quint64 Mix(quint64 x)
{
    x ^= x >> 33;
    x *= 0xff51afd7ed558ccdull;
    x ^= x >> 33;
    x *= 0xc4ceb9fe1a85ec53ull;
    x ^= x >> 33;
    return x;
}

// The folded bytes eight at a time, each word through a bijective mix. Seeded by QHash with
// the process's random seed, so a server cannot choose symbols that share buckets. Not Qt's
// own byte hash: that costs about 110 ns for a five-letter symbol here, as much as the rest
// of the look-up.
size_t qHash(const TCaselessKey& key, size_t seed)
{
    const std::array<char, 256>& fold = CaseFolding();
    const qsizetype n = key.Text.size();
    const char* text = key.Text.constData();
    quint64 h = Mix(quint64(seed) ^ (quint64(n) * 0x9E3779B97F4A7C15ull));
    quint64 word = 0;
    for (qsizetype i = 0; i < n; ++i) {
        word |= quint64(uchar(fold[uchar(text[i])])) << (8 * (i & 7));
        if ((i & 7) == 7) {
            h = Mix(h ^ word);
            word = 0;
        }
    }
    if (n & 7)
        h = Mix(h ^ word);
    return size_t(h);
}

constexpr int LeafRows = 16;
constexpr int Fanout = 16;
// Deeper than any tree can grow: a new level needs a full root, so each level multiplies by
// at least Fanout / 2 the rows that were added to make it.
constexpr int MaxDepth = 24;

struct TNode;
struct TLeaf;
struct TInner;

// A counted link to a node. The count is a plain integer, not an atomic one as a shared_ptr's
// would be: the rows and every version of them live on the one thread that reads alerts and
// paints the grids, and a change copies and drops a few links per node of its path, where
// the atomic instructions would cost as much as the rest of the change.
class TNodePtr {
public:
    TNodePtr() = default;
    TNodePtr(std::nullptr_t) {}
    TNodePtr(const TNodePtr& other) noexcept;
    TNodePtr(TNodePtr&& other) noexcept : P(std::exchange(other.P, nullptr)) {}
    TNodePtr& operator=(TNodePtr other) noexcept
    {
        std::swap(P, other.P);
        return *this;
    }
    ~TNodePtr();
    // Takes a node just made, whose count is one.
    static TNodePtr Adopt(TNode* made)
    {
        TNodePtr p;
        p.P = made;
        return p;
    }

    TNode* get() const { return P; }
    TNode* operator->() const { return P; }
    explicit operator bool() const { return P != nullptr; }
    // How many links there are to the node.
    quint32 use_count() const;

private:
    TNode* P = nullptr;
};

// A row's handle in the live version: the leaf that holds it now.
struct TSlot {
    TLeaf* Leaf = nullptr;
};

struct TNode {
    quint32 Links = 1;
    bool IsLeaf = true;
    int Count = 0; // rows of a leaf, children of an inner node
    // Live version only: the node that holds this one.
    TInner* Parent = nullptr;
};

// What the rows of a subtree tell a descent without reading them.
struct TSummary {
    qsizetype Rows = 0;
    // The row with a distance that comes last in the order: its distance, the first eight
    // bytes of its symbol (SymbolKey) and the symbol's bytes, read only on a tie. The bytes
    // are the row's own storage, which stays where it is while the row moves within its leaf
    // or to another, and lives as long as the row does in any version.
    double LastDist = NaN;
    quint64 LastKey = 0;
    QByteArrayView LastSymbol;
    bool HasLast = false;
    bool AnyMissing = false; // a row without a distance
};

struct TInner : TNode {
    TInner() { IsLeaf = false; }
    TSummary Sum[Fanout];
    TNodePtr Child[Fanout];
};

// The fields a scan reads are kept apart from the rows, so that a scan of a leaf reads a few
// lines of the cache, not every row.
struct TLeaf : TNode {
    double Dist[LeafRows];  // the size of the row's distance, NaN for none
    quint64 Key[LeafRows];  // SymbolKey of the row's symbol
    TSlot* Slot[LeafRows];
    TBollingerEntry Row[LeafRows];
};

TLeaf* AsLeaf(TNode* n) { return static_cast<TLeaf*>(n); }
const TLeaf* AsLeaf(const TNode* n) { return static_cast<const TLeaf*>(n); }
TInner* AsInner(TNode* n) { return static_cast<TInner*>(n); }
const TInner* AsInner(const TNode* n) { return static_cast<const TInner*>(n); }

TNodePtr::TNodePtr(const TNodePtr& other) noexcept : P(other.P)
{
    if (P)
        ++P->Links;
}

TNodePtr::~TNodePtr()
{
    // A node's children go with it: one level of calls per level of the tree.
    if (P && --P->Links == 0) {
        if (P->IsLeaf) {
            TLeaf* leaf = AsLeaf(P);
            std::destroy_at(leaf);
            TRecycling<TLeaf>().deallocate(leaf, 1);
        } else {
            TInner* inner = AsInner(P);
            std::destroy_at(inner);
            TRecycling<TInner>().deallocate(inner, 1);
        }
    }
}

quint32 TNodePtr::use_count() const
{
    return P ? P->Links : 0;
}

// Made in a recycled block; the allocation is the only step that can fail.
template <class T>
TNodePtr Make()
{
    return TNodePtr::Adopt(::new (TRecycling<T>().allocate(1)) T());
}

double Distance(const TBollingerEntry& row) { return std::fabs(row.DistFromBB); }

// Whether key a comes later in the order than key b (both with a distance): smaller distance,
// or the same distance and a larger symbol.
//
// Symbols compare by their first eight bytes as one big-endian number, padded with zeros:
// where those numbers differ, they order the symbols as their bytes do (a shorter symbol that
// the other starts with pads with zeros and comes first either way); where they are equal,
// the whole symbols decide.
quint64 SymbolKey(const QByteArray& symbol)
{
    quint64 key = 0;
    const qsizetype n = std::min<qsizetype>(symbol.size(), 8);
    for (qsizetype i = 0; i < n; ++i)
        key |= quint64(uchar(symbol[i])) << (56 - 8 * i);
    return key;
}

bool Later(double da, quint64 ka, QByteArrayView a, double db, quint64 kb, QByteArrayView b)
{
    return da < db || (da == db && (ka != kb ? ka > kb : a > b));
}

void TakeLast(TSummary& s, double dist, quint64 key, QByteArrayView symbol)
{
    if (!s.HasLast || Later(dist, key, symbol, s.LastDist, s.LastKey, s.LastSymbol)) {
        s.LastDist = dist;
        s.LastKey = key;
        s.LastSymbol = symbol;
        s.HasLast = true;
    }
}

// One more row in a summary.
void TakeRow(TSummary& s, const TLeaf& leaf, int i)
{
    ++s.Rows;
    if (std::isnan(leaf.Dist[i]))
        s.AnyMissing = true;
    else
        TakeLast(s, leaf.Dist[i], leaf.Key[i], leaf.Row[i].Symbol);
}

// A node's summary, from its rows or from its children's summaries.
TSummary SummaryOf(const TNode* n)
{
    TSummary s;
    if (n->IsLeaf) {
        const TLeaf* leaf = AsLeaf(n);
        for (int i = 0; i < leaf->Count; ++i)
            TakeRow(s, *leaf, i);
        return s;
    }
    const TInner* inner = AsInner(n);
    for (int i = 0; i < inner->Count; ++i) {
        const TSummary& c = inner->Sum[i];
        s.Rows += c.Rows;
        s.AnyMissing = s.AnyMissing || c.AnyMissing;
        if (c.HasLast)
            TakeLast(s, c.LastDist, c.LastKey, c.LastSymbol);
    }
    return s;
}

// What a removed row may have given a summary: the summaries that took something from it
// are computed afresh, the others lose one row.
struct TRemoved {
    bool Missing;
    const char* Symbol; // the row's bytes, by address

    bool Gave(const TSummary& s) const
    {
        return Missing ? s.AnyMissing : s.HasLast && s.LastSymbol.data() == Symbol;
    }
};

qsizetype RowsOf(const TNodePtr& n)
{
    if (!n)
        return 0;
    if (n->IsLeaf)
        return n->Count;
    const TInner* inner = AsInner(n.get());
    qsizetype rows = 0;
    for (int i = 0; i < inner->Count; ++i)
        rows += inner->Sum[i].Rows;
    return rows;
}

// Row i of a leaf set from a row and its slot.
void PutRow(TLeaf& leaf, int i, const TBollingerEntry& row, TSlot* slot)
{
    leaf.Row[i] = row;
    leaf.Dist[i] = Distance(row);
    leaf.Key[i] = SymbolKey(row.Symbol);
    leaf.Slot[i] = slot;
}

// Row j of one leaf moved to place i of another (or of the same).
void MoveRow(TLeaf& to, int i, TLeaf& from, int j)
{
    to.Row[i] = std::move(from.Row[j]);
    to.Dist[i] = from.Dist[j];
    to.Key[i] = from.Key[j];
    to.Slot[i] = from.Slot[j];
}

// A child placed in an inner node, in the live version.
void PutChild(TInner& inner, int i, TNodePtr child)
{
    child->Parent = &inner;
    inner.Sum[i] = SummaryOf(child.get());
    inner.Child[i] = std::move(child);
}

// A copy of a node, for the live version: its children learn their new parent, its rows'
// slots their new leaf. Nothing else changes, so a copy that is linked in where its original
// was leaves the rows as they were.
TNodePtr CopyOf(const TNode* n)
{
    if (n->IsLeaf) {
        TNodePtr made = Make<TLeaf>();
        TLeaf& to = *AsLeaf(made.get());
        const TLeaf& from = *AsLeaf(n);
        to.Count = from.Count;
        for (int i = 0; i < from.Count; ++i) {
            to.Row[i] = from.Row[i];
            to.Dist[i] = from.Dist[i];
            to.Key[i] = from.Key[i];
            to.Slot[i] = from.Slot[i];
            to.Slot[i]->Leaf = &to;
        }
        return made;
    }
    TNodePtr made = Make<TInner>();
    TInner& to = *AsInner(made.get());
    const TInner& from = *AsInner(n);
    to.Count = from.Count;
    for (int i = 0; i < from.Count; ++i) {
        to.Sum[i] = from.Sum[i];
        to.Child[i] = from.Child[i];
        to.Child[i]->Parent = &to;
    }
    return made;
}

// One step of a path from the root: the node and the child (or row) taken.
struct TStep {
    TNode* Node;
    int Index;
};

// The path to the leaf that holds position k; with Append, a position equal to a child's
// rows may also end in that child (an insertion at its end).
int PathTo(TNode* n, qsizetype k, bool append, TStep* path)
{
    int depth = 0;
    while (!n->IsLeaf) {
        TInner* inner = AsInner(n);
        int i = 0;
        for (; i < inner->Count - 1; ++i) {
            const qsizetype rows = inner->Sum[i].Rows;
            if (k < rows || (append && k == rows))
                break;
            k -= rows;
        }
        path[depth++] = {n, i};
        n = inner->Child[i].get();
    }
    path[depth++] = {n, int(k)};
    return depth;
}

// Makes every node of a path one that only the live version holds, copying from the first one
// that something else holds too (a snapshot, an older version); below a copy every node is
// held twice, so it is copied too. A copy is linked in at once where its original was: the
// rows stay as they were, so a failed allocation part way leaves a whole tree.
void OwnPath(TNodePtr& root, TStep* path, int depth)
{
    if (root.use_count() > 1) {
        root = CopyOf(root.get());
        root->Parent = nullptr;
    }
    path[0].Node = root.get();
    for (int l = 0; l + 1 < depth; ++l) {
        TInner& inner = *AsInner(path[l].Node);
        TNodePtr& child = inner.Child[path[l].Index];
        if (child.use_count() > 1) {
            child = CopyOf(child.get());
            child->Parent = &inner;
        }
        path[l + 1].Node = child.get();
    }
}

void InsertAt(TNodePtr& root, qsizetype k, const TBollingerEntry& row, TSlot* slot)
{
    if (!root) {
        TNodePtr leaf = Make<TLeaf>();
        PutRow(*AsLeaf(leaf.get()), 0, row, slot);
        leaf->Count = 1;
        slot->Leaf = AsLeaf(leaf.get());
        root = std::move(leaf);
        return;
    }
    TStep path[MaxDepth];
    const int depth = PathTo(root.get(), k, true, path);
    OwnPath(root, path, depth);

    // Every node that must split gets its new sibling, and the tree its new root, before
    // anything changes: a failed allocation leaves the rows as they were.
    int full = 0;
    while (full < depth && path[depth - 1 - full].Node->Count == (full == 0 ? LeafRows : Fanout))
        ++full;
    TNodePtr spare[MaxDepth + 1];
    for (int l = 0; l < full; ++l)
        spare[l] = l == 0 ? Make<TLeaf>() : Make<TInner>();
    if (full == depth)
        spare[full] = Make<TInner>();

    // The row into its leaf, which splits in halves when full.
    TLeaf* leaf = AsLeaf(path[depth - 1].Node);
    int at = path[depth - 1].Index;
    TNodePtr carry; // a new right sibling for the level above
    if (leaf->Count == LeafRows) {
        carry = std::move(spare[0]);
        TLeaf& right = *AsLeaf(carry.get());
        const int keep = LeafRows / 2;
        for (int i = keep; i < LeafRows; ++i) {
            MoveRow(right, i - keep, *leaf, i);
            right.Slot[i - keep]->Leaf = &right;
        }
        right.Count = LeafRows - keep;
        leaf->Count = keep;
        if (at > keep) {
            leaf = &right;
            at -= keep;
        }
    }
    for (int i = leaf->Count; i > at; --i)
        MoveRow(*leaf, i, *leaf, i - 1);
    PutRow(*leaf, at, row, slot);
    ++leaf->Count;
    slot->Leaf = leaf;

    // Up the path. A child that did not split holds what it held and the new row, so its
    // summary takes that row. One that split is summarised afresh, and its new sibling is
    // placed after it, splitting this node in turn when it is full.
    const TLeaf& placed = *leaf;
    for (int l = depth - 2; l >= 0; --l) {
        TInner* inner = AsInner(path[l].Node);
        int i = path[l].Index;
        if (!carry) {
            TakeRow(inner->Sum[i], placed, at);
            continue;
        }
        inner->Sum[i] = SummaryOf(inner->Child[i].get());
        TNodePtr sibling = std::move(carry);
        if (inner->Count == Fanout) {
            carry = std::move(spare[depth - 1 - l]);
            TInner& right = *AsInner(carry.get());
            const int keep = Fanout / 2;
            for (int j = keep; j < Fanout; ++j) {
                right.Sum[j - keep] = inner->Sum[j];
                right.Child[j - keep] = std::move(inner->Child[j]);
                right.Child[j - keep]->Parent = &right;
            }
            right.Count = Fanout - keep;
            inner->Count = keep;
            if (i >= keep) {
                inner = &right;
                i -= keep;
            }
        }
        for (int j = inner->Count; j > i + 1; --j) {
            inner->Sum[j] = inner->Sum[j - 1];
            inner->Child[j] = std::move(inner->Child[j - 1]);
        }
        PutChild(*inner, i + 1, std::move(sibling));
        ++inner->Count;
    }
    if (carry) {
        TNodePtr top = std::move(spare[depth]);
        TInner& newRoot = *AsInner(top.get());
        PutChild(newRoot, 0, std::move(root));
        PutChild(newRoot, 1, std::move(carry));
        newRoot.Count = 2;
        newRoot.Parent = nullptr;
        root = std::move(top);
    }
}

void EraseAt(TNodePtr& root, qsizetype k)
{
    TStep path[MaxDepth];
    const int depth = PathTo(root.get(), k, false, path);
    OwnPath(root, path, depth);

    TLeaf& leaf = *AsLeaf(path[depth - 1].Node);
    const int at = path[depth - 1].Index;
    // The row's bytes stay alive until the summaries that name them are done.
    const QByteArray symbol = leaf.Row[at].Symbol;
    const TRemoved removed{std::isnan(leaf.Dist[at]), symbol.constData()};
    for (int i = at; i + 1 < leaf.Count; ++i)
        MoveRow(leaf, i, leaf, i + 1);
    --leaf.Count;
    leaf.Row[leaf.Count] = TBollingerEntry(); // lets go of its symbol

    // A node left empty goes from its parent; no other merging: a leaf holds at least one
    // row, and the depth only grows with the rows added.
    int l = depth - 2;
    for (; l >= 0 && path[l + 1].Node->Count == 0; --l) {
        TInner& inner = *AsInner(path[l].Node);
        const int i = path[l].Index;
        TNodePtr gone = std::move(inner.Child[i]);
        for (int j = i; j + 1 < inner.Count; ++j) {
            inner.Sum[j] = inner.Sum[j + 1];
            inner.Child[j] = std::move(inner.Child[j + 1]);
        }
        --inner.Count;
    }
    for (; l >= 0; --l) {
        TSummary& sum = AsInner(path[l].Node)->Sum[path[l].Index];
        if (removed.Gave(sum))
            sum = SummaryOf(path[l + 1].Node);
        else
            --sum.Rows;
    }
    if (root->Count == 0) {
        root = nullptr;
        return;
    }
    while (!root->IsLeaf && root->Count == 1) {
        TNodePtr only = AsInner(root.get())->Child[0];
        only->Parent = nullptr;
        root = std::move(only);
    }
}

// A tree of the given rows, in order, every node new; parent links among its own nodes, and
// no slot told yet (LinkSlots), so that a failed allocation leaves every slot as it was.
struct TRowRef {
    const TBollingerEntry* Row;
    TSlot* Slot;
};

TNodePtr Build(const std::vector<TRowRef>& rows)
{
    if (rows.empty())
        return nullptr;
    // Filled to three quarters, so that the adds that follow seldom split at once.
    constexpr int LeafFill = LeafRows * 3 / 4;
    constexpr int InnerFill = Fanout * 3 / 4;
    std::vector<TNodePtr> level;
    for (size_t i = 0; i < rows.size(); i += LeafFill) {
        TNodePtr made = Make<TLeaf>();
        TLeaf& leaf = *AsLeaf(made.get());
        const size_t end = std::min(rows.size(), i + LeafFill);
        for (size_t j = i; j < end; ++j)
            PutRow(leaf, int(j - i), *rows[j].Row, rows[j].Slot);
        leaf.Count = int(end - i);
        level.push_back(std::move(made));
    }
    while (level.size() > 1) {
        std::vector<TNodePtr> up;
        for (size_t i = 0; i < level.size(); i += InnerFill) {
            TNodePtr made = Make<TInner>();
            TInner& inner = *AsInner(made.get());
            const size_t end = std::min(level.size(), i + InnerFill);
            for (size_t j = i; j < end; ++j)
                PutChild(inner, int(j - i), std::move(level[j]));
            inner.Count = int(end - i);
            up.push_back(std::move(made));
        }
        level = std::move(up);
    }
    level[0]->Parent = nullptr;
    return std::move(level[0]);
}

void LinkSlots(TNode* n)
{
    if (n->IsLeaf) {
        TLeaf* leaf = AsLeaf(n);
        for (int i = 0; i < leaf->Count; ++i)
            leaf->Slot[i]->Leaf = leaf;
        return;
    }
    TInner* inner = AsInner(n);
    for (int i = 0; i < inner->Count; ++i)
        LinkSlots(inner->Child[i].get());
}

template <class TVisit>
void ForEachRow(const TNode* n, const TVisit& visit)
{
    if (n->IsLeaf) {
        const TLeaf* leaf = AsLeaf(n);
        for (int i = 0; i < leaf->Count; ++i)
            visit(leaf->Row[i], leaf->Slot[i]);
        return;
    }
    const TInner* inner = AsInner(n);
    for (int i = 0; i < inner->Count; ++i)
        ForEachRow(inner->Child[i].get(), visit);
}

// A slot's place in its leaf.
int IndexIn(const TLeaf* leaf, const TSlot* slot)
{
    int i = 0;
    while (leaf->Slot[i] != slot)
        ++i;
    return i;
}

qsizetype PositionOf(const TSlot* slot, int indexInLeaf)
{
    qsizetype at = indexInLeaf;
    const TNode* n = slot->Leaf;
    for (const TInner* p = n->Parent; p; n = p, p = p->Parent)
        for (int j = 0; p->Child[j].get() != n; ++j)
            at += p->Sum[j].Rows;
    return at;
}

// The first row before which the new row goes: one without a distance, or one that the new
// row does not strictly precede. The row count when there is none.
class TPlaceOf {
public:
    explicit TPlaceOf(const TBollingerEntry& row) : Row(row), Dist(Distance(row)), Key(SymbolKey(row.Symbol)) {}

    bool Stops(double d, quint64 key, QByteArrayView symbol) const
    {
        return std::isnan(Dist) || std::isnan(d) || d < Dist
            || (d == Dist && (key != Key ? key > Key : symbol >= Row.Symbol));
    }
    bool StopsIn(const TSummary& s) const
    {
        // The order is total on rows with a distance, so if any of them stops, the last does.
        return s.AnyMissing || std::isnan(Dist) || (s.HasLast && Stops(s.LastDist, s.LastKey, s.LastSymbol));
    }
    qsizetype In(const TNodePtr& root) const
    {
        if (!root)
            return 0;
        qsizetype at = 0;
        const TNode* n = root.get();
        while (!n->IsLeaf) {
            const TInner* inner = AsInner(n);
            int i = 0;
            while (i < inner->Count && !StopsIn(inner->Sum[i]))
                at += inner->Sum[i++].Rows;
            if (i == inner->Count)
                return at;
            n = inner->Child[i].get();
        }
        const TLeaf* leaf = AsLeaf(n);
        for (int i = 0; i < leaf->Count; ++i)
            if (Stops(leaf->Dist[i], leaf->Key[i], leaf->Row[i].Symbol))
                return at + i;
        return at + leaf->Count;
    }

private:
    const TBollingerEntry& Row;
    double Dist;
    quint64 Key;
};

const TBollingerEntry& RowAt(const TNode* n, qsizetype k)
{
    while (!n->IsLeaf) {
        const TInner* inner = AsInner(n);
        int i = 0;
        while (k >= inner->Sum[i].Rows)
            k -= inner->Sum[i++].Rows;
        n = inner->Child[i].get();
    }
    return AsLeaf(n)->Row[k];
}

// One version of the rows, as the grid reads them.
class TTreeRows : public TRowSource<TBollingerEntry> {
public:
    explicit TTreeRows(TNodePtr root) : Root(std::move(root)), Rows(RowsOf(Root)) {}
    qsizetype Size() const override { return Rows; }
    const TBollingerEntry& At(qsizetype i) const override { return RowAt(Root.get(), i); }

private:
    TNodePtr Root;
    qsizetype Rows;
};

} // namespace

struct TBollingerList::TImpl {
    TNodePtr Root;
    // The symbol set, and the rows under each of its keys. The set ignores letter case, the
    // rows do not (a key holds the rows of each of its spellings, more than one only in the
    // case below). A "delete" of one spelling takes the set entry of every spelling until the
    // next tick builds the set afresh from the rows. So the set is the letter-case keys of the
    // rows, less those deleted since the last tick while rows of them remain. One hashed
    // look-up per alert: at ten thousand rows an ordered map's caseless compares, each one
    // a miss in the cache, cost more than the rest of the change.
    QHash<TCaselessKey, std::vector<std::shared_ptr<TSlot>>> RowsPerKey;
    std::set<QByteArray, TCaseInsensitiveLess> Deleted;
    // No row arrived earlier. Exact after each expiry; a row moved since may have taken the
    // earliest arrival with it, which costs the next expiry one needless look at the rows.
    qint64 EarliestBound = std::numeric_limits<qint64>::max();

    // The rows under the symbol's set entry; null when the set does not answer for it
    // (never seen, or deleted since the last tick).
    const std::vector<std::shared_ptr<TSlot>>* Known(const QByteArray& symbol) const
    {
        const auto found = RowsPerKey.constFind(TCaselessKey{symbol});
        if (found == RowsPerKey.constEnd() || found->empty() || (!Deleted.empty() && Deleted.count(symbol)))
            return nullptr;
        return &*found;
    }

    // Of those rows, the slot of the first one spelt exactly so, and its position; null when
    // none.
    static TSlot* FirstRow(const std::vector<std::shared_ptr<TSlot>>* rows, const QByteArray& symbol,
                           qsizetype& position)
    {
        if (!rows)
            return nullptr;
        TSlot* first = nullptr;
        for (const std::shared_ptr<TSlot>& slot : *rows) {
            const int i = IndexIn(slot->Leaf, slot.get());
            if (slot->Leaf->Row[i].Symbol != symbol)
                continue;
            const qsizetype at = PositionOf(slot.get(), i);
            if (!first || at < position) {
                first = slot.get();
                position = at;
            }
        }
        return first;
    }

    void ForgetRow(const TSlot* slot, const QByteArray& symbol)
    {
        const auto found = RowsPerKey.find(TCaselessKey{symbol});
        std::vector<std::shared_ptr<TSlot>>& slots = found.value();
        std::erase_if(slots, [slot](const std::shared_ptr<TSlot>& s) { return s.get() == slot; });
        if (slots.empty()) {
            Deleted.erase(symbol);
            RowsPerKey.erase(found);
        }
    }
};

TBollingerList::TBollingerList() : Impl(std::make_unique<TImpl>()) {}
TBollingerList::~TBollingerList() = default;

bool TBollingerList::Apply(const QByteArray& action, const TBollingerEntry& entry)
{
    if (action == "add")
        Add(entry);
    else if (action == "delete")
        return Delete(entry.Symbol);
    return true;
}

void TBollingerList::Add(const TBollingerEntry& entry)
{
    TImpl& d = *Impl;
    qsizetype p = -1;
    TSlot* slot = d.FirstRow(d.Known(entry.Symbol), entry.Symbol, p);
    if (!d.Deleted.empty())
        d.Deleted.erase(entry.Symbol);

    // The place among the rows as they are, the symbol's old row included. A new symbol's
    // row would be appended first and stop the scan itself, which puts it no later than the
    // end, the same place.
    const qsizetype t = TPlaceOf(entry).In(d.Root);
    d.EarliestBound = std::min(d.EarliestBound, entry.Received);
    if (!slot) {
        auto fresh = std::make_shared<TSlot>();
        std::vector<std::shared_ptr<TSlot>>& rows = d.RowsPerKey[TCaselessKey{entry.Symbol}];
        try {
            rows.push_back(fresh);
            InsertAt(d.Root, t, entry, fresh.get());
        } catch (...) {
            // A row that was never placed has no slot: a slot without its row would be read
            // by the next look-up of the symbol.
            std::erase(rows, fresh);
            if (rows.empty())
                d.RowsPerKey.remove(TCaselessKey{entry.Symbol});
            throw;
        }
        return;
    }
    // Moving down, the rows between move up one; moving up, they move down one; t = p
    // replaces the row where it is.
    EraseAt(d.Root, p);
    try {
        InsertAt(d.Root, t > p ? t - 1 : t, entry, slot);
    } catch (...) {
        // The old row is gone and the new one not placed: the row is lost, and so must be
        // its slot, which still names the leaf of the removed row.
        d.ForgetRow(slot, entry.Symbol);
        throw;
    }
}

bool TBollingerList::Delete(const QByteArray& symbol)
{
    TImpl& d = *Impl;
    qsizetype p = -1;
    TSlot* slot = d.FirstRow(d.Known(symbol), symbol, p);
    if (!slot)
        return false;
    EraseAt(d.Root, p);
    d.ForgetRow(slot, symbol);
    if (d.RowsPerKey.contains(TCaselessKey{symbol}))
        d.Deleted.insert(symbol);
    return true;
}

bool TBollingerList::Expire(qint64 nowMs)
{
    TImpl& d = *Impl;
    d.Deleted.clear(); // the set is the rows' again
    if (!d.Root || d.EarliestBound > nowMs - LifeMs)
        return false;
    // The kept rows into a new tree, which is built whole before anything changes; the
    // expired rows' slots go after, and the old tree last.
    std::vector<TRowRef> kept;
    std::vector<std::pair<const TSlot*, QByteArray>> gone;
    kept.reserve(size_t(RowsOf(d.Root)));
    qint64 earliest = std::numeric_limits<qint64>::max();
    ForEachRow(d.Root.get(), [&](const TBollingerEntry& row, TSlot* slot) {
        if (row.Received + LifeMs <= nowMs) {
            gone.emplace_back(slot, row.Symbol);
        } else {
            kept.push_back({&row, slot});
            earliest = std::min(earliest, row.Received);
        }
    });
    if (gone.empty()) {
        d.EarliestBound = earliest;
        return false;
    }
    TNodePtr built = Build(kept);
    for (const auto& [slot, symbol] : gone)
        d.ForgetRow(slot, symbol);
    if (built)
        LinkSlots(built.get());
    d.Root = std::move(built);
    d.EarliestBound = earliest;
    return true;
}

TBollingerEntries TBollingerList::Snapshot() const
{
    return TBollingerEntries::FromSource(MakeRecycled<TTreeRows>(Impl->Root));
}

qsizetype TBollingerList::size() const
{
    return RowsOf(Impl->Root);
}

QList<QByteArray> TBollingerList::Symbols() const
{
    QList<QByteArray> out;
    for (auto it = Impl->RowsPerKey.cbegin(); it != Impl->RowsPerKey.cend(); ++it)
        if (!Impl->Deleted.count(it.key().Text))
            out.append(it.key().Text);
    std::sort(out.begin(), out.end(), TCaseInsensitiveLess());
    return out;
}
