#include "tulv/dynamics/RMSStepDetector.h"

#include "tulv/core/TimeText.h"

#include <QJsonArray>
#include <QJsonValue>

#include <omp.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <sstream>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#endif

namespace {

#if defined(__SANITIZE_THREAD__)
void syncAcquired(void* lock)
{
    __tsan_acquire(lock);
}
void syncReleasing(void* lock)
{
    __tsan_release(lock);
}
#else
void syncAcquired(void*) {}
void syncReleasing(void*) {}
#endif

// A level step is a change of 1 dB of power.
const double kStepRatio = std::pow(10.0, 0.1);
// Falls in the last 10 s of a run stay in the region in progress, so that a
// final fade-out makes one region instead of a staircase of quieter ones.
constexpr double kFadeZoneSeconds = 10.0;
// Step of the fine level trace: fine enough to place a track boundary, each
// quarter (5 ms) longer than a click.
constexpr double kTraceSeconds = 0.02;
constexpr size_t kRegionCapacity = 200;
// A change of 20 dB or more is one between sound and near silence.
constexpr double kSilenceRatio = 100.0;
// Below this a mean square counts as -100 dB.
constexpr double kSilentPower = 1e-20;

double powerToDb(double power)
{
    return power <= kSilentPower ? -100.0 : 10.0 * std::log10(power);
}

class RMSStepDetectorJSonBuilder : public SoundAlgo::SoundAlgoJSonBuilder {
public:
    SoundAlgo* build(const QJsonObject& object) override { return RMSStepDetector::createFromJSon(object); }
    QString getClassName() override { return QStringLiteral("RMSStepDetector"); }
};

// Registered when the library is loaded. The registry never deletes its
// builders, so this one lives in static storage for the life of the process.
RMSStepDetectorJSonBuilder sBuilder;
const bool kBuilderRegistered = [] {
    SoundAlgo::declareBuilder(&sBuilder);
    return true;
}();

} // namespace

RMSStepDetector::ReadHold::ReadHold(QReadWriteLock& lock)
    : mLock(lock)
{
    mLock.lockForRead();
    syncAcquired(&mLock);
}

RMSStepDetector::ReadHold::~ReadHold()
{
    syncReleasing(&mLock);
    mLock.unlock();
}

RMSStepDetector::WriteHold::WriteHold(QReadWriteLock& lock)
    : mLock(lock)
{
    mLock.lockForWrite();
    syncAcquired(&mLock);
}

RMSStepDetector::WriteHold::~WriteHold()
{
    syncReleasing(&mLock);
    mLock.unlock();
}

RMSStepDetector::RMSStepDetector(double noiseThresholdDb, double rmsTime, double minSlopeTime, OutputMode mode,
                                 bool realTimeMode)
    : mStepRatio(kStepRatio)
    , mNoiseLevel(std::pow(10.0, noiseThresholdDb / 20.0))
    , mRMSTime(rmsTime)
    , mOutputMode(mode)
    , mRealTimeMode(realTimeMode)
    , mChangeRules { { 10.0, std::pow(10.0, 0.1), 0 }, { 5.0, std::pow(10.0, 0.2), 0 }, { 2.0, std::pow(10.0, 0.5), 0 } }
    , mSlopeDetector(minSlopeTime)
{
    (void)kBuilderRegistered;
    mRegions.reserve(kRegionCapacity);
}

RMSStepDetector::~RMSStepDetector() = default;

unsigned int RMSStepDetector::toFrames(double seconds) const
{
    const double frames = std::floor(getSampleRate() * seconds + 0.5);
    return frames > 0 ? static_cast<unsigned int>(frames) : 0;
}

double RMSStepDetector::noiseFloorPower() const
{
    const double power = mNoiseLevel * mNoiseLevel;
    return mRealTimeMode ? power : power * mCurrentMax;
}

double RMSStepDetector::noiseLevelDb() const
{
    return mNoiseLevel <= kSilentPower ? -100.0 : 20.0 * std::log10(mNoiseLevel);
}

