#ifndef TULV_IO_SOUNDREADERBUFFER_H
#define TULV_IO_SOUNDREADERBUFFER_H

#include "tulv/io/SoundReader.h"

#include <QObject>
#include <QString>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

// A bounded queue of processed blocks between two threads: one producer
// pushes blocks (through SoundWriterBuffer), one consumer reads them as an
// ordinary SoundReader. Blocks are copied in, so the producer reuses its own
// buffer at once; the overlap tail of every block (the frames the next block
// repeats) is not delivered, so the consumer sees one continuous stream.
//
// Status: Error = closed, Waiting = open with nothing pushed since the last
// (re)start, Ok = blocks flowing, EndOfStream = the producer has finished
// (queued blocks are still delivered), Stopped = interrupted (both sides
// return at once; stays so until close).
class SoundReaderBuffer : public QObject, public SoundReader {
    Q_OBJECT
public:
    SoundReaderBuffer(unsigned int sampleRate, unsigned int slotCount);
    ~SoundReaderBuffer() override;

    // Only a closed queue opens (empty); the name is not used.
    SoundTools::Status open(QString fileName) override;
    void close() override;
    void rewind() override {}
    // Frames the consumer can still get from the queued blocks.
    unsigned int getFrameNB() const override;
    unsigned int getSampleRate() const override { return mSampleRate; }
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Float64; }
    bool isLengthKnown() const override { return false; }

    // Blocks while every slot is full. Ok when queued (or when the block has
    // no valid frame), otherwise the status that refused it.
    SoundTools::Status pushBuffer(std::shared_ptr<SoundBuffer> block);
    // The producer will push nothing more.
    void finished();
    // Both sides return promptly; the queue stays stopped until close.
    void interrupt();
    // Before a new producer run: an open queue keeps its blocks and waits for
    // more, so that consecutive sources form one stream; a closed one is
    // reopened empty.
    void restart();
    void wait();

    void setOutOverlap(unsigned int frames);
    SoundTools::Status getStatus() const { return mStatus.load(); }
    // Frames delivered to the consumer since the queue was opened; safe from
    // any thread, unlike getOffset().
    long long getFramesDelivered() const { return mDelivered.load(); }
    void setName(QString name) { mName = name; }
    QString getName() const { return mName; }

Q_SIGNALS:
    // On the reading thread, when a read finds the stream ended or stopped.
    void readFinished();

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    void resetLocked();
    void setStatusLocked(SoundTools::Status status);
    static bool isFlowing(SoundTools::Status s) { return s == SoundTools::Ok || s == SoundTools::Waiting; }

    // Guards everything below and the slot contents; waits release it.
    mutable std::mutex mMutex;
    std::condition_variable mCanPush;
    std::condition_variable mCanRead;
    std::vector<std::shared_ptr<SoundBuffer>> mSlots;
    const unsigned int mSlotCount;
    unsigned int mReadIndex = 0;
    unsigned int mWriteIndex = 0;
    unsigned int mFilled = 0;
    unsigned int mOutOverlap = 0;
    bool mReading = false;
    int mReadPosition = 0;
    // Written under the mutex; read without it by getStatus.
    std::atomic<SoundTools::Status> mStatus { SoundTools::Error };
    std::atomic<long long> mDelivered { 0 };
    const unsigned int mSampleRate;
    QString mName;
};

#endif
