#include "tulv/io/SoundWriterMp3.h"

#include "tulv/io/SoundTags.h"

#include <QFile>
#include <QLibrary>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <unistd.h>

namespace {

using lame_t = lame_global_struct*;

// Full scale is encoded at 95 % (0.95 × 32768) to leave the encoder room.
constexpr double kEncodeScale = 31129.6;
// The encoder's own worst-case bound: 1.25 × samples + 7200 bytes, with margin.
constexpr double kEncodedBytesPerFrame = 2.5;
constexpr unsigned int kEncodedReserve = 7200;

// Entry points of the encoder, resolved by name when it is loaded.
struct Lame {
    lame_t (*init)();
    int (*set_brate)(lame_t, int);
    int (*set_num_channels)(lame_t, int);
    int (*set_in_samplerate)(lame_t, int);
    int (*set_out_samplerate)(lame_t, int);
    int (*set_mode)(lame_t, int);
    int (*set_quality)(lame_t, int);
    int (*init_params)(lame_t);
    int (*close)(lame_t);
    int (*encode_flush)(lame_t, unsigned char*, int);
    void (*mp3_tags_fid)(lame_t, FILE*);
    int (*encode_buffer)(lame_t, const short*, const short*, int, unsigned char*, int);
    int (*get_num_channels)(lame_t);
    void (*id3tag_init)(lame_t);
    // Present in every build of the encoder; checked so that a library that
    // merely shares the first names is not taken for it.
    void* id3tag_add_v2;
    void* id3tag_set_albumart;
    void* id3tag_set_title;
    void* id3tag_set_artist;
    void* id3tag_set_album;
    void* id3tag_set_year;
    void* id3tag_set_comment;
    void* id3tag_set_track;
    void* id3tag_set_genre;
    void* set_write_id3tag_automatic;
    // Optional: only tells the rate the encoder chose.
    int (*get_out_samplerate)(lame_t);
    int (*get_brate)(lame_t);
};

Lame sLame{};

QStringList defaultNames()
{
    // The Linux shared object first; the other platforms' names stay as
    // fall-backs for a differently packaged encoder.
    return {QStringLiteral("mp3lame"), QStringLiteral("libmp3lame-0"), QStringLiteral("lame_enc")};
}

QStringList& names()
{
    static QStringList sNames = defaultNames();
    return sNames;
}

template <typename F>
bool resolve(QLibrary& library, F& entry, const char* symbol)
{
    entry = reinterpret_cast<F>(library.resolve(symbol));
    return entry != nullptr;
}

bool resolveAll(QLibrary& library)
{
    bool ok = true;
    ok &= resolve(library, sLame.init, "lame_init");
    ok &= resolve(library, sLame.set_brate, "lame_set_brate");
    ok &= resolve(library, sLame.set_num_channels, "lame_set_num_channels");
    ok &= resolve(library, sLame.set_in_samplerate, "lame_set_in_samplerate");
    ok &= resolve(library, sLame.set_mode, "lame_set_mode");
    ok &= resolve(library, sLame.set_quality, "lame_set_quality");
    ok &= resolve(library, sLame.init_params, "lame_init_params");
    ok &= resolve(library, sLame.close, "lame_close");
    ok &= resolve(library, sLame.encode_flush, "lame_encode_flush");
    ok &= resolve(library, sLame.mp3_tags_fid, "lame_mp3_tags_fid");
    ok &= resolve(library, sLame.encode_buffer, "lame_encode_buffer");
    ok &= resolve(library, sLame.get_num_channels, "lame_get_num_channels");
    ok &= resolve(library, sLame.id3tag_init, "id3tag_init");
    ok &= resolve(library, sLame.id3tag_add_v2, "id3tag_add_v2");
    ok &= resolve(library, sLame.id3tag_set_albumart, "id3tag_set_albumart");
    ok &= resolve(library, sLame.id3tag_set_title, "id3tag_set_title");
    ok &= resolve(library, sLame.id3tag_set_artist, "id3tag_set_artist");
    ok &= resolve(library, sLame.id3tag_set_album, "id3tag_set_album");
    ok &= resolve(library, sLame.id3tag_set_year, "id3tag_set_year");
    ok &= resolve(library, sLame.id3tag_set_comment, "id3tag_set_comment");
    ok &= resolve(library, sLame.id3tag_set_track, "id3tag_set_track");
    ok &= resolve(library, sLame.id3tag_set_genre, "id3tag_set_genre");
    ok &= resolve(library, sLame.set_write_id3tag_automatic, "lame_set_write_id3tag_automatic");
    resolve(library, sLame.get_out_samplerate, "lame_get_out_samplerate");
    resolve(library, sLame.get_brate, "lame_get_brate");
    resolve(library, sLame.set_out_samplerate, "lame_set_out_samplerate");
    return ok;
}

short toSample(double x)
{
    // Beyond about ±1.053 the scaled value leaves the 16-bit range: saturate
    // rather than wrap round into a click of the opposite sign.
    const double scaled = std::trunc(x * kEncodeScale);
    if (!(scaled > -32768.0))
        return -32768;
    if (scaled > 32767.0)
        return 32767;
    return static_cast<short>(scaled);
}

} // namespace

