#include "tulv/spectral/FFTA.h"

#include <array>
#include <cmath>
#include <cstdlib>

namespace {

// Doubles between the real and the imaginary parts of the work area beyond
// the n real parts: arrays a power of two apart would fall on the same cache
// sets.
constexpr size_t kPad = 8;
// Bits of the tiles of the bit-reversal copy: 8 × 8 values, eight cache
// lines read and eight written per tile.
constexpr int kTileBits = 2;

// Butterflies of one stage over the two halves (a, b) of a block:
// a ± W·b with W = (wr + i·wi), h of them.
inline __attribute__((always_inline)) void oneStage(double* __restrict ar, double* __restrict ai, double* __restrict br, double* __restrict bi,
              const double* __restrict wr, const double* __restrict wi, int h)
{
    for (int k = 0; k < h; ++k) {
        const double tr = br[k] * wr[k] - bi[k] * wi[k];
        const double ti = br[k] * wi[k] + bi[k] * wr[k];
        br[k] = ar[k] - tr;
        bi[k] = ai[k] - ti;
        ar[k] += tr;
        ai[k] += ti;
    }
}

// Two stages (lengths 2h and 4h) over one block of 4h values: the quarters
// x0 … x3 first pair up as (x0, x1), (x2, x3) with W_2h^k, then as (x0, x2)
// with W_4h^k and (x1, x3) with W_4h^(k+h) = −i·W_4h^k.
inline __attribute__((always_inline)) void quarters(double* __restrict r0, double* __restrict r1,
                                                     double* __restrict r2, double* __restrict r3,
                                                     double* __restrict i0, double* __restrict i1,
                                                     double* __restrict i2, double* __restrict i3,
                                                     const double* __restrict ar, const double* __restrict ai,
                                                     const double* __restrict br, const double* __restrict bi, int h)
{
    for (int k = 0; k < h; ++k) {
        const double t1r = r1[k] * ar[k] - i1[k] * ai[k], t1i = r1[k] * ai[k] + i1[k] * ar[k];
        const double t3r = r3[k] * ar[k] - i3[k] * ai[k], t3i = r3[k] * ai[k] + i3[k] * ar[k];
        const double a0r = r0[k] + t1r, a0i = i0[k] + t1i, a1r = r0[k] - t1r, a1i = i0[k] - t1i;
        const double a2r = r2[k] + t3r, a2i = i2[k] + t3i, a3r = r2[k] - t3r, a3i = i2[k] - t3i;
        const double ur = a2r * br[k] - a2i * bi[k], ui = a2r * bi[k] + a2i * br[k];
        const double vr = a3r * br[k] - a3i * bi[k], vi = a3r * bi[k] + a3i * br[k];
        r0[k] = a0r + ur;
        i0[k] = a0i + ui;
        r2[k] = a0r - ur;
        i2[k] = a0i - ui;
        // −i·v = (vi, −vr)
        r1[k] = a1r + vi;
        i1[k] = a1i - vr;
        r3[k] = a1r - vi;
        i3[k] = a1i + vr;
    }
}

inline __attribute__((always_inline)) void pairOfStages(double* re, double* im, int h, const double* tw)
{
    quarters(re, re + h, re + 2 * h, re + 3 * h, im, im + h, im + 2 * h, im + 3 * h, tw, tw + h, tw + 2 * h,
             tw + 3 * h, h);
}

} // namespace

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
        work = static_cast<double*>(std::malloc(sizeof(double) * (4 * size_t(n) + kPad)));
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
    // From length 8 up, stages go by pairs (one pass over the data for two
    // stages), the last one alone when their count is odd. A pair whose
    // first stage has length len = 2h stores, for k < h, W_len^k then
    // W_2len^k (real parts, then imaginary parts); a single stage W_len^k.
    // W_m^k = e^(−2πik/m) = cosTable[kN/m] − i·sinTable[kN/m].
    stageTwiddles.clear();
    auto put = [this, n](int len, int h) {
        for (int k = 0; k < h; ++k)
            stageTwiddles.push_back(cosTable[size_t(k * (n / len))]);
        for (int k = 0; k < h; ++k)
            stageTwiddles.push_back(-sinTable[size_t(k * (n / len))]);
    };
    for (int len = 8; len <= n;) {
        if (2 * len <= n) {
            put(len, len / 2);
            put(2 * len, len / 2);
            len *= 4;
        } else {
            put(len, len / 2);
            len *= 2;
        }
    }
}

// The butterfly passes, compiled once for the baseline instruction set and
// once for AVX2 with FMA (four doubles a vector); the loader picks the one
// the processor runs. The loader's choice runs before a sanitizer's runtime
// is up, and the thread sanitizer crashes in it: sanitizer builds keep the
// baseline.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && !defined(__SANITIZE_THREAD__) \
    && !defined(__SANITIZE_ADDRESS__)
#define TULV_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define TULV_VECTOR_CLONES
#endif

