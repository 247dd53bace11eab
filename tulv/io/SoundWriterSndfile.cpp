#include "tulv/io/SoundWriterSndfile.h"

#include "tulv/io/SoundReaderSndfile.h"
#include "tulv/io/SoundTags.h"

#include <QFile>

#include <sndfile.h>

#include <algorithm>
#include <cstring>

namespace {

// Ogg Vorbis is handed at most one second at 44.1 kHz per call: libsndfile
// encodes a whole call's frames in one analysis buffer.
constexpr unsigned int kOggChunkFrames = 44100;

int formatCode(SoundTools::SoundFormat format, SoundWriterSndfile::FileType type)
{
    switch (type) {
    case SoundWriterSndfile::Wav:
        switch (format) {
        case SoundTools::Int8:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_U8;
        case SoundTools::Int24:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_24;
        case SoundTools::Int32:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_32;
        case SoundTools::Float32:
            return SF_FORMAT_WAV | SF_FORMAT_FLOAT;
        case SoundTools::Float64:
            return SF_FORMAT_WAV | SF_FORMAT_DOUBLE;
        default:
            return SF_FORMAT_WAV | SF_FORMAT_PCM_16;
        }
    case SoundWriterSndfile::Flac:
        switch (format) {
        case SoundTools::Int24:
        case SoundTools::Int32:
        case SoundTools::Float32:
        case SoundTools::Float64:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_24;
        default:
            return SF_FORMAT_FLAC | SF_FORMAT_PCM_16;
        }
    case SoundWriterSndfile::Ogg:
        return SF_FORMAT_OGG | SF_FORMAT_VORBIS;
    case SoundWriterSndfile::Aiff:
        switch (format) {
        case SoundTools::Int8:
            return SF_FORMAT_AIFF | SF_FORMAT_PCM_S8;
        case SoundTools::Int24:
            return SF_FORMAT_AIFF | SF_FORMAT_PCM_24;
        case SoundTools::Int32:
            return SF_FORMAT_AIFF | SF_FORMAT_PCM_32;
        case SoundTools::Float32:
            return SF_FORMAT_AIFF | SF_FORMAT_FLOAT;
        case SoundTools::Float64:
            return SF_FORMAT_AIFF | SF_FORMAT_DOUBLE;
        default:
            return SF_FORMAT_AIFF | SF_FORMAT_PCM_16;
        }
    default:
        return SF_FORMAT_RAW | SF_FORMAT_FLOAT | SF_ENDIAN_CPU;
    }
}

// A RIFF header counts bytes in 32 bits. Past that, only RF64 holds the
// sound; under it, the plain header (a 16-bit stereo file in 44 bytes) is
// what the widest range of software reads.
bool fitsPlainWav(int code, int channels, long long frames)
{
    constexpr long long kRiffBytes = 0xFFFFFFFFLL;
    constexpr long long kHeaderReserve = 1 << 20; // fmt, fact, LIST INFO and ID3 chunks
    long long bytes = 8; // double
    switch (code & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_U8:
        bytes = 1;
        break;
    case SF_FORMAT_PCM_16:
        bytes = 2;
        break;
    case SF_FORMAT_PCM_24:
        bytes = 3;
        break;
    case SF_FORMAT_PCM_32:
    case SF_FORMAT_FLOAT:
        bytes = 4;
        break;
    }
    return frames > 0 && frames * channels * bytes + kHeaderReserve < kRiffBytes;
}

} // namespace

std::vector<SoundTools::SoundFormat> SoundWriterSndfile::sampleFormats(FileType type)
{
    using namespace SoundTools;
    switch (type) {
    case Wav:
    case Aiff:
        return {Int8, Int16, Int24, Int32, Float32, Float64};
    case Flac:
        return {Int16, Int24};
    case Ogg:
        return {};
    default:
        return {Float32};
    }
}

SoundWriterSndfile::SoundWriterSndfile(unsigned int sampleRate, unsigned int channels, SoundTools::SoundFormat format,
                                       FileType type)
    : SoundWriter(sampleRate)
    , mInfoSampleRate(static_cast<int>(sampleRate))
    , mChannels(static_cast<int>(channels))
    , mFormat(formatCode(format, type))
{
    // libsndfile stores shorts and ints as they are (shifted down to the
    // file's width): the samples go to it already rounded.
    setIntegerOutput(SoundReaderSndfile::pcmBits(mFormat), true);
}

