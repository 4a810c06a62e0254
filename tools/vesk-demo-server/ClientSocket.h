#pragma once
// One accepted TCP connection: a direct conversation, the long GET of a tunnel, or one
// upload POST.

#include "RequestHead.h"
#include "ServerState.h"

#include <QObject>
#include <QTcpSocket>

class TConversation;

class TClientSocket : public QObject, public TTunnelEnd {
    Q_OBJECT
public:
    // The state outlives every connection; parent owns this object.
    TClientSocket(QTcpSocket* socket, TServerState& state, QObject* parent);
    ~TClientSocket() override;

    // Tunnel side: the HTTP status for an upload with this sequence number, and applying it
    // (each number once, in order) to the client-to-server stream.
    int UploadStatus(qint64 sequence) const override;
    void Upload(qint64 sequence, const QByteArray& bytes) override;
    int Conn() const override { return ConnNumber; }

private:
    enum class TMode { Unknown, Conversation, HttpHeaders, PostBody, TunnelDownload, Done };

    void ReadyRead();
    void Disconnected();
    void Classify();
    void StartConversation(const QByteArray& firstBytes);
    void HandleHttpHeaders();
    void StartTunnel();
    void FinishPost();
    void Answer(int status, const QByteArray& reason);
    void WriteToClient(const QByteArray& bytes);
    void CloseFromServer();

    QTcpSocket* Socket;
    TServerState& Server;
    TMode Mode = TMode::Unknown;
    QByteArray Buffer;
    TConversation* Talk = nullptr;
    int ConnNumber = 0;
    bool CloseLogged = false;

    THttpRequestHead Request;

    // tunnel
    QByteArray TunnelId;
    qint64 NextSequence = 0;
};
