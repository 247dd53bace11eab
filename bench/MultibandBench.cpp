// Throughput of the multiband algorithms over a 10-minute stereo stream at
// 44.1 kHz: a 10-band level statistics tree and a 4-band automatic gain on
// the IIR band tree, on one and on two OpenMP threads. Per band and frame a
// tree costs one splitter, one two-input add and the band's own work:
// - a crossover runs its fourth-order low and high pass in one pass, both
//   channels of both filters in one 256-bit vector (9 vector multiplies and
//   8 adds, about 2 ns; two 128-bit halves where AVX2 is missing);
// - a first-order split runs one first-order filter and the complement
//   (a fraction of that);
// - the add is one vector add per frame, the statistics one vector square,
//   add, absolute value and compare, plus the copy of the band to its output.
// The ten bands come to about 42 ns a frame, 540x real time on one core of
// the development machine. Nested composites on one thread run their
// branches in turn: a parallel region of one thread would still pay a
// system call at each of its barriers, dozens per block.
#include "bench/BenchStreams.h"
#include "tulv/analysis/SoundAlgoStats.h"
#include "tulv/spectral/SoundAlgoFilterMultibandAmplifier.h"

#include <benchmark/benchmark.h>

#include <omp.h>

#include <cmath>
#include <vector>

namespace {

constexpr unsigned int kRate = 44100;
constexpr unsigned int kTenMinutes = 10 * 60 * kRate;

// Three tones over 8192 frames: every band of the trees has sound in it.
const std::vector<double>& music()
{
    static const std::vector<double> pattern = [] {
        std::vector<double> p(2 * 8192);
        for (size_t i = 0; i < p.size() / 2; ++i)
            p[2 * i] = p[2 * i + 1] = 0.3 * std::sin(2 * M_PI * 86.13 * i / kRate)
                + 0.2 * std::sin(2 * M_PI * 1033.6 * i / kRate) + 0.1 * std::sin(2 * M_PI * 9001.8 * i / kRate);
        return p;
    }();
    return pattern;
}

void run(benchmark::State& state, SoundAlgo* graph, int threads)
{
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(kTenMinutes, music(), kRate);
        benchstreams::NullWriter writer(kRate);
        if (graph->processAll(reader, &writer) != SoundTools::Ok)
            state.SkipWithError("multiband run failed");
        benchmark::DoNotOptimize(writer.sum);
    }
    omp_set_num_threads(saved);
    graph->release();
    state.counters["frames/s"]
        = benchmark::Counter(double(state.iterations()) * kTenMinutes, benchmark::Counter::kIsRate);
    state.counters["x realtime"]
        = benchmark::Counter(double(state.iterations()) * kTenMinutes / kRate, benchmark::Counter::kIsRate);
}

// Args: splitter type, threads. Nine crossovers an octave apart from 31 Hz
// make ten bands.
void BM_StatsTree10Bands(benchmark::State& state)
{
    std::vector<double> freqs;
    for (double f = 31.25; freqs.size() < 9; f *= 2)
        freqs.push_back(f);
    SoundAlgoStats::FrequencyBuilder builder;
    auto* tree = new SoundAlgoComposite;
    tree->buildMultibandTree(freqs, builder, SoundAlgoComposite::SplitterType(state.range(0)));
    run(state, tree, int(state.range(1)));
}

// Arg: threads. Three crossovers, four bands, the usual gain settings.
void BM_FilterMultibandAmplifier4Bands(benchmark::State& state)
{
    run(state,
        new SoundAlgoFilterMultibandAmplifier({ 150.0, 1200.0, 5000.0 }, -20.0, 0.005, 0.2, 3.0, nullptr,
                                              SoundAlgoComposite::SplitCrossover, 0, 30.0, {}),
        int(state.range(0)));
}

} // namespace

BENCHMARK(BM_StatsTree10Bands)
    ->ArgsProduct({ { 0, 2 }, { 1, 2 } })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(1);
BENCHMARK(BM_FilterMultibandAmplifier4Bands)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
