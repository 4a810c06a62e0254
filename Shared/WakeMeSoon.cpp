#include "Shared/WakeMeSoon.h"

#include "Shared/MiscDebugWindows.h"

TWakeMeSoon::TWakeMeSoon(QObject* parent) : QObject(parent) {}

// A queued call aimed at this object dies with it, so an undelivered wake-up is dropped.
TWakeMeSoon::~TWakeMeSoon() = default;

void TWakeMeSoon::Request()
{
    if (Pending)
        return;
    Pending = true;
    // Queued, never direct: the handler must not run inside the code that asked for it.
    QMetaObject::invokeMethod(this, &TWakeMeSoon::WndPrc, Qt::QueuedConnection);
}

void TWakeMeSoon::WndPrc()
{
    // Cleared first, so a request made by the handler schedules one more run.
    Pending = false;
    if (!OnWakeUp)
        return;
    // A copy: the handler may destroy its owner and with it this object and OnWakeUp.
    const std::function<void()> handler = OnWakeUp;
    GuardedCall(QStringLiteral("WakeMeSoon, TWakeMeSoon.WndPrc"), handler);
}
