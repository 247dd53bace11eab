#ifndef TULV_FILTERS_FILTERBUILDER_H
#define TULV_FILTERS_FILTERBUILDER_H

#include "tulv/filters/Filter.h"

#include <memory>
#include <valarray>

namespace SoundTools {

// Designs one filter for a sample rate. An algorithm keeps the builder and
// asks it again whenever the sample rate becomes known or a parameter
// changes; the filters it returns are new objects that the caller owns.
// Builders are plain objects: design from one thread at a time.
class FilterBuilder {
public:
    FilterBuilder() = default;
    FilterBuilder(const FilterBuilder&) = delete;
    FilterBuilder& operator=(const FilterBuilder&) = delete;
    virtual ~FilterBuilder();

    virtual std::shared_ptr<Filter> buildFilter(unsigned int sampleRate) = 0;
};

// Full linear convolution of two coefficient arrays: the coefficients of the
// product of two polynomials in z^-1 (sections in cascade).
std::valarray<double> polyProduct(const std::valarray<double>& p, const std::valarray<double>& q);

// Centre frequency (Hz) and width (octaves) of the band between two edges, the
// width quantised to steps of 15/4096 octave. The quantisation table is made
// on first use: the first call must not race with another.
void get_fco(double fLow, double fHigh, double& fco, double& width);

// Band edges (Hz) of a band of `width` octaves centred on `fco`.
void get_minmax(double fco, double width, double& fLow, double& fHigh);

} // namespace SoundTools

#endif
