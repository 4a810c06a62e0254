#include "Olvarra/CellText.h"

#include <QFontMetricsF>
#include <QLocale>
#include <QTextLayout>
#include <algorithm>
#include <charconv>
#include <cmath>

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
    return Width(s) > Rect.width();
}


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
// Plain glyphs

namespace {
// The glyph runs the shaper makes of text, laid out on one line.
QList<QGlyphRun> ShapedRuns(const QString& text, const QFont& font)
{
    QTextLayout layout(text, font);
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    return layout.glyphRuns();
}
} // namespace

TPlainGlyphs::TPlainGlyphs(const QFont& font)
    : TextFont(font), Raw(QRawFont::fromFont(font)), PairState(size_t(Count) * Count, sUnknown)
{
}

std::shared_ptr<TPlainGlyphs> TPlainGlyphs::For(const QFont& font)
{
    // Fonts are the GUI thread's; a handful are in use at a time.
    static std::vector<std::weak_ptr<TPlainGlyphs>> tables;
    std::erase_if(tables, [](const std::weak_ptr<TPlainGlyphs>& t) { return t.expired(); });
    for (const std::weak_ptr<TPlainGlyphs>& t : tables) {
        std::shared_ptr<TPlainGlyphs> table = t.lock();
        if (table->Font() == font)
            return table;
    }
    auto table = std::make_shared<TPlainGlyphs>(font);
    tables.push_back(table);
    return table;
}

bool TPlainGlyphs::CharIsPlain(int c)
{
    if (CharState[size_t(c)] != sUnknown)
        return CharState[size_t(c)] == sPlain;
    CharState[size_t(c)] = sNotPlain;
    const QString text(QChar(First + c));
    const QList<QGlyphRun> runs = ShapedRuns(text, TextFont);
    if (runs.size() != 1 || runs[0].glyphIndexes().size() != 1 || runs[0].rawFont() != Raw)
        return false; // no glyph of its own in this font
    const qreal advance = QFontMetricsF(TextFont).horizontalAdvance(text) * 64;
    if (advance < 0 || advance != qRound(advance))
        return false;
    Glyph[size_t(c)] = runs[0].glyphIndexes()[0];
    Advance[size_t(c)] = qRound(advance);
    CharState[size_t(c)] = sPlain;
    return true;
}

bool TPlainGlyphs::PairIsPlain(int a, int b)
{
    TState& state = PairState[size_t(a) * Count + size_t(b)];
    if (state != sUnknown)
        return state == sPlain;
    state = sNotPlain;
    QString text;
    text += QChar(First + a);
    text += QChar(First + b);
    const QList<QGlyphRun> runs = ShapedRuns(text, TextFont);
    if (runs.size() != 1 || runs[0].rawFont() != Raw)
        return false;
    const QList<quint32> glyphs = runs[0].glyphIndexes();
    const QList<QPointF> places = runs[0].positions();
    if (glyphs.size() != 2 || places.size() != 2 || glyphs[0] != Glyph[size_t(a)] || glyphs[1] != Glyph[size_t(b)])
        return false; // a ligature or another substitution
    if ((places[1].x() - places[0].x()) * 64 != Advance[size_t(a)] || places[1].y() != places[0].y())
        return false; // kerned
    if (QFontMetricsF(TextFont).horizontalAdvance(text) * 64 != Advance[size_t(a)] + Advance[size_t(b)])
        return false;
    state = sPlain;
    return true;
}

bool TPlainGlyphs::Lay(QStringView s, int* width, std::vector<quint32>* glyphs, std::vector<QPointF>* places)
{
    qint64 x = 0; // in 1/64 pixels
    int previous = -1;
    for (const QChar ch : s) {
        const int c = int(ch.unicode()) - First;
        if (c < 0 || c >= Count || !CharIsPlain(c) || (previous >= 0 && !PairIsPlain(previous, c)))
            return false;
        x += Advance[size_t(c)];
        previous = c;
    }
    // Rounded as the shaper rounds its fixed-point width.
    *width = int((x + 32) >> 6);
    if (glyphs && places) {
        glyphs->clear();
        places->clear();
        x = 0;
        for (const QChar ch : s) {
            const size_t c = size_t(ch.unicode() - First);
            glyphs->push_back(Glyph[c]);
            places->push_back(QPointF(qreal(x) / 64, 0));
            x += Advance[c];
        }
    }
    return true;
}

