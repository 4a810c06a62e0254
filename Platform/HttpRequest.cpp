#include "Platform/HttpRequest.h"

#include "Platform/VeskError.h"
#include "Platform/NumberText.h"

#include <QIODevice>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QUrl>

const QByteArray THttpRequest::AbortedReason = "Connection aborted on request";

namespace {

// Errors that QNetworkReply derives from the status code of a response that did arrive
// completely. The transfer worked; the status code says the rest.
bool IsStatusError(QNetworkReply::NetworkError error)
{
    const int code = int(error);
    return (code >= 201 && code <= 299) || (code >= 401 && code <= 499);
}

// Runs an owner's callback from inside a reply's signal. Nothing may leave through the event
// loop; the owners report their own errors in the debug window (GuardedCall), so this is only
// the last line. The debug window lives a layer above, out of reach here: the log it is.
template <typename Call>
void Shielded(Call&& call)
{
    CatchEverything(call, [](const std::exception& e) {
        qCritical("THttpRequest: a notification handler raised: %s", e.what());
    });
}

} // namespace

THttpRequest::THttpRequest(QObject* parent) : QObject(parent), Manager(new QNetworkAccessManager)
{
    // Only the proxy given here is ever used, never one from the environment.
    Manager->setProxy(QNetworkProxy::NoProxy);
}

THttpRequest::~THttpRequest()
{
    OnBodyData = nullptr;
    OnRequestDone = nullptr;
    if (Reply) {
        QObject::disconnect(Reply, nullptr, this, nullptr);
        Reply->abort();
    }
    // The manager owns its replies. Inside a reply's signal the emitting code still runs on,
    // so both go later; otherwise at once.
    if (InReplySignal > 0)
        Manager->deleteLater();
    else
        delete Manager;
}

void THttpRequest::Get() { Start(false, nullptr); }

void THttpRequest::Post(QIODevice* body)
{
    if (!body)
        throw EHttpRequestError(QStringLiteral("POST without a body stream"));
    Start(true, body);
}

void THttpRequest::Start(bool post, QIODevice* body)
{
    if (State != Ready)
        throw EHttpRequestError(QStringLiteral("The HTTP request is busy (state %1)").arg(int(State)));

    const QUrl url(QString::fromLatin1(Url), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) ||
        url.host().isEmpty())
        throw EHttpRequestError(QStringLiteral("Not an HTTP URL: ") + QString::fromLatin1(Url));

    ApplyProxy();

    QNetworkRequest request(url);
    // Status codes reach the owner as they are; a redirect is the owner's business.
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute, QNetworkRequest::ManualRedirectPolicy);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute, QNetworkRequest::AlwaysNetwork);
    request.setRawHeader("Cache-Control", "no-cache");

    QNetworkReply* reply;
    if (post) {
        // Read now: the request then never depends on the device staying as it is.
        const QByteArray bytes = body->readAll();
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/x-www-form-urlencoded"));
        reply = Manager->post(request, bytes);
    } else {
        reply = Manager->get(request);
    }

    Reply = reply;
    StatusCode = 0;
    ReasonPhrase.clear();
    State = WaitingForHeader;
    connect(reply, &QNetworkReply::metaDataChanged, this, &THttpRequest::ReadHeader);
    connect(reply, &QNetworkReply::readyRead, this, &THttpRequest::ReplyReadyRead);
    connect(reply, &QNetworkReply::finished, this, &THttpRequest::ReplyFinished);
}

