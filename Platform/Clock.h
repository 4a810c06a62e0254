#pragma once
// The one injectable clock of the process.
//
// Intervals (ping schedule, watchdog, Bollinger expiry, re-sort interval, sound delay) are
// measured on MonotonicMs(), so a wall-clock change (daylight saving, a time sync) can neither
// stall them nor fire them early. LocalNow() is only for what the user reads.
//
// Tests install a TManualClock and move time forward instead of sleeping.

#include <QDateTime>
#include <QtGlobal>

class TClock {
public:
    virtual ~TClock() = default;
    // Milliseconds on a clock that never goes backwards; the origin is arbitrary.
    virtual qint64 MonotonicMs() const = 0;
    // The same clock read cheaply, for what is read once per alert and needs only its second
    // or its turn: a few milliseconds behind MonotonicMs() at most, never ahead of it, and
    // never going backwards itself.
    virtual qint64 RoughMonotonicMs() const { return MonotonicMs(); }
    // Local date and time, for display.
    virtual QDateTime LocalNow() const = 0;
};

// The clock in force: the system clock unless a test installed another.
TClock& Clock();

// Installs a clock (not owned); nullptr restores the system clock.
void SetClock(TClock* clock);

class TManualClock : public TClock {
public:
    explicit TManualClock(qint64 startMs = 1'000'000,
                          QDateTime local = QDateTime(QDate(2026, 3, 2), QTime(9, 30, 0)))
        : Now(startMs), Local(std::move(local)) {}

    qint64 MonotonicMs() const override { return Now; }
    QDateTime LocalNow() const override { return Local; }

    // Moves both clocks forward together.
    void Advance(qint64 ms) { Now += ms; Local = Local.addMSecs(ms); }
    // Moves only the wall clock, as a time sync or a daylight-saving change would.
    void SetLocal(const QDateTime& local) { Local = local; }

private:
    qint64 Now;
    QDateTime Local;
};

// Installs a clock for the life of a scope (tests).
class TScopedClock {
public:
    explicit TScopedClock(TClock* clock) { SetClock(clock); }
    ~TScopedClock() { SetClock(nullptr); }
    TScopedClock(const TScopedClock&) = delete;
    TScopedClock& operator=(const TScopedClock&) = delete;
};
