#pragma once
// The desktop notification of a price spike: when the full top list first paints a spike,
// the symbol and its price spike can also appear as a desktop notification. Off unless the
// user checks the box; at most one per symbol per minute, on the monotonic clock.
//
// Symbols come from the server, so a flood of spiking symbols is held too: at most
// PerMinuteLimit notifications in any minute, whatever the symbols.

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>

class QCheckBox;

class TPriceSpikeNotice {
public:
    static constexpr qint64 PerSymbolMs = 60 * 1000;
    static constexpr int PerMinuteLimit = 10;

    // The check box whose own visibility flag and state gate Notify(); none: never.
    void SetCheckBox(QCheckBox* checkBox) { CheckBox = checkBox; }
    bool Enabled() const;
    // The application name the desktop shows with the notification.
    void SetAppName(const QString& name) { AppName = name; }

    // Raises the notification through DesktopNotifier() unless the gate or the limits hold
    // it back. True when it went out.
    bool Notify(const QByteArray& symbol, double priceSpike);

    // The texts: "Price spike: AAPL" and "AAPL price spike 7.5" (escaped for the markup
    // that notification services read in the body).
    static QString Summary(const QByteArray& symbol);
    static QString Body(const QByteArray& symbol, double priceSpike);

private:
    QPointer<QCheckBox> CheckBox;
    QString AppName;
    QHash<QByteArray, qint64> LastShown; // symbol -> monotonic ms; only the last minute kept
    QList<qint64> Recent;                // monotonic ms of the notifications of the last minute
};
