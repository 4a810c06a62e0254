#include "Platform/Clock.h"

#include <QElapsedTimer>

namespace {

class TSystemClock : public TClock {
public:
    TSystemClock() { Timer.start(); }
    qint64 MonotonicMs() const override { return Timer.elapsed(); }
    QDateTime LocalNow() const override { return QDateTime::currentDateTime(); }

private:
    QElapsedTimer Timer;
};

TClock* Installed = nullptr;

} // namespace

TClock& Clock()
{
    static TSystemClock system;
    return Installed ? *Installed : system;
}

void SetClock(TClock* clock)
{
    Installed = clock;
}
