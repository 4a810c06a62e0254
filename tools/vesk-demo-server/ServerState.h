#pragma once
// What every connection of one server shares: the options, the listening port, the
// connection and upload counters, and the open tunnels by session id. The server owns it and
// hands it to each connection, so a connection needs nothing of the server itself.

#include "ServerOptions.h"

#include <QByteArray>
#include <QHash>

// The download side of one tunnel, as the uploads of that tunnel see it.
class TTunnelEnd {
public:
    // The HTTP status for an upload with this sequence number.
    virtual int UploadStatus(qint64 sequence) const = 0;
    // Applies an upload (each number once, in order) to the client-to-server stream.
    virtual void Upload(qint64 sequence, const QByteArray& bytes) = 0;
    virtual int Conn() const = 0;

protected:
    ~TTunnelEnd() = default;
};

class TServerState {
public:
    explicit TServerState(TServerOptions options) : Opts(std::move(options)) {}
    TServerState(const TServerState&) = delete;
    TServerState& operator=(const TServerState&) = delete;

    const TServerOptions& Options() const { return Opts; }
    // The port the server listens on; known once it listens.
    quint16 Port() const { return ListenPort; }
    void SetPort(quint16 port) { ListenPort = port; }

    int NextConn() { return ++ConnCounter; }
    // Counts every upload; the first --post-fail of them fail.
    int CountPost() { return ++PostCounter; }

    // A tunnel stays registered until it unregisters itself, at the latest when it is destroyed.
    void RegisterTunnel(const QByteArray& id, TTunnelEnd* tunnel) { Tunnels.insert(id, tunnel); }
    void UnregisterTunnel(const QByteArray& id) { Tunnels.remove(id); }
    TTunnelEnd* FindTunnel(const QByteArray& id) const { return Tunnels.value(id, nullptr); }

private:
    TServerOptions Opts;
    quint16 ListenPort = 0;
    int ConnCounter = 0;
    int PostCounter = 0;
    QHash<QByteArray, TTunnelEnd*> Tunnels;
};
