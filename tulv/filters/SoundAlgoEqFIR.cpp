#include "tulv/filters/SoundAlgoEqFIR.h"

#include "tulv/core/ThreadAnnotations.h"

#include <QDebug>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Left and right of one frame, operated on together lane by lane.
typedef double Pair __attribute__((vector_size(16)));

inline Pair load(const SoundTools::StereoFrame<double>* p)
{
    Pair v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Ripple the design aims for: −40 dB in the stop bands, ±0.125 dB in the
// pass bands (half of a 0.25 dB peak-to-peak band).
const double kStopRipple = std::pow(10.0, -2.0);
const double kPassRipple = (1.0 - std::pow(10.0, -0.025)) * 0.5;
// Narrowest transition (cycles per sample) a band is squeezed to before it
// is left out instead: 88 Hz at 44.1 kHz, already some 800 taps.
constexpr double kMinTransition = 0.002;

} // namespace

SoundAlgoEqFIR::SoundAlgoEqFIR(SoundTools::FilterType aType, double aFreq1, double aFreq2)
    : type(aType)
    , freq1(aFreq1)
    , freq2(aFreq2)
{
}

SoundAlgoEqFIR::~SoundAlgoEqFIR() = default;

void SoundAlgoEqFIR::SetOutputGain(double dB)
{
    outputGain.store(std::pow(10.0, dB / 20.0), std::memory_order_relaxed);
}

SoundAlgoEqFIR::Design SoundAlgoEqFIR::designFor(double fs) const
{
    Design d;
    d.transition = (type == SoundTools::LowPass || type == SoundTools::BandStop) ? 2.0 * freq1 / fs : freq1 * 0.5 / fs;
    d.fLow = std::min(freq1 / fs, 0.5);
    d.fHigh = std::min(freq2 / fs, 0.5);
    d.stopWeight = kPassRipple / kStopRipple;

    // Keep every band inside [0, 0.5] and every band edge ascending: narrow
    // the transition where the formula above would carry an edge past half
    // the sample rate or across the other edge of a band stop. A stop band
    // with no room at all above its edge (an edge at Nyquist) is left out.
    auto fitBelowNyquist = [&d](double edge) {
        const double room = 0.5 - edge;
        if (edge + d.transition > 0.5 && room >= 2.0 * kMinTransition)
            d.transition = room / 2.0;
    };
    switch (type) {
    case SoundTools::LowPass:
        fitBelowNyquist(d.fLow);
        break;
    case SoundTools::HighPass:
        break;
    case SoundTools::BandPass:
    case SoundTools::BandStop:
        if (d.fHigh < d.fLow) {
            d.problem = QStringLiteral("the upper edge of the band is below the lower one");
            return d;
        }
        if (type == SoundTools::BandPass)
            fitBelowNyquist(d.fHigh);
        else if (2.0 * d.transition > d.fHigh - d.fLow)
            d.transition = (d.fHigh - d.fLow) / 4.0;
        break;
    default:
        d.problem = QStringLiteral("unsupported filter type");
        return d;
    }
    if (!(d.transition > 0.0) || !std::isfinite(d.transition)) {
        d.problem = QStringLiteral("the band edges leave no room for a transition band");
        return d;
    }
    // Kaiser's estimate of the length of an equiripple filter.
    const double estimate
        = std::floor(0.5 - (10.0 * std::log10(kPassRipple * kStopRipple) + 13.0) / (14.6 * d.transition)) + 1.0;
    if (!(estimate <= double(kMaxLength))) {
        d.problem = QStringLiteral("the transition band is too narrow: more than %1 taps").arg(kMaxLength);
        return d;
    }
    unsigned int L = static_cast<unsigned int>(std::max(estimate, 1.0));
    // An even-length symmetric filter has a zero at half the sample rate,
    // which no high pass or band stop can live with: keep it odd.
    if (L % 2 == 0)
        ++L;
    d.length = L;
    return d;
}

unsigned int SoundAlgoEqFIR::getLength(unsigned int sampleRate) const
{
    return designFor(double(sampleRate)).length;
}

void SoundAlgoEqFIR::InitStaticParams(double sampleRate)
{
    const Design d = designFor(sampleRate);
    fLow = d.fLow;
    fHigh = d.fHigh;
    transition = d.transition;
    stopWeight = d.stopWeight;
    length = d.length;
}

