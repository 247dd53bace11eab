#include "tulv/filters/SoundAlgoFilterSplit.h"

#include "tulv/filters/FilterLockGuard.h"


#include <algorithm>

SoundAlgoFilterSplit::SoundAlgoFilterSplit() = default;

SoundAlgoFilterSplit::SoundAlgoFilterSplit(std::shared_ptr<SoundTools::FilterBuilder> builder)
    : SoundAlgoFilter(std::move(builder))
{
}

SoundAlgoFilterSplit::~SoundAlgoFilterSplit() = default;

SoundTools::Status SoundAlgoFilterSplit::process()
{
    // Hold the lock across both outputs so that a filter swapped in between
    // cannot leave the complement computed with another gain.
    tulvdetail::FilterWriteGuard lock(filterLock);
    const SoundTools::Status status = SoundAlgoFilter::process();
    if (status != SoundTools::Ok)
        return status;
    const unsigned int n = std::min(getOutFrameNb(), getInFrameNb());
    if (n == 0)
        return SoundTools::Ok;
    const double g = getFilterGain();
    const SoundTools::StereoFrame<double>* in = getInBuffer(0)->getStereoFrame(getInOrigin());
    const SoundTools::StereoFrame<double>* band = getOutBuffer(0)->getStereoFrame(getOutOrigin());
    SoundTools::StereoFrame<double>* rest = getOutBuffer(1)->getStereoFrame(getOutOrigin());
    if (!in || !band || !rest)
        return SoundTools::Error;
    for (unsigned int i = 0; i < n; ++i) {
        rest[i].left = g * in[i].left - band[i].left;
        rest[i].right = g * in[i].right - band[i].right;
    }
    return SoundTools::Ok;
}
