#ifndef TULV_DYNAMICS_RMSSTEPDETECTOR_H
#define TULV_DYNAMICS_RMSSTEPDETECTOR_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/dynamics/SoundRMSSlopeDetector.h"

#include <QReadWriteLock>

#include <climits>
#include <cstdint>
#include <ostream>
#include <vector>

// Cuts a stereo stream into regions of roughly constant loudness: the mean
// square of each channel over a sliding window is averaged into the region in
// progress, which closes when the level moves by more than 1 dB and the
// change rules accept the step (a longer region needs a smaller change). Each
// region is then classified as noise or signal against a noise level, and
// the list is what track splitting, automatic gain and statistics work from.
//
// All levels are mean squares (power, full scale 1.0). Positions are absolute
// frame indices of the stream.
//
// The region lists are guarded by a recursive read-write lock so that a user
// interface may read them while a processing thread runs the detector; the
// post-analysis operations other than applyNoise(double) take no lock and
// are meant for a detector that is not running.
class RMSStepDetector : public SoundAlgo {
public:
    struct Region {
        int32_t begin = 0;  // frames, absolute
        int32_t length = 0; // frames
        double level0 = 0.0; // mean square of channel 0
        double level1 = 0.0; // mean square of channel 1
        int32_t weight = 0;  // window values averaged into the levels
        bool noise = false;
    };

    enum OutputMode {
        RegionLevel = 0, // square root of the region in progress, per channel
        WindowPower = 1, // window mean squares at the last sampling point
        PassThrough = 2, // the input
        NoOutput = 3     // the output is left untouched
    };

    using RegionIterator = std::vector<Region>::iterator;

    RMSStepDetector(double noiseThresholdDb = -40.0, double rmsTime = 0.2, double minSlopeTime = 1.0,
                    OutputMode mode = RegionLevel, bool realTimeMode = false);

    // A new detector (reference count 1), or null when a key is missing or
    // of the wrong type.
    static RMSStepDetector* createFromJSon(QJsonObject object);
    void writeToJSon(QJsonObject& object) const override;
    SoundTools::Status process() override;

    void reset();

    std::vector<Region> getRegions() const;
    Region getRegion(int index, bool fromBackup) const;
    // Marks region `index` (of the regions, not the backup) as noise or not;
    // an index out of range changes nothing.
    void setNoise(int index, bool noise);
    // Frames [begin, end) become noise or sound; the regions at the two ends
    // are cut there.
    void markNoise(int begin, int end, bool noise);
    int size(bool fromBackup) const;
    // Begin of the last region (the end marker after a run); 0 when none.
    unsigned int getFullLength() const;
    // Amplitude of the loudest channel among the regions added so far.
    double getCurrentMax() const;
    // Runs of consecutive signal regions.
    int getSegmentsNumber() const;
    // First signal frame minus the margin, not below 0; INT_MAX when none.
    int getSignalStart(double marginSeconds) const;
    // Last signal frame plus the margin; 0 when none.
    int getSignalEnd(double marginSeconds) const;
    // The slope covering `position` and, in `out`, the first region from
    // `firstIndex` on that ends at or after it; null when there is none.
    const SoundRMSSlopeDetector::Region* getSlopeRegion(int position, unsigned int firstIndex, Region& out);

    void backup();
    void clearBackup();
    void resetRegions();

    // Post-analysis of a finished region list.
    // Classifies every region against `noiseDb` (relative to noiseReference(),
    // or absolute in real-time mode); true when a flag changed.
    bool applyNoise(double noiseDb);
    // A noise level in dB relative to the loudest region, from the quietest
    // regions that add up to `quietSeconds` per started 5 minutes.
    double estimateNoise(double quietSeconds, double snrDb) const;
    // Re-examines every run of signal longer than `minRunSeconds` with a
    // noise estimate of its own, so that quiet gaps inside become noise.
    void split(double quietSeconds, double minRunSeconds, double snrDb);
    // The mean square relative levels are measured from: the loudest weaker
    // channel of any region, or, when one channel carries no sound, the
    // loudest region of the other.
    double noiseReference() const;
    // The reference in dB minus `snrDb`.
    double getNoiseFromSNR(double snrDb);
    // Neighbouring regions of the same kind joined, levels weighted.
    std::vector<Region> buildMergedRegions() const;
    void mergeRegions();
    // Rewrites the signal levels as after a compression of `ratio`; returns
    // the mean correction in dB.
    double compressDynamic(double ratio);

    void printRegions(const char* title);
    std::ostream& outputRegion(const Region& region);

    OutputMode getOutputMode() const { return mOutputMode; }
    bool isRealTimeMode() const { return mRealTimeMode; }
    double getRMSTime() const { return mRMSTime; }
    // Linear amplitude.
    double getNoiseLevel() const { return mNoiseLevel; }
    // A fine level of the last run: one value every getTraceStep() frames
    // from getTraceOrigin() on, the mean square of the louder channel in the
    // second quietest quarter of the step, so that a click (shorter than a
    // quarter) does not lift it. Empty for regions restored from JSON.
    const std::vector<float>& getLevelTrace() const { return mTrace; }
    int getTraceStep() const { return mTraceStep; }
    int getTraceOrigin() const { return mTraceOrigin; }

protected:
    ~RMSStepDetector() override;

