#include "tulv/core/SoundAlgoElementary.h"

#include "tulv/core/ThreadAnnotations.h"

#include <cmath>
#include <cstring>

namespace {

// Elementary algorithms work on stereo frames of single doubles: a block of
// n frames is 2n contiguous values from its first frame on.
constexpr size_t kStereo = 2;

// Frames × inputs of a block below which the adder sums on the calling
// thread: about a tenth of a millisecond of work. The sum is bound by memory
// bandwidth, not arithmetic, so a second thread gains little, while waking
// and joining workers costs microseconds on an idle machine and whole
// scheduler time slices on a busy one.
constexpr size_t kParallelWork = 262144;

// The block's frames of `buffer` from absolute frame `first`, or null when
// the buffer does not reach back that far (a broken chain, reported by the
// buffer itself).
inline double* blockStart(const std::shared_ptr<SoundBuffer>& buffer, int first)
{
    return buffer ? buffer->getFrame(first) : nullptr;
}

// Output value = map(input value) for every channel of the `n` frames of the
// block, the input read from its origin and the output written from its own.
template <typename Map>
SoundTools::Status mapBlock(const std::shared_ptr<SoundBuffer>& in, int inFirst,
                            const std::shared_ptr<SoundBuffer>& out, int outFirst, unsigned int n, Map map)
{
    if (n == 0)
        return SoundTools::Ok;
    const double* source = blockStart(in, inFirst);
    double* target = blockStart(out, outFirst);
    if (!source || !target)
        return SoundTools::Error;
    const size_t values = kStereo * size_t(n);
    for (size_t v = 0; v < values; ++v)
        target[v] = map(source[v]);
    return SoundTools::Ok;
}

} // namespace

// ---------------------------------------------------------------- Multi

SoundAlgoMulti::SoundAlgoMulti(int inputNumber, bool singleOutput)
    : mInputNumber(inputNumber > 0 ? static_cast<unsigned int>(inputNumber) : 0)
    , mSingleOutput(singleOutput)
{
}

SoundAlgoMulti::~SoundAlgoMulti() = default;

SoundTools::Status SoundAlgoMulti::passOtherInputs(unsigned int frames)
{
    if (mSingleOutput || frames == 0)
        return SoundTools::Ok;
    const int inFirst = getInOrigin();
    const int outFirst = getOutOrigin();
    for (unsigned int i = 1; i < mInputNumber; ++i) {
        const double* source = blockStart(mInBuffers[i], inFirst);
        double* target = blockStart(mOutBuffers[i], outFirst);
        if (!source || !target)
            return SoundTools::Error;
        std::memmove(target, source, sizeof(double) * kStereo * frames);
    }
    return SoundTools::Ok;
}

// ---------------------------------------------------------------- Add

SoundAlgoAdd::SoundAlgoAdd(int inputNumber, bool singleOutput, const double* weights)
    : SoundAlgoMulti(inputNumber, singleOutput)
    , mWeights(mInputNumber, 1.0)
    , mInputs(mInputNumber, nullptr)
{
    if (weights)
        mWeights.assign(weights, weights + mInputNumber);
}

SoundAlgoAdd::~SoundAlgoAdd() = default;

bool SoundAlgoAdd::gatherPorts()
{
    const int inFirst = getInOrigin();
    for (unsigned int i = 0; i < mInputNumber; ++i) {
        mInputs[i] = blockStart(mInBuffers[i], inFirst);
        if (!mInputs[i])
            return false;
    }
    return blockStart(mOutBuffers[0], getOutOrigin()) != nullptr;
}

