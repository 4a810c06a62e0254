#include "WireFormat.h"

QByteArray TRequest::Value(const QByteArray& key) const
{
    for (const auto& p : Pairs)
        if (p.first == key)
            return p.second;
    return {};
}

void AppendLE32(QByteArray& out, qint32 value)
{
    const quint32 v = static_cast<quint32>(value);
    const char b[4] = {char(v & 0xff), char((v >> 8) & 0xff), char((v >> 16) & 0xff),
                       char((v >> 24) & 0xff)};
    out.append(b, 4);
}

qint32 ReadLE32(const char* p)
{
    const auto* u = reinterpret_cast<const unsigned char*>(p);
    return static_cast<qint32>(quint32(u[0]) | (quint32(u[1]) << 8) | (quint32(u[2]) << 16) |
                               (quint32(u[3]) << 24));
}

void AppendFrame(QByteArray& out, qint32 id, const QByteArray& body)
{
    AppendLE32(out, id);
    AppendLE32(out, static_cast<qint32>(body.size()));
    out.append(body);
}

TRequestParser::TResult TRequestParser::Next(TRequest& request)
{
    // Consumed bytes are dropped only once they are the larger part, so cutting stays
    // linear in the stream length.
    if (Offset > 0 && Offset * 2 >= Data.size()) {
        Data.remove(0, Offset);
        Offset = 0;
    }
    const qsizetype available = Data.size() - Offset;
    const char* base = Data.constData() + Offset;
    qsizetype pos = 0;
    TPairs pairs;
    for (;;) {
        if (available - pos < 4)
            break;
        const qint32 keyLength = ReadLE32(base + pos);
        if (keyLength < 0) {
            Error = "negative field length " + QByteArray::number(keyLength);
            return TResult::Invalid;
        }
        if (keyLength == 0) {
            pos += 4;
            Offset += pos;
            request = TRequest();
            qsizetype first = 0;
            if (!pairs.isEmpty() && pairs.front().first == "message_id") {
                bool ok = false;
                const qint64 id = pairs.front().second.toLongLong(&ok);
                if (ok && !pairs.front().second.startsWith('+') &&
                    !pairs.front().second.startsWith('-'))
                    request.Id = id;
                first = 1;
            }
            request.Pairs = pairs.mid(first);
            return TResult::Complete;
        }
        if (pos + 4 + qsizetype(keyLength) + 4 > MaxRequestBytes) {
            Error = "request larger than " + QByteArray::number(MaxRequestBytes) + " bytes";
            return TResult::Invalid;
        }
        if (available - pos < 4 + qsizetype(keyLength) + 4)
            break;
        const qint32 valueLength = ReadLE32(base + pos + 4 + keyLength);
        if (valueLength < 0) {
            Error = "negative field length " + QByteArray::number(valueLength);
            return TResult::Invalid;
        }
        const qsizetype total = 4 + qsizetype(keyLength) + 4 + qsizetype(valueLength);
        if (pos + total > MaxRequestBytes) {
            Error = "request larger than " + QByteArray::number(MaxRequestBytes) + " bytes";
            return TResult::Invalid;
        }
        if (available - pos < total)
            break;
        pairs.append({QByteArray(base + pos + 4, keyLength),
                      QByteArray(base + pos + 8 + keyLength, valueLength)});
        pos += total;
    }
    if (available > MaxRequestBytes) {
        Error = "request larger than " + QByteArray::number(MaxRequestBytes) + " bytes";
        return TResult::Invalid;
    }
    return TResult::Incomplete;
}

QByteArray FormEscape(const QByteArray& text)
{
    static const char hex[] = "0123456789ABCDEF";
    QByteArray out;
    out.reserve(text.size());
    for (char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (u < 0x20 || u >= 0x7f || c == '&' || c == '=' || c == '%') {
            out.append('%');
            out.append(hex[u >> 4]);
            out.append(hex[u & 15]);
        } else {
            out.append(c);
        }
    }
    return out;
}

QByteArray FormText(const TPairs& pairs)
{
    QByteArray out;
    for (const auto& p : pairs) {
        if (!out.isEmpty())
            out.append('&');
        out.append(FormEscape(p.first));
        out.append('=');
        out.append(FormEscape(p.second));
    }
    return out;
}

static int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

static QByteArray UrlUnescape(const QByteArray& text)
{
    QByteArray out;
    out.reserve(text.size());
    for (qsizetype i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '+') {
            out.append(' ');
        } else if (c == '%' && i + 2 < text.size() && HexValue(text[i + 1]) >= 0 &&
                   HexValue(text[i + 2]) >= 0) {
            out.append(char(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2])));
            i += 2;
        } else {
            out.append(c);
        }
    }
    return out;
}

TPairs ParseUrlForm(const QByteArray& text)
{
    TPairs pairs;
    for (const QByteArray& item : text.split('&')) {
        const qsizetype eq = item.indexOf('=');
        if (item.isEmpty())
            continue;
        if (eq < 0)
            pairs.append({UrlUnescape(item), QByteArray()});
        else
            pairs.append({UrlUnescape(item.left(eq)), UrlUnescape(item.mid(eq + 1))});
    }
    return pairs;
}

static int P64Value(char c)
{
    if (c >= 'a' && c <= 'z')
        return c - 'a';
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 26;
    if (c >= '0' && c <= '9')
        return c - '0' + 52;
    if (c == '_')
        return 62;
    if (c == '-')
        return 63;
    return -1;
}

std::optional<QByteArray> P64Decode(const QByteArray& text)
{
    // A single leftover character carries only 6 bits: no byte string ends that way.
    if (text.size() % 4 == 1)
        return std::nullopt;
    QByteArray out;
    out.reserve(text.size() * 3 / 4 + 2);
    quint32 bits = 0;
    int count = 0;
    for (char c : text) {
        const int v = P64Value(c);
        if (v < 0)
            return std::nullopt;
        bits = (bits << 6) | quint32(v);
        count += 6;
        if (count >= 8) {
            count -= 8;
            out.append(char((bits >> count) & 0xff));
        }
    }
    return out;
}

QByteArray JsonString(const QByteArray& latin1)
{
    static const char hex[] = "0123456789abcdef";
    QByteArray out = "\"";
    for (char c : latin1) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out.append('\\');
            out.append(c);
        } else if (u < 0x20 || u >= 0x7f) {
            out.append("\\u00");
            out.append(hex[u >> 4]);
            out.append(hex[u & 15]);
        } else {
            out.append(c);
        }
    }
    out.append('"');
    return out;
}
