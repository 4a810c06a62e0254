#include "Olvarra/MainConnectionUnit.h"

#include "Olvarra/ConfigFile.h"
#include "Platform/Clock.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/WakeMeSoon.h"

#include <QLocale>
#include <algorithm>
#include <QTimer>

namespace {

constexpr int TickIntervalMs = 500;
constexpr qint64 PingIntervalMs = 4500;
// 25 ticks (12.5 s) without a good ping answer: the conversation is given up.
constexpr int WatchdogTicks = 24;

// The server's default port is 9339; with no configuration the client talks to a server on
// this machine.
const char DefaultServerAddress[] = "127.0.0.1:9339";

bool CategoryLess(const QByteArray& a, const QByteArray& b)
{
    return qstricmp(a.constData(), b.constData()) < 0;
}

} // namespace

QString TimeFormatWithoutZone(const QString& format)
{
    QString f = format;
    auto blankAt = [&f](qsizetype i) { return i >= 0 && i < f.size() && f[i].isSpace(); };
    for (;;) {
        // The first run of "t" outside quotes. A doubled quote stands for a quote character,
        // inside quoted text or outside; toggling twice for it keeps the state right.
        qsizetype left = -1;
        bool quoted = false;
        for (qsizetype i = 0; i < f.size() && left < 0; ++i) {
            if (f[i] == u'\'')
                quoted = !quoted;
            else if (!quoted && f[i] == u't')
                left = i;
        }
        if (left < 0)
            break;
        qsizetype right = left;
        while (right < f.size() && f[right] == u't')
            ++right;

        // Brackets around the zone, perhaps with blanks inside them, go with it.
        qsizetype l = left, r = right;
        while (blankAt(l - 1))
            --l;
        while (blankAt(r))
            ++r;
        if (l > 0 && r < f.size() && ((f[l - 1] == u'(' && f[r] == u')') || (f[l - 1] == u'[' && f[r] == u']'))) {
            left = l - 1;
            right = r + 1;
        }

        // So does one run of blanks: the one before it, or the one after it when nothing comes
        // before; the fields on either side stay apart.
        l = left;
        while (blankAt(l - 1))
            --l;
        const bool blanksBetweenFields = l < left && l > 0;
        left = l;
        if (!blanksBetweenFields) {
            while (blankAt(right))
                ++right;
        }
        f.remove(left, right - left);
    }
    return f.trimmed();
}

TMainConnection::TMainConnection(QObject* parent)
    : QObject(parent)
{
    ServerAddress = DefaultServerAddress;
    ServerAddress = TConfigFile::Load().ReadString("Connection", "address", ServerAddress);
    Init();
}

TMainConnection::TMainConnection(const QByteArray& serverAddress, QObject* parent)
    : QObject(parent), ServerAddress(serverAddress)
{
    Init();
}

TMainConnection::~TMainConnection()
{
    Timer->stop();
    OnStatusChange = nullptr;
    if (ConnectWakeUp)
        ConnectWakeUp->OnWakeUp = nullptr;
    // The waiting callbacks get their error answers now, while every member still lives.
    if (Server) {
        Server->OnDisconnected = nullptr;
        Server->OnResponse = nullptr;
        auto old = std::move(Server);
        old.reset();
    }
}

void TMainConnection::Init()
{
    ConnectWakeUp = std::make_unique<TWakeMeSoon>();
    ConnectWakeUp->OnWakeUp = [this] { ConnectNow(); };
    Timer = new QTimer(this);
    Timer->setInterval(TickIntervalMs);
    // Pings, the silence watchdog and the feed state count in these ticks. A coarse timer may
    // fire up to 5 % of its interval (25 ms) late on top of whatever work is running; two
    // wake-ups a second cost nothing precise.
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TMainConnection::Tick);
    Timer->start();
}

void TMainConnection::AddCategory(const QByteArray& category)
{
    if (category.isEmpty())
        return;
    const auto at = std::lower_bound(Categories.begin(), Categories.end(), category, CategoryLess);
    if (at != Categories.end() && qstricmp(at->constData(), category.constData()) == 0)
        return;
    Categories.insert(at, category);
}

void TMainConnection::AddAlertListener(TAlertCallback callback)
{
    Listeners.push_back(std::move(callback));
}

void TMainConnection::SetUserName(const QByteArray& value)
{
    if (value != UserName || Stopped) {
        UserName = value;
        Reset();
    }
}

void TMainConnection::SetPassword(const QByteArray& value)
{
    if (value != Password || Stopped) {
        Password = value;
        Reset();
    }
}

