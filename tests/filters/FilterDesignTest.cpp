// Designers against textbook responses: the Audio EQ Cookbook's analog
// prototypes, analytic Butterworth magnitudes, the IEC 61672 A-weighting
// table, and the band arithmetic of get_fco / get_minmax.
#include "tests/support/Common.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <vector>

using namespace SoundTools;

namespace {

// The references are textbook formulas, never the library's designers.

// 20·log10 |H(e^{jω})| of the filter at `hz`. Long double: near z = 1 the
// terms of a high-order polynomial cancel to far below their own size, and
// double evaluation would blur the response.
double responseDb(const Filter& f, double hz, double fs)
{
    const long double w = -2.0L * M_PIl * hz / fs;
    const std::complex<long double> zinv(std::cos(w), std::sin(w));
    std::complex<long double> sums[2];
    for (int k = 0; k < 2; ++k) {
        std::complex<long double> power = 1.0L;
        for (double v : k ? f.getA() : f.getB()) {
            sums[k] += (long double)v * power;
            power *= zinv;
        }
    }
    return 20.0 * std::log10(double(std::abs(sums[0] / sums[1])));
}

double dbOf(std::complex<double> h)
{
    return 20.0 * std::log10(std::abs(h));
}

// The Audio EQ Cookbook's analog prototypes, evaluated at the analog
// frequency s (normalised to the corner) that the bilinear transform with
// prewarping at f0 sends `hz` to.
std::complex<double> analogS(double f0, double hz, double fs)
{
    return { 0.0, std::tan(M_PI * hz / fs) / std::tan(M_PI * f0 / fs) };
}

double prototypeDb(FilterType type, double Q, double A, std::complex<double> s)
{
    const std::complex<double> s2 = s * s;
    switch (type) {
    case LowPass:
        return dbOf(1.0 / (s2 + s / Q + 1.0));
    case HighPass:
        return dbOf(s2 / (s2 + s / Q + 1.0));
    case BandPass:
        return dbOf((s / Q) / (s2 + s / Q + 1.0));
    case BandEq:
        return dbOf((s2 + s * (A / Q) + 1.0) / (s2 + s / (A * Q) + 1.0));
    case LowShelf:
        return dbOf(A * (s2 + (std::sqrt(A) / Q) * s + A) / (A * s2 + (std::sqrt(A) / Q) * s + 1.0));
    case HighShelf:
        return dbOf(A * (A * s2 + (std::sqrt(A) / Q) * s + 1.0) / (s2 + (std::sqrt(A) / Q) * s + A));
    default:
        return NAN;
    }
}

// Width form: bandwidth in octaves (turned into Q by the cookbook's
// 1/Q = 2·sinh(ln2/2·BW·ω0/sin ω0)) or the shelf slope S.
double cookbookWidthDb(FilterType type, double f0, double width, double gainDb, double hz, double fs)
{
    const double A = std::pow(10.0, gainDb / 40.0), w0 = 2.0 * M_PI * f0 / fs;
    const double Q = type == LowShelf || type == HighShelf
        ? 1.0 / std::sqrt((A + 1.0 / A) * (1.0 / width - 1.0) + 2.0)
        : 1.0 / (2.0 * std::sinh(std::log(2.0) / 2.0 * width * w0 / std::sin(w0)));
    return prototypeDb(type, Q, A, analogS(f0, hz, fs));
}

// Q form: the same prototypes with Q given; shelves are the second-order
// Butterworth shelves of Zölzer (gain V on one side, 1 on the other).
double cookbookQDb(FilterType type, double f0, double Q, double gainDb, double hz, double fs)
{
    const std::complex<double> s = analogS(f0, hz, fs), s2 = s * s;
    const double V = std::pow(10.0, std::fabs(gainDb) / 20.0), sign = gainDb >= 0.0 ? 1.0 : -1.0;
    switch (type) {
    case BandEq:
        return sign * dbOf((s2 + s * (V / Q) + 1.0) / (s2 + s / Q + 1.0));
    case LowShelf:
        return sign * dbOf((s2 + std::sqrt(2.0 * V) * s + V) / (s2 + std::sqrt(2.0) * s + 1.0));
    case HighShelf:
        return sign * dbOf((V * s2 + std::sqrt(2.0 * V) * s + 1.0) / (s2 + std::sqrt(2.0) * s + 1.0));
    default:
        return prototypeDb(type, Q, 1.0, s);
    }
}

// |H|² = 1/(1 + (Ω/Ωc)^(2n)) with Ω = tan(π f/fs) (prewarped), in dB; for a
// high pass Ω/Ωc is inverted.
double butterworthDb(int order, bool lowPass, double fc, double hz, double fs)
{
    const double ratio = std::tan(M_PI * hz / fs) / std::tan(M_PI * fc / fs);
    return -10.0 * std::log10(1.0 + std::pow(lowPass ? ratio : 1.0 / ratio, 2.0 * order));
}

// IEC 61672 A weighting: the analytic curve, normalised to 0 dB at 1 kHz.
double aWeightingDb(double f)
{
    const double f1 = 20.598997, f2 = 107.65265, f3 = 737.86223, f4 = 12194.217;
    auto ra = [&](double x) {
        const double x2 = x * x;
        return f4 * f4 * x2 * x2 / ((x2 + f1 * f1) * std::sqrt((x2 + f2 * f2) * (x2 + f3 * f3)) * (x2 + f4 * f4));
    };
    return 20.0 * std::log10(ra(f) / ra(1000.0));
}

const unsigned int kRates[] = { 44100, 48000, 96000 };

} // namespace

