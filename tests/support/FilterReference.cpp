#include "tests/support/FilterReference.h"

#include <cmath>

namespace filtertest {

namespace {
constexpr double kPi = 3.14159265358979323846;

// Long double: near z = 1 the terms of a high-order polynomial cancel to
// far below their own size, and double evaluation would blur the response.
std::complex<long double> poly(const std::valarray<double>& c, std::complex<long double> zinv)
{
    std::complex<long double> sum = 0.0L, power = 1.0L;
    for (double v : c) {
        sum += (long double)v * power;
        power *= zinv;
    }
    return sum;
}

// The analog frequency (normalised to the corner) that the bilinear
// transform with prewarping at f0 sends to `hz`.
std::complex<double> analogS(double f0, double hz, double fs)
{
    return { 0.0, std::tan(kPi * hz / fs) / std::tan(kPi * f0 / fs) };
}

double dbOf(std::complex<double> h)
{
    return 20.0 * std::log10(std::abs(h));
}

double prototypeDb(SoundTools::FilterType type, double Q, double A, std::complex<double> s)
{
    const std::complex<double> s2 = s * s;
    switch (type) {
    case SoundTools::LowPass:
        return dbOf(1.0 / (s2 + s / Q + 1.0));
    case SoundTools::HighPass:
        return dbOf(s2 / (s2 + s / Q + 1.0));
    case SoundTools::BandPass:
        return dbOf((s / Q) / (s2 + s / Q + 1.0));
    case SoundTools::BandEq:
        return dbOf((s2 + s * (A / Q) + 1.0) / (s2 + s / (A * Q) + 1.0));
    case SoundTools::LowShelf:
        return dbOf(A * (s2 + (std::sqrt(A) / Q) * s + A) / (A * s2 + (std::sqrt(A) / Q) * s + 1.0));
    case SoundTools::HighShelf:
        return dbOf(A * (A * s2 + (std::sqrt(A) / Q) * s + 1.0) / (s2 + (std::sqrt(A) / Q) * s + A));
    default:
        return NAN;
    }
}
} // namespace

std::complex<double> response(const std::valarray<double>& b, const std::valarray<double>& a, double hz, double fs)
{
    const long double w = -2.0L * 3.141592653589793238462643383279502884L * hz / fs;
    const std::complex<long double> zinv(std::cos(w), std::sin(w));
    const std::complex<long double> h = poly(b, zinv) / poly(a, zinv);
    return { double(h.real()), double(h.imag()) };
}

double responseDb(const std::valarray<double>& b, const std::valarray<double>& a, double hz, double fs)
{
    return dbOf(response(b, a, hz, fs));
}

double firMagnitude(const std::vector<double>& taps, double f)
{
    std::complex<double> sum = 0.0;
    for (size_t n = 0; n < taps.size(); ++n)
        sum += taps[n] * std::polar(1.0, -2.0 * kPi * f * double(n));
    return std::abs(sum);
}

double cookbookWidthDb(SoundTools::FilterType type, double f0, double width, double gainDb, double hz, double fs)
{
    const double A = std::pow(10.0, gainDb / 40.0);
    const double w0 = 2.0 * kPi * f0 / fs;
    double Q;
    if (type == SoundTools::LowShelf || type == SoundTools::HighShelf)
        Q = 1.0 / std::sqrt((A + 1.0 / A) * (1.0 / width - 1.0) + 2.0);
    else
        Q = 1.0 / (2.0 * std::sinh(std::log(2.0) / 2.0 * width * w0 / std::sin(w0)));
    return prototypeDb(type, Q, A, analogS(f0, hz, fs));
}

double cookbookQDb(SoundTools::FilterType type, double f0, double Q, double gainDb, double hz, double fs)
{
    const std::complex<double> s = analogS(f0, hz, fs);
    const std::complex<double> s2 = s * s;
    const double V = std::pow(10.0, std::fabs(gainDb) / 20.0);
    const double sign = gainDb >= 0.0 ? 1.0 : -1.0;
    switch (type) {
    case SoundTools::BandEq:
        return sign * dbOf((s2 + s * (V / Q) + 1.0) / (s2 + s / Q + 1.0));
    case SoundTools::LowShelf:
        return sign * dbOf((s2 + std::sqrt(2.0 * V) * s + V) / (s2 + std::sqrt(2.0) * s + 1.0));
    case SoundTools::HighShelf:
        return sign * dbOf((V * s2 + std::sqrt(2.0 * V) * s + 1.0) / (s2 + std::sqrt(2.0) * s + 1.0));
    default:
        return prototypeDb(type, Q, 1.0, s);
    }
}

double butterworthDb(int order, bool lowPass, double fc, double hz, double fs)
{
    double ratio = std::tan(kPi * hz / fs) / std::tan(kPi * fc / fs);
    if (!lowPass)
        ratio = 1.0 / ratio;
    return -10.0 * std::log10(1.0 + std::pow(ratio, 2.0 * order));
}

double aWeightingDb(double f)
{
    const double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
    auto ra = [&](double x) {
        const double x2 = x * x;
        return f4 * f4 * x2 * x2
            / ((x2 + f1 * f1) * std::sqrt((x2 + f2 * f2) * (x2 + f3 * f3)) * (x2 + f4 * f4));
    };
    return 20.0 * std::log10(ra(f) / ra(1000.0));
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
