// Designers against textbook responses: the Audio EQ Cookbook's analog
// prototypes, analytic Butterworth magnitudes, the IEC 61672 A-weighting
// table, and the band arithmetic of get_fco / get_minmax.
#include "tests/support/FilterReference.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

using namespace SoundTools;
using filtertest::responseDb;

namespace {

const unsigned int kRates[] = { 44100, 48000, 96000 };

// Frequencies a listener cares about for a section at f0: the centre or
// corner, the band edges, and a spread over the audio band.
std::vector<double> probeFrequencies(double f0, double width, double fs)
{
    std::vector<double> f = { f0, f0 / std::pow(2.0, width / 2.0), f0 * std::pow(2.0, width / 2.0) };
    for (double x = 20.0; x < fs / 2.0 * 0.98; x *= 1.25)
        f.push_back(x);
    return f;
}

struct Shape {
    FilterType type;
    double freq;
    double width; // octaves, or shelf slope
    double gain;
};

} // namespace

TEST(BiquadEqBuilderWidthForm, EveryShapeMatchesTheCookbookAcrossSampleRates)
{
    const Shape shapes[] = {
        { LowPass, 1000.0, 1.0, 0.0 },   { HighPass, 250.0, 2.0, 0.0 },  { BandPass, 3000.0, 1.5, 0.0 },
        { BandEq, 1000.0, 1.9, 6.0 },    { BandEq, 60.0, 1.9, -9.0 },    { BandEq, 15000.0, 0.5, 4.0 },
        { LowShelf, 300.0, 1.0, 6.0 },   { LowShelf, 120.0, 0.5, -8.0 }, { HighShelf, 5000.0, 1.0, 5.0 },
        { HighShelf, 2000.0, 0.7, -4.0 },
    };
    for (unsigned int rate : kRates) {
        const double fs = rate;
        for (const Shape& s : shapes) {
            BiquadEqBuilder builder(s.type, s.freq, s.width, s.gain);
            std::shared_ptr<Filter> f = builder.buildFilter(rate);
            for (double hz : probeFrequencies(s.freq, s.width, fs)) {
                const double expected = filtertest::cookbookWidthDb(s.type, s.freq, s.width, s.gain, hz, fs);
                if (expected < -120.0)
                    continue; // deep in a stop band only the order of magnitude matters
                EXPECT_NEAR(responseDb(f->getB(), f->getA(), hz, fs), expected, 0.01)
                    << "type " << s.type << " at " << s.freq << " Hz, probe " << hz << " Hz, rate " << rate;
            }
        }
    }
}

TEST(BiquadEqBuilderQForm, EveryShapeMatchesTheBilinearPrototypes)
{
    const Shape shapes[] = {
        { LowPass, 1000.0, 0.7071, 0.0 }, { HighPass, 80.0, 0.5, 0.0 },  { BandPass, 2500.0, 2.0, 0.0 },
        { BandEq, 1000.0, 1.4, 6.0 },     { BandEq, 400.0, 0.8, -7.5 },  { LowShelf, 200.0, 1.0, 6.0 },
        { LowShelf, 200.0, 1.0, -6.0 },   { HighShelf, 6000.0, 1.0, 3.0 }, { HighShelf, 6000.0, 1.0, -3.0 },
    };
    for (unsigned int rate : kRates) {
        const double fs = rate;
        for (const Shape& s : shapes) {
            BiquadEqBuilder builder(s.type, s.freq, 0.0, s.gain);
            builder.setQ(s.width);
            std::shared_ptr<Filter> f = builder.buildFilter(rate);
            for (double hz : probeFrequencies(s.freq, 1.0, fs)) {
                const double expected = filtertest::cookbookQDb(s.type, s.freq, s.width, s.gain, hz, fs);
                if (expected < -120.0)
                    continue;
                EXPECT_NEAR(responseDb(f->getB(), f->getA(), hz, fs), expected, 0.01)
                    << "type " << s.type << " at " << s.freq << " Hz, probe " << hz << " Hz, rate " << rate;
            }
        }
    }
}

