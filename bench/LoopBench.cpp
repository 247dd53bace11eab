// Throughput of the block loop itself: a copying algorithm over an in-memory
// source, so that what is measured is the loop's bookkeeping and copies.
#include "bench/BenchStreams.h"
#include "tulv/core/SoundAlgo.h"

#include <benchmark/benchmark.h>

#include <cstring>

namespace {

class CopyAlgo : public SoundAlgo {
public:
    SoundTools::Status process() override
    {
        auto in = getInBuffer(0);
        auto out = getOutBuffer(0);
        const int from = getOutOrigin();
        std::memcpy(out->getFrame(from), in->getFrame(from), sizeof(double) * 2 * getOutFrameNb());
        return SoundTools::Ok;
    }
};

// A saw-tooth period of 977 frames.
std::vector<double> buildRamp()
{
    std::vector<double> period(2 * 8192);
    for (size_t i = 0; i < period.size(); ++i)
        period[i] = double(i % 977) / 977.0;
    return period;
}

const std::vector<double>& ramp()
{
    static const std::vector<double> pattern = buildRamp();
    return pattern;
}

void BM_LoopCopy(benchmark::State& state)
{
    const unsigned int saved = SoundBuffer::getDefaultSize();
    SoundBuffer::setDefaultSize(static_cast<unsigned int>(state.range(0)));
    const unsigned int frames = 10 * 1000 * 1000;
    auto* algo = new CopyAlgo;
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(frames, ramp());
        benchstreams::NullWriter writer;
        if (algo->processAll(reader, &writer) != SoundTools::Ok || writer.written != frames)
            state.SkipWithError("the loop did not copy the whole stream");
        benchmark::DoNotOptimize(writer.sum);
    }
    algo->release();
    SoundBuffer::setDefaultSize(saved);
    state.SetItemsProcessed(int64_t(state.iterations()) * frames);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * frames, benchmark::Counter::kIsRate);
}

} // namespace

BENCHMARK(BM_LoopCopy)->Arg(64)->Arg(256)->Arg(1024)->Arg(4096)->Arg(16384)->Unit(benchmark::kMillisecond);
