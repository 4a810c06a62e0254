// The tunnel's GET body as the server sends it, in pieces of any size: two opening lines
// (the second names the upload place, maybe relative to the tunnel's URL), then the stream.
// Where the pieces are cut must change nothing: the handshake completes with the piece
// that brings its second line end, names the same place, and every later byte is stream,
// in order, none lost. The first input byte gives the piece size, the second the URL.
#include "FuzzCheck.h"
#include "Shared/HttpTunnels.h"

#include <QUrl>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const QByteArray urls[] = {"http://127.0.0.1:9339/tunnel", "https://alerts.example/a/b/c?x=1",
                                      "http://[::1]:80/", "", "not a url at all"};
    TFuzzInput in(data, size);
    const qsizetype step = 1 + in.Byte() % 17;
    const QByteArray tunnelUrl = urls[in.Byte() % 5];
    const QByteArray body = in.Rest();

    const TTunnelHandshake whole = ParseTunnelHandshake(body, tunnelUrl);
    const qsizetype first = body.indexOf("\r\n");
    const qsizetype second = first < 0 ? -1 : body.indexOf("\r\n", first + 2);
    FUZZ_CHECK(whole.Complete == (second >= 0));
    if (whole.Complete) {
        FUZZ_CHECK(whole.Length == second + 2);
        FUZZ_CHECK(!whole.UploadUrl.contains('\r') && !whole.UploadUrl.contains('\n') && !whole.UploadUrl.contains(' '));
    } else {
        FUZZ_CHECK(whole.Length == 0 && whole.UploadUrl.isEmpty());
    }

    // As the tunnel receives it: the buffer grows by pieces until the handshake is there.
    QByteArray buffer, stream;
    bool connected = false;
    for (qsizetype at = 0; at < body.size(); at += step) {
        buffer += body.mid(at, step);
        if (!connected) {
            const TTunnelHandshake now = ParseTunnelHandshake(buffer, tunnelUrl);
            if (!now.Complete)
                continue;
            FUZZ_CHECK(whole.Complete && now.Length == whole.Length && now.UploadUrl == whole.UploadUrl);
            FUZZ_CHECK(at + step >= whole.Length && at < whole.Length); // this piece completed it
            buffer.remove(0, now.Length);
            connected = true;
        }
        stream += buffer;
        buffer.clear();
    }
    FUZZ_CHECK(connected == whole.Complete);
    if (connected)
        FUZZ_CHECK(stream == body.mid(whole.Length));
    return 0;
}
