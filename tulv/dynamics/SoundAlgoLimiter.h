#ifndef TULV_DYNAMICS_SOUNDALGOLIMITER_H
#define TULV_DYNAMICS_SOUNDALGOLIMITER_H

#include "tulv/core/SoundAlgo.h"
#include "tulv/dynamics/SoundAlgoAmpliInterface.h"

#include <shared_mutex>
#include <QString>

// Peak limiter with make-up gain. The stream is multiplied by the level G;
// wherever that would take a peak above 0.98 the gain is lowered along a
// straight line that starts far enough ahead of the loud frame (the input
// overlap makes those frames visible), and afterwards climbs back to G no
// faster than the slope maximum. A frame that still ends above 0.981 is
// scaled to 0.98 and the frames before it in the block fade into that scaling.
// The output is not delayed: output frame p comes from input frame p.
//
// setLevel, reset and getLevel may be called from another thread during a
// run: they wait for the block in progress.
class SoundAlgoLimiter : public SoundAlgo, public SoundAlgoAmpliInterface {
    Q_OBJECT
public:
    // `level` in dB; times in seconds; `diagnosticFile` may be null (see
    // SetDebugFile).
    SoundAlgoLimiter(double level, double lookAheadTime, double releaseTime, const char* diagnosticFile = nullptr);

    // Largest rise of the gain during release, as dB per second; takes effect
    // at the next run.
    void SetSlopeMax(double slopeMax);
    // A mono sound file that receives, per frame of the next run, the applied
    // gain divided by the level (1.0 = no limiting). Null or empty: none.
    void SetDebugFile(const char* fileName);

    void setLevel(double level) override;
    void reset() override;
    double getLevel(double time) override;
    void changeSong() override {}

    SoundTools::Status process() override;

    // Counters of the run (reset by reset()): attacks planned with a rising
    // gain, and frames that the clip repair had to scale.
    int getPositiveAttacks() const;
    int getFilteredClippings() const;

    // The ceiling that the limiting aims at, and the peak above which a frame
    // that got through is repaired.
    static constexpr double sCeiling = 0.98;
    static constexpr double sRepairThreshold = 0.981;

protected:
    ~SoundAlgoLimiter() override;
    unsigned int getInOverlap(unsigned int sampleRate) const override;
    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override;
    void endProcess(int status, unsigned int frameNBProcessed) override;

private:
    void resetUnlocked();
    void planRelease();
    double forwardCoeff() const;
    double boundByAttackTarget(double coeff) const;
    void openDiagnostic();
    void writeDiagnostic(int first, int frames);
    void closeDiagnostic();

    double mLookAheadTime; // s
    double mReleaseTime; // s
    double mLevel; // G, linear make-up gain
    double mSlopeMax = 1000.0; // largest gain rise per second while releasing
    double mMaxIncrement = 0.0; // mSlopeMax per frame
    double mCoeff; // gain of the present frame
    double mReleaseStep = 0.0; // gain rise per frame while releasing
    int mReleaseFrames = 0;
    double mAttackStep = 0.0; // gain change per frame of the planned attack
    int mAttackFrames = 0;
    int mAttackEnd = 0; // absolute frame where the planned attack ends
    // The gain the running attack settles at: the lowest that any of the
    // plans it serves asked for.
    double mAttackTarget = 0.0;
    int mLookAheadFrames = 0; // A
    int mReleaseFramesTotal = 0; // R
    std::shared_ptr<SoundBuffer> mDiagnosticBuffer;
    void* mDiagnosticWriter = nullptr; // libsndfile handle of the diagnostic file
    QString mDiagnosticFileName;
    long long mStreamEnd = 0; // absolute frame after the last one of the source
    int mPositiveAttacks = 0;
    int mFilteredClippings = 0;
    // A read-write lock the thread sanitizer understands (Qt's is not
    // instrumented, so every hand-over through it would look like a race).
    mutable std::shared_mutex mLock;
};

#endif
