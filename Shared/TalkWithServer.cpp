#include "Shared/TalkWithServer.h"

#include "Shared/GenericServerConnection.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/WakeMeSoon.h"
#include "Shared/ZLibStreams.h"

// The tunnel transport is its own unit. When it is in the tree, UseHttpTunnel makes a
// THttpTunnel(HttpTunnelUrl); without it a tunnel cannot be asked for.
#if __has_include("Shared/HttpTunnels.h")
#include "Shared/HttpTunnels.h"
#define VESK_HAVE_HTTP_TUNNEL 1
#endif

#include <QPointer>

namespace {

VESK_DECLARE_ERROR(EInvalidServerData, EVeskError);

// One counter for the whole process, so a handle kept from an earlier conversation can never
// cancel a callback of a later one that happens to reuse the same message id.
quint64 NextSerial = 0;

// Compaction of the receive buffer waits until the consumed front is at least half of it:
// the buffer never holds more than twice what is live, and each byte is moved at most once
// on average.
constexpr qsizetype MinCompaction = 4096;

const QString DataAvailableLocation = QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable");

QByteArray MessageOf(const std::exception& e)
{
    if (auto* own = dynamic_cast<const EVeskError*>(&e))
        return own->GetMessage().toLatin1();
    return QByteArray(e.what());
}

// Handlers of the owner run inside our event handlers; nothing they throw may reach the
// event loop.
template <typename Call>
void Guarded(const QString& location, Call&& call)
{
    try {
        call();
    } catch (const std::exception& e) {
        ReportException(e, location);
    } catch (...) {
        ReportException(EVeskError(QStringLiteral("unknown exception")), location);
    }
}

} // namespace

const QByteArray TTalkWithServer::OpeningCommand = "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n";

TTalkWithServer::TTalkWithServer(QObject* parent) : QObject(parent)
{
    DisconnectReason = "Unable to connect to server.";
    FlushWakeUp = std::make_unique<TWakeMeSoon>();
    FlushWakeUp->OnWakeUp = [this] { Flush(); };
    Compressor = std::make_unique<TZLibCompressor>(TZCompressionLevel::Default);
    Decompressor = std::make_unique<TZLibDecompressor>();
    // Lands at the front of PendingOutput: the server must read it before any zlib byte.
    SendRaw(OpeningCommand);
}

TTalkWithServer::~TTalkWithServer()
{
    if (State != Closed)
        Shutdown();
    // The connection, freed while still open, reports its end once more; Shutdown then finds
    // nothing pending. The compressor must still exist for that.
    Connection.reset();
    FlushWakeUp.reset();
    Compressor.reset();
    Decompressor.reset();
}

// ---- Writing bytes ----

void TTalkWithServer::SendRaw(const QByteArray& data)
{
    if (data.isEmpty())
        return;
    switch (State) {
    case Starting:
        PendingOutput += data;
        break;
    case Connected:
        Connection->Send(data);
        break;
    case Closed:
        break;
    }
}

void TTalkWithServer::WriteCompressed(const QByteArray& data)
{
    Compressor->Write(data);
    // A large burst goes out in blocks instead of waiting for the end of the turn.
    if (Compressor->Output.size() > 4999) {
        SendRaw(Compressor->Output);
        Compressor->Output.clear();
    }
    FlushWakeUp->Request();
}

void TTalkWithServer::WriteInteger(qint32 value)
{
    const quint32 v = quint32(value);
    const char bytes[4] = {char(v & 0xFF), char((v >> 8) & 0xFF), char((v >> 16) & 0xFF), char((v >> 24) & 0xFF)};
    WriteCompressed(QByteArray(bytes, 4));
}

void TTalkWithServer::WriteString(const QByteArray& text)
{
    WriteInteger(qint32(text.size()));
    if (!text.isEmpty())
        WriteCompressed(text);
}

void TTalkWithServer::Flush()
{
    // Everything written in this turn becomes one block that the server can decode now.
    Compressor->Flush();
    SendRaw(Compressor->Output);
    Compressor->Output.clear();
}

// ---- Requests ----

