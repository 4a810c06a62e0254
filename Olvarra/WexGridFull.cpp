#include "Olvarra/WexGridFull.h"

#include "Olvarra/ExternalLinkingUnit.h"
#include "Platform/NumberText.h"
#include "Olvarra/PriceSpikeSound.h"
#include "Platform/Clock.h"
#include "Platform/VeskError.h"
#include "Shared/ColorTools.h"

#include <QPainter>
#include <cmath>
#include <algorithm>

namespace {

// A price spike at or above this is highlighted and sounded.
constexpr double SpikeThreshold = 7;

constexpr TColor FrozenHeaderColor = RGBColor(32, 254, 248);
constexpr TColor MissingHeaderColor = RGBColor(255, 192, 192);
constexpr TColor NormalHeaderColor = RGBColor(236, 233, 216);
constexpr TColor NewHighColor = RGBColor(0, 255, 0);
constexpr TColor NewLowColor = RGBColor(255, 102, 0);

// The dot gauges are painted this many times larger and shrunk, for smooth edges.
constexpr int DotScale = 3;

struct TColumnInfo {
    const char* Caption;
    const char* Sample; // nullptr: the dot columns, as wide as a row is high
};

constexpr TColumnInfo Columns[TWexTopListFullGrid::LogicalColumnCount] = {
    {"Symbol", "XXXXX"}, {"PrSpk", "99.9"}, {"IPR", "99.9"},   {"TRang", "99.9"},
    {"ORang", "99.9"},   {"Strnth", "-99.9"}, {"Up Tr", "-99.9"}, {"Nr Hi", "99.9"},
    {"H", nullptr},      {"Nr Lo", "99.9"}, {"L", nullptr},     {"Last", "999.9"},
    {"%Chg", "-1.93"},   {"Volume", "100,000,000"}, {"#", "100"},
};

bool KnownColumn(int logical)
{
    return logical >= 0 && logical < TWexTopListFullGrid::LogicalColumnCount;
}

QWidget* RequireOwner(QWidget* owner)
{
    VESK_ASSERT(owner);
    return owner;
}

// The symbol and volume-rate cells: blue while the volume rate is low, fading to black at 1,
// then turning red by 3.5.
TColor VolRateColor(double v)
{
    if (std::isnan(v))
        return clBlack;
    if (v <= 0.5)
        return RGBColor(0, 0, 255);
    // nearbyint under the default rounding mode takes exact halves to the even number.
    if (v < 1)
        return RGBColor(0, 0, int(std::nearbyint((1 - v) * 2 * 255)));
    if (v < 3.5)
        return RGBColor(int(std::nearbyint((v - 1) / 2.5 * 255)), 0, 0);
    return RGBColor(255, 0, 0);
}

// The "columns" text: items separated by commas and blanks, an item possibly in double
// quotes (a doubled quote inside stands for one). Two commas in a row, or a comma at the end,
// make an empty item.
std::vector<QByteArray> SplitColumnItems(QByteArray text)
{
    const qsizetype nul = text.indexOf('\0');
    if (nul >= 0)
        text.truncate(nul);
    const char* p = text.constData();
    const char* const end = p + text.size();
    auto blank = [](char c) { return uchar(c) <= ' '; };

    std::vector<QByteArray> items;
    while (p < end && blank(*p))
        ++p;
    while (p < end) {
        QByteArray item;
        if (*p == '"') {
            ++p;
            while (p < end) {
                if (*p == '"') {
                    if (p + 1 < end && p[1] == '"') {
                        item += '"';
                        p += 2;
                        continue;
                    }
                    ++p;
                    break;
                }
                item += *p++;
            }
        } else {
            const char* start = p;
            while (p < end && !blank(*p) && *p != ',')
                ++p;
            item = QByteArray(start, p - start);
        }
        items.push_back(item);
        while (p < end && blank(*p))
            ++p;
        if (p < end && *p == ',') {
            if (p + 1 == end)
                items.emplace_back();
            do
                ++p;
            while (p < end && blank(*p));
        }
    }
    return items;
}

} // namespace

TWexTopListFullGrid::TWexTopListFullGrid(QWidget* owner)
    : TAlertGridBase(RequireOwner(owner), 1, true)
{
    TextColor = clWhite;
    SetRowCount(2);
    SetOptions(goColSizing | goThumbTracking);
    MeasureColumns();
    SetOptions(Options() | goRowSelect);
    // The list is ranked and short; a scroll bar would only take room from the columns.
    SetScrollBars(ssNone);
}

TWexTopListFullGrid::~TWexTopListFullGrid() = default;

QString TWexTopListFullGrid::Caption(int logical)
{
    return KnownColumn(logical) ? QString::fromLatin1(Columns[logical].Caption) : QString();
}

int TWexTopListFullGrid::LogicalColumn(int col) const
{
    // Before any columns are set the grid shows one symbol column.
    if (ColumnMap.empty())
        return col == 0 ? lcSymbol : -1;
    return col >= 0 && size_t(col) < ColumnMap.size() ? ColumnMap[size_t(col)] : -1;
}