SoundTools::Status SoundAlgoAdd::process()
{
    const unsigned int n = getOutFrameNb();
    if (n == 0 || mInputNumber == 0)
        return SoundTools::Ok;
    if (!gatherPorts())
        return SoundTools::Error;
    double* out = mOutBuffers[0]->getFrame(getOutOrigin());
    const size_t values = kStereo * n;

    if (mInputNumber == 2 && mSingleOutput && mWeights[0] == 1.0 && mWeights[1] == 1.0) {
        const double* __restrict a = mInputs[0];
        const double* __restrict b = mInputs[1];
        double* __restrict sum = out;
        // Each value is its own sum, so whole vectors at a time give the
        // same bits; without `__restrict` the compiler would not risk it for
        // fear that the output overlaps an input.
#pragma omp simd
        for (size_t v = 0; v < values; ++v)
            sum[v] = a[v] + b[v];
        return SoundTools::Ok;
    }

    // Each frame is summed by one thread, inputs always in the same order, so
    // the result does not depend on the number of threads. Cost per frame:
    // two multiply-adds per input, a fraction of a nanosecond each; waking
    // the workers costs microseconds, so a block shares its frames out only
    // when it holds enough work to win that back.
    const double* const* inputs = mInputs.data();
    const double* weights = mWeights.data();
    const int inputCount = static_cast<int>(mInputNumber);
    const int frames = static_cast<int>(n);
    const bool worthThreads = size_t(n) * mInputNumber >= kParallelWork;
#pragma omp parallel if (worthThreads)
    {
        TULV_PARALLEL_ENTER();
#pragma omp for schedule(static)
        for (int f = 0; f < frames; ++f) {
            const size_t at = kStereo * static_cast<size_t>(f);
            double left = 0.0;
            double right = 0.0;
            for (int i = 0; i < inputCount; ++i) {
                left += weights[i] * inputs[i][at];
                right += weights[i] * inputs[i][at + 1];
            }
            out[at] = left;
            out[at + 1] = right;
        }
        TULV_PARALLEL_LEAVE();
    }
    TULV_PARALLEL_JOINED();
    return passOtherInputs(n);
}

// ---------------------------------------------------------------- AddSqr

SoundAlgoAddSqr::SoundAlgoAddSqr(int inputNumber, bool singleOutput, const double* weights)
    : SoundAlgoAdd(inputNumber, singleOutput, weights)
{
}

SoundAlgoAddSqr::~SoundAlgoAddSqr() = default;

SoundTools::Status SoundAlgoAddSqr::process()
{
    const unsigned int n = getOutFrameNb();
    if (n == 0 || mInputNumber == 0)
        return SoundTools::Ok;
    if (!gatherPorts())
        return SoundTools::Error;
    double* out = mOutBuffers[0]->getFrame(getOutOrigin());
    const size_t values = kStereo * n;
    for (size_t v = 0; v < values; ++v) {
        double sum = 0.0;
        for (unsigned int i = 0; i < mInputNumber; ++i) {
            const double x = mWeights[i] * mInputs[i][v];
            sum += x * x;
        }
        out[v] = std::sqrt(sum);
    }
    return passOtherInputs(n);
}

// ---------------------------------------------------------------- Sub

SoundAlgoSub::SoundAlgoSub(int inputNumber, bool singleOutput)
    : SoundAlgoMulti(inputNumber, singleOutput)
{
}

SoundAlgoSub::~SoundAlgoSub() = default;

SoundTools::Status SoundAlgoSub::process()
{
    const unsigned int n = getOutFrameNb();
    if (n == 0 || mInputNumber == 0)
        return SoundTools::Ok;
    const int inFirst = getInOrigin();
    double* out = blockStart(mOutBuffers[0], getOutOrigin());
    const double* first = blockStart(mInBuffers[0], inFirst);
    if (!out || !first)
        return SoundTools::Error;
    const size_t values = kStereo * n;
    if (mInputNumber == 2 && mSingleOutput) {
        const double* second = blockStart(mInBuffers[1], inFirst);
        if (!second)
            return SoundTools::Error;
        for (size_t v = 0; v < values; ++v)
            out[v] = first[v] - second[v];
        return SoundTools::Ok;
    }
    if (out != first)
        std::memmove(out, first, sizeof(double) * values);
    for (unsigned int i = 1; i < mInputNumber; ++i) {
        const double* x = blockStart(mInBuffers[i], inFirst);
        if (!x)
            return SoundTools::Error;
        for (size_t v = 0; v < values; ++v)
            out[v] -= x[v];
    }
    return passOtherInputs(n);
}

// ---------------------------------------------------------------- SelectChannel

SoundAlgoSelectChannel::SoundAlgoSelectChannel(int port, int inputNumber)
    : SoundAlgoMulti(inputNumber, true)
    , mPort(port)
{
}

SoundAlgoSelectChannel::~SoundAlgoSelectChannel() = default;

SoundTools::Status SoundAlgoSelectChannel::initOutputBuffer(const LoopContext& /*context*/)
{
    if (mPort < 0 || static_cast<unsigned int>(mPort) >= mInBuffers.size() || !mInBuffers[mPort]) {
        setError(QStringLiteral("input %1 of %2 inputs cannot be selected").arg(mPort).arg(mInBuffers.size()),
                 "SoundAlgoSelectChannel::initOutputBuffer");
        return SoundTools::Error;
    }
    mOutBuffers.assign(1, mInBuffers[mPort]);
    return SoundTools::Ok;
}

SoundTools::Status SoundAlgoSelectChannel::process()
{
    return SoundTools::Ok;
}