unsigned int RMSStepDetector::getInOverlap(unsigned int sampleRate) const
{
    const double frames = std::floor(sampleRate * mRMSTime + 0.5);
    return frames > 0 ? static_cast<unsigned int>(frames) : 0;
}

void RMSStepDetector::reset()
{
    WriteHold lock(mLock);
    mWindow = static_cast<int>(toFrames(mRMSTime));
    mPendingSum[0] = mPendingSum[1] = 0.0;
    mPendingCount = 0;
    mPendingBegin = 0;
    mFloorCount = 0;
    mLastAnalysed = -1;
    mCurrentMax = 0.0;
    mFadeZoneStart = 0;
    mRangeEnd = INT_MAX;
    mSampledPower[0] = mSampledPower[1] = 0.0;
    mRegions.clear();
    mSlopeDetector.reset();
    mTrace.clear();
    mTraceStep = std::max(4, static_cast<int>(toFrames(kTraceSeconds)) / 4 * 4);
    mTraceOrigin = -1;
    mTraceFill = mTraceQuarter = 0;
    mQuarterSum[0] = mQuarterSum[1] = 0.0;
}

void RMSStepDetector::traceFrames(const SoundTools::StereoFrame<double>* input, int count)
{
    const int quarter = mTraceStep / 4;
    double sum0 = mQuarterSum[0];
    double sum1 = mQuarterSum[1];
    int fill = mTraceFill;
    // Per frame: two squares added; per quarter step, a comparison or two.
    for (int i = 0; i < count; ++i) {
        sum0 += input[i].left * input[i].left;
        sum1 += input[i].right * input[i].right;
        if (++fill < quarter)
            continue;
        closeQuarter(std::max(sum0, sum1));
        sum0 = sum1 = 0.0;
        fill = 0;
    }
    mQuarterSum[0] = sum0;
    mQuarterSum[1] = sum1;
    mTraceFill = fill;
}

void RMSStepDetector::closeQuarter(double sum)
{
    mQuarters[mTraceQuarter++] = sum;
    if (mTraceQuarter < 4)
        return;
    mTraceQuarter = 0;
    // The second smallest of four quarters: a click or two in the step
    // are left out.
    double* q = mQuarters;
    const int smallest = int(std::min_element(q, q + 4) - q);
    double second = -1.0;
    for (int k = 0; k < 4; ++k)
        if (k != smallest && (second < 0.0 || q[k] < second))
            second = q[k];
    mTrace.push_back(static_cast<float>(second / (mTraceStep / 4)));
}

SoundTools::Status RMSStepDetector::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    mSampleRate = context.sampleRate;
    reset();
    mSlopeDetector.init(context.sampleRate);
    // A reader that does not know its length yet (a queue filled by another
    // thread) announces only what it holds: the analysis then runs until the
    // loop reports the real end, and no fade zone can be placed ahead of it.
    if (context.lengthKnown) {
        const long long rangeEnd = (long long)context.startFrame + context.frameNBToProcess;
        mRangeEnd = static_cast<int>(std::min<long long>(rangeEnd, INT_MAX));
        mFadeZoneStart = static_cast<int>(rangeEnd - static_cast<long long>(toFrames(kFadeZoneSeconds)));
    }
    for (ChangeRule& rule : mChangeRules)
        rule.frames = toFrames(rule.seconds);
    // Reserved once: the trace grows by one value per step without allocating.
    if (context.lengthKnown)
        mTrace.reserve(context.frameNBToProcess / unsigned(mTraceStep) + 2);
    // A window of no frames has no mean square; the loop would also never
    // hand the detector the context it reads ahead.
    if (mWindow < 1) {
        setError(QStringLiteral("RMS time of %1 s is shorter than one frame").arg(mRMSTime),
                 "RMSStepDetector::initProcess");
        return SoundTools::Error;
    }
    return SoundAlgo::initProcess(context, previous, next);
}

void RMSStepDetector::streamEnds(int endFrame)
{
    mRangeEnd = std::min(mRangeEnd, endFrame);
}

