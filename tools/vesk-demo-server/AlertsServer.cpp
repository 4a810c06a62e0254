#include "AlertsServer.h"

#include "ClientSocket.h"

TAlertsServer::TAlertsServer(TServerOptions options, QObject* parent)
    : QObject(parent), State(std::move(options))
{
    connect(&Listener, &QTcpServer::newConnection, this, &TAlertsServer::Accept);
}

TAlertsServer::~TAlertsServer()
{
    // The connections use the state as they go, so they go before it does.
    qDeleteAll(findChildren<TClientSocket*>(Qt::FindDirectChildrenOnly));
}

bool TAlertsServer::Start(QString& error)
{
    if (!Listener.listen(State.Options().Listen, State.Options().Port)) {
        error = Listener.errorString();
        return false;
    }
    State.SetPort(Listener.serverPort());
    return true;
}

void TAlertsServer::Accept()
{
    while (QTcpSocket* socket = Listener.nextPendingConnection())
        new TClientSocket(socket, State, this);
}
