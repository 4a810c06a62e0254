// The SOCKS 4 proxy's reply, as it arrives in pieces of any size: nothing is decided before
// 8 bytes are there, exactly 8 are taken, and only code 90 lets the session start. The first
// input byte gives the piece size; the rest is what the proxy sends.
#include "FuzzCheck.h"
#include "Platform/AsyncSocket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    TFuzzInput in(data, size);
    const size_t step = 1 + in.Byte() % 9;
    const QByteArray reply = in.Rest();

    QByteArray received;
    TSocks4Reply result;
    while (result.Kind == TSocks4Reply::NeedMore && received.size() < reply.size()) {
        received += reply.mid(received.size(), qsizetype(step));
        // A copy of exactly what has arrived, so a read past it is seen.
        const QByteArray exact(received.constData(), received.size());
        result = ParseSocks4Reply(exact.constData(), exact.size());
        if (received.size() < 8)
            FUZZ_CHECK(result.Kind == TSocks4Reply::NeedMore && result.Length == 0);
    }
    if (reply.size() < 8) {
        FUZZ_CHECK(result.Kind == TSocks4Reply::NeedMore);
        return 0;
    }
    FUZZ_CHECK(result.Kind != TSocks4Reply::NeedMore);
    FUZZ_CHECK(result.Length == 8);
    FUZZ_CHECK(result.Code == uint8_t(reply[1]));
    FUZZ_CHECK((result.Kind == TSocks4Reply::Granted) == (result.Code == 90));
    return 0;
}
