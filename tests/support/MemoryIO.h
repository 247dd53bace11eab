#ifndef TULV_TESTS_SUPPORT_MEMORYIO_H
#define TULV_TESTS_SUPPORT_MEMORYIO_H

#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriter.h"

#include <functional>
#include <memory>
#include <vector>

namespace testsupport {

// The value a generated source holds at frame `index` of `channel`.
using FrameFunction = std::function<double(int index, int channel)>;

// A distinct, exactly representable value for every frame and channel, so a
// misplaced, doubled or lost frame shows up as a wrong value.
double rampValue(int index, int channel);
// A stereo block of `frames` frames at `origin` holding the ramp, as a
// processing loop hands it over.
std::shared_ptr<SoundBuffer> rampBlock(int origin, unsigned int frames, unsigned int sampleRate = 44100);

// A reader whose source is computed, not stored: any length at no memory cost.
class GeneratorReader : public SoundReader {
public:
    GeneratorReader(unsigned int frames, unsigned int sampleRate = 44100, FrameFunction function = rampValue);

    SoundTools::Status open(QString fileName) override;
    void close() override {}
    unsigned int getFrameNB() const override { return mFrames; }
    unsigned int getSampleRate() const override { return mRate; }
    void rewind() override;
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Float64; }
    // Positions the next read, as a back end's rewind does after a start point.
    void seek(int frame) { mOffset = frame; }

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    unsigned int mFrames;
    unsigned int mRate;
    FrameFunction mFunction;
};

// A reader over interleaved stereo samples held in memory.
class VectorReader : public GeneratorReader {
public:
    VectorReader(std::vector<double> interleaved, unsigned int sampleRate = 44100);
};

// A writer that keeps every frame written, interleaved, in memory.
class CapturingWriter : public SoundWriter {
public:
    explicit CapturingWriter(unsigned int sampleRate = 44100, unsigned int channels = 2);

    SoundTools::Status open(QString) override { return SoundTools::Ok; }
    void close() override {}
    unsigned int getChannelNum() const override { return mChannels; }

    const std::vector<double>& samples() const { return mSamples; }
    size_t frames() const { return mSamples.size() / mChannels; }
    double at(size_t frame, unsigned int channel) const { return mSamples[frame * mChannels + channel]; }
    // After this many frames, write reports a short write.
    void failAfter(size_t frames) { mFailAfter = frames; }

protected:
    unsigned int write(unsigned int count, double* frames) override;

private:
    unsigned int mChannels;
    std::vector<double> mSamples;
    size_t mFailAfter = SIZE_MAX;
};

} // namespace testsupport

#endif
