#pragma once
// THostileServer: a scripted alerts server inside the test, on 127.0.0.1 and a free port, for
// the faults a real network or a broken server produces. It reads the opening command and the
// client's compressed requests like a real server; what it answers, and how, is up to the test:
//
//   THostileServer server;
//   server.OnRequest = [&](THostilePeer& peer, const THostileRequest& r) {
//       if (r.Command() == "login") peer.SendFrame(r.Id, "SESSION ID\r\nS1");
//   };
//   server.OnOpened = [&](THostilePeer& peer) { peer.SendRaw("not zlib"); };
//
// Frames are deflated on the server's own stream and sent with a sync flush; SendRaw sends
// bytes as they are. Peers live until the server is destroyed or they are closed.

#include <QByteArray>
#include <QObject>
#include <QTcpServer>
#include <QTcpSocket>
#include <QVector>
#include <functional>
#include <memory>
#include <utility>

struct THostileRequest {
    qint32 Id = 0; // 0 when the request carried no message id
    QVector<std::pair<QByteArray, QByteArray>> Pairs;
    QByteArray Value(const QByteArray& key) const;
    QByteArray Command() const { return Value("command"); }
};

class THostilePeer : public QObject {
    Q_OBJECT
public:
    THostilePeer(QTcpSocket* socket, int number, QObject* parent);
    ~THostilePeer() override;

    int Number() const { return ConnNumber; }
    QTcpSocket* Socket() const { return Sock; }
    bool IsOpen() const;
    const QVector<THostileRequest>& Requests() const { return Seen; }

    // One frame (id, length, body) through the compressed stream, flushed.
    void SendFrame(qint32 id, const QByteArray& body);
    // Plain bytes of the stream, compressed and flushed as one block.
    void SendPlain(const QByteArray& plain);
    // Bytes on the wire as they are.
    void SendRaw(const QByteArray& bytes);
    // The compressed form of plain, without sending it (to send it in pieces).
    QByteArray Compress(const QByteArray& plain);
    // Sends bytes one at a time, each in its own write after the event loop has run.
    void TrickleRaw(const QByteArray& bytes);

    void Close();     // an orderly close (FIN)
    void Reset();     // a reset (RST): linger 0, then close
    void HalfClose(); // no more bytes from us; we still read

private:
    void ReadSome();
    void Trickle();

    QTcpSocket* Sock;
    int ConnNumber;
    struct TZ;
    std::unique_ptr<TZ> Z;
    QByteArray Opening;
    bool OpeningDone = false;
    QByteArray Plain;
    QVector<THostileRequest> Seen;
    QByteArray TrickleLeft;
    friend class THostileServer;
};

class THostileServer : public QObject {
    Q_OBJECT
public:
    THostileServer();
    ~THostileServer() override;

    QByteArray Address() const; // "127.0.0.1:<port>"
    quint16 Port() const { return Listener.serverPort(); }
    int Accepted() const { return int(Peers.size()); }
    THostilePeer* Peer(int index) const { return index < Peers.size() ? Peers[index] : nullptr; }
    THostilePeer* Last() const { return Peers.isEmpty() ? nullptr : Peers.back(); }

    // Set before the client connects. OnAccepted runs at once (nothing read yet), OnOpened
    // once the opening command was read, OnRequest for each request the client sent.
    std::function<void(THostilePeer&)> OnAccepted;
    std::function<void(THostilePeer&)> OnOpened;
    std::function<void(THostilePeer&, const THostileRequest&)> OnRequest;
    // When set, every byte the client sends goes here instead (an HTTP tunnel's requests).
    std::function<void(THostilePeer&, const QByteArray&)> OnRawBytes;

    // Closes every peer at once (abort) and frees them.
    void DropPeers();

    // The usual answers: a session id for the login, an empty frame for each ping.
    static void AnswerPolitely(THostilePeer& peer, const THostileRequest& request);

private:
    QTcpServer Listener;
    QVector<THostilePeer*> Peers;
    friend class THostilePeer;
};

// Open file descriptors of this process (for leak checks).
int OpenDescriptorCount();
