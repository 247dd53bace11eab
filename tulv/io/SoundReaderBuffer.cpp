#include "tulv/io/SoundReaderBuffer.h"

#include <algorithm>
#include <cstring>

SoundReaderBuffer::SoundReaderBuffer(unsigned int sampleRate, unsigned int slotCount)
    : mSlotCount(std::max(1u, slotCount))
    , mSampleRate(sampleRate)
{
    mSlots.reserve(mSlotCount);
    for (unsigned int i = 0; i < mSlotCount; ++i)
        mSlots.push_back(SoundBuffer::createNew(sampleRate));
}

SoundReaderBuffer::~SoundReaderBuffer()
{
    interrupt();
    std::lock_guard<std::mutex> lock(mMutex);
    setStatusLocked(SoundTools::Error);
}

void SoundReaderBuffer::setStatusLocked(SoundTools::Status status)
{
    mStatus.store(status);
    // Either side may be waiting for exactly this change.
    mCanPush.notify_all();
    mCanRead.notify_all();
}

void SoundReaderBuffer::resetLocked()
{
    mReadIndex = 0;
    mWriteIndex = 0;
    mFilled = 0;
    mOutOverlap = 0;
    mReading = false;
    mReadPosition = 0;
    mOffset = 0;
    mDelivered.store(0);
    // The slots keep their storage: the next stream reuses it.
    for (auto& slot : mSlots)
        slot->setFrameNB(0);
    setStatusLocked(SoundTools::Error);
}

SoundTools::Status SoundReaderBuffer::open(QString /*fileName*/)
{
    std::lock_guard<std::mutex> lock(mMutex);
    if (mStatus.load() != SoundTools::Error)
        return SoundTools::Error;
    resetLocked();
    setStatusLocked(SoundTools::Waiting);
    return SoundTools::Ok;
}

void SoundReaderBuffer::close()
{
    std::lock_guard<std::mutex> lock(mMutex);
    setStatusLocked(SoundTools::Error);
}

void SoundReaderBuffer::interrupt()
{
    std::lock_guard<std::mutex> lock(mMutex);
    setStatusLocked(SoundTools::Stopped);
}

void SoundReaderBuffer::finished()
{
    std::lock_guard<std::mutex> lock(mMutex);
    const SoundTools::Status s = mStatus.load();
    if (isFlowing(s) || s == SoundTools::EndOfStream)
        setStatusLocked(SoundTools::EndOfStream);
}

void SoundReaderBuffer::restart()
{
    std::lock_guard<std::mutex> lock(mMutex);
    const SoundTools::Status s = mStatus.load();
    if (s == SoundTools::Stopped)
        return;
    if (s == SoundTools::Error)
        resetLocked();
    setStatusLocked(SoundTools::Waiting);
}

void SoundReaderBuffer::wait()
{
    std::lock_guard<std::mutex> lock(mMutex);
    setStatusLocked(SoundTools::Waiting);
}

void SoundReaderBuffer::setOutOverlap(unsigned int frames)
{
    std::lock_guard<std::mutex> lock(mMutex);
    mOutOverlap = frames;
}

unsigned int SoundReaderBuffer::getFrameNB() const
{
    std::lock_guard<std::mutex> lock(mMutex);
    long long total = 0;
    for (unsigned int k = 0; k < mFilled; ++k) {
        const SoundBuffer& b = *mSlots[(mReadIndex + k) % mSlotCount];
        const int from = (k == 0 && mReading) ? mReadPosition : b.getStartPoint();
        total += std::max(0LL, (long long)b.getOrigin() + b.getFrameNB() - mOutOverlap - from);
    }
    return static_cast<unsigned int>(std::min<long long>(total, UINT32_MAX));
}

SoundTools::Status SoundReaderBuffer::pushBuffer(std::shared_ptr<SoundBuffer> block)
{
    std::unique_lock<std::mutex> lock(mMutex);
    if (!isFlowing(mStatus.load()))
        return mStatus.load();
    if (!block || (long long)block->getOrigin() + block->getFrameNB() - block->getStartPoint() < 1)
        return SoundTools::Ok;
    mCanPush.wait(lock, [this] { return mFilled < mSlotCount || !isFlowing(mStatus.load()); });
    if (!isFlowing(mStatus.load()))
        return mStatus.load();
    // A deep copy into storage the slot keeps: steady streaming does not
    // allocate. The consumer never touches a slot that is not filled.
    *mSlots[mWriteIndex] = *block;
    mWriteIndex = (mWriteIndex + 1) % mSlotCount;
    ++mFilled;
    setStatusLocked(SoundTools::Ok);
    return SoundTools::Ok;
}

unsigned int SoundReaderBuffer::read(unsigned int count, double* dest)
{
    // The end of one producer run is not the end of the queue: a restart
    // lets the stream go on, so only the read that comes up short marks it.
    resetAtEnd();
    if (count == 0)
        return 0;
    unsigned int done = 0;
    bool ended = false;
    {
        std::unique_lock<std::mutex> lock(mMutex);
        // Per block: one copy of the frames delivered; the loop runs once per
        // block crossed and once per wait.
        while (done < count) {
            const SoundTools::Status s = mStatus.load();
            if (s == SoundTools::Error || s == SoundTools::Stopped) {
                ended = true;
                break;
            }
            if (mReading) {
                SoundBuffer& b = *mSlots[mReadIndex];
                const long long avail = (long long)b.getOrigin() + b.getFrameNB() - mOutOverlap - mReadPosition;
                if (avail > 0) {
                    const unsigned int n = static_cast<unsigned int>(std::min<long long>(avail, count - done));
                    std::memcpy(dest + 2 * static_cast<size_t>(done), b.getFrame(mReadPosition),
                                sizeof(double) * 2 * n);
                    mReadPosition += static_cast<int>(n);
                    done += n;
                    mDelivered.fetch_add(n);
                    continue;
                }
                // Used up: the slot goes back to the producer.
                mReading = false;
                mReadIndex = (mReadIndex + 1) % mSlotCount;
                --mFilled;
                mCanPush.notify_one();
                continue;
            }
            if (mFilled == 0) {
                if (s == SoundTools::EndOfStream) {
                    ended = true;
                    break;
                }
                mCanRead.wait(lock, [this] {
                    return mFilled > 0 || !isFlowing(mStatus.load());
                });
                continue;
            }
            mReading = true;
            mReadPosition = mSlots[mReadIndex]->getStartPoint();
        }
    }
    // Outside the lock: the slot connected directly may call back in.
    if (ended)
        Q_EMIT readFinished();
    return done;
}
