#pragma once
// Requests to the alerts server: an ordered list of (Key, Value) byte-string pairs, built
// from alternating keys and values, and rendered as text for error reports.

#include <QByteArray>
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