SoundTools::Status RMSStepDetector::process()
{
    using Frame = SoundTools::StereoFrame<double>;
    const std::shared_ptr<SoundBuffer>& in = mInBuffers[0];
    const std::shared_ptr<SoundBuffer>& out = mOutBuffers[0];
    const int first = getOutOrigin();
    const int count = static_cast<int>(std::min<unsigned int>(getOutFrameNb(), INT_MAX));
    if (count <= 0)
        return SoundTools::Ok;
    const int window = mWindow;
    const double invWindow = 1.0 / window;
    const Frame* input = in->getStereoFrame(first);
    Frame* output = out->getStereoFrame(first);

    const int snapshot = mLastAnalysed;
    int samplePoint = first;
    if (snapshot == -1) {
        samplePoint = std::max(first, 0);
        mPendingBegin = samplePoint;
    }
    // Frames past the end of the run are the loop's zero padding, not sound.
    const int analysedEnd = std::min(count, mRangeEnd > first ? mRangeEnd - first : 0);
    // The fine trace takes each frame once, from where the last block left it.
    if (mTraceOrigin < 0 && analysedEnd > 0)
        mTraceOrigin = mTraceNext = first;
    const int traceFrom = std::max(0, mTraceNext - first);
    if (mTraceNext >= first && traceFrom < analysedEnd) {
        traceFrames(input + traceFrom, analysedEnd - traceFrom);
        mTraceNext = first + analysedEnd;
    }

    // The region in progress is kept in locals through the block and handed
    // back to the members around every call that reads or changes it.
    double pending0 = mPendingSum[0];
    double pending1 = mPendingSum[1];
    int pendingCount = mPendingCount;
    int lastAnalysed = mLastAnalysed;
    const auto store = [&]() {
        mPendingSum[0] = pending0;
        mPendingSum[1] = pending1;
        mPendingCount = pendingCount;
        mLastAnalysed = lastAnalysed;
    };
    const auto load = [&]() {
        pending0 = mPendingSum[0];
        pending1 = mPendingSum[1];
        pendingCount = mPendingCount;
        lastAnalysed = mLastAnalysed;
    };
    const double stepRatio = mStepRatio;
    const int fadeZoneStart = mFadeZoneStart;
    const OutputMode mode = mOutputMode;
    double sum0 = 0.0;
    double sum1 = 0.0;
    bool summed = false;
    double noiseFloor = noiseFloorPower();
    // Per frame: one square added and one subtracted per channel, one
    // division for the pending average, the comparison with the region in
    // progress, and the output frame.
    for (int i = 0; i < count; ++i) {
        const int p = first + i;
        if (p > lastAnalysed && i < analysedEnd) {
            if (!summed) {
                // Summing the whole window once per block bounds the drift of
                // the running sums.
                for (int k = 0; k < window; ++k) {
                    sum0 += input[i + k].left * input[i + k].left;
                    sum1 += input[i + k].right * input[i + k].right;
                }
                summed = true;
            } else {
                const Frame& entering = input[i + window - 1];
                sum0 += entering.left * entering.left;
                sum1 += entering.right * entering.right;
            }
            const double m0 = std::max(sum0 * invWindow, 0.0);
            const double m1 = std::max(sum1 * invWindow, 0.0);
            if (p == samplePoint) {
                mSlopeDetector.addValue(m0, m1, p);
                mSampledPower[0] = m0;
                mSampledPower[1] = m1;
                samplePoint += window;
            }
            sum0 -= input[i].left * input[i].left;
            sum1 -= input[i].right * input[i].right;

            if (snapshot == -1 && !(m0 > 0.0) && !(m1 > 0.0)) {
                // Leading digital silence: the first region begins where the
                // window first holds a sound.
                ++lastAnalysed;
                ++mPendingBegin;
            } else {
                // The louder channel's average: the sums are not negative,
                // so this is the larger of the two averages, to the bit.
                const double average = pendingCount ? std::max(pending0, pending1) / pendingCount : 0.0;
                const double level = std::max(m0, m1);
                bool accumulate = true;
                // Below the noise level a click moves the window by more than a
                // step; such moves are the texture of the noise, not steps,
                // or a crackling gap would break into pieces too short to
                // stand as a region.
                const bool inNoise = level <= noiseFloor && average <= noiseFloor;
                if (!inNoise && (level > average * stepRatio || average > level * stepRatio)) {
                    store();
                    mFallLevel = level;
                    const SoundTools::Status pushed = pushRegion(false);
                    mFallLevel = -1.0;
                    noiseFloor = noiseFloorPower();
                    if (pushed == SoundTools::Ok) {
                        mPendingSum[0] = m0;
                        mPendingSum[1] = m1;
                        mPendingCount = 1;
                        mPendingBegin = p + window / 2;
                        mFloorCount = 0;
                        accumulate = false;
                    } else if (pushed == SoundTools::EndOfStream) {
                        mPendingSum[0] = m0;
                        mPendingSum[1] = m1;
                        mPendingCount = 1;
                        mPendingBegin = p;
                        mLastAnalysed = p;
                        mFloorCount = 0;
                        accumulate = false;
                    }
                    load();
                }
                if (accumulate) {
                    pending0 += m0;
                    pending1 += m1;
                    ++pendingCount;
                    ++lastAnalysed;
                }
                if (fadeZoneStart != 0 && p > fadeZoneStart)
                    followFloor(m0, m1, level);
            }
        }
        switch (mode) {
        case RegionLevel:
            if (pendingCount) {
                output[i].left = std::sqrt(std::max(pending0 / pendingCount, 0.0));
                output[i].right = std::sqrt(std::max(pending1 / pendingCount, 0.0));
            } else {
                output[i].left = output[i].right = 0.0;
            }
            break;
        case WindowPower:
            output[i].left = mSampledPower[0];
            output[i].right = mSampledPower[1];
            break;
        case PassThrough:
            output[i] = input[i];
            break;
        case NoOutput:
            break;
        }
    }
    store();
    if (mRealTimeMode)
        flush(false);
    return SoundTools::Ok;
}

