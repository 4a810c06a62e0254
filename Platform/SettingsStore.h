#pragma once
// The per-user settings: what the user changes in the running program (user name, font,
// sound, window placements). Sections are groups ("Main", "Window:<subscription><suffix>");
// missing sections or values read as the caller's default. Nothing is ever deleted.
//
// The real store is QSettings in the platform's native format under organisation "Quorvex",
// application "Dravin Alerts"; tests give a file of their own.

#include <QString>
#include <QVariant>
#include <functional>
#include <memory>

class QSettings;

class TSettingsStore {
public:
    // The current user's store.
    TSettingsStore();
    // A store in an INI file at the given path (tests, the demo).
    explicit TSettingsStore(const QString& filePath);
    ~TSettingsStore();
    TSettingsStore(const TSettingsStore&) = delete;
    TSettingsStore& operator=(const TSettingsStore&) = delete;

    QString ReadString(const QString& section, const QString& key, const QString& fallback = {}) const;
    void WriteString(const QString& section, const QString& key, const QString& value);

    // A value stored as text is read as a whole number when it holds one (fallback
    // otherwise), and is overwritten as text, so a hand-edited value keeps its kind.
    qint32 ReadInteger(const QString& section, const QString& key, qint32 fallback) const;
    void WriteInteger(const QString& section, const QString& key, qint32 value);

    // Stored as the text "0" or "1"; read as a whole number, non-zero meaning true.
    bool ReadBool(const QString& section, const QString& key, bool fallback) const;
    void WriteBool(const QString& section, const QString& key, bool value);

    bool HasValue(const QString& section, const QString& key) const;
    // The stored value as it is (for tests that check the kind a value was written with).
    QVariant RawValue(const QString& section, const QString& key) const;

    // Called after every write with its section and key (tests follow the order of writes).
    std::function<void(const QString& section, const QString& key)> OnWrite;

    // Writes everything to permanent storage now.
    void Sync();
    QString FileName() const;

private:
    static QString Path(const QString& section, const QString& key);
    void Written(const QString& section, const QString& key);
    std::unique_ptr<QSettings> Settings;
};
