// The receive path on arbitrary bytes: inflate, then cut frames. The first byte picks the
// mode: raw bytes straight into the inflater (a hostile or broken server), or the input as
// the plain stream, compressed by our own compressor with flushes where the input says and
// fed back in pieces (which must inflate to exactly the input).
#include "Shared/ServerMessages.h"
#include "Shared/ZLibStreams.h"

#include <cstdint>
#include <cstdlib>

namespace {
void Check(bool condition)
{
    if (!condition)
        std::abort();
}

void CutAll(const QByteArray& buffer)
{
    qsizetype offset = 0;
    for (;;) {
        const TFrameCut cut = CutFrame(buffer, offset, 1 << 20);
        if (cut.Kind != TFrameCut::Frame) {
            Check(offset <= buffer.size());
            if (cut.Kind == TFrameCut::InvalidLength)
                Check(cut.BodyLength < 0 || cut.BodyLength > (1 << 20));
            return;
        }
        Check(cut.NextOffset == offset + 8 + cut.Body.size());
        Check(cut.NextOffset <= buffer.size());
        Check(cut.Body.size() == cut.BodyLength);
        offset = cut.NextOffset;
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const QByteArray input(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));

    if (mode & 1) {
        TZLibDecompressor d;
        // Pieces of a size taken from the mode byte, as socket reads would deliver them.
        const qsizetype step = 1 + (mode >> 1);
        bool failed = false;
        for (qsizetype at = 0; at < input.size(); at += step) {
            const qsizetype before = d.Output.size();
            try {
                d.Write(input.mid(at, step));
            } catch (const EZDecompressionError&) {
                Check(!failed); // raised once, silent afterwards
                failed = true;
            }
            Check(d.Output.size() >= before);
        }
        CutAll(d.Output);
        return 0;
    }

    TZLibCompressor c(TZCompressionLevel((mode >> 1) & 3));
    TZLibDecompressor d;
    QByteArray inflated;
    qsizetype at = 0;
    while (at < input.size()) {
        // Piece lengths and flush points come from the data itself.
        const qsizetype length = 1 + (uchar(input[at]) % 97) * ((mode >> 3) + 1);
        c.Write(input.mid(at, length));
        at = qMin(at + length, input.size());
        if ((uchar(input[at - 1]) & 3) == 0 || at >= input.size()) {
            c.Flush();
            d.Write(c.Output);
            c.Output.clear();
        }
    }
    c.Flush();
    d.Write(c.Output);
    Check(d.Output == input);
    CutAll(d.Output);
    return 0;
}
