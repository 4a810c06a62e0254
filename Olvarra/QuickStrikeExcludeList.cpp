#include "Olvarra/QuickStrikeExcludeList.h"

#include <algorithm>

namespace {

int CompareIgnoringCase(const QByteArray& a, const QByteArray& b)
{
    return a.compare(b, Qt::CaseInsensitive);
}

struct TCaseInsensitiveLess {
    bool operator()(const QByteArray& a, const QByteArray& b) const { return CompareIgnoringCase(a, b) < 0; }
};

} // namespace

// ---------------------------------------------------------------------------------------------
// The exclusion list

void TQuickStrikeExcludeList::Add(const QByteArray& symbol)
{
    const auto at = std::lower_bound(Items.begin(), Items.end(), symbol, TCaseInsensitiveLess());
    if (at != Items.end() && CompareIgnoringCase(*at, symbol) == 0)
        return; // the spelling added first stays
    Items.insert(at, symbol);
}

bool TQuickStrikeExcludeList::Contains(const QByteArray& symbol) const
{
    const auto at = std::lower_bound(Items.begin(), Items.end(), symbol, TCaseInsensitiveLess());
    return at != Items.end() && CompareIgnoringCase(*at, symbol) == 0;
}

TQuickStrikeExcludeList& QuickStrikeExcludeList()
{
    static TQuickStrikeExcludeList list;
    return list;
}

