#include "Olvarra/CellText.h"

#include <QLocale>
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
// The text cache

void TTextCache::Reset(const QFontMetrics& metrics)
{
    Metrics.emplace(metrics);
    Texts.clear();
}

void TTextCache::StartPaint()
{
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
