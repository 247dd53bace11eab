#ifndef TULV_DYNAMICS_SOUNDALGOFWINTEGRATOR_H
#define TULV_DYNAMICS_SOUNDALGOFWINTEGRATOR_H

#include "tulv/core/SoundAlgo.h"

// Turns each channel into a sawtooth at the signal's own period: the running
// sum of |x| restarts at every upward zero crossing and is scaled by the
// largest sum seen, giving a ramp from -scale to +scale per period. Fed with a
// low band, it synthesises a tone rich in harmonics of the fundamental.
class SoundAlgoFWIntegrator : public SoundAlgo {
    Q_OBJECT
public:
    explicit SoundAlgoFWIntegrator(double scale = 0.05);

    SoundTools::Status process() override;

protected:
    ~SoundAlgoFWIntegrator() override = default;
    // One frame ahead: a zero crossing is seen before the frame after it.
    unsigned int getInOverlap(unsigned int /*sampleRate*/) const override { return 1; }
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;

private:
    double mSum[2] = { 0.0, 0.0 }; // running sums of |x| since the last crossing
    double mMax[2] = { 1.0, 1.0 }; // largest sums seen over the object's life
    double mScale; // peak amplitude of the output ramp
};

#endif
