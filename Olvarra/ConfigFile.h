#pragma once
// Vesk.ini: read-only configuration prepared by whoever installs the client.
// Lines are trimmed; ";" starts a comment line; "[name]" starts a section; the first "="
// splits key and value (both trimmed). Section and key names ignore letter case. A present
// key with an empty value reads as empty, not as the default. This is not Qt's INI dialect
// (no escapes, no quoting, case-insensitive), so it has its own reader.

#include <QByteArray>
#include <QHash>
#include <QString>

class TConfigFile {
public:
    TConfigFile() = default;

    // A missing or unreadable file reads as empty.
    static TConfigFile Load(const QString& path = QStringLiteral("Vesk.ini"));
    static TConfigFile FromText(const QByteArray& text);

    QByteArray ReadString(const QByteArray& section, const QByteArray& key, const QByteArray& fallback = {}) const;
    // Whole number (decimal, or hex after "$", "x", "0x"); malformed or out of range: fallback.
    qint32 ReadInteger(const QByteArray& section, const QByteArray& key, qint32 fallback) const;
    // Only the exact text "1" is on.
    bool ReadFlag(const QByteArray& section, const QByteArray& key) const;
    bool HasKey(const QByteArray& section, const QByteArray& key) const;

private:
    // Lower-cased "section" -> lower-cased "key" -> value.
    QHash<QByteArray, QHash<QByteArray, QByteArray>> Sections;
};
