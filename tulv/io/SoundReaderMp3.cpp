#include "tulv/io/SoundReaderMp3.h"

#include "tulv/core/TimeText.h"
#include "tulv/io/SoundTags.h"

#include <QFile>

#include <mpg123.h>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// 1 / 32768: 16-bit samples to full scale 1.0.
constexpr double kSampleScale = 3.0517578125e-05;
constexpr size_t kBytesPerFrame = 2 * sizeof(short);

// libmpg123 resynchronises on anything that looks like a frame header, so
// a WAV, FLAC or Ogg file under an .mp3 name would decode to noise. Their
// signatures name the real content instead.
QString foreignContent(const QString& fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    const QByteArray head = file.read(12);
    if (head.startsWith("RIFF") && head.mid(8, 4) == "WAVE")
        return QStringLiteral("WAV");
    if (head.startsWith("RIFF") || head.startsWith("RF64"))
        return QStringLiteral("RIFF");
    if (head.startsWith("fLaC"))
        return QStringLiteral("FLAC");
    if (head.startsWith("OggS"))
        return QStringLiteral("Ogg");
    if (head.startsWith("FORM"))
        return QStringLiteral("AIFF");
    return QString();
}

} // namespace

SoundReaderMp3::SoundReaderMp3()
{
    init();
}

SoundReaderMp3::~SoundReaderMp3()
{
    close();
    delete[] mDecodeBuffer;
}

void SoundReaderMp3::init()
{
    // Thread-safe once; libmpg123 1.27 and later need no call at all.
    static const int sInit = mpg123_init();
    (void)sInit;
}

SoundTools::Status SoundReaderMp3::fail(const QString& fileName, const QString& reason)
{
    close();
    setError(reason, fileName.toUtf8().constData());
    return SoundTools::Error;
}

SoundTools::Status SoundReaderMp3::open(QString fileName)
{
    close();
    resetAtEnd();
    if (!checkSourceFile(fileName))
        return SoundTools::Error;
    const QString foreign = foreignContent(fileName);
    if (!foreign.isEmpty())
        return fail(fileName, QStringLiteral("The file holds %1 data, not MP3.").arg(foreign));

    int error = MPG123_OK;
    mHandle = mpg123_new(nullptr, &error);
    if (!mHandle)
        return fail(fileName, QString::fromLocal8Bit(mpg123_plain_strerror(error)));
    // A library has no console: decoder complaints come back as errors.
    mpg123_param(mHandle, MPG123_ADD_FLAGS, MPG123_FORCE_STEREO | MPG123_QUIET, 0.0);
    error = mpg123_open(mHandle, QFile::encodeName(fileName).constData());
    if (error != MPG123_OK)
        error = mpg123_open(mHandle, fileName.toUtf8().constData());
    long rate = 0;
    int channels = 0;
    int encoding = 0;
    if (error == MPG123_OK)
        error = mpg123_getformat(mHandle, &rate, &channels, &encoding);
    if (error != MPG123_OK) {
        // Reaching the end while looking for the first frame means there is none.
        if (error == MPG123_DONE)
            return fail(fileName, QStringLiteral("No MPEG audio found."));
        const QString reason = QString::fromLocal8Bit(mpg123_plain_strerror(error));
        return fail(fileName, QStringLiteral("No MPEG audio found (%1).").arg(reason));
    }
    mSampleRate = static_cast<int>(rate);
    // The decoder is told to give stereo; the frame header tells what the
    // file holds.
    mpg123_frameinfo frame;
    mFileChannels = mpg123_info(mHandle, &frame) == MPG123_OK && frame.mode == MPG123_M_MONO ? 1u : 2u;
    if (encoding != MPG123_ENC_SIGNED_16)
        return fail(fileName, QStringLiteral("Only 16 bits mp3 supported"));
    // An encoder's header frame (LAME's Info tag, known by its delay field)
    // declares the length; without one the length is only estimated from
    // the file size.
    long encoderDelay = -1;
    mpg123_getstate(mHandle, MPG123_ENC_DELAY, &encoderDelay, nullptr);
    const long long declared = encoderDelay >= 0 ? (long long)mpg123_length(mHandle) : -1;
    // Scanning the frame headers, without decoding, makes the length exact.
    if (mpg123_scan(mHandle) != MPG123_OK)
        return fail(fileName, QString::fromLocal8Bit(mpg123_strerror(mHandle)));
    mFrames = mpg123_length(mHandle);
    mMissingFrames = declared > 0 && mFrames < declared ? declared - mFrames : 0;
    if (mFrames <= 0)
        return fail(fileName, QStringLiteral("No MPEG audio found."));
    if (mFrames > kMaxFrames)
        return fail(fileName, QStringLiteral("The sound is %1 frames long; at most %2 frames can be processed.")
                                  .arg(mFrames)
                                  .arg(kMaxFrames));
    if (!checkRateThroughout(fileName, rate))
        return SoundTools::Error;
    mpg123_format_none(mHandle);
    mpg123_format(mHandle, rate, MPG123_STEREO, MPG123_ENC_SIGNED_16);
    mFileName = fileName;
    mFilePosition = 0;
    mOffset = 0;
    mTags = readMp3Tags(fileName);
    return SoundTools::Ok;
}

