#ifndef TULV_FILTERS_BIQUADEQBUILDER_H
#define TULV_FILTERS_BIQUADEQBUILDER_H

#include "tulv/filters/FilterBuilder.h"

namespace SoundTools {

// Designer of one second-order section: low and high pass, band pass (0 dB
// peak), peaking band equaliser and shelves. Two forms: with `width` above 0
// the formulas of the Audio EQ Cookbook (width in octaves, or the shelf
// slope S); otherwise, with `Q` above 0, the bilinear transform with tangent
// prewarping. A section at or above half the sample rate passes the sound
// unchanged, whatever its type.
class BiquadEqBuilder : public FilterBuilder {
public:
    explicit BiquadEqBuilder(FilterType type);
    BiquadEqBuilder(FilterType type, double freq, double width, double gain);

    // Setters store only; the next init() or buildFilter() designs.
    BiquadEqBuilder& setFreq(double hz);
    BiquadEqBuilder& setGain(double dB);
    BiquadEqBuilder& setQ(double q);
    BiquadEqBuilder& setWidth(double width);

    double freq() const { return mFreq; }
    double gain() const { return mGain; }
    double width() const { return mWidth; }
    double Q() const { return mQ; }
    FilterType type() const { return mType; }

    // Designs b0 … a2 for the sample rate. An unsupported type (BandStop)
    // is reported on the critical log and leaves the coefficients as they were.
    void init(unsigned int sampleRate);
    // The last design; neither calls init().
    std::valarray<double> getBCoeff() const;
    std::valarray<double> getACoeff() const;

    std::shared_ptr<Filter> buildFilter(unsigned int sampleRate) override;
    // A section for the player's equaliser: output gain `linearGain`, no ramp.
    std::shared_ptr<Filter> buildClipFilter(unsigned int sampleRate, double linearGain);

private:
    void designWidthForm(double fs);
    void designQForm(double fs);

    FilterType mType;
    double mFreq = 0.0; // corner or centre, Hz
    double mWidth = 0.0; // octaves, or shelf slope S
    double mQ = 0.0;
    double mGain = 0.0; // dB
    double b0 = 0.0, b1 = 0.0, b2 = 0.0, a1 = 0.0, a2 = 0.0; // a0 = 1
};

} // namespace SoundTools

#endif
