#include "Olvarra/FeedHealth.h"
#include "Olvarra/MainConnectionUnit.h"

#include <QLocale>

QString StatusTimeText(const QTime& time)
{
    // Qt's long format adds the time zone ("22:28:22 UTC"), which a clock reading on the
    // status line does not need.
    return QLocale::system().toString(time, TimeFormatWithoutZone(QLocale::system().timeFormat(QLocale::LongFormat)));
}

QString FeedReasonText(TFeedReason reason)
{
    switch (reason) {
    case frNone:
        return QString();
    case frDisconnected:
        return QStringLiteral("disconnected");
    case frReconnecting:
        return QStringLiteral("reconnecting");
    case frStopped:
        return QStringLiteral("stopped by the server");
    case frNoPingAnswer:
        return QStringLiteral("no answer from the server");
    }
    return QString();
}

QString StaleMarkText(const TFeedState& state)
{
    if (!state.Stale)
        return QString();
    return QStringLiteral("Stale since ") + StatusTimeText(state.StaleSince.time())
           + QStringLiteral(" \u2014 ") + FeedReasonText(state.Reason);
}

namespace {
qint64 SecondOf(qint64 ms)
{
    // Floor division: the monotonic origin is arbitrary, so times may be negative.
    return ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000);
}
} // namespace

void TAlertRate::Count(qint64 nowMs)
{
    const qint64 second = SecondOf(nowMs);
    const size_t slot = size_t(((second % Seconds) + Seconds) % Seconds);
    if (Second[slot] != second) {
        Second[slot] = second;
        Alerts[slot] = 0;
    }
    if (Alerts[slot] < UINT32_MAX)
        ++Alerts[slot];
}

double TAlertRate::PerSecond(qint64 nowMs) const
{
    const qint64 second = SecondOf(nowMs);
    quint64 total = 0;
    for (int i = 0; i < Seconds; ++i)
        if (Alerts[size_t(i)] != 0 && Second[size_t(i)] <= second && Second[size_t(i)] > second - Seconds)
            total += Alerts[size_t(i)];
    return double(total) / Seconds;
}

QString FeedHealthText(const TFeedHealth& health)
{
    QString text = QStringLiteral("Ping ");
    text += health.RoundTripMs >= 0 ? QString::number(health.RoundTripMs) + QStringLiteral(" ms") : QStringLiteral("-");
    text += QStringLiteral(", ") + QString::number(health.AlertsPerSecond, 'f', 1) + QStringLiteral(" alerts/s, ");
    if (health.UpMs >= 0) {
        const qint64 s = health.UpMs / 1000;
        text += QStringLiteral("up %1:%2:%3")
                    .arg(s / 3600)
                    .arg((s / 60) % 60, 2, 10, QLatin1Char('0'))
                    .arg(s % 60, 2, 10, QLatin1Char('0'));
    } else {
        text += QStringLiteral("not up");
    }
    text += QStringLiteral(", ") + QString::number(health.ReconnectsToday)
            + (health.ReconnectsToday == 1 ? QStringLiteral(" reconnect today") : QStringLiteral(" reconnects today"));
    return text;
}
