#include "tulv/spectral/SoundFFTAutocorrel.h"

#include <algorithm>
#include <cmath>

SoundFFTAutocorrel::SoundFFTAutocorrel() = default;

SoundFFTAutocorrel::~SoundFFTAutocorrel() = default;

SoundTools::Status SoundFFTAutocorrel::process()
{
    const unsigned int count = beginSpectralBlock();
    const size_t values = 2 * size_t(getFFTSampleSize()); // bins of both channels
    for (unsigned int i = 0; i < count; ++i) {
        const double* in = mInBuffers[0]->getRelFrame(static_cast<int>(i));
        double* out = mOutBuffers[0]->getRelFrame(static_cast<int>(i));
        for (size_t b = 0; b < values; ++b) {
            const double re = in[2 * b], im = in[2 * b + 1];
            out[2 * b] = re * re + im * im;
            out[2 * b + 1] = 0.0;
        }
    }
    return SoundTools::Ok;
}

SoundFFTAutocorrelChain::SoundFFTAutocorrelChain(unsigned int size)
    : SoundAlgoComposite(QString(), true)
{
    pushAlgo(new SoundAlgoFFTDirectCompute(size, true, false));
    pushAlgo(new SoundFFTAutocorrel());
    pushAlgo(new SoundAlgoFFTInverseCompute(false));
    setReadOnly();
}

SoundAutocorrelStats::SoundAutocorrelStats(int unused)
    : unused(unused)
{
}

SoundAutocorrelStats::~SoundAutocorrelStats() = default;

SoundTools::Status SoundAutocorrelStats::process()
{
    const StereoBlock block = stereoBlock();
    if (block.frames <= 0 || !block.in || !block.out)
        return SoundTools::Ok;
    constexpr int kBlock = 1024;
    for (int b = 0; b < block.frames; b += kBlock) {
        const int e = std::min(b + kBlock, block.frames);
        auto x = [&block](int i) { return block.in[i].left; };
        // The first i from `from` (at most e − 3, so that x[i + 2] is in the
        // block) where `shape` holds; e − 2 when there is none.
        auto find = [e](int from, auto shape) {
            for (int i = from; i + 2 < e; ++i)
                if (shape(i))
                    return i;
            return e - 2;
        };
        auto maximum = [&x](int i) { return x(i) < x(i + 1) && x(i + 1) > x(i + 2) && x(i) > 0.01; };
        auto minimum = [&x](int i) { return x(i + 1) < x(i) && x(i + 1) < x(i + 2) && x(i) < 0.0; };
        const int i1 = find(b, maximum);
        const int i2 = find(i1, minimum);
        const int i3 = find(i2, maximum);
        if (i1 == i2 || i2 == i3 || i1 == i3) {
            phase = 0.0;
            for (int i = b; i < e; ++i)
                block.out[i].left = block.out[i].right = 0.0;
            continue;
        }
        const double step = 2.0 * M_PI / (i3 - i1);
        for (int i = b; i < e; ++i) {
            block.out[i].left = block.out[i].right = std::sin(phase);
            phase += step;
        }
    }
    return SoundTools::Ok;
}
