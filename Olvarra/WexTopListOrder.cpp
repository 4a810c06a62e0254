#include "Olvarra/WexTopListOrder.h"

#include "Platform/Clock.h"

#include <QHash>
#include <limits>

namespace {

// LastSortTime before any list was sorted: so long ago that the first list is shown at once.
constexpr qint64 LongPast = std::numeric_limits<qint64>::min();

// A new order is shown at most this often, unless the user asks or the window says otherwise.
constexpr qint64 SortIntervalMs = 30'000;

} // namespace

TWexTopListOrder::TWexTopListOrder() : LastSortTime(LongPast) {}

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

    QHash<QByteArray, size_t> onScreen;
    onScreen.reserve(qsizetype(DisplayedEntries.size()));
    for (size_t i = 0; i < DisplayedEntries.size(); ++i) {
        const QByteArray key = DisplayedEntries[i].Symbol.toLower();
        if (!onScreen.contains(key))
            onScreen.insert(key, i);
    }

    for (const TWexTopListEntry& entry : PendingEntries) {
        const auto found = onScreen.constFind(entry.Symbol.toLower());
        if (found != onScreen.constEnd()) {
            DisplayedEntries[found.value()] = entry;
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
}

void TWexTopListOrder::ApplyPending()
{
    SortPending = false;
    MissingCount = 0;
    MissingText.clear();
    DisplayedEntries = PendingEntries;
}
