#include "tulv/dynamics/SoundAlgoLimiter.h"

#include <sndfile.h>

#include <mutex>

#include <algorithm>
#include <cmath>
#include <iomanip>

namespace {

int framesOf(double seconds, unsigned int sampleRate)
{
    return static_cast<int>(std::floor(seconds * sampleRate + 0.5));
}

double peakOf(const SoundTools::StereoFrame<double>& frame)
{
    return std::max(std::fabs(frame.left), std::fabs(frame.right));
}

double decibels(double gain)
{
    return gain <= 1e-20 ? -100.0 : 20.0 * std::log10(gain);
}

} // namespace

SoundAlgoLimiter::SoundAlgoLimiter(double level, double lookAheadTime, double releaseTime, const char* diagnosticFile)
    : mLookAheadTime(lookAheadTime)
    , mReleaseTime(releaseTime)
    , mLevel(std::pow(10.0, level / 20.0))
    , mCoeff(mLevel)
{
    SetDebugFile(diagnosticFile);
}

SoundAlgoLimiter::~SoundAlgoLimiter()
{
    closeDiagnostic();
}

void SoundAlgoLimiter::SetSlopeMax(double slopeMax)
{
    mSlopeMax = std::pow(10.0, slopeMax / 20.0);
}

void SoundAlgoLimiter::SetDebugFile(const char* fileName)
{
    mDiagnosticFileName = fileName ? QString::fromLocal8Bit(fileName) : QString();
}

void SoundAlgoLimiter::setLevel(double level)
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    mLevel = std::pow(10.0, level / 20.0);
    mCoeff = mLevel;
}

void SoundAlgoLimiter::reset()
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    resetUnlocked();
}

void SoundAlgoLimiter::resetUnlocked()
{
    mCoeff = mLevel;
    mReleaseStep = 0.0;
    mReleaseFrames = 0;
    mAttackStep = 0.0;
    mAttackFrames = 0;
    mAttackEnd = 0;
    mAttackTarget = 0.0;
    mPositiveAttacks = 0;
    mFilteredClippings = 0;
}

double SoundAlgoLimiter::getLevel(double /*time*/)
{
    std::shared_lock<std::shared_mutex> locker(mLock);
    return decibels(mLevel);
}

int SoundAlgoLimiter::getPositiveAttacks() const
{
    std::shared_lock<std::shared_mutex> locker(mLock);
    return mPositiveAttacks;
}

int SoundAlgoLimiter::getFilteredClippings() const
{
    std::shared_lock<std::shared_mutex> locker(mLock);
    return mFilteredClippings;
}

unsigned int SoundAlgoLimiter::getInOverlap(unsigned int sampleRate) const
{
    return static_cast<unsigned int>(std::max(0, framesOf(mLookAheadTime, sampleRate)))
        + static_cast<unsigned int>(std::max(0, framesOf(mReleaseTime, sampleRate)));
}

SoundTools::Status SoundAlgoLimiter::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    {
        std::unique_lock<std::shared_mutex> locker(mLock);
        const unsigned int rate = context.sampleRate;
        mLookAheadFrames = std::max(0, framesOf(mLookAheadTime, rate));
        mReleaseFramesTotal = std::max(0, framesOf(mReleaseTime, rate));
        mMaxIncrement = rate > 0 ? mSlopeMax / rate : mSlopeMax;
        mStreamEnd = (long long)context.startFrame + context.frameNBToProcess;
        resetUnlocked();
    }
    mSampleRate = context.sampleRate;
    mDiagnosticBuffer.reset();
    if (!mDiagnosticFileName.isEmpty())
        openDiagnostic();
    const SoundTools::Status status = SoundAlgo::initProcess(context, previous, next);
    if (status == SoundTools::Ok && mDiagnosticWriter) {
        mDiagnosticBuffer = SoundBuffer::createNew(mSampleRate);
        mDiagnosticBuffer->alloc(mInBuffers[0]->getFrameNBAllocated(), 1, 1, 1);
    }
    return status;
}

