// Run-time filters: the recursion against the difference equation, block
// independence, the unrolled orders and the fused biquad cascade bit for bit,
// and the clip filter's ramp and fade.
#include "tests/support/Common.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>

using namespace SoundTools;
using Frames = std::vector<StereoFrame<double>>;

namespace {

Frames noiseFrames(size_t count, unsigned int seed)
{
    const std::vector<double> s = testsupport::stereoNoise(count, seed);
    return Frames(reinterpret_cast<const StereoFrame<double>*>(s.data()),
                  reinterpret_cast<const StereoFrame<double>*>(s.data()) + count);
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

// a0·y[n] = Σ b[k]·x[n−k] − Σ a[k]·y[n−k], in long double, one channel.
std::vector<double> differenceEquation(const Filter& f, const std::vector<double>& x)
{
    const std::valarray<double>& b = f.getB();
    const std::valarray<double>& a = f.getA();
    std::vector<long double> y(x.size());
    std::vector<double> out(x.size());
    for (size_t n = 0; n < x.size(); ++n) {
        long double acc = 0.0L;
        for (size_t k = 0; k < b.size() && k <= n; ++k)
            acc += (long double)b[k] * x[n - k];
        for (size_t k = 1; k < a.size() && k <= n; ++k)
            acc -= (long double)a[k] * y[n - k];
        y[n] = acc / (a.size() ? a[0] : 1.0);
        out[n] = double(y[n] * f.getGain());
    }
    return out;
}

BiquadClipFilter identityClip()
{
    return BiquadClipFilter({ 1.0, 0.0, 0.0 }, { 1.0, 0.0, 0.0 }, 1.0);
}

} // namespace

TEST(FilterRecursion, EveryOrderFollowsTheDifferenceEquationInBlocksOfAnySize)
{
    const Frames in = noiseFrames(10000, 3);
    std::vector<double> left(in.size());
    for (size_t i = 0; i < in.size(); ++i)
        left[i] = in[i].left;
    // Designed filters of every fixed order, a0 = 1 and a0 ≠ 1 among them, and
    // no denominator: a plain FIR.
    BiquadEqBuilder peak(BandEq, 1000.0, 1.9, 6.0);
    peak.init(44100);
    const std::vector<std::shared_ptr<Filter>> filters = {
        peak.buildFilter(44100),
        std::make_shared<BiquadFilter>(peak.getBCoeff() * 2.0, peak.getACoeff() * 2.0), // a0 = 2
        Order1FilterBuilder(HighPass, 300.0).buildFilter(44100), // a0 ≠ 1
        Order4FilterBuilder(LowPass, 2000.0).buildFilter(44100),
        Order6FilterBuilder(HighPass, 1500.0).buildFilter(44100),
        std::make_shared<Filter>(std::valarray<double> { 0.5, 0.5 }, std::valarray<double> {}),
        WeightingFilterBuilder().buildFilter(44100), // a0 ≠ 1
    };
    std::mt19937 sizes(42);
    for (auto& f : filters) {
        SCOPED_TRACE(testing::Message() << "order " << f->getOrder());
        f->setGain(0.7);
        Filter whole(*f), pieces(*f); // same coefficients, the general loop
        const Frames expected = run(whole, in);
        // The A weighting's poles lie a few Hz from DC: in double precision
        // its direct form drifts from an exact evaluation by design.
        const std::vector<double> exact = differenceEquation(whole, left);
        for (size_t i = 0; i < in.size() && f != filters.back(); ++i)
            ASSERT_NEAR(expected[i].left, exact[i], 1e-10) << "frame " << i;
        Frames a(in.size()), b = in;
        size_t at = 0;
        while (at < in.size()) {
            const size_t n = std::min<size_t>(in.size() - at, 1 + sizes() % 700);
            Frames chunk(in.begin() + long(at), in.begin() + long(at + n));
            pieces.filter(chunk.data(), a.data() + at, unsigned(n));
            // The unrolled subclass, in place, as the algorithms run every stage after the first.
            f->filter(b.data() + at, b.data() + at, unsigned(n));
            at += n;
        }
        EXPECT_TRUE(sameBits(a, expected));
        EXPECT_TRUE(sameBits(b, expected));
        // A copy made after a run starts from silence: history must not follow.
        Filter copy(*f);
        EXPECT_TRUE(sameBits(run(copy, in), expected));
    }
    Filter empty({}, {}); // nothing to filter with: silence, not a crash
    EXPECT_EQ(run(empty, in)[5].left, 0.0);
}

TEST(BiquadCascade, SeveralSectionsPerPassGiveTheBitsOfOneSectionAfterAnother)
{
    const double freqs[] = { 60, 120, 250, 500, 1000, 2000, 4000, 8000, 15000, 30, 90 };
    const double gains[] = { -1, 0, 2, 4, 4, 2, 0, -1, -2, 3, -3 };
    const Frames in = noiseFrames(3000, 9);
    // A section whose a0 is not 1 (hand-made, never designed) among them must
    // still be divided by it.
    for (unsigned int count = 1; count <= 11; ++count)
        for (double a0 : { 1.0, 2.0 }) {
        std::vector<BiquadFilter> fused;
        fused.reserve(count); // the sections' addresses must hold
        std::vector<BiquadFilter*> sections;
        Frames expected = in;
        for (unsigned int k = 0; k < count; ++k) {
            BiquadEqBuilder b(BandEq, freqs[k], 1.9, gains[k]);
            b.init(44100);
            const double scale = k == count / 2 ? a0 : 1.0;
            BiquadFilter serial(b.getBCoeff() * scale, b.getACoeff() * scale);
            serial.setGain(k + 1 == count ? 0.8 : 1.0);
            fused.push_back(serial); // before it runs: no history
            sections.push_back(&fused.back());
            serial.filter(expected.data(), expected.data(), unsigned(expected.size()));
        }
        // In two calls, so the state handed from one pass to the next counts too.
        Frames src = in, got(in.size());
        BiquadFilter::filterCascade(sections.data(), count, src.data(), got.data(), 1000);
        BiquadFilter::filterCascade(sections.data(), count, src.data() + 1000, got.data() + 1000, 2000);
        EXPECT_TRUE(sameBits(got, expected)) << count << " sections, a0 " << a0;
        }
}

TEST(BiquadClipFilter, GainRampsUnlessCancelledOrClippedAndAClipFadesTheFramesBeforeIt)
{
    BiquadClipFilter f = identityClip();
    f.setGain(2.0);
    EXPECT_EQ(f.getGain(), 1.0); // moves only as frames pass
    Frames in(1, { 0.1, 0.1 }), out(1);
    f.filter(in.data(), out.data(), 1);
    EXPECT_DOUBLE_EQ(out[0].left, 0.1 * (1.0 + 1.0 / 440000.0));
    Frames quiet(439998, { 0.0, 0.0 }), sink(439998);
    f.filter(quiet.data(), sink.data(), unsigned(quiet.size()));
    EXPECT_TRUE(f.isRamping());
    f.filter(in.data(), out.data(), 1);
    EXPECT_FALSE(f.isRamping());
    EXPECT_EQ(f.getGain(), 2.0); // lands exactly on target

    // Asking for the present gain before any frame cancels the ramp.
    BiquadClipFilter g = identityClip();
    g.setGain(2.0);
    g.setGain(1.0);
    Frames some(1000, { 0.1, 0.1 }), someOut(1000);
    g.filter(some.data(), someOut.data(), 1000);
    EXPECT_EQ(g.getGain(), 1.0);
    EXPECT_EQ(someOut.back().left, 0.1);

    // A clip on the first frame of a call is written and stops the ramp.
    BiquadClipFilter h = identityClip();
    h.setGain(1.5);
    Frames first(3, { 1.6, 0.0 }), firstOut(3);
    first[1] = first[2] = { 0.1, 0.1 };
    h.filter(first.data(), firstOut.data(), 3);
    EXPECT_NEAR(firstOut[0].left, 1.6 * (1.0 + 0.5 / 440000.0), 1e-12);
    EXPECT_FALSE(h.isRamping());
    EXPECT_NEAR(h.getGain(), 1.0 + 0.5 / 440000.0, 1e-15);

    // A clipping frame fades at most two thousand frames before it.
    struct Case {
        size_t clipAt;
        double before, peak; // the level before the clip and at it
    };
    for (const Case& c : { Case { 10, 0.5, 1.6 }, Case { 3000, 0.5, 2.0 } }) {
        SCOPED_TRACE(c.clipAt);
        BiquadClipFilter f = identityClip();
        Frames in(c.clipAt + 10, { c.before, -c.before / 2 }), out(in.size());
        in[c.clipAt] = { c.peak, 0.4 };
        f.filter(in.data(), out.data(), unsigned(in.size()));
        // Faded linearly from gain 1 to 0.8/peak at the clipping frame.
        const double k = 0.8 / c.peak;
        const size_t from = c.clipAt > 2000 ? c.clipAt - 2000 : 0, span = c.clipAt - from;
        for (size_t i = 0; i < from; ++i)
            ASSERT_EQ(out[i].left, c.before) << i;
        for (size_t j = 0; j <= span; ++j) {
            const double factor = 1.0 + double(j) * (k - 1.0) / double(span);
            ASSERT_NEAR(out[from + j].left, in[from + j].left * factor, 1e-15) << from + j;
            ASSERT_NEAR(out[from + j].right, in[from + j].right * factor, 1e-15) << from + j;
        }
        EXPECT_EQ(f.getGain(), k); // the new gain holds
        EXPECT_EQ(out.back().left, c.before * k);
    }
}