SoundTools::Status RMSStepDetector::pushRegion(bool /*force*/)
{
    if (mPendingCount == 0)
        return SoundTools::Error;
    WriteHold lock(mLock);
    Region region;
    region.begin = mPendingBegin;
    region.length = mPendingCount;
    region.level0 = mPendingSum[0] / mPendingCount;
    region.level1 = mPendingSum[1] / mPendingCount;
    region.weight = mPendingCount;
    region.noise = false;
    if (mRegions.empty()) {
        mRegions.push_back(region);
        mCurrentMax = std::max(region.level0, region.level1);
        return SoundTools::Ok;
    }
    Region& previous = mRegions.back();
    if (mFadeZoneStart != 0 && region.begin > mFadeZoneStart
        && (previous.level0 > region.level0 || previous.level1 > region.level1)) {
        // A fall in the fade zone is a fade-out going on, unless the level has
        // sunk to the noise: the lead-out noise after the last track is a
        // region of its own, or splitting would keep it in the last file.
        // Below the detector's noise level that is plain; above it (a
        // noisier surface), the noise shows as the steady level the fall
        // comes to rest on, which a fade never does.
        const double probe = mFallLevel >= 0.0 ? mFallLevel : std::max(region.level0, region.level1);
        if (probe > noiseFloorPower()) {
            if (!settleOnFloor(previous))
                return SoundTools::Error;
            region.begin = mPendingBegin;
            region.length = mPendingCount;
            region.level0 = mPendingSum[0] / mPendingCount;
            region.level1 = mPendingSum[1] / mPendingCount;
            region.weight = mPendingCount;
        }
    }
    const int distance = region.begin - previous.begin;
    const SoundTools::StereoFrame<double> newLevels { region.level0, region.level1 };
    const SoundTools::StereoFrame<double> previousLevels { previous.level0, previous.level1 };
    // The rules measure how long the previous region lasted, in steps of at
    // least 2 s: a gap of two seconds between tracks would vanish into the
    // region before or after it. Two more cases close a region:
    // - a new piece that itself lasts as long as the strongest rule asks,
    //   with as large a change, stands on its own;
    // - at a change of 20 dB or more (between sound and near silence), one
    //   second is enough, of the previous region or of a new piece that
    //   outlasts it (the short decay that leads into a gap).
    const unsigned int newLength = static_cast<unsigned int>(std::max(region.length, 0));
    const unsigned int lasted = static_cast<unsigned int>(std::max(distance, 0));
    const double ratio = changeRatio(newLevels, previousLevels);
    const ChangeRule& strongest = mChangeRules.back();
    const unsigned int silenceFrames = strongest.frames / 2;
    const bool standsAlone = (ratio >= strongest.powerRatio && newLength >= strongest.frames)
        || (ratio >= kSilenceRatio
            && (lasted >= silenceFrames || (newLength >= lasted && newLength >= silenceFrames)));
    if (distance >= 0
        && (canChangeRegion(static_cast<unsigned int>(distance), newLevels, previousLevels) || standsAlone)) {
        previous.length = distance;
        mCurrentMax = std::max({ mCurrentMax, region.level0, region.level1 });
        mRegions.push_back(region);
        return SoundTools::Ok;
    }
    const double total = double(previous.weight) + region.weight;
    previous.level0 = (previous.level0 * previous.weight + region.level0 * region.weight) / total;
    previous.level1 = (previous.level1 * previous.weight + region.level1 * region.weight) / total;
    previous.weight += region.weight;
    previous.length += region.length;
    mPendingBegin = mLastAnalysed;
    mPendingSum[0] = mPendingSum[1] = 0.0;
    mPendingCount = 0;
    mFloorCount = 0;
    mCurrentMax = std::max({ mCurrentMax, previous.level0, previous.level1 });
    return SoundTools::EndOfStream;
}

