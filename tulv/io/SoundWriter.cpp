#include "tulv/io/SoundWriter.h"

SoundTools::Status SoundWriter::writeBuffer(std::shared_ptr<SoundBuffer> buffer, unsigned int tail)
{
    int from = buffer->getStartPoint();
    if (from > mRangeEnd)
        return SoundTools::Ok;
    // A block that starts after the next frame due is written straight after
    // the last frame written: the output has no gap. A block that starts
    // before it skips the frames already written.
    if (from - mRangeStart > mCurrentOffset)
        mRangeStart = from - mCurrentOffset;
    else
        from = mRangeStart + mCurrentOffset;
    if (from > mRangeEnd)
        return SoundTools::Ok;
    if (buffer->getSampleRate() != mSampleRate) {
        setError(QStringLiteral("SoundWriter::WriteBuffer : Samplerate conversion not implemented"), nullptr);
        return SoundTools::Error;
    }
    if (buffer->getChannelNum() != getChannelNum()) {
        setError(QStringLiteral("SoundWriter::WriteBuffer : Incorrect number of channels"), nullptr);
        return SoundTools::Error;
    }
    long long count = (long long)buffer->getOrigin() + buffer->getFrameNB() - from - tail;
    if (from + count > mRangeEnd)
        count = (long long)mRangeEnd - from;
    if (count <= 0)
        return SoundTools::Ok;
    const unsigned int n = write(static_cast<unsigned int>(count), buffer->getFrame(from));
    mCurrentOffset += static_cast<int>(n);
    return n == count ? SoundTools::Ok : SoundTools::Error;
}
