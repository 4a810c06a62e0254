#pragma once
// An asynchronous HTTP request object: one request at a time, every notification delivered
// through the event loop.
//
//     THttpRequest get;
//     get.Url = "http://127.0.0.1:9339/tunnel";
//     get.OnBodyData = [](const QByteArray& piece) { ... };      // each piece as it arrives
//     get.OnRequestDone = [&](int error) { ... get.GetStatusCode() ... };
//     get.Get();                                                  // may raise EHttpRequestError
//
// Proxies: an HTTP proxy (ProxyHost non-empty) forwards plain-HTTP requests; otherwise a
// SOCKS 5 proxy (SocksServer and SocksLevel "5"). SOCKS 4 cannot carry these requests here
// and is refused when the request starts.
//
// The error code of OnRequestDone is 0 when the transfer itself worked, whatever the status
// code says; a failed transfer gives a non-zero code, a status code of 0 (or that of the
// response, when one came) and the failure's description as the reason phrase.
//
// After destruction no notification is delivered, and no reply outlives the object.

#include "Platform/VeskError.h"

#include <QByteArray>
#include <QObject>
#include <QPointer>
#include <functional>

class QIODevice;
class QNetworkAccessManager;
class QNetworkReply;

VESK_DECLARE_ERROR(EHttpRequestError, EVeskError);

class THttpRequest : public QObject {
    Q_OBJECT
public:
    // Name lookup and connecting happen inside the network stack, which does not report
    // them, so a request that has started reads as WaitingForHeader until its response header
    // has arrived. DnsLookupDone is part of the readable states all the same, so callers can
    // treat it as the harmless busy state it is.
    enum THttpState : int {
        Ready = 0,
        DnsLookupDone = 1,
        WaitingForHeader = 2,
        BodyReceiving = 3,
    };
    enum class TSocksAuthentication { None, UserCode };

    // Status and reason reported by Abort.
    static constexpr int AbortedStatus = 404;
    static const QByteArray AbortedReason; // "Connection aborted on request"
    // The error code of an aborted request.
    static constexpr int AbortedError = 5;

    explicit THttpRequest(QObject* parent = nullptr);
    ~THttpRequest() override;

    QByteArray Url;

    // HTTP proxy; empty host: none. The port is decimal text.
    QByteArray ProxyHost;
    QByteArray ProxyPort;
    QByteArray ProxyUserName;
    QByteArray ProxyPassword;

    // SOCKS proxy, used when there is no HTTP proxy and SocksServer and SocksLevel are set.
    QByteArray SocksServer;
    QByteArray SocksPort;
    QByteArray SocksUserName;
    QByteArray SocksPassword;
    QByteArray SocksLevel;   // "5"; "4" is refused
    TSocksAuthentication SocksAuthentication = TSocksAuthentication::None;

    // Empty means unassigned.
    std::function<void(const QByteArray& piece)> OnBodyData;
    std::function<void(int error)> OnRequestDone;

    // Start a request. Raise EHttpRequestError when not Ready, when the URL is not an
    // absolute http URL or when the proxy settings cannot be used; nothing has started then.
    void Get();
    // The body is read from body's current position to its end at once; the caller keeps
    // the device.
    void Post(QIODevice* body);

    // Ends a running request now: OnRequestDone runs before Abort returns, with a non-zero
    // error, status 404 and "Connection aborted on request". Does nothing when Ready.
    void Abort();

    THttpState GetState() const { return State; }
    int GetStatusCode() const { return StatusCode; }
    const QByteArray& GetReasonPhrase() const { return ReasonPhrase; }

private:
    void Start(bool post, QIODevice* body);
    void ApplyProxy();
    void ReadHeader();
    void ReplyReadyRead();
    void ReplyFinished();
    void Finish(int error);
    void DropReply();

    QNetworkAccessManager* Manager = nullptr;
    QPointer<QNetworkReply> Reply;
    THttpState State = Ready;
    int StatusCode = 0;
    QByteArray ReasonPhrase;
    // Nonzero while a reply's signal is being handled: the reply must then not be deleted
    // at once, since the code that emitted the signal still runs.
    int InReplySignal = 0;
    // Runs an owner's callback from inside a reply's signal (counted, shielded).
    template <typename Call>
    void NotifyOwner(const Call& call);
};
