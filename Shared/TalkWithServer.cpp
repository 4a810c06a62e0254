#include "Shared/TalkWithServer.h"

#include "Shared/GenericServerConnection.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/ByteSlices.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/WakeMeSoon.h"
#include "Shared/ZLibStreams.h"

#include "Shared/HttpTunnels.h"

#include "Platform/Clock.h"

#include <QPointer>
#include <QtEndian>

namespace {

VESK_DECLARE_ERROR(EInvalidServerData, EVeskError);

// One counter for the whole process, so a handle kept from an earlier conversation can never
// cancel a callback of a later one that happens to reuse the same message id.
quint64 NextSerial = 0;

// Inflated bytes made in one step when no whole frame is waiting. Big enough that inflating
// costs next to nothing per call, small enough that a stream of empty frames (a compressed
// gigabyte of zeros) is cut and dispatched slice by slice instead of being held.
constexpr qsizetype InflateSlice = 1024 * 1024;
// A turn of work on received data ends after this long, measured on the injectable clock.
// Well under a frame of a 60 Hz display is not needed; under the 100 ms a user notices is.
constexpr qint64 TurnBudgetMs = 15;
// Frames for no waiting request cost a few nanoseconds each; the clock is read once per this
// many of them.
constexpr int LightStepsPerClockRead = 256;
// A body at least this long that lies alone at the front of the buffer is taken without a copy.
constexpr qsizetype LargeBody = 256 * 1024;
// A buffer emptied with more room than this gives it back.
constexpr qsizetype KeepCapacity = 4 * 1024 * 1024;

const QString DataAvailableLocation = QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable");

} // namespace

const QByteArray TTalkWithServer::OpeningCommand = "command=set_output&mode=zlib\r\ncommand=set_input&mode=zlib\r\n";

