#include "tulv/core/SoundBuffer.h"

#include "tulv/core/SoundDebuggableClass.h"

#include <algorithm>
#include <cstring>

unsigned int SoundBuffer::sSize = 1024;

SoundBuffer::SoundBuffer(unsigned int rate)
    : sampleRate(rate)
{
}

SoundBuffer::SoundBuffer(const SoundBuffer& source)
    : sampleRate(source.sampleRate)
{
    *this = source;
}

SoundBuffer::~SoundBuffer()
{
    delete[] data;
}

std::shared_ptr<SoundBuffer> SoundBuffer::createNew(unsigned int rate)
{
    return std::make_shared<SoundBuffer>(rate);
}

SoundBuffer& SoundBuffer::operator=(const SoundBuffer& source)
{
    if (this == &source)
        return *this;
    alloc(source.frameNB, static_cast<int>(source.channelNum), source.frameSize, source.elementSize);
    frameNB = source.frameNB;
    origin = source.origin;
    sampleRate = source.sampleRate;
    startOffset = source.startOffset;
    initialDelay = 0;
    if (frameNB > 0)
        std::memcpy(data, source.data, sizeof(double) * size_t(frameNB) * getFrameStride());
    return *this;
}

void SoundBuffer::alloc(unsigned int frames, int channels, unsigned int fSize, unsigned int eSize)
{
    frameNB = 0;
    const size_t perFrame = size_t(channels) * fSize * eSize;
    const size_t newTotal = size_t(frames) * perFrame;
    // Compared with the storage held, not with the last shape: a queue slot
    // that took a long block keeps its storage through shorter ones.
    if (!data || newTotal > capacity) {
        delete[] data;
        capacity = newTotal ? newTotal : 1;
        data = new double[capacity]();
    } else if (newTotal > size_t(frameNBAllocated) * perFrame) {
        // A larger shape reads as fresh storage, as it did when it was one.
        std::fill_n(data, newTotal, 0.0);
    }
    channelNum = static_cast<unsigned int>(channels);
    frameSize = fSize;
    elementSize = eSize;
    frameNBAllocated = frames;
}

void SoundBuffer::setFrameNB(unsigned int frames)
{
    if (frames > frameNBAllocated)
        alloc(frames, static_cast<int>(channelNum), frameSize, elementSize);
    frameNB = frames;
}

void SoundBuffer::appendMargin(unsigned int count)
{
    const size_t stride = getFrameStride();
    if (frameNB + count > frameNBAllocated) {
        const unsigned int grown = frameNB + count;
        const size_t total = size_t(grown) * stride;
        if (!data || total > capacity) {
            double* bigger = new double[total > 0 ? total : 1];
            if (frameNB > 0)
                std::memcpy(bigger, data, sizeof(double) * size_t(frameNB) * stride);
            delete[] data;
            data = bigger;
            capacity = total > 0 ? total : 1;
        }
        frameNBAllocated = grown;
    }
    std::fill_n(data + size_t(frameNB) * stride, size_t(count) * stride, 0.0);
    frameNB += count;
}

unsigned int SoundBuffer::keepMargin(unsigned int margin)
{
    const size_t stride = getFrameStride();
    // First fill of a delayed buffer: the stream starts `initialDelay` frames
    // into it, and those frames (plus the margin) must be silence.
    if (initialDelay > 0 && frameNB == 0) {
        const size_t zeroed = std::min<size_t>(frameNBAllocated, size_t(margin) + size_t(initialDelay));
        std::fill_n(data, zeroed * stride, 0.0);
        // Only the first fill carries the delay: a later empty window must not
        // insert the silence a second time.
        const unsigned int delay = static_cast<unsigned int>(initialDelay);
        initialDelay = 0;
        return delay;
    }
    if (margin >= frameNB)
        return 0;
    origin += static_cast<int>(frameNB - margin);
    std::memmove(data, data + size_t(frameNB - margin) * stride, sizeof(double) * size_t(margin) * stride);
    return margin;
}

void SoundBuffer::rotate(unsigned int count)
{
    keepMargin(frameNB - std::min(frameNB, count));
}

void SoundBuffer::reset()
{
    if (data)
        std::fill_n(data, size_t(frameNBAllocated) * getFrameStride(), 0.0);
}

void SoundBuffer::setInitialDelay(unsigned int delay)
{
    origin -= static_cast<int>(delay);
    initialDelay = static_cast<int>(delay);
    frameNB = 0;
}

void SoundBuffer::addBuffer(double value)
{
    const size_t n = size_t(channelNum) * frameNB;
    for (size_t i = 0; i < n; ++i)
        data[i] += value;
}

void SoundBuffer::mulBuffer(double factor)
{
    const size_t n = size_t(channelNum) * frameNB;
    for (size_t i = 0; i < n; ++i)
        data[i] *= factor;
}

void SoundBuffer::normBuffer(double offset, double scale)
{
    const size_t n = size_t(channelNum) * frameNB;
    for (size_t i = 0; i < n; ++i)
        data[i] = (data[i] + offset) * scale;
}

double* SoundBuffer::getFrame(int absoluteIndex)
{
    if (absoluteIndex < origin) {
        SoundDebuggableClass::getOStream() << "Frame " << absoluteIndex << " inferior to " << origin << std::endl;
        return nullptr;
    }
    return data + size_t(absoluteIndex - origin) * getFrameStride();
}

double* SoundBuffer::getRelFrame(int relativeIndex)
{
    if (relativeIndex < 0) {
        SoundDebuggableClass::getOStream() << "Frame negative" << std::endl;
        return nullptr;
    }
    return data + size_t(relativeIndex) * getFrameStride();
}

bool SoundBuffer::hasValidFrames() const
{
    return static_cast<int>(frameNB) + origin - getStartPoint() > 0;
}
