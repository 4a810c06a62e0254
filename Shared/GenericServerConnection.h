#pragma once
// The abstract byte pipe to the alerts server. It knows nothing of messages or compression:
// opaque bytes both ways, and events for connected, data available and closed.
// Implemented by TSocketServerConnection (direct TCP, optionally through SOCKS) and
// THttpTunnel (a long GET and numbered POSTs).

#include <QByteArray>
#include <QObject>
#include <functional>

class TGenericServerConnection : public QObject {
    Q_OBJECT
public:
    using TNotify = std::function<void(TGenericServerConnection* sender)>;
    using TDiagnostic = std::function<void(TGenericServerConnection* sender, const QByteArray& text)>;

    explicit TGenericServerConnection(QObject* parent = nullptr) : QObject(parent) {}
    ~TGenericServerConnection() override = default;

    // Filled by the owner before Connect.
    QByteArray SocksServer;
    QByteArray SocksPort;
    QByteArray SocksUserCode;   // empty: no authentication
    QByteArray SocksPassword;
    QByteArray SocksLevel;      // "4" or "5"
    QByteArray HttpProxyUserName;
    QByteArray HttpProxyPassword;
    QByteArray HttpProxyHost;   // empty: no HTTP proxy
    qint32 HttpProxyPort = 0;
    qint32 TunnelTimeout = 0;   // milliseconds, tunnel only

    // Events; empty means unassigned and is skipped.
    TNotify OnSessionClosed;
    TNotify OnSessionConnected;
    TNotify OnDataAvailable;
    TDiagnostic OnDiagnostic;

    // Set by a Connect that failed at once, to say why.
    QByteArray ErrorMessage;

    // False when the attempt failed at once (OnSessionClosed has then already been raised).
    virtual bool Connect() = 0;
    virtual void Send(const QByteArray& data) = 0;
    virtual void Close() = 0;
    // Everything available now; may be empty.
    virtual QByteArray Receive() = 0;

protected:
    void RaiseSessionClosed() { if (OnSessionClosed) OnSessionClosed(this); }
    void RaiseSessionConnected() { if (OnSessionConnected) OnSessionConnected(this); }
    void RaiseDataAvailable() { if (OnDataAvailable) OnDataAvailable(this); }
    void RaiseDiagnostic(const QByteArray& text) { if (OnDiagnostic) OnDiagnostic(this, text); }
};
