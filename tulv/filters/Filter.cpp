#include "tulv/filters/Filter.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <typeinfo>

namespace SoundTools {

namespace {

// Left and right of one frame side by side. Every operation works lane by
// lane with the same rounding as the scalar expression, so the unrolled
// filters give the very bits of the general one.
typedef double Pair __attribute__((vector_size(16)));

inline Pair load(const StereoFrame<double>* frame)
{
    Pair p;
    std::memcpy(&p, frame, sizeof p);
    return p;
}

inline void store(StereoFrame<double>* frame, Pair p)
{
    std::memcpy(frame, &p, sizeof p);
}

inline Pair splat(double v)
{
    return Pair { v, v };
}

inline StereoFrame<double> toFrame(Pair p)
{
    return StereoFrame<double> { p[0], p[1] };
}

// The direct form I recursion of Filter::filter for a fixed N, with the
// history held in registers for the whole call. The order of additions is
// that of the general loop (k from N−2 down to 0). Multiplying by 1/a0 is
// skipped when it is exactly 1: x·1.0 is x, so the result does not change.
template <int N, bool Scale>
void runFixed(const double* bc, const double* ac, double gain, StereoFrame<double>* xHist,
              StereoFrame<double>* yHist, const StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    Pair b[N], a[N], x[N - 1 > 0 ? N - 1 : 1], y[N - 1 > 0 ? N - 1 : 1];
    for (int k = 0; k < N; ++k) {
        b[k] = splat(bc[k]);
        a[k] = splat(ac[k]);
    }
    for (int k = 0; k < N - 1; ++k) {
        x[k] = load(&xHist[k]);
        y[k] = load(&yHist[k]);
    }
    const Pair r = splat(1.0 / ac[0]);
    const Pair g = splat(gain);
    // Per frame: N multiply-adds of each kind for both channels at once.
    for (unsigned int i = 0; i < count; ++i) {
        const Pair xi = load(&in[i]);
        Pair acc = b[0] * xi;
#pragma GCC unroll 8
        for (int k = N - 2; k >= 0; --k)
            acc = acc + b[k + 1] * x[k] - a[k + 1] * y[k];
        const Pair yi = Scale ? acc * r : acc;
#pragma GCC unroll 8
        for (int k = N - 2; k > 0; --k) {
            x[k] = x[k - 1];
            y[k] = y[k - 1];
        }
        if (N > 1) {
            x[0] = xi;
            y[0] = yi;
        }
        store(&out[i], g * yi);
    }
    for (int k = 0; k < N - 1; ++k) {
        xHist[k] = toFrame(x[k]);
        yHist[k] = toFrame(y[k]);
    }
}

template <int N>
void runFixed(const std::valarray<double>& b, const std::valarray<double>& a, double gain,
              std::valarray<StereoFrame<double>>& xHist, std::valarray<StereoFrame<double>>& yHist,
              const StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    if (a[0] == 1.0)
        runFixed<N, false>(&b[0], &a[0], gain, &xHist[0], &yHist[0], in, out, count);
    else
        runFixed<N, true>(&b[0], &a[0], gain, &xHist[0], &yHist[0], in, out, count);
}

// The state of one biquad section while a cascade runs over a block.
struct Section {
    Pair b0, b1, b2, a1, a2, g;
    Pair x1, x2, y1, y2;
};

inline Pair step(Section& s, Pair x)
{
    Pair acc = s.b0 * x;
    acc = acc + s.b2 * s.x2 - s.a2 * s.y2;
    acc = acc + s.b1 * s.x1 - s.a1 * s.y1;
    s.x2 = s.x1;
    s.x1 = x;
    s.y2 = s.y1;
    s.y1 = acc;
    return s.g * acc;
}

// G sections per pass over the frames: frame i goes through all G before
// frame i+1 starts, which gives the same values as G separate passes (each
// section sees the same inputs in the same order) while the processor
// overlaps the G independent recursions.
template <int G>
void runGroup(Section* s, const StereoFrame<double>* in, StereoFrame<double>* out, unsigned int frames)
{
    Section local[G];
    for (int k = 0; k < G; ++k)
        local[k] = s[k];
    for (unsigned int i = 0; i < frames; ++i) {
        Pair v = load(&in[i]);
#pragma GCC unroll 8
        for (int k = 0; k < G; ++k)
            v = step(local[k], v);
        store(&out[i], v);
    }
    for (int k = 0; k < G; ++k)
        s[k] = local[k];
}

// Two filters of one order fed the same input: lanes 0 and 1 hold the left
// and right of the first, lanes 2 and 3 those of the second.
typedef double Quad __attribute__((vector_size(32)));

struct PairRun {
    const double* b[2];
    const double* a[2];
    double gain[2];
    StereoFrame<double>* xHist[2];
    StereoFrame<double>* yHist[2];
    const StereoFrame<double>* in;
    StereoFrame<double>* out[2];
    unsigned int count;
};

// The recursion of runFixed<N, false> lane by lane, in the same order of
// operations, for both filters at once: one chain of dependent operations
// per frame where there were two, and on processors with 256-bit vectors
// one instruction where there were two.
template <int N>
__attribute__((always_inline)) inline void runPairFixed(PairRun& r)
{
    Quad b[N], a[N], x[N - 1], y[N - 1], g;
    for (int k = 0; k < N; ++k)
        for (int f = 0; f < 2; ++f) {
            b[k][2 * f] = b[k][2 * f + 1] = r.b[f][k];
            a[k][2 * f] = a[k][2 * f + 1] = r.a[f][k];
        }
    for (int k = 0; k < N - 1; ++k)
        for (int f = 0; f < 2; ++f) {
            x[k][2 * f] = r.xHist[f][k].left;
            x[k][2 * f + 1] = r.xHist[f][k].right;
            y[k][2 * f] = r.yHist[f][k].left;
            y[k][2 * f + 1] = r.yHist[f][k].right;
        }
    for (int f = 0; f < 2; ++f)
        g[2 * f] = g[2 * f + 1] = r.gain[f];
    // Per frame: N multiply-adds of each kind for four lanes at once.
    for (unsigned int i = 0; i < r.count; ++i) {
        const StereoFrame<double> v = r.in[i];
        const Quad xi = { v.left, v.right, v.left, v.right };
        Quad acc = b[0] * xi;
#pragma GCC unroll 8
        for (int k = N - 2; k >= 0; --k)
            acc = acc + b[k + 1] * x[k] - a[k + 1] * y[k];
#pragma GCC unroll 8
        for (int k = N - 2; k > 0; --k) {
            x[k] = x[k - 1];
            y[k] = y[k - 1];
        }
        x[0] = xi;
        y[0] = acc;
        const Quad o = g * acc;
        r.out[0][i] = StereoFrame<double> { o[0], o[1] };
        r.out[1][i] = StereoFrame<double> { o[2], o[3] };
    }
    for (int k = 0; k < N - 1; ++k)
        for (int f = 0; f < 2; ++f) {
            r.xHist[f][k] = StereoFrame<double> { x[k][2 * f], x[k][2 * f + 1] };
            r.yHist[f][k] = StereoFrame<double> { y[k][2 * f], y[k][2 * f + 1] };
        }
}

// The same code twice: built for 256-bit vectors, and for the 128-bit ones
// every x86-64 has. Neither contracts a multiply and an add into one
// rounding, so both give the same bits.
__attribute__((target("avx2"))) void runPair4Wide(PairRun& r)
{
    runPairFixed<5>(r);
}

void runPair4(PairRun& r)
{
    runPairFixed<5>(r);
}

} // namespace

Filter::Filter(std::valarray<double> bCoeffs, std::valarray<double> aCoeffs)
    : order(static_cast<unsigned int>(std::max({ bCoeffs.size(), aCoeffs.size(), size_t(1) })))
    , b(0.0, order)
    , a(0.0, order)
    , xHist(StereoFrame<double> { 0.0, 0.0 }, order)
    , yHist(StereoFrame<double> { 0.0, 0.0 }, order)
{
    for (size_t k = 0; k < bCoeffs.size(); ++k)
        b[k] = bCoeffs[k];
    for (size_t k = 0; k < aCoeffs.size(); ++k)
        a[k] = aCoeffs[k];
    // No denominator at all is a plain FIR, not a division by zero.
    if (aCoeffs.size() == 0)
        a[0] = 1.0;
}

Filter::Filter(const Filter& other)
    : order(other.order)
    , b(other.b)
    , a(other.a)
    , gain(other.gain)
    , xHist(StereoFrame<double> { 0.0, 0.0 }, other.order)
    , yHist(StereoFrame<double> { 0.0, 0.0 }, other.order)
{
}

Filter& Filter::operator=(const Filter& other)
{
    if (this != &other) {
        order = other.order;
        b.resize(other.order);
        b = other.b;
        a.resize(other.order);
        a = other.a;
        gain = other.gain;
        xHist.resize(order, StereoFrame<double> { 0.0, 0.0 });
        yHist.resize(order, StereoFrame<double> { 0.0, 0.0 });
    }
    return *this;
}

Filter::~Filter() = default;

void Filter::setGain(double linearGain)
{
    gain = linearGain;
}

void Filter::filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    const double r = 1.0 / a[0];
    const int n = static_cast<int>(order);
    // Per frame: N−1 multiply-adds of each kind per channel plus the history
    // shift; the unrolled subclasses do the same without the loop.
    for (unsigned int i = 0; i < count; ++i) {
        const StereoFrame<double> x = in[i];
        double accL = b[0] * x.left;
        double accR = b[0] * x.right;
        for (int k = n - 2; k >= 0; --k) {
            accL = accL + b[k + 1] * xHist[k].left - a[k + 1] * yHist[k].left;
            accR = accR + b[k + 1] * xHist[k].right - a[k + 1] * yHist[k].right;
            if (k > 0) {
                xHist[k] = xHist[k - 1];
                yHist[k] = yHist[k - 1];
            }
        }
        const double yL = accL * r;
        const double yR = accR * r;
        xHist[0] = x;
        yHist[0] = StereoFrame<double> { yL, yR };
        out[i].left = gain * yL;
        out[i].right = gain * yR;
    }
}

