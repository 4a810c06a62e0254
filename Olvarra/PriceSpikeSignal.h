#pragma once
// The price-spike signal as the main window plays it: gated by the "Enable Price Spike
// Audible Signal" check box, optionally delayed by the fake-data window's tuning value,
// then the chosen wave file or, when none is chosen, the default beep.
//
// Play() is called by the full top list grid from inside its painting. It only schedules:
// the delay runs on the event loop (a timer, measured on Clock().MonotonicMs()) and the
// sound starts from that timer, asynchronously, so neither painting nor the rest of the
// interface ever waits for a sound.
//
// The main window owns one and installs it:
//     SetPriceSpikeSoundHandler([signal] { signal->Play(); });

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <functional>

class QCheckBox;
class QTimer;

class TPriceSpikeSignal : public QObject {
    Q_OBJECT
public:
    explicit TPriceSpikeSignal(QObject* parent = nullptr);
    ~TPriceSpikeSignal() override;

    // The check box whose own visibility flag (not its window's) and state gate Play().
    // Without a check box Play() is silent.
    void SetCheckBox(QCheckBox* checkBox);
    bool Enabled() const;

    // Empty: the default beep.
    void SetSoundFileName(const QString& fileName) { SoundFileName = fileName; }
    const QString& GetSoundFileName() const { return SoundFileName; }

    // Milliseconds to wait before the sound; <= 0 means none. Default: the SoundDelay of
    // the fake-data window created at start-up (0 once it is closed).
    using TDelaySource = std::function<int()>;
    void SetDelaySource(TDelaySource source);

    // The price-spike signal. Returns at once.
    void Play();
    // "Select Sound": the sound once, now, without delay and whatever the check box says.
    void PlaySample();

    // The timer's handler: sounds every signal whose delay has run out and re-arms the
    // timer for the next. Public so tests with a manual clock can call it.
    void PlayDueSounds();
    int PendingCount() const { return int(Due.size()); }

    // More pending signals than this are dropped: a burst of spikes during a long delay
    // would otherwise pile up sounds that only restart one another.
    static constexpr int PendingLimit = 32;

private:
    void Sound();
    void ArmTimer();

    QPointer<QCheckBox> CheckBox;
    QString SoundFileName;
    TDelaySource DelaySource;
    QList<qint64> Due; // monotonic ms, ascending
    QTimer* Timer = nullptr;
};
