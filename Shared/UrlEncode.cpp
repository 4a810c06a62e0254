#include "Shared/UrlEncode.h"

#include "Platform/VeskError.h"
#include "Shared/ByteSlices.h"
#include "Shared/StringStringHashtables.h"

#include <QtAlgorithms>
#include <QtEndian>
#include <algorithm>
#include <cstring>

namespace {
int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Decodes into out, which has room for length bytes (the result is never longer); returns
// the bytes written.
qsizetype DecodeInto(const char* in, qsizetype length, char* out)
{
    qsizetype read = 0;
    qsizetype written = 0;
    while (read < length) {
        if (in[read] == '%' && read + 2 < length) {
            const int high = HexValue(in[read + 1]);
            const int low = HexValue(in[read + 2]);
            if (high >= 0 && low >= 0) {
                out[written++] = char(high * 16 + low);
                read += 3;
                continue;
            }
        }
        // "+" is not a space here, and a "%" without two hex digits is kept as it is.
        out[written++] = in[read++];
    }
    return written;
}

QByteArray Decode(const char* in, qsizetype length)
{
    // The result is never longer than the text, so one allocation does.
    QByteArray result(length, Qt::Uninitialized);
    result.truncate(DecodeInto(in, length, result.data()));
    return result;
}
} // namespace

QByteArray UrlDecode(const QByteArray& text)
{
    return Decode(text.constData(), text.size());
}

void SplitAt(const QByteArray& separator, const QByteArray& text, QByteArray& left, QByteArray& right)
{
    const qsizetype at = text.indexOf(separator);
    if (at < 0) {
        left = text;
        right.clear();
        return;
    }
    // Copies first: text may be the very object passed as left or right.
    QByteArray before = text.left(at);
    QByteArray after = text.mid(at + separator.size());
    left = std::move(before);
    right = std::move(after);
}

namespace {
// One item of a form: where it ends (its "&" or the end of the text), its first "=" (-1 for
// none), and whether its key and its value hold a "%".
struct TFormItem {
    qsizetype End;
    qsizetype Equals = -1;
    bool KeyPercent = false;
    bool ValuePercent = false;
};

// A form's items are short: the first bytes of one are looked at one by one, a single pass
// where four memchr calls per item cost more than the bytes. Past those, memchr finds the
// rest, so a hostile value of megabytes still goes at memchr's speed.
constexpr qsizetype ItemBytesByHand = 64;

// High bit of each byte of word that equals the byte that ones (0x0101...) times c gives,
// exactly, no other bit.
inline quint64 BytesEqual(quint64 word, quint64 c)
{
    constexpr quint64 Low7 = 0x7F7F7F7F7F7F7F7Full;
    const quint64 x = word ^ c;
    return ~(((x & Low7) + Low7) | x | Low7);
}

TFormItem ScanItem(const char* data, qsizetype start, qsizetype length)
{
    TFormItem item{length};
    const qsizetype byHand = std::min(length, start + ItemBytesByHand);
    qsizetype i = start;
    // One byte that matters ("&", "=" or "%"); true at the item's end.
    const auto take = [&item](char c, qsizetype at) {
        if (c == '&') {
            item.End = at;
            return true;
        }
        if (c == '=') {
            if (item.Equals < 0)
                item.Equals = at;
        } else {
            (item.Equals < 0 ? item.KeyPercent : item.ValuePercent) = true;
        }
        return false;
    };
    // Eight bytes at a time: the bytes between those that matter are skipped by the word.
    constexpr quint64 Ones = 0x0101010101010101ull;
    while (i + 8 <= byHand) {
        const quint64 word = qFromLittleEndian<quint64>(data + i);
        quint64 marks = BytesEqual(word, Ones * '&') | BytesEqual(word, Ones * '=') | BytesEqual(word, Ones * '%');
        if (!marks) {
            i += 8;
            continue;
        }
        while (marks) {
            const qsizetype at = i + (qCountTrailingZeroBits(marks) >> 3);
            if (take(data[at], at))
                return item;
            marks &= marks - 1;
        }
        i += 8;
    }
    for (; i < byHand; ++i) {
        const char c = data[i];
        if ((c == '&' || c == '=' || c == '%') && take(c, i))
            return item;
    }
    if (i == length)
        return item;
    const auto find = [data](qsizetype from, qsizetype to, char c) -> const char* {
        return from < to ? static_cast<const char*>(memchr(data + from, c, size_t(to - from))) : nullptr;
    };
    const char* amp = find(i, length, '&');
    item.End = amp ? amp - data : length;
    if (item.Equals < 0) {
        if (const char* equals = find(i, item.End, '='))
            item.Equals = equals - data;
    }
    if (item.Equals < 0) {
        item.KeyPercent = item.KeyPercent || find(i, item.End, '%');
    } else if (item.Equals >= i) {
        item.KeyPercent = item.KeyPercent || find(i, item.Equals, '%');
        item.ValuePercent = find(item.Equals + 1, item.End, '%');
    } else {
        item.ValuePercent = item.ValuePercent || find(i, item.End, '%');
    }
    return item;
}
// Calls visit(start, item) for each item of the form that is a pair, in order. An item
// without "=" (also an empty item from "&&") is not a pair and is skipped.
template <class TVisit>
void ForEachPair(const char* data, qsizetype length, TVisit visit)
{
    qsizetype start = 0;
    while (start < length) {
        const TFormItem item = ScanItem(data, start, length);
        if (item.Equals >= 0)
            visit(start, item);
        start = item.End + 1;
    }
}
} // namespace

