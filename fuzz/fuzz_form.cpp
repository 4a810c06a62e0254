// Form text and line splitting on arbitrary bytes: nothing may crash, read outside the input
// or disagree with the plain cut-at-"&"-then-at-"=" reading of a form.
#include "Shared/ServerMessages.h"
#include "Shared/StringStringHashtables.h"
#include "Shared/UrlEncode.h"

#include <cstdint>
#include <cstdlib>
#include <map>

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// The same reading done the slow way, with SplitAt, into an ordinary map.
std::map<QByteArray, QByteArray> ReferenceForm(const QByteArray& text)
{
    std::map<QByteArray, QByteArray> result;
    QByteArray remaining = text, item, key, value;
    while (!remaining.isEmpty()) {
        SplitAt("&", remaining, item, remaining);
        SplitAt("=", item, key, value);
        if (key == item)
            continue;
        result[UrlDecode(key)] = UrlDecode(value);
    }
    return result;
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text(reinterpret_cast<const char*>(data), qsizetype(size));

    const QByteArray decoded = UrlDecode(text);
    Check(decoded.size() <= text.size());
    if (!text.contains('%'))
        Check(decoded == text);

    tHashTable table;
    ParseForm(text, table);
    const auto reference = ReferenceForm(text);
    Check(table.Count() == int(reference.size()));
    for (const auto& [key, value] : reference) {
        Check(table.ContainsKey(key));
        Check(table.Get(key) == value);
    }
    int walked = 0;
    for (auto it = table.NewIterator(); it->IsValid(); it->Next()) {
        Check(reference.count(it->GetKey()) == 1);
        ++walked;
    }
    Check(walked == table.Count());

    // The one-pass pick of a few keys (some in the form, some not) holds what the table holds.
    std::vector<QByteArray> keys = {"absent", "symbol", ""};
    for (const auto& [key, value] : reference)
        if (keys.size() < 12)
            keys.push_back(key);
    TFormPick pick(keys);
    pick.Parse(text);
    for (const QByteArray& key : pick.Keys()) {
        Check(pick.GetView(key) == table.GetView(key));
        Check(pick.GetView(key).isNull() == !reference.count(key));
    }

    for (const QByteArray& line : SplitLines(text)) {
        Check(!line.contains('\r') && !line.contains('\n') && !line.contains('\0'));
    }
    return 0;
}
