#include "Olvarra/ConfigFile.h"

#include "Platform/NumberText.h"

#include <QFile>

TConfigFile TConfigFile::Load(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return TConfigFile();
    return FromText(file.readAll());
}

TConfigFile TConfigFile::FromText(const QByteArray& text)
{
    TConfigFile result;
    QHash<QByteArray, QByteArray>* section = nullptr; // none until the first "[name]" line
    // An editor may put a UTF-8 byte-order mark before the first section line.
    qsizetype start = text.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    const qsizetype n = text.size();
    while (start < n) {
        qsizetype end = start;
        while (end < n && text[end] != '\n' && text[end] != '\r')
            ++end;
        const QByteArray line = text.mid(start, end - start).trimmed();
        start = end + 1;
        if (line.isEmpty() || line.startsWith(';'))
            continue;
        if (line.startsWith('[') && line.endsWith(']') && line.size() >= 2) {
            section = &result.Sections[line.mid(1, line.size() - 2).trimmed().toLower()];
            continue;
        }
        if (!section)
            continue;
        const qsizetype eq = line.indexOf('=');
        if (eq < 0)
            continue;
        const QByteArray key = line.left(eq).trimmed().toLower();
        // When a key is repeated in one section the first occurrence is the one read.
        if (!section->contains(key))
            section->insert(key, line.mid(eq + 1).trimmed());
    }
    return result;
}

bool TConfigFile::HasKey(const QByteArray& section, const QByteArray& key) const
{
    const auto s = Sections.constFind(section.trimmed().toLower());
    return s != Sections.constEnd() && s->contains(key.trimmed().toLower());
}

QByteArray TConfigFile::ReadString(const QByteArray& section, const QByteArray& key,
                                   const QByteArray& fallback) const
{
    const auto s = Sections.constFind(section.trimmed().toLower());
    if (s == Sections.constEnd())
        return fallback;
    const auto v = s->constFind(key.trimmed().toLower());
    if (v == s->constEnd())
        return fallback;
    return *v;
}

qint32 TConfigFile::ReadInteger(const QByteArray& section, const QByteArray& key, qint32 fallback) const
{
    if (!HasKey(section, key))
        return fallback;
    return WholeNumber(ReadString(section, key), fallback);
}

bool TConfigFile::ReadFlag(const QByteArray& section, const QByteArray& key) const
{
    return ReadString(section, key) == "1";
}