void TMainConnection::Reset()
{
    TicksWithoutPing = 0;
    Disconnect();
    ConnectWakeUp->Request();
    Stopped = false;
    SessionId.clear();
    // The user asked for this conversation: it is a new start, not a reconnect.
    ReplacingEnded = false;
    SetStatus(QString());
    UpdateFeedState();
}

void TMainConnection::SetStatus(const QString& text)
{
    if (text == Status)
        return;
    Status = text;
    // A failing display must not disturb the connection.
    if (OnStatusChange)
        SwallowListenerError(OnStatusChange);
}

void TMainConnection::Tick()
{
    if (Server && Server->GetState() == TTalkWithServer::Closed) {
        auto old = std::move(Server);
        old.reset();
        ConversationEnded();
        if (HasCredentials() && !Stopped)
            ConnectWakeUp->Request();
    }
    if (Stopped || !HasCredentials()) {
        UpdateFeedState();
        Q_EMIT Ticked();
        return;
    }
    PingIfDue();
    ++TicksWithoutPing;
    if (TicksWithoutPing > WatchdogTicks) {
        TicksWithoutPing = 0;
        Disconnect();
        ConnectWakeUp->Request();
    }
    UpdateFeedState();
    Q_EMIT Ticked();
}

void TMainConnection::PingIfDue()
{
    // The schedule runs on the monotonic clock: a wall clock set back an hour would otherwise
    // hold every ping for that hour and let the watchdog drop a healthy connection.
    const qint64 now = Clock().MonotonicMs();
    if (!Server || now <= NextPingTime)
        return;
    Server->CancelCallback(PingHandle);
    PingHandle = Server->SendMessage(MakeMessage({"command", "ping", "response", '1'}), false,
                                     [this](bool success, const QByteArray& body, const TMessageToServer& message) {
                                         PingResponse(success, body, message);
                                     });
    PingSentMs = now;
    NextPingTime = now + PingIntervalMs;
}

void TMainConnection::ConnectNow()
{
    if (!Server)
        CreateServer();
    // A conversation is connected once; a second wake-up finds it already on its way.
    if (Server && Server->GetState() == TTalkWithServer::Starting && !Server->GetConnection())
        Server->Connect();
}

void TMainConnection::CreateServer()
{
    NextPingTime = Clock().MonotonicMs() + PingIntervalMs;
    Server = std::make_unique<TTalkWithServer>();
    Server->OnResponse = [](bool, const QByteArray&, const TMessageToServer&) {};
    // A closed conversation makes the data stale at once, not at the next tick.
    Server->OnDisconnected = [this] {
        ConversationEnded();
        UpdateFeedState();
    };
    Server->OnDiagnostic = [](const QByteArray&) {};
    Server->ServerAddress = ServerAddress;
    PingSentMs = -1;
    UpSinceMs = -1;
    if (ReplacingEnded) {
        ReplacingEnded = false;
        const QDate today = Clock().LocalNow().date();
        if (today != ReconnectsDay) {
            ReconnectsDay = today;
            Reconnects = 0;
        }
        ++Reconnects;
    }
    SendLogin();
    UpdateFeedState();
}

void TMainConnection::SendLogin()
{
    if (!HasCredentials() || Stopped)
        return;
    if (!LoginEverSent) {
        // From the first login on the data can go stale; the login ping has the usual time
        // to be answered.
        LoginEverSent = true;
        LastGoodMs = Clock().MonotonicMs();
        LastGoodLocal = Clock().LocalNow();
    }
    Server->SendMessage(MakeMessage({"command", "login", "username", UserName, "password", Password,
                                     "session_id", SessionId}),
                        true, [this](bool success, const QByteArray& body, const TMessageToServer& message) {
                            LoginResponse(success, body, message);
                        });
    Server->SendMessage(MakeMessage({"command", "listen_for_alerts"}), true,
                        [this](bool success, const QByteArray& body, const TMessageToServer& message) {
                            // Only what the server sends counts (the fake-data window calls
                            // ListenResponse directly). Counted by the second, so on the
                            // cheap clock.
                            if (success)
                                AlertRate.Count(Clock().RoughMonotonicMs());
                            ListenResponse(success, body, message);
                        });
    for (const QByteArray& category : Categories)
        Server->SendMessage(MakeMessage({"command", "add_alert_category", "category", category}), false, {});
    Server->SendMessage(MakeMessage({"command", "ping", "response", '1'}), false,
                        [this](bool success, const QByteArray& body, const TMessageToServer& message) {
                            LoginPingResponse(success, body, message);
                        });
}