void SoundAlgoLimiter::endProcess(int status, unsigned int frameNBProcessed)
{
    closeDiagnostic();
    if (isDebug() && status == SoundTools::Ok) {
        std::shared_lock<std::shared_mutex> locker(mLock);
        std::ostream& out = getOStream();
        const std::ios_base::fmtflags flags = out.flags();
        const std::streamsize precision = out.precision();
        out << std::fixed << std::setprecision(2);
        if (mPositiveAttacks != 0)
            out << "SoundAlgoAmplify : " << mPositiveAttacks << " positives attacks" << std::endl;
        if (mFilteredClippings != 0)
            out << "SoundAlgoAmplify : " << mFilteredClippings << " clippings filtered" << std::endl;
        out.flags(flags);
        out.precision(precision);
    }
    SoundAlgo::endProcess(status, frameNBProcessed);
}

// The gain can only rise by one increment per frame and must be back at G
// after R frames, whichever is slower.
void SoundAlgoLimiter::planRelease()
{
    const double R = std::max(mReleaseFramesTotal, 1);
    mReleaseStep = std::min((mLevel - mCoeff) / R, mMaxIncrement);
    // Rounded up, so that no frame of the release has to rise by more than
    // one step to meet the level.
    mReleaseFrames = mReleaseStep > 0.0 ? static_cast<int>(std::ceil((mLevel - mCoeff) / mReleaseStep)) : 1;
}

// The gain that will apply A frames ahead if nothing new is planned: the end
// of the running attack followed by the release, or the running release.
double SoundAlgoLimiter::forwardCoeff() const
{
    const int A = mLookAheadFrames;
    if (mAttackFrames > 0) {
        const double v = boundByAttackTarget(mCoeff + mAttackFrames * mAttackStep);
        if (mAttackFrames >= A)
            return v;
        const double R = std::max(mReleaseFramesTotal, 1);
        return v + std::min(mMaxIncrement, (mLevel - v) / R) * (A - mAttackFrames);
    }
    if (mReleaseFrames > 0 && mReleaseFrames >= A)
        return mCoeff + A * mReleaseStep;
    return mLevel;
}

// A plan that renews the count of a running attack may keep its steeper
// step; going on at that step for the whole new count would carry the gain
// below what any peak needed, down through zero.
double SoundAlgoLimiter::boundByAttackTarget(double coeff) const
{
    if (mAttackStep < 0.0)
        return std::max(coeff, mAttackTarget);
    return std::min(coeff, mAttackTarget);
}

