#include "tulv/spectral/SoundAlgoFFT.h"

#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/spectral/SoundFFTAutocorrel.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <ostream>

namespace {

bool isPowerOfTwo(unsigned int n)
{
    return n >= 2 && (n & (n - 1)) == 0;
}

} // namespace

// ---------------------------------------------------------------- SoundAlgoFFT

SoundAlgoFFT::SoundAlgoFFT() = default;

SoundAlgoFFT::SoundAlgoFFT(unsigned int size, bool overlap)
    : fftSize(size)
    , overlap(overlap)
{
}

SoundAlgoFFT::~SoundAlgoFFT() = default;

unsigned int SoundAlgoFFT::FFTFrame2frame(unsigned int i) const
{
    return overlap ? i * (fftSize / 2) : i * fftSize;
}

unsigned int SoundAlgoFFT::frame2FFTFrame(unsigned int f) const
{
    if (fftSize == 0)
        return 0;
    if (!overlap)
        return f / fftSize;
    const unsigned int halves = 2 * f / fftSize;
    return halves == 0 ? 0 : halves - 1;
}

void SoundAlgoFFT::writeToJSon(QJsonObject& object) const
{
    object.insert(QStringLiteral("Size"), static_cast<int>(fftSize));
    object.insert(QStringLiteral("Overlap"), overlap);
    object.insert(QStringLiteral("SampleRate"), static_cast<int>(mSampleRate));
}

bool SoundAlgoFFT::readFromJSon(QJsonObject& object)
{
    const QJsonValue size = object.value(QStringLiteral("Size"));
    if (size.isDouble())
        fftSize = size.toInt() > 0 ? static_cast<unsigned int>(size.toInt()) : 0;
    const QJsonValue ov = object.value(QStringLiteral("Overlap"));
    if (ov.isBool())
        overlap = ov.toBool();
    const QJsonValue rate = object.value(QStringLiteral("SampleRate"));
    if (rate.isDouble())
        mSampleRate = rate.toInt() > 0 ? static_cast<unsigned int>(rate.toInt()) : 0;
    // Only a power of two can be transformed: a document saying otherwise is
    // damaged, and running it would address past the engine's tables.
    return isPowerOfTwo(fftSize) && mSampleRate != 0;
}

SoundAlgoFFT* SoundAlgoFFT::upstreamFFT() const
{
    // Through composites: a spectral stream may come out of a chain or of
    // branches, whose last member made it.
    SoundAlgo* upstream = mPrevious;
    while (auto* composite = dynamic_cast<SoundAlgoComposite*>(upstream))
        upstream = composite->getLastAlgo();
    return dynamic_cast<SoundAlgoFFT*>(upstream);
}

int SoundAlgoFFT::upstreamReadyEnd(int otherwise) const
{
    const SoundAlgoFFT* upstream = upstreamFFT();
    return upstream ? upstream->readyEnd : otherwise;
}

SoundTools::Status SoundAlgoFFT::initInputBuffer(const LoopContext& context)
{
    if (!mPrevious) {
        setError(getName() + QStringLiteral(" reads spectra and needs an algorithm before it"),
                 "SoundAlgoFFT::initInputBuffer");
        return SoundTools::Error;
    }
    const std::shared_ptr<SoundBuffer> upstreamOut = mPrevious->getOutBuffer(0);
    const unsigned int bins = upstreamOut ? upstreamOut->getFrameSize() : 0;
    fftSize = bins >= 2 ? 2 * bins - 2 : 0;
    if (const SoundAlgoFFT* upstream = upstreamFFT())
        overlap = upstream->overlap;
    const SoundTools::Status status = SoundAlgo::initInputBuffer(context);
    if (status != SoundTools::Ok)
        return status;
    return onInitInputBuffer();
}

SoundTools::Status SoundAlgoFFT::initOutputBuffer(const LoopContext& context)
{
    if (mInBuffers.empty() || !mInBuffers[0])
        return SoundTools::Error;
    mOutBuffers[0] = SoundBuffer::createNew(context.sampleRate);
    mOutBuffers[0]->alloc(mInBuffers[0]->getFrameNBAllocated(), 2, getFFTSampleSize(), 2);
    return SoundTools::Ok;
}

void SoundAlgoFFT::setOutOrigin()
{
    readyEnd = upstreamReadyEnd(getInOrigin());
    origin = getInOrigin();
    for (auto& buffer : mOutBuffers) {
        buffer->setOrigin(origin);
        buffer->setStartOffset(getOffset());
        buffer->setFrameNB(0);
    }
}

