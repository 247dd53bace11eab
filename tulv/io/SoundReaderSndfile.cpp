#include "tulv/io/SoundReaderSndfile.h"

#include "tulv/core/TimeText.h"
#include "tulv/io/SoundTags.h"

#include <QFile>

#include <mpg123.h>
#include <sndfile.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Data sizes from here up are placeholders of streamed files, not lengths.
constexpr quint32 kStreamedDataSize = 0x7FFFF000u;

// Reads little-endian integers from a RIFF header.
quint32 le32(const unsigned char* p)
{
    return quint32(p[0]) | quint32(p[1]) << 8 | quint32(p[2]) << 16 | quint32(p[3]) << 24;
}

// The frames a WAV file's data chunk declares, or -1 when the header gives
// no usable length (a stream written without seeking back, RF64, ...).
// libsndfile quietly shortens a data chunk that runs past the end of the
// file, so a truncated copy would otherwise pass for a shorter recording.
long long declaredWavFrames(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    unsigned char head[12];
    if (file.read(reinterpret_cast<char*>(head), 12) != 12 || std::memcmp(head, "RIFF", 4) != 0
        || std::memcmp(head + 8, "WAVE", 4) != 0)
        return -1;
    quint32 blockAlign = 0;
    // Chunks before the data are small (fmt, fact, LIST, ...); a few dozen
    // of them is already far more than any writer produces.
    for (int chunks = 0; chunks < 64; ++chunks) {
        unsigned char chunk[8];
        if (file.read(reinterpret_cast<char*>(chunk), 8) != 8)
            return -1;
        const quint32 size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || file.read(reinterpret_cast<char*>(fmt), 16) != 16)
                return -1;
            blockAlign = fmt[12] | fmt[13] << 8;
            if (!file.seek(file.pos() + (size - 16) + (size & 1)))
                return -1;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            // Writers streaming to a pipe cannot go back to fill the size in
            // and leave a placeholder: 0, 0xFFFFFFFF, or sox's 0x7FFFF000.
            if (blockAlign == 0 || size == 0 || size >= kStreamedDataSize)
                return -1;
            return size / blockAlign;
        } else if (!file.seek(file.pos() + size + (size & 1))) {
            return -1;
        }
    }
    return -1;
}

// The data chunk of a WAV file whose format tag says MPEG audio (0x50,
// 0x55); false for any other file.
bool wavMpegData(const QString& fileName, QByteArray& start)
{
    QFile file(fileName);
    unsigned char head[12];
    if (!file.open(QIODevice::ReadOnly) || file.read(reinterpret_cast<char*>(head), 12) != 12
        || std::memcmp(head, "RIFF", 4) != 0 || std::memcmp(head + 8, "WAVE", 4) != 0)
        return false;
    bool mpeg = false;
    for (int chunks = 0; chunks < 64; ++chunks) {
        unsigned char chunk[8];
        if (file.read(reinterpret_cast<char*>(chunk), 8) != 8)
            return false;
        const quint32 size = le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char tag[2];
            if (size < 2 || file.read(reinterpret_cast<char*>(tag), 2) != 2)
                return false;
            const int format = tag[0] | tag[1] << 8;
            mpeg = format == 0x50 || format == 0x55;
            if (!mpeg || !file.seek(file.pos() + (size - 2) + (size & 1)))
                return false;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            // The first frames tell; a few hundred kilobytes hold dozens.
            start = file.read(std::min<qint64>(size, 256 * 1024));
            return mpeg;
        } else if (!file.seek(file.pos() + size + (size & 1))) {
            return false;
        }
    }
    return false;
}

// Whether MPEG audio data holds a frame that decodes. libsndfile hands such
// data to a decoder of its own that prints to the console and then reports a
// missing file; a quiet decoder of ours tells first what is wrong.
bool decodesAsMpeg(const QByteArray& data)
{
    mpg123_handle* handle = mpg123_new(nullptr, nullptr);
    if (!handle)
        return false;
    mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0.0);
    bool decoded = false;
    if (mpg123_open_feed(handle) == MPG123_OK
        && mpg123_feed(handle, reinterpret_cast<const unsigned char*>(data.constData()), size_t(data.size()))
            == MPG123_OK) {
        for (int tries = 0; tries < 64 && !decoded; ++tries) {
            off_t frame = 0;
            unsigned char* audio = nullptr;
            size_t bytes = 0;
            const int result = mpg123_decode_frame(handle, &frame, &audio, &bytes);
            decoded = result == MPG123_OK && bytes > 0;
            if (result != MPG123_OK && result != MPG123_NEW_FORMAT)
                break;
        }
    }
    mpg123_delete(handle);
    return decoded;
}

