#ifndef TULV_IO_SOUNDREADER_H
#define TULV_IO_SOUNDREADER_H

#include "tulv/core/SoundBuffer.h"
#include "tulv/core/SoundDebuggableClass.h"
#include "tulv/core/SoundTools.h"
#include "tulv/io/SoundIDTag.h"

#include <QString>
#include <QStringList>

#include <memory>
#include <string>

// Source of stereo frames. Back ends implement the raw `read` of interleaved
// doubles; stereoRead handles the block overlap, the end point and the end of
// the stream for the processing loop. Used by one thread at a time.
class SoundReader : public SoundDebuggableClass {
public:
    SoundReader() = default;
    SoundReader(const SoundReader&) = default;
    SoundReader& operator=(const SoundReader&) = default;
    virtual ~SoundReader() = default;

    virtual SoundTools::Status open(QString fileName) = 0;
    virtual void close() = 0;
    virtual unsigned int getFrameNB() const = 0;
    virtual unsigned int getSampleRate() const = 0;
    virtual void rewind() = 0;
    virtual SoundTools::SoundFormat getInputFormat() const = 0;
    // Copies the tags read at open; true when the record is not empty.
    virtual bool getTags(SoundIDTag& tags);
    // Channels of the source itself; the frames delivered are always stereo.
    virtual unsigned int getFileChannelNum() const { return 2; }
    // Frames the source declares but could not deliver: found missing at
    // open (a truncated file, which then reads as the frames present) or
    // while reading (the file was cut during the job). 0 for a whole source.
    long long getMissingFrames() const { return mMissingFrames; }

    // A new, unopened reader chosen by the extension ("mp3", "wav", "flac",
    // "ogg"); null for an empty name or any other extension. The caller owns
    // it and opens it.
    static SoundReader* getFromFilename(QString fileName);
    // True when the file name's extension is one a reader exists for.
    static bool isRecognized(QString fileName);
    // Extensions a reader exists for, lower case.
    static QStringList readableExtensions();
    // The extension of a file name by the library's rule: backslashes are
    // slashes, a drive prefix up to the first ':' is not part of the name,
    // and the extension follows the last '.' of the last component.
    static QString getExtension(QString fileName);

    // Fills `buffer` with the next block behind `margin` frames kept from the
    // block before; returns the number of new frames read, 0 at the end.
    unsigned int stereoRead(std::shared_ptr<SoundBuffer> buffer, unsigned int margin);

    void setStartPoint(double seconds) { mStartPoint = seconds; }
    double getStartPoint() const { return mStartPoint; }
    // A value not above 0 means the source has no end point.
    void setEndPoint(double seconds) { mEndPoint = seconds; }
    double getEndPoint() const { return mEndPoint; }
    int getStartOffset() const;
    int getEndOffset() const;
    // Seconds of the whole source; start and end points are ignored.
    double getLength() const;
    // HH:MM:SS.mmm
    std::string getLengthString() const;
    bool atEnd() const { return mAtEnd; }
    // Absolute index of the next frame stereoRead delivers.
    int getOffset() const { return mOffset; }

    // The longest source the readers accept. Frame positions are 32-bit
    // signed; the headroom above the last frame leaves room for the zero
    // frames that push the tail through the chain's overlap (up to a
    // 5-second window at the highest rate) and for the windows that look
    // past a position.
    static constexpr long long kMaxFrames = 2147483647LL - (1LL << 24);
    // Sample rates the readers accept, in Hz; open refuses others.
    static constexpr unsigned int kMinSampleRate = 1000;
    static constexpr unsigned int kMaxSampleRate = 768000;

protected:
    // Delivers at most `count` interleaved stereo frames into `dest`; fewer
    // than `count` means the source is exhausted.
    virtual unsigned int read(unsigned int count, double* dest) = 0;
    void resetAtEnd() { mAtEnd = false; }
    // Reports and returns false when `fileName` is missing, a directory,
    // unreadable or empty: decoders give vaguer reasons for those.
    static bool checkSourceFile(const QString& fileName);
    // Reports and returns false for a sample rate outside the range below:
    // such a rate is a damaged header, and buffers sized from it would be
    // absurd (gigabytes per second of sound, or windows under one frame).
    static bool checkSampleRate(long long rate, const QString& fileName);

    int mOffset = 0;
    double mStartPoint = 0.0;
    double mEndPoint = 0.0;
    bool mAtEnd = false;
    long long mMissingFrames = 0;
};

#endif