TEST(BiquadEqBuilderRules, ZeroGainIsFlatInBothForms)
{
    for (FilterType type : { BandEq, LowShelf, HighShelf }) {
        BiquadEqBuilder widthForm(type, 700.0, 1.0, 0.0);
        widthForm.init(44100);
        BiquadEqBuilder qForm(type, 700.0, 0.0, 0.0);
        qForm.setQ(0.9);
        qForm.init(44100);
        for (BiquadEqBuilder* b : { &widthForm, &qForm }) {
            const std::valarray<double> num = b->getBCoeff(), den = b->getACoeff();
            for (int k = 0; k < 3; ++k)
                EXPECT_NEAR(num[k], den[k], 1e-15) << "type " << type << " coefficient " << k;
        }
    }
}

TEST(BiquadEqBuilderRules, SectionsAtOrAboveNyquistPassTheSoundUnchanged)
{
    for (FilterType type : { LowPass, BandPass, HighPass, LowShelf, BandEq, HighShelf, BandStop }) {
        BiquadEqBuilder builder(type, 22050.0, 1.0, 6.0);
        builder.init(44100);
        const std::valarray<double> b = builder.getBCoeff(), a = builder.getACoeff();
        EXPECT_EQ(b[0], 1.0);
        EXPECT_EQ(b[1], 0.0);
        EXPECT_EQ(b[2], 0.0);
        EXPECT_EQ(a[1], 0.0);
        EXPECT_EQ(a[2], 0.0);
    }
    // 2·f + 1 ≥ fs is the rule: 22049.5 Hz at 44.1 kHz already passes, 22000 Hz does not.
    BiquadEqBuilder justBelow(LowPass, 22000.0, 0.0, 0.0);
    justBelow.setQ(0.7);
    justBelow.init(44100);
    EXPECT_NE(justBelow.getBCoeff()[1], 0.0);
    BiquadEqBuilder onTheRule(LowPass, 22049.5, 1.0, 0.0);
    onTheRule.init(44100);
    EXPECT_EQ(onTheRule.getBCoeff()[1], 0.0);
}

TEST(BiquadEqBuilderRules, FormSelectionAndClamping)
{
    // Width above 0 wins over Q.
    BiquadEqBuilder both(BandEq, 1000.0, 1.0, 6.0);
    both.setQ(5.0);
    both.init(48000);
    BiquadEqBuilder widthOnly(BandEq, 1000.0, 1.0, 6.0);
    widthOnly.init(48000);
    EXPECT_EQ(both.getBCoeff()[0], widthOnly.getBCoeff()[0]);

    // Neither form: the coefficients stay as constructed, a silent filter.
    BiquadEqBuilder bare(BandEq);
    std::shared_ptr<Filter> silent = bare.buildFilter(44100);
    for (double v : silent->getB())
        EXPECT_EQ(v, 0.0);

    // Width of a peaking section clamps to [0.0001, 4]; shelf slope to [0.0001, 1].
    auto b0Of = [](FilterType t, double width) {
        BiquadEqBuilder b(t, 1000.0, width, 6.0);
        b.init(44100);
        return b.getBCoeff()[0];
    };
    EXPECT_EQ(b0Of(BandEq, 10.0), b0Of(BandEq, 4.0));
    EXPECT_EQ(b0Of(BandEq, 0.00001), b0Of(BandEq, 0.0001));
    EXPECT_EQ(b0Of(LowShelf, 3.0), b0Of(LowShelf, 1.0));
    EXPECT_EQ(b0Of(HighShelf, 3.0), b0Of(HighShelf, 1.0));

    // The width form designs a peaking section below 1 Hz at 1 Hz; the Q form does not clamp.
    BiquadEqBuilder half(BandEq, 0.5, 1.0, 6.0), one(BandEq, 1.0, 1.0, 6.0);
    half.init(44100);
    one.init(44100);
    EXPECT_EQ(half.getBCoeff()[1], one.getBCoeff()[1]);
    BiquadEqBuilder halfQ(BandEq, 0.5, 0.0, 6.0), oneQ(BandEq, 1.0, 0.0, 6.0);
    halfQ.setQ(1.0).init(44100);
    oneQ.setQ(1.0).init(44100);
    EXPECT_NE(halfQ.getBCoeff()[1], oneQ.getBCoeff()[1]);

    // A shelf in the Q form ignores the value of Q.
    BiquadEqBuilder lowQ(LowShelf, 300.0, 0.0, 6.0), highQ(LowShelf, 300.0, 0.0, 6.0);
    lowQ.setQ(0.1).init(44100);
    highQ.setQ(10.0).init(44100);
    EXPECT_EQ(lowQ.getBCoeff()[0], highQ.getBCoeff()[0]);
    EXPECT_EQ(lowQ.getACoeff()[2], highQ.getACoeff()[2]);
}

