#pragma once
// The one connection manager of the process: credentials, session id, categories, alert
// listeners and the status text. Logs in, subscribes, pings every 4.5 s, notices a closed or
// silent conversation and replaces it.

#include "Olvarra/FeedHealth.h"
#include "Shared/TalkWithServer.h"

#include <QByteArray>
#include <QObject>
#include <QStringList>
#include <deque>
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

    // Whether the alert windows show live data. Stale once a login has been sent and then the
    // conversation ended, is being replaced, was refused with STOP, or answered no ping for
    // more than StaleAfterMs; working again at the first good ping answer. Before the first
    // login nothing was ever live, so nothing is stale.
    static constexpr qint64 StaleAfterMs = 7000;
    const TFeedState& GetFeedState() const { return FeedState; }
    TFeedHealth GetFeedHealth() const;

Q_SIGNALS:
    // The feed state changed (working or stale, the reason, or since when).
    void FeedStateChanged();
    // Every tick has run (health displays refresh on it).
    void Ticked();

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
    void UpdateFeedState();
    void ConversationEnded();
    void GoodPingAnswer();

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
    // A deque: a listener added while the others run leaves them where they are, so each is
    // called in place, not copied per alert.
    std::deque<TAlertCallback> Listeners;
    QString Status;

    // Feed state and health. All intervals on the monotonic clock.
    TFeedState FeedState;
    bool LoginEverSent = false;
    bool AwaitingAnswer = false;      // a conversation ended; stale until a new one answers
    qint64 LastGoodMs = 0;            // last good ping answer (or the first login)
    QDateTime LastGoodLocal;
    qint64 PingSentMs = -1;           // the periodic ping in flight
    qint64 RoundTripMs = -1;
    qint64 UpSinceMs = -1;            // first good answer of the current conversation
    bool ReplacingEnded = false;      // the next conversation replaces one that ended
    int Reconnects = 0;
    QDate ReconnectsDay;
    TAlertRate AlertRate;
};

// The single main connection, created on first use and never destroyed.
TMainConnection& MainConnection();