void SoundAlgoFFT::updateOutput(unsigned int /*advance*/)
{
    readyEnd = upstreamReadyEnd(readyEnd);
    // Spectra are made anew every block: nothing carries over.
    for (auto& buffer : mOutBuffers)
        buffer->setFrameNB(0);
}

unsigned int SoundAlgoFFT::beginSpectralBlock()
{
    const std::shared_ptr<SoundBuffer>& in = mInBuffers[0];
    const unsigned int n = in->getFrameNB();
    updateOrigin();
    for (auto& buffer : mOutBuffers) {
        buffer->setFrameNB(n);
        buffer->setOrigin(origin);
    }
    return n;
}

// ---------------------------------------------------------------- direct

SoundAlgoFFTDirectCompute::SoundAlgoFFTDirectCompute(unsigned int size, bool overlap, bool window)
    : SoundAlgoFFT(size, overlap)
{
    unsigned int p = 1;
    while (p < size)
        p *= 2;
    // The largest power of two not above the request: a block never reaches
    // further than the caller asked. Two is the least that transforms.
    fftSize = std::max(p == size ? p : p / 2, 2u);
    if (fftSize != size)
        getOStream() << "FFT Size rounded to power of 2 (" << fftSize << " vs " << size << ")" << std::endl;
    engine.setSize(static_cast<int>(fftSize));
    if (window) {
        const unsigned int w = overlap ? fftSize / 2 : fftSize;
        this->window.resize(w);
        for (unsigned int j = 0; j < w; ++j)
            this->window[j] = (1.0 - std::cos(2.0 * M_PI * j / w)) * 0.5;
    }
}

SoundAlgoFFTDirectCompute::~SoundAlgoFFTDirectCompute() = default;

unsigned int SoundAlgoFFTDirectCompute::getInOverlap(unsigned int /*sampleRate*/) const
{
    return getHop();
}

unsigned int SoundAlgoFFTDirectCompute::getSampleShift(unsigned int /*sampleRate*/) const
{
    return fftSize;
}

SoundTools::Status SoundAlgoFFTDirectCompute::initInputBuffer(const LoopContext& context)
{
    if (!isPowerOfTwo(fftSize)) {
        setError(QStringLiteral("transform size %1 is not a power of two").arg(fftSize),
                 "SoundAlgoFFTDirectCompute::initInputBuffer");
        return SoundTools::Error;
    }
    engine.setSize(static_cast<int>(fftSize));
    if (!window.empty() && window.size() != getHop()) {
        // The size or block mode changed since construction (a JSON document).
        const unsigned int w = getHop();
        window.resize(w);
        for (unsigned int j = 0; j < w; ++j)
            window[j] = (1.0 - std::cos(2.0 * M_PI * j / w)) * 0.5;
    }
    // Zero beyond the transformed frames, once: only the first half is
    // written with overlap.
    scratch.assign(2 * size_t(fftSize), 0.0);
    // A source that miscounts its frames costs only time: past this point
    // silent hops are the flush, any other is still transformed.
    streamEnd = context.startFrame + static_cast<int>(context.frameNBToProcess);
    return SoundAlgo::initInputBuffer(context);
}

SoundTools::Status SoundAlgoFFTDirectCompute::initOutputBuffer(const LoopContext& context)
{
    if (mInBuffers.empty() || !mInBuffers[0])
        return SoundTools::Error;
    mOutBuffers[0] = SoundBuffer::createNew(mSampleRate);
    mOutBuffers[0]->alloc(mInBuffers[0]->getFrameNBAllocated() / getHop() + 2, 2, getFFTSampleSize(), 2);
    (void)context;
    return SoundTools::Ok;
}

void SoundAlgoFFTDirectCompute::updateOutput(unsigned int advance)
{
    // The input of the block is in place: what the block will complete is
    // known before anything runs.
    readyEnd = getInOrigin() + static_cast<int>(getInFrameNb()) - static_cast<int>(getHop());
    SoundAlgoFFT::updateOutput(advance);
}

void SoundAlgoFFTDirectCompute::setOutOrigin()
{
    nextHop = getInOrigin();
    SoundAlgoFFT::setOutOrigin();
    readyEnd = nextHop;
}

