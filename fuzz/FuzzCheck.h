#pragma once
// What the harnesses share: a check that stops with the condition's text (a finding, not a
// silent abort), and reading a harness's input piece by piece.

#include <QByteArray>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

#define FUZZ_CHECK(cond)                                                                         \
    do {                                                                                         \
        if (!(cond)) {                                                                           \
            std::fprintf(stderr, "FUZZ_CHECK failed: %s (%s:%d)\n", #cond, __FILE__, __LINE__); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

// Takes bytes off the front of the input; past its end every read gives zeros / empty text.
class TFuzzInput {
public:
    TFuzzInput(const uint8_t* data, size_t size) : Data(data), Size(size) {}

    bool AtEnd() const { return At >= Size; }
    uint8_t Byte() { return At < Size ? Data[At++] : 0; }
    QByteArray Bytes(size_t n)
    {
        n = n < Size - At ? n : Size - At;
        const QByteArray result(reinterpret_cast<const char*>(Data + At), qsizetype(n));
        At += n;
        return result;
    }
    QByteArray Rest() { return Bytes(Size - At); }

private:
    const uint8_t* Data;
    size_t Size;
    size_t At = 0;
};

inline QByteArray AsBytes(const uint8_t* data, size_t size)
{
    return QByteArray(reinterpret_cast<const char*>(data), qsizetype(size));
}
