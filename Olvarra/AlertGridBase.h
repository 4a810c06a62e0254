#pragma once
// What every alert grid shares: the base settings, measuring, the common cell frame, and the
// hand-over of a clicked row's symbol. The row grids describe their columns in one table
// (TGridColumn) and say only how their cells are coloured.
//
// Colours are 32-bit values with red in the low byte, then green, then blue, as the
// configuration writes them.

#include "Olvarra/CellText.h"
#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/RowLists.h"
#include "Platform/TDrawGrid.h"

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <algorithm>
#include <optional>
#include <span>

class QPainter;

using TColor = quint32; // red in the low byte, then green, then blue

constexpr TColor RGBColor(int r, int g, int b)
{
    return TColor(r & 0xFF) | (TColor(g & 0xFF) << 8) | (TColor(b & 0xFF) << 16);
}
inline QColor ToQColor(TColor c) { return QColor(int(c & 0xFF), int((c >> 8) & 0xFF), int((c >> 16) & 0xFF)); }
inline TColor FromQColor(const QColor& c) { return RGBColor(c.red(), c.green(), c.blue()); }

constexpr TColor clBlack = RGBColor(0, 0, 0);
constexpr TColor clWhite = RGBColor(255, 255, 255);
constexpr TColor clYellow = RGBColor(255, 255, 0);

// Channel by channel: f <= 0 gives a, f >= 1 gives b, else (1 - f) a + f b rounded to the
// nearest whole number, exact halves to the even one.
TColor BlendColor(TColor a, TColor b, double f);

// One cell being painted, as the common frame left it: the canvas with the cell's font and
// text colour, and the text rectangle. Handed from BeginCell to whatever draws the cell's
// content, so no painting state outlives the cell.
class TCellPainter {
public:
    TCellPainter(QPainter& canvas, const TCellText& text) : Canvas(&canvas), Text(text) {}

    const TCellText& CellText() const { return Text; }
    const QRect& TextRect() const { return Text.TextRect(); }
    QPainter& Painter() const { return *Canvas; }

    // Transparent text, vertically centred, clipped to the text rectangle.
    void DrawLeft(const QString& s) const;
    void DrawRight(const QString& s) const;
    void DrawCentered(const QString& s) const;
    // A content, shortened first when it is a fitted text.
    void Draw(const TCellContent& content) const;

private:
    void DrawAt(int x, const QString& s) const;

    QPainter* Canvas;
    TCellText Text;
};

// The shared part of every alert grid kind.
class TAlertGridBase : public TDrawGrid {
public:
    // Base settings: black background, 2 rows, 1 fixed row, no fixed column, thumb tracking
    // and (when colSizing) column resizing, horizontal scroll bar hidden. When an owner is
    // given it becomes the parent first, so the grid has its font before it measures.
    TAlertGridBase(QWidget* owner, int colCount, bool colSizing = true);

    TColor GetTextColor() const { return TextColor; }
    void SetTextColor(TColor color); // takes effect at the next repaint

    // Measuring with the grid's current font.
    int MeasureRowHeight() const;                 // "Xy()" + 4
    int MeasureColumn(const QString& sample) const; // sample + 16, or + 12 without Ctl3D
    void MeasureDefaultRowHeight() { SetDefaultRowHeight(MeasureRowHeight()); }

    // The stale mark: a band across the header row reading text, and the data rows at
    // reduced contrast. Empty: no mark. Painted over the cells, so nothing else changes.
    void SetStaleMark(const QString& text);
    const QString& GetStaleMark() const { return StaleMark; }
    static constexpr TColor StaleBandColor = RGBColor(148, 0, 211); // a violet no grid uses
    static constexpr int StaleDimAlpha = 110;                        // of 255, black over rows

