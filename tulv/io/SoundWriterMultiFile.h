#ifndef TULV_IO_SOUNDWRITERMULTIFILE_H
#define TULV_IO_SOUNDWRITERMULTIFILE_H

#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/io/SoundWriter.h"

#include <QString>

#include <cstdint>
#include <utility>
#include <vector>

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
    // Splits along these tracks instead of the detector's regions: frames
    // [begin, end) of the sound of each, in order. By default nothing
    // between the first track's start and the last track's end is lost: each
    // gap goes to the tracks on both sides of it, cut at `gapOffset` (0: all
    // to the next track, 1: all to the previous) or, when it is negative, at
    // the gap's quietest point. With `trimGaps` the gaps are left out. What
    // lies before the first and after the last track is left out. Call before
    // open(); the detector may then be null.
    void setTracks(const std::vector<std::pair<long long, long long>>& tracks, double gapOffset, bool trimGaps);
    // Where each file began, in frames of the stream (known once written).
    const std::vector<long long>& getFileStarts() const { return mFileStarts; }

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
    unsigned int writeRegions(unsigned int count, double* frames);
    unsigned int writeTracks(unsigned int count, double* frames);
    // Writes to the file of track `track`, opening it first when needed.
    bool writeToTrack(size_t track, long long position, unsigned int count, double* frames);
    // The buffered gap goes to its two tracks, cut at its quietest point.
    bool resolveGap();

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

    // Track mode (setTracks).
    std::vector<std::pair<long long, long long>> mTracks;
    bool mTrackMode = false;
    bool mTrimGaps = false;
    double mGapOffset = -1.0;
    size_t mTrack = 0;          // the track whose sound or following gap the stream is in
    size_t mOpenTrack = SIZE_MAX; // the track whose file is open
    std::vector<double> mGap;  // the end of a gap held until its quietest point is known
    long long mGapStart = 0;   // stream frame of mGap's first frame
    long long mHeldFrames = 0; // the most of a gap held
    bool mResolvingGap = false;
    std::vector<long long> mFileStarts;
};

#endif
