#include "tulv/dynamics/SoundAlgoRMSAmplifier.h"

#include <mutex>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <iomanip>
#include <ostream>

namespace {

// The loudest level the smoothing pulls towards is never taken below -25 dB:
// a recording that is quiet throughout is not pulled towards its own quietness.
const double kMaxLevelFloor = std::pow(10.0, -1.25);
// Ratios of 1 dB and 5 dB in amplitude: the ends of the ramp-length scale.
const double kOneDb = std::pow(10.0, 0.05);
const double kFiveDb = std::pow(10.0, 0.25);

double decibels(double gain)
{
    return gain <= 1e-20 ? -100.0 : 20.0 * std::log10(gain);
}

// HH:MM:SS.mmm, as sound lengths are shown.
void writeTime(std::ostream& out, double seconds)
{
    const double hours = std::floor(seconds / 3600.0);
    const double rest = seconds - 3600.0 * hours;
    const double minutes = std::floor(rest / 60.0);
    const double secs = rest - 60.0 * minutes;
    const char fill = out.fill('0');
    out << std::setprecision(0) << std::setw(2) << hours << ':' << std::setw(2) << minutes << ':'
        << std::setprecision(3) << std::setw(6) << secs;
    out.fill(fill);
}

} // namespace

SoundAlgoRMSAmplifier::SoundAlgoRMSAmplifier(double targetLevel, RMSStepDetector* detector, double maxRampTime,
                                             int smoothing, double range, double maxGain)
    : mMaxGain(std::pow(10.0, maxGain / 20.0))
    , mMinLevel(std::pow(10.0, (targetLevel - range) / 20.0))
    , mMaxRampTime(maxRampTime)
    , mTargetLevel(std::pow(10.0, targetLevel / 20.0))
    , mDetector(detector)
    , mSmoothing(smoothing)
{
    if (mDetector)
        mDetector->addRef();
}

SoundAlgoRMSAmplifier::~SoundAlgoRMSAmplifier()
{
    if (mDetector)
        mDetector->release();
}

void SoundAlgoRMSAmplifier::setBalanceFromRMS(const SoundTools::StereoFrame<double>& levels)
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    const double loudest = std::max(levels.left, levels.right);
    mBalance[0] = std::pow(10.0, loudest / 20.0) / std::pow(10.0, levels.left / 20.0);
    mBalance[1] = std::pow(10.0, loudest / 20.0) / std::pow(10.0, levels.right / 20.0);
}

void SoundAlgoRMSAmplifier::setLevel(double level)
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    mTargetLevel = std::pow(10.0, level / 20.0);
    resetUnlocked();
    initCurrentCoeff();
}

void SoundAlgoRMSAmplifier::reset()
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    resetUnlocked();
}

// The balance is a setting, like the target level, not state of the run: it
// survives reset, so that a balance set before a run is applied in it.
void SoundAlgoRMSAmplifier::resetUnlocked()
{
    mTargetCoeff = 1.0;
    mCurrentCoeff = 1.0;
    mInitialised = false;
    mRegionCursor = 0;
    mQueryCursor = 0;
    mMaxLevel = 0.0;
    mRampFrames = 0;
    mRampStep = 0.0;
    mSlopeRamp = false;
}

SoundTools::Status SoundAlgoRMSAmplifier::initProcess(const LoopContext& context, SoundAlgo* previous,
                                                      SoundAlgo* next)
{
    {
        std::unique_lock<std::shared_mutex> locker(mLock);
        mRate = context.sampleRate;
        resetUnlocked();
    }
    return SoundAlgo::initProcess(context, previous, next);
}

double SoundAlgoRMSAmplifier::computeCoeffFromRegion(const RMSStepDetector::Region& region) const
{
    if (region.noise)
        return 1.0;
    const double l = std::max(mBalance[0] * std::sqrt(region.level0), mBalance[1] * std::sqrt(region.level1));
    const double ls = mSmoothing > 0 ? l + (mMaxLevel - l) / mSmoothing : l;
    double g = mTargetLevel / ls;
    if (mMinLevel > l * g)
        g = mMinLevel / l;
    return std::min(mMaxGain, g);
}