// ---------------------------------------------------------------------------------------------
// Columns and measuring

void TWexTopListFullGrid::SetColumns(const QByteArray& text)
{
    ColumnMap.clear();
    for (const QByteArray& item : SplitColumnItems(text.trimmed()))
        ColumnMap.push_back(WholeNumber(item, 0));
    if (ColumnMap.empty())
        for (qint32 k = lcSymbol; k <= lcNewLow; ++k)
            ColumnMap.push_back(k);
    MeasureColumns();
    InvalidateGrid();
}

void TWexTopListFullGrid::MeasureColumns()
{
    MeasureDefaultRowHeight();
    const int count = ColumnMap.empty() ? 1 : int(ColumnMap.size());
    SetColCount(count);
    for (int col = 0; col < count; ++col) {
        const int k = LogicalColumn(col);
        int width = DefaultColWidth();
        if (KnownColumn(k))
            width = Columns[k].Sample ? MeasureColumn(QString::fromLatin1(Columns[k].Sample))
                                      : DefaultRowHeight();
        SetColWidths(col, width);
    }
}

void TWexTopListFullGrid::FontChanged()
{
    TAlertGridBase::FontChanged();
    MeasureColumns();
    InvalidateGrid();
}

// ---------------------------------------------------------------------------------------------
// Receiving and showing lists: the rule is TWexTopListOrder's; the grid shows what it decides

void TWexTopListFullGrid::SetEntries(const TWexTopListEntries& list)
{
    if (Order.SetEntries(list))
        ShowApplied();
    else
        InvalidateGrid(); // values changed in place, and the missing symbols colour the header
}

void TWexTopListFullGrid::SortNow()
{
    if (Order.SortNow())
        ShowApplied();
}

void TWexTopListFullGrid::SortTimerTick()
{
    if (Order.SortTimerTick())
        ShowApplied();
}

void TWexTopListFullGrid::SetFrozen(bool flag)
{
    bool shown = false;
    if (!Order.SetFrozen(flag, shown))
        return;
    InvalidateGrid(); // the header colour changes
    if (shown)
        ShowApplied();
}

void TWexTopListFullGrid::ShowApplied()
{
    SelectionEventsEnabled = false;
    SetRowCount(int(std::max<size_t>(1, GetDisplayedEntries().size())) + 1);
    SelectionEventsEnabled = true;
    InvalidateGrid();

    // The selection stays only where the row under it still shows the symbol last handed
    // over; otherwise it would point at a different stock than the one linked.
    const int r = Row();
    if (r < 1)
        return; // nothing selected: nothing to keep, and the reader's scroll position stays
    if (size_t(r - 1) >= GetDisplayedEntries().size()) {
        LastLinkedSymbol.clear();
        SetTopRow(1);
    } else if (GetDisplayedEntries()[size_t(r - 1)].Symbol != LastLinkedSymbol) {
        SetRow(-1);
        LastLinkedSymbol.clear();
        SetTopRow(1);
    }
}

// ---------------------------------------------------------------------------------------------
// Selection