// ---------------------------------------------------------------- Abs

SoundAlgoAbs::SoundAlgoAbs(bool addSignal, double factor)
    : mFactor(factor)
    , mAddSignal(addSignal)
{
}

SoundAlgoAbs::~SoundAlgoAbs() = default;

SoundTools::Status SoundAlgoAbs::process()
{
    if (mAddSignal) {
        const double factor = mFactor;
        return mapBlock(mInBuffers[0], getInOrigin(), mOutBuffers[0], getOutOrigin(), getOutFrameNb(),
                        [factor](double x) { return x + factor * std::fabs(x); });
    }
    return mapBlock(mInBuffers[0], getInOrigin(), mOutBuffers[0], getOutOrigin(), getOutFrameNb(),
                    [](double x) { return std::fabs(x); });
}

// ---------------------------------------------------------------- Scale

SoundAlgoScale::SoundAlgoScale(double gainDb)
    : mFactor(std::pow(10.0, gainDb / 20.0))
{
}

SoundAlgoScale::~SoundAlgoScale() = default;

SoundTools::Status SoundAlgoScale::process()
{
    const double factor = mFactor;
    return mapBlock(mInBuffers[0], getInOrigin(), mOutBuffers[0], getOutOrigin(), getOutFrameNb(),
                    [factor](double x) { return factor * x; });
}

// ---------------------------------------------------------------- Bypass

SoundAlgoBypass::SoundAlgoBypass()
    : SoundAlgoBypass(0, 0, 0)
{
}

SoundAlgoBypass::SoundAlgoBypass(unsigned int inOverlap, unsigned int delay, unsigned int outOverlap)
    : mInOverlap(inOverlap)
    , mOutOverlap(outOverlap)
    , mDelay(delay)
{
}

SoundAlgoBypass::~SoundAlgoBypass() = default;

SoundTools::Status SoundAlgoBypass::process()
{
    if (mInBuffers.size() != mOutBuffers.size())
        return SoundTools::Error;
    const unsigned int n = getOutFrameNb();
    // The first mOutOverlap output frames were completed by the block before
    // and are held back, not recomputed: the copy starts after them, so that
    // output frame t is input frame t − delay and the declared delay is the
    // true one.
    if (n <= mOutOverlap)
        return SoundTools::Ok;
    const unsigned int frames = n - mOutOverlap;
    const int inFirst = getInOrigin();
    const int outFirst = getOutOrigin() + static_cast<int>(mOutOverlap);
    for (size_t port = 0; port < mInBuffers.size(); ++port) {
        const double* in = blockStart(mInBuffers[port], inFirst);
        double* out = blockStart(mOutBuffers[port], outFirst);
        if (!in || !out)
            return SoundTools::Error;
        std::memmove(out, in, sizeof(double) * kStereo * frames);
    }
    return SoundTools::Ok;
}

// ---------------------------------------------------------------- Delay

SoundAlgoDelay::SoundAlgoDelay(double seconds, bool asOverlap)
    : mSeconds(seconds)
    , mAsOverlap(asOverlap)
{
}

SoundAlgoDelay::~SoundAlgoDelay() = default;

unsigned int SoundAlgoDelay::frames(unsigned int sampleRate) const
{
    const double d = std::floor(sampleRate * mSeconds + 0.5);
    return d > 0 ? static_cast<unsigned int>(d) : 0;
}

unsigned int SoundAlgoDelay::getDelay(unsigned int sampleRate) const
{
    return mAsOverlap ? 0 : frames(sampleRate);
}

unsigned int SoundAlgoDelay::getOutOverlap(unsigned int sampleRate) const
{
    return mAsOverlap ? frames(sampleRate) : 0;
}

unsigned int SoundAlgoDelay::getSampleShift(unsigned int sampleRate) const
{
    return mAsOverlap ? frames(sampleRate) : 0;
}

SoundTools::Status SoundAlgoDelay::process()
{
    const unsigned int n = getOutFrameNb();
    // As a true delay the shift is in the geometry (the output origin is d
    // frames after the input's) and the frames are copied as they are; as an
    // overlap the first d output frames are the previous block's tail.
    const unsigned int held = mAsOverlap ? frames(mSampleRate) : 0;
    if (n <= held)
        return SoundTools::Ok;
    const double* in = blockStart(mInBuffers[0], getInOrigin());
    double* out = blockStart(mOutBuffers[0], getOutOrigin() + static_cast<int>(held));
    if (!in || !out)
        return SoundTools::Error;
    std::memmove(out, in, sizeof(double) * kStereo * (n - held));
    return SoundTools::Ok;
}