TEST(BiquadEqBuilderRules, BandStopIsReportedAndLeavesTheDesign)
{
    filtertest::MessageCapture capture;
    BiquadEqBuilder builder(BandStop, 1000.0, 1.0, 0.0);
    builder.init(44100);
    EXPECT_EQ(builder.getBCoeff()[0], 0.0);
    ASSERT_EQ(capture.lines().size(), 1);
    EXPECT_EQ(capture.lines()[0], "C:Unsupported Biquad Eq mode : 2");
    // Setters chain and store without designing.
    builder.setFreq(200.0).setGain(3.0).setQ(2.0).setWidth(0.5);
    EXPECT_EQ(builder.freq(), 200.0);
    EXPECT_EQ(builder.gain(), 3.0);
    EXPECT_EQ(builder.Q(), 2.0);
    EXPECT_EQ(builder.width(), 0.5);
}

TEST(ButterworthBuilders, FourthAndSixthOrderFollowTheAnalyticMagnitude)
{
    for (unsigned int rate : kRates) {
        const double fs = rate;
        for (double fc : { 100.0, 1000.0, 5000.0 }) {
            for (FilterType type : { LowPass, HighPass }) {
                Order4FilterBuilder b4(type, fc);
                Order6FilterBuilder b6(type, fc);
                std::shared_ptr<Filter> f4 = b4.buildFilter(rate), f6 = b6.buildFilter(rate);
                EXPECT_EQ(f4->getOrder(), 5u);
                EXPECT_EQ(f6->getOrder(), 7u);
                EXPECT_NEAR(responseDb(f4->getB(), f4->getA(), fc, fs), -3.0103, 0.005);
                if (fc > 500.0) {
                    EXPECT_NEAR(responseDb(f6->getB(), f6->getA(), fc, fs), -3.0103, 0.005);
                }
                for (double hz = 20.0; hz < fs / 2.0 * 0.95; hz *= 1.15) {
                    const double e4 = filtertest::butterworthDb(4, type == LowPass, fc, hz, fs);
                    const double e6 = filtertest::butterworthDb(6, type == LowPass, fc, hz, fs);
                    // Deeper down, the expanded polynomial's rounding, not the
                    // design, sets the floor.
                    if (e4 > -60.0) {
                        EXPECT_NEAR(responseDb(f4->getB(), f4->getA(), hz, fs), e4, 0.05)
                            << "order 4 type " << type << " fc " << fc << " at " << hz << " rate " << rate;
                    }
                    // A sixth-order polynomial with its poles 100 Hz from DC
                    // loses tenths of a dB to the rounding of its expanded
                    // coefficients in double: not checked there.
                    if (e6 > -60.0 && fc > 500.0) {
                        EXPECT_NEAR(responseDb(f6->getB(), f6->getA(), hz, fs), e6, 0.05)
                            << "order 6 type " << type << " fc " << fc << " at " << hz << " rate " << rate;
                    }
                }
            }
        }
    }
}

