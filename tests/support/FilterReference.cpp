#include "tests/support/FilterReference.h"

#include <cmath>
#include <complex>

namespace filtertest {

double firMagnitude(const std::vector<double>& taps, double f)
{
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < taps.size(); ++n)
        sum += taps[n] * std::polar(1.0, -2.0 * M_PI * f * double(n));
    return std::abs(sum);
}

std::vector<double> convolve(const std::vector<double>& h, const std::vector<double>& x)
{
    if (h.empty() || x.empty())
        return {};
    std::vector<double> y(x.size() + h.size() - 1, 0.0);
    for (size_t n = 0; n < y.size(); ++n) {
        long double sum = 0.0L;
        for (size_t m = 0; m < h.size(); ++m)
            if (n >= m && n - m < x.size())
                sum += (long double)h[m] * x[n - m];
        y[n] = double(sum);
    }
    return y;
}

} // namespace filtertest