TTalkWithServer::TTalkWithServer(QObject* parent) : QObject(parent)
{
    DisconnectReason = "Unable to connect to server.";
    FlushWakeUp = std::make_unique<TWakeMeSoon>();
    FlushWakeUp->OnWakeUp = [this] { Flush(); };
    WorkWakeUp = std::make_unique<TWakeMeSoon>();
    WorkWakeUp->OnWakeUp = [this] { WorkOnReceived(); };
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
    // No turn may run on a conversation that is going.
    WorkWakeUp->OnWakeUp = nullptr;
    Connection.reset();
    FlushWakeUp.reset();
    WorkWakeUp.reset();
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

    // The request's bytes go to the compressor in one piece; the buffer keeps its room
    // for the next request.
    RequestBytes.resize(0);
    AppendRequest(RequestBytes, message, handle.MessageId);
    WriteCompressed(RequestBytes);
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

namespace {
TTalkWithServer::TConnectionFactory ConnectionFactory;
} // namespace

void TTalkWithServer::SetConnectionFactory(TConnectionFactory factory)
{
    ConnectionFactory = std::move(factory);
}

void TTalkWithServer::Connect()
{
    VESK_ASSERT(State == Starting && !Connection);

    if (UseHttpTunnel) {
        Connection = std::make_unique<THttpTunnel>(HttpTunnelUrl);
    } else if (ConnectionFactory) {
        Connection = ConnectionFactory(ServerAddress);
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
        GuardedCall(QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionConnected"), [this] { OnConnected(); });
}

void TTalkWithServer::ServerConnectionClosed(TGenericServerConnection* sender)
{
    // Bytes that came before the end are worked on first, in their turns; the end follows.
    if (State != Closed && WorkWakeUp->IsPending()) {
        CloseDeferred = true;
        return;
    }
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
        GuardedCall(QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionDiagnostic"),
                [this, &text] { OnDiagnostic(text); });
}

// ---- Receiving ----
//
// Received bytes are worked on in turns. A turn dispatches the whole frames at the front of
// the receive buffer and, when there are none, inflates one bounded slice more; when its time
// is up, the rest waits for a queued continuation, so that painting, input, the timer and the
// pings all run during a flood. Compressed bytes are taken from the connection only once those
// taken before are used up: what the server sends faster than we work stays in the socket,
// whose own buffer is bounded, and then in the network.

void TTalkWithServer::ServerConnectionDataAvailable(TGenericServerConnection*)
{
    // A continuation already waiting takes the new bytes when it gets to them. Otherwise the
    // work starts now, inside this event (also inside a callback that pumps the event loop:
    // the nested turn carries on from where the outer one stands).
    if (WorkWakeUp->IsPending())
        return;
    WorkOnReceived();
}

void TTalkWithServer::WorkOnReceived()
{
    QPointer<TTalkWithServer> self(this);
    // The budget is read after every alert, so on the cheap clock: a turn may run a few
    // milliseconds past it.
    const qint64 turnStart = Clock().RoughMonotonicMs();
    int lightSteps = 0;
    for (;;) {
        const TStep step = Step();
        if (!self)
            return;
        if (step == StepIdle)
            break; // nothing left to do until more bytes arrive
        // Reading the clock costs more than cutting a frame nobody waits for: those are
        // counted, and the clock is read after a batch of them or after any real work.
        if (step == StepLight && ++lightSteps < LightStepsPerClockRead)
            continue;
        lightSteps = 0;
        if (Clock().RoughMonotonicMs() - turnStart >= TurnBudgetMs) {
            WorkWakeUp->Request();
            return;
        }
    }
    // The end of the connection waited behind the bytes that came before it.
    if (CloseDeferred) {
        CloseDeferred = false;
        Shutdown();
    }
}

TTalkWithServer::TStep TTalkWithServer::Step()
{
    if (FramingBroken) {
        // After a frame made no sense the stream position is lost; later bytes are drained
        // and dropped while the connection closes.
        RawInput.clear();
        RawOffset = 0;
        return Connection && !Connection->Receive().isEmpty() ? StepLight : StepIdle;
    }

    // Members are read afresh on every step: a callback may pump the event loop, and a nested
    // turn then moves them on.
    QByteArray& buffer = Decompressor->Output;
    const TFrameCut cut = CutFrame(buffer, ReceiveOffset, MaxFrameLength, false);
    if (cut.Kind == TFrameCut::InvalidLength) {
        InvalidData(cut.BodyLength < 0 ? "negative frame length" : "frame too long");
        return StepHeavy;
    }
    if (cut.Kind == TFrameCut::Frame) {
        if (cut.MessageId <= 0 || cut.MessageId > qint32(Pending.size())) {
            // No request has this id: nothing to copy, nothing to call.
            ReceiveOffset = cut.NextOffset;
            return StepLight;
        }
        QByteArray body;
        if (ReceiveOffset == 0 && cut.BodyLength >= LargeBody) {
            // A large frame grew alone at the front of the buffer: the buffer becomes its body
            // (no copy), and the few bytes after it a new buffer.
            QByteArray rest(buffer.constData() + cut.NextOffset, buffer.size() - cut.NextOffset);
            body = std::move(buffer);
            buffer = std::move(rest);
            body.remove(0, 8);
            body.truncate(cut.BodyLength);
        } else {
            // The body shares the receive buffer (no copy): the buffer stays alive while a
            // callback holds it, and is copied only should more bytes be inflated meanwhile.
            body = SharedSlice(buffer, cut.BodyOffset, cut.BodyLength);
            ReceiveOffset = cut.NextOffset;
        }
        SendGoodResponse(cut.MessageId, body);
        return StepHeavy;
    }

    CompactReceiveBuffer();
    if (RawOffset >= RawInput.size() && !Decompressor->HasMoreOutput()) {
        RawInput = Connection ? Connection->Receive() : QByteArray();
        RawOffset = 0;
        if (RawInput.isEmpty())
            return StepIdle;
    }
    try {
        RawOffset += Decompressor->WriteSome(RawInput.constData() + RawOffset, RawInput.size() - RawOffset,
                                             InflateSlice);
    } catch (const std::exception& e) {
        // Frames inflated before the failure are still good and are delivered; the failed
        // stream takes all further input and gives nothing.
        DisconnectReason = "Invalid data from server: " + MessageOf(e).toLatin1();
        ReportException(e, DataAvailableLocation);
        if (Connection)
            Connection->Close();
    }
    if (RawOffset >= RawInput.size()) {
        RawInput = QByteArray();
        RawOffset = 0;
    }
    PeakHeldCapacity = qMax(PeakHeldCapacity, GetHeldInputCapacity());
    return StepHeavy;
}

void TTalkWithServer::CompactReceiveBuffer()
{
    QByteArray& buffer = Decompressor->Output;
    const qsizetype live = buffer.size() - ReceiveOffset;
    if (live == 0) {
        // Memory of a large frame goes back as soon as the frame has gone.
        if (buffer.capacity() > KeepCapacity)
            buffer = QByteArray();
        else
            buffer.truncate(0);
    } else if (ReceiveOffset > 0) {
        // What is left is part of one frame, cut short by the end of a slice: at most a slice,
        // so each byte is copied at most once. Moved to the front of the room it is in, which
        // the next slice fills without growing it again from nothing (a chain of reallocations
        // and fresh pages per slice), unless a body handed out still shares that room.
        if (buffer.isDetached() && buffer.capacity() <= KeepCapacity) {
            memmove(buffer.data(), buffer.constData() + ReceiveOffset, size_t(live));
            buffer.truncate(live);
        } else {
            buffer = QByteArray(buffer.constData() + ReceiveOffset, live);
        }
    }
    ReceiveOffset = 0;
    // A frame whose length is known gets its whole room (and that of one slice) at once, so a
    // large frame is not held in a buffer grown to twice its size.
    if (buffer.size() >= 8) {
        const qint32 length = qFromLittleEndian<qint32>(buffer.constData() + 4);
        const qsizetype need = 8 + qsizetype(length) + InflateSlice + 4096;
        if (need > KeepCapacity && buffer.capacity() < need)
            buffer.reserve(need);
    }
}

qsizetype TTalkWithServer::GetHeldInputBytes() const
{
    return (RawInput.size() - RawOffset) + (Decompressor ? Decompressor->Output.size() - ReceiveOffset : 0);
}

qsizetype TTalkWithServer::GetHeldInputCapacity() const
{
    return RawInput.capacity() + (Decompressor ? Decompressor->Output.capacity() : 0);
}

void TTalkWithServer::InvalidData(const QByteArray& why)
{
    // A length the server could not have meant: waiting for it would stall the conversation
    // (negative) or buffer without bound (huge). Treat it like undecodable bytes.
    FramingBroken = true;
    Decompressor->Output = QByteArray();
    ReceiveOffset = 0;
    RawInput = QByteArray();
    RawOffset = 0;
    DisconnectReason = "Invalid data from server: " + why;
    ReportException(EInvalidServerData(QString::fromLatin1(why)), DataAvailableLocation);
    if (Connection)
        Connection->Close();
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
    // Every alert comes this way: the location text is made only for a report.
    GuardedCallAt([&] { return QStringLiteral("TTalkWithServer.SendGoodResponse, ") + QString::fromLatin1(DescribeMessage(message)); },
            [&] {
                if (OnResponse)
                    OnResponse(true, body, message);
                callback(true, body, message);
            });
}

void TTalkWithServer::SendErrorResponse(const TMessageToServer& message, bool persistent, const TResponseCallback& callback)
{
    GuardedCall(QStringLiteral("TTalkWithServer.SendErrorResponse, ") + QString::fromLatin1(DescribeMessage(message)),
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
        GuardedCall(QStringLiteral("TalkWithServer, TTalkWithServer.Shutdown"), [this] { OnDisconnected(); });
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