// Files joined end to end (as `cat` or a player's recorder makes them) may
// change rate part-way; decoding on at the first rate would play the rest at
// the wrong speed. A change of channels is harmless: every frame is decoded
// to stereo. One pass over the frame headers, without decoding, finds it.
bool SoundReaderMp3::checkRateThroughout(const QString& fileName, long rate)
{
    long long samples = 0;
    for (;;) {
        const int result = mpg123_framebyframe_next(mHandle);
        if (result == MPG123_NEW_FORMAT) {
            long newRate = 0;
            int channels = 0, encoding = 0;
            mpg123_getformat(mHandle, &newRate, &channels, &encoding);
            if (newRate != rate) {
                fail(fileName, QStringLiteral("The sample rate changes from %1 Hz to %2 Hz at %3: the file joins "
                                              "several recordings; cut it there to read each part.")
                                   .arg(rate)
                                   .arg(newRate)
                                   .arg(QString::fromStdString(SoundTools::timeText(double(samples) / rate))));
                return false;
            }
        } else if (result != MPG123_OK) {
            break;
        }
        samples += mpg123_spf(mHandle);
    }
    if (mpg123_seek(mHandle, 0, SEEK_SET) < 0) {
        fail(fileName, QString::fromLocal8Bit(mpg123_strerror(mHandle)));
        return false;
    }
    return true;
}

void SoundReaderMp3::close()
{
    if (!mHandle)
        return;
    mpg123_close(mHandle);
    mpg123_delete(mHandle);
    mHandle = nullptr;
    mFileName.clear();
}

unsigned int SoundReaderMp3::getFrameNB() const
{
    return mHandle ? static_cast<unsigned int>(mFrames) : 0;
}

bool SoundReaderMp3::getTags(SoundIDTag& tags)
{
    tags = mTags;
    return !mTags.isEmpty();
}

void SoundReaderMp3::rewind()
{
    if (!mHandle)
        return;
    resetAtEnd();
    mOffset = static_cast<int>(std::floor(getSampleRate() * mStartPoint + 0.5));
    if (mOffset < 0)
        mOffset = 0;
    if ((long long)mOffset > mFrames)
        mOffset = static_cast<int>(mFrames);
    const off_t at = mpg123_seek(mHandle, mOffset, SEEK_SET);
    mFilePosition = at >= 0 ? at : mFrames;
}

unsigned int SoundReaderMp3::read(unsigned int count, double* dest)
{
    if (!mHandle || count == 0)
        return 0;
    if (count != mDecodeBufferFrames) {
        delete[] mDecodeBuffer;
        mDecodeBuffer = nullptr;
        mDecodeBufferFrames = count;
    }
    // Made once for the loop's block size, reused every block after.
    if (!mDecodeBuffer)
        mDecodeBuffer = new short[size_t(count) * 2];
    const size_t wanted = size_t(count) * kBytesPerFrame;
    unsigned char* bytes = reinterpret_cast<unsigned char*>(mDecodeBuffer);
    size_t done = 0;
    int result = MPG123_OK;
    // One call normally fills the block; a call that stops short without
    // reaching the end is continued so that it does not end the stream.
    while (done < wanted && result == MPG123_OK) {
        size_t got = 0;
        result = mpg123_read(mHandle, bytes + done, wanted - done, &got);
        done += got;
        if (got == 0 && result == MPG123_OK)
            break;
    }
    const unsigned int frames = static_cast<unsigned int>(done / kBytesPerFrame);
    mFilePosition += frames;
    if (frames < count && mFilePosition < mFrames) {
        const QString reason = result == MPG123_OK || result == MPG123_DONE
            ? QStringLiteral("The audio data ended early")
            : QString::fromLocal8Bit(mpg123_plain_strerror(result));
        mMissingFrames = std::max(mMissingFrames, mFrames - mFilePosition);
        setError(QStringLiteral("%1 (%2 frames missing)").arg(reason).arg(mFrames - mFilePosition),
                 mFileName.toUtf8().constData());
        mFilePosition = mFrames;
    }
    for (size_t i = 0; i < size_t(frames) * 2; ++i)
        dest[i] = mDecodeBuffer[i] * kSampleScale;
    return frames;
}