void Filter::filterPair(Filter& first, Filter& second, StereoFrame<double>* in, StereoFrame<double>* outFirst,
                        StereoFrame<double>* outSecond, unsigned int count)
{
    const auto plainOrder4 = [](const Filter& f) {
        return typeid(f) == typeid(Order4Filter) && f.order == 5 && f.a[0] == 1.0;
    };
    if (plainOrder4(first) && plainOrder4(second)) {
        PairRun r { { &first.b[0], &second.b[0] },
                    { &first.a[0], &second.a[0] },
                    { first.gain, second.gain },
                    { &first.xHist[0], &second.xHist[0] },
                    { &first.yHist[0], &second.yHist[0] },
                    in,
                    { outFirst, outSecond },
                    count };
        static const bool wide = __builtin_cpu_supports("avx2");
        if (wide)
            runPair4Wide(r);
        else
            runPair4(r);
        return;
    }
    // Each filter reads the whole input before it is overwritten.
    if (outFirst == in) {
        second.filter(in, outSecond, count);
        first.filter(in, outFirst, count);
    } else {
        first.filter(in, outFirst, count);
        second.filter(in, outSecond, count);
    }
}

BiquadFilter::BiquadFilter(std::valarray<double> bCoeffs, std::valarray<double> aCoeffs)
    : Filter(std::move(bCoeffs), std::move(aCoeffs))
{
}

