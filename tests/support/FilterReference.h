#ifndef TULV_TESTS_SUPPORT_FILTERREFERENCE_H
#define TULV_TESTS_SUPPORT_FILTERREFERENCE_H

// References for the FIR tests, computed directly from the taps, never from
// the library's own loops.

#include "tests/support/Common.h"

#include <vector>

namespace filtertest {

using namespace testsupport;

// Amplitude response of a real FIR.
double firMagnitude(const std::vector<double>& taps, double cyclesPerSample);

// y[n] = Σ h[m]·x[n−m], full length x.size() + h.size() − 1.
std::vector<double> convolve(const std::vector<double>& h, const std::vector<double>& x);

} // namespace filtertest

#endif