bool TWexTopListFullGrid::SelectCell(int col, int row)
{
    if (!SelectionEventsEnabled)
        return true;
    try {
        const QByteArray symbol = ShowsEntry(row) ? GetDisplayedEntries()[size_t(row - 1)].Symbol : QByteArray();
        if (symbol != LastLinkedSymbol && !symbol.isEmpty() && symbol != "-") {
            LastLinkedSymbol = symbol;
            SendSymbol(symbol);
        }
    } catch (...) {
        // Linking is a convenience: a failing outside application must not stop the
        // selection from moving.
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// Painting

void TWexTopListFullGrid::DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed)
{
    const int k = LogicalColumn(col);
    const bool hasEntry = !fixed && ShowsEntry(row);
    // A copy: the sound handler is outside code and the row list must not change under us.
    const TWexTopListEntry entry = hasEntry ? GetDisplayedEntries()[size_t(row - 1)] : TWexTopListEntry();
    const bool headerLike = fixed || (hasEntry && entry.Symbol == "-");

    // A spike sounds once when its cell turns yellow; painting it below the threshold re-arms.
    const bool spiking = hasEntry && entry.PriceSpike >= SpikeThreshold;
    if (hasEntry && k == lcPriceSpike && !spiking)
        SpikingSymbols.removeOne(entry.Symbol);

    TColor background;
    TColor text;
    if (headerLike) {
        text = clBlack;
        background = GetFrozen() ? FrozenHeaderColor : GetMissingCount() > 0 ? MissingHeaderColor : NormalHeaderColor;
    } else if (k == lcSymbol || k == lcVolRate) {
        text = clWhite;
        background = hasEntry ? VolRateColor(entry.VolRate) : clBlack;
    } else if (k == lcPriceSpike && spiking) {
        background = clYellow;
        text = clBlack;
        if (!SpikingSymbols.contains(entry.Symbol)) {
            SpikingSymbols.append(entry.Symbol);
            try {
                PlayPriceSpikeSound();
            } catch (...) {
                // Whether the sound played does not matter to the grid.
            }
            try {
                NotifyPriceSpike(entry.Symbol, entry.PriceSpike);
            } catch (...) {
                // Nor whether the desktop showed the notification.
            }
        }
    } else {
        background = FromQColor(Color());
        text = TextColor;
    }

    const TCellPainter cell = BeginCell(canvas, rect, headerLike, background, text);

    if (headerLike) {
        // A "-" row repeats the captions and so divides the list into sections.
        cell.DrawCentered(cell.CellText().FitText(Caption(k)));
        return;
    }
    if (!hasEntry)
        return;

    switch (k) {
    case lcSymbol:
        cell.Draw(TextContent(entry.Symbol));
        if (row == Row()) {
            canvas.setPen(ToQColor(text));
            canvas.setBrush(Qt::NoBrush);
            canvas.drawRect(rect.adjusted(0, 0, -1, -1));
        }
        break;
    case lcNewHigh:
        DrawDot(cell, entry.NewHigh, NewHighColor, background, NewHighDotImages);
        break;
    case lcNewLow:
        DrawDot(cell, entry.NewLow, NewLowColor, background, NewLowDotImages);
        break;
    default:
        cell.Draw(ValueContent(entry, k, cell.CellText()));
        break;
    }
}

void TWexTopListFullGrid::ShownRange(qsizetype& first, qsizetype& count) const
{
    if (ShowsEntry(Row())) {
        first = Row() - 1;
        count = 1;
        return;
    }
    TAlertGridBase::ShownRange(first, count);
}

TCellContent TWexTopListFullGrid::DataCellContent(int col, qsizetype index, const TCellText& cell) const
{
    const TWexTopListEntry& entry = GetDisplayedEntries()[size_t(index)];
    const int k = LogicalColumn(col);
    if (entry.Symbol == "-") {
        // A divider row shows the captions.
        TCellContent c;
        c.Text = Caption(k);
        return c;
    }
    switch (k) {
    case lcSymbol:
        return TextContent(entry.Symbol);
    case lcNewHigh:
    case lcNewLow: {
        // A gauge on screen; out of the grid its reading, with the grid's own fixed-point text.
        const double v = k == lcNewHigh ? entry.NewHigh : entry.NewLow;
        return NumberContent(v > 0 ? TCellText::FixedText(v, 2, false) : QString());
    }
    default:
        return ValueContent(entry, k, cell);
    }
}

TCellContent TWexTopListFullGrid::ValueContent(const TWexTopListEntry& entry, int logical, const TCellText& cell)
{
    double x = NaN;
    int decimals = 1;
    switch (logical) {
    case lcPriceSpike: x = entry.PriceSpike; break;
    case lcVolRate: x = entry.VolRate; break;
    case lcTodaysRange: x = entry.TodaysRange; break;
    case lcOpeningRange: x = entry.OpeningRange; break;
    case lcStrength: x = entry.Strength; break;
    case lcUpTrend: x = entry.UpTrend; break;
    case lcNearHigh: x = entry.NearHigh; break;
    case lcNearLow: x = entry.NearLow; break;
    case lcLast: x = entry.Last; decimals = 2; break;
    case lcChange: x = entry.Change; break;
    case lcVolume:
    case lcCount: {
        const qint32 n = logical == lcVolume ? entry.Volume : entry.Count;
        return CountContent(n, TCellText::csGrouped, cell);
    }
    default:
        return NumberContent(QString()); // a column number the grid does not know stays empty
    }
    return FixedContent(x, decimals, cell);
}

void TWexTopListFullGrid::DrawDot(const TCellPainter& cell, double v, TColor colour, TColor background,
                                  TDotImages& images)
{
    if (!(v > 0))
        return; // also NaN
    const QRect& textRect = cell.TextRect();
    const int w = DotScale * textRect.width();
    const int h = DotScale * textRect.height();
    if (w <= 0 || h <= 0)
        return;

    if (images.Large.size() != QSize(w, h) || images.Large.format() != QImage::Format_RGB888)
        images.Large = QImage(w, h, QImage::Format_RGB888);
    images.Large.fill(ToQColor(background));

    // The largest centred square; an odd leftover pixel goes to the right or the bottom.
    const int side = std::min(w, h);
    if (side < 7)
        return;
    const QRect square((w - side) / 2, (h - side) / 2, side, side);

    {
        QPainter painter(&images.Large);
        painter.setPen(Qt::NoPen);
        painter.setBrush(ToQColor(colour));
        if (v >= 1) {
            painter.drawEllipse(square);
        } else {
            // From 12 o'clock counter-clockwise through v of a full turn (Qt counts angles
            // counter-clockwise from 3 o'clock in sixteenths of a degree).
            const int span = int(std::lround(v * 360 * 16));
            if (span > 0)
                painter.drawPie(square, 90 * 16, span);
        }
    }

    ShrinkBitmap(images.Large, images.Small, DotScale, DotScale);
    cell.Painter().drawImage(textRect.topLeft(), images.Small);
}
