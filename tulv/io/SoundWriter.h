#ifndef TULV_IO_SOUNDWRITER_H
#define TULV_IO_SOUNDWRITER_H

#include "tulv/core/SoundBuffer.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/SoundOutputFile.h"
#include "tulv/core/SoundTools.h"
#include "tulv/io/SoundIDTag.h"

#include <QString>
#include <QStringList>

#include <climits>
#include <memory>
#include <vector>

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

    // A new, unopened writer of `channels` (1 or 2) chosen by the
    // extension: "mp3" gives an MP3 writer at `bitRate` kbit/s; "wav",
    // "flac", "ogg", "aiff" (or "aif") the libsndfile writer in `format`;
    // "raw" a headerless file of 32-bit floats. Null for an empty name and
    // for any other extension, so that a mistyped name is never written as
    // headerless samples.
    static SoundWriter* getFromFilename(QString fileName, unsigned int sampleRate, unsigned int bitRate,
                                        SoundTools::SoundFormat format, unsigned int channels = 2);
    // Extensions getFromFilename knows, lower case.
    static QStringList writableExtensions();
    // The sample formats the container of `fileName` stores as asked; empty
    // when the encoder chooses (MP3, Ogg Vorbis) or the extension is unknown.
    static std::vector<SoundTools::SoundFormat> sampleFormats(QString fileName);

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

    // Triangular (TPDF) dither of one step of the output's last bit, added
    // before the sound is rounded to 16 or 8 bits: the rounding error becomes
    // a steady hiss instead of distortion that follows the signal. Off until
    // set; writers of other formats ignore it.
    void setDither(bool on) { mDither = on; }
    bool getDither() const { return mDither; }
    // The frames the caller means to write, when known (0: unknown). A WAV
    // writer whose file is sure to stay under 4 GiB then writes the plain
    // header every reader takes; without it, the header can grow to RF64.
    void setExpectedFrames(long long frames) { mExpectedFrames = frames; }
    long long getExpectedFrames() const { return mExpectedFrames; }
    // Samples beyond full scale (±1.0) that an integer output clipped.
    long long getClippedSamples() const { return mClippedSamples; }
    // NaN or infinite samples, written as silence: no format can carry them
    // faithfully and the integer encoders fail on them. The first one's
    // index is in frames of the output; -1 when there was none.
    long long getNonFiniteSamples() const { return mNonFiniteSamples; }
    long long getFirstNonFiniteFrame() const { return mFirstNonFiniteFrame; }
    // Writes `count` frames of `channels` (1 or 2) interleaved samples,
    // mapping them to the writer's channels (stereo to mono by their mean,
    // mono to both sides) and applying the checks above. Returns the
    // frames written. What writeBuffer uses after trimming a block.
    unsigned int writeFrames(unsigned int count, const double* frames, unsigned int channels);
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

    // Set by back ends that round to integers: the bits of their samples
    // (dither applies at 16 and 8), and whether they clip at full scale.
    // A back end that stores the rounded steps as they are sets `direct`:
    // writeFrames then hands it integers (writeShorts up to 16 bits,
    // writeInts above), sparing a conversion back to double and a second
    // rounding pass in the encoder.
    void setIntegerOutput(int bits, bool direct = false)
    {
        mIntegerBits = bits;
        mDirectIntegers = direct && bits > 0;
    }
    // `count` frames of getChannelNum() samples, each a step of the output
    // shifted to the top of the type: full scale is 2^15 for short, 2^31
    // for int (an 8-bit sample k arrives as k * 256). Only called on a back
    // end that set `direct`.
    virtual unsigned int writeShorts(unsigned int /*count*/, const short* /*frames*/) { return 0; }
    virtual unsigned int writeInts(unsigned int /*count*/, const int* /*frames*/) { return 0; }
    // Adds counts found by a writer this one delegates to.
    void addCounts(const SoundWriter& other);
    // Set by a writer that hands its stereo frames on to writers of its own,
    // which round, clip and count them (and report with addCounts):
    // writeFrames passes the frames to its write untouched, sparing a copy.
    void setForwarding(bool on) { mForwarding = on; }

    int mCurrentOffset = 0;
    int mRangeStart = 0;
    int mRangeEnd = INT_MAX;
    unsigned int mSampleRate = 0;

private:
    // The samples of `count` frames rounded, clipped and counted into `out`,
    // each step scaled by `outScale` (1/steps for doubles).
    template <typename Out, bool Integer, bool Dither>
    void convertSamples(const double* in, size_t samples, unsigned int width, Out* out, double outScale);
    template <typename Out>
    void convertSamples(const double* in, size_t samples, unsigned int width, Out* out, double outScale);

    // Per block: one pass over the samples into one of these buffers, which
    // grow to the largest block once.
    std::vector<double> mScratch;
    std::vector<double> mMapped; // the block mapped to the output's channels
    std::vector<short> mShorts;
    std::vector<int> mInts;
    long long mExpectedFrames = 0;
    int mIntegerBits = 0; // 0: float or encoded output, nothing clips
    bool mDirectIntegers = false;
    bool mForwarding = false;
    bool mDither = false;
    // xorshift state of the dither noise: cheap, and the same noise each run.
    quint32 mNoise = 2463534242u;
    long long mClippedSamples = 0;
    long long mNonFiniteSamples = 0;
    long long mFirstNonFiniteFrame = -1;
};

#endif
