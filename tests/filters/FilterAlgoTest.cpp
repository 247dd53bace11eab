// Filter algorithms in the processing loop: cascades against their filters
// run by hand over the whole stream, block-size independence, the split's
// complement, the parametric setters, and a player thread changing filters
// while the processing thread runs.
#include "tests/support/Common.h"
#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/OrderFilterBuilders.h"
#include "tulv/filters/SoundAlgoFilterBiquad.h"
#include "tulv/filters/SoundAlgoFilterSplit.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>

using namespace SoundTools;
using namespace testsupport;

namespace {

const double kBandFreqs[9] = { 60, 120, 250, 500, 1000, 2000, 4000, 8000, 15000 };
const double kPopGains[9] = { -1, 0, 2, 4, 4, 2, 0, -1, -2 };

// Fresh filters from the builders, run one after another over the whole
// stream in one call each: what the cascade must reproduce bit for bit.
std::vector<double> byHand(std::vector<std::shared_ptr<FilterBuilder>> builders, std::vector<double> samples,
                           unsigned int rate = 44100, double outputGain = 1.0)
{
    auto* frames = reinterpret_cast<StereoFrame<double>*>(samples.data());
    for (size_t i = 0; i < builders.size(); ++i) {
        std::shared_ptr<Filter> f = builders[i]->buildFilter(rate);
        if (i + 1 == builders.size())
            f->setGain(outputGain);
        f->filter(frames, frames, unsigned(samples.size() / 2));
    }
    return samples;
}

} // namespace

TEST(SoundAlgoFilter, NineBandCascadeEqualsItsFiltersOverTheWholeStreamForAnyBlockSize)
{
    const std::vector<double> in = stereoNoise(20000, 2);
    std::vector<std::shared_ptr<FilterBuilder>> builders;
    for (int k = 0; k < 9; ++k)
        builders.push_back(std::make_shared<BiquadEqBuilder>(BandEq, kBandFreqs[k], 1.9, kPopGains[k]));
    for (unsigned int rate : { 44100u, 96000u }) {
        const std::vector<double> expected = byHand(builders, in, rate);
        for (unsigned int block : { 1024u, 333u, 4096u, 1u }) {
            AlgoRef<SoundAlgoFilterBiquad> eq(new SoundAlgoFilterBiquad());
            for (int k = 0; k < 9; ++k)
                eq->pushFilter(BandEq, kBandFreqs[k], 1.9, kPopGains[k]);
            EXPECT_TRUE(sameBits(runThrough(*eq, in, block, rate), expected)) << "block " << block << " rate " << rate;
        }
    }
}

TEST(SoundAlgoFilter, MixedOrdersOutputGainReadyFiltersAndTheParametricSetters)
{
    const std::vector<double> in = stereoNoise(5000, 3);
    std::vector<std::shared_ptr<FilterBuilder>> builders = {
        std::make_shared<Order4FilterBuilder>(HighPass, 80.0),
        std::make_shared<BiquadEqBuilder>(BandEq, 3000.0, 1.0, 5.0),
        std::make_shared<Order1FilterBuilder>(LowPass, 9000.0),
    };
    AlgoRef<SoundAlgoFilter> algo(new SoundAlgoFilter(builders[0]));
    algo->pushFilter(builders[1]);
    algo->pushFilter(builders[2]);
    EXPECT_TRUE(sameBits(runThrough(*algo, in), byHand(builders, in)));
    algo->setOutputGain(-6.0);
    EXPECT_EQ(algo->getFilterGain(2), 1.0); // not before the next run
    const std::vector<double> lower = runThrough(*algo, in);
    EXPECT_TRUE(sameBits(lower, byHand(builders, in, 44100, std::pow(10.0, -6.0 / 20.0))));
    EXPECT_DOUBLE_EQ(algo->getFilterGain(2), std::pow(10.0, -6.0 / 20.0));

    // Ready filters without builders, then none at all.
    AlgoRef<SoundAlgoFilter> ready(new SoundAlgoFilter());
    ready->addFilter(builders[1]->buildFilter(44100));
    EXPECT_TRUE(sameBits(runThrough(*ready, in), byHand({ builders[1] }, in)));
    ready->setFilter(7, nullptr); // out of range: ignored
    ready->clearFilters();
    EXPECT_FALSE(ready->hasFilters());
    EXPECT_TRUE(sameBits(runThrough(*ready, in), in)); // without filters the sound passes unchanged

    // The parametric setters rebuild their section, keep the output gain and ignore others.
    AlgoRef<SoundAlgoFilterBiquad> eq(new SoundAlgoFilterBiquad(BandEq, 1000.0, 1.0, 0.0));
    eq->pushFilter(BandEq, 5000.0, 1.0, 0.0);
    // Before any run: only the builder changes.
    eq->SetLevel(1, 6.0);
    eq->SetFreq(0, 250.0);
    eq->SetWidth(0, 2.0);
    eq->SetLevel(5, 3.0); // no such section: nothing
    EXPECT_FALSE(eq->hasFilters());
    std::vector<std::shared_ptr<FilterBuilder>> expected = {
        std::make_shared<BiquadEqBuilder>(BandEq, 250.0, 2.0, 0.0),
        std::make_shared<BiquadEqBuilder>(BandEq, 5000.0, 1.0, 6.0),
    };
    EXPECT_TRUE(sameBits(runThrough(*eq, in), byHand(expected, in)));

    // A section of another designer is not a parametric one.
    AlgoRef<SoundAlgoFilterBiquad> mixed(new SoundAlgoFilterBiquad());
    mixed->SoundAlgoFilter::pushFilter(std::make_shared<Order4FilterBuilder>(LowPass, 3000.0));
    mixed->SetFreq(0, 100.0);
    std::vector<std::shared_ptr<FilterBuilder>> untouched = { std::make_shared<Order4FilterBuilder>(LowPass, 3000.0) };
    EXPECT_TRUE(sameBits(runThrough(*mixed, in), byHand(untouched, in)));

    // Rebuilding the last section after a run keeps the output gain.
    eq->setOutputGain(-6.0);
    runThrough(*eq, in);
    eq->SetLevel(1, -3.0);
    EXPECT_DOUBLE_EQ(eq->getFilterGain(1), std::pow(10.0, -6.0 / 20.0));
}

