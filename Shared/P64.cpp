#include "Shared/P64.h"

#include "Platform/VeskError.h"

namespace {
struct TP64Alphabet {
    char Chars[64];

    TP64Alphabet()
    {
        int count = 0;
        for (char c = 'a'; c <= 'z'; ++c)
            Chars[count++] = c;
        for (char c = 'A'; c <= 'Z'; ++c)
            Chars[count++] = c;
        for (char c = '0'; c <= '9'; ++c)
            Chars[count++] = c;
        Chars[count++] = '_';
        Chars[count++] = '-';
        VESK_ASSERT(count == 64);
    }
};

// Filled once, when the program starts.
const TP64Alphabet Alphabet;
} // namespace

QByteArray P64Encode(const QByteArray& data)
{
    const auto* in = reinterpret_cast<const uchar*>(data.constData());
    const qsizetype n = data.size();
    const qsizetype whole = n / 3;
    const qsizetype rest = n % 3;
    QByteArray result(4 * whole + (rest ? rest + 1 : 0), Qt::Uninitialized);
    char* out = result.data();
    const char* abc = Alphabet.Chars;
    for (qsizetype g = 0; g < whole; ++g, in += 3) {
        *out++ = abc[in[0] >> 2];
        *out++ = abc[((in[0] & 3) << 4) | (in[1] >> 4)];
        *out++ = abc[((in[1] & 15) << 2) | (in[2] >> 6)];
        *out++ = abc[in[2] & 63];
    }
    if (rest == 1) {
        *out++ = abc[in[0] >> 2];
        *out++ = abc[(in[0] & 3) << 4];
    } else if (rest == 2) {
        *out++ = abc[in[0] >> 2];
        *out++ = abc[((in[0] & 3) << 4) | (in[1] >> 4)];
        *out++ = abc[(in[1] & 15) << 2];
    }
    return result;
}
