#ifndef TULV_SPECTRAL_FFTA_H
#define TULV_SPECTRAL_FFTA_H

#include <valarray>
#include <vector>

// Discrete Fourier transforms of power-of-two size, shaped for stereo audio.
//
// Layouts (all doubles):
// - stereo block: N frames of (left, right), 2N values;
// - half spectrum: bins 0 … N/2 as (re, im), N + 2 values; bin k is k·fs/N;
// - stereo spectrum: the left half spectrum, then the right one (2N + 4
//   values; the right channel's bin k starts at N + 2 + 2k).
// Forward transforms are unscaled (kernel e^(−2πi·kn/N)); the inverse
// divides by N, so inverse(forward(x)) gives x back.
class FFTA {
public:
    virtual ~FFTA() = default;
    // Both channels in one complex transform: left as the real part, right
    // as the imaginary part, split into the two half spectra afterwards.
    virtual void forwardStereo(const double* block, double* spectrum) = 0;
    virtual void inverseStereo(const double* spectrum, double* block) = 0;
    // N real samples to one half spectrum.
    virtual void forwardReal(const double* samples, double* spectrum) = 0;
    virtual void setSize(int n) { size = n; }
    int getSize() const { return size; }

protected:
    int size = 0;
};

// Iterative radix-2 decimation in time. Everything a transform needs (the
// bit-reversal order, the twiddles of every stage laid out in the order the
// butterflies read them, the work area) is built by setSize, once per size:
// a transform computes no trigonometry and allocates nothing. One engine
// serves one thread at a time.
class FFTARadix2 : public FFTA {
public:
    FFTARadix2() = default;
    explicit FFTARadix2(unsigned int n);
    ~FFTARadix2() override;
    FFTARadix2(const FFTARadix2&) = delete;
    FFTARadix2& operator=(const FFTARadix2&) = delete;

    // n must be a power of two (at least 2). The same size again costs nothing.
    void setSize(int n) override;
    void forwardStereo(const double* block, double* spectrum) override;
    void inverseStereo(const double* spectrum, double* block) override;
    void forwardReal(const double* samples, double* spectrum) override;

private:
    // Puts n complex values (interleaved, or real ones) into the split work
    // area in bit-reversed order.
    void loadBitReversed(const double* values, bool realOnly);
    // The transform of n complex values (interleaved, or real ones) into the
    // split work area, in natural order.
    void transform(const double* values, bool realOnly);

    std::valarray<double> cosTable; // cos(2πk/N), k < N/2
    std::valarray<double> sinTable; // sin(2πk/N), k < N/2
    int bits = 0;
    std::valarray<int> bitReverse;
    // The real parts of the N work values, then (a few doubles on) their
    // imaginary parts, then room for N interleaved values being prepared.
    // Split storage lets a butterfly loop run over several values per
    // vector instruction.
    double* work = nullptr;
    int workCapacity = 0;
    // Twiddles of the stages from length 8 up, in the order the passes read
    // them (see setSize).
    std::vector<double> stageTwiddles;
};

#endif
