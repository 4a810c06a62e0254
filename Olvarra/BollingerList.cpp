#include "Olvarra/BollingerList.h"

#include "Olvarra/Recycling.h"

#include <QHash>
#include <algorithm>
#include <array>
#include <cmath>
#include <set>
#include <vector>

// The rows live in a persistent treap ordered by position: every change copies only the
// nodes on its path (O(log n)), so a snapshot is the root of one version and costs nothing,
// and the grid reads a row in O(log n). Each subtree knows whether it holds a row without a
// distance and which of its distances comes last in the order, so the place of a new row (the
// first row that does not strictly precede it) is found by one descent, whatever the order of
// the rows, which is not sorted everywhere: a row without a distance that later goes leaves
// the runs on both sides of it next to each other.
//
// The live version also carries parent links and a slot per row, so that a symbol's row is
// found by its position without a scan; snapshots never read those.

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

struct TNode;

// A counted link to a node. The count is a plain integer, not an atomic one as a shared_ptr's
// would be: the rows and every version of them live on the one thread that reads alerts and
// paints the grids, and a change copies and drops a few links per node of its path, where
// the atomic instructions cost as much as the rest of the change.
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
    static TNodePtr Adopt(const TNode* made)
    {
        TNodePtr p;
        p.P = made;
        return p;
    }

    const TNode* get() const { return P; }
    const TNode* operator->() const { return P; }
    const TNode& operator*() const { return *P; }
    explicit operator bool() const { return P != nullptr; }
    // How many links there are to the node.
    quint32 use_count() const;

private:
    const TNode* P = nullptr;
};

// A row's handle in the live version.
struct TSlot {
    const TNode* Node = nullptr;
};

// What a descent reads comes first, so that most nodes on a path cost one cache line: at
// ten thousand rows the tree is larger than the cache, and its row, read only where the
// descent stops, was between the links and the counts.
struct TNode {
    TNodePtr Left;
    TNodePtr Right;
    qsizetype Count = 1;
    quint32 Priority = 0;
    bool AnyMissing = false;              // a row without a distance below
    // Live version only: set after every change by Attach.
    mutable bool Fresh = true;
    // Live version only: made at this address by the last change (a new row or a copy), so
    // its slot must learn where it is. A node changed in place leaves its slot alone: at ten
    // thousand rows each slot written was a miss in the cache.
    mutable bool Moved = true;
    // The row with a distance that comes last in the order: its distance (NaN for none) kept
    // here, so that a descent reads its symbol only on a tie.
    double LastDist = NaN;
    const QByteArray* LastSymbol = nullptr;
    // The first eight bytes of that symbol and of the row's own (SymbolKey): equal distances
    // are ordered by them without reading the symbols, unless those bytes are equal too.
    quint64 LastKey = 0;
    quint64 RowKey = 0;
    mutable const TNode* Parent = nullptr;
    TSlot* Slot = nullptr;
    qint64 OldestReceived = 0;
    TBollingerEntry Row;
    mutable quint32 Links = 1;
};

TNodePtr::TNodePtr(const TNodePtr& other) noexcept : P(other.P)
{
    if (P)
        ++P->Links;
}

TNodePtr::~TNodePtr()
{
    // A node's children go with it: one level of calls per level of the tree, whose depth
    // the random priorities keep logarithmic.
    if (P && --P->Links == 0) {
        TNode* node = const_cast<TNode*>(P);
        std::destroy_at(node);
        TRecycling<TNode>().deallocate(node, 1);
    }
}

quint32 TNodePtr::use_count() const
{
    return P ? P->Links : 0;
}

qsizetype CountOf(const TNodePtr& n) { return n ? n->Count : 0; }

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

bool Later(double da, quint64 ka, const QByteArray& a, double db, quint64 kb, const QByteArray& b)
{
    return da < db || (da == db && (ka != kb ? ka > kb : a > b));
}

