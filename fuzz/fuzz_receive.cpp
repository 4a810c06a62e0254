// The whole receive path, from socket bytes to window rows: inflate, frame cutting, dispatch
// by message id, the login reply, alert parsing, records and each window kind's list rules,
// and painting. Nothing may crash, hang or grow without bound.
//
// Input: the first byte picks how the rest is delivered. Bit 0 set: the rest is the plain
// frame stream, compressed here as the server would (so mutations reach the frames); clear:
// the rest is the socket bytes as they stand (a broken or hostile zlib stream). The other
// bits give the size of the pieces the socket delivers (0: all at once).
#include "ReceivePath.h"

namespace {
// A known stream must reach every window: if the conversation ever stops taking its data
// from the stand-in connection, the harness says so instead of fuzzing nothing.
void SelfTest()
{
    QByteArray frames = Frame(LoginId, "SESSION ID\r\nabc") + Frame(LoginPingId, "");
    const QByteArray alerts[] = {
        "QS\r\nsymbol=A&last=1.5&prev_close=1&sma_divergence=2&time=09:30",
        "BB\r\nsymbol=B&last=2&prev_close=1&dist_from_bb=0.5&action=add",
        "SYM\r\nsymbol=C",
        "PTS\r\nsymbol0=D&last0=1&change0=0.5&percent_vol0=3",
        "SL\r\nsymbol=E&last=3&change=-1",
        "ROOK\r\ntime=09:31&symbol=F&change=1&bb=2&volume=100&count=3&rank=1&rv=2",
        "TAM\r\ntime=09:32&symbol=G&last=5&volume=10&count=1&prev_close=4",
        "WEX\r\nsymbol0=H&price_spike=1&last0=3&change0=1&volume0=5",
    };
    for (const QByteArray& alert : alerts)
        frames += Frame(ListenId, alert);
    TReceivePath path;
    path.Feed(Deflate(frames), 7);
    FUZZ_CHECK(path.Connection.GetSessionId() == "abc");
    FUZZ_CHECK(path.Connection.GetStatus() == QStringLiteral("Connected!"));
    for (int i = 0; i < path.WindowCount(); ++i) {
        if (path.RowsShown(i) != 1)
            std::fprintf(stderr, "window %d (%s) shows %lld rows\n", i, FuzzWindowKinds[i].first,
                         (long long)path.RowsShown(i));
        FUZZ_CHECK(path.RowsShown(i) == 1);
    }
}
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const bool tested = (EnsureApplication(), SelfTest(), PumpUntilIdle(), true);
    (void)tested;
    TFuzzInput in(data, size);
    const uint8_t mode = in.Byte();
    const QByteArray rest = in.Rest();
    const QByteArray bytes = (mode & 1) ? Deflate(rest, (mode >> 1) & 1 ? 1 : 6) : rest;
    const qsizetype step = (mode >> 2) == 0 ? qMax<qsizetype>(bytes.size(), 1) : qsizetype(mode >> 2) * 13 - 12;
    {
        TReceivePath path;
        path.Feed(bytes, step);
    }
    PumpUntilIdle();
    return 0;
}
