#pragma once
// Form text: key=value items joined by "&", keys and values percent-encoded.

#include <QByteArray>

class tHashTable;

// One pass: "%" and two hex digits become one byte; anything else is copied ("+" stays "+").
QByteArray UrlDecode(const QByteArray& text);

// Left is the text before the first Separator, Right the text after it; without Separator,
// Left is the whole text and Right is empty.
void SplitAt(const QByteArray& separator, const QByteArray& text, QByteArray& left, QByteArray& right);

// Puts the decoded pairs of a form into Table; items without "=" are skipped.
void ParseForm(const QByteArray& text, tHashTable& table);
