#include "tulv/analysis/SoundAlgoLoudness.h"

#include <ebur128.h>

#include <algorithm>
#include <climits>
#include <cmath>

namespace {

double toDb(double linear)
{
    return linear > 0.0 ? 20.0 * std::log10(linear) : SoundAlgoLoudness::kSilence;
}

ebur128_state* meter(void* state)
{
    return static_cast<ebur128_state*>(state);
}

} // namespace

SoundAlgoLoudness::SoundAlgoLoudness(unsigned int channels)
    : mChannels(channels == 1 ? 1 : 2)
{
}

SoundAlgoLoudness::~SoundAlgoLoudness()
{
    freeState();
}

void SoundAlgoLoudness::freeState()
{
    ebur128_state* state = meter(mState);
    if (state)
        ebur128_destroy(&state);
    mState = nullptr;
}

SoundTools::Status SoundAlgoLoudness::initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next)
{
    freeState();
    mCount = 0;
    mIntegrated = mTruePeak = mSamplePeak = kSilence;
    mRange = 0.0;
    // A file of known length is measured exactly: libebur128 keeps one entry
    // per 100 ms gating block (a small allocation every few blocks of ours).
    // A live stream of unknown length gets the histogram instead, fixed in
    // size and allocation-free, at the price of 0.1 dB bins (up to 0.05 LU
    // off, which a user comparing meters on a file would notice).
    int mode = EBUR128_MODE_I | EBUR128_MODE_LRA | EBUR128_MODE_TRUE_PEAK;
    if (context.frameNBToProcess == 0)
        mode |= EBUR128_MODE_HISTOGRAM;
    mState = ebur128_init(mChannels, context.sampleRate, mode);
    if (!mState) {
        setError(QStringLiteral("%1 : no loudness meter for %2 channels at %3 Hz")
                     .arg(getName())
                     .arg(mChannels)
                     .arg(context.sampleRate),
                 "SoundAlgoLoudness::initProcess");
        return SoundTools::Error;
    }
    if (mChannels == 1)
        mMono.assign(std::max(context.bufferSize, 1024u), 0.0);
    mSourceBegin = context.startFrame;
    // A source of unknown length (a live queue) is measured to its end.
    mSourceEnd = context.frameNBToProcess == 0 ? LLONG_MAX : mSourceBegin + context.frameNBToProcess;
    return SoundAlgo::initProcess(context, previous, next);
}

SoundTools::Status SoundAlgoLoudness::process()
{
    const int first = getOutOrigin();
    const unsigned int n = std::min(getOutFrameNb(), getInFrameNb());
    if (n == 0)
        return SoundTools::Ok;
    const SoundTools::StereoFrame<double>* in = mInBuffers[0]->getStereoFrame(first);
    SoundTools::StereoFrame<double>* out = mOutBuffers[0]->getStereoFrame(first);
    if (!in || !out)
        return SoundTools::Error;
    std::copy(in, in + n, out);

    const long long from = std::max<long long>(0, mSourceBegin - first);
    const long long to = std::min<long long>(n, mSourceEnd - first);
    if (!mState || to <= from)
        return SoundTools::Ok;
    const size_t frames = static_cast<size_t>(to - from);
    mCount += frames;
    if (mChannels == 2) {
        // A stereo frame is two adjacent doubles: the block is already the
        // interleaved buffer the meter reads.
        ebur128_add_frames_double(meter(mState), &in[from].left, frames);
        return SoundTools::Ok;
    }
    for (size_t done = 0; done < frames;) {
        const size_t part = std::min(frames - done, mMono.size());
        for (size_t k = 0; k < part; ++k)
            mMono[k] = in[from + done + k].left;
        ebur128_add_frames_double(meter(mState), mMono.data(), part);
        done += part;
    }
    return SoundTools::Ok;
}

void SoundAlgoLoudness::endProcess(int status, unsigned int frameNBProcessed)
{
    if (ebur128_state* state = meter(mState)) {
        double value = 0.0;
        if (ebur128_loudness_global(state, &value) == EBUR128_SUCCESS && std::isfinite(value))
            mIntegrated = value;
        if (ebur128_loudness_range(state, &value) == EBUR128_SUCCESS && std::isfinite(value))
            mRange = value;
        double truePeak = 0.0;
        double samplePeak = 0.0;
        for (unsigned int c = 0; c < mChannels; ++c) {
            if (ebur128_true_peak(state, c, &value) == EBUR128_SUCCESS)
                truePeak = std::max(truePeak, value);
            if (ebur128_sample_peak(state, c, &value) == EBUR128_SUCCESS)
                samplePeak = std::max(samplePeak, value);
        }
        mTruePeak = toDb(truePeak);
        mSamplePeak = toDb(samplePeak);
        if (isVerbose() && status == SoundTools::Ok)
            getOStream() << "Loudness :\n\tIntegrated\t= " << mIntegrated << " LUFS\n\tRange\t= " << mRange
                         << " LU\n\tTrue peak\t= " << mTruePeak << " dBTP\n";
    }
    SoundAlgo::endProcess(status, frameNBProcessed);
}

double SoundAlgoLoudness::getIntegratedLoudness(const std::vector<const SoundAlgoLoudness*>& meters)
{
    std::vector<ebur128_state*> states;
    for (const SoundAlgoLoudness* one : meters)
        if (one && one->mState)
            states.push_back(meter(one->mState));
    double value = kSilence;
    if (states.empty() || ebur128_loudness_global_multiple(states.data(), states.size(), &value) != EBUR128_SUCCESS
        || !std::isfinite(value))
        return kSilence;
    return value;
}