void RMSStepDetector::followFloor(double m0, double m1, double level)
{
    // The stretch restarts wherever the level falls a step below the value
    // it started with or below its mean: during a fade it never grows old,
    // on the steady noise after one it grows for as long as the noise lasts.
    // The mean keeps a start that still held the last of the sound from
    // being taken as the noise's own level; the first value keeps a click
    // in the noise, which lifts the mean, from restarting it.
    const double reference
        = mFloorCount ? std::min(mFloorFirst, std::max(mFloorSum[0], mFloorSum[1]) / mFloorCount) : 0.0;
    if (mFloorCount == 0 || level * mStepRatio < reference) {
        mFloorSum[0] = m0;
        mFloorSum[1] = m1;
        mFloorCount = 1;
        mFloorFirst = level;
    } else {
        mFloorSum[0] += m0;
        mFloorSum[1] += m1;
        ++mFloorCount;
    }
}

bool RMSStepDetector::settleOnFloor(Region& previous)
{
    // The steady stretch must be as long and as far down as a change between
    // sound and near silence needs: one second, 20 dB below the last region.
    // A fade that falls 20 dB within the zone falls faster than a step a
    // second, so none of it stays steady that long.
    const int settleFrames = std::max(static_cast<int>(mChangeRules.back().frames / 2), 1);
    if (mFloorCount < settleFrames || mFloorCount > mPendingCount)
        return false;
    // And it must lie within 20 dB of the detector's noise level: a steady
    // passage further above the noise than that is quiet music, which the
    // zone keeps whole.
    const double floorLevel = std::max(mFloorSum[0], mFloorSum[1]) / mFloorCount;
    if (floorLevel * kSilenceRatio > std::max(previous.level0, previous.level1)
        || floorLevel > noiseFloorPower() * kSilenceRatio)
        return false;
    // The fall before the steady stretch is the end of the sound: it joins
    // the last region, as a held fall does at the end of a run.
    const int held = mPendingCount - mFloorCount;
    if (held > 0) {
        const double heldSum0 = mPendingSum[0] - mFloorSum[0];
        const double heldSum1 = mPendingSum[1] - mFloorSum[1];
        const double total = double(previous.weight) + held;
        previous.level0 = std::max(0.0, (previous.level0 * previous.weight + heldSum0) / total);
        previous.level1 = std::max(0.0, (previous.level1 * previous.weight + heldSum1) / total);
        previous.weight += held;
        previous.length += held;
        mCurrentMax = std::max({ mCurrentMax, previous.level0, previous.level1 });
    }
    mPendingBegin += held;
    mPendingSum[0] = mFloorSum[0];
    mPendingSum[1] = mFloorSum[1];
    mPendingCount = mFloorCount;
    return true;
}

