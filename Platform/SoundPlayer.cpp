#include "Platform/SoundPlayer.h"

#include <QApplication>
#include <QSoundEffect>
#include <QUrl>
#include <QPointer>

namespace {

class TSystemSoundPlayer : public TSoundPlayer {
public:
    void PlayFile(const QString& path) override
    {
        // One effect, reused: the same file is chosen again and again, and setting an equal
        // source again does not reload it. QSoundEffect loads and plays in the background.
        // Owned by the application, so it goes before the application does, not after it
        // with the other statics.
        if (!Effect) {
            if (!qApp)
                return;
            Effect = new QSoundEffect(qApp);
        }
        const QUrl url = QUrl::fromLocalFile(path);
        if (Effect->source() != url)
            Effect->setSource(url);
        Effect->play();
    }

    void Beep() override { QApplication::beep(); }

private:
    QPointer<QSoundEffect> Effect;
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