TEST(BiquadEqBuilder, EveryShapeInBothFormsMatchesTheCookbookAcrossSampleRates)
{
    struct Shape {
        FilterType type;
        double freq, width, gain; // width: octaves or shelf slope, or Q in the Q form
        bool qForm;
    };
    const Shape shapes[] = {
        { LowPass, 1000, 1.0, 0, false },    { HighPass, 250, 2.0, 0, false },    { BandPass, 3000, 1.5, 0, false },
        { BandEq, 1000, 1.9, 6, false },     { BandEq, 60, 1.9, -9, false },      { BandEq, 15000, 0.5, 4, false },
        { LowShelf, 300, 1.0, 6, false },    { LowShelf, 120, 0.5, -8, false },   { HighShelf, 5000, 1.0, 5, false },
        { HighShelf, 2000, 0.7, -4, false }, { LowPass, 1000, 0.7071, 0, true },  { HighPass, 80, 0.5, 0, true },
        { BandPass, 2500, 2.0, 0, true },    { BandEq, 1000, 1.4, 6, true },      { BandEq, 400, 0.8, -7.5, true },
        { LowShelf, 200, 1.0, 6, true },     { LowShelf, 200, 1.0, -6, true },    { HighShelf, 6000, 1.0, 3, true },
        { HighShelf, 6000, 1.0, -3, true },
    };
    for (unsigned int rate : kRates)
        for (const Shape& s : shapes) {
            SCOPED_TRACE(testing::Message() << (s.qForm ? "Q" : "width") << " form, type " << s.type << " at "
                                            << s.freq << " Hz, rate " << rate);
            BiquadEqBuilder builder(s.type, s.freq, s.qForm ? 0.0 : s.width, s.gain);
            if (s.qForm)
                builder.setQ(s.width);
            std::shared_ptr<Filter> f = builder.buildFilter(rate);
            // The centre or corner, the band edges, and a spread over the audio band.
            const double edge = std::pow(2.0, (s.qForm ? 1.0 : s.width) / 2);
            std::vector<double> probes = { s.freq, s.freq / edge, s.freq * edge };
            for (double x = 20.0; x < rate / 2.0 * 0.98; x *= 1.25)
                probes.push_back(x);
            for (double hz : probes) {
                const double expected = s.qForm ? cookbookQDb(s.type, s.freq, s.width, s.gain, hz, rate)
                                                : cookbookWidthDb(s.type, s.freq, s.width, s.gain, hz, rate);
                // Deep in a stop band only the order of magnitude matters.
                const double got = responseDb(*f, hz, rate);
                EXPECT_NEAR(got, expected < -120.0 ? got : expected, 0.01) << hz << " Hz";
            }
        }
}

