#pragma once
// Fitting numbers and texts into one cell by shortening them, and what a data cell shows.
// Nothing here paints: the grids measure with these and draw the result (AlertGridBase.h).
//
// Texts from the server are bytes; they become QString (Latin-1) only here, where they are
// about to be drawn.

#include <QByteArray>
#include <QFont>
#include <QFontMetrics>
#include <QGlyphRun>
#include <QHash>
#include <QList>
#include <QRawFont>
#include <QRect>
#include <QString>
#include <QStaticText>
#include <QStringList>
#include <array>
#include <memory>
#include <optional>
#include <vector>

// The thousands separator of the grouped count formats: the user's locale setting, read once.
// The decimal point is always ".".
QString ThousandsSeparator();
void SetThousandsSeparator(const QString& separator);

// A text far longer than a cell can show (a hostile server's 8 MiB symbol) is measured and
// shaped by a prefix of this many characters for a cell of this width: when the prefix alone
// is too wide, every fitting and every glyph that can be seen lies inside it.
inline qsizetype VisiblePrefixLength(int width) { return 4 * qsizetype(qMax(width, 0)) + 64; }

// Glyphs and advances of the printable ASCII characters in one font, for measuring and drawing
// the plain texts of a flood without shaping them: in a flood nearly every text a paint shows
// is new, and shaping it (once to measure, once to draw) was most of the paint. A text is
// plain when each of its characters has a glyph of the font itself (no fallback font) and each
// neighbouring pair shapes to exactly those two glyphs at their own advances: no kerning, no
// ligature. Its width and glyph places are then sums of advances, in the shaper's own 1/64
// pixel steps, so it looks and measures exactly as shaped. Each character and each pair is
// checked against the shaper once, the first time a text holds it.
class TPlainGlyphs {
public:
    explicit TPlainGlyphs(const QFont& font);
    // The table of this font, shared by every grid that paints with it.
    static std::shared_ptr<TPlainGlyphs> For(const QFont& font);

    const QFont& Font() const { return TextFont; }
    const QRawFont& RawFont() const { return Raw; }
    // For a plain s: its width as QFontMetrics(Font()).horizontalAdvance(s) gives it and, when
    // asked, its glyphs and their places from the start of its baseline. False for any other
    // text, and then nothing is filled in.
    bool Lay(QStringView s, int* width, std::vector<quint32>* glyphs = nullptr,
             std::vector<QPointF>* places = nullptr);

private:
    static constexpr int First = 0x20;
    static constexpr int Count = 0x7f - First;
    enum TState : quint8 { sUnknown, sPlain, sNotPlain };
    bool CharIsPlain(int c);
    bool PairIsPlain(int a, int b);

    QFont TextFont;
    QRawFont Raw;
    std::array<TState, Count> CharState{};
    std::array<quint32, Count> Glyph{};
    std::array<qint32, Count> Advance{}; // in 1/64 pixels
    std::vector<TState> PairState;       // Count * Count, first character major
};

// The widths and laid-out glyphs of the texts one grid draws, for its paint font. A front
// insertion repaints rows whose texts were all drawn a moment ago, one row lower, so most of a
// repaint reuses measurements and layouts instead of shaping the same text again. It keeps
// what the last two paints used and drops the rest when a paint starts, so its size follows
// the visible cells, not the length of the day; and never more than Capacity texts, none
// longer than MaxLength.
class TTextCache {
public:
    static constexpr int Capacity = 4096;
    static constexpr qsizetype MaxLength = 64;

    // Forgets everything; the texts are measured with metrics from now on.
    void Reset(const QFontMetrics& metrics);
    // Likewise for the metrics of font, and plain texts are measured and laid out without
    // shaping (TPlainGlyphs).
    void Reset(const QFont& font);
    // A paint begins: texts neither it nor the paint before used are dropped. Plain texts are
    // handed out as glyphs only when the painter's font, canvasFont, is the cache's own.
    void StartPaint(const QFont* canvasFont = nullptr);
    // metrics.horizontalAdvance(s), remembered.
    int Width(const QString& s);
    // The text laid out for drawing with the font of Reset, or nullptr when s is too long to
    // keep. Valid until the next call.
    const QStaticText* Glyphs(const QString& s);
    // For drawing s: nullptr the first time (draw it directly), its Glyphs from the second time
    // on. Laying a text out to keep costs more than drawing it once, and in a flood most texts
    // are drawn once: each paint shows new rows.
    const QStaticText* GlyphsWhenDrawnAgain(const QString& s);
    // A plain text's glyphs placed from the start of its baseline, for drawing it without
    // shaping; nullptr for any other text, or when this paint's font is not the cache's.
    // Valid until the next call.
    const QGlyphRun* PlainGlyphs(const QString& s);
    qsizetype Size() const { return Texts.size(); }

private:
    struct TText {
        int Width = -1; // -1: not measured yet
        std::optional<QStaticText> Glyphs;
        quint32 Used = 0; // the paint that used it last
        bool Drawn = false; // drawn before, without glyphs
    };
    TText* Find(const QString& s);

    std::optional<QFontMetrics> Metrics;
    QHash<QString, TText> Texts;
    quint32 Paint = 0;
    std::shared_ptr<TPlainGlyphs> Plain;
    bool PlainDrawable = false; // this paint's font is Plain's
    // Reused for every plain text drawn: no allocation per text.
    std::vector<quint32> PlainGlyphIndexes;
    std::vector<QPointF> PlainPlaces;
    QGlyphRun PlainRun;
};

// Fitting texts and numbers into one cell's text rectangle, measured with the cell's font.
class TCellText {
public:
    enum TCountStyle {
        csPlain,   // "%d"; K and M forms "%.2f%s", "%.1f%s", "%.0f%s"
        csGrouped, // "%.0n" with thousands separators; K and M forms "%.2n%s" ...
    };

    TCellText() : Metrics(QFont()) {}
    // With a cache, widths are remembered there (it must have been reset for these metrics).
    TCellText(const QFontMetrics& metrics, const QRect& textRect, TTextCache* cache = nullptr)
        : Metrics(metrics), Rect(textRect), Cache(cache)
    {
    }

    const QRect& TextRect() const { return Rect; }
    const QFontMetrics& FontMetrics() const { return Metrics; }
    TTextCache* TextCache() const { return Cache; }

    // The advance of s in the cell's font.
    int Width(const QString& s) const { return Cache ? Cache->Width(s) : Metrics.horizontalAdvance(s); }
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
    TTextCache* Cache = nullptr;
};

// What one data cell shows. Numbers come formatted and fitted by the cell's formatter;
// texts (symbols, times) come whole, and Fitted says the cell shortens them when drawn.
struct TCellContent {
    QString Text;
    bool Right = false;  // right-aligned
    bool Fitted = false; // a text that the cell passes through FitText
    bool IsText = false; // a server text rather than a number
};

// Converts a server text for drawing.
inline QString CellString(const QByteArray& bytes) { return QString::fromLatin1(bytes); }

// Contents of the usual kinds: a server text (left, or right as times are, shortened by the
// cell unless fitted is false); a right-aligned number that is empty when absent (NaN); a
// right-aligned whole number that is empty at 0 or less.
TCellContent TextContent(const QByteArray& text, bool right = false, bool fitted = true);
TCellContent NumberContent(const QString& text);
TCellContent FixedContent(double x, int decimals, const TCellText& cell);
TCellContent CountContent(qint32 n, TCellText::TCountStyle style, const TCellText& cell);

// Rows taken out of a grid: the column captions and, per row, what each cell shows.
struct TRowTable {
    QStringList Captions;
    QList<QList<TCellContent>> Rows;
};
