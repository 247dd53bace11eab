#ifndef TULV_IO_SOUNDWRITERMULTIFILE_H
#define TULV_IO_SOUNDWRITERMULTIFILE_H

#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/io/SoundWriter.h"

#include <QString>

// Splits one processed stream into numbered files, one per run of sound
// between the noise regions of a step detector: one file per track of a
// recorded side. The detector must hold the regions of the whole stream
// (a first analysis pass) before writing starts; positions in the stream
// are those of the regions, so the second pass must start where the first
// did.
//
// Noise is dropped, runs of sound shorter than the minimum duration make no
// file, and exact digital silence at the head of each file is left out.
// Every file gets the tags set with setTags, numbered: the third file of
// "Live" is titled "Live 03", track 3.
class SoundWriterMultiFile : public SoundWriter {
public:
    // Takes a reference to `detector`. The files have `channelNum` channels
    // (1 or 2); stereo blocks are mixed down for mono files.
    SoundWriterMultiFile(RMSStepDetector* detector, double minDurationSeconds, unsigned int sampleRate,
                         unsigned int channelNum, unsigned int bitRate, SoundTools::SoundFormat format);
    ~SoundWriterMultiFile() override;
    SoundWriterMultiFile(const SoundWriterMultiFile&) = delete;
    SoundWriterMultiFile& operator=(const SoundWriterMultiFile&) = delete;

    // Stores the name the files are numbered from; opens nothing.
    SoundTools::Status open(QString name) override;
    // Closes the file being written, if any.
    void close() override;
    void setTags(const SoundIDTag& tags) override { mTags = tags; }
    unsigned int getChannelNum() const override { return mChannelNum; }

    // Files closed so far.
    int GetWrittenFiles() const { return mFileNumber - 1; }
    // The name of file `number` (from 1): "side.wav" gives "001-side.wav",
    // "01 Track.flac" gives "02 Track.flac" for the second file.
    QString getSegmentName(int number) const;

protected:
    unsigned int write(unsigned int count, double* frames) override;

private:
    SoundTools::Status OpenSegment();
    // Frames of the current region and of the regions after it, up to the
    // next noise region: the length of the run of sound about to start.
    long long runLength() const;

    int mRegionCursor = 1;
    RMSStepDetector::Region mCurrentRegion;
    SoundWriter* mSegment = nullptr;
    unsigned int mChannelNum;
    unsigned int mBitRate;
    // The output name, split: drive (without ':'), directory (with its
    // trailing '/'), base name and extension.
    QString mDrive;
    QString mDirectory;
    QString mBaseName;
    QString mExtension;
    QString mFullPath;
    RMSStepDetector* mDetector;
    int mFileNumber = 1;
    double mMinDuration; // seconds
    long long mFramesInClosedFiles = 0;
    SoundIDTag mTags;
    SoundTools::SoundFormat mFormat;
    bool mSoundStarted = false;
    // Frames of the current file, its dropped leading silence included.
    long long mSegmentFrames = 0;
};

#endif