SoundWriterSndfile::~SoundWriterSndfile()
{
    close();
}

SoundTools::Status SoundWriterSndfile::open(QString fileName)
{
    close();
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    info.samplerate = mInfoSampleRate;
    info.channels = mChannels;
    const bool wav = (mFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV && !fitsPlainWav(mFormat, mChannels, getExpectedFrames());
    info.format = wav ? (mFormat & ~SF_FORMAT_TYPEMASK) | SF_FORMAT_RF64 : mFormat;
    mOutput = std::make_unique<SoundOutputFile>(fileName);
    mHandle = sf_open(QFile::encodeName(mOutput->writePath()).constData(), SFM_WRITE, &info);
    if (!mHandle) {
        const char* text = sf_strerror(nullptr);
        setError(text && *text ? QString::fromLocal8Bit(text) : QStringLiteral("Unable to open file for writing"),
                 fileName.toUtf8().constData());
        mOutput.reset();
        return SoundTools::Error;
    }
    // Integer formats saturate at full scale instead of wrapping round, and
    // take full scale as 2^(bits-1), as the readers do; writeFrames has
    // already rounded every sample to a step.
    sf_command(mHandle, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    // A WAV of unknown or large length is written as RF64 and finished as
    // WAV (with an extensible header) when it stays under 4 GiB: the large
    // ones are not cut.
    if (wav)
        sf_command(mHandle, SFC_RF64_AUTO_DOWNGRADE, nullptr, SF_TRUE);
    mFileName = fileName;
    mFailed = false;
    mCurrentOffset = 0;
    return SoundTools::Ok;
}

unsigned int SoundWriterSndfile::write(unsigned int count, double* frames)
{
    if (!mHandle)
        return 0;
    sf_count_t written = 0;
    if (mFormat == (SF_FORMAT_OGG | SF_FORMAT_VORBIS)) {
        for (unsigned int done = 0; done < count;) {
            const unsigned int chunk = std::min(count - done, kOggChunkFrames);
            const sf_count_t n = sf_writef_double(mHandle, frames + size_t(done) * mChannels, chunk);
            written += n > 0 ? n : 0;
            if (n != chunk)
                break;
            done += chunk;
        }
    } else {
        written = sf_writef_double(mHandle, frames, count);
    }
    return checkWritten(written, count);
}

unsigned int SoundWriterSndfile::writeShorts(unsigned int count, const short* frames)
{
    return mHandle ? checkWritten(sf_writef_short(mHandle, frames, count), count) : 0;
}

unsigned int SoundWriterSndfile::writeInts(unsigned int count, const int* frames)
{
    return mHandle ? checkWritten(sf_writef_int(mHandle, frames, count), count) : 0;
}

unsigned int SoundWriterSndfile::checkWritten(long long written, unsigned int count)
{
    if (written != count) {
        mFailed = true;
        const char* text = sf_error(mHandle) ? sf_strerror(mHandle) : nullptr;
        setError(QStringLiteral("%1 (%2 of %3 frames written)")
                     .arg(text && *text ? QString::fromLocal8Bit(text) : QStringLiteral("Write error"))
                     .arg(written)
                     .arg(count),
                 mFileName.toUtf8().constData());
    }
    return written > 0 ? static_cast<unsigned int>(written) : 0;
}

void SoundWriterSndfile::close()
{
    if (!mHandle)
        return;
    // sf_close writes the final header; only its failure tells that the
    // file on disk is incomplete.
    if (sf_close(mHandle) != 0 && !mFailed) {
        mFailed = true;
        setError(QStringLiteral("Unable to finish the file"), mFileName.toUtf8().constData());
    }
    mHandle = nullptr;
    // A fresh file has no tags to clear, and a raw file has no place for
    // them: TagLib could mistake its samples for a container and "repair" it.
    // Tags go in before the rename, so the final name never shows a file
    // without them; a stream or device cannot be gone back over.
    const bool raw = (mFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_RAW;
    if (!mFailed && mOutput->isStaged() && !raw && (!mTags.isEmpty() || !mTags.coverData.isEmpty()))
        writeFileTags(mTags, mOutput->writePath());
    if (!finishOutput(*mOutput, !mFailed, mFileName))
        mFailed = true;
    mOutput.reset();
}

void SoundWriterSndfile::cancel()
{
    mFailed = true;
    close();
}
