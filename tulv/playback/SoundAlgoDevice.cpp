#include "tulv/playback/SoundAlgoDevice.h"

#include "tulv/core/SoundAlgoElementary.h"
#include "tulv/io/SoundWriterBuffer.h"

#include <QtEndian>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <thread>

namespace {
// start, launchThread, stop and stopThread of every device are serialised:
// hosts call them from signal handlers of several players.
std::recursive_mutex sStartMutex;
std::recursive_mutex sLaunchMutex;
std::recursive_mutex sStopMutex;
std::recursive_mutex sStopThreadMutex;

constexpr unsigned int kProcessingSlots = 3;
constexpr unsigned int kPostProcessingSlots = 5;
constexpr unsigned int kDefaultRate = 44100;

// trunc(x × 32768) held to the 16-bit range: a full-scale +1.0 would wrap
// to the most negative sample, a loud click.
inline qint16 toPcm16(double x)
{
    const double v = std::trunc(x * 32768.0);
    if (!(v > -32768.0))
        return v == v ? -32768 : 0;
    if (v > 32767.0)
        return 32767;
    return static_cast<qint16>(v);
}
} // namespace

SoundAlgoDevice::SoundAlgoDevice(std::shared_ptr<SoundReader> reader, SoundAlgo* algorithm)
    : mAlgo(algorithm ? algorithm : new SoundAlgoBypass())
    , mReader(std::move(reader))
    , mProcessingQueue(rateOf(mReader), kProcessingSlots)
    , mPostQueue(rateOf(mReader), kPostProcessingSlots)
    , mProgressInterval(static_cast<unsigned int>(std::floor(rateOf(mReader) * 0.5 + 0.5)))
{
    if (algorithm)
        mAlgo->addRef();
    mStaging = SoundBuffer::createNew(rateOf(mReader));
    mProcessingQueue.setName(QStringLiteral("Processing reader"));
    mPostQueue.setName(QStringLiteral("Post-Processing reader"));
}

SoundAlgoDevice::~SoundAlgoDevice()
{
    stop();
    QIODevice::close();
    setRMSCallback(nullptr, 20.0, 8192);
    mAlgo->release();
    if (mPostChain)
        mPostChain->release();
}

unsigned int SoundAlgoDevice::rateOf(const std::shared_ptr<SoundReader>& reader) const
{
    return reader ? reader->getSampleRate() : kDefaultRate;
}

unsigned int SoundAlgoDevice::getSampleRate() const
{
    std::lock_guard<std::mutex> lock(mReaderMutex);
    return rateOf(mReader);
}

SoundReader* SoundAlgoDevice::getReader() const
{
    std::lock_guard<std::mutex> lock(mReaderMutex);
    return mReader.get();
}

void SoundAlgoDevice::setStatus(SoundTools::Status status)
{
    SoundTools::Status expected = SoundTools::Ok;
    mStatus.compare_exchange_strong(expected, status);
}

void SoundAlgoDevice::statusFinished()
{
    mStatus.store(SoundTools::EndOfStream);
    mProcessingQueue.finished();
}

qint64 SoundAlgoDevice::bytesAvailable() const
{
    if (mStatus.load() != SoundTools::Ok)
        return 0;
    return 4 * static_cast<qint64>(mProcessingQueue.getFrameNB()) + QIODevice::bytesAvailable();
}

int SoundAlgoDevice::getFrameNb()
{
    std::lock_guard<std::mutex> lock(mSongMutex);
    return mSongLengths.empty() ? -1 : mSongLengths.front();
}

void SoundAlgoDevice::popFrameNb()
{
    std::lock_guard<std::mutex> lock(mSongMutex);
    if (!mSongLengths.empty())
        mSongLengths.pop_front();
}

void SoundAlgoDevice::start()
{
    std::lock_guard<std::recursive_mutex> serial(sStartMutex);
    if (isRunning())
        return;
    {
        std::lock_guard<std::mutex> lock(mReaderMutex);
        if (mReader)
            mReader->rewind();
    }
    mProcessingQueue.open(QString());
    mFramesPlayed = 0;
    mFramesSinceProgress = 0;
    {
        std::lock_guard<std::mutex> lock(mSongMutex);
        mSongLengths.clear();
    }
    // The end of the data is the end of the queue the output reads: with a
    // post-processing chain, the end of the first queue comes while up to
    // five blocks still wait to be played.
    connect(&lastQueue(), &SoundReaderBuffer::readFinished, this, &SoundAlgoDevice::readFinished,
            static_cast<Qt::ConnectionType>(Qt::DirectConnection | Qt::UniqueConnection));
    if (mStatus.load() == SoundTools::Ok) {
        // Unbuffered: the output's requests reach readData as they are, and
        // no second copy of the PCM is kept.
        if (!isOpen())
            open(QIODevice::ReadOnly | QIODevice::Unbuffered);
        launchThread();
    }
}

