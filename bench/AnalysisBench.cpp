// Throughput of measuring the band statistics of a 10-minute stereo stream
// at 44.1 kHz into a statistics file, on one OpenMP thread, with the default
// ten bands: through the crossover tree (per band and frame a fourth-order
// crossover, both of its filters in one pass, an add and the level sums:
// about 42 ns a frame for the ten bands) and through 8192-point FFTs
// (half-overlapped: two transforms of 8192 points per 8192 frames, plus one
// power sum per bin).
#include "bench/BenchStreams.h"
#include "tulv/analysis/SoundStatFile.h"
#include "tulv/analysis/SoundStatReference.h"

#include <benchmark/benchmark.h>

#include <omp.h>

#include <cmath>
#include <vector>

namespace {

constexpr unsigned int kRate = 44100;
constexpr unsigned int kTenMinutes = 10 * 60 * kRate;

// Arg: FFT size, 0 for the crossover tree.
void BM_StatFileMeasureTenMinutes(benchmark::State& state)
{
    std::vector<double> pattern(2 * 8192);
    for (size_t i = 0; i < pattern.size() / 2; ++i)
        pattern[2 * i] = pattern[2 * i + 1] = 0.3 * std::sin(2 * M_PI * 86.13 * i / kRate)
            + 0.2 * std::sin(2 * M_PI * 1033.6 * i / kRate) + 0.1 * std::sin(2 * M_PI * 9001.8 * i / kRate);
    const int saved = omp_get_max_threads();
    omp_set_num_threads(1);
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(kTenMinutes, pattern, kRate);
        SoundStatFile file;
        if (file.measure(reader, SoundStatReference::getDefaultFrequencies(), unsigned(state.range(0)))
            != SoundTools::Ok)
            state.SkipWithError("measurement failed");
        benchmark::DoNotOptimize(file.getRelativeLevels());
    }
    omp_set_num_threads(saved);
    state.counters["x realtime"]
        = benchmark::Counter(double(state.iterations()) * kTenMinutes / kRate, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_StatFileMeasureTenMinutes)->Arg(0)->Arg(8192)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
