// The login reply, through the real conversation: the input is the body of the answer to
// the login request, followed by the answer to the ping sent after it. "STOP" stops the
// connection and shows the next line; "SESSION ID" keeps the next line for the next login;
// anything else is ignored; the ping answer then shows "Connected!" unless stopped.
#include "ReceivePath.h"
#include "Shared/ServerMessages.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray reply = AsBytes(data, size);
    {
        TReceivePath path(false);
        path.Feed(Deflate(Frame(LoginId, reply) + Frame(LoginPingId, "")), 1 << 20);
        const TMainConnection& c = path.Connection;

        const QList<QByteArray> lines = SplitLines(reply);
        const bool stop = !lines.isEmpty() && lines[0] == "STOP";
        const bool session = !lines.isEmpty() && lines[0] == "SESSION ID";
        FUZZ_CHECK(c.IsStopped() == stop);
        FUZZ_CHECK(c.GetSessionId() == (session && lines.size() > 1 ? lines[1] : QByteArray()));
        if (stop)
            FUZZ_CHECK(c.GetStatus() == (lines.size() > 1 ? QString::fromLatin1(lines[1]) : QString()));
        else
            FUZZ_CHECK(c.GetStatus() == QStringLiteral("Connected!"));
        FUZZ_CHECK(c.GetServer() && c.GetServer()->GetState() != TTalkWithServer::Closed);
    }
    PumpUntilIdle();
    return 0;
}