bool SoundAlgoFFTDirectCompute::isFlush(const double* frames, int at) const
{
    if (at < streamEnd)
        return false;
    const size_t values = 2 * size_t(getHop());
    for (size_t j = 0; j < values; ++j)
        if (frames[j] != 0.0)
            return false;
    return true;
}

SoundTools::Status SoundAlgoFFTDirectCompute::process()
{
    const std::shared_ptr<SoundBuffer>& in = mInBuffers[0];
    const std::shared_ptr<SoundBuffer>& out = mOutBuffers[0];
    const int inEnd = getInOrigin() + static_cast<int>(getInFrameNb());
    const int hop = static_cast<int>(getHop());
    // Every complete hop not transformed yet; the frames of an incomplete
    // one stay in the input overlap until the next block completes them.
    // Hops of silence after the end of the stream (the flush) are not
    // transformed: downstream they are the same as no spectrum at all, and
    // a measurement must not count them.
    const int complete = nextHop + hop <= inEnd ? (inEnd - nextHop) / hop : 0;
    int count = complete;
    while (count > 0 && isFlush(in->getFrame(nextHop + (count - 1) * hop), nextHop + (count - 1) * hop))
        --count;
    origin = nextHop;
    out->setOrigin(origin);
    out->setFrameNB(static_cast<unsigned int>(count));
    const size_t halfValues = size_t(fftSize); // N/2 stereo frames
    // Per spectral frame: one copy (times the window) and one transform of
    // N log2 N.
    for (int i = 0; i < count; ++i, nextHop += hop) {
        const double* src = in->getFrame(nextHop);
        double* spectrum = out->getRelFrame(i);
        if (overlap) {
            if (window.empty())
                std::memcpy(scratch.data(), src, sizeof(double) * halfValues);
            else
                for (size_t j = 0; j < halfValues; ++j)
                    scratch[j] = src[j] * window[j / 2];
            engine.forwardStereo(scratch.data(), spectrum);
        } else if (window.empty()) {
            engine.forwardStereo(src, spectrum);
        } else {
            for (size_t j = 0; j < 2 * halfValues; ++j)
                scratch[j] = src[j] * window[j / 2];
            engine.forwardStereo(scratch.data(), spectrum);
        }
    }
    // Flush hops are passed over: the next block starts after them.
    nextHop += (complete - count) * hop;
    return SoundTools::Ok;
}

// ---------------------------------------------------------------- inverse

SoundAlgoFFTInverseCompute::SoundAlgoFFTInverseCompute(bool off)
    : mode(off ? -1 : 0)
{
}

SoundAlgoFFTInverseCompute::~SoundAlgoFFTInverseCompute() = default;