TEST(BiquadEqBuilder, ZeroGainIsFlatOutOfRangeWidthsAreBoundedAndNyquistPasses)
{
    // A width past 4 octaves (or a shelf slope past 1) would turn the bell
    // into a shelf over the whole band: it designs as the bound.
    struct Same {
        FilterType type;
        double width, bound;
    };
    for (const Same& c : { Same { BandEq, 10.0, 4.0 }, Same { BandEq, 4.5, 4.0 }, Same { LowShelf, 3.0, 1.0 },
                           Same { HighShelf, 1.5, 1.0 }, Same { BandEq, 0.00001, 0.0001 } }) {
        BiquadEqBuilder wide(c.type, 200.0, c.width, 9.0), bounded(c.type, 200.0, c.bound, 9.0);
        wide.init(44100);
        bounded.init(44100);
        EXPECT_TRUE((wide.getBCoeff() == bounded.getBCoeff()).min() && (wide.getACoeff() == bounded.getACoeff()).min())
            << c.type << " width " << c.width;
    }
    for (FilterType type : { BandEq, LowShelf, HighShelf }) {
        BiquadEqBuilder widthForm(type, 700.0, 1.0, 0.0), qForm(type, 700.0, 0.0, 0.0);
        widthForm.init(44100);
        qForm.setQ(0.9).init(44100);
        for (BiquadEqBuilder* b : { &widthForm, &qForm })
            EXPECT_LT(std::abs(b->getBCoeff() - b->getACoeff()).max(), 1e-15) << "type " << type;
    }
    // 2·f + 1 ≥ fs is the rule: 22049.5 Hz at 44.1 kHz already passes, 22000 Hz does not.
    for (FilterType type : { LowPass, BandPass, HighPass, LowShelf, BandEq, HighShelf, BandStop })
        for (double hz : { 22050.0, 22049.5 }) {
            BiquadEqBuilder builder(type, hz, 1.0, 6.0);
            builder.init(44100);
            const std::valarray<double> b = builder.getBCoeff(), a = builder.getACoeff();
            EXPECT_TRUE(b[0] == 1.0 && b[1] == 0.0 && b[2] == 0.0 && a[1] == 0.0 && a[2] == 0.0) << type << " " << hz;
        }
    BiquadEqBuilder justBelow(LowPass, 22000.0, 0.0, 0.0);
    justBelow.setQ(0.7).init(44100);
    EXPECT_NE(justBelow.getBCoeff()[1], 0.0);
}

TEST(ButterworthBuilders, FirstFourthAndSixthOrderFollowTheAnalyticMagnitude)
{
    for (unsigned int rate : kRates)
        for (FilterType type : { LowPass, HighPass }) {
            const auto expectButterworth = [rate, type](const std::shared_ptr<Filter>& f, int order, double fc) {
                SCOPED_TRACE(testing::Message() << "order " << order << ", type " << type << ", " << fc << "/" << rate);
                EXPECT_NEAR(responseDb(*f, fc, rate), -3.0103, 0.005);
                for (double hz = 20.0; hz < rate / 2.0 * 0.95; hz *= 1.15) {
                    // Deeper down, the expanded polynomial's rounding, not the design, sets the floor.
                    const double expected = butterworthDb(order, type == LowPass, fc, hz, rate);
                    const double got = expected > -60.0 ? responseDb(*f, hz, rate) : expected;
                    EXPECT_NEAR(got, expected, order == 1 ? 1e-9 : 0.05) << hz;
                }
            };
            expectButterworth(Order1FilterBuilder(type, 800.0).buildFilter(rate), 1, 800.0);
            for (double fc : { 100.0, 1000.0, 5000.0 }) {
                expectButterworth(Order4FilterBuilder(type, fc).buildFilter(rate), 4, fc);
                // A sixth-order polynomial with its poles 100 Hz from DC loses
                // tenths of a dB to the rounding of its expanded coefficients
                // in double: checked from 1 kHz on.
                if (fc > 500.0)
                    expectButterworth(Order6FilterBuilder(type, fc).buildFilter(rate), 6, fc);
            }
        }
    // A shape the first order cannot make is reported and passes the sound.
    testsupport::MessageLog capture;
    const std::shared_ptr<Filter> pass = Order1FilterBuilder(LowShelf, 800.0).buildFilter(44100);
    EXPECT_TRUE(capture.has("C:Unsupported FirstOrderFilter Eq mode"));
    EXPECT_NEAR(responseDb(*pass, 1234.0, 44100), 0.0, 1e-12);
}

