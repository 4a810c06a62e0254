#pragma once
// Parts of a byte string without copying them.

#include <QByteArray>
#include <QByteArrayView>
#include <cstring>

// Bytes offset .. offset + length of whole, as a string of its own that shares whole's
// storage (the storage lives as long as either does). Of a string made with fromRawData the
// part is copied, since its storage belongs to someone else.
inline QByteArray SharedSlice(const QByteArray& whole, qsizetype offset, qsizetype length)
{
    Q_ASSERT(offset >= 0 && length >= 0 && offset + length <= whole.size());
    if (length == 0)
        return QByteArray(qsizetype(0), Qt::Uninitialized);
    QByteArray::DataPointer& source = const_cast<QByteArray&>(whole).data_ptr();
    if (!source.d_ptr())
        return QByteArray(whole.constData() + offset, length);
    source.d_ptr()->ref();
    return QByteArray(QByteArray::DataPointer(source.d_ptr(), source.data() + offset, length));
}

// Where the next "\r\n" at or after from begins in text, or -1. A bare '\r' is an ordinary
// byte. memchr finds the '\r' candidates: Qt's indexOf of a two-byte string runs a rolling
// hash over every byte it passes, a cost on every alert body.
inline qsizetype IndexOfLineBreak(QByteArrayView text, qsizetype from = 0)
{
    const qsizetype n = text.size();
    qsizetype i = qBound(qsizetype(0), from, n);
    while (i + 1 < n) {
        const void* found = memchr(text.data() + i, '\r', size_t(n - i - 1));
        if (!found)
            return -1;
        i = static_cast<const char*>(found) - text.data();
        if (text[i + 1] == '\n')
            return i;
        ++i;
    }
    return -1;
}

// Equal byte strings, compared here rather than through Qt and memcmp: the texts compared on
// the receive path (keys of a form) are a few bytes, and the calls cost more than the
// comparison. Words of eight, the last of them overlapping; shorter texts as two
// overlapping halves.
inline bool SameBytes(QByteArrayView a, QByteArrayView b)
{
    const qsizetype n = a.size();
    if (n != b.size())
        return false;
    const char* p = a.data();
    const char* q = b.data();
    const auto same = [p, q](auto word, qsizetype at) {
        decltype(word) x, y;
        memcpy(&x, p + at, sizeof x);
        memcpy(&y, q + at, sizeof y);
        return x == y;
    };
    if (n >= 8) {
        for (qsizetype i = 0; i + 8 < n; i += 8)
            if (!same(quint64(), i))
                return false;
        return same(quint64(), n - 8);
    }
    if (n >= 4)
        return same(quint32(), 0) && same(quint32(), n - 4);
    if (n >= 2)
        return same(quint16(), 0) && same(quint16(), n - 2);
    return n == 0 || *p == *q;
}