void ParseForm(const QByteArray& text, tHashTable& table)
{
    // The same cuts as SplitAt at "&" and then at "=", done with positions so that a long
    // form is not copied once per item. A key or value without "%" is stored as a view into
    // the text, which the table keeps; one with "%" is decoded into the table's own room.
    const char* data = text.constData();
    const qsizetype length = text.size();
    if (length == 0)
        return;
    table.HoldFormText(text);
    const auto piece = [&table](const char* at, qsizetype n, bool percent) -> QByteArrayView {
        if (!percent)
            return QByteArrayView(at, n);
        char* room = table.DecodedRoom(n);
        const qsizetype written = DecodeInto(at, n, room);
        return QByteArrayView(room, written);
    };
    ForEachPair(data, length, [&](qsizetype start, const TFormItem& item) {
        const QByteArrayView key = piece(data + start, item.Equals - start, item.KeyPercent);
        const QByteArrayView value = piece(data + item.Equals + 1, item.End - item.Equals - 1, item.ValuePercent);
        table.PutView(key, value);
    });
}

// ---- TFormPick ----

namespace {
// Keys shorter than this are told apart by a bit of one word before any byte is compared.
constexpr qsizetype MaskedKeyLength = 64;
// Keys with "%" up to this long are decoded on the stack.
constexpr qsizetype KeyOnStack = 192;

// The key of a pair, decoded when it has "%" into room (on the stack, KeyOnStack bytes,
// when short); the view is valid while the text and the room live. Null when the key cannot
// be one of longest bytes or fewer once decoded: decoding shortens a key to a third at most.
QByteArrayView KeyOf(const char* data, qsizetype start, const TFormItem& item, qsizetype longest, char* onStack,
                     QByteArray& room)
{
    const char* key = data + start;
    const qsizetype length = item.Equals - start;
    if (!item.KeyPercent)
        return QByteArrayView(key, length);
    if (length > 3 * longest)
        return {};
    char* out = onStack;
    if (length > KeyOnStack) {
        room.resize(length);
        out = room.data();
    }
    return QByteArrayView(out, DecodeInto(key, length, out));
}
} // namespace