TMessageHandle TTalkWithServer::SendMessage(const TMessageToServer& message, bool persistent, TResponseCallback callback)
{
    if (State == Closed || IsEmptyMessage(message)) {
        if (callback)
            SendErrorResponse(message, persistent, callback);
        return {};
    }

    TMessageHandle handle;
    if (callback) {
        // The free slot with the highest index; otherwise grow and take the first new one.
        qsizetype index = qsizetype(Pending.size()) - 1;
        while (index >= 0 && !Pending[size_t(index)].Message.isEmpty())
            --index;
        if (index < 0) {
            index = qsizetype(Pending.size());
            Pending.resize(std::max<size_t>(8, 2 * Pending.size()));
        }
        TPendingSlot& slot = Pending[size_t(index)];
        slot.Message = message;
        slot.Callback = std::move(callback);
        slot.Persistent = persistent;
        slot.Serial = NextSerial++;
        handle.MessageId = qint32(index + 1);
        handle.Serial = slot.Serial;
    }

    if (handle.MessageId > 0) {
        WriteString("message_id");
        WriteString(QByteArray::number(handle.MessageId));
    }
    for (const TMessagePair& pair : message) {
        if (pair.Key.isEmpty())
            continue;
        WriteString(pair.Key);
        WriteString(pair.Value);
    }
    WriteInteger(0);
    return handle;
}

void TTalkWithServer::CancelCallback(const TMessageHandle& handle)
{
    if (handle.MessageId < 1 || handle.MessageId > qint32(Pending.size()))
        return;
    TPendingSlot& slot = Pending[size_t(handle.MessageId - 1)];
    // The message stays: the slot is in use until its response arrives or the conversation
    // ends, so a late response can never reach a newer request.
    if (slot.Serial == handle.Serial)
        slot.Callback = nullptr;
}

// ---- Connecting ----

void TTalkWithServer::Connect()
{
    VESK_ASSERT(State == Starting && !Connection);

    if (UseHttpTunnel) {
#ifdef VESK_HAVE_HTTP_TUNNEL
        Connection = std::make_unique<THttpTunnel>(HttpTunnelUrl);
#else
        VESK_ASSERT_MSG(false, "HTTP tunnel not built into this program");
#endif
    } else {
        QByteArray host, port;
        SplitServerAddress(ServerAddress, host, port);
        Connection = std::make_unique<TSocketServerConnection>(host, port);
    }

    Connection->OnSessionClosed = [this](TGenericServerConnection* sender) { ServerConnectionClosed(sender); };
    Connection->OnSessionConnected = [this](TGenericServerConnection* sender) { ServerConnectionConnected(sender); };
    Connection->OnDataAvailable = [this](TGenericServerConnection* sender) { ServerConnectionDataAvailable(sender); };
    Connection->OnDiagnostic = [this](TGenericServerConnection* sender, const QByteArray& text) {
        ServerConnectionDiagnostic(sender, text);
    };

    if (SocksLevel == 4 || SocksLevel == 5) {
        Connection->SocksServer = SocksServer;
        Connection->SocksPort = QByteArray::number(SocksPort);
        Connection->SocksUserCode = SocksUserCode;
        Connection->SocksPassword = SocksPassword;
        Connection->SocksLevel = QByteArray::number(SocksLevel);
    }
    Connection->HttpProxyUserName = HttpProxyUserName;
    Connection->HttpProxyPassword = HttpProxyPassword;
    Connection->HttpProxyHost = HttpProxyHost;
    Connection->HttpProxyPort = HttpProxyPort;
    Connection->TunnelTimeout = TunnelTimeout;

    DisconnectReason.clear();
    if (Connection->Connect())
        DisconnectReason = "Error in server connection.";
    else
        DisconnectReason = Connection->ErrorMessage;
}

