#ifndef TULV_SPECTRAL_SOUNDFFTAUTOCORREL_H
#define TULV_SPECTRAL_SOUNDFFTAUTOCORREL_H

#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/spectral/SoundAlgoFFT.h"

// Replaces every spectrum by its power spectrum (re² + im², 0): the inverse
// transform of that is the autocorrelation (Wiener–Khinchin). An inverse
// transform right after it writes autocorrelation lags.
class SoundFFTAutocorrel : public SoundAlgoFFT {
public:
    SoundFFTAutocorrel();
    SoundTools::Status process() override;

protected:
    ~SoundFFTAutocorrel() override;
};

// Short-time autocorrelation of a stream: for every block of N/2 frames
// (zero padded to N, so the correlation is linear, not circular), N/2 output
// frames, frame j being the block's Σ x[n]·x[n+j] divided by N/2 − j (by 50
// once N/2 − j < 51), per channel.
class SoundFFTAutocorrelChain : public SoundAlgoComposite {
public:
    explicit SoundFFTAutocorrelChain(unsigned int size = 8192);

protected:
    ~SoundFFTAutocorrelChain() override = default;
};

// Reads an autocorrelation stream (left channel) and outputs, block of 1024
// frames by block, a sine at the period found there: the distance between
// the first two maxima above 0.01 that a negative minimum separates.
// Silence (or no such pattern) gives zeros.
class SoundAutocorrelStats : public SoundAlgo {
public:
    explicit SoundAutocorrelStats(int unused = 0);
    SoundTools::Status process() override;

protected:
    ~SoundAutocorrelStats() override;

private:
    double phase = 0.0;
    [[maybe_unused]] int unused; // kept as given; the processing has no use for it
};

#endif
