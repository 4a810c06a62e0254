#include "Platform/SettingsStore.h"

#include <QSettings>
#include <limits>

namespace {

bool IsText(const QVariant& value)
{
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

// Optional blanks and sign, then decimal digits, or hex digits after "$", "x" or "0x": the
// same whole numbers the configuration file takes. Outside 32 bits is not a number.
bool ParseWhole(const QString& text, qint32& result)
{
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == u' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == u'+' || text[i] == u'-')) {
        negative = text[i] == u'-';
        ++i;
    }
    int base = 10;
    if (i < n && text[i] == u'$') {
        base = 16;
        ++i;
    } else if (i < n && (text[i] == u'x' || text[i] == u'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == u'0' && (text[i + 1] == u'x' || text[i + 1] == u'X')) {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return false;
    qint64 value = 0;
    for (; i < n; ++i) {
        const char16_t c = text[i].unicode();
        int digit;
        if (c >= u'0' && c <= u'9')
            digit = c - u'0';
        else if (base == 16 && c >= u'a' && c <= u'f')
            digit = c - u'a' + 10;
        else if (base == 16 && c >= u'A' && c <= u'F')
            digit = c - u'A' + 10;
        else
            return false;
        value = value * base + digit;
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return false;
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return false;
    result = qint32(value);
    return true;
}

} // namespace

TSettingsStore::TSettingsStore()
    : Settings(std::make_unique<QSettings>(QSettings::NativeFormat, QSettings::UserScope,
                                           QStringLiteral("Quorvex"), QStringLiteral("Dravin Alerts")))
{
}

TSettingsStore::TSettingsStore(const QString& filePath)
    : Settings(std::make_unique<QSettings>(filePath, QSettings::IniFormat))
{
}

TSettingsStore::~TSettingsStore()
{
    Settings->sync();
}

QString TSettingsStore::Path(const QString& section, const QString& key)
{
    return section + u'/' + key;
}

bool TSettingsStore::HasValue(const QString& section, const QString& key) const
{
    return Settings->contains(Path(section, key));
}

QVariant TSettingsStore::RawValue(const QString& section, const QString& key) const
{
    return Settings->value(Path(section, key));
}

QString TSettingsStore::ReadString(const QString& section, const QString& key, const QString& fallback) const
{
    const QVariant value = Settings->value(Path(section, key));
    if (!value.isValid())
        return fallback;
    return value.toString();
}

void TSettingsStore::Written(const QString& section, const QString& key)
{
    if (OnWrite)
        OnWrite(section, key);
}

void TSettingsStore::WriteString(const QString& section, const QString& key, const QString& value)
{
    Settings->setValue(Path(section, key), value);
    Written(section, key);
}

qint32 TSettingsStore::ReadInteger(const QString& section, const QString& key, qint32 fallback) const
{
    const QVariant value = Settings->value(Path(section, key));
    if (!value.isValid())
        return fallback;
    if (IsText(value)) {
        qint32 result = 0;
        return ParseWhole(value.toString(), result) ? result : fallback;
    }
    bool ok = false;
    const qlonglong number = value.toLongLong(&ok);
    if (!ok || number > std::numeric_limits<qint32>::max() || number < std::numeric_limits<qint32>::min())
        return fallback;
    return qint32(number);
}

void TSettingsStore::WriteInteger(const QString& section, const QString& key, qint32 value)
{
    const QString path = Path(section, key);
    if (IsText(Settings->value(path)))
        Settings->setValue(path, QString::number(value));
    else
        Settings->setValue(path, value);
    Written(section, key);
}

bool TSettingsStore::ReadBool(const QString& section, const QString& key, bool fallback) const
{
    return ReadInteger(section, key, fallback ? 1 : 0) != 0;
}

void TSettingsStore::WriteBool(const QString& section, const QString& key, bool value)
{
    Settings->setValue(Path(section, key), value ? QStringLiteral("1") : QStringLiteral("0"));
    Written(section, key);
}

void TSettingsStore::Sync()
{
    Settings->sync();
}

QString TSettingsStore::FileName() const
{
    return Settings->fileName();
}
