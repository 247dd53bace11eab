#ifndef TULV_DYNAMICS_SOUNDALGORMSAMPLIFIER_H
#define TULV_DYNAMICS_SOUNDALGORMSAMPLIFIER_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/dynamics/RMSStepDetector.h"
#include "tulv/dynamics/SoundAlgoAmpliInterface.h"

#include <shared_mutex>

// Automatic gain that follows the regions of an RMSStepDetector: each signal
// region is brought to the target level, and the gain moves from one region's
// coefficient to the next either along a slope the detector found or over a
// ramp that lasts from 1 s (changes up to 1 dB) to the maximum ramp time
// (changes of 5 dB and more). Noise regions are never brought up: across them
// the gain stays where it was. Without a detector it is a plain gain.
//
// setLevel, reset and getLevel may be called from another thread during a
// run: they wait for the block in progress.
class SoundAlgoRMSAmplifier : public SoundAlgo, public SoundAlgoAmpliInterface {
    Q_OBJECT
public:
    // Levels in dB; `maxRampTime` in seconds; `smoothing` > 0 pulls each
    // region's level towards the loudest one by 1/smoothing before the gain
    // is computed; the output level is kept at least `range` dB under the
    // target; the gain never exceeds `maxGain` dB. Takes a reference on
    // `detector` (may be null) until destroyed.
    SoundAlgoRMSAmplifier(double targetLevel, RMSStepDetector* detector, double maxRampTime, int smoothing,
                          double range, double maxGain);

    // Channel levels in dB: the quieter channel is raised to the louder one.
    void setBalanceFromRMS(const SoundTools::StereoFrame<double>& levels);

    void setLevel(double level) override;
    void reset() override;
    double getLevel(double time) override;
    void changeSong() override {}

    SoundTools::Status process() override;

protected:
    ~SoundAlgoRMSAmplifier() override;
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;

private:
    void resetUnlocked();
    double computeCoeffFromRegion(const RMSStepDetector::Region& region) const;
    void setMaxLevel();
    void initCoeffFromRegionManager(int position);
    void initCurrentCoeff();
    void recomputeCoeffFromRegion(int position);
    void setCoeff(int position);
    void applyTargetAtOnce();
    void debugAmplification(int position);

    double mTargetCoeff = 1.0; // coefficient the ramp heads for
    double mMaxGain; // linear; the coefficient never exceeds it
    double mMinLevel; // linear amplitude; floor of the output level
    double mMaxRampTime; // s; ramp of changes of 5 dB and more
    double mTargetLevel; // linear amplitude
    double mBalance[2] = { 1.0, 1.0 }; // per-channel factors
    double mCurrentCoeff = 1.0; // coefficient of the present frame
    RMSStepDetector* mDetector; // counted reference, may be null
    int mRegionCursor = 0; // index of the next region to take
    int mQueryCursor = 0; // region index where getLevel resumes
    RMSStepDetector::Region mCurrentRegion;
    double mRampStep = 0.0; // coefficient change per frame
    long long mRampFrames = 0; // frames of ramp left
    bool mInitialised = false; // the first region has been located
    // A read-write lock the thread sanitizer understands (Qt's is not
    // instrumented, so every hand-over through it would look like a race).
    mutable std::shared_mutex mLock;
    int mSmoothing; // divisor of the pull towards the loudest level
    double mMaxLevel = 0.0; // loudest amplitude of the detector, at least -25 dB
    bool mSlopeRamp = false; // the running ramp follows a detector slope
    int mRegionCount = 0; // regions of the detector, read once per block
    unsigned int mRate = 0; // sample rate of the run, Hz, read under the lock
};

#endif
