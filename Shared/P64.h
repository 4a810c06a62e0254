#pragma once
// Bytes as text of letters, digits, "_" and "-" (Base64 bit grouping, own alphabet, no padding).

#include <QByteArray>

QByteArray P64Encode(const QByteArray& data);
