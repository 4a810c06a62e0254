#pragma once
// The listening side: accepts connections on one port and tells a conversation over TCP
// from an HTTP request of the tunnel by the first bytes. A GET opens a tunnel whose
// response body is the server-to-client stream; POSTs to its upload URL carry the client's
// bytes, numbered.

#include "ServerState.h"

#include <QObject>
#include <QTcpServer>

class TAlertsServer : public QObject {
    Q_OBJECT
public:
    explicit TAlertsServer(TServerOptions options, QObject* parent = nullptr);
    ~TAlertsServer() override;

    bool Start(QString& error);
    quint16 Port() const { return Listener.serverPort(); }
    const TServerOptions& Options() const { return State.Options(); }

private:
    void Accept();

    TServerState State;
    QTcpServer Listener;
};