int SoundWriterMp3::sLameInit = 0;

void SoundWriterMp3::_init_lame()
{
    sLame = Lame{};
    for (const QString& name : names()) {
        QLibrary versioned(name, 0);
        QLibrary plain(name);
        QLibrary* library = versioned.load() ? &versioned : plain.load() ? &plain : nullptr;
        if (!library)
            continue;
        // The library object goes out of scope without unloading: the code
        // stays mapped for the entry points.
        if (resolveAll(*library)) {
            sLameInit = 1;
            return;
        }
        sLame = Lame{};
    }
    sLameInit = -1;
}

bool SoundWriterMp3::Init()
{
    if (sLameInit == 0)
        _init_lame();
    return sLameInit == 1;
}

bool SoundWriterMp3::IsInit()
{
    return sLameInit == 1;
}

void SoundWriterMp3::setLameLibraryNames(const QStringList& list)
{
    names() = list.isEmpty() ? defaultNames() : list;
    sLameInit = 0;
    sLame = Lame{};
}

QStringList SoundWriterMp3::lameLibraryNames()
{
    return names();
}

SoundWriterMp3::SoundWriterMp3(unsigned int sampleRate, unsigned int channels, unsigned int bitRate)
    : SoundWriter(sampleRate)
{
    if (sLameInit == 0)
        _init_lame();
    if (sLameInit != 1)
        return;
    mEncoder = sLame.init();
    if (!mEncoder)
        return;
    sLame.id3tag_init(mEncoder);
    sLame.set_brate(mEncoder, static_cast<int>(bitRate));
    sLame.set_num_channels(mEncoder, static_cast<int>(channels));
    sLame.set_in_samplerate(mEncoder, static_cast<int>(sampleRate));
    // Left to itself the encoder lowers the rate for the lower bit rates
    // (44.1 kHz at 96 kbit/s becomes 32 kHz): a rate MP3 holds is kept, so
    // that the file has the frames of its source.
    static const unsigned int kMpegRates[] = { 8000, 11025, 12000, 16000, 22050, 24000, 32000, 44100, 48000 };
    if (sLame.set_out_samplerate && std::find(std::begin(kMpegRates), std::end(kMpegRates), sampleRate) != std::end(kMpegRates))
        sLame.set_out_samplerate(mEncoder, static_cast<int>(sampleRate));
    sLame.set_mode(mEncoder, channels == 1 ? 3 : 1); // mono or joint stereo
    mChannels = channels;
    sLame.set_quality(mEncoder, 5);
    // The encoder takes 16-bit samples: full scale clips like a 16-bit file.
    setIntegerOutput(16);
}

std::vector<unsigned int> SoundWriterMp3::bitRates()
{
    return {8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 192, 224, 256, 320};
}

SoundWriterMp3::~SoundWriterMp3()
{
    close();
    if (mEncoder)
        sLame.close(mEncoder);
    delete[] mEncodedBuffer;
    delete[] mLeftBuffer;
    delete[] mRightBuffer;
}

unsigned int SoundWriterMp3::getChannelNum() const
{
    return mEncoder ? static_cast<unsigned int>(sLame.get_num_channels(mEncoder)) : 0;
}

bool SoundWriterMp3::ensureEncodedBuffer(unsigned int bytes)
{
    if (mEncodedBufferSize >= bytes)
        return true;
    delete[] mEncodedBuffer;
    mEncodedBuffer = new unsigned char[bytes];
    mEncodedBufferSize = bytes;
    return true;
}

