// Run-time filters: the recursion against the difference equation, block
// independence, the unrolled orders and the fused biquad cascade bit for bit,
// and the clip filter's ramp and fade.
#include "tests/support/FilterReference.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <random>

using namespace SoundTools;
using Frames = std::vector<StereoFrame<double>>;

namespace {

Frames noiseFrames(size_t count, unsigned int seed)
{
    const std::vector<double> l = filtertest::noise(count, seed), r = filtertest::noise(count, seed + 1);
    Frames f(count);
    for (size_t i = 0; i < count; ++i)
        f[i] = { l[i], r[i] };
    return f;
}

bool sameBits(const Frames& x, const Frames& y)
{
    return x.size() == y.size() && std::memcmp(x.data(), y.data(), x.size() * sizeof(x[0])) == 0;
}

Frames run(Filter& f, const Frames& in)
{
    Frames copy = in, out(in.size());
    f.filter(copy.data(), out.data(), static_cast<unsigned int>(in.size()));
    return out;
}

// Designed filters of every fixed order, a0 = 1 and a0 ≠ 1 among them. The
// A weighting (poles a few Hz from DC) only with `includeStiff`: in double
// precision its direct form drifts from an exact evaluation by design.
std::vector<std::shared_ptr<Filter>> designedFilters(bool includeStiff = true)
{
    BiquadEqBuilder peak(BandEq, 1000.0, 1.9, 6.0);
    peak.init(44100);
    Order1FilterBuilder first(HighPass, 300.0); // a0 ≠ 1
    Order4FilterBuilder fourth(LowPass, 2000.0);
    Order6FilterBuilder sixth(HighPass, 1500.0);
    WeightingFilterBuilder weighting; // a0 ≠ 1
    std::vector<std::shared_ptr<Filter>> list = {
        peak.buildFilter(44100),
        std::make_shared<BiquadFilter>(peak.getBCoeff() * 2.0, peak.getACoeff() * 2.0), // a0 = 2
        first.buildFilter(44100),
        fourth.buildFilter(44100),
        sixth.buildFilter(44100),
    };
    if (includeStiff)
        list.push_back(weighting.buildFilter(44100));
    return list;
}

// a0·y[n] = Σ b[k]·x[n−k] − Σ a[k]·y[n−k], in long double, one channel.
std::vector<double> differenceEquation(const Filter& f, const std::vector<double>& x)
{
    const std::valarray<double>& b = f.getB();
    const std::valarray<double>& a = f.getA();
    std::vector<long double> y(x.size());
    std::vector<double> out(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        long double acc = 0.0L;
        for (size_t k = 0; k < b.size(); ++k)
            if (n >= k)
                acc += (long double)b[k] * x[n - k];
        for (size_t k = 1; k < a.size(); ++k)
            if (n >= k)
                acc -= (long double)a[k] * y[n - k];
        y[n] = acc / a[0];
        out[n] = double(y[n] * f.getGain());
    }
    return out;
}

} // namespace

