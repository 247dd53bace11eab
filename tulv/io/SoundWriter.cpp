#include "tulv/io/SoundWriter.h"

#include "tulv/io/SoundReader.h"
#include "tulv/io/SoundWriterMp3.h"
#include "tulv/io/SoundWriterSndfile.h"


#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>

SoundTools::Status SoundWriter::writeBuffer(std::shared_ptr<SoundBuffer> buffer, unsigned int tail)
{
    int from = buffer->getStartPoint();
    if (from > mRangeEnd)
        return SoundTools::Ok;
    // A block that starts after the next frame due is written straight after
    // the last frame written: the output has no gap. A block that starts
    // before it skips the frames already written.
    if (from - mRangeStart > mCurrentOffset)
        mRangeStart = from - mCurrentOffset;
    else
        from = mRangeStart + mCurrentOffset;
    if (from > mRangeEnd)
        return SoundTools::Ok;
    if (buffer->getSampleRate() != mSampleRate) {
        setError(QStringLiteral("SoundWriter::WriteBuffer : Samplerate conversion not implemented"), nullptr);
        return SoundTools::Error;
    }
    // Stereo blocks go to mono or stereo outputs; an output of no channels
    // (an MP3 writer without its encoder) takes nothing.
    if (getChannelNum() < 1 || getChannelNum() > 2 || buffer->getChannelNum() < 1 || buffer->getChannelNum() > 2) {
        setError(QStringLiteral("SoundWriter::WriteBuffer : Incorrect number of channels"), nullptr);
        return SoundTools::Error;
    }
    long long count = (long long)buffer->getOrigin() + buffer->getFrameNB() - from - tail;
    if (from + count > mRangeEnd)
        count = (long long)mRangeEnd - from;
    if (count <= 0)
        return SoundTools::Ok;
    const unsigned int n = writeFrames(static_cast<unsigned int>(count), buffer->getFrame(from), buffer->getChannelNum());
    mCurrentOffset += static_cast<int>(n);
    return n == count ? SoundTools::Ok : SoundTools::Error;
}

namespace {

// Rounds to the nearest integer, ties to even, as nearbyint does in the
// default rounding mode, for |x| below 2^51 (an integer sample is far below):
// adding and taking away 1.5 * 2^52 leaves no fraction. Inline, where
// nearbyint is a library call per sample.
inline double roundToStep(double x)
{
    constexpr double kShift = 6755399441055744.0;
    return (x + kShift) - kShift;
}

} // namespace

template <typename Out, bool Integer, bool Dither>
void SoundWriter::convertSamples(const double* in, size_t samples, unsigned int width, Out* out, double outScale)
{
    // One step of the last bit of a 16- or 8-bit output, full scale 1.0.
    const double step = Dither ? std::ldexp(1.0, 1 - mIntegerBits) : 0.0;
    const double noiseScale = step / 4294967296.0;
    // Integer outputs saturate one step below +1.0, where the largest code
    // lies, and at -1.0, and are rounded to the nearest step here: the
    // encoders would otherwise round towards minus infinity (a DC offset of
    // half a step and twice the rounding noise).
    const double steps = Integer ? std::ldexp(1.0, mIntegerBits - 1) : 0.0;
    const double top = Integer ? 1.0 - 1.0 / steps : 0.0;
    if (Integer && !Dither) {
        // Nearly every block lies within full scale. Counting the samples
        // beyond it on their bits (|v| > 1.0, infinities and NaNs have the
        // larger magnitude bits) and then converting without a branch both
        // vectorise, where the checked loop below costs about 1 ns a sample.
        // The samples come out the same.
        constexpr quint64 kMagnitude = 0x7fffffffffffffffull;
        constexpr quint64 kAboveOne = kMagnitude - 0x3ff0000000000000ull; // bit 63 set once past 1.0
        quint64 outside = 0;
#pragma omp simd reduction(+ : outside)
        for (size_t i = 0; i < samples; ++i) {
            quint64 bits;
            std::memcpy(&bits, in + i, sizeof bits);
            outside += ((bits & kMagnitude) + kAboveOne) >> 63;
        }
        if (outside == 0) {
#pragma omp simd
            for (size_t i = 0; i < samples; ++i) {
                const double v = roundToStep(std::min(top, in[i]) * steps) * outScale;
                // Through int, which the vector units convert to directly.
                if constexpr (std::is_integral_v<Out>)
                    out[i] = static_cast<Out>(static_cast<int>(v));
                else
                    out[i] = static_cast<Out>(v);
            }
            return;
        }
    }
    quint32 noiseState = mNoise;
    auto noise = [&noiseState]() {
        noiseState ^= noiseState << 13;
        noiseState ^= noiseState >> 17;
        noiseState ^= noiseState << 5;
        return double(noiseState);
    };
    // Per sample: one range test, a multiply, a clamp and a rounding; two
    // noise draws when dithering. Samples out of range take the slow branch.
    for (size_t i = 0; i < samples; ++i) {
        double v = in[i];
        if (!(v >= -1.0 && v <= 1.0)) {
            if (!std::isfinite(v)) {
                if (mFirstNonFiniteFrame < 0)
                    mFirstNonFiniteFrame = (long long)mCurrentOffset + (long long)(i / width);
                ++mNonFiniteSamples;
                v = 0.0;
            } else if (Integer) {
                ++mClippedSamples;
            }
        }
        if (Dither)
            v += (noise() - noise()) * noiseScale;
        if (Integer)
            v = roundToStep(std::min(top, std::max(-1.0, v)) * steps) * outScale;
        out[i] = static_cast<Out>(v);
    }
    mNoise = noiseState;
}