SoundTools::Status SoundAlgoLimiter::process()
{
    std::unique_lock<std::shared_mutex> locker(mLock);
    const auto [first, N, in, out] = stereoBlock();
    if (N <= 0)
        return SoundTools::Ok;
    if (!in || !out)
        return SoundTools::Error;
    // The input holds A + R frames beyond the last output frame of the block.
    const int A = mLookAheadFrames;
    const int inAvailable = static_cast<int>(getInFrameNb());
    double* gain = mDiagnosticBuffer && N <= static_cast<int>(mDiagnosticBuffer->getFrameNBAllocated())
        ? mDiagnosticBuffer->getRelFrame(0)
        : nullptr;
    const double unit = mLevel > 0.0 ? 1.0 / mLevel : 0.0;

    // Per frame: two multiplications and a comparison; an attack plan scans
    // forward at most to the block end, a repair rescales at most A + 1 frames.
    for (int i = 0; i < N; ++i) {
        const int p = first + i;
        out[i].left = in[i].left * mCoeff;
        out[i].right = in[i].right * mCoeff;
        if (gain)
            gain[i] = mCoeff * unit;

        const double m = peakOf(out[i]);
        if (m > sRepairThreshold) {
            const double k = sCeiling / m;
            mCoeff *= k;
            const int s = std::max(i - A, 0);
            if (s == i) {
                // Nothing of this block lies before the frame to fade from:
                // the frame itself still has to come down to the ceiling.
                out[i].left *= k;
                out[i].right *= k;
                if (gain)
                    gain[i] *= k;
            } else {
                const double slope = (1.0 - k) / double(s - i);
                for (int j = s; j <= i; ++j) {
                    const double factor = 1.0 + (j - s) * slope;
                    out[j].left *= factor;
                    out[j].right *= factor;
                    if (gain)
                        gain[j] *= factor;
                }
            }
            planRelease();
            ++mFilteredClippings;
            mAttackFrames = 0;
        }

        if (A > 0 && p + A > mAttackEnd && i + A < inAvailable) {
            const double f = peakOf(in[i + A]);
            if (forwardCoeff() * f > sCeiling) {
                // Find the distance at which the peak-to-distance ratio stops
                // growing: that peak asks for the steepest reduction.
                int n = A;
                double q = f;
                while (i + (n - A) + 1 < N && i + n + 1 < inAvailable) {
                    const double v = peakOf(in[i + n + 1]);
                    if (v * n >= q * (n + 1)) {
                        ++n;
                        q = v;
                    } else {
                        break;
                    }
                }
                const double target = sCeiling / q;
                const double a = (target - mCoeff) / n;
                if (mAttackFrames == 0 || a < mAttackStep || p > mAttackEnd) {
                    mAttackStep = a;
                    mAttackEnd = p + n;
                    mAttackTarget = target;
                } else {
                    mAttackTarget = std::min(mAttackTarget, target);
                }
                mAttackFrames = n;
                if (a > 0.0)
                    ++mPositiveAttacks;
            }
        }

        if (mAttackFrames > 0) {
            --mAttackFrames;
            mCoeff = boundByAttackTarget(mCoeff + mAttackStep);
            if (mCoeff > mLevel) {
                mCoeff = mLevel;
                mAttackFrames = 0;
                planRelease();
            } else if (mAttackFrames == 0) {
                planRelease();
            }
        } else if (mReleaseFrames > 0) {
            --mReleaseFrames;
            mCoeff += mReleaseStep;
            // The last frame of the release lands on the level itself, so
            // that the stream is again exactly G times the input, not a
            // rounding error away from it for ever.
            if (mCoeff > mLevel || mReleaseFrames == 0) {
                mCoeff = mLevel;
                mReleaseFrames = 0;
            }
        }
    }
    if (gain)
        writeDiagnostic(first, N);
    return SoundTools::Ok;
}

// The diagnostic file shows the gain the limiter applied, relative to the
// level: 1.0 where the stream passed untouched, lower where it was limited.
void SoundAlgoLimiter::openDiagnostic()
{
    closeDiagnostic();
    SF_INFO info {};
    info.samplerate = static_cast<int>(mSampleRate);
    info.channels = 1;
    info.format = mDiagnosticFileName.endsWith(QLatin1String(".wav"), Qt::CaseInsensitive)
        ? (SF_FORMAT_WAV | SF_FORMAT_FLOAT)
        : (SF_FORMAT_RAW | SF_FORMAT_FLOAT);
    const QByteArray name = mDiagnosticFileName.toLocal8Bit();
    SNDFILE* handle = sf_open(name.constData(), SFM_WRITE, &info);
    if (!handle) {
        setError(QStringLiteral("cannot open diagnostic file '%1': %2")
                     .arg(mDiagnosticFileName, QString::fromLocal8Bit(sf_strerror(nullptr))),
                 "SoundAlgoLimiter::initProcess");
        return;
    }
    mDiagnosticWriter = handle;
    mDiagnosticFileName.clear();
}

// Only the frames of the source: the zeros that flush the look-ahead at the
// end are not part of the stream.
void SoundAlgoLimiter::writeDiagnostic(int first, int frames)
{
    frames = static_cast<int>(std::min<long long>(frames, mStreamEnd - first));
    if (!mDiagnosticWriter || !mDiagnosticBuffer || frames <= 0)
        return;
    sf_writef_double(static_cast<SNDFILE*>(mDiagnosticWriter), mDiagnosticBuffer->getRelFrame(0), frames);
}

void SoundAlgoLimiter::closeDiagnostic()
{
    if (mDiagnosticWriter)
        sf_close(static_cast<SNDFILE*>(mDiagnosticWriter));
    mDiagnosticWriter = nullptr;
}