void SoundAlgoDevice::launchThread()
{
    std::lock_guard<std::recursive_mutex> serial(sLaunchMutex);
    std::lock_guard<std::mutex> lock(mReaderMutex);
    if (!mReader)
        return;
    if (!(mRunning.load() & kProcessing)) {
        mRunning.fetch_or(kProcessing);
        mProcessingQueue.restart();
        // The song to process is taken now: a setReader before the thread
        // runs queues the next song behind it instead of replacing it.
        std::shared_ptr<SoundReader> reader = mPending.empty() ? mReader : mPending.front();
        if (!mPending.empty())
            mPending.pop_front();
        std::thread([this, reader] { processingBody(reader); }).detach();
    }
    if (mPostChain && !(mRunning.load() & kPostProcessing)) {
        mRunning.fetch_or(kPostProcessing);
        mPostQueue.restart();
        std::thread([this] { postProcessingBody(); }).detach();
    }
}

bool SoundAlgoDevice::setReader(std::shared_ptr<SoundReader> reader)
{
    {
        std::lock_guard<std::mutex> lock(mReaderMutex);
        if (!reader || !mReader || reader->getSampleRate() != mReader->getSampleRate())
            return false;
        mReader = reader;
        mPending.push_back(std::move(reader));
    }
    launchThread();
    return true;
}

void SoundAlgoDevice::processingBody(std::shared_ptr<SoundReader> reader)
{
    for (;;) {
        SoundWriterBuffer writer(&mProcessingQueue);
        const SoundTools::Status st = mAlgo->processAll(*reader, &writer);
        if (!mPostChain || st == SoundTools::Error)
            setStatus(st);
        // The post-processing thread must not wait for blocks that will not
        // come; a failure stays the device's status, or the output would
        // take the cut-short song for a complete one.
        if (mPostChain && (st == SoundTools::Error || st == SoundTools::Stopped))
            mProcessingQueue.interrupt();
        const bool complete = st == SoundTools::Ok || st == SoundTools::EndOfStream;
        if (complete) {
            Q_EMIT loadFinished(mProcessingQueue.getFramesDelivered() / static_cast<double>(reader->getSampleRate()));
            std::lock_guard<std::mutex> songs(mSongMutex);
            mSongLengths.push_back(writer.getCurrentOffset());
        }
        // Songs set while this one was processing follow it in the same
        // stream; decided under the lock setReader takes, so none is lost.
        std::lock_guard<std::mutex> lock(mReaderMutex);
        if (complete && !mPending.empty() && mStatus.load() == SoundTools::Ok) {
            reader = mPending.front();
            mPending.pop_front();
            continue;
        }
        mPending.clear();
        mProcessingQueue.finished();
        mRunning.fetch_and(~kProcessing);
        return;
    }
}

void SoundAlgoDevice::postProcessingBody()
{
    std::unique_lock<std::mutex> lock(mReaderMutex);
    for (;;) {
        lock.unlock();
        SoundWriterBuffer writer(&mPostQueue);
        const SoundTools::Status st = mPostChain->processAll(mProcessingQueue, &writer);
        setStatus(st);
        lock.lock();
        // The processing queue ran dry between two songs: the next one is
        // already being processed into it.
        if ((st == SoundTools::Ok || st == SoundTools::EndOfStream) && (mRunning.load() & kProcessing)
            && mStatus.load() == SoundTools::Ok)
            continue;
        mPostQueue.finished();
        mRunning.fetch_and(~kPostProcessing);
        return;
    }
}

void SoundAlgoDevice::setPostProcessingChain(SoundAlgo* chain)
{
    if (mPostChain)
        mPostChain->release();
    mPostChain = chain;
}

void SoundAlgoDevice::stopThread()
{
    std::lock_guard<std::recursive_mutex> serial(sStopThreadMutex);
    if (mRunning.load() & kProcessing)
        mProcessingQueue.interrupt();
    if (mRunning.load() & kPostProcessing)
        mPostQueue.interrupt();
    setRMSCallback(nullptr, 20.0, 8192);
    while (mRunning.load() & (kProcessing | kPostProcessing))
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    mRunning.store(0);
    mFramesPlayed = 0;
}

void SoundAlgoDevice::stop()
{
    std::lock_guard<std::recursive_mutex> serial(sStopMutex);
    stopThread();
    mProcessingQueue.close();
    if (mPostChain)
        mPostQueue.close();
    disconnect(&mProcessingQueue, &SoundReaderBuffer::readFinished, this, &SoundAlgoDevice::readFinished);
    disconnect(&mPostQueue, &SoundReaderBuffer::readFinished, this, &SoundAlgoDevice::readFinished);
}