    // Taking the rows out, with exactly the texts the cells show (numbers fitted into their
    // columns' current widths; texts whole).
    virtual qsizetype EntryCount() const = 0;
    virtual QString HeaderCaption(int col) const { return QString(); }
    virtual int ExportColumnCount() const { return ColCount(); }
    // The rows the user sees now: the entries in the visible rows (a partly visible last row
    // included).
    virtual void ShownRange(qsizetype& first, qsizetype& count) const;
    TRowTable ExportRows(qsizetype first, qsizetype count) const;
    TRowTable ExportShown() const;
    TRowTable ExportAll() const { return ExportRows(0, EntryCount()); }

protected:
    // The content of data column col for element index of the entries, fitted into cell.
    virtual TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const { return {}; }
    // The text rectangle a data cell of this column has.
    TCellText DataCellText(int col) const;

    void paintEvent(QPaintEvent* event) override;

    // The common frame of a cell: fill with the background, raised edge and
    // 1-pixel inset for header-like cells with Ctl3D, then a 3-pixel margin on both sides when
    // the text rectangle is wider than 14 pixels. The painter that is returned draws into
    // that text rectangle in the given text colour.
    TCellPainter BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike, TColor background,
                           TColor text);
    TCellPainter BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike, const QColor& background,
                           TColor text);
    // A header cell in the usual colours with the caption fitted and centred.
    void DrawHeaderCell(QPainter& canvas, const QRect& cellRect, const QString& caption);

    // The grid's font with a normal style, as cells are painted.
    const QFont& CellFont() const { return PaintFont; }

    void changeEvent(QEvent* event) override;
    // Every cell is painted in the one cell font, so the painter takes it once per paint.
    void BeginPaint(QPainter& canvas) override;

    TColor TextColor = clWhite;

private:
    void RefreshCellFont();

    QString StaleMark;
    QFont PaintFont;
    std::optional<QFontMetrics> PaintMetrics;
    mutable TTextCache TextCache; // for PaintFont
};

// The colours of one data cell.
struct TCellColours {
    TColor Background;
    TColor Text;
};

// One column of a row grid: its caption, the sample text its width is measured from, what its
// cell shows of an entry and, where the column marks its cells, their colours.
template <class TEntry>
struct TGridColumn {
    const char* Caption; // nullptr: the grid names the column itself (a title from the settings)
    const char* Sample;  // nullptr: the column keeps the width it has, or the user dragged it to
    TCellContent (*Content)(const TEntry& entry, const TCellText& cell);
    // nullptr: the row's colours; otherwise the cell's colours, given the row's.
    TCellColours (*Colours)(const TEntry& entry, const TCellColours& row) = nullptr;
};

// Column contents of the usual kinds, for the column tables.
template <class TEntry, QByteArray TEntry::*Field, bool Right = false, bool Fitted = true>
TCellContent TextCell(const TEntry& entry, const TCellText&)
{
    return TextContent(entry.*Field, Right, Fitted);
}
template <class TEntry, double TEntry::*Field, int Decimals>
TCellContent FixedCell(const TEntry& entry, const TCellText& cell)
{
    return FixedContent(entry.*Field, Decimals, cell);
}
template <class TEntry, qint32 TEntry::*Field>
TCellContent GroupedCountCell(const TEntry& entry, const TCellText& cell)
{
    return CountContent(entry.*Field, TCellText::csGrouped, cell);
}
// A count of 10 or more stands out in yellow.
template <class TEntry, qint32 TEntry::*Field>
TCellColours MarkedCountColours(const TEntry& entry, const TCellColours& row)
{
    return entry.*Field >= 10 ? TCellColours{clYellow, clBlack} : row;
}

// The row-based kinds: grid row r (r >= 1) shows element r - 1 of Entries, one column of the
// table per grid column.
template <class TEntry>
class TRowGrid : public TAlertGridBase {
public:
    using TEntries = TRowList<TEntry>;
    using TColumns = std::span<const TGridColumn<TEntry>>;

    // Whether a font chosen later measures the grid again, or changes only the text.
    enum TFontRule { frMeasureOnce, frMeasureOnFontChange };

