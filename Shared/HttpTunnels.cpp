#include "Shared/HttpTunnels.h"

#include "Shared/ByteSlices.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/P64.h"
#include "Shared/WakeMeSoon.h"

#include "Platform/Clock.h"
#include "Platform/HttpRequest.h"
#include "Platform/VeskError.h"

#include <QPointer>
#include <QTimer>
#include <QUrl>

namespace {

const QString CheckForSendLocation = QStringLiteral("HttpTunnels, THttpTunnel.CheckForSend");

// Status code and reason phrase of a request's last response, as the diagnostics show them.
QByteArray StatusText(const THttpRequest& request)
{
    return QByteArray::number(request.GetStatusCode()) + ", " + request.GetReasonPhrase();
}

} // namespace

TTunnelHandshake ParseTunnelHandshake(const QByteArray& received, const QByteArray& tunnelUrl)
{
    TTunnelHandshake result;
    const qsizetype first = IndexOfLineBreak(received);
    if (first < 0)
        return result;
    const qsizetype second = IndexOfLineBreak(received, first + 2);
    if (second < 0)
        return result;
    const QByteArray line = received.mid(first + 2, second - first - 2).trimmed();
    // The server may name the upload place relative to the tunnel's own URL.
    const QUrl base(QString::fromLatin1(tunnelUrl));
    result.UploadUrl = base.resolved(QUrl(QString::fromLatin1(line))).toEncoded();
    result.Length = second + 2;
    result.Complete = true;
    return result;
}

THttpTunnel::THttpTunnel(const QByteArray& tunnelUrl, QObject* parent)
    : TGenericServerConnection(parent),
      TunnelURL(tunnelUrl),
      WakeUp(std::make_unique<TWakeMeSoon>()),
      Timer(new QTimer(this)),
      DownloadRequest(std::make_unique<THttpRequest>()),
      UploadRequest(std::make_unique<THttpRequest>())
{
    WakeUp->OnWakeUp = [this] { CheckForSend(); };
    UploadBody.open(QIODevice::ReadWrite);
    DownloadRequest->OnBodyData = [this](const QByteArray& piece) {
        GuardedCall(QStringLiteral("HttpTunnels, THttpTunnel.DownloadData"), [&] { DownloadData(piece); });
    };
    DownloadRequest->OnRequestDone = [this](int error) { GuardedCall(QStringLiteral("HttpTunnels, THttpTunnel.DownloadDone"), [&] { DownloadDone(error); }); };
    UploadRequest->OnRequestDone = [this](int error) { GuardedCall(QStringLiteral("HttpTunnels, THttpTunnel.UploadDone"), [&] { UploadDone(error); }); };
    Timer->setInterval(TimerIntervalMs);
    connect(Timer, &QTimer::timeout, this, [this] { GuardedCall(QStringLiteral("HttpTunnels, THttpTunnel.UploadTimerTimer"), [this] { UploadTimerTimer(); }); });
    Timer->start();
}

THttpTunnel::~THttpTunnel()
{
    Close();
    Timer->stop();
    WakeUp->OnWakeUp = nullptr;
    // Requests first: their replies go with them, and nothing of theirs is delivered after.
    DownloadRequest.reset();
    UploadRequest.reset();
    WakeUp.reset();
}

void THttpTunnel::ConfigureRequest(THttpRequest& request) const
{
    request.ProxyHost.clear();
    request.ProxyPort.clear();
    request.ProxyUserName.clear();
    request.ProxyPassword.clear();
    request.SocksServer.clear();
    request.SocksPort.clear();
    request.SocksUserName.clear();
    request.SocksPassword.clear();
    request.SocksLevel.clear();
    request.SocksAuthentication = THttpRequest::TSocksAuthentication::None;

    if (!HttpProxyHost.isEmpty()) {
        request.ProxyHost = HttpProxyHost;
        request.ProxyPort = QByteArray::number(HttpProxyPort);
        request.ProxyUserName = HttpProxyUserName;
        request.ProxyPassword = HttpProxyPassword;
    } else if (!SocksLevel.isEmpty()) {
        request.SocksServer = SocksServer;
        request.SocksPort = SocksPort;
        request.SocksUserName = SocksUserCode;
        request.SocksPassword = SocksPassword;
        request.SocksLevel = SocksLevel;
        if (!SocksUserCode.isEmpty())
            request.SocksAuthentication = THttpRequest::TSocksAuthentication::UserCode;
    }
}

bool THttpTunnel::Connect()
{
    VESK_ASSERT(TunnelState == TunnelIdle);
    TunnelState = TunnelConnecting;
    ConfigureRequest(*DownloadRequest);
    ConfigureRequest(*UploadRequest);
    DownloadRequest->Url = TunnelURL;
    try {
        DownloadRequest->Get();
        return true;
    } catch (const EVeskError& e) {
        ErrorMessage = "THttpTunnel.Connect, " + QByteArray(e.ClassName()) + ", " + MessageOf(e).toLatin1() + ", " +
                       StatusText(*DownloadRequest);
        Close();
        return false;
    }
}