void TFormPick::SetKeys(std::vector<QByteArray> keys)
{
    KeyTexts.clear();
    for (QByteArray& key : keys)
        if (std::find(KeyTexts.begin(), KeyTexts.end(), key) == KeyTexts.end())
            KeyTexts.push_back(std::move(key));
    Wanted.assign(KeyTexts.size(), TWanted());
    LongestKey = 0;
    LengthMask = 0;
    for (size_t i = 0; i < KeyTexts.size(); ++i) {
        const QByteArray& key = KeyTexts[i];
        Wanted[i].First = key.isEmpty() ? '\0' : key[0];
        Wanted[i].Length = key.size();
        LongestKey = std::max(LongestKey, key.size());
        if (key.size() < MaskedKeyLength)
            LengthMask |= quint64(1) << key.size();
    }
}

int TFormPick::IndexOf(QByteArrayView key) const
{
    const qsizetype n = key.size();
    // Most keys of an alert are not wanted, and most of those differ in length from every
    // wanted one: they cost a shift.
    if (n < MaskedKeyLength ? !((LengthMask >> n) & 1) : n > LongestKey)
        return -1;
    for (size_t i = 0; i < Wanted.size(); ++i) {
        const TWanted& w = Wanted[i];
        if (w.Length == n && (n == 0 || (w.First == key[0] && SameBytes(key, KeyTexts[i]))))
            return int(i);
    }
    return -1;
}

void TFormPick::Clear()
{
    for (TWanted& w : Wanted) {
        w.Value = nullptr;
        w.ValueLength = 0;
        w.Percent = false;
    }
    Room.resize(0);
}

void TFormPick::Parse(const QByteArray& text)
{
    Clear();
    const char* data = text.constData();
    const qsizetype length = text.size();
    qsizetype decodedBytes = 0;
    ForEachPair(data, length, [&](qsizetype start, const TFormItem& item) {
        char onStack[KeyOnStack];
        const QByteArrayView key = KeyOf(data, start, item, LongestKey, onStack, KeyRoom);
        const int k = key.isNull() ? -1 : IndexOf(key);
        if (k < 0)
            return;
        // A later item of the same key replaces the value, as in the table.
        TWanted& w = Wanted[size_t(k)];
        decodedBytes -= w.Percent ? w.ValueLength : 0;
        w.Value = data + item.Equals + 1;
        w.ValueLength = item.End - item.Equals - 1;
        w.Percent = item.ValuePercent;
        decodedBytes += w.Percent ? w.ValueLength : 0;
    });
    if (decodedBytes == 0)
        return;
    // Only the values kept are decoded, into room sized once, so no view moves.
    Room.resize(decodedBytes);
    char* at = Room.data();
    for (TWanted& w : Wanted) {
        if (!w.Percent)
            continue;
        const qsizetype written = DecodeInto(w.Value, w.ValueLength, at);
        w.Value = at;
        w.ValueLength = written;
        w.Percent = false;
        at += written;
    }
}

QByteArrayView TFormPick::GetView(QByteArrayView key) const
{
    const int k = IndexOf(key);
    VESK_ASSERT(k >= 0);
    const TWanted& w = Wanted[size_t(k)];
    return QByteArrayView(w.Value, w.ValueLength);
}

// ---- TNumberedFormPick ----

namespace {
// Row numbers past this many digits could only be read after a billion rows.
constexpr qsizetype MaxRowDigits = 9;
} // namespace

TNumberedFormPick::TNumberedFormPick(std::vector<QByteArray> columns) : Names(std::move(columns))
{
    VESK_ASSERT(Names.Keys().size() <= 32767);
    for (const QByteArray& name : Names.Keys())
        VESK_ASSERT(!name.isEmpty() && !(name.back() >= '0' && name.back() <= '9'));
}

void TNumberedFormPick::Clear()
{
    Cells.clear();
    RowStart.clear();
    Order.clear();
    RowCount = 0;
    Room.resize(0);
}

