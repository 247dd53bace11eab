// Throughput of the block loop itself: a copying algorithm over an in-memory
// source, so that what is measured is the loop's bookkeeping and copies.
#include "tests/support/MemoryIO.h"
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

// A sink that touches what it is given and keeps nothing.
class NullWriter : public SoundWriter {
public:
    NullWriter()
        : SoundWriter(44100)
    {
    }
    SoundTools::Status open(QString) override { return SoundTools::Ok; }
    void close() override {}
    double sum = 0;
    size_t written = 0;

protected:
    unsigned int write(unsigned int count, double* frames) override
    {
        sum += frames[0] + frames[2 * (count - 1) + 1];
        written += count;
        return count;
    }
};

// A source that fills blocks with memcpy from a precomputed period, the way a
// file reader hands decoded frames over.
class PeriodicReader : public SoundReader {
public:
    explicit PeriodicReader(unsigned int frames)
        : mFrames(frames)
        , mPeriod(2 * kPeriod)
    {
        for (size_t i = 0; i < mPeriod.size(); ++i)
            mPeriod[i] = double(i % 977) / 977.0;
    }
    SoundTools::Status open(QString) override { return SoundTools::Ok; }
    void close() override {}
    unsigned int getFrameNB() const override { return mFrames; }
    unsigned int getSampleRate() const override { return 44100; }
    void rewind() override { mOffset = 0; }
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Float64; }

protected:
    unsigned int read(unsigned int count, double* dest) override
    {
        const unsigned int n = std::min<unsigned int>(count, mFrames - static_cast<unsigned int>(mOffset));
        unsigned int done = 0;
        while (done < n) {
            const unsigned int chunk = std::min(n - done, kPeriod);
            std::memcpy(dest + 2 * done, mPeriod.data(), sizeof(double) * 2 * chunk);
            done += chunk;
        }
        return n;
    }

private:
    static constexpr unsigned int kPeriod = 8192;
    unsigned int mFrames;
    std::vector<double> mPeriod;
};

void BM_LoopCopy(benchmark::State& state)
{
    const unsigned int saved = SoundBuffer::getDefaultSize();
    SoundBuffer::setDefaultSize(static_cast<unsigned int>(state.range(0)));
    const unsigned int frames = 10 * 1000 * 1000;
    auto* algo = new CopyAlgo;
    for (auto _ : state) {
        PeriodicReader reader(frames);
        NullWriter writer;
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