template <typename Out>
void SoundWriter::convertSamples(const double* in, size_t samples, unsigned int width, Out* out, double outScale)
{
    const bool dither = mDither && (mIntegerBits == 16 || mIntegerBits == 8);
    if (!mIntegerBits)
        convertSamples<Out, false, false>(in, samples, width, out, outScale);
    else if (dither)
        convertSamples<Out, true, true>(in, samples, width, out, outScale);
    else
        convertSamples<Out, true, false>(in, samples, width, out, outScale);
}

unsigned int SoundWriter::writeFrames(unsigned int count, const double* frames, unsigned int channels)
{
    const unsigned int width = getChannelNum();
    if (count == 0 || width < 1 || width > 2 || channels < 1 || channels > 2)
        return 0;
    // The write of a forwarding writer only reads the frames.
    if (mForwarding && channels == width)
        return write(count, const_cast<double*>(frames));
    const size_t samples = size_t(count) * width;
    if (channels != width) {
        // Stereo to mono by the mean of the sides, mono to both sides.
        if (mMapped.size() < samples)
            mMapped.resize(samples);
        for (unsigned int i = 0; i < count; ++i) {
            if (channels == 2)
                mMapped[i] = 0.5 * (frames[2 * size_t(i)] + frames[2 * size_t(i) + 1]);
            else
                mMapped[2 * size_t(i)] = mMapped[2 * size_t(i) + 1] = frames[i];
        }
        frames = mMapped.data();
    }
    if (mDirectIntegers && mIntegerBits <= 16) {
        if (mShorts.size() < samples)
            mShorts.resize(samples);
        convertSamples(frames, samples, width, mShorts.data(), std::ldexp(1.0, 16 - mIntegerBits));
        return writeShorts(count, mShorts.data());
    }
    if (mDirectIntegers) {
        if (mInts.size() < samples)
            mInts.resize(samples);
        convertSamples(frames, samples, width, mInts.data(), std::ldexp(1.0, 32 - mIntegerBits));
        return writeInts(count, mInts.data());
    }
    if (mScratch.size() < samples)
        mScratch.resize(samples);
    // Steps are powers of two: multiplying by 1/steps is exact.
    convertSamples(frames, samples, width, mScratch.data(), mIntegerBits ? std::ldexp(1.0, 1 - mIntegerBits) : 1.0);
    return write(count, mScratch.data());
}

void SoundWriter::addCounts(const SoundWriter& other)
{
    mClippedSamples += other.mClippedSamples;
    if (other.mNonFiniteSamples && mFirstNonFiniteFrame < 0)
        mFirstNonFiniteFrame = other.mFirstNonFiniteFrame;
    mNonFiniteSamples += other.mNonFiniteSamples;
}

namespace {

struct Container {
    const char* extension;
    SoundWriterSndfile::FileType type;
};

const Container kContainers[] = {
    {"wav", SoundWriterSndfile::Wav},   {"flac", SoundWriterSndfile::Flac}, {"ogg", SoundWriterSndfile::Ogg},
    {"aiff", SoundWriterSndfile::Aiff}, {"aif", SoundWriterSndfile::Aiff},  {"raw", SoundWriterSndfile::Raw},
};

const Container* containerOf(const QString& fileName)
{
    const QString ext = SoundReader::getExtension(fileName);
    for (const Container& container : kContainers)
        if (ext == QLatin1String(container.extension))
            return &container;
    return nullptr;
}

} // namespace

SoundWriter* SoundWriter::getFromFilename(QString fileName, unsigned int sampleRate, unsigned int bitRate,
                                          SoundTools::SoundFormat format, unsigned int channels)
{
    if (fileName.isEmpty() || channels < 1 || channels > 2)
        return nullptr;
    if (SoundReader::getExtension(fileName) == QLatin1String("mp3"))
        return new SoundWriterMp3(sampleRate, channels, bitRate);
    const Container* container = containerOf(fileName);
    return container ? new SoundWriterSndfile(sampleRate, channels, format, container->type) : nullptr;
}

QStringList SoundWriter::writableExtensions()
{
    QStringList list;
    for (const Container& container : kContainers)
        list << QLatin1String(container.extension);
    list.insert(3, QStringLiteral("mp3"));
    return list;
}

std::vector<SoundTools::SoundFormat> SoundWriter::sampleFormats(QString fileName)
{
    const Container* container = containerOf(fileName);
    return container ? SoundWriterSndfile::sampleFormats(container->type) : std::vector<SoundTools::SoundFormat>();
}

bool SoundWriter::finishOutput(SoundOutputFile& output, bool keep, const QString& fileName)
{
    if (!keep) {
        output.discard();
        return true;
    }
    QString reason;
    if (!output.commit(reason)) {
        setError(QStringLiteral("cannot move the finished file to its name: ") + reason, fileName.toUtf8().constData());
        return false;
    }
    return true;
}