void TNumberedFormPick::Parse(const QByteArray& text)
{
    Clear();
    const char* data = text.constData();
    const qsizetype length = text.size();
    qsizetype longest = 0;
    for (const QByteArray& name : Names.Keys())
        longest = std::max(longest, name.size());
    longest += MaxRowDigits;
    qsizetype decodedBytes = 0;
    qsizetype firstColumnCells = 0;
    ForEachPair(data, length, [&](qsizetype start, const TFormItem& item) {
        char onStack[KeyOnStack];
        const QByteArrayView key = KeyOf(data, start, item, longest, onStack, KeyRoom);
        // The number: the digits at the key's end, as a row's number is written (no leading
        // zero but in "0" itself).
        qsizetype digits = 0;
        while (digits < key.size() && key[key.size() - 1 - digits] >= '0' && key[key.size() - 1 - digits] <= '9')
            ++digits;
        const char* number = key.data() + key.size() - digits;
        if (digits == 0 || digits > MaxRowDigits || (digits > 1 && number[0] == '0'))
            return;
        const int column = Names.IndexOf(key.first(key.size() - digits));
        if (column < 0)
            return;
        qint32 row = 0;
        for (qsizetype d = 0; d < digits; ++d)
            row = row * 10 + (number[d] - '0');
        Cells.push_back({data + item.Equals + 1, item.End - item.Equals - 1, row, qint16(column), item.ValuePercent});
        decodedBytes += item.ValuePercent ? Cells.back().Length : 0;
        firstColumnCells += column == 0;
    });
    if (Cells.empty())
        return;
    // The rows: while column 0 is there and not empty, as its last item says. Each such row
    // has a cell of its own, so there are no more rows than cells of column 0.
    // RowStart serves first as each row's mark of a column 0 that is not empty.
    RowStart.assign(size_t(firstColumnCells) + 1, 0);
    for (const TCell& cell : Cells)
        if (cell.Column == 0 && cell.Row < firstColumnCells)
            RowStart[size_t(cell.Row)] = cell.Length > 0; // a text with "%" never decodes to nothing
    while (RowStart[size_t(RowCount)])
        ++RowCount;
    // Each row's cells in the form's order, so that a later item of a key wins.
    RowStart.assign(size_t(RowCount) + 1, 0);
    for (const TCell& cell : Cells)
        if (cell.Row < RowCount)
            ++RowStart[size_t(cell.Row) + 1];
    for (qsizetype i = 0; i < RowCount; ++i)
        RowStart[size_t(i) + 1] += RowStart[size_t(i)];
    // Placed from each row's end backwards, walking the cells backwards: a row's cells keep
    // the form's order, and RowStart[i] ends at row i's first cell.
    Order.resize(size_t(RowStart.back()));
    std::vector<qsizetype>& end = RowStart;
    for (qsizetype i = 0; i < RowCount; ++i)
        end[size_t(i)] = end[size_t(i) + 1];
    for (qsizetype c = qsizetype(Cells.size()) - 1; c >= 0; --c)
        if (Cells[size_t(c)].Row < RowCount)
            Order[size_t(--end[size_t(Cells[size_t(c)].Row)])] = c;
    if (decodedBytes == 0)
        return;
    Room.resize(decodedBytes);
    char* at = Room.data();
    for (TCell& cell : Cells) {
        if (!cell.Percent || cell.Row >= RowCount)
            continue;
        const qsizetype written = DecodeInto(cell.Value, cell.Length, at);
        cell.Value = at;
        cell.Length = written;
        cell.Percent = false;
        at += written;
    }
}

void TNumberedFormPick::ReadRow(qsizetype row, QByteArrayView* values) const
{
    VESK_ASSERT(row >= 0 && row < RowCount);
    for (int c = 0; c < ColumnCount(); ++c)
        values[c] = QByteArrayView();
    for (qsizetype k = RowStart[size_t(row)]; k < RowStart[size_t(row) + 1]; ++k) {
        const TCell& cell = Cells[size_t(Order[size_t(k)])];
        values[cell.Column] = QByteArrayView(cell.Value, cell.Length);
    }
}
