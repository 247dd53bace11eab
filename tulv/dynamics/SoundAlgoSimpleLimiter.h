#ifndef TULV_DYNAMICS_SOUNDALGOSIMPLELIMITER_H
#define TULV_DYNAMICS_SOUNDALGOSIMPLELIMITER_H

#include "tulv/core/SoundAlgo.h"

// Minimal look-ahead limiter without make-up gain: when a peak ahead would
// pass full scale, the gain slides down over the look-ahead so that the peak
// comes out at 0.99. The gain only ever goes down, and it is kept from one
// run to the next. Output frame p comes from input frame p.
class SoundAlgoSimpleLimiter : public SoundAlgo {
    Q_OBJECT
public:
    explicit SoundAlgoSimpleLimiter(double lookAheadTime);

    SoundTools::Status process() override;

    // The peak that a limited frame is brought to.
    static constexpr double sCeiling = 0.99;

protected:
    ~SoundAlgoSimpleLimiter() override = default;
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;

private:
    double mLookAheadTime; // s
    int mLookAheadFrames = 0; // L
    double mCoeff = 1.0; // gain of the present frame
    double mTarget = 1.0; // gain the ramp heads for
    double mStep = 0.0; // gain change per frame of the ramp
    int mFramesLeft = 0; // frames of ramp left
};

#endif
