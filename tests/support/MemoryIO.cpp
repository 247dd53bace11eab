#include "tests/support/MemoryIO.h"

#include <algorithm>
#include <memory>

namespace testsupport {

double rampValue(int index, int channel)
{
    return channel == 0 ? (index + 1) * 1e-6 : -(index + 1) * 1e-6 - 0.25;
}

std::shared_ptr<SoundBuffer> rampBlock(int origin, unsigned int frames, unsigned int sampleRate)
{
    auto block = SoundBuffer::createNew(sampleRate);
    block->alloc(frames, 2, 1, 1);
    block->setFrameNB(frames);
    block->setOrigin(origin);
    for (int i = origin; i < origin + int(frames); ++i)
        for (int c = 0; c < 2; ++c)
            block->getFrame(i)[c] = rampValue(i, c);
    return block;
}

GeneratorReader::GeneratorReader(unsigned int frames, unsigned int sampleRate, FrameFunction function)
    : mFrames(frames)
    , mRate(sampleRate)
    , mFunction(std::move(function))
{
}

SoundTools::Status GeneratorReader::open(QString)
{
    rewind();
    return SoundTools::Ok;
}

void GeneratorReader::rewind()
{
    mOffset = getStartOffset();
    resetAtEnd();
}

unsigned int GeneratorReader::read(unsigned int count, double* dest)
{
    const long long available = (long long)mFrames - mOffset;
    const unsigned int n = static_cast<unsigned int>(std::clamp<long long>(available, 0, count));
    for (unsigned int i = 0; i < n; ++i) {
        dest[2 * i] = mFunction(mOffset + static_cast<int>(i), 0);
        dest[2 * i + 1] = mFunction(mOffset + static_cast<int>(i), 1);
    }
    return n;
}

// The samples are shared by every copy of the function.
VectorReader::VectorReader(std::vector<double> interleaved, unsigned int sampleRate)
    : GeneratorReader(static_cast<unsigned int>(interleaved.size() / 2), sampleRate,
                      [samples = std::make_shared<const std::vector<double>>(interleaved)](int index, int channel) {
                          return (*samples)[size_t(index) * 2 + size_t(channel)];
                      })
{
}

CapturingWriter::CapturingWriter(unsigned int sampleRate, unsigned int channels)
    : SoundWriter(sampleRate)
    , mChannels(channels)
{
}

unsigned int CapturingWriter::write(unsigned int count, double* frames)
{
    const size_t room = mFailAfter > this->frames() ? mFailAfter - this->frames() : 0;
    const unsigned int n = static_cast<unsigned int>(std::min<size_t>(count, room));
    mSamples.insert(mSamples.end(), frames, frames + size_t(n) * mChannels);
    return n;
}

} // namespace testsupport
