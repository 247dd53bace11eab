#include "tulv/filters/SoundAlgoFilterCrossover.h"

#include "tulv/filters/FilterLockGuard.h"
#include "tulv/filters/OrderFilterBuilders.h"
#include "tulv/filters/SoundAlgoFilter.h"

#include <algorithm>

SoundAlgoFilterCrossover::SoundAlgoFilterCrossover(double freq)
    : SoundAlgoComposite(QString(), true)
    , mLow(new SoundAlgoFilter(std::make_shared<SoundTools::Order4FilterBuilder>(SoundTools::LowPass, freq)))
    , mHigh(new SoundAlgoFilter(std::make_shared<SoundTools::Order4FilterBuilder>(SoundTools::HighPass, freq)))
{
    pushAlgo(mLow);
    addNewBranch();
    pushAlgo(mHigh);
    setReadOnly();
}

SoundAlgoFilterCrossover::~SoundAlgoFilterCrossover() = default;

SoundTools::Status SoundAlgoFilterCrossover::process()
{
    // Anything but the two filters reading one input (a branch given more
    // members to line it up, a cascade swapped in by a caller) runs member
    // by member.
    if (mBranches.size() != 2 || mBranches[0].size() != 1 || mBranches[1].size() != 1)
        return SoundAlgoComposite::process();
    const unsigned int n = std::min(mLow->getOutFrameNb(), mLow->getInFrameNb());
    if (n != std::min(mHigh->getOutFrameNb(), mHigh->getInFrameNb()))
        return SoundAlgoComposite::process();
    if (n == 0)
        return SoundTools::Ok;
    SoundTools::StereoFrame<double>* in = mLow->getInBuffer(0)->getStereoFrame(mLow->getInOrigin());
    SoundTools::StereoFrame<double>* low = mLow->getOutBuffer(0)->getStereoFrame(mLow->getOutOrigin());
    SoundTools::StereoFrame<double>* high = mHigh->getOutBuffer(0)->getStereoFrame(mHigh->getOutOrigin());
    if (!in || !low || !high || in != mHigh->getInBuffer(0)->getStereoFrame(mHigh->getInOrigin()))
        return SoundAlgoComposite::process();
    {
        tulvdetail::FilterWriteGuard lowLock(mLow->filterLock);
        tulvdetail::FilterWriteGuard highLock(mHigh->filterLock);
        if (mLow->filters.size() == 1 && mHigh->filters.size() == 1 && mLow->filters[0] && mHigh->filters[0]) {
            SoundTools::Filter::filterPair(*mLow->filters[0], *mHigh->filters[0], in, low, high, n);
            return SoundTools::Ok;
        }
    }
    return SoundAlgoComposite::process();
}
