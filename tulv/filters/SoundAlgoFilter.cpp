#include "tulv/filters/SoundAlgoFilter.h"

#include "tulv/filters/FilterLockGuard.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <typeinfo>

SoundAlgoFilter::SoundAlgoFilter() = default;

SoundAlgoFilter::SoundAlgoFilter(std::shared_ptr<SoundTools::FilterBuilder> builder)
{
    pushFilter(std::move(builder));
}

SoundAlgoFilter::~SoundAlgoFilter() = default;

void SoundAlgoFilter::pushFilter(std::shared_ptr<SoundTools::FilterBuilder> builder)
{
    builders.push_back(std::move(builder));
}

void SoundAlgoFilter::addFilter(std::shared_ptr<SoundTools::Filter> filter)
{
    tulvdetail::FilterWriteGuard lock(filterLock);
    filters.push_back(std::move(filter));
}

void SoundAlgoFilter::setFilter(unsigned int i, std::shared_ptr<SoundTools::Filter> filter)
{
    tulvdetail::FilterWriteGuard lock(filterLock);
    if (i < filters.size())
        filters[i] = std::move(filter);
}

void SoundAlgoFilter::clearFilters()
{
    tulvdetail::FilterWriteGuard lock(filterLock);
    filters.clear();
}

bool SoundAlgoFilter::hasFilters() const
{
    tulvdetail::FilterReadGuard lock(filterLock);
    return !filters.empty();
}

double SoundAlgoFilter::getFilterGain(unsigned int i) const
{
    tulvdetail::FilterReadGuard lock(filterLock);
    if (i < filters.size() && filters[i])
        return filters[i]->getGain();
    return 1.0;
}

double SoundAlgoFilter::getFilterGain() const
{
    if (filters.empty() || !filters.back())
        return 1.0;
    return filters.back()->getGain();
}

void SoundAlgoFilter::resetFilterGain(unsigned int i)
{
    // setGain changes the filter itself, not the list: a write lock keeps it
    // from landing in the middle of a block that the filter is processing.
    tulvdetail::FilterWriteGuard lock(filterLock);
    if (i < filters.size() && filters[i])
        filters[i]->setGain(1.0);
}

void SoundAlgoFilter::setOutputGain(double dB)
{
    outputGainDb = dB;
}

SoundTools::FilterBuilder* SoundAlgoFilter::getbuilder(unsigned int i) const
{
    return i < builders.size() ? builders[i].get() : nullptr;
}

void SoundAlgoFilter::initFilter(int i)
{
    const unsigned int rate = mDesignRate.load();
    if (i < 0 || size_t(i) >= builders.size() || !builders[size_t(i)] || rate == 0)
        return;
    // Design under a read lock: the block goes on, only the swap waits for it.
    std::shared_ptr<SoundTools::Filter> fresh;
    {
        tulvdetail::FilterReadGuard lock(filterLock);
        fresh = builders[size_t(i)]->buildFilter(rate);
    }
    tulvdetail::FilterWriteGuard lock(filterLock);
    if (size_t(i) < filters.size()) {
        // The output gain belongs to the last stage; a rebuilt last stage keeps it.
        if (size_t(i) + 1 == filters.size() && filters[size_t(i)] && fresh)
            fresh->setGain(filters[size_t(i)]->getGain());
        filters[size_t(i)] = std::move(fresh);
    }
}

SoundTools::Status SoundAlgoFilter::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    if (!builders.empty()) {
        {
            tulvdetail::FilterWriteGuard lock(filterLock);
            filters.resize(builders.size());
        }
        mDesignRate.store(context.sampleRate);
        for (size_t i = 0; i < builders.size(); ++i) {
            tulvdetail::FilterWriteGuard lock(filterLock);
            filters[i] = builders[i] ? builders[i]->buildFilter(context.sampleRate) : nullptr;
        }
        tulvdetail::FilterWriteGuard lock(filterLock);
        if (filters.back())
            filters.back()->setGain(std::pow(10.0, outputGainDb / 20.0));
    } else {
        mDesignRate.store(context.sampleRate);
    }
    mSections.reserve(filters.size() + 16);
    return SoundAlgo::initProcess(context, previous, next);
}

SoundTools::Status SoundAlgoFilter::process()
{
    const unsigned int n = std::min(getOutFrameNb(), getInFrameNb());
    if (n == 0)
        return SoundTools::Ok;
    SoundTools::StereoFrame<double>* in = getInBuffer(0)->getStereoFrame(getInOrigin());
    SoundTools::StereoFrame<double>* out = getOutBuffer(0)->getStereoFrame(getOutOrigin());
    if (!in || !out)
        return SoundTools::Error;

    tulvdetail::FilterWriteGuard lock(filterLock);
    if (filters.empty()) {
        if (out != in)
            std::memmove(out, in, sizeof(*in) * n);
        return SoundTools::Ok;
    }
    // The leading run of plain biquads goes through several sections per
    // pass over the block, with bit-identical results; the stages after it
    // (the player's clip filter at the end, say) follow one by one.
    mSections.clear();
    for (const auto& f : filters) {
        if (!f)
            break;
        const SoundTools::Filter& filter = *f;
        if (typeid(filter) != typeid(SoundTools::BiquadFilter))
            break;
        mSections.push_back(static_cast<SoundTools::BiquadFilter*>(f.get()));
    }
    size_t next = 0;
    bool first = true;
    if (mSections.size() > 1) {
        SoundTools::BiquadFilter::filterCascade(mSections.data(), static_cast<unsigned int>(mSections.size()), in, out,
                                                n);
        next = mSections.size();
        first = false;
    }
    for (; next < filters.size(); ++next) {
        const auto& f = filters[next];
        if (!f)
            continue;
        f->filter(first ? in : out, out, n);
        first = false;
    }
    if (first && out != in)
        std::memmove(out, in, sizeof(*in) * n);
    return SoundTools::Ok;
}