TEST(WeightingFilterBuilder, MatchesTheIec61672TableWithinClassOneTolerances)
{
    // Nominal A weighting (dB) and class 1 limits (+, −) of IEC 61672-1.
    struct Row {
        double hz, weight, plus, minus;
    };
    const Row table[] = {
        { 31.5, -39.4, 2.0, 2.0 }, { 40, -34.6, 1.5, 1.5 },   { 50, -30.2, 1.5, 1.5 },  { 63, -26.2, 1.5, 1.5 },
        { 80, -22.5, 1.5, 1.5 },   { 100, -19.1, 1.5, 1.5 },  { 125, -16.1, 1.5, 1.5 }, { 160, -13.4, 1.5, 1.5 },
        { 200, -10.9, 1.4, 1.4 },  { 250, -8.6, 1.4, 1.4 },   { 315, -6.6, 1.4, 1.4 },  { 400, -4.8, 1.4, 1.4 },
        { 500, -3.2, 1.4, 1.4 },   { 630, -1.9, 1.4, 1.4 },   { 800, -0.8, 1.4, 1.4 },  { 1000, 0.0, 1.1, 1.1 },
        { 1250, 0.6, 1.4, 1.4 },   { 1600, 1.0, 1.6, 1.6 },   { 2000, 1.2, 1.6, 1.6 },  { 2500, 1.3, 1.6, 1.6 },
        { 3150, 1.2, 1.6, 1.6 },   { 4000, 1.0, 1.6, 1.6 },   { 5000, 0.5, 1.6, 1.6 },  { 6300, -0.1, 1.6, 2.1 },
        { 8000, -1.1, 2.1, 3.1 },
    };
    WeightingFilterBuilder builder;
    std::shared_ptr<Filter> f = builder.buildFilter(48000);
    for (const Row& row : table) {
        const double got = responseDb(*f, row.hz, 48000);
        EXPECT_LE(got, row.weight + row.plus) << row.hz << " Hz";
        EXPECT_GE(got, row.weight - row.minus) << row.hz << " Hz";
        // Up to 4 kHz the bilinear transform barely warps: the analytic curve holds closely.
        EXPECT_NEAR(got, row.hz <= 4000 ? aWeightingDb(row.hz) : got, 0.15) << row.hz << " Hz";
    }
    EXPECT_NEAR(responseDb(*f, 1000.0, 48000), 0.0, 0.05);
}

TEST(BandArithmetic, WidthIsTheQuantisedOctaveCountAndEdgesRoundTrip)
{
    const double step = 15.0 / 4096.0;
    double fco = 0, width = 0, lo = 0, hi = 0;
    for (double ratio : { 1.01, 1.5, 2.0, 3.3, 10.0, 1000.0 }) {
        SoundTools::get_fco(50.0, 50.0 * ratio, fco, width);
        EXPECT_NEAR(width, std::log2(ratio), step / 2.0 + 1e-12) << ratio;
        // The centre is the geometric mean of the edges.
        EXPECT_NEAR(std::log2(fco / 50.0), std::log2(ratio) / 2.0, step) << ratio;
        SoundTools::get_minmax(fco, width, lo, hi);
        EXPECT_NEAR(lo, 50.0, 1e-9) << ratio;
        EXPECT_NEAR(std::log2(hi / (50.0 * ratio)), 0.0, step) << ratio;
    }
    SoundTools::get_minmax(1000.0, 2.0, lo, hi);
    EXPECT_DOUBLE_EQ(lo, 500.0);
    EXPECT_DOUBLE_EQ(hi, 2000.0);
}
