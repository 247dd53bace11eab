// Throughput of the dynamics algorithms over a 10-minute stereo stream at
// 44100 Hz, read from memory and written nowhere, so that what is measured is
// the algorithm and the loop around it.
#include "bench/BenchStreams.h"
#include "tulv/core/SoundRefCounted.h"

#include "tests/support/MemoryIO.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/dynamics/SoundAlgoLimiter.h"
#include "tulv/dynamics/SoundAlgoRMSAmplifier.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr unsigned int kRate = 44100;
constexpr unsigned int kTenMinutes = 10 * 60 * kRate;

// Music-like material repeated from a 3-second pattern: a chord whose
// loudness swells and falls by 20 dB, with drum-like bursts that go past full
// scale once the make-up gain is applied.
std::vector<double> buildMusicPattern()
{
    constexpr unsigned int kPattern = 3 * kRate;
    std::vector<double> pattern(2 * size_t(kPattern));
    for (unsigned int i = 0; i < kPattern; ++i) {
        const double t = double(i) / kRate;
        const double swell = std::pow(10.0, -1.0 + std::sin(2 * M_PI * t / 3.0));
        double chord = 0.3 * std::sin(2 * M_PI * 220.0 * t) + 0.2 * std::sin(2 * M_PI * 277.2 * t)
            + 0.15 * std::sin(2 * M_PI * 329.6 * t);
        if (i % 22050 < 300)
            chord += 0.8 * std::exp(-double(i % 22050) / 60.0) * (int(i % 7) - 3) / 3.0;
        pattern[2 * i] = swell * chord;
        pattern[2 * i + 1] = swell * chord * 0.8;
    }
    return pattern;
}

const std::vector<double>& musicPattern()
{
    static const std::vector<double> pattern = buildMusicPattern();
    return pattern;
}

void runOver(benchmark::State& state, SoundAlgo& algo)
{
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(kTenMinutes, musicPattern(), kRate);
        benchstreams::NullWriter writer(kRate);
        writer.setRange(0, int(kTenMinutes));
        if (algo.processAll(reader, &writer) != SoundTools::Ok || writer.written != kTenMinutes)
            state.SkipWithError("the run did not process the whole stream");
        benchmark::DoNotOptimize(writer.sum);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kTenMinutes);
    state.counters["frames/s"]
        = benchmark::Counter(double(state.iterations()) * kTenMinutes, benchmark::Counter::kIsRate);
}

// Make-up gain of +6 dB with the bass boost's timing: most frames pass at the
// level, the bursts and the top of each swell are limited.
void BM_LimiterTenMinutes(benchmark::State& state)
{
    auto* limiter = new SoundAlgoLimiter(6.0, 0.005, 0.01);
    runOver(state, *limiter);
    state.counters["repairs"] = limiter->getFilteredClippings();
    state.counters["rising attacks"] = limiter->getPositiveAttacks();
    limiter->release();
}

// The regions of the material, found once by a first pass as a split does.
RMSStepDetector* detectRegions()
{
    auto* detector = new RMSStepDetector(-40.0, 0.2, 1.0, RMSStepDetector::NoOutput, false);
    benchstreams::RepeatingReader reader(kTenMinutes, musicPattern(), kRate);
    detector->processAll(reader, nullptr);
    return detector;
}

// Automatic gain to −20 dB following the detector's regions: the swells of
// the material give a region change every second or so.
void BM_AmplifierTenMinutes(benchmark::State& state)
{
    RMSStepDetector* detector = detectRegions();
    auto* amplifier = new SoundAlgoRMSAmplifier(-20.0, detector, 3.0, 0, 30.0, 20.0);
    detector->release();
    runOver(state, *amplifier);
    state.counters["regions"] = detector->size(false);
    amplifier->release();
}

// The second pass of an even-loudness split (amplifier then limiter) against
// the second pass of a plain split (the stream copied through): their ratio
// is what evening out the loudness adds to the pass that writes the tracks.
void BM_SecondPassEvenLoudness(benchmark::State& state)
{
    RMSStepDetector* detector = detectRegions();
    auto* chain = new SoundAlgoComposite();
    chain->pushAlgo(new SoundAlgoRMSAmplifier(-14.0, detector, 3.0, 0, 30.0, 20.0));
    chain->pushAlgo(new SoundAlgoLimiter(0.0, 0.005, 0.01));
    detector->release();
    runOver(state, *chain);
    chain->release();
}

void BM_SecondPassPlain(benchmark::State& state)
{
    auto* copy = new SoundAlgoBypass();
    runOver(state, *copy);
    copy->release();
}

} // namespace

BENCHMARK(BM_AmplifierTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SecondPassEvenLoudness)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_SecondPassPlain)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_LimiterTenMinutes)->Unit(benchmark::kMillisecond)->Iterations(3);