void TTalkWithServer::ServerConnectionConnected(TGenericServerConnection*)
{
    DisconnectReason = "Unexpected disconnect from server.";
    State = Connected;
    // Everything written while starting, the opening command first, in one block.
    Connection->Send(PendingOutput);
    PendingOutput.clear();
    if (OnConnected)
        Guarded(QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionConnected"), [this] { OnConnected(); });
}

void TTalkWithServer::ServerConnectionClosed(TGenericServerConnection* sender)
{
    // A name that cannot be looked up is only known after Connect has returned: the
    // connection then says so in ErrorMessage, and that is the reason worth showing rather
    // than the general "Error in server connection.".
    if (State == Starting && sender && !sender->ErrorMessage.isEmpty())
        DisconnectReason = sender->ErrorMessage;
    Shutdown();
}

void TTalkWithServer::ServerConnectionDiagnostic(TGenericServerConnection*, const QByteArray& text)
{
    if (OnDiagnostic)
        Guarded(QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionDiagnostic"),
                [this, &text] { OnDiagnostic(text); });
}

// ---- Receiving ----

void TTalkWithServer::ServerConnectionDataAvailable(TGenericServerConnection* sender)
{
    try {
        const QByteArray bytes = sender->Receive();
        // After a frame made no sense the stream position is lost; later bytes are drained
        // and dropped while the connection closes.
        if (!FramingBroken)
            Decompressor->Write(bytes);
    } catch (const std::exception& e) {
        DisconnectReason = "Invalid data from server: " + MessageOf(e);
        ReportException(e, DataAvailableLocation);
        sender->Close();
    }
    // Frames inflated before a failure are still good and are delivered.
    DispatchFrames(sender);
}

void TTalkWithServer::DispatchFrames(TGenericServerConnection* sender)
{
    if (FramingBroken)
        return;
    QPointer<TTalkWithServer> self(this);
    // Members are read afresh on every pass: a callback may pump the event loop, and a
    // nested arrival then continues from where this one stands.
    for (;;) {
        const TFrameCut cut = CutFrame(Decompressor->Output, ReceiveOffset, MaxFrameLength);
        if (cut.Kind == TFrameCut::NeedMore)
            break;
        if (cut.Kind == TFrameCut::InvalidLength) {
            InvalidData(sender, cut.BodyLength < 0 ? "negative frame length" : "frame too long");
            return;
        }
        ReceiveOffset = cut.NextOffset;
        SendGoodResponse(cut.MessageId, cut.Body);
        if (!self || FramingBroken)
            return;
    }

    QByteArray& buffer = Decompressor->Output;
    if (ReceiveOffset == buffer.size()) {
        buffer.truncate(0);
        ReceiveOffset = 0;
    } else if (ReceiveOffset >= MinCompaction && ReceiveOffset * 2 >= buffer.size()) {
        buffer.remove(0, ReceiveOffset);
        ReceiveOffset = 0;
    }
}

void TTalkWithServer::InvalidData(TGenericServerConnection* sender, const QByteArray& why)
{
    // A length the server could not have meant: waiting for it would stall the conversation
    // (negative) or buffer without bound (huge). Treat it like undecodable bytes.
    FramingBroken = true;
    Decompressor->Output.clear();
    ReceiveOffset = 0;
    DisconnectReason = "Invalid data from server: " + why;
    ReportException(EInvalidServerData(QString::fromLatin1(why)), DataAvailableLocation);
    if (sender)
        sender->Close();
}

// ---- Answers ----

void TTalkWithServer::SendGoodResponse(qint32 id, const QByteArray& body)
{
    if (id <= 0 || id > qint32(Pending.size()))
        return;
    TPendingSlot& slot = Pending[size_t(id - 1)];
    const TResponseCallback callback = slot.Callback;
    const TMessageToServer message = slot.Message;
    if (!slot.Persistent) {
        // Freed before anything runs, so the callback may reuse it at once.
        slot.Callback = nullptr;
        slot.Message.clear();
    }
    if (!callback)
        return;
    Guarded(QStringLiteral("TTalkWithServer.SendGoodResponse, ") + QString::fromLatin1(DescribeMessage(message)),
            [&] {
                if (OnResponse)
                    OnResponse(true, body, message);
                callback(true, body, message);
            });
}

void TTalkWithServer::SendErrorResponse(const TMessageToServer& message, bool persistent, const TResponseCallback& callback)
{
    Guarded(QStringLiteral("TTalkWithServer.SendErrorResponse, ") + QString::fromLatin1(DescribeMessage(message)),
            [&] {
                if (OnResponse && !persistent)
                    OnResponse(false, QByteArray(), message);
                if (callback)
                    callback(false, QByteArray(), message);
            });
}

void TTalkWithServer::Shutdown()
{
    State = Closed;
    PendingOutput.clear();
    if (Compressor)
        Compressor->Output.clear();
    QPointer<TTalkWithServer> self(this);
    if (OnDisconnected)
        Guarded(QStringLiteral("TalkWithServer, TTalkWithServer.Shutdown"), [this] { OnDisconnected(); });
    if (!self)
        return;
    // By index: a callback may cancel another one, or send (answered at once: we are closed).
    for (size_t i = 0; i < Pending.size(); ++i) {
        if (!Pending[i].Callback)
            continue;
        const TPendingSlot slot = Pending[i];
        SendErrorResponse(slot.Message, slot.Persistent, slot.Callback);
        if (!self)
            return;
    }
    Pending.clear();
}
