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
#include "Platform/VeskError.h"
#include "Shared/ByteSlices.h"
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
    TNewestFirstKind(QWidget* owner, qsizetype cap, bool clearable, std::vector<QByteArray> keys)
        : TKindWithGrid<TGrid>(owner), Rows(cap), Clearable(clearable)
    {
        this->ReadsOnly(std::move(keys));
    }

    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) override
    {
        GridWidget->SetTextColor(color);
    }

    void HandlePicked(const TFormPick& fields) override
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
    virtual std::optional<TEntry> ReadRow(const TFormPick& fields) const = 0;

private:
    TFrontInsertList<TEntry> Rows;
    bool Clearable;
};

class TQuickStrikeKind : public TNewestFirstKind<TQuickStrikeGrid, TQuickStrikeEntry> {
public:
    explicit TQuickStrikeKind(QWidget* owner)
        : TNewestFirstKind(owner, RowCap, true, QuickStrikeKeys(DefaultExtraColumnKey)) {}

    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) override
    {
        GridWidget->SetExtraColumnTitle(config.ReadString(section, "extra_column_visible_name"));
        GridWidget->SetExtraColumnFormat(config.ReadString(section, "extra_column_format"));
        ExtraKey = config.ReadString(section, "extra_column_internal_name", DefaultExtraColumnKey);
        ReadsOnly(QuickStrikeKeys(ExtraKey));
        GridWidget->SetTextColor(color);
    }
    const QByteArray& ExtraColumnKey() const override { return ExtraKey; }

protected:
    std::optional<TQuickStrikeEntry> ReadRow(const TFormPick& fields) const override
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
    explicit TSymbolOnlyKind(QWidget* owner)
        : TNewestFirstKind(owner, RowCap, true, QuickStrikeKeys(DefaultExtraColumnKey)) {}

protected:
    std::optional<TQuickStrikeEntry> ReadRow(const TFormPick& fields) const override
    {
        return ReadQuickStrikeEntry(fields, DefaultExtraColumnKey);
    }
};

// The newest-first kinds whose row comes from one reader alone.
template <class TGrid, class TEntry, TEntry (*Read)(const TFormPick&), std::vector<QByteArray> (*Keys)()>
class TPlainNewestFirstKind : public TNewestFirstKind<TGrid, TEntry> {
public:
    TPlainNewestFirstKind(QWidget* owner, qsizetype cap, bool clearable)
        : TNewestFirstKind<TGrid, TEntry>(owner, cap, clearable, Keys()) {}

protected:
    std::optional<TEntry> ReadRow(const TFormPick& fields) const override { return Read(fields); }
};

using TSimpleListKind = TPlainNewestFirstKind<TPointsTopListGrid, TPointsTopListEntry, ReadSimpleListEntry<TFormPick>,
                                              SimpleListKeys>;
using TRookKind = TPlainNewestFirstKind<TRookGrid, TRookEntry, ReadRookEntry<TFormPick>, RookKeys>;
using TTamberKind = TPlainNewestFirstKind<TTamberGrid, TTamberEntry, ReadTamberEntry<TFormPick>, TamberKeys>;

// The ranked list: every alert replaces it whole.
class TPointsListKind : public TKindWithGrid<TPointsTopListGrid> {
public:
    explicit TPointsListKind(QWidget* owner) : TKindWithGrid(owner) { ReadsRowsOf(PointsTopListColumns()); }
    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor color) override
    {
        GridWidget->SetTextColor(color);
        if (config.ReadFlag(section, "volume"))
            GridWidget->ShowVolumeColumn();
    }
    void HandleRows(const TNumberedFormPick& rows) override
    {
        GridWidget->SetEntries(TPointsTopListEntries::FromVector(ReadPointsTopList(rows)));
    }
};

// The full top list: the grid decides when a list is shown.
class TTopListKind : public TKindWithGrid<TWexTopListFullGrid> {
public:
    explicit TTopListKind(QWidget* owner) : TKindWithGrid(owner) { ReadsRowsOf(WexTopListColumns()); }
    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor) override
    {
        GridWidget->SetColumns(config.ReadString(section, "columns"));
        GridWidget->SetIgnoreSortTimer(config.ReadFlag(section, "ignore_sort_timer"));
    }
    void HandleRows(const TNumberedFormPick& rows) override { GridWidget->SetEntries(ReadWexTopList(rows)); }
    void Tick(qint64) override { GridWidget->SortTimerTick(); }
    TMenu Menu() const override { return kmTopList; }
    TWexTopListFullGrid* TopListGrid() const override { return GridWidget; }
};

// The live set of symbols, ordered by distance from the band.
class TBollingerKind : public TKindWithGrid<TBollingerGrid> {
public:
    explicit TBollingerKind(QWidget* owner) : TKindWithGrid(owner) { ReadsOnly(BollingerKeys()); }
    void LoadSettings(const TConfigFile& config, const QByteArray& section, TColor) override
    {
        const QByteArray extra = config.ReadString(section, "extra");
        if (!extra.isEmpty())
            GridWidget->SetExtraColumnTitle(extra);
    }
    void HandlePicked(const TFormPick& fields) override
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
    // Most bodies are another window's: their first byte, or their length, says so at once.
    if (body.size() < n || (n > 0 && body.front() != category.front()) || !body.startsWith(category))
        return;
    if (body.size() != n && !(body.size() >= n + 2 && body[n] == '\r' && body[n + 1] == '\n'))
        return;
    // The field line is read in place: a view into the body, which outlives the reading (a
    // pick holds views into it and decoded copies of its own), so a large alert is not
    // copied once more.
    const qsizetype start = n + 2;
    QByteArray fieldList;
    if (start <= body.size()) {
        const qsizetype end = IndexOfLineBreak(body, start);
        const qsizetype length = (end < 0 ? body.size() : end) - start;
        fieldList = QByteArray::fromRawData(body.constData() + start, length);
    }
    if (Picked)
        Read(fieldList, *Picked);
    else if (Rows)
        Read(fieldList, *Rows);
    else
        VESK_ASSERT_MSG(false, "a kind must say what it reads");
}

template <class TPick>
void TDisplayKind::Read(const QByteArray& fieldList, TPick& pick)
{
    if (InUse) {
        // Reached again from inside a handler (an event loop run by outside code): the
        // kind's own pick is busy, so this alert gets one of its own.
        TPick own(pick.Keys());
        own.Parse(fieldList);
        Handle(own);
        return;
    }
    // Emptied on the way out, exceptions included: nothing may keep views into a body that
    // is about to go.
    struct TEmptyAfter {
        TDisplayKind& Kind;
        TPick& Pick;
        ~TEmptyAfter()
        {
            Pick.Clear();
            Kind.InUse = false;
        }
    } emptyAfter{*this, pick};
    InUse = true;
    pick.Parse(fieldList);
    Handle(pick);
}

void TDisplayKind::ReadsOnly(std::vector<QByteArray> keys)
{
    VESK_ASSERT(!InUse);
    Rows.reset();
    Picked = std::make_unique<TFormPick>(std::move(keys));
}

void TDisplayKind::ReadsRowsOf(std::vector<QByteArray> columns)
{
    VESK_ASSERT(!InUse);
    Picked.reset();
    Rows = std::make_unique<TNumberedFormPick>(std::move(columns));
}

void TDisplayKind::HandlePicked(const TFormPick&)
{
    VESK_ASSERT_MSG(false, "this kind reads rows");
}

void TDisplayKind::HandleRows(const TNumberedFormPick&)
{
    VESK_ASSERT_MSG(false, "this kind reads single keys");
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
