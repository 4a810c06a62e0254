#pragma once
// THttpTunnel: the server connection carried over HTTP, for networks that let nothing else
// out. One long GET carries the server-to-client stream; the client-to-server bytes go up in
// numbered POSTs ("sequence=<n>&body=<P64 of at most 6000 bytes>"), one in flight at a time,
// so they reach the server in order. A failed POST is resent with the same number; the
// fourth failure in a row gives up.
//
// The GET's body starts with two lines: the first is ignored, the second is the URL that
// uploads go to. Every byte after them belongs to the stream.

#include "Shared/GenericServerConnection.h"

#include <QBuffer>
#include <QByteArray>
#include <memory>

class QTimer;
class THttpRequest;
class TWakeMeSoon;

// The opening of the GET's body, parsed from what has arrived so far. Complete stays false
// until both line ends are there; then UploadUrl is the second line (trimmed) resolved
// against the tunnel's URL, and Length counts the two lines with their line ends.
struct TTunnelHandshake {
    bool Complete = false;
    QByteArray UploadUrl;
    qsizetype Length = 0;
};
TTunnelHandshake ParseTunnelHandshake(const QByteArray& received, const QByteArray& tunnelUrl);

class THttpTunnel : public TGenericServerConnection {
    Q_OBJECT
public:
    // Values of GetTunnelState().
    enum : quint8 { TunnelIdle = 0, TunnelConnecting = 1, TunnelConnected = 2, TunnelClosed = 3 };
    // Values of GetUploadState().
    enum : quint8 { UploadIdle = 0, UploadResendDue = 1, UploadInFlight = 2, UploadStopped = 3 };
    // Bytes of the stream carried by one POST.
    static constexpr qsizetype MaxChunk = 6000;
    // Failures in a row (less one per success) after which the tunnel gives up.
    static constexpr qint32 MaxFailures = 4;
    // Period of the upload-deadline check.
    static constexpr int TimerIntervalMs = 100;
    // Bytes the GET may bring before its two opening lines are complete. A real handshake
    // is a line and a URL; a peer that sends more without them is not a tunnel server, and
    // waiting for it would hold its bytes without end.
    static constexpr qsizetype MaxHandshake = 64 * 1024;

    explicit THttpTunnel(const QByteArray& tunnelUrl, QObject* parent = nullptr);
    ~THttpTunnel() override;

    bool Connect() override;
    void Send(const QByteArray& data) override;
    void Close() override;
    QByteArray Receive() override;

    // The deferred wake-up's work: starts the next upload (or the resend) when one is due.
    void CheckForSend();
    // The 100 ms timer's work: gives up an upload whose deadline has passed.
    void UploadTimerTimer();

    const QByteArray& GetTunnelURL() const { return TunnelURL; }
    quint8 GetTunnelState() const { return TunnelState; }
    quint8 GetUploadState() const { return UploadState; }
    qint32 GetSequence() const { return Sequence; }
    qint32 GetFailureCount() const { return FailureCount; }
    // Bytes given to Send and not yet packed into an upload.
    qsizetype PendingSendBytes() const { return SendBuffer.size() - SendOffset; }
    // Bytes received and not yet handed out (while connecting: the handshake so far).
    qsizetype BufferedReceiveBytes() const { return ReceiveBuffer.size(); }
    const THttpRequest& GetDownloadRequest() const { return *DownloadRequest; }
    const THttpRequest& GetUploadRequest() const { return *UploadRequest; }

private:
    void ConfigureRequest(THttpRequest& request) const;
    void DownloadData(const QByteArray& piece);
    void DownloadDone(int error);
    void UploadDone(int error);
    void StartPost();
    QByteArray UploadDescription() const;

    QByteArray TunnelURL;
    quint8 TunnelState = TunnelIdle;
    QByteArray ReceiveBuffer;
    // Bytes before SendOffset have been packed already; they are cut off in bulk, not per
    // chunk, so a large burst is not copied over and over.
    QByteArray SendBuffer;
    qsizetype SendOffset = 0;
    qint32 Sequence = 0;
    quint8 UploadState = UploadIdle;
    std::unique_ptr<TWakeMeSoon> WakeUp;
    QTimer* Timer = nullptr;
    qint64 Deadline = 0; // on Clock().MonotonicMs()
    std::unique_ptr<THttpRequest> DownloadRequest;
    std::unique_ptr<THttpRequest> UploadRequest;
    QBuffer UploadBody;
    qint32 FailureCount = 0;
};
