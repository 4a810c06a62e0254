#include "Olvarra/PriceSpikeSignal.h"

#include "Olvarra/FakeDataUnit.h"
#include "Platform/Clock.h"
#include "Platform/SoundPlayer.h"

#include <QCheckBox>
#include <QTimer>
#include <algorithm>
#include <climits>

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
    if (Due.size() >= PendingLimit)
        return;
    const int delay = DelaySource ? DelaySource() : 0;
    // Even without a delay the sound starts from the timer, never from inside the painting
    // that asked for it.
    const qint64 due = Clock().MonotonicMs() + std::max(delay, 0);
    Due.insert(std::upper_bound(Due.begin(), Due.end(), due), due);
    ArmTimer();
}

void TPriceSpikeSignal::PlaySample()
{
    Sound();
}

void TPriceSpikeSignal::PlayDueSounds()
{
    const qint64 now = Clock().MonotonicMs();
    bool any = false;
    while (!Due.isEmpty() && Due.first() <= now) {
        Due.removeFirst();
        any = true;
    }
    // Signals that fall due together would only restart one another: one sound serves them.
    if (any)
        Sound();
    ArmTimer();
}

void TPriceSpikeSignal::Sound()
{
    // Whether the sound was heard does not matter, and nothing may leave a timer handler.
    try {
        if (SoundFileName.isEmpty())
            SoundPlayer().Beep();
        else
            SoundPlayer().PlayFile(SoundFileName);
    } catch (...) {
    }
}

void TPriceSpikeSignal::ArmTimer()
{
    if (Due.isEmpty()) {
        Timer->stop();
        return;
    }
    const qint64 wait = std::clamp<qint64>(Due.first() - Clock().MonotonicMs(), 0, INT_MAX);
    Timer->start(int(wait));
}
