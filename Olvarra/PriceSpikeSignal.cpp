#include "Olvarra/PriceSpikeSignal.h"

#include "Olvarra/FakeDataUnit.h"
#include "Platform/Clock.h"
#include "Platform/SoundPlayer.h"
#include "Shared/MiscDebugWindows.h"

#include <QCheckBox>
#include <QTimer>
#include <algorithm>
#include <climits>
#include <utility>

TPriceSpikeSignal::TPriceSpikeSignal(QObject* parent) : QObject(parent), DelaySource(&StartSoundDelay)
{
    Timer = new QTimer(this);
    Timer->setSingleShot(true);
    // A precise timer never fires early, so a 500 ms delay is at least 500 ms.
    Timer->setTimerType(Qt::PreciseTimer);
    connect(Timer, &QTimer::timeout, this, &TPriceSpikeSignal::PlayDueSounds);
}

TPriceSpikeSignal::~TPriceSpikeSignal() = default;

void TPriceSpikeSignal::SetCheckBox(QCheckBox* checkBox)
{
    CheckBox = checkBox;
}

bool TPriceSpikeSignal::Enabled() const
{
    // The box's own flag, not isVisible(): a minimised or hidden main window still means
    // the trader switched the signal on.
    return CheckBox && !CheckBox->isHidden() && CheckBox->isChecked();
}

void TPriceSpikeSignal::SetDelaySource(TDelaySource source)
{
    DelaySource = std::move(source);
}

void TPriceSpikeSignal::Play()
{
    if (!Enabled())
        return;
    if (Due.size() >= PendingLimit) {
        ++Dropped;
        return;
    }
    // The delay counts from this spike, not from the end of the sound before it.
    const int delay = DelaySource ? DelaySource() : 0;
    const qint64 due = Clock().MonotonicMs() + std::max(delay, 0);
    Due.insert(std::upper_bound(Due.begin(), Due.end(), due), due);
    // Even without a delay the sound starts from the timer, never from inside the painting
    // that asked for it.
    ArmTimer();
}

void TPriceSpikeSignal::PlaySample()
{
    Start();
    ArmTimer();
}

void TPriceSpikeSignal::PlayDueSounds()
{
    const qint64 now = Clock().MonotonicMs();
    if (Playing && now - PlayingSince >= LongestSoundMs)
        Playing = false;
    if (!Playing && !Due.isEmpty() && Due.first() <= now) {
        Due.removeFirst();
        ReportDropped();
        Start();
    }
    ArmTimer();
}

void TPriceSpikeSignal::Start()
{
    const quint64 serial = ++Serial;
    Playing = true;
    PlayingSince = Clock().MonotonicMs();
    // The player may tell the end from inside this call (the beep), later from the event
    // loop, or after this object is gone.
    QPointer<TPriceSpikeSignal> self(this);
    auto finished = [self, serial] {
        if (self)
            self->Finished(serial);
    };
    // Whether the sound was heard does not matter, and nothing may leave a timer handler.
    try {
        if (SoundFileName.isEmpty())
            SoundPlayer().Beep(finished);
        else
            SoundPlayer().PlayFile(SoundFileName, finished);
    } catch (...) {
        if (serial == Serial)
            Playing = false;
    }
}

void TPriceSpikeSignal::Finished(quint64 serial)
{
    if (serial != Serial || !Playing)
        return;
    Playing = false;
    // The next sound starts from the timer, not from inside the player's notification.
    ArmTimer();
}

void TPriceSpikeSignal::ReportDropped()
{
    if (Dropped == 0)
        return;
    const int dropped = std::exchange(Dropped, 0);
    try {
        DebugOutput(QStringLiteral("Price spike sound: %1 signal(s) dropped, %2 were already waiting.")
                        .arg(dropped)
                        .arg(PendingLimit));
    } catch (...) {
    }
}

void TPriceSpikeSignal::ArmTimer()
{
    const qint64 now = Clock().MonotonicMs();
    qint64 wake;
    if (Playing)
        wake = PlayingSince + LongestSoundMs; // the finish normally comes first
    else if (!Due.isEmpty())
        wake = Due.first();
    else {
        Timer->stop();
        return;
    }
    Timer->start(int(std::clamp<qint64>(wake - now, 0, INT_MAX)));
}
