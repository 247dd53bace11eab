#include "tulv/dynamics/SoundRMSSlopeDetector.h"

#include <algorithm>
#include <cmath>

namespace {
// A slope moves on by more than half a percent a window: the windows of a
// slow fade differ by a little more than that, those of a steady level by
// less.
constexpr double kMovesDown = 0.995;
constexpr double kMovesUp = 1.005;
constexpr unsigned int kSlopeCapacity = 100;
} // namespace

SoundRMSSlopeDetector::SoundRMSSlopeDetector(double minSlopeTime)
    : mMinSlopeTime(minSlopeTime)
{
    mSlopes.reserve(kSlopeCapacity);
}

void SoundRMSSlopeDetector::init(unsigned int sampleRate)
{
    mSampleRate = static_cast<int>(sampleRate);
    mMinSlopeLength = static_cast<int>(std::floor(sampleRate * mMinSlopeTime + 0.5));
    reset();
}

void SoundRMSSlopeDetector::reset()
{
    mSlopes.clear();
    mState = Empty;
    mLastPosition = 0;
    mAnchorPosition = 0;
    mCursor = 0;
    mCached = Region();
    mStallTotal = 0;
    mStallStart = 0;
}

void SoundRMSSlopeDetector::addValue(double power0, double power1, int position)
{
    switch (mState) {
    case Empty:
        mAnchor[0] = power0;
        mAnchor[1] = power1;
        mAnchorPosition = position;
        mState = Anchored;
        return;
    case Anchored:
        mLast[0] = power0;
        mLast[1] = power1;
        if (mAnchor[0] < power0 || mAnchor[1] < power1) {
            mState = Rising;
            mLastPosition = position;
        } else if (mAnchor[0] > power0 || mAnchor[1] > power1) {
            mState = Falling;
            mLastPosition = position;
        } else {
            mAnchor[0] = mLast[0];
            mAnchor[1] = mLast[1];
            mAnchorPosition = position;
        }
        return;
    default:
        break;
    }
    const double last = std::max(mLast[0], mLast[1]);
    const double value = std::max(power0, power1);
    // Only a value that moves on in the slope's direction extends it: a
    // level that rises and then holds steady stays within the tolerance of
    // its last value for ever, and would make a step between two steady
    // passages a slope as long as the second one.
    if ((mState == Rising && value > kMovesUp * last) || (mState == Falling && value < kMovesDown * last)) {
        mLast[0] = power0;
        mLast[1] = power1;
        mLastPosition = position;
        return;
    }
    if (mStallStart == 0)
        mStallStart = position;
    mStallTotal += position - mStallStart;
    if (mStallTotal < mMinSlopeLength)
        return;
    if (mLastPosition - mAnchorPosition > mMinSlopeLength)
        mSlopes.push_back({ mAnchorPosition, mLastPosition });
    mAnchor[0] = power0;
    mAnchor[1] = power1;
    mAnchorPosition = position;
    mStallStart = 0;
    mStallTotal = 0;
    mState = Anchored;
}

const SoundRMSSlopeDetector::Region* SoundRMSSlopeDetector::find(int position)
{
    if (mCached.start <= position && mCached.end > position)
        return &mCached;
    if (position < mCached.start)
        mCursor = 0;
    if (mState != Anchored && mState != Empty && position > mAnchorPosition) {
        mCached = { mAnchorPosition, mLastPosition };
        return &mCached;
    }
    if (mCursor >= mSlopes.size())
        return nullptr;
    while (mCursor < mSlopes.size() && mSlopes[mCursor].end < position)
        ++mCursor;
    if (mCursor >= mSlopes.size()) {
        mCached = Region();
        return nullptr;
    }
    mCached = mSlopes[mCursor++];
    return mCached.start <= position ? &mCached : nullptr;
}
