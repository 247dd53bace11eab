#ifndef TULV_IO_SOUNDWRITERSNDFILE_H
#define TULV_IO_SOUNDWRITERSNDFILE_H

#include "tulv/io/SoundWriter.h"

struct sf_private_tag;

// Writes WAV, FLAC, Ogg Vorbis, AIFF or headerless 32-bit float files through
// libsndfile, to the place SoundOutputFile chooses: a regular file takes the
// sound under a hidden name and gets the final name only when close finds
// every write succeeded; a device node, FIFO or "-" (standard output, where
// the container can be streamed: not WAV into a pipe) is written directly.
// A WAV file that grows past the 4 GiB a RIFF header can count becomes an
// RF64 file; smaller ones stay WAV (see setExpectedFrames).
class SoundWriterSndfile : public SoundWriter {
public:
    enum FileType { Wav = 0, Raw = 1, Flac = 2, Ogg = 3, Aiff = 4 };
    // The sample formats a container stores as asked; the constructor maps
    // any other to the nearest it holds. Empty for Ogg Vorbis (the encoder's).
    static std::vector<SoundTools::SoundFormat> sampleFormats(FileType type);

    SoundWriterSndfile(unsigned int sampleRate, unsigned int channels, SoundTools::SoundFormat format, FileType type);
    ~SoundWriterSndfile() override;
    SoundWriterSndfile(const SoundWriterSndfile&) = delete;
    SoundWriterSndfile& operator=(const SoundWriterSndfile&) = delete;

    SoundTools::Status open(QString fileName) override;
    // Finalises the file, moves it to its name and writes the tags.
    void close() override;
    void setTags(const SoundIDTag& tags) override { mTags = tags; }
    unsigned int getChannelNum() const override { return static_cast<unsigned int>(mChannels); }
    // The libsndfile format code chosen by the constructor.
    int getFormatCode() const { return mFormat; }
    bool hasFailed() const override { return mFailed; }
    void cancel() override;

protected:
    unsigned int write(unsigned int count, double* frames) override;
    unsigned int writeShorts(unsigned int count, const short* frames) override;
    unsigned int writeInts(unsigned int count, const int* frames) override;

private:
    // Marks the writer failed and says why when libsndfile took fewer than
    // `count` frames; returns the frames it took.
    unsigned int checkWritten(long long written, unsigned int count);

    sf_private_tag* mHandle = nullptr;
    int mInfoSampleRate;
    int mChannels;
    int mFormat;
    SoundIDTag mTags;
    QString mFileName;
    std::unique_ptr<SoundOutputFile> mOutput;
    bool mFailed = false;
};

#endif
