#pragma once
// Parts of a byte string without copying them.

#include <QByteArray>

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
