#pragma once
// One conversation with the alerts server over one connection: the opening command, zlib in
// both directions, requests with message ids, each response frame to the callback of its
// request, and an error response to every waiting callback when the connection ends.
// Used once: after it has closed, its owner discards it and makes a new one.

#include "Shared/ServerMessages.h"

#include <QByteArray>
#include <QObject>
#include <functional>
#include <memory>
#include <vector>

class TGenericServerConnection;
class TWakeMeSoon;
class TZLibCompressor;
class TZLibDecompressor;

// The body of a good response shares the conversation's receive buffer: a callback that
// keeps a small body for long should keep a copy of its bytes, or it keeps that buffer too.
using TResponseCallback =
    std::function<void(bool success, const QByteArray& body, const TMessageToServer& message)>;

struct TMessageHandle {
    qint32 MessageId = 0; // 0: no callback was registered
    quint64 Serial = 0;
};

class TTalkWithServer : public QObject {
    Q_OBJECT
public:
    enum TState { Starting, Connected, Closed };

    // The opening command: switches both directions to zlib.
    static const QByteArray OpeningCommand;
    // Frames longer than this are invalid data from the server, not a reason to buffer
    // gigabytes.
    static constexpr qint32 MaxFrameLength = 64 * 1024 * 1024;

    explicit TTalkWithServer(QObject* parent = nullptr);
    ~TTalkWithServer() override;

    TMessageHandle SendMessage(const TMessageToServer& message, bool persistent, TResponseCallback callback);
    void CancelCallback(const TMessageHandle& handle);
    void Connect();

    TState GetState() const { return State; }
    const QByteArray& GetDisconnectReason() const { return DisconnectReason; }

    std::function<void()> OnConnected;
    std::function<void()> OnDisconnected;
    TResponseCallback OnResponse;
    std::function<void(const QByteArray& text)> OnDiagnostic;

    // Options, set before Connect.
    QByteArray SocksUserCode, SocksPassword, SocksServer;
    qint32 SocksLevel = 0;
    qint32 SocksPort = 0;
    QByteArray HttpProxyUserName, HttpProxyPassword, HttpProxyHost;
    qint32 HttpProxyPort = 0;
    qint32 TunnelTimeout = 0;
    bool UseHttpTunnel = false;
    QByteArray HttpTunnelUrl;
    QByteArray ServerAddress; // host ":" port; without ":" the port is 8888

    // Makes the direct connection instead of a socket, for every conversation from now on
    // (empty: the socket). The fuzz harnesses feed the receive path through a stand-in this
    // way; nothing in the program sets it.
    using TConnectionFactory = std::function<std::unique_ptr<TGenericServerConnection>(const QByteArray& serverAddress)>;
    static void SetConnectionFactory(TConnectionFactory factory);

    // For tests: the connection in use (none until Connect) and the number of pending slots.
    TGenericServerConnection* GetConnection() const { return Connection.get(); }
    int PendingSlotCount() const { return int(Pending.size()); }

    // Received bytes held and not yet worked on (compressed and inflated), the room the two
    // receive buffers hold now, and the most room they have held at once after an inflate step.
    qsizetype GetHeldInputBytes() const;
    qsizetype GetHeldInputCapacity() const;
    qsizetype GetPeakHeldCapacity() const { return PeakHeldCapacity; }

private:
    struct TPendingSlot {
        TMessageToServer Message; // empty: free slot
        quint64 Serial = 0;
        TResponseCallback Callback;
        bool Persistent = false;
    };

    void SendRaw(const QByteArray& data);
    void WriteCompressed(const QByteArray& data);
    void Flush();
    void Shutdown();
    void SendGoodResponse(qint32 id, const QByteArray& body);
    void SendErrorResponse(const TMessageToServer& message, bool persistent, const TResponseCallback& callback);
    void ServerConnectionClosed(TGenericServerConnection* sender);
    void ServerConnectionConnected(TGenericServerConnection* sender);
    void ServerConnectionDataAvailable(TGenericServerConnection* sender);
    void ServerConnectionDiagnostic(TGenericServerConnection* sender, const QByteArray& text);
    // One step of work on received bytes: none was left, a frame for no request was passed
    // over, or real work was done (a frame dispatched, a slice inflated).
    enum TStep { StepIdle, StepLight, StepHeavy };
    void WorkOnReceived();
    TStep Step();
    void CompactReceiveBuffer();
    void InvalidData(const QByteArray& why);

    std::unique_ptr<TGenericServerConnection> Connection;
    std::unique_ptr<TWakeMeSoon> FlushWakeUp;
    QByteArray PendingOutput;
    QByteArray RequestBytes; // one request encoded, reused from request to request
    std::unique_ptr<TZLibCompressor> Compressor;
    std::unique_ptr<TZLibDecompressor> Decompressor;
    std::unique_ptr<TWakeMeSoon> WorkWakeUp; // the next turn of work on received bytes
    QByteArray RawInput;         // compressed bytes taken from the connection, not yet inflated
    qsizetype RawOffset = 0;
    qsizetype ReceiveOffset = 0; // frames are cut by moving this, not by copying the rest
    qsizetype PeakHeldCapacity = 0;
    bool FramingBroken = false;  // a frame made no sense: nothing after it can be trusted
    bool CloseDeferred = false;  // the connection ended while received bytes still waited
    TState State = Starting;
    QByteArray DisconnectReason;
    std::vector<TPendingSlot> Pending;
};
