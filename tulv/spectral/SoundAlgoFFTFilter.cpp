#include "tulv/spectral/SoundAlgoFFTFilter.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <ostream>

namespace {

// Ripple targets: −60 dB in the stop bands, ±0.125 dB in the pass bands.
const double kStopRipple = std::pow(10.0, -3.0);
const double kPassRipple = (1.0 - std::pow(10.0, -0.025)) * 0.5;
// Transition width, cycles per sample; also the lowest corner designed.
constexpr double kTransition = 0.005;

} // namespace

SoundAlgoFFTFilter::SoundAlgoFFTFilter(SoundTools::FilterType type, double freq1, double freq2)
    : freq1(freq1)
    , freq2(freq2)
    , type(type)
{
}

SoundAlgoFFTFilter::~SoundAlgoFFTFilter() = default;

unsigned int SoundAlgoFFTFilter::getTapCount(unsigned int size)
{
    // Kaiser's estimate of the length for these ripples and transition.
    const double estimate = (10.0 * std::log10(kPassRipple * kStopRipple) + 13.0) / (14.6 * kTransition);
    unsigned int length = static_cast<unsigned int>(std::floor(0.5 - estimate)) + 1;
    if (length % 2 == 0)
        ++length;
    // With overlap a block of N/2 frames convolved with N/2 + 1 taps just
    // fills the N-point transform: the longest linear convolution it holds.
    // N/2 + 1 is odd, as a high pass or band stop must be: an even-length
    // symmetric FIR is 0 at half the sample rate whatever its design.
    return std::min(length, size / 2 + 1);
}

std::vector<SoundTools::RemezBand> SoundAlgoFFTFilter::getBands(unsigned int sampleRate) const
{
    const double fs = sampleRate > 0 ? double(sampleRate) : 44100.0;
    const double d = kTransition;
    double fLow = std::min(std::max(freq1 / fs, d), 0.5);
    double fHigh = std::min(std::max(freq2 / fs, d), 0.5);
    if (isDebug()) {
        getOStream() << "FillFilter Low Freq" << freq1 << ";" << fLow << " " << fs << std::endl;
        getOStream() << "FillFilter Hi Freq" << freq2 << ";" << fHigh << " " << fs << std::endl;
    }
    const double w = kPassRipple / kStopRipple;
    // Every band keeps a width of at least one transition: the clamping above
    // alone can leave a band of no or negative width (a high pass at the
    // lowest corner, a low pass at half the sample rate, a narrow band stop),
    // which the designer cannot meet.
    if ((type == SoundTools::BandPass || type == SoundTools::BandStop) && fHigh < fLow)
        std::swap(fLow, fHigh);
    switch (type) {
    case SoundTools::LowPass:
        fLow = std::min(fLow, 0.5 - 2 * d);
        return { { 0.0, fLow, 1.0, 1.0 }, { fLow + d, 0.5, 0.0, w } };
    case SoundTools::HighPass:
        fLow = std::max(fLow, 2 * d);
        return { { 0.0, fLow - d, 0.0, w }, { fLow, 0.5, 1.0, 1.0 } };
    case SoundTools::BandPass:
        fLow = std::min(std::max(fLow, 2 * d), 0.5 - 3 * d);
        fHigh = std::min(std::max(fHigh, fLow + d), 0.5 - 2 * d);
        return { { 0.0, fLow - d, 0.0, w }, { fLow, fHigh, 1.0, 1.0 }, { fHigh + d, 0.5, 0.0, w } };
    case SoundTools::BandStop:
        if (fHigh - fLow < 3 * d) {
            const double centre = std::min(std::max((fLow + fHigh) * 0.5, 2.5 * d), 0.5 - 2.5 * d);
            fLow = centre - 1.5 * d;
            fHigh = centre + 1.5 * d;
        }
        fLow = std::max(fLow, d);
        fHigh = std::min(fHigh, 0.5 - d);
        return { { 0.0, fLow, 1.0, 1.0 }, { fLow + d, fHigh - d, 0.0, w }, { fHigh, 0.5, 1.0, 1.0 } };
    default:
        return {};
    }
}

void SoundAlgoFFTFilter::FillFilter()
{
    if (!response.empty())
        return;
    const size_t n = fftSize;
    std::vector<double> block(n, 0.0);
    const std::vector<SoundTools::RemezBand> bands = getBands(mSampleRate);
    taps.clear();
    if (bands.empty()) {
        qCritical() << "Unsupported FFT Eq mode :" << static_cast<int>(type);
    } else if (!SoundTools::remez(getTapCount(fftSize), bands, taps)) {
        setError(QStringLiteral("the design of %1 failed").arg(getName()), "SoundAlgoFFTFilter::FillFilter");
        taps.clear();
    }
    // Without a design the sound passes unchanged.
    if (taps.empty())
        taps.assign(1, 1.0);
    std::copy(taps.begin(), taps.end(), block.begin());
    response.assign(n + 2, 0.0);
    FFTARadix2 engine(fftSize);
    engine.forwardReal(block.data(), response.data());
}

SoundTools::Status SoundAlgoFFTFilter::onInitInputBuffer()
{
    if (fftSize < 2 || (fftSize & (fftSize - 1)) != 0)
        return SoundTools::Error;
    // A design is made for one transform size and sample rate.
    if (response.size() != size_t(fftSize) + 2)
        response.clear();
    FillFilter();
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgoFFTFilter::process()
{
    const unsigned int count = beginSpectralBlock();
    const size_t bins = getFFTSampleSize();
    const double* h = response.data();
    // Per spectral frame: 2·(N/2 + 1) complex products.
    for (unsigned int i = 0; i < count; ++i) {
        const double* in = mInBuffers[0]->getRelFrame(static_cast<int>(i));
        double* out = mOutBuffers[0]->getRelFrame(static_cast<int>(i));
        for (size_t c = 0; c < 2; ++c, in += 2 * bins, out += 2 * bins)
            for (size_t k = 0; k < bins; ++k) {
                const double re = in[2 * k], im = in[2 * k + 1];
                out[2 * k] = re * h[2 * k] - im * h[2 * k + 1];
                out[2 * k + 1] = re * h[2 * k + 1] + im * h[2 * k];
            }
    }
    return SoundTools::Ok;
}

void SoundAlgoFFTFilter::endProcess(int status, unsigned int frameNBProcessed)
{
    std::vector<double>().swap(response);
    SoundAlgoFFT::endProcess(status, frameNBProcessed);
}

SoundAlgoEqFFT::SoundAlgoEqFFT(SoundTools::FilterType type, double freq1, double freq2, unsigned int size)
    : SoundAlgoComposite(QString(), true)
    , filter(new SoundAlgoFFTFilter(type, freq1, freq2))
{
    pushAlgo(new SoundAlgoFFTDirectCompute(size, true, false));
    pushAlgo(filter);
    pushAlgo(new SoundAlgoFFTInverseCompute(false));
    setReadOnly();
}