void BiquadFilter::filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    if (order == 3)
        runFixed<3>(b, a, gain, xHist, yHist, in, out, count);
    else
        Filter::filter(in, out, count);
}

void BiquadFilter::filterCascade(BiquadFilter* const* sections, unsigned int count, StereoFrame<double>* in,
                                 StereoFrame<double>* out, unsigned int frames)
{
    if (count == 0 || frames == 0)
        return;
    // Sections whose a0 is not exactly 1 (or that are not of order 3) would
    // need the general path; designers never make them, but stay exact.
    for (unsigned int k = 0; k < count; ++k) {
        const BiquadFilter* f = sections[k];
        if (f->order != 3 || f->a[0] != 1.0) {
            for (unsigned int j = 0; j < count; ++j)
                sections[j]->filter(j == 0 ? in : out, out, frames);
            return;
        }
    }
    // Three sections per pass keep their state in registers; fewer leave the
    // processor idle waiting on the recursion, more spill (measured: 4 and 5
    // per pass are slower).
    constexpr unsigned int kGroup = 3;
    Section group[kGroup + 1];
    unsigned int done = 0;
    while (done < count) {
        const unsigned int left = count - done;
        const unsigned int g = left == kGroup + 1 ? 2 : std::min(left, kGroup);
        for (unsigned int k = 0; k < g; ++k) {
            BiquadFilter* f = sections[done + k];
            Section& s = group[k];
            s.b0 = splat(f->b[0]);
            s.b1 = splat(f->b[1]);
            s.b2 = splat(f->b[2]);
            s.a1 = splat(f->a[1]);
            s.a2 = splat(f->a[2]);
            s.g = splat(f->gain);
            s.x1 = load(&f->xHist[0]);
            s.x2 = load(&f->xHist[1]);
            s.y1 = load(&f->yHist[0]);
            s.y2 = load(&f->yHist[1]);
        }
        const StereoFrame<double>* src = done == 0 ? in : out;
        switch (g) {
        case 1:
            runGroup<1>(group, src, out, frames);
            break;
        case 2:
            runGroup<2>(group, src, out, frames);
            break;
        default:
            runGroup<3>(group, src, out, frames);
            break;
        }
        for (unsigned int k = 0; k < g; ++k) {
            BiquadFilter* f = sections[done + k];
            const Section& s = group[k];
            f->xHist[0] = toFrame(s.x1);
            f->xHist[1] = toFrame(s.x2);
            f->yHist[0] = toFrame(s.y1);
            f->yHist[1] = toFrame(s.y2);
        }
        done += g;
    }
}

