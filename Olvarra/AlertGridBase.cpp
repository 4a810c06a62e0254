#include "Olvarra/AlertGridBase.h"

#include <QEvent>
#include <QPaintEvent>
#include <QPainter>
#include <cmath>

// ---------------------------------------------------------------------------------------------
// Colours

TColor BlendColor(TColor a, TColor b, double f)
{
    if (!(f > 0))
        return a & 0xFFFFFF;
    if (!(f < 1))
        return b & 0xFFFFFF;
    TColor result = 0;
    for (int shift = 0; shift <= 16; shift += 8) {
        const double ca = double((a >> shift) & 0xFF);
        const double cb = double((b >> shift) & 0xFF);
        // nearbyint under the default rounding mode takes exact halves to the even number.
        const double mixed = std::nearbyint((1 - f) * ca + f * cb);
        result |= TColor(std::clamp(int(mixed), 0, 255)) << shift;
    }
    return result;
}

// ---------------------------------------------------------------------------------------------
// The grid base

TAlertGridBase::TAlertGridBase(QWidget* owner, int colCount, bool colSizing)
    : TDrawGrid(owner)
{
    SetColor(Qt::black);
    SetColCount(colCount);
    SetRowCount(2);
    SetFixedRows(1);
    SetOptions(goThumbTracking | (colSizing ? goColSizing : 0));
    SetScrollBars(ssVertical);
    RefreshCellFont();
}

void TAlertGridBase::SetTextColor(TColor color)
{
    TextColor = color & 0xFFFFFF;
    InvalidateGrid();
}

int TAlertGridBase::MeasureRowHeight() const
{
    return fontMetrics().height() + 4;
}

int TAlertGridBase::MeasureColumn(const QString& sample) const
{
    return fontMetrics().horizontalAdvance(sample) + (Ctl3D() ? 16 : 12);
}

void TAlertGridBase::RefreshCellFont()
{
    PaintFont = font();
    PaintFont.setBold(false);
    PaintFont.setItalic(false);
    PaintFont.setUnderline(false);
    PaintFont.setStrikeOut(false);
    PaintMetrics.emplace(PaintFont);
    TextCache.Reset(PaintFont);
}

void TAlertGridBase::BeginPaint(QPainter& canvas)
{
    canvas.setFont(PaintFont);
    TextCache.StartPaint(&canvas.font());
}

void TAlertGridBase::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        RefreshCellFont();
    TDrawGrid::changeEvent(event);
}

TCellPainter TAlertGridBase::BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike,
                                       const QColor& background, TColor text)
{
    canvas.fillRect(cellRect, background);

    QRect textRect = cellRect;
    if (headerLike && Ctl3D()) {
        // A raised inner edge: light on the top and left, shadow on the bottom and right.
        const QPalette& colours = palette();
        const int l = cellRect.left(), t = cellRect.top();
        const int r = cellRect.right(), b = cellRect.bottom();
        canvas.setPen(colours.color(QPalette::Light));
        canvas.drawLine(l, t, r - 1, t);
        canvas.drawLine(l, t, l, b - 1);
        canvas.setPen(colours.color(QPalette::Dark));
        canvas.drawLine(l, b, r, b);
        canvas.drawLine(r, t, r, b);
        textRect.adjust(1, 1, -1, -1);
    }
    if (textRect.width() > 14)
        textRect.adjust(3, 0, -3, 0);
    canvas.setPen(ToQColor(text));
    return TCellPainter(canvas, TCellText(*PaintMetrics, textRect, &TextCache));
}

TCellPainter TAlertGridBase::BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike,
                                       TColor background, TColor text)
{
    return BeginCell(canvas, cellRect, headerLike, ToQColor(background), text);
}

void TAlertGridBase::DrawHeaderCell(QPainter& canvas, const QRect& cellRect, const QString& caption)
{
    const TCellPainter cell = BeginCell(canvas, cellRect, true, FixedColor(), clBlack);
    cell.DrawCentered(cell.CellText().FitText(caption));
}

// ---------------------------------------------------------------------------------------------
// The cell painter

void TCellPainter::DrawAt(int x, const QString& s) const
{
    if (s.isEmpty())
        return;
    const QRect& rect = Text.TextRect();
    const QFontMetrics& metrics = Text.FontMetrics();
    const int y = rect.top() + std::max(rect.height() - metrics.height(), 0) / 2;
    Canvas->setClipRect(rect);
    const qsizetype prefix = VisiblePrefixLength(rect.right() - x + 1);
    if (const QGlyphRun* plain = Text.TextCache() ? Text.TextCache()->PlainGlyphs(s) : nullptr)
        Canvas->drawGlyphRun(QPointF(x, y + metrics.ascent()), *plain); // no shaping needed
    else if (const QStaticText* glyphs = Text.TextCache() ? Text.TextCache()->GlyphsWhenDrawnAgain(s) : nullptr)
        Canvas->drawStaticText(QPoint(x, y), *glyphs); // a short text, laid out before
    else if (s.size() > prefix && x >= rect.left() && metrics.horizontalAdvance(s.left(prefix)) > rect.right() - x + 1)
        Canvas->drawText(QPoint(x, y + metrics.ascent()), s.left(prefix)); // the rest is clipped away
    else
        Canvas->drawText(QPoint(x, y + metrics.ascent()), s);
    Canvas->setClipping(false);
}

