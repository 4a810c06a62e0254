#include "Shared/UrlEncode.h"

#include "Shared/StringStringHashtables.h"

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
    const auto piece = [&table](const char* at, qsizetype n) -> QByteArrayView {
        if (!memchr(at, '%', size_t(n)))
            return QByteArrayView(at, n);
        char* room = table.DecodedRoom(n);
        const qsizetype written = DecodeInto(at, n, room);
        return QByteArrayView(room, written);
    };
    qsizetype start = 0;
    while (start < length) {
        const char* item = data + start;
        const char* amp = static_cast<const char*>(memchr(item, '&', size_t(length - start)));
        const qsizetype end = amp ? amp - data : length;
        const qsizetype itemLength = end - start;
        const char* equals = static_cast<const char*>(memchr(item, '=', size_t(itemLength)));
        // No "=" (also an empty item from "&&"): not a pair, skipped.
        if (equals) {
            const qsizetype keyLength = equals - item;
            const QByteArrayView key = piece(item, keyLength);
            const QByteArrayView value = piece(equals + 1, itemLength - keyLength - 1);
            table.PutView(key, value);
        }
        start = end + 1;
    }
}
