#pragma once

#include <QString>

namespace casalux {

// Plays a sound file without waiting for it to finish. A missing file or a
// machine without sound is silent, never an error.
class SoundPlayer {
public:
    virtual ~SoundPlayer() = default;
    virtual void play(const QString& path) = 0;
};

// Hands the file to the first sound command found on the PATH (pw-play,
// paplay, aplay), detached, so nothing waits on the sound system.
class CommandSoundPlayer final : public SoundPlayer {
public:
    void play(const QString& path) override;
};

class SilentSoundPlayer final : public SoundPlayer {
public:
    void play(const QString&) override {}
};

} // namespace casalux
