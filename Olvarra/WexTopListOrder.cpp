#include "Olvarra/WexTopListOrder.h"

#include "Platform/Clock.h"

#include <algorithm>
#include <limits>

namespace {

// LastSortTime before any list was sorted: so long ago that the first list is shown at once.
constexpr qint64 LongPast = std::numeric_limits<qint64>::min();

// A new order is shown at most this often, unless the user asks or the window says otherwise.
constexpr qint64 SortIntervalMs = 30'000;

char AsciiLower(char c)
{
    return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
}

// Symbols are matched as QByteArray::toLower would make them (ASCII letters only), without
// making the lowered copies: a list of twenty rows cost forty allocations that way.
quint32 CaselessHash(QByteArrayView symbol)
{
    quint32 h = 2166136261u;
    for (char c : symbol)
        h = (h ^ quint8(AsciiLower(c))) * 16777619u;
    return h;
}

bool SameIgnoringCase(QByteArrayView a, QByteArrayView b)
{
    if (a.size() != b.size())
        return false;
    for (qsizetype i = 0; i < a.size(); ++i)
        if (AsciiLower(a[i]) != AsciiLower(b[i]))
            return false;
    return true;
}

} // namespace

TWexTopListOrder::TWexTopListOrder() : LastSortTime(LongPast) { }

bool TWexTopListOrder::SetEntries(const TWexTopListEntries& list)
{
    PendingEntries = list;
    SortPending = true;

    bool sameOrder = PendingEntries.size() == DisplayedEntries.size();
    for (size_t i = 0; sameOrder && i < PendingEntries.size(); ++i)
        sameOrder = PendingEntries[i].Symbol == DisplayedEntries[i].Symbol;

    if (sameOrder) {
        ApplyPending(); // nothing moves, so even a frozen list shows the new values
        return true;
    }
    if (TimeToSort())
        return SortNow();
    UpdateInPlace();
    return false;
}

bool TWexTopListOrder::TimeToSort() const
{
    if (!SortPending || Frozen)
        return false;
    if (IgnoreSortTimer || LastSortTime == LongPast)
        return true;
    return Clock().MonotonicMs() - LastSortTime > SortIntervalMs;
}

bool TWexTopListOrder::SortNow()
{
    if (!SortPending)
        return false;
    ApplyPending();
    LastSortTime = Clock().MonotonicMs();
    return true;
}

bool TWexTopListOrder::SortTimerTick()
{
    return TimeToSort() && SortNow();
}

bool TWexTopListOrder::SetFrozen(bool flag, bool& shown)
{
    shown = false;
    if (flag == Frozen)
        return false;
    Frozen = flag;
    LastSortTime = LongPast;
    shown = SortTimerTick();
    return true;
}

void TWexTopListOrder::UpdateInPlace()
{
    MissingCount = 0;
    MissingText.clear();

    // The rows on screen by the hash of their symbol, and by place among equal hashes: the
    // first row of a symbol is the one updated. Kept between lists, so it costs no allocation.
    ScreenIndex.clear();
    for (size_t i = 0; i < DisplayedEntries.size(); ++i)
        ScreenIndex.emplace_back(CaselessHash(DisplayedEntries[i].Symbol), i);
    std::sort(ScreenIndex.begin(), ScreenIndex.end());

    for (const TWexTopListEntry& entry : PendingEntries) {
        const quint32 hash = CaselessHash(entry.Symbol);
        auto at = std::lower_bound(ScreenIndex.begin(), ScreenIndex.end(), std::pair<quint32, size_t>(hash, 0));
        while (at != ScreenIndex.end() && at->first == hash
               && !SameIgnoringCase(DisplayedEntries[at->second].Symbol, entry.Symbol))
            ++at;
        if (at != ScreenIndex.end() && at->first == hash) {
            DisplayedEntries[at->second] = entry;
            continue;
        }
        ++MissingCount;
        if (MissingCount == 1) {
            MissingText = entry.Symbol;
        } else if (MissingCount <= 5) {
            MissingText += ", ";
            MissingText += entry.Symbol;
        }
    }
    if (MissingCount > 5)
        MissingText += " and " + QByteArray::number(MissingCount - 5) + " more";
    // A hostile list of millions of rows must not leave its index's room behind.
    if (ScreenIndex.capacity() > 4096 && ScreenIndex.size() < ScreenIndex.capacity() / 4)
        ScreenIndex = {};
}

void TWexTopListOrder::ApplyPending()
{
    SortPending = false;
    MissingCount = 0;
    MissingText.clear();
    DisplayedEntries = PendingEntries;
}
