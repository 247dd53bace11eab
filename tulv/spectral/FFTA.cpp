#include "tulv/spectral/FFTA.h"

#include <cmath>
#include <cstdlib>

FFTARadix2::FFTARadix2(unsigned int n)
{
    setSize(static_cast<int>(n));
}

FFTARadix2::~FFTARadix2()
{
    std::free(work);
}

void FFTARadix2::setSize(int n)
{
    if (n == size || n < 2)
        return;
    FFTA::setSize(n);
    if (n != workCapacity) {
        std::free(work);
        work = static_cast<double*>(std::malloc(sizeof(double) * 2 * size_t(n)));
        workCapacity = n;
    }
    bits = 0;
    while ((1 << bits) < n)
        ++bits;
    const int half = n / 2;
    cosTable.resize(size_t(half));
    sinTable.resize(size_t(half));
    for (int k = 0; k < half; ++k) {
        const double angle = 2.0 * M_PI * k / n;
        cosTable[size_t(k)] = std::cos(angle);
        sinTable[size_t(k)] = std::sin(angle);
    }
    bitReverse.resize(size_t(n));
    for (int i = 0; i < n; ++i) {
        int r = 0;
        for (int b = 0; b < bits; ++b)
            r |= ((i >> b) & 1) << (bits - 1 - b);
        bitReverse[size_t(i)] = r;
    }
    stageTwiddles.clear();
    for (int len = 8; len <= n; len *= 2) {
        const int step = n / len;
        for (int k = 0; k < len / 2; ++k)
            stageTwiddles.push_back(cosTable[size_t(k * step)]);
        for (int k = 0; k < len / 2; ++k)
            stageTwiddles.push_back(sinTable[size_t(k * step)]);
    }
}

void FFTARadix2::transform()
{
    const int n = size;
    double* __restrict re = work;
    double* __restrict im = work + n;
    if (n == 2) {
        const double r0 = re[0], i0 = im[0];
        re[0] = r0 + re[1];
        im[0] = i0 + im[1];
        re[1] = r0 - re[1];
        im[1] = i0 - im[1];
        return;
    }
    // The stages of length 2 and 4 together: their twiddles are 1 and −i,
    // so they need no multiplication. One pass over the data instead of two.
    for (int s = 0; s < n; s += 4) {
        const double r0 = re[s] + re[s + 1], i0 = im[s] + im[s + 1];
        const double r1 = re[s] - re[s + 1], i1 = im[s] - im[s + 1];
        const double r2 = re[s + 2] + re[s + 3], i2 = im[s + 2] + im[s + 3];
        const double r3 = re[s + 2] - re[s + 3], i3 = im[s + 2] - im[s + 3];
        re[s] = r0 + r2;
        im[s] = i0 + i2;
        re[s + 2] = r0 - r2;
        im[s + 2] = i0 - i2;
        // (r3, i3)·(−i) = (i3, −r3)
        re[s + 1] = r1 + i3;
        im[s + 1] = i1 - r3;
        re[s + 3] = r1 - i3;
        im[s + 3] = i1 + r3;
    }
    // Each later stage: n/2 butterflies reading contiguous twiddles, so the
    // inner loop runs on whole vectors; log2(n) − 2 passes over the data.
    const double* tw = stageTwiddles.data();
    for (int len = 8; len <= n; len *= 2) {
        const int half = len / 2;
        const double* __restrict c = tw;
        const double* __restrict sn = tw + half;
        for (int s = 0; s < n; s += len) {
            double* __restrict ar = re + s;
            double* __restrict ai = im + s;
            double* __restrict br = re + s + half;
            double* __restrict bi = im + s + half;
            for (int k = 0; k < half; ++k) {
                const double tr = br[k] * c[k] + bi[k] * sn[k];
                const double ti = bi[k] * c[k] - br[k] * sn[k];
                br[k] = ar[k] - tr;
                bi[k] = ai[k] - ti;
                ar[k] += tr;
                ai[k] += ti;
            }
        }
        tw += len;
    }
}

void FFTARadix2::forwardStereo(const double* block, double* spectrum)
{
    const int n = size;
    double* re = work;
    double* im = work + n;
    const int* order = &bitReverse[0];
    for (int i = 0; i < n; ++i) {
        re[order[i]] = block[2 * i];
        im[order[i]] = block[2 * i + 1];
    }
    transform();
    const int h = n / 2;
    double* left = spectrum;
    double* right = spectrum + n + 2;
    left[0] = re[0];
    left[1] = 0.0;
    right[0] = im[0];
    right[1] = 0.0;
    left[2 * h] = re[h];
    left[2 * h + 1] = 0.0;
    right[2 * h] = im[h];
    right[2 * h + 1] = 0.0;
    for (int k = 1; k < h; ++k) {
        const int m = n - k;
        left[2 * k] = (re[k] + re[m]) * 0.5;
        left[2 * k + 1] = (im[k] - im[m]) * 0.5;
        right[2 * k] = (im[k] + im[m]) * 0.5;
        right[2 * k + 1] = (re[m] - re[k]) * 0.5;
    }
}

void FFTARadix2::inverseStereo(const double* spectrum, double* block)
{
    // IDFT(V) = swap(DFT(swap(V)))/N with V = L + i·R: one forward transform
    // rebuilds both channels. Every work value is written, so nothing needs
    // clearing first.
    const int n = size;
    double* re = work;
    double* im = work + n;
    const int* order = &bitReverse[0];
    const int h = n / 2;
    const double* left = spectrum;
    const double* right = spectrum + n + 2;
    re[order[0]] = right[0];
    im[order[0]] = left[0];
    re[order[h]] = right[2 * h];
    im[order[h]] = left[2 * h];
    for (int k = 1; k < h; ++k) {
        const double lr = left[2 * k], li = left[2 * k + 1];
        const double rr = right[2 * k], ri = right[2 * k + 1];
        re[order[k]] = rr + li;
        im[order[k]] = lr - ri;
        re[order[n - k]] = rr - li;
        im[order[n - k]] = ri + lr;
    }
    transform();
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) {
        block[2 * i] = im[i] * scale;
        block[2 * i + 1] = re[i] * scale;
    }
}

void FFTARadix2::forwardReal(const double* samples, double* spectrum)
{
    const int n = size;
    double* re = work;
    double* im = work + n;
    const int* order = &bitReverse[0];
    for (int i = 0; i < n; ++i) {
        re[order[i]] = samples[i];
        im[i] = 0.0;
    }
    transform();
    for (int k = 0; k <= n / 2; ++k) {
        spectrum[2 * k] = re[k];
        spectrum[2 * k + 1] = im[k];
    }
}
