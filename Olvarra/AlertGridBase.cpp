#include "Olvarra/AlertGridBase.h"

#include <QEvent>
#include <QLocale>
#include <QPaintEvent>
#include <QPainter>
#include <charconv>
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
// Number text

namespace {
QString& SeparatorSetting()
{
    static QString separator = QLocale::system().groupSeparator();
    return separator;
}

const QString Ellipsis = QStringLiteral("...");
} // namespace

QString ThousandsSeparator()
{
    return SeparatorSetting();
}

void SetThousandsSeparator(const QString& separator)
{
    SeparatorSetting() = separator;
}

QString TCellText::FixedText(double x, int decimals, bool grouped)
{
    // to_chars ignores the C locale, so the decimal point is always ".".
    char buffer[400];
    const auto [end, ec] = std::to_chars(buffer, buffer + sizeof buffer, x, std::chars_format::fixed,
                                         std::max(decimals, 0));
    if (ec != std::errc())
        return Ellipsis;
    const QString plain = QString::fromLatin1(buffer, int(end - buffer));
    if (!grouped)
        return plain;

    const qsizetype signLength = plain.startsWith(QLatin1Char('-')) ? 1 : 0;
    qsizetype intEnd = plain.indexOf(QLatin1Char('.'));
    if (intEnd < 0)
        intEnd = plain.size();
    const QString separator = ThousandsSeparator();
    QString out = plain.left(signLength);
    const qsizetype digits = intEnd - signLength;
    for (qsizetype i = 0; i < digits; ++i) {
        if (i > 0 && (digits - i) % 3 == 0)
            out += separator;
        out += plain[signLength + i];
    }
    out += plain.mid(intEnd);
    return out;
}

bool TCellText::TextTooWide(const QString& s) const
{
    return Metrics.horizontalAdvance(s) > Rect.width();
}

namespace {
// A text far longer than a cell can show (a hostile server's 8 MiB symbol) is measured and
// shaped by a prefix: when the prefix alone is too wide, every fitting and every glyph that
// can be seen lies inside it. Only a prefix that fits (characters without width) needs the
// whole text.
qsizetype VisiblePrefixLength(int width) { return 4 * qsizetype(qMax(width, 0)) + 64; }
} // namespace

QString TCellText::FitText(const QString& s) const
{
    const qsizetype prefix = VisiblePrefixLength(Rect.width());
    if (s.size() > prefix) {
        const QString head = s.left(prefix);
        if (TextTooWide(head))
            return FitText(head);
    }
    if (!TextTooWide(s))
        return s;
    int available = Rect.width() - Metrics.horizontalAdvance(Ellipsis);
    for (qsizetype i = 0; i < s.size(); ++i) {
        available -= Metrics.horizontalAdvance(s[i]);
        if (available < 0)
            return s.left(i) + Ellipsis;
    }
    return s + Ellipsis;
}

QString TCellText::FormatFixed(double x, int decimals) const
{
    if (!std::isfinite(x))
        return Ellipsis;
    const QString s = FixedText(x, decimals, false);
    return TextTooWide(s) ? Ellipsis : s;
}

QString TCellText::FormatPercent(double x) const
{
    if (!std::isfinite(x))
        return Ellipsis;
    const QString s = FixedText(x, 2, false) + QLatin1Char('%');
    return TextTooWide(s) ? Ellipsis : s;
}

QString TCellText::FormatScaled(double x, const QString& suffix, TCountStyle style) const
{
    if (!std::isfinite(x))
        return Ellipsis;
    for (int decimals = 2; decimals >= 0; --decimals) {
        const QString s = FixedText(x, decimals, style == csGrouped) + suffix;
        if (!TextTooWide(s))
            return s;
    }
    return Ellipsis;
}

QString TCellText::FormatCount(qint32 n, TCountStyle style) const
{
    const QString s = style == csGrouped ? FixedText(double(n), 0, true) : QString::number(n);
    if (!TextTooWide(s))
        return s;
    if (n >= 1'000'000)
        return FormatScaled(double(n) / 1'000'000, QStringLiteral("M"), style);
    if (n >= 1'000)
        return FormatScaled(double(n) / 1'000, QStringLiteral("K"), style);
    return Ellipsis;
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
}

void TAlertGridBase::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::FontChange)
        RefreshCellFont();
    TDrawGrid::changeEvent(event);
}

