#include "tulv/filters/Remez.h"

#include <algorithm>
#include <cmath>

namespace SoundTools {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kTwoPi = 2.0 * kPi;
// Grid points per extremal frequency: finer finds extrema more exactly.
constexpr int kGridDensity = 16;
constexpr int kMaxIterations = 40;
// Relative spread of the error over the extremal set at which the
// alternation counts as equal ripple.
constexpr double kConvergence = 0.0001;

struct Grid {
    std::vector<double> freq; // cycles per sample
    std::vector<double> desired;
    std::vector<double> weight;
    std::vector<int> bandStart; // index of each band's first point
};

// The dense grid: evenly spaced over every band, the last point of a band
// on its upper edge.
Grid denseGrid(int r, const std::vector<RemezBand>& bands)
{
    Grid grid;
    const double delf = 0.5 / (kGridDensity * r);
    for (const RemezBand& band : bands) {
        const int k = std::max(1, int((band.high - band.low) / delf + 0.5));
        grid.bandStart.push_back(int(grid.freq.size()));
        for (int i = 0; i < k; ++i) {
            grid.freq.push_back(band.low + i * delf);
            grid.desired.push_back(band.desired);
            grid.weight.push_back(band.weight);
        }
        grid.freq.back() = band.high;
    }
    return grid;
}

// The equiripple approximation at the present extremal set, in barycentric
// form: the abscissae x = cos 2πf, the weights ad and the values y.
struct Interpolant {
    std::vector<double> x, ad, y;
    double delta = 0.0;

    void fit(int r, const std::vector<int>& ext, const Grid& grid)
    {
        x.resize(size_t(r) + 1);
        ad.resize(size_t(r) + 1);
        y.resize(size_t(r) + 1);
        for (int i = 0; i <= r; ++i)
            x[size_t(i)] = std::cos(kTwoPi * grid.freq[size_t(ext[size_t(i)])]);
        // Products taken in an interleaved order keep their magnitude from
        // running away for long filters.
        const int ld = (r - 1) / 15 + 1;
        for (int i = 0; i <= r; ++i) {
            double denom = 1.0;
            const double xi = x[size_t(i)];
            for (int j = 0; j < ld; ++j)
                for (int k = j; k <= r; k += ld)
                    if (k != i)
                        denom *= 2.0 * (xi - x[size_t(k)]);
            if (std::fabs(denom) < 0.00001)
                denom = 0.00001;
            ad[size_t(i)] = 1.0 / denom;
        }
        double numer = 0.0, denom = 0.0, sign = 1.0;
        for (int i = 0; i <= r; ++i) {
            const size_t e = size_t(ext[size_t(i)]);
            numer += ad[size_t(i)] * grid.desired[e];
            denom += sign * ad[size_t(i)] / grid.weight[e];
            sign = -sign;
        }
        delta = numer / denom;
        sign = 1.0;
        for (int i = 0; i <= r; ++i) {
            const size_t e = size_t(ext[size_t(i)]);
            y[size_t(i)] = grid.desired[e] - sign * delta / grid.weight[e];
            sign = -sign;
        }
    }

    double at(double freq) const
    {
        const double xc = std::cos(kTwoPi * freq);
        double numer = 0.0, denom = 0.0;
        for (size_t i = 0; i < x.size(); ++i) {
            double c = xc - x[i];
            if (std::fabs(c) < 1.0e-7)
                return y[i];
            c = ad[i] / c;
            denom += c;
            numer += c * y[i];
        }
        return numer / denom;
    }
};

// New extremal set: the local extrema of the weighted error, each band's
// ends counting as candidates, then one per run of equal sign (the largest),
// then the smaller end dropped until r + 1 remain. False when fewer than
// r + 1 alternating extrema exist.
bool search(int r, const Grid& grid, const std::vector<double>& E, std::vector<int>& ext)
{
    const int n = int(E.size());
    std::vector<int> band(size_t(n), 0);
    for (size_t b = 0; b < grid.bandStart.size(); ++b)
        std::fill(band.begin() + grid.bandStart[b], band.end(), int(b));
    std::vector<int> found;
    found.reserve(size_t(2 * r + 4));
    for (int i = 0; i < n; ++i) {
        const double e = E[size_t(i)];
        if (e == 0.0)
            continue;
        // Neighbours within the same band only: a band edge is an extremum
        // when the error grows towards it.
        const double none = e > 0.0 ? -HUGE_VAL : HUGE_VAL;
        const double prev = i > 0 && band[size_t(i - 1)] == band[size_t(i)] ? E[size_t(i - 1)] : none;
        const double next = i + 1 < n && band[size_t(i + 1)] == band[size_t(i)] ? E[size_t(i + 1)] : none;
        if ((e > 0.0 && e >= prev && e > next) || (e < 0.0 && e <= prev && e < next))
            found.push_back(i);
    }
    // One extremum per run of the same sign: the largest.
    std::vector<int> alt;
    alt.reserve(found.size());
    for (int i : found) {
        if (!alt.empty() && (E[size_t(alt.back())] > 0.0) == (E[size_t(i)] > 0.0)) {
            if (std::fabs(E[size_t(i)]) > std::fabs(E[size_t(alt.back())]))
                alt.back() = i;
        } else {
            alt.push_back(i);
        }
    }
    if (int(alt.size()) < r + 1)
        return false;
    size_t first = 0, last = alt.size() - 1;
    while (int(last - first + 1) > r + 1) {
        if (std::fabs(E[size_t(alt[first])]) < std::fabs(E[size_t(alt[last])]))
            ++first;
        else
            --last;
    }
    ext.assign(alt.begin() + long(first), alt.begin() + long(last) + 1);
    return true;
}

} // namespace

