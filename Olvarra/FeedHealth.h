#pragma once
// How the feed is doing, in figures a trader can read at a glance: whether the main
// connection is working or stale (since when, and why), the round trip of the last ping,
// alerts per second, how long the conversation has been up, and how often it was replaced
// today.

#include <QDateTime>
#include <QString>
#include <QtGlobal>
#include <array>

// Why the feed is stale. frNone: it is working (or nothing was ever live).
enum TFeedReason : quint8 {
    frNone,
    frDisconnected,  // no conversation, or the current one has ended
    frReconnecting,  // a new conversation has not answered a ping yet
    frStopped,       // the server refused the login with STOP
    frNoPingAnswer,  // the conversation is open but answered no ping for more than 7 s
};

struct TFeedState {
    bool Stale = false;
    QDateTime StaleSince; // local time; the last moment the feed was known to work
    TFeedReason Reason = frNone;

    bool operator==(const TFeedState& other) const = default;
};

// A clock reading as the status line shows it: the user's long time format without the time
// zone that Qt's long format adds ("22:28:22 UTC").
QString StatusTimeText(const QTime& time);

// "reconnecting", "stopped by the server", ...
QString FeedReasonText(TFeedReason reason);
// The band an alert window shows: "Stale since 09:31:05 — reconnecting"; empty while working.
QString StaleMarkText(const TFeedState& state);

// Alerts counted into one-second buckets on the monotonic clock: counting is a division and
// an increment, and the rate reads ten numbers whatever the alert rate.
class TAlertRate {
public:
    static constexpr int Seconds = 10;

    void Count(qint64 nowMs);
    // Alerts per second over the last ten seconds, the current one included.
    double PerSecond(qint64 nowMs) const;

private:
    std::array<qint64, Seconds> Second{}; // which second each bucket holds
    std::array<quint32, Seconds> Alerts{};
};

struct TFeedHealth {
    qint64 RoundTripMs = -1; // of the last answered periodic ping; -1: none yet
    double AlertsPerSecond = 0;
    qint64 UpMs = -1;        // since the conversation's first good ping answer; -1: not up
    int ReconnectsToday = 0;
};

// "Ping 12 ms, 3.4 alerts/s, up 0:12:05, 0 reconnects today"
QString FeedHealthText(const TFeedHealth& health);
