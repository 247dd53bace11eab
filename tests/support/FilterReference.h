#ifndef TULV_TESTS_SUPPORT_FILTERREFERENCE_H
#define TULV_TESTS_SUPPORT_FILTERREFERENCE_H

// Reference responses for the filter tests, computed from textbook formulas
// (analog prototypes mapped by the bilinear transform, analytic Butterworth
// magnitudes, direct convolution), never from the library's designers.

#include "tulv/core/SoundAlgo.h"
#include "tulv/core/SoundTools.h"

#include <QStringList>
#include <QtGlobal>

#include <complex>
#include <memory>
#include <valarray>
#include <vector>

namespace filtertest {

// H(e^{jω}) of the rational transfer function with coefficients b and a in
// powers of z^-1, at `hz` for sample rate `fs`.
std::complex<double> response(const std::valarray<double>& b, const std::valarray<double>& a, double hz, double fs);
double responseDb(const std::valarray<double>& b, const std::valarray<double>& a, double hz, double fs);
// Amplitude response of a real FIR.
double firMagnitude(const std::vector<double>& taps, double cyclesPerSample);

double toDb(double magnitude);

// The Audio EQ Cookbook's analog prototypes, evaluated at the analog
// frequency that the bilinear transform maps `hz` to (the corner/centre is
// mapped onto itself). Width form: bandwidth in octaves (turned into Q by
// the cookbook's 1/Q = 2·sinh(ln2/2·BW·ω0/sin ω0)) or the shelf slope S.
double cookbookWidthDb(SoundTools::FilterType type, double f0, double width, double gainDb, double hz, double fs);
// Q form: the same prototypes with Q given; shelves are the second-order
// Butterworth shelves of Zölzer (gain V on one side, 1 on the other).
double cookbookQDb(SoundTools::FilterType type, double f0, double Q, double gainDb, double hz, double fs);

// |H|² = 1/(1 + (Ω/Ωc)^(2n)) with Ω = tan(π f/fs) (prewarped), in dB; for a
// high pass Ω/Ωc is inverted.
double butterworthDb(int order, bool lowPass, double fc, double hz, double fs);

// IEC 61672 A weighting: the analytic curve, normalised to 0 dB at 1 kHz.
double aWeightingDb(double hz);

// y[n] = Σ h[m]·x[n−m], full length x.size() + h.size() − 1.
std::vector<double> convolve(const std::vector<double>& h, const std::vector<double>& x);

// Reproducible white noise in [−amplitude, amplitude].
std::vector<double> noise(size_t count, unsigned int seed, double amplitude = 0.5);

// Interleaved stereo from two channels.
std::vector<double> interleave(const std::vector<double>& left, const std::vector<double>& right);
std::vector<double> channel(const std::vector<double>& interleaved, int which);

// Interleaved stereo white noise, the channels independent.
std::vector<double> stereoNoise(size_t frames, unsigned int seed);

// An algorithm is released, never deleted.
struct Release {
    void operator()(SoundAlgo* a) const { a->release(); }
};
template <typename T>
using AlgoPtr = std::unique_ptr<T, Release>;

// The whole of `interleaved` through the algorithm's block loop; what it wrote.
std::vector<double> runThrough(SoundAlgo& algo, const std::vector<double>& interleaved, unsigned int rate = 44100);
bool sameBits(const std::vector<double>& a, const std::vector<double>& b);

// Qt messages logged while it lives, as "W:", "C:" or "O:" followed by the text.
class MessageCapture {
public:
    MessageCapture();
    ~MessageCapture();
    const QStringList& lines() const;

private:
    QtMessageHandler mPrevious;
};

} // namespace filtertest

#endif