    TRowGrid(QWidget* owner, int colCount, TColumns columns = {}, TFontRule fontRule = frMeasureOnce)
        : TAlertGridBase(owner, colCount), ColumnTable(columns), FontRule(fontRule)
    {
        if (owner && !ColumnTable.empty())
            MeasureColumns();
    }

    // Keeps the snapshot (O(1)); one empty data row when the list is empty.
    void SetEntries(TEntries entries)
    {
        Entries = std::move(entries);
        SetRowCount(int(std::max<qsizetype>(1, Entries.size())) + 1);
        InvalidateGrid();
    }
    const TEntries& GetEntries() const { return Entries; }
    qsizetype EntryCount() const override { return Entries.size(); }
    // For a list that changes its rows in place where no other version holds them: the grid
    // lets go of its version just before a change and is given the next one (SetEntries)
    // right after it. Nothing may read the grid in between.
    void LendEntries() { Entries = TEntries(); }

    // Row height and the widths of the shown columns that have samples, from the current font,
    // then a repaint.
    void MeasureColumns()
    {
        MeasureDefaultRowHeight();
        const int count = std::min(ColCount(), int(ColumnTable.size()));
        for (int col = 0; col < count; ++col)
            if (ColumnTable[size_t(col)].Sample)
                SetColWidths(col, MeasureColumn(QString::fromLatin1(ColumnTable[size_t(col)].Sample)));
        InvalidateGrid();
    }

    QString HeaderCaption(int col) const override
    {
        const TGridColumn<TEntry>* column = ColumnAt(col);
        return column && column->Caption ? QString::fromLatin1(column->Caption) : QString();
    }

protected:
    bool ShowsEntry(int row) const { return row >= 1 && row - 1 < Entries.size(); }
    const TEntry& EntryAt(int row) const { return Entries[row - 1]; }
    const TGridColumn<TEntry>* ColumnAt(int col) const
    {
        return col >= 0 && size_t(col) < ColumnTable.size() ? &ColumnTable[size_t(col)] : nullptr;
    }

    // The colours of a data row (one that shows an entry, or the empty row of an empty list):
    // the grid's background and text colour unless the kind marks the row. A column that
    // marks its cells has the last word (TGridColumn::Colours).
    virtual TCellColours RowColours(int row) const { return {FromQColor(Color()), TextColor}; }

    TCellContent DataCellContent(int col, qsizetype index, const TCellText& cell) const override
    {
        const TGridColumn<TEntry>* column = ColumnAt(col);
        return column && column->Content ? column->Content(Entries[index], cell) : NumberContent(QString());
    }

    void DrawCell(QPainter& canvas, int col, int row, const QRect& rect, bool fixed) override
    {
        if (fixed) {
            DrawHeaderCell(canvas, rect, HeaderCaption(col));
            return;
        }
        TCellColours colours = RowColours(row);
        const bool hasEntry = ShowsEntry(row);
        const TGridColumn<TEntry>* column = ColumnAt(col);
        if (hasEntry && column && column->Colours)
            colours = column->Colours(EntryAt(row), colours);
        const TCellPainter cell = BeginCell(canvas, rect, false, colours.Background, colours.Text);
        if (hasEntry)
            cell.Draw(DataCellContent(col, row - 1, cell.CellText()));
    }

    void FontChanged() override
    {
        if (FontRule == frMeasureOnFontChange)
            MeasureColumns();
    }

    // A left click on a row that shows an entry hands its symbol over, in any column.
    void MouseUp(Qt::MouseButton button, const QPoint& pos) override
    {
        TAlertGridBase::MouseUp(button, pos);
        if (button != Qt::LeftButton)
            return;
        int col, row;
        if (MouseToCell(pos, col, row) && ShowsEntry(row))
            SendSymbol(EntryAt(row).Symbol);
    }

    TEntries Entries;

private:
    TColumns ColumnTable;
    TFontRule FontRule;
};
