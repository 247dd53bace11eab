#include "tulv/dynamics/SoundAlgoNoiseGate.h"

#include <algorithm>
#include <cmath>

SoundAlgoNoiseGate::SoundAlgoNoiseGate(double threshold, double releaseTime, double windowTime)
    : mReleaseTime(releaseTime)
    , mWindowTime(windowTime)
    , mThreshold(std::pow(10.0, threshold / 20.0))
{
}

void SoundAlgoNoiseGate::SetThreshold(double threshold)
{
    mThreshold = std::pow(10.0, threshold / 20.0);
}

unsigned int SoundAlgoNoiseGate::getInOverlap(unsigned int sampleRate) const
{
    return static_cast<unsigned int>(std::max(0.0, std::floor(sampleRate * mWindowTime + 0.5))) | 1u;
}

SoundTools::Status SoundAlgoNoiseGate::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    mGain = 1.0;
    const double releaseFrames = std::floor(context.sampleRate * mReleaseTime + 0.5);
    // A release shorter than one frame closes the gate at once.
    mReleaseStep = releaseFrames >= 1.0 ? 1.0 / releaseFrames : 1.0;
    return SoundAlgo::initProcess(context, previous, next);
}

SoundTools::Status SoundAlgoNoiseGate::process()
{
    const auto [first, N, in, out] = stereoBlock();
    if (N <= 0)
        return SoundTools::Ok;
    if (!in || !out)
        return SoundTools::Error;
    const int W = static_cast<int>(getInOverlap(mSampleRate));

    // The window sums run: one addition and one subtraction per channel and
    // frame. Summing the whole window afresh once per block keeps rounding
    // drift from piling up over a long stream.
    double sum0 = 0.0;
    double sum1 = 0.0;
    for (int j = 0; j < W - 1; ++j) {
        sum0 += in[j].left * in[j].left;
        sum1 += in[j].right * in[j].right;
    }
    const double threshold = mThreshold;
    for (int i = 0; i < N; ++i) {
        const SoundTools::StereoFrame<double>& newest = in[i + W - 1];
        sum0 += newest.left * newest.left;
        sum1 += newest.right * newest.right;
        const double r = std::sqrt(std::max(std::max(sum0, sum1), 0.0) / W);
        if (r < threshold)
            mGain = std::max(mGain - mReleaseStep, 0.0);
        else
            mGain = 1.0;
        out[i].left = in[i].left * mGain;
        out[i].right = in[i].right * mGain;
        sum0 -= in[i].left * in[i].left;
        sum1 -= in[i].right * in[i].right;
    }
    return SoundTools::Ok;
}
