#include "Shared/UrlEncode.h"

#include "Shared/StringStringHashtables.h"

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

TFormItem ScanItem(const char* data, qsizetype start, qsizetype length)
{
    TFormItem item{length};
    const qsizetype byHand = std::min(length, start + ItemBytesByHand);
    qsizetype i = start;
    for (; i < byHand; ++i) {
        const char c = data[i];
        if (c == '&') {
            item.End = i;
            return item;
        }
        if (c == '=') {
            if (item.Equals < 0)
                item.Equals = i;
        } else if (c == '%') {
            (item.Equals < 0 ? item.KeyPercent : item.ValuePercent) = true;
        }
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
    qsizetype start = 0;
    while (start < length) {
        const TFormItem item = ScanItem(data, start, length);
        // No "=" (also an empty item from "&&"): not a pair, skipped.
        if (item.Equals >= 0) {
            const QByteArrayView key = piece(data + start, item.Equals - start, item.KeyPercent);
            const QByteArrayView value = piece(data + item.Equals + 1, item.End - item.Equals - 1, item.ValuePercent);
            table.PutView(key, value);
        }
        start = item.End + 1;
    }
}
