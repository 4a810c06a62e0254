#pragma once
// The two sounds the client makes: a chosen wave file and the desktop's default beep.
// Both return at once; nothing here ever blocks the user interface while a sound plays.
// Tests install a recording player so they hear nothing.

#include <QString>
#include <functional>

class TSoundPlayer {
public:
    // Told once when a sound is over: played to its end, cut off by the next sound of the
    // same player, or found unplayable. It may be called from inside the call that started
    // the sound (an instantaneous beep, a file that cannot be opened) or later from the
    // event loop. Empty means nobody needs to know.
    using TFinished = std::function<void()>;

    virtual ~TSoundPlayer() = default;
    // Starts playing the wave file and returns at once. A file that cannot be played is
    // silently ignored: whether a sound was heard never matters to the caller.
    virtual void PlayFile(const QString& path, TFinished finished) = 0;
    // The desktop's default beep.
    virtual void Beep(TFinished finished) = 0;
};

// The player in force: the system player unless a test installed another.
TSoundPlayer& SoundPlayer();

// Installs a player (not owned); nullptr restores the system player.
void SetSoundPlayer(TSoundPlayer* player);

// Installs a player for the life of a scope (tests).
class TScopedSoundPlayer {
public:
    explicit TScopedSoundPlayer(TSoundPlayer* player) { SetSoundPlayer(player); }
    ~TScopedSoundPlayer() { SetSoundPlayer(nullptr); }
    TScopedSoundPlayer(const TScopedSoundPlayer&) = delete;
    TScopedSoundPlayer& operator=(const TScopedSoundPlayer&) = delete;
};
