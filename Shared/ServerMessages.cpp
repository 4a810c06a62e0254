#include "Shared/ServerMessages.h"

#include "Platform/VeskError.h"

#include <QtEndian>

TFieldValue::TFieldValue(int v) : Value(QByteArray::number(v)) {}

TFieldValue::TFieldValue(qint64 v) : Value(QByteArray::number(v)) {}

TFieldValue::TFieldValue(bool v) : Value(v ? "1" : "0") {}

TFieldValue::TFieldValue(char v) : Value(1, v) {}

// QByteArray::number ignores the locale, so the separator is "." whatever the user's
// settings say; 'g' with 15 digits drops trailing zeros like the general format does.
TFieldValue::TFieldValue(double v) : Value(QByteArray::number(v, 'g', 15)) {}

TFieldValue::TFieldValue(const char* v) : Value(v) {}

TFieldValue::TFieldValue(const QByteArray& v) : Value(v) {}

TFieldValue::TFieldValue(const QString& v) : Value(v.toLatin1()) {}

TFieldValue::TFieldValue(const QVariant& v)
{
    switch (v.typeId()) {
    case QMetaType::Bool:
        Value = v.toBool() ? "1" : "0";
        break;
    case QMetaType::Int:
    case QMetaType::Short:
    case QMetaType::SChar:
    case QMetaType::Long:
    case QMetaType::LongLong:
        Value = QByteArray::number(v.toLongLong());
        break;
    case QMetaType::UInt:
    case QMetaType::UShort:
    case QMetaType::UChar:
    case QMetaType::ULong:
    case QMetaType::ULongLong:
        Value = QByteArray::number(v.toULongLong());
        break;
    case QMetaType::Double:
    case QMetaType::Float:
        Value = QByteArray::number(v.toDouble(), 'g', 15);
        break;
    case QMetaType::Char:
        Value = QByteArray(1, v.value<char>());
        break;
    case QMetaType::QChar:
        Value = QString(v.toChar()).toLatin1();
        break;
    case QMetaType::QString:
        Value = v.toString().toLatin1();
        break;
    case QMetaType::QByteArray:
        Value = v.toByteArray();
        break;
    default:
        // An empty variant or a compound value has no one text the server could read.
        VeskAssertionFailure("Unknown field type.", __FILE__, __LINE__);
    }
}

TMessageToServer MakeMessage(std::initializer_list<TFieldValue> keysAndValues)
{
    VESK_ASSERT(keysAndValues.size() % 2 == 0);
    TMessageToServer result;
    result.reserve(qsizetype(keysAndValues.size() / 2));
    for (auto it = keysAndValues.begin(); it != keysAndValues.end(); it += 2)
        result.append(TMessagePair{it->Text(), (it + 1)->Text()});
    return result;
}

bool IsEmptyMessage(const TMessageToServer& message)
{
    for (const TMessagePair& pair : message)
        if (!pair.Key.isEmpty())
            return false;
    return true;
}

QByteArray DescribeMessage(const TMessageToServer& message)
{
    QByteArray result = "(";
    bool first = true;
    for (const TMessagePair& pair : message) {
        if (!first)
            result += ", ";
        first = false;
        result += '"';
        result += pair.Key;
        result += "\" --> \"";
        // The debug window is something a user may copy into an e-mail: the password (plain
        // or digest) must never be in it. A fixed mask does not even tell its length.
        if (pair.Key.compare("password", Qt::CaseInsensitive) == 0)
            result += "********";
        else
            result += pair.Value;
        result += '"';
    }
    result += ')';
    return result;
}

void AppendInteger(QByteArray& out, qint32 value)
{
    char bytes[4];
    qToLittleEndian<qint32>(value, bytes);
    out.append(bytes, 4);
}

void AppendField(QByteArray& out, const QByteArray& text)
{
    AppendInteger(out, qint32(text.size()));
    out.append(text);
}

void AppendRequest(QByteArray& out, const TMessageToServer& message, qint32 messageId)
{
    if (messageId > 0) {
        AppendField(out, "message_id");
        AppendField(out, QByteArray::number(messageId));
    }
    for (const TMessagePair& pair : message) {
        if (pair.Key.isEmpty())
            continue;
        AppendField(out, pair.Key);
        AppendField(out, pair.Value);
    }
    AppendInteger(out, 0);
}

TFrameCut CutFrame(const QByteArray& buffer, qsizetype offset, qint32 maxBodyLength, bool copyBody)
{
    TFrameCut result;
    if (offset < 0 || offset > buffer.size())
        return result; // nothing sensible to look at; the caller's offset is out of range
    const qsizetype available = buffer.size() - offset;
    if (available < 8)
        return result;
    const char* head = buffer.constData() + offset;
    const qint32 id = qFromLittleEndian<qint32>(head);
    const qint32 length = qFromLittleEndian<qint32>(head + 4);
    result.MessageId = id;
    result.BodyLength = length;
    // A negative length would move the offset backwards and loop for ever; a huge one would
    // make us hold the stream waiting for bytes a sane server never sends.
    if (length < 0 || length > maxBodyLength) {
        result.Kind = TFrameCut::InvalidLength;
        return result;
    }
    if (available - 8 < length)
        return result;
    result.Kind = TFrameCut::Frame;
    if (copyBody)
        result.Body = QByteArray(head + 8, length);
    result.BodyOffset = offset + 8;
    result.NextOffset = offset + 8 + length;
    return result;
}

QList<QByteArray> SplitLines(const QByteArray& text)
{
    QList<QByteArray> lines;
    const char* p = text.constData();
    const char* end = p + text.size();
    // A zero byte ends the text just as the end of the buffer does.
    while (p < end && *p != '\0') {
        const char* start = p;
        while (p < end && *p != '\0' && *p != '\r' && *p != '\n')
            ++p;
        lines.append(QByteArray(start, p - start));
        if (p < end && *p == '\r')
            ++p;
        if (p < end && *p == '\n')
            ++p;
    }
    return lines;
}
