#pragma once
// Byte formats of the alerts protocol as the server reads and writes them: the request
// layout (length-prefixed fields, a zero key length ends a request), the response frame
// (id, length, body; little-endian 32-bit), the form text of alert bodies, the P64 text of
// tunnel uploads, and the JSON strings of the request log.

#include <QByteArray>
#include <QPair>
#include <QVector>
#include <optional>

// Nothing a client sends may make the server hold more than this at once.
constexpr qsizetype MaxRequestBytes = 64 * 1024 * 1024;

using TPairs = QVector<QPair<QByteArray, QByteArray>>;

struct TRequest {
    std::optional<qint64> Id;  // from a leading "message_id" pair, when it is a number
    TPairs Pairs;              // without that leading pair
    QByteArray Value(const QByteArray& key) const;
};

class TRequestParser {
public:
    enum class TResult { Complete, Incomplete, Invalid };

    // The plain (inflated) client stream is appended here.
    QByteArray& Buffer() { return Data; }

    // Takes the next whole request off the front. Invalid: a negative length, or a request
    // larger than MaxRequestBytes; Error says which.
    TResult Next(TRequest& request);
    QByteArray Error;

private:
    QByteArray Data;
    qsizetype Offset = 0;  // bytes before it are consumed; cut off only now and then
};

void AppendLE32(QByteArray& out, qint32 value);
qint32 ReadLE32(const char* p);

// One response frame.
void AppendFrame(QByteArray& out, qint32 id, const QByteArray& body);

// "%XX" for "&", "=", "%" and every byte that is not printable ASCII.
QByteArray FormEscape(const QByteArray& text);
// key=value&key=value with both sides escaped.
QByteArray FormText(const TPairs& pairs);
// The form fields of a POST body or a query ("a=1&b=2"), with %XX and "+" decoded.
TPairs ParseUrlForm(const QByteArray& text);

// P64: letters, digits, "_" and "-" standing for 6 bits each (a-z, A-Z, 0-9, _, -), the
// bit grouping of Base64 without padding. nullopt for a character outside the alphabet or a
// length that no byte string encodes to.
std::optional<QByteArray> P64Decode(const QByteArray& text);

// A JSON string literal of bytes taken as Latin-1, pure ASCII on output.
QByteArray JsonString(const QByteArray& latin1);