void SoundAlgoRMSAmplifier::setMaxLevel()
{
    mMaxLevel = mDetector ? mDetector->getCurrentMax() : 0.0;
    if (mMaxLevel < kMaxLevelFloor)
        mMaxLevel = kMaxLevelFloor;
}

void SoundAlgoRMSAmplifier::initCurrentCoeff()
{
    if (!mDetector)
        mCurrentCoeff = mTargetLevel;
    else if (mDetector->size(false) == 0 || mCurrentRegion.noise)
        mCurrentCoeff = 1.0;
    else
        mCurrentCoeff = computeCoeffFromRegion(mCurrentRegion);
    mTargetCoeff = mCurrentCoeff;
    mRampFrames = 0;
    mRampStep = 0.0;
    mSlopeRamp = false;
    if (isDebug()) {
        std::ostream& out = getOStream();
        const std::ios_base::fmtflags flags = out.flags();
        const std::streamsize precision = out.precision();
        out << std::fixed << std::setprecision(2) << "Amplification set to " << decibels(mBalance[0] * mCurrentCoeff)
            << ' ' << decibels(mBalance[1] * mCurrentCoeff) << std::endl;
        out.flags(flags);
        out.precision(precision);
    }
}

void SoundAlgoRMSAmplifier::initCoeffFromRegionManager(int position)
{
    mRegionCount = mDetector ? mDetector->size(false) : 0;
    if (!mInitialised) {
        if (mDetector && mRegionCount > 0) {
            // Search once from the start: the run may begin anywhere.
            mRegionCursor = 1;
            mCurrentRegion = mDetector->getRegion(0, false);
            while (mCurrentRegion.begin + mCurrentRegion.length - 1 < position && mRegionCursor < mRegionCount)
                mCurrentRegion = mDetector->getRegion(mRegionCursor++, false);
            setMaxLevel();
            initCurrentCoeff();
            mInitialised = true;
        } else if (mDetector) {
            // Nothing is known of the level yet: leave the stream as it is.
            mTargetCoeff = mCurrentCoeff = 1.0;
        } else {
            mTargetCoeff = mCurrentCoeff = mTargetLevel;
        }
        return;
    }
    if (!mDetector) {
        mTargetCoeff = mCurrentCoeff = mTargetLevel;
        return;
    }
    // The detector may have completed the region since the last block. Only
    // a changed target starts a new ramp: restarting the running one at every
    // block would stretch it without end.
    mCurrentRegion = mDetector->getRegion(std::max(mRegionCursor - 1, 0), false);
    if (mCurrentRegion.noise) {
        mTargetCoeff = 1.0;
        mRampFrames = 0;
        mRampStep = 0.0;
        mSlopeRamp = false;
        return;
    }
    if (computeCoeffFromRegion(mCurrentRegion) != mTargetCoeff)
        recomputeCoeffFromRegion(position);
}

// A ramp with no frames left to run in: the target applies from here.
void SoundAlgoRMSAmplifier::applyTargetAtOnce()
{
    mCurrentCoeff = mTargetCoeff;
    mRampFrames = 0;
    mRampStep = 0.0;
    mSlopeRamp = false;
}

void SoundAlgoRMSAmplifier::recomputeCoeffFromRegion(int position)
{
    if (mCurrentRegion.noise) {
        mTargetCoeff = mCurrentCoeff = 1.0;
        mRampFrames = 0;
        mRampStep = 0.0;
        mSlopeRamp = false;
        return;
    }
    if (!mDetector)
        return;
    RMSStepDetector::Region slopeEnd;
    const SoundRMSSlopeDetector::Region* slope
        = mDetector->getSlopeRegion(position, static_cast<unsigned int>(std::max(mRegionCursor - 1, 0)), slopeEnd);
    mSlopeRamp = false;
    if (slope) {
        mTargetCoeff = computeCoeffFromRegion(slopeEnd);
        // A slope that has already ended leaves no frames to ramp over.
        const long long frames = (long long)slope->end - position;
        if (frames <= 0) {
            applyTargetAtOnce();
            return;
        }
        mRampFrames = frames;
        mRampStep = (mTargetCoeff - mCurrentCoeff) / double(frames);
        if (mRampStep != 0.0)
            mSlopeRamp = true;
        else
            mRampFrames = 0;
        return;
    }
    mTargetCoeff = computeCoeffFromRegion(mCurrentRegion);
    double q = mCurrentCoeff != 0.0 ? mTargetCoeff / mCurrentCoeff : HUGE_VAL;
    if (q == 0.0) {
        mRampStep = 0.0;
        mRampFrames = 0;
        return;
    }
    if (q < 1.0)
        q = 1.0 / q;
    const double x = std::clamp((q - kOneDb) / (kFiveDb - kOneDb), 0.0, 1.0);
    const double rampTime = x * (mMaxRampTime - 1.0) + 1.0;
    const long long frames = static_cast<long long>(std::floor(rampTime * mRate + 0.5));
    if (frames <= 0) {
        applyTargetAtOnce();
        return;
    }
    mRampFrames = frames;
    mRampStep = (mTargetCoeff - mCurrentCoeff) / double(frames);
    if (mRampStep == 0.0)
        mRampFrames = 0;
}