void THttpTunnel::DownloadData(const QByteArray& piece)
{
    // Only a successful response carries the stream. The body of an error page (a proxy's
    // refusal, a wrong path) is not a handshake, and taking its lines for one would report a
    // session that never existed.
    if (DownloadRequest->GetStatusCode() / 100 != 2)
        return;
    if (TunnelState != TunnelConnecting && TunnelState != TunnelConnected)
        return;

    ReceiveBuffer += piece;
    if (TunnelState == TunnelConnecting) {
        const TTunnelHandshake handshake = ParseTunnelHandshake(ReceiveBuffer, TunnelURL);
        if (!handshake.Complete) {
            if (ReceiveBuffer.size() > MaxHandshake) {
                // None of it is stream data: nothing is handed out after the close.
                ReceiveBuffer.clear();
                QPointer<THttpTunnel> self(this);
                RaiseDiagnostic("Invalid tunnel handshake: no upload address in the first " +
                                QByteArray::number(MaxHandshake) + " bytes");
                if (self)
                    Close();
            }
            return;
        }
        UploadRequest->Url = handshake.UploadUrl;
        ReceiveBuffer.remove(0, handshake.Length);
        TunnelState = TunnelConnected;
        QPointer<THttpTunnel> self(this);
        RaiseSessionConnected();
        if (!self || TunnelState != TunnelConnected)
            return;
    }
    if (!ReceiveBuffer.isEmpty())
        RaiseDataAvailable();
}

void THttpTunnel::DownloadDone(int)
{
    // The stream is over, whatever the reason; there is no second GET.
    Close();
}

QByteArray THttpTunnel::Receive()
{
    if (TunnelState != TunnelConnected && TunnelState != TunnelClosed)
        return {};
    QByteArray data;
    data.swap(ReceiveBuffer);
    return data;
}

void THttpTunnel::Send(const QByteArray& data)
{
    if (TunnelState == TunnelClosed)
        return;
    VESK_ASSERT(TunnelState == TunnelConnected);
    if (data.isEmpty())
        return;
    SendBuffer += data;
    WakeUp->Request();
}

void THttpTunnel::CheckForSend()
{
    bool resend;
    switch (UploadState) {
    case UploadIdle:
        if (PendingSendBytes() == 0)
            return;
        resend = false;
        break;
    case UploadResendDue:
        resend = true;
        break;
    default:
        return;
    }

    switch (UploadRequest->GetState()) {
    case THttpRequest::Ready:
        break;
    case THttpRequest::DnsLookupDone:
    case THttpRequest::WaitingForHeader:
        // Busy with the last one; its end requests another wake-up. Nothing has been taken
        // from SendBuffer yet, so nothing is lost meanwhile.
        return;
    default: {
        QPointer<THttpTunnel> self(this);
        RaiseDiagnostic("HTTP Not Ready on Write:  " + StatusText(*UploadRequest) + ", State=" +
                        QByteArray::number(int(UploadRequest->GetState())));
        if (!self)
            return;
        UploadState = UploadStopped;
        Close();
        return;
    }
    }

    if (!resend) {
        // Only now, with the request known to be ready, is the chunk taken out.
        const QByteArray chunk = SendBuffer.mid(SendOffset, MaxChunk);
        SendOffset += chunk.size();
        if (SendOffset == SendBuffer.size()) {
            SendBuffer.clear();
            SendOffset = 0;
        } else if (SendOffset >= SendBuffer.size() / 2) {
            SendBuffer.remove(0, SendOffset);
            SendOffset = 0;
        }
        QByteArray& body = UploadBody.buffer();
        body = "sequence=" + QByteArray::number(Sequence) + "&body=" + P64Encode(chunk);
    }
    StartPost();
}

void THttpTunnel::StartPost()
{
    Deadline = Clock().MonotonicMs() + TunnelTimeout;
    UploadState = UploadInFlight;
    UploadBody.seek(0);
    try {
        UploadRequest->Post(&UploadBody);
    } catch (const EVeskError& e) {
        ReportException(e, CheckForSendLocation);
        QPointer<THttpTunnel> self(this);
        RaiseDiagnostic("Unexpected Exception:  THttpTunnel.CheckForSend, " + QByteArray(e.ClassName()) + ", " +
                        MessageOf(e).toLatin1() + ", " + StatusText(*UploadRequest));
        if (!self)
            return;
        UploadState = UploadStopped;
        Close();
    }
}

QByteArray THttpTunnel::UploadDescription() const
{
    return StatusText(*UploadRequest) + ", state: " + QByteArray::number(int(UploadRequest->GetState()));
}

void THttpTunnel::UploadDone(int error)
{
    if (UploadRequest->GetState() != THttpRequest::Ready)
        return;
    UploadState = UploadIdle;
    if (error == 0 && UploadRequest->GetStatusCode() == 200) {
        if (FailureCount > 0)
            --FailureCount;
        ++Sequence;
        // What was queued meanwhile goes next.
        WakeUp->Request();
        return;
    }

    ++FailureCount;
    if (FailureCount < MaxFailures) {
        // Marked for resending before the owner hears of the failure, whatever it does then.
        UploadState = UploadResendDue;
        WakeUp->Request();
        if (error != 0 || UploadRequest->GetStatusCode() != 0)
            RaiseDiagnostic("Error sending data to server:  " + UploadDescription());
        return;
    }
    QPointer<THttpTunnel> self(this);
    RaiseDiagnostic("ERROR sending data to server:  " + UploadDescription());
    if (self)
        Close();
}

void THttpTunnel::UploadTimerTimer()
{
    if (UploadState != UploadInFlight || Clock().MonotonicMs() <= Deadline)
        return;
    try {
        // Completes at once through UploadDone, as a failure.
        UploadRequest->Abort();
    } catch (...) {
        // Giving up an upload can fail only in ways nobody could act on.
    }
}

void THttpTunnel::Close()
{
    if (TunnelState == TunnelClosed)
        return;
    TunnelState = TunnelClosed;
    DownloadRequest->OnBodyData = nullptr;
    DownloadRequest->OnRequestDone = nullptr;
    DownloadRequest->Abort();
    UploadRequest->OnRequestDone = nullptr;
    UploadRequest->Abort();
    UploadState = UploadStopped;
    RaiseSessionClosed();
}
