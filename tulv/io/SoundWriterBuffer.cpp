#include "tulv/io/SoundWriterBuffer.h"

SoundWriterBuffer::SoundWriterBuffer(SoundReaderBuffer* target)
    : SoundWriter(target->getSampleRate())
    , mTarget(target)
{
}

void SoundWriterBuffer::close()
{
    mTarget->close();
    mOverlapSent = false;
}

SoundTools::Status SoundWriterBuffer::writeBuffer(std::shared_ptr<SoundBuffer> block, unsigned int tail)
{
    if (!mOverlapSent) {
        mTarget->setOutOverlap(tail);
        mOverlapSent = true;
    }
    const long long fresh = (long long)block->getOrigin() + block->getFrameNB() - block->getStartPoint() - tail;
    if (fresh > 0)
        mCurrentOffset += static_cast<int>(fresh);
    return mTarget->pushBuffer(block);
}
