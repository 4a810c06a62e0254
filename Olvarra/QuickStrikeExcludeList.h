#pragma once
// The symbols that QuickStrike windows ignore, edited by the main window's dialog; not saved.

#include <QByteArray>
#include <QList>

// The process-wide QuickStrike exclusion list: sorted ignoring letter case, no duplicates
// (letter case ignored); the first spelling added is kept.
class TQuickStrikeExcludeList {
public:
    void Clear() { Items.clear(); }
    void Add(const QByteArray& symbol);
    bool Contains(const QByteArray& symbol) const;
    const QList<QByteArray>& GetItems() const { return Items; }

private:
    QList<QByteArray> Items;
};
TQuickStrikeExcludeList& QuickStrikeExcludeList();
