#ifndef TULV_PLAYBACK_SOUNDPLAYERQT_H
#define TULV_PLAYBACK_SOUNDPLAYERQT_H

#include "tulv/playback/SoundPlayer.h"

#include <QAudio>
#include <QElapsedTimer>

class QAudioOutput;

// The player on Qt Multimedia: the default audio output pulls 16-bit stereo
// PCM from the device and notifies every 500 ms.
class SoundPlayerQt : public SoundPlayer {
    Q_OBJECT
public:
    SoundPlayerQt(std::shared_ptr<SoundReader> reader, SoundAlgo* algorithm, bool defaultEqualizer);
    ~SoundPlayerQt() override;

    // Starts processing ahead of playback.
    void preload() override;
    // When no output can be opened: a diagnostic line, and
    // playingHasFinished(false).
    void start() override;
    void stop() override;

public Q_SLOTS:
    void endOfData() override;

private Q_SLOTS:
    void audioStatusChanged(QAudio::State state);
    void notified();

private:
    QAudioOutput* mOutput;
    // playingHasFinished is reported once per start.
    std::atomic<bool> mFinishReported { false };
    // Wall time since the output became active: what has been heard.
    QElapsedTimer mPlayClock;
};

#endif