double RMSStepDetector::changeRatio(const SoundTools::StereoFrame<double>& newLevels,
                                    const SoundTools::StereoFrame<double>& previousLevels)
{
    const double n = std::max(newLevels.left, newLevels.right);
    const double q = std::max(previousLevels.left, previousLevels.right);
    if (n == q)
        return 1.0;
    // A change from or to silence counts as 50 dB.
    if (n == 0.0 || q == 0.0)
        return 100000.0;
    return n > q ? n / q : q / n;
}

bool RMSStepDetector::canChangeRegion(unsigned int distance, const SoundTools::StereoFrame<double>& newLevels,
                                      const SoundTools::StereoFrame<double>& previousLevels) const
{
    const double ratio = changeRatio(newLevels, previousLevels);
    for (const ChangeRule& rule : mChangeRules) {
        if (rule.powerRatio > ratio)
            return false;
        if (distance >= rule.frames)
            return true;
    }
    return false;
}

void RMSStepDetector::flush(bool /*force*/)
{
    {
        WriteHold lock(mLock);
        if (pushRegion(false) == SoundTools::Ok) {
            mPendingSum[0] = mPendingSum[1] = 0.0;
            mPendingCount = 0;
            mFloorCount = 0;
        }
    }
    if (isDebug())
        printRegions(nullptr);
    WriteHold lock(mLock);
    applyNoise(noiseLevelDb(), mRegions.begin(), mRegions.end());
}

void RMSStepDetector::endProcess(int status, unsigned int frameNBProcessed)
{
    // The loop counts the frames it read; regions are absolute positions.
    const long long end = (long long)getOffset() + frameNBProcessed;
    const int endPosition = static_cast<int>(std::min<long long>(end, INT_MAX));
    if (mPendingCount > 1)
        pushRegion(false);
    mPendingBegin = endPosition;
    mPendingSum[0] = mPendingSum[1] = 0.0;
    mPendingCount = 1;
    mFloorCount = 0;
    mFadeZoneStart = 0;
    flush(true);
    {
        WriteHold lock(mLock);
        mBackup = mRegions;
    }
    SoundAlgo::endProcess(status, frameNBProcessed);
}

std::vector<RMSStepDetector::Region> RMSStepDetector::getRegions() const
{
    return mRegions;
}

RMSStepDetector::Region RMSStepDetector::getRegion(int index, bool fromBackup) const
{
    ReadHold lock(mLock);
    const std::vector<Region>& list = fromBackup && !mBackup.empty() ? mBackup : mRegions;
    return index >= 0 && size_t(index) < list.size() ? list[size_t(index)] : Region();
}

void RMSStepDetector::setNoise(int index, bool noise)
{
    WriteHold lock(mLock);
    if (index >= 0 && size_t(index) < mRegions.size())
        mRegions[size_t(index)].noise = noise;
}

void RMSStepDetector::markNoise(int begin, int end, bool noise)
{
    WriteHold lock(mLock);
    // Cuts the region that holds `frame` in two; each part keeps the levels
    // and a share of the weight.
    auto cut = [this](int frame) {
        for (size_t k = 0; k < mRegions.size(); ++k) {
            Region& region = mRegions[k];
            if (frame <= region.begin || frame >= region.begin + region.length)
                continue;
            Region tail = region;
            tail.begin = frame;
            tail.length = region.begin + region.length - frame;
            tail.weight = std::max(1, int((long long)region.weight * tail.length / region.length));
            region.length = frame - region.begin;
            region.weight = std::max(1, region.weight - tail.weight);
            mRegions.insert(mRegions.begin() + long(k) + 1, tail);
            return;
        }
    };
    if (begin >= end)
        return;
    cut(begin);
    cut(end);
    for (Region& region : mRegions)
        if (region.begin >= begin && region.begin < end && region.length > 0)
            region.noise = noise;
}

