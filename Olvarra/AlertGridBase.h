#pragma once
// What every alert grid shares: the base settings, measuring, fitting numbers and texts into a
// cell by shortening them, the common cell frame, and the hand-over of a clicked row's symbol.
//
// Texts from the server are bytes; they become QString (Latin-1) only here, where they are
// drawn. Colours are 32-bit values with red in the low byte, then green, then blue, as the
// configuration writes them.

#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/RowLists.h"
#include "Platform/TDrawGrid.h"

#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QRect>
#include <QString>
#include <QStringList>
#include <algorithm>
#include <optional>

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

// The thousands separator of the grouped count formats: the user's locale setting, read once.
// The decimal point is always ".".
QString ThousandsSeparator();
void SetThousandsSeparator(const QString& separator);

// Fitting texts and numbers into one cell's text rectangle, measured with the cell's font.
class TCellText {
public:
    enum TCountStyle {
        csPlain,   // "%d"; K and M forms "%.2f%s", "%.1f%s", "%.0f%s"
        csGrouped, // "%.0n" with thousands separators; K and M forms "%.2n%s" ...
    };

    TCellText() : Metrics(QFont()) {}
    TCellText(const QFontMetrics& metrics, const QRect& textRect) : Metrics(metrics), Rect(textRect) {}

    const QRect& TextRect() const { return Rect; }
    const QFontMetrics& FontMetrics() const { return Metrics; }

    bool TextTooWide(const QString& s) const;
    // s itself when it fits, else its longest prefix (widths summed character by character)
    // followed by "...".
    QString FitText(const QString& s) const;

    // Fixed point with the given number of decimals ("%f" = 2, "%.01f" = 1); "..." when too
    // wide.
    QString FormatFixed(double x, int decimals) const;
    // Two decimals and a percent sign; "..." when too wide.
    QString FormatPercent(double x) const;
    // Two, one, then no decimals followed by the suffix; the first that fits, else "...".
    QString FormatScaled(double x, const QString& suffix, TCountStyle style) const;
    // The whole number; when too wide, its M or K form (from 1,000 on), else "...".
    QString FormatCount(qint32 n, TCountStyle style) const;

    // Plain text formatting without fitting (also used by the formatters above).
    static QString FixedText(double x, int decimals, bool grouped);

private:
    QFontMetrics Metrics;
    QRect Rect;
};

// What one data cell shows. Numbers come formatted and fitted by the cell's formatter;
// texts (symbols, times) come whole, and Fitted says the cell shortens them when drawn.
struct TCellContent {
    QString Text;
    bool Right = false;  // right-aligned
    bool Fitted = false; // a text that the cell passes through FitText
    bool IsText = false; // a server text rather than a number
};

// Rows taken out of a grid: the column captions and, per row, what each cell shows.
struct TRowTable {
    QStringList Captions;
    QList<QList<TCellContent>> Rows;
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
    // Columns 0 .. count - 1 take their samples' measured widths; a column without a sample
    // (a null entry) keeps the width it has.
    void MeasureSampleColumns(const char* const* samples, int count);

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
    // Draws a content into the current cell.
    void DrawContent(const TCellContent& content);
    // Contents of the usual kinds: a server text (left, or right as times are, shortened by
    // the cell unless fitted is false); a right-aligned number that is empty when absent
    // (NaN); a right-aligned whole number that is empty at 0 or less.
    static TCellContent TextContent(const QByteArray& text, bool right = false, bool fitted = true);
    static TCellContent FixedContent(double x, int decimals, const TCellText& cell);
    static TCellContent CountContent(qint32 n, TCellText::TCountStyle style, const TCellText& cell);
    static TCellContent NumberContent(const QString& text);
    // The text rectangle a data cell of this column has.
    TCellText DataCellText(int col) const;

    void paintEvent(QPaintEvent* event) override;

    // The common frame of a cell: normal font style, fill with the background, raised edge and
    // 1-pixel inset for header-like cells with Ctl3D, then a 3-pixel margin on both sides when
    // the text rectangle is wider than 14 pixels. Afterwards Cell describes the text
    // rectangle and the DrawText helpers draw into it in the given text colour.
    void BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike, TColor background,
                   TColor text);
    void BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike, const QColor& background,
                   TColor text);
    // A header cell in the usual colours with the caption fitted and centred.
    void DrawHeaderCell(QPainter& canvas, const QRect& cellRect, const QString& caption);
    // The same, with the caption of column col from a table of count captions (empty past it).
    void DrawHeaderCell(QPainter& canvas, const QRect& cellRect, int col, const char* const* captions, int count);

    // Transparent text, vertically centred, clipped to the text rectangle.
    void DrawTextLeft(const QString& s);
    void DrawTextRight(const QString& s);
    void DrawTextCentered(const QString& s);

    // The grid's font with a normal style, as cells are painted.
    const QFont& CellFont() const { return PaintFont; }

    void changeEvent(QEvent* event) override;

    TCellText Cell;
    TColor TextColor = clWhite;

private:
    void DrawTextAt(int x, const QString& s);
    void RefreshCellFont();

    QPainter* Canvas = nullptr;
    QString StaleMark;
    QFont PaintFont;
    std::optional<QFontMetrics> PaintMetrics;
};

// Converts a server text for drawing.
inline QString CellString(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

// The row-based kinds: grid row r (r >= 1) shows element r - 1 of Entries.
template <class TEntry>
class TRowGrid : public TAlertGridBase {
public:
    using TEntries = TRowList<TEntry>;

    TRowGrid(QWidget* owner, int colCount, bool colSizing = true)
        : TAlertGridBase(owner, colCount, colSizing) {}

    // Keeps the snapshot (O(1)); one empty data row when the list is empty.
    void SetEntries(TEntries entries)
    {
        Entries = std::move(entries);
        SetRowCount(int(std::max<qsizetype>(1, Entries.size())) + 1);
        InvalidateGrid();
    }
    const TEntries& GetEntries() const { return Entries; }
    qsizetype EntryCount() const override { return Entries.size(); }

protected:
    bool ShowsEntry(int row) const { return row >= 1 && row - 1 < Entries.size(); }
    const TEntry& EntryAt(int row) const { return Entries[row - 1]; }

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
};