void TCellPainter::DrawLeft(const QString& s) const
{
    DrawAt(Text.TextRect().left(), s);
}

void TCellPainter::DrawRight(const QString& s) const
{
    const QRect& rect = Text.TextRect();
    DrawAt(rect.left() + std::max(rect.width() - Text.Width(s), 0), s);
}

void TCellPainter::DrawCentered(const QString& s) const
{
    const QRect& rect = Text.TextRect();
    DrawAt(rect.left() + std::max(rect.width() - Text.Width(s), 0) / 2, s);
}

void TCellPainter::Draw(const TCellContent& content) const
{
    const QString s = content.Fitted ? Text.FitText(content.Text) : content.Text;
    if (content.Right)
        DrawRight(s);
    else
        DrawLeft(s);
}

// ---------------------------------------------------------------------------------------------
// The stale mark

void TAlertGridBase::SetStaleMark(const QString& text)
{
    if (text == StaleMark)
        return;
    StaleMark = text;
    InvalidateGrid();
}

void TAlertGridBase::paintEvent(QPaintEvent* event)
{
    TDrawGrid::paintEvent(event);
    if (StaleMark.isEmpty())
        return;
    // Painted after the cells of the dirty region, clipped to it, so a one-cell repaint gets
    // its share of the mark again and nothing is darkened twice.
    QPainter canvas(viewport());
    const QRect area = viewport()->rect();
    const int header = std::min(FixedRows() * DefaultRowHeight(), area.height());
    canvas.fillRect(QRect(0, header, area.width(), area.height() - header), QColor(0, 0, 0, StaleDimAlpha));
    const QRect band(0, 0, area.width(), header);
    canvas.fillRect(band, ToQColor(StaleBandColor));
    QFont bold = PaintFont;
    bold.setBold(true);
    canvas.setFont(bold);
    canvas.setPen(Qt::white);
    const QRect textRect = band.adjusted(4, 0, -4, 0);
    canvas.drawText(textRect, Qt::AlignVCenter | Qt::AlignLeft,
                    QFontMetrics(bold).elidedText(StaleMark, Qt::ElideRight, std::max(0, textRect.width())));
}

// ---------------------------------------------------------------------------------------------
// Taking the rows out

TCellText TAlertGridBase::DataCellText(int col) const
{
    // The data cell's text rectangle as BeginCell makes it: no edge, a 3-pixel margin on both
    // sides when wider than 14 pixels.
    QRect rect(0, 0, ColWidths(col), DefaultRowHeight());
    if (rect.width() > 14)
        rect.adjust(3, 0, -3, 0);
    return TCellText(*PaintMetrics, rect, &TextCache);
}

void TAlertGridBase::ShownRange(qsizetype& first, qsizetype& count) const
{
    const int dataHeight = viewport()->height() - FixedRows() * DefaultRowHeight();
    const int visible = dataHeight > 0 ? (dataHeight + DefaultRowHeight() - 1) / DefaultRowHeight() : 0;
    first = std::max(0, TopRow() - FixedRows());
    count = std::clamp<qsizetype>(EntryCount() - first, 0, visible);
}

TRowTable TAlertGridBase::ExportRows(qsizetype first, qsizetype count) const
{
    TRowTable table;
    const int cols = ExportColumnCount();
    std::vector<TCellText> cells;
    cells.reserve(size_t(cols));
    for (int col = 0; col < cols; ++col) {
        table.Captions.append(HeaderCaption(col));
        cells.push_back(DataCellText(col));
    }
    first = std::clamp<qsizetype>(first, 0, EntryCount());
    count = std::clamp<qsizetype>(count, 0, EntryCount() - first);
    table.Rows.reserve(count);
    for (qsizetype i = first; i < first + count; ++i) {
        QList<TCellContent> row;
        row.reserve(cols);
        for (int col = 0; col < cols; ++col)
            row.append(DataCellContent(col, i, cells[size_t(col)]));
        table.Rows.append(std::move(row));
    }
    return table;
}

TRowTable TAlertGridBase::ExportShown() const
{
    qsizetype first = 0, count = 0;
    ShownRange(first, count);
    return ExportRows(first, count);
}
