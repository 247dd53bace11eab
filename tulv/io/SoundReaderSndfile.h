#ifndef TULV_IO_SOUNDREADERSNDFILE_H
#define TULV_IO_SOUNDREADERSNDFILE_H

#include "tulv/io/SoundReader.h"

#include <vector>

struct sf_private_tag;

// Reads WAV, FLAC, Ogg Vorbis and AIFF files through libsndfile as stereo frames:
// a mono file feeds both channels, a file of more channels gives its first two.
class SoundReaderSndfile : public SoundReader {
public:
    SoundReaderSndfile() = default;
    ~SoundReaderSndfile() override;
    SoundReaderSndfile(const SoundReaderSndfile&) = delete;
    SoundReaderSndfile& operator=(const SoundReaderSndfile&) = delete;

    // A file whose audio data stops before the length its header declares
    // opens with the frames present (getMissingFrames says how many are
    // not). Refuses a source longer than the 32-bit frame positions reach.
    SoundTools::Status open(QString fileName) override;
    void close() override;
    unsigned int getFrameNB() const override { return static_cast<unsigned int>(mFrames); }
    unsigned int getSampleRate() const override { return static_cast<unsigned int>(mInfoSampleRate); }
    // A start point at or past the end positions at frame 0.
    void rewind() override;
    SoundTools::SoundFormat getInputFormat() const override;
    bool getTags(SoundIDTag& tags) override;
    unsigned int getFileChannelNum() const override { return static_cast<unsigned int>(mChannels); }
    // The bits of a libsndfile integer PCM format code, 0 for any other
    // encoding; the sndfile writer sizes its integers by it too.
    static int pcmBits(int sndfileFormat);

protected:
    unsigned int read(unsigned int count, double* dest) override;

private:
    SoundTools::Status fail(const QString& fileName, const QString& reason);
    bool truncationCheck(const QString& fileName);
    // Frames a fresh handle decodes from the file; -1 when it cannot open it.
    static long long countFrames(const QString& fileName);

    sf_private_tag* mHandle = nullptr;
    // The SF_INFO record filled by libsndfile at open.
    long long mFrames = 0;
    int mInfoSampleRate = 44100;
    int mChannels = 2;
    int mFormat = 0;
    QString mFileName;
    SoundIDTag mTags;
    // Frames of the file delivered since the last positioning: tells a short
    // read at the declared end from one that stops early.
    long long mFilePosition = 0;
    // Interleaved frames of a file that is not stereo, before the mapping.
    std::vector<double> mScratch;
    // Integer PCM is read as the integers libsndfile holds (8 and 16 bits
    // as short, wider as int) and scaled here: for an uncompressed file the
    // read goes straight from the file into this buffer, one call per block.
    std::vector<short> mShorts;
    std::vector<int> mInts;
    int mPcmBits = 0; // 0: any other encoding, read as double
};

#endif
