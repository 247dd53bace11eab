#ifndef TULV_IO_SOUNDWRITERMP3_H
#define TULV_IO_SOUNDWRITERMP3_H

#include "tulv/io/SoundWriter.h"

#include <QStringList>

#include <cstdio>
#include <vector>

struct lame_global_struct;

// Encodes MP3 files with the LAME encoder, found at run time: without it
// MP3 writing is unavailable and everything else works. Like the libsndfile
// writer it writes beside the target and moves the file into place at close.
class SoundWriterMp3 : public SoundWriter {
public:
    SoundWriterMp3(unsigned int sampleRate, unsigned int channels, unsigned int bitRate);
    ~SoundWriterMp3() override;
    SoundWriterMp3(const SoundWriterMp3&) = delete;
    SoundWriterMp3& operator=(const SoundWriterMp3&) = delete;

    // Loads the encoder once per process; true when it is available.
    static bool Init();
    // Whether the encoder is available, without trying to load it.
    static bool IsInit();
    // Library names tried in order, each first as a versioned shared object
    // (lib<name>.so.0) and then as given. An empty list restores the default
    // names. Also forgets an earlier attempt, so the next writer or Init()
    // looks again: meant for hosts and tests that point at another encoder,
    // before any writer exists.
    static void setLameLibraryNames(const QStringList& names);
    static QStringList lameLibraryNames();

    // Bit rates in kbit/s that MPEG audio layer III defines (8 to 160 for
    // sample rates under 32 kHz, 32 to 320 from 32 kHz up).
    static std::vector<unsigned int> bitRates();
    // The rate the encoder writes, known after open: MP3 holds 8 kHz to
    // 48 kHz, and the encoder resamples anything else.
    unsigned int getOutputSampleRate() const { return mOutputSampleRate; }
    // The bit rate the encoder writes in kbit/s, known after open: the rates
    // of the lower sample rates stop at 160 (22.05 kHz) or 64 (11.025 kHz),
    // and the encoder takes the nearest one it has. 0 when it cannot tell.
    unsigned int getOutputBitRate() const { return mOutputBitRate; }

    SoundTools::Status open(QString fileName) override;
    // Flushes the encoder, completes the encoder's header frame (which lets
    // decoders drop its delay and padding), moves the file to its name and
    // writes the tags.
    void close() override;
    void cancel() override;
    bool hasFailed() const override { return mFailed; }
    void setTags(const SoundIDTag& tags) override { mTags = tags; }
    // 0 without an encoder, so that writeBuffer refuses every block.
    unsigned int getChannelNum() const override;

protected:
    unsigned int write(unsigned int count, double* frames) override;

private:
    static void _init_lame();
    bool ensureEncodedBuffer(unsigned int bytes);

    FILE* mFile = nullptr;
    lame_global_struct* mEncoder = nullptr;
    unsigned char* mEncodedBuffer = nullptr;
    short* mLeftBuffer = nullptr;
    short* mRightBuffer = nullptr;
    unsigned int mSampleBufferFrames = 0;
    unsigned int mEncodedBufferSize = 0;
    unsigned int mChannels = 2; // samples per frame given to write
    unsigned int mOutputSampleRate = 0; // Hz
    unsigned int mOutputBitRate = 0;    // kbit/s
    SoundIDTag mTags;
    QString mFileName;
    std::unique_ptr<SoundOutputFile> mOutput;
    bool mFailed = false;

    // 0: not tried yet, 1: encoder available, -1: unavailable.
    static int sLameInit;
};

#endif