TEST(SoundAlgoFilterSplit, BandAndComplementAddUpToTheInputTimesTheOutputGain)
{
    const std::vector<double> in = stereoNoise(6000, 7);
    const double g = std::pow(10.0, -4.0 / 20.0);
    std::vector<double> out[3]; // the band, the rest, and their sum
    for (int w = 0; w < 3; ++w) {
        AlgoRef<SoundAlgoComposite> graph(new SoundAlgoComposite(QStringLiteral("probe")));
        auto* split = new SoundAlgoFilterSplit(std::make_shared<Order4FilterBuilder>(LowPass, 800.0));
        split->setOutputGain(-4.0);
        graph->pushAlgo(split);
        graph->pushAlgo(w < 2 ? static_cast<SoundAlgo*>(new SoundAlgoSelectChannel(w, 2)) : new SoundAlgoAdd(2));
        out[w] = runThrough(*graph, in);
        ASSERT_GE(out[w].size(), in.size());
    }
    for (size_t i = 0; i < in.size(); ++i)
        ASSERT_NEAR(out[2][i], g * in[i], 1e-15) << "sample " << i;
    // White noise with a low pass at 800 Hz: most energy is in the complement.
    EXPECT_GT(peakOf(out[1]), 3.0 * peakOf(out[0]));
}

TEST(SoundAlgoFilterThreaded, PlayerThreadChangesFiltersDuringARun)
{
    // The processing thread filters a long stream while another thread plays
    // the user: level changes, swapped filters, gain queries.
    AlgoRef<SoundAlgoFilterBiquad> eq(new SoundAlgoFilterBiquad());
    for (int k = 0; k < 9; ++k)
        eq->pushFilter(BandEq, kBandFreqs[k], 1.9, 0.0);
    GeneratorReader reader(4000000, 44100, [](int i, int c) { return 0.3 * std::sin(0.01 * i + c); });
    BiquadEqBuilder replacement(BandEq, 700.0, 1.0, -3.0);
    int changes = 0;
    bool gainsKept = true;
    std::atomic<bool> started { false };
    QObject::connect(eq.get(), &SoundAlgo::notifyBegin, [&started](unsigned int) { started = true; });
    const std::vector<double> out = runWhilePoked(*eq, reader, [&] {
        // Levels change from the start, while the run designs its filters.
        eq->SetLevel(unsigned(changes % 9), double(changes % 7) - 3.0);
        if (!started)
            return;
        eq->setFilter(unsigned((changes + 4) % 9), replacement.buildFilter(44100));
        gainsKept = gainsKept && eq->getFilterGain(3) == 1.0 && eq->hasFilters();
        eq->resetFilterGain(8);
        ++changes;
    }, 200);
    EXPECT_GT(changes, 10);
    EXPECT_TRUE(gainsKept);
    ASSERT_EQ(out.size(), 2u * 4000000u);
    for (double v : out)
        ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 4.0);
}
