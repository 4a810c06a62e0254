// tHashTable against std::unordered_map, driven by a script of operations taken from the
// input: every answer of the table must agree with the plain map, Get and Remove of an absent
// key give the empty text, and a walk with an iterator (reading, replacing and removing as it
// goes) meets every entry exactly once. A change behind an iterator's back must make it
// raise, a replaced value must not.
#include "FuzzCheck.h"
#include "Shared/StringStringHashtables.h"

#include <set>
#include <string_view>
#include <unordered_map>

namespace {

struct TKeyHash {
    size_t operator()(const QByteArray& key) const
    {
        return std::hash<std::string_view>()(std::string_view(key.constData(), size_t(key.size())));
    }
};
using TReference = std::unordered_map<QByteArray, QByteArray, TKeyHash>;

// Short keys from a small alphabet, so that lookups hit, keys collide in buckets and the
// empty key and embedded zero bytes turn up.
QByteArray TakeKey(TFuzzInput& in)
{
    const uint8_t b = in.Byte();
    QByteArray key;
    for (int i = 0; i < (b & 3) + ((b >> 6) & 1) * 4; ++i)
        key += "ab\0Z"[in.Byte() & 3];
    return key;
}

QByteArray TakeValue(TFuzzInput& in) { return in.Bytes(in.Byte() & 7); }

template <typename Call>
bool Raises(Call&& call)
{
    try {
        call();
    } catch (const EIteratorNoLongerValid&) {
        return true;
    }
    return false;
}

// Every entry, looked up (now and then: each look costs the whole table).
void CheckAgainst(const tHashTable& table, const TReference& reference)
{
    FUZZ_CHECK(table.Count() == int(reference.size()));
    for (const auto& [key, value] : reference) {
        FUZZ_CHECK(table.ContainsKey(key));
        FUZZ_CHECK(table.Get(key) == value);
    }
}

// One walk over the table; the input says what to do at each entry.
void Walk(tHashTable& table, TReference& reference, TFuzzInput& in)
{
    const auto iterator = table.NewIterator();
    std::set<QByteArray> seen;  // entries already met, the current one included
    size_t seenPresent = 0;     // of those, the ones still in the table
    bool removed = false;       // the current entry was removed by the iterator
    QByteArray current;
    auto unseenLeft = [&] { return reference.size() > seenPresent; };
    auto meet = [&] {
        current = iterator->GetKey();
        FUZZ_CHECK(reference.count(current) == 1);
        FUZZ_CHECK(seen.insert(current).second); // never the same entry twice
        ++seenPresent;
    };
    if (!reference.empty())
        meet();
    FUZZ_CHECK(iterator->IsValid() == !reference.empty());

    while (iterator->IsValid() || removed) {
        FUZZ_CHECK(iterator->StillValid());
        if (!removed) {
            FUZZ_CHECK(iterator->GetKey() == current);
            FUZZ_CHECK(iterator->GetValue() == reference[current]);
        } else {
            FUZZ_CHECK(iterator->GetKey().isEmpty() && iterator->GetValue().isEmpty());
        }
        FUZZ_CHECK(iterator->HasMore() == unseenLeft());

        // At the end of the input the walk just runs to its end.
        switch (in.AtEnd() ? 5 : in.Byte() % 6) {
        case 0: { // replace the value in place: no change to the table's shape
            const QByteArray value = TakeValue(in);
            if (removed) {
                bool notValid = false;
                try {
                    iterator->SetValue(value);
                } catch (const EEntryNotValid&) {
                    notValid = true;
                }
                FUZZ_CHECK(notValid);
            } else {
                iterator->SetValue(value);
                reference[current] = value;
            }
            continue;
        }
        case 1: // remove the current entry through the iterator
            if (!removed) {
                iterator->Remove();
                reference.erase(current);
                --seenPresent;
                removed = true;
                FUZZ_CHECK(iterator->StillValid());
                FUZZ_CHECK(!iterator->IsValid());
            }
            continue;
        case 2: { // replace a value from outside: the iterator stays valid
            if (reference.empty())
                break;
            const QByteArray key = reference.begin()->first;
            const QByteArray value = TakeValue(in);
            FUZZ_CHECK(!table.Insert(key, value));
            reference[key] = value;
            FUZZ_CHECK(iterator->StillValid());
            continue;
        }
        case 3: { // add or remove from outside: every later use of the iterator raises
            const QByteArray key = TakeKey(in);
            const bool present = reference.count(key) == 1;
            if (present) {
                FUZZ_CHECK(table.Remove(key) == reference[key]);
                reference.erase(key);
            } else {
                FUZZ_CHECK(table.Insert(key, "x"));
                reference[key] = "x";
            }
            FUZZ_CHECK(!iterator->StillValid());
            FUZZ_CHECK(Raises([&] { iterator->Next(); }));
            FUZZ_CHECK(Raises([&] { iterator->IsValid(); }));
            FUZZ_CHECK(Raises([&] { iterator->GetKey(); }));
            FUZZ_CHECK(Raises([&] { iterator->HasMore(); }));
            FUZZ_CHECK(Raises([&] { iterator->SetValue("y"); }));
            return;
        }
        default:
            break;
        }
        // Next.
        iterator->Next();
        if (removed) {
            removed = false;
            if (iterator->IsValid())
                meet();
        } else if (iterator->IsValid()) {
            meet();
        }
    }
    // The walk has met every entry that is still there.
    for (const auto& pair : reference)
        FUZZ_CHECK(seen.count(pair.first) == 1);
    // Advancing past the end does nothing harmful.
    iterator->Next();
    FUZZ_CHECK(!iterator->IsValid());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TFuzzInput in(data, size);
    tHashTable table;
    TReference reference;
    int operations = 0;
    while (!in.AtEnd() && ++operations < 500) {
        const uint8_t op = in.Byte();
        switch (op % 10) {
        case 0:
        case 1: {
            const QByteArray key = TakeKey(in), value = TakeValue(in);
            const quint32 before = table.GetModificationCount();
            const bool isNew = reference.count(key) == 0;
            FUZZ_CHECK(table.Insert(key, value) == isNew);
            FUZZ_CHECK((table.GetModificationCount() == before) == !isNew);
            reference[key] = value;
            break;
        }
        case 2: {
            const QByteArray key = TakeKey(in), value = TakeValue(in);
            table.Put(key, value);
            reference[key] = value;
            break;
        }
        case 3: {
            const QByteArray key = TakeKey(in);
            const auto found = reference.find(key);
            FUZZ_CHECK(table.ContainsKey(key) == (found != reference.end()));
            FUZZ_CHECK(table.Get(key) == (found != reference.end() ? found->second : QByteArray()));
            break;
        }
        case 4: {
            const QByteArray key = TakeKey(in);
            const auto found = reference.find(key);
            const quint32 before = table.GetModificationCount();
            const QByteArray value = table.Remove(key);
            if (found == reference.end()) {
                FUZZ_CHECK(value.isEmpty());
                FUZZ_CHECK(table.GetModificationCount() == before);
            } else {
                FUZZ_CHECK(value == found->second);
                reference.erase(found);
            }
            break;
        }
        case 5: {
            const QByteArray value = TakeValue(in);
            bool any = false;
            for (const auto& pair : reference)
                any = any || pair.second == value;
            FUZZ_CHECK(table.ContainsValue(value) == any);
            break;
        }
        case 6:
            if ((op >> 4) == 0) {
                const int buckets = table.BucketCount();
                table.Clear();
                reference.clear();
                FUZZ_CHECK(table.BucketCount() == buckets);
            }
            break;
        case 7: {
            // Growth and rebuilding keep every entry; 0 buckets only for an empty table.
            const int buckets = (op >> 4) == 0 ? int(in.Byte()) + 1 : 0;
            if (buckets > 0 || reference.empty())
                table.Resize(buckets);
            else if (table.BucketCount() < 4096) // each Grow adds half: bounded, or it runs away
                table.Grow();
            break;
        }
        default:
            Walk(table, reference, in);
            break;
        }
        FUZZ_CHECK(table.Count() == int(reference.size()));
        if (operations % 32 == 0)
            CheckAgainst(table, reference);
    }
    CheckAgainst(table, reference);
    return 0;
}
