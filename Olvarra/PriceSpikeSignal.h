#pragma once
// The price-spike signal as the main window plays it: gated by the "Enable Price Spike
// Audible Signal" check box, optionally delayed by the fake-data window's tuning value,
// then the chosen wave file or, when none is chosen, the default beep.
//
// Play() is called by the full top list grid from inside its painting. It only queues: each
// spike waits for its own delay (measured on Clock().MonotonicMs() from the moment of that
// spike) and for the sound before it to finish, so every symbol that turns yellow is heard
// in full, one after another. Sounds start from a timer on the event loop and play
// asynchronously, so neither painting nor the rest of the interface ever waits for one.
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
    // It cuts off a spike's sound that is playing; waiting spikes follow after it.
    void PlaySample();

    // The timer's handler: starts the first waiting signal when nothing plays and its delay
    // has run out, and re-arms the timer. Public so tests with a manual clock can call it.
    void PlayDueSounds();
    // Signals waiting (for their delay or for the sound before them), not the one playing.
    int PendingCount() const { return int(Due.size()); }
    bool IsPlaying() const { return Playing; }

    // Signals beyond this many waiting are dropped, and the debug window is told how many
    // once the queue has room again: a burst of spikes would otherwise pile up minutes of
    // sound that only lags behind the screen.
    static constexpr int PendingLimit = 32;
    // A sound whose end the player has not reported after this long counts as over, so a
    // player that never tells cannot silence every later spike.
    static constexpr int LongestSoundMs = 60'000;

private:
    void Start();
    void Finished(quint64 serial);
    void ReportDropped();
    void ArmTimer();

    QPointer<QCheckBox> CheckBox;
    QString SoundFileName;
    TDelaySource DelaySource;
    QList<qint64> Due; // monotonic ms, ascending; equal times keep the order of their spikes
    bool Playing = false;
    qint64 PlayingSince = 0;
    quint64 Serial = 0; // of the sound started last; an older sound's end is no news
    int Dropped = 0;    // since the queue was last found full
    QTimer* Timer = nullptr;
};