void SoundAlgoRMSAmplifier::setCoeff(int position)
{
    if (mDetector && !mSlopeRamp && mCurrentRegion.length > 0
        && mCurrentRegion.begin + mCurrentRegion.length - 1 < position && mRegionCursor < mRegionCount) {
        mCurrentRegion = mDetector->getRegion(mRegionCursor++, false);
        setMaxLevel();
        if (!mCurrentRegion.noise) {
            recomputeCoeffFromRegion(position);
        } else {
            mTargetCoeff = 1.0;
            mRampFrames = 0;
            mRampStep = 0.0;
        }
        if (isDebug())
            debugAmplification(position);
        return;
    }
    if (mRampFrames > 0) {
        --mRampFrames;
        mCurrentCoeff += mRampStep;
        if (mRampFrames == 0) {
            // Land on the target, not a rounding error away from it.
            mCurrentCoeff = mTargetCoeff;
            mSlopeRamp = false;
        }
    }
}

void SoundAlgoRMSAmplifier::debugAmplification(int position)
{
    mDetector->outputRegion(mCurrentRegion);
    std::ostream& out = getOStream();
    const std::ios_base::fmtflags flags = out.flags();
    const std::streamsize precision = out.precision();
    out << std::fixed << std::setprecision(2) << "[Thread " << omp_get_thread_num() << "] ";
    writeTime(out, mRate ? double(position) / mRate : 0.0);
    out << std::setprecision(2) << " : Amplification set to " << decibels(mBalance[0] * mTargetCoeff) << ' '
        << decibels(mBalance[1] * mTargetCoeff) << std::endl;
    out.flags(flags);
    out.precision(precision);
}

SoundTools::Status SoundAlgoRMSAmplifier::process()
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    const auto [first, N, in, out] = stereoBlock();
    if (N <= 0)
        return SoundTools::Ok;
    if (!in || !out)
        return SoundTools::Error;
    initCoeffFromRegionManager(first);
    const double b0 = mBalance[0];
    const double b1 = mBalance[1];
    // Per frame: one addition to the coefficient and two multiplications per
    // channel; the detector is consulted only when a region ends.
    for (int i = 0; i < N; ++i) {
        setCoeff(first + i);
        out[i].left = b0 * in[i].left * mCurrentCoeff;
        out[i].right = b1 * in[i].right * mCurrentCoeff;
    }
    return SoundTools::Ok;
}

double SoundAlgoRMSAmplifier::getLevel(double time)
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    if (!mDetector)
        return decibels(mTargetLevel);
    const int count = mDetector->size(true);
    if (count == 0)
        return 0.0;
    mQueryCursor = std::min(mQueryCursor, count - 1);
    const unsigned int rate = mRate ? mRate : mDetector->getSampleRate();
    const int position = static_cast<int>(std::floor(time * rate + 0.5));
    RMSStepDetector::Region region = mDetector->getRegion(mQueryCursor, true);
    while (region.begin + region.length - 1 < position && mQueryCursor + 1 < count) {
        const RMSStepDetector::Region next = mDetector->getRegion(mQueryCursor + 1, true);
        if (next.begin >= position)
            break;
        region = next;
        ++mQueryCursor;
    }
    if (region.noise)
        return 0.0;
    return decibels(computeCoeffFromRegion(region));
}
