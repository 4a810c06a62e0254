#pragma once
// Everything the command line can set.

#include "MarketData.h"

#include <QByteArray>
#include <QHash>
#include <QHostAddress>
#include <QVector>
#include <optional>

struct TScriptLine {
    QByteArray Category;
    QByteArray Form;
};

enum class TBadFrame { None, Negative, Huge };

struct TServerOptions {
    QHostAddress Listen = QHostAddress::LocalHost;
    quint16 Port = 9339;

    std::optional<QByteArray> StopText;           // --stop: refuse every login
    QHash<QByteArray, TAlertKind> CategoryKinds;  // --category NAME=KIND
    double Rate = 4;                              // single-row alerts per second per category
    int ListIntervalMs = 1000;
    int Burst = 0;
    bool NoAlerts = false;
    std::optional<quint64> Seed;

    QVector<TScriptLine> Script;  // non-empty: played instead of made-up data
    int ScriptIntervalMs = 200;
    bool ScriptOnce = false;
    bool ScriptUnfiltered = false;

    int CloseAfterMs = -1;
    int PingRepliesLimit = -1;  // answer only this many pings per connection; -1: all
    bool Garbage = false;
    TBadFrame BadFrame = TBadFrame::None;
    int FaultConnections = -1;  // garbage and bad frames on the first N connections; -1: all

    bool FaultsApplyTo(int conn) const { return FaultConnections < 0 || conn <= FaultConnections; }
    int ZipBombMiB = 0;    // after the login reply: this many MiB of empty frames, deflated
    int HugeAlertMiB = 0;  // after listen: one alert of about this size
    qint64 Blast = 0;       // after listen: this many alerts of the realistic mix, stamped
    double BlastRate = 0;   // alerts per second of the blast; 0: as fast as the client takes them
    int PostFail = 0;
    int PostDelayMs = 0;

    TAlertKind KindOf(const QByteArray& category) const
    {
        if (auto it = CategoryKinds.find(category); it != CategoryKinds.end())
            return *it;
        return AlertKindFromName(category).value_or(TAlertKind::QuickStrike);
    }
};

