#ifndef TULV_BENCH_BENCHSTREAMS_H
#define TULV_BENCH_BENCHSTREAMS_H

// Sources and sinks of the benchmarks: they cost as little as a file back end
// could, so what is timed is the algorithm and the loop around it.

#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace benchstreams {

// Repeats a pattern of interleaved stereo frames, copied in with memcpy as a
// file reader hands decoded frames over. The pattern is the caller's and must
// outlive the reader.
class RepeatingReader : public SoundReader {
public:
    RepeatingReader(unsigned int frames, const std::vector<double>& pattern, unsigned int sampleRate = 44100)
        : mFrames(frames)
        , mRate(sampleRate)
        , mPattern(pattern)
        , mPatternFrames(static_cast<unsigned int>(pattern.size() / 2))
    {
    }
    SoundTools::Status open(QString) override { return SoundTools::Ok; }
    void close() override {}
    unsigned int getFrameNB() const override { return mFrames; }
    unsigned int getSampleRate() const override { return mRate; }
    void rewind() override { mOffset = 0; }
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Float64; }

protected:
    unsigned int read(unsigned int count, double* dest) override
    {
        // The position runs past the end once the flush of an overlap has
        // been padded behind the last frame.
        const long long left = (long long)mFrames - mOffset;
        const unsigned int n = static_cast<unsigned int>(std::clamp<long long>(left, 0, count));
        unsigned int done = 0;
        while (done < n) {
            const unsigned int at = (static_cast<unsigned int>(mOffset) + done) % mPatternFrames;
            const unsigned int chunk = std::min(n - done, mPatternFrames - at);
            std::memcpy(dest + 2 * done, mPattern.data() + 2 * size_t(at), sizeof(double) * 2 * chunk);
            done += chunk;
        }
        return n;
    }

private:
    unsigned int mFrames;
    unsigned int mRate;
    const std::vector<double>& mPattern;
    unsigned int mPatternFrames;
};

// A sink that touches what it is given and keeps nothing.
class NullWriter : public SoundWriter {
public:
    explicit NullWriter(unsigned int sampleRate = 44100)
        : SoundWriter(sampleRate)
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

} // namespace benchstreams

#endif