SoundTools::Status SoundWriterMp3::open(QString fileName)
{
    if (!mEncoder) {
        setError(QStringLiteral("This version doesn't support mp3 encoding"), nullptr);
        return SoundTools::Error;
    }
    if (mFile) {
        setError(QStringLiteral("The writer is already open"), fileName.toUtf8().constData());
        return SoundTools::Error;
    }
    mOutput = std::make_unique<SoundOutputFile>(fileName);
    // Read and write: the encoder goes back to its header frame at close.
    if (mOutput->isStandardOutput()) {
        const int stream = ::dup(STDOUT_FILENO);
        mFile = stream >= 0 ? ::fdopen(stream, "wb") : nullptr;
    } else {
        mFile = std::fopen(QFile::encodeName(mOutput->writePath()).constData(), "w+b");
    }
    if (!mFile) {
        setError(QString::fromLocal8Bit(std::strerror(errno)), fileName.toUtf8().constData());
        mOutput.reset();
        return SoundTools::Error;
    }
    if (sLame.init_params(mEncoder) < 0) {
        std::fclose(mFile);
        mFile = nullptr;
        mOutput.reset();
        setError(QStringLiteral("The encoder refuses these settings (sample rate %1 Hz)").arg(mSampleRate),
                 fileName.toUtf8().constData());
        return SoundTools::Error;
    }
    mOutputSampleRate = sLame.get_out_samplerate ? static_cast<unsigned int>(sLame.get_out_samplerate(mEncoder))
                                                 : mSampleRate;
    mOutputBitRate = sLame.get_brate ? static_cast<unsigned int>(sLame.get_brate(mEncoder)) : 0;
    mFileName = fileName;
    mFailed = false;
    return SoundTools::Ok;
}

unsigned int SoundWriterMp3::write(unsigned int count, double* frames)
{
    if (!mFile || !mEncoder)
        return 0;
    if (mSampleBufferFrames < count) {
        delete[] mLeftBuffer;
        delete[] mRightBuffer;
        mLeftBuffer = new short[count];
        mRightBuffer = new short[count];
        mSampleBufferFrames = count;
    }
    ensureEncodedBuffer(static_cast<unsigned int>(count * kEncodedBytesPerFrame + kEncodedReserve));
    // Frames hold getChannelNum() samples: a mono encoder reads one per
    // frame (and ignores the right buffer), never past the caller's block.
    if (mChannels == 1) {
        for (unsigned int i = 0; i < count; ++i)
            mLeftBuffer[i] = mRightBuffer[i] = toSample(frames[i]);
    } else {
        for (unsigned int i = 0; i < count; ++i) {
            mLeftBuffer[i] = toSample(frames[2 * i]);
            mRightBuffer[i] = toSample(frames[2 * i + 1]);
        }
    }
    const int n = sLame.encode_buffer(mEncoder, mLeftBuffer, mRightBuffer, static_cast<int>(count), mEncodedBuffer,
                                      static_cast<int>(mEncodedBufferSize));
    if (n > 0 && std::fwrite(mEncodedBuffer, 1, size_t(n), mFile) != size_t(n)) {
        mFailed = true;
        setError(QStringLiteral("Output write error"), "SoundWriterMp3::write");
        return 0;
    }
    if (n == -1) {
        mFailed = true;
        setError(QStringLiteral("Buffer too small"), "SoundWriterMp3::write");
        return 0;
    }
    if (n < 0) {
        // 0 only means the encoder is still filling a frame; any other
        // negative result is a failure the encoder could not recover from.
        mFailed = true;
        setError(QStringLiteral("Encoder error %1").arg(n), "SoundWriterMp3::write");
        return 0;
    }
    return count;
}

void SoundWriterMp3::close()
{
    if (!mFile || !mEncoder)
        return;
    ensureEncodedBuffer(kEncodedReserve);
    const int n = sLame.encode_flush(mEncoder, mEncodedBuffer, static_cast<int>(mEncodedBufferSize));
    if (n > 0 && std::fwrite(mEncodedBuffer, 1, size_t(n), mFile) != size_t(n) && !mFailed) {
        mFailed = true;
        setError(QStringLiteral("Output write error"), mFileName.toUtf8().constData());
    }
    // Completes the header frame with the frame count, delay and padding:
    // decoders then return exactly the frames that were encoded. A stream
    // cannot be gone back over.
    if (!mFailed && mOutput->isStaged())
        sLame.mp3_tags_fid(mEncoder, mFile);
    if (std::fclose(mFile) != 0 && !mFailed) {
        mFailed = true;
        setError(QString::fromLocal8Bit(std::strerror(errno)), mFileName.toUtf8().constData());
    }
    mFile = nullptr;
    sLame.close(mEncoder);
    mEncoder = nullptr;
    if (!mFailed && mOutput->isStaged())
        writeMp3Tags(mTags, mOutput->writePath());
    if (!finishOutput(*mOutput, !mFailed, mFileName))
        mFailed = true;
    mOutput.reset();
}

void SoundWriterMp3::cancel()
{
    mFailed = true;
    close();
}