namespace {

TULV_VECTOR_CLONES
void runStages(double* __restrict re, double* __restrict im, int n, const double* tw, bool firstPass)
{
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
    for (int s = 0; firstPass && s < n; s += 4) {
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
    // The later stages, two per pass: n/4 radix-2² butterflies a pass, their
    // twiddles read in order, so the inner loops run on whole vectors;
    // ⌈(log2(n) − 2)/2⌉ passes over the data.
    for (int len = 8; len <= n;) {
        const int h = len / 2;
        if (2 * len <= n) {
            for (int s = 0; s < n; s += 4 * h)
                pairOfStages(re + s, im + s, h, tw);
            tw += 4 * h;
            len *= 4;
        } else {
            for (int s = 0; s < n; s += 2 * h)
                oneStage(re + s, im + s, re + s + h, im + s + h, tw, tw + h, h);
            tw += 2 * h;
            len *= 2;
        }
    }
}

} // namespace

void FFTARadix2::transform(const double* values, bool realOnly)
{
    const int n = size;
    double* re = work;
    double* im = work + n + kPad;
    if (n < 8) {
        loadBitReversed(values, realOnly);
        runStages(re, im, n, stageTwiddles.data(), true);
        return;
    }
    // The bit-reversal copy and the stages of length 2 and 4 in one pass:
    // work values s … s+3 come from the input at bitReverse[s] plus 0, N/2,
    // N/4 and 3N/4. Gathering reads where a copy would scatter writes.
    const int* order = &bitReverse[0];
    const int step = realOnly ? 1 : 2;
    const int offsets[4] = { 0, n / 2, n / 4, 3 * n / 4 };
    for (int s = 0; s < n; s += 4) {
        const double* from = values + step * order[s];
        double xr[4], xi[4];
        for (int c = 0; c < 4; ++c) {
            xr[c] = from[step * offsets[c]];
            xi[c] = realOnly ? 0.0 : from[step * offsets[c] + 1];
        }
        const double r0 = xr[0] + xr[1], i0 = xi[0] + xi[1];
        const double r1 = xr[0] - xr[1], i1 = xi[0] - xi[1];
        const double r2 = xr[2] + xr[3], i2 = xi[2] + xi[3];
        const double r3 = xr[2] - xr[3], i3 = xi[2] - xi[3];
        re[s] = r0 + r2;
        im[s] = i0 + i2;
        re[s + 2] = r0 - r2;
        im[s + 2] = i0 - i2;
        re[s + 1] = r1 + i3;
        im[s + 1] = i1 - r3;
        re[s + 3] = r1 - i3;
        im[s + 3] = i1 + r3;
    }
    runStages(re, im, n, stageTwiddles.data(), false);
}

void FFTARadix2::loadBitReversed(const double* values, bool realOnly)
{
    const int n = size;
    double* re = work;
    double* im = work + n + kPad;
    const int* order = &bitReverse[0];
    const int step = realOnly ? 1 : 2;
    if (bits < 2 * kTileBits) {
        for (int i = 0; i < n; ++i) {
            re[order[i]] = values[step * i];
            im[order[i]] = realOnly ? 0.0 : values[2 * i + 1];
        }
        return;
    }
    // i = (a, m, c) in bits (high, middle, low) goes to (rev c, rev m, rev a):
    // a tile of fixed m reads rows of consecutive c and writes rows of
    // consecutive rev a, where a plain loop would write one value per
    // cache line, to lines a power of two apart.
    constexpr int tile = 1 << kTileBits;
    static const auto kRev = [] {
        std::array<int, tile> r {};
        for (int i = 0; i < tile; ++i)
            for (int b = 0; b < kTileBits; ++b)
                r[size_t(i)] |= ((i >> b) & 1) << (kTileBits - 1 - b);
        return r;
    }();
    const int high = bits - kTileBits;
    for (int m = 0; m < (n >> (2 * kTileBits)); ++m) {
        const int middle = order[m << kTileBits];
        for (int a = 0; a < tile; ++a) {
            const int from = (a << high) | (m << kTileBits);
            const int to = middle | kRev[size_t(a)];
            for (int c = 0; c < tile; ++c) {
                const int j = to | (kRev[size_t(c)] << high);
                re[j] = values[step * (from + c)];
                im[j] = realOnly ? 0.0 : values[2 * (from + c) + 1];
            }
        }
    }
}

void FFTARadix2::forwardStereo(const double* block, double* spectrum)
{
    const int n = size;
    const double* re = work;
    const double* im = work + n + kPad;
    transform(block, false);
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
    const double* re = work;
    const double* im = work + n + kPad;
    // swap(V) in natural order first, beyond the split arrays.
    double* v = work + 2 * size_t(n) + kPad;
    const int h = n / 2;
    const double* left = spectrum;
    const double* right = spectrum + n + 2;
    v[0] = right[0];
    v[1] = left[0];
    v[2 * h] = right[2 * h];
    v[2 * h + 1] = left[2 * h];
    for (int k = 1; k < h; ++k) {
        const double lr = left[2 * k], li = left[2 * k + 1];
        const double rr = right[2 * k], ri = right[2 * k + 1];
        v[2 * k] = rr + li;
        v[2 * k + 1] = lr - ri;
        v[2 * (n - k)] = rr - li;
        v[2 * (n - k) + 1] = ri + lr;
    }
    transform(v, false);
    const double scale = 1.0 / n;
    for (int i = 0; i < n; ++i) {
        block[2 * i] = im[i] * scale;
        block[2 * i + 1] = re[i] * scale;
    }
}

void FFTARadix2::forwardReal(const double* samples, double* spectrum)
{
    const int n = size;
    const double* re = work;
    const double* im = work + n + kPad;
    transform(samples, true);
    for (int k = 0; k <= n / 2; ++k) {
        spectrum[2 * k] = re[k];
        spectrum[2 * k + 1] = im[k];
    }
}