TEST(ButterworthBuilders, FirstOrderCornersAndUnsupportedTypes)
{
    for (unsigned int rate : kRates) {
        Order1FilterBuilder low(LowPass, 800.0), high(HighPass, 800.0);
        std::shared_ptr<Filter> lp = low.buildFilter(rate), hp = high.buildFilter(rate);
        EXPECT_EQ(lp->getOrder(), 2u);
        // Unit gain at DC for the low pass, none for the high pass.
        EXPECT_NEAR(lp->getB()[0] + lp->getB()[1], 1.0 + lp->getA()[1], 1e-15);
        EXPECT_EQ(hp->getB()[0] + hp->getB()[1], 0.0);
        for (double hz : { 50.0, 800.0, 3000.0, 15000.0 }) {
            EXPECT_NEAR(responseDb(lp->getB(), lp->getA(), hz, rate), filtertest::butterworthDb(1, true, 800, hz, rate),
                        1e-9);
            EXPECT_NEAR(responseDb(hp->getB(), hp->getA(), hz, rate),
                        filtertest::butterworthDb(1, false, 800, hz, rate), 1e-9);
        }
    }
    filtertest::MessageCapture capture;
    Order1FilterBuilder shelf(LowShelf, 800.0);
    std::shared_ptr<Filter> pass = shelf.buildFilter(44100);
    ASSERT_EQ(capture.lines().size(), 1);
    EXPECT_EQ(capture.lines()[0], "C:Unsupported FirstOrderFilter Eq mode : 4");
    EXPECT_NEAR(responseDb(pass->getB(), pass->getA(), 1234.0, 44100), 0.0, 1e-12);
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
    ASSERT_EQ(f->getOrder(), 7u);
    for (const Row& row : table) {
        const double got = responseDb(f->getB(), f->getA(), row.hz, 48000);
        EXPECT_LE(got, row.weight + row.plus) << row.hz << " Hz";
        EXPECT_GE(got, row.weight - row.minus) << row.hz << " Hz";
        // Up to 4 kHz the bilinear transform barely warps: the analytic curve holds closely.
        if (row.hz <= 4000) {
            EXPECT_NEAR(got, filtertest::aWeightingDb(row.hz), 0.15) << row.hz << " Hz";
        }
    }
    EXPECT_NEAR(responseDb(f->getB(), f->getA(), 1000.0, 48000), 0.0, 0.05);
    // Coefficients scaled so the largest is 1; no gain at DC.
    double largest = 0.0, sum = 0.0;
    for (double v : f->getB()) {
        largest = std::max(largest, std::fabs(v));
        sum += v;
    }
    for (double v : f->getA())
        largest = std::max(largest, std::fabs(v));
    EXPECT_EQ(largest, 1.0);
    EXPECT_NEAR(sum, 0.0, 1e-12);
}

TEST(BandArithmetic, CentreAndWidthFromEdgesAndBack)
{
    const double step = 15.0 / 4096.0;
    double fco = 0, width = 0;
    SoundTools::get_fco(100.0, 400.0, fco, width);
    EXPECT_DOUBLE_EQ(width, 546.5 * step);
    EXPECT_NEAR(fco, 100.0 * std::pow(2.0, 546.5 * step / 2.0), 1e-9);
    EXPECT_NEAR(fco, 200.09, 0.01);

    SoundTools::get_fco(400.0, 100.0, fco, width);
    EXPECT_DOUBLE_EQ(width, 0.5 * step);
    EXPECT_NEAR(fco, 400.25, 0.01);

    SoundTools::get_fco(10.0, 10.0 * std::pow(2.0, 15.5), fco, width);
    EXPECT_DOUBLE_EQ(width, 4095.5 * step);

    // Any ratio: the width is the quantised log2, within half a step.
    for (double ratio : { 1.01, 1.5, 2.0, 3.3, 10.0, 1000.0 }) {
        SoundTools::get_fco(50.0, 50.0 * ratio, fco, width);
        EXPECT_NEAR(width, std::log2(ratio), step / 2.0 + 1e-12) << ratio;
        EXPECT_DOUBLE_EQ(std::fmod(width / step, 1.0), 0.5);
    }

    double lo = 0, hi = 0;
    SoundTools::get_minmax(1000.0, 2.0, lo, hi);
    EXPECT_DOUBLE_EQ(lo, 500.0);
    EXPECT_DOUBLE_EQ(hi, 2000.0);
    // Round trip: edges → centre and width → edges, within the quantisation.
    SoundTools::get_fco(300.0, 1200.0, fco, width);
    SoundTools::get_minmax(fco, width, lo, hi);
    EXPECT_NEAR(lo, 300.0, 1e-9);
    EXPECT_NEAR(std::log2(hi / 1200.0), 0.0, step);
}
