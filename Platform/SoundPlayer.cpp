#include "Platform/SoundPlayer.h"

#include <QApplication>
#include <QAudioDevice>
#include <QMediaDevices>
#include <QPointer>
#include <QSoundEffect>
#include <QUrl>

namespace {

class TSystemSoundPlayer : public TSoundPlayer {
public:
    void PlayFile(const QString& path, TFinished finished) override
    {
        // One effect, one voice: starting a sound cuts off the one before, which is over.
        End();
        // Without an audio output the effect would load, say it plays, and never end.
        if (!qApp || QMediaDevices::defaultAudioOutput().isNull()) {
            if (finished)
                finished();
            return;
        }
        // The effect is reused: the same file is chosen again and again, and setting an
        // equal source again does not reload it. QSoundEffect loads and plays in the
        // background. Owned by the application, so it goes before the application does, not
        // after it with the other statics.
        if (!Effect) {
            Effect = new QSoundEffect(qApp);
            // The end of a sound shows as "playing" turning false. A file that fails to
            // load turns the status to Error and drops "playing" without saying so.
            QObject::connect(Effect, &QSoundEffect::playingChanged, Effect, [this] {
                if (!Effect->isPlaying())
                    End();
            });
            QObject::connect(Effect, &QSoundEffect::statusChanged, Effect, [this] {
                if (Effect->status() == QSoundEffect::Error)
                    End();
            });
        }
        // A new source stops what plays; that sound was told above, so this one is taken
        // on only after the change.
        const QUrl url = QUrl::fromLocalFile(path);
        if (Effect->source() != url)
            Effect->setSource(url);
        Finished = std::move(finished);
        Effect->play();
        // A source already known to be bad (or none) does not start at all.
        if (Effect && !Effect->isPlaying())
            End();
    }

    void Beep(TFinished finished) override
    {
        // The beep does not stop a file that is playing; that one still tells its own end.
        QApplication::beep();
        // The beep is instantaneous as far as anyone here can tell.
        if (finished)
            finished();
    }

private:
    void End()
    {
        // Taken out first: the handler may start the next sound.
        TFinished finished = std::move(Finished);
        Finished = nullptr;
        if (finished)
            finished();
    }

    QPointer<QSoundEffect> Effect;
    TFinished Finished;
};

TSoundPlayer* Installed = nullptr;

} // namespace

TSoundPlayer& SoundPlayer()
{
    static TSystemSoundPlayer system;
    return Installed ? *Installed : system;
}

void SetSoundPlayer(TSoundPlayer* player)
{
    Installed = player;
}