void SoundAlgoDevice::readFinished()
{

    if (mStatus.load() == SoundTools::Error || !mContinuous.load())
        Q_EMIT readChannelFinished();
}

void SoundAlgoDevice::countPlayed(unsigned int frames)
{
    mFramesPlayed += frames;
    const int length = mContinuous.load() ? getFrameNb() : -1;
    if (length >= 0 && mFramesPlayed >= static_cast<unsigned int>(length)) {
        mFramesPlayed -= static_cast<unsigned int>(length);
        popFrameNb();
        Q_EMIT songFinished(static_cast<unsigned int>(length));
        return;
    }
    mFramesSinceProgress += frames;
    if (mFramesSinceProgress > mProgressInterval) {
        Q_EMIT progress(mFramesPlayed);
        mFramesSinceProgress = 0;
    }
}

qint64 SoundAlgoDevice::readData(char* data, qint64 maxSize)
{
    const unsigned int want = static_cast<unsigned int>(std::min<qint64>(maxSize / 4, 1 << 20));
    if (want == 0)
        return 0;
    // stereoRead fills the whole allocation: a larger buffer kept from an
    // earlier, larger request would overrun `data`. Outputs ask for the same
    // period every time, so this allocates only when the period changes.
    if (mStaging->getFrameNBAllocated() != want) {
        mStaging = SoundBuffer::createNew(mStaging->getSampleRate());
        mStaging->alloc(want, 2, 1, 1);
    }
    mStaging->setFrameNB(0);
    const unsigned int n = lastQueue().stereoRead(mStaging, 0);
    const double* frames = mStaging->getRelFrame(0);
    countPlayed(n);
    // Two samples per frame, written little-endian whatever the host order.
    for (unsigned int i = 0; i < 2 * n; ++i)
        qToLittleEndian<qint16>(toPcm16(frames[i]), data + 2 * i);
    accumulateLevels(frames, n);
    return 4 * static_cast<qint64>(n);
}

void SoundAlgoDevice::accumulateLevels(const double* frames, unsigned int count)
{
    std::lock_guard<std::mutex> lock(mRMSMutex);
    if (!mRMSCallback)
        return;
    // Two squares per frame; one division and two roots per window.
    for (unsigned int i = 0; i < count; ++i) {
        mRMSSum[0] += frames[2 * i] * frames[2 * i];
        mRMSSum[1] += frames[2 * i + 1] * frames[2 * i + 1];
        if (++mRMSCount < mRMSWindow)
            continue;
        const double left = std::sqrt(mRMSSum[0] / mRMSCount);
        const double right = std::sqrt(mRMSSum[1] / mRMSCount);
        if (mRMSValues.size() <= mRMSDelay) {
            mRMSValues.emplace_back(left, right);
            mRMSSemaphore.release();
        }
        mRMSCount = 0;
        mRMSSum[0] = mRMSSum[1] = 0.0;
    }
}

void SoundAlgoDevice::setRMSParameters(double rate, unsigned int latency)
{
    std::lock_guard<std::mutex> lock(mRMSMutex);
    const unsigned int sampleRate = getSampleRate();
    const double window = rate > 0.0 ? std::floor(sampleRate / rate + 0.5) : sampleRate;
    mRMSWindow = static_cast<unsigned int>(std::clamp(window, 1.0, 1e9));
    mRMSCount = 0;
    mRMSSum[0] = mRMSSum[1] = 0.0;
    mRMSDelay = latency / mRMSWindow;
    mRMSSemaphore.tryAcquire(mRMSSemaphore.available());
    mRMSValues.resize(mRMSDelay, std::make_pair(0.0, 0.0));
}

void SoundAlgoDevice::setRMSCallback(RMSLevelCallback* callback, double rate, unsigned int latency)
{
    {
        std::lock_guard<std::mutex> lock(mRMSMutex);
        mRMSCallback = callback;
    }
    setRMSParameters(rate, latency);
    if (callback) {
        if (!(mRunning.fetch_or(kRMS) & kRMS))
            std::thread([this] { rmsBody(); }).detach();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mRMSMutex);
        mRMSValues.clear();
        mRMSSemaphore.release();
    }
    while (mRunning.load() & kRMS)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

void SoundAlgoDevice::rmsBody()
{
    for (;;) {
        mRMSSemaphore.acquire();
        std::unique_lock<std::mutex> lock(mRMSMutex);
        if (!mRMSCallback) {
            mRunning.fetch_and(~kRMS);
            return;
        }
        // A permit left from before setRMSParameters shortened the line.
        if (mRMSValues.empty())
            continue;
        // The delay line: the front value was computed `delay` windows ago.
        const std::pair<double, double> level = mRMSValues.front();
        mRMSValues.pop_front();
        RMSLevelCallback* callback = mRMSCallback;
        lock.unlock();
        callback->rmsLevel(level.first, level.second);
    }
}