std::vector<SoundTools::RemezBand> SoundAlgoEqFIR::getBands() const
{
    const double t = transition;
    const double w = stopWeight;
    std::vector<SoundTools::RemezBand> bands;
    switch (type) {
    case SoundTools::LowPass:
        bands = { { 0.0, fLow, 1.0, 1.0 }, { fLow + t, 0.5, 0.0, w } };
        break;
    case SoundTools::BandPass:
        bands = { { 0.0, fLow - t, 0.0, w }, { fLow, fHigh, 1.0, 1.0 }, { fHigh + t, 0.5, 0.0, w } };
        break;
    case SoundTools::BandStop:
        bands = { { 0.0, fLow, 1.0, 1.0 }, { fLow + t, fHigh - t, 0.0, w }, { fHigh, 0.5, 1.0, 1.0 } };
        break;
    case SoundTools::HighPass:
        bands = { { 0.0, fLow - t, 0.0, w }, { fLow, 0.5, 1.0, 1.0 } };
        break;
    default:
        break;
    }
    // A band squeezed to nothing at 0 or at half the sample rate (a corner at
    // 0 Hz, an edge at the Nyquist frequency) has nothing to ask for.
    std::vector<SoundTools::RemezBand> kept;
    for (const SoundTools::RemezBand& band : bands)
        if (band.high > band.low || bands.size() == 1)
            kept.push_back(band);
    return kept;
}

unsigned int SoundAlgoEqFIR::getDelay(unsigned int sampleRate) const
{
    const unsigned int L = getLength(sampleRate);
    return L > 0 ? (L - 1) / 2 : 0;
}

unsigned int SoundAlgoEqFIR::getInOverlap(unsigned int sampleRate) const
{
    return getDelay(sampleRate);
}

unsigned int SoundAlgoEqFIR::getSampleShift(unsigned int sampleRate) const
{
    const unsigned int L = getLength(sampleRate);
    return L > 0 ? L - 1 : 0;
}

unsigned int SoundAlgoEqFIR::getPreferredBufferSize(unsigned int sampleRate) const
{
    return std::max(SoundAlgo::getPreferredBufferSize(sampleRate), kMinBlock);
}

SoundTools::Status SoundAlgoEqFIR::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    if (type != SoundTools::LowPass && type != SoundTools::BandPass && type != SoundTools::BandStop
        && type != SoundTools::HighPass) {
        qCritical() << "Unsupported FIR mode :" << int(type);
        return SoundTools::Error;
    }
    InitStaticParams(double(context.sampleRate));
    const auto refuse = [this, &context](const QString& problem) {
        const bool band = type == SoundTools::BandPass || type == SoundTools::BandStop;
        const QString shape = type == SoundTools::LowPass ? QStringLiteral("low pass at %1 Hz").arg(freq1)
            : type == SoundTools::HighPass                ? QStringLiteral("high pass at %1 Hz").arg(freq1)
            : type == SoundTools::BandPass                ? QStringLiteral("band pass")
                                                          : QStringLiteral("band stop");
        setError(QStringLiteral("cannot design the FIR filter (%1%2, sample rate %3 Hz): %4")
                     .arg(shape)
                     .arg(band ? QStringLiteral(" %1 to %2 Hz").arg(freq1).arg(freq2) : QString())
                     .arg(context.sampleRate)
                     .arg(problem),
                 "SoundAlgoEqFIR::initProcess");
        return SoundTools::Error;
    };
    if (length == 0)
        return refuse(designFor(double(context.sampleRate)).problem);
    if (isDebug())
        getOStream() << "FIR lenght = " << length << std::endl;

    const std::vector<SoundTools::RemezBand> bands = getBands();
    std::vector<double> h;
    bool designed = false;
    if (bands.size() == 1) {
        // One band only: the best filter is the wanted amplitude itself.
        h.assign(length, 0.0);
        h[(length - 1) / 2] = bands[0].desired;
        designed = true;
    } else {
        // The exchange may stop short of equal ripple (a band pass of a few
        // hundred taps ends within four times it) or go astray numerically
        // (errors of thousands): short of ten times the ripple it was sized
        // for, the design is used.
        designed = SoundTools::remez(length, bands, h, 10.0 * kPassRipple);
    }
    if (!designed || h.size() != length)
        return refuse(QStringLiteral("the Parks-McClellan exchange does not reach the ripple wanted with %1 taps "
                                     "(the FFT equaliser designs such bands)")
                          .arg(length));
    coeffs.resize(length);
    for (unsigned int i = 0; i < length; ++i)
        coeffs[i] = h[length - 1 - i];

    mWorkCount = 0;
    mWorkOrigin = 0;
    const SoundTools::Status status = SoundAlgo::initProcess(context, previous, next);
    if (status == SoundTools::Ok && !mInBuffers.empty() && mInBuffers[0])
        mWork.resize(std::max<size_t>(mWork.size(), mInBuffers[0]->getFrameNBAllocated() + length));
    return status;
}