int RMSStepDetector::size(bool fromBackup) const
{
    ReadHold lock(mLock);
    return static_cast<int>(fromBackup && !mBackup.empty() ? mBackup.size() : mRegions.size());
}

unsigned int RMSStepDetector::getFullLength() const
{
    return mRegions.empty() ? 0 : static_cast<unsigned int>(std::max(mRegions.back().begin, 0));
}

double RMSStepDetector::getCurrentMax() const
{
    return std::sqrt(mCurrentMax);
}

int RMSStepDetector::getSegmentsNumber() const
{
    int segments = 0;
    bool inSignal = false;
    for (const Region& region : mRegions) {
        if (!region.noise && !inSignal)
            ++segments;
        inSignal = !region.noise;
    }
    return segments;
}

int RMSStepDetector::getSignalStart(double marginSeconds) const
{
    for (const Region& region : mRegions)
        if (!region.noise)
            return std::max(0, region.begin - static_cast<int>(toFrames(marginSeconds)));
    return INT_MAX;
}

int RMSStepDetector::getSignalEnd(double marginSeconds) const
{
    for (auto it = mRegions.rbegin(); it != mRegions.rend(); ++it)
        if (!it->noise)
            return it->begin + it->length - 1 + static_cast<int>(toFrames(marginSeconds));
    return 0;
}

const SoundRMSSlopeDetector::Region* RMSStepDetector::getSlopeRegion(int position, unsigned int firstIndex,
                                                                     Region& out)
{
    const SoundRMSSlopeDetector::Region* slope = mSlopeDetector.find(position);
    if (!slope)
        return nullptr;
    ReadHold lock(mLock);
    for (size_t i = firstIndex; i < mRegions.size(); ++i) {
        const Region& region = mRegions[i];
        if (region.begin <= slope->start && region.begin + region.length > slope->start)
            continue;
        if (region.begin > slope->end)
            return nullptr;
        if (region.begin + region.length - 1 >= slope->end) {
            out = region;
            return slope;
        }
    }
    return nullptr;
}

void RMSStepDetector::backup()
{
    if (mPendingCount > 1)
        pushRegion(false);
    // The backup is written: a read lock would let two callers copy at once.
    WriteHold lock(mLock);
    mBackup = mRegions;
}

void RMSStepDetector::clearBackup()
{
    WriteHold lock(mLock);
    mBackup.clear();
}

void RMSStepDetector::resetRegions()
{
    mRegions = mBackup;
}

void RMSStepDetector::printRegions(const char* title)
{
    if (!isDebug())
        return;
    std::ostream& out = getOStream();
    if (title)
        out << title << ' ';
    out << mRegions.size() << " regions" << std::endl;
    out << "Noise level :" << noiseLevelDb() << " dB" << std::endl;
    if (mRegions.size() <= kRegionCapacity)
        for (const Region& region : mRegions)
            outputRegion(region);
}

std::ostream& RMSStepDetector::outputRegion(const Region& region)
{
    std::ostream& out = getOStream();
    if (!isDebug())
        return out;
    const double rate = getSampleRate() ? double(getSampleRate()) : 1.0;
    std::ostringstream line;
    line << std::fixed << std::setprecision(2) << "[Thread " << omp_get_thread_num() << "] ";
    if (region.noise)
        line << '[';
    line << SoundTools::timeText(region.begin / rate) << " (" << SoundTools::timeText(region.length / rate) << ") : "
         << powerToDb(region.level0) << ' ' << powerToDb(region.level1);
    if (region.noise)
        line << ']';
    out << line.str() << std::endl;
    return out;
}
