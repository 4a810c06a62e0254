#include "Olvarra/DisplayKinds.h"

#include "Olvarra/AlertRecords.h"
#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/BollingerGrid.h"
#include "Olvarra/BollingerList.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "Olvarra/WexGridFull.h"
#include "Shared/ByteSlices.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <optional>

namespace {

// The newest-first kinds that keep a day's worth of alerts at most this many rows; Rook and
// Tamber keep every row.
constexpr qsizetype RowCap = 1000;

const QByteArray DefaultExtraColumnKey = "sma_divergence";

// A kind with its grid, made a child of the window.
template <class TGrid>
class TKindWithGrid : public TDisplayKind {
public:
    explicit TKindWithGrid(QWidget* owner) : GridWidget(new TGrid(owner)) {}
    TAlertGridBase* Grid() const override { return GridWidget; }

protected:
    TGrid* GridWidget;
};

// The newest-first kinds: each alert becomes one row at the top. The list hands the grid an
// O(1) snapshot per alert, so the cost of an alert does not grow with the rows kept.
template <class TGrid, class TEntry>
class TNewestFirstKind : public TKindWithGrid<TGrid> {
public:
    using TKindWithGrid<TGrid>::GridWidget;
    using TDisplayKind::kmClear;
    using TDisplayKind::kmNone;
    using typename TDisplayKind::TMenu;

    // cap 0: every row kept. Clearable kinds have the Clear menu.
    TNewestFirstKind(QWidget* owner, qsizetype cap, bool clearable)
        : TKindWithGrid<TGrid>(owner), Rows(cap), Clearable(clearable) {}

    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) override
    {
        GridWidget->SetTextColor(color);
    }

    void HandleFields(const tHashTable& fields) override
    {
        std::optional<TEntry> row = ReadRow(fields);
        if (!row)
            return;
        Rows.InsertAtFront(std::move(*row));
        GridWidget->SetEntries(Rows.Snapshot());
    }

    TMenu Menu() const override { return Clearable ? kmClear : kmNone; }

    void ClearWindow() override
    {
        if (!Clearable || Rows.isEmpty())
            return;
        Rows.Clear();
        GridWidget->SetEntries(Rows.Snapshot());
    }

protected:
    // The row of one alert; none: the alert is dropped.
    virtual std::optional<TEntry> ReadRow(const tHashTable& fields) const = 0;

private:
    TFrontInsertList<TEntry> Rows;
    bool Clearable;
};

class TQuickStrikeKind : public TNewestFirstKind<TQuickStrikeGrid, TQuickStrikeEntry> {
public:
    explicit TQuickStrikeKind(QWidget* owner) : TNewestFirstKind(owner, RowCap, true) {}

    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) override
    {
        GridWidget->SetExtraColumnTitle(config.ReadString(section, "extra_column_visible_name"));
        GridWidget->SetExtraColumnFormat(config.ReadString(section, "extra_column_format"));
        ExtraKey = config.ReadString(section, "extra_column_internal_name", DefaultExtraColumnKey);
        GridWidget->SetTextColor(color);
    }
    const QByteArray& ExtraColumnKey() const override { return ExtraKey; }

protected:
    std::optional<TQuickStrikeEntry> ReadRow(const tHashTable& fields) const override
    {
        if (QuickStrikeExcludeList().Contains(GetText(fields, "symbol")))
            return std::nullopt;
        return ReadQuickStrikeEntry(fields, ExtraKey);
    }

private:
    QByteArray ExtraKey = DefaultExtraColumnKey;
};

// The symbol wall: QuickStrike rows without the exclusion list, always "sma_divergence".
class TSymbolOnlyKind : public TNewestFirstKind<TSymbolOnlyGrid, TQuickStrikeEntry> {
public:
    explicit TSymbolOnlyKind(QWidget* owner) : TNewestFirstKind(owner, RowCap, true) {}

protected:
    std::optional<TQuickStrikeEntry> ReadRow(const tHashTable& fields) const override
    {
        return ReadQuickStrikeEntry(fields, DefaultExtraColumnKey);
    }
};

// The newest-first kinds whose row comes from one reader alone.
template <class TGrid, class TEntry, TEntry (*Read)(const tHashTable&)>
class TPlainNewestFirstKind : public TNewestFirstKind<TGrid, TEntry> {
public:
    using TNewestFirstKind<TGrid, TEntry>::TNewestFirstKind;

protected:
    std::optional<TEntry> ReadRow(const tHashTable& fields) const override { return Read(fields); }
};

using TSimpleListKind = TPlainNewestFirstKind<TPointsTopListGrid, TPointsTopListEntry, ReadSimpleListEntry>;
using TRookKind = TPlainNewestFirstKind<TRookGrid, TRookEntry, ReadRookEntry>;
using TTamberKind = TPlainNewestFirstKind<TTamberGrid, TTamberEntry, ReadTamberEntry>;

// The ranked list: every alert replaces it whole.
class TPointsListKind : public TKindWithGrid<TPointsTopListGrid> {
public:
    using TKindWithGrid::TKindWithGrid;
    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) override
    {
        GridWidget->SetTextColor(color);
        if (config.ReadFlag(section, "volume"))
            GridWidget->ShowVolumeColumn();
    }
    void HandleFields(const tHashTable& fields) override
    {
        GridWidget->SetEntries(TPointsTopListEntries::FromVector(ReadPointsTopList(fields)));
    }
};

