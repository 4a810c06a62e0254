// P64 against standard Base64 with the alphabet swapped: P64 puts the lower-case letters
// first and "_" and "-" last, where Base64 has the capitals first and "+" and "/". The bit
// grouping is the same and neither pads here.
#include "FuzzCheck.h"
#include "Shared/P64.h"

namespace {
char FromStandard(char c)
{
    if (c >= 'A' && c <= 'Z')
        return char(c - 'A' + 'a');
    if (c >= 'a' && c <= 'z')
        return char(c - 'a' + 'A');
    if (c == '+')
        return '_';
    if (c == '/')
        return '-';
    return c; // digits stay where they are
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input = AsBytes(data, size);
    const QByteArray encoded = P64Encode(input);

    QByteArray expected = input.toBase64(QByteArray::Base64Encoding | QByteArray::OmitTrailingEquals);
    for (char& c : expected)
        c = FromStandard(c);
    FUZZ_CHECK(encoded == expected);

    const qsizetype n = input.size();
    FUZZ_CHECK(encoded.size() == 4 * (n / 3) + (n % 3 ? n % 3 + 1 : 0));
    for (char c : encoded)
        FUZZ_CHECK((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
                   c == '-');
    return 0;
}