SoundTools::Status SoundAlgoFFTInverseCompute::onInitInputBuffer()
{
    if (mode == -1)
        return SoundTools::Ok;
    if (!isPowerOfTwo(fftSize))
        return SoundTools::Error;
    engine.setSize(static_cast<int>(fftSize));
    if (dynamic_cast<SoundFFTAutocorrel*>(upstreamFFT()))
        mode = 2;
    else
        mode = overlap ? 1 : 0;
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgoFFTInverseCompute::initOutputBuffer(const LoopContext& context)
{
    if (mInBuffers.empty() || !mInBuffers[0])
        return SoundTools::Error;
    const unsigned int frames = FFTFrame2frame(mInBuffers[0]->getFrameNBAllocated());
    mOutBuffers[0] = SoundBuffer::createNew(context.sampleRate);
    mOutBuffers[0]->alloc(getOutBufferOverlap(context.sampleRate) + frames, 2, 1, 1);
    tail.assign(2 * size_t(fftSize), 0.0);
    // What a block computes beyond its window, and the window's own frames.
    pending.reserve(2 * (size_t(frames) + getOutBufferOverlap(context.sampleRate) + 2 * fftSize));
    return SoundTools::Ok;
}

void SoundAlgoFFTInverseCompute::setOutOrigin()
{
    SoundAlgoFFT::setOutOrigin();
    // The stream starts where the direct transform's first block starts;
    // the frames of context owed to the next algorithm before it are silence.
    const unsigned int context = getOutBufferOverlap(mSampleRate);
    outStart = readyEnd - static_cast<int>(context);
    pendingStart = outStart;
    pending.assign(2 * size_t(context), 0.0);
    std::fill(tail.begin(), tail.end(), 0.0);
    for (auto& buffer : mOutBuffers) {
        buffer->setOrigin(outStart);
        buffer->setFrameNB(0);
    }
}

void SoundAlgoFFTInverseCompute::updateOutput(unsigned int advance)
{
    // Sized before any algorithm of the block runs, as the algorithms after
    // this one size their outputs from it.
    outStart += static_cast<int>(advance);
    readyEnd = upstreamReadyEnd(readyEnd);
    mOutBuffers[0]->setOrigin(outStart);
    mOutBuffers[0]->setFrameNB(mode == -1 ? 0 : static_cast<unsigned int>(std::max(readyEnd - outStart, 0)));
}

void SoundAlgoFFTInverseCompute::flushTo(int end)
{
    // Whole hops, as silent spectra would give: with overlap-add the second
    // half of the last result, then nothing.
    const size_t half = fftSize / 2;
    const size_t hop = getHop();
    while (pendingStart + static_cast<int>(pending.size() / 2) < end) {
        const size_t first = pending.size() / 2;
        pending.resize(2 * (first + hop), 0.0);
        if (mode == 1) {
            std::memcpy(pending.data() + 2 * first, tail.data() + 2 * half, sizeof(double) * 2 * half);
            std::fill(tail.begin(), tail.end(), 0.0);
        }
    }
}

void SoundAlgoFFTInverseCompute::inverseOne(const double* spectrum, int at)
{
    flushTo(at);
    const size_t n = fftSize;
    const size_t half = n / 2;
    const size_t hop = getHop();
    if (at < pendingStart)
        return; // before the stream this run delivers: nothing asks for it
    const size_t first = size_t(at - pendingStart);
    if (pending.size() < 2 * (first + hop))
        pending.resize(2 * (first + hop), 0.0);
    double* out = pending.data() + 2 * first;
    switch (mode) {
    case 0:
        engine.inverseStereo(spectrum, out);
        break;
    case 1:
        // The second half of the block before, plus the first half of this.
        std::memcpy(out, tail.data() + 2 * half, sizeof(double) * 2 * half);
        engine.inverseStereo(spectrum, tail.data());
        for (size_t j = 0; j < 2 * half; ++j)
            out[j] += tail[j];
        break;
    case 2:
        engine.inverseStereo(spectrum, tail.data());
        // Lag j sums N/2 − j products; the longest lags average too few of
        // them to mean anything, so their divisor stops at 50.
        for (size_t j = 0; j < half; ++j) {
            const double d = half - j >= 51 ? double(half - j) : 50.0;
            out[2 * j] = tail[2 * j] / d;
            out[2 * j + 1] = tail[2 * j + 1] / d;
        }
        std::fill(out + 2 * half, out + 2 * hop, 0.0);
        break;
    default:
        break;
    }
}

SoundTools::Status SoundAlgoFFTInverseCompute::process()
{
    const std::shared_ptr<SoundBuffer>& in = mInBuffers[0];
    const std::shared_ptr<SoundBuffer>& out = mOutBuffers[0];
    origin = in->getOrigin();
    if (mode == -1)
        return SoundTools::Ok;
    const unsigned int count = in->getFrameNB();
    const int hop = static_cast<int>(getHop());
    for (unsigned int i = 0; i < count; ++i)
        inverseOne(in->getRelFrame(static_cast<int>(i)), origin + static_cast<int>(i) * hop);

    // The window of this block: from outStart to readyEnd. Everything in it
    // has been computed (the direct transform keeps at most one hop back),
    // except after the end of the stream, where no spectrum comes.
    flushTo(readyEnd);
    const int frames = std::max(readyEnd - outStart, 0);
    out->setOrigin(outStart);
    out->setFrameNB(static_cast<unsigned int>(frames));
    const int available = static_cast<int>(pending.size() / 2);
    for (int t = 0; t < frames; ++t) {
        const int p = outStart + t - pendingStart;
        double* frame = out->getRelFrame(t);
        if (p >= 0 && p < available) {
            frame[0] = pending[2 * size_t(p)];
            frame[1] = pending[2 * size_t(p) + 1];
        } else {
            frame[0] = frame[1] = 0.0;
        }
    }
    // The next window starts where this one ends, less the context the next
    // algorithm reads again.
    const int keepFrom = readyEnd - static_cast<int>(getOutBufferOverlap(mSampleRate));
    const int drop = std::min(std::max(keepFrom - pendingStart, 0), available);
    if (drop > 0) {
        pending.erase(pending.begin(), pending.begin() + 2 * drop);
        pendingStart += drop;
    }
    return SoundTools::Ok;
}