// The full top list: the grid decides when a list is shown.
class TTopListKind : public TKindWithGrid<TWexTopListFullGrid> {
public:
    using TKindWithGrid::TKindWithGrid;
    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor) override
    {
        GridWidget->SetColumns(config.ReadString(section, "columns"));
        GridWidget->SetIgnoreSortTimer(config.ReadFlag(section, "ignore_sort_timer"));
    }
    void HandleFields(const tHashTable& fields) override { GridWidget->SetEntries(ReadWexTopList(fields)); }
    void Tick(qint64) override { GridWidget->SortTimerTick(); }
    TMenu Menu() const override { return kmTopList; }
    TWexTopListFullGrid* TopListGrid() const override { return GridWidget; }
};

// The live set of symbols, ordered by distance from the band.
class TBollingerKind : public TKindWithGrid<TBollingerGrid> {
public:
    using TKindWithGrid::TKindWithGrid;
    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor) override
    {
        const QByteArray extra = config.ReadString(section, "extra");
        if (!extra.isEmpty())
            GridWidget->SetExtraColumnTitle(extra);
    }
    void HandleFields(const tHashTable& fields) override
    {
        const QByteArray action = GetText(fields, "action");
        const TBollingerEntry entry = ReadBollingerEntry(fields);
        if (action == "add") {
            // The grid's version is all that keeps the tree's nodes from being changed in
            // place (a copy of each changed path otherwise, with every alert): it is lent for
            // the change, which always hands a new version over.
            GridWidget->LendEntries();
            try {
                List.Add(entry);
            } catch (...) {
                GridWidget->SetEntries(List.Snapshot()); // a failed change leaves the list whole
                throw;
            }
            GridWidget->SetEntries(List.Snapshot());
        } else if (List.Apply(action, entry)) {
            GridWidget->SetEntries(List.Snapshot());
        }
    }
    void Tick(qint64 nowMs) override
    {
        // Most ticks expire nothing: those leave the grid alone.
        if (List.Expire(nowMs))
            GridWidget->SetEntries(List.Snapshot());
    }
    const TBollingerList* BollingerList() const override { return &List; }

private:
    TBollingerList List;
};

} // namespace

void TDisplayKind::HandleBody(const QByteArray& body, const QByteArray& category)
{
    // Line 1 equals the category exactly: the body starts with it and the line ends right
    // there. This looks at no more bytes than the category has, so windows of other
    // categories spend next to nothing on a message. (A configured value never holds a line
    // break, so a match cannot span one.)
    const qsizetype n = category.size();
    if (!body.startsWith(category))
        return;
    if (body.size() != n && !(body.size() >= n + 2 && body[n] == '\r' && body[n + 1] == '\n'))
        return;
    // The field line is read in place: a view into the body, which outlives the parse (the
    // table holds decoded copies), so a large alert is not copied once more.
    const qsizetype start = n + 2;
    QByteArray fieldList;
    if (start <= body.size()) {
        const qsizetype end = IndexOfLineBreak(body, start);
        const qsizetype length = (end < 0 ? body.size() : end) - start;
        fieldList = QByteArray::fromRawData(body.constData() + start, length);
    }
    if (FieldsInUse) {
        // Reached again from inside HandleFields (an event loop run by outside code): the
        // shared table is busy, so this alert gets one of its own.
        tHashTable fields;
        ParseForm(fieldList, fields);
        HandleFields(fields);
        return;
    }
    // Emptied on the way out, exceptions included: the table must not keep views into a body
    // that is about to go.
    struct TEmptyAfter {
        TDisplayKind& Kind;
        ~TEmptyAfter()
        {
            Kind.Fields.Clear();
            Kind.FieldsInUse = false;
        }
    } emptyAfter{*this};
    FieldsInUse = true;
    ParseForm(fieldList, Fields);
    HandleFields(Fields);
}

const QByteArray& TDisplayKind::ExtraColumnKey() const
{
    return DefaultExtraColumnKey;
}

TAlertDisplayKind DisplayKindOf(const QByteArray& display)
{
    // Tested in this order; the first match wins.
    static const std::pair<const char*, TAlertDisplayKind> names[] = {
        {"set", dkBollinger},         {"symbol", dkSymbolOnly},
        {"pointslist", dkPointsList}, {"wex", dkWexTopList},
        {"rook-simplelist", dkRookList}, {"tamber-simplelist", dkTamberList},
        {"simplelist", dkSimpleList},
    };
    for (const auto& [name, kind] : names)
        if (display == name)
            return kind;
    return dkQuickStrike;
}

std::unique_ptr<TDisplayKind> MakeDisplayKind(TAlertDisplayKind kind, QWidget* owner)
{
    switch (kind) {
    case dkBollinger:
        return std::make_unique<TBollingerKind>(owner);
    case dkSymbolOnly:
        return std::make_unique<TSymbolOnlyKind>(owner);
    case dkPointsList:
        return std::make_unique<TPointsListKind>(owner);
    case dkSimpleList:
        return std::make_unique<TSimpleListKind>(owner, RowCap, true);
    case dkRookList:
        return std::make_unique<TRookKind>(owner, 0, false);
    case dkWexTopList:
        return std::make_unique<TTopListKind>(owner);
    case dkTamberList:
        return std::make_unique<TTamberKind>(owner, 0, false);
    case dkQuickStrike:
        break;
    }
    return std::make_unique<TQuickStrikeKind>(owner);
}
