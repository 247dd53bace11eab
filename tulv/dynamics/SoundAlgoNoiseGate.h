#ifndef TULV_DYNAMICS_SOUNDALGONOISEGATE_H
#define TULV_DYNAMICS_SOUNDALGONOISEGATE_H

#include "tulv/core/SoundAlgo.h"

// Silences the stream while the RMS of a window that starts at the present
// frame stays below a threshold. The gate opens at once when signal enters
// the window, so attacks are never cut, and closes linearly over the release
// time once the window has become quiet.
class SoundAlgoNoiseGate : public SoundAlgo {
    Q_OBJECT
public:
    // Threshold in dB (amplitude), times in seconds.
    SoundAlgoNoiseGate(double threshold, double releaseTime, double windowTime);

    // Takes effect at the next frame; safe only between blocks.
    void SetThreshold(double threshold);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoNoiseGate() override = default;
    // The window, made odd so that it has a middle frame.
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;

private:
    double mReleaseTime; // s
    double mWindowTime; // s
    double mGain = 1.0; // linear gain of the present frame
    double mReleaseStep = 0.1; // gain fall per frame while closing
    double mThreshold; // linear amplitude
};

#endif
