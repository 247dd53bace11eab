#ifndef TULV_IO_SOUNDREADERMP3_H
#define TULV_IO_SOUNDREADERMP3_H

#include "tulv/io/SoundReader.h"

struct mpg123_handle_struct;

// Decodes MP3 files with libmpg123 as 16-bit stereo; a mono file feeds both
// channels. The encoder delay and padding recorded by LAME are removed, so
// the length is that of the sound that was encoded.
class SoundReaderMp3 : public SoundReader {
public:
    SoundReaderMp3();
    ~SoundReaderMp3() override;
    SoundReaderMp3(const SoundReaderMp3&) = delete;
    SoundReaderMp3& operator=(const SoundReaderMp3&) = delete;

    static void init();

    // Refuses files that hold another format (WAV, FLAC, Ogg) under an .mp3
    // name and files in which no MPEG audio frame can be found. A file that
    // stops before the length its header frame declares opens with the
    // frames present (getMissingFrames).
    SoundTools::Status open(QString fileName) override;
    void close() override;
    unsigned int getFrameNB() const override;
    unsigned int getSampleRate() const override { return static_cast<unsigned int>(mSampleRate); }
    // A start point past the end positions at the end.
    void rewind() override;
    SoundTools::SoundFormat getInputFormat() const override { return SoundTools::Int16; }
    bool getTags(SoundIDTag& tags) override;
    unsigned int getFileChannelNum() const override { return mFileChannels; }

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    SoundTools::Status fail(const QString& fileName, const QString& reason);
    bool checkRateThroughout(const QString& fileName, long rate);

    mpg123_handle_struct* mHandle = nullptr;
    int mSampleRate = 0;
    short* mDecodeBuffer = nullptr;
    unsigned int mDecodeBufferFrames = 0;
    SoundIDTag mTags;
    QString mFileName;
    long long mFrames = 0;
    unsigned int mFileChannels = 2;
    // Frames delivered since the last positioning: tells a stream that stops
    // early from one that reached its declared end.
    long long mFilePosition = 0;
};

#endif
