#ifndef TULV_FILTERS_REMEZ_H
#define TULV_FILTERS_REMEZ_H

#include <limits>
#include <vector>

namespace SoundTools {

// One band of a linear-phase FIR design: edges in cycles per sample
// (0 … 0.5), the amplitude wanted inside and the weight of its error.
struct RemezBand {
    double low;
    double high;
    double desired;
    double weight;
};

// Parks–McClellan design by the Remez exchange of an even-symmetric
// (band-pass kind) FIR of `taps` coefficients that minimises the largest
// weighted error over the bands. Bands must be ascending, inside [0, 0.5],
// of non-negative width and not overlapping; an even `taps` cannot ask for
// anything but 0 at half the sample rate. Returns false (and leaves
// `h` empty) when the bands cannot be designed, or when the exchange does
// not converge within the iteration limit and leaves a weighted error above
// `maxError` somewhere on the bands (long designs can go astray numerically).
bool remez(unsigned int taps, const std::vector<RemezBand>& bands, std::vector<double>& h,
           double maxError = std::numeric_limits<double>::infinity());

} // namespace SoundTools

#endif
