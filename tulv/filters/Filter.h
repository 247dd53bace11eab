#ifndef TULV_FILTERS_FILTER_H
#define TULV_FILTERS_FILTER_H

#include "tulv/core/SoundTools.h"

#include <valarray>

namespace SoundTools {

// A recursive (IIR) stereo filter in direct form I:
//   a0·y[n] = Σ b[k]·x[n−k] − Σ(k≥1) a[k]·y[n−k],  out[n] = gain·y[n].
// Both channels use the same coefficients and keep separate histories, so a
// stream cut into blocks of any sizes filters exactly like one long block.
// The history holds y before the output gain: changing the gain never
// disturbs the recursion. One thread at a time; no locks.
class Filter {
public:
    // The shorter array is padded with zeros to the longer one's length N
    // (at least 1; an empty `a` counts as [1]). The caller guarantees
    // a[0] != 0.
    Filter(std::valarray<double> b, std::valarray<double> a);
    // A copy has the coefficients and gain but starts from silence: filter
    // state is never copied.
    Filter(const Filter& other);
    Filter& operator=(const Filter& other);
    virtual ~Filter();

    // `out` may be `in`: every frame is read before it is written.
    virtual void filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count);
    virtual void setGain(double linearGain);

    // Runs `first` and `second` over the same input in one pass, `first`
    // into `outFirst` and `second` into `outSecond`, with the very bits of
    // filter() called on each. Fourth-order pairs (a crossover's low and
    // high pass) share the pass, so their recursions overlap in the
    // processor; other pairs are filtered one after the other. One of the
    // outputs may be `in`.
    static void filterPair(Filter& first, Filter& second, StereoFrame<double>* in, StereoFrame<double>* outFirst,
                           StereoFrame<double>* outSecond, unsigned int count);

    double getGain() const { return gain; }
    // The last input frame filtered.
    StereoFrame<double> getLastInput() const { return xHist[0]; }
    // The last output frame, before the output gain.
    StereoFrame<double> getOutput() const { return yHist[0]; }
    unsigned int getOrder() const { return order; }
    const std::valarray<double>& getB() const { return b; }
    const std::valarray<double>& getA() const { return a; }

protected:
    unsigned int order; // N, coefficients in each array
    std::valarray<double> b; // feed-forward
    std::valarray<double> a; // feedback; a[0] normalises
    double gain = 1.0; // linear output gain
    // xHist[k], yHist[k]: input and output (before gain) k+1 frames back;
    // entries 0 … N−2 take part.
    std::valarray<StereoFrame<double>> xHist;
    std::valarray<StereoFrame<double>> yHist;
};

// Second-order section (3 + 3 coefficients), unrolled.
class BiquadFilter : public Filter {
public:
    BiquadFilter(std::valarray<double> b, std::valarray<double> a);
    void filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count) override;

    // Runs `count` sections one after another over the frames, in place on
    // `out` after the first, with a result bit-identical to calling filter()
    // section by section — but the sections of a group share one pass over a
    // short run of frames, so their recursions overlap in the processor
    // instead of waiting on each other. The caller guarantees every section
    // is exactly a BiquadFilter (not a subclass with its own filter()).
    static void filterCascade(BiquadFilter* const* sections, unsigned int count, StereoFrame<double>* in,
                              StereoFrame<double>* out, unsigned int frames);
};

// First-order section (2 + 2 coefficients), unrolled.
class Order1Filter : public Filter {
public:
    Order1Filter(std::valarray<double> b, std::valarray<double> a);
    void filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count) override;
};

// Fourth-order filter (5 + 5 coefficients), unrolled.
class Order4Filter : public Filter {
public:
    Order4Filter(std::valarray<double> b, std::valarray<double> a);
    void filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count) override;
};

// Sixth-order filter (7 + 7 coefficients), unrolled.
class Order6Filter : public Filter {
public:
    Order6Filter(std::valarray<double> b, std::valarray<double> a);
    void filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count) override;
};

// The player's equaliser section: a biquad whose output gain moves slowly to
// a new value, and which lowers its gain on its own, fading the frames just
// written, when the output would go beyond full scale.
class BiquadClipFilter : public BiquadFilter {
public:
    // A gain change is spread over this many frames (10 s at 44.1 kHz), so a
    // listener hears a smooth change of level rather than a step.
    static constexpr unsigned int kRampFrames = 440000;
    // Peak a clipping frame is brought down to: a little headroom remains.
    static constexpr double kClipPeak = 0.8;
    // The fade that lowers the gain reaches back at most this many frames.
    static constexpr unsigned int kMaxFadeFrames = 2000;

    BiquadClipFilter(std::valarray<double> b, std::valarray<double> a, double linearGain);
    void filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count) override;
    // Starts a ramp from the present gain to `linearGain`; the gain moves as
    // frames are filtered. The present gain again does nothing.
    void setGain(double linearGain) override;
    bool isRamping() const { return rampFrames != 0; }

private:
    double gainStep = 0.0; // added to the gain per frame while ramping
    unsigned int rampFrames = 0; // frames left in the running ramp
    double rampTarget = 1.0; // where the ramp ends, exactly
};

} // namespace SoundTools

#endif