    bool readFromJSon(QJsonObject& object) override;
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;
    void endProcess(int status, unsigned int endPosition) override;
    void streamEnds(int endFrame) override;

    // Ok: a region was added; Error: nothing added; EndOfStream: merged into
    // the previous region. The flag has no effect.
    SoundTools::Status pushRegion(bool force);
    void flush(bool force);

    bool applyNoise(double noiseDb, RegionIterator first, RegionIterator last);
    double estimateNoise(double quietSeconds, double snrDb, RegionIterator first, RegionIterator last) const;
    double noiseReference(RegionIterator first, RegionIterator last) const;
    int _size(RegionIterator a, RegionIterator b) const { return b->begin - a->begin; }

private:
    struct ChangeRule {
        double seconds;
        double powerRatio;
        unsigned int frames;
    };

    // Scoped holds of the region lock. They also tell the thread sanitizer
    // of the hand-over between threads, which happens inside the Qt library
    // where it cannot see it.
    class ReadHold {
    public:
        explicit ReadHold(QReadWriteLock& lock);
        ~ReadHold();
        ReadHold(const ReadHold&) = delete;
        ReadHold& operator=(const ReadHold&) = delete;

    private:
        QReadWriteLock& mLock;
    };
    class WriteHold {
    public:
        explicit WriteHold(QReadWriteLock& lock);
        ~WriteHold();
        WriteHold(const WriteHold&) = delete;
        WriteHold& operator=(const WriteHold&) = delete;

    private:
        QReadWriteLock& mLock;
    };

    bool canChangeRegion(unsigned int distance, const SoundTools::StereoFrame<double>& newLevels,
                         const SoundTools::StereoFrame<double>& previousLevels) const;
    // Power ratio between the louder channels of two levels, at least 1.
    static double changeRatio(const SoundTools::StereoFrame<double>& newLevels,
                              const SoundTools::StereoFrame<double>& previousLevels);
    unsigned int toFrames(double seconds) const;
    double noiseLevelDb() const;
    // The noise level as a mean square: relative to the loudest level seen
    // so far, or absolute in real-time mode.
    double noiseFloorPower() const;
    // Follows, in the fade zone, the stretch at the end of the region in
    // progress where the level has stopped falling.
    void followFloor(double m0, double m1, double level);
    // A fall held in the fade zone that has come to rest on a steady level
    // far below the last region is the end of the sound, not a fade: the fall
    // joins the last region and the steady stretch becomes the region in
    // progress. False when the held data is still a fade.
    bool settleOnFloor(Region& previous);
    // Adds `count` frames to the fine level trace.
    void traceFrames(const SoundTools::StereoFrame<double>* input, int count);
    // Ends a quarter of a trace step whose louder channel summed to `sum`.
    void closeQuarter(double sum);

    double mStepRatio;  // power ratio of a level step (1 dB)
    double mNoiseLevel; // linear amplitude
    double mRMSTime;    // seconds
    mutable QReadWriteLock mLock { QReadWriteLock::Recursive };
    std::vector<Region> mRegions;
    std::vector<Region> mBackup;
    int mWindow = 0; // frames
    double mPendingSum[2] = { 0.0, 0.0 };
    int mPendingCount = 0;
    int mPendingBegin = 0;
    int mLastAnalysed = -1;
    int mFadeZoneStart = 0; // 0: no fade zone
    int mRangeEnd = INT_MAX; // first frame past the run
    double mCurrentMax = 0.0;
    OutputMode mOutputMode;
    bool mRealTimeMode;
    std::vector<ChangeRule> mChangeRules;
    std::vector<float> mTrace;
    int mTraceStep = 4;     // frames, a multiple of 4
    int mTraceOrigin = -1;  // first frame of the trace; -1: none yet
    int mTraceNext = 0;     // next frame the trace takes
    int mTraceFill = 0;     // frames summed into the quarter in progress
    int mTraceQuarter = 0;  // quarters of the step done
    double mQuarterSum[2] = { 0.0, 0.0 };
    double mQuarters[4] = { 0.0, 0.0, 0.0, 0.0 };
    SoundRMSSlopeDetector mSlopeDetector;
    // The window level that made process push the region in progress; -1
    // when the push comes from elsewhere (the pending average counts then).
    double mFallLevel = -1.0;
    // The last `mFloorCount` window values of the region in progress, where
    // the level has not fallen by a step below `mFloorFirst`, the value they
    // start with. Followed only in the fade zone; always a part of the
    // pending sums.
    double mFloorSum[2] = { 0.0, 0.0 };
    int mFloorCount = 0;
    double mFloorFirst = 0.0;
    // The window power at the last sampling point, for output mode 1.
    double mSampledPower[2] = { 0.0, 0.0 };
};

#endif
