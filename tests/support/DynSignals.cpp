#include "tulv/core/SoundRefCounted.h"

#include "tests/support/DynSignals.h"

#include "tests/support/MemoryIO.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <cmath>

namespace dyntest {

void releaseAlgo(SoundAlgo* algo)
{
    algo->release();
}

std::vector<double> runWhilePoked(SoundAlgo& algo, SoundReader& reader, const std::function<void()>& poke,
                                  int pauseUs)
{
    reader.open(QString());
    testsupport::CapturingWriter writer(reader.getSampleRate());
    writer.setRange(0, int(reader.getFrameNB()));
    std::atomic<bool> done { false };
    std::thread ui([&] {
        while (!done.load()) {
            poke();
            std::this_thread::sleep_for(std::chrono::microseconds(pauseUs));
        }
    });
    std::atomic<int> status { -1 };
    std::thread worker([&] {
        status = algo.processAll(reader, &writer);
        done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
    while (!done.load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    const bool finished = done.load();
    if (!finished)
        algo.pleaseStop();
    worker.join();
    done = true;
    ui.join();
    EXPECT_TRUE(finished) << "the run missed its deadline";
    EXPECT_EQ(status.load(), int(SoundTools::Ok));
    return writer.samples();
}

BlockSizeGuard::BlockSizeGuard(unsigned int frames)
    : mSaved(SoundBuffer::getDefaultSize())
{
    SoundBuffer::setDefaultSize(frames);
}

BlockSizeGuard::~BlockSizeGuard()
{
    SoundBuffer::setDefaultSize(mSaved);
}

std::vector<double> runThrough(SoundAlgo& algo, const std::vector<double>& input, unsigned int block,
                               unsigned int sampleRate)
{
    const unsigned int saved = SoundBuffer::getDefaultSize();
    if (block != 0)
        SoundBuffer::setDefaultSize(block);
    testsupport::VectorReader reader(input, sampleRate);
    reader.open(QString());
    testsupport::CapturingWriter writer(sampleRate);
    // The flush behind the end of the source is not part of the stream.
    writer.setRange(0, static_cast<int>(input.size() / 2));
    const SoundTools::Status status = algo.processAll(reader, &writer);
    SoundBuffer::setDefaultSize(saved);
    if (status != SoundTools::Ok)
        return {};
    return writer.samples();
}

std::vector<double> sine(unsigned int frames, double frequency, double amplitude, unsigned int sampleRate,
                         double phase)
{
    std::vector<double> out(size_t(frames) * 2);
    const double w = 2.0 * M_PI * frequency / sampleRate;
    for (unsigned int i = 0; i < frames; ++i) {
        out[2 * i] = amplitude * std::sin(w * i);
        out[2 * i + 1] = amplitude * std::sin(w * i + phase);
    }
    return out;
}

std::vector<double> constant(unsigned int frames, double value)
{
    return std::vector<double>(size_t(frames) * 2, value);
}

std::vector<double> operator+(std::vector<double> a, const std::vector<double>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

double peakOf(const std::vector<double>& samples, size_t fromFrame, size_t toFrame)
{
    double peak = 0.0;
    const size_t end = std::min(toFrame, samples.size() / 2);
    for (size_t i = fromFrame; i < end; ++i)
        peak = std::max({ peak, std::fabs(samples[2 * i]), std::fabs(samples[2 * i + 1]) });
    return peak;
}

} // namespace dyntest
