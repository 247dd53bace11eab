#ifndef TULV_IO_SOUNDWRITER_H
#define TULV_IO_SOUNDWRITER_H

#include "tulv/core/SoundBuffer.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/SoundOutputFile.h"
#include "tulv/core/SoundTools.h"
#include "tulv/io/SoundIDTag.h"

#include <QString>

#include <climits>
#include <memory>

// Sink of processed blocks. Back ends implement the raw `write` of
// interleaved doubles; writeBuffer trims each block to what has not been
// written yet and to the writer's frame range. Used by one thread at a time.
class SoundWriter : public SoundDebuggableClass {
public:
    explicit SoundWriter(unsigned int sampleRate)
        : mSampleRate(sampleRate)
    {
    }
    SoundWriter(const SoundWriter&) = default;
    SoundWriter& operator=(const SoundWriter&) = default;
    virtual ~SoundWriter() = default;

    // A new, unopened writer chosen by the extension: "mp3" gives an MP3
    // writer at `bitRate` kbit/s, "wav", "flac" and "ogg" the libsndfile
    // writer in `format`, any other extension a headerless 32-bit float
    // file. Null for an empty name or a name without extension.
    static SoundWriter* getFromFilename(QString fileName, unsigned int sampleRate, unsigned int bitRate,
                                        SoundTools::SoundFormat format);

    virtual SoundTools::Status open(QString fileName) = 0;
    virtual void close() = 0;
    virtual void setTags(const SoundIDTag& /*tags*/) {}
    // Writes the part of `buffer` not written yet, leaving its last `tail`
    // frames, which overlap the next block.
    virtual SoundTools::Status writeBuffer(std::shared_ptr<SoundBuffer> buffer, unsigned int tail);
    virtual unsigned int getChannelNum() const { return 2; }
    // Ends the output without keeping it: a file written under a temporary
    // name beside its target is removed and the target stays as it was
    // (what went to a device or FIFO has gone). For a stopped job.
    virtual void cancel() { close(); }
    // True once a write or the finalisation failed: close then keeps nothing.
    virtual bool hasFailed() const { return false; }

    // The block size for jobs that carry sound from one file to another (a
    // conversion), for SoundBuffer::setDefaultSize: 16384 frames move 64 KiB
    // of 16-bit stereo per read and per write, sixteen times fewer system
    // calls than the default block, while a stop request still comes within
    // a fraction of a second.
    static constexpr unsigned int kFileJobBlockSize = 16384;

    // Absolute frame indices, in the time base of the buffers to be written:
    // `start` is the first frame of the output, nothing at or past `end` is written.
    void setRange(int start, int end)
    {
        mRangeStart = start;
        mRangeEnd = end;
    }
    int getCurrentOffset() const { return mCurrentOffset; }
    unsigned int getSampleRate() const { return mSampleRate; }

protected:
    // Consumes `count` frames of getChannelNum() interleaved doubles and
    // returns the number of frames written.
    virtual unsigned int write(unsigned int count, double* frames) = 0;

    // Ends a file back end's output (see SoundOutputFile): moves it to its
    // name when `keep`, else removes it. Reports and returns false on failure.
    static bool finishOutput(SoundOutputFile& output, bool keep, const QString& fileName);

    int mCurrentOffset = 0;
    int mRangeStart = 0;
    int mRangeEnd = INT_MAX;
    unsigned int mSampleRate = 0;
};

#endif
