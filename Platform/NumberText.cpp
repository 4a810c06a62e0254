#include "Platform/NumberText.h"

#include <charconv>
#include <cmath>
#include <limits>

namespace {
// Powers of ten for up to 19 digits after the point, all exact doubles (up to 1e22 are).
constexpr double ExactPowersOfTen[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,
                                       1e10, 1e11, 1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19};
constexpr quint64 ExactMantissaLimit = quint64(1) << 53;
} // namespace

double FieldToNumber(const QByteArray& text)
{
    const char* p = text.constData();
    const char* end = p + text.size();
    if (p == end)
        return std::numeric_limits<double>::quiet_NaN();
    {
        // Prices and counts as servers write them ("12.34", "-0.5", "1500"): at most 19 digits,
        // worth at most 2^53 without the point. Both the digits and the power of ten are then
        // exact doubles, so one division rounds exactly as the full reading below would;
        // anything else is left to it.
        const char* q = p + (*p == '-' || *p == '+');
        quint64 digits = 0;
        int count = 0;
        const char* at = q;
        for (; at != end && quint8(*at - '0') <= 9; ++at, ++count)
            digits = digits * 10 + quint64(*at - '0');
        const bool whole = count > 0;
        int after = 0;
        if (at != end && *at == '.') {
            const char* first = ++at;
            for (; at != end && quint8(*at - '0') <= 9; ++at, ++count)
                digits = digits * 10 + quint64(*at - '0');
            after = int(at - first);
        }
        if (at == end && whole && (after > 0 || at[-1] != '.') && count <= 19 &&
            digits <= ExactMantissaLimit) {
            const double value = double(digits) / ExactPowersOfTen[after];
            return *p == '-' ? -value : value;
        }
    }
    // from_chars takes no "+" and would accept "inf" and "nan": only digits, ".", signs and an
    // exponent are numbers here.
    for (const char* q = p; q != end; ++q) {
        const char c = *q;
        if (!((c >= '0' && c <= '9') || c == '.' || c == '-' || c == '+' || c == 'e' || c == 'E'))
            return std::numeric_limits<double>::quiet_NaN();
    }
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        if (p != end && (*p == '+' || *p == '-'))
            return std::numeric_limits<double>::quiet_NaN();
    }
    double value = 0;
    const auto [ptr, ec] = std::from_chars(p, end, value, std::chars_format::general);
    if (ec != std::errc() || ptr != end)
        return std::numeric_limits<double>::quiet_NaN();
    return negative ? -value : value;
}

qint32 WholeNumber(const QByteArray& text, qint32 fallback, bool* ok)
{
    auto fail = [&]() {
        if (ok)
            *ok = false;
        return fallback;
    };
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n && text[i] == ' ')
        ++i;
    bool negative = false;
    if (i < n && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    // Only "$", "x" and "0x" introduce hexadecimal; a capital X is malformed like any other
    // letter, so "X10" is no number and "0X00FF00" is no colour.
    int base = 10;
    if (i < n && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i < n && text[i] == 'x') {
        base = 16;
        ++i;
    } else if (i + 1 < n && text[i] == '0' && text[i + 1] == 'x') {
        base = 16;
        i += 2;
    }
    if (i >= n)
        return fail();
    qint64 value = 0;
    for (; i < n; ++i) {
        const char c = text[i];
        int digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (base == 16 && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (base == 16 && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            return fail();
        value = value * base + digit;
        if (value > qint64(std::numeric_limits<qint32>::max()) + 1)
            return fail();
    }
    if (negative)
        value = -value;
    if (value > std::numeric_limits<qint32>::max() || value < std::numeric_limits<qint32>::min())
        return fail();
    if (ok)
        *ok = true;
    return qint32(value);
}

quint16 ParsePortText(const QByteArray& text)
{
    if (text.isEmpty() || text.size() > 5)
        return 0;
    int value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return 0;
        value = value * 10 + (c - '0');
    }
    return value >= 1 && value <= 65535 ? quint16(value) : 0;
}
