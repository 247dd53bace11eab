#include "tulv/filters/SoundAlgoFilterBiquad.h"

#include "tulv/filters/FilterLockGuard.h"

SoundAlgoFilterBiquad::SoundAlgoFilterBiquad() = default;

SoundAlgoFilterBiquad::SoundAlgoFilterBiquad(SoundTools::FilterType type, double freq, double width, double gain)
{
    pushFilter(type, freq, width, gain);
}

SoundAlgoFilterBiquad::~SoundAlgoFilterBiquad() = default;

void SoundAlgoFilterBiquad::pushFilter(SoundTools::FilterType type, double freq, double width, double gain)
{
    SoundAlgoFilter::pushFilter(std::make_shared<SoundTools::BiquadEqBuilder>(type, freq, width, gain));
}

SoundTools::BiquadEqBuilder* SoundAlgoFilterBiquad::section(unsigned int i) const
{
    return dynamic_cast<SoundTools::BiquadEqBuilder*>(getbuilder(i));
}

void SoundAlgoFilterBiquad::SetFreq(unsigned int i, double freq)
{
    if (SoundTools::BiquadEqBuilder* builder = section(i)) {
        {
            // A run starting on another thread designs its filters from the
            // same builders.
            tulvdetail::FilterWriteGuard lock(filterLock);
            builder->setFreq(freq);
        }
        initFilter(int(i));
    }
}

void SoundAlgoFilterBiquad::SetLevel(unsigned int i, double gainDb)
{
    if (SoundTools::BiquadEqBuilder* builder = section(i)) {
        {
            // A run starting on another thread designs its filters from the
            // same builders.
            tulvdetail::FilterWriteGuard lock(filterLock);
            builder->setGain(gainDb);
        }
        initFilter(int(i));
    }
}

void SoundAlgoFilterBiquad::SetWidth(unsigned int i, double width)
{
    if (SoundTools::BiquadEqBuilder* builder = section(i)) {
        {
            // A run starting on another thread designs its filters from the
            // same builders.
            tulvdetail::FilterWriteGuard lock(filterLock);
            builder->setWidth(width);
        }
        initFilter(int(i));
    }
}