// A node's counts and summaries, from its row and its children.
void Summarise(TNode& n)
{
    n.Count = 1 + CountOf(n.Left) + CountOf(n.Right);
    n.AnyMissing = std::isnan(n.Row.DistFromBB);
    n.LastDist = NaN;
    n.LastSymbol = nullptr;
    n.LastKey = 0;
    if (!n.AnyMissing) {
        n.LastDist = Distance(n.Row);
        n.LastSymbol = &n.Row.Symbol;
        n.LastKey = n.RowKey;
    }
    n.OldestReceived = n.Row.Received;
    for (const TNode* child : {n.Left.get(), n.Right.get()}) {
        if (!child)
            continue;
        n.AnyMissing = n.AnyMissing || child->AnyMissing;
        if (child->LastSymbol
            && (!n.LastSymbol
                || Later(child->LastDist, child->LastKey, *child->LastSymbol, n.LastDist, n.LastKey, *n.LastSymbol))) {
            n.LastDist = child->LastDist;
            n.LastSymbol = child->LastSymbol;
            n.LastKey = child->LastKey;
        }
        n.OldestReceived = std::min(n.OldestReceived, child->OldestReceived);
    }
}

TNodePtr Make(const TBollingerEntry& row, quint32 priority, TSlot* slot, TNodePtr left, TNodePtr right)
{
    // Made in a recycled block; the allocation is the only step that can fail.
    TNode* n = ::new (TRecycling<TNode>().allocate(1)) TNode();
    TNodePtr node = TNodePtr::Adopt(n);
    n->Row = row;
    n->RowKey = SymbolKey(n->Row.Symbol);
    n->Priority = priority;
    n->Slot = slot;
    n->Left = std::move(left);
    n->Right = std::move(right);
    Summarise(*n);
    return node;
}

// A change walks one path down from the root. A node on it that nothing but the live tree
// holds (no snapshot, no older version: its link is the only one, and so is every link above
// it) is changed in place; from the first node that something else holds on, the path is
// copied. The grid lets go of its version while the list changes (see the Bollinger kind), so
// in a flood most changes copy nothing. Owned nodes are always above copied ones, so every
// copy (an allocation, which may fail) is made before the first node is changed in place:
// a failure leaves the tree as it was.
bool Owned(bool above, const TNodePtr& n)
{
    return above && n && n.use_count() == 1;
}

// n with new children: itself when owned, else a copy.
TNodePtr With(const TNodePtr& n, bool owned, TNodePtr left, TNodePtr right)
{
    if (!owned)
        return Make(n->Row, n->Priority, n->Slot, std::move(left), std::move(right));
    TNode& w = const_cast<TNode&>(*n);
    w.Left = std::move(left);
    w.Right = std::move(right);
    Summarise(w);
    w.Fresh = true;
    return n;
}

// n with a new left or right child, the other kept: itself when owned, else a copy. The kept
// child's link is not touched.
TNodePtr WithOne(const TNodePtr& n, bool owned, bool left, TNodePtr child)
{
    if (!owned)
        return left ? Make(n->Row, n->Priority, n->Slot, std::move(child), n->Right)
                    : Make(n->Row, n->Priority, n->Slot, n->Left, std::move(child));
    TNode& w = const_cast<TNode&>(*n);
    (left ? w.Left : w.Right) = std::move(child);
    Summarise(w);
    w.Fresh = true;
    return n;
}

TNodePtr WithLeft(const TNodePtr& n, bool owned, TNodePtr left) { return WithOne(n, owned, true, std::move(left)); }
TNodePtr WithRight(const TNodePtr& n, bool owned, TNodePtr right) { return WithOne(n, owned, false, std::move(right)); }

// The first k rows, and the rest.
std::pair<TNodePtr, TNodePtr> Split(const TNodePtr& n, bool owned, qsizetype k)
{
    if (!n)
        return {};
    const qsizetype left = CountOf(n->Left);
    if (k <= left) {
        auto [a, b] = Split(n->Left, Owned(owned, n->Left), k);
        return {std::move(a), WithLeft(n, owned, std::move(b))};
    }
    auto [a, b] = Split(n->Right, Owned(owned, n->Right), k - left - 1);
    return {WithRight(n, owned, std::move(a)), std::move(b)};
}

