#ifndef TULV_SPECTRAL_SOUNDALGOFFTFILTER_H
#define TULV_SPECTRAL_SOUNDALGOFFTFILTER_H

#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/filters/Remez.h"
#include "tulv/spectral/SoundAlgoFFT.h"

#include <vector>

// A linear-phase FIR low pass, high pass, band pass or band stop applied in
// the frequency domain: every spectrum is multiplied by the response of a
// Parks–McClellan design of up to N/2 + 1 taps (always an odd count, which
// a high pass or band stop needs). The design is made when a run starts, at
// the run's sample rate and the transform size of the stream.
//
// Timing: the output is the causal convolution with the taps, so it lags the
// input by (taps − 1)/2 frames; the filter declares no delay.
class SoundAlgoFFTFilter : public SoundAlgoFFT {
public:
    // Edges in Hz: freq1 is the corner of a low or high pass and the lower
    // edge of a band; freq2 the upper edge of a band (unused otherwise).
    SoundAlgoFFTFilter(SoundTools::FilterType type, double freq1, double freq2);

    SoundTools::Status process() override;

    // Taps of a design at transform size `size`: the count the ripple
    // targets ask for, limited to size/2 + 1.
    static unsigned int getTapCount(unsigned int size);
    // The bands handed to the designer at this sample rate: edges in cycles
    // per sample, every band of positive width.
    std::vector<SoundTools::RemezBand> getBands(unsigned int sampleRate) const;
    // The taps of the present run, in convolution order; empty before the
    // first run starts.
    const std::vector<double>& getTaps() const { return taps; }

    SoundTools::FilterType getType() const { return type; }
    double getFreq1() const { return freq1; }
    double getFreq2() const { return freq2; }

protected:
    ~SoundAlgoFFTFilter() override;

    SoundTools::Status onInitInputBuffer() override;
    void endProcess(int status, unsigned int frameNBProcessed) override;

private:
    void FillFilter();

    double freq1;
    double freq2;
    SoundTools::FilterType type;
    std::vector<double> response; // N/2 + 1 complex bins; empty until designed
    std::vector<double> taps;
};

// The ready chain direct transform (with overlap) → FFT filter → inverse
// transform: a long linear-phase FIR at the cost of a few transforms per
// N/2 frames.
class SoundAlgoEqFFT : public SoundAlgoComposite {
public:
    SoundAlgoEqFFT(SoundTools::FilterType type, double freq1, double freq2, unsigned int size);

    SoundAlgoFFTFilter* getFilter() const { return filter; }

protected:
    ~SoundAlgoEqFFT() override = default;

private:
    SoundAlgoFFTFilter* filter;
};

#endif