Order1Filter::Order1Filter(std::valarray<double> bCoeffs, std::valarray<double> aCoeffs)
    : Filter(std::move(bCoeffs), std::move(aCoeffs))
{
}

void Order1Filter::filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    if (order == 2)
        runFixed<2>(b, a, gain, xHist, yHist, in, out, count);
    else
        Filter::filter(in, out, count);
}

Order4Filter::Order4Filter(std::valarray<double> bCoeffs, std::valarray<double> aCoeffs)
    : Filter(std::move(bCoeffs), std::move(aCoeffs))
{
}

void Order4Filter::filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    if (order == 5)
        runFixed<5>(b, a, gain, xHist, yHist, in, out, count);
    else
        Filter::filter(in, out, count);
}

Order6Filter::Order6Filter(std::valarray<double> bCoeffs, std::valarray<double> aCoeffs)
    : Filter(std::move(bCoeffs), std::move(aCoeffs))
{
}

void Order6Filter::filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    if (order == 7)
        runFixed<7>(b, a, gain, xHist, yHist, in, out, count);
    else
        Filter::filter(in, out, count);
}

BiquadClipFilter::BiquadClipFilter(std::valarray<double> bCoeffs, std::valarray<double> aCoeffs, double linearGain)
    : BiquadFilter(std::move(bCoeffs), std::move(aCoeffs))
{
    gain = linearGain;
    rampTarget = linearGain;
}

void BiquadClipFilter::setGain(double linearGain)
{
    if (linearGain == gain) {
        // Asking for the gain the filter has now also cancels a ramp still
        // on its way elsewhere: the listener asked for this level.
        rampFrames = 0;
        rampTarget = linearGain;
        return;
    }
    rampFrames = kRampFrames;
    rampTarget = linearGain;
    gainStep = (linearGain - gain) / double(kRampFrames);
}

void BiquadClipFilter::filter(StereoFrame<double>* in, StereoFrame<double>* out, unsigned int count)
{
    const double r = 1.0 / a[0];
    const double b0 = b[0], b1 = b[1], b2 = b[2], a1 = a[1], a2 = a[2];
    // Per frame: the biquad for both channels, the ramp step and a peak test;
    // a clip costs a fade over at most kMaxFadeFrames frames.
    for (unsigned int i = 0; i < count; ++i) {
        const StereoFrame<double> x = in[i];
        double accL = b0 * x.left;
        double accR = b0 * x.right;
        accL = accL + b2 * xHist[1].left - a2 * yHist[1].left;
        accR = accR + b2 * xHist[1].right - a2 * yHist[1].right;
        accL = accL + b1 * xHist[0].left - a1 * yHist[0].left;
        accR = accR + b1 * xHist[0].right - a1 * yHist[0].right;
        const double yL = accL * r;
        const double yR = accR * r;
        xHist[1] = xHist[0];
        yHist[1] = yHist[0];
        xHist[0] = x;
        yHist[0] = StereoFrame<double> { yL, yR };

        if (rampFrames != 0) {
            --rampFrames;
            // Land exactly on the target: 440000 additions of the step would
            // leave a rounding error behind.
            gain = rampFrames == 0 ? rampTarget : gain + gainStep;
        }
        out[i].left = gain * yL;
        out[i].right = gain * yR;

        if (std::max(std::fabs(out[i].left), std::fabs(out[i].right)) > 1.0) {
            const unsigned int n = std::min(i, kMaxFadeFrames);
            if (n != 0) {
                const double newGain = kClipPeak / std::max(std::fabs(yL), std::fabs(yR));
                const double fadeStep = (newGain - gain) / double(n);
                for (unsigned int j = 0; j <= n; ++j) {
                    const double factor = (double(j) * fadeStep + gain) / gain;
                    out[i - n + j].left *= factor;
                    out[i - n + j].right *= factor;
                }
                gain = newGain;
                rampTarget = newGain;
            }
            rampFrames = 0;
        }
    }
}

} // namespace SoundTools
