// The Vesk.ini reader on arbitrary text, against a reading done the plain way (split into
// lines, then look at each): every key of every section reads back as its first value,
// whatever the letter case of the question; an absent key gives the fallback; integers and
// flags follow the text.
#include "FuzzCheck.h"
#include "Olvarra/ConfigFile.h"
#include "Platform/NumberText.h"

#include <map>
#include <utility>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QByteArray text = AsBytes(data, size);
    const TConfigFile config = TConfigFile::FromText(text);

    if (text.startsWith("\xEF\xBB\xBF"))
        text.remove(0, 3);
    text.replace('\r', '\n');
    std::map<std::pair<QByteArray, QByteArray>, QByteArray> reference;
    std::map<QByteArray, bool> sections;
    QByteArray section;
    bool inSection = false;
    for (const QByteArray& raw : text.split('\n')) {
        const QByteArray line = raw.trimmed();
        if (line.isEmpty() || line[0] == ';')
            continue;
        if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
            sections[section] = true;
            inSection = true;
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (!inSection || eq < 0)
            continue;
        reference.emplace(std::make_pair(section, line.left(eq).trimmed().toLower()), line.mid(eq + 1).trimmed());
    }

    for (const auto& [where, value] : reference) {
        const auto& [sectionName, key] = where;
        FUZZ_CHECK(config.HasKey(sectionName, key));
        FUZZ_CHECK(config.ReadString(sectionName, key, "fallback") == value);
        FUZZ_CHECK(config.ReadString(" " + sectionName.toUpper() + " ", key.toUpper(), "fallback") == value);
        FUZZ_CHECK(config.ReadInteger(sectionName, key, -3) == WholeNumber(value, -3));
        FUZZ_CHECK(config.ReadFlag(sectionName, key) == (value == "1"));
        const QByteArray absent = key + "\x01";
        if (!reference.count({sectionName, absent})) {
            FUZZ_CHECK(!config.HasKey(sectionName, absent));
            FUZZ_CHECK(config.ReadString(sectionName, absent, "fallback") == "fallback");
            FUZZ_CHECK(config.ReadInteger(sectionName, absent, -3) == -3);
        }
    }
    // Keys that appear only outside every section, or in no line at all, are not there.
    FUZZ_CHECK(config.ReadString("\x02", "\x02", "none") == "none" || sections.count("\x02"));
    return 0;
}
