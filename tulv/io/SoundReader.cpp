#include "tulv/io/SoundReader.h"

#include "tulv/core/TimeText.h"

#include "tulv/io/SoundReaderMp3.h"
#include "tulv/io/SoundReaderSndfile.h"

#include <QFileInfo>

#include <QDebug>

#include <algorithm>
#include <climits>
#include <cmath>
#include <iomanip>
#include <sstream>

bool SoundReader::getTags(SoundIDTag& /*tags*/)
{
    return false;
}

QString SoundReader::getExtension(QString fileName)
{
    fileName.replace(QLatin1Char('\\'), QLatin1Char('/'));
    const int colon = fileName.indexOf(QLatin1Char(':'));
    if (colon >= 0)
        fileName = fileName.mid(colon + 1);
    const QString name = fileName.mid(fileName.lastIndexOf(QLatin1Char('/')) + 1);
    const int dot = name.lastIndexOf(QLatin1Char('.'));
    return dot < 0 ? QString() : name.mid(dot + 1).toLower();
}

QStringList SoundReader::readableExtensions()
{
    return {QStringLiteral("wav"), QStringLiteral("flac"), QStringLiteral("ogg"), QStringLiteral("aiff"),
            QStringLiteral("aif"), QStringLiteral("mp3")};
}

SoundReader* SoundReader::getFromFilename(QString fileName)
{
    if (fileName.isEmpty() || !isRecognized(fileName))
        return nullptr;
    if (getExtension(fileName) == QLatin1String("mp3"))
        return new SoundReaderMp3;
    return new SoundReaderSndfile;
}

bool SoundReader::checkSourceFile(const QString& fileName)
{
    const QFileInfo info(fileName);
    const QByteArray where = fileName.toUtf8();
    QString reason;
    if (!info.exists())
        reason = QStringLiteral("No such file.");
    else if (info.isDir())
        reason = QStringLiteral("Is a directory, not a sound file.");
    else if (!info.isReadable())
        reason = QStringLiteral("Permission denied.");
    else if (info.size() == 0)
        reason = QStringLiteral("The file is empty.");
    if (reason.isEmpty())
        return true;
    setError(reason, where.constData());
    return false;
}

bool SoundReader::checkSampleRate(long long rate, const QString& fileName)
{
    if (rate >= kMinSampleRate && rate <= kMaxSampleRate)
        return true;
    setError(QStringLiteral("The header declares a sample rate of %1 Hz; only %2 to %3 Hz can be read, so the "
                            "header is damaged or the file is not a recording.")
                 .arg(rate)
                 .arg(kMinSampleRate)
                 .arg(kMaxSampleRate),
             fileName.toUtf8().constData());
    return false;
}

bool SoundReader::isRecognized(QString fileName)
{
    const QString ext = getExtension(fileName);
    return !ext.isEmpty() && readableExtensions().contains(ext);
}

int SoundReader::getStartOffset() const
{
    return static_cast<int>(std::floor(getSampleRate() * mStartPoint + 0.5));
}

int SoundReader::getEndOffset() const
{
    return static_cast<int>(std::floor(getSampleRate() * mEndPoint + 0.5));
}

double SoundReader::getLength() const
{
    const unsigned int rate = getSampleRate();
    return rate ? double(getFrameNB()) / rate : 0.0;
}

std::string SoundReader::getLengthString() const
{
    return SoundTools::timeText(getLength());
}

unsigned int SoundReader::stereoRead(std::shared_ptr<SoundBuffer> buffer, unsigned int margin)
{
    unsigned int kept = buffer->keepMargin(margin);
    // A window holding no more frames than the margin is all overlap: every
    // frame stays where it is. Relabelling them as newer frames would drop
    // the whole of a stream shorter than the overlap.
    if (kept == 0 && margin >= buffer->getFrameNB())
        kept = buffer->getFrameNB();
    buffer->setOrigin(mOffset - static_cast<int>(kept));
    // Positions are worked out in 64 bits: near the end of a long source the
    // frames asked for and the padding reach past the 32-bit range.
    long long want = (long long)buffer->getFrameNBAllocated() - kept;
    bool atEndPoint = false;
    if (mEndPoint > 0) {
        const long long endFrame = (long long)std::floor(getSampleRate() * mEndPoint + 0.5);
        if (mOffset + want > endFrame) {
            want = endFrame - mOffset;
            // Reaching the end point ends the source like an exhausted file:
            // the window still slides and the overlap is padded, so that no
            // frame of the previous block is counted twice.
            atEndPoint = want < 1;
        }
    }
    if (want < 1 && !atEndPoint) {
        if (buffer->getFrameNBAllocated() != 0)
            qCritical() << "Buffer size smaller than margin !" << buffer->getFrameNBAllocated() << " vs " << kept;
        return 0;
    }
    const long long room = INT_MAX - (long long)mOffset;
    want = std::min(want, room);
    const unsigned int n = atEndPoint || want < 1
        ? 0
        : read(static_cast<unsigned int>(want), buffer->getRelFrame(static_cast<int>(kept)));
    const bool exhausted = atEndPoint || n < want || n == room;
    mOffset += static_cast<int>(n);
    buffer->setFrameNB(n + kept);
    // At the end of the source, zero frames pushed through the overlap of the
    // chain let the last real frames come out: at least a whole margin of
    // them, even when the stream was too short to fill the margin. A short
    // read that only filled a small window is not the end, and padding it
    // would insert silence. The padding stops at the last addressable
    // position, which only a source longer than the readers accept reaches.
    const unsigned int flush = std::max(kept, margin);
    if (n < flush && exhausted) {
        const unsigned int pad =
            static_cast<unsigned int>(std::min<long long>(flush - n, INT_MAX - (long long)mOffset));
        buffer->appendMargin(pad);
        mOffset += static_cast<int>(pad);
    }
    if (exhausted)
        mAtEnd = true;
    return n;
}