TEST(FilterRecursion, EveryOrderFollowsTheDifferenceEquation)
{
    const Frames in = noiseFrames(5000, 7);
    std::vector<double> left(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        left[i] = in[i].left;
    for (auto& f : designedFilters(false)) {
        f->setGain(0.7);
        Filter general(*f);
        const std::vector<double> expected = differenceEquation(general, left);
        const Frames got = run(*f, in);
        for (size_t i = 0; i < in.size(); ++i)
            ASSERT_NEAR(got[i].left, expected[i], 1e-10)
                << "order " << f->getOrder() << " frame " << i;
    }
}

TEST(FilterRecursion, UnrolledOrdersGiveTheBitsOfTheGeneralFilter)
{
    const Frames in = noiseFrames(4096, 11);
    for (auto& f : designedFilters()) {
        Filter general(*f); // same coefficients, the general loop
        EXPECT_TRUE(sameBits(run(*f, in), run(general, in))) << "order " << f->getOrder();
    }
}

TEST(FilterRecursion, BlocksOfAnySizeGiveTheBitsOfOneBlock)
{
    const Frames in = noiseFrames(10000, 3);
    std::mt19937 sizes(42);
    for (auto& f : designedFilters()) {
        Filter whole(*f), pieces(*f);
        std::shared_ptr<Filter> unrolledPieces = f; // the subclass, cut into pieces
        const Frames expected = run(whole, in);
        Frames a(in.size()), b = in;
        size_t at = 0;
        while (at < in.size()) {
            const size_t n = std::min<size_t>(in.size() - at, 1 + sizes() % 700);
            Frames chunk(in.begin() + long(at), in.begin() + long(at + n));
            pieces.filter(chunk.data(), a.data() + at, unsigned(n));
            // In place, as the algorithms run every stage after the first.
            unrolledPieces->filter(b.data() + at, b.data() + at, unsigned(n));
            at += n;
        }
        EXPECT_TRUE(sameBits(a, expected)) << "order " << f->getOrder();
        EXPECT_TRUE(sameBits(b, expected)) << "order " << f->getOrder();
    }
}

TEST(FilterRecursion, CopiesStartFromSilenceAndGainAndA0Apply)
{
    BiquadEqBuilder builder(LowPass, 500.0, 1.0, 0.0);
    std::shared_ptr<Filter> original = builder.buildFilter(44100);
    const Frames in = noiseFrames(3000, 5);
    const Frames first = run(*original, in);
    Filter copy(*original); // after a run: history must not follow
    EXPECT_TRUE(sameBits(run(copy, in), first));
    Filter assigned({ 1.0 }, { 1.0 });
    assigned = *original;
    EXPECT_TRUE(sameBits(run(assigned, in), first));

    Filter identity({ 1.0 }, { 1.0 });
    identity.setGain(0.25);
    const Frames quarter = run(identity, in);
    EXPECT_EQ(quarter[100].left, 0.25 * in[100].left);
    EXPECT_EQ(identity.getLastInput().right, in.back().right);
    EXPECT_EQ(identity.getOutput().right, in.back().right); // before the gain

    Filter empty({}, {}); // nothing to filter with: silence, not a crash
    EXPECT_EQ(run(empty, in)[5].left, 0.0);
    Filter fir({ 0.5, 0.5 }, {}); // no denominator: a plain FIR
    EXPECT_EQ(run(fir, in)[9].left, 0.5 * in[9].left + 0.5 * in[8].left);

    Filter halver({ 1.0, 0.0, 0.0 }, { 2.0, 0.0, 0.0 });
    const Frames half = run(halver, in);
    EXPECT_EQ(half[17].right, in[17].right / 2.0);
}

TEST(FilterRecursion, SineComesOutAtTheDesignedMagnitude)
{
    const double fs = 48000.0, hz = 1000.0;
    BiquadEqBuilder builder(BandEq, hz, 1.0, 6.0);
    std::shared_ptr<Filter> f = builder.buildFilter(48000);
    Frames in(48000);
    for (size_t i = 0; i < in.size(); ++i) {
        const double v = 0.25 * std::sin(2.0 * M_PI * hz * double(i) / fs);
        in[i] = { v, -v };
    }
    const Frames out = run(*f, in);
    double peak = 0.0;
    for (size_t i = in.size() / 2; i < in.size(); ++i)
        peak = std::max(peak, std::fabs(out[i].right));
    EXPECT_NEAR(20.0 * std::log10(peak / 0.25), 6.0, 0.01);
}

TEST(BiquadCascade, SeveralSectionsPerPassGiveTheBitsOfOneSectionAfterAnother)
{
    const double freqs[] = { 60, 120, 250, 500, 1000, 2000, 4000, 8000, 15000, 30, 90 };
    const double gains[] = { -1, 0, 2, 4, 4, 2, 0, -1, -2, 3, -3 };
    const Frames in = noiseFrames(3000, 9);
    for (unsigned int count = 1; count <= 11; ++count) {
        std::vector<std::shared_ptr<Filter>> serial, fused;
        std::vector<BiquadFilter*> sections;
        for (unsigned int k = 0; k < count; ++k) {
            BiquadEqBuilder b(BandEq, freqs[k], 1.9, gains[k]);
            serial.push_back(b.buildFilter(44100));
            fused.push_back(b.buildFilter(44100));
            if (k == count - 1) {
                serial.back()->setGain(0.8);
                fused.back()->setGain(0.8);
            }
            sections.push_back(static_cast<BiquadFilter*>(fused.back().get()));
        }
        Frames expected = in;
        for (auto& f : serial)
            f->filter(expected.data(), expected.data(), unsigned(expected.size()));
        // In two calls, so the state handed from one pass to the next counts too.
        Frames src = in, got(in.size());
        BiquadFilter::filterCascade(sections.data(), count, src.data(), got.data(), 1000);
        BiquadFilter::filterCascade(sections.data(), count, src.data() + 1000, got.data() + 1000, 2000);
        EXPECT_TRUE(sameBits(got, expected)) << count << " sections";
    }
}

TEST(BiquadClipFilter, GainRampsOverTheRampLength)
{
    BiquadClipFilter f({ 1.0, 0.0, 0.0 }, { 1.0, 0.0, 0.0 }, 1.0);
    f.setGain(1.0); // the present gain: nothing starts
    EXPECT_FALSE(f.isRamping());
    f.setGain(2.0);
    EXPECT_TRUE(f.isRamping());
    EXPECT_EQ(f.getGain(), 1.0); // moves only as frames pass
    Frames in(1, { 0.1, 0.1 }), out(1);
    f.filter(in.data(), out.data(), 1);
    EXPECT_DOUBLE_EQ(f.getGain(), 1.0 + 1.0 / 440000.0);
    EXPECT_DOUBLE_EQ(out[0].left, 0.1 * (1.0 + 1.0 / 440000.0));
    Frames quiet(439998, { 0.0, 0.0 }), sink(439998);
    f.filter(quiet.data(), sink.data(), unsigned(quiet.size()));
    EXPECT_TRUE(f.isRamping());
    f.filter(in.data(), out.data(), 1);
    EXPECT_FALSE(f.isRamping());
    EXPECT_EQ(f.getGain(), 2.0);
}

TEST(BiquadClipFilter, AskingForThePresentGainCancelsARunningRamp)
{
    BiquadClipFilter f({ 1.0, 0.0, 0.0 }, { 1.0, 0.0, 0.0 }, 1.0);
    f.setGain(2.0);
    f.setGain(1.0); // changed mind before any frame: stay at 1.0
    Frames in(1000, { 0.1, 0.1 }), out(1000);
    f.filter(in.data(), out.data(), 1000);
    EXPECT_EQ(f.getGain(), 1.0);
    EXPECT_EQ(out.back().left, 0.1);
}

TEST(BiquadClipFilter, ClippingFrameFadesTheFramesBeforeIt)
{
    BiquadClipFilter f({ 1.0, 0.0, 0.0 }, { 1.0, 0.0, 0.0 }, 1.0);
    Frames in(20, { 0.5, -0.25 });
    in[10] = { 1.6, 0.4 };
    Frames out(20);
    f.filter(in.data(), out.data(), 20);
    // Faded linearly from gain 1 at frame 0 to 0.8/1.6 at frame 10.
    for (int j = 0; j <= 10; ++j) {
        const double factor = 1.0 + j * (0.5 - 1.0) / 10.0;
        EXPECT_NEAR(out[size_t(j)].left, in[size_t(j)].left * factor, 1e-15) << j;
        EXPECT_NEAR(out[size_t(j)].right, in[size_t(j)].right * factor, 1e-15) << j;
    }
    EXPECT_NEAR(out[10].left, 0.8, 1e-15);
    EXPECT_EQ(f.getGain(), 0.5);
    EXPECT_EQ(out[15].left, 0.25); // the new gain holds
    f.filter(in.data(), out.data(), 5);
    EXPECT_EQ(out[0].left, 0.25);
}

TEST(BiquadClipFilter, ClipOnTheFirstFrameOfACallIsWrittenAndStopsTheRamp)
{
    BiquadClipFilter f({ 1.0, 0.0, 0.0 }, { 1.0, 0.0, 0.0 }, 1.0);
    f.setGain(1.5);
    Frames in(3, { 1.6, 0.0 }), out(3);
    in[1] = in[2] = { 0.1, 0.1 };
    f.filter(in.data(), out.data(), 3);
    EXPECT_NEAR(out[0].left, 1.6 * (1.0 + 0.5 / 440000.0), 1e-12);
    EXPECT_FALSE(f.isRamping());
    EXPECT_NEAR(f.getGain(), 1.0 + 0.5 / 440000.0, 1e-15);
}

TEST(BiquadClipFilter, FadeReachesBackAtMostTwoThousandFrames)
{
    BiquadClipFilter f({ 1.0, 0.0, 0.0 }, { 1.0, 0.0, 0.0 }, 1.0);
    Frames in(3001, { 0.5, 0.5 }), out(3001);
    in[3000] = { 2.0, 2.0 };
    f.filter(in.data(), out.data(), 3001);
    EXPECT_EQ(out[999].left, 0.5);
    EXPECT_EQ(out[1000].left, 0.5); // j = 0 of the fade: factor 1
    EXPECT_LT(out[1001].left, 0.5);
    EXPECT_NEAR(out[3000].left, 0.8, 1e-15);
}