// Where a second logical stream begins in an Ogg file: files joined end to
// end make a chain of streams, of which libsndfile reads only the first.
// Returns the byte offset of that stream's first page (0: a single stream)
// and its rate and channels when it carries Vorbis, and in `firstFrames` the
// last granule position of the first stream: where the join lies. (The
// length libsndfile reports cannot tell: an encoder that numbers every
// stream alike makes it take the last page of the whole chain.) Only page
// headers are read, one seek per page.
qint64 chainedOggStream(const QString& fileName, int& rate, int& channels, long long& firstFrames)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return 0;
    bool pastHeaders = false;
    for (qint64 at = 0;;) {
        unsigned char page[27 + 255];
        if (!file.seek(at) || file.read(reinterpret_cast<char*>(page), 27) != 27 || std::memcmp(page, "OggS", 4) != 0)
            return 0;
        const int segments = page[26];
        if (file.read(reinterpret_cast<char*>(page + 27), segments) != segments)
            return 0;
        qint64 body = 0;
        for (int i = 0; i < segments; ++i)
            body += page[27 + i];
        // Streams multiplexed side by side all begin on the first pages;
        // a beginning after other pages is a stream that follows.
        const bool begins = page[5] & 0x02;
        if (begins && pastHeaders) {
            unsigned char id[16];
            rate = channels = 0;
            if (file.read(reinterpret_cast<char*>(id), 16) == 16 && std::memcmp(id, "\x01vorbis", 7) == 0) {
                channels = id[11];
                rate = int(le32(id + 12));
            }
            return at;
        }
        pastHeaders = pastHeaders || !begins;
        qint64 granule = 0;
        for (int i = 7; i >= 0; --i)
            granule = (granule << 8) | page[6 + i];
        if (granule > 0)
            firstFrames = granule;
        at += 27 + segments + body;
    }
}

// `frames` of `channels` interleaved integers to stereo doubles, full scale
// `scale` (2^15 for short, 2^31 for int, as libsndfile's own conversion to
// double): a mono file feeds both sides, a wider one gives its first two.
template <typename In>
void toStereo(const In* in, unsigned int frames, int channels, double scale, double* dest)
{
    const double unit = 1.0 / scale;
    if (channels == 2) {
        for (size_t i = 0; i < size_t(frames) * 2; ++i)
            dest[i] = in[i] * unit;
    } else if (channels == 1) {
        for (unsigned int i = 0; i < frames; ++i)
            dest[2 * size_t(i)] = dest[2 * size_t(i) + 1] = in[i] * unit;
    } else {
        for (unsigned int i = 0; i < frames; ++i) {
            dest[2 * size_t(i)] = in[size_t(i) * channels] * unit;
            dest[2 * size_t(i) + 1] = in[size_t(i) * channels + 1] * unit;
        }
    }
}

} // namespace

SoundReaderSndfile::~SoundReaderSndfile()
{
    close();
}

SoundTools::Status SoundReaderSndfile::fail(const QString& fileName, const QString& reason)
{
    close();
    setError(reason, fileName.toUtf8().constData());
    return SoundTools::Error;
}

