#ifndef TULV_PLAYBACK_SOUNDALGODEVICE_H
#define TULV_PLAYBACK_SOUNDALGODEVICE_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundReaderBuffer.h"

#include <QIODevice>
#include <QReadWriteLock>
#include <QSemaphore>

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <utility>

// A sound file run through an algorithm, as a read-only QIODevice an audio
// output pulls 16-bit signed stereo little-endian PCM from. Processing runs
// ahead of playback on worker threads: the algorithm fills a 3-block queue,
// an optional post-processing chain (the player's equaliser) moves it into a
// 5-block queue, and readData, on the output's thread, converts what it
// finds there. With continuous playing, setReader appends the next song to
// the same queues and each song end is reported when playback reaches it.
class SoundAlgoDevice : public QIODevice {
    Q_OBJECT
public:
    // Output levels for a meter, on a thread of their own.
    class RMSLevelCallback {
    public:
        virtual ~RMSLevelCallback() = default;
        // RMS of each channel over one window, linear, full scale 1.0.
        virtual void rmsLevel(double rmsLeft, double rmsRight) = 0;
    };

    // `reader` must be open; a null algorithm plays the file unchanged. The
    // device takes a reference on the algorithm.
    SoundAlgoDevice(std::shared_ptr<SoundReader> reader, SoundAlgo* algorithm);
    ~SoundAlgoDevice() override;

    // Rewinds the reader and starts processing ahead of playback; nothing
    // happens while a worker is alive or once the status has left Ok.
    void start();
    // Interrupts the workers (promptly, even when blocked on a full queue)
    // and closes the queues.
    void stop();
    void launchThread();
    // The next song, processed behind the present one: only while a reader
    // is set, and only at the same sample rate.
    bool setReader(std::shared_ptr<SoundReader> reader);
    // Takes over the caller's reference; null removes post-processing. Used
    // from the next start.
    void setPostProcessingChain(SoundAlgo* chain);
    bool hasPostProcessing() const { return mPostChain != nullptr; }
    // `rate` level values per second, delayed by `latency` frames so that a
    // value reaches the host when the output plays its frames. Null ends
    // the level thread.
    void setRMSCallback(RMSLevelCallback* callback, double rate, unsigned int latency);
    void setRMSParameters(double rate, unsigned int latency);
    void setContinuousPlaying(bool on) { mContinuous.store(on); }
    bool getContinuousPlaying() const { return mContinuous.load(); }

    SoundTools::Status getStatus() const { return mStatus.load(); }
    void statusFinished();
    bool isRunning() const { return (mRunning.load() & (kProcessing | kPostProcessing)) != 0; }
    unsigned int getSampleRate() const;
    SoundReader* getReader() const;
    // For the host to change the algorithm's parameters between blocks.
    void lockAlgo() { mAlgoLock.lockForWrite(); }
    void unlockAlgo() { mAlgoLock.unlock(); }

    bool atEnd() const override { return mStatus.load() != SoundTools::Ok; }
    qint64 bytesAvailable() const override;
    bool isSequential() const override { return true; }

Q_SIGNALS:
    // Processing of a song is complete; `time` is the seconds already played.
    void loadFinished(double time);
    void songFinished(unsigned int lastFrameNb);
    void progress(unsigned int framesPlayed);

protected:
    qint64 readData(char* data, qint64 maxSize) override;
    qint64 writeData(const char* /*data*/, qint64 /*maxSize*/) override { return 0; }

    int getFrameNb();
    void popFrameNb();
    // The first end reason wins.
    void setStatus(SoundTools::Status status);
    void resetStatus() { mStatus.store(SoundTools::Ok); }

private Q_SLOTS:
    void readFinished();

private:
    enum : unsigned int { kProcessing = 1, kPostProcessing = 2, kRMS = 4 };

    SoundReaderBuffer& lastQueue() { return mPostChain ? mPostQueue : mProcessingQueue; }
    void stopThread();
    void processingBody(std::shared_ptr<SoundReader> reader);
    void postProcessingBody();
    void rmsBody();
    void countPlayed(unsigned int frames);
    void accumulateLevels(const double* frames, unsigned int count);
    unsigned int rateOf(const std::shared_ptr<SoundReader>& reader) const;

    SoundAlgo* mAlgo;
    // Written by setReader on the host's thread while the processing thread
    // reads the one it was started with: each holds its own copy.
    std::shared_ptr<SoundReader> mReader;
    // Also decides, with the running bits, whether a worker goes on with a
    // song set meanwhile or ends: setReader and a worker's exit never miss
    // each other.
    mutable std::mutex mReaderMutex;
    // Songs set for continuous playing and not yet taken by the processing
    // thread, in order.
    std::deque<std::shared_ptr<SoundReader>> mPending;
    std::atomic<SoundTools::Status> mStatus { SoundTools::Ok };
    QReadWriteLock mAlgoLock { QReadWriteLock::Recursive };
    std::atomic<unsigned int> mRunning { 0 };
    std::shared_ptr<SoundBuffer> mStaging;
    SoundReaderBuffer mProcessingQueue;
    SoundReaderBuffer mPostQueue;
    std::atomic<bool> mContinuous { false };
    SoundAlgo* mPostChain = nullptr;

    // Audio thread only, apart from resets while no worker runs.
    unsigned int mFramesPlayed = 0;
    unsigned int mFramesSinceProgress = 0;
    unsigned int mProgressInterval;

    std::mutex mSongMutex;
    std::deque<int> mSongLengths;

    std::mutex mRMSMutex;
    RMSLevelCallback* mRMSCallback = nullptr;
    unsigned int mRMSWindow = 1000;
    unsigned int mRMSCount = 0;
    unsigned int mRMSDelay = 0;
    double mRMSSum[2] = { 0.0, 0.0 };
    std::deque<std::pair<double, double>> mRMSValues;
    QSemaphore mRMSSemaphore;
};

#endif
