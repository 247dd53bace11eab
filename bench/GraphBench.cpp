// Throughput of algorithm graphs: the adder over several inputs and a
// two-branch composite with a heavy member in each branch, on one and on two
// OpenMP threads.
#include "bench/BenchStreams.h"
#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/core/SoundAlgoElementary.h"

#include <benchmark/benchmark.h>

#include <omp.h>

#include <cstring>
#include <vector>

namespace {

// A saw-tooth period of 977 frames around zero.
std::vector<double> buildSawTooth()
{
    std::vector<double> period(2 * 8192);
    for (size_t i = 0; i < period.size(); ++i)
        period[i] = double(i % 977) / 977.0 - 0.5;
    return period;
}

const std::vector<double>& sawTooth()
{
    static const std::vector<double> pattern = buildSawTooth();
    return pattern;
}

// Hands out its one input as every one of its outputs, without copying, so
// that what a graph after it costs is the adder alone.
class ShareInput : public SoundAlgo {
public:
    explicit ShareInput(unsigned int outputs)
        : mOutputs(outputs)
    {
    }
    SoundTools::Status process() override { return SoundTools::Ok; }

protected:
    unsigned int getOutputNumber() const override { return mOutputs; }
    SoundTools::Status initOutputBuffer(const LoopContext&) override
    {
        for (auto& buffer : mOutBuffers)
            buffer = mInBuffers[0];
        return SoundTools::Ok;
    }
    void setOutOrigin() override {}
    void updateOutput(unsigned int) override {}

private:
    unsigned int mOutputs;
};

// A direct-form FIR of `taps` coefficients over the frames ahead: the kind of
// member that makes a branch worth a thread. Cost: 2 · taps multiply-adds a
// frame.
class HeavyFir : public SoundAlgo {
public:
    explicit HeavyFir(unsigned int taps)
        : mTaps(taps)
    {
        for (unsigned int k = 0; k < taps; ++k)
            mCoefficients.push_back(1.0 / (k + 2));
    }
    SoundTools::Status process() override
    {
        const unsigned int n = getOutFrameNb();
        const double* in = getInBuffer(0)->getFrame(getInOrigin());
        double* out = getOutBuffer(0)->getFrame(getOutOrigin());
        for (unsigned int f = 0; f < n; ++f) {
            double left = 0.0;
            double right = 0.0;
            for (unsigned int k = 0; k < mTaps; ++k) {
                left += mCoefficients[k] * in[2 * (f + k)];
                right += mCoefficients[k] * in[2 * (f + k) + 1];
            }
            out[2 * f] = left;
            out[2 * f + 1] = right;
        }
        return SoundTools::Ok;
    }

protected:
    unsigned int getInOverlap(unsigned int) const override { return mTaps - 1; }

private:
    unsigned int mTaps;
    std::vector<double> mCoefficients;
};

void runGraph(benchmark::State& state, SoundAlgo* graph, unsigned int frames, int threads)
{
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    for (auto _ : state) {
        benchstreams::RepeatingReader reader(frames, sawTooth());
        benchstreams::NullWriter writer;
        if (graph->processAll(reader, &writer) != SoundTools::Ok)
            state.SkipWithError("graph failed");
        benchmark::DoNotOptimize(writer.sum);
    }
    omp_set_num_threads(saved);
    graph->release();
    state.SetItemsProcessed(int64_t(state.iterations()) * frames);
    state.counters["frames/s"] = benchmark::Counter(double(state.iterations()) * frames, benchmark::Counter::kIsRate);
}

// Args: inputs, threads, block size in frames. Weights other than 1 keep
// the general (parallel) loop even for two inputs.
void BM_AddInputs(benchmark::State& state)
{
    const int inputs = int(state.range(0));
    const unsigned int savedBlock = SoundBuffer::getDefaultSize();
    SoundBuffer::setDefaultSize(unsigned(state.range(2)));
    std::vector<double> weights(size_t(inputs), 0.5);
    auto* graph = new SoundAlgoComposite;
    graph->pushAlgo(new ShareInput(unsigned(inputs)));
    graph->pushAlgo(new SoundAlgoAdd(inputs, true, weights.data()));
    runGraph(state, graph, 4 * 1000 * 1000, int(state.range(1)));
    SoundBuffer::setDefaultSize(savedBlock);
}

// The plain sum of two streams, computed without worker threads.
void BM_AddTwoPlain(benchmark::State& state)
{
    auto* graph = new SoundAlgoComposite;
    graph->pushAlgo(new ShareInput(2));
    graph->pushAlgo(new SoundAlgoAdd());
    runGraph(state, graph, 4 * 1000 * 1000, 1);
}

// Args: FIR taps per branch, threads, block size in frames.
void BM_TwoBranchComposite(benchmark::State& state)
{
    const unsigned int taps = unsigned(state.range(0));
    const unsigned int savedBlock = SoundBuffer::getDefaultSize();
    SoundBuffer::setDefaultSize(unsigned(state.range(2)));
    auto* graph = new SoundAlgoComposite;
    auto* parallel = new SoundAlgoComposite;
    parallel->pushAlgo(new HeavyFir(taps));
    parallel->addNewBranch();
    parallel->pushAlgo(new HeavyFir(taps));
    graph->pushAlgo(parallel);
    graph->pushAlgo(new SoundAlgoAdd());
    runGraph(state, graph, 500 * 1000, int(state.range(1)));
    SoundBuffer::setDefaultSize(savedBlock);
}

} // namespace

BENCHMARK(BM_AddInputs)->ArgsProduct({ { 2, 8 }, { 1, 2 }, { 1024, 16384 } })->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_AddTwoPlain)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_TwoBranchComposite)->ArgsProduct({ { 64, 256 }, { 1, 2 }, { 1024, 16384 } })->Unit(benchmark::kMillisecond)->UseRealTime();