// a's rows, then b's. One path, alternating between the two trees, with one owned flag: a
// node counts as owned only if every node before it on the path is.
TNodePtr Merge(const TNodePtr& a, const TNodePtr& b, bool owned)
{
    if (!a)
        return b;
    if (!b)
        return a;
    if (a->Priority >= b->Priority) {
        const bool mine = Owned(owned, a);
        return WithRight(a, mine, Merge(a->Right, b, mine));
    }
    const bool mine = Owned(owned, b);
    return WithLeft(b, mine, Merge(a, b->Left, mine));
}

// One descent each: the new row goes where its priority puts it, splitting the subtree
// there; a removed row's subtrees are merged in its place.
TNodePtr InsertAt(const TNodePtr& n, bool owned, qsizetype k, TNodePtr fresh)
{
    if (!n || fresh->Priority > n->Priority) {
        auto [a, b] = Split(n, owned, k);
        return With(fresh, true, std::move(a), std::move(b));
    }
    const qsizetype left = CountOf(n->Left);
    if (k <= left)
        return WithLeft(n, owned, InsertAt(n->Left, Owned(owned, n->Left), k, std::move(fresh)));
    return WithRight(n, owned, InsertAt(n->Right, Owned(owned, n->Right), k - left - 1, std::move(fresh)));
}

TNodePtr EraseAt(const TNodePtr& n, bool owned, qsizetype k)
{
    const qsizetype left = CountOf(n->Left);
    if (k < left)
        return WithLeft(n, owned, EraseAt(n->Left, Owned(owned, n->Left), k));
    if (k == left)
        return Merge(n->Left, n->Right, owned);
    return WithRight(n, owned, EraseAt(n->Right, Owned(owned, n->Right), k - left - 1));
}

// Parent links and slots for the nodes made by the last change (the others keep theirs).
void Attach(const TNode* n)
{
    if (!n->Fresh)
        return;
    n->Fresh = false;
    if (n->Moved) {
        n->Moved = false;
        n->Slot->Node = n;
    }
    for (const TNode* child : {n->Left.get(), n->Right.get()}) {
        if (child) {
            child->Parent = n;
            Attach(child);
        }
    }
}

qsizetype PositionOf(const TNode* n)
{
    qsizetype at = CountOf(n->Left);
    for (const TNode* p = n->Parent; p; n = p, p = p->Parent)
        if (p->Right.get() == n)
            at += CountOf(p->Left) + 1;
    return at;
}

// The first row before which the new row goes: one without a distance, or one that the new
// row does not strictly precede. The row count when there is none.
class TPlaceOf {
public:
    explicit TPlaceOf(const TBollingerEntry& row) : Row(row), Dist(Distance(row)), Key(SymbolKey(row.Symbol)) {}

    bool Stops(double d, quint64 key, const QByteArray& symbol) const
    {
        return std::isnan(Dist) || std::isnan(d) || d < Dist
            || (d == Dist && (key != Key ? key > Key : symbol >= Row.Symbol));
    }
    bool StopsIn(const TNodePtr& n) const
    {
        // The order is total on rows with a distance, so if any of them stops, the last does.
        return n
            && (n->AnyMissing || std::isnan(Dist)
                || (n->LastSymbol && Stops(n->LastDist, n->LastKey, *n->LastSymbol)));
    }
    qsizetype In(const TNodePtr& root) const
    {
        qsizetype at = 0;
        for (const TNode* n = root.get(); n;) {
            if (StopsIn(n->Left)) {
                n = n->Left.get();
                continue;
            }
            if (Stops(Distance(n->Row), n->RowKey, n->Row.Symbol))
                return at + CountOf(n->Left);
            at += CountOf(n->Left) + 1;
            n = n->Right.get();
        }
        return at;
    }

private:
    const TBollingerEntry& Row;
    double Dist;
    quint64 Key;
};

const TBollingerEntry& RowAt(const TNode* n, qsizetype i)
{
    for (;;) {
        const qsizetype left = CountOf(n->Left);
        if (i < left) {
            n = n->Left.get();
        } else if (i == left) {
            return n->Row;
        } else {
            i -= left + 1;
            n = n->Right.get();
        }
    }
}