void TMainConnection::Disconnect()
{
    if (!Server)
        return;
    SetStatus(QStringLiteral("Disconnected."));
    Server->OnDisconnected = nullptr;
    Server->OnResponse = nullptr;
    // Server is none before the old conversation answers its waiting callbacks.
    auto old = std::move(Server);
    old.reset();
    ConversationEnded();
    UpdateFeedState();
}

void TMainConnection::LoginResponse(bool success, const QByteArray& body, const TMessageToServer&)
{
    if (!success)
        return;
    const QList<QByteArray> lines = SplitLines(body);
    if (lines.isEmpty())
        return;
    if (lines[0] == "STOP") {
        Stopped = true;
        if (lines.size() > 1)
            SetStatus(QString::fromLatin1(lines[1]));
        UpdateFeedState();
    } else if (lines[0] == "SESSION ID") {
        if (lines.size() > 1)
            SessionId = lines[1];
    }
}

void TMainConnection::ListenResponse(bool success, const QByteArray& body, const TMessageToServer&)
{
    if (!success)
        return;
    // By index: a listener may register another one while it runs (the deque keeps the
    // others in place, and none is ever removed).
    for (size_t i = 0; i < Listeners.size(); ++i) {
        const TAlertCallback& listener = Listeners[i];
        if (!listener)
            continue;
        // One failing window must not keep the alert from the others.
        SwallowListenerError([&] { listener(body); });
    }
}

void TMainConnection::LoginPingResponse(bool success, const QByteArray&, const TMessageToServer&)
{
    // The ping that follows a refused login is still answered; the refusal text must stay,
    // not turn into "Connected!".
    if (success && !Stopped) {
        SetStatus(QStringLiteral("Connected!"));
        GoodPingAnswer();
    }
}

void TMainConnection::PingResponse(bool success, const QByteArray&, const TMessageToServer&)
{
    if (!success || Stopped)
        return;
    TicksWithoutPing = 0;
    if (PingSentMs >= 0)
        RoundTripMs = Clock().MonotonicMs() - PingSentMs;
    SetStatus(QStringLiteral("Working:  ") + StatusTimeText(Clock().LocalNow().time()));
    GoodPingAnswer();
}

void TMainConnection::ConversationEnded()
{
    UpSinceMs = -1;
    if (LoginEverSent) {
        AwaitingAnswer = true;
        ReplacingEnded = true;
    }
}

void TMainConnection::GoodPingAnswer()
{
    const qint64 now = Clock().MonotonicMs();
    LastGoodMs = now;
    LastGoodLocal = Clock().LocalNow();
    AwaitingAnswer = false;
    if (UpSinceMs < 0)
        UpSinceMs = now;
    UpdateFeedState();
}

void TMainConnection::UpdateFeedState()
{
    TFeedState next;
    if (LoginEverSent) {
        const qint64 now = Clock().MonotonicMs();
        if (Stopped)
            next.Reason = frStopped;
        else if (!Server || Server->GetState() == TTalkWithServer::Closed)
            next.Reason = frDisconnected;
        else if (AwaitingAnswer)
            next.Reason = frReconnecting;
        else if (now - LastGoodMs > StaleAfterMs)
            next.Reason = frNoPingAnswer;
    }
    next.Stale = next.Reason != frNone;
    if (next.Stale) {
        // Silence began at the last good answer; an end or a refusal is news of this moment.
        // Once stale, the moment stays until the feed works again.
        next.StaleSince = FeedState.Stale ? FeedState.StaleSince
                          : next.Reason == frNoPingAnswer ? LastGoodLocal
                                                          : Clock().LocalNow();
    }
    if (next == FeedState)
        return;
    FeedState = next;
    Q_EMIT FeedStateChanged();
}

TFeedHealth TMainConnection::GetFeedHealth() const
{
    const qint64 now = Clock().MonotonicMs();
    TFeedHealth health;
    health.RoundTripMs = RoundTripMs;
    health.AlertsPerSecond = AlertRate.PerSecond(now);
    health.UpMs = Server && UpSinceMs >= 0 ? now - UpSinceMs : -1;
    health.ReconnectsToday = ReconnectsDay == Clock().LocalNow().date() ? Reconnects : 0;
    return health;
}

TMainConnection& MainConnection()
{
    // Lives to the end of the process: alert windows and the fake-data window hold on to it.
    static TMainConnection* const instance = new TMainConnection();
    return *instance;
}
