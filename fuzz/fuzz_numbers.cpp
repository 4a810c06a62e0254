// Numbers as text (alert fields, Vesk.ini, the settings store) against references built
// from the standard library: strtod for FieldToNumber, from_chars on the digits for
// WholeNumber. The input is the text itself.
#include "FuzzCheck.h"
#include "Platform/NumberText.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

namespace {

// NaN for text that is not a plain decimal number; *outOfRange when it is one whose value
// does not fit a double (where the two readings may differ only in being NaN or not).
double ReferenceNumber(const QByteArray& text, bool* outOfRange)
{
    *outOfRange = false;
    const double nan = std::nan("");
    if (text.isEmpty())
        return nan;
    for (char c : text)
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return nan;
    // strtod takes one sign itself; a second one, or a sign where no sign may stand, is
    // left unread and makes the text malformed.
    const std::string s(text.constData(), size_t(text.size()));
    char* end = nullptr;
    errno = 0;
    const double value = std::strtod(s.c_str(), &end);
    if (end != s.c_str() + s.size())
        return nan;
    if (errno == ERANGE)
        *outOfRange = true;
    return value;
}

bool ReferenceWhole(const QByteArray& text, qint32* value)
{
    qsizetype i = 0;
    while (i < text.size() && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-'))
        negative = text[i++] == '-';
    int base = 10;
    const QByteArray rest = text.mid(i);
    // Only "$", "x" and "0x" introduce hexadecimal; "X" and "0X" are not numbers.
    if (rest.startsWith('$') || rest.startsWith('x')) {
        base = 16;
        ++i;
    } else if (rest.startsWith("0x")) {
        base = 16;
        i += 2;
    }
    const QByteArray digits = text.mid(i);
    if (digits.isEmpty())
        return false;
    for (char c : digits) {
        const bool ok = (c >= '0' && c <= '9') || (base == 16 && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F')));
        if (!ok)
            return false;
    }
    // Leading zeros may be many; the value must still fit.
    unsigned long long magnitude = 0;
    const auto [ptr, ec] = std::from_chars(digits.constData(), digits.constData() + digits.size(), magnitude, base);
    if (ec != std::errc() || ptr != digits.constData() + digits.size())
        return false;
    const long long limit = negative ? 2147483648LL : 2147483647LL;
    if (magnitude > (unsigned long long)limit)
        return false;
    *value = qint32(negative ? -(long long)magnitude : (long long)magnitude);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray text = AsBytes(data, size);

    bool outOfRange = false;
    const double expected = ReferenceNumber(text, &outOfRange);
    const double number = FieldToNumber(text);
    if (!outOfRange) {
        FUZZ_CHECK(std::isnan(number) == std::isnan(expected));
        if (!std::isnan(expected)) {
            FUZZ_CHECK(number == expected);
            FUZZ_CHECK(std::signbit(number) == std::signbit(expected));
        }
    } else if (!std::isnan(number)) {
        // A value at the edge of the range: whatever is given must at least be the same.
        FUZZ_CHECK(number == expected || std::isinf(expected) || expected == 0 || std::fpclassify(expected) == FP_SUBNORMAL);
    }

    qint32 reference = 0;
    const bool referenceOk = ReferenceWhole(text, &reference);
    for (const qint32 fallback : {qint32(-7), qint32(0x7FFFFFFF)}) {
        bool ok = !referenceOk;
        const qint32 whole = WholeNumber(text, fallback, &ok);
        FUZZ_CHECK(ok == referenceOk);
        FUZZ_CHECK(whole == (referenceOk ? reference : fallback));
    }
    FUZZ_CHECK(WholeNumber(text, 5) == (referenceOk ? reference : 5));
    return 0;
}