void THttpRequest::ApplyProxy()
{
    if (!ProxyHost.isEmpty()) {
        const quint16 port = ParsePortText(ProxyPort);
        if (port == 0)
            throw EHttpRequestError(QStringLiteral("Bad HTTP proxy port: ") + QString::fromLatin1(ProxyPort));
        Manager->setProxy(QNetworkProxy(QNetworkProxy::HttpProxy, QString::fromLatin1(ProxyHost), port,
                                        QString::fromLatin1(ProxyUserName), QString::fromLatin1(ProxyPassword)));
        return;
    }
    if (!SocksServer.isEmpty() && !SocksLevel.isEmpty()) {
        const QByteArray level = SocksLevel.trimmed();
        if (level == "4")
            throw EHttpRequestError(QStringLiteral("SOCKS 4 is not available for HTTP requests; use SOCKS 5"));
        if (level != "5")
            throw EHttpRequestError(QStringLiteral("Unknown SOCKS level: ") + QString::fromLatin1(SocksLevel));
        const quint16 port = ParsePortText(SocksPort);
        if (port == 0)
            throw EHttpRequestError(QStringLiteral("Bad SOCKS port: ") + QString::fromLatin1(SocksPort));
        QNetworkProxy proxy(QNetworkProxy::Socks5Proxy, QString::fromLatin1(SocksServer), port);
        if (SocksAuthentication == TSocksAuthentication::UserCode) {
            proxy.setUser(QString::fromLatin1(SocksUserName));
            proxy.setPassword(QString::fromLatin1(SocksPassword));
        }
        Manager->setProxy(proxy);
        return;
    }
    Manager->setProxy(QNetworkProxy::NoProxy);
}

void THttpRequest::ReadHeader()
{
    if (!Reply)
        return;
    const QVariant status = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    if (!status.isValid())
        return;
    StatusCode = status.toInt();
    ReasonPhrase = Reply->attribute(QNetworkRequest::HttpReasonPhraseAttribute).toByteArray();
    if (State == WaitingForHeader)
        State = BodyReceiving;
}

void THttpRequest::ReplyReadyRead()
{
    if (!Reply)
        return;
    ReadHeader();
    const QByteArray piece = Reply->readAll();
    if (piece.isEmpty() || !OnBodyData)
        return;
    // A copy: the handler may reassign or clear OnBodyData, or destroy this object.
    const auto handler = OnBodyData;
    NotifyOwner([&] { handler(piece); });
}

void THttpRequest::ReplyFinished()
{
    if (!Reply)
        return;
    QPointer<THttpRequest> self(this);
    // Whatever is still buffered belongs to the body, before the end is told.
    if (Reply->bytesAvailable() > 0) {
        ReplyReadyRead();
        if (!self || !Reply)
            return;
    }
    ReadHeader();
    const QNetworkReply::NetworkError error = Reply->error();
    int code = 0;
    if (error != QNetworkReply::NoError) {
        const bool answered = Reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid();
        if (!(answered && IsStatusError(error))) {
            code = int(error);
            if (!answered) {
                StatusCode = 0;
                ReasonPhrase = Reply->errorString().toLatin1();
            }
        }
    }
    DropReply();
    Finish(code);
}

void THttpRequest::Abort()
{
    if (State == Ready)
        return;
    DropReply();
    StatusCode = AbortedStatus;
    ReasonPhrase = AbortedReason;
    Finish(AbortedError);
}

void THttpRequest::DropReply()
{
    if (!Reply)
        return;
    QNetworkReply* reply = Reply;
    Reply = nullptr;
    QObject::disconnect(reply, nullptr, this, nullptr);
    reply->abort();
    // Possibly inside one of its own signals: never deleted at once.
    reply->deleteLater();
}

void THttpRequest::Finish(int error)
{
    // Ready before the owner hears of it, so the owner may start the next request at once.
    State = Ready;
    if (!OnRequestDone)
        return;
    const auto handler = OnRequestDone;
    NotifyOwner([&] { handler(error); });
}

template <typename Call>
void THttpRequest::NotifyOwner(const Call& call)
{
    // Counted while it runs, so that the owner's calls back into this object know they come
    // from inside a reply's signal; the owner may also destroy this object.
    ++InReplySignal;
    QPointer<THttpRequest> self(this);
    Shielded(call);
    if (self)
        --InReplySignal;
}
