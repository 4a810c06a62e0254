#include "AlertsServer.h"

#include "ClientSocket.h"

#include <cstdio>

void LogLine(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

void LogProblem(const QByteArray& line)
{
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

TAlertsServer::TAlertsServer(TServerOptions options, QObject* parent)
    : QObject(parent), Opts(std::move(options))
{
    connect(&Listener, &QTcpServer::newConnection, this, &TAlertsServer::Accept);
}

bool TAlertsServer::Start(QString& error)
{
    if (!Listener.listen(Opts.Listen, Opts.Port)) {
        error = Listener.errorString();
        return false;
    }
    return true;
}

void TAlertsServer::Accept()
{
    while (QTcpSocket* socket = Listener.nextPendingConnection())
        new TClientSocket(socket, *this);
}

void TAlertsServer::RegisterTunnel(const QByteArray& id, TClientSocket* tunnel)
{
    Tunnels.insert(id, tunnel);
}

void TAlertsServer::UnregisterTunnel(const QByteArray& id) { Tunnels.remove(id); }

TClientSocket* TAlertsServer::FindTunnel(const QByteArray& id) const
{
    return Tunnels.value(id).data();
}
