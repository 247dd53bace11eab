#ifndef TULV_FILTERS_ORDERFILTERBUILDERS_H
#define TULV_FILTERS_ORDERFILTERBUILDERS_H

#include "tulv/filters/FilterBuilder.h"

namespace SoundTools {

// First-order Butterworth low or high pass (bilinear transform, prewarped).
class Order1FilterBuilder : public FilterBuilder {
public:
    Order1FilterBuilder(FilterType type, double freq);
    // Any type other than LowPass and HighPass is reported on the critical
    // log and gives a pass-through.
    std::shared_ptr<Filter> buildFilter(unsigned int sampleRate) override;

    FilterType type;
    double freq; // corner, Hz
};

// Fourth-order Butterworth: two second-order sections multiplied together.
class Order4FilterBuilder : public FilterBuilder {
public:
    Order4FilterBuilder(FilterType type, double freq);
    std::shared_ptr<Filter> buildFilter(unsigned int sampleRate) override;

    double freq; // corner, Hz
    FilterType type;
};

// Sixth-order Butterworth: three second-order sections multiplied together.
class Order6FilterBuilder : public FilterBuilder {
public:
    Order6FilterBuilder(FilterType type, double freq);
    std::shared_ptr<Filter> buildFilter(unsigned int sampleRate) override;

    double freq; // corner, Hz
    FilterType type;
};

// The A frequency weighting of sound level meters (IEC 61672), 0 dB at 1 kHz.
class WeightingFilterBuilder : public FilterBuilder {
public:
    WeightingFilterBuilder();
    std::shared_ptr<Filter> buildFilter(unsigned int sampleRate) override;
};

} // namespace SoundTools

#endif