void SoundAlgoEqFIR::endProcess(int status, unsigned int frameNBProcessed)
{
    coeffs.clear();
    coeffs.shrink_to_fit();
    mWork.clear();
    mWork.shrink_to_fit();
    mWorkCount = 0;
    SoundAlgo::endProcess(status, frameNBProcessed);
}

SoundTools::Status SoundAlgoEqFIR::process()
{
    const unsigned int L = static_cast<unsigned int>(coeffs.size());
    if (L == 0)
        return SoundTools::Error;
    const int half = int(L - 1) / 2; // both the declared delay and the history kept
    const int in0 = getInOrigin();
    const unsigned int available = getInFrameNb();
    std::shared_ptr<SoundBuffer> input = getInBuffer(0);
    std::shared_ptr<SoundBuffer> output = getOutBuffer(0);
    if (!input || !output)
        return SoundTools::Error;

    // Lay out [in0 − half, in0 + available) contiguously: the frames before
    // the window come from the last block's copy (zeros before the stream).
    const int from = in0 - half;
    const size_t need = size_t(half) + available;
    if (mWork.size() < need)
        mWork.resize(need); // only when a block outgrows the buffer planned at initProcess
    if (from < mWorkOrigin)
        mWorkCount = 0; // the stream went back: nothing kept applies
    const int oldEnd = mWorkOrigin + int(mWorkCount);
    for (int p = from; p < in0; ++p) {
        const size_t dst = size_t(p - from);
        if (mWorkCount != 0 && p >= mWorkOrigin && p < oldEnd)
            mWork[dst] = mWork[size_t(p - mWorkOrigin)];
        else
            mWork[dst] = SoundTools::StereoFrame<double> { 0.0, 0.0 };
    }
    if (available > 0) {
        const SoundTools::StereoFrame<double>* src = input->getStereoFrame(in0);
        if (!src)
            return SoundTools::Error;
        std::memcpy(&mWork[size_t(half)], src, sizeof(*src) * available);
    }
    mWorkOrigin = from;
    mWorkCount = static_cast<unsigned int>(need);

    // Output frame in0 + half + j is the dot product of the taps with
    // mWork[j … j + L − 1].
    const int outFrom = in0 + half;
    long long count = (long long)getOutOrigin() + getOutFrameNb() - outFrom;
    count = std::min<long long>(count, (long long)need - (L - 1));
    if (count <= 0)
        return SoundTools::Ok;
    SoundTools::StereoFrame<double>* out = output->getStereoFrame(outFrom);
    if (!out)
        return SoundTools::Error;
    const double g = outputGain.load(std::memory_order_relaxed);
    const double* taps = coeffs.data();
    const SoundTools::StereoFrame<double>* work = mWork.data();
    const int frames = int(count);
    // L multiply-adds per channel per frame; frames are independent, so the
    // result does not depend on how they are shared among threads.
    // Four output frames per pass over the taps: each tap is loaded once for
    // four frames and the four sums grow independently. Left and right go
    // side by side; every sum is still taken tap by tap from the first, so
    // the result is the same whatever the grouping or the thread.
    const int groups = (frames + 3) / 4;
#pragma omp parallel
    {
        TULV_PARALLEL_ENTER();
#pragma omp for schedule(static)
        for (int q = 0; q < groups; ++q) {
            const int j0 = 4 * q;
            const int n = std::min(4, frames - j0);
            const SoundTools::StereoFrame<double>* x = work + j0;
            Pair acc[4] = { { 0.0, 0.0 }, { 0.0, 0.0 }, { 0.0, 0.0 }, { 0.0, 0.0 } };
            if (n == 4) {
                for (unsigned int k = 0; k < L; ++k) {
                    const Pair t = { taps[k], taps[k] };
                    acc[0] += t * load(x + k);
                    acc[1] += t * load(x + k + 1);
                    acc[2] += t * load(x + k + 2);
                    acc[3] += t * load(x + k + 3);
                }
            } else {
                for (int m = 0; m < n; ++m)
                    for (unsigned int k = 0; k < L; ++k)
                        acc[m] += Pair { taps[k], taps[k] } * load(x + k + m);
            }
            for (int m = 0; m < n; ++m) {
                out[j0 + m].left = g * acc[m][0];
                out[j0 + m].right = g * acc[m][1];
            }
        }
        TULV_PARALLEL_LEAVE();
    }
    TULV_PARALLEL_JOINED();
    return SoundTools::Ok;
}