// ---------------------------------------------------------------------------------------------
// The text cache

void TTextCache::Reset(const QFontMetrics& metrics)
{
    Metrics.emplace(metrics);
    Texts.clear();
    Plain.reset();
    PlainDrawable = false;
}

void TTextCache::Reset(const QFont& font)
{
    Reset(QFontMetrics(font));
    Plain = TPlainGlyphs::For(font);
    PlainRun.setRawFont(Plain->RawFont());
}

void TTextCache::StartPaint(const QFont* canvasFont)
{
    // The same font engine: the same font at the same resolution, so the same pixels.
    PlainDrawable = Plain && canvasFont && QRawFont::fromFont(*canvasFont) == Plain->RawFont();
    ++Paint;
    Texts.removeIf([this](const QHash<QString, TText>::iterator& it) { return Paint - it->Used > 1; });
}

TTextCache::TText* TTextCache::Find(const QString& s)
{
    if (!Metrics || s.size() > MaxLength)
        return nullptr;
    auto it = Texts.find(s);
    if (it == Texts.end()) {
        if (Texts.size() >= Capacity)
            Texts.clear(); // more texts than any screen of cells shows: start again
        it = Texts.emplace(s);
    }
    it->Used = Paint;
    return &*it;
}

int TTextCache::Width(const QString& s)
{
    int width;
    if (Plain && s.size() <= MaxLength && Plain->Lay(s, &width))
        return width;
    TText* text = Find(s);
    if (!text)
        return Metrics ? Metrics->horizontalAdvance(s) : QFontMetrics(QFont()).horizontalAdvance(s);
    if (text->Width < 0)
        text->Width = Metrics->horizontalAdvance(s);
    return text->Width;
}

const QStaticText* TTextCache::Glyphs(const QString& s)
{
    TText* text = Find(s);
    if (!text)
        return nullptr;
    if (!text->Glyphs) {
        QStaticText& glyphs = text->Glyphs.emplace(s);
        // A server text is never markup, and a cell's text is one line of its natural width.
        glyphs.setTextFormat(Qt::PlainText);
    }
    return &*text->Glyphs;
}

const QStaticText* TTextCache::GlyphsWhenDrawnAgain(const QString& s)
{
    TText* text = Find(s);
    if (!text)
        return nullptr;
    if (!text->Glyphs && !text->Drawn) {
        text->Drawn = true;
        return nullptr;
    }
    return Glyphs(s);
}

const QGlyphRun* TTextCache::PlainGlyphs(const QString& s)
{
    int width;
    if (!PlainDrawable || s.size() > MaxLength || !Plain->Lay(s, &width, &PlainGlyphIndexes, &PlainPlaces))
        return nullptr;
    PlainRun.setRawData(PlainGlyphIndexes.data(), PlainPlaces.data(), int(PlainGlyphIndexes.size()));
    return &PlainRun;
}

// ---------------------------------------------------------------------------------------------
// Cell contents

TCellContent TextContent(const QByteArray& text, bool right, bool fitted)
{
    TCellContent c;
    c.Text = CellString(text);
    c.Right = right;
    c.Fitted = fitted;
    c.IsText = true;
    return c;
}

TCellContent NumberContent(const QString& text)
{
    TCellContent c;
    c.Text = text;
    c.Right = true;
    return c;
}

TCellContent FixedContent(double x, int decimals, const TCellText& cell)
{
    return std::isnan(x) ? NumberContent(QString()) : NumberContent(cell.FormatFixed(x, decimals));
}

TCellContent CountContent(qint32 n, TCellText::TCountStyle style, const TCellText& cell)
{
    return n > 0 ? NumberContent(cell.FormatCount(n, style)) : NumberContent(QString());
}
