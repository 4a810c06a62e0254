#pragma once
// One accepted TCP connection: a direct conversation, the long GET of a tunnel, or one
// upload POST.

#include <QObject>
#include <QTcpSocket>

class TAlertsServer;
class TConversation;

class TClientSocket : public QObject {
    Q_OBJECT
public:
    TClientSocket(QTcpSocket* socket, TAlertsServer& server);
    ~TClientSocket() override;

    // Tunnel side: the HTTP status for an upload with this sequence number, and applying it
    // (each number once, in order) to the client-to-server stream.
    int UploadStatus(qint64 sequence) const;
    void Upload(qint64 sequence, const QByteArray& bytes);
    int Conn() const { return ConnNumber; }

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
    TAlertsServer& Server;
    TMode Mode = TMode::Unknown;
    QByteArray Buffer;
    TConversation* Talk = nullptr;
    int ConnNumber = 0;
    bool CloseLogged = false;

    // HTTP request being read
    QByteArray Method;
    QByteArray Path;
    QByteArray Query;
    qint64 ContentLength = -1;

    // tunnel
    QByteArray TunnelId;
    qint64 NextSequence = 0;
};