// One version of the rows, as the grid reads them.
class TTreeRows : public TRowSource<TBollingerEntry> {
public:
    explicit TTreeRows(TNodePtr root) : Root(std::move(root)) {}
    qsizetype Size() const override { return CountOf(Root); }
    const TBollingerEntry& At(qsizetype i) const override { return RowAt(Root.get(), i); }

private:
    TNodePtr Root;
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
    quint32 Seed = 0x9E3779B9u;

    quint32 NextPriority()
    {
        // xorshift32: priorities the server cannot steer keep the tree's depth logarithmic.
        Seed ^= Seed << 13;
        Seed ^= Seed >> 17;
        Seed ^= Seed << 5;
        return Seed;
    }

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
            if (slot->Node->Row.Symbol != symbol)
                continue;
            const qsizetype at = PositionOf(slot->Node);
            if (!first || at < position) {
                first = slot.get();
                position = at;
            }
        }
        return first;
    }

    void Changed(TNodePtr root)
    {
        Root = std::move(root);
        if (Root) {
            Root->Parent = nullptr;
            Attach(Root.get());
        }
    }

    // A row's node is made before the change that places it: if making it fails, nothing
    // has changed yet.
    TNodePtr NewNode(const TBollingerEntry& row, TSlot* slot)
    {
        return Make(row, NextPriority(), slot, nullptr, nullptr);
    }
    void Place(qsizetype at, TNodePtr fresh) { Changed(InsertAt(Root, Owned(true, Root), at, std::move(fresh))); }

    void Erase(qsizetype at) { Changed(EraseAt(Root, Owned(true, Root), at)); }
    // The first half of a move: the parent links and slots are left for the Place that
    // follows at once, so that one walk brings both changes' nodes up to date.
    void EraseForMove(qsizetype at) { Root = EraseAt(Root, Owned(true, Root), at); }

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

    // The tree without the rows that expire at now; their slots in gone.
    TNodePtr Without(const TNodePtr& n, qint64 nowMs, std::vector<const TNode*>& gone)
    {
        if (!n || n->OldestReceived + LifeMs > nowMs)
            return n;
        TNodePtr left = Without(n->Left, nowMs, gone);
        TNodePtr right = Without(n->Right, nowMs, gone);
        // Copied, never changed in place: the old root stays whole until the slots are gone.
        if (n->Row.Received + LifeMs <= nowMs) {
            gone.push_back(n.get());
            return Merge(left, right, false);
        }
        return With(n, false, std::move(left), std::move(right));
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
    if (!slot) {
        auto fresh = std::make_shared<TSlot>();
        TNodePtr node = d.NewNode(entry, fresh.get());
        std::vector<std::shared_ptr<TSlot>>& rows = d.RowsPerKey[TCaselessKey{entry.Symbol}];
        try {
            rows.push_back(fresh);
            d.Place(t, std::move(node));
        } catch (...) {
            // A row that was never placed has no slot: a slot without its node would be read
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
    TNodePtr moved = d.NewNode(entry, slot);
    d.EraseForMove(p);
    try {
        d.Place(t > p ? t - 1 : t, std::move(moved));
    } catch (...) {
        // The old row is gone and the new one not placed: the row is lost, and so must be
        // its slot, which still points at the removed node.
        d.ForgetRow(slot, entry.Symbol);
        d.Changed(d.Root);
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
    d.Erase(p);
    d.ForgetRow(slot, symbol);
    if (d.RowsPerKey.contains(TCaselessKey{symbol}))
        d.Deleted.insert(symbol);
    return true;
}

bool TBollingerList::Expire(qint64 nowMs)
{
    TImpl& d = *Impl;
    d.Deleted.clear(); // the set is the rows' again
    std::vector<const TNode*> gone;
    TNodePtr kept = d.Without(d.Root, nowMs, gone);
    if (gone.empty())
        return false;
    // The removed nodes live until the old root goes, after their slots.
    const TNodePtr old = d.Root;
    for (const TNode* n : gone)
        d.ForgetRow(n->Slot, n->Row.Symbol);
    d.Changed(std::move(kept));
    return true;
}

TBollingerEntries TBollingerList::Snapshot() const
{
    return TBollingerEntries::FromSource(MakeRecycled<TTreeRows>(Impl->Root));
}

qsizetype TBollingerList::size() const
{
    return CountOf(Impl->Root);
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