void TAlertGridBase::BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike,
                               const QColor& background, TColor text)
{
    Canvas = &canvas;
    canvas.setFont(PaintFont);
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
    Cell = TCellText(*PaintMetrics, textRect);
    canvas.setPen(ToQColor(text));
}

void TAlertGridBase::BeginCell(QPainter& canvas, const QRect& cellRect, bool headerLike,
                               TColor background, TColor text)
{
    BeginCell(canvas, cellRect, headerLike, ToQColor(background), text);
}

void TAlertGridBase::DrawHeaderCell(QPainter& canvas, const QRect& cellRect, const QString& caption)
{
    BeginCell(canvas, cellRect, true, FixedColor(), clBlack);
    DrawTextCentered(Cell.FitText(caption));
}

void TAlertGridBase::DrawHeaderCell(QPainter& canvas, const QRect& cellRect, int col, const char* const* captions,
                                    int count)
{
    DrawHeaderCell(canvas, cellRect, col >= 0 && col < count ? QString::fromLatin1(captions[col]) : QString());
}

void TAlertGridBase::MeasureSampleColumns(const char* const* samples, int count)
{
    for (int col = 0; col < count; ++col)
        if (samples[col])
            SetColWidths(col, MeasureColumn(QString::fromLatin1(samples[col])));
}

void TAlertGridBase::DrawTextAt(int x, const QString& s)
{
    if (!Canvas || s.isEmpty())
        return;
    const QRect& rect = Cell.TextRect();
    const QFontMetrics& metrics = Cell.FontMetrics();
    const int y = rect.top() + std::max(rect.height() - metrics.height(), 0) / 2;
    Canvas->setClipRect(rect);
    const qsizetype prefix = VisiblePrefixLength(rect.right() - x + 1);
    if (s.size() > prefix && x >= rect.left() && metrics.horizontalAdvance(s.left(prefix)) > rect.right() - x + 1)
        Canvas->drawText(QPoint(x, y + metrics.ascent()), s.left(prefix)); // the rest is clipped away
    else
        Canvas->drawText(QPoint(x, y + metrics.ascent()), s);
    Canvas->setClipping(false);
}

void TAlertGridBase::DrawTextLeft(const QString& s)
{
    DrawTextAt(Cell.TextRect().left(), s);
}

void TAlertGridBase::DrawTextRight(const QString& s)
{
    const QRect& rect = Cell.TextRect();
    DrawTextAt(rect.left() + std::max(rect.width() - Cell.FontMetrics().horizontalAdvance(s), 0), s);
}

void TAlertGridBase::DrawTextCentered(const QString& s)
{
    const QRect& rect = Cell.TextRect();
    DrawTextAt(rect.left() + std::max(rect.width() - Cell.FontMetrics().horizontalAdvance(s), 0) / 2, s);
}

void TAlertGridBase::DrawContent(const TCellContent& content)
{
    const QString s = content.Fitted ? Cell.FitText(content.Text) : content.Text;
    if (content.Right)
        DrawTextRight(s);
    else
        DrawTextLeft(s);
}

TCellContent TAlertGridBase::TextContent(const QByteArray& text, bool right, bool fitted)
{
    TCellContent c;
    c.Text = CellString(text);
    c.Right = right;
    c.Fitted = fitted;
    c.IsText = true;
    return c;
}

TCellContent TAlertGridBase::NumberContent(const QString& text)
{
    TCellContent c;
    c.Text = text;
    c.Right = true;
    return c;
}

TCellContent TAlertGridBase::FixedContent(double x, int decimals, const TCellText& cell)
{
    return std::isnan(x) ? NumberContent(QString()) : NumberContent(cell.FormatFixed(x, decimals));
}

TCellContent TAlertGridBase::CountContent(qint32 n, TCellText::TCountStyle style, const TCellText& cell)
{
    return n > 0 ? NumberContent(cell.FormatCount(n, style)) : NumberContent(QString());
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
    return TCellText(*PaintMetrics, rect);
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
