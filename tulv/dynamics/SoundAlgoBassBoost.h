#ifndef TULV_DYNAMICS_SOUNDALGOBASSBOOST_H
#define TULV_DYNAMICS_SOUNDALGOBASSBOOST_H

#include "tulv/core/SoundAlgoComposite.h"

// A ready-made bass enhancer. The stream is split at the crossover: the low
// band gets harmonics of its own notes (a half-wave rectifier, or a gated
// sawtooth at each channel's period), is low-passed again to keep only the
// lowest of them, and is summed with the high band lowered by the level; a
// limiter with a make-up gain of 0.6 × level then brings the whole up while
// keeping peaks at 0.98. The net effect is a bass raised by about 0.6 × level
// dB and the rest lowered by 0.4 × level dB, with harmonics that make the
// bass audible on small speakers.
class SoundAlgoBassBoost : public SoundAlgoComposite {
    Q_OBJECT
public:
    // `level` dB, frequencies in Hz, `harmonicsFactor` the weight of the
    // rectified or synthesised harmonics; `integrator` selects the gated
    // sawtooth instead of the rectifier.
    SoundAlgoBassBoost(double level = 15.0, double crossover = 100.0, double harmonicsLowPass = 200.0,
                       double harmonicsFactor = 0.5, bool integrator = false);

    // The gated-sawtooth variant (harmonics low pass at twice the crossover,
    // factor 0.1); the caller owns the result.
    static SoundAlgoBassBoost* buildIntegrator(double level, double frequency);
    // The rectifier variant (harmonics low pass at twice the crossover,
    // factor 0.5); the caller owns the result.
    static SoundAlgoBassBoost* buildRectifier(double level, double frequency);

protected:
    ~SoundAlgoBassBoost() override = default;
};

#endif
