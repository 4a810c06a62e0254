#pragma once
// Real proxies on free loopback ports for the length of a test: dante for SOCKS 4 and 5 (with
// and without user-name authentication) and tinyproxy for plain HTTP proxying. Each fixture
// writes its configuration into its own temporary folder, runs the proxy in the foreground
// in a process group of its own, waits until the port accepts connections and stops the
// whole group when it is destroyed.
//
//     TDanteProxy proxy(TDanteProxy::Socks5UserName);
//     VESK_START_PROXY(proxy);          // QSKIP when it cannot run here, QFAIL when it broke
//     ... connect through 127.0.0.1:proxy.Port() ...
//     QVERIFY(proxy.Log().contains(...));

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;
class QTemporaryDir;

// One proxy program run by a test.
class TProxyProcess {
public:
    TProxyProcess();
    virtual ~TProxyProcess();
    TProxyProcess(const TProxyProcess&) = delete;
    TProxyProcess& operator=(const TProxyProcess&) = delete;

    // False when it did not come up; Why() says why and ShouldSkip() tells whether the
    // reason is the machine (program missing, no right to make the test account) rather than
    // a fault.
    virtual bool Start() = 0;
    void Stop();

    bool IsRunning() const;
    quint16 Port() const { return ListenPort; }
    const QString& Why() const { return Reason; }
    bool ShouldSkip() const { return Skip; }

    // What the proxy wrote so far: its log file, or its console output when it has none.
    QByteArray Log() const;

protected:
    bool Launch(const QString& program, const QStringList& arguments, const QString& configName,
                const QByteArray& config, const QString& logName);
    bool Fail(const QString& why, bool skip = false);
    QString TempPath(const QString& name) const;
    static quint16 FreeLoopbackPort();

    std::unique_ptr<QTemporaryDir> Folder;
    std::unique_ptr<QProcess> Process;
    quint16 ListenPort = 0;
    QString LogPath;
    mutable QByteArray Console; // collected only when read, so Log() never blocks
    QString Reason;
    bool Skip = false;
};

// dante (danted). SOCKS 4 has no authentication, so Socks4 runs the same configuration as
// Socks5NoAuth; the mode only says which level the test means to speak.
class TDanteProxy : public TProxyProcess {
public:
    enum TMode { Socks5NoAuth, Socks5UserName, Socks4 };

    // The system account that user-name authentication is checked against. Made (as root)
    // when absent; its password is set on every start.
    static const QByteArray TestUserName;
    static const QByteArray TestPassword;

    explicit TDanteProxy(TMode mode) : Mode(mode) {}
    bool Start() override;
    TMode GetMode() const { return Mode; }

    // The SOCKS level to give a client of this proxy: "4" or "5".
    QByteArray Level() const { return Mode == Socks4 ? "4" : "5"; }

    // True when the log shows a connection carried from a client to 127.0.0.1:targetPort.
    bool CarriedConnectionTo(quint16 targetPort) const;

private:
    static bool EnsureTestAccount(QString& why, bool& skip);
    TMode Mode;
};

// tinyproxy, an HTTP proxy; optionally with basic authentication.
class TTinyProxy : public TProxyProcess {
public:
    bool Start() override { return Start({}, {}); }
    bool Start(const QByteArray& userName, const QByteArray& password);
};

// Starts a proxy fixture inside a test function: skips the test when the machine cannot run
// it, fails it when the proxy broke.
#define VESK_START_PROXY(proxy)                                                       \
    do {                                                                              \
        if (!(proxy).Start()) {                                                       \
            if ((proxy).ShouldSkip())                                                 \
                QSKIP(qPrintable((proxy).Why()));                                     \
            QFAIL(qPrintable((proxy).Why()));                                         \
        }                                                                             \
    } while (0)
