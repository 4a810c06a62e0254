#pragma once
// Requests to the alerts server: an ordered list of (Key, Value) byte-string pairs, built
// from alternating keys and values, and rendered as text for error reports. Also the byte
// layouts around them: the request encoding, the response frames and the login reply lines.

#include <QByteArray>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVector>
#include <initializer_list>

struct TMessagePair {
    QByteArray Key;
    QByteArray Value;
    bool operator==(const TMessagePair&) const = default;
};

// A pair whose Key is empty is never sent. A message is empty when no pair has a
// non-empty Key.
using TMessageToServer = QVector<TMessagePair>;

bool IsEmptyMessage(const TMessageToServer& message);

// One value of MakeMessage, converted to text by its kind.
class TFieldValue {
public:
    TFieldValue(int v);              // decimal, "-" when negative
    TFieldValue(qint64 v);           // decimal
    TFieldValue(bool v);             // "1" / "0"
    TFieldValue(char v);             // that one character
    TFieldValue(double v);           // general format, up to 15 significant digits, "."
    TFieldValue(const char* v);      // unchanged
    TFieldValue(const QByteArray& v);
    TFieldValue(const QString& v);   // Latin-1, the server's single-byte text
    TFieldValue(const QVariant& v);  // its text conversion; "Unknown field type." otherwise

    const QByteArray& Text() const { return Value; }

private:
    QByteArray Value;
};

// Keys and values alternate: MakeMessage({"command", "ping", "response", '1'}).
// An odd number of values fails an assertion.
TMessageToServer MakeMessage(std::initializer_list<TFieldValue> keysAndValues);

// ("command" --> "ping", "response" --> "1"); "()" for an empty message. The value of a
// "password" pair is masked, so a report never shows the user's password.
QByteArray DescribeMessage(const TMessageToServer& message);

// ---- Request encoding (client to server, inside the compressed stream) ----

// Appends a 32-bit little-endian integer.
void AppendInteger(QByteArray& out, qint32 value);
// Appends one field: its 32-bit little-endian length, then its bytes.
void AppendField(QByteArray& out, const QByteArray& text);
// Appends one whole request: "message_id" and the id in decimal when messageId > 0, then
// every pair whose Key is not empty (Key field, Value field), then four zero bytes.
// The caller decides whether an empty message is written at all (see IsEmptyMessage).
// TTalkWithServer::SendMessage encodes every request with it.
void AppendRequest(QByteArray& out, const TMessageToServer& message, qint32 messageId);

// ---- Response frames (server to client, after inflating) ----
// Each frame: message id (int32 LE), body length L (int32 LE), L body bytes.

// Longest body accepted; anything longer (or negative) is invalid data from the server
// rather than a reason to buffer without bound. Equals TTalkWithServer::MaxFrameLength.
constexpr qint32 MaxFrameBodyLength = 64 * 1024 * 1024;

struct TFrameCut {
    enum TKind {
        Frame,          // a whole frame: MessageId, Body and NextOffset are set
        NeedMore,       // fewer than 8 + L bytes from Offset on; wait for more input
        InvalidLength   // the length field is negative or above the limit; BodyLength holds it
    };
    TKind Kind = NeedMore;
    qint32 MessageId = 0;
    qint32 BodyLength = 0;
    QByteArray Body;          // empty when the caller asked for no copy
    qsizetype BodyOffset = 0; // where the body starts in the buffer (Frame only)
    qsizetype NextOffset = 0; // just after the frame (Frame only)
};

// Looks at buffer from offset on (0 <= offset <= buffer.size()) and cuts the next frame.
// Pure: the caller moves its own offset to NextOffset and trims the buffer when it likes.
// Never reads outside the buffer. With copyBody false, Body stays empty and the caller takes
// the body from BodyOffset itself (a large body need not be copied).
TFrameCut CutFrame(const QByteArray& buffer, qsizetype offset, qint32 maxBodyLength = MaxFrameBodyLength,
                   bool copyBody = true);

// ---- Text lines (the login reply) ----

// Splits text into lines. A line ends at CR, LF or CR LF; a zero byte ends the whole text.
// A line break at the very end does not start another (empty) line: "STOP\r\n" is one line,
// "" is none, "a\r\n\r\nb" is "a", "", "b".
QList<QByteArray> SplitLines(const QByteArray& text);
