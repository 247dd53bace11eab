#include "tulv/dynamics/SoundAlgoSimpleLimiter.h"

#include <algorithm>
#include <cmath>

namespace {

double peakOf(const SoundTools::StereoFrame<double>& frame)
{
    return std::max(std::fabs(frame.left), std::fabs(frame.right));
}

} // namespace

SoundAlgoSimpleLimiter::SoundAlgoSimpleLimiter(double lookAheadTime)
    : mLookAheadTime(lookAheadTime)
{
}

unsigned int SoundAlgoSimpleLimiter::getInOverlap(unsigned int sampleRate) const
{
    return static_cast<unsigned int>(std::max(0.0, std::floor(sampleRate * mLookAheadTime + 0.5)));
}

SoundTools::Status SoundAlgoSimpleLimiter::initProcess(const LoopContext& context, SoundAlgo* previous,
                                                       SoundAlgo* next)
{
    mLookAheadFrames = static_cast<int>(getInOverlap(context.sampleRate));
    return SoundAlgo::initProcess(context, previous, next);
}

SoundTools::Status SoundAlgoSimpleLimiter::process()
{
    const auto [first, N, in, out] = stereoBlock();
    if (N <= 0)
        return SoundTools::Ok;
    if (!in || !out)
        return SoundTools::Error;
    const int L = mLookAheadFrames;

    // Per frame: one look-ahead peak, two multiplications.
    for (int i = 0; i < N; ++i) {
        const double f = peakOf(in[i + L]);
        if (f * mTarget > 1.0) {
            mTarget = sCeiling / f;
            if (mFramesLeft == 0)
                mFramesLeft = L;
            // Without look-ahead the new gain applies to this very frame.
            const int n = std::max(mFramesLeft, 1);
            mStep = (mTarget - mCoeff) / n;
            mCoeff += mStep;
        }
        out[i].left = in[i].left * mCoeff;
        out[i].right = in[i].right * mCoeff;
        if (peakOf(out[i]) > 1.0) {
            // The ramp came too late for this frame: take the gain that
            // brings it to the ceiling, keeping the shape of the frame.
            mCoeff = mTarget = sCeiling / peakOf(in[i]);
            mFramesLeft = 0;
            out[i].left = in[i].left * mCoeff;
            out[i].right = in[i].right * mCoeff;
        } else if (mFramesLeft > 0) {
            mCoeff += mStep;
            --mFramesLeft;
        }
    }
    return SoundTools::Ok;
}