SoundTools::Status SoundReaderSndfile::open(QString fileName)
{
    close();
    resetAtEnd();
    if (!checkSourceFile(fileName))
        return SoundTools::Error;
    QByteArray mpeg;
    if (wavMpegData(fileName, mpeg) && !decodesAsMpeg(mpeg))
        return fail(fileName, QStringLiteral("The WAV header declares MPEG audio, but the data holds no MPEG frame "
                                             "that decodes: the file is damaged."));
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    mHandle = sf_open(QFile::encodeName(fileName).constData(), SFM_READ, &info);
    if (!mHandle) {
        const char* text = sf_strerror(nullptr);
        setError(text && *text ? QString::fromLocal8Bit(text) : QStringLiteral("Unable to open file for reading"),
                 fileName.toUtf8().constData());
        return SoundTools::Error;
    }
    mFrames = info.frames;
    mInfoSampleRate = info.samplerate;
    mChannels = info.channels;
    mFormat = info.format;
    mPcmBits = pcmBits(mFormat);
    mFileName = fileName;
    mFilePosition = 0;
    // The file starts at its first frame: so does the stream.
    mOffset = 0;
    if (mFrames == SF_COUNT_MAX) {
        // A FLAC stream written to a pipe has no length in its header; the
        // frames are counted once so that the length is known like any other.
        mFrames = countFrames(fileName);
        if (mFrames < 0)
            return fail(fileName, QStringLiteral("Unable to decode the file to find its length"));
    }
    if (mChannels < 1 || mInfoSampleRate < 1)
        return fail(fileName, QStringLiteral("The file declares no channels or no sample rate."));
    if (!checkSampleRate(mInfoSampleRate, fileName)) {
        close();
        return SoundTools::Error;
    }
    if (mFrames > kMaxFrames)
        return fail(fileName, QStringLiteral("The sound is %1 frames long; at most %2 frames (about %3 hours at "
                                             "%4 Hz) can be processed.")
                                  .arg(mFrames)
                                  .arg(kMaxFrames)
                                  .arg(double(kMaxFrames) / mInfoSampleRate / 3600.0, 0, 'f', 1)
                                  .arg(mInfoSampleRate));
    if (!truncationCheck(fileName))
        return SoundTools::Error;
    if ((mFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_OGG) {
        int rate = 0, channels = 0;
        long long firstFrames = mFrames;
        if (chainedOggStream(fileName, rate, channels, firstFrames) > 0) {
            const QString what = rate > 0
                ? QStringLiteral(" (%1 Hz, %2)")
                      .arg(rate)
                      .arg(channels == 1 ? QStringLiteral("mono") : QStringLiteral("%1 channels").arg(channels))
                : QString();
            return fail(fileName, QStringLiteral("A second Ogg stream%1 begins at %2, after the first one ends: the "
                                                 "file joins several recordings; cut it there to read each part.")
                                      .arg(what)
                                      .arg(QString::fromStdString(SoundTools::timeText(double(firstFrames) / mInfoSampleRate))));
        }
    }
    mTags = readFileTags(fileName);
    return SoundTools::Ok;
}

// A file whose audio stops before the length in its header is a truncated
// download or copy: it reads as the frames present, and the frames missing
// are reported (getMissingFrames) so that it does not pass for a complete
// recording.
bool SoundReaderSndfile::truncationCheck(const QString& fileName)
{
    mMissingFrames = 0;
    if ((mFormat & SF_FORMAT_TYPEMASK) == SF_FORMAT_WAV) {
        const long long declared = declaredWavFrames(fileName);
        if (declared > mFrames)
            mMissingFrames = declared - mFrames;
        return true;
    }
    if (mFrames < 1)
        return true;
    // Compressed formats: the header length holds when the last frame can be
    // reached and decoded. The check costs one seek there and one back.
    double probe[64];
    const bool wide = mChannels > 32;
    std::vector<double> wideProbe(wide ? mChannels : 0);
    if (sf_seek(mHandle, mFrames - 1, SEEK_SET) == mFrames - 1
        && sf_readf_double(mHandle, wide ? wideProbe.data() : probe, 1) == 1 && sf_seek(mHandle, 0, SEEK_SET) == 0)
        return true;
    // A failed seek leaves libsndfile's decoder unusable: count what a fresh
    // handle can decode, and read from another fresh one. Only a damaged
    // file pays for this full pass.
    const long long present = std::max(0LL, countFrames(fileName));
    mMissingFrames = std::max(0LL, mFrames - present);
    sf_close(mHandle);
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    mHandle = sf_open(QFile::encodeName(fileName).constData(), SFM_READ, &info);
    if (!mHandle) {
        fail(fileName, QStringLiteral("The file cannot be opened again after its length was checked."));
        return false;
    }
    mFrames = present;
    return true;
}

long long SoundReaderSndfile::countFrames(const QString& fileName)
{
    SF_INFO info;
    std::memset(&info, 0, sizeof info);
    SNDFILE* counter = sf_open(QFile::encodeName(fileName).constData(), SFM_READ, &info);
    if (!counter)
        return -1;
    std::vector<double> block(size_t(4096) * info.channels);
    long long present = 0;
    sf_count_t n;
    while ((n = sf_readf_double(counter, block.data(), 4096)) > 0)
        present += n;
    sf_close(counter);
    return present;
}

void SoundReaderSndfile::close()
{
    if (!mHandle)
        return;
    sf_close(mHandle);
    mHandle = nullptr;
    mFileName.clear();
    mFrames = 0;
}

void SoundReaderSndfile::rewind()
{
    if (!mHandle)
        return;
    resetAtEnd();
    mOffset = static_cast<int>(std::floor(getSampleRate() * mStartPoint + 0.5));
    if ((long long)mOffset >= mFrames || mOffset < 0)
        mOffset = 0;
    mFilePosition = sf_seek(mHandle, mOffset, SEEK_SET);
    if (mFilePosition < 0) {
        setError(QString::fromLocal8Bit(sf_strerror(mHandle)), mFileName.toUtf8().constData());
        mFilePosition = mFrames;
    }
}

int SoundReaderSndfile::pcmBits(int format)
{
    switch (format & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return 8;
    case SF_FORMAT_PCM_16:
        return 16;
    case SF_FORMAT_PCM_24:
        return 24;
    case SF_FORMAT_PCM_32:
        return 32;
    default:
        return 0;
    }
}

SoundTools::SoundFormat SoundReaderSndfile::getInputFormat() const
{
    switch (mFormat & SF_FORMAT_SUBMASK) {
    case SF_FORMAT_PCM_S8:
    case SF_FORMAT_PCM_U8:
        return SoundTools::Int8;
    case SF_FORMAT_PCM_24:
        return SoundTools::Int24;
    case SF_FORMAT_PCM_32:
        return SoundTools::Int32;
    case SF_FORMAT_FLOAT:
        return SoundTools::Float32;
    case SF_FORMAT_DOUBLE:
        return SoundTools::Float64;
    default:
        return SoundTools::Int16;
    }
}

bool SoundReaderSndfile::getTags(SoundIDTag& tags)
{
    tags = mTags;
    return !mTags.isEmpty();
}

unsigned int SoundReaderSndfile::read(unsigned int count, double* dest)
{
    if (!mHandle || count == 0)
        return 0;
    // Grow to the largest block once; the loop asks for the same size every
    // block, so these allocate on the first block only.
    const size_t needed = size_t(count) * mChannels;
    sf_count_t n;
    if (mPcmBits && mPcmBits <= 16) {
        if (mShorts.size() < needed)
            mShorts.resize(needed);
        n = sf_readf_short(mHandle, mShorts.data(), count);
    } else if (mPcmBits) {
        if (mInts.size() < needed)
            mInts.resize(needed);
        n = sf_readf_int(mHandle, mInts.data(), count);
    } else {
        if (mChannels != 2 && mScratch.size() < needed)
            mScratch.resize(needed);
        n = sf_readf_double(mHandle, mChannels != 2 ? mScratch.data() : dest, count);
    }
    const unsigned int got = n > 0 ? static_cast<unsigned int>(n) : 0;
    mFilePosition += got;
    if (got < count && mFilePosition < mFrames) {
        // The stream ends here with what was read; the reason and the gap
        // are reported so that the loss does not pass silently.
        const char* text = sf_error(mHandle) > 0 ? sf_strerror(mHandle) : nullptr;
        mMissingFrames = std::max(mMissingFrames, mFrames - mFilePosition);
        setError(QStringLiteral("%1 (%2 frames missing)")
                     .arg(text && *text ? QString::fromLocal8Bit(text) : QStringLiteral("The audio data ended early"))
                     .arg(mFrames - mFilePosition),
                 mFileName.toUtf8().constData());
        mFilePosition = mFrames;
    }
    // Per sample: one multiply (the scales are powers of two: exact).
    if (mPcmBits && mPcmBits <= 16)
        toStereo(mShorts.data(), got, mChannels, 32768.0, dest);
    else if (mPcmBits)
        toStereo(mInts.data(), got, mChannels, 2147483648.0, dest);
    else if (mChannels != 2)
        toStereo(mScratch.data(), got, mChannels, 1.0, dest);
    return got;
}
