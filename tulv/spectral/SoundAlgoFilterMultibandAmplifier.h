#ifndef TULV_SPECTRAL_SOUNDALGOFILTERMULTIBANDAMPLIFIER_H
#define TULV_SPECTRAL_SOUNDALGOFILTERMULTIBANDAMPLIFIER_H

#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/spectral/SoundAlgoMultibandAmplifier.h"

#include <vector>

// Fills every band of a multiband amplifier's tree with an automatic gain
// aimed at the target plus the band's offset, and, below the top band, a
// limiter at 0 dB. Made and used by SoundAlgoFilterMultibandAmplifier.
class FrequencyRMSAmplifierBuilder : public SoundAlgoComposite::FrequencyAlgoBuilder {
public:
    void buildAlgo(SoundAlgoComposite* owner, unsigned int band, const QString& name) override;

    std::vector<double> bandOffsets; // dB per band, or empty for none
    double targetLevel = 0.0; // dB
    double lookAheadTime = 0.0; // s, of the band limiters
    double releaseTime = 0.0; // s, of the band limiters
    double maxRampTime = 0.0; // s, of the band amplifiers
    double range = 0.0; // dB under the target that the output never falls below
    RMSStepDetector* detector = nullptr; // regions the amplifiers follow, may be null
    int smoothing = 0;
    unsigned int bandCount = 0; // crossover frequencies: the top band is bandCount
    SoundAlgoMultibandAmplifier* owner = nullptr; // collects the amplifiers and limiters
};

// Multiband automatic gain on the IIR band tree: the sound is split at each
// crossover frequency by the chosen splitter, each band is brought to the
// target level (plus its offset) over the detector's regions and limited at
// 0 dB, and the bands are added back and limited once more at -0.3 dB, which
// keeps a margin under full scale after the sum. The band amplifiers never
// raise a band by more than 30 dB. The output lines up with the input.
class SoundAlgoFilterMultibandAmplifier : public SoundAlgoMultibandAmplifier {
    Q_OBJECT
public:
    // `freqs` ascending, in Hz (K of them, K + 1 bands); levels in dB; times
    // in seconds; `detector` may be null (each band is then a fixed gain of
    // its target level); `bandOffsets` empty or K + 1 values in dB. A list
    // that does not fit is logged as critical, builds nothing, and the
    // algorithm refuses to run.
    SoundAlgoFilterMultibandAmplifier(const std::vector<double>& freqs, double targetLevel, double lookAheadTime,
                                      double releaseTime, double maxRampTime, RMSStepDetector* detector,
                                      SoundAlgoComposite::SplitterType splitter, int smoothing, double range,
                                      const std::vector<double>& bandOffsets);

protected:
    ~SoundAlgoFilterMultibandAmplifier() override;
};

#endif
