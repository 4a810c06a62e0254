#pragma once
// The one connection manager of the process: credentials, session id, categories, alert
// listeners and the status text. Logs in, subscribes, pings every 4.5 s, notices a closed or
// silent conversation and replaces it.

#include "Shared/TalkWithServer.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class QTimer;
class TWakeMeSoon;

using TAlertCallback = std::function<void(const QByteArray& body)>;

// A time format (Qt's format letters) without its time-zone field ("t"), together with the
// blanks or the brackets around it; quoted text is kept as it stands. The status line shows a
// clock reading, and the zone would only crowd it.
QString TimeFormatWithoutZone(const QString& format);

class TMainConnection : public QObject {
    Q_OBJECT
public:
    // Reads the server address from Vesk.ini in the current folder.
    explicit TMainConnection(QObject* parent = nullptr);
    // Tests: a given server address instead of the configuration file.
    TMainConnection(const QByteArray& serverAddress, QObject* parent);
    ~TMainConnection() override;

    void AddCategory(const QByteArray& category);
    void AddAlertListener(TAlertCallback callback);
    void SetUserName(const QByteArray& value);
    void SetPassword(const QByteArray& value);
    void Reset();

    const QString& GetStatus() const { return Status; }
    std::function<void()> OnStatusChange;

    // The listen_for_alerts callback; the fake-data window calls it too.
    void ListenResponse(bool success, const QByteArray& body, const TMessageToServer& message);

    // The 500 ms tick. Public so tests can run ticks without waiting.
    void Tick();
    QTimer* GetTimer() const { return Timer; }

    // Read by tests and the main window.
    const QByteArray& GetServerAddress() const { return ServerAddress; }
    const QByteArray& GetSessionId() const { return SessionId; }
    bool IsStopped() const { return Stopped; }
    TTalkWithServer* GetServer() const { return Server.get(); }
    const QList<QByteArray>& GetCategories() const { return Categories; }
    int GetTicksWithoutPing() const { return TicksWithoutPing; }

private:
    void Init();
    void SetStatus(const QString& text);
    void PingIfDue();
    void ConnectNow();
    void CreateServer();
    void SendLogin();
    void Disconnect();
    void LoginResponse(bool success, const QByteArray& body, const TMessageToServer& message);
    void LoginPingResponse(bool success, const QByteArray& body, const TMessageToServer& message);
    void PingResponse(bool success, const QByteArray& body, const TMessageToServer& message);
    bool HasCredentials() const { return !UserName.isEmpty() && !Password.isEmpty(); }

    QByteArray UserName;
    QByteArray Password;
    QByteArray ServerAddress;
    bool Stopped = false;
    QByteArray SessionId;
    QTimer* Timer = nullptr;
    int TicksWithoutPing = 0;
    QList<QByteArray> Categories; // case-insensitive sorted, no duplicates
    std::unique_ptr<TTalkWithServer> Server;
    std::unique_ptr<TWakeMeSoon> ConnectWakeUp;
    TMessageHandle PingHandle;
    qint64 NextPingTime = 0; // monotonic ms: a wall-clock change cannot stall the pings
    std::vector<TAlertCallback> Listeners;
    QString Status;
};

// The single main connection, created on first use and never destroyed.
TMainConnection& MainConnection();
