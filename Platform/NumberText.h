#pragma once
// Numbers written as text, in alert fields, in Vesk.ini and in network settings.

#include <QByteArray>
#include <QtGlobal>

// Decimal number with "." as the decimal point, optional sign and exponent (1.5, -0.25,
// 2E3); no thousands separators. Anything else, also empty text, gives NaN.
double FieldToNumber(const QByteArray& text);

// Optional leading blanks and sign, then decimal digits, or hexadecimal digits after "$",
// "x" or "0x". Any other character, or a value outside the signed 32-bit range, is malformed:
// the result is the fallback and *ok (when given) is false.
qint32 WholeNumber(const QByteArray& text, qint32 fallback, bool* ok = nullptr);

// A port as text, the one reading of it for the server address, the SOCKS proxy and the HTTP
// proxy: one to five decimal digits with a value from 1 to 65535, nothing else (no blanks, no
// sign). Returns 0 for anything else.
quint16 ParsePortText(const QByteArray& text);
