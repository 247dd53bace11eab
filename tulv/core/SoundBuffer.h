#ifndef TULV_CORE_SOUNDBUFFER_H
#define TULV_CORE_SOUNDBUFFER_H

#include "tulv/core/SoundTools.h"

#include <memory>

// A window of a longer stream of frames of doubles. The buffer knows the
// absolute index of its first frame (`origin`), so algorithms address frames
// by their position in the stream and a block can keep an overlap of frames
// from the block before. Shared between producer and consumer through
// std::shared_ptr; it has no lock and is used by one thread at a time.
class SoundBuffer {
public:
    explicit SoundBuffer(unsigned int sampleRate);
    ~SoundBuffer();
    SoundBuffer& operator=(const SoundBuffer& source);

    static std::shared_ptr<SoundBuffer> createNew(unsigned int sampleRate);

    // Gives the buffer a shape. Storage is replaced (and zeroed) only when the
    // new total of values exceeds the present one, so a loop re-allocating
    // the same shape every block allocates once; kept storage is not cleared.
    void alloc(unsigned int frameNB, int channelNum, unsigned int frameSize, unsigned int elementSize);
    // Beyond the capacity this re-allocates: the values held are lost.
    void setFrameNB(unsigned int frameNB);
    // Appends `count` zero frames after the valid ones, growing (and keeping
    // the values) when needed.
    void appendMargin(unsigned int count);
    // Keeps the last `margin` frames at the head for the next block and
    // returns how many frames are now at the head (see the .cpp).
    unsigned int keepMargin(unsigned int margin);
    // Drops the first `count` frames (at most frameNB) and slides the rest.
    void rotate(unsigned int count);
    void reset();
    // Moves the origin back by `delay` frames that the first fill will zero.
    void setInitialDelay(unsigned int delay);

    // In place on the first channelNum × frameNB values.
    void addBuffer(double value);
    void mulBuffer(double factor);
    void normBuffer(double offset, double scale);

    // Absolute addressing; below the origin reports and returns null. There
    // is no check against the end: callers stay within getFrameNB(index).
    double* getFrame(int absoluteIndex);
    SoundTools::StereoFrame<double>* getStereoFrame(int absoluteIndex)
    {
        return reinterpret_cast<SoundTools::StereoFrame<double>*>(getFrame(absoluteIndex));
    }
    double* getRelFrame(int relativeIndex);
    SoundTools::StereoFrame<double>* getRelStereoFrame(int relativeIndex)
    {
        return reinterpret_cast<SoundTools::StereoFrame<double>*>(getRelFrame(relativeIndex));
    }

    unsigned int getFrameNB() const { return frameNB; }
    // Frames from absolute index `absoluteIndex` to the end of the valid ones.
    int getFrameNB(int absoluteIndex) const { return origin + static_cast<int>(frameNB) - absoluteIndex; }
    unsigned int getFrameNBAllocated() const { return frameNBAllocated; }
    int getOrigin() const { return origin; }
    int getEnd() const { return origin + static_cast<int>(frameNB) - 1; }
    int getStartPoint() const { return startOffset > origin ? startOffset : origin; }
    unsigned int getChannelNum() const { return channelNum; }
    unsigned int getFrameSize() const { return frameSize; }
    unsigned int getElementSize() const { return elementSize; }
    unsigned int getFrameStride() const { return channelNum * frameSize * elementSize; }
    unsigned int getSampleRate() const { return sampleRate; }
    bool isStereo() const { return getFrameStride() == 2; }
    bool hasValidFrames() const;

    void setOrigin(int absoluteIndex) { origin = absoluteIndex; }
    void setStartOffset(int absoluteIndex) { startOffset = absoluteIndex; }
    void setSampleRate(unsigned int rate) { sampleRate = rate; }

    void printDescription() const {}

    static unsigned int getDefaultSize() { return sSize; }
    // 0 is ignored: a block of no frames would never advance the stream.
    static void setDefaultSize(unsigned int frames)
    {
        if (frames != 0)
            sSize = frames;
    }

protected:
    SoundBuffer(const SoundBuffer& source);

private:
    double* data = nullptr;
    size_t capacity = 0; // values the storage holds
    unsigned int frameNB = 0;
    unsigned int frameNBAllocated = 0;
    int origin = 0;
    int initialDelay = 0;
    int startOffset = 0;
    unsigned int sampleRate = 0;
    unsigned int channelNum = 0;
    unsigned int frameSize = 0;
    unsigned int elementSize = 0;

    // Default block size in frames; the loop's lower bound for every
    // algorithm's preferred buffer size.
    static unsigned int sSize;
};

#endif
