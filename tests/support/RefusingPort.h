#pragma once
// A port on 127.0.0.1 that refuses every connection: bound, so that nobody else can take it
// while it lives, but not listening. A port merely found free and let go can be taken a moment
// later by a listener of another suite running in parallel, or by the connecting socket itself
// (a connect to a free local port may pick that very port as its source and reach itself), and
// then the "refused" attempt connects.

#include <QtGlobal>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

class TRefusingPort {
public:
    TRefusingPort()
    {
        // No SO_REUSEADDR: with it, another socket that also asks for reuse could bind the
        // same port as long as neither listens.
        Fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (Fd >= 0 && bind(Fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(Fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            Port = ntohs(a.sin_port);
    }
    ~TRefusingPort()
    {
        if (Fd >= 0)
            close(Fd);
    }
    TRefusingPort(const TRefusingPort&) = delete;
    TRefusingPort& operator=(const TRefusingPort&) = delete;

    quint16 Port = 0;

private:
    int Fd = -1;
};
