#include "Platform/SettingsStore.h"

#include "Platform/NumberText.h"

#include <QSettings>
#include <limits>

namespace {

bool IsText(const QVariant& value)
{
    return value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray;
}

// A text value holding a whole number (the same forms the configuration file takes) reads
// as that number; outside 32 bits it is not one.
bool ParseWhole(const QString& text, qint32& result)
{
    bool ok = false;
    const qint32 value = WholeNumber(text.toLatin1(), 0, &ok);
    if (ok)
        result = value;
    return ok;
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
