#ifndef TULV_TESTS_SUPPORT_FILTERREFERENCE_H
#define TULV_TESTS_SUPPORT_FILTERREFERENCE_H

// Reference responses for the filter tests, computed from textbook formulas
// (analog prototypes mapped by the bilinear transform, analytic Butterworth
// magnitudes, direct convolution), never from the library's designers.

#include "tests/support/Common.h"
#include "tulv/core/SoundTools.h"

#include <complex>
#include <valarray>
#include <vector>

namespace filtertest {

using namespace testsupport;

// H(e^{jω}) of the rational transfer function with coefficients b and a in
// powers of z^-1, at `hz` for sample rate `fs`.
std::complex<double> response(const std::valarray<double>& b, const std::valarray<double>& a, double hz, double fs);
double responseDb(const std::valarray<double>& b, const std::valarray<double>& a, double hz, double fs);
// Amplitude response of a real FIR.
double firMagnitude(const std::vector<double>& taps, double cyclesPerSample);

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

} // namespace filtertest

#endif
