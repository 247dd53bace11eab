// Filters in the block loop: the player's nine-band equaliser (cost per
// stereo frame per biquad section) and the FIR equaliser (frames per second
// by taps and threads). With TULV_BENCH_WAV set, the equaliser also runs on
// that file, for a comparison with SoX's equalizer effects on it.
#include "bench/BenchStreams.h"
#include "tulv/filters/BiquadEqBuilder.h"
#include "tulv/filters/SoundAlgoEqFIR.h"
#include "tulv/filters/SoundAlgoFilterBiquad.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"

#include <benchmark/benchmark.h>

#include <omp.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>

namespace {

const double kBandFreqs[9] = { 60, 120, 250, 500, 1000, 2000, 4000, 8000, 15000 };
const double kPopGains[9] = { -1, 0, 2, 4, 4, 2, 0, -1, -2 };
constexpr unsigned int kRate = 44100;

// Noise (it keeps the recursions out of denormals), 8192 frames repeated.
std::vector<double> buildNoise()
{
    std::mt19937 generator(1);
    std::vector<double> period(2 * 8192);
    for (double& v : period)
        v = double(generator()) / 4294967295.0 - 0.5;
    return period;
}

const std::vector<double>& noise()
{
    static const std::vector<double> pattern = buildNoise();
    return pattern;
}

// Lets an algorithm go through its reference count. Hiding its exact type
// from the optimiser keeps GCC from a false alarm about the base-class
// pointer that `delete this` receives.
void letGo(SoundAlgo* algo)
{
    benchmark::DoNotOptimize(algo);
    algo->release();
}
// The nine-band equaliser through processAll, 60 s of 44.1 kHz stereo.
void BM_NineBandEqualiser(benchmark::State& state)
{
    const unsigned int frames = 60 * kRate;
    auto* eq = new SoundAlgoFilterBiquad();
    for (int k = 0; k < 9; ++k)
        eq->pushFilter(SoundTools::BandEq, kBandFreqs[k], 1.9, kPopGains[k]);
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(frames, noise(), kRate);
        benchstreams::NullWriter writer(kRate);
        if (eq->processAll(reader, &writer) != SoundTools::Ok || writer.written != frames)
            state.SkipWithError("the equaliser did not process the whole stream");
        benchmark::DoNotOptimize(writer.sum);
    }
    letGo(eq);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * frames, benchmark::Counter::kIsRate);
    state.counters["ns/frame/section"] = benchmark::Counter(double(state.iterations()) * frames * 9,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The same equaliser, and a pass-through for the reading cost, on a stereo
// WAV file named by TULV_BENCH_WAV: the file SoX is timed on.
void runFromFile(benchmark::State& state, bool withBands)
{
    const char* path = std::getenv("TULV_BENCH_WAV");
    if (!path) {
        state.SkipWithError("set TULV_BENCH_WAV to a stereo WAV file");
        return;
    }
    auto* eq = new SoundAlgoFilterBiquad();
    if (withBands)
        for (int k = 0; k < 9; ++k)
            eq->pushFilter(SoundTools::BandEq, kBandFreqs[k], 1.9, kPopGains[k]);
    unsigned int frames = 0;
    for (auto _ : state) {
        std::unique_ptr<SoundReader> reader(SoundReader::getFromFilename(QString::fromLocal8Bit(path)));
        if (!reader || reader->open(QString::fromLocal8Bit(path)) != SoundTools::Ok) {
            state.SkipWithError("cannot open TULV_BENCH_WAV");
            break;
        }
        frames = reader->getFrameNB();
        benchstreams::NullWriter writer(kRate);
        if (eq->processAll(*reader, &writer) != SoundTools::Ok)
            state.SkipWithError("the run failed");
        benchmark::DoNotOptimize(writer.sum);
    }
    letGo(eq);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * frames, benchmark::Counter::kIsRate);
    state.counters["ns/frame"] = benchmark::Counter(double(state.iterations()) * frames,
                                                    benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_FilePassThrough(benchmark::State& state)
{
    runFromFile(state, false);
}

void BM_FileNineBandEqualiser(benchmark::State& state)
{
    runFromFile(state, true);
}

// The nine sections applied one after another, each over the whole block:
// what the fused cascade is measured against (same arithmetic, same bits).
void BM_NineSectionsOneAfterAnother(benchmark::State& state)
{
    const unsigned int frames = 1024;
    std::vector<std::shared_ptr<SoundTools::Filter>> filters;
    for (int k = 0; k < 9; ++k)
        filters.push_back(SoundTools::BiquadEqBuilder(SoundTools::BandEq, kBandFreqs[k], 1.9, kPopGains[k]).buildFilter(kRate));
    std::vector<SoundTools::StereoFrame<double>> block(frames), out(frames);
    std::mt19937 generator(2);
    for (auto& f : block)
        f = { double(generator()) / 4294967295.0 - 0.5, double(generator()) / 4294967295.0 - 0.5 };
    for (auto _ : state) {
        filters[0]->filter(block.data(), out.data(), frames);
        for (int k = 1; k < 9; ++k)
            filters[size_t(k)]->filter(out.data(), out.data(), frames);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns/frame/section"] = benchmark::Counter(double(state.iterations()) * frames * 9,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_NineSectionsFused(benchmark::State& state)
{
    const unsigned int frames = 1024;
    std::vector<std::shared_ptr<SoundTools::Filter>> filters;
    std::vector<SoundTools::BiquadFilter*> sections;
    for (int k = 0; k < 9; ++k) {
        filters.push_back(SoundTools::BiquadEqBuilder(SoundTools::BandEq, kBandFreqs[k], 1.9, kPopGains[k]).buildFilter(kRate));
        sections.push_back(static_cast<SoundTools::BiquadFilter*>(filters.back().get()));
    }
    std::vector<SoundTools::StereoFrame<double>> block(frames), out(frames);
    std::mt19937 generator(2);
    for (auto& f : block)
        f = { double(generator()) / 4294967295.0 - 0.5, double(generator()) / 4294967295.0 - 0.5 };
    for (auto _ : state) {
        SoundTools::BiquadFilter::filterCascade(sections.data(), 9, block.data(), out.data(), frames);
        benchmark::DoNotOptimize(out.data());
    }
    state.counters["ns/frame/section"] = benchmark::Counter(double(state.iterations()) * frames * 9,
                                                            benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

// The FIR equaliser through processAll: args are the taps (1000 Hz low
// pass: 35; 1000 Hz high pass: 137) and the thread count. Two threads only
// pay off when no other process holds the second core.
void BM_FirEqualiser(benchmark::State& state)
{
    const SoundTools::FilterType type = state.range(0) == 35 ? SoundTools::LowPass : SoundTools::HighPass;
    const int threads = int(state.range(1));
    const int before = omp_get_max_threads();
    omp_set_num_threads(threads);
    const unsigned int frames = 10 * kRate;
    auto* fir = new SoundAlgoEqFIR(type, 1000.0, 0.0);
    if (fir->getLength(kRate) != unsigned(state.range(0)))
        state.SkipWithError("unexpected tap count");
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(frames, noise(), kRate);
        benchstreams::NullWriter writer(kRate);
        if (fir->processAll(reader, &writer) != SoundTools::Ok)
            state.SkipWithError("the FIR run failed");
        benchmark::DoNotOptimize(writer.sum);
    }
    letGo(fir);
    omp_set_num_threads(before);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * frames, benchmark::Counter::kIsRate);
}

} // namespace

// Single-threaded: CPU time, so that other load on the machine counts less.
BENCHMARK(BM_NineBandEqualiser)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FilePassThrough)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FileNineBandEqualiser)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NineSectionsOneAfterAnother);
BENCHMARK(BM_NineSectionsFused);
// Args: taps, threads.
BENCHMARK(BM_FirEqualiser)
    ->ArgsProduct({ { 35, 137 }, { 1, 2 } })
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