bool remez(unsigned int taps, const std::vector<RemezBand>& bands, std::vector<double>& h, double maxError)
{
    h.clear();
    if (taps == 0 || bands.empty())
        return false;
    double edge = 0.0;
    for (const RemezBand& band : bands) {
        if (!(band.low >= edge) || !(band.high >= band.low) || !(band.high <= 0.5) || !(band.weight > 0.0))
            return false;
        edge = band.high;
    }
    const int L = int(taps);
    const bool odd = L % 2 == 1;
    // An even-length symmetric filter is zero at half the sample rate: it
    // cannot pass anything there.
    if (!odd && bands.back().high >= 0.5 && bands.back().desired != 0.0)
        return false;
    // Cosine terms of the amplitude response, plus the extremal set's extra point.
    const int r = L / 2 + (odd ? 1 : 0);

    Grid grid = denseGrid(r, bands);
    const int gridSize = int(grid.freq.size());
    if (gridSize < r + 1)
        return false;
    // An even length is forced to zero at half the sample rate: approximate
    // D/cos(πf) with the weight W·cos(πf) instead.
    if (!odd) {
        for (int i = 0; i < gridSize; ++i) {
            const double c = std::cos(kPi * grid.freq[size_t(i)]);
            grid.desired[size_t(i)] /= c;
            grid.weight[size_t(i)] *= c;
        }
    }

    std::vector<int> ext(size_t(r) + 1);
    for (int i = 0; i <= r; ++i)
        ext[size_t(i)] = int((long long)i * (gridSize - 1) / r);

    Interpolant A;
    std::vector<double> E(static_cast<size_t>(gridSize));
    bool converged = false;
    // Per iteration: the error over the whole grid, gridSize × (r + 1) terms.
    for (int iter = 0; iter < kMaxIterations && !converged; ++iter) {
        A.fit(r, ext, grid);
        for (int i = 0; i < gridSize; ++i)
            E[size_t(i)] = grid.weight[size_t(i)] * (grid.desired[size_t(i)] - A.at(grid.freq[size_t(i)]));
        if (!search(r, grid, E, ext))
            break;
        double lo = std::fabs(E[size_t(ext[0])]), hi = lo;
        for (int i = 1; i <= r; ++i) {
            const double e = std::fabs(E[size_t(ext[size_t(i)])]);
            lo = std::min(lo, e);
            hi = std::max(hi, e);
        }
        converged = hi > 0.0 && (hi - lo) / hi < kConvergence;
        if (hi == 0.0)
            converged = true;
    }
    A.fit(r, ext, grid);
    if (!converged) {
        // Per grid point, as one iteration: gridSize × (r + 1) terms.
        double worst = 0.0;
        for (int i = 0; i < gridSize; ++i)
            worst = std::max(worst, std::fabs(grid.weight[size_t(i)] * (grid.desired[size_t(i)] - A.at(grid.freq[size_t(i)]))));
        if (!(worst <= maxError))
            return false;
    }

    // Sample the amplitude response at L frequencies and return to taps.
    std::vector<double> amplitude(size_t(L / 2) + 1);
    for (int i = 0; i <= L / 2; ++i) {
        const double c = odd ? 1.0 : std::cos(kPi * double(i) / L);
        amplitude[size_t(i)] = A.at(double(i) / L) * c;
    }
    h.assign(size_t(L), 0.0);
    const double M = (L - 1.0) / 2.0;
    const int terms = odd ? int(M) : L / 2 - 1;
    for (int n = 0; n < L; ++n) {
        const double x = kTwoPi * (n - M) / L;
        double value = amplitude[0];
        for (int k = 1; k <= terms; ++k)
            value += 2.0 * amplitude[size_t(k)] * std::cos(x * k);
        h[size_t(n)] = value / L;
    }
    return true;
}

} // namespace SoundTools
