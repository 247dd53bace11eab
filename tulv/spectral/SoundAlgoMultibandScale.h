#ifndef TULV_SPECTRAL_SOUNDALGOMULTIBANDSCALE_H
#define TULV_SPECTRAL_SOUNDALGOMULTIBANDSCALE_H

#include "tulv/core/SoundAlgoComposite.h"

#include <vector>

// Fills band b of a multiband tree with a fixed gain of gains[b] dB.
class FrequencyScaleBuilder : public SoundAlgoComposite::FrequencyAlgoBuilder {
public:
    explicit FrequencyScaleBuilder(std::vector<double> gainsDb = {});
    // A band past the gains gets nothing, which makes the tree refuse to run.
    void buildAlgo(SoundAlgoComposite* owner, unsigned int band, const QString& name) override;

    std::vector<double> gains; // dB per band
};

// A graphic equaliser on the IIR band tree: the sound is split at each
// crossover frequency, each band scaled by its own gain and the bands added
// back. With the complementary splitters and every gain at 0 dB the output is
// the input; with the crossover splitter the bands add up to 0 dB away from
// the crossovers and to +3 dB at each of them. The output lines up with the
// input.
class SoundAlgoMultibandScale : public SoundAlgoComposite {
    Q_OBJECT
public:
    // `freqs` ascending, in Hz (K of them); `gains` K + 1 values in dB, from
    // the lowest band. Lists that do not fit are logged as critical, build
    // nothing, and the algorithm refuses to run.
    SoundAlgoMultibandScale(const std::vector<double>& freqs, const std::vector<double>& gains,
                            SoundAlgoComposite::SplitterType splitter);

protected:
    ~SoundAlgoMultibandScale() override;
};

#endif
