#pragma once
// The listening side: accepts connections on one port and tells a conversation over TCP
// from an HTTP request of the tunnel by the first bytes. A GET opens a tunnel whose
// response body is the server-to-client stream; POSTs to its upload URL carry the client's
// bytes, numbered.

#include "ServerOptions.h"

#include <QHash>
#include <QObject>
#include <QPointer>
#include <QTcpServer>

class TConversation;
class TClientSocket;

class TAlertsServer : public QObject {
    Q_OBJECT
public:
    explicit TAlertsServer(TServerOptions options, QObject* parent = nullptr);

    bool Start(QString& error);
    quint16 Port() const { return Listener.serverPort(); }
    const TServerOptions& Options() const { return Opts; }

    int NextConn() { return ++ConnCounter; }
    // Counts every upload; the first --post-fail of them fail.
    int CountPost() { return ++PostCounter; }

    void RegisterTunnel(const QByteArray& id, TClientSocket* tunnel);
    void UnregisterTunnel(const QByteArray& id);
    TClientSocket* FindTunnel(const QByteArray& id) const;

private:
    void Accept();

    TServerOptions Opts;
    QTcpServer Listener;
    int ConnCounter = 0;
    int PostCounter = 0;
    QHash<QByteArray, QPointer<TClientSocket>> Tunnels;
};
