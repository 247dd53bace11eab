#include "tulv/filters/OrderFilterBuilders.h"

#include "tulv/filters/BiquadEqBuilder.h"

#include <QDebug>

#include <cmath>

namespace SoundTools {

namespace {

constexpr double kPi = 3.14159265358979323846;

// Butterworth section qualities, 1/(2·cos((2k+1)π/2n)), as published.
constexpr double kOrder4Q[2] = { 0.5411961, 1.306563 };
constexpr double kOrder6Q[3] = { 0.51763809, 0.70710678, 1.9318517 };

// Multiplies the designed sections of a Butterworth cascade into one filter.
template <size_t Sections>
void butterworthProduct(FilterType type, double freq, const double (&qs)[Sections], unsigned int sampleRate,
                        std::valarray<double>& b, std::valarray<double>& a)
{
    b = std::valarray<double> { 1.0 };
    a = std::valarray<double> { 1.0 };
    for (double q : qs) {
        BiquadEqBuilder section(type, freq, 0.0, 0.0);
        section.setQ(q);
        section.init(sampleRate);
        b = polyProduct(b, section.getBCoeff());
        a = polyProduct(a, section.getACoeff());
    }
}

struct Section {
    std::valarray<double> b;
    std::valarray<double> a;
};

// Bilinear transform without prewarping of H(s) = ωb·s/(s+ωa)².
Section buildCBiquad(double fa, double fb, double fs)
{
    const double K = 2.0 * fs;
    const double wa = 2.0 * kPi * fa;
    const double wb = 2.0 * kPi * fb;
    const double D = (K + wa) * (K + wa);
    return Section { { wb * K / D, 0.0, -wb * K / D },
                     { 1.0, (2.0 * wa * wa - 2.0 * K * K) / D, (K - wa) * (K - wa) / D } };
}

// Bilinear transform without prewarping of H(s) = s²/((s+ωa)(s+ωb)).
Section buildABiquad(double fa, double fb, double fs)
{
    const double K = 2.0 * fs;
    const double wa = 2.0 * kPi * fa;
    const double wb = 2.0 * kPi * fb;
    const double D = K * K + K * wa + K * wb + wa * wb;
    return Section { { K * K / D, -2.0 * K * K / D, K * K / D },
                     { 1.0, (2.0 * wa * wb - 2.0 * K * K) / D, (K * K - K * wa - K * wb + wa * wb) / D } };
}

} // namespace

Order1FilterBuilder::Order1FilterBuilder(FilterType aType, double aFreq)
    : type(aType)
    , freq(aFreq)
{
}

std::shared_ptr<Filter> Order1FilterBuilder::buildFilter(unsigned int sampleRate)
{
    const double K = std::tan(kPi * freq / double(sampleRate));
    const double c = 1.0 / K;
    switch (type) {
    case LowPass:
        return std::make_shared<Order1Filter>(std::valarray<double> { 1.0 / (1.0 + c), 1.0 / (1.0 + c) },
                                              std::valarray<double> { 1.0, (1.0 - c) / (1.0 + c) });
    case HighPass:
        return std::make_shared<Order1Filter>(std::valarray<double> { c, -c }, std::valarray<double> { 1.0 + c, 1.0 - c });
    default:
        qCritical() << "Unsupported FirstOrderFilter Eq mode :" << int(type);
        return std::make_shared<Order1Filter>(std::valarray<double> { 1.0, 0.0 }, std::valarray<double> { 1.0, 0.0 });
    }
}

Order4FilterBuilder::Order4FilterBuilder(FilterType aType, double aFreq)
    : freq(aFreq)
    , type(aType)
{
}

std::shared_ptr<Filter> Order4FilterBuilder::buildFilter(unsigned int sampleRate)
{
    std::valarray<double> b, a;
    butterworthProduct(type, freq, kOrder4Q, sampleRate, b, a);
    return std::make_shared<Order4Filter>(b, a);
}

Order6FilterBuilder::Order6FilterBuilder(FilterType aType, double aFreq)
    : freq(aFreq)
    , type(aType)
{
}

std::shared_ptr<Filter> Order6FilterBuilder::buildFilter(unsigned int sampleRate)
{
    std::valarray<double> b, a;
    butterworthProduct(type, freq, kOrder6Q, sampleRate, b, a);
    return std::make_shared<Order6Filter>(b, a);
}

WeightingFilterBuilder::WeightingFilterBuilder() = default;

std::shared_ptr<Filter> WeightingFilterBuilder::buildFilter(unsigned int sampleRate)
{
    // Analog poles of the A weighting, Hz.
    constexpr double f1 = 20.6, f2 = 107.7, f3 = 737.9, f4 = 12194.0;
    const double fs = double(sampleRate);
    const Section c1 = buildCBiquad(f1, f4, fs);
    const Section c2 = buildCBiquad(f4, f4, fs);
    const Section aSection = buildABiquad(f2, f3, fs);

    // The two factors make +2.0 dB together, which brings 1 kHz to 0 dB.
    std::valarray<double> num = polyProduct(c1.b, c2.b) * std::pow(10.0, 0.0031);
    std::valarray<double> den = polyProduct(c1.a, c2.a);
    num = polyProduct(num, aSection.b) * std::pow(10.0, 0.0969);
    den = polyProduct(den, aSection.a);

    // Keep the coefficients near unity so none of them dominates the sums.
    double largest = 0.0;
    for (double v : num)
        largest = std::max(largest, std::fabs(v));
    for (double v : den)
        largest = std::max(largest, std::fabs(v));
    if (largest > 0.0) {
        num /= largest;
        den /= largest;
    }
    return std::make_shared<Order6Filter>(num, den);
}

} // namespace SoundTools
