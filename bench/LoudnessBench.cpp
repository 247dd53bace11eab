// Throughput of the loudness meter over a 10-minute stereo stream at 44.1
// kHz. Per frame libebur128 runs the K-weighting (two biquads a channel) and
// the 4x oversampling of its true-peak detector (a 48-tap polyphase FIR a
// channel), which is most of the cost. The meter oversamples only the blocks
// where the true peak can still rise; these tones swing across their whole
// range within the oversampler's memory, so every block is measured: the
// worst case. Music, which stays well below its peak most of the time, skips
// nearly all of it (`tulv analyze` measures under 1% of the demo side).
#include "bench/BenchStreams.h"
#include "tulv/analysis/SoundAlgoLoudness.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

namespace {

constexpr unsigned int kRate = 44100;
constexpr unsigned int kTenMinutes = 10 * 60 * kRate;

const std::vector<double>& tones()
{
    static const std::vector<double> pattern = [] {
        std::vector<double> p(2 * 8192);
        for (size_t i = 0; i < p.size() / 2; ++i)
            p[2 * i] = p[2 * i + 1] = 0.3 * std::sin(2 * M_PI * 86.13 * i / kRate) + 0.2 * std::sin(2 * M_PI * 1033.6 * i / kRate);
        return p;
    }();
    return pattern;
}

void BM_LoudnessMeter(benchmark::State& state)
{
    auto* meter = new SoundAlgoLoudness(2);
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(kTenMinutes, tones(), kRate);
        if (meter->processAll(reader, nullptr) != SoundTools::Ok)
            state.SkipWithError("loudness run failed");
        benchmark::DoNotOptimize(meter->getIntegratedLoudness());
    }
    meter->release();
    state.counters["x realtime"]
        = benchmark::Counter(double(state.iterations()) * kTenMinutes / kRate, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_LoudnessMeter)->Unit(benchmark::kMillisecond)->MeasureProcessCPUTime();

} // namespace
