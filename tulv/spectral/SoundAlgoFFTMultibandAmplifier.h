#ifndef TULV_SPECTRAL_SOUNDALGOFFTMULTIBANDAMPLIFIER_H
#define TULV_SPECTRAL_SOUNDALGOFFTMULTIBANDAMPLIFIER_H

#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/spectral/SoundAlgoMultibandAmplifier.h"

#include <vector>

// Multiband automatic gain on an FFT band bank: one forward transform, then
// per band, in parallel branches, a linear-phase band filter and an inverse
// transform, and (with a target level other than 0) the band's automatic
// gain and a limiter at 0 dB. The bands are added back and limited once more
// at 0 dB, or handed out one output each.
//
// The band below the first crossover ends there; every band above has its
// lower edge 150 Hz above its crossover, and the transitions of neighbouring
// filters share those 150 Hz: summed, the bands give back the input within
// the filters' ripple away from the crossovers and a little more (under 1 dB
// with 4096-point transforms) between a crossover and 150 Hz above it. The
// filters lag the input by half their length; the bands stay aligned.
class SoundAlgoFFTMultibandAmplifier : public SoundAlgoMultibandAmplifier {
    Q_OBJECT
public:
    // `freqs` ascending, in Hz, more than 150 Hz apart (K of them, K + 1
    // bands); levels in dB (a target of 0 only splits); times in seconds, the
    // release time also being the longest ramp of the band gains; `detector`
    // may be null; `fftSize` a power of two; `sumBands` false gives K + 1
    // outputs. Crossovers that do not fit are logged as critical, build
    // nothing, and the algorithm refuses to run.
    SoundAlgoFFTMultibandAmplifier(const std::vector<double>& freqs, double targetLevel, double lookAheadTime,
                                   double releaseTime, RMSStepDetector* detector, unsigned int fftSize,
                                   bool sumBands);

protected:
    ~SoundAlgoFFTMultibandAmplifier() override;
};

#endif
